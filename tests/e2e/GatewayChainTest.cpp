// labels: e2e
// timeout: 240
// The whole chain with real processes: a database-side stand-in feeds the
// notify server beaconhub, which serves the gateway relaygate over TCP, which
// relays to two local client programs on different tables.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway/KWVReg.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/StrayMessages.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

const auto Notification = test::NotificationLine;

// Reads the client's lines up to the next notification or state line.
std::optional<std::string> NextEvent(ChildProcess& p, std::chrono::milliseconds timeout = 15000ms) {
  for (;;) {
    auto line = p.ReadLine(timeout);
    if (!line) return std::nullopt;
    if (line->rfind("Notification ", 0) == 0 || line->rfind("NotifyServerState ", 0) == 0) return line;
  }
}

// Waits until the program has printed a line containing needle, earlier lines included.
bool Printed(ChildProcess& p, const std::string& needle, std::chrono::milliseconds timeout) {
  for (const std::string& l : p.Lines()) {
    if (l.find(needle) != std::string::npos) return true;
  }
  return p.WaitForLine(needle, timeout).has_value();
}

// The lines of an ended program that tell of a message it ignored, each
// prefixed with the program's process id. No failure may have been logged.
std::vector<std::string> IgnoredLines(ChildProcess& p) {
  while (p.ReadLine(1000ms)) {}
  std::vector<std::string> lines;
  for (const std::string& l : p.Lines()) {
    if (l.find("Ignored ") != std::string::npos)
      lines.push_back(std::to_string(p.Pid()) + ": " + l);
    EXPECT_EQ(l.find("exception occured"), std::string::npos) << l;
  }
  return lines;
}

class GatewayChainTest : public ::testing::Test {
protected:
  test::TestSession Session;
  const int Port = test::FreeTcpPort();
  const std::string Dir = Session.Root() + "/programs";
  const test::ProgramCopy Beaconhub{"beaconhub", Dir,
                                    "[Server]\nAddress=127.0.0.1\nPort=" + std::to_string(Port) +
                                        "\nMaxClients=0\n[Client]\nFlushInterval=20\n"};
  const test::ProgramCopy Relaygate{"relaygate", Dir, "[Connection Polling]\nDuration=0\nInterval=1\n"};

  void SetUp() override { WriteProviderSettings("E2E", "127.0.0.1", std::to_string(Port)); }

  // Env: extra environment; debug output then comes with the program's own.
  std::unique_ptr<ChildProcess> StartServer(const std::vector<std::string>& Env = {}) {
    return std::make_unique<ChildProcess>(Beaconhub.Path(), std::vector<std::string>{}, Env,
                                          !Env.empty());
  }
  std::unique_ptr<ChildProcess> StartDbSide(const std::vector<std::string>& Args = {}) {
    auto p = std::make_unique<ChildProcess>(test::BinPath("ChainDbSidePeer"), Args);
    EXPECT_TRUE(p->WaitForLine("ready", 20000ms));
    return p;
  }
  static void Run(ChildProcess& db, const std::string& line, std::chrono::milliseconds timeout = 10000ms) {
    ASSERT_TRUE(db.WriteStdin(line + "\n"));
    auto answer = db.ReadLine(timeout);
    ASSERT_TRUE(answer.has_value());
    ASSERT_EQ(answer->rfind("done ", 0), 0u) << *answer;
  }
};

