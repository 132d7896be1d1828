// Owns the session's shared tables: the id counter, this process's liveness
// lock and the window entries. Knows nothing of queues, rings or windows.
#include "platform/msg/MsgSession.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "platform/msg/MsgFork.h"

namespace plat::msgimpl {

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

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case ENOMEM:
    case EMFILE:
    case ENFILE:
    case ENOSPC:
    case EDQUOT:
    case EFBIG:  // a file-size limit met while taking a segment's memory
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

void OpenSession(Session& s, const std::string& dir) {
  s.dir = dir;
  s.msgDir = dir + "/msg";
  // An existing directory is the usual case; a failure shows as the counter failing to open.
  if (mkdir(s.msgDir.c_str(), 0700) == 0) ShareSessionPath(s.msgDir);
  std::string counter = s.msgDir + "/counter";
  s.counterFd = Fds().Open(
      [&] { return open(counter.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, SessionFileMode()); });
  if (s.counterFd >= 0) ShareSessionFile(s.counterFd);
}

// The file lock keeps other processes out; threads of this one share its
// descriptor and so its lock, and take turns on a mutex instead.
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

namespace {

void SweepDeadFiles(Session& s, uint32_t self);

// A file of this process's list, valid for the process that holds the list.
void TakeFilesOver(Session& s) {
  if (s.filesPid != getpid()) {
    s.ownEntries.clear();
    s.ownQueues.clear();
    s.filesPid = getpid();
  }
}

}  // namespace

uint32_t ProcessId(Session& s) {
  uint32_t id = 0;
  {
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.procId != 0) return s.procId;
    id = AllocId(s);
    if (id == 0) return 0;
    // Made under a name of its own and given its final one once locked: a
    // sweeping process never finds a p file whose lock is not taken yet. A
    // child of fork closes its copy at once (MsgFork.h): the lock, which
    // belongs to the open file and not the process, then goes with us alone.
    std::string path = s.msgDir + "/p" + Hex8(id);
    std::string tmp = s.msgDir + "/.p" + Hex8(id);
    int fd = Fds().Open([&] {
      return open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, SessionFileMode());
    });
    if (fd < 0) return 0;
    ShareSessionFile(fd);
    if (FlockRetry(fd, LOCK_EX) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
      Fds().Close(fd);
      unlink(tmp.c_str());
      return 0;
    }
    s.procLockFd = fd;
    s.procId = id;
    s.procPid = getpid();
  }
  SweepDeadFiles(s, id);
  return id;
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

std::string QueuePath(Session& s, uint32_t queueId) { return s.msgDir + "/q" + Hex8(queueId); }

std::string BroadcastPath(Session& s, uint32_t queueId) { return s.msgDir + "/b" + Hex8(queueId); }

void ForgetDeadEntry(Session& s, HWND hwnd, const Entry& e) {
  unlink(EntryPath(s, hwnd).c_str());
  unlink(QueuePath(s, e.queueId).c_str());
  unlink(BroadcastPath(s, e.queueId).c_str());
}

int WriteEntry(Session& s, HWND hwnd, const Entry& e) {
  {
    std::lock_guard<std::mutex> lock(s.filesMu);
    TakeFilesOver(s);
    s.ownEntries.insert(hwnd);
  }
  std::string target = Hex8(e.procId) + "." + Hex8(e.queueId) + "." + std::to_string(e.pid) +
                       "." + std::to_string(e.tid) + "." + (e.top ? "1" : "0");
  std::string path = EntryPath(s, hwnd);
  std::string tmp = s.msgDir + "/.t" + Hex8(hwnd) + "." + std::to_string(getpid());
  unlink(tmp.c_str());
  if (symlink(target.c_str(), tmp.c_str()) != 0) return errno;
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    unlink(tmp.c_str());
    return err;
  }
  return 0;
}

void RemoveEntry(Session& s, HWND hwnd) {
  std::lock_guard<std::mutex> lock(s.filesMu);
  unlink(EntryPath(s, hwnd).c_str());
  TakeFilesOver(s);
  s.ownEntries.erase(hwnd);
}

