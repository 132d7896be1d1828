#include "framework/Registry.h"

#include <cstring>

namespace fw {

using namespace plat;

namespace {
bool IsRelative(const std::string& Key) { return Key.empty() || Key[0] != '\\'; }

TRegDataType DataTypeOf(DWORD t) {
  switch (t) {
    case REG_SZ: return rdString;
    case REG_EXPAND_SZ: return rdExpandString;
    case REG_DWORD: return rdInteger;
    case REG_BINARY: return rdBinary;
    default: return rdUnknown;
  }
}
}  // namespace

TRegistry::TRegistry() = default;

TRegistry::TRegistry(REGSAM AAccess) : FAccess(AAccess) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY Value) {
  if (FRootKey == Value) return;
  CloseKey();
  FRootKey = Value;
}

HKEY TRegistry::GetBaseKey(bool Relative) const {
  return (FCurrentKey == 0 || !Relative) ? FRootKey : FCurrentKey;
}

void TRegistry::ChangeKey(HKEY Value, const std::string& Path) {
  CloseKey();
  FCurrentKey = Value;
  FCurrentPath = Path;
}

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate) {
  bool rel = IsRelative(Key);
  std::string s = rel ? Key : Key.substr(1);
  HKEY temp = 0;
  LSTATUS st;
  if (!CanCreate || s.empty()) {
    st = RegOpenKeyEx(GetBaseKey(rel), s, 0, FAccess, &temp);
  } else {
    st = RegCreateKeyEx(GetBaseKey(rel), s, FAccess, &temp, nullptr);
  }
  FLastError = st;
  if (st != ERROR_SUCCESS) return false;
  if (FCurrentKey != 0 && rel) s = FCurrentPath.empty() ? s : FCurrentPath + "\\" + s;
  ChangeKey(temp, s);
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& Key) {
  bool rel = IsRelative(Key);
  std::string s = rel ? Key : Key.substr(1);
  HKEY temp = 0;
  LSTATUS st = RegOpenKeyEx(GetBaseKey(rel), s, 0, KEY_READ, &temp);
  FLastError = st;
  if (st != ERROR_SUCCESS) return false;
  FAccess = KEY_READ;
  if (FCurrentKey != 0 && rel) s = FCurrentPath.empty() ? s : FCurrentPath + "\\" + s;
  ChangeKey(temp, s);
  return true;
}

void TRegistry::CloseKey() {
  if (FCurrentKey != 0) {
    RegCloseKey(FCurrentKey);
    FCurrentKey = 0;
    FCurrentPath.clear();
  }
}

bool TRegistry::CreateKey(const std::string& Key) {
  bool rel = IsRelative(Key);
  std::string s = rel ? Key : Key.substr(1);
  HKEY temp = 0;
  if (RegCreateKeyEx(GetBaseKey(rel), s, KEY_ALL_ACCESS, &temp, nullptr) != ERROR_SUCCESS) {
    throw ERegistryException("Failed to create key " + Key);
  }
  RegCloseKey(temp);
  return true;
}

