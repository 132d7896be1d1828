// Database connection and transaction components over Firebird's own client
// interface.
//
// A database name without a host ("/path/KWV_DEMO.GDB") is opened with the
// embedded engine inside the calling process; "host:/path" reaches a Firebird
// server. When FIREBIRD is not set and the program's folder has a sibling
// folder "firebird" holding firebird.conf, the client library is pointed at
// that configuration before its first use (the build tree keeps the embedded
// engine's settings and the UDR modules there).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/SysUtils.h"

namespace Firebird {
class IAttachment;
class ITransaction;
}  // namespace Firebird

namespace fw {

// A refusal of the components themselves (not connected, no transaction, ...).
VEXA_DECLARE_EXCEPTION(EDatabaseError, Exception);

// A failure reported by Firebird. The message is Firebird's own text, its lines
// joined with line feeds as the client library formats them.
class EFbError : public EDatabaseError {
public:
  EFbError(std::string message, int32_t sqlCode, int32_t errorCode)
      : EDatabaseError(std::move(message)), FSQLCode(sqlCode), FErrorCode(errorCode) {}
  const char* ClassName() const noexcept override { return "EFbError"; }
  int32_t SQLCode() const noexcept { return FSQLCode; }
  // The first Firebird error code (isc_...), 0 when none.
  int32_t ErrorCode() const noexcept { return FErrorCode; }

private:
  int32_t FSQLCode;
  int32_t FErrorCode;
};

class TFbTransaction;
class TFbStatementBase;

// A connection to one database. Like every component here it may have an
// owner that frees it; components that refer to each other may be freed in any
// order (each clears the references to itself).
class TFbDatabase : public TComponent {
public:
  explicit TFbDatabase(TComponent* AOwner = nullptr);
  ~TFbDatabase() override;  // closes the connection

  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(const std::string& name);  // refused while connected

  // Connection parameters "name=value": user_name, password, lc_ctype,
  // sql_role_name (names compare without regard to case).
  const std::vector<std::string>& Params() const { return FParams; }
  void SetParams(const std::vector<std::string>& params);

  int SQLDialect() const { return FSQLDialect; }
  void SetSQLDialect(int dialect);  // 1 or 3; refused while connected

  TFbTransaction* DefaultTransaction() const { return FDefaultTransaction; }
  void SetDefaultTransaction(TFbTransaction* transaction);

  // Attaches to the database; nothing happens when already connected.
  void Open();
  // Rolls back the transactions still active on this connection, frees the
  // prepared statements and detaches. Nothing happens when not connected.
  void Close();
  bool Connected() const { return FAttachment != nullptr; }
  void SetConnected(bool value) { value ? Open() : Close(); }

  // The client library's attachment; nullptr when not connected.
  Firebird::IAttachment* Attachment() const { return FAttachment; }

private:
  friend class TFbTransaction;
  friend class TFbStatementBase;
  void Unlink(TFbTransaction* transaction);
  void Unlink(TFbStatementBase* statement);

  std::string FDatabaseName;
  std::vector<std::string> FParams;
  int FSQLDialect = 3;
  TFbTransaction* FDefaultTransaction = nullptr;
  Firebird::IAttachment* FAttachment = nullptr;
  std::vector<TFbTransaction*> FTransactions;     // those whose DefaultDatabase is this
  std::vector<TFbStatementBase*> FStatements;     // those whose Database is this
};

// A transaction on one database, with Firebird's default parameters
// (concurrency, wait, read-write).
class TFbTransaction : public TComponent {
public:
  explicit TFbTransaction(TComponent* AOwner = nullptr);
  ~TFbTransaction() override;  // rolls back an active transaction

  TFbDatabase* DefaultDatabase() const { return FDatabase; }
  void SetDefaultDatabase(TFbDatabase* database);  // refused while active

  // Refused when already active or when the database is not connected.
  void StartTransaction();
  // Both refuse when not active; open cursors of the statements that use this
  // transaction are closed first. After a failed commit the transaction stays
  // active so that it can be rolled back.
  void Commit();
  void Rollback();
  bool InTransaction() const { return FTransaction != nullptr; }
  bool Active() const { return InTransaction(); }

  Firebird::ITransaction* Handle() const { return FTransaction; }

private:
  friend class TFbDatabase;
  friend class TFbStatementBase;
  void CloseCursors();
  void ForceRollback() noexcept;  // used by the database when it closes

  TFbDatabase* FDatabase = nullptr;
  Firebird::ITransaction* FTransaction = nullptr;
  std::vector<TFbStatementBase*> FStatements;  // those whose Transaction is this
};

// What the statement components share: their database and transaction, and the
// notices they get when the transaction ends or the connection closes.
class TFbStatementBase : public TComponent {
public:
  explicit TFbStatementBase(TComponent* AOwner) : TComponent(AOwner) {}
  ~TFbStatementBase() override;

  // The database; when none is set, the transaction's default database.
  TFbDatabase* Database() const;
  void SetDatabase(TFbDatabase* database);
  // The transaction; when none is set, the database's default transaction.
  TFbTransaction* Transaction() const;
  void SetTransaction(TFbTransaction* transaction);

protected:
  // The connected database, else EDatabaseError.
  TFbDatabase& CheckDatabase() const;
  // The transaction, started when it is not active yet.
  TFbTransaction& EnsureTransaction() const;

  // The transaction is about to commit or roll back: open cursors close.
  virtual void TransactionEnding() noexcept = 0;
  // The connection is about to close: prepared statements are freed.
  virtual void DatabaseClosing() noexcept = 0;

private:
  friend class TFbDatabase;
  friend class TFbTransaction;
  TFbDatabase* FDatabase = nullptr;
  TFbTransaction* FTransaction = nullptr;
};

}  // namespace fw
