// INI files through the platform's profile routines: every read looks at the
// file, every write changes the file at once and keeps the rest of it as it was.
#pragma once

#include <cstdint>
#include <string>

#include "framework/Classes.h"

namespace fw {

// Raised when the file cannot be written: "Unable to write to <file name>".
VEXA_DECLARE_EXCEPTION(EIniFileException, Exception);

class TCustomIniFile : public TObject {
public:
  explicit TCustomIniFile(std::string FileName) : FFileName(std::move(FileName)) {}
  const std::string& FileName() const { return FFileName; }

  virtual std::string ReadString(const std::string& Section, const std::string& Ident,
                                 const std::string& Default) = 0;
  virtual void WriteString(const std::string& Section, const std::string& Ident,
                           const std::string& Value) = 0;
  // A value that is not a decimal (or "0x"/"$" hex) number reads as Default.
  int32_t ReadInteger(const std::string& Section, const std::string& Ident, int32_t Default);
  void WriteInteger(const std::string& Section, const std::string& Ident, int32_t Value);
  // "0" is false, any other number true; other text gives Default. Writes "1"/"0".
  bool ReadBool(const std::string& Section, const std::string& Ident, bool Default);
  void WriteBool(const std::string& Section, const std::string& Ident, bool Value);

  virtual void ReadSection(const std::string& Section, TStrings* Strings) = 0;   // key names
  virtual void ReadSections(TStrings* Strings) = 0;
  virtual void ReadSectionValues(const std::string& Section, TStrings* Strings) = 0;  // Key=Value
  virtual void EraseSection(const std::string& Section) = 0;
  virtual void DeleteKey(const std::string& Section, const std::string& Ident) = 0;
  virtual void UpdateFile() {}
  virtual bool SectionExists(const std::string& Section);
  virtual bool ValueExists(const std::string& Section, const std::string& Ident);

private:
  std::string FFileName;
};

class TIniFile : public TCustomIniFile {
public:
  explicit TIniFile(std::string FileName) : TCustomIniFile(std::move(FileName)) {}
  std::string ReadString(const std::string& Section, const std::string& Ident,
                         const std::string& Default) override;
  void WriteString(const std::string& Section, const std::string& Ident,
                   const std::string& Value) override;
  void ReadSection(const std::string& Section, TStrings* Strings) override;
  void ReadSections(TStrings* Strings) override;
  void ReadSectionValues(const std::string& Section, TStrings* Strings) override;
  void EraseSection(const std::string& Section) override;
  void DeleteKey(const std::string& Section, const std::string& Ident) override;
  bool SectionExists(const std::string& Section) override;
  bool ValueExists(const std::string& Section, const std::string& Ident) override;
  // Why the existing file cannot be read ("is a named pipe", ...), "" when it
  // can be or is missing. Such a file reads as empty and every write to it
  // raises, leaving it as it is.
  std::string ReadProblem() const;
};

}  // namespace fw
