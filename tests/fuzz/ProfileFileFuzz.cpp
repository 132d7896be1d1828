// Feeds the profile (INI) routines arbitrary file content, then writes one key
// and checks that every value readable before is still read the same, and the
// written one reads back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "platform/registry/Profile.h"

namespace {

// One scratch file for the whole run, removed at exit.
struct Scratch {
  std::string Dir;
  std::string File;
  Scratch() {
    char dir[] = "/tmp/vexa-profile-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    Dir = dir;
    File = Dir + "/f.ini";
  }
  ~Scratch() {
    unlink(File.c_str());
    rmdir(Dir.c_str());
  }
};

std::string TempFile() {
  static Scratch scratch;
  return scratch.File;
}

std::string Fold(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::map<std::pair<std::string, std::string>, std::string> Snapshot(const std::string& file) {
  std::map<std::pair<std::string, std::string>, std::string> values;
  for (const auto& section : plat::GetPrivateProfileSectionNames(file)) {
    for (const auto& kv : plat::GetPrivateProfileSection(section, file)) {
      values[{section, kv.first}] = kv.second;
    }
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // Byte 0 picks the section written to: a new one or the first one found.
  bool newSection = (data[0] & 1) != 0;
  std::string file = TempFile();
  FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);

  auto before = Snapshot(file);
  std::string section = "FuzzSection";
  if (!newSection) {
    auto names = plat::GetPrivateProfileSectionNames(file);
    if (!names.empty() && !names[0].empty() &&
        names[0].find_first_of("]\r\n") == std::string::npos) {
      section = names[0];
    }
  }
  const std::string key = "FuzzKey";
  if (!plat::WritePrivateProfileString(section, key, "written value", file)) std::abort();
  if (plat::GetPrivateProfileString(section, key, "", file) != "written value") std::abort();
  auto after = Snapshot(file);
  for (const auto& [k, v] : before) {
    if (Fold(k.first) == Fold(section) && Fold(k.second) == Fold(key)) continue;
    // Names compare without case: only the first spelling of a name is listed.
    auto it = after.find(k);
    if (it == after.end() || it->second != v) std::abort();
  }
  return 0;
}
