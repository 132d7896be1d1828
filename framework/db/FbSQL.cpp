#include "framework/db/FbSQL.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "framework/db/FbClient.h"

namespace fw {

// ------------------------------------------------------------------- TFbField

namespace {

int64_t Pow10(int n) {
  int64_t r = 1;
  while (n-- > 0) r *= 10;
  return r;
}

// Rounds value * 10^scale (scale <= 0) to a whole number, halves away from zero.
int64_t Descale(int64_t value, int scale) {
  if (scale >= 0) return value;
  if (scale < -18) return 0;
  int64_t d = Pow10(-scale);
  int64_t q = value / d;
  int64_t r = value % d;
  if (r * 2 >= d) ++q;
  else if (r * 2 <= -d) --q;
  return q;
}

bool ParseDouble(const std::string& text, double& out) {
  size_t b = text.find_first_not_of(' ');
  size_t e = text.find_last_not_of(' ');
  if (b == std::string::npos) return false;
  const char* first = text.data() + b;
  const char* last = text.data() + e + 1;
  if (*first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last;
}

}  // namespace

int64_t TFbField::AsInt64() const {
  switch (FKind) {
    case TKind::Null:
      return 0;
    case TKind::Integer:
      return Descale(FInteger, FScale);
    case TKind::Boolean:
      return FInteger;
    case TKind::Float:
    case TKind::Text: {
      double d = FFloat;
      if (FKind == TKind::Text && !ParseDouble(FText, d))
        throw EDatabaseError("'" + FText + "' is not a valid integer value");
      if (!std::isfinite(d) || std::fabs(d) >= 9.2e18)
        throw EDatabaseError("Value out of range for an integer");
      return std::llround(d);
    }
    default:
      throw EDatabaseError("Cannot convert " + FName + " to an integer");
  }
}

int32_t TFbField::AsInteger() const {
  int64_t v = AsInt64();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw EDatabaseError("Value out of range for an integer");
  return static_cast<int32_t>(v);
}

double TFbField::AsDouble() const {
  switch (FKind) {
    case TKind::Null:
      return 0;
    case TKind::Integer:
      return FScale < 0 ? static_cast<double>(FInteger) / static_cast<double>(Pow10(-FScale))
                        : static_cast<double>(FInteger);
    case TKind::Boolean:
      return static_cast<double>(FInteger);
    case TKind::Float:
      return FFloat;
    case TKind::Text: {
      double d;
      if (!ParseDouble(FText, d)) throw EDatabaseError("'" + FText + "' is not a valid number");
      return d;
    }
    default:
      throw EDatabaseError("Cannot convert " + FName + " to a number");
  }
}

std::string TFbField::AsString() const {
  switch (FKind) {
    case TKind::Null:
      return {};
    case TKind::Integer: {
      if (FScale >= 0) return std::to_string(FInteger);
      bool negative = FInteger < 0;
      // Digits of the magnitude without overflow on the most negative value.
      std::string digits = std::to_string(FInteger);
      if (negative) digits.erase(0, 1);
      size_t decimals = static_cast<size_t>(-FScale);
      if (digits.size() <= decimals) digits.insert(0, decimals - digits.size() + 1, '0');
      digits.insert(digits.size() - decimals, ".");
      return negative ? "-" + digits : digits;
    }
    case TKind::Float: {
      char text[64];
      auto [ptr, ec] = std::to_chars(text, text + sizeof(text), FFloat);
      return ec == std::errc() ? std::string(text, ptr) : std::string();
    }
    case TKind::Boolean:
      return FInteger ? "True" : "False";
    case TKind::Blob:
      return "(BLOB)";
    default:
      return FText;
  }
}

bool TFbField::AsBoolean() const {
  if (FKind == TKind::Text) {
    if (FText == "True" || FText == "TRUE" || FText == "true") return true;
    if (FText == "False" || FText == "FALSE" || FText == "false") return false;
  }
  return AsInt64() != 0;
}

// --------------------------------------------------------------------- TFbSQL

TFbSQL::TFbSQL(TComponent* AOwner) : TFbStatementBase(AOwner) {}

TFbSQL::~TFbSQL() {
  TransactionEnding();
  Unprepare();
}

void TFbSQL::SetSQL(const std::string& text) {
  if (text == FSQL) {
    Close();
    return;
  }
  Close();
  Unprepare();
  FSQL = text;
}

void TFbSQL::Unprepare() noexcept {
  if (FOutMeta != nullptr) {
    FOutMeta->release();
    FOutMeta = nullptr;
  }
  if (FStatement != nullptr) {
    Firebird::IStatement* statement = FStatement;
    FStatement = nullptr;
    if (!fb::TryCall([&](Firebird::ThrowStatusWrapper* st) { statement->free(st); }))
      statement->release();
  }
}

void TFbSQL::ExecQuery() {
  Close();
  if (FSQL.empty()) throw EDatabaseError("SQL statement is empty");
  TFbDatabase& db = CheckDatabase();
  TFbTransaction& tr = EnsureTransaction();
  Firebird::ITransaction* tra = tr.Handle();
  fb::Call([&](Firebird::ThrowStatusWrapper* st) {
    if (FStatement == nullptr) {
      FStatement = db.Attachment()->prepare(st, tra, 0, FSQL.c_str(),
                                            static_cast<unsigned>(db.SQLDialect()),
                                            Firebird::IStatement::PREPARE_PREFETCH_METADATA);
      FOutMeta = FStatement->getOutputMetadata(st);
    }
    unsigned outCount = FOutMeta->getCount(st);
    FBuffer.assign(FOutMeta->getMessageLength(st), 0);
    if (FStatement->getFlags(st) & Firebird::IStatement::FLAG_HAS_CURSOR) {
      FResultSet = FStatement->openCursor(st, tra, nullptr, nullptr, FOutMeta, 0);
    } else {
      FStatement->execute(st, tra, nullptr, nullptr, outCount > 0 ? FOutMeta : nullptr,
                          outCount > 0 ? FBuffer.data() : nullptr);
      if (outCount > 0) {
        TFbMessage::Decode(st, FOutMeta, FBuffer.data(), FRow);
        FEof = false;
      }
    }
  });
  if (FResultSet != nullptr) {
    FEof = false;
    Next();
  }
}

void TFbSQL::Next() {
  if (FEof) return;
  if (FResultSet == nullptr) {  // the one row of a statement without cursor
    FEof = true;
    FRow.clear();
    return;
  }
  bool got = fb::Call([&](Firebird::ThrowStatusWrapper* st) {
    if (FResultSet->fetchNext(st, FBuffer.data()) != Firebird::IStatus::RESULT_OK) return false;
    TFbMessage::Decode(st, FOutMeta, FBuffer.data(), FRow);
    return true;
  });
  if (!got) {
    Close();
  }
}

void TFbSQL::Close() {
  if (FResultSet != nullptr) {
    Firebird::IResultSet* rs = FResultSet;
    FResultSet = nullptr;
    if (!fb::TryCall([&](Firebird::ThrowStatusWrapper* st) { rs->close(st); })) rs->release();
  }
  FEof = true;
  FRow.clear();
}

const TFbField& TFbSQL::Fields(int index) const {
  if (FEof) throw EDatabaseError("No current row");
  if (index < 0 || index >= FieldCount())
    throw EDatabaseError("Field index out of range: " + std::to_string(index));
  return FRow[static_cast<size_t>(index)];
}

void TFbSQL::TransactionEnding() noexcept { Close(); }

void TFbSQL::DatabaseClosing() noexcept {
  Close();
  Unprepare();
}

}  // namespace fw