TEST_F(GatewayChainTest, NotificationsFlowOnceInOrderAndSurviveAServerRestart) {
  auto server = StartServer();
  ChildProcess gateway(Relaygate.Path(), {"E2E"});
  std::string at = "127.0.0.1:" + std::to_string(Port);
  ASSERT_TRUE(gateway.WaitForLine("Connected to Notify Server at " + at, 20000ms));

  ChildProcess client7(test::BinPath("notifylistener"), {"E2E", "7"});
  ChildProcess client8(test::BinPath("notifylistener"), {"E2E", "8"});
  ASSERT_TRUE(client7.WaitForLine("Subscribed to table 7 (1)", 10000ms));
  ASSERT_TRUE(client8.WaitForLine("Subscribed to table 8 (1)", 10000ms));
  // The two clients subscribe in either order.
  ASSERT_TRUE(Printed(gateway, "Subscription to table 7 confirmed", 10000ms));
  ASSERT_TRUE(Printed(gateway, "Subscription to table 8 confirmed", 10000ms));

  auto db = StartDbSide();
  Run(*db, "7 I 1 20 commit");
  Run(*db, "8 C 101 10 commit");
  Run(*db, "7 D 900 6 rollback");
  Run(*db, "7 X 21 10 commit");
  Run(*db, "8 D 4294967295 1 commit");

  // Each client sees the up state, then every committed notification of its
  // table once, in order, and nothing of the rolled-back transaction.
  EXPECT_EQ(NextEvent(client7), "NotifyServerState 1");
  for (uint32_t v = 1; v <= 20; ++v) ASSERT_EQ(NextEvent(client7), Notification(7, 'I', v));
  EXPECT_EQ(NextEvent(client8), "NotifyServerState 1");
  for (uint32_t v = 101; v <= 110; ++v) ASSERT_EQ(NextEvent(client8), Notification(8, 'C', v));
  EXPECT_EQ(NextEvent(client8), Notification(8, 'D', 4294967295u));
  // Code 'X' is not relayed, rolled-back records never leave the server: the
  // next thing client 7 sees is the transaction after them.
  Run(*db, "7 C 31 3 commit");
  for (uint32_t v = 31; v <= 33; ++v) ASSERT_EQ(NextEvent(client7), Notification(7, 'C', v));

  // The notify server dies and comes back: the gateway reconnects, asks for
  // both tables again and delivery goes on.
  db->WriteStdin("quit\n");
  db->Wait(5000ms);
  server->Signal(SIGKILL);
  server->Wait(5000ms);
  ASSERT_TRUE(gateway.WaitForLine("Connection Closed", 10000ms));
  EXPECT_EQ(NextEvent(client7), "NotifyServerState 2");
  server = StartServer();
  ASSERT_TRUE(gateway.WaitForLine("Connected to Notify Server at " + at, 20000ms));
  ASSERT_TRUE(gateway.WaitForLine("Sending current subscription list: 7 8", 5000ms));
  ASSERT_TRUE(gateway.WaitForLine("Subscription to table 8 confirmed", 10000ms));
  EXPECT_EQ(NextEvent(client7), "NotifyServerState 1");
  db = StartDbSide();
  Run(*db, "7 I 40 5 commit");
  for (uint32_t v = 40; v <= 44; ++v) ASSERT_EQ(NextEvent(client7), Notification(7, 'I', v));

  // A client killed while subscribed is dropped at the next relay to it, and
  // its table is let go at the server.
  client8.Signal(SIGKILL);
  client8.Wait(5000ms);
  Run(*db, "8 I 1 1 commit");
  ASSERT_TRUE(gateway.WaitForLine("No more clients for table 8", 10000ms));
  ASSERT_TRUE(gateway.WaitForLine("Unubscription from table 8 confirmed", 10000ms));

  // SIGINT makes a client leave properly.
  client7.Signal(SIGINT);
  EXPECT_TRUE(client7.WaitForLine("Unsubscribed from table 7", 5000ms));
  EXPECT_TRUE(client7.WaitForLine("Disconnected", 5000ms));
  EXPECT_EQ(client7.Wait(5000ms), 0);
  ASSERT_TRUE(gateway.WaitForLine("Unubscription from table 7 confirmed", 10000ms));

  // SIGTERM ends the gateway through the form's destruction, which saves its INI values.
  EXPECT_EQ(test::Terminate(gateway), 0);
  std::string ini = Relaygate.ReadIni();
  EXPECT_NE(ini.find("[MainWindow]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Interval=1"), std::string::npos) << ini;
  db->WriteStdin("quit\n");
}

