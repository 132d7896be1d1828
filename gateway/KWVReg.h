// Registry settings of the client gateway: one key per provider channel below
// HKEY_LOCAL_MACHINE "\Software\VEXA Software\Lumidex\ClientGateway\" holding
// where the gateway program lies (Location, Params) and which notify server the
// channel uses (Address, Port).
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

// The channel's key path; an empty channel is "Default".
std::string GatewayChannelKey(const std::string& Channel);

void WriteGatewayLocation(const std::string& Channel);
// False, leaving Address and Port untouched, when the channel has no key.
bool ReadProviderSettings(const std::string& Channel, std::string& Address, std::string& Port);
void WriteProviderSettings(const std::string& Channel, const std::string& Address,
                           const std::string& Port);

}  // namespace vexa

namespace vexa {

// A stored Port read as a decimal number (leading blanks and a sign allowed);
// 5500 when the text is not a 32-bit number.
int32_t StoredPortNumber(const std::string& Port);

}  // namespace vexa

namespace vexa {

// What the gateway prints without a display when the channel has no usable
// notify server address and port: what is missing and the vexareg commands
// that set it.
std::string SettingsMissingText(const std::string& Channel);

}  // namespace vexa
