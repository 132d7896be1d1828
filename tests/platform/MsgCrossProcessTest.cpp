// labels: integration
// Messages, registered names and mutexes between real processes of one session.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/msg/Msg.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MessagePump.h"
#include "tests/support/MsgPeer.h"
#include "tests/support/TestSession.h"

using namespace plat;
using vexa::test::ChildProcess;
using vexa::test::Hex;
using vexa::test::Peer;
using vexa::test::StartPeer;
using namespace std::chrono_literals;

namespace {

// Waits for a line of the peer while handling this thread's messages.
std::optional<std::string> AwaitPumping(ChildProcess& p, const std::string& needle) {
  std::optional<std::string> line;
  vexa::test::PumpUntil([&] { return (line = p.WaitForLine(needle, 10ms)).has_value(); });
  return line;
}

std::vector<MSG> gReceived;
ChildProcess* gKillWhileHandling = nullptr;  // killed from inside WM_USER + 9
auto gPauseWhileHandling = 0ms;              // the pause of WM_USER + 8, which answers 5

HWND MakeLocalWindow() {
  WNDCLASS wc;
  wc.lpszClassName = "Local";
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == WM_USER) return w * 10 + l;
    if (m == WM_USER + 9 && gKillWhileHandling) {
      gKillWhileHandling->Signal(SIGKILL);
      gKillWhileHandling->Wait(5s);
      return 1;
    }
    if (m == WM_USER + 8) {
      std::this_thread::sleep_for(gPauseWhileHandling);
      return 5;
    }
    if (m >= WM_USER) {
      MSG msg;
      msg.hwnd = h;
      msg.message = m;
      msg.wParam = w;
      msg.lParam = l;
      msg.sender = GetSendingProcess();
      gReceived.push_back(msg);
      return 0;
    }
    return DefWindowProc(h, m, w, l);
  };
  RegisterClass(wc);
  gReceived.clear();  // what an earlier test's window received is not this one's
  return CreateWindowEx(0, "Local", "", 0, 0, 0, 1, 1, 0, 0);
}

}  // namespace

TEST(MsgCrossProcess, PostAndSendBothWays) {
  vexa::test::TestSession session;
  HWND mine = MakeLocalWindow();
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  EXPECT_TRUE(IsWindow(p.top));
  EXPECT_TRUE(IsWindow(p.child));
  // Each post names the process it came from, whether it went over a
  // connection of its own (a broadcast from a sender that has none yet), over
  // the sender's ring, or stayed in this process (0): a message naming a
  // window is checked against the window's owner.
  const uint32_t peerProcess = GetWindowProcess(p.top);
  EXPECT_NE(peerProcess, 0u);
  EXPECT_EQ(GetWindowProcess(p.child), peerProcess);
  EXPECT_NE(GetWindowProcess(mine), peerProcess);
  const UINT id = RegisterWindowMessage("VexaSenderCheck");
  p.proc->WriteStdin("broadcast " + std::to_string(id) + " 1 2\n");
  ASSERT_TRUE(vexa::test::PumpUntil([] { return !gReceived.empty(); }));
  ASSERT_TRUE(PostMessage(mine, WM_USER + 6, 3, 4));
  ASSERT_TRUE(vexa::test::PumpUntil([] { return gReceived.size() == 2; }));
  EXPECT_EQ(gReceived[0].message, id);
  EXPECT_EQ(gReceived[0].sender, peerProcess);
  EXPECT_EQ(gReceived[1].sender, 0u);
  gReceived.clear();
  DWORD pid = 0;
  EXPECT_NE(GetWindowThreadProcessId(p.top, &pid), 0u);
  EXPECT_EQ(pid, static_cast<DWORD>(p.proc->Pid()));

  EXPECT_EQ(SendMessage(p.top, WM_USER, 3, 4), 304);
  LRESULT r = 0;
  EXPECT_TRUE(SendMessageTimeout(p.child, WM_USER, -2, 1, 5000, &r));
  EXPECT_EQ(r, -199);
  ASSERT_TRUE(PostMessage(p.top, WM_USER + 1, 5, 6));
  ASSERT_TRUE(PostMessage(p.top, WM_USER + 1, 7, 8));
  EXPECT_TRUE(p.proc->WaitForLine("GOT 1025 5 6", 5s));
  EXPECT_TRUE(p.proc->WaitForLine("GOT 1025 7 8", 5s));  // in order

  p.proc->WriteStdin("send " + Hex(mine) + " 1024 7 8\n");
  EXPECT_EQ(AwaitPumping(*p.proc, "RESULT "), "RESULT 78 1");
  p.proc->WriteStdin("post " + Hex(mine) + " 1030 9 -10\n");
  EXPECT_EQ(AwaitPumping(*p.proc, "POSTED "), "POSTED 1");
  ASSERT_TRUE(vexa::test::PumpUntil([] { return !gReceived.empty(); }));
  ASSERT_EQ(gReceived.size(), 1u);
  EXPECT_EQ(gReceived[0].message, WM_USER + 6);
  EXPECT_EQ(gReceived[0].wParam, 9);
  EXPECT_EQ(gReceived[0].lParam, -10);
  EXPECT_EQ(gReceived[0].sender, peerProcess);
  // A window destroyed on our side is gone for the peer too.
  DestroyWindow(mine);
  p.proc->WriteStdin("iswindow " + Hex(mine) + "\npost " + Hex(mine) + " 1030 0 0\n");
  EXPECT_EQ(p.proc->WaitForLine("ISWINDOW", 5s), "ISWINDOW 0");
  EXPECT_EQ(p.proc->WaitForLine("POSTED", 5s), "POSTED 0");
}

