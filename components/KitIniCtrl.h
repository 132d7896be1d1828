// A holder of settings for INI-file or registry storage. It reads and writes
// nothing itself; the application object owns one.
#pragma once

#include <cstdint>
#include <string>

#include "components/KitCustomComponent.h"
#include "components/kitprocs.h"

namespace vexa {

enum TKitRegRootKey {
  rpClassesRoot, rpCurrentUser, rpLocalMachine, rpUsers, rpCurrentConfig, rpDynData
};
enum TKitIniTarget { itIniFile, itRegistry, itAuto };

class TKitIniCtrl : public TKitCustomComponent {
public:
  explicit TKitIniCtrl(fw::TComponent* AOwner) : TKitCustomComponent(AOwner) {}

  bool AlphaCounter() const { return FAlphaCounter; }
  // Stores the value, then cuts more than 26 entries to 26.
  void SetAlphaCounter(bool Value);
  bool Common() const { return FCommon; }
  void SetCommon(bool Value) { FCommon = Value; }
  const std::string& IniFile() const { return FIniFile; }
  // A name without extension gets ".INI".
  void SetIniFile(const std::string& Value);
  TKitPathPrefix IniPrefix() const { return FIniPrefix; }
  void SetIniPrefix(TKitPathPrefix Value) { FIniPrefix = Value; }
  uint8_t MaxEntries() const { return FMaxEntries; }
  // Ignored above 26 while the alphabetic counter is on.
  void SetMaxEntries(uint8_t Value);
  bool NetUser() const { return FNetUser; }
  // Turning it on fills User with the logged-on user's name.
  void SetNetUser(bool Value);
  const std::string& User() const { return FUser; }
  void SetUser(const std::string& Value) { FUser = Value; }
  const std::string& RegPath() const { return FRegPath; }
  void SetRegPath(const std::string& Value) { FRegPath = Value; }
  TKitRegRootKey RegRoot() const { return FRegRoot; }
  void SetRegRoot(TKitRegRootKey Value) { FRegRoot = Value; }
  TKitIniTarget Target() const { return FTarget; }
  void SetTarget(TKitIniTarget Value) { FTarget = Value; }
  // The store in effect: the registry for itAuto.
  TKitIniTarget EffectiveTarget() const { return FTarget == itAuto ? itRegistry : FTarget; }
  uint16_t EncKey() const { return FEncKey; }
  void SetEncKey(uint16_t Value) { FEncKey = Value; }
  bool Encoded() const { return FEncoded; }
  void SetEncoded(bool Value) { FEncoded = Value; }

  // The logged-on user's name (at most 63 characters, "(Unknown)" when none).
  virtual std::string GetNetUserName();

private:
  bool FAlphaCounter = false;
  bool FCommon = true;
  std::string FIniFile;
  TKitPathPrefix FIniPrefix = ppWindows;
  uint8_t FMaxEntries = 16;
  bool FNetUser = false;
  std::string FUser;
  std::string FRegPath;
  TKitRegRootKey FRegRoot = rpCurrentUser;
  TKitIniTarget FTarget = itAuto;
  uint16_t FEncKey = 48213;
  bool FEncoded = false;
};

}  // namespace vexa
