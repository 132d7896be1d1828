// Owns one thread's message queue: its intake (posted and sent messages, and
// the windows it serves), its one wait (the pump), retrieval and send waits.
//
// Every thread that uses messages gets a Queue with an epoll set and an eventfd
// that other threads write to after pushing a posted or sent message. The
// queue knows its own windows (so taking posts from other processes needs no
// lock but its own) and calls their procedures through the caller the window
// table gave it when it was made. The window table forgets a window by asking
// the queue to drop what it holds for it (DropWindow).
// Internal to the message layer.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/kernel/Invariant.h"
#include "platform/msg/Msg.h"
#include "platform/msg/MsgFork.h"
#include "platform/msg/MsgLinks.h"
#include "platform/msg/MsgTimers.h"

namespace plat::msgimpl {

struct Queue;

// How the queue calls a window procedure; handed over by the window table.
using ProcCaller = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// A send between threads of this process. The receiver takes it, or the
// sender gives it up, never both: a send given up on is never handled.
// Once taken it is decided again: the receiver finishes it (answered or
// failed) or the sender, that gave up for good, forsakes it; the receiver
// then knows its answer reached nobody.
struct SendState {
  enum : int { kWaiting, kAnswered, kFailed, kTaken, kAbandoned, kForsaken };
  std::atomic<int> status{kWaiting};
  LRESULT result = 0;
  std::shared_ptr<Queue> waiter;
  // Each step names the states the other side may have reached first; any
  // other state means a step was taken twice or out of turn.
  bool Take() { return From(kWaiting, kTaken, Bit(kAbandoned)); }
  bool Abandon() { return From(kWaiting, kAbandoned, Bit(kTaken) | Bit(kAnswered) | Bit(kFailed)); }
  // The receiver's queue closes before taking it.
  bool Fail() { return From(kWaiting, kFailed, Bit(kAbandoned)); }
  bool Finish(int how) {
    VEXA_INVARIANT(how == kAnswered || how == kFailed, "a taken send finishes answered or failed");
    return From(kTaken, how, Bit(kForsaken));
  }
  bool Forsake() { return From(kTaken, kForsaken, Bit(kAnswered) | Bit(kFailed)); }

 private:
  static constexpr unsigned Bit(int state) { return 1u << state; }
  bool From(int was, int now, unsigned rivals) {
    const bool moved = status.compare_exchange_strong(was, now, std::memory_order_acq_rel);
    VEXA_INVARIANT(moved || (rivals & Bit(was)) != 0,
                   "a send's state moves only as its two sides agree");
    return moved;
  }
};

struct SentItem {
  HWND hwnd = 0;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::shared_ptr<SendState> local;  // sender in this process
  std::shared_ptr<InConn> conn;      // sender in another process
  uint32_t seq = 0;
};

// A sent message a window procedure of this thread is handling: what
// GetSendingProcess and ReplyMessage (Msg.h) look at.
struct Handling {
  SentItem* item = nullptr;
  bool answered = false;
};

// Every window procedure call runs inside one: the procedure handles the send
// HandleSent handed to it, or the post DispatchMessage handed to it, or
// neither (a call on this thread), and its caller's again once it returns.
class HandlingScope {
 public:
  HandlingScope();
  ~HandlingScope();
  HandlingScope(const HandlingScope&) = delete;
  HandlingScope& operator=(const HandlingScope&) = delete;

 private:
  Handling* outer_;
  uint32_t outerPoster_;
};

// The send the running window procedure of this thread handles, or null.
Handling* CurrentHandling();
// The process that posted what the running window procedure handles (0: this
// process, or no post); the next procedure call handles a post of sender.
uint32_t CurrentPoster();
void HandNextPost(uint32_t sender);

struct Queue final : std::enable_shared_from_this<Queue>, Intake {
  // A queue for the calling thread; null with *err (an errno) when its epoll
  // set or eventfd cannot be made: a queue without them could never wait.
  static std::shared_ptr<Queue> Make(ProcCaller callProc, int* err);
  Queue(int epfd, int wakeFd, ProcCaller callProc);
  ~Queue();

