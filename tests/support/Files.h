// A file's bytes, read and written whole; settings files a program cannot
// read, and how a path stands, to check that a program left it alone.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace vexa::test {

// "" when the file cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// executable: a script the test runs.
inline void WriteFile(const std::string& path, const std::string& content, bool executable = false) {
  std::ofstream(path, std::ios::binary) << content;  // closed before the chmod
  if (executable) chmod(path.c_str(), 0755);
}

// A settings file no program can read, made at a path that holds nothing yet;
// text is what it would hold where it holds anything. Problem is how the
// programs name it after the file's path.
struct UnreadableFile {
  const char* Problem;
  std::function<void(const std::string& path, const std::string& text)> Make;
};

inline std::vector<UnreadableFile> UnreadableFiles() {
  return {
      // No read bits: unreadable to a privileged user as well.
      {"cannot be read: it has no read permission",
       [](const std::string& p, const std::string& t) {
         WriteFile(p, t);
         chmod(p.c_str(), 0200);
       }},
      {"is larger than 16 MB",
       [](const std::string& p, const std::string& t) {
         WriteFile(p, t);
         if (truncate(p.c_str(), 17 << 20) != 0) WriteFile(p, "");
       }},
      {"is a folder", [](const std::string& p, const std::string&) { mkdir(p.c_str(), 0755); }},
      {"is a device",
       [](const std::string& p, const std::string&) {
         if (symlink("/dev/zero", p.c_str()) != 0) WriteFile(p, "");
       }},
      {"is a named pipe",
       [](const std::string& p, const std::string&) { mkfifo(p.c_str(), 0644); }},
  };
}

// Kind, mode, size and change time of what stands at path (not following a
// link), the link's target, and a small regular file's bytes.
inline std::string FileState(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "missing";
  std::string s = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                  std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
  if (S_ISLNK(st.st_mode)) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    s += " -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
  } else if (S_ISREG(st.st_mode) && st.st_size < (1 << 20)) {
    s += "\n" + ReadFile(path);
  }
  return s;
}

}  // namespace vexa::test