TEST(MsgCrossProcess, TwoProgramsSendingToEachOtherBothComplete) {
  vexa::test::TestSession session;
  Peer a = StartPeer();
  Peer b = StartPeer();
  ASSERT_NE(a.top, 0u);
  ASSERT_NE(b.top, 0u);
  // Each handler pauses, so both sends are in flight at the same moment.
  a.proc->WriteStdin("send " + Hex(b.top) + " 1027 1 2\n");
  b.proc->WriteStdin("send " + Hex(a.top) + " 1027 3 4\n");
  EXPECT_EQ(a.proc->WaitForLine("RESULT", 10s), "RESULT 102 1");
  EXPECT_EQ(b.proc->WaitForLine("RESULT", 10s), "RESULT 304 1");
}

TEST(MsgCrossProcess, BroadcastReachesEveryTopLevelWindowOfTheSessionOnly) {
  vexa::test::TestSession session;
  vexa::test::TestSession other;  // switches this process to "other" until...
  Peer stranger = StartPeer();
  ASSERT_NE(stranger.top, 0u);
  // ...we point ourselves back at the first session.
  setenv("VEXA_SESSION_DIR", session.SessionDir().c_str(), 1);
  ResetSessionDirForTesting();
  HWND mine = MakeLocalWindow();
  Peer a = StartPeer();
  Peer b = StartPeer();
  ASSERT_NE(a.top, 0u);
  ASSERT_NE(b.top, 0u);
  UINT id = RegisterWindowMessage("VexaBroadcastCheck");
  ASSERT_TRUE(PostMessage(HWND_BROADCAST, id, 11, 12));
  std::string expect = "GOT " + std::to_string(id) + " 11 12";
  EXPECT_TRUE(a.proc->WaitForLine(expect, 5s));
  EXPECT_TRUE(b.proc->WaitForLine(expect, 5s));
  ASSERT_TRUE(vexa::test::PumpUntil([] { return !gReceived.empty(); }));
  ASSERT_EQ(gReceived.size(), 1u);
  EXPECT_EQ(gReceived[0].hwnd, mine);
  for (Peer* p : {&a, &b, &stranger}) {
    p->proc->WriteStdin("drain\n");
    ASSERT_TRUE(p->proc->WaitForLine("DRAINED", 5s));
  }
  // Exactly one copy each (the child windows got none), none in the other session.
  for (Peer* p : {&a, &b}) {
    int got = 0;
    for (auto& l : p->proc->Lines()) got += l.rfind("GOT ", 0) == 0;
    EXPECT_EQ(got, 1);
  }
  for (auto& l : stranger.proc->Lines()) EXPECT_EQ(l.rfind("GOT ", 0), std::string::npos) << l;
}

