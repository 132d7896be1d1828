// labels: unit
// The library's application object: pool timer identifiers and slots, pool
// periods and refusals, call counts, the dither bitmap, the log file name, the
// program mutex, single placement on a form and the settings holder.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "components/KitApplication.h"
#include "components/KitIniCtrl.h"
#include "components/kitsysin.h"
#include "framework/Forms.h"
#include "platform/kernel/Kernel.h"
#include "tests/support/AppPump.h"
#include "tests/support/TestSession.h"

using namespace vexa;

namespace {

std::string ExceptionText(const std::function<void()>& f) {
  try {
    f();
  } catch (const fw::Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
  return "";
}

class TOther : public fw::TComponent {
public:
  using fw::TComponent::TComponent;
};

}  // namespace

TEST(KitApplication, PoolTimerIdentifiersTakeTheLowestFreeSlot) {
  vexa::test::TestSession session;
  int fired = 0;
  auto h = [&](fw::TObject*) { ++fired; };
  uint16_t a = KitApplication->AddTimer(200, h);
  EXPECT_EQ(a, 0xFD01);
  uint16_t b = KitApplication->AddTimer(100, h);
  EXPECT_EQ(b, 0xFD02);
  EXPECT_EQ(KitApplication->AddTimer(120, h), 0) << "the pool refuses 120 ms at 50 ms";
  KitApplication->RemoveTimer(a);
  EXPECT_EQ(KitApplication->GetTimer(a), nullptr);
  EXPECT_EQ(KitApplication->AddTimer(150, h), 0xFD01) << "the freed slot is used again";
  ASSERT_NE(KitApplication->GetTimer(0xFD01), nullptr);
  EXPECT_EQ(KitApplication->GetTimer(0xFD01)->Interval(), 150);
  EXPECT_TRUE(KitApplication->GetTimer(0xFD01)->Enabled());
  // Identifiers up to 0xFD00 and those outside the slots change nothing.
  KitApplication->RemoveTimer(0);
  KitApplication->RemoveTimer(0xFD00);
  KitApplication->RemoveTimer(0xFFFF);
  EXPECT_EQ(KitApplication->TimerPool()->Count(), 2);
  KitApplication->RemoveTimer(0xFD01);
  KitApplication->RemoveTimer(b);
  EXPECT_FALSE(KitApplication->TimerPool()->Active()) << "the last removal stops the pool";
}

TEST(KitApplication, AllSlotsTakenGivesZeroNeverAnIdentifierOutsideTheRange) {
  vexa::test::TestSession session;
  std::set<uint16_t> ids;
  for (int i = 0; i < KitTimerSlots; ++i) ids.insert(KitApplication->AddTimer(50, nullptr));
  EXPECT_EQ(ids.size(), 250u);
  EXPECT_EQ(*ids.begin(), 0xFD01);
  EXPECT_EQ(*ids.rbegin(), 0xFDFA);
  EXPECT_EQ(KitApplication->AddTimer(50, nullptr), 0);
  KitApplication->RemoveTimer(0xFD80);
  EXPECT_EQ(KitApplication->AddTimer(50, nullptr), 0xFD80);
}

TEST(KitTimerPool, DivisorsRefusalsAndCallCounts) {
  vexa::test::TestSession session;
  TKitTimerPool pool(nullptr, 50);
  EXPECT_FALSE(pool.Active());
  EXPECT_EQ(pool.WindowHandle(), 0u) << "no window before the first activation";
  std::vector<int> passes;
  pool.AddTimer(7, 200, [&](fw::TObject* s) {
    EXPECT_EQ(s, &pool);
    passes.push_back(pool.PassCounter());
  });
  EXPECT_TRUE(pool.Active());
  EXPECT_NE(pool.WindowHandle(), 0u);
  EXPECT_EQ(pool.GetItem(7)->Divisor(), 4u);
  for (int i = 0; i < 12; ++i) pool.Tick();
  EXPECT_EQ(passes, (std::vector<int>{4, 8, 12}));

  EXPECT_EQ(ExceptionText([&] { pool.AddTimer(8, 120, nullptr); }),
            "Exception: Interval not compatible with MinInterval property!");
  EXPECT_EQ(ExceptionText([&] { pool.AddTimer(8, 0, nullptr); }),
            "Exception: Interval not compatible with MinInterval property!");
  EXPECT_EQ(ExceptionText([&] { pool.AddTimer(7, 100, nullptr); }),
            "Exception: List index out of bounds (0)");
  EXPECT_EQ(pool.Count(), 1);

  TKitTimerItem* item = pool.GetItem(7);
  item->SetInterval(120);
  EXPECT_EQ(item->Interval(), 200) << "not a multiple of 50";
  item->SetInterval(0);
  EXPECT_EQ(item->Interval(), 50);
  EXPECT_EQ(item->Divisor(), 1u);

  // Items without a handler report through the pool's OnTimer.
  std::vector<std::pair<uint16_t, int32_t>> calls;
  pool.OnTimer = [&](fw::TObject* s, uint16_t ident, int32_t counter) {
    EXPECT_EQ(s, &pool);
    calls.push_back({ident, counter});
  };
  pool.AddTimer(9, 50, nullptr);  // restarts the pass count
  EXPECT_EQ(pool.PassCounter(), 1);
  TKitTimerItem* counted = pool.GetItem(9);
  counted->SetCallCount(3);
  for (int i = 0; i < 5; ++i) pool.Tick();
  EXPECT_EQ(calls, (std::vector<std::pair<uint16_t, int32_t>>{{9, 1}, {9, 2}, {9, 3}}));
  EXPECT_FALSE(counted->Enabled()) << "disabled after its third call";
  counted->SetCallCount(0);
  counted->SetEnabled(true);
  EXPECT_FALSE(counted->Enabled()) << "a call count of 0 refuses enabling";
  counted->SetCallCount(-1);
  counted->SetEnabled(true);
  EXPECT_TRUE(counted->Enabled());
  EXPECT_EQ(pool.EnabledCount(), 2);

  EXPECT_EQ(ExceptionText([&] { TKitTimerItem(nullptr, nullptr, 1); }),
            "EInvalidOperation: TKitTimerItem: Invalid Owner or List");
}

TEST(KitTimerPool, HandlersMayRemoveTimersDuringAPass) {
  vexa::test::TestSession session;
  TKitTimerPool pool(nullptr, 50);
  std::vector<int> order;
  pool.AddTimer(1, 50, [&](fw::TObject*) {
    order.push_back(1);
    pool.RemoveTimer(1);
    pool.RemoveTimer(2);
  });
  pool.AddTimer(2, 50, [&](fw::TObject*) { order.push_back(2); });
  pool.AddTimer(3, 50, [&](fw::TObject*) { order.push_back(3); });
  pool.Tick();
  EXPECT_EQ(order, (std::vector<int>{1, 3}));
  EXPECT_EQ(pool.Count(), 1);
}

TEST(KitTimerPool, WindowTimerDrivesThePoolAndAnEscapedExceptionStopsIt) {
  vexa::test::TestSession session;
  std::vector<std::string> reported;
  fw::Application->OnException = [&](fw::TObject*, const std::exception& e) {
    reported.push_back(e.what());
  };
  TKitTimerPool pool(nullptr, 50);
  int fired = 0;
  bool fail = false;
  pool.AddTimer(1, 50, [&](fw::TObject*) {
    ++fired;
    if (fail) throw fw::Exception("pool tick failed");
  });
  EXPECT_TRUE(test::AppPumpUntil([&] { return fired >= 2; })) << fired;

  fail = true;
  int before = fired;
  plat::SendMessage(pool.WindowHandle(), plat::WM_TIMER, 1, 0);
  EXPECT_EQ(fired, before + 1);
  EXPECT_EQ(reported, (std::vector<std::string>{"pool tick failed"}));
  plat::SendMessage(pool.WindowHandle(), plat::WM_TIMER, 1, 0);
  EXPECT_EQ(fired, before + 1) << "no ticks after an escaped exception";
  fw::Application->OnException = nullptr;
}

TEST(KitTimerPool, MinIntervalChangesOnlyWhileLoading) {
  TKitTimerPool pool(nullptr);
  EXPECT_EQ(pool.MinInterval(), 1000);
  pool.SetMinInterval(100);
  EXPECT_EQ(pool.MinInterval(), 1000);
  pool.BeginLoading();
  pool.SetMinInterval(100);
  pool.EndLoading();
  EXPECT_EQ(pool.MinInterval(), 100);
}

TEST(KitApplication, DitherBitmapIsACachedCheckerboard) {
  vexa::test::TestSession session;
  fw::TBitmap* b = KitApplication->GetDitherBitmap(fw::clRed);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Width(), 8);
  EXPECT_EQ(b->Height(), 8);
  EXPECT_EQ(b->Canvas()->Pixels(0, 0), fw::clWhite);
  EXPECT_EQ(b->Canvas()->Pixels(1, 0), fw::clRed);
  EXPECT_EQ(b->Canvas()->Pixels(0, 1), fw::clRed);
  EXPECT_EQ(b->Canvas()->Pixels(1, 1), fw::clWhite);
  EXPECT_EQ(b->Canvas()->Pixels(7, 6), fw::clRed);
  b->Canvas()->SetPixels(0, 0, fw::clBlue);  // the same colour does not redraw
  EXPECT_EQ(KitApplication->GetDitherBitmap(fw::clRed), b);
  EXPECT_EQ(b->Canvas()->Pixels(0, 0), fw::clBlue);
  b->Canvas()->SetPixels(0, 0, fw::clWhite);
  EXPECT_EQ(KitApplication->GetDitherBitmap(fw::clGreen), b);
  EXPECT_EQ(b->Canvas()->Pixels(1, 0), fw::clGreen);
  EXPECT_EQ(b->Canvas()->Pixels(0, 0), fw::clWhite);
}