// Ids the system or a window class keeps for one window (WM_CLOSE, WM_QUIT
// and WM_DESTROY among them, the socket and form windows' own, an
// application's and the library controls' ranges), broadcast with made-up
// parameters, reach nobody and fail at the sender: every program of the chain
// serves on and the notifications arrive.
TEST_F(GatewayChainTest, BroadcastsOfSystemAndPrivateIdsEndNoProgramOfTheChain) {
  auto server = StartServer();
  ChildProcess gateway(Relaygate.Path(), {"E2E"});
  ASSERT_TRUE(gateway.WaitForLine("Connected to Notify Server at ", 20000ms));
  ChildProcess client(test::BinPath("notifylistener"), {"E2E", "7"});
  ASSERT_TRUE(client.WaitForLine("Subscribed to table 7 (1)", 10000ms));
  ASSERT_TRUE(Printed(gateway, "Subscription to table 7 confirmed", 10000ms));
  auto db = StartDbSide();
  const struct { int first, last; } ranges[] = {{0, 0x4FF}, {0x8000, 0x80FF}, {0xB000, 0xB0FF}};
  for (auto r : ranges) {
    ASSERT_TRUE(db->WriteStdin("broadcast " + std::to_string(r.first) + " " +
                               std::to_string(r.last) + "\n"));
    EXPECT_EQ(db->ReadLine(10000ms), "refused " + std::to_string(r.last - r.first + 1));
  }
  Run(*db, "7 I 1 20 commit");
  EXPECT_EQ(NextEvent(client), "NotifyServerState 1");
  for (uint32_t v = 1; v <= 20; ++v) ASSERT_EQ(NextEvent(client), Notification(7, 'I', v));
  EXPECT_TRUE(server->Running());
  EXPECT_TRUE(gateway.Running());
  EXPECT_TRUE(client.Running());
  db->WriteStdin("quit\n");
}

// A reader of a program's output that goes away (beaconhub | head) must not
// end the program: with both outputs closed, notifications still pass.
TEST_F(GatewayChainTest, ServerAndGatewayRunOnWhenTheReaderOfTheirOutputGoesAway) {
  auto server = StartServer();
  ASSERT_TRUE(server->WaitForLine("Listening for clients", 20000ms));
  server->CloseOutput();
  ChildProcess gateway(Relaygate.Path(), {"E2E"});
  ASSERT_TRUE(gateway.WaitForLine("Connected to Notify Server at ", 20000ms));
  gateway.CloseOutput();
  // Both log the new client and its subscription: lines into the closed pipes.
  ChildProcess client(test::BinPath("notifylistener"), {"E2E", "7"});
  ASSERT_TRUE(client.WaitForLine("Subscribed to table 7 (1)", 10000ms));
  EXPECT_EQ(NextEvent(client), "NotifyServerState 1");
  auto db = StartDbSide();
  Run(*db, "7 I 1 3 commit");
  for (uint32_t v = 1; v <= 3; ++v) ASSERT_EQ(NextEvent(client), Notification(7, 'I', v));
  EXPECT_TRUE(server->Running());
  EXPECT_TRUE(gateway.Running());
  db->WriteStdin("quit\n");
  EXPECT_EQ(test::Terminate(gateway), 0);
  EXPECT_EQ(test::Terminate(*server), 0);
}

// One transaction far larger than a client's queue holds. The listener that
// reads gets all of it in order; the one stopped during it is dropped once it
// takes nothing for a while, and after SIGCONT it says what happened,
// subscribes again and gets what is committed after.
TEST_F(GatewayChainTest, ABurstReachesAReadingClientWholeAndAStoppedOneIsToldItWasDropped) {
  auto server = StartServer();
  ChildProcess gateway(Relaygate.Path(), {"E2E"});
  ASSERT_TRUE(gateway.WaitForLine("Connected to Notify Server at ", 20000ms));
  ChildProcess live(test::BinPath("notifylistener"), {"E2E", "7"});
  ChildProcess stopped(test::BinPath("notifylistener"), {"E2E", "7", "9"});
  ASSERT_TRUE(live.WaitForLine("Subscribed to table 7 (1)", 10000ms));
  ASSERT_TRUE(stopped.WaitForLine("Subscribed to table 9 (1)", 10000ms));
  ASSERT_TRUE(Printed(gateway, "Subscription to table 9 confirmed", 10000ms));
  auto db = StartDbSide();
  constexpr uint32_t kBurst = 60000;
  Run(*db, "7 I 0 " + std::to_string(kBurst) + " commit", 120000ms);
  uint32_t stoppedNext = 0;
  ASSERT_TRUE(test::ReadInOrderUntil(stopped, 7, 'I', &stoppedNext, "Notification ", 20000ms));
  stopped.Signal(SIGSTOP);
  ASSERT_TRUE(test::WaitStopped(stopped.Pid()));
  // The live listener is not read for a moment: its output fills and it takes
  // nothing meanwhile, as a reader slower than the gateway does, while the
  // gateway gets the whole burst.
  std::this_thread::sleep_for(1s);

  uint32_t liveNext = 0;
  ASSERT_TRUE(test::ReadInOrderUntil(live, 7, 'I', &liveNext, Notification(7, 'I', kBurst - 1), 60000ms))
      << "next expected " << liveNext;
  auto drop = gateway.WaitForLine("Dropping client (", 30000ms);
  ASSERT_TRUE(drop);
  EXPECT_NE(drop->find("): it took no message for "), std::string::npos) << *drop;
  ASSERT_TRUE(gateway.WaitForLine("No more clients for table 9", 10000ms));

  // What was in its queue comes first, in order, then the notice of the drop.
  stopped.Signal(SIGCONT);
  ASSERT_TRUE(test::ReadInOrderUntil(stopped, 7, 'I', &stoppedNext, "NotifyServerState 2", 60000ms))
      << "next expected " << stoppedNext;
  EXPECT_LT(stoppedNext, kBurst);
  EXPECT_EQ(stopped.ReadLine(10000ms),
            "Notifications lost: the gateway dropped this client because it took no notification for a while; "
            "resubscribed to table 7 (1), table 9 (1)");
  EXPECT_EQ(NextEvent(stopped), "NotifyServerState 1");
  ASSERT_TRUE(gateway.WaitForLine("Subscription to table 9 confirmed", 10000ms));
  Run(*db, "9 C 500 1 commit");
  Run(*db, "7 D 70000 1 commit");
  EXPECT_EQ(NextEvent(stopped), Notification(9, 'C', 500));
  EXPECT_EQ(NextEvent(stopped), Notification(7, 'D', 70000));
  EXPECT_EQ(NextEvent(live), Notification(7, 'D', 70000));
  db->WriteStdin("quit\n");
}

