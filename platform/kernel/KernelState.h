// The kernel library's process-wide state, in one owner (St()); internal to
// this folder.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/kernel/Kernel.h"
#include "platform/kernel/MmTimer.h"

namespace plat::kernelimpl {

struct KObject;  // Kernel.cpp

// The timer thread and its events (MmTimer.cpp). The thread is started on
// first use and lives as long as the process; it never outlives the table,
// which is never freed.
struct TimerTable {
  using Clock = std::chrono::steady_clock;
  struct Event {
    uint32_t period = 0;
    bool periodic = false;
    LPTIMECALLBACK callback;
    uintptr_t user = 0;
    Clock::time_point due;
  };

  std::mutex mu;
  std::condition_variable cv;      // wakes the timer thread
  std::condition_variable doneCv;  // a callback returned
  std::map<uint32_t, Event> events;
  std::atomic<uint32_t> nextId{1};  // read unlocked by a forked child
  uint32_t running = 0;             // id whose callback runs now
  std::thread::id threadId;
  bool started = false;
  int periodRequests = 0;

  void Loop();
};

// Lock order: every lock here is taken alone, never two at once and none
// while calling out (the debug sink and timer callbacks run without them);
// a kernel object's own lock is taken with none of them held.
// A forked child starts with an empty handle table whose numbers go on from
// the parent's, closes its copies of the descriptors of the parent's named
// objects (their locks stay the parent's alone, and would outlive it in the
// child), has no debug sink (the parent's may reach threads the child does
// not have), plays nothing and has a timer thread of its own when it sets an
// event; timer ids and thread ids go on from the parent's numbers. It stays
// in the parent's session. Leaving a session closes the handles of named
// objects: they were the session's, and must not keep its names open.
struct State {
  std::mutex sessionMu;
  std::string sessionDir;  // the directory named for the session in use ("" before the first use)
  std::string sessionRefusal;   // why it is refused; "" when it is usable
  std::string namedSessionDir;  // UseSessionDir's choice over the environment
  bool sessionShared = false;
  std::atomic<uint32_t> sessionGeneration{0};

  std::mutex handlesMu;
  std::unordered_map<HANDLE, std::shared_ptr<KObject>> handles;
  std::atomic<HANDLE> nextHandle{1};

  std::mutex debugMu;
  DebugSink debugSink;

  std::atomic<DWORD> nextThreadId{0};

  std::mutex soundMu;
  const void* playing = nullptr;  // a sound playing from memory

  TimerTable timers;

  void PrepareFork() {
    sessionMu.lock();
    handlesMu.lock();
  }
  void ParentAfterFork() {
    handlesMu.unlock();
    sessionMu.unlock();
  }
  State* ForChild();
  void EndSession();
};

State& St();

}  // namespace plat::kernelimpl
