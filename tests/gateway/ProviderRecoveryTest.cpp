// labels: integration
// timeout: 120
// The gateway finds its way back from servers that misbehave: a wrong greeting
// followed by a flood, an address that does not resolve, a connection that is
// accepted but never greeted.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "gateway/KWVReg.h"
#include "gateway/VexaKWVProvider.h"
#include "platform/msg/Msg.h"
#include "tests/gateway/ScriptedServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MessagePump.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using test::PumpFor;
using test::PumpUntil;

using namespace std::chrono_literals;
using test::ChildProcess;
using test::CountLines;
using test::ScriptedConnection;
using test::ScriptedServer;

class ProviderRecoveryTest : public ::testing::Test {
protected:
  test::TestSession Session;
  test::ProgramCopy Gateway{"relaygate", Session.Root() + "/bin", "[Connection Polling]\nInterval=1\n"};
};

TEST_F(ProviderRecoveryTest, WrongGreetingFollowedByAFloodIsTracedOncePerSession) {
  ScriptedServer server({[](ScriptedConnection& c) {
    c.Send("HELLO I am something else\r\n" + std::string(1 << 20, 'x'));
    c.HoldOpen();
  }});
  WriteProviderSettings("Flood", "127.0.0.1", std::to_string(server.Port()));
  ChildProcess p(Gateway.Path(), {"Flood"});
  const std::string refused = "Server at 127.0.0.1:" + std::to_string(server.Port()) + " was not recognized";
  ASSERT_TRUE(p.WaitForLine(refused, 10000ms));
  ASSERT_TRUE(p.WaitForLine("Connection Closed", 10000ms));
  EXPECT_EQ(CountLines(p, "was not recognized"), 1);
  // The next session (750 ms later) is refused the same way, once.
  ASSERT_TRUE(p.WaitForLine(refused, 10000ms));
  ASSERT_TRUE(p.WaitForLine("Connection Closed", 10000ms));
  EXPECT_EQ(CountLines(p, "was not recognized"), 2);
  EXPECT_EQ(test::Terminate(p), 0);
}

TEST_F(ProviderRecoveryTest, UnresolvableAddressKeepsPollingAndTracesTheResolversReason) {
  WriteProviderSettings("Lost", "no-such-host.invalid", "5500");
  ChildProcess p(Gateway.Path(), {"Lost"});
  const std::string cannot = "Cannot resolve Notify Server address \"no-such-host.invalid\": ";
  auto first = p.WaitForLine(cannot, 10000ms);
  ASSERT_TRUE(first);
  // The reason is the resolver's own text, not an error number of nothing.
  const std::string reason = first->substr(first->find(cannot) + cannot.size());
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(reason.find("Error #"), std::string::npos) << reason;
  // Polling goes on at the configured interval.
  ASSERT_TRUE(p.WaitForLine(cannot, 10000ms));
  ASSERT_TRUE(p.WaitForLine(cannot, 10000ms));
  EXPECT_EQ(CountLines(p, "MUXSocket Error"), 0);
  EXPECT_GE(CountLines(p, " Checking for Notify Server"), 3);
  EXPECT_EQ(test::Terminate(p), 0);
}


TEST_F(ProviderRecoveryTest, SessionWithoutGreetingIsClosedAfterTheGreetingTimeoutAndPolledAgain) {
  // The first connection is accepted and never served; the second is greeted.
  ScriptedServer server({[](ScriptedConnection& c) { c.HoldOpen(); },
                         [](ScriptedConnection& c) {
                           c.Send("VEXA Notify Server\r\n");
                           c.HoldOpen();
                         }});
  std::vector<std::string> traces;
  int disconnects = 0;
  TVexaNotifyProvider p(nullptr);
  p.OnTrace = [&](fw::TObject*, const std::string& t) { traces.push_back(t); };
  p.OnNotifyServerDisconnect = [&](fw::TObject*) { ++disconnects; };
  p.SetStoreGatewayLocation(false);
  p.SetNotifyServerAddress("127.0.0.1");
  p.SetNotifyServerPort(static_cast<uint16_t>(server.Port()));
  p.SetProviderChannel("Quiet");
  p.GreetingTimeout = 300;
  p.SetActive(true);
  auto traced = [&](const std::string& line) { return std::find(traces.begin(), traces.end(), line) != traces.end(); };
  const std::string at = "127.0.0.1:" + std::to_string(server.Port());
  ASSERT_TRUE(
      PumpUntil([&] { return traced("Notify Server at " + at + " sent no greeting within 300 ms"); }));
  ASSERT_TRUE(PumpUntil([&] { return traced("Connected to Notify Server at " + at); }));
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(server.Connections(), 2);
  // A greeted session is not cut off by the time-out.
  const size_t seen = traces.size();
  PumpFor(600ms);
  EXPECT_TRUE(p.SessionUp());
  EXPECT_EQ(std::count(traces.begin() + static_cast<std::ptrdiff_t>(seen), traces.end(), "Connection Closed"), 0);
  p.SetActive(false);
}

}  // namespace
}  // namespace vexa
