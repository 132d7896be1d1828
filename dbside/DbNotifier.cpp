#include "dbside/DbNotifier.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "clients/VexaIPCClient.h"
#include "dbside/NotifyMessages.h"

namespace vexa {

namespace {

constexpr plat::DWORD FindServerMs = 1000;
constexpr plat::DWORD ConnectMs = 2000;
constexpr plat::DWORD SendMs = 5000;

}  // namespace

struct TDbNotifier::TWorker {
  // One table's part of a committed transaction, and how far it got.
  struct TBracket {
    int32_t TableID;
    std::vector<std::pair<int32_t, char>> Changes;
  };
  struct TUnit {
    std::vector<TBracket> Brackets;
    size_t Changes = 0;
    size_t Bracket = 0;       // the bracket being sent
    size_t Next = 0;          // its next notification
    int32_t TransID = 0;      // the server's id for it, once 'B' was answered
    plat::HWND OpenedOn = 0;  // the server that answered it
    int32_t Ended = 0;        // the id of the last bracket ended
  };
  struct TRequest {
    TUnit Unit;
    int32_t Result = 0;
    bool Done = false;
  };
  enum class TOutcome { Sent, Held, Dropped };

  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<TRequest*> Queue;
  bool Started = false;
  bool Stopping = false;
  bool Stopped = false;
  int WakeFd = -1;
  std::thread Thread;

  // The rest belongs to the worker thread alone, which makes every send: the
  // engine's threads only queue requests, so they share this state through
  // the queue and need no lock of their own.
  //
  // Hung: a send to the known server timed out. Until that server shows it
  // answers again, units are held and callers return at once, so a stopped
  // server costs the database's writers one time-out in all. ProbePosted: the
  // query that server answers with a server-up broadcast once it runs again;
  // posting never waits, and one is enough for each hang.
  bool Hung = false;
  bool ProbePosted = false;
  // Units not yet delivered, oldest first; the first may be half sent.
  std::deque<TUnit> Held;
  size_t HeldChanges = 0;

  void Wake() {
    uint64_t one = 1;
    ssize_t n = write(WakeFd, &one, sizeof(one));
    (void)n;
  }

  void Finish(TRequest* r) {
    std::lock_guard<std::mutex> lock(Mutex);
    r->Done = true;
    Changed.notify_all();
  }

  void ServerBack(plat::HWND) {
    Hung = false;
    ProbePosted = false;
    if (!Held.empty()) Wake();
  }

  // Changes committed while no server runs are not reported.
  void ServerGone() {
    Hung = false;
    ProbePosted = false;
    Held.clear();
    HeldChanges = 0;
  }

  void GiveUp(TVexaIPCClient& client) {
    Hung = true;
    ProbePosted = false;
    const plat::HWND hung = client.ServerHandle();
    // A server-up the server broadcast before it stopped would read as an
    // answer: drop those still waiting here; whatever it posts from now on
    // shows it runs again.
    plat::MSG m;
    while (plat::PeekMessage(&m, client.Handle(), client.CtrlID(), client.CtrlID(), plat::PM_REMOVE)) {
      if ((m.lParam & ipcControlMask) == ipcServerUp && static_cast<plat::HWND>(m.wParam) == hung)
        continue;
      plat::DispatchMessage(&m);
    }
    if (Hung) Probe(client);
  }

  void Probe(TVexaIPCClient& client) {
    if (ProbePosted) return;
    ProbePosted = client.PostToServer(client.CtrlID(), static_cast<plat::WPARAM>(client.Handle()), ipcQueryServer);
    // A server that died while hung answers nothing ever: as without a server.
    if (!ProbePosted && !plat::IsWindow(client.ServerHandle())) ServerGone();
  }

  // One send to the known server; false when it failed. A time-out makes the
  // server hung.
  bool Deliver(TVexaIPCClient& client, const char* name, int32_t wParam, int32_t lParam,
               plat::LRESULT* result) {
    plat::SetLastError(0);
    if (!client.Connected() && !client.Connect(ConnectMs) &&
        plat::GetLastError() == plat::ERROR_TIMEOUT) {
      GiveUp(client);
      return false;
    }
    plat::SetLastError(0);
    if (client.SendCustom(name, wParam, lParam, result, SendMs)) return true;
    if (plat::GetLastError() == plat::ERROR_TIMEOUT) GiveUp(client);
    return false;
  }

