// Owns the process-wide state of the message layer: made on first use, reset
// in a forked child, a new session made when the session directory changes.
#include "platform/msg/MsgProcess.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/kernel/Kernel.h"
#include "platform/msg/MsgFork.h"

namespace plat::msgimpl {

namespace {

std::atomic<Process*> gProcess{nullptr};

void OnCloseSignal(int sig) {
  int saved = errno;
  Process* p = gProcess.load(std::memory_order_acquire);
  p->signals.pending.fetch_or(sig == SIGTERM ? 1u : 2u);
  uint64_t one = 1;
  if (write(p->signals.fd, &one, sizeof one) < 0) {
    // Ignored on purpose: an eventfd write fails only when its counter is
    // near overflow, and then the queue is woken already; the flag is set.
  }
  errno = saved;
}

void PrepareFork(void*) { Proc().PrepareFork(); }
void ParentAfterFork(void*) { Proc().ParentAfterFork(); }
void ChildAfterFork(void*) { Proc().ChildAfterFork(); }
void AtExit() { gProcess.load(std::memory_order_acquire)->RemoveOwnFiles(); }

}  // namespace

Process& Proc() {
  static Process* p = [] {
    auto* made = new Process;
    gProcess.store(made, std::memory_order_release);
    Fds();  // its fork handlers first, so that its lock is taken last (MsgFork.h)
    AtFork(Layer::Msg, {PrepareFork, ParentAfterFork, ChildAfterFork});
    // Runs after the main thread's queue ended (thread-local objects go
    // first), for the windows of threads still running.
    atexit(AtExit);
    return made;
  }();
  return *p;
}

Session& Process::CurrentSession() {
  const std::string& dir = SessionDir();
  std::lock_guard<std::mutex> lock(sessionMu_);
  if (!session_ || session_->dir != dir) {
    sessions_.push_back(std::make_unique<Session>());
    session_ = sessions_.back().get();
    OpenSession(*session_, dir);
  }
  return *session_;
}

// Every lock of the process state is held across fork, so the child finds
// them unlocked and what they guard whole.
void Process::PrepareFork() {
  sessionMu_.lock();
  signals.mu.lock();
  hooks.mu.lock();
  courier.PrepareFork();
  quotas.PrepareFork();
}

void Process::ParentAfterFork() {
  quotas.ParentAfterFork();
  courier.ParentAfterFork();
  hooks.mu.unlock();
  signals.mu.unlock();
  sessionMu_.unlock();
}

// The child's copies of our descriptors are closed already (MsgFork.h). It
// registers itself in the session afresh (a liveness lock of its own), and
// close requests get their default action back until it asks for them: the
// queue that delivered them is its parent's.
void Process::ChildAfterFork() {
  quotas.ChildAfterFork();
  courier.ChildAfterFork();
  hooks.mu.unlock();
  if (signals.queue) {
    signals.Release();
    new std::shared_ptr<Queue>(std::move(signals.queue));  // the parent's: left untouched
  }
  signals.fd = -1;
  signals.pending.store(0);
  signals.mu.unlock();
  session_ = nullptr;
  sessionMu_.unlock();
}

void Process::RemoveOwnFiles() {
  std::lock_guard<std::mutex> lock(sessionMu_);
  for (auto& s : sessions_) msgimpl::RemoveOwnFiles(*s);
}

void CloseSignals::Catch() {
  // A handler (not a blocked mask) so the signal is caught whichever thread
  // the kernel picks; it only flags and wakes the queue.
  struct sigaction sa {};
  sa.sa_handler = OnCloseSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

void CloseSignals::Release() {
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
}

uint32_t CloseSignals::Take() {
  uint64_t v;
  if (read(fd, &v, sizeof v) < 0) {
    // Ignored on purpose: EAGAIN means another look took the count already;
    // the flags below are what counts.
  }
  return pending.exchange(0);
}

}  // namespace plat::msgimpl
