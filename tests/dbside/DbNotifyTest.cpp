// labels: integration
// timeout: 120
// The demo database as the builder script makes it, opened with the embedded
// engine in this process: the notify procedures and the change triggers call
// the UDR module, which reports to a stand-in notify server over the
// "NotifyServerIPC" channel. Every message is checked as the server receives it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "framework/db/FbDatabase.h"
#include "framework/db/FbSQL.h"
#include "framework/db/FbStoredProc.h"
#include "tests/support/ChildProcess.h"
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

TEST_F(DbNotify, EveryPassReachesTheServerInOrder) {
  StartServer();
  Conn.Open(DbPath);

  // Insert: begin, the trigger's notification with the new STOCKID, end.
  int32_t id = Begin(1);
  EXPECT_EQ(id, 1000);
  EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
  int32_t stockID = Run(
      "INSERT INTO DEMOTABLE ( STOCKSYMBOL, PRICE, TICK, NETCHANGE, VOLUME, OPENPRICE, HIGHPRICE, "
      "LOWPRICE ) VALUES ( 'QRS', 12.34, 'U', 0.01, 135000, 12.34, 12.34, 12.34 ) RETURNING STOCKID");
  EXPECT_EQ(stockID, 21);  // 20 seeded rows before it
  EXPECT_EQ(NextMessage(), "DBNotification 21 " + std::to_string(LInsert));
  EndOrCancel("ENDNOTIFYTRANS", 1, id);
  EXPECT_EQ(NextMessage(), "DBTrans 1000 " + std::to_string(LEnd));

  // Update.
  id = Begin(1);
  EXPECT_EQ(id, 1001);
  EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
  Run("UPDATE DEMOTABLE SET PRICE = PRICE + -1.07, LASTTRADETIME = CURRENT_TIMESTAMP , TICK = 'D', "
      "NETCHANGE = -1.07, VOLUME = 1000 WHERE STOCKID = 5");
  EXPECT_EQ(NextMessage(), "DBNotification 5 " + std::to_string(LUpdate));
  EndOrCancel("ENDNOTIFYTRANS", 1, id);
  EXPECT_EQ(NextMessage(), "DBTrans 1001 " + std::to_string(LEnd));

  // Delete.
  id = Begin(1);
  EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
  Run("DELETE FROM DEMOTABLE WHERE STOCKID = 7");
  EXPECT_EQ(NextMessage(), "DBNotification 7 " + std::to_string(LDelete));
  EndOrCancel("ENDNOTIFYTRANS", 1, id);
  EXPECT_EQ(NextMessage(), "DBTrans 1002 " + std::to_string(LEnd));

  // A statement that fails: rolled back, cancelled, no notification.
  id = Begin(1);
  EXPECT_EQ(id, 1003);
  EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
  Tr.StartTransaction();
  Sql.SetSQL("UPDATE DEMOTABLE SET TICK = 'XX' WHERE STOCKID = 8");
  EXPECT_THROW(Sql.ExecQuery(), EFbError);
  Tr.Rollback();
  EndOrCancel("CANCELNOTIFYTRANS", 1, id);
  EXPECT_EQ(NextMessage(), "DBTrans 1003 " + std::to_string(LRollback));

  // A delete that touches no row sends nothing; a statement on two rows sends two.
  id = Begin(1);
  EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
  Run("DELETE FROM DEMOTABLE WHERE STOCKID = 999999");
  Run("UPDATE DEMOTABLE SET VOLUME = 2000 WHERE STOCKID IN (2, 3)");
  std::set<std::string> two = {NextMessage(), NextMessage()};
  EXPECT_EQ(two, std::set<std::string>({"DBNotification 2 " + std::to_string(LUpdate),
                                        "DBNotification 3 " + std::to_string(LUpdate)}));
  EndOrCancel("ENDNOTIFYTRANS", 1, id);
  EXPECT_EQ(NextMessage(), "DBTrans 1004 " + std::to_string(LEnd));
}

