#include "gateway/VexaKWVProvider.h"


#include "framework/ExtCtrls.h"
#include "framework/ScopeGuard.h"
#include "framework/SysUtils.h"
#include "gateway/KWVReg.h"
#include "platform/kernel/Kernel.h"
#include "platform/net/Net.h"
#include "sockets/NetSocket.h"

namespace vexa {

namespace {

constexpr int SessionPortDefault = 5500;

std::string ClockText() { return fw::FormatDateTime("hh:nn:ss", fw::Now()); }

// How often what waits for slow clients is offered again, while some client
// has notifications waiting and while only the notice of a drop waits.
constexpr uint32_t kBacklogRetryMs = 10;
constexpr uint32_t kNoticeRetryMs = 200;
// Posts handed to one client in one turn: a fast reader with a long backlog
// must not hold up the session and the other clients.
constexpr size_t kDrainPerTurn = 20000;

}  // namespace

TVexaNotifyProvider::TVexaNotifyProvider(fw::TComponent* AOwner) : fw::TComponent(AOwner) {
  FNotifyServerPort = SessionPortDefault;
  FPollInterval = 10;
  FStoreGatewayLocation = true;
  if (!ComponentState().Contains(fw::csDesigning)) {
    FIPCServer = new TVexaIPCServer(this);
    FIPCServer->OnClientConnecting = [this](plat::HWND h, bool& accept) { IPCClientConnecting(h, accept); };
    FIPCServer->OnClientDisconnecting = [this](plat::HWND h) { IPCClientDisconnecting(h); };
    FIPCServer->OnDisplay = [this](fw::TObject*, const std::string& text) { Trace("SIPC:: " + text); };
    FIPCServer->OnServerInstanceExists = [this](fw::TObject*) {
      Trace("ERROR: Provider already exists to service provider channel: \"" + FProviderChannel + "\"");
    };
    FIPCServer->OnUserDataMessage = [](plat::HWND, TVexaUserDataMessage&, bool) {};
    FIPCServer->OnUserAnonMessage = [](TVexaUserAnonMessage&, bool) {};
    FIPCServer->OnUserMessage = [this](plat::HWND, TVexaUserMessage&, bool) {
      Trace("User message received - these shouuld not be used");
    };
    FIPCServer->OnCustomMessage = [this](fw::TMessage& msg, bool& handled) { IPCCustomMessage(msg, handled); };
    FIPCServer->OnMsgIDChange = [this](fw::TObject*) { ReadMessageIDs(); };
    FIPCServer->OnServingInstance = [this](fw::TObject*) {
      if (!FStoreGatewayLocation) return;
      WriteGatewayLocation(fw::UpperCase(FProviderChannel) == "DEFAULT" ? std::string("Default") : FProviderChannel);
    };
    FSubscriptionMsg = FIPCServer->AddCustomMessage("Subscription");
    FNotificationMsg = FIPCServer->AddCustomMessage("Notification");
    FStateMsg = FIPCServer->AddCustomMessage("NotifyServerState");

    FSocket = std::make_unique<TNetSocket>(nullptr);
    FSocket->OnBgException = [this](fw::TObject* s, fw::Exception& e, bool& canClose) {
      SocketBgException(s, e, canClose);
    };
    FSocket->OnDataAvailable = [this](fw::TObject* s, uint16_t err) { SocketDataAvailable(s, err); };
    FSocket->OnError = [this](fw::TObject* s) { SocketError(s); };
    FSocket->OnLineLimitExceeded = [this](fw::TObject* s, int32_t n, bool& clear) {
      SocketLineLimitExceeded(s, n, clear);
    };
    FSocket->OnSessionClosed = [this](fw::TObject* s, uint16_t err) { SocketSessionClosed(s, err); };
    FSocket->OnSessionConnected = [this](fw::TObject* s, uint16_t err) { SocketSessionConnected(s, err); };
    FSocket->OnChangeState = [](fw::TObject*, TSocketState, TSocketState) {};
    FSocket->OnDataSent = [](fw::TObject*, uint16_t) {};
    FSocket->OnDnsLookupDone = [](fw::TObject*, uint16_t) {};
    FSocket->OnSendData = [](fw::TObject*, int32_t) {};
    FSocket->OnSessionAvailable = [](fw::TObject*, uint16_t) {};
    FSocket->SetLineMode(false);
    FSocket->SetProto("tcp");
  }
  SetProviderChannel("Default");
}

TVexaNotifyProvider::~TVexaNotifyProvider() {
  if (!ComponentState().Contains(fw::csDesigning)) {
    // The events below would reach a half-destroyed owner: only what the
    // provider itself does on the way down remains.
    SetActive(false);
    if (FSocket) {
      FSocket->Close();
      FSocket.reset();
    }
    for (auto& list : FTableClients) list.reset();
  }
}

double TVexaNotifyProvider::CurrentTime() const {
  return fw::Now();
}

// ---------------------------------------------------------------------------
// Properties

void TVexaNotifyProvider::SetNotifyServerAddress(const std::string& Value) {
  if (Value != FNotifyServerAddress) FNotifyServerAddress = Value;
}

void TVexaNotifyProvider::SetNotifyServerPort(uint16_t Value) {
  if (Value != FNotifyServerPort) FNotifyServerPort = Value;
}

void TVexaNotifyProvider::SetPollInterval(int32_t Value) {
  if (Value != FPollInterval) FPollInterval = Value;
}

bool TVexaNotifyProvider::LoadStoredSettings() {
  std::string address, port;
  if (!ReadProviderSettings(FProviderChannel, address, port)) return false;
  int32_t number = StoredPortNumber(port);
  if (number < 0 || number > 65535) {
    // Only a hand-edited registry holds such a port: refuse it as unusable
    // settings rather than cutting it to 16 bits.
    Trace("Stored port " + std::to_string(number) + " of provider channel \"" + FProviderChannel +
          "\" is outside 0..65535 and not used");
    number = 0;
  }
  FNotifyServerPort = static_cast<uint16_t>(number);
  FNotifyServerAddress = address;
  return true;
}

void TVexaNotifyProvider::SetProviderChannel(const std::string& Value) {
  if (Value == FProviderChannel && !FProviderChannel.empty()) return;
  FProviderChannel = Value.empty() ? std::string("Default") : Value;
  if (ComponentState().Contains(fw::csDesigning)) return;
  if (FIPCServer && FIPCServer->InstanceName() != FProviderChannel) {
    FIPCServer->SetInstanceName(FProviderChannel);
  }
  if (FStoreGatewayLocation) LoadStoredSettings();
}

void TVexaNotifyProvider::ReloadProviderSettings() {
  if (!FStoreGatewayLocation || !LoadStoredSettings()) return;
  if (FSessionUp || FActive) {
    SetActive(false);
    SetActive(true);
  }
}

void TVexaNotifyProvider::SetActive(bool Value) {
  if (Value == FActive) return;
  FActive = Value;
  if (ComponentState().Contains(fw::csDesigning)) return;

  if (!Value) {
    // Dropping the local clients first unsubscribes their tables while the
    // session can still tell the server.
    if (FIPCServer) FIPCServer->SetActive(false);
    FBacklogs.clear();
    FBacklogPosts = 0;
    if (FBacklogTimer) FBacklogTimer->SetEnabled(false);
    if (FSocket) FSocket->Close();
    SetSessionUp(false);
    FreePollTimer();
    FPollStart = 0;
    return;
  }

  if (FStoreGatewayLocation) {
    LoadStoredSettings();
    if (fw::Trim(FNotifyServerAddress).empty() || FNotifyServerPort == 0) {
      FActive = false;
      DoProviderSettingsNotFound();
      return;
    }
  }
  if (fw::Trim(FProviderChannel).empty()) {
    FActive = false;
    return;
  }
  if (fw::Trim(FNotifyServerAddress).empty() || FNotifyServerPort == 0) {
    FActive = false;
    return;
  }
  FSocket->SetAddr(FNotifyServerAddress);
  FSocket->SetPort(std::to_string(FNotifyServerPort));
  FPollStart = CurrentTime();
  StartPollTimer(250);
  FIPCServer->SetInstanceName(FProviderChannel);
  FIPCServer->SetActive(true);
}

int32_t TVexaNotifyProvider::GetClientCount() const {
  if (ComponentState().Contains(fw::csDesigning) || !FIPCServer) return 0;
  return FIPCServer->GetClientCount();
}

std::vector<plat::HWND> TVexaNotifyProvider::TableClientList(int TableID) const {
  if (TableID < 0 || TableID > 255 || !FTableClients[TableID]) return {};
  return *FTableClients[TableID];
}

// ---------------------------------------------------------------------------
// Events and trace

void TVexaNotifyProvider::Trace(const std::string& Text) {
  if (!OnTrace) return;
  try {
    OnTrace(this, Text);
  } catch (...) {
  }
}

void TVexaNotifyProvider::DoNotifyServerConnect() {
  if (OnNotifyServerConnect) OnNotifyServerConnect(this);
}
void TVexaNotifyProvider::DoNotifyServerConnectFailed() {
  if (OnNotifyServerConnectFailed) OnNotifyServerConnectFailed(this);
}
void TVexaNotifyProvider::DoNotifyServerDisconnect() {
  if (OnNotifyServerDisconnect) OnNotifyServerDisconnect(this);
}
void TVexaNotifyProvider::DoProviderSettingsNotFound() {
  if (OnProviderSettingsNotFound) OnProviderSettingsNotFound(this);
}

// ---------------------------------------------------------------------------
// Polling and the TCP session

void TVexaNotifyProvider::StartPollTimer(uint32_t Interval) {
  if (!FPollTimer) {
    FPollTimer = new fw::TTimer(this);
    FPollTimer->SetEnabled(false);
    FPollTimer->SetOnTimer([this](fw::TObject* s) { PollTimerTick(s); });
  }
  if (!FPollTimerExists) {
    FPollTimer->SetInterval(Interval);
    FPollTimerExists = true;
  }
  FPollTimer->SetEnabled(true);
}

void TVexaNotifyProvider::FreePollTimer() {
  if (FPollTimer) FPollTimer->SetEnabled(false);
  FPollTimerExists = false;
}

void TVexaNotifyProvider::PollTimerTick(fw::TObject*) {
  if (!FPollTimer || !FPollTimerExists || !FPollTimer->Enabled()) return;
  FPollTimer->SetEnabled(false);
  if (FPollInterval < 0) {
    // A negative interval (a hand-edited INI file) means no retry, as 0 does.
    Trace("Poll interval " + std::to_string(FPollInterval) + " is negative: no retry");
  } else {
    FPollTimer->SetInterval(static_cast<uint32_t>(FPollInterval) * 1000u);
  }
  Trace(ClockText() + " Checking for Notify Server");
  // A name that does not resolve ends this attempt like a refused connect:
  // polling goes on, and the trace says why.
  std::string dotted;
  if (!ResolveServerAddress(dotted)) {
    ConnectAttemptFailed();
    return;
  }
  FSocket->SetAddr(dotted);
  FSocket->SetPort(std::to_string(FNotifyServerPort));
  FSocket->Connect();
  // Refused before any connection was started (reported through OnError):
  // the socket is made ready for the next attempt.
  if (FSocket->State() != wsConnecting && FSocket->State() != wsConnected && !FSessionUp) {
    if (FSocket->State() != wsClosed) FSocket->Close();
    ConnectAttemptFailed();
  }
}

bool TVexaNotifyProvider::ResolveServerAddress(std::string& Dotted) {
  try {
    const uint32_t addr = NetSocketResolveHost(FNotifyServerAddress);
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&addr);
    Dotted = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
             std::to_string(b[3]);
    return true;
  } catch (const fw::Exception& E) {
    std::string reason = plat::LastResolverErrorText();
    if (reason.empty()) reason = E.Message();
    Trace("Cannot resolve Notify Server address \"" + FNotifyServerAddress + "\": " + reason);
    return false;
  }
}

