// High-resolution timer events: one timer thread per process calls each
// event's callback when its delay has passed (once, or every period). The
// callbacks run on that thread and must be short: they usually post a message.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/kernel/Kernel.h"

namespace plat {

using MMRESULT = uint32_t;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;

constexpr uint32_t TIME_ONESHOT = 0x0000;
constexpr uint32_t TIME_PERIODIC = 0x0001;

struct TIMECAPS {
  uint32_t wPeriodMin = 0;  // ms
  uint32_t wPeriodMax = 0;  // ms
};

// Callback(timer id, 0, user value, 0, 0).
using LPTIMECALLBACK = std::function<void(uint32_t, uint32_t, uintptr_t, uintptr_t, uintptr_t)>;

MMRESULT timeGetDevCaps(TIMECAPS* caps);
// Resolution requests are counted; our clock is always at its finest, so they
// change nothing else. timeEndPeriod without a matching begin answers NOCANDO.
MMRESULT timeBeginPeriod(uint32_t periodMs);
MMRESULT timeEndPeriod(uint32_t periodMs);
// Starts an event; 0 when the delay is outside the device range or there is no
// callback. A periodic event that falls behind skips the periods it missed.
uint32_t timeSetEvent(uint32_t delayMs, uint32_t resolutionMs, LPTIMECALLBACK callback,
                      uintptr_t user, uint32_t flags);
// Stops an event. When its callback is running on the timer thread, waits for it
// to return (unless called from that callback). NOCANDO for an unknown id.
MMRESULT timeKillEvent(uint32_t id);

}  // namespace plat
