// Windows, queues and messages of the desktop session.
//
// In this process: windows live in one hash table (handle -> Window), every
// thread that uses messages gets a Queue with an epoll set and an eventfd that
// other threads write to after pushing a posted or sent message.
//
// Across processes, below <session>/msg/:
//   counter     4-byte counter under flock: window handles, queue and process ids
//   p<id>       one file per process, exclusively flock'ed while it lives
//   q<id>       the SOCK_SEQPACKET listening socket of one queue
//   w<hwnd>     a symbolic link per window whose target is
//               "<process id>.<queue id>.<pid>.<tid>.<top-level 0|1>"
// A sender connects to the receiving queue's socket (connections are cached per
// sending thread) and hands over a shared segment with two rings: its posts and
// sends go one way, replies the other (see "Shared rings" below). The socket
// carries only wake-ups, so a sender whose receiver dies sees it close.
#include "platform/msg/Msg.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <linux/futex.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace plat {

namespace {

// ---------------------------------------------------------------------------
// Helpers

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string LowerAscii(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string Hex8(uint32_t v) {
  char buf[9];
  snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

// Parses an unsigned decimal or hex number that must fill [begin, end).
bool ParseNum(const char* begin, const char* end, int base, uint32_t* out) {
  if (begin >= end || end - begin > 10) return false;
  uint64_t v = 0;
  for (const char* p = begin; p < end; ++p) {
    int d;
    if (*p >= '0' && *p <= '9') {
      d = *p - '0';
    } else if (base == 16 && *p >= 'A' && *p <= 'F') {
      d = *p - 'A' + 10;
    } else if (base == 16 && *p >= 'a' && *p <= 'f') {
      d = *p - 'a' + 10;
    } else {
      return false;
    }
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  *out = static_cast<uint32_t>(v);
  return true;
}

int FlockRetry(int fd, int op) {
  int r;
  do {
    r = flock(fd, op);
  } while (r != 0 && errno == EINTR);
  return r;
}

// ---------------------------------------------------------------------------
// The session's shared tables

struct Entry {
  uint32_t procId = 0;
  uint32_t queueId = 0;
  uint32_t pid = 0;
  uint32_t tid = 0;
  bool top = false;
};

struct Session {
  std::string dir;
  std::string msgDir;
  int counterFd = -1;
  uint32_t procId = 0;  // 0 until this process registered itself
  int procLockFd = -1;
  std::mutex mu;  // guards procId/procLockFd
  std::mutex allocMu;  // one thread at a time in AllocId
};

std::mutex gSessionMu;
Session* gSession = nullptr;  // replaced (old one kept) when the session directory changes

Session& CurrentSession() {
  const std::string& dir = SessionDir();
  std::lock_guard<std::mutex> lock(gSessionMu);
  if (!gSession || gSession->dir != dir) {
    // Never freed: references to an earlier one may still be in use.
    static auto* all = new std::vector<std::unique_ptr<Session>>;
    all->push_back(std::make_unique<Session>());
    Session* s = all->back().get();
    s->dir = dir;
    s->msgDir = dir + "/msg";
    mkdir(s->msgDir.c_str(), 0700);
    s->counterFd = open((s->msgDir + "/counter").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    gSession = s;
  }
  return *gSession;
}

// Next session-wide id; never 0 and never HWND_BROADCAST. The file lock keeps
// other processes out; threads of this one share its descriptor and so its
// lock, and take turns on a mutex instead.
uint32_t AllocId(Session& s) {
  if (s.counterFd < 0) return 0;
  std::lock_guard<std::mutex> turn(s.allocMu);
  FlockRetry(s.counterFd, LOCK_EX);
  uint32_t v = 0;
  if (pread(s.counterFd, &v, sizeof v, 0) != static_cast<ssize_t>(sizeof v) || v < 0x10000) {
    v = 0x10000;
  }
  uint32_t id = v;
  if (id == HWND_BROADCAST || id == 0) ++id;
  uint32_t next = id + 1;
  bool ok = pwrite(s.counterFd, &next, sizeof next, 0) == static_cast<ssize_t>(sizeof next);
  FlockRetry(s.counterFd, LOCK_UN);
  return ok ? id : 0;
}

// Registers this process in the session (its liveness lock) once.
uint32_t ProcessId(Session& s) {
  std::lock_guard<std::mutex> lock(s.mu);
  if (s.procId == 0) {
    uint32_t id = AllocId(s);
    if (id == 0) return 0;
    int fd = open((s.msgDir + "/p" + Hex8(id)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    if (FlockRetry(fd, LOCK_EX) != 0) {
      close(fd);
      return 0;
    }
    s.procLockFd = fd;
    s.procId = id;
  }
  return s.procId;
}

bool ProcessAlive(Session& s, uint32_t procId) {
  {
    std::lock_guard<std::mutex> lock(s.mu);
    if (procId == s.procId && procId != 0) return true;
  }
  std::string path = s.msgDir + "/p" + Hex8(procId);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool alive = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  if (!alive) unlink(path.c_str());  // its holder is gone for good
  return alive;
}

std::string EntryPath(Session& s, HWND hwnd) { return s.msgDir + "/w" + Hex8(hwnd); }

// Drops what a dead process left behind for one of its windows.
void ForgetDeadEntry(Session& s, HWND hwnd, const Entry& e) {
  unlink(EntryPath(s, hwnd).c_str());
  unlink((s.msgDir + "/q" + Hex8(e.queueId)).c_str());
}

bool WriteEntry(Session& s, HWND hwnd, const Entry& e) {
  std::string target = Hex8(e.procId) + "." + Hex8(e.queueId) + "." + std::to_string(e.pid) +
                       "." + std::to_string(e.tid) + "." + (e.top ? "1" : "0");
  std::string path = EntryPath(s, hwnd);
  std::string tmp = s.msgDir + "/.t" + Hex8(hwnd) + "." + std::to_string(getpid());
  unlink(tmp.c_str());
  if (symlink(target.c_str(), tmp.c_str()) != 0) return false;
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool ParseEntry(const char* buf, size_t len, Entry* e) {
  const char* fields[6];
  int n = 0;
  fields[n++] = buf;
  for (size_t i = 0; i < len; ++i) {
    if (buf[i] == '.') {
      if (n == 5) return false;
      fields[n++] = buf + i + 1;
    }
  }
  if (n != 5) return false;
  const char* end = buf + len;
  uint32_t top = 0;
  if (!ParseNum(fields[0], fields[1] - 1, 16, &e->procId) ||
      !ParseNum(fields[1], fields[2] - 1, 16, &e->queueId) ||
      !ParseNum(fields[2], fields[3] - 1, 10, &e->pid) ||
      !ParseNum(fields[3], fields[4] - 1, 10, &e->tid) || !ParseNum(fields[4], end, 10, &top) ||
      top > 1) {
    return false;
  }
  e->top = top == 1;
  return true;
}

bool ReadEntry(Session& s, HWND hwnd, Entry* e) {
  char buf[128];
  ssize_t n = readlink(EntryPath(s, hwnd).c_str(), buf, sizeof buf);
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf)) return false;
  return ParseEntry(buf, static_cast<size_t>(n), e);
}

// ---------------------------------------------------------------------------
// Wire format between queues of different processes

enum PacketKind : uint32_t { kPost = 1, kSend = 2, kReply = 3 };
enum ReplyStatus : uint32_t { kReplyOk = 0, kReplyNoWindow = 1 };

struct Packet {
  uint32_t kind = 0;
  uint32_t seq = 0;
  uint32_t hwnd = 0;
  uint32_t msg = 0;
  int32_t wParam = 0;
  int32_t lParam = 0;
  int32_t result = 0;
  uint32_t status = 0;
  uint32_t time = 0;
};

// ---------------------------------------------------------------------------
// Shared rings between the queues of two processes
//
// The first time a thread reaches a queue of another process it makes one
// shared segment for that pair: a 0600 file without a name in the session's
// msg directory (anonymous memory where that directory is not in memory), so
// nothing is left behind when either side dies. Its descriptor travels with
// the connection's first packet. The segment holds two single-producer
// single-consumer rings: requests (posts and sends, in the order made) from
// the sender, replies back to it. The socket stays for what it does well: the
// descriptor, wake-ups of a sleeping side (one byte) and the end of the peer.
//
// A consumer about to sleep raises its ring's sleeping word and looks once
// more; a producer that finds the word raised clears it and sends a wake byte
// (a poster hands that to the process's courier thread, see below).
// Both sides spin briefly before sleeping while traffic flows and another CPU
// can run the peer, so a burst costs memory traffic instead of wake-ups.

constexpr uint32_t kRingMagic = 0x56524731;   // "VRG1"
constexpr uint32_t kRequestSlots = 16384;     // power of two
constexpr uint32_t kReplySlots = 1024;        // replies wait for at most a few nested sends
constexpr uint32_t kPostQuota = 10000;        // posts a receiver may leave unread

struct RingIndex {
  alignas(64) uint32_t tail = 0;  // written by the producer
  alignas(64) uint32_t head = 0;  // written by the consumer
  uint32_t sleeping = 0;          // raised by the consumer, cleared by either side
};

struct SegmentLayout {
  uint32_t magic;
  uint32_t windowsGone;  // counts windows the receiving queue destroyed
  RingIndex req;
  RingIndex rep;
  Packet reqSlots[kRequestSlots];
  Packet repSlots[kReplySlots];
};

template <class T>
std::atomic_ref<T> A(T& v) {
  return std::atomic_ref<T>(v);
}

// One mapping of a segment, unmapped when the last connection using it goes.
struct Segment {
  SegmentLayout* l = nullptr;
  ~Segment() {
    if (l) munmap(l, sizeof(SegmentLayout));
  }
};

// One direction of a segment as seen from one side.
struct Ring {
  RingIndex* idx = nullptr;
  Packet* slots = nullptr;
  uint32_t size = 0;

  uint32_t Used() const {
    return A(idx->tail).load(std::memory_order_relaxed) - A(idx->head).load(std::memory_order_acquire);
  }
  // Producer: false when limit entries are unread already.
  bool Push(const Packet& p, uint32_t limit) {
    uint32_t t = A(idx->tail).load(std::memory_order_relaxed);
    uint32_t h = A(idx->head).load(std::memory_order_acquire);
    if (t - h >= limit) return false;
    slots[t & (size - 1)] = p;
    A(idx->tail).store(t + 1, std::memory_order_release);
    return true;
  }
  // Producer, after Push: whether the consumer sleeps and must be woken (once).
  bool TakeSleeper() {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return A(idx->sleeping).load(std::memory_order_relaxed) != 0 &&
           A(idx->sleeping).exchange(0, std::memory_order_acq_rel) != 0;
  }
  // Consumer. -1: the indexes make no sense (a broken peer).
  int Pop(Packet* p) {
    uint32_t h = A(idx->head).load(std::memory_order_relaxed);
    uint32_t t = A(idx->tail).load(std::memory_order_acquire);
    if (h == t) return 0;
    if (t - h > size) return -1;
    *p = slots[h & (size - 1)];
    A(idx->head).store(h + 1, std::memory_order_release);
    return 1;
  }
  bool HasData() const {
    return A(idx->tail).load(std::memory_order_acquire) != A(idx->head).load(std::memory_order_relaxed);
  }
  void Arm() { A(idx->sleeping).store(1, std::memory_order_relaxed); }
  void Disarm() {
    if (A(idx->sleeping).load(std::memory_order_relaxed)) A(idx->sleeping).store(0, std::memory_order_relaxed);
  }
};

Ring RequestRing(Segment& s) { return Ring{&s.l->req, s.l->reqSlots, kRequestSlots}; }
Ring ReplyRing(Segment& s) { return Ring{&s.l->rep, s.l->repSlots, kReplySlots}; }

std::shared_ptr<Segment> MapSegment(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(SegmentLayout))) return nullptr;
  void* m = mmap(nullptr, sizeof(SegmentLayout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (m == MAP_FAILED) return nullptr;
  auto seg = std::make_shared<Segment>();
  seg->l = static_cast<SegmentLayout*>(m);
  return seg;
}

// A new segment for the queue pair; answers its descriptor in *fd.
std::shared_ptr<Segment> MakeSegment(const std::string& dir, int* fd) {
  *fd = -1;
  struct statfs sf {};
  if (statfs(dir.c_str(), &sf) == 0 && sf.f_type == TMPFS_MAGIC) {
    *fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  }
  if (*fd < 0) *fd = memfd_create("vexa-msg-ring", MFD_CLOEXEC);
  if (*fd < 0) return nullptr;
  std::shared_ptr<Segment> seg;
  if (ftruncate(*fd, sizeof(SegmentLayout)) == 0) seg = MapSegment(*fd);
  if (!seg) {
    close(*fd);
    *fd = -1;
    return nullptr;
  }
  A(seg->l->magic).store(kRingMagic, std::memory_order_release);
  return seg;
}

// Socket packets: the first one carries the segment, the rest only wake.
enum : uint8_t { kHelloByte = 'H', kWakeByte = 'W' };

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
  // A full buffer already holds a wake; a gone peer shows up as a hang-up.
  if (send(fd, &b, 1, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
  }
}

// Reads every waiting socket packet without blocking; a segment that arrives
// goes to *seg (when none came before). Answers true when the connection is
// finished (end of stream, an error, or a hang-up with nothing left to read).
bool ReadSocket(int fd, uint32_t events, std::shared_ptr<Segment>* seg) {
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
      if (errno == EAGAIN || errno == EWOULDBLOCK) return (events & (EPOLLHUP | EPOLLERR)) != 0;
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
          if (s && A(s->l->magic).load(std::memory_order_acquire) == kRingMagic) *seg = s;
        }
        close(got);
      }
    }
  }
}

// Spinning pays only while another CPU can run the peer meanwhile.
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

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// epoll data: kind in the upper half, descriptor in the lower.
enum FdKind : uint32_t { kWake = 1, kListen, kInConn, kOutConn, kSignal, kWatched };

uint64_t Tag(FdKind kind, int fd) {
  return (static_cast<uint64_t>(kind) << 32) | static_cast<uint32_t>(fd);
}

// ---------------------------------------------------------------------------
// Windows, queues

struct Queue;

struct WindowClass {
  WNDCLASS wc;
};

struct Window {
  HWND hwnd = 0;
  std::shared_ptr<WindowClass> cls;
  std::shared_ptr<WNDPROC> proc;
  std::shared_ptr<Queue> queue;
  DWORD style = 0;
  DWORD exStyle = 0;
  LONG id = 0;
  LONG userData = 0;
  std::vector<uint8_t> extra;
  HWND parent = 0;
  std::vector<HWND> children;
  std::string text;
  RECT rect;
  bool iconic = false;
  bool destroying = false;
};

struct SendState {
  std::atomic<int> status{0};  // 0 waiting, 1 answered, 2 failed
  LRESULT result = 0;
  std::shared_ptr<Queue> waiter;
};

// A sender of another process: we consume its requests and produce replies.
struct InConn {
  int fd = -1;
  bool dead = false;
  std::shared_ptr<Segment> seg;  // none until its first packet came
  Ring req;
  Ring rep;
};

// A queue of another process we send to: we produce requests, consume replies.
struct OutConn {
  int fd = -1;
  uint32_t queueId = 0;
  bool dead = false;
  std::shared_ptr<Segment> seg;
  Ring req;
  Ring rep;
  int64_t checkedAt = 0;  // when the socket was last asked about a hang-up
};

// ---------------------------------------------------------------------------
// Wake-ups handed over by posting threads
//
// A thread posting to many receivers that went to sleep would pay one
// scheduler wake-up per receiver before it could make its next post. Its post
// is on the receiver's ring already; only the wake byte is left, and it hands
// that to the process's courier thread, which sends them beside the poster.
// The courier waits a little for more while wakes keep coming, then sleeps on
// a futex word until the next one, so an idle process pays nothing for it.
// Only posts go this way: a sender waits for its answer anyway.

constexpr int64_t kCourierLingerNs = 50000;

struct Courier {
  std::mutex mu;  // pending and asleep
  std::vector<std::shared_ptr<OutConn>> pending;
  uint32_t asleep = 0;      // futex word: 1 while the courier sleeps on it
  bool running = false;
  std::mutex sendMu;  // held while wake bytes go out and while a connection closes
};

Courier& TheCourier() {
  static Courier* c = new Courier;  // lives until the process ends, like its thread
  return *c;
}

long Futex(uint32_t* word, int op, uint32_t val) {
  return syscall(SYS_futex, word, op, val, nullptr, nullptr, 0);
}

void SendWake(int fd);
bool MayRunBesidePeer();
inline void CpuRelax();

void CourierLoop(Courier* c) {
  // Signals for the process go to the threads that were there before.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  std::vector<std::shared_ptr<OutConn>> batch;
  int64_t lastWork = NowNs();
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(c->mu);
      batch.swap(c->pending);
      if (batch.empty() && NowNs() - lastWork > kCourierLingerNs) {
        A(c->asleep).store(1, std::memory_order_relaxed);
        lock.unlock();
        Futex(&c->asleep, FUTEX_WAIT_PRIVATE, 1);
        continue;
      }
    }
    if (batch.empty()) {
      for (int i = 0; i < 8; ++i) CpuRelax();
      sched_yield();
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(c->sendMu);
      for (auto& conn : batch) {
        if (!conn->dead) SendWake(conn->fd);
      }
    }
    batch.clear();
    lastWork = NowNs();
  }
}

