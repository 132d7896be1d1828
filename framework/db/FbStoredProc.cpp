#include "framework/db/FbStoredProc.h"

#include "framework/ScopeGuard.h"
#include "framework/SysUtils.h"
#include "framework/db/FbClient.h"

namespace fw {

namespace {

// Text between marks, a mark inside it doubled.
std::string Quoted(const std::string& text, char mark) {
  std::string q(1, mark);
  for (char c : text) {
    if (c == mark) q += mark;
    q += c;
  }
  return q + mark;
}

// Double quotes for an identifier in dialect 3.
std::string QuoteIdent(const std::string& name) { return Quoted(name, '"'); }

std::string QuoteText(const std::string& text) { return Quoted(text, '\''); }

}  // namespace

// ------------------------------------------------------------------- TFbParam

void TFbParam::SetInteger(int64_t value, int scale) {
  FKind = TKind::Integer;
  FInteger = value;
  FScale = scale;
  FText.clear();
}

void TFbParam::SetAsDouble(double value) {
  FKind = TKind::Float;
  FFloat = value;
  FText.clear();
}

void TFbParam::SetAsString(const std::string& value) {
  FKind = TKind::Text;
  FText = value;
}

void TFbParam::SetAsBoolean(bool value) {
  FKind = TKind::Boolean;
  FInteger = value ? 1 : 0;
  FText.clear();
}

void TFbParam::Clear() {
  FKind = TKind::Null;
  FInteger = 0;
  FScale = 0;
  FFloat = 0;
  FText.clear();
}

// -------------------------------------------------------------- TFbStoredProc

TFbStoredProc::TFbStoredProc(TComponent* AOwner) : TFbStatementBase(AOwner) {}

TFbStoredProc::~TFbStoredProc() { Unprepare(); }

void TFbStoredProc::SetStoredProcName(const std::string& name) {
  if (name == FStoredProcName) return;
  FStoredProcName = name;
  FCurrent = nullptr;
  FParams.clear();
  for (auto& [n, prepared] : FPrepared)
    if (n == name) {
      FCurrent = &prepared;
      FParams = prepared.Params;
      break;
    }
}

void TFbStoredProc::Unprepare() noexcept {
  for (auto& [name, p] : FPrepared) {
    if (p.InMeta != nullptr) p.InMeta->release();
    if (p.OutMeta != nullptr) p.OutMeta->release();
    if (p.Statement != nullptr) {
      Firebird::IStatement* statement = p.Statement;
      if (!fb::TryCall([&](Firebird::ThrowStatusWrapper* st) { statement->free(st); }))
        statement->release();
    }
  }
  FPrepared.clear();
  FCurrent = nullptr;
}

void TFbStoredProc::Prepare() {
  if (FCurrent != nullptr) return;
  if (FStoredProcName.empty()) throw EDatabaseError("Stored procedure name is missing");
  TFbDatabase& db = CheckDatabase();
  TFbTransaction& tr = EnsureTransaction();

  // The procedure's parameters, inputs first, each in declared order. A name
  // given in other case than stored (unquoted names are kept in upper case)
  // is looked up again in upper case.
  auto readParams = [&](const std::string& procName) {
    TFbSQL query;
    query.SetDatabase(&db);
    query.SetTransaction(&tr);
    query.SetSQL(
        "SELECT TRIM(RDB$PARAMETER_NAME), RDB$PARAMETER_TYPE FROM RDB$PROCEDURE_PARAMETERS "
        "WHERE RDB$PROCEDURE_NAME = " + QuoteText(procName) +
        " AND RDB$PACKAGE_NAME IS NULL ORDER BY RDB$PARAMETER_TYPE, RDB$PARAMETER_NUMBER");
    std::vector<std::pair<std::string, int>> found;
    for (query.ExecQuery(); !query.Eof(); query.Next())
      found.emplace_back(query.Fields(0).AsString(), query.Fields(1).AsInteger());
    return found;
  };
  std::string procName = FStoredProcName;
  auto found = readParams(procName);
  if (found.empty() && UpperCase(procName) != procName) {
    auto upper = readParams(UpperCase(procName));
    if (!upper.empty()) {
      procName = UpperCase(procName);
      found = std::move(upper);
    }
  }

  TPrepared prepared;
  std::string marks;
  for (const auto& [name, type] : found) {
    TFbParam p;
    p.FName = name;
    p.FInput = type == 0;
    if (p.FInput) {
      ++prepared.InputCount;
      marks += marks.empty() ? "?" : ", ?";
    }
    prepared.Params.push_back(std::move(p));
  }

  std::string sql = "EXECUTE PROCEDURE " + QuoteIdent(procName);
  if (!marks.empty()) sql += " (" + marks + ")";
  fb::Call([&](Firebird::ThrowStatusWrapper* st) {
    prepared.Statement = db.Attachment()->prepare(st, tr.Handle(), 0, sql.c_str(),
                                                  static_cast<unsigned>(db.SQLDialect()),
                                                  Firebird::IStatement::PREPARE_PREFETCH_METADATA);
    auto undo = fw::OnFailure([&] {
      if (prepared.InMeta != nullptr) prepared.InMeta->release();
      prepared.Statement->release();
    });
    prepared.InMeta = prepared.Statement->getInputMetadata(st);
    prepared.OutMeta = prepared.Statement->getOutputMetadata(st);
  });

  // Values already given to inputs of the same names are kept.
  std::vector<TFbParam> params = prepared.Params;
  for (auto& p : params)
    for (const auto& old : FParams)
      if (old.FInput && p.FInput && SameText(old.FName, p.FName)) {
        std::string name = p.FName;
        p = old;
        p.FName = name;
      }
  FPrepared.emplace_back(FStoredProcName, std::move(prepared));
  FCurrent = &FPrepared.back().second;
  FParams = std::move(params);
}

TFbParam& TFbStoredProc::ParamByName(const std::string& name) {
  if (FCurrent == nullptr) Prepare();
  for (auto& p : FParams)
    if (SameText(p.FName, name)) return p;
  throw EDatabaseError("Parameter not found: " + name);
}

TFbParam& TFbStoredProc::Params(int index) {
  if (index < 0 || index >= ParamCount())
    throw EDatabaseError("Parameter index out of range: " + std::to_string(index));
  return FParams[static_cast<size_t>(index)];
}

void TFbStoredProc::ExecProc() {
  if (FCurrent == nullptr) Prepare();
  CheckDatabase();
  TFbTransaction& tr = EnsureTransaction();
  TPrepared& prepared = *FCurrent;
  std::vector<TFbField> outputs;
  fb::Call([&](Firebird::ThrowStatusWrapper* st) {
    std::vector<const TFbField*> values;
    for (size_t i = 0; i < prepared.InputCount && i < FParams.size(); ++i)
      values.push_back(&FParams[i]);
    std::vector<unsigned char> inBuffer;
    Firebird::IMessageMetadata* inMeta = TFbMessage::Encode(st, prepared.InMeta, values, inBuffer);
    struct MetaGuard {
      Firebird::IMessageMetadata* m;
      ~MetaGuard() { m->release(); }
    } guard{inMeta};
    unsigned outCount = prepared.OutMeta->getCount(st);
    std::vector<unsigned char> outBuffer(prepared.OutMeta->getMessageLength(st), 0);
    prepared.Statement->execute(
        st, tr.Handle(), inMeta, inBuffer.empty() ? nullptr : inBuffer.data(),
        outCount > 0 ? prepared.OutMeta : nullptr, outCount > 0 ? outBuffer.data() : nullptr);
    if (outCount > 0) TFbMessage::Decode(st, prepared.OutMeta, outBuffer.data(), outputs);
  });
  // Outputs come in declared order, as the parameters after the inputs.
  for (size_t i = 0; i < outputs.size() && prepared.InputCount + i < FParams.size(); ++i) {
    TFbParam& p = FParams[prepared.InputCount + i];
    std::string name = p.FName;
    static_cast<TFbField&>(p) = outputs[i];
    p.FName = name;
    p.FInput = false;
  }
}

}  // namespace fw
