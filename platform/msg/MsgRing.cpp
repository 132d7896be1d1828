// Owns the shared segments (making, mapping, unmapping) and the socket packets
// that hand a segment over and wake a sleeping side.
#include "platform/msg/MsgRing.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/msg/MsgSession.h"

namespace plat::msgimpl {

Segment::~Segment() {
  if (l) munmap(l, sizeof(SegmentLayout));
}

namespace {

// A segment's size can neither shrink nor grow, nor its seals change: a peer
// that cut it short under our mapping would kill us at the next read.
constexpr int kSegmentSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;

}  // namespace

std::shared_ptr<Segment> MapSegment(int fd) {
  int seals = fcntl(fd, F_GET_SEALS);
  struct stat st {};
  if (seals < 0 || (seals & kSegmentSeals) != kSegmentSeals || fstat(fd, &st) != 0 ||
      st.st_size < static_cast<off_t>(sizeof(SegmentLayout))) {
    errno = EINVAL;
    return nullptr;
  }
  void* m = mmap(nullptr, sizeof(SegmentLayout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (m == MAP_FAILED) return nullptr;
  auto seg = std::make_shared<Segment>();
  seg->l = static_cast<SegmentLayout*>(m);
  return seg;
}

std::shared_ptr<Segment> MakeSegment(int* fd) {
  *fd = memfd_create("vexa-msg-ring", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (*fd < 0) return nullptr;
  // Every page is taken now: memory that runs out fails this call instead
  // of killing whichever side first touches a page of a sparse segment.
  int r;
  do {
    r = fallocate(*fd, 0, 0, sizeof(SegmentLayout));
  } while (r != 0 && errno == EINTR);
  std::shared_ptr<Segment> seg;
  if (r == 0 && fcntl(*fd, F_ADD_SEALS, kSegmentSeals) == 0) seg = MapSegment(*fd);
  if (!seg) {
    int err = errno;
    close(*fd);
    *fd = -1;
    errno = err;
    return nullptr;
  }
  A(seg->l->magic).store(kRingMagic, std::memory_order_release);
  return seg;
}

namespace {
enum : uint8_t { kHelloByte = 'H', kWakeByte = 'W' };
}

bool SendHello(int fd, int segFd) {
  uint8_t b = kHelloByte;
  iovec iov{&b, 1};
  alignas(cmsghdr) char ctl[CMSG_SPACE(sizeof(int))] = {};
  msghdr mh{};
  mh.msg_iov = &iov;
  mh.msg_iovlen = 1;
  mh.msg_control = ctl;
  mh.msg_controllen = sizeof ctl;
  cmsghdr* c = CMSG_FIRSTHDR(&mh);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  memcpy(CMSG_DATA(c), &segFd, sizeof(int));
  ssize_t r;
  do {
    r = sendmsg(fd, &mh, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  return r == 1;
}

void SendWake(int fd) {
  uint8_t b = kWakeByte;
  if (send(fd, &b, 1, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
    // Ignored on purpose: a full buffer already holds a wake, and a gone peer
    // shows up as a hang-up on the socket, where the owner looks for it.
  }
}

bool ReadSocket(int fd, uint32_t events, std::shared_ptr<Segment>* seg) {
  bool refused = false;
  for (;;) {
    uint8_t buf[16];
    iovec iov{buf, sizeof buf};
    alignas(cmsghdr) char ctl[CMSG_SPACE(sizeof(int) * 4)];
    msghdr mh{};
    mh.msg_iov = &iov;
    mh.msg_iovlen = 1;
    mh.msg_control = ctl;
    mh.msg_controllen = sizeof ctl;
    ssize_t n = recvmsg(fd, &mh, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return refused || (events & (EPOLLHUP | EPOLLERR)) != 0;
      }
      return true;
    }
    if (n == 0) return true;
    for (cmsghdr* c = CMSG_FIRSTHDR(&mh); c; c = CMSG_NXTHDR(&mh, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (size_t i = 0; i < count; ++i) {
        int got;
        memcpy(&got, CMSG_DATA(c) + i * sizeof(int), sizeof got);
        if (seg && !*seg && buf[0] == kHelloByte) {
          auto s = MapSegment(got);
          if (s && A(s->l->magic).load(std::memory_order_acquire) == kRingMagic) {
            *seg = s;
          } else {
            refused = true;  // a peer that offers no sound segment gets no connection
          }
        }
        close(got);
      }
    }
  }
}

bool MayRunBesidePeer() {
  static std::atomic<int64_t> checkedAt{0};
  static std::atomic<bool> answer{false};
  int64_t now = NowNs();
  int64_t at = checkedAt.load(std::memory_order_relaxed);
  if (at == 0 || now - at > 1000000000) {
    cpu_set_t set;
    CPU_ZERO(&set);
    bool several = sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1 &&
                   sysconf(_SC_NPROCESSORS_ONLN) > 1;
    answer.store(several, std::memory_order_relaxed);
    checkedAt.store(now, std::memory_order_relaxed);
  }
  return answer.load(std::memory_order_relaxed);
}

}  // namespace plat::msgimpl