// A child of fork has no courier thread: it starts its own when it needs one.
void CourierPrepareFork() {
  TheCourier().mu.lock();
  TheCourier().sendMu.lock();
}
void CourierParentFork() {
  TheCourier().sendMu.unlock();
  TheCourier().mu.unlock();
}
void CourierChildFork() {
  Courier& c = TheCourier();
  c.pending.clear();
  c.running = false;
  c.asleep = 0;
  c.sendMu.unlock();
  c.mu.unlock();
}

// Hands the wake of a sleeping receiver to the courier; false when the
// caller must send it itself (one CPU, or no thread could be started).
bool HandOverWake(const std::shared_ptr<OutConn>& conn) {
  if (!MayRunBesidePeer()) return false;
  Courier& c = TheCourier();
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(c.mu);
    if (!c.running) {
      static std::once_flag forkHooks;
      std::call_once(forkHooks, [] { pthread_atfork(CourierPrepareFork, CourierParentFork, CourierChildFork); });
      try {
        std::thread(CourierLoop, &c).detach();
      } catch (const std::system_error&) {
        return false;
      }
      c.running = true;
    }
    c.pending.push_back(conn);
    if (A(c.asleep).load(std::memory_order_relaxed) != 0) {
      A(c.asleep).store(0, std::memory_order_relaxed);
      wake = true;
    }
  }
  if (wake) Futex(&c.asleep, FUTEX_WAKE_PRIVATE, 1);
  return true;
}

