// Kernel objects of the desktop session.
//
// A named object lives as small files in <session>/k/. Two flock(2) locks give
// it cross-process semantics that die with the process holding them:
//   "<kind>.<name>.open"  every open handle holds a shared lock on its own file
//                         description; nobody holding one means the name is free.
//   "<kind>.<name>.own"   (mutex) the owner holds an exclusive lock; byte 0 is
//                         '1' while owned, so a new owner that finds '1' knows
//                         the previous one died holding it (abandoned).
//   "<kind>.<name>.state" (event) byte 0 is the signalled state, byte 1 the
//                         manual-reset flag.
// Creation and opening run under an exclusive lock on "<session>/k/guard" so the
// "does anybody hold it open" probe and taking our own shared lock are atomic.
#include "platform/kernel/Kernel.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/kernel/FileLock.h"
#include "platform/kernel/KernelState.h"
#include "platform/kernel/Lifecycle.h"

namespace plat {

int FlockRetry(int fd, int op) {
  int r;
  do {
    r = flock(fd, op);
  } while (r != 0 && errno == EINTR);
  return r;
}

namespace kernelimpl {

namespace {
// For a descriptor locked only for a moment: a child forked meanwhile shares
// its description, so the lock is given back explicitly rather than with the
// last copy. (A child closes the copies of its parent's objects.)
void Release(int fd) {
  if (fd < 0) return;
  flock(fd, LOCK_UN);
  close(fd);
}

StateOwner<State> gState{Layer::Kernel};
}  // namespace

struct KObject {
  enum Kind { kMutex, kEvent } kind;
  explicit KObject(Kind k) : kind(k) {}
  virtual ~KObject() {
    if (fileFd >= 0) close(fileFd);
    if (openFd >= 0) close(openFd);
  }
  std::mutex mu;
  bool named = false;
  int openFd = -1;  // "<kind>.<name>.open", shared-locked while this handle is open
  int fileFd = -1;  // "<kind>.<name>.own" of a mutex, "<kind>.<name>.state" of an event
};

State& St() { return gState.Get(); }

State* State::ForChild() {
  for (auto& [h, obj] : handles) {
    // Closed without unlocking: the lock of a shared description is the parent's too.
    if (obj->openFd >= 0) close(obj->openFd);
    if (obj->fileFd >= 0) close(obj->fileFd);
  }
  auto* mine = new State;
  mine->sessionDir = sessionDir;
  mine->sessionRefusal = sessionRefusal;
  mine->namedSessionDir = namedSessionDir;
  mine->sessionShared = sessionShared;
  mine->sessionGeneration.store(sessionGeneration.load());
  mine->nextHandle.store(nextHandle.load());
  mine->nextThreadId.store(nextThreadId.load());
  mine->timers.nextId.store(timers.nextId.load());
  return mine;
}

void State::EndSession() {
  std::vector<std::shared_ptr<KObject>> named;  // closed once the lock is let go
  std::lock_guard<std::mutex> lock(handlesMu);
  for (auto it = handles.begin(); it != handles.end();) {
    if (it->second->named) {
      named.push_back(std::move(it->second));
      it = handles.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace kernelimpl

using namespace kernelimpl;

namespace {

thread_local DWORD tLastError = 0;  // per thread, so not part of the state

// What a refused session resolves to: below /dev/null every file operation
// fails (ENOTDIR), so code that did not ask whether the session is usable makes
// nothing anywhere and fails as without a session.
constexpr const char* kRefusedSessionDir = "/dev/null/refused-session";

bool MakeDirs(const std::string& path, mode_t mode = 0700) {
  if (path.empty()) return false;
  std::string cur;
  size_t pos = 0;
  while (pos != std::string::npos) {
    size_t next = path.find('/', pos + 1);
    cur = path.substr(0, next);
    pos = next;
    if (cur.empty() || cur == "/") continue;
    if (mkdir(cur.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// File name part for an object name: letters, digits, '-' and '_' stay, every
// other byte becomes %XX; very long names are shortened with a stable hash.
std::string EncodeName(const std::string& name) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (out.size() > 160) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : name) {
      h ^= c;
      h *= 1099511628211ull;
    }
    char buf[24];
    snprintf(buf, sizeof buf, "#%016llx", static_cast<unsigned long long>(h));
    out = out.substr(0, 140) + buf;
  }
  return out;
}

std::string ObjectDir() {
  std::string dir = SessionDir() + "/k";
  if (mkdir(dir.c_str(), 0700) == 0) ShareSessionPath(dir);
  return dir;
}

int OpenFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, SessionFileMode());
  if (fd >= 0) ShareSessionFile(fd);
  return fd;
}

// Holds the creation guard of the session's object directory.
class Guard {
public:
  explicit Guard(const std::string& dir) {
    FFd = OpenFile(dir + "/guard");
    if (FFd >= 0) FlockRetry(FFd, LOCK_EX);
  }
  ~Guard() { Release(FFd); }
  bool Ok() const { return FFd >= 0; }

private:
  int FFd = -1;
};

// Opens "<base>.open" holding a shared lock. existed tells whether another
// handle (of any process) had it open. Must run under the Guard.
int OpenPresence(const std::string& base, bool* existed) {
  int fd = OpenFile(base + ".open");
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    *existed = false;
  } else {
    *existed = true;
  }
  if (FlockRetry(fd, LOCK_SH) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Opens the files of a named object into Obj while Guard is held:
// "<base>.open" (existed tells whether another handle had it open) and
// "<base><suffix>". False, with ERROR_ACCESS_DENIED, when the guard or a file
// could not be had.
bool OpenObjectFiles(const Guard& guard, KObject& obj, const std::string& base,
                     const char* suffix, bool* existed) {
  if (guard.Ok()) {
    obj.named = true;
    obj.openFd = OpenPresence(base, existed);
    obj.fileFd = OpenFile(base + suffix);
    if (obj.openFd >= 0 && obj.fileFd >= 0) return true;
  }
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

char ReadByte(int fd, off_t at) {
  char c = 0;
  if (pread(fd, &c, 1, at) != 1) return 0;
  return c;
}

void WriteByte(int fd, off_t at, char c) {
  if (pwrite(fd, &c, 1, at) != 1) {
    // The state file lives in the session directory; a write error there
    // leaves the previous byte, which readers treat as before.
  }
}

struct MutexObject : KObject {
  MutexObject() : KObject(kMutex) {}
  DWORD ownerThread = 0;
  uint32_t count = 0;
};

struct EventObject : KObject {
  EventObject() : KObject(kEvent) {}
  bool manual = true;
  bool state = false;  // private events only
};

HANDLE AddHandle(std::shared_ptr<KObject> obj) {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.handlesMu);
  HANDLE h = st.nextHandle.load(std::memory_order_relaxed);
  st.nextHandle.store(h + 1 == 0 ? 1 : h + 1, std::memory_order_relaxed);
  st.handles[h] = std::move(obj);
  return h;
}

std::shared_ptr<KObject> FindHandle(HANDLE h) {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.handlesMu);
  auto it = st.handles.find(h);
  if (it == st.handles.end()) return nullptr;
  return it->second;
}

enum class TryResult { kAcquired, kAbandoned, kBusy };

TryResult TryAcquireMutex(MutexObject& m) {
  std::lock_guard<std::mutex> lock(m.mu);
  DWORD me = GetCurrentThreadId();
  if (m.count > 0) {
    if (m.ownerThread == me) {
      ++m.count;
      return TryResult::kAcquired;
    }
    return TryResult::kBusy;
  }
  bool abandoned = false;
  if (m.named) {
    if (flock(m.fileFd, LOCK_EX | LOCK_NB) != 0) return TryResult::kBusy;
    abandoned = ReadByte(m.fileFd, 0) == '1';
    WriteByte(m.fileFd, 0, '1');
  }
  m.ownerThread = me;
  m.count = 1;
  return abandoned ? TryResult::kAbandoned : TryResult::kAcquired;
}

bool TryTakeEvent(EventObject& e) {
  std::lock_guard<std::mutex> lock(e.mu);
  if (!e.named) {
    if (!e.state) return false;
    if (!e.manual) e.state = false;
    return true;
  }
  if (e.manual) return ReadByte(e.fileFd, 0) == '1';
  FlockRetry(e.fileFd, LOCK_EX);
  bool set = ReadByte(e.fileFd, 0) == '1';
  if (set) WriteByte(e.fileFd, 0, '0');
  FlockRetry(e.fileFd, LOCK_UN);
  return set;
}

bool InGroup(gid_t gid) {
  if (gid == getegid()) return true;
  int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  n = getgroups(n, groups.data());
  for (int i = 0; i < n; ++i) {
    if (groups[static_cast<size_t>(i)] == gid) return true;
  }
  return false;
}

// Everything a program says to another one passes through the session
// directory: one that another user owns or that others may write would let
// them cut the channel or make the programs fail, one reached through a
// symbolic link may be anybody's folder (a link planted in /tmp), and one that
// cannot be used would only fail later with a misleading message. The one
// deliberate exception is a folder its owner shared with its group: setgid and
// group rwx, nobody else may write, and this process is the owner or in that
// group. Both accounts
// of a deployment (the notify server's, the database server's) are then
// members, and the files made inside are the group's (*shared).
std::string SessionDirProblem(const std::string& dir, bool* shared) {
  *shared = false;
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return std::string("cannot be created: ") + strerror(errno);
  if (S_ISLNK(st.st_mode)) return "is a symbolic link";
  if (!S_ISDIR(st.st_mode)) return "is not a directory";
  const bool groupShared = (st.st_mode & (S_ISGID | S_IRWXG)) == (S_ISGID | S_IRWXG) &&
                           (st.st_mode & S_IWOTH) == 0 &&
                           (st.st_uid == geteuid() || InGroup(st.st_gid));
  if (st.st_uid != geteuid() && !groupShared) {
    return "is owned by another user (uid " + std::to_string(st.st_uid) + ")";
  }
  if ((st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && !groupShared)) {
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("may be written by others (mode ") + mode + ")";
  }
  if (access(dir.c_str(), R_OK | W_OK | X_OK) != 0)
    return std::string("cannot be used: ") + strerror(errno);
  *shared = groupShared;
  return "";
}

std::string SessionDirOfEnvironment(const State& st) {
  std::string dir;
  if (!st.namedSessionDir.empty()) {
    dir = st.namedSessionDir;
  } else if (const char* s = getenv("VEXA_SESSION_DIR"); s && *s) {
    dir = s;
  } else if (const char* x = getenv("XDG_RUNTIME_DIR"); x && *x) {
    dir = std::string(x) + "/vexa";
  } else {
    dir = "/tmp/vexa-" + std::to_string(getuid());
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// Settles the session on first use; the caller holds st.sessionMu.
void SettleSession(State& st) {
  if (!st.sessionDir.empty()) return;
  std::string dir = SessionDirOfEnvironment(st);
  MakeDirs(dir);
  bool shared = false;
  std::string problem = SessionDirProblem(dir, &shared);
  st.sessionShared = shared;
  st.sessionRefusal =
      problem.empty() ? "" : "session directory " + dir + " " + problem + "; refusing to use it";
  st.sessionDir = dir;
}

}  // namespace

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD code) { tLastError = code; }

const std::string& SessionDir() {
  static const std::string refused = kRefusedSessionDir;
  State& st = St();
  std::lock_guard<std::mutex> lock(st.sessionMu);
  SettleSession(st);
  return st.sessionRefusal.empty() ? st.sessionDir : refused;
}

std::string SessionDirRefusal() {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.sessionMu);
  SettleSession(st);
  return st.sessionRefusal;
}

static bool SessionShared() {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.sessionMu);
  return st.sessionShared;
}

unsigned SessionFileMode() { return SessionShared() ? 0660 : 0600; }

// The creator's umask may have taken the group's bits: they are set again. A
// file another member made first is theirs to set (and was set by them).
void ShareSessionFile(int fd) {
  struct stat st {};
  if (SessionShared() && fstat(fd, &st) == 0 && st.st_uid == geteuid())
    fchmod(fd, S_ISDIR(st.st_mode) ? 02770 : 0660);
}

void ShareSessionPath(const std::string& path) {
  struct stat st {};
  if (SessionShared() && lstat(path.c_str(), &st) == 0 && st.st_uid == geteuid() &&
      !S_ISLNK(st.st_mode)) {
    chmod(path.c_str(), S_ISDIR(st.st_mode) ? 02770 : 0660);
  }
}

void UseSessionDir(const std::string& dir) {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.sessionMu);
  st.namedSessionDir = dir;
}

void ResetSessionDirForTesting() {
  RunSessionEndHandlers();
  State& st = St();
  std::lock_guard<std::mutex> lock(st.sessionMu);
  st.sessionDir.clear();
  st.sessionRefusal.clear();
  st.sessionShared = false;
  st.sessionGeneration.fetch_add(1, std::memory_order_release);
}

bool FollowSessionDirOfEnvironment() {
  {
    State& st = St();
    std::lock_guard<std::mutex> lock(st.sessionMu);
    if (st.sessionDir.empty() || st.sessionDir == SessionDirOfEnvironment(st)) return false;
  }
  ResetSessionDirForTesting();
  return true;
}

uint32_t SessionGeneration() { return St().sessionGeneration.load(std::memory_order_acquire); }

HANDLE CreateMutex(const std::string& name, bool initialOwner) {
  auto m = std::make_shared<MutexObject>();
  bool existed = false;
  if (!name.empty()) {
    std::string dir = ObjectDir();
    Guard guard(dir);
    if (!OpenObjectFiles(guard, *m, dir + "/m." + EncodeName(name), ".own", &existed)) return 0;
  }
  // An existing mutex is only opened: asking for initial ownership of it is ignored.
  if (initialOwner && !existed) TryAcquireMutex(*m);
  HANDLE h = AddHandle(m);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

bool ReleaseMutex(HANDLE mutex) {
  auto obj = FindHandle(mutex);
  if (!obj || obj->kind != KObject::kMutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  auto& m = static_cast<MutexObject&>(*obj);
  std::lock_guard<std::mutex> lock(m.mu);
  if (m.count == 0 || m.ownerThread != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (--m.count == 0) {
    m.ownerThread = 0;
    if (m.named) {
      WriteByte(m.fileFd, 0, '0');
      FlockRetry(m.fileFd, LOCK_UN);
    }
  }
  return true;
}

HANDLE CreateEvent(const std::string& name, bool manualReset, bool initialState) {
  auto e = std::make_shared<EventObject>();
  e->manual = manualReset;
  e->state = initialState;
  bool existed = false;
  if (!name.empty()) {
    std::string dir = ObjectDir();
    Guard guard(dir);
    if (!OpenObjectFiles(guard, *e, dir + "/e." + EncodeName(name), ".state", &existed)) return 0;
    if (existed) {
      e->manual = ReadByte(e->fileFd, 1) != 'a';
    } else {
      char init[2] = {initialState ? '1' : '0', manualReset ? 'm' : 'a'};
      if (pwrite(e->fileFd, init, 2, 0) != 2) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
      }
    }
  }
  HANDLE h = AddHandle(e);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE OpenEvent(const std::string& name) {
  if (name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string dir = ObjectDir();
  std::string base = dir + "/e." + EncodeName(name);
  Guard guard(dir);
  int probe = open((base + ".open").c_str(), O_RDWR | O_CLOEXEC);
  bool held = probe >= 0 && flock(probe, LOCK_EX | LOCK_NB) != 0;
  Release(probe);
  if (!held) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  auto e = std::make_shared<EventObject>();
  bool existed = false;
  if (!OpenObjectFiles(guard, *e, base, ".state", &existed)) return 0;
  e->manual = ReadByte(e->fileFd, 1) != 'a';
  SetLastError(ERROR_SUCCESS);
  return AddHandle(e);
}

namespace {
EventObject* AsEvent(const std::shared_ptr<KObject>& obj) {
  if (!obj || obj->kind != KObject::kEvent) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<EventObject*>(obj.get());
}

bool SetEventState(HANDLE event, bool state) {
  auto obj = FindHandle(event);
  EventObject* e = AsEvent(obj);
  if (!e) return false;
  std::lock_guard<std::mutex> lock(e->mu);
  if (e->named) {
    WriteByte(e->fileFd, 0, state ? '1' : '0');
  } else {
    e->state = state;
  }
  return true;
}
}  // namespace

bool SetEvent(HANDLE event) { return SetEventState(event, true); }
bool ResetEvent(HANDLE event) { return SetEventState(event, false); }

bool IsEventSet(HANDLE event) {
  auto obj = FindHandle(event);
  EventObject* e = AsEvent(obj);
  if (!e) return false;
  std::lock_guard<std::mutex> lock(e->mu);
  return e->named ? ReadByte(e->fileFd, 0) == '1' : e->state;
}

DWORD WaitForSingleObject(HANDLE object, DWORD timeoutMs) {
  auto obj = FindHandle(object);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  DWORD start = GetTickCount();
  DWORD pause = 1;
  for (;;) {
    if (obj->kind == KObject::kMutex) {
      TryResult r = TryAcquireMutex(static_cast<MutexObject&>(*obj));
      if (r == TryResult::kAcquired) return WAIT_OBJECT_0;
      if (r == TryResult::kAbandoned) return WAIT_ABANDONED;
    } else if (TryTakeEvent(static_cast<EventObject&>(*obj))) {
      return WAIT_OBJECT_0;
    }
    DWORD elapsed = GetTickCount() - start;
    if (timeoutMs != INFINITE && elapsed >= timeoutMs) return WAIT_TIMEOUT;
    // Other processes change these objects without telling us: look again
    // after a short, growing pause.
    DWORD wait = pause;
    if (timeoutMs != INFINITE && timeoutMs - elapsed < wait) wait = timeoutMs - elapsed;
    Sleep(wait);
    if (pause < 10) ++pause;
  }
}

bool CloseHandle(HANDLE object) {
  std::shared_ptr<KObject> obj;
  {
    State& st = St();
    std::lock_guard<std::mutex> lock(st.handlesMu);
    auto it = st.handles.find(object);
    if (it == st.handles.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    obj = std::move(it->second);
    st.handles.erase(it);
  }
  return true;  // files and locks close with the last reference
}

void OutputDebugString(const std::string& text) {
  DebugSink sink;
  {
    State& st = St();
    std::lock_guard<std::mutex> lock(st.debugMu);
    sink = st.debugSink;
  }
  if (sink) sink(text);
  if (getenv("VEXA_DEBUG")) {
    std::string line = text;
    if (line.empty() || line.back() != '\n') line += '\n';
    if (write(2, line.data(), line.size()) < 0) {
      // Nothing sensible to do when standard error is gone.
    }
  }
}

DebugSink SetDebugSink(DebugSink sink) {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.debugMu);
  return std::exchange(st.debugSink, std::move(sink));
}

DWORD GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                            static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

bool QueryPerformanceCounter(int64_t* count) {
  if (!count) return false;
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  *count = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  return true;
}

bool QueryPerformanceFrequency(int64_t* frequency) {
  if (!frequency) return false;
  *frequency = 1000000000;
  return true;
}

void Sleep(DWORD ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetCurrentThreadId() {
  thread_local DWORD id = ++St().nextThreadId;
  return id;
}

void RaiseDescriptorLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur >= r.rlim_max) return;
  r.rlim_cur = r.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &r);
}

}  // namespace plat
