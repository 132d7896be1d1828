// A fresh Firebird database in a temporary folder for one test, opened with
// the embedded engine. The folder is removed afterwards.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "framework/db/FbClient.h"
#include "tests/support/TestSession.h"

namespace vexa::test {

class DbTestDatabase {
public:
  DbTestDatabase() {
    char pattern[] = "/tmp/vexa-db-XXXXXX";
    FDir = mkdtemp(pattern);
    UseEngineLockDir();
    FPath = FDir + "/test.fdb";
    fw::fb::Call([&](Firebird::ThrowStatusWrapper* st) {
      Firebird::IXpbBuilder* dpb =
          fw::fb::Util()->getXpbBuilder(st, Firebird::IXpbBuilder::DPB, nullptr, 0);
      dpb->insertString(st, isc_dpb_user_name, "SYSDBA");
      dpb->insertInt(st, isc_dpb_sql_dialect, 3);
      dpb->insertInt(st, isc_dpb_page_size, 4096);
      Firebird::IProvider* provider = fw::fb::Master()->getDispatcher();
      Firebird::IAttachment* att =
          provider->createDatabase(st, FPath.c_str(), dpb->getBufferLength(st), dpb->getBuffer(st));
      att->detach(st);
      provider->release();
      dpb->dispose();
    });
  }
  ~DbTestDatabase() {
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
  DbTestDatabase(const DbTestDatabase&) = delete;
  DbTestDatabase& operator=(const DbTestDatabase&) = delete;

  const std::string& Path() const { return FPath; }
  const std::string& Dir() const { return FDir; }

private:
  std::string FDir;
  std::string FPath;
};

}  // namespace vexa::test
