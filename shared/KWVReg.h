// Where the notify server program lives, recorded in the settings store each
// time it starts serving its local message channel.
#pragma once

namespace vexa {

// The key under HKEY_LOCAL_MACHINE that holds the notify server's values.
inline constexpr const char* NotifyServerRegKey =
    "\\Software\\VEXA Software\\Lumidex\\NotifyServer";

// Writes "Location" = the full path of the running program into that key,
// creating the key when needed. A key that cannot be opened is silently
// skipped; a failing write raises ERegistryException to the caller.
void WriteServerLocation();

}  // namespace vexa
