// labels: integration
// timeout: 120
// The provider against a scripted notify server over loopback TCP and local
// client programs on its channel (in this process, on the same message loop).
#include "gateway/VexaKWVProvider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clients/VexaIPCClient.h"
#include "framework/Registry.h"
#include "gateway/KWVReg.h"
#include "platform/msg/Msg.h"
#include "tests/gateway/ScriptedServer.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::PumpFor;
using test::PumpUntil;
using test::ScriptedConnection;
using test::ScriptedServer;
using test::WireRecord;

const std::string Greeting = "VEXA Notify Server\r\n";
// A server that greets and then keeps the connection open.
const ScriptedServer::Script GreetAndHold = [](ScriptedConnection& c) {
  c.Send(Greeting);
  c.HoldOpen();
};


// One line a local client saw.
struct Seen {
  std::string Who;
  plat::UINT Msg;
  plat::WPARAM WParam;
  plat::LPARAM LParam;
};

class Provider : public TVexaNotifyProvider {
public:
  using TVexaNotifyProvider::TVexaNotifyProvider;
  std::function<double()> Clock;  // empty: the real clock
  double CurrentTime() const override { return Clock ? Clock() : TVexaNotifyProvider::CurrentTime(); }
};

class ProviderTest : public ::testing::Test {
protected:
  test::TestSession Session;
  std::unique_ptr<Provider> P;
  std::vector<std::string> Traces;
  int Connects = 0, Disconnects = 0, ConnectFails = 0, SettingsNotFound = 0;
  std::vector<Seen> Messages;
  std::vector<std::unique_ptr<TVexaIPCClient>> Clients;

  void MakeProvider(const std::string& channel = "Chan") {
    P = std::make_unique<Provider>(nullptr);
    P->OnTrace = [this](fw::TObject*, const std::string& t) { Traces.push_back(t); };
    P->OnNotifyServerConnect = [this](fw::TObject*) { ++Connects; };
    P->OnNotifyServerDisconnect = [this](fw::TObject*) { ++Disconnects; };
    P->OnNotifyServerConnectFailed = [this](fw::TObject*) { ++ConnectFails; };
    P->OnProviderSettingsNotFound = [this](fw::TObject*) { ++SettingsNotFound; };
    P->SetProviderChannel(channel);
  }

  void TearDown() override {
    Clients.clear();
    if (P) P->SetActive(false);
    P.reset();
  }

  bool Traced(const std::string& line) const {
    return std::find(Traces.begin(), Traces.end(), line) != Traces.end();
  }
  int TraceCount(const std::string& line) const {
    return static_cast<int>(std::count(Traces.begin(), Traces.end(), line));
  }
  int TraceIndex(const std::string& line) const {
    auto it = std::find(Traces.begin(), Traces.end(), line);
    return it == Traces.end() ? -1 : static_cast<int>(it - Traces.begin());
  }
  int CheckingCount() const {
    return static_cast<int>(std::count_if(Traces.begin(), Traces.end(), [](const std::string& t) {
      return t.size() == 8 + 27 && t.substr(8) == " Checking for Notify Server";
    }));
  }

  TVexaIPCClient* AddClient(const std::string& name, const std::string& channel = "Chan") {
    auto c = std::make_unique<TVexaIPCClient>(channel);
    TVexaIPCClient* raw = c.get();
    raw->OnMessage = [this, name, raw](plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
      if (m == raw->CustomMessageID("Notification") || m == raw->CustomMessageID("NotifyServerState")) {
        Messages.push_back({name, m, w, l});
      }
    };
    EXPECT_TRUE(raw->FindServer(5000));
    EXPECT_TRUE(raw->Connect());
    Clients.push_back(std::move(c));
    return raw;
  }
  int32_t Request(TVexaIPCClient* c, int table, char letter, plat::WPARAM window = 0) {
    plat::LRESULT r = 0;
    EXPECT_TRUE(c->SendCustom("Subscription", window ? window : static_cast<plat::WPARAM>(c->Handle()),
                              table | (letter << 8), &r, 5000));
    return r;
  }
  std::vector<Seen> NotificationsOf(const std::string& who) const {
    std::vector<Seen> r;
    for (const Seen& s : Messages) {
      if (s.Who == who && s.Msg == Clients.front()->CustomMessageID("Notification")) r.push_back(s);
    }
    return r;
  }
  std::vector<int> StatesOf(const std::string& who) const {
    std::vector<int> r;
    for (const Seen& s : Messages) {
      if (s.Who == who && s.Msg == Clients.front()->CustomMessageID("NotifyServerState")) r.push_back(s.WParam);
    }
    return r;
  }
  static plat::LPARAM NotificationLParam(int table, char code) { return table | (code << 8); }

