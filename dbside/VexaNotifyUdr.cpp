// The UDR module of the demo database (external engine "udr", module name
// "vexa_notify"). The last commit trigger calls it:
//
//   report_commit ()   the committing transaction's rows of VEXA_PENDING, in
//                      order, go to the notify server through TDbNotifier
//
// It never fails the commit: what keeps it from reporting goes to the
// database server's log (once), and the commit goes on.
//
// The session it reports in: "SessionDir = <folder>" in vexa_notify.conf in
// the database server's configuration folder (beside firebird.conf:
// /etc/firebird/3.0, or what FIREBIRD names), which a service restart keeps;
// without it, the session of the environment, as for the programs.
#define FB_UDR_STATUS_TYPE ::Firebird::ThrowStatusWrapper
#include <firebird/UdrCppEngine.h>

#include <limits.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "dbside/DbNotifier.h"
#include "platform/kernel/Kernel.h"

// The client library's writer of the database server's log (exported, not
// declared in its headers).
extern "C" void gds__log(const char* text, ...);

namespace {

// What keeps the module from reporting goes to the database server's log,
// where its operator looks (the server's standard error goes nowhere).
const bool gLogToServer = [] {
  vexa::TDbNotifier::SetLog(
      [](const std::string& text) { gds__log("vexa_notify: %s", text.c_str()); });
  return true;
}();

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The configuration folder: where firebird.conf really lies (Debian links it
// from /etc/firebird/3.0 into the server's own folder).
std::string ConfigurationFolder(Firebird::IMaster* master) {
  const char* dir = master->getConfigManager()->getDirectory(Firebird::IConfigManager::DIR_CONF);
  if (dir == nullptr) return "";
  char resolved[PATH_MAX];
  if (realpath((std::string(dir) + "/firebird.conf").c_str(), resolved) == nullptr) return dir;
  std::string file(resolved);
  return file.substr(0, file.rfind('/'));
}

// Reads "SessionDir = <folder>" from the configuration file; lines of "#"
// comments and blanks are skipped, anything else is named in the log. Without
// the file a server reports in the session of its environment, which a
// service's is not: the log says so.
void ConfigureSession(Firebird::IMaster* master) {
  const std::string path = ConfigurationFolder(master) + "/vexa_notify.conf";
  std::ifstream in(path);
  if (!in) {
    const char* env = getenv("VEXA_SESSION_DIR");
    if (env == nullptr || *env == '\0') {
      vexa::TDbNotifier::Log("no " + path +
                             ": reporting in the session of this process's environment");
    }
    return;
  }
  std::string line;
  for (int number = 1; number <= 1000 && std::getline(in, line); ++number) {
    line = Trimmed(line.substr(0, 4096));
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq != std::string::npos && Trimmed(line.substr(0, eq)) == "SessionDir" &&
        !Trimmed(line.substr(eq + 1)).empty()) {
      plat::UseSessionDir(Trimmed(line.substr(eq + 1)));
    } else {
      vexa::TDbNotifier::Log(path + " line " + std::to_string(number) +
                             ": expected \"SessionDir = <folder>\"; ignored");
    }
  }
}

vexa::TDbNotifier& Notifier(Firebird::IMaster* master) {
  static const bool configured = (ConfigureSession(master), true);
  (void)configured;
  return vexa::TDbNotifier::Instance();
}

// The committing transaction's recorded changes, in the order made. Errors
// are the module's own (a status of its own, so none reaches the engine's).
std::vector<vexa::TDbChange> PendingChanges(Firebird::IMaster* master,
                                            Firebird::IExternalContext* context) {
  std::vector<vexa::TDbChange> changes;
  Firebird::IStatus* raw = master->getStatus();
  Firebird::ThrowStatusWrapper status(raw);
  Firebird::IAttachment* att = nullptr;
  Firebird::ITransaction* tra = nullptr;
  Firebird::IResultSet* rows = nullptr;
  try {
    FB_MESSAGE(Row, Firebird::ThrowStatusWrapper,
               (FB_INTEGER, tableId)(FB_INTEGER, keyValue)(FB_CHAR(1), code))
    row(&status, master);
    att = context->getAttachment(&status);
    tra = context->getTransaction(&status);
    rows = att->openCursor(&status, tra, 0,
                           "SELECT TABLEID, KEYVALUE, CODE FROM VEXA_PENDING ORDER BY SEQ", 3,
                           nullptr, nullptr, row.getMetadata(), nullptr, 0);
    while (rows->fetchNext(&status, row.getData()) == Firebird::IStatus::RESULT_OK) {
      if (changes.size() == vexa::TDbNotifier::HeldLimit) {
        vexa::TDbNotifier::Log("a transaction changed more than " +
                               std::to_string(vexa::TDbNotifier::HeldLimit) +
                               " rows of watched tables; only that many are reported");
        break;
      }
      changes.push_back({row->tableId, row->keyValueNull ? 0 : row->keyValue, row->code.str[0]});
    }
    rows->close(&status);
    rows = nullptr;
  } catch (const Firebird::FbException& e) {
    char text[512];
    master->getUtilInterface()->formatStatus(text, sizeof text, e.getStatus());
    vexa::TDbNotifier::Log(std::string("the changes of a committed transaction cannot be read: ") +
                           text);
    changes.clear();
  }
  if (rows != nullptr) rows->release();
  if (tra != nullptr) tra->release();
  if (att != nullptr) att->release();
  raw->dispose();
  return changes;
}

}  // namespace

FB_UDR_BEGIN_PROCEDURE(report_commit)
FB_UDR_EXECUTE_PROCEDURE {
  (void)status;
  (void)in;
  (void)out;
  Notifier(procedure->master).ReportCommit(PendingChanges(procedure->master, context));
  }

  FB_UDR_FETCH_PROCEDURE {
    (void)status;
    return false;
  }
FB_UDR_END_PROCEDURE

FB_UDR_IMPLEMENT_ENTRY_POINT
