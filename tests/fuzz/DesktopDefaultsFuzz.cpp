// Feeds the settings store's answer for SOFTWARE\Classes arbitrary desktop
// settings: a mimeapps.list and a desktop file of the input's choosing, read
// through the registry as every program reads them. Every answer must be a
// usable key path; the Exec conversion alone gets the input too.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/registry/MimeClasses.h"

namespace {

struct Scratch {
  std::string Dir;
  Scratch() {
    char dir[] = "/tmp/vexa-desktop-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    Dir = dir;
    mkdir((Dir + "/config").c_str(), 0700);
    mkdir((Dir + "/data").c_str(), 0700);
    mkdir((Dir + "/data/applications").c_str(), 0700);
    setenv("XDG_CONFIG_HOME", (Dir + "/config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (Dir + "/none").c_str(), 1);
    setenv("XDG_DATA_HOME", (Dir + "/data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (Dir + "/none").c_str(), 1);
    unsetenv("XDG_CURRENT_DESKTOP");
  }
  ~Scratch() {
    unlink((Dir + "/config/mimeapps.list").c_str());
    unlink((Dir + "/data/applications/f.desktop").c_str());
    rmdir((Dir + "/data/applications").c_str());
    rmdir((Dir + "/data").c_str());
    rmdir((Dir + "/config").c_str());
    rmdir(Dir.c_str());
  }
};

Scratch& Files() {
  static Scratch scratch;
  return scratch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Scratch& s = Files();
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string line = plat::mimeclasses::CommandLineOfExec(input);
  (void)line;

  // Up to the first zero byte: the mimeapps.list; after it: the desktop file.
  size_t zero = input.find('\0');
  std::string list = input.substr(0, zero);
  std::string entry = zero == std::string::npos ? std::string() : input.substr(zero + 1);
  if (!list.empty() && list[0] == '+')
    list = "[Default Applications]\ntext/html=f.desktop\n" + list.substr(1);
  std::ofstream(s.Dir + "/config/mimeapps.list", std::ios::trunc) << list;
  std::ofstream(s.Dir + "/data/applications/f.desktop", std::ios::trunc) << entry;

  for (const auto& key : plat::mimeclasses::Keys()) {
    if (key.Path.empty() || key.Path.back() == '\\') std::abort();
    for (char c : key.Path) {
      if (static_cast<unsigned char>(c) < 0x20) std::abort();
    }
  }
  return 0;
}
