#include "platform/registry/Profile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "platform/registry/RegistryState.h"
#include "platform/registry/StoreFile.h"

namespace plat {

namespace {

namespace sf = storefile;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A file as lines, each with its own line end, so that untouched lines are
// written back exactly as they were.
struct Line {
  std::string Text;
  std::string Eol;  // "\r\n", "\n" or "" (last line without an end)
};

enum LineKind { lkOther, lkSection, lkKey };

struct Parsed {
  LineKind Kind = lkOther;
  std::string Name;   // section or key name
  std::string Value;  // key value, trimmed and unquoted
};

Parsed Classify(const std::string& text) {
  Parsed p;
  std::string t = Trim(text);
  if (t.empty() || t[0] == ';' || t[0] == '#') return p;
  if (t[0] == '[') {
    size_t close = t.find(']');
    if (close == std::string::npos) return p;
    p.Kind = lkSection;
    p.Name = Trim(t.substr(1, close - 1));
    return p;
  }
  size_t eq = t.find('=');
  if (eq == std::string::npos) return p;
  std::string key = Trim(t.substr(0, eq));
  if (key.empty()) return p;
  p.Kind = lkKey;
  p.Name = key;
  std::string v = Trim(t.substr(eq + 1));
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
    v = v.substr(1, v.size() - 2);
  p.Value = v;
  return p;
}

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t nl = content.find('\n', start);
    Line l;
    if (nl == std::string::npos) {
      l.Text = content.substr(start);
      start = content.size();
    } else {
      size_t end = nl;
      if (end > start && content[end - 1] == '\r') {
        --end;
        l.Eol = "\r\n";
      } else {
        l.Eol = "\n";
      }
      l.Text = content.substr(start, end - start);
      start = nl + 1;
    }
    lines.push_back(std::move(l));
  }
  return lines;
}

std::string Join(const std::vector<Line>& lines) {
  std::string out;
  for (const auto& l : lines) out += l.Text + l.Eol;
  return out;
}

// The file's lines; *problem says why a file that exists could not be read
// (it then reads as empty).
std::vector<Line> Load(const std::string& fileName, std::string* problem) {
  std::string content;
  bool truncated = false;
  std::string why;
  sf::ReadWhole(fileName, &content, &truncated, &why);
  if (problem) *problem = why;
  return SplitLines(content);
}

// Index of the first header line of section, or -1.
int FindSection(const std::vector<Line>& lines, const std::string& section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    Parsed p = Classify(lines[i].Text);
    if (p.Kind == lkSection && sf::SameText(p.Name, section)) return static_cast<int>(i);
  }
  return -1;
}

// End (exclusive) of the section whose header is at index head.
size_t SectionEnd(const std::vector<Line>& lines, size_t head) {
  size_t i = head + 1;
  while (i < lines.size() && Classify(lines[i].Text).Kind != lkSection) ++i;
  return i;
}

// The lines of a section (after its header, up to the next): false when the
// file has no such section.
bool SectionLines(const std::vector<Line>& lines, const std::string& section, size_t* first,
                  size_t* end) {
  int head = FindSection(lines, section);
  if (head < 0) return false;
  *first = static_cast<size_t>(head) + 1;
  *end = SectionEnd(lines, static_cast<size_t>(head));
  return true;
}

