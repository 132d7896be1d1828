// labels: e2e
// timeout: 240
// The whole chain from the database end: the demo form in this process runs
// its statements on a demo database built by the script (embedded engine, so
// the database side's module runs here too), the notify server beaconhub,
// the gateway relaygate and a local client program subscribed to the demo
// table run as real processes. Every committed insert, update and delete
// reaches the client with its code and STOCKID, in order; a statement that
// fails delivers nothing.
#include <gtest/gtest.h>

#include <signal.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clients/VexaIPCClient.h"
#include "gateway/KWVReg.h"
#include "tests/demo/DemoTestKit.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/Sanitizers.h"

namespace vexa::test {
namespace {

using namespace std::chrono_literals;

std::string Notification(char code, int32_t id) {
  return "Notification table=1 code=" + std::string(1, code) + " value=" + std::to_string(id);
}

// The next notification line the client printed; "" when none came in time.
std::string NextNotification(ChildProcess& client) {
  for (;;) {
    auto line = client.ReadLine(15000ms);
    if (!line) return "";
    if (line->rfind("Notification ", 0) == 0) return *line;
  }
}

int32_t TrailingNumber(const std::string& text) {
  return std::stoi(text.substr(text.rfind(' ') + 1));
}

class ChurnmillChain : public DemoFixture {
protected:
  void SetUp() override {
    Rows = 30;
    DemoFixture::SetUp();
    if (HasFatalFailure()) return;
    const std::string dir = Session.Root() + "/programs";
    const int port = FreeTcpPort();
    const test::ProgramCopy hub("beaconhub", dir,
                                "[Server]\nAddress=127.0.0.1\nPort=" + std::to_string(port) +
                                    "\nMaxClients=0\n[Client]\nFlushInterval=20\n");
    const test::ProgramCopy relaygate("relaygate", dir, "[Connection Polling]\nDuration=0\nInterval=1\n");
    WriteProviderSettings("DEMO", "127.0.0.1", std::to_string(port));
    Server = std::make_unique<ChildProcess>(hub.Path(), std::vector<std::string>{});
    Gateway = std::make_unique<ChildProcess>(relaygate.Path(), std::vector<std::string>{"DEMO"});
    ASSERT_TRUE(Gateway->WaitForLine("Connected to Notify Server at 127.0.0.1:" + std::to_string(port), 20s));
    Client = std::make_unique<ChildProcess>(BinPath("notifylistener"), std::vector<std::string>{"DEMO", "1"});
    ASSERT_TRUE(Client->WaitForLine("Subscribed to table 1 (1)", 10s));
    ASSERT_TRUE(Gateway->WaitForLine("Subscription to table 1 confirmed", 10s));
  }

  // What the pass just run must deliver, or "" when it committed nothing.
  static std::string Delivered(TFrmChurnmillMain& f, int commitsBefore) {
    if (f.CommitCount == commitsBefore) return "";
    std::string text = f.Memo1->Lines()->Strings(f.Memo1->Lines()->Count() - 1);
    if (text.rfind("INSERT ", 0) == 0) return Notification('I', f.StockIDs->Get(f.StockIDs->Count() - 1));
    if (text.rfind("DELETE ", 0) == 0) return Notification('D', TrailingNumber(text));
    return Notification('C', TrailingNumber(text));
  }

  // Stops the notify server while the form runs passes, then lets it go on;
  // the number of passes that waited for it. The first pass's wait makes the
  // stop last longer than the database side's time-out. What each pass must
  // deliver goes to *expected.
  int PassesWhileServerStopped(TFrmChurnmillMain& f, int passes,
                               std::vector<std::string>* expected) {
    Server->Signal(SIGSTOP);
    EXPECT_TRUE(WaitStopped(Server->Pid()));
    int slow = 0, done = 0;
    const auto start = std::chrono::steady_clock::now();
    for (; done < passes && std::chrono::steady_clock::now() - start < 40s; ++done) {
      const auto before = std::chrono::steady_clock::now();
      const int commitsBefore = f.CommitCount;
      Pass(f);
      slow += std::chrono::steady_clock::now() - before >= 3s;
      expected->push_back(Delivered(f, commitsBefore));
    }
    EXPECT_EQ(done, passes);
    Server->Signal(SIGCONT);
    return slow;
  }

