#include "sockets/NetSocketS.h"

#include <algorithm>
#include <atomic>

namespace vexa {

namespace {
std::atomic<int32_t> gNextClientId{1};
}

// ---------------------------------------------------------------------------
// TNetSocketClient

TNetSocketClient::TNetSocketClient(fw::TComponent* AOwner) : TNetSocket(AOwner) {
  FClientId = gNextClientId++;
  if (FClientId <= 0) {
    gNextClientId = 1;
    FClientId = gNextClientId++;
  }
  // Owned by a server: listed from creation on.
  if (auto* server = dynamic_cast<TCustomNetSocketServer*>(AOwner)) server->AddClient(this);
}

TNetSocketClient::~TNetSocketClient() {
  Destroying();
  if (auto* server = dynamic_cast<TCustomNetSocketServer*>(Owner())) server->RemoveClient(this);
}

void TNetSocketClient::SendBanner() {
  if (!FBanner.empty()) SendStr(FBanner + "\r\n");
}

void TNetSocketClient::Dup(plat::SOCKET NewHSocket) {
  TNetSocket::Dup(NewHSocket);
  FPeerAddr = TNetSocket::GetPeerAddr();
  FPeerPort = TNetSocket::GetPeerPort();
}

std::string TNetSocketClient::GetPeerAddr() { return FPeerAddr; }

std::string TNetSocketClient::GetPeerPort() { return FPeerPort; }

void TNetSocketClient::DoSessionClosed(uint16_t Error) {
  if (FSessionClosedFlag) return;
  FSessionClosedFlag = true;
  if (FServer) {
    plat::PostMessage(FServer->Handle(), SocketMsgClientClosed, 0, FClientId);
  }
  TNetSocket::DoSessionClosed(Error);
}

// ---------------------------------------------------------------------------
// TCustomNetSocketServer

TCustomNetSocketServer::TCustomNetSocketServer(fw::TComponent* AOwner) : TNetSocket(AOwner) {
  FClientList = std::make_unique<std::vector<TNetSocketClient*>>();
  SetClientClassOf<TNetSocketClient>();
  FBanner = "Welcome to TcpSrv";
  FBannerToBusy = "Sorry, too many clients";
}

TCustomNetSocketServer::~TCustomNetSocketServer() {
  Destroying();
  if (FClientList) {
    for (int i = static_cast<int>(FClientList->size()) - 1; i >= 0; i--) {
      try {
        if (i >= static_cast<int>(FClientList->size())) continue;
        TNetSocketClient* c = (*FClientList)[i];
        delete c;  // unlists itself
      } catch (...) {
      }
    }
    FClientList.reset();
  }
}

void TCustomNetSocketServer::AddClient(TNetSocketClient* Client) {
  if (FClientList && !IsListed(Client)) FClientList->push_back(Client);
}

void TCustomNetSocketServer::RemoveClient(TNetSocketClient* Client) {
  if (!FClientList) return;
  auto it = std::find(FClientList->begin(), FClientList->end(), Client);
  if (it != FClientList->end()) FClientList->erase(it);
}

bool TCustomNetSocketServer::IsListed(TNetSocketClient* Client) const {
  return FClientList &&
         std::find(FClientList->begin(), FClientList->end(), Client) != FClientList->end();
}

void TCustomNetSocketServer::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TNetSocket::Notification(AComponent, Operation);
  if (!FClientList) return;
  // Insertion is seen by the client itself once it is fully made; removal
  // (freeing by anyone) unlists it here too.
  if (Operation == fw::opRemove) {
    for (auto i = FClientList->begin(); i != FClientList->end(); ++i) {
      if (static_cast<fw::TComponent*>(*i) == AComponent) {
        FClientList->erase(i);
        break;
      }
    }
  }
}

int32_t TCustomNetSocketServer::GetClientCount() {
  return FClientList ? static_cast<int32_t>(FClientList->size()) : 0;
}

TNetSocketClient* TCustomNetSocketServer::GetClient(int Index) {
  if (!FClientList || Index < 0 || Index >= static_cast<int>(FClientList->size())) return nullptr;
  return (*FClientList)[Index];
}

void TCustomNetSocketServer::DoClientCreate(TNetSocketClient* Client) {
  if (OnClientCreate) OnClientCreate(this, Client);
}

void TCustomNetSocketServer::DoClientConnect(TNetSocketClient* Client, uint16_t Error) {
  if (OnClientConnect) OnClientConnect(this, Client, Error);
}

void TCustomNetSocketServer::DoClientDisconnect(TNetSocketClient* Client, uint16_t Error) {
  if (OnClientDisconnect) OnClientDisconnect(this, Client, Error);
}

void TCustomNetSocketServer::DoSessionAvailable(uint16_t Error) {
  TNetSocket::DoSessionAvailable(Error);
  if (Error != 0) return;
  FClientNum++;
  TNetSocketClient* client = ClientClass(this);
  AddClient(client);
  DoClientCreate(client);
  client->SetName(Name() + "Client" + fw::IntToStr(FClientNum));
  client->SetBanner(FBanner);
  client->FServer = this;
  client->Dup(Accept());
  DoClientConnect(client, Error);
  if (IsListed(client) && client->State() == wsConnected) {
    if (FMaxClients < 1) {
      client->SendBanner();
    } else if (GetClientCount() > FMaxClients) {
      client->SetBanner(FBannerToBusy);
      client->SendBanner();
      client->Close();
    } else {
      client->SendBanner();
    }
  }
}

void TCustomNetSocketServer::ClientClosed(int32_t ClientId) {
  TNetSocketClient* client = nullptr;
  if (FClientList) {
    for (TNetSocketClient* c : *FClientList) {
      if (c->FClientId == ClientId) {
        client = c;
        break;
      }
    }
  }
  // A client freed by its owner meanwhile is no longer listed: nothing to do.
  if (!client) return;
  try {
    DoClientDisconnect(client, 0);
  } catch (...) {
    delete client;
    throw;
  }
  delete client;
}

void TCustomNetSocketServer::WndProc(fw::TMessage& MsgRec) {
  if (MsgRec.Msg != SocketMsgClientClosed) {
    TNetSocket::WndProc(MsgRec);
    return;
  }
  try {
    ClientClosed(MsgRec.LParam);
  } catch (fw::Exception& E) {
    HandleBgException(E);
  }
}

}  // namespace vexa
