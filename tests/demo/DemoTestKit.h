// What the demo tests share: a demo database built by the database side's
// script in the test's own folder and named in the test's registry, the form
// made and freed in the test process, and a second connection for checking
// what the form did.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo/ChurnmillMain.h"
#include "framework/Dialogs.h"
#include "framework/Registry.h"
#include "framework/db/FbDatabase.h"
#include "framework/db/FbSQL.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSession.h"

namespace vexa::test {

// The build directory (the parent of bin/).
inline std::string BuildDir() {
  std::string bin = BinPath("churnmill");
  bin.resize(bin.rfind('/'));
  return bin.substr(0, bin.rfind('/'));
}

// Builds the demo database at path with rows seeded rows; "" on success, else
// the script's output.
inline std::string BuildDemoDatabase(const std::string& path, int rows) {
  ChildProcess script("/bin/bash",
                      {BuildDir() + "/dbside/build-demo-db.sh", "--build", BuildDir(), "--output", path,
                       "--rows", std::to_string(rows)},
                      {}, true);
  auto status = script.Wait(std::chrono::seconds(60));
  std::string out;
  while (auto line = script.ReadLine(std::chrono::milliseconds(100))) out += *line + "\n";
  return status == std::optional<int>(0) ? std::string() : out + "(script failed)";
}

// Names the database in the registry value churnmill reads.
inline void NameDatabaseInRegistry(const std::string& path) {
  fw::TRegistry reg;
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey(ChurnmillRegistryKey, true));
  reg.WriteString(ChurnmillDatabaseValue, path);
}

// A connection of the test's own to the demo database.
class DemoDb {
public:
  explicit DemoDb(const std::string& path) {
    Db.SetDatabaseName(path);
    Db.SetParams({"user_name=SYSDBA", "password=quillfern"});
    Db.SetDefaultTransaction(&Tr);
    Sql.SetDatabase(&Db);
    Sql.SetTransaction(&Tr);
    Db.Open();
  }
  // Runs one statement in its own transaction.
  void Exec(const std::string& text) {
    Tr.StartTransaction();
    Sql.SetSQL(text);
    Sql.ExecQuery();
    Tr.Commit();
  }
  // The first column of every row, as text.
  std::vector<std::string> Column(const std::string& text) {
    std::vector<std::string> out;
    Tr.StartTransaction();
    Sql.SetSQL(text);
    Sql.ExecQuery();
    while (!Sql.Eof()) {
      out.push_back(Sql.Fields(0).AsString());
      Sql.Next();
    }
    Tr.Commit();
    return out;
  }
  std::string Value(const std::string& text) {
    auto c = Column(text);
    return c.empty() ? std::string("<none>") : c[0];
  }
  fw::TFbDatabase Db;
  fw::TFbTransaction Tr;
  fw::TFbSQL Sql;
};

struct FormFree {
  void operator()(TFrmChurnmillMain* f) const { fw::Free(f); }
};
using FormPtr = std::unique_ptr<TFrmChurnmillMain, FormFree>;

template <class T = TFrmChurnmillMain>
std::unique_ptr<T, FormFree> MakeForm() {
  return std::unique_ptr<T, FormFree>(fw::CreateFormOf<T>(nullptr));
}

// A test of the form against a fresh demo database of its own.
class DemoFixture : public ::testing::Test {
protected:
  void SetUp() override {
    DbDir = Session.Root() + "/db";
    mkdir(DbDir.c_str(), 0700);
    vexa::test::UseEngineLockDir();
    DbPath = DbDir + "/KWV_DEMO.GDB";
    std::string failure = BuildDemoDatabase(DbPath, Rows);
    ASSERT_EQ(failure, "");
    NameDatabaseInRegistry(DbPath);
    fw::SetDialogResponder([this](const fw::TDialogRequest& r) {
      Dialogs.push_back(r);
      return 0;
    });
    fw::Application->OnException = [this](fw::TObject*, const std::exception& e) {
      Errors.push_back(e.what());
    };
  }
  void TearDown() override {
    fw::SetDialogResponder(nullptr);
    fw::Application->OnException = nullptr;
  }

  // The memo's lines.
  static std::vector<std::string> Lines(TFrmChurnmillMain& f) {
    std::vector<std::string> out;
    for (int i = 0; i < f.Memo1->Lines()->Count(); ++i) out.push_back(f.Memo1->Lines()->Strings(i));
    return out;
  }
  static std::vector<int32_t> Ids(TFrmChurnmillMain& f) {
    std::vector<int32_t> out;
    for (int32_t i = 0; i < f.StockIDs->Count(); ++i) out.push_back(f.StockIDs->Get(i));
    return out;
  }
  // Starts a run and stops the trigger timer, so that passes run only when
  // the test asks for them.
  static void StartQuiet(TFrmChurnmillMain& f) {
    f.tmrDisplay->SetEnabled(false);  // it would zero CommitCount under the test
    f.btnShakeClick(f.btnShake);
    f.tmrTrigger->SetEnabled(false);
  }
  // One pass of the trigger loop.
  static void Pass(TFrmChurnmillMain& f) { f.tmrTriggerTimer(f.tmrTrigger); }

  int Rows = 20;
  TestSession Session;
  std::string DbDir;
  std::string DbPath;
  std::vector<fw::TDialogRequest> Dialogs;
  std::vector<std::string> Errors;
};

}  // namespace vexa::test