  void Store(int port, const std::string& channel = "Chan") {
    WriteProviderSettings(channel, "127.0.0.1", std::to_string(port));
  }
  // The provider of channel Chan, its settings naming port, made active (with
  // pollInterval when given).
  void StartOn(int port, std::optional<int> pollInterval = std::nullopt) {
    Store(port);
    MakeProvider();
    if (pollInterval) P->SetPollInterval(*pollInterval);
    P->SetActive(true);
  }
  // The session is up and has sent its (empty) list.
  bool SessionStarted() const {
    return P->SessionUp() && Traced("Sending current subscription list: Empty");
  }
  std::string At(int port) const { return "127.0.0.1:" + std::to_string(port); }
};

TEST_F(ProviderTest, LowerCaseGreetingIsAcceptedStoredAndAnsweredWithAnEmptyList) {
  ScriptedServer server({[](ScriptedConnection& c) {
    c.Send("vexa notify server\r\n");
    c.HoldOpen();
  }});
  StartOn(server.Port());
  ASSERT_TRUE(P->Active());
  ASSERT_TRUE(PumpUntil([&] { return Traced("Connected to Notify Server at " + At(server.Port())); }));
  EXPECT_EQ(CheckingCount(), 1);
  EXPECT_EQ(Connects, 1);
  EXPECT_TRUE(P->SessionUp());
  EXPECT_FALSE(P->PollTimerExists());
  EXPECT_EQ(Traces.back(), "Sending current subscription list: Empty");

  // The greeting stored the channel's settings and the program's location.
  fw::TRegistry reg;
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("\\Software\\VEXA Software\\Lumidex\\ClientGateway\\Chan", false));
  EXPECT_EQ(reg.ReadString("Address"), "127.0.0.1");
  EXPECT_EQ(reg.ReadString("Port"), std::to_string(server.Port()));
  EXPECT_EQ(reg.ReadString("Params"), "\"Chan\"");
  EXPECT_FALSE(reg.ReadString("Location").empty());

  // Nothing went to the server with the empty list: the first bytes it sees
  // are the command of the first subscription.
  auto* a = AddClient("A");
  EXPECT_EQ(Request(a, 4, 'S'), 1);
  ASSERT_TRUE(PumpUntil([&] { return server.Received(0).size() >= 5; }));
  EXPECT_EQ(server.Received(0), "S 4\r\n");
  EXPECT_TRUE(Traced("Requesting subscription to table 4"));
  EXPECT_TRUE(Traced("Relaying Subscription Request (4)"));
}

TEST_F(ProviderTest, GreetingInTwoPartsIsNotRecognisedAndTheGatewayReconnects) {
  ScriptedServer server({[](ScriptedConnection& c) {
                           c.Send("VEXA Notify");
                           c.Pause(300);
                           c.Send(" Server\r\n");
                           c.HoldOpen();
                         },
                         GreetAndHold});
  StartOn(server.Port());
  ASSERT_TRUE(
      PumpUntil([&] { return Traced("Connected to Notify Server at " + At(server.Port())); }));
  int refused = TraceIndex("Server at " + At(server.Port()) + " was not recognized");
  int closed = TraceIndex("Connection Closed");
  ASSERT_GE(refused, 0);
  EXPECT_GT(closed, refused);
  EXPECT_EQ(server.Connections(), 2);
  EXPECT_EQ(Disconnects, 1);
  EXPECT_EQ(Connects, 2);
}

