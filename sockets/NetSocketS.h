// Listening socket that turns every incoming connection into a client object
// it owns: banner on connect, busy banner beyond the client limit, and the
// freeing of each client from the message loop after its session closed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sockets/NetSocket.h"

namespace vexa {

class TCustomNetSocketServer;

class TNetSocketClient : public TNetSocket {
  friend class TCustomNetSocketServer;

public:
  explicit TNetSocketClient(fw::TComponent* AOwner);
  ~TNetSocketClient() override;

  virtual void SendBanner();
  void Dup(plat::SOCKET NewHSocket) override;
  std::string GetPeerAddr() override;
  std::string GetPeerPort() override;

  const std::string& Banner() const { return FBanner; }
  void SetBanner(const std::string& Value) { FBanner = Value; }
  TCustomNetSocketServer* Server() const { return FServer; }

protected:
  void DoSessionClosed(uint16_t Error) override;

private:
  std::string FBanner;
  TCustomNetSocketServer* FServer = nullptr;
  std::string FPeerAddr;
  std::string FPeerPort;
  bool FSessionClosedFlag = false;
  int32_t FClientId = 0;  // names the client in the server's deferred close message
};

// Makes a client object owned by the given server.
using TNetSocketClientClass = std::function<TNetSocketClient*(fw::TComponent* AOwner)>;

using TNetSocketClientCreateEvent =
    std::function<void(fw::TObject* Sender, TNetSocketClient* Client)>;
using TNetSocketClientConnectEvent =
    std::function<void(fw::TObject* Sender, TNetSocketClient* Client, uint16_t Error)>;

class TCustomNetSocketServer : public TNetSocket {
  friend class TNetSocketClient;

public:
  explicit TCustomNetSocketServer(fw::TComponent* AOwner);
  ~TCustomNetSocketServer() override;

  TNetSocketClientClass ClientClass;
  template <class T>
  void SetClientClassOf() {
    ClientClass = [](fw::TComponent* AOwner) -> TNetSocketClient* { return new T(AOwner); };
  }

  const std::string& Banner() const { return FBanner; }
  void SetBanner(const std::string& Value) { FBanner = Value; }
  const std::string& BannerToBusy() const { return FBannerToBusy; }
  void SetBannerToBusy(const std::string& Value) { FBannerToBusy = Value; }
  int32_t MaxClients() const { return FMaxClients; }
  void SetMaxClients(int32_t Value) { FMaxClients = Value; }
  int32_t ClientCount() { return GetClientCount(); }
  TNetSocketClient* Client(int Index) { return GetClient(Index); }

  virtual int32_t GetClientCount();
  virtual TNetSocketClient* GetClient(int Index);

  TNetSocketClientCreateEvent OnClientCreate;
  TNetSocketClientConnectEvent OnClientConnect;
  TNetSocketClientConnectEvent OnClientDisconnect;

protected:
  virtual void DoClientCreate(TNetSocketClient* Client);
  virtual void DoClientConnect(TNetSocketClient* Client, uint16_t Error);
  virtual void DoClientDisconnect(TNetSocketClient* Client, uint16_t Error);

  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;
  void WndProc(fw::TMessage& MsgRec) override;
  void DoSessionAvailable(uint16_t Error) override;

private:
  void AddClient(TNetSocketClient* Client);
  void RemoveClient(TNetSocketClient* Client);
  bool IsListed(TNetSocketClient* Client) const;
  void ClientClosed(int32_t ClientId);
  // Accepting failed for want of descriptors: stop asking, retry later.
  void StarveAccepts(int Error);
  void ResumeAccepts();

  std::unique_ptr<std::vector<TNetSocketClient*>> FClientList;
  int32_t FClientNum = 0;
  std::string FBanner = "Welcome to TcpSrv";
  std::string FBannerToBusy = "Sorry, too many clients";
  int32_t FMaxClients = 0;
  bool FAcceptStarved = false;
  plat::UINT FAcceptRetryMs = 0;
};

class TNetSocketServer : public TCustomNetSocketServer {
public:
  explicit TNetSocketServer(fw::TComponent* AOwner) : TCustomNetSocketServer(AOwner) {}
};

}  // namespace vexa
