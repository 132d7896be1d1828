// Owns the courier thread's loop: it takes the wake bytes posting threads
// hand over and sends them, then sleeps on a futex until the next hand-over.
#include "platform/msg/MsgCourier.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <system_error>
#include <thread>

#include "platform/msg/MsgFork.h"
#include "platform/msg/MsgRing.h"
#include "platform/msg/MsgSession.h"

namespace plat::msgimpl {

namespace {

constexpr int64_t kCourierLingerNs = 50000;

long Futex(uint32_t* word, int op, uint32_t val) {
  return syscall(SYS_futex, word, op, val, nullptr, nullptr, 0);
}

}  // namespace

void Courier::Loop() {
  // Signals for the process go to the threads that were there before.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  std::vector<std::shared_ptr<WakeTarget>> batch;
  int64_t lastWork = NowNs();
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mu_);
      batch.swap(pending_);
      if (batch.empty() && NowNs() - lastWork > kCourierLingerNs) {
        A(asleep_).store(1, std::memory_order_relaxed);
        lock.unlock();
        Futex(&asleep_, FUTEX_WAIT_PRIVATE, 1);
        continue;
      }
    }
    if (batch.empty()) {
      for (int i = 0; i < 8; ++i) CpuRelax();
      sched_yield();
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(sendMu_);
      for (auto& t : batch) {
        if (!t->dead) SendWake(t->fd);
      }
    }
    batch.clear();
    lastWork = NowNs();
  }
}

bool Courier::HandOver(const std::shared_ptr<WakeTarget>& target) {
  if (!MayRunBesidePeer()) return false;
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!running_) {
      try {
        std::thread([this] { Loop(); }).detach();
      } catch (const std::system_error&) {
        return false;
      }
      running_ = true;
    }
    pending_.push_back(target);
    if (A(asleep_).load(std::memory_order_relaxed) != 0) {
      A(asleep_).store(0, std::memory_order_relaxed);
      wake = true;
    }
  }
  if (wake) Futex(&asleep_, FUTEX_WAKE_PRIVATE, 1);
  return true;
}

void Courier::CloseSocket(WakeTarget& target) {
  std::lock_guard<std::mutex> lock(sendMu_);
  target.dead = true;
  Fds().Close(target.fd);
}

void Courier::PrepareFork() {
  mu_.lock();
  sendMu_.lock();
}

void Courier::ParentAfterFork() {
  sendMu_.unlock();
  mu_.unlock();
}

void Courier::ChildAfterFork() {
  pending_.clear();
  running_ = false;
  asleep_ = 0;
  sendMu_.unlock();
  mu_.unlock();
}

}  // namespace plat::msgimpl