void TVexaNotifyProvider::ConnectAttemptFailed() {
  double elapsed = CurrentTime() - FPollStart;
  if (FPollInterval > 0 && (PollDuration == 0 || PollDuration / 1440.0 > elapsed)) {
    StartPollTimer(static_cast<uint32_t>(FPollInterval) * 1000u);
  } else {
    try {
      DoNotifyServerConnectFailed();
    } catch (...) {
    }
  }
}

void TVexaNotifyProvider::StopGreetingTimer() {
  if (FGreetingTimer) FGreetingTimer->SetEnabled(false);
}

void TVexaNotifyProvider::GreetingTimerTick(fw::TObject*) {
  StopGreetingTimer();
  if (!FSessionUp || FGreetingReceived) return;
  Trace("Notify Server at " + FNotifyServerAddress + ":" + std::to_string(FNotifyServerPort) +
        " sent no greeting within " + std::to_string(GreetingTimeout) + " ms");
  // Closed like a lost session: the next attempt follows 750 ms later.
  FSocket->Close();
}

void TVexaNotifyProvider::SocketSessionConnected(fw::TObject*, uint16_t Error) {
  if (Error == 0) {
    FReader.Reset();
    FGreetingRefused = false;
    SetSessionUp(true);
    if (GreetingTimeout > 0) {
      if (!FGreetingTimer) {
        FGreetingTimer = new fw::TTimer(this);
        FGreetingTimer->SetEnabled(false);
        FGreetingTimer->SetOnTimer([this](fw::TObject* s) { GreetingTimerTick(s); });
      }
      FGreetingTimer->SetInterval(GreetingTimeout);
      FGreetingTimer->SetEnabled(true);
    }
    FreePollTimer();
    FPollStart = 0;
    try {
      DoNotifyServerConnect();
    } catch (...) {
    }
    return;
  }
  ConnectAttemptFailed();
}

