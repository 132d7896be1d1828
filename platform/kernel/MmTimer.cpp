#include "platform/kernel/MmTimer.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/kernel/KernelState.h"

namespace plat {

namespace kernelimpl {

void TimerTable::Loop() {
  std::unique_lock<std::mutex> lock(mu);
  for (;;) {
    if (events.empty()) {
      cv.wait(lock);
      continue;
    }
    auto first = events.begin();
    for (auto it = events.begin(); it != events.end(); ++it)
      if (it->second.due < first->second.due) first = it;
    Clock::time_point now = Clock::now();
    if (first->second.due > now) {
      Clock::time_point due = first->second.due;  // the event may go while we wait
      cv.wait_until(lock, due);
      continue;
    }
    uint32_t id = first->first;
    Event& e = first->second;
    LPTIMECALLBACK cb = e.callback;
    uintptr_t user = e.user;
    if (e.periodic) {
      auto period = std::chrono::milliseconds(e.period);
      e.due += period;
      if (e.due <= now) e.due = now + period;  // missed periods are skipped
    } else {
      events.erase(first);
    }
    running = id;
    lock.unlock();
    try {
      cb(id, 0, user, 0, 0);
    } catch (...) {
    }
    lock.lock();
    running = 0;
    doneCv.notify_all();
  }
}

}  // namespace kernelimpl

using kernelimpl::St;
using kernelimpl::TimerTable;
using Clock = TimerTable::Clock;

namespace {

constexpr uint32_t kPeriodMin = 1;
constexpr uint32_t kPeriodMax = 1000000;

TimerTable& Table() { return St().timers; }

}  // namespace

MMRESULT timeGetDevCaps(TIMECAPS* caps) {
  if (!caps) return TIMERR_NOCANDO;
  caps->wPeriodMin = kPeriodMin;
  caps->wPeriodMax = kPeriodMax;
  return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(uint32_t periodMs) {
  if (periodMs < kPeriodMin || periodMs > kPeriodMax) return TIMERR_NOCANDO;
  TimerTable& t = Table();
  std::lock_guard<std::mutex> g(t.mu);
  ++t.periodRequests;
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(uint32_t periodMs) {
  if (periodMs < kPeriodMin || periodMs > kPeriodMax) return TIMERR_NOCANDO;
  TimerTable& t = Table();
  std::lock_guard<std::mutex> g(t.mu);
  if (t.periodRequests == 0) return TIMERR_NOCANDO;
  --t.periodRequests;
  return TIMERR_NOERROR;
}

uint32_t timeSetEvent(uint32_t delayMs, uint32_t /*resolutionMs*/, LPTIMECALLBACK callback,
                      uintptr_t user, uint32_t flags) {
  if (!callback || delayMs < kPeriodMin || delayMs > kPeriodMax) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  TimerTable& t = Table();
  std::lock_guard<std::mutex> g(t.mu);
  if (!t.started) {
    std::thread th([&t] { t.Loop(); });
    t.threadId = th.get_id();
    th.detach();
    t.started = true;
  }
  uint32_t id = t.nextId++;
  while (id == 0 || t.events.count(id)) id = t.nextId++;
  TimerTable::Event e;
  e.period = delayMs;
  e.periodic = (flags & TIME_PERIODIC) != 0;
  e.callback = std::move(callback);
  e.user = user;
  e.due = Clock::now() + std::chrono::milliseconds(delayMs);
  t.events.emplace(id, std::move(e));
  t.cv.notify_all();
  return id;
}

MMRESULT timeKillEvent(uint32_t id) {
  TimerTable& t = Table();
  std::unique_lock<std::mutex> lock(t.mu);
  bool known = t.events.erase(id) != 0;
  if (t.running == id && id != 0) {
    known = true;
    if (std::this_thread::get_id() != t.threadId)
      t.doneCv.wait(lock, [&] { return t.running != id; });
  }
  t.cv.notify_all();
  return known ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

}  // namespace plat