  // Sends a unit from where it stopped. A bracket the server answered 'B' to
  // goes on there: a begin or an end that timed out is sent again (a late
  // begin the server rolls back, a second end changes nothing). A
  // notification that timed out may have been handled as the server stopped,
  // so its bracket is rolled back and sent again whole. A bracket whose server
  // is gone starts again.
  TOutcome SendUnit(TVexaIPCClient& client, TUnit& u) {
    plat::LRESULT result = 0;
    for (; u.Bracket < u.Brackets.size(); ++u.Bracket, u.Next = 0, u.TransID = 0) {
      const TBracket& b = u.Brackets[u.Bracket];
      if (u.TransID != 0 && u.OpenedOn == client.ServerHandle() && u.Next < b.Changes.size()) {
        if (!Deliver(client, DBTransMessage, u.TransID, NotifyLParam(b.TableID, 'R'), &result)) {
          return Failed(client, u);
        }
        u.TransID = 0;
      }
      if (u.TransID != 0 && u.OpenedOn != client.ServerHandle()) u.TransID = 0;
      if (u.TransID == 0) {
        u.Next = 0;
        if (!Deliver(client, DBTransMessage, 0, NotifyLParam(b.TableID, 'B'), &result))
          return Failed(client, u);
        // No transaction (table 0): none of its changes may go unbracketed.
        if (result == 0) continue;
        u.TransID = static_cast<int32_t>(result);
        u.OpenedOn = client.ServerHandle();
      }
      for (; u.Next < b.Changes.size(); ++u.Next) {
        const auto& [value, code] = b.Changes[u.Next];
        if (!Deliver(client, DBNotificationMessage, value, NotifyLParam(b.TableID, code),
                     &result)) {
          return Failed(client, u);
        }
      }
      if (!Deliver(client, DBTransMessage, u.TransID, NotifyLParam(b.TableID, 'E'), &result))
        return Failed(client, u);
      u.Ended = u.TransID;
    }
    return TOutcome::Sent;
  }

  // A send that timed out holds the unit; one that failed otherwise (the
  // server is gone) drops it, rolling back what a living server began of it.
  TOutcome Failed(TVexaIPCClient& client, TUnit& u) {
    if (Hung) return TOutcome::Held;
    if (u.TransID != 0 && u.OpenedOn == client.ServerHandle() && plat::IsWindow(u.OpenedOn)) {
      client.SendCustom(DBTransMessage, u.TransID, NotifyLParam(u.Brackets[u.Bracket].TableID, 'R'),
                        nullptr, SendMs);
    }
    return TOutcome::Dropped;
  }

  void Hold(TUnit&& u) {
    HeldChanges += u.Changes;
    Held.push_back(std::move(u));
    // Beyond the bound the oldest go; never the first, which may have a
    // transaction open at the server.
    bool dropped = false;
    while (HeldChanges > HeldLimit && Held.size() > 1) {
      HeldChanges -= Held[1].Changes;
      Held.erase(Held.begin() + 1);
      dropped = true;
    }
    if (dropped) {
      TDbNotifier::Log(
          "the notify server does not answer; changes of transactions committed meanwhile beyond " +
          std::to_string(HeldLimit) + " are dropped, oldest first");
    }
  }

  // Sends what is held, oldest first, while the server answers.
  void SendHeld(TVexaIPCClient& client) {
    while (!Hung && !Held.empty()) {
      if (client.ServerHandle() == 0) {
        ServerGone();
        return;
      }
      if (SendUnit(client, Held.front()) == TOutcome::Held) return;
      HeldChanges -= Held.front().Changes;
      Held.pop_front();
    }
  }

  // Serves the queued units in order. A send waits while handling messages
  // sent to this thread, which may call back here: the nested call leaves the
  // queue to the outer one, so units never overtake each other.
  void Drain(TVexaIPCClient& client, bool& draining) {
    if (draining) return;
    draining = true;
    for (;;) {
      SendHeld(client);
      TRequest* r;
      {
        std::lock_guard<std::mutex> lock(Mutex);
        if (Queue.empty()) break;
        r = Queue.front();
        Queue.pop_front();
      }
      if (client.ServerHandle() != 0) {
        const TOutcome outcome = Hung || !Held.empty() ? TOutcome::Held : SendUnit(client, r->Unit);
        if (outcome == TOutcome::Sent) r->Result = r->Unit.Ended;
        if (outcome == TOutcome::Held) Hold(std::move(r->Unit));
        if (Hung) Probe(client);
      }
      Finish(r);
    }
    draining = false;
  }

  // Ends the start-up: every report from now on returns at once, unsent.
  void Refuse() {
    std::lock_guard<std::mutex> lock(Mutex);
    Started = true;
    Stopped = true;
    Changed.notify_all();
  }