TEST(MsgCrossProcess, RegisteredNamesGiveTheSameIdInEveryProcessAndCase) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  p.proc->WriteStdin("register DBNotification\n");
  auto line = p.proc->WaitForLine("ID ", 5s);
  ASSERT_TRUE(line);
  UINT theirs = static_cast<UINT>(std::stoul(line->substr(3)));
  UINT trans = RegisterWindowMessage("DBTrans");
  EXPECT_GE(theirs, 0xC000u);
  EXPECT_EQ(RegisterWindowMessage("dbnotification"), theirs);
  EXPECT_NE(trans, theirs);
  p.proc->WriteStdin("register DBTRANS\n");
  EXPECT_EQ(p.proc->WaitForLine("ID ", 5s), "ID " + std::to_string(trans));
}

TEST(MsgCrossProcess, ReceiverKilledDuringSendEndsTheWaitWithFailure) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  std::thread killer([&] {
    if (p.proc->WaitForLine("HANGING", 10s)) p.proc->Signal(SIGKILL);
  });
  SetLastError(0);
  LRESULT r = SendMessage(p.top, WM_USER + 2, 1, 1);
  DWORD err = GetLastError();
  killer.join();
  EXPECT_EQ(r, 0);
  EXPECT_EQ(err, ERROR_INVALID_WINDOW_HANDLE);
  p.proc->Wait(5s);
  EXPECT_FALSE(IsWindow(p.top));
  EXPECT_FALSE(PostMessage(p.top, WM_USER + 1, 0, 0));
  EXPECT_FALSE(SendMessageTimeout(p.top, WM_USER, 0, 0, 1000, &r));
}

// The second post finds the connection of the first hung up and closes it;
// the sanitizer build proves nothing freed is read meanwhile.
TEST(MsgCrossProcess, PostAfterTheReceiverWasKilledFailsAndTheSenderLivesOn) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  ASSERT_TRUE(PostMessage(p.top, WM_USER + 1, 7, 8));
  EXPECT_TRUE(p.proc->WaitForLine("GOT " + std::to_string(WM_USER + 1) + " 7 8", 10s).has_value());
  p.proc->Signal(SIGKILL);
  p.proc->Wait(5s);
  EXPECT_FALSE(PostMessage(p.top, WM_USER + 1, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(PostMessage(p.top, WM_USER + 1, 0, 0));
}

TEST(MsgCrossProcess, TwoProcessesFloodingEachOtherWithPostsBothFinish) {
  vexa::test::TestSession session;
  HWND mine = MakeLocalWindow();
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  // Far more than a socket buffer holds, and what a receiver that reads
  // nothing meanwhile is sure to take.
  constexpr int kPosts = 10000;
  p.proc->WriteStdin("flood " + Hex(mine) + " " + std::to_string(kPosts) + "\n");
  int sent = 0;
  for (int i = 0; i < kPosts; ++i) sent += PostMessage(p.top, WM_USER + 5, i, 0) ? 1 : 0;
  EXPECT_EQ(sent, kPosts);
  EXPECT_EQ(AwaitPumping(*p.proc, "FLOODED"), "FLOODED " + std::to_string(kPosts));
  vexa::test::DispatchQueued();
  ASSERT_EQ(gReceived.size(), static_cast<size_t>(kPosts));
  for (int i = 0; i < kPosts; ++i) ASSERT_EQ(gReceived[i].wParam, i);  // in order
  p.proc->WriteStdin("count\n");
  EXPECT_EQ(p.proc->WaitForLine("COUNT", 10s), "COUNT " + std::to_string(kPosts));
}

// A receiver that reads nothing holds kQuota posts; the next post fails at
// once, and every post it took arrives in order once it runs again.
TEST(MsgCrossProcess, PostsToAStoppedReceiverFailAtOnceBeyondTheQuotaAndNoneBeforeIsLost) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  constexpr int kQuota = 10000;
  // Connected while it runs, and that first post read.
  ASSERT_TRUE(PostMessage(p.top, WM_USER + 5, 0, 0));
  p.proc->WriteStdin("count\n");
  ASSERT_EQ(p.proc->WaitForLine("COUNT", 10s), "COUNT 1");
  p.proc->Signal(SIGSTOP);
  ASSERT_TRUE(vexa::test::WaitStopped(p.proc->Pid()));
  int next = 1;
  while (next <= kQuota + 100 && PostMessage(p.top, WM_USER + 5, next, 0)) ++next;
  EXPECT_EQ(next - 1, kQuota);
  SetLastError(0);
  EXPECT_FALSE(PostMessage(p.top, WM_USER + 5, next, 0));
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
  EXPECT_TRUE(IsWindow(p.top));  // full, not gone
  p.proc->Signal(SIGCONT);
  p.proc->WriteStdin("count\norder\n");
  EXPECT_EQ(p.proc->WaitForLine("COUNT", 10s), "COUNT " + std::to_string(kQuota + 1));
  EXPECT_EQ(p.proc->WaitForLine("ORDER", 10s), "ORDER -1");
  // Read, it takes posts again, and sends were never refused.
  EXPECT_TRUE(PostMessage(p.top, WM_USER + 5, next, 0));
  EXPECT_EQ(SendMessage(p.top, WM_USER, 4, 2), 402);
  p.proc->WriteStdin("count\norder\n");
  EXPECT_EQ(p.proc->WaitForLine("COUNT", 10s), "COUNT " + std::to_string(kQuota + 2));
  EXPECT_EQ(p.proc->WaitForLine("ORDER", 10s), "ORDER -1");
}

