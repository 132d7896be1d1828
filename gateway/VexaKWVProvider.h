// The client gateway's notification provider: one TCP session to the notify
// server (connect, greeting check, subscriptions, record stream, polling and
// reconnection) and the local side that serves the client programs of one
// provider channel (subscriptions, relay, server-state broadcast).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "gateway/NotifyRecordReader.h"
#include "shared/VexaIPC.h"
#include "platform/msg/Msg.h"

namespace fw {
class TTimer;
}

namespace vexa {

class TNetSocket;
using TProviderTraceEvent = std::function<void(fw::TObject* Sender, const std::string& Text)>;

class TVexaNotifyProvider : public fw::TComponent {
public:
  explicit TVexaNotifyProvider(fw::TComponent* AOwner);
  ~TVexaNotifyProvider() override;

  bool Active() const { return FActive; }
  void SetActive(bool Value);
  const std::string& NotifyServerAddress() const { return FNotifyServerAddress; }
  void SetNotifyServerAddress(const std::string& Value);
  uint16_t NotifyServerPort() const { return FNotifyServerPort; }
  void SetNotifyServerPort(uint16_t Value);
  int32_t PollDuration = 0;  // minutes of retrying failed connects; 0 = without limit
  int32_t PollInterval() const { return FPollInterval; }
  void SetPollInterval(int32_t Value);
  const std::string& ProviderChannel() const { return FProviderChannel; }
  void SetProviderChannel(const std::string& Value);
  bool StoreGatewayLocation() const { return FStoreGatewayLocation; }
  void SetStoreGatewayLocation(bool Value) { FStoreGatewayLocation = Value; }

  TClientConnectingEvent OnClientConnecting;
  TClientDisconnectingEvent OnClientDisconnecting;
  fw::TNotifyEvent OnNotifyServerConnect;
  fw::TNotifyEvent OnNotifyServerConnectFailed;
  fw::TNotifyEvent OnNotifyServerDisconnect;
  fw::TNotifyEvent OnProviderSettingsNotFound;
  // Every trace line of the provider.
  TProviderTraceEvent OnTrace;

  void ReloadProviderSettings();
  int32_t GetClientCount() const;

  // Diagnostics: the session with the notify server is established, and the
  // poll timer exists (a connect attempt is pending or the timer is kept).
  bool SessionUp() const { return FSessionUp; }
  bool PollTimerExists() const { return FPollTimerExists; }
  // The clients of a table, in subscription order (empty when it has none).
  std::vector<plat::HWND> TableClientList(int TableID) const;
  TNetSocket* Socket() const { return FSocket.get(); }

  // Milliseconds a new session may take to greet; a server whose connection
  // was queued but never served would otherwise leave the gateway waiting
  // for ever. 0: no limit.
  uint32_t GreetingTimeout = 30000;
  TVexaIPCServer* IPCServer() const { return FIPCServer; }

  // A local client whose queue is full (it reads slower than a burst comes)
  // keeps what it could not take yet in a backlog of its own, handed on in
  // order as it reads, so a client that keeps reading misses nothing. It is
  // let go when more than MaxClientBacklogKB waits for it, when the backlogs
  // of all clients together pass MaxTotalBacklogKB and its is the largest, or
  // when it takes nothing for ClientStallTimeout ms while something waits (a
  // stopped or hung program); once it can take messages again it is told so.
  static constexpr uint32_t DefaultMaxClientBacklogKB = 65536;
  static constexpr uint32_t DefaultMaxTotalBacklogKB = 131072;
  uint32_t MaxClientBacklogKB = DefaultMaxClientBacklogKB;
  uint32_t MaxTotalBacklogKB = DefaultMaxTotalBacklogKB;
  uint32_t ClientStallTimeout = 5000;

protected:
  // The current date and time in days; the poll duration is measured with it.
  virtual double CurrentTime() const;

  void Trace(const std::string& Text);
  void DoNotifyServerConnect();
  void DoNotifyServerConnectFailed();
  void DoNotifyServerDisconnect();
  void DoProviderSettingsNotFound();

