// labels: unit
// Threads: start on Resume, Synchronize into the main loop, OnTerminate,
// FreeOnTerminate and WaitFor.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "framework/Forms.h"
#include "tests/support/AppPump.h"
#include "tests/support/TestSession.h"

using namespace fw;

namespace {

using vexa::test::AppPumpUntil;

class TCounter : public TThread {
public:
  std::atomic<int>* MainRuns = nullptr;
  int Steps = 3;
  std::atomic<bool>* Freed = nullptr;
  ~TCounter() override {
    if (Freed) *Freed = true;
  }

protected:
  void Execute() override {
    for (int i = 0; i < Steps && !Terminated(); ++i) {
      Synchronize([this] {
        if (IsMainThread()) ++*MainRuns;
      });
    }
    SetReturnValue(42);
  }
};

class TSpinner : public TThread {
protected:
  void Execute() override {
    while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SetReturnValue(7);
  }
};

}  // namespace

TEST(Thread, SynchronizedCallsAndOnTerminateRunInTheMainLoop) {
  vexa::test::TestSession session;
  HWND keep = AllocateHWnd(plat::WNDPROC(plat::DefWindowProc));  // the main thread's queue
  std::atomic<int> mainRuns{0};
  auto* t = new TCounter;
  t->MainRuns = &mainRuns;
  std::atomic<bool> freed{false};
  t->Freed = &freed;
  t->SetFreeOnTerminate(true);
  bool terminated = false;
  t->OnTerminate = [&](TObject* sender) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(sender, t);
    terminated = true;
  };
  EXPECT_TRUE(t->Suspended());
  t->Resume();
  EXPECT_FALSE(t->Suspended());
  ASSERT_TRUE(AppPumpUntil([&] { return freed.load(); }));
  EXPECT_EQ(mainRuns, 3);
  EXPECT_TRUE(terminated);
  DeallocateHWnd(keep);
}

TEST(Thread, WaitForOnTheMainThreadServesSynchronizeAndAnswersTheReturnValue) {
  vexa::test::TestSession session;
  HWND keep = AllocateHWnd(plat::WNDPROC(plat::DefWindowProc));
  std::atomic<int> mainRuns{0};
  TCounter t;
  t.MainRuns = &mainRuns;
  t.Steps = 5;
  t.Resume();
  EXPECT_EQ(t.WaitFor(), 42);
  EXPECT_EQ(mainRuns, 5);
  EXPECT_TRUE(t.Finished());
  DeallocateHWnd(keep);
}

TEST(Thread, FreeTerminatesAndWaits) {
  auto* s = new TSpinner;
  s->Resume();
  EXPECT_FALSE(s->Terminated());
  Free(s);  // returns only once Execute has seen Terminated and ended
  TSpinner never;
  EXPECT_EQ(never.WaitFor(), 0) << "a thread never started answers at once";
}

TEST(Thread, SynchronizeRaisesInTheCallingThreadWhatTheMethodRaised) {
  vexa::test::TestSession session;
  HWND keep = AllocateHWnd(plat::WNDPROC(plat::DefWindowProc));
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      TThread::Synchronize([] { throw EConvertError("bad"); });
    } catch (const EConvertError& e) {
      caught = e.Message() == "bad";
    }
  });
  ASSERT_TRUE(AppPumpUntil([&] { return caught.load(); }));
  worker.join();
  EXPECT_TRUE(caught);
  DeallocateHWnd(keep);
}