void TVexaNotifyProvider::SocketSessionClosed(fw::TObject*, uint16_t) {
  StopGreetingTimer();
  if (!FSessionUp) return;
  Trace("Connection Closed");
  SetSessionUp(false);
  try {
    DoNotifyServerDisconnect();
  } catch (...) {
  }
  if (FPollInterval > 0 && FActive) {
    FPollStart = CurrentTime();
    StartPollTimer(750);
  }
}

void TVexaNotifyProvider::SocketDataAvailable(fw::TObject*, uint16_t) {
  const std::string address = FNotifyServerAddress + ":" + std::to_string(FNotifyServerPort);
  if (FGreetingRefused) {
    // The session closes after this event; what else came is dropped unread
    // as a greeting, so the trace says it once.
    uint8_t drop[8192];
    FSocket->Receive(drop, sizeof drop);
    return;
  }
  if (!FGreetingReceived) {
    const std::string lineEnd = FSocket->LineEnd;
    std::vector<char> buf(NotifyServerGreetingLength + lineEnd.size() + 1, 0);
    int n = FSocket->Receive(buf.data(), static_cast<int>(buf.size() - 1));
    if (n < 0 && FSocket->LastError() == 10035) return;  // nothing there yet
    switch (CheckGreeting(buf.data(), n)) {
      case TGreetingKind::gkGreeting:
      case TGreetingKind::gkBusy: {
        bool busy = CheckGreeting(buf.data(), n) == TGreetingKind::gkBusy;
        Trace(busy ? "Notify Server at " + address + " is Busy"
                   : "Connected to Notify Server at " + address);
        FGreetingReceived = true;
        StopGreetingTimer();
        // Line-end bytes that did not come with the greeting must not be
        // taken for the start of a record.
        size_t got = static_cast<size_t>(n) - NotifyServerGreetingLength;
        FReader.Reset();
        if (got < lineEnd.size()) FReader.ExpectPrefix(lineEnd.substr(got));
        WriteProviderSettings(FProviderChannel, FNotifyServerAddress, std::to_string(FNotifyServerPort));
        if (!busy) SendSubscriptionList();
        break;
      }
      case TGreetingKind::gkUnknown:
        Trace("Server at " + address + " was not recognized");
        FGreetingRefused = true;
        StopGreetingTimer();
        FSocket->CloseDelayed();
        break;
    }
    return;
  }
  uint8_t buf[8192];
  int n = FSocket->Receive(buf, sizeof buf);
  if (n <= 0) return;
  FReader.Feed(buf, static_cast<size_t>(n), [this](const TProviderRecord& r) { HandleRecord(r); });
  ServiceBacklogsIfDue();
}

