#include "platform/registry/StoreFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/kernel/AsciiCase.h"
#include "platform/kernel/FileLock.h"

namespace plat::storefile {

bool ReadWhole(const std::string& path, std::string* content, bool* truncated,
               std::string* problem) {
  content->clear();
  *truncated = false;
  std::string why;
  auto fail = [&](std::string text) {
    content->clear();
    if (problem) *problem = std::move(text);
    return false;
  };
  if (problem) problem->clear();
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return true;
    return fail(std::string("cannot be read: ") + strerror(errno));
  }
  // Checked before opening: opening a pipe or a device may block or act.
  auto kind = [](mode_t m) -> const char* {
    if (S_ISDIR(m)) return "is a folder";
    if (S_ISFIFO(m)) return "is a named pipe";
    if (S_ISCHR(m) || S_ISBLK(m)) return "is a device";
    return S_ISREG(m) ? nullptr : "is not a regular file";
  };
  if (const char* k = kind(st.st_mode)) return fail(k);
  // Read bits count even for a privileged user, as the write bits do.
  if ((st.st_mode & 0444) == 0) return fail("cannot be read: it has no read permission");
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(std::string("cannot be read: ") + strerror(errno));
  // The path may have been replaced since the first look.
  if (fstat(fd, &st) != 0 || kind(st.st_mode)) {
    close(fd);
    return fail("is not a regular file");
  }
  const std::string tooLarge = "is larger than " + std::to_string(kMaxFileSize >> 20) + " MB";
  if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
    close(fd);
    *truncated = true;
    return fail(tooLarge);
  }
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      why = std::string("cannot be read: ") + strerror(errno);
      break;
    }
    if (n == 0) break;
    if (static_cast<size_t>(n) > kMaxFileSize - content->size()) {  // grew while read
      *truncated = true;
      why = tooLarge;
      break;
    }
    content->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return why.empty() ? true : fail(why);
}

bool WriteTarget(const std::string& path, std::string* target) {
  struct stat st;
  *target = path;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) return false;
  *target = buf;
  return true;
}

std::string Directory(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {
bool ModeAllowsWrite(const std::string& path, bool mustExist) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return !mustExist && errno == ENOENT;
  // Write bits count even for a privileged user: a store marked read-only is read-only.
  if ((st.st_mode & 0222) == 0) return false;
  return access(path.c_str(), W_OK) == 0;
}

// Writes all of content, going on after interrupted calls; false (errno set)
// on the first failed write.
bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

bool CanWrite(const std::string& dir, const std::string& file) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) {
    // A folder still to be made: its nearest existing parent decides.
    std::string parent = dir;
    while (!parent.empty() && parent.back() == '/') parent.pop_back();
    size_t slash = parent.rfind('/');
    if (slash == std::string::npos) return false;
    parent = slash == 0 ? "/" : parent.substr(0, slash);
    if (parent == dir) return false;
    return CanWrite(parent, "");
  }
  if (!S_ISDIR(st.st_mode) || !ModeAllowsWrite(dir, true)) return false;
  return file.empty() || ModeAllowsWrite(file, false);
}

bool CanWriteFile(const std::string& file) { return ModeAllowsWrite(file, true); }

bool WriteInPlace(const std::string& path, const std::string& content) {
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  if (!WriteAll(fd, content)) {
    int e = errno;
    close(fd);
    errno = e;
    return false;
  }
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return false;
  std::string cur;
  size_t pos = 0;
  while (pos <= dir.size()) {
    size_t next = dir.find('/', pos);
    if (next == std::string::npos) next = dir.size();
    cur = dir.substr(0, next);
    if (!cur.empty()) {
      if (mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    pos = next + 1;
  }
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReplaceAtomically(const std::string& path, const std::string& content) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string tmp = dir + "." + base + ".tmp" + std::to_string(getpid());
  mode_t mode = 0600;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (!WriteAll(fd, content) || fchmod(fd, mode) != 0 || fsync(fd) != 0) {
    int e = errno;
    close(fd);
    unlink(tmp.c_str());
    errno = e;
    return false;
  }
  close(fd);
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    int e = errno;
    unlink(tmp.c_str());
    errno = e;
    return false;
  }
  return true;
}

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

std::string Fold(const std::string& s) { return plat::AsciiLower(s); }

bool SameText(const std::string& a, const std::string& b) { return plat::SameAscii(a, b); }

Lock::Lock(const std::string& path, bool isDir) {
  FFd = isDir ? open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
              : open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (FFd >= 0 && FlockRetry(FFd, LOCK_EX) != 0) {
    close(FFd);
    FFd = -1;
  }
}

Lock::~Lock() {
  if (FFd >= 0) {
    flock(FFd, LOCK_UN);
    close(FFd);
  }
}

}  // namespace plat::storefile
