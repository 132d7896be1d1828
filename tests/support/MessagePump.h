// Waiting in a test for what this thread's message loop, another thread or
// another process does. Every wait ends on a deadline: nothing here is timed,
// the limits only keep a broken run from hanging.
#pragma once

#include <chrono>
#include <functional>
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

}  // namespace vexa::test
