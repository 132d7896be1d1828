// labels: integration
// timeout: 180
// The demo database as the builder script makes it, opened with the embedded
// engine in this process: the change triggers record each change, and each
// commit hands them to the UDR module, which reports them to a stand-in
// notify server over the "NotifyServerIPC" channel. Every message is checked
// as the server receives it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/db/FbDatabase.h"
#include "framework/db/FbSQL.h"
#include "framework/db/FbStoredProc.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSession.h"

using namespace fw;
using namespace std::chrono_literals;
using vexa::test::ChildProcess;

namespace {

// LParam values: table 1 plus the letter shifted left by 8.
constexpr int LBegin = 1 + ('B' << 8);       // 16897
constexpr int LEnd = 1 + ('E' << 8);         // 17665
constexpr int LRollback = 1 + ('R' << 8);    // 20993
constexpr int LInsert = 1 + ('I' << 8);      // 18689
constexpr int LUpdate = 1 + ('C' << 8);      // 17153
constexpr int LDelete = 1 + ('D' << 8);      // 17409
static_assert(LBegin == 16897 && LEnd == 17665 && LRollback == 20993);
static_assert(LInsert == 18689 && LUpdate == 17153 && LDelete == 17409);

class DbNotify : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = Session.Root() + "/db";
    mkdir(Dir.c_str(), 0700);
    vexa::test::UseEngineLockDir();
    DbPath = Dir + "/Data/KWV_DEMO.GDB";
    ASSERT_EQ(vexa::test::BuildDemoDatabase(DbPath, 20), "");
    Proc.SetDatabase(&Db);
    Proc.SetTransaction(&Tr);
  }

  void StartServer() {
    Server = std::make_unique<ChildProcess>(vexa::test::BinPath("DbNotifyServerPeer"),
                                            std::vector<std::string>{});
    ASSERT_TRUE(Server->WaitForLine("ready", 10s));
  }

  // The next message the server handled ("connect" lines skipped); "" when none came.
  std::string NextMessage() {
    for (;;) {
      auto line = Server->ReadLine(10s);
      if (!line) return "";
      if (*line != "connect") return *line;
    }
  }

  int32_t Begin(int32_t tableID) {
    Proc.SetStoredProcName("BEGINNOTIFYTRANS");
    Proc.ParamByName("TableID").SetAsInteger(tableID);
    Proc.ExecProc();
    int32_t id = Proc.ParamByName("TransID").AsInteger();
    Tr.Commit();
    return id;
  }

  void EndOrCancel(const std::string& procedure, int32_t tableID, int32_t transID) {
    Proc.SetStoredProcName(procedure);
    Proc.ParamByName("TableID").SetAsInteger(tableID);
    Proc.ParamByName("TransID").SetAsInteger(transID);
    Proc.ExecProc();
    Tr.Commit();
  }

  // Runs one statement in its own transaction; the first column of its row, if any.
  int32_t Run(const std::string& text) {
    Tr.StartTransaction();
    Sql.SetSQL(text);
    Sql.ExecQuery();
    int32_t value = !Sql.Eof() && Sql.FieldCount() > 0 ? Sql.Fields(0).AsInteger() : 0;
    Tr.Commit();
    return value;
  }

  vexa::test::TestSession Session;
  std::string Dir;
  std::string DbPath;
  std::unique_ptr<ChildProcess> Server;
  vexa::test::DbConnection Conn;  // opened by each test, once the server listens
  TFbDatabase& Db = Conn.Db;
  TFbTransaction& Tr = Conn.Tr;
  TFbSQL& Sql = Conn.Sql;
  TFbStoredProc Proc;
};