TEST(KitApplication, StartUpValuesLogFileAndProgramMutex) {
  vexa::test::TestSession session;
  TKitApplication* app = KitApplication;
  EXPECT_EQ(app->Options(), 0x36);
  EXPECT_EQ(app->TimerPool()->MinInterval(), 50);
  EXPECT_GT(app->PerformanceFrequency(), 0);
  EXPECT_FALSE(app->SecondInstance());
  EXPECT_NE(app->MutexHandle(), 0u);
  std::string exe = fw::ParamStr0();
  std::string dir = fw::ExtractFilePath(exe);
  std::string base = fw::ChangeFileExt(fw::ExtractFileName(exe), "");
  EXPECT_EQ(app->LogFile(), dir + base + ".LOG");
  app->SetLogFile("trace");
  EXPECT_EQ(app->LogFile(), dir + "trace.LOG");
  app->SetLogFile("/var/log/trace.txt");
  EXPECT_EQ(app->LogFile(), dir + "trace.txt") << "only the file part under a prefix";
  app->SetLogPathPrefix(ppFixed);
  app->SetLogFile("/var/log/trace.txt");
  EXPECT_EQ(app->LogFile(), "/var/log/trace.txt");
  app->SetLogFile("   ");
  EXPECT_EQ(app->LogFile(), fw::ChangeFileExt(exe, ".LOG"));

  // The same program file started again finds the mutex.
  TKitApplication second;
  EXPECT_TRUE(second.SecondInstance());
}

