// Databases of a test's own, opened with the embedded engine: a fresh empty
// one, the demo database the database side's script builds, and a
// connection of the test's own for setting up and checking rows.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "framework/db/FbClient.h"
#include "framework/db/FbDatabase.h"
#include "framework/db/FbSQL.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSession.h"

namespace vexa::test {

// A fresh database in a temporary folder, removed afterwards.
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

// The build directory (the parent of bin/).
inline std::string BuildDir() {
  std::string bin = BinPath("");
  bin.pop_back();
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

// The Firebird log of Debian's build (engines and servers write there) and
// what a test reads of it: the lines from offset on that contain text.
constexpr const char* FirebirdLog = "/var/log/firebird/firebird3.0.log";
inline long FirebirdLogSize() {
  std::error_code ec;
  const auto size = std::filesystem::file_size(FirebirdLog, ec);
  return ec ? 0 : static_cast<long>(size);
}
inline int FirebirdLogLines(long offset, const std::string& text) {
  std::ifstream in(FirebirdLog);
  in.seekg(offset);
  int found = 0;
  for (std::string line; std::getline(in, line);) found += line.find(text) != std::string::npos;
  return found;
}

// A connection of the test's own to a database.
class DbConnection {
public:
  DbConnection() = default;
  explicit DbConnection(const std::string& path) { Open(path); }
  void Open(const std::string& path) {
    Db.SetDatabaseName(path);
    Db.SetParams({"user_name=SYSDBA", "password=quillfern"});
    Db.SetDefaultTransaction(&Tr);
    Sql.SetDatabase(&Db);
    Sql.SetTransaction(&Tr);
    Db.Open();
  }
  // Runs one statement in a transaction of its own.
  void Exec(const std::string& text) {
    Tr.StartTransaction();
    Sql.SetSQL(text);
    Sql.ExecQuery();
    Tr.Commit();
  }
  // A column of every row, as text.
  std::vector<std::string> Column(const std::string& query, int index = 0) {
    std::vector<std::string> values;
    Tr.StartTransaction();
    Sql.SetSQL(query);
    for (Sql.ExecQuery(); !Sql.Eof(); Sql.Next()) values.push_back(Sql.Fields(index).AsString());
    Tr.Commit();
    return values;
  }
  // The first column of the first row ("<none>" without rows).
  std::string Value(const std::string& query) {
    auto c = Column(query);
    return c.empty() ? std::string("<none>") : c[0];
  }
  fw::TFbDatabase Db;
  fw::TFbTransaction Tr;
  fw::TFbSQL Sql;
};

}  // namespace vexa::test