TEST_F(DbNotify, EachCommitIsReportedAsOneTransactionOfItsOwnAndNothingElse) {
  StartServer();
  Conn.Open(DbPath);
  // One commit's report: 'B', each change in order, 'E' with the server's id.
  auto report = [&](int32_t id, const std::vector<std::string>& changes) {
    EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
    for (const std::string& c : changes) EXPECT_EQ(NextMessage(), "DBNotification " + c);
    EXPECT_EQ(NextMessage(), "DBTrans " + std::to_string(id) + " " + std::to_string(LEnd));
  };

  // The writer's own brackets send nothing: the insert is reported by its commit.
  EXPECT_EQ(Begin(1), 0);
  int32_t stockID = Run(
      "INSERT INTO DEMOTABLE ( STOCKSYMBOL, PRICE, TICK, NETCHANGE, VOLUME, OPENPRICE, HIGHPRICE, "
      "LOWPRICE ) VALUES ( 'QRS', 12.34, 'U', 0.01, 135000, 12.34, 12.34, 12.34 ) RETURNING STOCKID");
  EXPECT_EQ(stockID, 21);  // 20 seeded rows before it
  EndOrCancel("ENDNOTIFYTRANS", 1, 0);
  report(1000, {"21 " + std::to_string(LInsert)});

  // Plain statements, no procedure called: update, then delete.
  Run("UPDATE DEMOTABLE SET PRICE = PRICE + -1.07, LASTTRADETIME = CURRENT_TIMESTAMP , TICK = 'D', "
      "NETCHANGE = -1.07, VOLUME = 1000 WHERE STOCKID = 5");
  report(1001, {"5 " + std::to_string(LUpdate)});
  Run("DELETE FROM DEMOTABLE WHERE STOCKID = 7");
  report(1002, {"7 " + std::to_string(LDelete)});

  // Undone work is never reported: a statement that fails, a statement undone
  // after its first row changed, a rollback, a change still uncommitted while
  // another transaction commits (the other connection's row 8, then rolled
  // back). Only row 9, committed, arrives.
  Conn.Exec("CREATE EXCEPTION E_FORCED 'forced failure'");
  Conn.Exec(
      "CREATE TRIGGER DEMOTABLE_FAIL FOR DEMOTABLE ACTIVE AFTER UPDATE POSITION 20 AS "
      "BEGIN IF (NEW.STOCKID = 3) THEN EXCEPTION E_FORCED; END");
  vexa::test::DbConnection other(DbPath);
  other.Tr.StartTransaction();
  other.Sql.SetSQL("UPDATE DEMOTABLE SET VOLUME = 8000 WHERE STOCKID = 8");
  other.Sql.ExecQuery();
  const int32_t bracket = Begin(1);
  Tr.StartTransaction();
  Sql.SetSQL("UPDATE DEMOTABLE SET TICK = 'XX' WHERE STOCKID = 11");
  EXPECT_THROW(Sql.ExecQuery(), EFbError);
  Sql.SetSQL("UPDATE DEMOTABLE SET VOLUME = 2000 WHERE STOCKID IN (2, 3) ORDER BY STOCKID");
  EXPECT_THROW(Sql.ExecQuery(), EFbError);
  Tr.Rollback();
  Tr.StartTransaction();
  Sql.SetSQL("UPDATE DEMOTABLE SET VOLUME = 2000 WHERE STOCKID IN (2, 3) ORDER BY STOCKID");
  EXPECT_THROW(Sql.ExecQuery(), EFbError);
  Sql.SetSQL("UPDATE DEMOTABLE SET VOLUME = 9000 WHERE STOCKID = 9");
  Sql.ExecQuery();
  Tr.Commit();
  EndOrCancel("ENDNOTIFYTRANS", 1, bracket);
  other.Tr.Rollback();
  report(1003, {"9 " + std::to_string(LUpdate)});

  // A delete that touches no row commits nothing to report; a statement on
  // two rows and a second statement are one report.
  Run("DELETE FROM DEMOTABLE WHERE STOCKID = 999999");
  Tr.StartTransaction();
  Sql.SetSQL("UPDATE DEMOTABLE SET VOLUME = 2000 WHERE STOCKID IN (4, 6) ORDER BY STOCKID");
  Sql.ExecQuery();
  Sql.SetSQL("DELETE FROM DEMOTABLE WHERE STOCKID = 10");
  Sql.ExecQuery();
  Tr.Commit();
  report(1004, {"4 " + std::to_string(LUpdate), "6 " + std::to_string(LUpdate),
                "10 " + std::to_string(LDelete)});
}

TEST_F(DbNotify, WithoutNotifyServerTheStatementsAndProceduresSucceed) {
  Conn.Open(DbPath);
  const int32_t id = Begin(1);
  EXPECT_EQ(id, 0);
  int32_t stockID = Run("INSERT INTO DEMOTABLE ( STOCKSYMBOL ) VALUES ( 'ABCD' ) RETURNING STOCKID");
  EXPECT_EQ(stockID, 21);
  Run("DELETE FROM DEMOTABLE WHERE STOCKID = 1");
  EndOrCancel("ENDNOTIFYTRANS", 1, id);
  EndOrCancel("CANCELNOTIFYTRANS", 1, id);
  EXPECT_EQ(Run("SELECT COUNT(*) FROM DEMOTABLE"), 20);
}

