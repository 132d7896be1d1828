#include "framework/IniFiles.h"

#include "framework/ScopeGuard.h"
#include "platform/registry/Profile.h"

namespace fw {

int32_t TCustomIniFile::ReadInteger(const std::string& Section, const std::string& Ident,
                                    int32_t Default) {
  return StrToIntDef(ReadString(Section, Ident, ""), Default);
}

void TCustomIniFile::WriteInteger(const std::string& Section, const std::string& Ident,
                                  int32_t Value) {
  WriteString(Section, Ident, IntToStr(Value));
}

bool TCustomIniFile::ReadBool(const std::string& Section, const std::string& Ident, bool Default) {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const std::string& Section, const std::string& Ident, bool Value) {
  WriteString(Section, Ident, Value ? "1" : "0");
}

bool TCustomIniFile::SectionExists(const std::string& Section) {
  TStringList keys;
  ReadSection(Section, &keys);
  return keys.Count() > 0;
}

bool TCustomIniFile::ValueExists(const std::string& Section, const std::string& Ident) {
  TStringList keys;
  ReadSection(Section, &keys);
  return keys.IndexOf(Ident) >= 0;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Ident,
                                 const std::string& Default) {
  return plat::GetPrivateProfileString(Section, Ident, Default, FileName());
}

void TIniFile::WriteString(const std::string& Section, const std::string& Ident,
                           const std::string& Value) {
  if (!plat::WritePrivateProfileString(Section, Ident, Value, FileName())) {
    throw EIniFileException("Unable to write to " + FileName());
  }
}

void TIniFile::ReadSection(const std::string& Section, TStrings* Strings) {
  Strings->BeginUpdate();
  auto done = fw::Finally([&] { Strings->EndUpdate(); });
  Strings->Clear();
  for (const auto& kv : plat::GetPrivateProfileSection(Section, FileName()))
    Strings->Add(kv.first);
}

void TIniFile::ReadSections(TStrings* Strings) {
  Strings->BeginUpdate();
  auto done = fw::Finally([&] { Strings->EndUpdate(); });
  Strings->Clear();
  for (const auto& s : plat::GetPrivateProfileSectionNames(FileName())) Strings->Add(s);
}

void TIniFile::ReadSectionValues(const std::string& Section, TStrings* Strings) {
  Strings->BeginUpdate();
  auto done = fw::Finally([&] { Strings->EndUpdate(); });
  Strings->Clear();
  for (const auto& kv : plat::GetPrivateProfileSection(Section, FileName())) {
    Strings->Add(kv.first + "=" + kv.second);
  }
}

void TIniFile::EraseSection(const std::string& Section) {
  if (!plat::DeletePrivateProfileSection(Section, FileName())) {
    throw EIniFileException("Unable to write to " + FileName());
  }
}

void TIniFile::DeleteKey(const std::string& Section, const std::string& Ident) {
  plat::DeletePrivateProfileKey(Section, Ident, FileName());
}

bool TIniFile::SectionExists(const std::string& Section) {
  return !plat::GetPrivateProfileSection(Section, FileName()).empty();
}

bool TIniFile::ValueExists(const std::string& Section, const std::string& Ident) {
  for (const auto& kv : plat::GetPrivateProfileSection(Section, FileName())) {
    if (SameText(kv.first, Ident)) return true;
  }
  return false;
}

std::string TIniFile::ReadProblem() const { return plat::PrivateProfileFileProblem(FileName()); }

}  // namespace fw