// Applies edit to the file's lines under the lock and replaces the file when
// edit reports a change.
template <class F>
bool Edit(const std::string& fileName, F edit) {
  if (fileName.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // Through links to the real file, so that replacing it keeps the link.
  std::string target;
  if (!sf::WriteTarget(fileName, &target)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  std::string dir = sf::Directory(target);
  std::lock_guard<std::mutex> g(registryimpl::St().profileMu);
  // Normally the file is replaced as a whole; a writable file in a folder that
  // cannot be written is rewritten in place instead.
  bool inPlace = false;
  if (!sf::CanWrite(dir, target)) {
    if (!sf::CanWriteFile(target)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    inPlace = true;
  }
  sf::Lock lock(inPlace ? target : dir, !inPlace);
  // A file that could not be read is never rewritten: that would replace what
  // it holds with the one key written.
  std::string problem;
  std::vector<Line> lines = Load(target, &problem);
  if (!problem.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!edit(lines)) {
    SetLastError(ERROR_SUCCESS);
    return true;
  }
  std::string content = Join(lines);
  if (!(inPlace ? sf::WriteInPlace(target, content) : sf::ReplaceAtomically(target, content))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  SetLastError(ERROR_SUCCESS);
  return true;
}

std::string EolOf(const std::vector<Line>& lines) {
  for (const auto& l : lines) {
    if (!l.Eol.empty()) return l.Eol;
  }
  return "\n";
}

bool ValidName(const std::string& s) {
  for (char c : s) {
    if (c == '\r' || c == '\n') return false;
  }
  return true;
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName) {
  std::vector<Line> lines = Load(fileName, nullptr);
  size_t first = 0, end = 0;
  if (!SectionLines(lines, section, &first, &end)) return defaultValue;
  for (size_t i = first; i < end; ++i) {
    Parsed p = Classify(lines[i].Text);
    if (p.Kind == lkKey && sf::SameText(p.Name, Trim(key))) return p.Value;
  }
  return defaultValue;
}

int32_t GetPrivateProfileInt(const std::string& section, const std::string& key,
                             int32_t defaultValue, const std::string& fileName) {
  std::string v = GetPrivateProfileString(section, key, "", fileName);
  if (v.empty()) return defaultValue;
  errno = 0;
  char* end = nullptr;
  long long n = strtoll(v.c_str(), &end, 10);
  if (end == v.c_str()) return defaultValue;
  if (n > INT32_MAX || n < INT32_MIN) return defaultValue;
  return static_cast<int32_t>(n);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName) {
  std::string k = Trim(key);
  std::string sec = Trim(section);
  if (k.empty() || sec.empty() || !ValidName(k) || !ValidName(sec) ||
      k.find('=') != std::string::npos || k[0] == '[' || k[0] == ';' || k[0] == '#' ||
      sec.find(']') != std::string::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // A value cannot span lines: line breaks become blanks.
  std::string v = value;
  for (char& c : v) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return Edit(fileName, [&](std::vector<Line>& lines) {
    std::string eol = EolOf(lines);
    std::string text = k + "=" + v;
    size_t first = 0, end = 0;
    if (!SectionLines(lines, sec, &first, &end)) {
      if (!lines.empty()) {
        if (lines.back().Eol.empty()) lines.back().Eol = eol;
        if (!Trim(lines.back().Text).empty()) lines.push_back(Line{"", eol});
      }
      lines.push_back(Line{"[" + sec + "]", eol});
      lines.push_back(Line{text, eol});
      return true;
    }
    size_t insertAt = first;
    for (size_t i = first; i < end; ++i) {
      Parsed p = Classify(lines[i].Text);
      if (p.Kind != lkKey) continue;
      if (sf::SameText(p.Name, k)) {
        if (lines[i].Text == text) return false;
        lines[i].Text = text;
        return true;
      }
      insertAt = i + 1;
    }
    if (insertAt > 0 && lines[insertAt - 1].Eol.empty()) lines[insertAt - 1].Eol = eol;
    lines.insert(lines.begin() + static_cast<long>(insertAt),
                 Line{text, eol});
    return true;
  });
}

bool DeletePrivateProfileKey(const std::string& section, const std::string& key,
                             const std::string& fileName) {
  return Edit(fileName, [&](std::vector<Line>& lines) {
    size_t first = 0, end = 0;
    if (!SectionLines(lines, section, &first, &end)) return false;
    bool changed = false;
    for (size_t i = end; i-- > first;) {
      Parsed p = Classify(lines[i].Text);
      if (p.Kind == lkKey && sf::SameText(p.Name, Trim(key))) {
        lines.erase(lines.begin() + static_cast<long>(i));
        changed = true;
      }
    }
    return changed;
  });
}

bool DeletePrivateProfileSection(const std::string& section, const std::string& fileName) {
  return Edit(fileName, [&](std::vector<Line>& lines) {
    bool changed = false;
    for (;;) {
      int head = FindSection(lines, section);
      if (head < 0) break;
      size_t end = SectionEnd(lines, static_cast<size_t>(head));
      lines.erase(lines.begin() + head, lines.begin() + static_cast<long>(end));
      changed = true;
    }
    return changed;
  });
}

std::vector<std::string> GetPrivateProfileSectionNames(const std::string& fileName) {
  std::vector<std::string> names;
  for (const auto& l : Load(fileName, nullptr)) {
    Parsed p = Classify(l.Text);
    if (p.Kind != lkSection) continue;
    bool seen = false;
    for (const auto& n : names) seen = seen || sf::SameText(n, p.Name);
    if (!seen) names.push_back(p.Name);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(
    const std::string& section, const std::string& fileName) {
  std::vector<std::pair<std::string, std::string>> out;
  std::vector<Line> lines = Load(fileName, nullptr);
  size_t first = 0, end = 0;
  if (!SectionLines(lines, section, &first, &end)) return out;
  for (size_t i = first; i < end; ++i) {
    Parsed p = Classify(lines[i].Text);
    if (p.Kind != lkKey) continue;
    bool seen = false;
    for (const auto& kv : out) seen = seen || sf::SameText(kv.first, p.Name);
    if (!seen) out.emplace_back(p.Name, p.Value);
  }
  return out;
}

std::string PrivateProfileFileProblem(const std::string& fileName) {
  std::string problem;
  Load(fileName, &problem);
  return problem;
}

bool PrivateProfileSectionExists(const std::string& section, const std::string& fileName) {
  return FindSection(Load(fileName, nullptr), section) >= 0;
}

}  // namespace plat