// What a receiver holds of one process's posts counts its own queue as well as
// its ring, whichever thread posted them; what it reads makes room again.
TEST(MsgCrossProcess, AReceiverHoldsTheQuotaOfPostsPerSendingProcessNotPerRingOrThread) {
  vexa::test::TestSession session;
  HWND mine = MakeLocalWindow();
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  p.proc->WriteStdin("flood " + Hex(mine) + " 6000\n");
  ASSERT_EQ(p.proc->WaitForLine("FLOODED", 10s), "FLOODED 6000");
  MSG m;
  // Moves them from the ring into this queue, and reads none.
  EXPECT_FALSE(PeekMessage(&m, 0, WM_USER + 100, WM_USER + 100, PM_NOREMOVE));
  p.proc->WriteStdin("flood " + Hex(mine) + " 6000 thread\n");
  EXPECT_EQ(p.proc->WaitForLine("FLOODED", 10s), "FLOODED 4000");
  vexa::test::DispatchQueued();
  ASSERT_EQ(gReceived.size(), 10000u);
  EXPECT_EQ(gReceived[5999].wParam, 5999);
  EXPECT_EQ(gReceived[9999].wParam, 3999);
  p.proc->WriteStdin("flood " + Hex(mine) + " 10\n");
  EXPECT_EQ(p.proc->WaitForLine("FLOODED", 10s), "FLOODED 10");
}

// More new senders than a stopped receiver's backlog (256) holds: its window
// lives, so each post is taken or refused as full, a send times out, none is
// told "invalid window", and every post taken arrives.
TEST(MsgCrossProcess, NewSendersBeyondWhatAStoppedReceiverAcceptsAreRefusedAsFullNotInvalid) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  p.proc->Signal(SIGSTOP);
  ASSERT_TRUE(vexa::test::WaitStopped(p.proc->Pid()));
  int taken = 0;
  int full = 0;
  for (int i = 0; i < 300; ++i) {  // each thread a connection of its own
    std::thread([&] {
      bool ok = PostMessage(p.top, WM_USER + 5, 0, 0);
      taken += ok;
      full += !ok && GetLastError() == ERROR_NOT_ENOUGH_QUOTA;
    }).join();
  }
  EXPECT_GT(full, 0);
  EXPECT_EQ(taken + full, 300);
  std::thread([&] {
    LRESULT r;
    EXPECT_FALSE(SendMessageTimeout(p.top, WM_USER, 1, 2, 100, &r));
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  }).join();
  EXPECT_TRUE(IsWindow(p.top));
  p.proc->Signal(SIGCONT);
  p.proc->WriteStdin("count\n");
  EXPECT_EQ(p.proc->WaitForLine("COUNT", 10s), "COUNT " + std::to_string(taken));
  EXPECT_EQ(SendMessage(p.top, WM_USER, 4, 2), 402);
}