// Another program of the session posts every window of the chain's four
// programs (forms, controls, hidden socket, timer, tray and channel windows)
// each private id with any parameters, and close, quit and destroy requests,
// while notifications flow. On both channels it also speaks in the others'
// names: it disconnects, subscribes and unsubscribes their clients, connects
// someone else's window and tells the clients that their server went down
// or that another window serves. Nothing may be lost: every notification
// arrives once and in order, every program runs on, the client keeps its
// server and its subscription until it leaves itself, the notify server
// still greets a new gateway, the database side still gets transaction ids,
// also from a restarted server (which finds it only through its channel
// window), and each kind of ignored message is told once, not once per message.
TEST_F(GatewayChainTest, StrayMessagesFromAnotherProgramLoseNothingAndEndNothing) {
  const std::vector<std::string> debug = {"VEXA_DEBUG=1"};
  auto server = StartServer(debug);
  ChildProcess gateway(Relaygate.Path(), {"E2E"}, debug, true);
  ASSERT_TRUE(gateway.WaitForLine("Connected to Notify Server at ", 20000ms));
  ChildProcess client(test::BinPath("notifylistener"), {"E2E", "7"}, debug, true);
  ASSERT_TRUE(client.WaitForLine("Subscribed to table 7 (1)", 10000ms));
  ASSERT_TRUE(Printed(gateway, "Subscription to table 7 confirmed", 10000ms));
  auto db = StartDbSide({"notifier"});

  std::vector<plat::HWND> windows;
  for (pid_t pid : {server->Pid(), gateway.Pid(), client.Pid(), db->Pid()}) {
    const std::vector<plat::HWND> own = test::WindowsOf(pid);
    EXPECT_FALSE(own.empty());
    windows.insert(windows.end(), own.begin(), own.end());
  }
  TVexaIPCClient notifyServer("NotifyServerIPC");
  TVexaIPCClient channel("E2E");
  ASSERT_TRUE(notifyServer.FindServer(10000) && channel.FindServer(10000));
  const plat::HWND serverWindow = notifyServer.ServerHandle();
  const plat::HWND gatewayWindow = channel.ServerHandle();
  const std::vector<plat::HWND> dbWindows = test::WindowsOf(db->Pid());
  const std::vector<plat::HWND> clientWindows = test::WindowsOf(client.Pid());
  auto inOthersNames = [&](std::chrono::steady_clock::time_point deadline) {
    return test::PostInOthersNames("NotifyServerIPC", serverWindow, dbWindows, {gatewayWindow}, 7,
                                   deadline) +
           test::PostInOthersNames("E2E", gatewayWindow, clientWindows, dbWindows, 7, deadline);
  };
  std::atomic<bool> done{false};
  int taken = 0;
  int forged = 0;
  std::thread stray([&] {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    // First from a thread that has talked to nobody: its broadcasts go over
    // connections of their own; then again over the ones its posts made.
    forged = inOthersNames(deadline);
    taken = test::PostStrayMessages(windows, 7, deadline);
    forged += inOthersNames(deadline);
    done = true;
  });
  uint32_t sent = 1;
  while (!done && sent < 100000 && !HasFatalFailure()) {
    Run(*db, "7 I " + std::to_string(sent) + " 10 commit");
    sent += 10;
  }
  stray.join();
  EXPECT_GT(taken, static_cast<int>(windows.size()));
  EXPECT_GT(forged, 0);
  Run(*db, "7 I " + std::to_string(sent++) + " 1 commit");
  uint32_t next = 1;
  ASSERT_TRUE(
      test::ReadInOrderUntil(client, 7, 'I', &next, Notification(7, 'I', sent - 1), 30000ms))
      << "next expected " << next;
  for (ChildProcess* p : {server.get(), &gateway, &client, db.get()})
    EXPECT_TRUE(p->Running()) << p->Pid();

  // A new gateway is greeted and served.
  WriteProviderSettings("E2E2", "127.0.0.1", std::to_string(Port));
  ChildProcess second(Relaygate.Path(), {"E2E2"});
  EXPECT_TRUE(second.WaitForLine("Connected to Notify Server at ", 20000ms));

  // A restarted server reaches the database side and the gateway again.
  server->Signal(SIGKILL);
  server->Wait(5000ms);
  std::vector<std::string> told = IgnoredLines(*server);
  server = StartServer();
  ASSERT_TRUE(gateway.WaitForLine("Subscription to table 7 confirmed", 20000ms));
  std::optional<std::string> answer;
  for (auto until = std::chrono::steady_clock::now() + 10s;
       std::chrono::steady_clock::now() < until;) {
    ASSERT_TRUE(db->WriteStdin("7 I " + std::to_string(sent) + " 1 commit\n"));
    answer = db->ReadLine(10000ms);
    if (answer != "failed") break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(answer, "done 1000");
  EXPECT_TRUE(test::ReadInOrderUntil(client, 7, 'I', &next, Notification(7, 'I', sent), 30000ms))
      << "next expected " << next;

  // Only the client itself lets its table go and leaves: its server heard
  // it, and no window it did not name itself was a client.
  auto count = [&](const std::string& needle) {
    return std::count_if(gateway.Lines().begin(), gateway.Lines().end(),
                         [&](const std::string& l) { return l.find(needle) != std::string::npos; });
  };
  EXPECT_EQ(count("No more clients for table 7") + count("Client disconnected ("), 0);
  client.Signal(SIGINT);
  EXPECT_TRUE(gateway.WaitForLine("Client disconnected (", 10000ms));
  EXPECT_EQ(client.Wait(5000ms), 0);
  EXPECT_EQ(count("No more clients for table 7"), 1);
  EXPECT_EQ(count("New client ("), 1);
  EXPECT_EQ(count("Relaying Subscription Request (7)"), 1);

  EXPECT_EQ(test::Terminate(gateway), 0);
  for (ChildProcess* p : {&gateway, &client}) {
    const std::vector<std::string> more = IgnoredLines(*p);
    told.insert(told.end(), more.begin(), more.end());
  }
  std::set<std::string> once;
  for (const std::string& l : told) EXPECT_TRUE(once.insert(l).second) << "told again: " << l;
  std::string all;
  for (const std::string& l : told) all += l + "\n";
  for (const std::string kind :
       {"a connect naming a window of another program sent to the channel window of \"NotifyServerIPC\"",
        "a disconnect naming a window of another program sent to the channel window of \"E2E\"",
        "a \"Subscription\" 'S' naming a window of another program",
        "a \"Subscription\" 'U' naming a window of another program",
        "a server-down naming a window of another program sent to the client window of channel \"E2E\"",
        "a server-up naming a window of another program sent to the client window of channel \"E2E\""}) {
    EXPECT_NE(all.find("Ignored " + kind), std::string::npos) << kind << " in\n" << all;
  }
  db->WriteStdin("quit\n");
}

}  // namespace
}  // namespace vexa