// Closes the socket of a connection the courier may be about to wake through.
void CloseOutSocket(OutConn& conn) {
  std::lock_guard<std::mutex> lock(TheCourier().sendMu);
  conn.dead = true;
  close(conn.fd);
}

struct SentItem {
  HWND hwnd = 0;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::shared_ptr<SendState> local;  // sender in this process
  std::shared_ptr<InConn> conn;      // sender in another process
  uint32_t seq = 0;
};

struct Timer {
  HWND hwnd = 0;
  uintptr_t id = 0;
  UINT interval = 1;
  int64_t due = 0;
  TIMERPROC proc;
};

struct Reply {
  uint32_t status = 0;
  LRESULT result = 0;
};

struct Globals {
  std::mutex mu;  // windows, classes, queues by thread
  std::unordered_map<HWND, std::shared_ptr<Window>> windows;
  std::unordered_map<std::string, std::shared_ptr<WindowClass>> classes;
  std::unordered_map<DWORD, std::weak_ptr<Queue>> queues;
  HWND foreground = 0;
  std::atomic<uint32_t> generation{0};  // the session the windows above belong to
  // registered message names of the current session, cached
  std::mutex atomMu;
  std::string atomSession;
  std::unordered_map<std::string, UINT> atoms;
};

void ForgetWindowsOfEndedSession(Globals& g, uint32_t generation);

Globals& G() {
  static Globals* g = new Globals;  // lives until the process ends, past thread exits
  uint32_t now = SessionGeneration();
  if (g->generation.load(std::memory_order_acquire) != now) ForgetWindowsOfEndedSession(*g, now);
  return *g;
}

// Close requests: the signal handler only flags and wakes.
std::atomic<uint32_t> gPendingSignals{0};
int gSignalFd = -1;  // eventfd, created once
std::mutex gSignalMu;
std::shared_ptr<Queue> gSignalQueue;

