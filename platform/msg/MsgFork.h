// Owns what a child of fork must not keep: the descriptors the message layer
// opened (closed at once in the child) and the fork generation of its state.
//
// Without exec, a child inherits every descriptor, and O_CLOEXEC does not
// help: its copies of our sockets would hide our death from our peers, and
// its copy of the liveness lock's file would keep us "alive" while it lives.
// So every descriptor the layer makes goes through Open/Close here, and the
// child's fork handler closes all of them before fork returns. Structures
// that still name those descriptors belong to the parent: they carry the
// fork generation they were made in and are never used (nor closed, nor
// their files removed) by the child, which makes state of its own.
// Internal to the message layer; the bottom of it, depending on nothing.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/kernel/Lifecycle.h"

namespace plat::msgimpl {

class OwnedFds {
 public:
  // Runs make(), which answers a new descriptor or -1, and keeps it: no fork
  // can come between the two.
  template <class Make>
  int Open(Make make) {
    std::lock_guard<std::mutex> lock(mu_);
    int fd = make();
    if (fd >= 0) Note(fd);
    return fd;
  }
  // Closes a descriptor made by Open and forgets it.
  void Close(int fd);

 private:
  friend struct ForkHandlers;
  void Note(int fd);

  std::mutex mu_;  // taken last before fork, so the child finds it consistent
  std::vector<uint64_t> bits_;  // one bit per descriptor number
};

OwnedFds& Fds();

// Raised in every child of fork; state made in an older generation is the parent's.
inline uint32_t ForkGeneration() { return plat::ForkGeneration(); }

}  // namespace plat::msgimpl
