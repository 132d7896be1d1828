#include "framework/db/FbClient.h"

#include <ibase.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "framework/ScopeGuard.h"

namespace fw::fb {

namespace {

// A build tree or installation keeps the embedded engine's configuration in a
// folder "firebird" beside the programs' folder (firebird.conf, plugins.conf
// naming the folder the UDR modules are loaded from). Programs started from
// there use it unless FIREBIRD already names a configuration.
void PrepareEnvironment() {
  const char* current = getenv("FIREBIRD");
  if (current != nullptr && *current != '\0') return;
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (n <= 0) return;
  exe[n] = '\0';
  std::string dir(exe);
  auto slash = dir.rfind('/');
  if (slash == std::string::npos) return;
  dir.resize(slash);
  std::string candidate = dir + "/../firebird";
  struct stat st {};
  if (stat((candidate + "/firebird.conf").c_str(), &st) != 0) return;
  char resolved[PATH_MAX];
  if (realpath(candidate.c_str(), resolved) == nullptr) return;
  setenv("FIREBIRD", resolved, 0);
}

// The client library catches SIGTERM and SIGINT itself (from the first
// attachment on) and shuts the engine down from a thread of its own, under the
// feet of the program's orderly close, which detaches and then shuts down at
// exit. A program that handles these signals itself (the library passes them
// on to it) ends through its close request; the library's shutdown for them is
// refused there. Other programs keep the library's behaviour.
int RefuseSignalShutdown(const int reason, const int mask, void*) {
  return mask == fb_shut_confirmation && reason == fb_shutrsn_signal ? 1 : 0;
}

}  // namespace

Firebird::IMaster* Master() {
  static Firebird::IMaster* master = [] {
    PrepareEnvironment();
    Firebird::IMaster* m = Firebird::fb_get_master_interface();
    struct sigaction term {};
    sigaction(SIGTERM, nullptr, &term);
    if (term.sa_handler != SIG_DFL && term.sa_handler != SIG_IGN) {
      ISC_STATUS_ARRAY status{};
      fb_shutdown_callback(status, RefuseSignalShutdown, fb_shut_confirmation, nullptr);
    }
    return m;
  }();
  return master;
}

Firebird::IUtil* Util() { return Master()->getUtilInterface(); }

void ShutdownEngineAtExit() {
  // Registered after the first attachment, so it runs before the exit handlers
  // of the engine loaded for it. Five seconds at most: a program never hangs
  // on its way out.
  static std::once_flag once;
  std::call_once(once, [] { std::atexit([] { fb_shutdown(5000, fb_shutrsn_app_stopped); }); });
}

void RaiseStatus(Firebird::IStatus* status) {
  std::vector<char> buffer(4096);
  unsigned length =
      Util()->formatStatus(buffer.data(), static_cast<unsigned>(buffer.size()), status);
  if (length >= buffer.size()) length = static_cast<unsigned>(buffer.size()) - 1;
  std::string text(buffer.data(), length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const intptr_t* errors = status->getErrors();
  int32_t errorCode = 0;
  if (errors != nullptr && errors[0] == isc_arg_gds) errorCode = static_cast<int32_t>(errors[1]);
  int32_t sqlCode = errors != nullptr ? isc_sqlcode(errors) : 0;
  throw EFbError(text.empty() ? std::string("Unknown Firebird error") : text, sqlCode, errorCode);
}

}  // namespace fw::fb

#include "framework/db/FbSQL.h"

#include <algorithm>
#include <cstring>

namespace fw {

namespace {

// A value of type T from a message buffer, which need not be aligned for it.
template <class T>
T Load(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

// "YYYY-MM-DD" and "HH:MM:SS" (fractions of a second left out).
std::string DateText(Firebird::IUtil* util, ISC_DATE date) {
  unsigned y, m, d;
  util->decodeDate(date, &y, &m, &d);
  char text[32];
  snprintf(text, sizeof(text), "%04u-%02u-%02u", y, m, d);
  return text;
}

std::string TimeText(Firebird::IUtil* util, ISC_TIME time) {
  unsigned h, m, s, frac;
  util->decodeTime(time, &h, &m, &s, &frac);
  char text[32];
  snprintf(text, sizeof(text), "%02u:%02u:%02u", h, m, s);
  return text;
}

}  // namespace

void TFbMessage::Decode(Firebird::ThrowStatusWrapper* st, Firebird::IMessageMetadata* meta,
                        const unsigned char* buffer, std::vector<TFbField>& row) {
  unsigned count = meta->getCount(st);
  row.assign(count, TFbField());
  Firebird::IUtil* util = fb::Util();
  for (unsigned i = 0; i < count; ++i) {
    TFbField& f = row[i];
    const char* alias = meta->getAlias(st, i);
    f.FName =
        alias != nullptr && *alias ? alias : (meta->getField(st, i) ? meta->getField(st, i) : "");
    short nullFlag;
    std::memcpy(&nullFlag, buffer + meta->getNullOffset(st, i), sizeof(nullFlag));
    if (nullFlag != 0) continue;
    const unsigned char* p = buffer + meta->getOffset(st, i);
    unsigned type = meta->getType(st, i) & ~1u;
    unsigned length = meta->getLength(st, i);
    int scale = meta->getScale(st, i);
    switch (type) {
      case SQL_TEXT:
        f.FKind = TFbField::TKind::Text;
        f.FText.assign(reinterpret_cast<const char*>(p), length);
        break;
      case SQL_VARYING: {
        uint16_t n = Load<uint16_t>(p);
        if (n > length) n = static_cast<uint16_t>(length);
        f.FKind = TFbField::TKind::Text;
        f.FText.assign(reinterpret_cast<const char*>(p + 2), n);
        break;
      }
      case SQL_SHORT:
      case SQL_LONG:
      case SQL_INT64:
        f.FKind = TFbField::TKind::Integer;
        f.FInteger = type == SQL_SHORT  ? Load<int16_t>(p)
                     : type == SQL_LONG ? Load<int32_t>(p)
                                        : Load<int64_t>(p);
        f.FScale = scale;
        break;
      case SQL_FLOAT:
      case SQL_DOUBLE:
      case SQL_D_FLOAT:
        f.FKind = TFbField::TKind::Float;
        f.FFloat = type == SQL_FLOAT ? Load<float>(p) : Load<double>(p);
        break;
      case SQL_BOOLEAN:
        f.FKind = TFbField::TKind::Boolean;
        f.FInteger = *p != 0;
        break;
      case SQL_TYPE_DATE:
        f.FKind = TFbField::TKind::Date;
        f.FText = DateText(util, Load<ISC_DATE>(p));
        break;
      case SQL_TYPE_TIME:
        f.FKind = TFbField::TKind::Time;
        f.FText = TimeText(util, Load<ISC_TIME>(p));
        break;
      case SQL_TIMESTAMP: {
        ISC_TIMESTAMP ts = Load<ISC_TIMESTAMP>(p);
        f.FKind = TFbField::TKind::Timestamp;
        f.FText = DateText(util, ts.timestamp_date) + " " + TimeText(util, ts.timestamp_time);
        break;
      }
      default:
        f.FKind = TFbField::TKind::Blob;
        break;
    }
  }
}

Firebird::IMessageMetadata* TFbMessage::Encode(Firebird::ThrowStatusWrapper* st,
                                               Firebird::IMessageMetadata* inMeta,
                                               const std::vector<const TFbField*>& values,
                                               std::vector<unsigned char>& buffer) {
  unsigned count = inMeta->getCount(st);
  Firebird::IMetadataBuilder* builder = inMeta->getBuilder(st);
  struct BuilderGuard {
    Firebird::IMetadataBuilder* b;
    ~BuilderGuard() { b->release(); }
  } guard{builder};
  for (unsigned i = 0; i < count && i < values.size(); ++i) {
    const TFbField* v = values[i];
    if (v == nullptr || v->IsNull()) continue;
    switch (v->Kind()) {
      case TFbField::TKind::Integer:
        builder->setType(st, i, SQL_INT64 | 1);
        builder->setLength(st, i, sizeof(int64_t));
        builder->setScale(st, i, v->FScale);
        break;
      case TFbField::TKind::Float:
        builder->setType(st, i, SQL_DOUBLE | 1);
        builder->setLength(st, i, sizeof(double));
        builder->setScale(st, i, 0);
        break;
      case TFbField::TKind::Boolean:
        builder->setType(st, i, SQL_BOOLEAN | 1);
        builder->setLength(st, i, 1);
        builder->setScale(st, i, 0);
        break;
      default:
        builder->setType(st, i, SQL_VARYING | 1);
        builder->setLength(st, i,
                           static_cast<unsigned>(std::clamp<size_t>(v->FText.size(), 1, 32765)));
        builder->setScale(st, i, 0);
        break;
    }
  }
  Firebird::IMessageMetadata* meta = builder->getMetadata(st);
  {
    auto undo = fw::OnFailure([&] { meta->release(); });
    buffer.assign(meta->getMessageLength(st), 0);
    for (unsigned i = 0; i < count; ++i) {
      const TFbField* v = i < values.size() ? values[i] : nullptr;
      short nullFlag = (v == nullptr || v->IsNull()) ? -1 : 0;
      std::memcpy(buffer.data() + meta->getNullOffset(st, i), &nullFlag, sizeof(nullFlag));
      if (nullFlag != 0) continue;
      unsigned char* p = buffer.data() + meta->getOffset(st, i);
      switch (v->Kind()) {
        case TFbField::TKind::Integer:
          std::memcpy(p, &v->FInteger, sizeof(int64_t));
          break;
        case TFbField::TKind::Float:
          std::memcpy(p, &v->FFloat, sizeof(double));
          break;
        case TFbField::TKind::Boolean:
          *p = v->FInteger != 0;
          break;
        default: {
          uint16_t n = static_cast<uint16_t>(std::min<size_t>(v->FText.size(), 32765));
          std::memcpy(p, &n, sizeof(n));
          std::memcpy(p + 2, v->FText.data(), n);
          break;
        }
      }
    }
  }
  return meta;
}

}  // namespace fw

#if defined(__SANITIZE_ADDRESS__)
// The Firebird client library and the embedded engine keep allocations for the
// life of the process (character set converters, ICU, big-number constants)
// and never free them; the leak checker is told so for programs that link the
// database components. This list replaces the drawing layer's own, so it names
// fontconfig's start-up block too.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libfbclient.so\n"
         "leak:libEngine12.so\n"
         "leak:libudr_engine.so\n"
         "leak:libicuuc.so\n"
         "leak:libicui18n.so\n"
         "leak:libtommath.so\n";
}
#endif