void OnCloseSignal(int sig) {
  int saved = errno;
  gPendingSignals.fetch_or(sig == SIGTERM ? 1u : 2u);
  uint64_t one = 1;
  if (write(gSignalFd, &one, sizeof one) < 0) {
  }
  errno = saved;
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

struct Queue : std::enable_shared_from_this<Queue> {
  DWORD tid = 0;
  uint32_t generation = SessionGeneration();  // the session this queue serves
  int busy = 0;  // retrievals and waits of the owner thread under way in this queue
  int epfd = -1;
  int wakeFd = -1;
  std::atomic<bool> signaled{false};

  std::mutex mu;  // the fields below up to the owner-only part
  bool alive = true;
  std::deque<MSG> posted;
  std::deque<SentItem> sentIn;
  std::atomic<size_t> pending{0};  // posted + sentIn, readable without the lock

  // Owner thread only.
  bool quit = false;
  int quitCode = 0;
  std::vector<Timer> timers;
  uintptr_t nextThreadTimer = 1;
  Session* session = nullptr;
  uint32_t queueId = 0;
  int listenFd = -1;
  std::string listenPath;
  std::unordered_map<int, std::shared_ptr<InConn>> inConns;
  std::unordered_map<uint32_t, std::shared_ptr<OutConn>> outConns;  // by queue id
  std::unordered_map<int, std::shared_ptr<OutConn>> outByFd;
  std::unordered_set<uint32_t> awaiting;
  // Foreign windows this thread sent to: handle -> queue id. A stale entry is
  // harmless: the receiver answers "no such window" or the connection is gone.
  std::unordered_map<HWND, uint32_t> sendTargets;
  std::unordered_map<uint32_t, Reply> replies;
  uint32_t nextSeq = 0;
  // Foreign windows this thread posted to, so the next post needs no look-up
  // of the entry: valid while the receiving queue destroyed no window since.
  struct PostTarget {
    Session* session = nullptr;
    std::shared_ptr<OutConn> conn;
    uint32_t windowsGone = 0;
  };
  std::unordered_map<HWND, PostTarget> postTargets;
  std::unordered_map<int, std::shared_ptr<FdCallback>> watched;
  std::deque<int> signals;
  std::function<void(int)> closeHandler;
  int64_t lastPump = 0;
  int64_t lastTraffic = 0;  // when a ring last brought something
  int spinCredit = 4;
  int64_t spinRestUntil = 0;

  Queue() {
    tid = GetCurrentThreadId();
    epfd = epoll_create1(EPOLL_CLOEXEC);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = Tag(kWake, wakeFd);
    epoll_ctl(epfd, EPOLL_CTL_ADD, wakeFd, &ev);
  }

  ~Queue() {
    if (epfd >= 0) close(epfd);
    if (wakeFd >= 0) close(wakeFd);
  }

  void Wake() {
    if (!signaled.exchange(true)) {
      uint64_t one = 1;
      if (write(wakeFd, &one, sizeof one) < 0) {
      }
    }
  }

  bool Post(const MSG& m) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (!alive) return false;
      posted.push_back(m);
      pending.fetch_add(1, std::memory_order_relaxed);
    }
    if (GetCurrentThreadId() != tid) Wake();
    return true;
  }

  bool PushSent(SentItem item) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (!alive) return false;
      sentIn.push_back(std::move(item));
      pending.fetch_add(1, std::memory_order_relaxed);
    }
    if (GetCurrentThreadId() != tid) Wake();
    return true;
  }

  void AddFd(int fd, FdKind kind, uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = Tag(kind, fd);
    epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev);
  }

  // The listening socket other processes connect to; made with the first window.
  bool EnsureListening() {
    if (listenFd >= 0) return true;
    Session& s = CurrentSession();
    if (ProcessId(s) == 0) return false;
    uint32_t id = AllocId(s);
    if (id == 0) return false;
    std::string path = s.msgDir + "/q" + Hex8(id);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
      OutputDebugString("message queue: session directory path too long for a socket: " + path);
      return false;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 256) != 0) {
      close(fd);
      return false;
    }
    listenFd = fd;
    listenPath = path;
    queueId = id;
    session = &s;
    AddFd(fd, kListen, EPOLLIN);
    return true;
  }

  void CloseInConn(int fd) {
    auto it = inConns.find(fd);
    if (it == inConns.end()) return;
    DrainIn(it->second);  // what it wrote before it went still counts
    it->second->dead = true;
    epoll_ctl(epfd, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    inConns.erase(it);
  }

  void CloseOutConn(const std::shared_ptr<OutConn>& c) {
    if (c->dead) return;
    DrainOut(*c);
    epoll_ctl(epfd, EPOLL_CTL_DEL, c->fd, nullptr);
    CloseOutSocket(*c);
    outByFd.erase(c->fd);
    auto it = outConns.find(c->queueId);
    if (it != outConns.end() && it->second == c) outConns.erase(it);
    std::erase_if(postTargets, [&](const auto& t) { return t.second.conn == c; });
  }

  // The cached connection to a queue, or a new one with a new segment. Never
  // blocks: a receiver too busy to accept it is as unreachable as a gone one.
  std::shared_ptr<OutConn> Connect(Session& s, uint32_t qid) {
    auto it = outConns.find(qid);
    if (it != outConns.end()) return it->second;
    std::string path = s.msgDir + "/q" + Hex8(qid);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return nullptr;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    int r;
    do {
      r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (r != 0 && errno == EINTR);
    int segFd = -1;
    std::shared_ptr<Segment> seg;
    if (r == 0) seg = MakeSegment(s.msgDir, &segFd);
    bool ok = seg && SendHello(fd, segFd);
    if (segFd >= 0) close(segFd);
    if (!ok) {
      close(fd);
      return nullptr;
    }
    auto c = std::make_shared<OutConn>();
    c->fd = fd;
    c->queueId = qid;
    c->seg = seg;
    c->req = RequestRing(*seg);
    c->rep = ReplyRing(*seg);
    c->checkedAt = NowNs();
    outConns[qid] = c;
    outByFd[fd] = c;
    AddFd(fd, kOutConn, EPOLLIN);
    return c;
  }

  // Puts one request on a connection's ring and wakes the receiver if it sleeps.
  bool PushRequest(OutConn& c, const Packet& p, uint32_t limit) {
    if (c.dead || !c.req.Push(p, limit)) return false;
    if (c.req.TakeSleeper()) SendWake(c.fd);
    return true;
  }

  // The same for a post, whose wake the courier may send.
  bool PushPost(const std::shared_ptr<OutConn>& c, const Packet& p) {
    if (c->dead || !c->req.Push(p, kPostQuota)) return false;
    if (c->req.TakeSleeper() && !HandOverWake(c)) SendWake(c->fd);
    return true;
  }

  // Whether the receiver's end of a connection is gone (asks the socket).
  bool PeerGone(OutConn& c) {
    if (c.dead) return true;
    pollfd pf{c.fd, 0, 0};
    if (poll(&pf, 1, 0) > 0 && (pf.revents & (POLLHUP | POLLERR))) {
      auto keep = outByFd.find(c.fd);
      if (keep != outByFd.end()) CloseOutConn(keep->second);
      return true;
    }
    c.checkedAt = NowNs();
    return false;
  }

  // Takes every request a sender left on its ring into this queue.
  void DrainIn(const std::shared_ptr<InConn>& c) {
    InConn& conn = *c;
    if (!conn.seg || conn.dead) return;
    Packet p;
    int got;
    bool any = false;
    while ((got = conn.req.Pop(&p)) > 0) {
      any = true;
      if (p.kind == kPost) {
        if (!OwnsWindow(p.hwnd)) continue;  // destroyed meanwhile
        MSG m;
        m.hwnd = p.hwnd;
        m.message = p.msg;
        m.wParam = p.wParam;
        m.lParam = p.lParam;
        m.time = p.time;
        std::lock_guard<std::mutex> lock(mu);
        posted.push_back(m);
        pending.fetch_add(1, std::memory_order_relaxed);
      } else if (p.kind == kSend) {
        SentItem item;
        item.hwnd = p.hwnd;
        item.msg = p.msg;
        item.wParam = p.wParam;
        item.lParam = p.lParam;
        item.conn = c;
        item.seq = p.seq;
        std::lock_guard<std::mutex> lock(mu);
        sentIn.push_back(std::move(item));
        pending.fetch_add(1, std::memory_order_relaxed);
      }
    }
    if (any) lastTraffic = NowNs();
    if (got < 0) conn.seg.reset();  // nonsense indexes: nothing more is read from it
  }

  void DrainOut(OutConn& conn) {
    if (!conn.seg || conn.dead) return;
    Packet p;
    bool any = false;
    while (conn.rep.Pop(&p) > 0) {
      any = true;
      if (p.kind == kReply && awaiting.erase(p.seq)) replies[p.seq] = Reply{p.status, p.result};
    }
    if (any) lastTraffic = NowNs();
  }

  void DrainRings() {
    for (auto& [fd, c] : inConns) DrainIn(c);
    for (auto& [fd, c] : outByFd) DrainOut(*c);
  }

  bool RingsHaveData() {
    for (auto& [fd, c] : inConns) {
      if (c->seg && c->req.HasData()) return true;
    }
    for (auto& [fd, c] : outByFd) {
      if (c->rep.HasData()) return true;
    }
    return false;
  }

  // Raises the sleeping word of every ring this queue consumes; false when
  // something arrived meanwhile (the words are lowered again then).
  bool ArmRings() {
    for (auto& [fd, c] : inConns) {
      if (c->seg) c->req.Arm();
    }
    for (auto& [fd, c] : outByFd) c->rep.Arm();
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (RingsHaveData()) {
      DisarmRings();
      return false;
    }
    return true;
  }

  void DisarmRings() {
    for (auto& [fd, c] : inConns) {
      if (c->seg) c->req.Disarm();
    }
    for (auto& [fd, c] : outByFd) c->rep.Disarm();
  }

  bool LocalWork() {
    return signaled.load(std::memory_order_relaxed) || pending.load(std::memory_order_relaxed) > 0 ||
           gPendingSignals.load(std::memory_order_relaxed) != 0;
  }

  // While messages flow, waits a few microseconds in memory for the next one
  // before going to sleep; true when something came. Spins that keep coming
  // back empty (a peer without a CPU of its own) switch spinning off for a while.
  bool Spin(int timeoutMs) {
    constexpr int64_t kSpinNs = 50000;
    constexpr int64_t kRecentNs = 2000000;
    constexpr int64_t kRestNs = 20000000;
    if (inConns.empty() && outByFd.empty()) return false;
    int64_t now = NowNs();
    if (now - lastTraffic > kRecentNs || !MayRunBesidePeer()) return false;
    if (spinCredit <= 0) {
      if (now < spinRestUntil) return false;
      spinCredit = 1;
    }
    int64_t end = now + (timeoutMs < 0 ? kSpinNs : std::min<int64_t>(kSpinNs, timeoutMs * 1000000ll));
    do {
      for (int i = 0; i < 8; ++i) {
        CpuRelax();
        if (RingsHaveData()) {
          spinCredit = std::min(spinCredit + 1, 16);
          return true;
        }
      }
      if (LocalWork()) return true;
      // A peer woken by us often waits for this very CPU: let it have it.
      sched_yield();
    } while (NowNs() < end);
    --spinCredit;
    if (spinCredit <= 0) spinRestUntil = NowNs() + kRestNs;
    return false;
  }

  void ReadIncoming(int fd, uint32_t events) {
    auto it = inConns.find(fd);
    if (it == inConns.end()) return;
    std::shared_ptr<InConn> conn = it->second;
    const bool hadSegment = conn->seg != nullptr;
    const bool finished = ReadSocket(fd, events, &conn->seg);
    if (!hadSegment && conn->seg) {
      conn->req = RequestRing(*conn->seg);
      conn->rep = ReplyRing(*conn->seg);
    }
    if (finished) CloseInConn(fd);
  }

  void ReadReplies(int fd, uint32_t events) {
    auto it = outByFd.find(fd);
    if (it == outByFd.end()) return;
    std::shared_ptr<OutConn> conn = it->second;
    if (ReadSocket(fd, events, nullptr)) CloseOutConn(conn);
  }

  bool OwnsWindow(HWND hwnd) {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    return it != g.windows.end() && it->second->queue.get() == this;
  }

  // One wait on everything this queue serves, then whatever the rings hold.
  void Pump(int timeoutMs) {
    bool armed = false;
    if (timeoutMs != 0) {
      if (Spin(timeoutMs)) {
        // What came is in memory: the descriptors get their look at least
        // once a millisecond, not once a message.
        if (NowNs() - lastPump < 1000000) {
          DrainRings();
          return;
        }
        timeoutMs = 0;
      } else if (ArmRings()) {
        armed = true;
      } else {
        timeoutMs = 0;
      }
    }
    epoll_event evs[64];
    int n = epoll_wait(epfd, evs, 64, timeoutMs);
    if (armed) DisarmRings();
    lastPump = NowNs();
    for (int i = 0; i < n; ++i) {
      auto kind = static_cast<FdKind>(evs[i].data.u64 >> 32);
      int fd = static_cast<int>(evs[i].data.u64 & 0xFFFFFFFFu);
      uint32_t events = evs[i].events;
      switch (kind) {
        case kWake: {
          uint64_t v;
          if (read(wakeFd, &v, sizeof v) < 0) {
          }
          signaled.store(false);
          break;
        }
        case kListen:
          for (;;) {
            int c = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (c < 0) break;
            auto conn = std::make_shared<InConn>();
            conn->fd = c;
            inConns[c] = conn;
            AddFd(c, kInConn, EPOLLIN);
            ReadIncoming(c, 0);  // its segment usually waits already
          }
          break;
        case kInConn:
          ReadIncoming(fd, events);
          break;
        case kOutConn:
          ReadReplies(fd, events);
          break;
        case kSignal: {
          uint64_t v;
          if (read(gSignalFd, &v, sizeof v) < 0) {
          }
          uint32_t bits = gPendingSignals.exchange(0);
          if (bits & 1u) signals.push_back(SIGTERM);
          if (bits & 2u) signals.push_back(SIGINT);
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
    DrainRings();
  }

  bool TakeSent(SentItem* item) {
    std::lock_guard<std::mutex> lock(mu);
    if (sentIn.empty()) return false;
    *item = std::move(sentIn.front());
    sentIn.pop_front();
    pending.fetch_sub(1, std::memory_order_relaxed);
    return true;
  }

  // Handles every message sent to this thread's windows.
  void HandleSent() {
    SentItem item;
    while (TakeSent(&item)) {
      bool ok = OwnsWindow(item.hwnd);
      LRESULT r = ok ? CallProc(item.hwnd, item.msg, item.wParam, item.lParam) : 0;
      if (item.local) {
        item.local->result = r;
        item.local->status.store(ok ? 1 : 2, std::memory_order_release);
        if (item.local->waiter) item.local->waiter->Wake();
      } else if (item.conn && !item.conn->dead && item.conn->seg) {
        Packet p;
        p.kind = kReply;
        p.seq = item.seq;
        p.hwnd = item.hwnd;
        p.msg = item.msg;
        p.result = r;
        p.status = ok ? kReplyOk : kReplyNoWindow;
        if (item.conn->rep.Push(p, kReplySlots)) {
          if (item.conn->rep.TakeSleeper()) SendWake(item.conn->fd);
        } else {
          CloseInConn(item.conn->fd);  // a sender with that many sends open is broken
        }
      }
      item = SentItem();
    }
  }

  void DeliverSignals() {
    while (!signals.empty()) {
      int sig = signals.front();
      signals.pop_front();
      if (closeHandler) {
        auto h = closeHandler;
        h(sig);
      }
    }
  }

  static bool Matches(const MSG& m, HWND hwnd, UINT fmin, UINT fmax) {
    if (hwnd != 0 && m.hwnd != hwnd) return false;
    if (fmin == 0 && fmax == 0) return true;
    return m.message >= fmin && m.message <= fmax;
  }

  bool TakePosted(MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove) {
    std::lock_guard<std::mutex> lock(mu);
    for (auto it = posted.begin(); it != posted.end(); ++it) {
      if (!Matches(*it, hwnd, fmin, fmax)) continue;
      if (out) *out = *it;
      if (remove) {
        posted.erase(it);
        pending.fetch_sub(1, std::memory_order_relaxed);
      }
      return true;
    }
    return false;
  }

  bool TakeQuit(MSG* out, UINT fmin, UINT fmax, bool remove) {
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

  bool TakeTimer(MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove) {
    if (timers.empty()) return false;
    int64_t now = NowNs();
    Timer* best = nullptr;
    for (auto& t : timers) {
      if (t.due > now) continue;
      MSG probe;
      probe.hwnd = t.hwnd;
      probe.message = WM_TIMER;
      if (!Matches(probe, hwnd, fmin, fmax)) continue;
      if (!best || t.due < best->due) best = &t;
    }
    if (!best) return false;
    if (out) {
      *out = MSG();
      out->hwnd = best->hwnd;
      out->message = WM_TIMER;
      out->wParam = static_cast<WPARAM>(best->id);
      out->time = GetTickCount();
    }
    if (remove) {
      // Intervals that passed while the queue was busy fold into this one message.
      int64_t step = static_cast<int64_t>(best->interval) * 1000000;
      best->due += step;
      if (best->due <= now) best->due = now + step - (now - best->due) % step;
    }
    return true;
  }

  // Milliseconds until the next timer the filter lets through is due (-1: none).
  int TimerWaitMs(HWND hwnd, UINT fmin, UINT fmax) {
    int64_t first = INT64_MAX;
    for (auto& t : timers) {
      MSG probe;
      probe.hwnd = t.hwnd;
      probe.message = WM_TIMER;
      if (Matches(probe, hwnd, fmin, fmax)) first = std::min(first, t.due);
    }
    if (first == INT64_MAX) return -1;
    int64_t d = first - NowNs();
    if (d <= 0) return 0;
    return static_cast<int>(std::min<int64_t>((d + 999999) / 1000000, 1 << 30));
  }

  // Retrieval shared by GetMessage, PeekMessage and WaitMessage. timeoutMs:
  // 0 looks once, -1 waits for ever.
  struct Busy {
    explicit Busy(int& n) : count(n) { ++count; }
    ~Busy() { --count; }
    int& count;
  };

  bool Retrieve(MSG* out, HWND hwnd, UINT fmin, UINT fmax, bool remove, int timeoutMs) {
    Busy busyHere(busy);
    int64_t deadline = timeoutMs < 0 ? -1 : NowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
    bool first = true;
    for (;;) {
      if (first) {
        first = false;
        // Look at the descriptors now and then even while memory has work, so
        // sockets and other processes are never starved by a busy queue.
        if (timeoutMs == 0 ||
            (pending.load(std::memory_order_relaxed) > 0 && NowNs() - lastPump > 1000000)) {
          Pump(0);
        } else {
          DrainRings();  // memory only: other processes' messages keep their turn
        }
      }
      HandleSent();
      if (!signals.empty()) {
        DeliverSignals();
        continue;
      }
      if (TakePosted(out, hwnd, fmin, fmax, remove)) return true;
      if (TakeQuit(out, fmin, fmax, remove)) return true;
      if (TakeTimer(out, hwnd, fmin, fmax, remove)) return true;
      if (timeoutMs == 0) return false;
      int wait = TimerWaitMs(hwnd, fmin, fmax);
      if (deadline >= 0) {
        int64_t left = deadline - NowNs();
        if (left <= 0) return false;
        int leftMs = static_cast<int>(std::min<int64_t>((left + 999999) / 1000000, 1 << 30));
        wait = wait < 0 ? leftMs : std::min(wait, leftMs);
      }
      Pump(wait);
    }
  }

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
      Pump(wait);
    }
  }

  // Thread exit: windows die with their thread, waiting senders are released.
  void Shutdown();
};

struct QueueHolder {
  std::shared_ptr<Queue> q;
  ~QueueHolder() {
    if (q) q->Shutdown();
  }
};

thread_local QueueHolder tQueue;

// Handles are only unique within a session, so the windows of an ended one
// leave the table before any lookup in the new one could mistake them for its
// own. Their queues drop their timers and messages when their thread next
// asks for its queue.
void ForgetWindowsOfEndedSession(Globals& g, uint32_t generation) {
  std::lock_guard<std::mutex> lock(g.mu);
  if (g.generation.load() == generation) return;
  std::erase_if(g.windows, [&](const auto& kv) {
    return !kv.second->queue || kv.second->queue->generation != generation;
  });
  g.foreground = 0;
  g.generation.store(generation, std::memory_order_release);
}

// A queue serves one session: once the session changes, its windows, timers,
// messages and listening socket belong to a desktop that is gone, and the
// thread starts over with an empty queue in the new one.
// A queue still in use further up the stack (a handler called from its wait)
// serves on until that wait returns.
void DropQueueOfEndedSession() {
  if (tQueue.q && tQueue.q->busy == 0 && tQueue.q->generation != SessionGeneration()) {
    std::shared_ptr<Queue> old = std::move(tQueue.q);
    old->Shutdown();
  }
}

Queue* MyQueueIfAny() {
  DropQueueOfEndedSession();
  return tQueue.q.get();
}

Queue& MyQueue() {
  DropQueueOfEndedSession();
  if (!tQueue.q) {
    tQueue.q = std::make_shared<Queue>();
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    g.queues[tQueue.q->tid] = tQueue.q;
  }
  return *tQueue.q;
}

std::shared_ptr<Window> FindWindow(HWND hwnd) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  auto it = g.windows.find(hwnd);
  return it == g.windows.end() ? nullptr : it->second;
}

// FindWindow for the calls that report an unknown window through the last error.
std::shared_ptr<Window> FindWindowOrFail(HWND hwnd) {
  auto w = FindWindow(hwnd);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

std::mutex gHookMu;
std::function<void(HWND, UINT)> gChangeHook;
std::function<bool(const MSG*)> gTranslateHook;

void NotifyChange(HWND hwnd, UINT change) {
  std::function<void(HWND, UINT)> hook;
  {
    std::lock_guard<std::mutex> lock(gHookMu);
    hook = gChangeHook;
  }
  if (hook) hook(hwnd, change);
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<WNDPROC> proc;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it == g.windows.end()) return 0;
    proc = it->second->proc;
  }
  if (!proc || !*proc) return DefWindowProc(hwnd, msg, wParam, lParam);
  return (*proc)(hwnd, msg, wParam, lParam);
}

void UpdateEntry(const std::shared_ptr<Window>& w) {
  Queue* q = w->queue.get();
  if (!q || !q->session) return;
  Entry e;
  e.procId = q->session->procId;
  e.queueId = q->queueId;
  e.pid = static_cast<uint32_t>(getpid());
  e.tid = q->tid;
  e.top = w->parent == 0;
  WriteEntry(*q->session, w->hwnd, e);
}

// Removes a window from every table without sending it anything.
void ForgetWindow(HWND hwnd) {
  std::shared_ptr<Window> w;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it == g.windows.end()) return;
    w = it->second;
    g.windows.erase(it);
    if (w->parent) {
      auto p = g.windows.find(w->parent);
      if (p != g.windows.end()) std::erase(p->second->children, hwnd);
    }
    if (g.foreground == hwnd) g.foreground = 0;
  }
  Queue* q = w->queue.get();
  if (q) {
    std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd; });
    std::lock_guard<std::mutex> lock(q->mu);
    size_t before = q->posted.size();
    std::erase_if(q->posted, [&](const MSG& m) { return m.hwnd == hwnd; });
    q->pending.fetch_sub(before - q->posted.size(), std::memory_order_relaxed);
    if (q->session) unlink(EntryPath(*q->session, hwnd).c_str());
  }
  if (q) {
    // Senders that kept this window's queue at hand look the entry up again.
    for (auto& [fd, c] : q->inConns) {
      if (c->seg) A(c->seg->l->windowsGone).fetch_add(1, std::memory_order_release);
    }
  }
}

