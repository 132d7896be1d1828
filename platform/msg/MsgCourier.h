// Owns the courier: the one thread per process that sends the wake bytes
// posting threads hand over, and the lock that keeps it off closing sockets.
//
// A thread posting to many receivers that went to sleep would pay one
// scheduler wake-up per receiver before it could make its next post. Its post
// is on the receiver's ring already; only the wake byte is left, and it hands
// that to the courier, which sends them beside the poster. The courier waits a
// little for more while wakes keep coming, then sleeps on a futex word until
// the next one, so an idle process pays nothing for it. Only posts go this way:
// a sender waits for its answer anyway.
// The one Courier of the process lives in the process state (MsgProcess.h).
// Internal to the message layer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace plat::msgimpl {

// The socket end the courier may write a wake byte to. fd and dead change
// only under the courier's sendMu once the courier may hold the target.
struct WakeTarget {
  int fd = -1;
  bool dead = false;
};

class Courier {
 public:
  // Hands the wake of a sleeping receiver over; false when the caller must
  // send it itself (one CPU, or no thread could be started).
  bool HandOver(const std::shared_ptr<WakeTarget>& target);
  // Closes the socket of a target the courier may be about to wake through.
  void CloseSocket(WakeTarget& target);

  // Fork: the parent holds both locks across fork; the child starts with no
  // courier thread and starts its own when it needs one.
  void PrepareFork();
  void ParentAfterFork();
  void ChildAfterFork();

 private:
  void Loop();

  std::mutex mu_;  // pending_, asleep_, running_
  std::vector<std::shared_ptr<WakeTarget>> pending_;
  uint32_t asleep_ = 0;  // futex word: 1 while the courier sleeps on it
  bool running_ = false;
  std::mutex sendMu_;  // held while wake bytes go out and while a socket closes
};

}  // namespace plat::msgimpl
