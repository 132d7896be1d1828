// labels: integration
// timeout: 120
// The local client program notifylistener on a real relaygate, which talks to
// a scripted notify server.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>

#include "gateway/KWVReg.h"
#include "tests/gateway/ScriptedServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Files.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ScriptedConnection;
using test::ScriptedServer;
using test::WireRecord;

TEST(NotifyListener, PrintsWhatTheGatewayRelaysAndLeavesProperlyOnSigint) {
  test::TestSession session;
  ScriptedServer server({[&](ScriptedConnection& c) {
    c.Send("VEXA Notify Server\r\n");
    if (!c.WaitFor("S 12\r\n")) return;
    c.Send(WireRecord(0, 5, 'S') + WireRecord(0, 12, 'S'));
    server.WaitForGo();
    c.Send(WireRecord(42, 5, 'I') + WireRecord(-7, 12, 'D') + WireRecord(43, 5, 'C'));
    c.HoldOpen();
  }});
  const test::ProgramCopy relaygate("relaygate", session.Root() + "/bin");
  WriteProviderSettings("Desk", "127.0.0.1", std::to_string(server.Port()));

  ChildProcess gateway(relaygate.Path(), {"Desk"});
  ASSERT_TRUE(gateway.WaitForLine("Sending current subscription list: Empty", 10000ms));
  ChildProcess listener(test::BinPath("notifylistener"), {"Desk", "5", "12"});
  ASSERT_TRUE(listener.WaitForLine("Connected to channel Desk", 10000ms));
  ASSERT_TRUE(listener.WaitForLine("Subscribed to table 5 (1)", 5000ms));
  ASSERT_TRUE(listener.WaitForLine("Subscribed to table 12 (1)", 5000ms));
  ASSERT_TRUE(gateway.WaitForLine("Subscription to table 12 confirmed", 10000ms));
  server.Go = true;
  // The state line came when the listener connected; the notifications follow in order.
  ASSERT_TRUE(listener.WaitForLine("Notification table=5 code=C value=43", 10000ms));
  std::vector<std::string> events;
  for (const std::string& l : listener.Lines()) {
    if (l.rfind("Notif", 0) == 0) events.push_back(l);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"NotifyServerState 1", "Notification table=5 code=I value=42",
                                              "Notification table=12 code=D value=4294967289",
                                              "Notification table=5 code=C value=43"}));

  listener.Signal(SIGINT);
  EXPECT_TRUE(listener.WaitForLine("Unsubscribed from table 12", 5000ms));
  EXPECT_TRUE(listener.WaitForLine("Disconnected", 5000ms));
  EXPECT_EQ(listener.Wait(5000ms), 0);
  ASSERT_TRUE(gateway.WaitForLine("Client disconnected", 5000ms));
  // Both tables were let go at the server.
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (server.Received(0).find("U 12\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(server.Received(0), "S 5\r\nS 12\r\nU 5\r\nU 12\r\n");

  EXPECT_EQ(test::Terminate(gateway), 0);
}

// Damaged registered message names: ids read from them would differ from those
// the gateway holds. A client joining afterwards, and a gateway starting
// afterwards, each say they cannot use the channel; the file stays as it is.
TEST(NotifyListener, DamagedMessageNamesAreReportedByClientAndChannel) {
  test::TestSession session;
  const test::ProgramCopy relaygate("relaygate", session.Root() + "/bin",
                                    "[Connection Polling]\nInterval=0\n");
  WriteProviderSettings("Desk", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  WriteProviderSettings("Late", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  ChildProcess gateway(relaygate.Path(), {"Desk"});
  ASSERT_TRUE(gateway.WaitForLine(" Checking for Notify Server", 10000ms));
  const std::string atoms = session.SessionDir() + "/atoms";
  const std::string damaged = std::string(
                                  "\x04\x00"
                                  "Desk"
                                  "\xff\xff",
                                  8) +
                              test::ReadFile(atoms);
  test::WriteFile(atoms, damaged);

  ChildProcess listener(test::BinPath("notifylistener"), {"Desk", "1"}, {}, true);
  EXPECT_EQ(listener.Wait(10000ms), 1);
  EXPECT_TRUE(listener.WaitForLine(
      "notifylistener: the registered message names in " + atoms +
          " are damaged at byte 6; no new name can be registered until the session's programs end "
          "and the file is removed",
      5000ms));
  EXPECT_TRUE(listener.WaitForLine("cannot open the channel Desk", 5000ms));

  ChildProcess late(relaygate.Path(), {"Late"});
  EXPECT_TRUE(
      late.WaitForLine("SIPC:: Cannot serve channel \"Late\": its message names could not be "
                       "registered (error 1392)",
                       10000ms));
  // It survives: its TCP side polls on, and it ends as asked.
  EXPECT_TRUE(late.WaitForLine(" Checking for Notify Server", 10000ms));
  EXPECT_EQ(test::Terminate(late), 0);
  EXPECT_EQ(test::ReadFile(atoms), damaged);
  EXPECT_EQ(test::Terminate(gateway), 0);
}

TEST(NotifyListener, SaysOnceWhichChannelItWaitsForUntilAGatewayServesIt) {
  test::TestSession session;
  ChildProcess listener(test::BinPath("notifylistener"), {"Desk", "5"});
  ASSERT_TRUE(listener.WaitForLine("Waiting for the gateway of channel Desk", 10000ms));
  // A gateway for the channel; its notify server never answers.
  WriteProviderSettings("Desk", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  ChildProcess gateway(test::ProgramCopy("relaygate", session.Root() + "/bin").Path(), {"Desk"});
  ASSERT_TRUE(listener.WaitForLine("Subscribed to table 5 (1)", 20000ms));
  EXPECT_EQ(test::CountLines(listener, "Waiting for"), 1);
  EXPECT_EQ(test::Terminate(gateway), 0);
}

TEST(NotifyListener, RefusesTableIdsOutsideOneTo255) {
  ChildProcess p(test::BinPath("notifylistener"), {"Desk", "0"}, {}, true);
  EXPECT_EQ(p.Wait(5000ms), 2);
  ChildProcess q(test::BinPath("notifylistener"), {"Desk", "256"}, {}, true);
  EXPECT_EQ(q.Wait(5000ms), 2);
}

}  // namespace
}  // namespace vexa