void Queue::Shutdown() {
  std::deque<SentItem> left;
  {
    std::lock_guard<std::mutex> lock(mu);
    alive = false;
    left.swap(sentIn);
    posted.clear();
    pending.store(0);
  }
  for (auto& item : left) {
    if (item.local) {
      item.local->status.store(2, std::memory_order_release);
      if (item.local->waiter) item.local->waiter->Wake();
    }
  }
  std::vector<HWND> mine;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    for (auto& [h, w] : g.windows) {
      if (w->queue.get() == this) mine.push_back(h);
    }
    g.queues.erase(tid);
  }
  for (HWND h : mine) ForgetWindow(h);
  {
    std::lock_guard<std::mutex> lock(gSignalMu);
    if (gSignalQueue.get() == this) {
      signal(SIGTERM, SIG_DFL);
      signal(SIGINT, SIG_DFL);
      gSignalQueue.reset();
    }
  }
  for (auto& [fd, c] : inConns) {
    c->dead = true;
    close(fd);
  }
  inConns.clear();
  for (auto& [fd, c] : outByFd) CloseOutSocket(*c);
  outByFd.clear();
  outConns.clear();
  postTargets.clear();
  if (listenFd >= 0) {
    close(listenFd);
    unlink(listenPath.c_str());
    listenFd = -1;
  }
  watched.clear();
  closeHandler = nullptr;
}