// A session folder the database side may not use (here: others may write it)
// leaves its host running and every statement succeeding.
TEST_F(DbNotify, ARefusedSessionLeavesTheHostAndItsStatementsAlone) {
  const std::string open = Session.Root() + "/open";
  ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  setenv("VEXA_SESSION_DIR", open.c_str(), 1);
  const long logStart = vexa::test::FirebirdLogSize();
  Conn.Open(DbPath);
  Run("UPDATE DEMOTABLE SET VOLUME = 4000 WHERE STOCKID = 4");
  Run("DELETE FROM DEMOTABLE WHERE STOCKID = 5");
  EXPECT_EQ(Run("SELECT VOLUME FROM DEMOTABLE WHERE STOCKID = 4"), 4000);
  EXPECT_EQ(Run("SELECT COUNT(*) FROM DEMOTABLE"), 19);
  EXPECT_TRUE(std::filesystem::is_empty(open));
  // It says so once, in the engine's log (where this process may write it).
  if (access(vexa::test::FirebirdLog, W_OK) == 0) {
    EXPECT_EQ(vexa::test::FirebirdLogLines(
                  logStart, "vexa_notify: session directory " + open +
                                " may be written by others (mode 0777); refusing to use it"),
              1);
  }
}

TEST_F(DbNotify, TablesOutsideTheServersRangeOrUnconfiguredSendNothing) {
  StartServer();
  Conn.Open(DbPath);
  // The server reads only byte 0 of the table id: 257 would arrive as table 1.
  Tr.StartTransaction();
  Sql.SetSQL("EXECUTE PROCEDURE VEXA_NOTIFY(257, 5, 'C')");
  Sql.ExecQuery();
  Sql.SetSQL("EXECUTE PROCEDURE VEXA_NOTIFY(1, 6, 'C')");
  Sql.ExecQuery();
  Tr.Commit();
  EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
  EXPECT_EQ(NextMessage(), "DBNotification 6 " + std::to_string(LUpdate));
  EXPECT_EQ(NextMessage(), "DBTrans 1000 " + std::to_string(LEnd));

  Run("DELETE FROM VEXA_KWV_CONFIG WHERE TABLENAME = 'DEMOTABLE'");
  Run("DELETE FROM DEMOTABLE WHERE STOCKID = 9");
  Run("EXECUTE PROCEDURE VEXA_NOTIFY(1, 7, 'C')");
  EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
  EXPECT_EQ(NextMessage(), "DBNotification 7 " + std::to_string(LUpdate));
}

// The server stops for 6 s under 2,000 commits a second, then goes on. The
// commit that meets the stop waits out its time-out; every other one returns
// at once, and every commit, before, during and after the stop, reaches the
// server once, in commit order.
TEST_F(DbNotify, AHungServerThatGoesOnGetsEveryCommitInOrder) {
  StartServer();
  Conn.Open(DbPath);
  using Clock = std::chrono::steady_clock;
  // The server's lines are read as they come, so that it never waits for us.
  std::mutex mu;
  std::vector<std::string> lines;
  std::atomic<bool> reading{true};
  std::thread reader([&] {
    while (reading) {
      if (auto line = Server->ReadLine(100ms); line && *line != "connect") {
        std::lock_guard<std::mutex> lock(mu);
        lines.push_back(*line);
      }
    }
  });
  const auto start = Clock::now();
  auto stopped = Clock::time_point::max();
  int commits = 0;
  bool resumed = false;
  int afterResume = 0;
  for (; afterResume < 4000 && Clock::now() - start < 60s; ++commits) {
    // 2,000 a second at most.
    while (Clock::now() < start + commits * 500us) std::this_thread::sleep_for(100us);
    Run("INSERT INTO DEMOTABLE ( STOCKSYMBOL ) VALUES ( 'HNG' )");
    if (commits == 1000) {
      Server->Signal(SIGSTOP);
      ASSERT_TRUE(vexa::test::WaitStopped(Server->Pid()));
      stopped = Clock::now();
    } else if (!resumed && Clock::now() - stopped >= 6s) {
      Server->Signal(SIGCONT);
      resumed = true;
    }
    afterResume += resumed;
  }
  for (auto end = Clock::now() + 60s; Clock::now() < end; std::this_thread::sleep_for(10ms)) {
    std::lock_guard<std::mutex> lock(mu);
    if (lines.size() >= 3u * commits) break;
  }
  reading = false;
  reader.join();
  ASSERT_TRUE(resumed);
  ASSERT_EQ(lines.size(), 3u * commits);
  for (int i = 0; i < commits; ++i) {
    SCOPED_TRACE("commit " + std::to_string(i) + " of " + std::to_string(commits));
    ASSERT_EQ(lines[3 * i], "DBTrans 0 " + std::to_string(LBegin));
    ASSERT_EQ(lines[3 * i + 1],
              "DBNotification " + std::to_string(21 + i) + " " + std::to_string(LInsert));
    ASSERT_EQ(lines[3 * i + 2], "DBTrans " + std::to_string(1000 + i) + " " + std::to_string(LEnd));
  }
}

