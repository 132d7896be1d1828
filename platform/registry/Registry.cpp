#include "platform/registry/Registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/kernel/Lifecycle.h"
#include "platform/registry/MimeClasses.h"
#include "platform/registry/RegistryState.h"
#include "platform/registry/StoreFile.h"
#include "platform/registry/StoreText.h"

namespace plat {

namespace registryimpl {
namespace {
StateOwner<State> gState{Layer::Registry};
}  // namespace
State& St() { return gState.Get(); }
}  // namespace registryimpl

using registryimpl::OpenKey;
using registryimpl::St;

namespace {

namespace sf = storefile;

struct Value {
  std::string Name;
  DWORD Type = REG_SZ;
  std::string Data;  // REG_SZ without terminating zero; REG_DWORD 4 bytes
};

struct Key {
  std::string Path;  // levels joined with '\', original case; "" is the root
  std::vector<Value> Values;
  bool ReadOnly = false;  // answered by the desktop's settings, not kept in the file
};

// One root key's tree as read from its file.
struct Store {
  std::vector<Key> Keys;
  std::map<std::string, size_t> Index;  // folded path -> position in Keys

  Key* Find(const std::string& path) {
    auto it = Index.find(sf::Fold(path));
    return it == Index.end() ? nullptr : &Keys[it->second];
  }
  // Adds the key and every missing parent.
  // Existing levels keep the case they were made with.
  Key* Make(const std::string& path) {
    if (Key* k = Find(path)) return k;
    std::string actual = path;
    size_t slash = path.rfind('\\');
    if (slash != std::string::npos) {
      std::string parent = Make(path.substr(0, slash))->Path;
      actual = parent + path.substr(slash);
    }
    Index[sf::Fold(actual)] = Keys.size();
    Keys.push_back(Key{actual, {}});
    return &Keys.back();
  }
  void Reindex() {
    Index.clear();
    for (size_t i = 0; i < Keys.size(); ++i) Index[sf::Fold(Keys[i].Path)] = i;
  }
};

const struct {
  HKEY Key;
  const char* Name;
} kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},   {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"}, {HKEY_USERS, "HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
};

LSTATUS Fail(DWORD code) {
  SetLastError(code);
  return static_cast<LSTATUS>(code);
}
LSTATUS Ok() {
  SetLastError(ERROR_SUCCESS);
  return ERROR_SUCCESS;
}

// Splits a key path into its levels, dropping empty ones. False for a level
// with control characters.
bool SplitPath(const std::string& path, std::vector<std::string>* parts) {
  parts->clear();
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty()) parts->push_back(cur);
      cur.clear();
    } else {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
      cur += c;
    }
  }
  if (!cur.empty()) parts->push_back(cur);
  return true;
}

std::string JoinPath(const std::string& base, const std::vector<std::string>& parts) {
  std::string r = base;
  for (const auto& p : parts) {
    if (!r.empty()) r += '\\';
    r += p;
  }
  return r;
}

// --- the text form -----------------------------------------------------------

void AppendQuoted(std::string* out, const std::string& s) {
  static const char* hex = "0123456789abcdef";
  *out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          *out += "\\x";
          *out += hex[c >> 4];
          *out += hex[c & 15];
        } else {
          *out += static_cast<char>(c);
        }
    }
  }
  *out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses a quoted string at s[*pos]; advances past it.
bool ParseQuoted(const std::string& s, size_t* pos, std::string* out) {
  size_t i = *pos;
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  out->clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') {
      *pos = i;
      return true;
    }
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (i >= s.size()) return false;
    char e = s[i++];
    switch (e) {
      case '"': *out += '"'; break;
      case '\\': *out += '\\'; break;
      case 'n': *out += '\n'; break;
      case 'r': *out += '\r'; break;
      case 't': *out += '\t'; break;
      case 'x': {
        if (i + 2 > s.size()) return false;
        int h = HexDigit(s[i]), l = HexDigit(s[i + 1]);
        if (h < 0 || l < 0) return false;
        *out += static_cast<char>(h * 16 + l);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return false;  // no closing quote: a truncated line
}

bool ParseUnsigned32(const std::string& s, uint32_t* v) {
  if (s.empty()) return false;
  uint64_t r = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    for (size_t i = 2; i < s.size(); ++i) {
      int d = HexDigit(s[i]);
      if (d < 0) return false;
      r = r * 16 + static_cast<uint64_t>(d);
      if (r > 0xFFFFFFFFull) return false;
    }
  } else {
    for (char c : s) {
      if (c < '0' || c > '9') return false;
      r = r * 10 + static_cast<uint64_t>(c - '0');
      if (r > 0xFFFFFFFFull) return false;
    }
  }
  *v = static_cast<uint32_t>(r);
  return true;
}