void TVexaNotifyProvider::HandleRecord(const TProviderRecord& Rec) {
  switch (Rec.Code) {
    case 'C':
    case 'D':
    case 'I':
      if (RequireTable(Rec.TableID, true)) RelayNotification(Rec.TableID, Rec.Code, Rec.Value);
      break;
    case 'S':
      Trace("Subscription to table " + std::to_string(Rec.TableID) + " confirmed");
      break;
    case 'U':
      Trace("Unubscription from table " + std::to_string(Rec.TableID) + " confirmed");
      break;
    default:
      break;
  }
}

void TVexaNotifyProvider::SendSubscriptionList() {
  std::string text = "Sending current subscription list:";
  bool any = false;
  for (int id = 1; id <= 255; ++id) {
    if (!FTableClients[id] || FTableClients[id]->empty()) continue;
    any = true;
    text += " " + std::to_string(id);
    FSocket->SendStr("S " + std::to_string(id) + "\r\n");
  }
  if (!any) text += " Empty";
  Trace(text);
  FSocket->Flush();
}

void TVexaNotifyProvider::SocketError(fw::TObject*) {
  Trace("MUXSocket Error (" + std::to_string(FSocket->LastError()) + ")");
}

void TVexaNotifyProvider::SocketBgException(fw::TObject*, fw::Exception& E, bool& CanClose) {
  Trace(std::string("Socket exception occured: ") + E.ClassName() + ": " + E.Message());
  CanClose = false;
}