// Posts a sender made before it was killed are still delivered, in order.
TEST(MsgCrossProcess, PostsOfASenderKilledAfterABurstAllArrive) {
  vexa::test::TestSession session;
  HWND mine = MakeLocalWindow();
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  constexpr int kPosts = 5000;
  // This thread reads nothing meanwhile: the burst waits in shared memory.
  p.proc->WriteStdin("flood " + Hex(mine) + " " + std::to_string(kPosts) + "\n");
  ASSERT_EQ(p.proc->WaitForLine("FLOODED", 10s), "FLOODED " + std::to_string(kPosts));
  p.proc->Signal(SIGKILL);
  p.proc->Wait(5s);
  vexa::test::DispatchQueued();
  ASSERT_EQ(gReceived.size(), static_cast<size_t>(kPosts));
  for (int i = 0; i < kPosts; ++i) ASSERT_EQ(gReceived[i].wParam, i);
  EXPECT_FALSE(PostMessage(p.top, WM_USER + 1, 0, 0));
}

// A sender killed while its send is handled leaves nothing that blocks the
// next sender or this queue.
TEST(MsgCrossProcess, SenderKilledDuringItsSendLeavesTheReceiverServingOthers) {
  vexa::test::TestSession session;
  HWND mine = MakeLocalWindow();
  Peer victim = StartPeer();
  ASSERT_NE(victim.top, 0u);
  gKillWhileHandling = victim.proc.get();
  victim.proc->WriteStdin("send " + Hex(mine) + " 1033 0 0\n");
  // Only waits: the send is handled inside the wait, nothing posted is read.
  vexa::test::PumpUntil([&] { return !victim.proc->Running(); }, vexa::test::kWaitLimit, [] {});
  gKillWhileHandling = nullptr;
  ASSERT_FALSE(victim.proc->Running());
  Peer next = StartPeer();
  ASSERT_NE(next.top, 0u);
  next.proc->WriteStdin("send " + Hex(mine) + " 1024 7 8\npost " + Hex(mine) + " 1030 1 2\n");
  EXPECT_EQ(AwaitPumping(*next.proc, "RESULT "), "RESULT 78 1");
  EXPECT_EQ(AwaitPumping(*next.proc, "POSTED "), "POSTED 1");
  ASSERT_TRUE(vexa::test::PumpUntil([] { return !gReceived.empty(); }));
  ASSERT_EQ(gReceived.size(), 1u);
  EXPECT_EQ(gReceived[0].message, WM_USER + 6);
  EXPECT_EQ(SendMessage(next.top, WM_USER, 5, 6), 506);
}

TEST(MsgCrossProcess, TwoProcessesSendingToEachOtherInALoopBothFinish) {
  vexa::test::TestSession session;
  Peer a = StartPeer();
  Peer b = StartPeer();
  ASSERT_NE(a.top, 0u);
  ASSERT_NE(b.top, 0u);
  constexpr int kRounds = 3000;
  a.proc->WriteStdin("pingpong " + Hex(b.top) + " " + std::to_string(kRounds) + "\n");
  b.proc->WriteStdin("pingpong " + Hex(a.top) + " " + std::to_string(kRounds) + "\n");
  EXPECT_EQ(a.proc->WaitForLine("PINGPONG", 30s), "PINGPONG " + std::to_string(kRounds));
  EXPECT_EQ(b.proc->WaitForLine("PINGPONG", 30s), "PINGPONG " + std::to_string(kRounds));
}

// Posts to many receivers that all went to sleep wake every one of them, also
// while the poster goes on without looking at its queue or posting again.
TEST(MsgCrossProcess, PostsToManySleepingReceiversWakeEachWhileThePosterIsBusy) {
  vexa::test::TestSession session;
  constexpr int kPeers = 8;
  std::vector<Peer> peers;
  for (int i = 0; i < kPeers; ++i) {
    peers.push_back(StartPeer());
    ASSERT_NE(peers.back().top, 0u);
  }
  for (int round = 1; round <= 3; ++round) {
    std::this_thread::sleep_for(50ms);  // long enough for every receiver to sleep
    for (int i = 0; i < kPeers; ++i) ASSERT_TRUE(PostMessage(peers[i].top, WM_USER + 1, round, i));
    // Only reads the receivers' output from here on.
    for (int i = 0; i < kPeers; ++i) {
      const std::string want = "GOT 1025 " + std::to_string(round) + " " + std::to_string(i);
      EXPECT_EQ(peers[i].proc->WaitForLine("GOT", 3s), want) << "round " << round;
    }
  }
}