bool ParseHexBytes(const std::string& s, std::string* out) {
  out->clear();
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    if (i + 2 > s.size()) return false;
    int h = HexDigit(s[i]), l = HexDigit(s[i + 1]);
    if (h < 0 || l < 0) return false;
    *out += static_cast<char>(h * 16 + l);
    i += 2;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i < s.size()) {
      if (s[i] != ',') return false;
      ++i;
    }
  }
  return true;
}

using sf::TrimBlanks;

// Parses one value line; false when it is not sound.
bool ParseValueLine(const std::string& line, Value* v) {
  size_t pos = 0;
  if (line[0] == '@') {
    v->Name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, &pos, &v->Name)) {
    return false;
  }
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  if (pos >= line.size() || line[pos] != '=') return false;
  ++pos;
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  std::string rest = line.substr(pos);
  // A quoted text with nothing but blanks after it.
  auto quotedText = [v](const std::string& q, uint32_t type) {
    size_t p = 0;
    if (!ParseQuoted(q, &p, &v->Data)) return false;
    if (!TrimBlanks(q.substr(p)).empty()) return false;
    v->Type = type;
    return true;
  };
  if (!rest.empty() && rest[0] == '"') return quotedText(rest, REG_SZ);
  if (rest.rfind("expand:", 0) == 0) return quotedText(rest.substr(7), REG_EXPAND_SZ);
  if (rest.rfind("dword:", 0) == 0) {
    uint32_t d;
    if (!ParseUnsigned32(TrimBlanks(rest.substr(6)), &d)) return false;
    v->Type = REG_DWORD;
    v->Data.assign(reinterpret_cast<const char*>(&d), 4);
    return true;
  }
  if (rest.rfind("hex:", 0) == 0) {
    v->Type = REG_BINARY;
    return ParseHexBytes(TrimBlanks(rest.substr(4)), &v->Data);
  }
  if (rest.rfind("hex(", 0) == 0) {
    size_t close = rest.find("):");
    if (close == std::string::npos) return false;
    uint32_t t;
    if (!ParseUnsigned32(rest.substr(4, close - 4), &t)) return false;
    v->Type = t;
    return ParseHexBytes(TrimBlanks(rest.substr(close + 2)), &v->Data);
  }
  return false;
}

// Returns false when the text is no store at all: it holds a zero byte
// (binary data), or lines none of which is a key or a value.
bool ParseStore(const std::string& text, Store* store) {
  size_t lines = 0, sound = 0;
  store->Keys.clear();
  store->Index.clear();
  store->Make("");
  Key* cur = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = TrimBlanks(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    ++lines;
    if (line[0] == '[') {
      cur = nullptr;
      if (line.back() != ']') continue;  // a damaged header: its values are skipped
      std::vector<std::string> parts;
      if (!SplitPath(line.substr(1, line.size() - 2), &parts)) continue;
      cur = store->Make(JoinPath("", parts));
      ++sound;
      continue;
    }
    if (!cur) continue;
    Value v;
    if (!ParseValueLine(line, &v)) continue;
    if (v.Type == REG_DWORD && v.Data.size() != 4) continue;
    ++sound;
    bool replaced = false;
    for (auto& old : cur->Values) {
      if (sf::SameText(old.Name, v.Name)) {
        old = v;
        replaced = true;
        break;
      }
    }
    if (!replaced) cur->Values.push_back(std::move(v));
  }
  return text.find('\0') == std::string::npos && (sound > 0 || lines == 0);
}

