// labels: unit
// High-resolution and threaded timers: starting rules, the thread the handler
// runs in, late ticks of a replaced timer, exceptions that stop ticking, and
// freeing a timer whose thread is still asleep.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "components/KitTimer.h"
#include "framework/Forms.h"
#include "platform/kernel/MmTimer.h"
#include "tests/support/AppPump.h"
#include "tests/support/TestSession.h"

using namespace vexa;

namespace {

using namespace std::chrono_literals;
using vexa::test::AppPumpFor;
using vexa::test::AppPumpUntil;

using fw::Exception;
VEXA_DECLARE_EXCEPTION(ETick, Exception);

}  // namespace

TEST(KitHiTimer, CreatedStoppedWithDefaultsAndIntervalClamped) {
  vexa::test::TestSession session;
  TKitHiTimer t(nullptr);
  EXPECT_FALSE(t.Enabled());
  EXPECT_EQ(t.Interval(), 1000u);
  EXPECT_TRUE(t.Synchronize());
  EXPECT_TRUE(t.UseThread());
  EXPECT_EQ(t.ThreadPriority(), fw::tpNormal);
  EXPECT_EQ(t.WindowHandle(), 0u);
  EXPECT_FALSE(t.ThreadRunning());
  EXPECT_EQ(TKitHiTimer(nullptr, 250).Interval(), 250u);

  plat::TIMECAPS caps;
  ASSERT_EQ(plat::timeGetDevCaps(&caps), plat::TIMERR_NOERROR);
  t.SetInterval(0);
  EXPECT_EQ(t.Interval(), caps.wPeriodMin);
  t.SetInterval(0xFFFFFFFF);
  EXPECT_EQ(t.Interval(), caps.wPeriodMax);
}

TEST(KitHiTimer, EventTimerStartsOnlyWithHandlerAndTicksInTheMainThread) {
  vexa::test::TestSession session;
  TKitHiTimer t(nullptr);
  t.SetUseThread(false);
  EXPECT_NE(t.WindowHandle(), 0u) << "the event mode makes its window";
  t.SetInterval(0);  // the device minimum: still a running timer
  t.SetEnabled(true);
  EXPECT_EQ(t.TimerID(), 0u) << "no handler, nothing starts";
  int ticks = 0;
  bool allMain = true;
  t.SetOnTimer([&](fw::TObject* sender) {
    EXPECT_EQ(sender, &t);
    allMain = allMain && fw::IsMainThread();
    ++ticks;
  });
  EXPECT_NE(t.TimerID(), 0u);
  ASSERT_TRUE(AppPumpUntil([&] { return ticks >= 3; }));
  EXPECT_TRUE(allMain);

  // Changing the priority outside thread mode keeps the running timer.
  uint32_t id = t.TimerID();
  t.SetThreadPriority(fw::tpHigher);
  EXPECT_EQ(t.ThreadPriority(), fw::tpHigher);
  EXPECT_EQ(t.TimerID(), id);

  // Thread mode gives the window up.
  t.SetUseThread(true);
  EXPECT_EQ(t.WindowHandle(), 0u);
  EXPECT_EQ(t.TimerID(), 0u);
  EXPECT_TRUE(t.ThreadRunning());
}

TEST(KitHiTimer, LateTickOfAReplacedTimerDoesNotFire) {
  vexa::test::TestSession session;
  TKitHiTimer t(nullptr, 60000);
  t.SetUseThread(false);
  int ticks = 0;
  t.SetOnTimer([&](fw::TObject*) { ++ticks; });
  t.SetEnabled(true);
  uint32_t oldId = t.TimerID();
  ASSERT_NE(oldId, 0u);
  t.SetInterval(50000);
  uint32_t newId = t.TimerID();
  ASSERT_NE(newId, 0u);
  ASSERT_NE(newId, oldId);
  plat::SendMessage(t.WindowHandle(), plat::WM_TIMER, static_cast<plat::WPARAM>(oldId), 0);
  EXPECT_EQ(ticks, 0);
  plat::SendMessage(t.WindowHandle(), plat::WM_TIMER, static_cast<plat::WPARAM>(newId), 0);
  EXPECT_EQ(ticks, 1);
  t.SetEnabled(false);
  EXPECT_EQ(t.TimerID(), 0u);
  plat::SendMessage(t.WindowHandle(), plat::WM_TIMER, static_cast<plat::WPARAM>(newId), 0);
  EXPECT_EQ(ticks, 1) << "a stopped timer ignores its last id";
}