  std::unique_ptr<ChildProcess> Server, Gateway, Client;
};

TEST_F(ChurnmillChain, EveryCommittedStatementArrivesAndAFailedOneDeliversNothing) {
  {
    // Deleting row 5 fails after its change trigger has already reported it.
    DemoDb setup(DbPath);
    setup.Exec("CREATE EXCEPTION E_FORCED 'forced failure'");
    setup.Exec("CREATE TRIGGER DEMOTABLE_FAIL FOR DEMOTABLE ACTIVE AFTER DELETE POSITION 20 AS "
               "BEGIN IF (OLD.STOCKID = 5) THEN EXCEPTION E_FORCED; END");
  }
  auto f = MakeForm();
  // The start's own pass is an update.
  f->chkI->SetChecked(false);
  f->chkD->SetChecked(false);
  StartQuiet(*f);
  ASSERT_TRUE(Errors.empty()) << Errors[0];
  ASSERT_EQ(f->CommitCount, 1);
  std::vector<std::string> expected{Delivered(*f, 0)};

  f->chkI->SetChecked(true);
  f->chkD->SetChecked(true);
  for (int i = 0; i < 80; ++i) {
    int before = f->CommitCount;
    Pass(*f);
    std::string d = Delivered(*f, before);
    if (!d.empty()) expected.push_back(d);  // a delete of row 5 delivers nothing
  }
  int seen[3] = {0, 0, 0};
  for (const std::string& e : expected) {
    if (e.find("code=I") != std::string::npos) ++seen[0];
    if (e.find("code=D") != std::string::npos) ++seen[1];
    if (e.find("code=C") != std::string::npos) ++seen[2];
  }
  EXPECT_GT(seen[0], 0);
  EXPECT_GT(seen[1], 0);
  EXPECT_GT(seen[2], 0);

  // Row 5 deleted: the statement fails, and then an insert commits.
  f->chkI->SetChecked(false);
  f->chkU->SetChecked(false);
  f->StockIDs->Clear();
  f->StockIDs->Add(5);
  int before = f->CommitCount;
  Pass(*f);
  ASSERT_EQ(f->Memo1->Lines()->Strings(f->Memo1->Lines()->Count() - 1), "DELETE FROM DEMOTABLE WHERE STOCKID = 5");
  ASSERT_EQ(f->CommitCount, before) << "the delete failed";
  f->chkI->SetChecked(true);
  f->chkD->SetChecked(false);
  before = f->CommitCount;
  Pass(*f);
  ASSERT_EQ(f->CommitCount, before + 1);
  expected.push_back(Delivered(*f, before));
  ASSERT_NE(expected.back().find("code=I"), std::string::npos);

  // The client sees exactly the committed statements, in order; the failed
  // delete's notification never comes between them.
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(NextNotification(*Client), expected[i]) << "notification " << i << " of " << expected.size();
  }
  EXPECT_TRUE(Errors.empty()) << Errors[0];
  f->btnShakeClick(f->btnShake);
  EXPECT_FALSE(f->IBDatabase1->Connected());
}

// What commits while the server is stopped is held for it and arrives, in
// order, once it goes on.
TEST_F(ChurnmillChain, AStoppedServerCostsOneTimeOutAndMissesNothingCommitted) {
  auto f = MakeForm();
  StartQuiet(*f);
  std::vector<std::string> expected{Delivered(*f, 0)};
  auto passes = [&](int n) {
    for (int i = 0; i < n; ++i) {
      const int before = f->CommitCount;
      Pass(*f);
      expected.push_back(Delivered(*f, before));
    }
  };
  passes(5);
  // One pass waits for the stopped server; the others run at full speed.
  EXPECT_EQ(PassesWhileServerStopped(*f, 30, &expected), 1);
  passes(30);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(NextNotification(*Client), expected[i]) << "notification " << i << " of " << expected.size();
  }
  EXPECT_TRUE(Errors.empty()) << Errors[0];
}

// The 'B' that timed out during the stop must not open a transaction once the
// server goes on: one left open would keep the table's buffer for ever.
TEST_F(ChurnmillChain, AfterAStoppedServerGoesOnNoTransactionStaysOpenAndItsMemoryStaysFlat) {
  auto f = MakeForm();
  StartQuiet(*f);
  std::vector<std::string> expected{Delivered(*f, 0)};
  PassesWhileServerStopped(*f, 3, &expected);
  for (const std::string& e : expected) ASSERT_EQ(NextNotification(*Client), e);
  // Load on the channel: rolled-back transactions of 50,000 notifications,
  // which the server drops unless an older transaction stays open.
  TVexaIPCClient db("NotifyServerIPC");
  ASSERT_TRUE(db.FindServer(10000) && db.Connect(10000));
  auto rolledBack = [&] {
    plat::LRESULT id = 0;
    ASSERT_TRUE(db.SendCustom("DBTrans", 0, DemoTableID | ('B' << 8), &id, 10000));
    for (int i = 0; i < 50000; ++i) {
      ASSERT_TRUE(db.SendCustom("DBNotification", i, DemoTableID | ('C' << 8), nullptr, 10000));
    }
    ASSERT_TRUE(db.SendCustom("DBTrans", id, DemoTableID | ('R' << 8), nullptr, 10000));
  };
  rolledBack();
  const int64_t before = StatusKB(Server->Pid(), "VmRSS");
  for (int i = 0; i < 10; ++i) rolledBack();
  if (test::kAddressSanitizer) GTEST_SKIP() << "the sanitizer keeps freed memory resident";
  EXPECT_LT(StatusKB(Server->Pid(), "VmRSS") - before, 1024)
      << "KB more after 500,000 notifications";
}

}  // namespace
}  // namespace vexa::test
