#include "components/KitIniCtrl.h"

#include "components/kitsysin.h"
#include "framework/SysUtils.h"

namespace vexa {

namespace {
constexpr uint8_t kAlphaEntries = 26;  // one entry per letter
}

void TKitIniCtrl::SetAlphaCounter(bool Value) {
  if (Value != FAlphaCounter) FAlphaCounter = Value;
  if (FMaxEntries > kAlphaEntries) FMaxEntries = kAlphaEntries;
}

void TKitIniCtrl::SetIniFile(const std::string& Value) {
  // An empty name clears the setting rather than naming a bare extension.
  if (!Value.empty() && fw::ExtractFileExt(Value).empty())
    FIniFile = fw::ChangeFileExt(Value, ".INI");
  else
    FIniFile = Value;
}

void TKitIniCtrl::SetMaxEntries(uint8_t Value) {
  if (Value == FMaxEntries) return;
  if (FAlphaCounter && Value > kAlphaEntries) return;
  FMaxEntries = Value;
}

void TKitIniCtrl::SetNetUser(bool Value) {
  if (Value == FNetUser) return;
  FNetUser = Value;
  if (FNetUser) FUser = GetNetUserName();
}

std::string TKitIniCtrl::GetNetUserName() { return KitUserName(); }

}  // namespace vexa
