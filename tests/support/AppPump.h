// The waits of MessagePump.h turning the application's loop, which also runs
// what other threads synchronise into the main thread.
#pragma once

#include "framework/Forms.h"
#include "platform/display/Display.h"
#include "tests/support/MessagePump.h"

namespace vexa::test {

inline void AppTurn() { fw::Application->ProcessMessages(); }

// The application's turn, then what it drew sent to the display.
inline void ScreenTurn() {
  AppTurn();
  plat::FlushDisplay();
}

inline bool AppPumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kWaitLimit) {
  return PumpUntil(done, limit, AppTurn);
}

inline void AppPumpFor(std::chrono::milliseconds span) { PumpFor(span, AppTurn); }

// For tests that read back what reached the display (or an X server).
inline bool ScreenPumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kWaitLimit) {
  return PumpUntil(done, limit, ScreenTurn);
}

inline void ScreenPumpFor(std::chrono::milliseconds span) { PumpFor(span, ScreenTurn); }

}  // namespace vexa::test