void TVexaNotifyProvider::SocketLineLimitExceeded(fw::TObject*, int32_t, bool& ClearData) {
  ClearData = true;
  FSocket->Close();
}

// ---------------------------------------------------------------------------
// Local clients

void TVexaNotifyProvider::SendCommand(const std::string& Line) {
  FSocket->SendStr(Line + "\r\n");
  FSocket->Flush();
}

bool TVexaNotifyProvider::RequireTable(int TableID, bool CheckOnly) {
  if (TableID < 1 || TableID > 255) {
    Trace("Invalid TableID: " + std::to_string(TableID));
    return false;
  }
  if (FTableClients[TableID]) return true;
  if (CheckOnly) return false;
  FTableClients[TableID] = std::make_unique<std::vector<plat::HWND>>();
  if (!FSessionUp) return true;
  Trace("Requesting subscription to table " + std::to_string(TableID));
  SendCommand("S " + std::to_string(TableID));
  return true;
}

void TVexaNotifyProvider::SubscribeClient(int TableID, plat::HWND ClientWindow) {
  if (!RequireTable(TableID, false)) return;
  // Sending the command pumps messages; the list may have gone meanwhile.
  auto& list = FTableClients[TableID];
  if (!list) list = std::make_unique<std::vector<plat::HWND>>();
  for (plat::HWND h : *list) {
    if (h == ClientWindow) return;
  }
  list->push_back(ClientWindow);
}