TEST_F(ProviderTest, BusyServerIsTracedGetsNoListAndIsTriedAgainAfterItCloses) {
  ScriptedServer server({[&](ScriptedConnection& c) {
                           server.WaitForGo();
                           c.Send("Busy              \r\n");
                           c.Pause(200);
                         },
                         GreetAndHold});
  StartOn(server.Port());
  auto* a = AddClient("A");
  EXPECT_EQ(Request(a, 3, 'S'), 1);
  server.Go = true;
  ASSERT_TRUE(PumpUntil([&] { return server.Received(1) == "S 3\r\n"; }));
  EXPECT_TRUE(Traced("Notify Server at " + At(server.Port()) + " is Busy"));
  EXPECT_EQ(server.Received(0), "");
  EXPECT_LT(TraceIndex("Notify Server at " + At(server.Port()) + " is Busy"), TraceIndex("Connection Closed"));
  EXPECT_TRUE(Traced("Sending current subscription list: 3"));
  // The busy banner is an accepted greeting: the settings are stored.
  std::string address, port;
  ASSERT_TRUE(ReadProviderSettings("Chan", address, port));
  EXPECT_EQ(port, std::to_string(server.Port()));
}

TEST_F(ProviderTest, RecordsAreCutAcrossReadsAndRelayedByCode) {
  ScriptedServer server({[&](ScriptedConnection& c) {
    server.WaitForGo();
    c.Send(Greeting);
    if (!c.WaitFor("S 3\r\n")) return;
    c.Send(WireRecord(0, 3, 'S'));
    std::string two = WireRecord(111, 3, 'I') + WireRecord(222, 3, 'C');
    c.Send(two.substr(0, 12));
    c.Pause(200);
    c.Send(two.substr(12));
    c.Pause(100);
    c.Send(WireRecord(333, 3, 'X') + WireRecord(444, 0, 'I') + WireRecord(-1, 3, 'D') +
           WireRecord(555, 9, 'C') + WireRecord(0, 3, 'U') + WireRecord(666, 3, 'I'));
    c.HoldOpen();
  }});
  StartOn(server.Port());
  auto* a = AddClient("A");
  EXPECT_EQ(Request(a, 3, 'S'), 1);
  server.Go = true;
  ASSERT_TRUE(PumpUntil([&] { return NotificationsOf("A").size() >= 4; }));
  PumpFor(100ms);
  auto n = NotificationsOf("A");
  ASSERT_EQ(n.size(), 4u);
  EXPECT_EQ(n[0].WParam, 111);
  EXPECT_EQ(n[0].LParam, NotificationLParam(3, 'I'));
  EXPECT_EQ(n[1].WParam, 222);
  EXPECT_EQ(n[1].LParam, NotificationLParam(3, 'C'));
  // A negative Value goes out as the unsigned 32-bit value, with a trace line.
  EXPECT_EQ(static_cast<uint32_t>(n[2].WParam), 0xFFFFFFFFu);
  EXPECT_EQ(n[2].LParam, NotificationLParam(3, 'D'));
  EXPECT_TRUE(Traced("Value -1 for table 3 relayed as 4294967295"));
  EXPECT_EQ(n[3].WParam, 666);
  EXPECT_TRUE(Traced("Subscription to table 3 confirmed"));
  EXPECT_TRUE(Traced("Unubscription from table 3 confirmed"));
  EXPECT_TRUE(Traced("Invalid TableID: 0"));
  // The server state came first.
  ASSERT_FALSE(Messages.empty());
  EXPECT_EQ(Messages.front().Msg, a->CustomMessageID("NotifyServerState"));
  EXPECT_EQ(Messages.front().WParam, 1);
}

TEST_F(ProviderTest, SubscriptionListNamesTablesInAscendingOrder) {
  ScriptedServer server({[&](ScriptedConnection& c) {
    server.WaitForGo();
    c.Send(Greeting);
    c.HoldOpen();
  }});
  StartOn(server.Port());
  auto* a = AddClient("A");
  auto* b = AddClient("B");
  EXPECT_EQ(Request(a, 17, 'S'), 1);
  EXPECT_EQ(Request(b, 3, 'S'), 1);
  EXPECT_EQ(Request(b, 17, 'S'), 1);
  server.Go = true;
  ASSERT_TRUE(PumpUntil([&] { return server.Received(0).size() >= 11; }));
  EXPECT_EQ(server.Received(0), "S 3\r\nS 17\r\n");
  EXPECT_TRUE(Traced("Sending current subscription list: 3 17"));
  EXPECT_FALSE(Traced("Requesting subscription to table 3"));
  EXPECT_EQ(P->TableClientList(17), (std::vector<plat::HWND>{a->Handle(), b->Handle()}));
}