std::string FormatStore(const Store& store, const std::string& rootName) {
  static const char* hex = "0123456789abcdef";
  std::string out = "; Vexa settings store: " + rootName + "\n";
  for (const auto& k : store.Keys) {
    if (k.Path.empty() && k.Values.empty()) continue;
    out += "\n[" + k.Path + "]\n";
    for (const auto& v : k.Values) {
      if (v.Name.empty()) {
        out += '@';
      } else {
        AppendQuoted(&out, v.Name);
      }
      out += '=';
      if (v.Type == REG_SZ) {
        AppendQuoted(&out, v.Data);
      } else if (v.Type == REG_EXPAND_SZ) {
        out += "expand:";
        AppendQuoted(&out, v.Data);
      } else if (v.Type == REG_DWORD && v.Data.size() == 4) {
        uint32_t d;
        std::memcpy(&d, v.Data.data(), 4);
        out += "dword:" + std::to_string(d);
      } else {
        out += v.Type == REG_BINARY ? std::string("hex:") : "hex(" + std::to_string(v.Type) + "):";
        for (size_t i = 0; i < v.Data.size(); ++i) {
          if (i) out += ',';
          unsigned char c = static_cast<unsigned char>(v.Data[i]);
          out += hex[c >> 4];
          out += hex[c & 15];
        }
      }
      out += '\n';
    }
  }
  return out;
}

// --- store access --------------------------------------------------------------

bool IsRoot(HKEY k) {
  for (const auto& r : kRoots) {
    if (r.Key == k) return true;
  }
  return false;
}

bool Resolve(HKEY hKey, OpenKey* out) {
  if (IsRoot(hKey)) {
    *out = OpenKey{hKey, "", KEY_ALL_ACCESS};
    return true;
  }
  auto& handles = St().handles;
  auto it = handles.find(hKey);
  if (it == handles.end()) return false;
  *out = it->second;
  return true;
}

// Reads a root key's file into store. Answers "" when its content can be
// rewritten, else why not (a file that could not be read, or one that is no
// store at all, reads as empty or as far as it is sound).
std::string LoadStore(const std::string& file, Store* store) {
  std::string text, problem;
  bool truncated;
  sf::ReadWhole(file, &text, &truncated, &problem);
  if (!ParseStore(text, store) && problem.empty()) problem = "is not a settings store";
  return problem;
}

// The root key's file as writes see it: through links to the real file.
bool WriteFileOf(HKEY root, std::string* file) {
  return sf::WriteTarget(RegistryFileOf(root), file);
}

bool StoreWritable(HKEY root) {
  std::string file;
  return WriteFileOf(root, &file) && sf::CanWrite(sf::Directory(file), file);
}

// A store that cannot be rewritten is named once per process on standard
// error: its writes fail as those of keys without write rights. The caller
// holds keysMu.
void ReportUnwritableStore(const std::string& file, const std::string& problem) {
  if (!St().reported.insert(file).second) return;
  std::fflush(nullptr);
  std::fprintf(stderr,
               "%s: settings store %s %s; it is left as it is and nothing is written to it\n",
               program_invocation_short_name, file.c_str(), problem.c_str());
}

// Below HKEY_LOCAL_MACHINE\SOFTWARE\Classes the desktop's MIME defaults
// answer where the store itself holds no ".html" key; those keys are read
// only (MimeClasses.h).
void LoadStoreForReading(HKEY root, Store* store) {
  LoadStore(RegistryFileOf(root), store);
  if (root != HKEY_LOCAL_MACHINE || store->Find(mimeclasses::kHtmlKey)) return;
  for (const auto& c : mimeclasses::Keys()) {
    size_t before = store->Keys.size();
    Key* k = store->Make(c.Path);
    if (c.HasDefault && store->Keys.size() > before)
      k->Values.push_back(Value{"", REG_SZ, c.Default});
    for (size_t i = before; i < store->Keys.size(); ++i) store->Keys[i].ReadOnly = true;
  }
}