void TVexaNotifyProvider::UnsubscribeClient(int TableID, plat::HWND ClientWindow) {
  Trace("Unsubscribing from Table " + std::to_string(TableID));
  int first = TableID == 0 ? 1 : TableID;
  int last = TableID == 0 ? 255 : TableID;
  if (first < 1 || last > 255) return;
  for (int id = first; id <= last; ++id) {
    auto& list = FTableClients[id];
    if (!list) continue;
    bool found = false;
    for (size_t i = 0; i < list->size(); ++i) {
      if ((*list)[i] == ClientWindow) {
        list->erase(list->begin() + static_cast<std::ptrdiff_t>(i));
        found = true;
        break;
      }
    }
    if (!found || !list->empty()) continue;
    list.reset();
    Trace("No more clients for table " + std::to_string(id));
    if (FSessionUp) SendCommand("U " + std::to_string(id));
  }
}

void TVexaNotifyProvider::RelayNotification(int TableID, char Code, int32_t Value) {
  if (TableID < 1 || TableID > 255) return;
  if (Value < 0) {
    // The relay carries Value as an unsigned 32-bit number; the bits go out
    // unchanged.
    Trace("Value " + std::to_string(Value) + " for table " + std::to_string(TableID) +
          " relayed as " + std::to_string(static_cast<uint32_t>(Value)));
  }
  fw::TMessage msg;
  msg.WParam = Value;
  msg.LParam = static_cast<int32_t>(static_cast<uint32_t>(TableID) |
                                    (static_cast<uint32_t>(static_cast<uint8_t>(Code)) << 8));
  // Last subscriber first. A failed post unsubscribes the client and may pump
  // messages that change or free this list, so it is looked up again each step.
  size_t i = FTableClients[TableID] ? FTableClients[TableID]->size() : 0;
  while (i > 0) {
    auto* list = FTableClients[TableID].get();
    if (!list) break;
    if (i > list->size()) i = list->size();
    if (i == 0) break;
    --i;
    PostOrQueue((*list)[i], FNotificationMsg, msg.WParam, msg.LParam);
  }
}

void TVexaNotifyProvider::PostOrQueue(plat::HWND Client, uint32_t MsgID, int32_t WParam, int32_t LParam) {
  if (MsgID == 0 || !FIPCServer) return;
  auto it = FBacklogs.find(Client);
  if (it == FBacklogs.end()) {
    fw::TMessage m;
    m.WParam = WParam;
    m.LParam = LParam;
    if (FIPCServer->PostToClient(Client, MsgID, m)) return;
    // A window that is gone was dropped with its tables by the failed post.
    if (!plat::IsWindow(Client)) return;
    it = FBacklogs.try_emplace(Client).first;
    it->second.LastTaken = plat::GetTickCount();
    if (!FBacklogTimer) {
      FBacklogTimer = new fw::TTimer(this);
      FBacklogTimer->SetEnabled(false);
      FBacklogTimer->SetOnTimer([this](fw::TObject*) { ServiceBacklogs(); });
    }
    FBacklogTimer->SetInterval(kBacklogRetryMs);
    FBacklogTimer->SetEnabled(true);
  }
  // Its queue is full: the post waits behind anything already waiting. It is
  // not offered now: each refused post also asks whether the window lives,
  // and doing that for every notification and every stopped client starved
  // the live ones; backlogs are offered again only when a retry is due.
  TClientBacklog& b = it->second;
  b.Posts.push_back({MsgID, WParam, LParam});
  ++FBacklogPosts;
  if (b.Posts.size() * sizeof(TWaitingPost) > static_cast<uint64_t>(MaxClientBacklogKB) * 1024) {
    DropClient(Client, cdrBacklogFull, "more than " + std::to_string(MaxClientBacklogKB) + " KB waited for it");
  }
  EnforceTotalBacklog();
}

