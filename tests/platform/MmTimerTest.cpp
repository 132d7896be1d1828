// labels: unit
// High-resolution timer events: device range, one-shot and periodic events,
// stopping (also from inside the callback) and the counted resolution requests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/kernel/MmTimer.h"
#include "tests/support/MessagePump.h"

using namespace plat;

using vexa::test::WaitUntil;

TEST(MmTimer, RangeAndRefusals) {
  TIMECAPS caps;
  ASSERT_EQ(timeGetDevCaps(&caps), TIMERR_NOERROR);
  EXPECT_EQ(caps.wPeriodMin, 1u);
  EXPECT_GE(caps.wPeriodMax, 65535u);
  EXPECT_EQ(timeGetDevCaps(nullptr), TIMERR_NOCANDO);
  auto cb = [](uint32_t, uint32_t, uintptr_t, uintptr_t, uintptr_t) {};
  EXPECT_EQ(timeSetEvent(0, 0, cb, 0, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeSetEvent(caps.wPeriodMax + 1, 0, cb, 0, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeSetEvent(5, 5, nullptr, 0, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeKillEvent(123456), TIMERR_NOCANDO);

  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO) << "no matching begin";
  EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
}

TEST(MmTimer, OneShotFiresOncePeriodicUntilKilled) {
  std::atomic<int> once{0}, periodic{0};
  std::atomic<uint32_t> seenId{0};
  std::atomic<uintptr_t> seenUser{0};
  uint32_t a = timeSetEvent(2, 2, [&](uint32_t id, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
    seenId = id;
    seenUser = user;
    ++once;
  }, 42, TIME_ONESHOT);
  ASSERT_NE(a, 0u);
  uint32_t b = timeSetEvent(1, 1, [&](uint32_t, uint32_t, uintptr_t, uintptr_t, uintptr_t) {
    ++periodic;
  }, 0, TIME_PERIODIC);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  ASSERT_TRUE(WaitUntil([&] { return once == 1 && periodic >= 5; }));
  EXPECT_EQ(seenId, a);
  EXPECT_EQ(seenUser, 42u);
  EXPECT_EQ(timeKillEvent(a), TIMERR_NOCANDO) << "a one-shot event is gone after firing";
  EXPECT_EQ(timeKillEvent(b), TIMERR_NOERROR);
  int after = periodic;  // the kill waited for a callback under way
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(periodic, after);
  EXPECT_EQ(once, 1);
}

TEST(MmTimer, CallbackMayKillItsOwnEvent) {
  std::atomic<int> calls{0};
  std::atomic<bool> killed{false};
  uint32_t id = timeSetEvent(1, 1, [&](uint32_t me, uint32_t, uintptr_t, uintptr_t, uintptr_t) {
    ++calls;
    killed = timeKillEvent(me) == TIMERR_NOERROR;
  }, 0, TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(WaitUntil([&] { return killed.load(); })) << "no deadlock inside the callback";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(calls, 1);
}
