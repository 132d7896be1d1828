// Running this thread's message loop from a test, until something is seen or
// for a while.
#pragma once

#include <chrono>
#include <functional>

#include "platform/msg/Msg.h"

namespace vexa::test {

// Handles what is queued, then waits up to 10 ms for more.
inline void PumpOnce() {
  plat::MSG m;
  while (plat::PeekMessage(&m, 0, 0, 0, plat::PM_REMOVE)) {
    plat::TranslateMessage(&m);
    plat::DispatchMessage(&m);
  }
  plat::WaitMessageTimeout(10);
}

// Pumps until cond() holds; false when it still does not after timeoutMs.
inline bool PumpUntil(const std::function<bool()>& cond, int timeoutMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    PumpOnce();
  }
  return true;
}

inline void PumpFor(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) PumpOnce();
}

}  // namespace vexa::test