void TVexaNotifyProvider::EnforceTotalBacklog() {
  const uint64_t bound = static_cast<uint64_t>(MaxTotalBacklogKB) * 1024;
  while (FBacklogPosts * sizeof(TWaitingPost) > bound) {
    plat::HWND largest = 0;
    size_t most = 0;
    for (const auto& [client, b] : FBacklogs) {
      if (b.NoticePosts == 0 && b.Posts.size() > most) {
        largest = client;
        most = b.Posts.size();
      }
    }
    if (most == 0) return;
    DropClient(largest, cdrBacklogFull,
               "the backlogs of all clients passed " + std::to_string(MaxTotalBacklogKB) +
                   " KB and its was the largest (" +
                   std::to_string(most * sizeof(TWaitingPost) / 1024) + " KB)");
  }
}

bool TVexaNotifyProvider::DrainClient(plat::HWND Client) {
  auto it = FBacklogs.find(Client);
  if (it == FBacklogs.end()) return true;
  for (size_t handed = 0; handed < kDrainPerTurn && !it->second.Posts.empty(); ++handed) {
    const TWaitingPost p = it->second.Posts.front();
    fw::TMessage m;
    m.WParam = p.WParam;
    m.LParam = p.LParam;
    // A window that is gone is dropped by the failed post, its backlog with it.
    if (!FIPCServer->PostToClient(Client, p.Msg, m)) return FBacklogs.count(Client) == 0;
    TClientBacklog& b = it->second;
    b.Posts.pop_front();
    --FBacklogPosts;
    b.LastTaken = plat::GetTickCount();
    if (b.NoticePosts > 0 && --b.NoticePosts == 0) {
      Trace("Client (" + std::to_string(Client) + ") told it was dropped");
      // The trace's handler may have run anything; the entry is looked up again.
      it = FBacklogs.find(Client);
      if (it == FBacklogs.end()) return true;
    }
  }
  if (!it->second.Posts.empty()) return false;
  FBacklogs.erase(it);
  return true;
}

void TVexaNotifyProvider::ServiceBacklogsIfDue() {
  if (!FBacklogs.empty() && FBacklogTimer &&
      plat::GetTickCount() - FBacklogsServiced >= FBacklogTimer->Interval()) {
    ServiceBacklogs();
  }
}

void TVexaNotifyProvider::ServiceBacklogs() {
  // Letting a client go tells the server, which pumps messages: a read of the
  // session may come in meanwhile and must not start another round.
  if (FServicingBacklogs) return;
  FServicingBacklogs = true;
  auto done = fw::Finally([this] { FServicingBacklogs = false; });
  FBacklogsServiced = plat::GetTickCount();
  std::vector<plat::HWND> waiting;
  for (const auto& entry : FBacklogs) waiting.push_back(entry.first);
  for (plat::HWND client : waiting) {
    if (DrainClient(client)) continue;
    auto it = FBacklogs.find(client);
    if (it == FBacklogs.end() || it->second.NoticePosts > 0 || ClientStallTimeout == 0) continue;
    const uint32_t idle = plat::GetTickCount() - it->second.LastTaken;
    if (idle >= ClientStallTimeout) {
      DropClient(client, cdrStalled, "it took no message for " + std::to_string(idle) + " ms while " +
                                         std::to_string(it->second.Posts.size()) + " waited");
    }
  }
  if (!FBacklogTimer) return;
  // Only notices waiting (programs still stopped): offer them less often.
  bool notificationsWait = false;
  for (const auto& entry : FBacklogs) notificationsWait |= entry.second.Posts.size() > entry.second.NoticePosts;
  if (FBacklogs.empty()) {
    FBacklogTimer->SetEnabled(false);
  } else {
    const uint32_t interval = notificationsWait ? kBacklogRetryMs : kNoticeRetryMs;
    if (FBacklogTimer->Interval() != interval) FBacklogTimer->SetInterval(interval);
  }
}

