// Owns one thread's queue: intake from this and other processes, the pump
// (one epoll wait, spinning briefly while rings flow), retrieval and delivery.
#include "platform/msg/MsgQueue.h"

#include <errno.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/msg/MsgProcess.h"

namespace plat::msgimpl {

std::shared_ptr<Queue> Queue::Make(ProcCaller callProc, int* err) {
  *err = 0;
  int epfd = Fds().Open([] { return epoll_create1(EPOLL_CLOEXEC); });
  if (epfd < 0) {
    *err = errno;
    return nullptr;
  }
  int wakeFd = Fds().Open([] { return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); });
  if (wakeFd < 0) {
    *err = errno;
    Fds().Close(epfd);
    return nullptr;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = Tag(kWake, wakeFd);
  if (epoll_ctl(epfd, EPOLL_CTL_ADD, wakeFd, &ev) != 0) {
    *err = errno;
    Fds().Close(wakeFd);
    Fds().Close(epfd);
    return nullptr;
  }
  return std::make_shared<Queue>(epfd, wakeFd, callProc);
}

Queue::Queue(int epfd, int wakeFd, ProcCaller callProc)
    : tid(GetCurrentThreadId()), epfd(epfd), wakeFd(wakeFd), callProc(callProc), links(*this, epfd) {}

Queue::~Queue() {
  if (forkGen != ForkGeneration()) return;  // the parent's: the child closed its copies at fork
  Fds().Close(epfd);
  Fds().Close(wakeFd);
}

void Queue::Wake() {
  if (!signaled.exchange(true)) {
    uint64_t one = 1;
    if (write(wakeFd, &one, sizeof one) < 0) {
      // Ignored on purpose: the eventfd refuses a write only when its count is
      // near overflow, and then the owner has a wake-up waiting already.
    }
  }
}

bool Queue::Post(const MSG& m) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!alive_) return false;
    posted_.push_back(Posted{m, nullptr});
    pending_.fetch_add(1, std::memory_order_relaxed);
  }
  if (GetCurrentThreadId() != tid) Wake();
  return true;
}

bool Queue::PushSent(SentItem item) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!alive_) return false;
    sentIn_.push_back(std::move(item));
    pending_.fetch_add(1, std::memory_order_relaxed);
  }
  if (GetCurrentThreadId() != tid) Wake();
  return true;
}

void Queue::AddWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mu_);
  windows_.insert(hwnd);
}

bool Queue::OwnsWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mu_);
  return windows_.count(hwnd) != 0;
}

bool Queue::TakeRequest(const Packet& p, const std::shared_ptr<InConn>& from) {
  if (p.kind == kPost) {
    MSG m;
    m.hwnd = p.hwnd;
    m.message = p.msg;
    m.wParam = p.wParam;
    m.lParam = p.lParam;
    m.time = p.time;
    // A broadcast connection has no segment: its packets name their sender.
    m.sender = from ? from->senderProc : ForeignSender(p.status);
    std::lock_guard<std::mutex> lock(mu_);
    if (!windows_.count(p.hwnd)) return false;  // destroyed meanwhile
    posted_.push_back(Posted{m, from.get()});
    pending_.fetch_add(1, std::memory_order_relaxed);
  } else {
    SentItem item;
    item.hwnd = p.hwnd;
    item.msg = p.msg;
    item.wParam = p.wParam;
    item.lParam = p.lParam;
    item.conn = from;
    item.seq = p.seq;
    std::lock_guard<std::mutex> lock(mu_);
    sentIn_.push_back(std::move(item));
    pending_.fetch_add(1, std::memory_order_relaxed);
  }
  return true;
}

void Queue::DropWindow(HWND hwnd) {
  timers.DropWindow(hwnd);
  {
    std::lock_guard<std::mutex> lock(mu_);
    windows_.erase(hwnd);
    size_t before = posted_.size();
    std::erase_if(posted_, [&](const Posted& p) {
      if (p.m.hwnd != hwnd) return false;
      if (p.from) links.LetGo(p.from);
      return true;
    });
    pending_.fetch_sub(before - posted_.size(), std::memory_order_relaxed);
    // The entry goes first, then the count: see Links::PostForeign.
    if (Session* s = links.session()) RemoveEntry(*s, hwnd);
  }
  links.CountWindowGone();
}

std::vector<HWND> Queue::Close() {
  std::deque<SentItem> left;
  std::vector<HWND> mine;
  {
    std::lock_guard<std::mutex> lock(mu_);
    alive_ = false;
    left.swap(sentIn_);
    posted_.clear();
    pending_.store(0);
    mine.assign(windows_.begin(), windows_.end());
  }
  for (auto& item : left) {
    // One its sender abandoned meanwhile stays so: that sender looks no more.
    if (item.local && item.local->Fail() && item.local->waiter) item.local->waiter->Wake();
  }
  return mine;
}

void Queue::CloseRest() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    windows_.clear();
  }
  links.CloseAll();
  watched.clear();
  closeHandler = nullptr;
}

bool Queue::AddFd(int fd, FdKind kind, uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = Tag(kind, fd);
  return epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) == 0;
}