// A posted or sent message as it travels to another process, stamped now.
Packet MessagePacket(PacketKind kind, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Packet p;
  p.kind = kind;
  p.hwnd = hwnd;
  p.msg = msg;
  p.wParam = wParam;
  p.lParam = lParam;
  p.time = GetTickCount();
  return p;
}

// Posts to a window of another process (or a stale entry of ours). Never
// waits: a receiver that leaves kPostQuota posts unread refuses the next.
bool PostForeign(Session& s, HWND hwnd, const Entry& e, UINT msg, WPARAM wParam,
                 LPARAM lParam) {
  Queue& q = MyQueue();
  // With a live connection to its queue the liveness lock need not be asked:
  // the connection's socket tells when the peer is gone.
  auto oc = q.outConns.find(e.queueId);
  bool connected = oc != q.outConns.end() && !oc->second->dead;
  if (e.procId == s.procId || (!connected && !ProcessAlive(s, e.procId))) {
    if (e.procId != s.procId) ForgetDeadEntry(s, hwnd, e);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  Packet p = MessagePacket(kPost, hwnd, msg, wParam, lParam);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto c = q.Connect(s, e.queueId);
    if (!c) break;
    if (q.PeerGone(*c)) continue;  // a cached connection whose peer went away: try a fresh one
    if (q.PushPost(c, p)) {
      // Kept for the next post when the entry still stands after the count
      // was read: a window destroyed later loses its entry first, then counts.
      uint32_t gone = A(c->seg->l->windowsGone).load(std::memory_order_acquire);
      Entry again;
      if (ReadEntry(s, hwnd, &again) && again.queueId == e.queueId) {
        if (q.postTargets.size() > 4096) q.postTargets.clear();
        q.postTargets[hwnd] = Queue::PostTarget{&s, c, gone};
      }
      return true;
    }
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return false;
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return false;
}

// A post to a foreign window this thread posted to before, while nothing says
// the window or its queue went away. Answers false when it cannot tell.
bool PostKnownForeign(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool* posted) {
  Queue& q = MyQueue();
  auto it = q.postTargets.find(hwnd);
  if (it == q.postTargets.end()) return false;
  std::shared_ptr<OutConn> c = it->second.conn;
  if (it->second.session != &CurrentSession() || c->dead || !c->seg ||
      A(c->seg->l->windowsGone).load(std::memory_order_acquire) != it->second.windowsGone) {
    q.postTargets.erase(it);
    return false;
  }
  if (q.PeerGone(*c)) {  // closing the connection forgot its targets
    q.postTargets.erase(hwnd);
    return false;
  }
  *posted = q.PushPost(c, MessagePacket(kPost, hwnd, msg, wParam, lParam));
  if (!*posted) SetLastError(ERROR_NOT_ENOUGH_QUOTA);
  return true;
}

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
  DIR* d = opendir(s.msgDir.c_str());
  if (!d) return;
  std::vector<std::pair<HWND, Entry>> found;
  while (dirent* de = readdir(d)) {
    const char* n = de->d_name;
    if (n[0] != 'w' || strlen(n) != 9) continue;
    uint32_t hwnd = 0;
    if (!ParseNum(n + 1, n + 9, 16, &hwnd)) continue;
    Entry e;
    if (!ReadEntry(s, hwnd, &e) || !e.top) continue;
    found.emplace_back(hwnd, e);
  }
  closedir(d);
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [h, e] : found) f(s, h, e);
}

