// Owns every process-wide piece of the message layer in one place: the
// sessions, the courier, the post quotas, the close signals and the display hooks.
//
// Life of the process state:
//   - made on first use (Proc()), with the fork handlers registered then;
//   - in a child of fork it is reset: the child has no courier thread and
//     starts its own when it needs one, no session registration (it makes its
//     own, with a liveness lock of its own) and no close-request queue; the
//     locks are held across fork, so the child finds them unlocked, the
//     courier's queue empty and no post accounts: its posts count against
//     no quota of its parent's;
//   - a session ends when the session directory changes: CurrentSession()
//     then makes a new Session; the old one is kept (never freed) because
//     queues of that session may still refer to it until they are dropped;
//   - the state itself is never freed: the courier thread and handlers of
//     late-exiting threads use it until the process ends.
// Internal to the message layer.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/msg/Msg.h"
#include "platform/msg/MsgCourier.h"
#include "platform/msg/MsgQuota.h"
#include "platform/msg/MsgSession.h"

namespace plat::msgimpl {

struct Queue;

// SIGTERM and SIGINT become close requests delivered by one queue: the
// handler only flags the signal and writes the eventfd that queue waits on.
struct CloseSignals {
  std::atomic<uint32_t> pending{0};  // 1: SIGTERM, 2: SIGINT
  int fd = -1;                       // eventfd, created once
  std::mutex mu;                     // queue
  std::shared_ptr<Queue> queue;      // the queue that delivers them, if any

  // Installs the handler for both signals (fd must be open).
  void Catch();
  // Gives both signals back their default action.
  void Release();
  // Reads the eventfd and answers the flags raised since the last call.
  uint32_t Take();
};

struct Hooks {
  std::mutex mu;
  std::function<void(HWND, UINT)> change;
  std::function<bool(const MSG*)> translate;
};

struct Process {
  Courier courier;
  PostQuotas quotas;
  CloseSignals signals;
  Hooks hooks;

  // The session of the current session directory (see above).
  Session& CurrentSession();
  // Exit: every session made loses the files of this process.
  void RemoveOwnFiles();

  void PrepareFork();
  void ParentAfterFork();
  void ChildAfterFork();

 private:
  std::mutex sessionMu_;
  Session* session_ = nullptr;
  std::vector<std::unique_ptr<Session>> sessions_;  // every one made, never freed
};

Process& Proc();

inline Session& CurrentSession() { return Proc().CurrentSession(); }

}  // namespace plat::msgimpl
