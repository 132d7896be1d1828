// Owns one queue's timers: setting, killing, taking the due one as WM_TIMER
// (intervals that passed while busy fold into one) and the wait until the next.
#include "platform/msg/MsgTimers.h"

#include <algorithm>
#include <climits>

#include "platform/msg/MsgSession.h"

namespace plat::msgimpl {

uintptr_t TimerList::Set(HWND hwnd, uintptr_t id, UINT elapseMs, TIMERPROC proc) {
  if (hwnd == 0) {
    bool known = false;
    for (auto& t : timers_) known |= t.hwnd == 0 && t.id == id && id != 0;
    if (!known) {
      id = nextThreadTimer_++;
      if (id == 0) id = nextThreadTimer_++;
    }
  }
  if (elapseMs < 1) elapseMs = 1;
  int64_t due = NowNs() + static_cast<int64_t>(elapseMs) * 1000000;
  for (auto& t : timers_) {
    if (t.hwnd == hwnd && t.id == id) {
      t.interval = elapseMs;
      t.due = due;
      t.proc = std::move(proc);
      return hwnd != 0 ? (id != 0 ? id : 1) : id;
    }
  }
  timers_.push_back(Timer{hwnd, id, elapseMs, due, std::move(proc)});
  return hwnd != 0 ? (id != 0 ? id : 1) : id;
}

bool TimerList::Kill(HWND hwnd, uintptr_t id) {
  auto before = timers_.size();
  std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  return timers_.size() != before;
}

void TimerList::DropWindow(HWND hwnd) {
  std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd; });
}

const Timer* TimerList::Find(HWND hwnd, WPARAM id) const {
  for (auto& t : timers_) {
    if (t.hwnd == hwnd && static_cast<WPARAM>(t.id) == id) return &t;
  }
  return nullptr;
}

bool TimerList::Take(MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove) {
  if (timers_.empty()) return false;
  int64_t now = NowNs();
  Timer* best = nullptr;
  for (auto& t : timers_) {
    if (t.due > now) continue;
    MSG probe;
    probe.hwnd = t.hwnd;
    probe.message = WM_TIMER;
    if (!Matches(probe, hwnd, fmin, fmax)) continue;
    if (!best || t.due < best->due) best = &t;
  }
  if (!best) return false;
  if (out) {
    *out = MSG();
    out->hwnd = best->hwnd;
    out->message = WM_TIMER;
    out->wParam = static_cast<WPARAM>(best->id);
    out->time = GetTickCount();
  }
  if (remove) {
    // Intervals that passed while the queue was busy fold into this one message.
    int64_t step = static_cast<int64_t>(best->interval) * 1000000;
    best->due += step;
    if (best->due <= now) best->due = now + step - (now - best->due) % step;
  }
  return true;
}

int TimerList::WaitMs(HWND hwnd, UINT fmin, UINT fmax) const {
  int64_t first = INT64_MAX;
  for (auto& t : timers_) {
    MSG probe;
    probe.hwnd = t.hwnd;
    probe.message = WM_TIMER;
    if (Matches(probe, hwnd, fmin, fmax)) first = std::min(first, t.due);
  }
  if (first == INT64_MAX) return -1;
  int64_t d = first - NowNs();
  if (d <= 0) return 0;
  return static_cast<int>(std::min<int64_t>((d + 999999) / 1000000, 1 << 30));
}

}  // namespace plat::msgimpl