  void Run() {
    // A session the database server may not use leaves the statements alone:
    // the module says so once, where the server's operator looks, and
    // reports nothing until the database server starts again.
    if (const std::string refusal = plat::SessionDirRefusal(); !refusal.empty()) {
      TDbNotifier::Log(refusal);
      Refuse();
      return;
    }
    {
      TVexaIPCClient client(NotifyServerInstance);
      bool draining = false;
      bool starting = true;
      client.OnServerUp = [this](plat::HWND server) { ServerBack(server); };
      client.OnServerDown = [this](plat::HWND) { ServerGone(); };
      auto onWake = [&](uint32_t) {
        uint64_t count;
        ssize_t n = read(WakeFd, &count, sizeof(count));
        (void)n;
        if (!starting) Drain(client, draining);
        std::lock_guard<std::mutex> lock(Mutex);
        if (Stopping) plat::PostQuitMessage(0);
      };
      if (!plat::WatchFd(WakeFd, EPOLLIN, onWake)) {
        // Without its wake-up the worker could never serve a request.
        Refuse();
        return;
      }
      if (client.Ready() && client.FindServer(FindServerMs)) {
        plat::SetLastError(0);
        if (!client.Connect(ConnectMs) && plat::GetLastError() == plat::ERROR_TIMEOUT) GiveUp(client);
      }
      starting = false;
      {
        std::lock_guard<std::mutex> lock(Mutex);
        Started = true;
        Changed.notify_all();
      }
      Drain(client, draining);
      bool stop;
      {
        std::lock_guard<std::mutex> lock(Mutex);
        stop = Stopping;
      }
      plat::MSG msg;
      while (!stop) {
        if (!plat::GetMessage(&msg, 0, 0, 0)) {
          // Only Stopping quits this loop; a WM_QUIT another program posted to
          // the client's window would otherwise leave every call answering 0.
          if (msg.hwnd == 0) break;
          continue;
        }
        plat::TranslateMessage(&msg);
        plat::DispatchMessage(&msg);
      }
      plat::UnwatchFd(WakeFd);
    }  // the client disconnects and destroys its window on this thread
    std::lock_guard<std::mutex> lock(Mutex);
    Stopped = true;
    for (TRequest* r : Queue) r->Done = true;
    Queue.clear();
    Changed.notify_all();
  }
};

namespace {

// Set while the module loads, from another file: made on first use, so that
// the order in which the files' statics start does not matter.
struct TLogState {
  std::mutex Mu;
  std::function<void(const std::string&)> Sink;
  std::string Last;
};

TLogState& LogState() {
  static TLogState state;
  return state;
}

}  // namespace

void TDbNotifier::SetLog(std::function<void(const std::string&)> sink) {
  TLogState& l = LogState();
  std::lock_guard<std::mutex> lock(l.Mu);
  l.Sink = std::move(sink);
}

void TDbNotifier::Log(const std::string& text) {
  TLogState& l = LogState();
  std::lock_guard<std::mutex> lock(l.Mu);
  if (text == l.Last) return;  // once, however often it comes up again
  l.Last = text;
  if (l.Sink) l.Sink(text);
}

TDbNotifier& TDbNotifier::Instance() {
  static TDbNotifier notifier;
  return notifier;
}

TDbNotifier::TDbNotifier() { StartWorker(); }

TDbNotifier::~TDbNotifier() { StopWorker(); }

void TDbNotifier::StartWorker() {
  FWorker = std::make_unique<TWorker>();
  FWorker->WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FWorker->WakeFd < 0) {
    FWorker->Stopped = true;
    return;
  }
  FWorker->Thread = std::thread([w = FWorker.get()] { w->Run(); });
  // Waiting for the start-up lets everything the worker sets up exist before
  // this object does, so that it also outlives this object at unload.
  std::unique_lock<std::mutex> lock(FWorker->Mutex);
  FWorker->Changed.wait(lock, [this] { return FWorker->Started || FWorker->Stopped; });
}

void TDbNotifier::StopWorker() {
  if (FWorker->Thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(FWorker->Mutex);
      FWorker->Stopping = true;
    }
    FWorker->Wake();
    FWorker->Thread.join();
  }
  if (FWorker->WakeFd >= 0) close(FWorker->WakeFd);
}

int32_t TDbNotifier::ReportCommit(const std::vector<TDbChange>& changes) {
  TWorker::TRequest request;
  TWorker::TUnit& unit = request.Unit;
  for (const TDbChange& c : changes) {
    if (!IsSendableTableID(c.TableID)) continue;
    auto b = std::find_if(unit.Brackets.begin(), unit.Brackets.end(),
                          [&](const TWorker::TBracket& x) { return x.TableID == c.TableID; });
    if (b == unit.Brackets.end()) b = unit.Brackets.insert(b, TWorker::TBracket{c.TableID, {}});
    b->Changes.emplace_back(c.Value, c.Code);
    ++unit.Changes;
  }
  if (unit.Changes == 0) return 0;
  // The worker's client lives in one session. When the host moved to another
  // one, a worker of the new session serves from now on: the old one's window
  // handles mean nothing (or another window) there.
  if (plat::FollowSessionDirOfEnvironment()) {
    std::unique_lock<std::shared_mutex> swap(FWorkerSwap);
    StopWorker();
    StartWorker();
  }
  std::shared_lock<std::shared_mutex> swap(FWorkerSwap);
  std::unique_lock<std::mutex> lock(FWorker->Mutex);
  if (FWorker->Stopping || FWorker->Stopped) return 0;
  FWorker->Queue.push_back(&request);
  FWorker->Wake();
  FWorker->Changed.wait(lock, [&] { return request.Done; });
  return request.Result;
}

}  // namespace vexa