bool TRegistry::DeleteKey(const std::string& Key) {
  bool rel = IsRelative(Key);
  std::string s = rel ? Key : Key.substr(1);
  return RegDeleteKey(GetBaseKey(rel), s) == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(const std::string& Name) {
  return RegDeleteValue(FCurrentKey, Name) == ERROR_SUCCESS;
}

bool TRegistry::KeyExists(const std::string& Key) {
  bool rel = IsRelative(Key);
  std::string s = rel ? Key : Key.substr(1);
  HKEY temp = 0;
  if (RegOpenKeyEx(GetBaseKey(rel), s, 0, KEY_READ, &temp) != ERROR_SUCCESS) return false;
  RegCloseKey(temp);
  return true;
}

bool TRegistry::GetDataInfo(const std::string& ValueName, TRegDataInfo& Value) {
  Value = TRegDataInfo{};
  DWORD type = 0, size = 0;
  if (RegQueryValueEx(FCurrentKey, ValueName, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  Value.RegData = DataTypeOf(type);
  Value.DataSize = static_cast<int32_t>(size);
  return true;
}

bool TRegistry::ValueExists(const std::string& Name) {
  TRegDataInfo info;
  return GetDataInfo(Name, info);
}

TRegDataType TRegistry::GetDataType(const std::string& ValueName) {
  TRegDataInfo info;
  return GetDataInfo(ValueName, info) ? info.RegData : rdUnknown;
}

int32_t TRegistry::GetDataSize(const std::string& ValueName) {
  TRegDataInfo info;
  return GetDataInfo(ValueName, info) ? info.DataSize : -1;
}

bool TRegistry::HasSubKeys() {
  DWORD n = 0;
  return RegQueryInfoKey(FCurrentKey, &n, nullptr) == ERROR_SUCCESS && n > 0;
}

void TRegistry::GetKeyNames(TStrings* Strings) {
  Strings->Clear();
  std::string name;
  for (DWORD i = 0; RegEnumKeyEx(FCurrentKey, i, &name) == ERROR_SUCCESS; ++i) Strings->Add(name);
}

void TRegistry::GetValueNames(TStrings* Strings) {
  Strings->Clear();
  std::string name;
  DWORD type;
  for (DWORD i = 0; RegEnumValue(FCurrentKey, i, &name, &type) == ERROR_SUCCESS; ++i) {
    Strings->Add(name);
  }
}

std::string TRegistry::ReadString(const std::string& Name) {
  if (GetDataSize(Name) <= 0) return "";
  DWORD type = 0;
  std::string data;
  if (RegQueryValue(FCurrentKey, Name, &type, &data) != ERROR_SUCCESS) {
    throw ERegistryException("Failed to get data for '" + Name + "'");
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    throw ERegistryException("Invalid data type for '" + Name + "'");
  }
  return data;
}

void TRegistry::PutData(const std::string& Name, const void* Buffer, int32_t BufSize, DWORD Type) {
  if (BufSize < 0 || RegSetValueEx(FCurrentKey, Name, Type, Buffer, static_cast<DWORD>(BufSize)) !=
                         ERROR_SUCCESS) {
    throw ERegistryException("Failed to set data for '" + Name + "'");
  }
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value) {
  PutData(Name, Value.c_str(), static_cast<int32_t>(Value.size() + 1), REG_SZ);
}

void TRegistry::WriteExpandString(const std::string& Name, const std::string& Value) {
  PutData(Name, Value.c_str(), static_cast<int32_t>(Value.size() + 1), REG_EXPAND_SZ);
}

int32_t TRegistry::ReadInteger(const std::string& Name) {
  DWORD type = 0;
  std::string data;
  if (RegQueryValue(FCurrentKey, Name, &type, &data) != ERROR_SUCCESS) {
    throw ERegistryException("Failed to get data for '" + Name + "'");
  }
  if (type != REG_DWORD || data.size() != 4) {
    throw ERegistryException("Invalid data type for '" + Name + "'");
  }
  int32_t v;
  std::memcpy(&v, data.data(), 4);
  return v;
}

void TRegistry::WriteInteger(const std::string& Name, int32_t Value) {
  PutData(Name, &Value, 4, REG_DWORD);
}

bool TRegistry::ReadBool(const std::string& Name) { return ReadInteger(Name) != 0; }

void TRegistry::WriteBool(const std::string& Name, bool Value) {
  WriteInteger(Name, Value ? 1 : 0);
}

std::vector<uint8_t> TRegistry::ReadBinaryData(const std::string& Name) {
  DWORD type = 0;
  std::string data;
  if (RegQueryValue(FCurrentKey, Name, &type, &data) != ERROR_SUCCESS) {
    throw ERegistryException("Failed to get data for '" + Name + "'");
  }
  if (type != REG_BINARY) throw ERegistryException("Invalid data type for '" + Name + "'");
  return std::vector<uint8_t>(data.begin(), data.end());
}

void TRegistry::WriteBinaryData(const std::string& Name, const void* Buffer, int32_t BufSize) {
  PutData(Name, Buffer, BufSize, REG_BINARY);
}

}  // namespace fw