// Runs change on the freshly read store under the store's lock and writes it
// back when change answers ERROR_SUCCESS and *changed.
template <class F>
LSTATUS Mutate(HKEY root, F change) {
  std::string file;
  if (!WriteFileOf(root, &file)) {
    ReportUnwritableStore(RegistryFileOf(root), "is a link that leads nowhere");
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (!sf::CanWrite(sf::Directory(file), file)) return Fail(ERROR_ACCESS_DENIED);
  std::string dir = RegistryDir();
  if (!sf::MakeDirs(dir)) return Fail(ERROR_ACCESS_DENIED);
  sf::Lock lock(dir + "/.lock", false);
  if (!lock.Held()) return Fail(ERROR_ACCESS_DENIED);
  Store store;
  // A store that could not be read, or that is no store at all, is not
  // rewritten: that would replace it with the few values of this change.
  std::string problem = LoadStore(file, &store);
  if (!problem.empty()) {
    ReportUnwritableStore(file, problem);
    return Fail(ERROR_ACCESS_DENIED);
  }
  bool changed = false;
  LSTATUS st = change(store, &changed);
  if (st != ERROR_SUCCESS) return Fail(static_cast<DWORD>(st));
  if (changed && !sf::ReplaceAtomically(file, FormatStore(store, RootKeyName(root)))) {
    return Fail(errno == EACCES || errno == EPERM || errno == EROFS ? ERROR_ACCESS_DENIED
                                                                     : ERROR_CANTWRITE);
  }
  return Ok();
}

HKEY NewHandle(const OpenKey& k) {
  auto& st = St();
  HKEY h = st.nextHandle.load(std::memory_order_relaxed);
  st.nextHandle.store(h + 1 >= 0x7FFFFFFF ? 1 : h + 1, std::memory_order_relaxed);
  st.handles[h] = k;
  return h;
}

bool WantsWrite(REGSAM sam) {
  return (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK)) != 0;
}

// Every entry point on a key starts alike: under the registry's lock the handle
// names a root or an open key (else ERROR_INVALID_HANDLE), and a call that sets
// or deletes values needs a key opened with KEY_SET_VALUE (a root always may).
enum class Need { Read, SetValue };

template <class F>
LSTATUS WithKey(HKEY hKey, Need need, F body) {
  std::lock_guard<std::mutex> g(St().keysMu);
  OpenKey k;
  if (!Resolve(hKey, &k)) return Fail(ERROR_INVALID_HANDLE);
  if (need == Need::SetValue && !IsRoot(hKey) && !(k.Access & KEY_SET_VALUE)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  return body(k);
}

// The reading calls go on to find the key in a fresh read of its store; a key
// gone from it answers missing.
template <class F>
LSTATUS WithStoredKey(HKEY hKey, DWORD missing, F body) {
  return WithKey(hKey, Need::Read, [&](const OpenKey& k) -> LSTATUS {
    Store store;
    LoadStoreForReading(k.Root, &store);
    Key* key = store.Find(k.Path);
    if (!key) return Fail(missing);
    return body(store, *key, k);
  });
}

}  // namespace

std::string NormalizeStoreText(const std::string& text, const std::string& rootName) {
  Store store;
  ParseStore(text, &store);
  return FormatStore(store, rootName);
}

std::string RegistryDir() {
  if (const char* d = getenv("VEXA_REGISTRY_DIR"); d && *d) return d;
  if (const char* x = getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/vexa/registry";
  if (const char* h = getenv("HOME"); h && *h)
    return std::string(h) + "/.local/share/vexa/registry";
  return "/tmp/vexa-registry";
}

std::string RootKeyName(HKEY root) {
  for (const auto& r : kRoots) {
    if (r.Key == root) return r.Name;
  }
  return "";
}

HKEY RootKeyFromName(const std::string& name) {
  for (const auto& r : kRoots) {
    if (sf::SameText(name, r.Name)) return r.Key;
  }
  if (sf::SameText(name, "HKLM")) return HKEY_LOCAL_MACHINE;
  if (sf::SameText(name, "HKCU")) return HKEY_CURRENT_USER;
  if (sf::SameText(name, "HKCR")) return HKEY_CLASSES_ROOT;
  if (sf::SameText(name, "HKU")) return HKEY_USERS;
  if (sf::SameText(name, "HKCC")) return HKEY_CURRENT_CONFIG;
  return 0;
}

std::string RegistryFileOf(HKEY root) {
  std::string name = RootKeyName(root);
  if (name.empty()) return "";
  return RegistryDir() + "/" + name + ".reg";
}

LSTATUS RegOpenKeyEx(HKEY hKey, const std::string& subKey, DWORD, REGSAM samDesired, HKEY* result) {
  if (!result) return Fail(ERROR_INVALID_PARAMETER);
  *result = 0;
  return WithKey(hKey, Need::Read, [&](const OpenKey& base) -> LSTATUS {
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts)) return Fail(ERROR_FILE_NOT_FOUND);
    Store store;
    LoadStoreForReading(base.Root, &store);
    Key* k = store.Find(JoinPath(base.Path, parts));
    if (!k) return Fail(ERROR_FILE_NOT_FOUND);
    if (WantsWrite(samDesired) && (k->ReadOnly || !StoreWritable(base.Root))) {
      return Fail(ERROR_ACCESS_DENIED);
    }
    *result = NewHandle(OpenKey{base.Root, k->Path, samDesired});
    return Ok();
  });
}

