// Waiting in a test for what this thread's message loop, another thread or
// another process does. Every wait ends on a deadline: nothing here is timed,
// the limits only keep a broken run from hanging.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/msg/Msg.h"

namespace vexa::test {

// Long enough for a loaded machine; a passing test never comes near it.
inline constexpr std::chrono::milliseconds kWaitLimit{20000};

// Handles everything queued for this thread, without waiting.
inline void DispatchQueued() {
  plat::MSG m;
  while (plat::PeekMessage(&m, 0, 0, 0, plat::PM_REMOVE)) {
    plat::TranslateMessage(&m);
    plat::DispatchMessage(&m);
  }
}

// One turn of a loop: handles what is queued. The bare queue by default; tests
// of framework objects turn the application's loop (AppPump.h).
using Turn = void (*)();

// Turns the loop until done() holds; false when it still does not after limit.
// Between turns it waits for a message at most 10 ms, so that a change made by
// another thread without a message is seen too.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kWaitLimit,
                      Turn turn = DispatchQueued) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    turn();
    plat::WaitMessageTimeout(10);
  }
  return true;
}

// Turns the loop for span, to let what is under way arrive.
inline void PumpFor(std::chrono::milliseconds span, Turn turn = DispatchQueued) {
  PumpUntil([] { return false; }, span, turn);
}

// Polls done() without a loop, for work of another thread or process.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kWaitLimit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Ends a GetMessage loop of this thread that waits for what never comes: once
// limit has passed it posts the thread a WM_QUIT, so that GetMessage returns
// false and the test's checks fail instead of hanging. Gone first, it posts nothing.
class QuitAtDeadline {
public:
  explicit QuitAtDeadline(std::chrono::milliseconds limit = kWaitLimit)
      : FThread(plat::GetCurrentThreadId()), FWatch([this, limit] {
          std::unique_lock<std::mutex> lock(FMu);
          if (!FCv.wait_for(lock, limit, [this] { return FDone; }))
            plat::PostThreadMessage(FThread, plat::WM_QUIT, 0, 0);
        }) {}
  ~QuitAtDeadline() {
    {
      std::lock_guard<std::mutex> lock(FMu);
      FDone = true;
    }
    FCv.notify_all();
    FWatch.join();
  }
  QuitAtDeadline(const QuitAtDeadline&) = delete;
  QuitAtDeadline& operator=(const QuitAtDeadline&) = delete;

private:
  plat::DWORD FThread;
  std::mutex FMu;
  std::condition_variable FCv;
  bool FDone = false;
  std::thread FWatch;  // last: starts once the rest is ready
};

}  // namespace vexa::test
