// Owns the window table, window classes and each thread's queue: making and
// ending queues, finding windows, calling their procedures, forgetting them.
#include "platform/msg/MsgWindows.h"

#include <signal.h>
#include <sys/epoll.h>
#include <unistd.h>

#include "platform/msg/MsgProcess.h"

namespace plat::msgimpl {

namespace {

std::atomic<Globals*> gTable{nullptr};

// Handles are only unique within a session, so the windows of an ended one
// leave the table before any lookup in the new one could mistake them for its
// own. Their queues drop their timers and messages when their thread next
// asks for its queue.
void ForgetWindowsOfEndedSession(Globals& g, uint32_t generation) {
  std::lock_guard<std::mutex> lock(g.mu);
  if (g.generation.load() == generation) return;
  std::erase_if(g.windows, [&](const auto& kv) {
    return !kv.second->queue || kv.second->queue->generation != generation;
  });
  g.foreground = 0;
  g.generation.store(generation, std::memory_order_release);
}

// Thread exit (or the end of its session): windows die with their thread,
// waiting senders are released, the close signals go back to their default.
void EndQueue(Queue& q) {
  std::vector<HWND> mine = q.Close();
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    g.queues.erase(q.tid);
  }
  for (HWND h : mine) ForgetWindow(h, &q);
  {
    CloseSignals& sig = Proc().signals;
    std::lock_guard<std::mutex> lock(sig.mu);
    if (sig.queue.get() == &q) {
      sig.Release();
      sig.queue.reset();
    }
  }
  q.CloseRest();
}

// A queue made before fork is the parent's: its windows, connections and
// files stay the parent's. The child leaves it as it is (its locks may be held
// by threads that did not come along) and makes its own.
void LeaveParentsQueue(std::shared_ptr<Queue>& q) {
  if (q && q->forkGen != ForkGeneration()) new std::shared_ptr<Queue>(std::move(q));
}

struct QueueHolder {
  std::shared_ptr<Queue> q;
  ~QueueHolder() {
    LeaveParentsQueue(q);
    if (q) EndQueue(*q);
  }
};

thread_local QueueHolder tQueue;

// A queue serves one session: once the session changes, its windows, timers,
// messages and listening socket belong to a desktop that is gone, and the
// thread starts over with an empty queue in the new one.
// A queue still in use further up the stack (a handler called from its wait)
// serves on until that wait returns.
void DropQueueOfEndedSession() {
  LeaveParentsQueue(tQueue.q);
  if (tQueue.q && tQueue.q->busy == 0 && tQueue.q->generation != SessionGeneration()) {
    std::shared_ptr<Queue> old = std::move(tQueue.q);
    EndQueue(*old);
  }
}

// The parent's windows are not a forked child's: it starts with a table of
// its own and leaves the parent's alone (its lock may be held by a thread
// that did not come along).
void NewTableInChild(void*) { gTable.store(new Globals, std::memory_order_release); }

}  // namespace

Globals& G() {
  static bool made = [] {
    gTable.store(new Globals, std::memory_order_release);  // lives until the process ends
    AtFork(Layer::Msg, {nullptr, nullptr, NewTableInChild});
    return true;
  }();
  (void)made;
  Globals* g = gTable.load(std::memory_order_acquire);
  uint32_t now = SessionGeneration();
  if (g->generation.load(std::memory_order_acquire) != now) ForgetWindowsOfEndedSession(*g, now);
  return *g;
}

Queue* MyQueueIfAny() {
  DropQueueOfEndedSession();
  return tQueue.q.get();
}

Queue* MyQueue() {
  DropQueueOfEndedSession();
  if (!tQueue.q) {
    int err = 0;
    tQueue.q = Queue::Make(CallProc, &err);
    if (!tQueue.q) {
      SetLastError(ErrorFromErrno(err));
      return nullptr;
    }
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    g.queues[tQueue.q->tid] = tQueue.q;
  }
  return tQueue.q.get();
}

