// File helpers shared by the settings store and the profile routines: whole
// file reads with a size cap, write-permission checks, exclusive locks and
// atomic replacement.
#pragma once

#include <cstdint>
#include <string>

namespace plat::storefile {

// Largest file read (bytes); larger files are not read and are never rewritten.
constexpr size_t kMaxFileSize = 16 * 1024 * 1024;

// Reads a regular file whole. Missing file: true with empty content. False,
// with empty content and *problem saying why ("is a named pipe", "is larger
// than 16 MB", ...), for what is not a regular file (never opened, so nothing
// blocks on a pipe or a device), has no read permission bits (which count for
// a privileged user too), cannot be read, or is larger than kMaxFileSize
// (*truncated then true).
bool ReadWhole(const std::string& path, std::string* content, bool* truncated,
               std::string* problem = nullptr);
// The file a write to path replaces: path itself or, when it is a symbolic
// link, the file the link leads to, so that the link stays. False when a link
// leads nowhere.
bool WriteTarget(const std::string& path, std::string* target);
// The folder part of a path ("." when it has none).
std::string Directory(const std::string& path);
// True when a file can be written there: the folder (and the file, when it
// exists) allow it by their permission bits and by the system.
bool CanWrite(const std::string& dir, const std::string& file);
// True when an existing file allows writing (permission bits and system).
bool CanWriteFile(const std::string& file);
// Rewrites an existing file in place (truncate, write, flush): for files
// whose folder cannot be written, where no replacement can be made.
bool WriteInPlace(const std::string& path, const std::string& content);
// Creates a folder and its parents (mode 0700 for new ones).
bool MakeDirs(const std::string& dir);
// Writes content to a temporary file beside path, flushes it and renames it
// over path (keeping the old file's mode). Sets errno on failure.
bool ReplaceAtomically(const std::string& path, const std::string& content);
// Case folding of a-z only.
std::string Fold(const std::string& s);
bool SameText(const std::string& a, const std::string& b);
// s without the spaces, tabs and carriage returns at either end.
std::string TrimBlanks(const std::string& s);

// An exclusive lock held by flock on a file or folder while the object lives.
class Lock {
public:
  explicit Lock(const std::string& path, bool isDir);
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  bool Held() const { return FFd >= 0; }

private:
  int FFd = -1;
};

}  // namespace plat::storefile
