#include "platform/registry/MimeClasses.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/registry/StoreFile.h"

namespace plat::mimeclasses {

namespace {

namespace sf = storefile;

const char* const kClasses = "SOFTWARE\\Classes";
const char* const kMimeType = "text/html";
const char* const kExtension = ".html";
// Desktop settings files are small; anything larger is not read further.
constexpr size_t kMaxSettingsFile = 256 * 1024;

std::string Env(const char* name) {
  const char* v = getenv(name);
  return v ? std::string(v) : std::string();
}

std::string Home() { return Env("HOME"); }

std::vector<std::string> SplitList(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == sep) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

// A base folder of the desktop's settings or data: the variable's value, else
// below in the home folder (none without a home).
std::string XdgHome(const char* var, const char* below) {
  std::string d = Env(var);
  if (!d.empty()) return d;
  return Home().empty() ? std::string() : Home() + below;
}
// The folders searched after it: the variable's list, else fallback.
std::vector<std::string> XdgDirs(const char* var, const char* fallback) {
  std::string d = Env(var);
  return SplitList(d.empty() ? std::string(fallback) : d, ':');
}
std::string ConfigHome() { return XdgHome("XDG_CONFIG_HOME", "/.config"); }
std::vector<std::string> ConfigDirs() { return XdgDirs("XDG_CONFIG_DIRS", "/etc/xdg"); }
std::string DataHome() { return XdgHome("XDG_DATA_HOME", "/.local/share"); }
std::vector<std::string> DataDirs() { return XdgDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share"); }

bool ReadSmallFile(const std::string& path, std::string* text) {
  bool truncated = false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (!sf::ReadWhole(path, text, &truncated)) return false;
  if (text->size() > kMaxSettingsFile) text->resize(kMaxSettingsFile);
  return true;
}

using sf::TrimBlanks;

// The value of key in group of a desktop-style settings text ("" when absent).
std::string GroupValue(const std::string& text, const std::string& group, const std::string& key) {
  bool inGroup = false;
  for (const std::string& raw : SplitList(text, '\n')) {
    std::string line = TrimBlanks(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[" + group + "]";
      continue;
    }
    if (!inGroup) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (TrimBlanks(line.substr(0, eq)) == key) return TrimBlanks(line.substr(eq + 1));
  }
  return "";
}

// The installed desktop file of an id, "" when none.
std::string DesktopFileOf(const std::string& id) {
  if (id.empty() || id.find('/') != std::string::npos) return "";
  std::vector<std::string> dirs;
  if (!DataHome().empty()) dirs.push_back(DataHome());
  for (const auto& d : DataDirs()) dirs.push_back(d);
  for (const auto& d : dirs) {
    std::string path = d + "/applications/" + id;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }
  return "";
}

bool UsableLevel(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

// The desktop file id of the default handler of text/html, "" when none.
std::string DefaultHandler(std::string* desktopFile) {
  std::vector<std::string> names;
  for (const auto& d : SplitList(Env("XDG_CURRENT_DESKTOP"), ':'))
    names.push_back(sf::Fold(d) + "-mimeapps.list");
  names.push_back("mimeapps.list");
  std::vector<std::string> dirs;
  if (!ConfigHome().empty()) dirs.push_back(ConfigHome());
  for (const auto& d : ConfigDirs()) dirs.push_back(d);
  if (!DataHome().empty()) dirs.push_back(DataHome() + "/applications");
  for (const auto& d : DataDirs()) dirs.push_back(d + "/applications");
  for (const auto& dir : dirs) {
    for (const auto& name : names) {
      std::string text;
      if (!ReadSmallFile(dir + "/" + name, &text)) continue;
      for (const auto& id : SplitList(GroupValue(text, "Default Applications", kMimeType), ';')) {
        std::string file = DesktopFileOf(TrimBlanks(id));
        if (!file.empty()) {
          *desktopFile = file;
          return TrimBlanks(id);
        }
      }
    }
  }
  return "";
}

// s with every character that follows Mark (a Mark at the very end stays as
// it is) handed to Escape together with the text made so far.
template <class TEscape>
std::string ReplaceMarked(const std::string& s, char Mark, TEscape Escape) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != Mark || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    Escape(s[++i], out);
  }
  return out;
}

// The escapes of a desktop file's string values.
std::string UnescapeValue(const std::string& s) {
  return ReplaceMarked(s, '\\', [](char c, std::string& out) {
    switch (c) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default:
        out += '\\';
        out += c;
        break;
    }
  });
}

// Arguments of an Exec value: blanks separate, double quotes group (with \" \` \$ \\ inside).
std::vector<std::string> ExecArguments(const std::string& exec) {
  std::vector<std::string> args;
  std::string cur;
  bool inArg = false, quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        cur += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      quoted = true;
      inArg = true;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (inArg) args.push_back(cur);
      cur.clear();
      inArg = false;
    } else {
      cur += c;
      inArg = true;
    }
  }
  if (inArg) args.push_back(cur);
  return args;
}

// Full path of a program named without a folder ("" when $PATH has none).
std::string FindInPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  for (const auto& dir : SplitList(Env("PATH"), ':')) {
    std::string path = dir + "/" + program;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0)
      return path;
  }
  return "";
}

std::string Quoted(const std::string& s) {
  return s.find(' ') == std::string::npos && s.find('\t') == std::string::npos ? s
                                                                               : "\"" + s + "\"";
}

// Field codes of one argument: %u %U %f %F give the placeholder, %% a percent
// sign; the other codes are dropped.
std::string ReplaceFieldCodes(const std::string& arg, bool* placeholder) {
  return ReplaceMarked(arg, '%', [placeholder](char c, std::string& out) {
    if (c == '%') {
      out += '%';
    } else if (c == 'u' || c == 'U' || c == 'f' || c == 'F') {
      out += "%1";
      *placeholder = true;
    }
  });
}

}  // namespace

std::string CommandLineOfExec(const std::string& exec) {
  std::vector<std::string> args = ExecArguments(UnescapeValue(exec));
  if (args.empty()) return "";
  std::string program = FindInPath(args[0]);
  if (program.empty()) program = args[0];
  std::string line = Quoted(program);
  bool placeholder = false;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string a = ReplaceFieldCodes(args[i], &placeholder);
    if (!a.empty()) line += " " + Quoted(a);
  }
  if (!placeholder) line += " %1";
  return line;
}

std::vector<ClassKey> Keys() {
  std::vector<ClassKey> keys;
  std::string desktopFile;
  std::string id = DefaultHandler(&desktopFile);
  std::string docType = id;
  const std::string suffix = ".desktop";
  if (docType.size() > suffix.size() &&
      docType.compare(docType.size() - suffix.size(), suffix.size(), suffix) == 0) {
    docType.resize(docType.size() - suffix.size());
  }
  if (!UsableLevel(docType) || sf::SameText(docType, kExtension)) return keys;
  std::string text;
  if (!ReadSmallFile(desktopFile, &text)) return keys;
  std::string command = CommandLineOfExec(GroupValue(text, "Desktop Entry", "Exec"));
  if (command.empty()) return keys;
  std::string base = std::string(kClasses) + "\\";
  keys.push_back(ClassKey{base + kExtension, true, docType});
  keys.push_back(ClassKey{base + docType, false, ""});
  keys.push_back(ClassKey{base + docType + "\\shell", false, ""});
  keys.push_back(ClassKey{base + docType + "\\shell\\open", false, ""});
  keys.push_back(ClassKey{base + docType + "\\shell\\open\\command", true, command});
  return keys;
}

}  // namespace plat::mimeclasses