// A child forked while this process hands wake-ups over gets its posts to a
// sleeping receiver delivered as promptly as its parent.
TEST(MsgCrossProcess, AForkedChildsPostsWakeASleepingReceiver) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  for (int w = 1; w <= 2; ++w) {
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(PostMessage(p.top, WM_USER + 1, w, 0));
    ASSERT_EQ(p.proc->WaitForLine("GOT", 3s), "GOT 1025 " + std::to_string(w) + " 0");
  }
  const HWND target = p.top;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A thread of its own, so a queue and connection of its own; it stays
    // alive past its posts, so that no hang-up wakes the receiver instead.
    std::thread t([target] {
      bool ok = PostMessage(target, WM_USER + 1, 3, 0);
      std::this_thread::sleep_for(100ms);
      ok = PostMessage(target, WM_USER + 1, 4, 0) && ok;
      std::this_thread::sleep_for(4s);
      _exit(ok ? 0 : 1);
    });
    t.join();
    _exit(2);
  }
  EXPECT_EQ(p.proc->WaitForLine("GOT", 3s), "GOT 1025 3 0");
  EXPECT_EQ(p.proc->WaitForLine("GOT", 3s), "GOT 1025 4 0");
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(MsgCrossProcess, SendTimeoutToAHungReceiverFailsAndLaterSendsStillWork) {
  vexa::test::TestSession session;
  Peer hung = StartPeer();
  Peer fine = StartPeer();
  ASSERT_NE(hung.top, 0u);
  LRESULT r = 5;
  EXPECT_FALSE(SendMessageTimeout(hung.top, WM_USER + 2, 0, 0, 100, &r));
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(hung.proc->WaitForLine("HANGING", 5s));
  EXPECT_TRUE(IsWindow(hung.top));  // hung, not dead
  EXPECT_TRUE(SendMessageTimeout(fine.top, WM_USER, 1, 2, 5000, &r));
  EXPECT_EQ(r, 102);
}

// A send given up on is never acted on; one the receiver took already is being
// handled, and its answer is waited for one more time-out.
TEST(MsgCrossProcess, ASendGivenUpOnIsNeverHandledAndOneUnderWayIsAwaited) {
  vexa::test::TestSession session;
  HWND mine = MakeLocalWindow();
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  p.proc->Signal(SIGSTOP);
  ASSERT_TRUE(vexa::test::WaitStopped(p.proc->Pid()));
  LRESULT r = 0;
  EXPECT_FALSE(SendMessageTimeout(p.top, WM_USER + 1, 1, 0, 100, &r));
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  p.proc->Signal(SIGCONT);
  EXPECT_TRUE(SendMessageTimeout(p.top, WM_USER + 1, 2, 0, 5000, &r));
  EXPECT_EQ(p.proc->WaitForLine("GOT", 5s), "GOT 1025 2 0");
  // Its handler sends back here, and that takes longer than the time-out.
  gPauseWhileHandling = 700ms;
  EXPECT_TRUE(SendMessageTimeout(p.top, WM_USER + 4, mine, 1, 500, &r));
  EXPECT_EQ(r, 6);
}

// More sends given up on than replies fit in the ring, answered while their
// sender reads nothing: none runs, and the connection is not cut under the
// send that still waits.
TEST(MsgCrossProcess, SendsGivenUpOnBeyondTheReplyRingNeitherRunNorCutTheConnection) {
  vexa::test::TestSession session;
  HWND mine = MakeLocalWindow();
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  p.proc->WriteStdin("sends " + Hex(mine) + " 1100 0\nsend " + Hex(mine) + " 1024 7 8\n");
  ASSERT_EQ(p.proc->WaitForLine("SENT", 10s), "SENT 0");
  p.proc->Signal(SIGSTOP);
  ASSERT_TRUE(vexa::test::WaitStopped(p.proc->Pid()));
  vexa::test::DispatchQueued();
  p.proc->Signal(SIGCONT);
  EXPECT_EQ(AwaitPumping(*p.proc, "RESULT "), "RESULT 78 1");
  EXPECT_TRUE(gReceived.empty());
}