void TVexaNotifyProvider::DropClient(plat::HWND Client, int32_t Reason, const std::string& Why) {
  Trace("Dropping client (" + std::to_string(Client) + "): " + Why);
  // What waited is lost; the client is told so as soon as it takes a post:
  // a down state naming the reason, then the current state when it is up.
  TClientBacklog& b = FBacklogs[Client];
  FBacklogPosts -= b.Posts.size();
  b.Posts.clear();
  b.Posts.push_back({FStateMsg, 2, Reason});
  if (FStateSent) b.Posts.push_back({FStateMsg, 1, 0});
  b.NoticePosts = b.Posts.size();
  FBacklogPosts += b.NoticePosts;
  b.LastTaken = plat::GetTickCount();
  if (FBacklogTimer) FBacklogTimer->SetEnabled(true);
  // Its tables go as when its window is gone; telling the server pumps
  // messages, which may end the client meanwhile.
  UnsubscribeClient(0, Client);
}

void TVexaNotifyProvider::SetSessionUp(bool Up) {
  if (Up == FSessionUp) return;
  if (Up) FGreetingReceived = false;
  BroadcastServerState(Up);
  FSessionUp = Up;
}

void TVexaNotifyProvider::BroadcastServerState(bool Up) {
  if (Up == FStateSent) return;
  FStateSent = Up;
  if (!FIPCServer) return;
  // Each client gets it behind what already waits for it.
  const std::vector<plat::HWND> clients = FIPCServer->Clients();
  for (plat::HWND c : clients) PostOrQueue(c, FStateMsg, Up ? 1 : 2, 0);
}

void TVexaNotifyProvider::ReadMessageIDs() {
  if (!FIPCServer) return;
  FSubscriptionMsg = FIPCServer->GetCustomMessageID("Subscription");
  FNotificationMsg = FIPCServer->GetCustomMessageID("Notification");
  FStateMsg = FIPCServer->GetCustomMessageID("NotifyServerState");
}

void TVexaNotifyProvider::IPCClientConnecting(plat::HWND ClientHandle, bool& Accept) {
  Trace("New client (" + std::to_string(ClientHandle) + ")");
  if (OnClientConnecting) OnClientConnecting(ClientHandle, Accept);
  if (FStateSent) PostOrQueue(ClientHandle, FStateMsg, 1, 0);
}

void TVexaNotifyProvider::IPCClientDisconnecting(plat::HWND ClientHandle) {
  if (auto it = FBacklogs.find(ClientHandle); it != FBacklogs.end()) {
    FBacklogPosts -= it->second.Posts.size();
    FBacklogs.erase(it);
  }
  UnsubscribeClient(0, ClientHandle);
  Trace("Client disconnected (" + std::to_string(ClientHandle) + ")");
  if (OnClientDisconnecting) OnClientDisconnecting(ClientHandle);
}

void TVexaNotifyProvider::IPCCustomMessage(fw::TMessage& Msg, bool&) {
  if (FSubscriptionMsg == 0 || Msg.Msg != FSubscriptionMsg) return;
  int table = Msg.LParam & 0xFF;
  char letter = static_cast<char>((Msg.LParam >> 8) & 0xFF);
  plat::HWND client = static_cast<plat::HWND>(Msg.WParam);
  // Another program must not subscribe or unsubscribe a client in its name:
  // an unsubscription would deafen it, a subscription flood it.
  if ((letter == 'S' || letter == 'U') && !VexaIPCSpeaksFor(client)) {
    const unsigned kind = letter == 'S' ? 1 : 2;
    if ((FForgedTold & kind) == 0) {
      FForgedTold |= kind;
      Trace(std::string("Ignored a \"Subscription\" '") + letter + "' naming a window of another program");
    }
    return;
  }
  if (letter == 'S') {
    if (!plat::IsWindow(client)) {
      Msg.Result = -1;
      return;
    }
    Trace("Relaying Subscription Request (" + std::to_string(table) + ")");
    SubscribeClient(table, client);
    Msg.Result = 1;
  } else if (letter == 'U') {
    UnsubscribeClient(table, client);
    Msg.Result = 1;
  }
}

}  // namespace vexa
