// Owns one queue's timers: when each is due, which one a retrieval takes, and
// how long a wait may sleep before the next. Owner thread only.
// Internal to the message layer.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/msg/Msg.h"

namespace plat::msgimpl {

// Whether a message passes a retrieval's window and range filter.
inline bool Matches(const MSG& m, HWND hwnd, UINT fmin, UINT fmax) {
  if (hwnd != 0 && m.hwnd != hwnd) return false;
  if (fmin == 0 && fmax == 0) return true;
  return m.message >= fmin && m.message <= fmax;
}

struct Timer {
  HWND hwnd = 0;
  uintptr_t id = 0;
  UINT interval = 1;
  int64_t due = 0;
  TIMERPROC proc;
};

class TimerList {
 public:
  // Starts or restarts a timer; answers the id SetTimer reports.
  uintptr_t Set(HWND hwnd, uintptr_t id, UINT elapseMs, TIMERPROC proc);
  bool Kill(HWND hwnd, uintptr_t id);
  void DropWindow(HWND hwnd);
  void Clear() { timers_.clear(); }
  // The timer a WM_TIMER names, or null.
  const Timer* Find(HWND hwnd, WPARAM id) const;
  // WM_TIMER of the earliest elapsed timer the filter lets through.
  bool Take(MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove);
  // Milliseconds until the next timer the filter lets through is due (-1: none).
  int WaitMs(HWND hwnd, UINT fmin, UINT fmax) const;

 private:
  std::vector<Timer> timers_;
  uintptr_t nextThreadTimer_ = 1;
};

}  // namespace plat::msgimpl