TEST(MsgCrossProcess, IsWindowTurnsFalseWhenTheOwnerExits) {
  vexa::test::TestSession session;
  Peer quits = StartPeer();
  Peer killed = StartPeer();
  ASSERT_NE(quits.top, 0u);
  ASSERT_NE(killed.top, 0u);
  EXPECT_TRUE(IsWindow(quits.top));
  EXPECT_TRUE(IsWindow(killed.child));
  quits.proc->WriteStdin("quit\n");
  EXPECT_EQ(quits.proc->Wait(5s), 0);
  killed.proc->Signal(SIGKILL);
  killed.proc->Wait(5s);
  for (HWND h : {quits.top, quits.child, killed.top, killed.child}) {
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(PostMessage(h, WM_USER + 1, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  }
  // A broadcast skips the dead and still succeeds.
  EXPECT_TRUE(PostMessage(HWND_BROADCAST, RegisterWindowMessage("VexaBroadcastCheck"), 0, 0));
}

TEST(MsgCrossProcess, NamedEventSetByAnotherProcess) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  p.proc->WriteStdin("setevent VexaReady\n");
  EXPECT_EQ(p.proc->WaitForLine("EVENT", 5s), "EVENT 0 0");  // nobody has made it yet
  HANDLE e = CreateEvent("VexaReady", true, false);
  ASSERT_NE(e, 0u);
  p.proc->WriteStdin("setevent VexaReady\n");
  EXPECT_EQ(p.proc->WaitForLine("EVENT", 5s), "EVENT 1 1");
  EXPECT_TRUE(IsEventSet(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  CloseHandle(e);
}

TEST(MsgCrossProcess, MutexOfAKilledHolderIsAbandoned) {
  vexa::test::TestSession session;
  Peer holder = StartPeer();
  holder.proc->WriteStdin("mutex VEXA_Lumiline_Notify_Server\n");
  EXPECT_EQ(holder.proc->WaitForLine("MUTEX", 5s), "MUTEX 0 0");
  HANDLE m = CreateMutex("VEXA_Lumiline_Notify_Server", false);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT);
  holder.proc->Signal(SIGKILL);
  holder.proc->Wait(5s);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // released properly this time
  // A second program opening it sees "already exists" and cannot take it.
  Peer second = StartPeer();
  second.proc->WriteStdin("mutex VEXA_Lumiline_Notify_Server\n");
  EXPECT_EQ(second.proc->WaitForLine("MUTEX", 5s),
            "MUTEX " + std::to_string(ERROR_ALREADY_EXISTS) + " " + std::to_string(WAIT_TIMEOUT));
  ReleaseMutex(m);
  CloseHandle(m);
}

// A session whose memory file system is full still carries messages both
// ways: the segments of new connections are not taken from it. Memory that
// cannot be taken fails a post with an error instead of killing anyone.
TEST(MsgCrossProcess, ASessionOnAFullMemoryFileSystemStillCarriesMessages) {
  vexa::test::TestSession session;
  const std::string tiny = session.Root() + "/tiny";
  mkdir(tiny.c_str(), 0700);
  // A mount namespace of this thread's own (children started from it share
  // it), so nothing is left mounted once the test process ends.
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", tiny.c_str(), "tmpfs", 0, "size=1536k,mode=0700") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << strerror(errno);
  }
  setenv("VEXA_SESSION_DIR", tiny.c_str(), 1);
  ResetSessionDirForTesting();
  HWND mine = MakeLocalWindow();
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  int fill = open((tiny + "/fill").c_str(), O_WRONLY | O_CREAT, 0600);
  static char chunk[65536];
  while (write(fill, chunk, sizeof chunk) > 0) {
  }
  EXPECT_EQ(errno, ENOSPC);
  close(fill);
  EXPECT_TRUE(PostMessage(p.top, WM_USER + 1, 5, 6));
  EXPECT_EQ(p.proc->WaitForLine("GOT", 10s), "GOT 1025 5 6");
  // Where the memory of a new connection cannot be taken, the post fails
  // with that error and nobody dies; once it can, the connection is made.
  p.proc->WriteStdin("limit " + Hex(mine) + " 1030 1 2\n");
  EXPECT_EQ(AwaitPumping(*p.proc, "LIMITED"),
            "LIMITED 0 " + std::to_string(ERROR_NOT_ENOUGH_MEMORY));
  p.proc->WriteStdin("send " + Hex(mine) + " 1024 7 8\n");
  EXPECT_EQ(AwaitPumping(*p.proc, "RESULT "), "RESULT 78 1");
  EXPECT_TRUE(p.proc->Running());
  p.proc.reset();
  ResetSessionDirForTesting();
  umount2(tiny.c_str(), MNT_DETACH);
}

// A peer that cuts its segment short under the receiver, or leaves nonsense
// indexes in its ring, loses that connection; the receiver serves on.
TEST(MsgCrossProcess, ABrokenPeerLosesItsConnectionAndTheReceiverServesTheOthers) {
  vexa::test::TestSession session;
  HWND mine = MakeLocalWindow();
  Peer hostile = StartPeer();
  Peer fine = StartPeer();
  ASSERT_NE(fine.top, 0u);
  for (std::string how : {"nonsense", "cut"}) {
    hostile.proc->WriteStdin("hostile " + Hex(mine) + " " + how + "\n");
    EXPECT_EQ(AwaitPumping(*hostile.proc, "HOSTILE"), "HOSTILE 1") << how;
  }
  fine.proc->WriteStdin("send " + Hex(mine) + " 1024 7 8\n");
  EXPECT_EQ(AwaitPumping(*fine.proc, "RESULT "), "RESULT 78 1");
  hostile.proc->WriteStdin("send " + Hex(mine) + " 1024 1 2\n");
  EXPECT_EQ(AwaitPumping(*hostile.proc, "RESULT "), "RESULT 12 1");
}

// After fork, parent and child post on connections of their own: every post
// arrives, each sender's in order.
TEST(MsgCrossProcess, PostsOfAParentAndItsForkedChildAllArriveEachInOrder) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  ASSERT_TRUE(PostMessage(p.top, WM_USER + 5, 0, 0));  // connected before the fork
  constexpr int kPosts = 5000;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  const LPARAM sender = child == 0 ? 1 : 0;
  int posted = 0;
  for (int i = 0; i < kPosts; ++i) {
    posted += PostMessage(p.top, WM_USER + 5, i + (sender == 0 ? 1 : 0), sender) ? 1 : 0;
  }
  if (child == 0) _exit(posted == kPosts ? 0 : 1);
  EXPECT_EQ(posted, kPosts);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  p.proc->WriteStdin("count\norder\n");
  EXPECT_EQ(p.proc->WaitForLine("COUNT", 10s), "COUNT " + std::to_string(2 * kPosts + 1));
  EXPECT_EQ(p.proc->WaitForLine("ORDER", 10s), "ORDER -1");
}

