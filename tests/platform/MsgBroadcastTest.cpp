// labels: integration
// Broadcasts between real processes of one session, and the files and
// connections the processes leave behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/msg/Msg.h"
#include "tests/support/MsgPeer.h"
#include "tests/support/TestSession.h"

using namespace plat;
using vexa::test::Hex;
using vexa::test::Peer;
using vexa::test::StartPeer;
using namespace std::chrono_literals;

namespace {

// The names in a directory but the hidden ones, sorted.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The sockets a peer holds (connections and its listening socket).
size_t OpenSockets(Peer& p) {
  p.proc->WriteStdin("drain\n");  // hang-ups seen
  EXPECT_TRUE(p.proc->WaitForLine("DRAINED", 10s));
  const std::string dir = "/proc/" + std::to_string(p.proc->Pid()) + "/fd/";
  size_t n = 0;
  for (const auto& fd : Names(dir)) {
    char target[64] = {};
    n += readlink((dir + fd).c_str(), target, sizeof target - 1) > 0 &&
         strncmp(target, "socket:", 7) == 0;
  }
  return n;
}

// Shared memory in use in the whole system, in KB.
int64_t ShmemKB() {
  std::ifstream f("/proc/meminfo");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("Shmem:", 0) == 0) return std::stoll(line.substr(6));
  }
  return -1;
}

}  // namespace

// Programs that read nothing hold the first 64 broadcasts each and no shared
// memory for them, also once the broadcaster is gone; the broadcaster is told
// of exactly the ones that arrive, and those arrive in order.
TEST(MsgCrossProcess, BroadcastsToStoppedProgramsHoldLittleAndCountOnlyWhatArrives) {
  vexa::test::TestSession session;
  const std::string id = std::to_string(RegisterWindowMessage("VexaBroadcastCheck"));
  constexpr int kStopped = 5;
  constexpr int kBroadcasts = 300;
  std::vector<Peer> stopped(kStopped);
  for (Peer& p : stopped) {
    p = StartPeer();
    ASSERT_NE(p.top, 0u);
    p.proc->Signal(SIGSTOP);
    ASSERT_TRUE(vexa::test::WaitStopped(p.proc->Pid()));
  }
  const int64_t before = ShmemKB();
  Peer sender = StartPeer();
  sender.proc->WriteStdin("broadcasts " + id + " " + std::to_string(kBroadcasts) + "\nquit\n");
  auto line = sender.proc->WaitForLine("BROADCASTS", 60s);
  ASSERT_TRUE(line);
  int reached = -1;
  int missed = -1;
  sscanf(line->c_str(), "BROADCASTS %d %d", &reached, &missed);
  ASSERT_EQ(sender.proc->Wait(10s), 0);
  // Other tests run beside this one, so the least of a few looks is taken;
  // a ring left per broadcast would pin 610 KB each.
  int64_t grown = INT64_MAX;
  for (int i = 0; i < 5; ++i, std::this_thread::sleep_for(100ms)) {
    grown = std::min(grown, ShmemKB() - before);
  }
  EXPECT_LT(grown, 256 * 1024);
  int arrived = 0;
  for (Peer& p : stopped) {
    p.proc->Signal(SIGCONT);
    p.proc->WriteStdin("drain\n");
    ASSERT_TRUE(p.proc->WaitForLine("DRAINED", 10s));
    int n = 0;
    for (const auto& l : p.proc->Lines()) {
      if (l.rfind("GOT ", 0) == 0) {
        EXPECT_EQ(l, "GOT " + id + " " + std::to_string(n++) + " 0");
      }
    }
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 64);
    arrived += n;
  }
  EXPECT_EQ(reached, kBroadcasts + arrived);  // its own window took each
  EXPECT_EQ(missed, kStopped * kBroadcasts - arrived);
}

// Broadcasts among many programs leave none of them holding connections, and
// a connection to a process that went is closed.
TEST(MsgCrossProcess, BroadcastsLeaveNoConnectionsOpen) {
  vexa::test::TestSession session;
  constexpr int kPeers = 5;
  std::vector<Peer> peers(kPeers);
  std::vector<size_t> before;
  for (Peer& p : peers) {
    p = StartPeer();
    ASSERT_NE(p.top, 0u);
    before.push_back(OpenSockets(p));
  }
  const std::string id = std::to_string(RegisterWindowMessage("VexaBroadcastCheck"));
  for (int i = 0; i < kPeers; ++i) {
    peers[i].proc->WriteStdin("broadcast " + id + " " + std::to_string(i) + " 0\n");
    ASSERT_EQ(peers[i].proc->WaitForLine("BROADCAST", 10s), "BROADCAST 1");
  }
  for (int i = 0; i < kPeers; ++i) {
    EXPECT_EQ(OpenSockets(peers[i]), before[i]) << "peer " << i;
    const auto& lines = peers[i].proc->Lines();
    for (int from = 0; from < kPeers; ++from) {  // none lost to the closing
      std::string want = "GOT " + id + " " + std::to_string(from) + " 0";
      EXPECT_EQ(std::count(lines.begin(), lines.end(), want), 1) << want << " at " << i;
    }
  }
  peers[0].proc->WriteStdin("post " + Hex(peers[1].top) + " 1025 7 7\n");
  ASSERT_EQ(peers[0].proc->WaitForLine("POSTED", 10s), "POSTED 1");
  peers[1].proc->Signal(SIGKILL);
  peers[1].proc->Wait(5s);
  EXPECT_EQ(OpenSockets(peers[0]), before[0]);
}

// A process removes its files when it ends, also those of windows on threads
// still running; what a killed one left goes when the next process starts.
TEST(MsgCrossProcess, EndedProcessesLeaveNoFilesInTheSession) {
  vexa::test::TestSession session;
  const std::string dir = session.SessionDir() + "/msg";
  Peer a = StartPeer();
  Peer b = StartPeer();
  a.proc->WriteStdin("thread\n");
  ASSERT_TRUE(a.proc->WaitForLine("THREAD", 10s));
  EXPECT_EQ(Names(dir).size(), 14u);  // counter; p, q, b, top and child w of each; thread's q, b, w
  a.proc->WriteStdin("quit\n");
  b.proc->WriteStdin("quit\n");
  EXPECT_EQ(a.proc->Wait(10s), 0);
  EXPECT_EQ(b.proc->Wait(10s), 0);
  EXPECT_EQ(Names(dir), std::vector<std::string>{"counter"});
  for (int i = 0; i < 2; ++i) {
    Peer k = StartPeer();
    k.proc->WriteStdin("thread\n");
    ASSERT_TRUE(k.proc->WaitForLine("THREAD", 10s));
    k.proc->Signal(SIGKILL);
    k.proc->Wait(5s);
  }
  Peer next = StartPeer();
  std::vector<std::string> left = Names(dir);
  ASSERT_EQ(left.size(), 6u);  // only the new one's
  char want[32];
  snprintf(want, sizeof want, "w%08X w%08X", next.top, next.child);
  EXPECT_EQ(left[4] + " " + left[5], want);
}