TEST(KitApplication, NestedStartUpFreesOnTheLastEnd) {
  vexa::test::TestSession session;
  KitClassInitialize();
  KitClassInitialize();
  EXPECT_TRUE(KitApplicationExists());
  KitClassFinalize();
  EXPECT_TRUE(KitApplicationExists());
  KitClassFinalize();
  EXPECT_FALSE(KitApplicationExists());
  KitClassFinalize();  // one end too many is harmless
  EXPECT_NE(KitApplication.Get(), nullptr) << "made again at the next use";
}

TEST(KitApplication, AnObjectMadeAgainStartsWithEveryTimerFree) {
  {
    vexa::test::TestSession first;
    KitClassInitialize();
    EXPECT_EQ(KitApplication->AddTimer(200, nullptr), 0xFD01);
    EXPECT_EQ(KitApplication->AddTimer(200, nullptr), 0xFD02);
    KitClassFinalize();
    EXPECT_FALSE(KitApplicationExists());
    EXPECT_EQ(KitApplication->AddTimer(200, nullptr), 0xFD01)
        << "the freed object's timers went with it";
    EXPECT_EQ(KitApplication->AddTimer(200, nullptr), 0xFD02);
  }
  // Leaving the session frees the object with its timers; the next session's
  // object has its own mutex and all timers free.
  vexa::test::TestSession second;
  EXPECT_FALSE(KitApplicationExists());
  EXPECT_EQ(KitApplication->AddTimer(200, nullptr), 0xFD01);
  EXPECT_FALSE(KitApplication->SecondInstance());
}