// A receiver's forked child holds none of its sockets nor its liveness: once
// the receiver is killed, a send to it fails at once and its window is gone.
TEST(MsgCrossProcess, AReceiverKilledWhileItsForkedChildLivesIsSeenGone) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  EXPECT_EQ(SendMessage(p.top, WM_USER, 1, 2), 102);  // connected before it forks
  p.proc->WriteStdin("fork\n");
  auto forked = p.proc->WaitForLine("FORKED ", 5s);
  ASSERT_TRUE(forked);
  std::thread killer([&] {
    if (p.proc->WaitForLine("HANGING", 10s)) p.proc->Signal(SIGKILL);
  });
  LRESULT r = 0;
  EXPECT_FALSE(SendMessageTimeout(p.top, WM_USER + 2, 0, 0, 30000, &r));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);  // not a time-out
  killer.join();
  p.proc->Wait(5s);
  EXPECT_FALSE(IsWindow(p.top));
  kill(std::stoi(forked->substr(7)), SIGKILL);
}

// The sender's connection still waits to be accepted when the window goes:
// the sender learns of it all the same.
TEST(MsgCrossProcess, PostsToAWindowDestroyedBeforeTheSenderWasAcceptedFail) {
  vexa::test::TestSession session;
  Peer p = StartPeer();
  ASSERT_NE(p.top, 0u);
  p.proc->WriteStdin("hold\n");
  ASSERT_TRUE(p.proc->WaitForLine("HOLDING", 10s));
  ASSERT_TRUE(PostMessage(p.top, WM_USER + 1, 1, 0));
  p.proc->WriteStdin("destroy " + Hex(p.top) + "\ndrain\n");
  ASSERT_EQ(p.proc->WaitForLine("DESTROYED", 10s), "DESTROYED 1");
  ASSERT_TRUE(p.proc->WaitForLine("DRAINED", 10s));
  EXPECT_FALSE(IsWindow(p.top));
  int posted = 0;
  for (int i = 0; i < 1000; ++i) posted += PostMessage(p.top, WM_USER + 1, i, 0) ? 1 : 0;
  EXPECT_EQ(posted, 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}
