#include "dbside/DbNotifier.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

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

  // Serves the queued requests in order. A send waits while handling messages
  // sent to this thread, which may call back here: the nested call leaves the
  // queue to the outer one, so requests never overtake each other.
  void Drain(TVexaIPCClient& client, bool& draining) {
    if (draining) return;
    draining = true;
    for (;;) {
      TRequest* r;
      {
        std::lock_guard<std::mutex> lock(Mutex);
        if (Queue.empty()) break;
        r = Queue.front();
        Queue.pop_front();
      }
      plat::LRESULT result = 0;
      if (client.ServerHandle() != 0) {
        if (!client.Connected()) client.Connect(ConnectMs);
        if (!client.SendCustom(r->Name, r->WParam, r->LParam, &result, SendMs)) result = 0;
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
      if (client.Ready() && client.FindServer(FindServerMs)) client.Connect(ConnectMs);
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
      while (!stop && plat::GetMessage(&msg, 0, 0, 0)) {
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
