// SQL statement component: runs one statement text in a transaction and reads
// the rows it returns, columns by index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/db/FbDatabase.h"

namespace Firebird {
class IStatement;
class IResultSet;
class IMessageMetadata;
}  // namespace Firebird

namespace fw {

// One value read from or written to the database. Numbers with decimals
// (NUMERIC, DECIMAL) keep their scale; conversions follow the C locale.
class TFbField {
public:
  enum class TKind { Null, Integer, Float, Text, Boolean, Date, Time, Timestamp, Blob };

  const std::string& Name() const { return FName; }
  TKind Kind() const { return FKind; }
  bool IsNull() const { return FKind == TKind::Null; }

  // Integer conversion rounds values with decimals to the nearest whole
  // number; a value out of range or text that is not a number raises
  // EDatabaseError. Null reads as 0, "" and 0.0.
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  // Numbers with their decimals ("12.30"), timestamps as "YYYY-MM-DD HH:MM:SS".
  std::string AsString() const;
  bool AsBoolean() const;

protected:
  friend class TFbSQL;
  friend class TFbStoredProc;
  friend struct TFbMessage;
  std::string FName;
  TKind FKind = TKind::Null;
  int64_t FInteger = 0;  // Integer (unscaled), Boolean, Date/Time parts
  int FScale = 0;        // Integer: value = FInteger * 10^FScale (FScale <= 0)
  double FFloat = 0;
  std::string FText;     // Text; Date/Time/Timestamp in text form
};

class TFbSQL : public TFbStatementBase {
public:
  explicit TFbSQL(TComponent* AOwner = nullptr);
  ~TFbSQL() override;

  const std::string& SQL() const { return FSQL; }
  // A new text closes an open cursor and drops what was prepared.
  void SetSQL(const std::string& text);

  // Prepares the text when needed and runs it in the transaction, which is
  // started when it is not active. A query opens its cursor on the first row
  // (Eof when there is none); a statement with a result (RETURNING, EXECUTE
  // PROCEDURE) presents that as its one row; any other statement has none.
  void ExecQuery();
  bool Eof() const { return FEof; }
  // Moves to the next row; Eof when there is no more.
  void Next();
  // Closes an open cursor; the prepared statement is kept for the next run.
  void Close();
  bool Open() const { return FResultSet != nullptr || !FEof; }

  int FieldCount() const { return static_cast<int>(FRow.size()); }
  // A column of the current row, 0-based. Raises EDatabaseError when the
  // index is out of range or there is no current row.
  const TFbField& Fields(int index) const;

protected:
  void TransactionEnding() noexcept override;
  void DatabaseClosing() noexcept override;

private:
  void Unprepare() noexcept;
  void ReadRow();

  std::string FSQL;
  Firebird::IStatement* FStatement = nullptr;
  Firebird::IMessageMetadata* FOutMeta = nullptr;
  Firebird::IResultSet* FResultSet = nullptr;
  std::vector<unsigned char> FBuffer;
  std::vector<TFbField> FRow;
  bool FEof = true;
};

}  // namespace fw
