// The database side's end of the "NotifyServerIPC" channel, used by the UDR
// module inside the database engine.
//
// The module reports what a transaction changed only once the engine commits
// it (the commit trigger hands over the changes the transaction recorded), as
// one unit: per table, in the order of the table's first change, a "DBTrans"
// 'B' of its own, the "DBNotification"s, and the 'E' with the server's id. A
// unit's brackets never overlap another unit's at the server, so each change
// reaches the server's subscribers once; a rolled-back change never arrives.
//
// The engine calls from threads of its own, so one worker thread of the
// module owns the channel client: it pumps its queue, learns of notify servers
// that start or stop from their broadcasts, and makes every send on behalf of
// the callers. Every message is sent, never posted: the server handles sent
// messages before posted ones, so only sending keeps a notification ahead of
// the 'E' that ends its transaction.
//
// Without a notify server a commit's unit is dropped at once. A server that
// does not answer a send within its time-out (stopped, hung) costs that one
// commit the time-out: from then on units are held, up to HeldLimit changes
// (the oldest go first beyond it), and callers return at once. The worker
// posts the server one query; once it answers, the held units go out in
// order, the one that timed out from the message that timed out (a send that
// timed out is never handled), and reporting goes on as before.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

namespace vexa {

// One change of a watched table: its key and 'I', 'C' or 'D'.
struct TDbChange {
  int32_t TableID;
  int32_t Value;
  char Code;
};

class TDbNotifier {
public:
  // Changes held for a server that does not answer, at most.
  static constexpr size_t HeldLimit = 1000000;

  // The module's one notifier, started on first use.
  static TDbNotifier& Instance();

  // Reports the changes one committed transaction made, in the order made.
  // Tables outside 0..255 are left out (the server reads one byte of the id).
  // The server's id of the last table's transaction once delivered; 0 when
  // held, dropped or nothing to send.
  int32_t ReportCommit(const std::vector<TDbChange>& changes);

  ~TDbNotifier();

  // Where the module reports what keeps it from reporting (the database
  // server's log); each text once in a row.
  static void SetLog(std::function<void(const std::string&)> sink);
  static void Log(const std::string& text);

private:
  TDbNotifier();
  void StartWorker();
  void StopWorker();
  struct TWorker;
  std::unique_ptr<TWorker> FWorker;
  std::shared_mutex FWorkerSwap;  // callers share it; a change of session takes it alone
};

}  // namespace vexa