bool Queue::LocalWork() {
  return signaled.load(std::memory_order_relaxed) || pending_.load(std::memory_order_relaxed) > 0 ||
         Proc().signals.pending.load(std::memory_order_relaxed) != 0;
}

// While messages flow, waits a few microseconds in memory for the next one
// before going to sleep; true when something came. Spins that keep coming
// back empty (a peer without a CPU of its own) switch spinning off for a while.
bool Queue::Spin(int timeoutMs) {
  constexpr int64_t kSpinNs = 50000;
  constexpr int64_t kRecentNs = 2000000;
  constexpr int64_t kRestNs = 20000000;
  if (links.Empty()) return false;
  int64_t now = NowNs();
  if (now - links.lastTraffic() > kRecentNs || !MayRunBesidePeer()) return false;
  if (spinCredit_ <= 0) {
    if (now < spinRestUntil_) return false;
    spinCredit_ = 1;
  }
  int64_t end = now + (timeoutMs < 0 ? kSpinNs : std::min<int64_t>(kSpinNs, timeoutMs * 1000000ll));
  do {
    for (int i = 0; i < 8; ++i) {
      CpuRelax();
      if (links.RingsHaveData()) {
        spinCredit_ = std::min(spinCredit_ + 1, 16);
        return true;
      }
    }
    if (LocalWork()) return true;
    // A peer woken by us often waits for this very CPU: let it have it.
    sched_yield();
  } while (NowNs() < end);
  --spinCredit_;
  if (spinCredit_ <= 0) spinRestUntil_ = NowNs() + kRestNs;
  return false;
}

// One wait on everything this queue serves, then whatever the rings hold.
bool Queue::Pump(int timeoutMs) {
  if (forkGen != ForkGeneration()) {
    // The parent's queue, still on the stack of a child of fork: its rings
    // and descriptors are the parent's, and nothing is taken from them.
    if (timeoutMs != 0) Sleep(timeoutMs < 0 ? 1000 : static_cast<DWORD>(timeoutMs));
    return true;
  }
  if (waitError != 0) return false;
  bool armed = false;
  if (timeoutMs != 0) {
    if (Spin(timeoutMs)) {
      // What came is in memory: the descriptors get their look at least
      // once a millisecond, not once a message.
      if (NowNs() - lastPump_ < 1000000) {
        links.DrainRings();
        return true;
      }
      timeoutMs = 0;
    } else if (links.ArmRings()) {
      armed = true;
    } else {
      timeoutMs = 0;
    }
  }
  epoll_event evs[64];
  int n = epoll_wait(epfd, evs, 64, timeoutMs);
  const int err = n < 0 ? errno : 0;
  if (armed) links.DisarmRings();
  lastPump_ = NowNs();
  if (n < 0 && err != EINTR) {
    // The set and the buffer are this queue's own: only a bug of ours makes
    // the wait fail. From now on its callers are told the queue can wait no
    // more, instead of spinning on a wait that returns at once.
    VEXA_INVARIANT(err == EINTR, "a queue's wait fails only when a signal interrupts it");
    waitError = err;
    OutputDebugString(std::string("message queue: the wait failed: ") + strerror(err));
    return false;
  }
  for (int i = 0; i < n; ++i) {
    auto kind = static_cast<FdKind>(evs[i].data.u64 >> 32);
    int fd = static_cast<int>(evs[i].data.u64 & 0xFFFFFFFFu);
    uint32_t events = evs[i].events;
    switch (kind) {
      case kWake: {
        uint64_t v;
        if (read(wakeFd, &v, sizeof v) < 0) {
          // Ignored on purpose: EAGAIN means the count was taken already;
          // clearing signaled below is what lets the next wake through.
        }
        signaled.store(false);
        break;
      }
      case kListen:
        links.Accept();
        break;
      case kBroadcastListen:
        links.AcceptBroadcasts();
        break;
      case kBroadcastIn:
        links.ReadBroadcastConn(fd, events);
        break;
      case kInConn:
        links.ReadIncoming(fd, events);
        break;
      case kOutConn:
        links.ReadReplies(fd, events);
        break;
      case kSignal: {
        uint32_t bits = Proc().signals.Take();
        if (bits & 1u) signals_.push_back(SIGTERM);
        if (bits & 2u) signals_.push_back(SIGINT);
        break;
      }
      case kWatched: {
        auto w = watched.find(fd);
        if (w == watched.end()) break;
        std::shared_ptr<FdCallback> cb = w->second;
        if (cb && *cb) (*cb)(events);
        break;
      }
    }
  }
  links.DrainRings();
  return true;
}

bool Queue::TakeSent(SentItem* item) {
  std::lock_guard<std::mutex> lock(mu_);
  if (sentIn_.empty()) return false;
  *item = std::move(sentIn_.front());
  sentIn_.pop_front();
  pending_.fetch_sub(1, std::memory_order_relaxed);
  return true;
}

namespace {

// The sent message the running window procedure handles, and the one the
// next procedure call is to handle (see HandlingScope); the same for the
// process that posted a message.
thread_local Handling* tHandling = nullptr;
thread_local Handling* tNextHandling = nullptr;
thread_local uint32_t tPoster = 0;
thread_local uint32_t tNextPoster = 0;

}  // namespace

