// Threads, and the queue that runs synchronised calls on the main thread.
#include "framework/Classes.h"
#include "framework/FrameworkState.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace fw {

// ---------------------------------------------------------------------------
// TThread

bool IsMainThread() { return plat::GetCurrentThreadId() == St().mainThread; }

bool CheckSynchronize() {
  if (!IsMainThread()) return false;
  FrameworkState& st = St();
  bool ran = false;
  for (;;) {
    SyncCall* call;
    {
      std::lock_guard<std::mutex> g(st.syncMu);
      if (st.syncQueue.empty()) break;
      call = st.syncQueue.front();
      st.syncQueue.pop_front();
    }
    try {
      (*call->Method)();
    } catch (...) {
      call->Error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> g(st.syncMu);
      call->Done = true;
    }
    st.syncCv.notify_all();
    ran = true;
  }
  return ran;
}

void TThread::Synchronize(const std::function<void()>& Method) {
  if (IsMainThread()) {
    Method();
    return;
  }
  FrameworkState& st = St();
  SyncCall call;
  call.Method = &Method;
  {
    std::lock_guard<std::mutex> g(st.syncMu);
    st.syncQueue.push_back(&call);
  }
  plat::PostThreadMessage(st.mainThread, plat::WM_NULL, 0, 0);  // wakes the main loop
  std::unique_lock<std::mutex> lock(st.syncMu);
  st.syncCv.wait(lock, [&] { return call.Done; });
  if (call.Error) std::rethrow_exception(call.Error);
}

struct TThread::State {
  std::thread Thread;
  std::mutex Mu;
  std::condition_variable Cv;
  bool Finished = false;
  pid_t Tid = 0;
};

TThread::TThread() : FState(std::make_shared<State>()) {}

TThread::~TThread() {
  OnTerminate = nullptr;
  if (!FState->Thread.joinable()) return;
  if (FState->Thread.get_id() == std::this_thread::get_id()) {
    FState->Thread.detach();  // freeing itself at the end of its run
    return;
  }
  Terminate();
  WaitFor();
  FState->Thread.join();
}

namespace {
int NiceOf(TThreadPriority p) {
  switch (p) {
    case tpIdle: return 19;
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -20;
    default: return 0;
  }
}
}  // namespace

void TThread::SetPriority(TThreadPriority Value) {
  FPriority = Value;
  pid_t tid;
  {
    std::lock_guard<std::mutex> g(FState->Mu);
    tid = FState->Finished ? 0 : FState->Tid;
  }
  // Raising above normal needs privileges; without them the thread stays as it is.
  if (tid) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceOf(Value));
}

void TThread::BeforeDestruction() {
  if (FState->Thread.joinable() && FState->Thread.get_id() != std::this_thread::get_id()) {
    Terminate();
    WaitFor();
  }
}

void TThread::Resume() {
  bool expected = false;
  if (!FStarted.compare_exchange_strong(expected, true)) return;
  FState->Thread = std::thread([this] { Run(); });
}

void TThread::Run() {
  std::shared_ptr<State> state = FState;  // outlives a self-freeing object
  {
    std::lock_guard<std::mutex> g(state->Mu);
    state->Tid = gettid();
  }
  setpriority(PRIO_PROCESS, static_cast<id_t>(state->Tid), NiceOf(FPriority));
  try {
    Execute();
  } catch (...) {
    FFatalException = std::current_exception();
  }
  FFinished = true;
  if (OnTerminate) {
    try {
      Synchronize([this] {
        if (OnTerminate) OnTerminate(this);
      });
    } catch (...) {
    }
  }
  bool freeSelf = FFreeOnTerminate;
  {
    std::lock_guard<std::mutex> g(state->Mu);
    state->Finished = true;
  }
  state->Cv.notify_all();
  if (freeSelf) Free(this);
}

int32_t TThread::WaitFor() {
  if (!FStarted) return FReturnValue;
  std::shared_ptr<State> state = FState;
  std::unique_lock<std::mutex> lock(state->Mu);
  while (!state->Finished) {
    if (IsMainThread()) {
      // Keep serving Synchronize calls of the thread waited for.
      lock.unlock();
      CheckSynchronize();
      lock.lock();
      state->Cv.wait_for(lock, std::chrono::milliseconds(5), [&] { return state->Finished; });
    } else {
      state->Cv.wait(lock, [&] { return state->Finished; });
    }
  }
  return FReturnValue;
}

}  // namespace fw
