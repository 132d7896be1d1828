// Stored procedure component: runs one executable procedure with input
// parameters set by name and reads its output parameters by name.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "framework/db/FbSQL.h"

namespace fw {

// A parameter of a stored procedure: a value that can also be set.
class TFbParam : public TFbField {
public:
  void SetAsInteger(int32_t value) { SetInteger(value, 0); }
  void SetAsInt64(int64_t value) { SetInteger(value, 0); }
  void SetAsDouble(double value);
  void SetAsString(const std::string& value);
  void SetAsBoolean(bool value);
  void Clear();  // null

  bool IsInput() const { return FInput; }

private:
  friend class TFbStoredProc;
  void SetInteger(int64_t value, int scale);
  bool FInput = true;
};

class TFbStoredProc : public TFbStatementBase {
public:
  explicit TFbStoredProc(TComponent* AOwner = nullptr);
  ~TFbStoredProc() override;

  const std::string& StoredProcName() const { return FStoredProcName; }
  // A new name starts with null input parameters. What was prepared for a
  // name is kept while the connection stays open, so that switching between
  // a few procedures does not prepare them again.
  void SetStoredProcName(const std::string& name);

  // The parameter of that name, compared without regard to case. The first
  // use after a new name reads the procedure's parameters from the database
  // (starting the transaction when it is not active); a name the procedure
  // does not have raises EDatabaseError. Input parameters start as null.
  TFbParam& ParamByName(const std::string& name);
  int ParamCount() const { return static_cast<int>(FParams.size()); }
  TFbParam& Params(int index);

  // Runs the procedure with the input parameters in the transaction (started
  // when it is not active); its outputs become the output parameters' values.
  void ExecProc();
  bool Prepared() const { return FCurrent != nullptr; }
  void Prepare();
  // Frees every prepared procedure.
  void Unprepare() noexcept;

protected:
  void TransactionEnding() noexcept override {}
  void DatabaseClosing() noexcept override { Unprepare(); }

private:
  std::string FStoredProcName;
  struct TPrepared {
    std::vector<TFbParam> Params;  // names and directions; values null
    size_t InputCount = 0;
    Firebird::IStatement* Statement = nullptr;
    Firebird::IMessageMetadata* InMeta = nullptr;
    Firebird::IMessageMetadata* OutMeta = nullptr;
  };
  std::vector<std::pair<std::string, TPrepared>> FPrepared;  // by name as given
  TPrepared* FCurrent = nullptr;
  std::vector<TFbParam> FParams;  // inputs in order, then outputs in order
};

}  // namespace fw
