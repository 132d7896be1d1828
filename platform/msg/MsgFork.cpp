// Owns the layer's record of its descriptors and the fork generation: every
// descriptor it made is closed at once in a child of fork.
#include "platform/msg/MsgFork.h"

#include <unistd.h>

#include "platform/kernel/Lifecycle.h"

namespace plat::msgimpl {

struct ForkHandlers {
  static void Prepare(void*) { Fds().mu_.lock(); }
  static void Parent(void*) { Fds().mu_.unlock(); }
  // Only this thread exists now; nothing but closing is done here.
  static void Child(void*) {
    OwnedFds& f = Fds();
    for (size_t w = 0; w < f.bits_.size(); ++w) {
      for (uint64_t b = f.bits_[w]; b != 0; b &= b - 1) {
        close(static_cast<int>(w * 64 + static_cast<size_t>(__builtin_ctzll(b))));
      }
      f.bits_[w] = 0;
    }
    f.mu_.unlock();
  }
};

// Registered before any other fork handler of the layer (MsgProcess.cpp makes
// sure): its prepare handler then runs last, when the other locks are held,
// and its child handler first.
OwnedFds& Fds() {
  static OwnedFds* f = [] {
    auto* made = new OwnedFds;  // never freed: fork handlers use it until the process ends
    AtFork(Layer::Msg, {ForkHandlers::Prepare, ForkHandlers::Parent, ForkHandlers::Child});
    return made;
  }();
  return *f;
}

void OwnedFds::Note(int fd) {
  size_t w = static_cast<size_t>(fd) / 64;
  if (w >= bits_.size()) bits_.resize(w + 1, 0);
  bits_[w] |= uint64_t{1} << (fd % 64);
}

void OwnedFds::Close(int fd) {
  if (fd < 0) return;
  std::lock_guard<std::mutex> lock(mu_);
  close(fd);
  size_t w = static_cast<size_t>(fd) / 64;
  if (w < bits_.size()) bits_[w] &= ~(uint64_t{1} << (fd % 64));
}

}  // namespace plat::msgimpl
