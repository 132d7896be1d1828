// labels: e2e
// timeout: 120
// The gateway relaygate dies (SIGKILL) or is stopped (SIGTERM) and is started
// again while the local client program notifylistener runs: the client joins
// the new gateway, subscribes again, says so, and receives everything
// committed after the gateway's return.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gateway/KWVReg.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

// The client's next notification line, state lines skipped; "" when none came.
std::string NextNotification(ChildProcess& p) {
  while (auto line = p.ReadLine(15000ms)) {
    if (line->rfind("Notification ", 0) == 0) return *line;
  }
  return "";
}

std::string Notification(char code, uint32_t value) {
  return "Notification table=7 code=" + std::string(1, code) + " value=" + std::to_string(value);
}

void Commit(ChildProcess& db, const std::string& line) {
  ASSERT_TRUE(db.WriteStdin(line + "\n"));
  auto answer = db.ReadLine(10000ms);
  ASSERT_TRUE(answer.has_value());
  ASSERT_EQ(answer->rfind("done ", 0), 0u) << *answer;
}

TEST(GatewayRestart, TheClientJoinsTheRestartedGatewayAndReceivesWhatFollows) {
  test::TestSession session;
  const std::string dir = session.Root() + "/programs";
  const int port = test::FreeTcpPort();
  const test::ProgramCopy beaconhub("beaconhub", dir, "[Server]\nAddress=127.0.0.1\nPort=" + std::to_string(port) +
                                                          "\nMaxClients=0\n[Client]\nFlushInterval=20\n");
  WriteProviderSettings("E2E", "127.0.0.1", std::to_string(port));
  const test::ProgramCopy relaygate("relaygate", dir, "[Connection Polling]\nDuration=0\nInterval=1\n");
  const std::string connected = "Connected to Notify Server at 127.0.0.1:" + std::to_string(port);

  ChildProcess server(beaconhub.Path(), {});
  auto gateway = std::make_unique<ChildProcess>(relaygate.Path(), std::vector<std::string>{"E2E"});
  ASSERT_TRUE(gateway->WaitForLine(connected, 20000ms));
  ChildProcess client(test::BinPath("notifylistener"), {"E2E", "7"});
  ASSERT_TRUE(client.WaitForLine("Subscribed to table 7 (1)", 10000ms));
  ASSERT_TRUE(gateway->WaitForLine("Subscription to table 7 confirmed", 10000ms));
  ChildProcess db(test::BinPath("ChainDbSidePeer"), {});
  ASSERT_TRUE(db.WaitForLine("ready", 20000ms));
  Commit(db, "7 I 1 3 commit");
  for (uint32_t v = 1; v <= 3; ++v) ASSERT_EQ(NextNotification(client), Notification('I', v));

  uint32_t first = 100;
  for (int sig : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(sig == SIGKILL ? "gateway killed" : "gateway stopped");
    gateway->Signal(sig);
    ASSERT_TRUE(gateway->Wait(10000ms).has_value());
    // Committed while no gateway runs: nobody can receive it.
    Commit(db, "7 D 1 1 commit");
    gateway = std::make_unique<ChildProcess>(relaygate.Path(), std::vector<std::string>{"E2E"});
    ASSERT_TRUE(client.WaitForLine("Reconnected to channel E2E, resubscribed to table 7 (1)", 15000ms));
    ASSERT_TRUE(gateway->WaitForLine("Subscription to table 7 confirmed", 20000ms));
    Commit(db, "7 C " + std::to_string(first) + " 4 commit");
    for (uint32_t v = first; v < first + 4; ++v) ASSERT_EQ(NextNotification(client), Notification('C', v));
    first += 100;
  }

  // It still leaves in order, from the gateway it joined last.
  client.Signal(SIGINT);
  EXPECT_TRUE(client.WaitForLine("Unsubscribed from table 7", 5000ms));
  EXPECT_EQ(client.Wait(5000ms), 0);
  EXPECT_TRUE(gateway->WaitForLine("Unubscription from table 7 confirmed", 10000ms));
  db.WriteStdin("quit\n");
}

}  // namespace
}  // namespace vexa