LSTATUS RegCreateKeyEx(HKEY hKey, const std::string& subKey, REGSAM samDesired, HKEY* result,
                       DWORD* disposition) {
  if (!result) return Fail(ERROR_INVALID_PARAMETER);
  *result = 0;
  return WithKey(hKey, Need::Read, [&](const OpenKey& base) -> LSTATUS {
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts)) return Fail(ERROR_INVALID_PARAMETER);
    std::string path = JoinPath(base.Path, parts);
    std::string actual;
    DWORD disp = REG_OPENED_EXISTING_KEY;
    {
      Store store;
      LoadStoreForReading(base.Root, &store);
      if (Key* k = store.Find(path)) {
        if (WantsWrite(samDesired) && (k->ReadOnly || !StoreWritable(base.Root))) {
          return Fail(ERROR_ACCESS_DENIED);
        }
        actual = k->Path;
      }
    }
    if (actual.empty() && !path.empty()) {
      LSTATUS st = Mutate(base.Root, [&](Store& s, bool* changed) -> LSTATUS {
        if (Key* k = s.Find(path)) {
          actual = k->Path;
        } else {
          actual = s.Make(path)->Path;
          disp = REG_CREATED_NEW_KEY;
          *changed = true;
        }
        return ERROR_SUCCESS;
      });
      if (st != ERROR_SUCCESS) return st;
    }
    if (disposition) *disposition = disp;
    *result = NewHandle(OpenKey{base.Root, actual, samDesired});
    return Ok();
  });
}

LSTATUS RegCloseKey(HKEY hKey) {
  std::lock_guard<std::mutex> g(St().keysMu);
  if (IsRoot(hKey)) return Ok();
  if (St().handles.erase(hKey) == 0) return Fail(ERROR_INVALID_HANDLE);
  return Ok();
}

LSTATUS RegFlushKey(HKEY hKey) {
  // Every change is on disk when its call returns.
  return WithKey(hKey, Need::Read, [](const OpenKey&) { return Ok(); });
}

LSTATUS RegQueryValue(HKEY hKey, const std::string& valueName, DWORD* type, std::string* data) {
  return WithStoredKey(hKey, ERROR_FILE_NOT_FOUND, [&](Store&, Key& key, const OpenKey&) {
    for (const auto& v : key.Values) {
      if (sf::SameText(v.Name, valueName)) {
        if (type) *type = v.Type;
        if (data) *data = v.Data;
        return Ok();
      }
    }
    return Fail(ERROR_FILE_NOT_FOUND);
  });
}

LSTATUS RegQueryValueEx(HKEY hKey, const std::string& valueName, DWORD* type, void* data,
                        DWORD* size) {
  DWORD t = 0;
  std::string bytes;
  LSTATUS st = RegQueryValue(hKey, valueName, &t, &bytes);
  if (st != ERROR_SUCCESS) return st;
  if (t == REG_SZ || t == REG_EXPAND_SZ) bytes.push_back('\0');
  if (type) *type = t;
  if (!size) return data ? Fail(ERROR_INVALID_PARAMETER) : Ok();
  DWORD need = static_cast<DWORD>(bytes.size());
  if (data) {
    if (*size < need) {
      *size = need;
      return Fail(ERROR_MORE_DATA);
    }
    std::memcpy(data, bytes.data(), need);
  }
  *size = need;
  return Ok();
}