  DWORD tid = 0;
  uint32_t generation = SessionGeneration();  // the session this queue serves
  const uint32_t forkGen = ForkGeneration();  // a child of fork never uses its parent's queues
  int busy = 0;  // retrievals and waits of the owner thread under way in this queue
  const int epfd;
  const int wakeFd;
  std::atomic<bool> signaled{false};
  const ProcCaller callProc;

  // Any thread.
  void Wake();
  bool Post(const MSG& m);
  bool PushSent(SentItem item);
  void AddWindow(HWND hwnd);
  bool OwnsWindow(HWND hwnd);

  // Owner thread only.
  // Drops the window's timers, posted messages and session entry, and tells
  // senders that kept this queue at hand to look the window up again.
  void DropWindow(HWND hwnd);
  // Thread exit, first half: stops taking messages and releases waiting
  // senders; answers the windows the window table must forget.
  std::vector<HWND> Close();
  // Thread exit, second half: every connection, watch and handler goes.
  void CloseRest();

  bool AddFd(int fd, FdKind kind, uint32_t events);
  // False once the wait itself failed (waitError): the queue can take nothing more.
  bool Pump(int timeoutMs);
  void HandleSent();
  // Answers a send being handled, once; true when its sender still waited
  // for the answer (and so will read it).
  bool Answer(Handling& h, LRESULT r, bool ok);
  // Retrieval shared by GetMessage, PeekMessage and WaitMessage. timeoutMs:
  // 0 looks once, -1 waits for ever. False also, with the last error set,
  // once the queue's wait failed.
  bool Retrieve(MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove, int timeoutMs);

  // Waits for a send to finish, handling messages sent to this thread meanwhile.
  // done() tells whether it finished; failed() whether it can no longer.
  template <typename Done, typename Failed>
  bool WaitFor(Done done, Failed failed, DWORD timeoutMs) {
    Busy busyHere(busy);
    int64_t deadline =
        timeoutMs == INFINITE ? -1 : NowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
    for (;;) {
      HandleSent();
      if (done()) return true;
      if (failed()) return false;
      int wait = -1;
      if (deadline >= 0) {
        int64_t left = deadline - NowNs();
        if (left <= 0) return false;
        wait = static_cast<int>(std::min<int64_t>((left + 999999) / 1000000, 1 << 30));
      }
      if (!Pump(wait)) return false;
    }
  }

  bool quit = false;
  int waitError = 0;  // the errno of a failed wait; the queue waits no more
  int quitCode = 0;
  TimerList timers;
  Links links;
  std::unordered_map<int, std::shared_ptr<FdCallback>> watched;
  std::function<void(int)> closeHandler;

 private:
  struct Busy {
    explicit Busy(int& n) : count(n) { ++count; }
    ~Busy() { --count; }
    int& count;
  };

  bool TakeRequest(const Packet& p, const std::shared_ptr<InConn>& from) override;
  bool LocalWork();
  bool Spin(int timeoutMs);
  bool TakeSent(SentItem* item);
  void DeliverSignals();
  bool TakePosted(MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove);
  bool TakeQuit(MSG* out, UINT fmin, UINT fmax, bool remove);
  bool WaitFailed() const;

  std::mutex mu_;  // the fields below
  bool alive_ = true;
  // A posted message, and the connection it came over (null when posted in
  // this process), which learns when the queue lets go of it (Links::LetGo).
  struct Posted {
    MSG m;
    InConn* from = nullptr;
  };
  std::deque<Posted> posted_;
  std::deque<SentItem> sentIn_;
  std::unordered_set<HWND> windows_;
  std::atomic<size_t> pending_{0};  // posted + sentIn, readable without the lock

  // Owner thread only.
  std::deque<int> signals_;
  int64_t lastPump_ = 0;
  int spinCredit_ = 4;
  int64_t spinRestUntil_ = 0;
};

}  // namespace plat::msgimpl
