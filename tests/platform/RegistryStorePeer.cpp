// A second program on the settings store, for the registry store tests.
//   RegistryStorePeer write KEY NAME VALUE        one string value
//   RegistryStorePeer write-many KEY PREFIX COUNT values PREFIX0..PREFIX<COUNT-1>,
//                                                 each with its own open and close,
//                                                 all tried whatever fails
//   RegistryStorePeer read KEY NAME               prints the value or "<missing>"
// Keys are below HKEY_LOCAL_MACHINE. Exit status 0 when every call succeeded.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/registry/Registry.h"

using namespace plat;

static bool WriteOne(const std::string& key, const std::string& name, const std::string& value) {
  HKEY k;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, key, KEY_ALL_ACCESS, &k, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LSTATUS st = RegSetValueEx(k, name, REG_SZ, value.data(), static_cast<DWORD>(value.size()));
  RegCloseKey(k);
  return st == ERROR_SUCCESS;
}

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::string cmd = argv[1];
  if (cmd == "write" && argc == 5) return WriteOne(argv[2], argv[3], argv[4]) ? 0 : 1;
  if (cmd == "write-many" && argc == 5) {
    int count = std::atoi(argv[4]);
    bool ok = true;
    for (int i = 0; i < count; ++i) {
      std::string name = std::string(argv[3]) + std::to_string(i);
      ok = WriteOne(argv[2], name, "value of " + name) && ok;
    }
    return ok ? 0 : 1;
  }
  if (cmd == "read" && argc == 4) {
    HKEY k;
    std::string data;
    DWORD type;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, argv[2], 0, KEY_READ, &k) != ERROR_SUCCESS ||
        RegQueryValue(k, argv[3], &type, &data) != ERROR_SUCCESS) {
      std::printf("<missing>\n");
      return 0;
    }
    RegCloseKey(k);
    std::printf("%s\n", data.c_str());
    return 0;
  }
  return 2;
}
