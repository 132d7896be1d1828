// vexareg: lists, reads and writes the settings store from a shell, so that an
// operator without a display can set what the programs read.
//
//   vexareg list   [KEY]                    sub-keys (ending in '\') and values of KEY
//   vexareg read   KEY NAME                 the value's data on one line
//   vexareg write  [-t TYPE] KEY NAME DATA  creates KEY when needed; TYPE is
//                                           string (default), expand, dword or binary
//                                           (binary DATA: hex bytes, e.g. 01,ff,20)
//   vexareg delete KEY [NAME]               the value, or the key with all below it
//   vexareg path                            the store's folder
//
// KEY starts with a root (HKEY_LOCAL_MACHINE, HKLM, HKEY_CURRENT_USER, HKCU, ...)
// followed by '\' and the path; without a root HKEY_LOCAL_MACHINE is meant.
// NAME "@" (or "") is the key's default value.
// Exit status: 0 done, 1 no such key or value, 2 wrong use, 3 refused or failed.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kernel/ProgramStart.h"
#include "platform/registry/Registry.h"

using namespace plat;

namespace {

const char* const kUsage =
    "usage: vexareg list [KEY]\n"
    "       vexareg read KEY NAME\n"
    "       vexareg write [-t string|expand|dword|binary] KEY NAME DATA\n"
    "       vexareg delete KEY [NAME]\n"
    "       vexareg path\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

void SplitKey(const std::string& arg, HKEY* root, std::string* path) {
  std::string a = arg;
  while (!a.empty() && a[0] == '\\') a.erase(0, 1);
  size_t sep = a.find('\\');
  std::string first = a.substr(0, sep);
  HKEY r = RootKeyFromName(first);
  if (r) {
    *root = r;
    *path = sep == std::string::npos ? "" : a.substr(sep + 1);
  } else {
    *root = HKEY_LOCAL_MACHINE;
    *path = a;
  }
}

// Opens the key an argument names.
LSTATUS OpenKey(const std::string& keyArg, REGSAM access, HKEY* k) {
  HKEY root;
  std::string path;
  SplitKey(keyArg, &root, &path);
  return RegOpenKeyEx(root, path, 0, access, k);
}

std::string ValueName(const std::string& n) { return n == "@" ? std::string() : n; }

int Status(LSTATUS st, const std::string& what) {
  if (st == ERROR_SUCCESS) return 0;
  if (st == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND)) {
    std::fprintf(stderr, "vexareg: %s: not found\n", what.c_str());
    return 1;
  }
  if (st == static_cast<LSTATUS>(ERROR_ACCESS_DENIED)) {
    std::fprintf(stderr, "vexareg: %s: access denied\n", what.c_str());
    return 3;
  }
  std::fprintf(stderr, "vexareg: %s: error %d\n", what.c_str(), st);
  return 3;
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Hex(const std::string& data) {
  std::string out;
  for (size_t i = 0; i < data.size(); ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", static_cast<unsigned char>(data[i]));
    out += buf;
  }
  return out;
}

std::string Show(DWORD type, const std::string& data, bool forList) {
  switch (type) {
    case REG_SZ: return forList ? Quote(data) : data;
    case REG_EXPAND_SZ: return forList ? "expand:" + Quote(data) : data;
    case REG_DWORD:
      if (data.size() == 4) {
        uint32_t d;
        std::memcpy(&d, data.data(), 4);
        return forList ? "dword:" + std::to_string(d) : std::to_string(d);
      }
      [[fallthrough]];
    default: return forList ? "hex:" + Hex(data) : Hex(data);
  }
}

int List(const std::string& keyArg) {
  HKEY k;
  LSTATUS st = OpenKey(keyArg, KEY_READ, &k);
  if (st != ERROR_SUCCESS) return Status(st, keyArg);
  std::string name;
  for (DWORD i = 0; RegEnumKeyEx(k, i, &name) == ERROR_SUCCESS; ++i) {
    std::printf("%s\\\n", name.c_str());
  }
  DWORD type;
  for (DWORD i = 0; RegEnumValue(k, i, &name, &type) == ERROR_SUCCESS; ++i) {
    std::string data;
    if (RegQueryValue(k, name, &type, &data) != ERROR_SUCCESS) continue;
    std::printf("%s=%s\n", name.empty() ? "@" : Quote(name).c_str(),
                Show(type, data, true).c_str());
  }
  RegCloseKey(k);
  return 0;
}

int Read(const std::string& keyArg, const std::string& valueArg) {
  HKEY k;
  LSTATUS st = OpenKey(keyArg, KEY_READ, &k);
  if (st != ERROR_SUCCESS) return Status(st, keyArg);
  DWORD type;
  std::string data;
  st = RegQueryValue(k, ValueName(valueArg), &type, &data);
  RegCloseKey(k);
  if (st != ERROR_SUCCESS) return Status(st, keyArg + " " + valueArg);
  std::printf("%s\n", Show(type, data, false).c_str());
  return 0;
}

bool ParseBinary(const std::string& s, std::string* out) {
  std::string digits;
  for (char c : s) {
    if (c == ',' || c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() % 2) return false;
  for (size_t i = 0; i < digits.size(); i += 2) {
    out->push_back(static_cast<char>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return true;
}

int Write(const std::string& type, const std::string& keyArg, const std::string& valueArg,
          const std::string& dataArg) {
  DWORD t;
  std::string bytes;
  if (type == "string") {
    t = REG_SZ;
    bytes = dataArg;
  } else if (type == "expand") {
    t = REG_EXPAND_SZ;
    bytes = dataArg;
  } else if (type == "dword") {
    t = REG_DWORD;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(dataArg.c_str(), &end, 0);
    if (dataArg.empty() || *end || errno || v < INT32_MIN || v > UINT32_MAX) {
      std::fprintf(stderr, "vexareg: not a 32-bit number: %s\n", dataArg.c_str());
      return 2;
    }
    uint32_t d = static_cast<uint32_t>(v);
    bytes.assign(reinterpret_cast<const char*>(&d), 4);
  } else if (type == "binary") {
    t = REG_BINARY;
    if (!ParseBinary(dataArg, &bytes)) {
      std::fprintf(stderr, "vexareg: not hex bytes: %s\n", dataArg.c_str());
      return 2;
    }
  } else {
    return Usage();
  }
  HKEY root;
  std::string path;
  SplitKey(keyArg, &root, &path);
  HKEY k;
  LSTATUS st = RegCreateKeyEx(root, path, KEY_ALL_ACCESS, &k, nullptr);
  if (st != ERROR_SUCCESS) return Status(st, keyArg);
  st = RegSetValueEx(k, ValueName(valueArg), t, bytes.data(), static_cast<DWORD>(bytes.size()));
  RegCloseKey(k);
  return Status(st, keyArg + " " + valueArg);
}

int Delete(const std::string& keyArg, const char* valueArg) {
  if (!valueArg) {
    HKEY root;
    std::string path;
    SplitKey(keyArg, &root, &path);
    if (path.empty()) {
      std::fprintf(stderr, "vexareg: a root key cannot be deleted\n");
      return 2;
    }
    return Status(RegDeleteKey(root, path), keyArg);
  }
  HKEY k;
  LSTATUS st = OpenKey(keyArg, KEY_ALL_ACCESS, &k);
  if (st != ERROR_SUCCESS) return Status(st, keyArg);
  st = RegDeleteValue(k, ValueName(valueArg));
  RegCloseKey(k);
  return Status(st, keyArg + " " + valueArg);
}

}  // namespace

int main(int argc, char** argv) {
  if (plat::AnswerHelp(argc, argv, kUsage)) return 0;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string cmd = args[0];
  if (cmd == "path" && args.size() == 1) {
    std::printf("%s\n", RegistryDir().c_str());
    return 0;
  }
  if (cmd == "list" && args.size() <= 2)
    return List(args.size() == 2 ? args[1] : "HKEY_LOCAL_MACHINE");
  if (cmd == "read" && args.size() == 3) return Read(args[1], args[2]);
  if (cmd == "write") {
    std::string type = "string";
    size_t i = 1;
    if (args.size() > 2 && args[1] == "-t") {
      type = args[2];
      i = 3;
    }
    if (args.size() != i + 3) return Usage();
    return Write(type, args[i], args[i + 1], args[i + 2]);
  }
  if (cmd == "delete" && (args.size() == 2 || args.size() == 3)) {
    return Delete(args[1], args.size() == 3 ? args[2].c_str() : nullptr);
  }
  return Usage();
}
