// labels: integration
// timeout: 120
// A local client stopped with SIGSTOP beside a live one on a real relaygate:
// the live client gets every notification without the gateway waiting on the
// stopped one, and the stopped one loses its subscriptions once its queue is
// full, so its last table is let go at the notify server.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "gateway/KWVReg.h"
#include "tests/gateway/ScriptedServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ScriptedConnection;
using test::ScriptedServer;
using test::WireRecord;
using Clock = std::chrono::steady_clock;

constexpr int kFirstBurst = 3000;
constexpr int kBatch = 1000;
constexpr int kMaxBatches = 12;  // the receiving queue takes at least 10,000 posts

std::string Records(int from, int count) {
  std::string s;
  for (int v = from; v < from + count; ++v) s += WireRecord(v, 5, 'I');
  return s;
}

// Reads the listener's lines until the notification with value last came;
// every notification line read is checked to carry the next value.
bool ReadUpTo(ChildProcess& listener, int last, int* next, Clock::time_point deadline) {
  while (*next <= last) {
    if (Clock::now() >= deadline) return false;
    auto line = listener.ReadLine(100ms);
    if (!line || line->rfind("Notification table=5", 0) != 0) continue;
    EXPECT_EQ(*line, "Notification table=5 code=I value=" + std::to_string(*next));
    ++*next;
  }
  return true;
}

TEST(StoppedClient, LiveClientGetsEveryRecordAndTheStoppedOneLosesItsTables) {
  test::TestSession session;
  std::atomic<int> released{0};  // batches after the first burst the script may send
  ScriptedServer server({[&](ScriptedConnection& c) {
    c.Send("VEXA Notify Server\r\n");
    if (!c.WaitFor("S 5\r\n") || !c.WaitFor("S 12\r\n")) return;
    c.Send(WireRecord(0, 5, 'S') + WireRecord(0, 12, 'S'));
    if (!server.WaitForGo(30000)) return;
    c.Send(Records(0, kFirstBurst));
    for (int sent = 0; sent < kMaxBatches && !server.Stopping();) {
      if (released.load() > sent) {
        c.Send(Records(kFirstBurst + sent * kBatch, kBatch));
        ++sent;
      } else {
        c.Pause(2);
      }
    }
    c.HoldOpen();
  }});
  const std::string relaygate = test::CopyProgram("relaygate", session.Root() + "/bin");
  WriteProviderSettings("Desk", "127.0.0.1", std::to_string(server.Port()));

  ChildProcess gateway(relaygate, {"Desk"});
  ASSERT_TRUE(gateway.WaitForLine("Sending current subscription list: Empty", 10000ms));
  ChildProcess stopped(test::BinPath("notifylistener"), {"Desk", "5", "12"});
  ASSERT_TRUE(stopped.WaitForLine("Subscribed to table 12 (1)", 10000ms));
  ChildProcess live(test::BinPath("notifylistener"), {"Desk", "5"});
  ASSERT_TRUE(live.WaitForLine("Subscribed to table 5 (1)", 10000ms));
  ASSERT_TRUE(gateway.WaitForLine("Subscription to table 12 confirmed", 10000ms));
  stopped.Signal(SIGSTOP);
  ASSERT_TRUE(test::WaitStopped(stopped.Pid()));

  // The first burst reaches the live client at once: posts to the stopped one
  // neither wait nor fail yet.
  int next = 0;
  server.Go = true;
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(ReadUpTo(live, kFirstBurst - 1, &next, start + 10s)) << "got " << next;
  std::printf("live client got %d records in %.3f s beside a stopped one\n", kFirstBurst,
              std::chrono::duration<double>(Clock::now() - start).count());

  // More, a batch at a time, until the stopped client's queue is full: its
  // failed post drops it from both tables, and table 12 is let go.
  int batches = 0;
  while (batches < kMaxBatches && server.Received(0).find("U 12\r\n") == std::string::npos) {
    released = ++batches;
    ASSERT_TRUE(ReadUpTo(live, kFirstBurst + batches * kBatch - 1, &next, Clock::now() + 10s))
        << "got " << next;
  }
  auto deadline = Clock::now() + 5s;
  while (server.Received(0).find("U 12\r\n") == std::string::npos && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(server.Received(0), "S 5\r\nS 12\r\nU 12\r\n");
  EXPECT_GE(kFirstBurst + batches * kBatch, 10000);
  EXPECT_TRUE(gateway.WaitForLine("No more clients for table 12", 5000ms));

  // The live client keeps its table and got every record, in order.
  EXPECT_EQ(next, kFirstBurst + batches * kBatch);

  stopped.Signal(SIGKILL);
  stopped.Wait(5000ms);
  live.Signal(SIGINT);
  EXPECT_EQ(live.Wait(5000ms), 0);
  gateway.Signal(SIGTERM);
  EXPECT_EQ(gateway.Wait(10000ms), 0);
}

}  // namespace
}  // namespace vexa
