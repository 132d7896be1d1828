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
#include "tests/support/TestDatabase.h"

namespace vexa::test {

// Names the database in the registry value churnmill reads.
inline void NameDatabaseInRegistry(const std::string& path) {
  fw::TRegistry reg;
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey(ChurnmillRegistryKey, true));
  reg.WriteString(ChurnmillDatabaseValue, path);
}

using DemoDb = DbConnection;

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