TEST_F(DbNotify, WithoutNotifyServerTheProceduresSucceedWithTransIDZero) {
  Conn.Open(DbPath);
  int32_t id = Begin(1);
  EXPECT_EQ(id, 0);
  int32_t stockID = Run("INSERT INTO DEMOTABLE ( STOCKSYMBOL ) VALUES ( 'ABCD' ) RETURNING STOCKID");
  EXPECT_EQ(stockID, 21);
  Run("DELETE FROM DEMOTABLE WHERE STOCKID = 1");
  EndOrCancel("ENDNOTIFYTRANS", 1, id);
  EndOrCancel("CANCELNOTIFYTRANS", 1, id);
  EXPECT_EQ(Run("SELECT COUNT(*) FROM DEMOTABLE"), 20);
}

TEST_F(DbNotify, TablesOutsideTheServersRangeOrUnconfiguredSendNothing) {
  StartServer();
  Conn.Open(DbPath);
  // The server reads only byte 0 of the table id: 257 would arrive as table 1.
  EXPECT_EQ(Begin(257), 0);
  EndOrCancel("ENDNOTIFYTRANS", 1, 5);
  EXPECT_EQ(NextMessage(), "DBTrans 5 " + std::to_string(LEnd));

  Run("DELETE FROM VEXA_KWV_CONFIG WHERE TABLENAME = 'DEMOTABLE'");
  Run("DELETE FROM DEMOTABLE WHERE STOCKID = 9");
  EndOrCancel("ENDNOTIFYTRANS", 1, 6);
  EXPECT_EQ(NextMessage(), "DBTrans 6 " + std::to_string(LEnd));
}

TEST_F(DbNotify, AStoppedServerIsSkippedAfterOneTimeOutAndGetsTheEndsItIsOwedWhenItGoesOn) {
  StartServer();
  Conn.Open(DbPath);
  const int32_t id = Begin(1);
  ASSERT_EQ(id, 1000);
  EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
  Server->Signal(SIGSTOP);
  ASSERT_TRUE(vexa::test::WaitStopped(Server->Pid()));
  // The trigger's notification waits out its time-out; from then on calls
  // return at once, and the end of the open transaction is kept for later.
  Run("UPDATE DEMOTABLE SET VOLUME = 3000 WHERE STOCKID = 4");
  EndOrCancel("ENDNOTIFYTRANS", 1, id);
  EXPECT_EQ(Begin(1), 0);
  Server->Signal(SIGCONT);
  // The notification that timed out is never handled: its sender gave up on
  // it. The server answers the one query it was posted, and the end goes first.
  EXPECT_EQ(NextMessage(), "DBTrans 1000 " + std::to_string(LEnd));
  int32_t next = 0;
  for (auto end = std::chrono::steady_clock::now() + 10s; next == 0 && std::chrono::steady_clock::now() < end;) {
    next = Begin(1);
  }
  EXPECT_EQ(next, 1001);
  EXPECT_EQ(NextMessage(), "DBTrans 0 " + std::to_string(LBegin));
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

  // Another process opens the database while this one holds it open.
  ChildProcess isql("/usr/bin/isql-fb", {"-q"}, {}, true);
  isql.WriteStdin("CONNECT '" + DbPath + "' USER 'SYSDBA';\nSELECT COUNT(*) AS ROWSNOW FROM DEMOTABLE;\n");
  isql.CloseStdin();
  EXPECT_EQ(isql.Wait(30s), std::optional<int>(0));
  std::string out;
  while (auto line = isql.ReadLine(100ms)) out += *line + "\n";
  EXPECT_NE(out.find("ROWSNOW"), std::string::npos) << out;
  EXPECT_NE(out.find(" 20"), std::string::npos) << out;
  EXPECT_EQ(out.find("Statement failed"), std::string::npos) << out;

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
