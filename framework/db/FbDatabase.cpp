#include "framework/db/FbDatabase.h"

#include <signal.h>

#include <algorithm>

#include "framework/db/FbClient.h"

namespace fw {

namespace {

std::string TrimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

template <typename T>
void RemoveFrom(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

// ---------------------------------------------------------------- TFbDatabase

TFbDatabase::TFbDatabase(TComponent* AOwner) : TComponent(AOwner) {}

TFbDatabase::~TFbDatabase() {
  try {
    Close();
  } catch (...) {
  }
  for (auto* t : FTransactions) t->FDatabase = nullptr;
  for (auto* s : FStatements) s->FDatabase = nullptr;
}

void TFbDatabase::SetDatabaseName(const std::string& name) {
  if (name == FDatabaseName) return;
  if (Connected()) throw EDatabaseError("Cannot change the database name while connected");
  FDatabaseName = name;
}

void TFbDatabase::SetParams(const std::vector<std::string>& params) { FParams = params; }

void TFbDatabase::SetSQLDialect(int dialect) {
  if (dialect == FSQLDialect) return;
  if (dialect != 1 && dialect != 3) throw EDatabaseError("SQL dialect must be 1 or 3");
  if (Connected()) throw EDatabaseError("Cannot change the SQL dialect while connected");
  FSQLDialect = dialect;
}

void TFbDatabase::SetDefaultTransaction(TFbTransaction* transaction) {
  FDefaultTransaction = transaction;
  if (transaction != nullptr && transaction->DefaultDatabase() == nullptr)
    transaction->SetDefaultDatabase(this);
}

void TFbDatabase::Open() {
  if (Connected()) return;
  if (FDatabaseName.empty()) throw EDatabaseError("Database name is missing");

  struct Entry {
    unsigned char tag;
    std::string value;
  };
  std::vector<Entry> entries;
  for (const auto& line : FParams) {
    if (TrimBlanks(line).empty()) continue;
    auto eq = line.find('=');
    std::string name = LowerCase(TrimBlanks(line.substr(0, eq)));
    std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    unsigned char tag;
    if (name == "user_name" || name == "user")
      tag = isc_dpb_user_name;
    else if (name == "password")
      tag = isc_dpb_password;
    else if (name == "lc_ctype")
      tag = isc_dpb_lc_ctype;
    else if (name == "sql_role_name")
      tag = isc_dpb_sql_role_name;
    else
      throw EDatabaseError("Unknown database parameter: " + TrimBlanks(line.substr(0, eq)));
    entries.push_back({tag, value});
  }

  // The engine takes SIGTERM and SIGINT over when it first attaches; a program
  // that handles them itself keeps its handlers (see fb::Master).
  struct sigaction term {}, interrupt {};
  sigaction(SIGTERM, nullptr, &term);
  sigaction(SIGINT, nullptr, &interrupt);
  struct Restore {
    struct sigaction &Term, &Interrupt;
    ~Restore() {
      if (Term.sa_handler != SIG_DFL && Term.sa_handler != SIG_IGN)
        sigaction(SIGTERM, &Term, nullptr);
      if (Interrupt.sa_handler != SIG_DFL && Interrupt.sa_handler != SIG_IGN)
        sigaction(SIGINT, &Interrupt, nullptr);
    }
  } restore{term, interrupt};
  FAttachment = fb::Call([&](Firebird::ThrowStatusWrapper* st) {
    Firebird::IXpbBuilder* dpb =
        fb::Util()->getXpbBuilder(st, Firebird::IXpbBuilder::DPB, nullptr, 0);
    struct Guard {
      Firebird::IXpbBuilder* b;
      ~Guard() { b->dispose(); }
    } guard{dpb};
    for (const auto& e : entries) dpb->insertString(st, e.tag, e.value.c_str());
    dpb->insertInt(st, isc_dpb_sql_dialect, FSQLDialect);
    Firebird::IProvider* provider = fb::Master()->getDispatcher();
    struct ProviderGuard {
      Firebird::IProvider* p;
      ~ProviderGuard() { p->release(); }
    } providerGuard{provider};
    return provider->attachDatabase(st, FDatabaseName.c_str(), dpb->getBufferLength(st),
                                    dpb->getBuffer(st));
  });
  fb::ShutdownEngineAtExit();
}

void TFbDatabase::Close() {
  if (!Connected()) return;
  // Everything that hangs on the attachment goes before the detach.
  std::vector<TFbTransaction*> transactions = FTransactions;
  if (FDefaultTransaction != nullptr && std::find(transactions.begin(), transactions.end(),
                                                  FDefaultTransaction) == transactions.end())
    transactions.push_back(FDefaultTransaction);
  std::vector<TFbStatementBase*> statements = FStatements;
  for (auto* t : transactions)
    for (auto* s : t->FStatements)
      if (std::find(statements.begin(), statements.end(), s) == statements.end())
        statements.push_back(s);
  for (auto* t : transactions)
    if (t->FDatabase == this || t == FDefaultTransaction) t->ForceRollback();
  for (auto* s : statements) s->DatabaseClosing();

  Firebird::IAttachment* attachment = FAttachment;
  FAttachment = nullptr;
  // detach() releases the interface when it succeeds; a detach that fails (a
  // connection already broken) still ends the connection for this component.
  if (!fb::TryCall([&](Firebird::ThrowStatusWrapper* st) { attachment->detach(st); }))
    attachment->release();
}

void TFbDatabase::Unlink(TFbTransaction* transaction) {
  RemoveFrom(FTransactions, transaction);
  if (FDefaultTransaction == transaction) FDefaultTransaction = nullptr;
}

void TFbDatabase::Unlink(TFbStatementBase* statement) { RemoveFrom(FStatements, statement); }

// ------------------------------------------------------------- TFbTransaction

TFbTransaction::TFbTransaction(TComponent* AOwner) : TComponent(AOwner) {}

TFbTransaction::~TFbTransaction() {
  ForceRollback();
  for (auto* s : FStatements) s->FTransaction = nullptr;
  if (FDatabase != nullptr) FDatabase->Unlink(this);
}

void TFbTransaction::SetDefaultDatabase(TFbDatabase* database) {
  if (database == FDatabase) return;
  if (InTransaction()) throw EDatabaseError("Cannot change the database of an active transaction");
  if (FDatabase != nullptr) RemoveFrom(FDatabase->FTransactions, this);
  FDatabase = database;
  if (FDatabase != nullptr) FDatabase->FTransactions.push_back(this);
}

void TFbTransaction::StartTransaction() {
  if (InTransaction()) throw EDatabaseError("Transaction is already active");
  if (FDatabase == nullptr) throw EDatabaseError("Transaction has no database");
  if (!FDatabase->Connected()) throw EDatabaseError("Database not connected");
  Firebird::IAttachment* attachment = FDatabase->Attachment();
  FTransaction = fb::Call([&](Firebird::ThrowStatusWrapper* st) {
    return attachment->startTransaction(st, 0, nullptr);
  });
}

void TFbTransaction::CloseCursors() {
  std::vector<TFbStatementBase*> statements = FStatements;
  if (FDatabase != nullptr)
    for (auto* s : FDatabase->FStatements)
      if (s->Transaction() == this &&
          std::find(statements.begin(), statements.end(), s) == statements.end())
        statements.push_back(s);
  for (auto* s : statements) s->TransactionEnding();
}

void TFbTransaction::Commit() {
  if (!InTransaction()) throw EDatabaseError("Transaction is not active");
  CloseCursors();
  fb::Call([&](Firebird::ThrowStatusWrapper* st) { FTransaction->commit(st); });
  // commit() releases the interface when it succeeds.
  FTransaction = nullptr;
}

void TFbTransaction::Rollback() {
  if (!InTransaction()) throw EDatabaseError("Transaction is not active");
  CloseCursors();
  fb::Call([&](Firebird::ThrowStatusWrapper* st) { FTransaction->rollback(st); });
  FTransaction = nullptr;
}

void TFbTransaction::ForceRollback() noexcept {
  if (!InTransaction()) return;
  CloseCursors();
  if (!fb::TryCall([&](Firebird::ThrowStatusWrapper* st) { FTransaction->rollback(st); }))
    FTransaction->release();
  FTransaction = nullptr;
}

// ----------------------------------------------------------- TFbStatementBase

TFbStatementBase::~TFbStatementBase() {
  if (FDatabase != nullptr) FDatabase->Unlink(this);
  if (FTransaction != nullptr) RemoveFrom(FTransaction->FStatements, this);
}

TFbDatabase* TFbStatementBase::Database() const {
  if (FDatabase != nullptr) return FDatabase;
  return FTransaction != nullptr ? FTransaction->DefaultDatabase() : nullptr;
}

void TFbStatementBase::SetDatabase(TFbDatabase* database) {
  if (database == FDatabase) return;
  DatabaseClosing();  // what was prepared belongs to the old connection
  if (FDatabase != nullptr) FDatabase->Unlink(this);
  FDatabase = database;
  if (FDatabase != nullptr) FDatabase->FStatements.push_back(this);
}

TFbTransaction* TFbStatementBase::Transaction() const {
  if (FTransaction != nullptr) return FTransaction;
  return FDatabase != nullptr ? FDatabase->DefaultTransaction() : nullptr;
}

void TFbStatementBase::SetTransaction(TFbTransaction* transaction) {
  if (transaction == FTransaction) return;
  TransactionEnding();
  if (FTransaction != nullptr) RemoveFrom(FTransaction->FStatements, this);
  FTransaction = transaction;
  if (FTransaction != nullptr) FTransaction->FStatements.push_back(this);
}

TFbDatabase& TFbStatementBase::CheckDatabase() const {
  TFbDatabase* db = Database();
  if (db == nullptr) throw EDatabaseError("Database not assigned");
  if (!db->Connected()) throw EDatabaseError("Database not connected");
  return *db;
}

TFbTransaction& TFbStatementBase::EnsureTransaction() const {
  TFbTransaction* tr = Transaction();
  if (tr == nullptr) throw EDatabaseError("Transaction not assigned");
  if (!tr->InTransaction()) tr->StartTransaction();
  return *tr;
}

}  // namespace fw
