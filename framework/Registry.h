// TRegistry: keys and values of the settings store (platform/registry).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "platform/registry/Registry.h"

namespace fw {

using plat::HKEY;
using plat::HKEY_CLASSES_ROOT;
using plat::HKEY_CURRENT_CONFIG;
using plat::HKEY_CURRENT_USER;
using plat::HKEY_LOCAL_MACHINE;
using plat::HKEY_USERS;
using plat::KEY_ALL_ACCESS;
using plat::KEY_READ;
using plat::KEY_WRITE;

// Raised for failed reads and writes of values:
// "Failed to get data for '<name>'", "Invalid data type for '<name>'",
// "Failed to set data for '<name>'", and "Failed to create key <key>".
VEXA_DECLARE_EXCEPTION(ERegistryException, Exception);

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegDataInfo {
  TRegDataType RegData = rdUnknown;
  int32_t DataSize = 0;
};

class TRegistry : public TObject {
public:
  // Root HKEY_CURRENT_USER, access KEY_ALL_ACCESS, no key open.
  TRegistry();
  explicit TRegistry(plat::REGSAM AAccess);
  ~TRegistry() override;  // closes the open key

  HKEY RootKey() const { return FRootKey; }
  void SetRootKey(HKEY Value);  // closes the open key
  plat::REGSAM Access() const { return FAccess; }
  void SetAccess(plat::REGSAM Value) { FAccess = Value; }
  HKEY CurrentKey() const { return FCurrentKey; }
  const std::string& CurrentPath() const { return FCurrentPath; }
  bool LazyWrite() const { return FLazyWrite; }
  void SetLazyWrite(bool Value) { FLazyWrite = Value; }
  // The error code of the last failed open (ERROR_SUCCESS after a success).
  plat::LSTATUS LastError() const { return FLastError; }

  // Key is absolute with a leading '\', else relative to the open key (or the
  // root). Opens with Access; CanCreate creates missing keys. On success the
  // previous key is closed and the new one becomes current. A store that
  // cannot be written answers false here when Access asks for writing.
  bool OpenKey(const std::string& Key, bool CanCreate);
  bool OpenKeyReadOnly(const std::string& Key);
  void CloseKey();
  bool CreateKey(const std::string& Key);  // ERegistryException when it fails
  bool DeleteKey(const std::string& Key);
  bool DeleteValue(const std::string& Name);
  bool KeyExists(const std::string& Key);
  bool ValueExists(const std::string& Name);
  bool HasSubKeys();
  void GetKeyNames(TStrings* Strings);
  void GetValueNames(TStrings* Strings);
  bool GetDataInfo(const std::string& ValueName, TRegDataInfo& Value);
  TRegDataType GetDataType(const std::string& ValueName);
  int32_t GetDataSize(const std::string& ValueName);  // -1 when missing

  // A missing string value reads as ""; a value of another type raises
  // "Invalid data type for '<name>'". ReadInteger of a missing value raises
  // "Failed to get data for '<name>'".
  std::string ReadString(const std::string& Name);
  void WriteString(const std::string& Name, const std::string& Value);
  void WriteExpandString(const std::string& Name, const std::string& Value);
  int32_t ReadInteger(const std::string& Name);
  void WriteInteger(const std::string& Name, int32_t Value);
  bool ReadBool(const std::string& Name);
  void WriteBool(const std::string& Name, bool Value);
  std::vector<uint8_t> ReadBinaryData(const std::string& Name);
  void WriteBinaryData(const std::string& Name, const void* Buffer, int32_t BufSize);

private:
  HKEY GetBaseKey(bool Relative) const;
  void ChangeKey(HKEY Value, const std::string& Path);
  void PutData(const std::string& Name, const void* Buffer, int32_t BufSize, plat::DWORD Type);
  HKEY FRootKey = HKEY_CURRENT_USER;
  HKEY FCurrentKey = 0;
  std::string FCurrentPath;
  plat::REGSAM FAccess = KEY_ALL_ACCESS;
  bool FLazyWrite = true;
  plat::LSTATUS FLastError = 0;
};

}  // namespace fw