TEST_F(DbNotify, ScriptBuildsTheSeededDemoDatabase) {
  Conn.Open(DbPath);
  Tr.StartTransaction();
  Sql.SetSQL("SELECT TABLEID FROM VEXA_KWV_CONFIG WHERE TABLENAME = 'DEMOTABLE'");
  Sql.ExecQuery();
  ASSERT_FALSE(Sql.Eof());
  EXPECT_EQ(Sql.Fields(0).AsInteger(), 1);

  Sql.SetSQL("SELECT STOCKID, STOCKSYMBOL, PRICE, NETCHANGE, OPENPRICE, HIGHPRICE, LOWPRICE, TICK, "
             "VOLUME, LASTTRADETIME FROM DEMOTABLE ORDER BY STOCKID");
  int expected = 1;
  for (Sql.ExecQuery(); !Sql.Eof(); Sql.Next(), ++expected) {
    EXPECT_EQ(Sql.Fields(0).AsInteger(), expected);
    std::string symbol = Sql.Fields(1).AsString();
    EXPECT_EQ(symbol.size(), 3u);
    for (char c : symbol) EXPECT_TRUE(c >= 'A' && c <= 'Z') << symbol;
    std::string price = Sql.Fields(2).AsString();
    EXPECT_EQ(price.size() - price.find('.'), 3u) << price;
    EXPECT_GE(Sql.Fields(2).AsDouble(), 3.00);
    EXPECT_LE(Sql.Fields(2).AsDouble(), 109.99);
    double change = Sql.Fields(3).AsDouble();
    EXPECT_NE(change, 0.0);
    EXPECT_GE(change, -1.07);
    EXPECT_LE(change, 1.06);
    EXPECT_EQ(Sql.Fields(4).AsString(), price);
    EXPECT_EQ(Sql.Fields(7).AsString(), change >= 0 ? "U" : "D");
    int volume = Sql.Fields(8).AsInteger();
    EXPECT_EQ(volume % 1000, 0);
    EXPECT_GE(volume, 1000);
    EXPECT_LE(volume, 135000);
    EXPECT_FALSE(Sql.Fields(9).IsNull());
  }
  EXPECT_EQ(expected, 21);
  Tr.Commit();

  // Another process opens the database while this one holds it open; one
  // without the sanitizer's runtime cannot load a module built with it.
  if (!vexa::test::kAddressSanitizer) {
    ChildProcess isql("/usr/bin/isql-fb", {"-q"}, {}, true);
    isql.WriteStdin("CONNECT '" + DbPath +
                    "' USER 'SYSDBA';\nSELECT COUNT(*) AS ROWSNOW FROM DEMOTABLE;\n");
    isql.CloseStdin();
    EXPECT_EQ(isql.Wait(30s), std::optional<int>(0));
    std::string out;
    while (auto line = isql.ReadLine(100ms)) out += *line + "\n";
    EXPECT_NE(out.find("ROWSNOW"), std::string::npos) << out;
    EXPECT_NE(out.find(" 20"), std::string::npos) << out;
    EXPECT_EQ(out.find("Statement failed"), std::string::npos) << out;
  }

  // Building again replaces the file.
  Run("INSERT INTO DEMOTABLE ( STOCKSYMBOL ) VALUES ( 'ZZZ' )");
  Db.Close();
  ASSERT_EQ(vexa::test::BuildDemoDatabase(DbPath, 20), "");
  Conn.Open(DbPath);
  EXPECT_EQ(Run("SELECT COUNT(*) FROM DEMOTABLE"), 20);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