TEST(KitApplication, ProgramStartUpUnitMakesTheObjectAndFreesItWithItsMutex) {
  vexa::test::TestSession session;
  while (KitApplicationExists()) KitClassFinalize();  // made by an earlier use
  const std::string name = fw::ExtractFileName(fw::ParamStr0());
  auto mutexOpen = [&] {
    plat::HANDLE h = plat::CreateMutex(name, false);
    bool existed = plat::GetLastError() == plat::ERROR_ALREADY_EXISTS;
    plat::CloseHandle(h);
    return existed;
  };
  {
    TKitClassUnit unit;
    EXPECT_TRUE(KitApplicationExists());
    EXPECT_TRUE(mutexOpen()) << "the mutex exists from the start";
    EXPECT_FALSE(KitApplication->SecondInstance());
  }
  EXPECT_FALSE(KitApplicationExists());
  EXPECT_FALSE(mutexOpen()) << "freed with the object at the end";
}

TEST(KitApplication, SinglePlacementOnAForm) {
  vexa::test::TestSession session;
  EXPECT_EQ(KitEOneInstError("TKitFormShape", 0).Message(),
            "TKitFormShape:\rInvalid owner (<>TForm) or second instance on a form");
  EXPECT_EQ(KitEOneInstError("TKitFormShape", 1).Message(),
            "TKitFormShape:\rAlready one TKitFormShape control in this project!");
  EXPECT_EQ(KitEOneInstError("TKitFormShape", 2).Message(), "");
  EXPECT_STREQ(KitEOneInstError("x", 0).ClassName(), "KitEOneInstError");

  fw::TComponent plain(nullptr);
  EXPECT_TRUE(CheckSingleInstance(nullptr, &KitClassOf<TOther>, false));
  EXPECT_TRUE(CheckSingleInstance(&plain, &KitClassOf<TOther>, true)) << "not a form";
  auto* form = new fw::TForm(nullptr);
  EXPECT_FALSE(CheckSingleInstance(form, nullptr, false));
  new TOther(form);
  EXPECT_FALSE(CheckSingleInstance(form, &KitClassOf<TOther>, false));
  new TOther(form);
  EXPECT_TRUE(CheckSingleInstance(form, &KitClassOf<TOther>, false));
  EXPECT_FALSE(CheckSingleInstance(form, nullptr, false));
  fw::Free(form);
}

TEST(KitIniCtrl, DefaultsAndSetterRules) {
  vexa::test::TestSession session;
  TKitIniCtrl c(nullptr);
  EXPECT_TRUE(c.Common());
  EXPECT_EQ(c.MaxEntries(), 16);
  EXPECT_EQ(c.IniPrefix(), ppWindows);
  EXPECT_EQ(c.RegRoot(), rpCurrentUser);
  EXPECT_EQ(c.Target(), itAuto);
  EXPECT_EQ(c.EffectiveTarget(), itRegistry);
  c.SetTarget(itIniFile);
  EXPECT_EQ(c.EffectiveTarget(), itIniFile);
  EXPECT_EQ(c.EncKey(), 48213);
  EXPECT_FALSE(c.Encoded());

  c.SetIniFile("settings");
  EXPECT_EQ(c.IniFile(), "settings.INI");
  c.SetIniFile("conf/app.cfg");
  EXPECT_EQ(c.IniFile(), "conf/app.cfg");

  c.SetMaxEntries(40);
  EXPECT_EQ(c.MaxEntries(), 40);
  c.SetAlphaCounter(true);
  EXPECT_EQ(c.MaxEntries(), 26) << "cut to one entry per letter";
  c.SetMaxEntries(30);
  EXPECT_EQ(c.MaxEntries(), 26) << "ignored with the alphabetic counter";
  c.SetMaxEntries(20);
  EXPECT_EQ(c.MaxEntries(), 20);

  EXPECT_EQ(c.User(), "");
  c.SetNetUser(true);
  EXPECT_EQ(c.User(), KitUserName());
  EXPECT_NE(c.User(), "");
  EXPECT_EQ(KitApplication->IniCtrl()->MaxEntries(), 16);
}
