// Feeds the notify server's command-line reader arbitrary received lines and
// drives a table item with what they ask for, checking that every line reads
// as exactly one command and that the item's buffer never leaves its bounds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/VexaKWVServer.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckCommand(const vexa::TServerCommand& c) {
  for (char ch : c.Line) Check(!(ch >= 'a' && ch <= 'z'));
  Check(c.Line.empty() || (c.Line.back() != '\r' && c.Line.back() != '\n'));
  switch (c.Kind) {
    case vexa::TServerCommandKind::Subscribe:
      Check(!c.Line.empty() && c.Line[0] == 'S');
      break;
    case vexa::TServerCommandKind::Unsubscribe:
      Check(!c.Line.empty() && c.Line[0] == 'U');
      break;
    case vexa::TServerCommandKind::Exit:
      Check(c.Line == "EXIT");
      break;
    case vexa::TServerCommandKind::Who:
      Check(c.Line == "WHO");
      break;
    case vexa::TServerCommandKind::Unknown:
      Check(c.Line.empty() || (c.Line[0] != 'S' && c.Line[0] != 'U'));
      Check(c.Line != "EXIT" && c.Line != "WHO");
      break;
  }
}

void CheckItem(vexa::TTransTableItem& t) {
  Check(t.RecordCount() >= 0 && t.RecordCount() <= t.Capacity());
  const std::vector<int32_t> starts = t.TransactionStarts();
  Check(static_cast<int32_t>(starts.size()) == t.OpenTransactionCount());
  for (int32_t start : starts) Check(start >= 0 && start <= t.RecordCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  vexa::TTransTableItem item;
  std::vector<int32_t> ids;
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(pos, end - pos);
    pos = end;

    const vexa::TServerCommand cmd = vexa::ParseServerCommand(line);
    CheckCommand(cmd);
    // The same line read twice gives the same command.
    const vexa::TServerCommand again = vexa::ParseServerCommand(line);
    Check(again.Kind == cmd.Kind && again.TableID == cmd.TableID && again.Line == cmd.Line);

    // Subscribe numbers open transactions (sometimes near the id wrap), unsubscribe
    // numbers end or roll back one, anything else is a notification.
    switch (cmd.Kind) {
      case vexa::TServerCommandKind::Subscribe:
        if (cmd.TableID % 7 == 0) item.SetNextTransID(2147483647 - (cmd.TableID & 3));
        ids.push_back(item.BeginTransaction());
        break;
      case vexa::TServerCommandKind::Unsubscribe:
        if (!ids.empty()) {
          const size_t k = static_cast<uint32_t>(cmd.TableID) % ids.size();
          if (cmd.TableID & 1) {
            item.EndTransaction(ids[k]);
          } else {
            item.RemoveTransaction(ids[k]);
          }
          ids.erase(ids.begin() + static_cast<long>(k));
        } else {
          item.EndTransaction(cmd.TableID);
        }
        break;
      default:
        item.AddNotification(static_cast<int32_t>(line.size()),
                             static_cast<int32_t>(std::hash<std::string>{}(line)));
        break;
    }
    CheckItem(item);
  }
  for (int32_t id : ids) item.EndTransaction(id);
  CheckItem(item);
  // Records that came while nothing was open stay until a transaction ends.
  Check(item.OpenTransactionCount() == 0);
  return 0;
}