HandlingScope::HandlingScope() : outer_(tHandling), outerPoster_(tPoster) {
  tHandling = tNextHandling;
  tNextHandling = nullptr;
  tPoster = tNextPoster;
  tNextPoster = 0;
}

HandlingScope::~HandlingScope() {
  tHandling = outer_;
  tPoster = outerPoster_;
}

Handling* CurrentHandling() { return tHandling; }

uint32_t CurrentPoster() { return tPoster; }

void HandNextPost(uint32_t sender) { tNextPoster = sender; }

bool Queue::Answer(Handling& h, LRESULT r, bool ok) {
  if (h.answered) return false;
  h.answered = true;
  SentItem& item = *h.item;
  VEXA_INVARIANT(!item.local != !item.conn, "a send has one sender, in this process or another");
  if (item.local) {
    item.local->result = r;
    const bool took = item.local->Finish(ok ? SendState::kAnswered : SendState::kFailed);
    if (item.local->waiter) item.local->waiter->Wake();
    return took && ok;
  }
  // A sender that gave up for good forsook it: no reply goes, and it is told so.
  if (!item.conn || !Links::AnswerSend(*item.conn, item.seq)) return false;
  Packet p;
  p.kind = kReply;
  p.seq = item.seq;
  p.hwnd = item.hwnd;
  p.msg = item.msg;
  p.result = r;
  p.status = ok ? kReplyOk : kReplyNoWindow;
  return links.SendReply(item.conn, p) && ok;
}

// Handles every message sent to this thread's windows.
void Queue::HandleSent() {
  SentItem item;
  while (TakeSent(&item)) {
    // A sender that gave up on its send abandoned it: it is not acted on.
    if ((item.conn && !Links::TakeSend(*item.conn, item.seq)) || (item.local && !item.local->Take())) {
      item = SentItem();
      continue;
    }
    Handling h{&item};
    bool ok = OwnsWindow(item.hwnd);
    LRESULT r = 0;
    if (ok) {
      tNextHandling = &h;
      r = callProc(item.hwnd, item.msg, item.wParam, item.lParam);
      tNextHandling = nullptr;  // when the window went before its procedure ran
    }
    Answer(h, r, ok);
    item = SentItem();
  }
}

void Queue::DeliverSignals() {
  while (!signals_.empty()) {
    int sig = signals_.front();
    signals_.pop_front();
    if (closeHandler) {
      auto h = closeHandler;
      h(sig);
    }
  }
}

bool Queue::TakePosted(MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = posted_.begin(); it != posted_.end(); ++it) {
    if (!Matches(it->m, hwnd, fmin, fmax)) continue;
    if (out) *out = it->m;
    if (remove) {
      if (it->from) links.LetGo(it->from);
      posted_.erase(it);
      pending_.fetch_sub(1, std::memory_order_relaxed);
    }
    return true;
  }
  return false;
}

bool Queue::TakeQuit(MSG* out, UINT fmin, UINT fmax, bool remove) {
  if (!quit) return false;
  if (!(fmin == 0 && fmax == 0) && !(WM_QUIT >= fmin && WM_QUIT <= fmax)) return false;
  if (out) {
    *out = MSG();
    out->message = WM_QUIT;
    out->wParam = quitCode;
    out->time = GetTickCount();
  }
  if (remove) quit = false;
  return true;
}

bool Queue::Retrieve(MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove, int timeoutMs) {
  Busy busyHere(busy);
  int64_t deadline = timeoutMs < 0 ? -1 : NowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
  bool first = true;
  for (;;) {
    if (first) {
      first = false;
      // Look at the descriptors now and then even while memory has work, so
      // sockets and other processes are never starved by a busy queue.
      if (timeoutMs == 0 ||
          (pending_.load(std::memory_order_relaxed) > 0 && NowNs() - lastPump_ > 1000000)) {
        if (!Pump(0)) return WaitFailed();
      } else if (forkGen == ForkGeneration()) {
        links.DrainRings();  // memory only: other processes' messages keep their turn
      }
    }
    HandleSent();
    if (!signals_.empty()) {
      DeliverSignals();
      continue;
    }
    if (TakePosted(out, hwnd, fmin, fmax, remove)) return true;
    if (TakeQuit(out, fmin, fmax, remove)) return true;
    if (timers.Take(out, hwnd, fmin, fmax, remove)) return true;
    if (timeoutMs == 0) return false;
    int wait = timers.WaitMs(hwnd, fmin, fmax);
    if (deadline >= 0) {
      int64_t left = deadline - NowNs();
      if (left <= 0) return false;
      int leftMs = static_cast<int>(std::min<int64_t>((left + 999999) / 1000000, 1 << 30));
      wait = wait < 0 ? leftMs : std::min(wait, leftMs);
    }
    if (!Pump(wait)) return WaitFailed();
  }
}

bool Queue::WaitFailed() const {
  SetLastError(ERROR_INVALID_HANDLE);  // the queue's own wait is what failed
  return false;
}

}  // namespace plat::msgimpl