  // TCP side.
  void StartPollTimer(uint32_t Interval);
  void FreePollTimer();
  void PollTimerTick(fw::TObject* Sender);
  void SocketSessionConnected(fw::TObject* Sender, uint16_t Error);
  void SocketSessionClosed(fw::TObject* Sender, uint16_t Error);
  void SocketDataAvailable(fw::TObject* Sender, uint16_t Error);
  void SocketError(fw::TObject* Sender);
  void SocketBgException(fw::TObject* Sender, fw::Exception& E, bool& CanClose);
  void SocketLineLimitExceeded(fw::TObject* Sender, int32_t RcvdLength, bool& ClearData);
  void SendSubscriptionList();
  void HandleRecord(const TProviderRecord& Rec);

  // Local side.
  bool RequireTable(int TableID, bool CheckOnly);
  void SubscribeClient(int TableID, plat::HWND ClientWindow);
  void UnsubscribeClient(int TableID, plat::HWND ClientWindow);
  void RelayNotification(int TableID, char Code, int32_t Value);
  void SetSessionUp(bool Up);
  void BroadcastServerState(bool Up);
  void ReadMessageIDs();
  // Posts to one client behind whatever waits for it; a post its queue
  // refuses waits in its backlog.
  void PostOrQueue(plat::HWND Client, uint32_t MsgID, int32_t WParam, int32_t LParam);
  // Hands on what waits for one client, as far as it takes it; true when
  // nothing is left.
  bool DrainClient(plat::HWND Client);
  // Offers every backlog again and lets go of clients that stalled. Runs on
  // the backlog timer and, since a busy gateway sees no timer message, from
  // the data path whenever a retry is due.
  void ServiceBacklogs();
  void ServiceBacklogsIfDue();
  // Lets go of the clients with the largest backlogs while all of them
  // together hold more than MaxTotalBacklogKB.
  void EnforceTotalBacklog();
  // Lets a client go: its tables are unsubscribed and what waited for it is
  // replaced by the notice that tells it so.
  void DropClient(plat::HWND Client, int32_t Reason, const std::string& Why);

  void IPCClientConnecting(plat::HWND ClientHandle, bool& Accept);
  void IPCClientDisconnecting(plat::HWND ClientHandle);
  void IPCCustomMessage(fw::TMessage& Msg, bool& Handled);

private:
  // Takes address and port from the channel's registry key; false when it is missing.
  bool LoadStoredSettings();
  void SendCommand(const std::string& Line);
  // A connect attempt that failed: the next one follows the poll rules.
  void ConnectAttemptFailed();
  // The server address as a dotted address; false (and traced with the
  // resolver's reason) when it cannot be resolved.
  bool ResolveServerAddress(std::string& Dotted);
  void GreetingTimerTick(fw::TObject* Sender);
  void StopGreetingTimer();

  bool FActive = false;
  std::string FNotifyServerAddress;
  uint16_t FNotifyServerPort = 5500;
  int32_t FPollInterval = 10;
  std::string FProviderChannel;
  bool FStoreGatewayLocation = true;

  bool FGreetingReceived = false;
  // The greeting was not recognised: the rest of the session is not read as one.
  bool FGreetingRefused = false;
  fw::TTimer* FGreetingTimer = nullptr;
  bool FSessionUp = false;
  double FPollStart = 0;
  uint32_t FNotificationMsg = 0;
  uint32_t FStateMsg = 0;
  uint32_t FSubscriptionMsg = 0;
  bool FStateSent = false;
  unsigned FForgedTold = 0;  // kinds of subscriptions in another program's name told so far
  std::array<std::unique_ptr<std::vector<plat::HWND>>, 256> FTableClients;
  // The poll timer is kept once made; "freeing" it disables it and forgets its
  // interval, so it is never destroyed inside its own tick.
  fw::TTimer* FPollTimer = nullptr;
  bool FPollTimerExists = false;
  std::unique_ptr<TNetSocket> FSocket;
  TVexaIPCServer* FIPCServer = nullptr;
  TNotifyRecordReader FReader;

  struct TWaitingPost {
    uint32_t Msg;
    int32_t WParam;
    int32_t LParam;
  };
  struct TClientBacklog {
    std::deque<TWaitingPost> Posts;
    uint32_t LastTaken = 0;   // tick count of the last post it took (or of its first refusal)
    size_t NoticePosts = 0;   // what waits begins with these posts of the notice that it was let go
  };
  std::map<plat::HWND, TClientBacklog> FBacklogs;
  size_t FBacklogPosts = 0;        // what waits in all backlogs together
  uint32_t FBacklogsServiced = 0;  // tick count of the last ServiceBacklogs
  bool FServicingBacklogs = false;
  fw::TTimer* FBacklogTimer = nullptr;
};

}  // namespace vexa
