// Owns nothing of its own: the public message calls of Msg.h (post, send,
// retrieve, dispatch, timers, watched descriptors, hooks, close requests).
#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "platform/msg/MsgProcess.h"
#include "platform/msg/MsgWindows.h"

namespace plat {

using namespace msgimpl;

namespace {

bool PostLocal(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  MSG m;
  m.hwnd = w->hwnd;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  if (!w->queue || !w->queue->Post(m)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return true;
}

// Every top-level window of the session: local ones from our table, the rest
// from the session's window entries.
template <typename F>
void ForEachTopLevel(F f) {
  Session& s = CurrentSession();
  for (auto& [h, e] : TopLevelEntries(s)) f(s, h, e);
}

bool RefuseBroadcast(UINT msg) {
  if (BroadcastCarries(msg)) return false;
  SetLastError(ERROR_INVALID_PARAMETER);
  return true;
}

// Milliseconds left until deadline (-1: none), as a time-out.
DWORD LeftMs(int64_t deadline) {
  if (deadline < 0) return INFINITE;
  int64_t left = deadline - NowNs();
  return left <= 0 ? 0 : static_cast<DWORD>(std::min<int64_t>((left + 999999) / 1000000, 1 << 30));
}

// Connects to the queue of a window of another process. A receiver that is
// alive but too busy to take one more connection is waited for until the
// deadline (handling what is sent to this thread meanwhile) while its window
// stands: then only the time ran out.
std::shared_ptr<OutConn> ConnectForSend(Queue& q, Session& s, HWND hwnd, Entry e,
                                        int64_t deadline) {
  for (;;) {
    int err = 0;
    if (auto c = q.links.Connect(s, e.queueId, &err)) return c;
    if (ErrorFromErrno(err) == ERROR_NOT_ENOUGH_MEMORY) {  // the rings' memory, not the receiver
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    Entry now;
    if (err != EAGAIN || !ReadEntry(s, hwnd, &now) || now.queueId != e.queueId ||
        !ProcessAlive(s, e.procId)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    DWORD left = LeftMs(deadline);
    if (left == 0) {
      SetLastError(ERROR_TIMEOUT);
      return nullptr;
    }
    q.WaitFor([] { return false; }, [] { return false; }, std::min<DWORD>(left, 5));
    if (q.waitError != 0) {
      SetLastError(ERROR_INVALID_HANDLE);  // this thread's queue can wait no more
      return nullptr;
    }
  }
}

// While it lives, the connections the calling thread makes are for one
// broadcast only and close when it ends.
class BroadcastScope {
 public:
  BroadcastScope() : q_(MyQueueShared()) {
    if (q_) q_->links.BeginBroadcast();
  }
  ~BroadcastScope() {
    if (q_) q_->links.EndBroadcast();
  }

 private:
  std::shared_ptr<Queue> q_;
};

// Sends to a window of another process and waits for the answer.
LRESULT SendForeign(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
                    bool* ok) {
  *ok = false;
  Queue* me = MyQueue();
  if (!me) return 0;
  Queue& q = *me;
  Links& links = q.links;
  const int64_t deadline =
      timeoutMs == INFINITE ? -1 : NowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
  Packet p = MessagePacket(kSend, hwnd, msg, wParam, lParam);
  std::shared_ptr<OutConn> c;
  // Fast path: a live connection to the queue we reached this window through before.
  if (auto t = links.sendTargets.find(hwnd); t != links.sendTargets.end()) {
    c = links.Connected(t->second);
  }
  if (!c) {
    Session& s = CurrentSession();
    Entry e;
    if (!ReadEntry(s, hwnd, &e) || e.procId == s.procId || !ProcessAlive(s, e.procId)) {
      if (e.procId != 0 && e.procId != s.procId) ForgetDeadEntry(s, hwnd, e);
      links.sendTargets.erase(hwnd);
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    c = ConnectForSend(q, s, hwnd, e, deadline);
    if (!c) return 0;
    if (links.sendTargets.size() > 4096) links.sendTargets.clear();
    links.sendTargets[hwnd] = e.queueId;
  }
  p.seq = links.OpenSend(*c);
  if (p.seq == 0 || !links.PushRequest(*c, p, kRequestSlots)) {
    if (p.seq != 0) links.AbandonSend(*c, p.seq);  // nothing went: its slot is free again
    // A live receiver with kReplySlots sends unanswered or its ring full
    // reads nothing now: this send's time is as good as up.
    SetLastError(c->dead ? ERROR_INVALID_WINDOW_HANDLE : ERROR_TIMEOUT);
    return 0;
  }
  uint32_t seq = p.seq;
  links.awaiting.insert(seq);
  auto answer = [&] { return links.replies.count(seq) != 0; };
  auto gone = [&] { return c->dead; };
  bool answered = q.WaitFor(answer, gone, LeftMs(deadline));
  // Given up: abandoned, the receiver will not act on it. One it took already
  // is being handled: its answer is worth one more time-out, no longer, so a
  // receiver stopped inside the handler cannot hold this thread for ever.
  // Then it is forsaken, unless it was answered meanwhile: that answer is on
  // its way and is waited for, as the receiver counts it as delivered.
  if (!answered && !c->dead && !links.AbandonSend(*c, seq)) {
    answered = q.WaitFor(answer, gone, timeoutMs);
    if (!answered && !c->dead && !links.ForsakeSend(*c, seq)) {
      answered = q.WaitFor(answer, gone, timeoutMs);
    }
  }
  if (!answered) {
    links.awaiting.erase(seq);
    SetLastError(c->dead ? ERROR_INVALID_WINDOW_HANDLE : ERROR_TIMEOUT);
    return 0;
  }
  Reply r = links.replies[seq];
  links.replies.erase(seq);
  if (r.status != kReplyOk) {
    links.sendTargets.erase(hwnd);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  *ok = true;
  return r.result;
}

LRESULT SendToWindow(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
                     bool* ok) {
  *ok = false;
  auto w = FindWindow(hwnd);
  if (w) {
    Queue* mine = MyQueueIfAny();
    if (w->queue.get() == mine) {
      *ok = true;
      return CallProc(hwnd, msg, wParam, lParam);
    }
    std::shared_ptr<Queue> me = MyQueueShared();
    if (!me) return 0;
    auto state = std::make_shared<SendState>();
    state->waiter = me;
    SentItem item;
    item.hwnd = hwnd;
    item.msg = msg;
    item.wParam = wParam;
    item.lParam = lParam;
    item.local = state;
    if (!w->queue || !w->queue->PushSent(std::move(item))) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    auto answered = [&] { return state->status.load(std::memory_order_acquire) == SendState::kAnswered; };
    auto failed = [&] { return state->status.load(std::memory_order_acquire) == SendState::kFailed; };
    bool done = me->WaitFor(answered, failed, timeoutMs);
    // As between processes: given up, it is never handled; one being handled
    // already is awaited for one more time-out, then forsaken unless answered.
    if (!done && !state->Abandon()) {
      done = me->WaitFor(answered, failed, timeoutMs);
      if (!done && !state->Forsake()) done = answered();
    }
    if (!done) {
      SetLastError(failed() ? ERROR_INVALID_WINDOW_HANDLE : ERROR_TIMEOUT);
      return 0;
    }
    *ok = true;
    return state->result;
  }
  if (hwnd == 0 || hwnd == HWND_BROADCAST) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return SendForeign(hwnd, msg, wParam, lParam, timeoutMs, ok);
}

}  // namespace


bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hwnd == 0) return PostThreadMessage(GetCurrentThreadId(), msg, wParam, lParam);
  if (hwnd == HWND_BROADCAST) return PostBroadcast(msg, wParam, lParam) >= 0;
  if (auto w = FindWindow(hwnd)) return PostLocal(w, msg, wParam, lParam);
  Queue* q = MyQueue();
  if (!q) return false;
  bool posted = false;
  if (q->links.PostKnownForeign(hwnd, msg, wParam, lParam, &posted)) return posted;
  Session& s = CurrentSession();
  Entry e;
  if (!ReadEntry(s, hwnd, &e)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return q->links.PostForeign(s, hwnd, e, msg, wParam, lParam);
}

int PostBroadcast(UINT msg, WPARAM wParam, LPARAM lParam, int* missed) {
  if (missed) *missed = 0;
  if (RefuseBroadcast(msg)) return -1;
  Session& s = CurrentSession();
  int reached = 0;
  int refused = 0;
  std::map<uint32_t, std::vector<std::pair<HWND, Entry>>> foreign;  // by queue
  for (auto& [h, e] : TopLevelEntries(s)) {
    if (auto w = FindWindow(h)) {
      reached += PostLocal(w, msg, wParam, lParam) ? 1 : 0;
    } else if (e.procId != s.procId) {  // not a stale entry of ours
      foreign[e.queueId].emplace_back(h, e);
    }
  }
  Queue* q = MyQueueIfAny();
  for (auto& [qid, windows] : foreign) {
    Links::BroadcastToQueue(s, q ? &q->links : nullptr, qid, windows, msg, wParam, lParam, &reached,
                            &refused);
  }
  if (missed) *missed = refused;
  return reached;
}

bool PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Queue> q;
  if (threadId == GetCurrentThreadId()) {
    q = MyQueueShared();
    if (!q) return false;
  } else {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.queues.find(threadId);
    if (it != g.queues.end()) q = it->second.lock();
  }
  MSG m;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  if (!q || !q->Post(m)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

void PostQuitMessage(int exitCode) {
  Queue* q = MyQueue();
  if (!q) return;
  q->quit = true;
  q->quitCode = exitCode;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r = 0;
  SendMessageTimeout(hwnd, msg, wParam, lParam, INFINITE, &r);
  return r;
}

bool SendMessageTimeout(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
                        LRESULT* result) {
  if (result) *result = 0;
  if (hwnd == HWND_BROADCAST) {
    if (RefuseBroadcast(msg)) return false;
    BroadcastScope scope;
    ForEachTopLevel([&](Session&, HWND h, const Entry&) {
      bool ok;
      SendToWindow(h, msg, wParam, lParam, timeoutMs, &ok);
    });
    return true;
  }
  bool ok = false;
  LRESULT r = SendToWindow(hwnd, msg, wParam, lParam, timeoutMs, &ok);
  if (result) *result = r;
  return ok;
}

bool GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  MSG m;
  Queue* q = MyQueue();
  if (!q) {
    // Without a queue there is nothing to wait on: the loop ends, the error set.
    if (msg) *msg = m;
    return false;
  }
  // A queue whose wait failed ends the loop too, its error set.
  const bool got = q->Retrieve(&m, hwnd, filterMin, filterMax, true, -1);
  if (msg) *msg = m;
  return got && m.message != WM_QUIT;
}

bool PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  Queue* q = MyQueue();
  return q && q->Retrieve(msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, 0);
}

bool TranslateMessage(const MSG* msg) {
  {
    std::function<bool(const MSG*)> hook;
    {
      Hooks& h = Proc().hooks;
      std::lock_guard<std::mutex> lock(h.mu);
      hook = h.translate;
    }
    if (hook && hook(msg)) return false;
  }
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return false;
  int vk = msg->wParam;
  int ch = -1;
  if (vk == 8 || vk == 9 || vk == 13 || vk == 27 || vk == ' ' || (vk >= '0' && vk <= '9')) {
    ch = vk;
  } else if (vk >= 'A' && vk <= 'Z') {
    ch = vk - 'A' + 'a';
  }
  if (ch < 0) return false;
  UINT out = msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
  return PostMessage(msg->hwnd, out, ch, msg->lParam);
}

uint32_t GetSendingProcess() {
  if (Handling* h = CurrentHandling()) return h->item->conn ? h->item->conn->senderProc : 0;
  return CurrentPoster();
}

bool InSendMessage() { return CurrentHandling() != nullptr; }

bool IsSessionProcessAlive(uint32_t process) {
  return process != 0 && ProcessAlive(CurrentSession(), process);
}

bool ReplyMessage(LRESULT result) {
  Handling* h = CurrentHandling();
  Queue* q = MyQueueIfAny();
  return h && q && q->Answer(*h, result, true);
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER) {
    if (Queue* q = MyQueueIfAny()) {
      const Timer* t = q->timers.Find(msg->hwnd, msg->wParam);
      if (t && t->proc) {
        TIMERPROC proc = t->proc;
        proc(msg->hwnd, WM_TIMER, t->id, GetTickCount());
        return 0;
      }
    }
  }
  if (msg->hwnd == 0) return 0;
  HandNextPost(msg->sender);
  return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

bool WaitMessage() {
  Queue* q = MyQueue();
  return q && q->Retrieve(nullptr, 0, 0, 0, false, -1);
}

bool WaitMessageTimeout(DWORD timeoutMs) {
  int t = timeoutMs == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(timeoutMs, 1u << 30));
  if (t == 0) return HasPendingMessages();
  Queue* q = MyQueue();
  return q && q->Retrieve(nullptr, 0, 0, 0, false, t);
}

bool HasPendingMessages() {
  Queue* q = MyQueue();
  return q && q->Retrieve(nullptr, 0, 0, 0, false, 0);
}

// ---------------------------------------------------------------------------
// Timers

uintptr_t SetTimer(HWND hwnd, uintptr_t id, UINT elapseMs, TIMERPROC proc) {
  Queue* q = MyQueue();
  if (!q) return 0;
  if (hwnd != 0) {
    auto w = FindWindow(hwnd);
    if (!w || w->queue.get() != q) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  }
  return q->timers.Set(hwnd, id, elapseMs, std::move(proc));
}

bool KillTimer(HWND hwnd, uintptr_t id) {
  Queue* q = MyQueueIfAny();
  if (!q) return false;
  if (!q->timers.Kill(hwnd, id)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Watched descriptors

bool WatchFd(int fd, uint32_t events, FdCallback callback) {
  Queue* mine = MyQueue();
  if (!mine) return false;
  Queue& q = *mine;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = Tag(kWatched, fd);
  int op = q.watched.count(fd) ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
  if (epoll_ctl(q.epfd, op, fd, &ev) != 0) {
    if (op == EPOLL_CTL_MOD && errno == ENOENT) {
      op = EPOLL_CTL_ADD;  // closed and reused since: register afresh
      if (epoll_ctl(q.epfd, op, fd, &ev) == 0) {
        q.watched[fd] = std::make_shared<FdCallback>(std::move(callback));
        return true;
      }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  q.watched[fd] = std::make_shared<FdCallback>(std::move(callback));
  return true;
}

bool ModifyFd(int fd, uint32_t events) {
  Queue* q = MyQueueIfAny();
  if (!q || !q->watched.count(fd)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = Tag(kWatched, fd);
  if (epoll_ctl(q->epfd, EPOLL_CTL_MOD, fd, &ev) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

bool UnwatchFd(int fd) {
  Queue* q = MyQueueIfAny();
  if (!q || !q->watched.count(fd)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  epoll_ctl(q->epfd, EPOLL_CTL_DEL, fd, nullptr);
  q->watched.erase(fd);
  return true;
}

// ---------------------------------------------------------------------------
// Close requests

void SetWindowChangeHook(std::function<void(HWND, UINT)> hook) {
  Hooks& h = Proc().hooks;
  std::lock_guard<std::mutex> lock(h.mu);
  h.change = std::move(hook);
}

void SetTranslateMessageHook(std::function<bool(const MSG*)> hook) {
  Hooks& h = Proc().hooks;
  std::lock_guard<std::mutex> lock(h.mu);
  h.translate = std::move(hook);
}

void SetCloseRequestHandler(std::function<void(int signal)> handler) {
  std::shared_ptr<Queue> me = MyQueueShared();
  if (!me) return;
  Queue& q = *me;
  CloseSignals& sig = Proc().signals;
  std::lock_guard<std::mutex> lock(sig.mu);
  if (sig.fd < 0) {
    sig.fd = Fds().Open([] { return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); });
    if (sig.fd < 0) {
      SetLastError(ErrorFromErrno(errno));  // no close requests without it
      return;
    }
  }
  if (sig.queue && sig.queue.get() != &q) {
    epoll_ctl(sig.queue->epfd, EPOLL_CTL_DEL, sig.fd, nullptr);
    sig.queue->closeHandler = nullptr;
    sig.queue.reset();
  }
  if (!handler) {
    sig.Release();
    if (sig.queue) epoll_ctl(q.epfd, EPOLL_CTL_DEL, sig.fd, nullptr);
    sig.queue.reset();
    q.closeHandler = nullptr;
    return;
  }
  if (!sig.queue) {
    if (!q.AddFd(sig.fd, kSignal, EPOLLIN)) {
      SetLastError(ErrorFromErrno(errno));
      return;
    }
    sig.queue = me;
  }
  q.closeHandler = std::move(handler);
  sig.Catch();
}

}  // namespace plat