LSTATUS RegSetValueEx(HKEY hKey, const std::string& valueName, DWORD type, const void* data,
                      DWORD size) {
  return WithKey(hKey, Need::SetValue, [&](const OpenKey& k) -> LSTATUS {
    if (size && !data) return Fail(ERROR_INVALID_PARAMETER);
    std::string bytes(static_cast<const char*>(data ? data : ""), data ? size : 0);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      size_t zero = bytes.find('\0');
      if (zero != std::string::npos) bytes.resize(zero);
    } else if (type == REG_DWORD && bytes.size() != 4) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    return Mutate(k.Root, [&](Store& s, bool* changed) -> LSTATUS {
      Key* key = s.Find(k.Path);
      if (!key) return ERROR_KEY_DELETED;
      for (auto& v : key->Values) {
        if (sf::SameText(v.Name, valueName)) {
          if (v.Type != type || v.Data != bytes) {
            v.Type = type;
            v.Data = bytes;
            *changed = true;
          }
          return ERROR_SUCCESS;
        }
      }
      key->Values.push_back(Value{valueName, type, bytes});
      *changed = true;
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS RegDeleteValue(HKEY hKey, const std::string& valueName) {
  return WithKey(hKey, Need::SetValue, [&](const OpenKey& k) -> LSTATUS {
    return Mutate(k.Root, [&](Store& s, bool* changed) -> LSTATUS {
      Key* key = s.Find(k.Path);
      if (!key) return ERROR_KEY_DELETED;
      for (size_t i = 0; i < key->Values.size(); ++i) {
        if (sf::SameText(key->Values[i].Name, valueName)) {
          key->Values.erase(key->Values.begin() + static_cast<long>(i));
          *changed = true;
          return ERROR_SUCCESS;
        }
      }
      return ERROR_FILE_NOT_FOUND;
    });
  });
}

LSTATUS RegDeleteKey(HKEY hKey, const std::string& subKey) {
  return WithKey(hKey, Need::Read, [&](const OpenKey& k) -> LSTATUS {
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts) || parts.empty()) return Fail(ERROR_INVALID_PARAMETER);
    std::string path = sf::Fold(JoinPath(k.Path, parts));
    return Mutate(k.Root, [&](Store& s, bool* changed) -> LSTATUS {
      if (!s.Find(path)) return ERROR_FILE_NOT_FOUND;
      std::vector<Key> kept;
      for (auto& key : s.Keys) {
        std::string f = sf::Fold(key.Path);
        bool below = f == path || (f.size() > path.size() && f.compare(0, path.size(), path) == 0 &&
                                   f[path.size()] == '\\');
        if (!below) kept.push_back(std::move(key));
      }
      s.Keys = std::move(kept);
      s.Reindex();
      *changed = true;
      return ERROR_SUCCESS;
    });
  });
}

namespace {
std::vector<std::string> ChildNames(Store& s, const std::string& path) {
  std::vector<std::string> names;
  std::string prefix = path.empty() ? "" : sf::Fold(path) + "\\";
  for (const auto& key : s.Keys) {
    if (key.Path.empty()) continue;
    std::string f = sf::Fold(key.Path);
    if (f.size() <= prefix.size() || f.compare(0, prefix.size(), prefix) != 0) continue;
    if (f.find('\\', prefix.size()) != std::string::npos) continue;
    names.push_back(key.Path.substr(prefix.size()));
  }
  return names;
}
}  // namespace

LSTATUS RegEnumKeyEx(HKEY hKey, DWORD index, std::string* name) {
  return WithStoredKey(hKey, ERROR_KEY_DELETED, [&](Store& store, Key&, const OpenKey& k) {
    auto names = ChildNames(store, k.Path);
    if (index >= names.size()) return Fail(ERROR_NO_MORE_ITEMS);
    if (name) *name = names[index];
    return Ok();
  });
}

LSTATUS RegEnumValue(HKEY hKey, DWORD index, std::string* name, DWORD* type) {
  return WithStoredKey(hKey, ERROR_KEY_DELETED, [&](Store&, Key& key, const OpenKey&) {
    if (index >= key.Values.size()) return Fail(ERROR_NO_MORE_ITEMS);
    if (name) *name = key.Values[index].Name;
    if (type) *type = key.Values[index].Type;
    return Ok();
  });
}

LSTATUS RegQueryInfoKey(HKEY hKey, DWORD* subKeys, DWORD* values) {
  return WithStoredKey(hKey, ERROR_KEY_DELETED, [&](Store& store, Key& key, const OpenKey& k) {
    if (subKeys) *subKeys = static_cast<DWORD>(ChildNames(store, k.Path).size());
    if (values) *values = static_cast<DWORD>(key.Values.size());
    return Ok();
  });
}

std::string RegKeyPath(HKEY hKey) {
  std::lock_guard<std::mutex> g(St().keysMu);
  OpenKey k;
  return Resolve(hKey, &k) ? k.Path : std::string();
}

HKEY RegKeyRoot(HKEY hKey) {
  std::lock_guard<std::mutex> g(St().keysMu);
  OpenKey k;
  return Resolve(hKey, &k) ? k.Root : 0;
}

}  // namespace plat
