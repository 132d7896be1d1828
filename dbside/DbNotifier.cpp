#include "dbside/DbNotifier.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

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
  struct TRequest {
    const char* Name;
    int32_t WParam;
    int32_t LParam;
    int32_t Result = 0;
    bool Done = false;
  };

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
  // answers again, calls return 0 at once as without a server, so a stopped
  // server costs the database's writers one time-out in all. ProbePosted: the
  // query that server answers with a server-up broadcast once it runs again;
  // posting never waits, and one is enough for each hang.
  bool Hung = false;
  bool ProbePosted = false;
  // "DBTrans" 'E' and 'R' of transactions the hung server opened; they are
  // sent first when it answers again, so that none stays open there. They
  // mean nothing to another server (its ids start afresh).
  std::vector<TRequest> Owed;
  plat::HWND OwedTo = 0;

  void Wake() {
    uint64_t one = 1;
    ssize_t n = write(WakeFd, &one, sizeof(one));
    (void)n;
  }

  void Finish(TRequest* r, int32_t result) {
    std::lock_guard<std::mutex> lock(Mutex);
    r->Result = result;
    r->Done = true;
    Changed.notify_all();
  }

  static bool EndsTransaction(const TRequest& r) {
    const char code = static_cast<char>((r.LParam >> 8) & 0xFF);
    return std::strcmp(r.Name, DBTransMessage) == 0 && r.WParam != 0 && (code == 'E' || code == 'R');
  }

  void ServerBack(plat::HWND server) {
    Hung = false;
    ProbePosted = false;
    if (server != OwedTo) Owed.clear();
    if (!Owed.empty()) Wake();
  }

  void ServerGone() {
    Hung = false;
    ProbePosted = false;
    Owed.clear();
  }

  void GiveUp(TVexaIPCClient& client) {
    Hung = true;
    ProbePosted = false;
    OwedTo = client.ServerHandle();
    // A server-up the server broadcast before it stopped would read as an
    // answer: drop those still waiting here; whatever it posts from now on
    // shows it runs again.
    plat::MSG m;
    while (plat::PeekMessage(&m, client.Handle(), client.CtrlID(), client.CtrlID(), plat::PM_REMOVE)) {
      if ((m.lParam & ipcControlMask) == ipcServerUp && static_cast<plat::HWND>(m.wParam) == OwedTo) continue;
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
  bool Deliver(TVexaIPCClient& client, const TRequest& r, plat::LRESULT* result) {
    plat::SetLastError(0);
    if (!client.Connected() && !client.Connect(ConnectMs) &&
        plat::GetLastError() == plat::ERROR_TIMEOUT) {
      GiveUp(client);
      return false;
    }
    plat::SetLastError(0);
    if (client.SendCustom(r.Name, r.WParam, r.LParam, result, SendMs)) return true;
    if (plat::GetLastError() == plat::ERROR_TIMEOUT) GiveUp(client);
    return false;
  }

  // Sends the ends owed to a server that answers again, oldest first.
  void PayOwed(TVexaIPCClient& client) {
    while (!Hung && !Owed.empty() && client.ServerHandle() == OwedTo) {
      const TRequest r = Owed.front();
      Owed.erase(Owed.begin());
      plat::LRESULT ignored = 0;
      Deliver(client, r, &ignored);  // one that times out stays queued there
    }
  }

  // Serves the queued requests in order. A send waits while handling messages
  // sent to this thread, which may call back here: the nested call leaves the
  // queue to the outer one, so requests never overtake each other.
  void Drain(TVexaIPCClient& client, bool& draining) {
    if (draining) return;
    draining = true;
    for (;;) {
      if (!Hung) PayOwed(client);
      TRequest* r;
      {
        std::lock_guard<std::mutex> lock(Mutex);
        if (Queue.empty()) break;
        r = Queue.front();
        Queue.pop_front();
      }
      plat::LRESULT result = 0;
      if (client.ServerHandle() != 0) {
        if (!Hung) {
          if (!Deliver(client, *r, &result)) result = 0;
        } else if (EndsTransaction(*r)) {
          Owed.push_back(*r);
        }
        if (Hung) Probe(client);
      }
      Finish(r, result);
    }
    draining = false;
  }

  void Run() {
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
        // Without its wake-up the worker could never serve a request: every
        // call answers 0 from now on.
        std::lock_guard<std::mutex> lock(Mutex);
        Started = true;
        Stopped = true;
        Changed.notify_all();
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
    for (TRequest* r : Queue) {
      r->Result = 0;
      r->Done = true;
    }
    Queue.clear();
    Changed.notify_all();
  }
};

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

int32_t TDbNotifier::Send(const char* name, int32_t wParam, int32_t lParam) {
  // The worker's client lives in one session. When the host moved to another
  // one, a worker of the new session serves from now on: the old one's window
  // handles mean nothing (or another window) there.
  if (plat::FollowSessionDirOfEnvironment()) {
    std::unique_lock<std::shared_mutex> swap(FWorkerSwap);
    StopWorker();
    StartWorker();
  }
  std::shared_lock<std::shared_mutex> swap(FWorkerSwap);
  TWorker::TRequest request{name, wParam, lParam};
  std::unique_lock<std::mutex> lock(FWorker->Mutex);
  if (FWorker->Stopping || FWorker->Stopped) return 0;
  FWorker->Queue.push_back(&request);
  FWorker->Wake();
  FWorker->Changed.wait(lock, [&] { return request.Done; });
  return request.Result;
}

int32_t TDbNotifier::BeginTrans(int32_t tableID) {
  if (!IsSendableTableID(tableID)) return 0;
  return Send(DBTransMessage, 0, NotifyLParam(tableID, 'B'));
}

void TDbNotifier::EndTrans(int32_t tableID, int32_t transID) {
  if (IsSendableTableID(tableID)) Send(DBTransMessage, transID, NotifyLParam(tableID, 'E'));
}

void TDbNotifier::CancelTrans(int32_t tableID, int32_t transID) {
  if (IsSendableTableID(tableID)) Send(DBTransMessage, transID, NotifyLParam(tableID, 'R'));
}

int32_t TDbNotifier::Notify(int32_t tableID, int32_t value, char code) {
  if (!IsSendableTableID(tableID)) return 0;
  return Send(DBNotificationMessage, value, NotifyLParam(tableID, code));
}

}  // namespace vexa