// Sends to a window of another process and waits for the answer.
LRESULT SendForeign(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
                    bool* ok) {
  *ok = false;
  Queue& q = MyQueue();
  Packet p = MessagePacket(kSend, hwnd, msg, wParam, lParam);
  std::shared_ptr<OutConn> c;
  // Fast path: a live connection to the queue we reached this window through before.
  if (auto t = q.sendTargets.find(hwnd); t != q.sendTargets.end()) {
    auto oc = q.outConns.find(t->second);
    if (oc != q.outConns.end() && !oc->second->dead) c = oc->second;
  }
  if (!c) {
    Session& s = CurrentSession();
    Entry e;
    if (!ReadEntry(s, hwnd, &e) || e.procId == s.procId || !ProcessAlive(s, e.procId)) {
      if (e.procId != 0 && e.procId != s.procId) ForgetDeadEntry(s, hwnd, e);
      q.sendTargets.erase(hwnd);
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    c = q.Connect(s, e.queueId);
    if (!c) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (q.sendTargets.size() > 4096) q.sendTargets.clear();
    q.sendTargets[hwnd] = e.queueId;
  }
  if (++q.nextSeq == 0) ++q.nextSeq;
  p.seq = q.nextSeq;
  q.awaiting.insert(p.seq);
  if (!q.PushRequest(*c, p, kRequestSlots)) {
    q.awaiting.erase(p.seq);
    if (!c->dead) q.CloseOutConn(c);
    q.sendTargets.erase(hwnd);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  uint32_t seq = p.seq;
  bool answered = q.WaitFor([&] { return q.replies.count(seq) != 0; }, [&] { return c->dead; },
                            timeoutMs);
  if (!answered) {
    q.awaiting.erase(seq);
    SetLastError(c->dead ? ERROR_INVALID_WINDOW_HANDLE : ERROR_TIMEOUT);
    return 0;
  }
  Reply r = q.replies[seq];
  q.replies.erase(seq);
  if (r.status != kReplyOk) {
    q.sendTargets.erase(hwnd);
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
    Queue& me = MyQueue();
    auto state = std::make_shared<SendState>();
    state->waiter = tQueue.q;
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
    bool done = me.WaitFor([&] { return state->status.load(std::memory_order_acquire) == 1; },
                           [&] { return state->status.load(std::memory_order_acquire) == 2; },
                           timeoutMs);
    if (!done) {
      SetLastError(state->status.load() == 2 ? ERROR_INVALID_WINDOW_HANDLE : ERROR_TIMEOUT);
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

uint32_t MakeLParam(int32_t lo, int32_t hi) {
  return (static_cast<uint32_t>(hi & 0xFFFF) << 16) | static_cast<uint32_t>(lo & 0xFFFF);
}

bool DestroyWindowImpl(HWND hwnd) {
  std::vector<HWND> children;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it == g.windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (it->second->queue.get() != MyQueueIfAny()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    if (it->second->destroying) return true;
    it->second->destroying = true;
  }
  NotifyChange(hwnd, WM_DESTROY);
  CallProc(hwnd, WM_DESTROY, 0, 0);
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it != g.windows.end()) children = it->second->children;
  }
  for (HWND c : children) DestroyWindowImpl(c);
  CallProc(hwnd, WM_NCDESTROY, 0, 0);
  ForgetWindow(hwnd);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Classes

bool RegisterClass(const WNDCLASS& wc) {
  if (wc.lpszClassName.empty() || wc.cbWndExtra < 0 || wc.cbWndExtra > 4096) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  auto key = LowerAscii(wc.lpszClassName);
  if (g.classes.count(key)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  auto c = std::make_shared<WindowClass>();
  c->wc = wc;
  g.classes[key] = c;
  return true;
}

bool UnregisterClass(const std::string& className) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  auto it = g.classes.find(LowerAscii(className));
  if (it == g.classes.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  for (auto& [h, w] : g.windows) {
    if (w->cls == it->second) {
      SetLastError(ERROR_ACCESS_DENIED);  // still in use
      return false;
    }
  }
  g.classes.erase(it);
  return true;
}

bool GetClassInfo(const std::string& className, WNDCLASS* wc) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  auto it = g.classes.find(LowerAscii(className));
  if (it == g.classes.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (wc) *wc = it->second->wc;
  return true;
}

// ---------------------------------------------------------------------------
// Windows

HWND CreateWindowEx(DWORD exStyle, const std::string& className, const std::string& windowName,
                    DWORD style, int32_t x, int32_t y, int32_t width, int32_t height, HWND parent,
                    int32_t id) {
  Queue& q = MyQueue();
  std::shared_ptr<WindowClass> cls;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.classes.find(LowerAscii(className));
    if (it == g.classes.end()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return 0;
    }
    cls = it->second;
    if (parent != 0 && !g.windows.count(parent)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  }
  if (!q.EnsureListening()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  Session& s = *q.session;
  HWND hwnd = AllocId(s);
  if (hwnd == 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  auto w = std::make_shared<Window>();
  w->hwnd = hwnd;
  w->cls = cls;
  if (cls->wc.lpfnWndProc) w->proc = std::make_shared<WNDPROC>(cls->wc.lpfnWndProc);
  w->queue = tQueue.q;
  w->style = style;
  w->exStyle = exStyle;
  w->id = id;
  w->extra.assign(static_cast<size_t>(cls->wc.cbWndExtra), 0);
  w->parent = parent;
  w->text = windowName;
  w->rect = RECT{x, y, x + width, y + height};
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto p = g.windows.find(parent);
    if (parent != 0 && p == g.windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (parent != 0) p->second->children.push_back(hwnd);
    g.windows[hwnd] = w;
  }
  UpdateEntry(w);
  if (CallProc(hwnd, WM_NCCREATE, 0, 0) == 0 || CallProc(hwnd, WM_CREATE, 0, 0) == -1) {
    DestroyWindowImpl(hwnd);
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  NotifyChange(hwnd, WM_CREATE);
  return hwnd;
}

bool DestroyWindow(HWND hwnd) { return DestroyWindowImpl(hwnd); }

bool IsWindow(HWND hwnd) {
  if (hwnd == 0 || hwnd == HWND_BROADCAST) return false;
  if (FindWindow(hwnd)) return true;
  Session& s = CurrentSession();
  Entry e;
  if (!ReadEntry(s, hwnd, &e)) return false;
  if (e.procId == s.procId) return false;  // one of ours that is gone
  if (!ProcessAlive(s, e.procId)) {
    ForgetDeadEntry(s, hwnd, e);
    return false;
  }
  return true;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  if (auto w = FindWindow(hwnd)) {
    if (processId) *processId = GetCurrentProcessId();
    return w->queue ? w->queue->tid : 0;
  }
  if (processId) *processId = 0;
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  Entry e;
  if (!ReadEntry(CurrentSession(), hwnd, &e)) return 0;
  if (processId) *processId = e.pid;
  return e.tid;
}

HWND GetParent(HWND hwnd) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(G().mu);
  return w->parent;
}

HWND SetParent(HWND hwnd, HWND newParent) {
  std::shared_ptr<Window> w;
  HWND old = 0;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it == g.windows.end() || (newParent != 0 && !g.windows.count(newParent))) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    // A window cannot become a child of itself or of one of its descendants.
    for (HWND a = newParent; a != 0;) {
      if (a == hwnd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      auto ai = g.windows.find(a);
      a = ai == g.windows.end() ? 0 : ai->second->parent;
    }
    w = it->second;
    old = w->parent;
    if (old != 0) {
      auto p = g.windows.find(old);
      if (p != g.windows.end()) std::erase(p->second->children, hwnd);
    }
    if (newParent != 0) g.windows[newParent]->children.push_back(hwnd);
    w->parent = newParent;
  }
  if ((old == 0) != (newParent == 0)) UpdateEntry(w);
  NotifyChange(hwnd, WM_NULL);
  SetLastError(ERROR_SUCCESS);
  return old;
}

std::vector<HWND> GetChildWindows(HWND hwnd) {
  auto w = FindWindow(hwnd);
  if (!w) return {};
  std::lock_guard<std::mutex> lock(G().mu);
  return w->children;
}

std::vector<HWND> GetTopLevelWindows() {
  Globals& g = G();
  std::vector<HWND> out;
  {
    std::lock_guard<std::mutex> lock(g.mu);
    for (auto& [h, w] : g.windows) {
      if (w->parent == 0) out.push_back(h);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

LONG GetWindowLong(HWND hwnd, int index) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(G().mu);
  switch (index) {
    case GWL_STYLE: return static_cast<LONG>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG>(w->exStyle);
    case GWL_ID: return w->id;
    case GWL_USERDATA: return w->userData;
    default: break;
  }
  if (index < 0 || static_cast<size_t>(index) + 4 > w->extra.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  LONG v;
  memcpy(&v, w->extra.data() + index, 4);
  return v;
}

LONG SetWindowLong(HWND hwnd, int index, LONG value) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(G().mu);
  LONG old;
  switch (index) {
    case GWL_STYLE:
      old = static_cast<LONG>(w->style);
      w->style = static_cast<DWORD>(value);
      return old;
    case GWL_EXSTYLE:
      old = static_cast<LONG>(w->exStyle);
      w->exStyle = static_cast<DWORD>(value);
      return old;
    case GWL_ID:
      old = w->id;
      w->id = value;
      return old;
    case GWL_USERDATA:
      old = w->userData;
      w->userData = value;
      return old;
    default: break;
  }
  if (index < 0 || static_cast<size_t>(index) + 4 > w->extra.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  memcpy(&old, w->extra.data() + index, 4);
  memcpy(w->extra.data() + index, &value, 4);
  return old;
}

WNDPROC SetWindowProc(HWND hwnd, WNDPROC proc) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return nullptr;
  std::lock_guard<std::mutex> lock(G().mu);
  WNDPROC old = w->proc ? *w->proc : WNDPROC();
  w->proc = std::make_shared<WNDPROC>(std::move(proc));
  return old;
}

WNDPROC GetWindowProc(HWND hwnd) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return nullptr;
  std::lock_guard<std::mutex> lock(G().mu);
  return w->proc ? *w->proc : WNDPROC();
}

LRESULT CallWindowProc(const WNDPROC& proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!proc) return DefWindowProc(hwnd, msg, wParam, lParam);
  return proc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_NCCREATE: return 1;
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_QUERYENDSESSION: return 1;
    case WM_SYSCOMMAND:
      switch (static_cast<UINT>(wParam) & 0xFFF0) {
        case SC_CLOSE: SendMessage(hwnd, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(hwnd, SW_MINIMIZE); break;
        case SC_MAXIMIZE: ShowWindow(hwnd, SW_SHOWMAXIMIZED); break;
        case SC_RESTORE: ShowWindow(hwnd, SW_RESTORE); break;
        default: break;
      }
      return 0;
    default: return 0;
  }
}

bool SetWindowText(HWND hwnd, const std::string& text) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return false;
  {
    std::lock_guard<std::mutex> lock(G().mu);
    w->text = text;
  }
  NotifyChange(hwnd, WM_SETTEXT);
  return true;
}

std::string GetWindowText(HWND hwnd) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return {};
  std::lock_guard<std::mutex> lock(G().mu);
  return w->text;
}

bool GetWindowRect(HWND hwnd, RECT* rect) {
  auto w = FindWindow(hwnd);
  if (!w || !rect) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  std::lock_guard<std::mutex> lock(G().mu);
  *rect = w->rect;
  return true;
}

bool GetClientRect(HWND hwnd, RECT* rect) {
  // The client area is the whole window, placed at the origin.
  if (!GetWindowRect(hwnd, rect)) return false;
  *rect = RECT{0, 0, rect->right - rect->left, rect->bottom - rect->top};
  return true;
}

bool MoveWindow(HWND hwnd, int32_t x, int32_t y, int32_t width, int32_t height, bool) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return false;
  bool moved, sized;
  {
    std::lock_guard<std::mutex> lock(G().mu);
    RECT old = w->rect;
    w->rect = RECT{x, y, x + width, y + height};
    moved = old.left != x || old.top != y;
    sized = old.right - old.left != width || old.bottom - old.top != height;
  }
  if (moved) NotifyChange(hwnd, WM_MOVE);
  if (sized) NotifyChange(hwnd, WM_SIZE);
  if (moved) SendMessage(hwnd, WM_MOVE, 0, static_cast<LPARAM>(MakeLParam(x, y)));
  if (sized) SendMessage(hwnd, WM_SIZE, 0, static_cast<LPARAM>(MakeLParam(width, height)));
  return true;
}

bool ShowWindow(HWND hwnd, int cmd) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return false;
  bool was, now, wasIconic, nowIconic;
  {
    std::lock_guard<std::mutex> lock(G().mu);
    was = (w->style & WS_VISIBLE) != 0;
    wasIconic = w->iconic;
    switch (cmd) {
      case SW_HIDE: w->style &= ~WS_VISIBLE; break;
      case SW_SHOWMINIMIZED:
      case SW_MINIMIZE:
        w->style |= WS_VISIBLE;
        w->iconic = true;
        break;
      case SW_SHOWNORMAL:
      case SW_RESTORE:
      case SW_SHOWMAXIMIZED:
        w->style |= WS_VISIBLE;
        w->iconic = false;
        break;
      default: w->style |= WS_VISIBLE; break;
    }
    now = (w->style & WS_VISIBLE) != 0;
    nowIconic = w->iconic;
  }
  if (was != now || wasIconic != nowIconic) NotifyChange(hwnd, WM_SHOWWINDOW);
  if (was != now) SendMessage(hwnd, WM_SHOWWINDOW, now ? 1 : 0, 0);
  return was;
}

bool IsWindowVisible(HWND hwnd) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  for (HWND h = hwnd; h != 0;) {
    auto it = g.windows.find(h);
    if (it == g.windows.end() || !(it->second->style & WS_VISIBLE)) return false;
    h = it->second->parent;
  }
  return hwnd != 0;
}

bool IsIconic(HWND hwnd) {
  auto w = FindWindow(hwnd);
  if (!w) return false;
  std::lock_guard<std::mutex> lock(G().mu);
  return w->iconic;
}

bool EnableWindow(HWND hwnd, bool enable) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return false;
  bool wasDisabled;
  {
    std::lock_guard<std::mutex> lock(G().mu);
    wasDisabled = (w->style & WS_DISABLED) != 0;
    if (enable) {
      w->style &= ~WS_DISABLED;
    } else {
      w->style |= WS_DISABLED;
    }
  }
  if (wasDisabled == enable) SendMessage(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
  return wasDisabled;
}

bool IsWindowEnabled(HWND hwnd) {
  auto w = FindWindow(hwnd);
  if (!w) return false;
  std::lock_guard<std::mutex> lock(G().mu);
  return (w->style & WS_DISABLED) == 0;
}

bool SetForegroundWindow(HWND hwnd) {
  if (!FindWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  std::lock_guard<std::mutex> lock(G().mu);
  G().foreground = hwnd;
  return true;
}

// ---------------------------------------------------------------------------
// Messages

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hwnd == 0) return PostThreadMessage(GetCurrentThreadId(), msg, wParam, lParam);
  if (hwnd == HWND_BROADCAST) {
    ForEachTopLevel([&](Session& s, HWND h, const Entry& e) {
      if (auto w = FindWindow(h)) {
        PostLocal(w, msg, wParam, lParam);
      } else {
        PostForeign(s, h, e, msg, wParam, lParam);
      }
    });
    return true;
  }
  if (auto w = FindWindow(hwnd)) return PostLocal(w, msg, wParam, lParam);
  bool posted = false;
  if (PostKnownForeign(hwnd, msg, wParam, lParam, &posted)) return posted;
  Session& s = CurrentSession();
  Entry e;
  if (!ReadEntry(s, hwnd, &e)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return PostForeign(s, hwnd, e, msg, wParam, lParam);
}

bool PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Queue> q;
  if (threadId == GetCurrentThreadId()) {
    MyQueue();
    q = tQueue.q;
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
  Queue& q = MyQueue();
  q.quit = true;
  q.quitCode = exitCode;
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
  MyQueue().Retrieve(&m, hwnd, filterMin, filterMax, true, -1);
  if (msg) *msg = m;
  return m.message != WM_QUIT;
}

bool PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  return MyQueue().Retrieve(msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, 0);
}

