// Owns the registered message names of the session: the <session>/atoms file
// and this process's cache of it.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/msg/MsgFork.h"
#include "platform/msg/MsgSession.h"

namespace plat {

using namespace msgimpl;

namespace {

// Registered names of the current session, cached.
struct AtomCache {
  std::mutex atomMu;
  std::string atomSession;
  std::unordered_map<std::string, UINT> atoms;
};

}  // namespace

// ---------------------------------------------------------------------------
// Registered messages
//
// <session>/atoms holds the names in order of registration, each as a 2-byte
// length and its bytes; the n-th name has id 0xC000 + n. Appends happen under
// an exclusive flock, so every process assigns the same id to a name.
//
// A file that does not read that way (a record of length 0 or above 255, a
// name with control characters or met twice) is damaged: ids read from it or
// added to it would differ from those other programs hold, and they would
// never hear each other. Every name not yet known then fails with
// ERROR_FILE_CORRUPT, the file is left as it is and standard error names it
// once. Only a last record cut short (a writer that died mid-append) is
// dropped. A name with control characters is refused when it is registered
// (ERROR_INVALID_PARAMETER), so a sound file never holds one.

namespace {

constexpr size_t kMaxName = 255;

bool SoundName(const std::string& name) {
  if (name.empty() || name.size() > kMaxName) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

void ReportDamagedAtoms(const std::string& path, size_t offset) {
  static std::string reported;  // under the cache's lock
  if (reported == path) return;
  reported = path;
  std::fflush(nullptr);
  std::fprintf(stderr,
               "%s: the registered message names in %s are damaged at byte %zu; no new name "
               "can be registered until the session's programs end and the file is removed\n",
               program_invocation_short_name, path.c_str(), offset);
}

}  // namespace

UINT RegisterWindowMessage(const std::string& name) {
  constexpr UINT kFirst = 0xC000;
  constexpr size_t kMaxCount = 0x4000;
  if (!SoundName(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  static auto* cache = new AtomCache;  // lives until the process ends, past thread exits
  AtomCache& g = *cache;
  std::string key = LowerAscii(name);
  const std::string& dir = SessionDir();
  std::lock_guard<std::mutex> lock(g.atomMu);
  if (g.atomSession != dir) {
    g.atoms.clear();
    g.atomSession = dir;
  }
  if (auto it = g.atoms.find(key); it != g.atoms.end()) return it->second;

  // Kept so a child forked meanwhile drops its copy, and with it our lock.
  std::string path = dir + "/atoms";
  int fd = Fds().Open(
      [&] { return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, SessionFileMode()); });
  if (fd < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  ShareSessionFile(fd);
  FlockRetry(fd, LOCK_EX);
  std::string data;
  char buf[65536];
  for (off_t off = 0;;) {
    ssize_t n = pread(fd, buf, sizeof buf, off);
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
    off += n;
  }
  // Read every record; a torn tail (a writer that died mid-append) is cut off
  // before the new name goes in.
  size_t pos = 0;
  size_t count = 0;
  UINT found = 0;
  bool damaged = false;
  std::unordered_map<std::string, UINT> read;
  while (pos < data.size() && count < kMaxCount) {
    if (pos + 2 > data.size()) break;  // a torn length
    size_t len = static_cast<uint8_t>(data[pos]) | (static_cast<size_t>(static_cast<uint8_t>(data[pos + 1])) << 8);
    if (len != 0 && len <= kMaxName && pos + 2 + len > data.size()) break;  // a torn name
    std::string n = len <= kMaxName ? data.substr(pos + 2, len) : std::string();
    std::string folded = LowerAscii(n);
    if (!SoundName(n) || read.count(folded)) {
      damaged = true;
      break;
    }
    UINT id = static_cast<UINT>(kFirst + count);
    read[folded] = id;
    if (folded == key) found = id;
    pos += 2 + len;
    ++count;
  }
  if (damaged) {
    ReportDamagedAtoms(path, pos);
    FlockRetry(fd, LOCK_UN);
    Fds().Close(fd);
    SetLastError(ERROR_FILE_CORRUPT);
    return 0;
  }
  g.atoms.insert(read.begin(), read.end());
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
  Fds().Close(fd);
  return found;
}
}  // namespace plat