TEST_F(ProviderTest, LocalSubscriptionsRelayOrderAndUnsubscriptions) {
  ScriptedServer server({[&](ScriptedConnection& c) {
    c.Send(Greeting);
    if (!c.WaitFor("S 5\r\n")) return;
    server.WaitForGo();
    c.Send(WireRecord(77, 5, 'I'));
    c.HoldOpen();
  }});
  StartOn(server.Port());
  ASSERT_TRUE(PumpUntil([&] { return SessionStarted(); }));
  auto* a = AddClient("A");
  auto* b = AddClient("B");
  // A client that joins while the session is up hears so at once.
  ASSERT_TRUE(PumpUntil([&] { return StatesOf("A").size() == 1 && StatesOf("B").size() == 1; }));
  EXPECT_EQ(StatesOf("A"), std::vector<int>{1});

  EXPECT_EQ(Request(a, 5, 'S'), 1);
  EXPECT_EQ(Request(a, 5, 'S'), 1);
  EXPECT_EQ(Request(b, 5, 'S'), 1);
  EXPECT_EQ(TraceCount("Requesting subscription to table 5"), 1);
  EXPECT_EQ(P->TableClientList(5), (std::vector<plat::HWND>{a->Handle(), b->Handle()}));

  // Last subscriber first.
  server.Go = true;
  ASSERT_TRUE(PumpUntil([&] { return NotificationsOf("A").size() == 1 && NotificationsOf("B").size() == 1; }));
  std::vector<std::string> order;
  for (const Seen& s : Messages) {
    if (s.Msg == a->CustomMessageID("Notification")) order.push_back(s.Who);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"B", "A"}));

  EXPECT_EQ(Request(b, 5, 'U'), 1);
  EXPECT_FALSE(Traced("No more clients for table 5"));
  EXPECT_EQ(Request(a, 5, 'U'), 1);
  EXPECT_TRUE(Traced("No more clients for table 5"));
  ASSERT_TRUE(PumpUntil([&] { return server.Received(0).size() >= 10; }));
  EXPECT_EQ(server.Received(0), "S 5\r\nU 5\r\n");

  // 'U' for table 0 leaves every table; emptied tables are let go in ascending order.
  EXPECT_EQ(Request(a, 9, 'S'), 1);
  EXPECT_EQ(Request(a, 2, 'S'), 1);
  EXPECT_EQ(Request(a, 0, 'U'), 1);
  EXPECT_TRUE(Traced("Unsubscribing from Table 0"));
  EXPECT_LT(TraceIndex("No more clients for table 2"), TraceIndex("No more clients for table 9"));
  ASSERT_TRUE(PumpUntil([&] { return server.Received(0).size() >= 30; }));
  EXPECT_EQ(server.Received(0), "S 5\r\nU 5\r\nS 9\r\nS 2\r\nU 2\r\nU 9\r\n");
  EXPECT_TRUE(P->TableClientList(2).empty());
}

