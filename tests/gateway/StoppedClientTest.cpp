// labels: integration
// timeout: 120
// A local client stopped with SIGSTOP beside a live one on a real relaygate
// whose INI bounds a client's backlog: the live client gets every notification
// without the gateway waiting on the stopped one; the stopped one is let go
// only once more than the bound waits for it, its last table is let go at the
// notify server, and after SIGCONT it is told so and subscribes again.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "gateway/KWVReg.h"
#include "tests/gateway/ScriptedServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ScriptedConnection;
using test::ScriptedServer;
using test::WireRecord;

constexpr int kBatch = 1000;
constexpr int kMaxBatches = 25;
constexpr int kBacklogKB = 64;  // 5461 waiting posts of 12 bytes

std::string Records(int from, int count) {
  std::string s;
  for (int v = from; v < from + count; ++v) s += WireRecord(v, 5, 'I');
  return s;
}

TEST(StoppedClient, LiveClientGetsEveryRecordAndTheStoppedOneIsDroppedPastTheBoundAndTold) {
  test::TestSession session;
  std::atomic<int> released{0};  // batches the script may send
  ScriptedServer server({[&](ScriptedConnection& c) {
    c.Send("VEXA Notify Server\r\n");
    if (!c.WaitFor("S 5\r\n") || !c.WaitFor("S 12\r\n")) return;
    c.Send(WireRecord(0, 5, 'S') + WireRecord(0, 12, 'S'));
    for (int sent = 0; sent < kMaxBatches && !server.Stopping();) {
      if (released.load() > sent) {
        c.Send(Records(sent * kBatch, kBatch));
        ++sent;
      } else if (c.WaitFor("U 12\r\nS 12\r\n", 5)) {
        break;
      }
    }
    // Told it was dropped, the stopped client asks for table 12 again.
    if (c.WaitFor("U 12\r\nS 12\r\n", 60000)) c.Send(WireRecord(0, 12, 'S') + WireRecord(777, 12, 'C'));
    c.HoldOpen();
  }});
  const test::ProgramCopy relaygate("relaygate", session.Root() + "/bin",
                                    "[Client]\nMaxBacklogKB=" + std::to_string(kBacklogKB) + "\n");
  WriteProviderSettings("Desk", "127.0.0.1", std::to_string(server.Port()));

  ChildProcess gateway(relaygate.Path(), {"Desk"});
  ASSERT_TRUE(gateway.WaitForLine("Sending current subscription list: Empty", 10000ms));
  ChildProcess stopped(test::BinPath("notifylistener"), {"Desk", "5", "12"});
  ASSERT_TRUE(stopped.WaitForLine("Subscribed to table 12 (1)", 10000ms));
  ChildProcess live(test::BinPath("notifylistener"), {"Desk", "5"});
  ASSERT_TRUE(live.WaitForLine("Subscribed to table 5 (1)", 10000ms));
  ASSERT_TRUE(gateway.WaitForLine("Subscription to table 12 confirmed", 10000ms));
  stopped.Signal(SIGSTOP);
  ASSERT_TRUE(test::WaitStopped(stopped.Pid()));

  // A batch at a time, read whole by the live client, until the stopped one
  // is let go and with it table 12.
  int batches = 0;
  uint32_t next = 0;
  while (batches < kMaxBatches && server.Received(0).find("U 12\r\n") == std::string::npos) {
    released = ++batches;
    ASSERT_TRUE(test::ReadInOrderUntil(live, 5, 'I', &next, test::NotificationLine(5, 'I', batches * kBatch - 1),
                                       10000ms))
        << "next expected " << next;
  }
  auto drop = gateway.WaitForLine("Dropping client (", 10000ms);
  ASSERT_TRUE(drop);
  EXPECT_NE(drop->find("): more than 64 KB waited for it"), std::string::npos) << *drop;
  EXPECT_TRUE(gateway.WaitForLine("No more clients for table 12", 5000ms));
  // Its queue took some 10,000 posts and its backlog the bound before that.
  EXPECT_GE(batches * kBatch, 9000 + kBacklogKB * 1024 / 12);

  // Resumed, it reads what its queue held, in order, and learns the rest was lost.
  stopped.Signal(SIGCONT);
  uint32_t stoppedNext = 0;
  auto lost = test::ReadInOrderUntil(stopped, 5, 'I', &stoppedNext, "Notifications lost: ", 30000ms);
  ASSERT_TRUE(lost) << "next expected " << stoppedNext;
  EXPECT_EQ(*lost, "Notifications lost: the gateway dropped this client because more notifications waited for it "
                   "than the gateway keeps; resubscribed to table 5 (1), table 12 (1)");
  EXPECT_LT(stoppedNext, static_cast<uint32_t>(batches * kBatch));
  EXPECT_TRUE(stopped.WaitForLine(test::NotificationLine(12, 'C', 777), 10000ms));
  EXPECT_EQ(server.Received(0), "S 5\r\nS 12\r\nU 12\r\nS 12\r\n");

  stopped.Signal(SIGINT);
  EXPECT_EQ(stopped.Wait(5000ms), 0);
  live.Signal(SIGINT);
  EXPECT_EQ(live.Wait(5000ms), 0);
  EXPECT_EQ(test::Terminate(gateway), 0);
}

}  // namespace
}  // namespace vexa