TEST(KitHiTimer, ExceptionFromTheHandlerStopsTicksUntilReapplied) {
  vexa::test::TestSession session;
  std::vector<std::string> reported;
  fw::Application->OnException = [&](fw::TObject*, const std::exception& e) {
    reported.push_back(e.what());
  };
  TKitHiTimer t(nullptr, 60000);
  t.SetUseThread(false);
  int ticks = 0;
  t.SetOnTimer([&](fw::TObject*) {
    ++ticks;
    throw ETick("tick failed");
  });
  t.SetEnabled(true);
  auto fire = [&] {
    plat::SendMessage(t.WindowHandle(), plat::WM_TIMER, static_cast<plat::WPARAM>(t.TimerID()), 0);
  };
  fire();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(reported, (std::vector<std::string>{"tick failed"}));
  fire();
  EXPECT_EQ(ticks, 1) << "no ticks after an escaped exception";
  t.SetEnabled(false);
  t.SetEnabled(true);
  fire();
  EXPECT_EQ(ticks, 2) << "re-applying resumes";
  fw::Application->OnException = nullptr;
}

TEST(KitHiTimer, ThreadModeRunsTheHandlerInTheMainThreadOnlyWhenSynchronized) {
  vexa::test::TestSession session;
  TKitHiTimer t(nullptr, 1);
  std::atomic<int> mainTicks{0}, threadTicks{0};
  t.SetOnTimer([&](fw::TObject*) { (fw::IsMainThread() ? mainTicks : threadTicks)++; });
  EXPECT_FALSE(t.ThreadRunning()) << "not enabled";
  t.SetEnabled(true);
  EXPECT_TRUE(t.ThreadRunning());
  ASSERT_TRUE(AppPumpUntil([&] { return mainTicks >= 3; }));
  EXPECT_EQ(threadTicks, 0);

  t.SetSynchronize(false);
  int mainBefore = mainTicks;
  ASSERT_TRUE(AppPumpUntil([&] { return threadTicks >= 3; }));
  t.SetEnabled(false);
  EXPECT_FALSE(t.ThreadRunning());
  EXPECT_LE(mainTicks, mainBefore + 1);  // at most one synchronized call was under way
}

TEST(KitHiTimer, ThreadEndsOnAnExceptionAndRestartsWhenReapplied) {
  vexa::test::TestSession session;
  TKitHiTimer t(nullptr, 1);
  t.SetSynchronize(false);
  std::atomic<int> ticks{0};
  std::atomic<bool> fail{true};
  t.SetOnTimer([&](fw::TObject*) {
    ++ticks;
    if (fail) throw ETick("thread tick failed");
  });
  t.SetEnabled(true);
  ASSERT_TRUE(AppPumpUntil([&] { return ticks >= 1; }));
  AppPumpFor(50ms);
  EXPECT_EQ(ticks, 1) << "the thread ended with the exception";
  fail = false;
  t.SetEnabled(false);
  t.SetEnabled(true);
  ASSERT_TRUE(AppPumpUntil([&] { return ticks >= 3; }));
}

TEST(KitHiTimer, FreeingTheTimerLetsItsSleepingThreadGo) {
  vexa::test::TestSession session;
  std::atomic<int> ticks{0};
  auto* t = new TKitHiTimer(nullptr, 1);
  t->SetSynchronize(false);
  t->SetOnTimer([&ticks, t](fw::TObject* sender) {
    EXPECT_EQ(sender, t);
    EXPECT_TRUE(t->Enabled());  // the component is whole while its handler runs
    ++ticks;
  });
  t->SetEnabled(true);
  ASSERT_TRUE(AppPumpUntil([&] { return ticks >= 2; }));
  fw::Free(t);
  int after = ticks;
  AppPumpFor(50ms);
  EXPECT_EQ(ticks, after) << "no tick after the component is gone";

  // A long period: the thread sleeps when the component goes, and is woken.
  auto* slow = new TKitHiTimer(nullptr, 60000);
  slow->SetOnTimer([&](fw::TObject*) { ++ticks; });
  slow->SetEnabled(true);
  fw::Free(slow);
}