std::shared_ptr<Queue> MyQueueShared() {
  MyQueue();
  return tQueue.q;
}

std::shared_ptr<Window> FindWindow(HWND hwnd) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  auto it = g.windows.find(hwnd);
  return it == g.windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> FindWindowOrFail(HWND hwnd) {
  auto w = FindWindow(hwnd);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

std::shared_ptr<WindowClass> FindClassOrFail(Globals& g, const std::string& className) {
  auto it = g.classes.find(LowerAscii(className));
  if (it != g.classes.end()) return it->second;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

void NotifyChange(HWND hwnd, UINT change) {
  std::function<void(HWND, UINT)> hook;
  {
    Hooks& h = Proc().hooks;
    std::lock_guard<std::mutex> lock(h.mu);
    hook = h.change;
  }
  if (hook) hook(hwnd, change);
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  HandlingScope handling;
  std::shared_ptr<WNDPROC> proc;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it == g.windows.end()) return 0;
    proc = it->second->proc;
  }
  if (!proc || !*proc) return DefWindowProc(hwnd, msg, wParam, lParam);
  return (*proc)(hwnd, msg, wParam, lParam);
}

int UpdateEntry(const std::shared_ptr<Window>& w) {
  Queue* q = w->queue.get();
  if (!q || !q->links.session()) return 0;
  Entry e;
  e.procId = q->links.session()->procId;
  e.queueId = q->links.queueId();
  e.pid = static_cast<uint32_t>(getpid());
  e.tid = q->tid;
  {
    std::lock_guard<std::mutex> lock(G().mu);
    e.top = w->parent == 0;
  }
  return WriteEntry(*q->links.session(), w->hwnd, e);
}

void ForgetWindow(HWND hwnd, const Queue* owner) {
  std::shared_ptr<Window> w;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it == g.windows.end()) return;
    if (owner && it->second->queue.get() != owner) return;
    w = it->second;
    g.windows.erase(it);
    if (w->parent) {
      auto p = g.windows.find(w->parent);
      if (p != g.windows.end()) std::erase(p->second->children, hwnd);
    }
    if (g.foreground == hwnd) g.foreground = 0;
  }
  if (w->queue) w->queue->DropWindow(hwnd);
}

bool DestroyWindowImpl(HWND hwnd) {
  std::vector<HWND> children;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it == g.windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (it->second->queue.get() != MyQueueIfAny()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    if (it->second->destroying) return true;
    it->second->destroying = true;
  }
  NotifyChange(hwnd, WM_DESTROY);
  CallProc(hwnd, WM_DESTROY, 0, 0);
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it != g.windows.end()) children = it->second->children;
  }
  for (HWND c : children) DestroyWindowImpl(c);
  CallProc(hwnd, WM_NCDESTROY, 0, 0);
  ForgetWindow(hwnd);
  return true;
}

}  // namespace plat::msgimpl

namespace plat {

using namespace msgimpl;

// ---------------------------------------------------------------------------
// Classes

bool RegisterClass(const WNDCLASS& wc) {
  if (wc.lpszClassName.empty() || wc.cbWndExtra < 0 || wc.cbWndExtra > 4096) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  auto key = LowerAscii(wc.lpszClassName);
  if (g.classes.count(key)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  auto c = std::make_shared<WindowClass>();
  c->wc = wc;
  g.classes[key] = c;
  return true;
}

bool UnregisterClass(const std::string& className) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  auto cls = FindClassOrFail(g, className);
  if (!cls) return false;
  for (auto& [h, w] : g.windows) {
    if (w->cls == cls) {
      SetLastError(ERROR_ACCESS_DENIED);  // still in use
      return false;
    }
  }
  g.classes.erase(LowerAscii(className));
  return true;
}

bool GetClassInfo(const std::string& className, WNDCLASS* wc) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  auto cls = FindClassOrFail(g, className);
  if (cls && wc) *wc = cls->wc;
  return cls != nullptr;
}

}  // namespace plat
