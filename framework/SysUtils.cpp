#include "framework/SysUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/time.h>

#include "platform/kernel/AsciiCase.h"

namespace fw {

std::string ShortDateFormat = "mm/dd/yyyy";
std::string LongTimeFormat = "hh:nn:ss";

void Abort() { throw EAbort("Operation aborted"); }

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, ap2);
    out.resize(static_cast<size_t>(n));
  }
  va_end(ap2);
  return out;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Parses the integer forms StrToInt accepts into a 64-bit value.
bool ParseInt(const std::string& text, int64_t min, int64_t max, int64_t* out) {
  size_t i = 0, n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  while (n > i && IsBlank(text[n - 1])) --n;
  if (i >= n) return false;
  bool neg = false;
  if (text[i] == '-' || text[i] == '+') {
    neg = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) return false;
  uint64_t v = 0;
  const uint64_t limit = base == 16 ? UINT64_MAX : static_cast<uint64_t>(INT64_MAX) + 1;
  for (; i < n; ++i) {
    char c = text[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    if (v > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  int64_t r;
  if (base == 16) {
    // Hex text names the bit pattern: $FFFFFFFF is -1 for a 32-bit result.
    if (max == INT32_MAX && v <= 0xFFFFFFFFull) {
      r = static_cast<int32_t>(static_cast<uint32_t>(v));
    } else {
      r = static_cast<int64_t>(v);
    }
    if (neg) r = -r;
  } else {
    if (neg) {
      if (v > static_cast<uint64_t>(INT64_MAX) + 1) return false;
      r = v == static_cast<uint64_t>(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(v);
    } else {
      if (v > static_cast<uint64_t>(INT64_MAX)) return false;
      r = static_cast<int64_t>(v);
    }
  }
  if (r < min || r > max) return false;
  *out = r;
  return true;
}
}  // namespace

bool TryStrToInt(const std::string& text, int32_t& value) {
  int64_t v;
  if (!ParseInt(text, INT32_MIN, INT32_MAX, &v)) return false;
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(const std::string& text) {
  int32_t v;
  if (!TryStrToInt(text, v)) throw EConvertError("'" + text + "' is not a valid integer value");
  return v;
}

int32_t StrToIntDef(const std::string& text, int32_t def) {
  int32_t v;
  return TryStrToInt(text, v) ? v : def;
}

int64_t StrToInt64(const std::string& text) {
  int64_t v;
  if (!ParseInt(text, INT64_MIN, INT64_MAX, &v)) {
    throw EConvertError("'" + text + "' is not a valid integer value");
  }
  return v;
}

std::string IntToHex(int64_t value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", digits < 0 ? 0 : (digits > 16 ? 16 : digits),
                static_cast<unsigned long long>(value));
  return buf;
}

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return r;
}

std::string LowerCase(const std::string& s) { return plat::AsciiLower(s); }

int CompareText(const std::string& a, const std::string& b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

int CompareStr(const std::string& a, const std::string& b) {
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string TrimLeft(const std::string& s) {
  size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  return s.substr(b);
}

std::string TrimRight(const std::string& s) {
  size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1])) --e;
  return s.substr(0, e);
}

// --- dates ---------------------------------------------------------------------

namespace {
// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpoch = 25569.0;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

// Splits a date-time into whole days and milliseconds of the day, rounding to
// the nearest millisecond.
void Split(TDateTime dt, int64_t& days, int64_t& ms) {
  int64_t total = static_cast<int64_t>(std::llround(dt * 86400000.0));
  days = total >= 0 ? total / 86400000 : -((-total + 86399999) / 86400000);
  ms = total - days * 86400000;
}
}  // namespace

TDateTime Now() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t t = tv.tv_sec;
  struct tm lt;
  localtime_r(&t, &lt);
  return EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) +
         EncodeTime(lt.tm_hour, lt.tm_min, lt.tm_sec, static_cast<int>(tv.tv_usec / 1000));
}

TDateTime Date() { return std::floor(Now()); }

TDateTime Time() {
  TDateTime n = Now();
  return n - std::floor(n);
}

TDateTime EncodeDate(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1 || year > 9999) {
    throw EConvertError("Invalid argument to date encode");
  }
  return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                           static_cast<unsigned>(day))) + kUnixEpoch;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
      msec > 999) {
    throw EConvertError("Invalid argument to time encode");
  }
  return (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / 86400000.0;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  int64_t days, ms;
  Split(dt, days, ms);
  CivilFromDays(days - static_cast<int64_t>(kUnixEpoch), year, month, day);
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
  int64_t days, ms;
  Split(dt, days, ms);
  hour = static_cast<int>(ms / 3600000);
  min = static_cast<int>(ms / 60000 % 60);
  sec = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

std::string FormatDateTime(const std::string& format, TDateTime dt) {
  int y, mo, d, h, mi, s, ms;
  DecodeDate(dt, y, mo, d);
  DecodeTime(dt, h, mi, s, ms);
  std::string out;
  auto two = [](int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return std::string(b);
  };
  bool afterHour = false;
  size_t i = 0;
  const std::string& f = format;
  auto count = [&](char lower) {
    size_t n = 0;
    while (i + n < f.size() && (f[i + n] == lower || f[i + n] == lower - 32)) ++n;
    return n;
  };
  // A field of one or two digits, as many letters as stand here say.
  auto number = [&](char lower, int v) {
    size_t n = count(lower);
    out += n >= 2 ? two(v) : std::to_string(v);
    i += n;
  };
  while (i < f.size()) {
    char c = f[i];
    char lc = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    if (c == '\'' || c == '"') {
      size_t end = f.find(c, i + 1);
      if (end == std::string::npos) end = f.size();
      out += f.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    switch (lc) {
      case 'y': {
        size_t n = count('y');
        if (n <= 2) {
          out += two(y % 100);
        } else {
          char b[8];
          std::snprintf(b, sizeof b, "%04d", y);
          out += b;
        }
        afterHour = false;
        i += n;
        break;
      }
      case 'm':
        number('m', afterHour ? mi : mo);
        afterHour = false;
        break;
      case 'd':
        number('d', d);
        afterHour = false;
        break;
      case 'h':
        number('h', h);
        afterHour = true;
        break;
      case 'n': number('n', mi); break;
      case 's': number('s', s); break;
      case 'z': {
        size_t n = count('z');
        if (n >= 3) {
          char b[8];
          std::snprintf(b, sizeof b, "%03d", ms);
          out += b;
        } else {
          out += std::to_string(ms);
        }
        i += n;
        break;
      }
      case 'c':
        out += DateTimeToStr(dt);
        ++i;
        break;
      default:
        out += c;  // "/" and ":" are the C locale's own separators
        ++i;
    }
  }
  return out;
}

std::string DateToStr(TDateTime dt) { return FormatDateTime(ShortDateFormat, dt); }
std::string TimeToStr(TDateTime dt) { return FormatDateTime(LongTimeFormat, dt); }
std::string DateTimeToStr(TDateTime dt) { return DateToStr(dt) + " " + TimeToStr(dt); }

// --- files ---------------------------------------------------------------------

bool FileExists(const std::string& name) {
  struct stat st;
  return !name.empty() && stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& name) {
  struct stat st;
  return !name.empty() && stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& name) { return unlink(name.c_str()) == 0; }

std::string ExtractFilePath(const std::string& name) {
  size_t slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& name) {
  size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& name) {
  size_t dot = name.rfind('.');
  size_t slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return name.substr(dot);
}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
  size_t dot = name.rfind('.');
  size_t slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
  return name.substr(0, dot) + ext;
}

std::string ParamStr0() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace fw
