// labels: integration
// The database components against a real database opened with the embedded
// engine: connection, transactions, statements with their rows and columns,
// stored procedures with named parameters, and Firebird's own error texts.
#include <gtest/gtest.h>

#include <vector>

#include "framework/db/FbDatabase.h"
#include "framework/db/FbSQL.h"
#include "framework/db/FbStoredProc.h"
#include "tests/support/TestDatabase.h"

using namespace fw;

namespace {

// The database outlives the fixture's connection to it.
struct FreshDatabase {
  vexa::test::DbTestDatabase File;
};

class DbComponents : public ::testing::Test, protected FreshDatabase, protected vexa::test::DbConnection {
protected:
  void SetUp() override {
    Db.SetSQLDialect(3);
    Proc.SetDatabase(&Db);
    Proc.SetTransaction(&Tr);
    Open(File.Path());
  }

  void MakeStockTable() {
    Exec(
        "CREATE TABLE STOCK (ID INTEGER NOT NULL PRIMARY KEY, SYMBOL VARCHAR(4), "
        "PRICE NUMERIC(15,2), TICK CHAR(1), VOLUME INTEGER, WHEN_AT TIMESTAMP, RATIO DOUBLE "
        "PRECISION)");
  }

  TFbStoredProc Proc;
};

TEST_F(DbComponents, ConnectionOpensClosesAndRefusesChangesWhileOpen) {
  EXPECT_TRUE(Db.Connected());
  EXPECT_EQ(Tr.DefaultDatabase(), &Db);
  EXPECT_THROW(Db.SetDatabaseName("/elsewhere.fdb"), EDatabaseError);
  EXPECT_THROW(Db.SetSQLDialect(1), EDatabaseError);
  Db.Close();
  EXPECT_FALSE(Db.Connected());
  Db.Close();  // closing twice is harmless
  Db.SetConnected(true);
  EXPECT_TRUE(Db.Connected());

  TFbDatabase bad;
  bad.SetDatabaseName(File.Dir() + "/missing.fdb");
  bad.SetParams({"user_name=SYSDBA", "password=quillfern"});
  try {
    bad.Open();
    FAIL() << "opening a missing file succeeded";
  } catch (const EFbError& e) {
    EXPECT_NE(e.Message().find("I/O error during \"open\" operation for file"), std::string::npos)
        << e.Message();
    EXPECT_NE(e.Message().find("missing.fdb"), std::string::npos);
    EXPECT_STREQ(e.ClassName(), "EFbError");
  }
  EXPECT_FALSE(bad.Connected());

  TFbDatabase unknown;
  unknown.SetDatabaseName(File.Path());
  unknown.SetParams({"user_name=SYSDBA", "colour=red"});
  EXPECT_THROW(unknown.Open(), EDatabaseError);
  EXPECT_FALSE(unknown.Connected());
}

TEST_F(DbComponents, RowsComeInOrderWithTheirColumnsByIndex) {
  MakeStockTable();
  Exec("INSERT INTO STOCK VALUES (1, 'ABC', 12.3, 'U', 1000, '2024-03-05 14:07:09', 0.5)");
  Exec("INSERT INTO STOCK VALUES (2, 'WXYZ', -0.07, 'D', 135000, NULL, NULL)");
  Exec("INSERT INTO STOCK (ID) VALUES (3)");

  Tr.StartTransaction();
  Sql.SetSQL("SELECT ID, SYMBOL, PRICE, TICK, VOLUME, WHEN_AT, RATIO FROM STOCK ORDER BY ID");
  Sql.ExecQuery();
  ASSERT_FALSE(Sql.Eof());
  ASSERT_EQ(Sql.FieldCount(), 7);
  EXPECT_EQ(Sql.Fields(0).AsInteger(), 1);
  EXPECT_EQ(Sql.Fields(1).AsString(), "ABC");
  EXPECT_EQ(Sql.Fields(2).AsString(), "12.30");
  EXPECT_DOUBLE_EQ(Sql.Fields(2).AsDouble(), 12.3);
  EXPECT_EQ(Sql.Fields(2).AsInteger(), 12);
  EXPECT_EQ(Sql.Fields(3).AsString(), "U");
  EXPECT_EQ(Sql.Fields(4).AsInteger(), 1000);
  EXPECT_EQ(Sql.Fields(5).AsString(), "2024-03-05 14:07:09");
  EXPECT_DOUBLE_EQ(Sql.Fields(6).AsDouble(), 0.5);
  EXPECT_EQ(Sql.Fields(0).Name(), "ID");
  EXPECT_THROW(Sql.Fields(7), EDatabaseError);
  EXPECT_THROW(Sql.Fields(-1), EDatabaseError);

  Sql.Next();
  ASSERT_FALSE(Sql.Eof());
  EXPECT_EQ(Sql.Fields(0).AsInteger(), 2);
  EXPECT_EQ(Sql.Fields(2).AsString(), "-0.07");
  EXPECT_EQ(Sql.Fields(2).AsInteger(), 0);
  EXPECT_EQ(Sql.Fields(4).AsInteger(), 135000);
  EXPECT_TRUE(Sql.Fields(5).IsNull());

  Sql.Next();
  ASSERT_FALSE(Sql.Eof());
  EXPECT_EQ(Sql.Fields(0).AsInteger(), 3);
  EXPECT_TRUE(Sql.Fields(1).IsNull());
  EXPECT_EQ(Sql.Fields(1).AsString(), "");
  EXPECT_EQ(Sql.Fields(4).AsInteger(), 0);

  Sql.Next();
  EXPECT_TRUE(Sql.Eof());
  EXPECT_THROW(Sql.Fields(0), EDatabaseError);
  Sql.Next();  // past the end stays at the end
  EXPECT_TRUE(Sql.Eof());
  Tr.Commit();

  // Aggregates and a query without rows.
  Tr.StartTransaction();
  Sql.SetSQL("SELECT MIN( ID ), MAX( ID ) FROM STOCK");
  Sql.ExecQuery();
  ASSERT_FALSE(Sql.Eof());
  EXPECT_EQ(Sql.Fields(0).AsInteger(), 1);
  EXPECT_EQ(Sql.Fields(1).AsInteger(), 3);
  Sql.SetSQL("SELECT ID FROM STOCK WHERE SYMBOL = 'NONE'");
  Sql.ExecQuery();
  EXPECT_TRUE(Sql.Eof());
  Tr.Commit();
}

TEST_F(DbComponents, StatementResultOfInsertReturningIsOneRow) {
  MakeStockTable();
  Tr.StartTransaction();
  Sql.SetSQL("INSERT INTO STOCK (ID, SYMBOL) VALUES (42, 'QQ') RETURNING ID, SYMBOL");
  Sql.ExecQuery();
  ASSERT_FALSE(Sql.Eof());
  EXPECT_EQ(Sql.Fields(0).AsInteger(), 42);
  EXPECT_EQ(Sql.Fields(1).AsString(), "QQ");
  Sql.Next();
  EXPECT_TRUE(Sql.Eof());
  // A statement without result has no row.
  Sql.SetSQL("UPDATE STOCK SET VOLUME = 5 WHERE ID = 42");
  Sql.ExecQuery();
  EXPECT_TRUE(Sql.Eof());
  EXPECT_EQ(Sql.FieldCount(), 0);
  Tr.Commit();
  EXPECT_EQ(Column("SELECT VOLUME FROM STOCK"), std::vector<std::string>({"5"}));
}

TEST_F(DbComponents, CommitKeepsAndRollbackDropsTheWork) {
  MakeStockTable();
  Exec("INSERT INTO STOCK (ID) VALUES (1)");

  Tr.StartTransaction();
  EXPECT_TRUE(Tr.InTransaction());
  Sql.SetSQL("INSERT INTO STOCK (ID) VALUES (2)");
  Sql.ExecQuery();
  Tr.Rollback();
  EXPECT_FALSE(Tr.InTransaction());
  EXPECT_EQ(Column("SELECT ID FROM STOCK ORDER BY ID"), std::vector<std::string>({"1"}));

  // A second connection sees only committed work.
  TFbDatabase other;
  TFbTransaction otherTr;
  TFbSQL otherSql;
  other.SetDatabaseName(File.Path());
  other.SetParams({"user_name=SYSDBA"});
  other.SetDefaultTransaction(&otherTr);
  otherSql.SetDatabase(&other);
  other.Open();
  Exec("INSERT INTO STOCK (ID) VALUES (3)");
  otherSql.SetSQL("SELECT COUNT(*) FROM STOCK");
  otherSql.ExecQuery();  // starts the default transaction of its database
  EXPECT_TRUE(otherTr.InTransaction());
  EXPECT_EQ(otherSql.Fields(0).AsInteger(), 2);
  otherTr.Commit();
  other.Close();
}

TEST_F(DbComponents, TransactionRefusesWhatItsStateDoesNotAllow) {
  EXPECT_THROW(Tr.Commit(), EDatabaseError);
  EXPECT_THROW(Tr.Rollback(), EDatabaseError);
  Tr.StartTransaction();
  EXPECT_THROW(Tr.StartTransaction(), EDatabaseError);
  EXPECT_THROW(Tr.SetDefaultDatabase(nullptr), EDatabaseError);
  Tr.Commit();

  TFbTransaction loose;
  EXPECT_THROW(loose.StartTransaction(), EDatabaseError);
  Db.Close();
  EXPECT_THROW(Tr.StartTransaction(), EDatabaseError);
  Sql.SetSQL("SELECT 1 FROM RDB$DATABASE");
  EXPECT_THROW(Sql.ExecQuery(), EDatabaseError);
}

TEST_F(DbComponents, CommitClosesAnOpenCursor) {
  MakeStockTable();
  Exec("INSERT INTO STOCK (ID) VALUES (1)");
  Exec("INSERT INTO STOCK (ID) VALUES (2)");
  Tr.StartTransaction();
  Sql.SetSQL("SELECT ID FROM STOCK");
  Sql.ExecQuery();
  ASSERT_FALSE(Sql.Eof());
  Tr.Commit();
  EXPECT_TRUE(Sql.Eof());
  // The prepared statement is kept and runs again in the next transaction.
  Sql.ExecQuery();
  EXPECT_FALSE(Sql.Eof());
  Tr.Rollback();
}

TEST_F(DbComponents, ErrorsCarryFirebirdsOwnText) {
  Tr.StartTransaction();
  Sql.SetSQL("SELECT * FROM NOPE");
  try {
    Sql.ExecQuery();
    FAIL() << "a query of a missing table succeeded";
  } catch (const EFbError& e) {
    EXPECT_EQ(
        e.Message(),
        "Dynamic SQL Error\n-SQL error code = -204\n-Table unknown\n-NOPE\n-At line 1, column 15");
    EXPECT_EQ(e.SQLCode(), -204);
    EXPECT_NE(e.ErrorCode(), 0);
  }
  // The transaction survives a failed statement and ends normally.
  EXPECT_TRUE(Tr.InTransaction());
  Tr.Rollback();

  MakeStockTable();
  Exec("INSERT INTO STOCK (ID) VALUES (1)");
  Tr.StartTransaction();
  Sql.SetSQL("INSERT INTO STOCK (ID) VALUES (1)");
  try {
    Sql.ExecQuery();
    FAIL() << "a duplicate key was accepted";
  } catch (const EFbError& e) {
    EXPECT_EQ(e.Message().rfind("violation of PRIMARY or UNIQUE KEY constraint", 0), 0u)
        << e.Message();
  }
  Tr.Rollback();
}

TEST_F(DbComponents, ClosingTheConnectionRollsBackAndStatementsRunAfterReopening) {
  MakeStockTable();
  Tr.StartTransaction();
  Sql.SetSQL("INSERT INTO STOCK (ID) VALUES (7)");
  Sql.ExecQuery();
  Sql.SetSQL("SELECT ID FROM STOCK");
  Sql.ExecQuery();
  EXPECT_FALSE(Sql.Eof());
  Db.Close();
  EXPECT_FALSE(Tr.InTransaction());
  EXPECT_TRUE(Sql.Eof());
  Db.Open();
  Tr.StartTransaction();
  Sql.ExecQuery();  // prepared again on the new connection
  EXPECT_TRUE(Sql.Eof());
  Tr.Commit();
}

TEST_F(DbComponents, AnOwnerFreesConnectedComponentsInAnyState) {
  MakeStockTable();
  Exec("INSERT INTO STOCK (ID, PRICE) VALUES (1, 2.50)");
  Exec("INSERT INTO STOCK (ID, PRICE) VALUES (2, -2.50)");
  // Halves round away from zero.
  EXPECT_EQ(Column("SELECT PRICE FROM STOCK ORDER BY ID"),
            std::vector<std::string>({"2.50", "-2.50"}));
  Tr.StartTransaction();
  Sql.SetSQL("SELECT PRICE FROM STOCK ORDER BY ID");
  Sql.ExecQuery();
  EXPECT_EQ(Sql.Fields(0).AsInteger(), 3);
  Sql.Next();
  EXPECT_EQ(Sql.Fields(0).AsInteger(), -3);
  Tr.Commit();

  // Owned components freed last first while a cursor is open and the
  // transaction active: nothing dangles and the work is rolled back.
  {
    TComponent owner(nullptr);
    auto* db = new TFbDatabase(&owner);
    auto* tr = new TFbTransaction(&owner);
    auto* sql = new TFbSQL(&owner);
    auto* proc = new TFbStoredProc(&owner);
    db->SetDatabaseName(File.Path());
    db->SetParams({"user_name=SYSDBA"});
    db->SetDefaultTransaction(tr);
    sql->SetDatabase(db);
    proc->SetDatabase(db);
    db->Open();
    tr->StartTransaction();
    sql->SetSQL("INSERT INTO STOCK (ID) VALUES (3)");
    sql->ExecQuery();
    sql->SetSQL("SELECT ID FROM STOCK");
    sql->ExecQuery();
    EXPECT_EQ(sql->Transaction(), tr);
    EXPECT_EQ(owner.ComponentCount(), 4);
  }
  // Freed first-created first: the statement outlives its connection.
  {
    auto db = std::make_unique<TFbDatabase>();
    auto sql = std::make_unique<TFbSQL>();
    TFbTransaction tr;
    db->SetDatabaseName(File.Path());
    db->SetDefaultTransaction(&tr);
    sql->SetDatabase(db.get());
    db->Open();
    sql->SetSQL("SELECT ID FROM STOCK");
    sql->ExecQuery();
    db.reset();
    EXPECT_EQ(sql->Database(), nullptr);
    EXPECT_TRUE(sql->Eof());
  }
  EXPECT_EQ(Column("SELECT ID FROM STOCK ORDER BY ID"), std::vector<std::string>({"1", "2"}));
}

class DbStoredProc : public DbComponents {
protected:
  void SetUp() override {
    DbComponents::SetUp();
    Exec("CREATE TABLE LOG_T (A INTEGER, B INTEGER)");
    Exec(
        "CREATE PROCEDURE NEXTID (TABLEID INTEGER) RETURNS (TRANSID INTEGER, LABEL VARCHAR(20)) AS "
        "BEGIN TRANSID = TABLEID + 1000; LABEL = 'T' || TABLEID; END");
    Exec("CREATE PROCEDURE KEEP (TABLEID INTEGER, TRANSID INTEGER) AS "
         "BEGIN INSERT INTO LOG_T VALUES (:TABLEID, :TRANSID); END");
  }
};

TEST_F(DbStoredProc, InputsByNameGoInAndOutputsByNameComeBack) {
  Proc.SetStoredProcName("NEXTID");
  Proc.ParamByName("TableID").SetAsInteger(7);
  EXPECT_FALSE(Proc.ParamByName("TableID").IsNull());
  Proc.ExecProc();  // the transaction was started for it
  EXPECT_TRUE(Tr.InTransaction());
  EXPECT_EQ(Proc.ParamByName("TransID").AsInteger(), 1007);
  EXPECT_EQ(Proc.ParamByName("transid").AsInteger(), 1007);
  EXPECT_EQ(Proc.ParamByName("LABEL").AsString(), "T7");
  EXPECT_FALSE(Proc.ParamByName("TRANSID").IsInput());
  Tr.Commit();

  // Inputs keep their values for the next run; text converts to the parameter's type.
  Proc.ExecProc();
  EXPECT_EQ(Proc.ParamByName("TransID").AsInteger(), 1007);
  Proc.ParamByName("TableID").SetAsString("12");
  Proc.ExecProc();
  EXPECT_EQ(Proc.ParamByName("TransID").AsInteger(), 1012);
  Tr.Commit();

  EXPECT_THROW(Proc.ParamByName("NoSuch"), EDatabaseError);

  // Switching between procedures: each name starts with null inputs and runs
  // what it was prepared as, also after the connection was closed and opened.
  for (int round = 0; round < 2; ++round) {
    Proc.SetStoredProcName("KEEP");
    Proc.ParamByName("TableID").SetAsInteger(round);
    Proc.ExecProc();
    Proc.SetStoredProcName("NEXTID");
    EXPECT_TRUE(Proc.ParamByName("TableID").IsNull());
    EXPECT_TRUE(Proc.ParamByName("TransID").IsNull());
    Proc.ParamByName("TableID").SetAsInteger(round);
    Proc.ExecProc();
    EXPECT_EQ(Proc.ParamByName("TransID").AsInteger(), 1000 + round);
    Tr.Commit();
    Db.Close();
    Db.Open();
  }
  EXPECT_EQ(Column("SELECT A FROM LOG_T ORDER BY A"), std::vector<std::string>({"0", "1"}));
}

TEST_F(DbStoredProc, ProcedureWithoutOutputsWritesAndUnsetInputsAreNull) {
  Proc.SetStoredProcName("keep");  // unquoted names are stored in upper case
  Proc.ParamByName("TableID").SetAsInteger(3);
  Proc.ParamByName("TransID").SetAsInteger(1001);
  Proc.ExecProc();
  Tr.Commit();
  Proc.SetStoredProcName("KEEP");  // a new name starts with null inputs
  Proc.ParamByName("TableID").SetAsInteger(4);
  Proc.ExecProc();
  Tr.Commit();
  EXPECT_EQ(Column("SELECT A FROM LOG_T ORDER BY A"), std::vector<std::string>({"3", "4"}));
  EXPECT_EQ(Column("SELECT B FROM LOG_T ORDER BY A"), std::vector<std::string>({"1001", ""}));
}

TEST_F(DbStoredProc, FailuresOfTheProcedureAreFirebirdErrors) {
  Proc.SetStoredProcName("NOSUCHPROC");
  try {
    Proc.ExecProc();
    FAIL() << "a missing procedure ran";
  } catch (const EFbError& e) {
    EXPECT_NE(e.Message().find("Procedure unknown"), std::string::npos) << e.Message();
  }
  if (Tr.InTransaction()) Tr.Rollback();

  Proc.SetStoredProcName("NEXTID");
  Proc.ParamByName("TableID").SetAsInt64(int64_t{1} << 40);
  try {
    Proc.ExecProc();
    FAIL() << "an out-of-range input was accepted";
  } catch (const EFbError& e) {
    EXPECT_NE(e.Message().find("numeric overflow"), std::string::npos) << e.Message();
  }
  Tr.Rollback();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