bool TranslateMessage(const MSG* msg) {
  {
    std::function<bool(const MSG*)> hook;
    {
      std::lock_guard<std::mutex> lock(gHookMu);
      hook = gTranslateHook;
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

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER) {
    if (Queue* q = MyQueueIfAny()) {
      for (auto& t : q->timers) {
        if (t.hwnd == msg->hwnd && static_cast<WPARAM>(t.id) == msg->wParam && t.proc) {
          TIMERPROC proc = t.proc;
          proc(msg->hwnd, WM_TIMER, t.id, GetTickCount());
          return 0;
        }
      }
    }
  }
  if (msg->hwnd == 0) return 0;
  return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

bool WaitMessage() { return MyQueue().Retrieve(nullptr, 0, 0, 0, false, -1); }

bool WaitMessageTimeout(DWORD timeoutMs) {
  int t = timeoutMs == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(timeoutMs, 1u << 30));
  if (t == 0) return HasPendingMessages();
  return MyQueue().Retrieve(nullptr, 0, 0, 0, false, t);
}

bool HasPendingMessages() { return MyQueue().Retrieve(nullptr, 0, 0, 0, false, 0); }

// ---------------------------------------------------------------------------
// Timers

uintptr_t SetTimer(HWND hwnd, uintptr_t id, UINT elapseMs, TIMERPROC proc) {
  Queue& q = MyQueue();
  if (hwnd != 0) {
    auto w = FindWindow(hwnd);
    if (!w || w->queue.get() != &q) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  } else {
    bool known = false;
    for (auto& t : q.timers) known |= t.hwnd == 0 && t.id == id && id != 0;
    if (!known) {
      id = q.nextThreadTimer++;
      if (id == 0) id = q.nextThreadTimer++;
    }
  }
  if (elapseMs < 1) elapseMs = 1;
  int64_t due = NowNs() + static_cast<int64_t>(elapseMs) * 1000000;
  for (auto& t : q.timers) {
    if (t.hwnd == hwnd && t.id == id) {
      t.interval = elapseMs;
      t.due = due;
      t.proc = std::move(proc);
      return hwnd != 0 ? (id != 0 ? id : 1) : id;
    }
  }
  q.timers.push_back(Timer{hwnd, id, elapseMs, due, std::move(proc)});
  return hwnd != 0 ? (id != 0 ? id : 1) : id;
}

bool KillTimer(HWND hwnd, uintptr_t id) {
  Queue* q = MyQueueIfAny();
  if (!q) return false;
  auto before = q->timers.size();
  std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (q->timers.size() == before) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Registered messages
//
// <session>/atoms holds the names in order of registration, each as a 2-byte
// length and its bytes; the n-th name has id 0xC000 + n. Appends happen under
// an exclusive flock, so every process assigns the same id to a name.

UINT RegisterWindowMessage(const std::string& name) {
  constexpr size_t kMaxName = 255;
  constexpr UINT kFirst = 0xC000;
  constexpr size_t kMaxCount = 0x4000;
  if (name.empty() || name.size() > kMaxName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Globals& g = G();
  std::string key = LowerAscii(name);
  const std::string& dir = SessionDir();
  std::lock_guard<std::mutex> lock(g.atomMu);
  if (g.atomSession != dir) {
    g.atoms.clear();
    g.atomSession = dir;
  }
  if (auto it = g.atoms.find(key); it != g.atoms.end()) return it->second;

  int fd = open((dir + "/atoms").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  FlockRetry(fd, LOCK_EX);
  std::string data;
  char buf[65536];
  for (off_t off = 0;;) {
    ssize_t n = pread(fd, buf, sizeof buf, off);
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
    off += n;
  }
  // Read every well-formed record; a torn tail (a writer that died mid-append)
  // is cut off before the new name goes in.
  size_t pos = 0;
  size_t count = 0;
  UINT found = 0;
  while (pos + 2 <= data.size() && count < kMaxCount) {
    size_t len = static_cast<uint8_t>(data[pos]) | (static_cast<size_t>(static_cast<uint8_t>(data[pos + 1])) << 8);
    if (len == 0 || len > kMaxName || pos + 2 + len > data.size()) break;
    std::string n = LowerAscii(data.substr(pos + 2, len));
    UINT id = static_cast<UINT>(kFirst + count);
    g.atoms[n] = id;
    if (n == key) found = id;
    pos += 2 + len;
    ++count;
  }
  if (found == 0) {
    if (count >= kMaxCount) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else {
      std::string rec;
      rec += static_cast<char>(name.size() & 0xFF);
      rec += static_cast<char>(name.size() >> 8);
      rec += name;
      if (ftruncate(fd, static_cast<off_t>(pos)) == 0 &&
          pwrite(fd, rec.data(), rec.size(), static_cast<off_t>(pos)) ==
              static_cast<ssize_t>(rec.size())) {
        found = static_cast<UINT>(kFirst + count);
        g.atoms[key] = found;
      } else {
        SetLastError(ERROR_ACCESS_DENIED);
      }
    }
  }
  FlockRetry(fd, LOCK_UN);
  close(fd);
  return found;
}

// ---------------------------------------------------------------------------
// Watched descriptors

bool WatchFd(int fd, uint32_t events, FdCallback callback) {
  Queue& q = MyQueue();
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
  std::lock_guard<std::mutex> lock(gHookMu);
  gChangeHook = std::move(hook);
}

void SetTranslateMessageHook(std::function<bool(const MSG*)> hook) {
  std::lock_guard<std::mutex> lock(gHookMu);
  gTranslateHook = std::move(hook);
}

void SetCloseRequestHandler(std::function<void(int signal)> handler) {
  Queue& q = MyQueue();
  std::lock_guard<std::mutex> lock(gSignalMu);
  if (gSignalFd < 0) gSignalFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (gSignalQueue && gSignalQueue.get() != &q) {
    epoll_ctl(gSignalQueue->epfd, EPOLL_CTL_DEL, gSignalFd, nullptr);
    gSignalQueue->closeHandler = nullptr;
    gSignalQueue.reset();
  }
  if (!handler) {
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    if (gSignalQueue) epoll_ctl(q.epfd, EPOLL_CTL_DEL, gSignalFd, nullptr);
    gSignalQueue.reset();
    q.closeHandler = nullptr;
    return;
  }
  q.closeHandler = std::move(handler);
  if (!gSignalQueue) {
    q.AddFd(gSignalFd, kSignal, EPOLLIN);
    gSignalQueue = tQueue.q;
  }
  // A handler (not a blocked mask) so the signal is caught whichever thread
  // the kernel picks; it only flags and wakes the queue.
  struct sigaction sa {};
  sa.sa_handler = OnCloseSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

}  // namespace plat