TEST_F(ProviderTest, ClientWhoseWindowIsGoneIsDroppedAtTheNextRelay) {
  ScriptedServer server({[&](ScriptedConnection& c) {
    c.Send(Greeting);
    if (!c.WaitFor("S 3\r\n")) return;
    server.WaitForGo();
    c.Send(WireRecord(10, 2, 'I'));
    c.Pause(100);
    c.Send(WireRecord(11, 3, 'I'));
    c.HoldOpen();
  }});
  StartOn(server.Port());
  ASSERT_TRUE(PumpUntil([&] { return SessionStarted(); }));
  auto* a = AddClient("A");
  auto* gone = AddClient("Gone");
  auto* lone = AddClient("Lone");
  EXPECT_EQ(Request(a, 2, 'S'), 1);
  EXPECT_EQ(Request(gone, 2, 'S'), 1);
  EXPECT_EQ(Request(gone, 9, 'S'), 1);
  EXPECT_EQ(Request(lone, 7, 'S'), 1);
  EXPECT_EQ(Request(lone, 3, 'S'), 1);
  ASSERT_TRUE(PumpUntil([&] { return server.Received(0) == "S 2\r\nS 9\r\nS 7\r\nS 3\r\n"; }));
  // Both windows vanish without a word to the gateway, as when their programs die.
  plat::DestroyWindow(gone->Handle());
  plat::DestroyWindow(lone->Handle());
  server.Go = true;
  // The walk over table 2 meets the vanished client first and still reaches A.
  ASSERT_TRUE(PumpUntil([&] { return NotificationsOf("A").size() == 1; }));
  EXPECT_EQ(NotificationsOf("A")[0].WParam, 10);
  EXPECT_EQ(P->TableClientList(2), std::vector<plat::HWND>{a->Handle()});
  EXPECT_TRUE(P->TableClientList(9).empty());
  // A client that was the only one of its tables lets them go in ascending order.
  const std::string expected = "S 2\r\nS 9\r\nS 7\r\nS 3\r\nU 9\r\nU 3\r\nU 7\r\n";
  ASSERT_TRUE(PumpUntil([&] { return server.Received(0).size() >= expected.size(); }));
  EXPECT_EQ(server.Received(0), expected);
  EXPECT_TRUE(Traced("Client disconnected (" + std::to_string(gone->Handle()) + ")"));
  EXPECT_EQ(P->GetClientCount(), 1);
}

TEST_F(ProviderTest, SubscriptionRequestsAnswerAsTheirSendersRelyOn) {
  StartOn(test::FreeTcpPort(), 0);
  auto* a = AddClient("A");
  // A handle that is no window is refused; table 0 is traced and still answered 1;
  // other letters answer 0.
  EXPECT_EQ(Request(a, 4, 'S', 0x7FFF0001), -1);
  EXPECT_TRUE(P->TableClientList(4).empty());
  EXPECT_EQ(Request(a, 0, 'S'), 1);
  EXPECT_TRUE(Traced("Invalid TableID: 0"));
  EXPECT_EQ(Request(a, 4, 'Q'), 0);
  EXPECT_TRUE(P->TableClientList(4).empty());
  // While the session is down a subscription only makes the list.
  EXPECT_EQ(Request(a, 4, 'S'), 1);
  EXPECT_FALSE(Traced("Requesting subscription to table 4"));
  EXPECT_EQ(P->TableClientList(4), std::vector<plat::HWND>{a->Handle()});
  // A client that leaves is dropped from its tables.
  a->Disconnect();
  EXPECT_TRUE(P->TableClientList(4).empty());
  EXPECT_TRUE(Traced("Client disconnected (" + std::to_string(a->Handle()) + ")"));
  EXPECT_TRUE(Traced("New client (" + std::to_string(a->Handle()) + ")"));
}

TEST_F(ProviderTest, ChannelDifferingFromDefaultInCaseStoresItsLocationUnderDefault) {
  WriteProviderSettings("Default", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  MakeProvider("DEFAULT");
  P->SetPollInterval(0);
  P->SetActive(true);
  ASSERT_TRUE(P->Active());
  fw::TRegistry reg;
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("\\Software\\VEXA Software\\Lumidex\\ClientGateway\\Default", false));
  EXPECT_EQ(reg.ReadString("Params"), "\"Default\"");
}

TEST_F(ProviderTest, PollIntervalZeroMakesOneAttemptAndNoRetry) {
  StartOn(test::FreeTcpPort(), 0);
  ASSERT_TRUE(PumpUntil([&] { return ConnectFails == 1; }));
  PumpFor(1000ms);
  EXPECT_EQ(CheckingCount(), 1);
  EXPECT_EQ(ConnectFails, 1);
  EXPECT_TRUE(P->Active());
}

TEST_F(ProviderTest, NegativePollIntervalCountsAsNoRetry) {
  StartOn(test::FreeTcpPort(), -3);
  ASSERT_TRUE(PumpUntil([&] { return ConnectFails == 1; }));
  EXPECT_TRUE(Traced("Poll interval -3 is negative: no retry"));
  PumpFor(500ms);
  EXPECT_EQ(CheckingCount(), 1);
}

