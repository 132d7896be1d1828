#include "sockets/NetSocketS.h"

#include <algorithm>
#include <atomic>

#include "framework/ScopeGuard.h"
#include "sockets/NetSocketInternal.h"

namespace vexa {

namespace {

// While the process has no descriptor left, accepting is retried on a timer
// whose period doubles up to a second (and at once when a session goes).
constexpr uintptr_t kAcceptRetryTimer = 1;
constexpr plat::UINT kFirstAcceptRetryMs = 50;
constexpr plat::UINT kLastAcceptRetryMs = 1000;

bool OutOfDescriptors(int Error) { return Error == plat::WSAEMFILE || Error == plat::WSAENOBUFS; }
}  // namespace

// ---------------------------------------------------------------------------
// TNetSocketClient

TNetSocketClient::TNetSocketClient(fw::TComponent* AOwner) : TNetSocket(AOwner) {
  std::atomic<int32_t>& next = netsocket::St().nextClientId;
  FClientId = next++;
  if (FClientId <= 0) {
    next = 1;
    FClientId = next++;
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
  plat::KillTimer(FWindowHandle, kAcceptRetryTimer);
  // The list is taken out first, so the clients going one by one need not
  // each search it to unlist themselves.
  std::unique_ptr<std::vector<TNetSocketClient*>> clients = std::move(FClientList);
  if (clients) {
    for (auto i = clients->rbegin(); i != clients->rend(); ++i) {
      try {
        delete *i;
      } catch (...) {
      }
    }
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
  // The connection is taken before a client is made: a failed accept leaves
  // no client behind.
  plat::SOCKET handle = plat::INVALID_SOCKET;
  if (FState == wsListening) {
    int acceptError = 0;
    handle = TryAccept(acceptError);
    if (handle == plat::INVALID_SOCKET) {
      if (acceptError == plat::WSAEWOULDBLOCK) {
        // Nobody waits: the announcement was a look-alike another program
        // posted (the library's own is answered by the connection it named).
        fw::TellIgnoredOnce("accept announcement of a listening socket with nobody waiting");
      } else if (OutOfDescriptors(acceptError)) {
        StarveAccepts(acceptError);
      } else {
        plat::WSASetLastError(acceptError);
        ReportSocketError("Accept");
      }
      return;
    }
    if (FAcceptStarved) {
      FAcceptStarved = false;
      FAcceptRetryMs = 0;
      plat::KillTimer(FWindowHandle, kAcceptRetryTimer);
    }
  } else {
    handle = Accept();  // reports "not a listening socket"
    if (handle == plat::INVALID_SOCKET) return;
  }
  FClientNum++;
  TNetSocketClient* client = nullptr;
  {
    auto undo = fw::OnFailure([&] {
      // A client that never got its session is freed at once, with the handle.
      if (client && client->HSocket() == handle) handle = plat::INVALID_SOCKET;
      if (client && IsListed(client)) delete client;
      if (handle != plat::INVALID_SOCKET) plat::closesocket(handle);
    });
    client = ClientClass(this);
    AddClient(client);
    DoClientCreate(client);
    client->SetName(Name() + "Client" + fw::IntToStr(FClientNum));
    client->SetBanner(FBanner);
    client->FServer = this;
    client->Dup(handle);
  }
  if (client->HSocket() != handle) {
    // Dup refused the handle and reported it through the client's OnError.
    plat::closesocket(handle);
    delete client;
    return;
  }
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
  // Only a client whose session closed posts this; another program's
  // look-alike naming a live one must not end it.
  if (!client->FSessionClosedFlag) {
    fw::TellIgnoredOnce("session-closed message for a session that is open");
    return;
  }
  auto done = fw::Finally([&] {
    delete client;
    ResumeAccepts();  // its descriptor is free again
  });
  DoClientDisconnect(client, 0);
}

void TCustomNetSocketServer::StarveAccepts(int Error) {
  const bool first = !FAcceptStarved;
  FAcceptStarved = true;
  // The waiting connection stays queued and would be announced again at once:
  // no more announcements until the retry.
  Pause();
  FAcceptRetryMs = first || FAcceptRetryMs == 0 ? kFirstAcceptRetryMs
                                                : std::min(FAcceptRetryMs * 2, kLastAcceptRetryMs);
  plat::SetTimer(FWindowHandle, kAcceptRetryTimer, FAcceptRetryMs);
  if (first) {
    // Told once per shortage, not once per attempt.
    plat::WSASetLastError(Error);
    ReportSocketError("Accept");
  }
}

void TCustomNetSocketServer::ResumeAccepts() {
  if (!FAcceptStarved || !FPaused) return;
  plat::KillTimer(FWindowHandle, kAcceptRetryTimer);
  if (FState == wsListening && FHSocket != plat::INVALID_SOCKET) Resume();
}

void TCustomNetSocketServer::WndProc(fw::TMessage& MsgRec) {
  if (MsgRec.Msg == plat::WM_TIMER && static_cast<uintptr_t>(MsgRec.WParam) == kAcceptRetryTimer) {
    try {
      plat::KillTimer(FWindowHandle, kAcceptRetryTimer);
      ResumeAccepts();
    } catch (fw::Exception& E) {
      HandleBgException(E);
    }
    return;
  }
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