void OwnQueueFile(Session& s, uint32_t queueId, bool own) {
  std::lock_guard<std::mutex> lock(s.filesMu);
  TakeFilesOver(s);
  if (own) {
    s.ownQueues.insert(queueId);
  } else {
    s.ownQueues.erase(queueId);
  }
}

// The liveness file goes last: until then the entries name a live process.
void RemoveOwnFiles(Session& s) {
  {
    std::lock_guard<std::mutex> lock(s.filesMu);
    if (s.filesPid == getpid()) {
      for (HWND h : s.ownEntries) unlink(EntryPath(s, h).c_str());
      for (uint32_t q : s.ownQueues) {
        unlink(QueuePath(s, q).c_str());
        unlink(BroadcastPath(s, q).c_str());
      }
      s.ownEntries.clear();
      s.ownQueues.clear();
    }
  }
  std::lock_guard<std::mutex> lock(s.mu);
  if (s.procId != 0 && s.procPid == getpid()) unlink((s.msgDir + "/p" + Hex8(s.procId)).c_str());
}

namespace {

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

}  // namespace

bool ReadEntry(Session& s, HWND hwnd, Entry* e) {
  char buf[128];
  ssize_t n = readlink(EntryPath(s, hwnd).c_str(), buf, sizeof buf);
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf)) return false;
  return ParseEntry(buf, static_cast<size_t>(n), e);
}

std::vector<std::pair<HWND, Entry>> TopLevelEntries(Session& s) {
  std::vector<std::pair<HWND, Entry>> found;
  DIR* d = opendir(s.msgDir.c_str());
  if (!d) return found;
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
  return found;
}

namespace {

constexpr int64_t kTempAgeS = 60;  // a temporary file older than this was left by a dead writer
constexpr int64_t kQueueAgeS = 5;  // a socket this old that refuses has no queue behind it

bool OlderThan(const std::string& path, int64_t seconds) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && time(nullptr) - st.st_ctime > seconds;
}

// Whether nothing listens on a queue socket. A queue binds before it listens,
// so only a socket some seconds old counts.
bool QueueRefuses(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path || !OlderThan(path, kQueueAgeS)) return false;
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  bool refused = r != 0 && errno == ECONNREFUSED;
  close(fd);
  return refused;
}

// Removes what dead processes left: their liveness files, their window
// entries with their queue sockets, queue sockets no live window names that
// nothing listens on, and temporary files of dead writers. self: our own id.
void SweepDeadFiles(Session& s, uint32_t self) {
  std::vector<std::string> names;
  if (DIR* d = opendir(s.msgDir.c_str())) {
    while (dirent* de = readdir(d)) names.emplace_back(de->d_name);
    closedir(d);
  }
  std::unordered_map<uint32_t, bool> alive;
  auto isAlive = [&](uint32_t procId) {
    auto it = alive.find(procId);
    if (it == alive.end()) it = alive.emplace(procId, ProcessAlive(s, procId)).first;
    return it->second;
  };
  auto idOf = [](const std::string& n, char kind, uint32_t* id) {
    return n.size() == 9 && n[0] == kind && ParseNum(n.data() + 1, n.data() + 9, 16, id);
  };
  uint32_t id = 0;
  for (const auto& n : names) {
    if (idOf(n, 'p', &id) && id != self && !isAlive(id)) unlink((s.msgDir + "/" + n).c_str());
  }
  std::unordered_set<uint32_t> named;  // queues of live windows
  for (const auto& n : names) {
    Entry e;
    if (!idOf(n, 'w', &id) || !ReadEntry(s, id, &e)) continue;
    if (e.procId == self || isAlive(e.procId)) {
      named.insert(e.queueId);
    } else {
      ForgetDeadEntry(s, id, e);
    }
  }
  for (const auto& n : names) {
    std::string path = s.msgDir + "/" + n;
    if (idOf(n, 'q', &id) || idOf(n, 'b', &id)) {
      if (!named.count(id) && QueueRefuses(path)) unlink(path.c_str());
    } else if ((n.rfind(".p", 0) == 0 || n.rfind(".t", 0) == 0) && OlderThan(path, kTempAgeS)) {
      unlink(path.c_str());
    }
  }
}

}  // namespace

}  // namespace plat::msgimpl