TEST_F(ProviderTest, PollDurationEndsTheRetriesAtItsEnd) {
  Store(test::FreeTcpPort());
  MakeProvider();
  P->PollDuration = 1;
  P->SetPollInterval(1);
  // Each attempt takes half a minute of this clock: the first failure comes
  // 30 s after the start and is retried, the second exactly one minute after
  // it and gives up.
  P->Clock = [this] { return 40000.0 + CheckingCount() * 30.0 / 86400.0; };
  P->SetActive(true);
  ASSERT_TRUE(PumpUntil([&] { return ConnectFails == 1; }));
  EXPECT_EQ(CheckingCount(), 2);
  PumpFor(1500ms);
  EXPECT_EQ(CheckingCount(), 2);
}

TEST_F(ProviderTest, StoredPortOutsideTheRangeIsRefusedAsUnusableSettings) {
  WriteProviderSettings("Chan", "127.0.0.1", "70000");
  MakeProvider();
  P->SetActive(true);
  EXPECT_FALSE(P->Active());
  EXPECT_EQ(SettingsNotFound, 1);
  EXPECT_TRUE(Traced("Stored port 70000 of provider channel \"Chan\" is outside 0..65535 and not used"));
  // A port that is no number counts as 5500.
  WriteProviderSettings("Chan", "127.0.0.1", "fifty");
  P->SetPollInterval(0);
  P->SetActive(true);
  EXPECT_TRUE(P->Active());
  EXPECT_EQ(P->NotifyServerPort(), 5500);
}

TEST_F(ProviderTest, MissingSettingsAndEmptyChannelKeepTheProviderInactive) {
  MakeProvider();
  P->SetActive(true);
  EXPECT_FALSE(P->Active());
  EXPECT_EQ(SettingsNotFound, 1);
  // Without the registry: an empty address stops activation silently.
  P->SetStoreGatewayLocation(false);
  P->SetNotifyServerAddress("  ");
  P->SetActive(true);
  EXPECT_FALSE(P->Active());
  EXPECT_EQ(SettingsNotFound, 1);
}

TEST_F(ProviderTest, DeactivatingWhileConnectedClosesTellsAndLeavesNoTimer) {
  ScriptedServer server({GreetAndHold});
  StartOn(server.Port());
  auto* a = AddClient("A");
  EXPECT_EQ(Request(a, 6, 'S'), 1);
  ASSERT_TRUE(PumpUntil([&] { return server.Received(0) == "S 6\r\n"; }));
  P->SetActive(false);
  EXPECT_TRUE(Traced("Connection Closed"));
  EXPECT_EQ(Disconnects, 1);
  EXPECT_FALSE(P->PollTimerExists());
  EXPECT_FALSE(P->SessionUp());
  // The local clients were dropped first, so the table was let go at the server.
  ASSERT_TRUE(PumpUntil([&] { return server.Received(0) == "S 6\r\nU 6\r\n"; }));
  EXPECT_LT(TraceIndex("No more clients for table 6"), TraceIndex("Connection Closed"));
}

TEST_F(ProviderTest, LostSessionReconnectsResubscribesAndTellsTheClients) {
  ScriptedServer server({[](ScriptedConnection& c) {
                           c.Send(Greeting);
                           c.WaitFor("S 8\r\n");
                         },
                         GreetAndHold});
  StartOn(server.Port());
  auto* a = AddClient("A");
  EXPECT_EQ(Request(a, 8, 'S'), 1);
  ASSERT_TRUE(PumpUntil([&] { return server.Received(1) == "S 8\r\n"; }));
  EXPECT_EQ(Disconnects, 1);
  EXPECT_EQ(Connects, 2);
  ASSERT_TRUE(PumpUntil([&] { return StatesOf("A").size() >= 3; }));
  EXPECT_EQ(StatesOf("A"), (std::vector<int>{1, 2, 1}));
}

TEST_F(ProviderTest, LostSessionWithPollIntervalZeroIsNotRetried) {
  ScriptedServer server({[](ScriptedConnection& c) {
    c.Send(Greeting);
    c.Pause(200);
  }});
  StartOn(server.Port(), 0);
  ASSERT_TRUE(PumpUntil([&] { return Disconnects == 1; }));
  PumpFor(1200ms);
  EXPECT_EQ(server.Connections(), 1);
  EXPECT_TRUE(P->Active());
}

}  // namespace
}  // namespace vexa
