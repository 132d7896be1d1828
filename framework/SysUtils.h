// Exceptions and text helpers of the class framework.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace fw {

// Root of every exception the system raises. Log lines name the class, so each
// derived class reports its own name through ClassName().
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  ~Exception() override = default;

  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  virtual const char* ClassName() const noexcept { return "Exception"; }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

}  // namespace fw

// Declares an exception class that only renames its base (which may be
// named with its namespace).
#define VEXA_DECLARE_EXCEPTION(Name, Base)                                  \
  class Name : public Base {                                                \
    using TInheritedException = Base;                                       \
                                                                            \
  public:                                                                   \
    using TInheritedException::TInheritedException;                         \
    const char* ClassName() const noexcept override { return #Name; }       \
  }

namespace fw {

VEXA_DECLARE_EXCEPTION(EAbort, Exception);
VEXA_DECLARE_EXCEPTION(EConvertError, Exception);
VEXA_DECLARE_EXCEPTION(EListError, Exception);
VEXA_DECLARE_EXCEPTION(EStringListError, Exception);
VEXA_DECLARE_EXCEPTION(EStreamError, Exception);
VEXA_DECLARE_EXCEPTION(EFCreateError, EStreamError);
VEXA_DECLARE_EXCEPTION(EFOpenError, EStreamError);
VEXA_DECLARE_EXCEPTION(EFilerError, EStreamError);
VEXA_DECLARE_EXCEPTION(EReadError, EFilerError);
VEXA_DECLARE_EXCEPTION(EWriteError, EFilerError);
VEXA_DECLARE_EXCEPTION(EOutOfResources, Exception);
VEXA_DECLARE_EXCEPTION(EInvalidOperation, Exception);
VEXA_DECLARE_EXCEPTION(EComponentError, Exception);
VEXA_DECLARE_EXCEPTION(EOSError, Exception);

// Raises EAbort, the silent exception: the application's handler ignores it.
[[noreturn]] void Abort();

// printf-style formatting into a string (the framework's Format).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Decimal conversion. StrToInt accepts optional blanks around, a sign and
// decimal digits, or "$"/"0x" followed by hex digits, and raises EConvertError
// "'<text>' is not a valid integer value" for anything else or a value outside
// int32.
std::string IntToStr(int64_t value);
int32_t StrToInt(const std::string& text);
int32_t StrToIntDef(const std::string& text, int32_t def);
bool TryStrToInt(const std::string& text, int32_t& value);
int64_t StrToInt64(const std::string& text);
std::string IntToHex(int64_t value, int digits);

// Case of the letters a-z / A-Z only; every other byte is left as it is.
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
// Byte-wise comparisons ignoring the case of a-z (negative, 0, positive).
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);
int CompareStr(const std::string& a, const std::string& b);

// Remove leading and/or trailing blanks and control characters (bytes <= ' ').
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);

// Date and time as days since 1899-12-30 (the fraction is the time of day),
// in local time.
using TDateTime = double;
TDateTime Now();
TDateTime Date();
TDateTime Time();
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);

// Formats with the specifiers yyyy, yy, mm, m, dd, d, hh, h, nn, n, ss, s, zzz,
// "/" (date separator), ":" (time separator), 'quoted' and "quoted" literals;
// "c" gives the short date and long time formats. "mm"/"m" right after an
// "hh"/"h" means minutes. Any other character is copied.
std::string FormatDateTime(const std::string& format, TDateTime dt);
// The formats the log lines use (C locale): "mm/dd/yyyy" and "hh:nn:ss".
extern std::string ShortDateFormat;
extern std::string LongTimeFormat;
std::string DateToStr(TDateTime dt);           // ShortDateFormat
std::string TimeToStr(TDateTime dt);           // LongTimeFormat
std::string DateTimeToStr(TDateTime dt);       // both, a blank between

// Files and paths (forward slashes).
bool FileExists(const std::string& name);
bool DirectoryExists(const std::string& name);
bool DeleteFile(const std::string& name);
std::string ExtractFilePath(const std::string& name);  // up to and including the last '/'
std::string ExtractFileName(const std::string& name);
std::string ExtractFileExt(const std::string& name);   // with the dot; "" when none
std::string ChangeFileExt(const std::string& name, const std::string& ext);
// Full path of the running program (from /proc/self/exe).
std::string ParamStr0();

}  // namespace fw
