// The shared table of the message-layer stress run: the test starts MsgPeer
// processes with VEXA_STRESS=<index>:<table file>; each posts and sends to the
// windows of the table while the test kills and stops them at random. Posts
// carry the sender's index and its sequence number to that receiver; the
// sender counts what was accepted, the receiver what arrived, both in the
// table, so the counts survive a SIGKILL.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "platform/msg/Msg.h"

namespace vexa::test {

constexpr int kStressMax = 256;                          // processes over a whole run
constexpr plat::UINT kStressPost = plat::WM_USER + 7;  // w = sender, l = its sequence
constexpr plat::UINT kStressSend = plat::WM_USER + 8;  // answered with w + l

struct StressTable {
  uint32_t stop;
  uint32_t count;                               // indexes given out so far
  uint32_t hwnd[kStressMax];                    // 0 once its process was killed
  uint32_t accepted[kStressMax][kStressMax];    // [sender][receiver], by the sender
  uint32_t received[kStressMax][kStressMax];    // [sender][receiver], by the receiver
  uint32_t faults[kStressMax];                  // posts out of sequence, by the receiver
  uint32_t sendsOk[kStressMax];
  uint32_t sendsFailed[kStressMax];
  uint32_t wrongAnswers[kStressMax];
};

inline uint32_t Get(const uint32_t& v) { return __atomic_load_n(&v, __ATOMIC_ACQUIRE); }
inline void Put(uint32_t& v, uint32_t x) { __atomic_store_n(&v, x, __ATOMIC_RELEASE); }

inline StressTable* MapStressTable(const std::string& path, bool create) {
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_TRUNC : 0), 0600);
  if (fd < 0 || (create && ftruncate(fd, sizeof(StressTable)) != 0)) return nullptr;
  void* m = mmap(nullptr, sizeof(StressTable), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return m == MAP_FAILED ? nullptr : static_cast<StressTable*>(m);
}

// This process's table and index, from VEXA_STRESS.
inline StressTable*& StressSelf(int* index = nullptr) {
  static int self = -1;
  static StressTable* table = [] {
    const char* v = getenv("VEXA_STRESS");
    const char* colon = v ? strchr(v, ':') : nullptr;
    if (!colon) return static_cast<StressTable*>(nullptr);
    self = atoi(v);
    return MapStressTable(colon + 1, false);
  }();
  if (index) *index = self;
  return table;
}

// The window procedure's part: true when m was a stress message.
inline bool StressMessage(plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
  int me;
  StressTable* t = StressSelf(&me);
  if (!t || (m != kStressPost && m != kStressSend)) return false;
  if (m == kStressPost) {
    if (w < 0 || w >= kStressMax) {
      Put(t->faults[me], Get(t->faults[me]) + 1);
      return true;
    }
    uint32_t& last = t->received[w][me];
    if (static_cast<uint32_t>(l) != Get(last) + 1) Put(t->faults[me], Get(t->faults[me]) + 1);
    if (static_cast<uint32_t>(l) > Get(last)) Put(last, static_cast<uint32_t>(l));
  }
  return true;
}

// Posts (seven in eight) and sends to random windows of the table until it says stop.
inline void StressRun() {
  using namespace plat;
  int me;
  StressTable* t = StressSelf(&me);
  if (!t) return;
  std::mt19937 rng(static_cast<unsigned>(me * 7919 + time(nullptr)));
  for (uint32_t i = 0; !Get(t->stop); ++i) {
    if (i % 64 == 0) {
      MSG m;
      while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) DispatchMessage(&m);
      usleep(200);
    }
    uint32_t to = rng() % Get(t->count);
    HWND h = Get(t->hwnd[to]);
    if (h == 0 || static_cast<int>(to) == me) continue;
    if (rng() % 8 == 0) {
      LPARAM x = static_cast<LPARAM>(rng() % 1000);
      LRESULT r = 0;
      if (!SendMessageTimeout(h, kStressSend, me, x, 50, &r)) {
        Put(t->sendsFailed[me], Get(t->sendsFailed[me]) + 1);
      } else if (r != me + x) {
        Put(t->wrongAnswers[me], Get(t->wrongAnswers[me]) + 1);
      } else {
        Put(t->sendsOk[me], Get(t->sendsOk[me]) + 1);
      }
    } else {
      uint32_t seq = Get(t->accepted[me][to]) + 1;
      if (PostMessage(h, kStressPost, me, static_cast<LPARAM>(seq))) Put(t->accepted[me][to], seq);
    }
  }
}

}  // namespace vexa::test
