// The database side's end of the "NotifyServerIPC" channel, used by the UDR
// module inside the database engine.
//
// The engine calls from threads of its own (in the embedded engine: the
// program's thread that runs the statement), so one worker thread of the
// module owns the channel client: it pumps its queue, learns of notify servers
// that start or stop from their broadcasts, and makes every send on behalf of
// the callers, who wait for the result. Every message is sent, never posted:
// the server handles sent messages before posted ones, so only sending keeps a
// notification ahead of the "DBTrans" 'E' that ends its transaction.
//
// Without a notify server every call returns 0 at once (the first call waits
// briefly for a server to answer the query). A server that does not answer a
// send within its time-out (stopped, hung) counts as absent from then on:
// calls return 0 at once, so it costs the database one time-out in all, and
// the worker posts it one query. The server-up broadcast it answers with once
// it runs again makes the calls report to it as before; an end or rollback of
// a transaction it had opened, called meanwhile, is sent to it first then.
#pragma once

#include <cstdint>
#include <memory>
#include <shared_mutex>

namespace vexa {

class TDbNotifier {
public:
  // The module's one notifier, started on first use.
  static TDbNotifier& Instance();

  // "DBTrans" 'B': the server's new transaction id, 0 without a server.
  int32_t BeginTrans(int32_t tableID);
  // "DBTrans" 'E' and 'R' with the transaction id.
  void EndTrans(int32_t tableID, int32_t transID);
  void CancelTrans(int32_t tableID, int32_t transID);
  // One "DBNotification"; the server's result (1), 0 without a server.
  int32_t Notify(int32_t tableID, int32_t value, char code);

  ~TDbNotifier();

private:
  TDbNotifier();
  int32_t Send(const char* name, int32_t wParam, int32_t lParam);
  void StartWorker();
  void StopWorker();
  struct TWorker;
  std::unique_ptr<TWorker> FWorker;
  std::shared_mutex FWorkerSwap;  // senders share it; a change of session takes it alone
};

}  // namespace vexa
