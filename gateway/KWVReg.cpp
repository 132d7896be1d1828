#include "gateway/KWVReg.h"

#include "framework/Registry.h"
#include "framework/SysUtils.h"

namespace vexa {

namespace {

const char* const GatewayKeyBase = "\\Software\\VEXA Software\\Lumidex\\ClientGateway\\";

std::string ChannelOrDefault(const std::string& Channel) { return Channel.empty() ? "Default" : Channel; }

// Opens the channel's key for reading and writing; false when it cannot.
bool OpenChannelKey(fw::TRegistry& reg, const std::string& Channel, bool CanCreate) {
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  return reg.OpenKey(GatewayChannelKey(Channel), CanCreate);
}

void WriteLocationValues(fw::TRegistry& reg, const std::string& Channel) {
  reg.WriteString("Location", fw::ParamStr0());
  reg.WriteString("Params", "\"" + Channel + "\"");
}

}  // namespace

std::string GatewayChannelKey(const std::string& Channel) { return GatewayKeyBase + ChannelOrDefault(Channel); }

void WriteGatewayLocation(const std::string& Channel) {
  const std::string channel = ChannelOrDefault(Channel);
  fw::TRegistry reg;
  if (!OpenChannelKey(reg, channel, true)) return;
  WriteLocationValues(reg, channel);
  reg.CloseKey();
}

bool ReadProviderSettings(const std::string& Channel, std::string& Address, std::string& Port) {
  const std::string channel = ChannelOrDefault(Channel);
  fw::TRegistry reg;
  if (!OpenChannelKey(reg, channel, false)) return false;
  // A hand-edited value of another type reads as missing.
  auto read = [&reg](const char* name) {
    try {
      return reg.ReadString(name);
    } catch (const fw::ERegistryException&) {
      return std::string();
    }
  };
  Address = read("Address");
  Port = read("Port");
  reg.CloseKey();
  return true;
}

void WriteProviderSettings(const std::string& Channel, const std::string& Address, const std::string& Port) {
  const std::string channel = ChannelOrDefault(Channel);
  fw::TRegistry reg;
  if (!OpenChannelKey(reg, channel, true)) return;
  WriteLocationValues(reg, channel);
  reg.WriteString("Address", Address);
  reg.WriteString("Port", Port);
  reg.CloseKey();
}

int32_t StoredPortNumber(const std::string& Port) { return fw::StrToIntDef(Port, 5500); }

std::string SettingsMissingText(const std::string& Channel) {
  const std::string channel = ChannelOrDefault(Channel);
  const std::string key = "HKEY_LOCAL_MACHINE" + GatewayChannelKey(channel);
  return "VEXA Client Gateway Settings: the notify server address and port of provider channel \"" + channel +
         "\" are missing.\n"
         "Set them with vexareg, then start the gateway again:\n"
         "  vexareg write \"" + key + "\" Address <notify server address>\n"
         "  vexareg write \"" + key + "\" Port <notify server port>\n";
}

}  // namespace vexa
