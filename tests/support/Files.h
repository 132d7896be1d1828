// A file's bytes, read and written whole.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>

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

}  // namespace vexa::test
