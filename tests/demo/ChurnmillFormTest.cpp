// labels: integration
// timeout: 120
// The demo's main form driven in the test process against a demo database
// built by the database side's script and opened with the embedded engine:
// start and stop, the statements and their draws, the list of STOCKIDs, the
// notify procedure calls, failures, the trigger loop's re-entrance and the
// database path.
#include <locale.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "demo/ChurnmillMain.h"
#include "demo/OSUtils.h"
#include "framework/SysUtils.h"
#include "tests/demo/DemoTestKit.h"

namespace vexa::test {
namespace {

using namespace std::chrono_literals;

// Records the notify procedure calls and whether the statement transaction
// was open around them; can make a call fail.
class TRecordingForm : public TFrmChurnmillMain {
public:
  using TFrmChurnmillMain::TFrmChurnmillMain;
  std::vector<std::string> Calls;
  bool SharedTransaction = false;  // a call found the transaction open, or left it open
  bool FailBegin = false;
  bool FailEnd = false;

  void Note(const std::string& call) {
    Calls.push_back(call);
    if (IBTransaction1->InTransaction()) SharedTransaction = true;
  }
  int32_t BeginNotifyTrans(int32_t TableID) override {
    Note("B " + std::to_string(TableID));
    if (FailBegin) throw fw::Exception("begin refused");
    int32_t id = TFrmChurnmillMain::BeginNotifyTrans(TableID);
    if (IBTransaction1->InTransaction()) SharedTransaction = true;
    return id;
  }
  void EndNotifyTrans(int32_t TableID, int32_t TransID) override {
    Note("E " + std::to_string(TableID) + " " + std::to_string(TransID));
    if (FailEnd) throw fw::Exception("end refused");
    TFrmChurnmillMain::EndNotifyTrans(TableID, TransID);
    if (IBTransaction1->InTransaction()) SharedTransaction = true;
  }
  void CancelNotifyTrans(int32_t TableID, int32_t TransID) override {
    Note("R " + std::to_string(TableID) + " " + std::to_string(TransID));
    TFrmChurnmillMain::CancelNotifyTrans(TableID, TransID);
    if (IBTransaction1->InTransaction()) SharedTransaction = true;
  }
};

// What one pass will draw, worked out from the generator's seed.
struct Predicted {
  int Op = 0;  // 0 insert, 1 delete, 2 update
  int Index = 0;
  std::string Symbol;
  int NetChangeDraw = 0;
  int PriceDraw = 0;
  int VolumeDraw = 0;
};

Predicted Predict(uint32_t seed, bool ins, bool del, bool upd, int listCount, bool fourLetters) {
  uint32_t saved = RandSeed;
  RandSeed = seed;
  Predicted p;
  do {
    p.Op = Random(3);
  } while (!(p.Op == 0 ? ins : p.Op == 1 ? del : upd));
  if (p.Op != 0 && listCount == 0) p.Op = 0;
  if (p.Op != 0) p.Index = Random(listCount);
  for (int i = 0; i < (fourLetters ? 4 : 3); ++i) p.Symbol += static_cast<char>('A' + Random(26));
  p.NetChangeDraw = Random(214);
  p.PriceDraw = Random(10700);
  p.VolumeDraw = Random(135);
  RandSeed = saved;
  return p;
}

std::string Fixed2(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

// The statement a predicted pass runs, written out independently of the form.
std::string ExpectedText(const Predicted& p, int32_t id) {
  double nc = (p.NetChangeDraw - 107) / 100.0;
  if (p.NetChangeDraw == 107) nc = 0.01;
  std::string ncText = Fixed2(nc);
  std::string price = Fixed2((p.PriceDraw + 300) / 100.0);
  std::string tick = nc >= 0 ? "U" : "D";
  std::string volume = std::to_string((p.VolumeDraw + 1) * 1000);
  if (p.Op == 0) {
    return "INSERT INTO DEMOTABLE ( STOCKSYMBOL, PRICE, TICK, NETCHANGE, VOLUME, OPENPRICE, HIGHPRICE, LOWPRICE ) "
           "VALUES ( '" + p.Symbol + "', " + price + ", '" + tick + "', " + ncText + ", " + volume + ", " +
           price + ", " + price + ", " + price + " )";
  }
  if (p.Op == 1) return "DELETE FROM DEMOTABLE WHERE STOCKID = " + std::to_string(id);
  return "UPDATE DEMOTABLE SET PRICE = PRICE + " + ncText + ", LASTTRADETIME = CURRENT_TIMESTAMP , TICK = '" +
         tick + "', NETCHANGE = " + ncText + ", VOLUME = " + volume + " WHERE STOCKID = " + std::to_string(id);
}

class ChurnmillForm : public DemoFixture {};

TEST_F(ChurnmillForm, StartLoadsTheListInOrderAndStopClosesEverything) {
  auto f = MakeForm();
  EXPECT_EQ(f->Caption(), "VEXA Churnmill");
  EXPECT_EQ(f->btnShake->Caption(), "Start Shaking");
  EXPECT_EQ(f->lblTPS->Caption(), "0");
  EXPECT_TRUE(f->chkI->Checked() && f->chkD->Checked() && f->chkU->Checked());
  EXPECT_FALSE(f->chk4CharSymbol->Checked());
  EXPECT_TRUE(f->tmrDisplay->Enabled());
  EXPECT_FALSE(f->tmrTrigger->Enabled());
  EXPECT_EQ(f->tmrTrigger->Interval(), 1000u);
  EXPECT_EQ(f->DatabasePath, DbPath);

  // Only updates: the first pass (run by the start itself) leaves the list as loaded.
  f->chkI->SetChecked(false);
  f->chkD->SetChecked(false);
  f->tmrDisplay->SetEnabled(false);
  f->btnShakeClick(f->btnShake);
  EXPECT_EQ(f->btnShake->Tag(), 1);
  EXPECT_EQ(f->btnShake->Caption(), "Stop Shaking");
  EXPECT_TRUE(f->btnShake->Enabled());
  EXPECT_TRUE(f->tmrTrigger->Enabled());
  EXPECT_TRUE(f->IBDatabase1->Connected());
  EXPECT_EQ(DemoTableID, 1);
  EXPECT_EQ(f->CommitCount, 1);
  EXPECT_FALSE(TriggerBusy);
  DemoDb check(DbPath);
  std::vector<std::string> inDb = check.Column("SELECT STOCKID FROM DEMOTABLE");
  std::vector<std::string> listed;
  for (int32_t id : Ids(*f)) listed.push_back(std::to_string(id));
  EXPECT_EQ(listed, inDb);
  ASSERT_EQ(listed.size(), 20u);

  auto lines = Lines(*f);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Opening database: " + DbPath);
  EXPECT_EQ(lines[1], "Retrieving TableID for DEMOTABLE");
  EXPECT_EQ(lines[2], "Loading Record List");
  EXPECT_EQ(lines[3].rfind("UPDATE DEMOTABLE SET PRICE = PRICE + ", 0), 0u) << lines[3];

  f->btnShakeClick(f->btnShake);
  EXPECT_EQ(f->btnShake->Tag(), 0);
  EXPECT_EQ(f->btnShake->Caption(), "Start Shaking");
  EXPECT_TRUE(f->btnShake->Enabled());
  EXPECT_FALSE(f->tmrTrigger->Enabled());
  EXPECT_FALSE(f->IBDatabase1->Connected());
  EXPECT_EQ(f->StockIDs->Count(), 0);
  EXPECT_EQ(Lines(*f).back(), "Closing database: " + DbPath);
  EXPECT_TRUE(Errors.empty()) << Errors[0];

  // A second run starts on the same form.
  f->btnShakeClick(f->btnShake);
  EXPECT_EQ(f->btnShake->Tag(), 1);
  EXPECT_EQ(f->StockIDs->Count(), 20);
}

TEST_F(ChurnmillForm, StatementsFollowTheDrawsAndChangeTheRowsTheyName) {
  auto f = MakeForm<TRecordingForm>();
  StartQuiet(*f);
  DemoDb check(DbPath);
  int seen[3] = {0, 0, 0};
  for (int pass = 0; pass < 60; ++pass) {
    if (pass == 30) f->chk4CharSymbol->SetChecked(true);
    std::vector<int32_t> before = Ids(*f);
    Predicted p = Predict(RandSeed, true, true, true, static_cast<int>(before.size()),
                          f->chk4CharSymbol->Checked());
    int32_t id = p.Op == 0 ? 0 : before[p.Index];
    std::string lastKey = check.Value("SELECT GEN_ID(GEN_DEMOTABLE_STOCKID, 0) FROM RDB$DATABASE");
    int commits = f->CommitCount;
    f->Calls.clear();
    Pass(*f);
    ++seen[p.Op];

    std::string text = ExpectedText(p, id);
    ASSERT_EQ(Lines(*f).back(), text) << "pass " << pass;
    EXPECT_EQ(f->CommitCount, commits + 1);
    EXPECT_EQ(f->Calls, (std::vector<std::string>{"B 1", "E 1 0"}));
    std::vector<int32_t> after = Ids(*f);
    double nc = p.NetChangeDraw == 107 ? 0.01 : (p.NetChangeDraw - 107) / 100.0;
    if (p.Op == 0) {
      // The new row's own STOCKID is listed.
      ASSERT_EQ(after.size(), before.size() + 1);
      int32_t newID = after.back();
      EXPECT_EQ(newID, std::stoi(lastKey) + 1);
      std::string price = Fixed2((p.PriceDraw + 300) / 100.0);
      EXPECT_EQ(check.Value("SELECT STOCKSYMBOL || '|' || PRICE || '|' || TICK || '|' || NETCHANGE || '|' || "
                            "VOLUME || '|' || OPENPRICE || '|' || HIGHPRICE || '|' || LOWPRICE FROM DEMOTABLE "
                            "WHERE STOCKID = " + std::to_string(newID)),
                p.Symbol + "|" + price + "|" + (nc >= 0 ? "U" : "D") + "|" + Fixed2(nc) + "|" +
                    std::to_string((p.VolumeDraw + 1) * 1000) + "|" + price + "|" + price + "|" + price);
    } else if (p.Op == 1) {
      before.erase(before.begin() + p.Index);
      EXPECT_EQ(after, before);
      EXPECT_EQ(check.Value("SELECT COUNT(*) FROM DEMOTABLE WHERE STOCKID = " + std::to_string(id)), "0");
    } else {
      EXPECT_EQ(after, before);
      EXPECT_EQ(check.Value("SELECT TICK || '|' || NETCHANGE || '|' || VOLUME FROM DEMOTABLE WHERE STOCKID = " +
                            std::to_string(id)),
                std::string(nc >= 0 ? "U" : "D") + "|" + Fixed2(nc) + "|" +
                    std::to_string((p.VolumeDraw + 1) * 1000));
    }
  }
  EXPECT_GT(seen[0], 0);
  EXPECT_GT(seen[1], 0);
  EXPECT_GT(seen[2], 0);
  EXPECT_FALSE(f->SharedTransaction) << "each procedure call runs in a transaction of its own";
  // The list stays what the table holds.
  std::vector<std::string> listed;
  for (int32_t v : Ids(*f)) listed.push_back(std::to_string(v));
  std::vector<std::string> inDb = check.Column("SELECT STOCKID FROM DEMOTABLE ORDER BY STOCKID");
  std::sort(listed.begin(), listed.end(), [](auto& a, auto& b) { return std::stoi(a) < std::stoi(b); });
  EXPECT_EQ(listed, inDb);
}

TEST_F(ChurnmillForm, OnlyDeletesShrinkTheListByOneUntilItIsEmptyThenInsert) {
  auto f = MakeForm();
  f->chkI->SetChecked(false);
  f->chkU->SetChecked(false);
  StartQuiet(*f);
  // The start ran one pass already.
  ASSERT_EQ(f->StockIDs->Count(), 19);
  DemoDb check(DbPath);
  for (int n = 18; n >= 0; --n) {
    Pass(*f);
    ASSERT_EQ(f->StockIDs->Count(), n);
    ASSERT_EQ(Lines(*f).back().rfind("DELETE FROM DEMOTABLE WHERE STOCKID = ", 0), 0u);
  }
  EXPECT_EQ(f->CommitCount, 20);
  EXPECT_EQ(check.Value("SELECT COUNT(*) FROM DEMOTABLE"), "0");
  // Nothing left to delete: the pass inserts, and the next deletes that row.
  Pass(*f);
  EXPECT_EQ(Lines(*f).back().rfind("INSERT INTO DEMOTABLE", 0), 0u) << Lines(*f).back();
  ASSERT_EQ(f->StockIDs->Count(), 1);
  EXPECT_EQ(f->StockIDs->Get(0), 21);
  Pass(*f);
  EXPECT_EQ(Lines(*f).back(), "DELETE FROM DEMOTABLE WHERE STOCKID = 21");
  EXPECT_EQ(f->StockIDs->Count(), 0);
  EXPECT_EQ(f->CommitCount, 22);
}

TEST_F(ChurnmillForm, NetChangeIsNeverZero) {
  auto f = MakeForm();
  f->chkD->SetChecked(false);
  f->chkU->SetChecked(false);
  StartQuiet(*f);
  // A seed whose pass draws 107 for the net change.
  uint32_t seed = 0;
  while (Predict(seed, true, false, false, 0, false).NetChangeDraw != 107) ++seed;
  RandSeed = seed;
  Pass(*f);
  const std::string text = Lines(*f).back();
  EXPECT_NE(text.find("'U', 0.01, "), std::string::npos) << text;
  DemoDb check(DbPath);
  EXPECT_EQ(check.Value("SELECT NETCHANGE || TICK FROM DEMOTABLE WHERE STOCKID = " +
                        std::to_string(f->StockIDs->Get(f->StockIDs->Count() - 1))),
            "0.01U");
  // One below gives a negative change and a down tick.
  while (Predict(seed, true, false, false, 0, false).NetChangeDraw != 106) ++seed;
  RandSeed = seed;
  Pass(*f);
  EXPECT_NE(Lines(*f).back().find("'D', -0.01, "), std::string::npos) << Lines(*f).back();
}

TEST_F(ChurnmillForm, TheLogDropsItsFirstFiftyLinesBeyondAHundred) {
  auto f = MakeForm();
  StartQuiet(*f);
  f->Memo1->Lines()->Clear();
  for (int i = 0; i < 100; ++i) f->Memo1->Lines()->Add("line " + std::to_string(i));
  Pass(*f);
  EXPECT_EQ(f->Memo1->Lines()->Count(), 101) << "a hundred lines are kept";
  Pass(*f);
  auto lines = Lines(*f);
  ASSERT_EQ(lines.size(), 52u);
  EXPECT_NE(lines[51].find("DEMOTABLE"), std::string::npos) << lines[51];
}

TEST_F(ChurnmillForm, StatementsKeepADecimalPointInACommaLocale) {
  // A locale with a decimal comma, made for this test.
  std::string locDir = Session.Root() + "/locale";
  mkdir(locDir.c_str(), 0700);
  ChildProcess def("/usr/bin/localedef", {"-i", "de_DE", "-f", "UTF-8", locDir + "/de_DE.UTF-8"}, {}, true);
  auto status = def.Wait(60s);
  setenv("LOCPATH", locDir.c_str(), 1);
  if (status != std::optional<int>(0) || !setlocale(LC_ALL, "de_DE.UTF-8")) {
    GTEST_SKIP() << "no locale with a decimal comma can be made here";
  }
  ASSERT_EQ(Fixed2(1.5), "1,50") << "the locale is in effect";

  auto f = MakeForm();
  f->chkD->SetChecked(false);
  StartQuiet(*f);
  for (int i = 0; i < 10; ++i) Pass(*f);
  setlocale(LC_ALL, "C");
  EXPECT_EQ(f->CommitCount, 11);
  for (const std::string& line : Lines(*f)) {
    if (line.rfind("INSERT", 0) != 0 && line.rfind("UPDATE", 0) != 0) continue;
    EXPECT_EQ(line.find(','), line.find(", ")) << "only list commas: " << line;
    for (size_t i = line.find(','); i != std::string::npos; i = line.find(',', i + 1)) {
      EXPECT_EQ(line[i + 1], ' ') << line;
    }
    EXPECT_NE(line.find('.'), std::string::npos) << line;
  }
  EXPECT_EQ(FloatText(-1.07), "-1.07");
  EXPECT_EQ(FloatText(109.99), "109.99");
}

TEST_F(ChurnmillForm, TargetRateSetsTheTriggerInterval) {
  auto f = MakeForm();
  auto setTarget = [&](int target) {
    while (f->updTPSTarget->Position() < target) f->updTPSTarget->ClickButton(fw::btNext);
    while (f->updTPSTarget->Position() > target) f->updTPSTarget->ClickButton(fw::btPrev);
  };
  setTarget(3);
  EXPECT_EQ(f->tmrTrigger->Interval(), 333u);
  setTarget(7);
  EXPECT_EQ(f->tmrTrigger->Interval(), 142u);
  setTarget(100);
  EXPECT_EQ(f->tmrTrigger->Interval(), 10u);
  EXPECT_EQ(f->Edit1->Text(), "100");
  f->updTPSTarget->ClickButton(fw::btNext);
  EXPECT_EQ(f->updTPSTarget->Position(), 100) << "the target stops at 100";
  EXPECT_EQ(f->tmrTrigger->Interval(), 10u);
  setTarget(1);
  f->updTPSTarget->ClickButton(fw::btPrev);
  EXPECT_EQ(f->updTPSTarget->Position(), 1);
  EXPECT_EQ(f->tmrTrigger->Interval(), 1000u);

  // The display shows the commits since its last tick and starts again from 0.
  f->CommitCount = 17;
  f->tmrDisplayTimer(f->tmrDisplay);
  EXPECT_EQ(f->lblTPS->Caption(), "17");
  EXPECT_EQ(f->CommitCount, 0);
  f->tmrDisplayTimer(f->tmrDisplay);
  EXPECT_EQ(f->lblTPS->Caption(), "0");
}

TEST_F(ChurnmillForm, TheLastCheckedOperationCannotBeUnchecked) {
  auto f = MakeForm();
  f->chkI->SetChecked(false);
  f->chkU->SetChecked(false);
  EXPECT_TRUE(f->chkD->Checked());
  f->chkD->SetChecked(false);
  EXPECT_TRUE(f->chkD->Checked()) << "checked again at once";
  f->chkU->Toggle();
  f->chkD->Toggle();
  EXPECT_FALSE(f->chkD->Checked());
  f->chkU->Toggle();
  EXPECT_TRUE(f->chkU->Checked());
  EXPECT_FALSE(f->chkI->Checked());
}

TEST_F(ChurnmillForm, ADatabaseWithoutTheConfigurationRowRunsWithTableZero) {
  {
    DemoDb setup(DbPath);
    setup.Exec("DELETE FROM VEXA_KWV_CONFIG");
  }
  auto f = MakeForm<TRecordingForm>();
  StartQuiet(*f);
  ASSERT_EQ(Dialogs.size(), 1u);
  EXPECT_EQ(Dialogs[0].Text, "Table not configured for VEXA Lumidex support:\r\nDEMOTABLE");
  EXPECT_EQ(Dialogs[0].DlgType, fw::mtError);
  EXPECT_TRUE(Dialogs[0].Buttons == fw::TMsgDlgButtons{fw::mbOK});
  EXPECT_EQ(DemoTableID, 0);
  EXPECT_EQ(f->btnShake->Tag(), 1);
  EXPECT_EQ(f->StockIDs->Count() >= 19, true);
  Pass(*f);
  EXPECT_EQ(f->CommitCount, 2);
  EXPECT_EQ(f->Calls, (std::vector<std::string>{"B 0", "E 0 0", "B 0", "E 0 0"}));
  EXPECT_TRUE(Errors.empty());
}

TEST_F(ChurnmillForm, AFailedStatementIsRolledBackCancelledAndNotCounted) {
  {
    // Deleting row 5 fails after the change trigger has already reported it.
    DemoDb setup(DbPath);
    setup.Exec("CREATE EXCEPTION E_FORCED 'forced failure'");
    setup.Exec("CREATE TRIGGER DEMOTABLE_FAIL FOR DEMOTABLE ACTIVE AFTER DELETE POSITION 20 AS "
               "BEGIN IF (OLD.STOCKID = 5) THEN EXCEPTION E_FORCED; END");
  }
  auto f = MakeForm<TRecordingForm>();
  f->chkI->SetChecked(false);
  f->chkU->SetChecked(false);
  StartQuiet(*f);
  f->StockIDs->Clear();
  f->StockIDs->Add(5);
  int commits = f->CommitCount;
  f->Calls.clear();
  Pass(*f);
  EXPECT_EQ(Lines(*f).back(), "DELETE FROM DEMOTABLE WHERE STOCKID = 5");
  EXPECT_EQ(f->Calls, (std::vector<std::string>{"B 1", "R 1 0"}));
  EXPECT_EQ(f->CommitCount, commits);
  EXPECT_EQ(Ids(*f), std::vector<int32_t>{5});
  EXPECT_FALSE(f->IBTransaction1->InTransaction());
  EXPECT_FALSE(f->SharedTransaction);
  EXPECT_TRUE(Errors.empty()) << "the statement's error is dropped";
  DemoDb check(DbPath);
  EXPECT_EQ(check.Value("SELECT COUNT(*) FROM DEMOTABLE WHERE STOCKID = 5"), "1");

  // A failing end of the notify transaction: cancelled, neither counted nor listed.
  f->StockIDs->Clear();
  f->StockIDs->Add(7);
  f->FailEnd = true;
  f->Calls.clear();
  Pass(*f);
  EXPECT_EQ(f->Calls, (std::vector<std::string>{"B 1", "E 1 0", "R 1 0"}));
  EXPECT_EQ(f->CommitCount, commits);
  EXPECT_EQ(Ids(*f), std::vector<int32_t>{7});

  // A failing begin leaves the loop to the application's handler; the next tick runs again.
  f->FailEnd = false;
  f->FailBegin = true;
  EXPECT_THROW(Pass(*f), fw::Exception);
  EXPECT_FALSE(TriggerBusy);
  f->FailBegin = false;
  f->StockIDs->Clear();
  f->StockIDs->Add(8);
  Pass(*f);
  EXPECT_EQ(f->CommitCount, commits + 1);
  EXPECT_EQ(f->StockIDs->Count(), 0);
}

TEST_F(ChurnmillForm, AFailedStartLeavesTheRunStoppedAndTheConnectionClosed) {
  auto f = MakeForm();
  f->DatabasePath = Session.Root() + "/missing/KWV_DEMO.GDB";
  f->btnShakeClick(f->btnShake);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(f->btnShake->Tag(), 0);
  EXPECT_EQ(f->btnShake->Caption(), "Start Shaking");
  EXPECT_TRUE(f->btnShake->Enabled());
  EXPECT_FALSE(f->tmrTrigger->Enabled());
  EXPECT_EQ(Lines(*f).back(), "Opening database: " + Session.Root() + "/missing/KWV_DEMO.GDB");

  // A database without the configuration table fails after the connection
  // was opened: the connection is closed again and a later start works.
  DbTestDatabase bare;
  {
    DemoDb setup(bare.Path());
    setup.Exec("CREATE TABLE DEMOTABLE (STOCKID INTEGER NOT NULL PRIMARY KEY)");
  }
  f->DatabasePath = bare.Path();
  f->btnShakeClick(f->btnShake);
  ASSERT_EQ(Errors.size(), 2u);
  EXPECT_NE(Errors[1].find("VEXA_KWV_CONFIG"), std::string::npos) << Errors[1];
  EXPECT_EQ(f->btnShake->Tag(), 0);
  EXPECT_FALSE(f->IBDatabase1->Connected());
  EXPECT_EQ(f->StockIDs->Count(), 0);

  f->DatabasePath = DbPath;
  StartQuiet(*f);
  EXPECT_EQ(f->btnShake->Tag(), 1);
  EXPECT_EQ(f->CommitCount, 1);
  EXPECT_EQ(Errors.size(), 2u);
}

// A hidden window whose posted messages run test code inside the trigger
// loop's message processing.
class Poster {
public:
  explicit Poster(std::function<void()> work)
      : FWork(std::move(work)), FWnd(fw::AllocateHWnd([this](fw::TMessage& m) {
          if (m.Msg == plat::WM_USER) FWork();
        })) {}
  ~Poster() { fw::DeallocateHWnd(FWnd); }
  void Post() { plat::PostMessage(FWnd, plat::WM_USER, 0, 0); }

private:
  std::function<void()> FWork;
  plat::HWND FWnd;
};

TEST_F(ChurnmillForm, TicksDuringAPassCauseExactlyOneMorePass) {
  auto f = MakeForm<TRecordingForm>();
  f->chkD->SetChecked(false);
  StartQuiet(*f);
  int passesStarted = 0;
  Poster tick([&] {
    EXPECT_TRUE(TriggerBusy);
    f->tmrTriggerTimer(f->tmrTrigger);  // finds the loop busy: only marks a pass
  });
  for (int i = 0; i < 3; ++i) tick.Post();
  int commits = f->CommitCount;
  f->Calls.clear();
  Pass(*f);
  for (const auto& c : f->Calls) passesStarted += c.rfind("B ", 0) == 0;
  EXPECT_EQ(passesStarted, 2);
  EXPECT_EQ(f->CommitCount, commits + 2);
  EXPECT_FALSE(TriggerBusy);
  EXPECT_FALSE(TriggerPending);
}

TEST_F(ChurnmillForm, AStopDuringAPassEndsItWithoutAStatement) {
  auto f = MakeForm<TRecordingForm>();
  StartQuiet(*f);
  Poster stop([&] { f->btnShakeClick(f->btnShake); });
  stop.Post();
  int commits = f->CommitCount;
  f->Calls.clear();
  Pass(*f);
  EXPECT_TRUE(f->Calls.empty());
  EXPECT_EQ(f->CommitCount, commits);
  EXPECT_EQ(Lines(*f).back(), "Closing database: " + DbPath);
  EXPECT_EQ(f->btnShake->Tag(), 0);
  EXPECT_FALSE(TriggerBusy);
  EXPECT_TRUE(Errors.empty()) << Errors[0];

  // The program's end during a busy loop ends it too.
  StartQuiet(*f);
  Poster quit([&] { fw::Application->Terminate(); });
  quit.Post();
  f->Calls.clear();
  Pass(*f);
  EXPECT_TRUE(f->Calls.empty());
  EXPECT_FALSE(TriggerBusy);
}

TEST_F(ChurnmillForm, TheWebButtonWithoutABrowserSaysSo) {
  auto f = MakeForm();
  OSUtils::BrowserPath.clear();
  f->Button1Click(f->Button1);
  ASSERT_EQ(Dialogs.size(), 1u);
  EXPECT_EQ(Dialogs[0].Text, "Unable to find a web browser. Install one or try connecting manually.");
}

// The database path needs no database of its own.
class ChurnmillPath : public ::testing::Test {
protected:
  TestSession Session;
  std::string Fallback = fw::ExtractFilePath(fw::ParamStr0()) + "Data/KWV_DEMO.GDB";
  std::string PathOfNewForm() { return MakeForm()->DatabasePath; }
};

TEST_F(ChurnmillPath, TheRegistryNamesTheDatabaseWhenItsFileExists) {
  EXPECT_EQ(PathOfNewForm(), Fallback) << "no key";
  std::string file = Session.Root() + "/mine.gdb";
  NameDatabaseInRegistry(file);
  EXPECT_EQ(PathOfNewForm(), Fallback) << "no such file";
  { FILE* fp = std::fopen(file.c_str(), "w"); std::fclose(fp); }
  EXPECT_EQ(PathOfNewForm(), file);
  NameDatabaseInRegistry("");
  EXPECT_EQ(PathOfNewForm(), Fallback) << "empty";
  {
    fw::TRegistry reg;
    reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(ChurnmillRegistryKey, false));
    reg.WriteInteger(ChurnmillDatabaseValue, 7);
  }
  EXPECT_EQ(PathOfNewForm(), Fallback) << "a number";
}

TEST_F(ChurnmillPath, AUserWhoMayNotWriteTheSettingsStillGetsTheConfiguredDatabase) {
  std::string file = Session.Root() + "/mine.gdb";
  { FILE* fp = std::fopen(file.c_str(), "w"); std::fclose(fp); }
  NameDatabaseInRegistry(file);
  ASSERT_EQ(chmod(plat::RegistryFileOf(fw::HKEY_LOCAL_MACHINE).c_str(), 0444), 0);
  EXPECT_EQ(PathOfNewForm(), file);
}

TEST(Churnmill, TheProgramRunsHeadlessAndEndsOnSigterm) {
  TestSession session;
  ChildProcess p(BinPath("churnmill"), {});
  // Signal it once it catches SIGTERM (the 15th bit of its caught-signal mask).
  auto catches = [&] {
    std::ifstream in("/proc/" + std::to_string(p.Pid()) + "/status");
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> 14) & 1;
    }
    return 0ull;
  };
  for (int i = 0; i < 1000 && !catches(); ++i) std::this_thread::sleep_for(10ms);
  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(10s), std::optional<int>(0));
}

TEST(Churnmill, RandomStaysInItsRangeAndReachesEveryValue) {
  RandSeed = 1;
  std::vector<int> hits(26, 0);
  for (int i = 0; i < 26000; ++i) {
    int32_t v = Random(26);
    ASSERT_GE(v, 0);
    ASSERT_LT(v, 26);
    ++hits[v];
  }
  for (int h : hits) EXPECT_GT(h, 700);
  for (int i = 0; i < 1000; ++i) ASSERT_LT(Random(10700), 10700);
  EXPECT_EQ(Random(0), 0);
}

}  // namespace
}  // namespace vexa::test
