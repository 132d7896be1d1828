// The machine settings store ("registry").
//
// Each root key is one text file below the store directory (VEXA_REGISTRY_DIR,
// default $XDG_DATA_HOME/vexa/registry, else ~/.local/share/vexa/registry):
// HKEY_LOCAL_MACHINE.reg and so on. The file is human-readable and may be
// edited by hand:
//
//   [Software\VEXA Software\Lumidex\NotifyServer]
//   "Location"="/opt/vexa/bin/beaconhub"
//   "Port"=dword:5500
//   "Blob"=hex:01,ff,20
//   @="the key's default value"
//
// Key paths separate their levels with '\'; key and value names compare
// without regard to the case of a-z. Strings are quoted with \\ \" \n \r \t
// and \xHH escapes. Every change takes an exclusive lock (flock) on the store's
// lock file, reads the file again, applies itself and replaces the file
// atomically (temporary file, then rename), so several programs may write at
// once without losing each other's values. Lines that do not parse are
// skipped when read (and dropped at the next write); the sound rest is kept.
// A file that is no store at all (binary data, or no line of it a key or a
// value) or that cannot be read is never rewritten; writes go through a
// symbolic link to the file it leads to.
//
// A store (directory or file) that this process cannot write behaves as keys
// without write rights: opening with write access and every change answer
// ERROR_ACCESS_DENIED; opening for reading still works. So does a file that
// is not rewritten as above; it is named once on standard error.
//
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes also answers the desktop's default web
// browser, read only, unless the file holds a ".html" key there (MimeClasses.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel/Kernel.h"

namespace plat {

using HKEY = uint32_t;  // 0 = none
using REGSAM = uint32_t;
using LSTATUS = int32_t;

constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
constexpr HKEY HKEY_USERS = 0x80000003;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;
constexpr HKEY HKEY_DYN_DATA = 0x80000006;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_READ = 0x00020019;
constexpr REGSAM KEY_WRITE = 0x00020006;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_BADKEY = 1010;
constexpr DWORD ERROR_CANTWRITE = 1013;
constexpr DWORD ERROR_KEY_DELETED = 1018;

// The store directory (read from the environment on every call).
std::string RegistryDir();
// The file that holds a root key ("" for a handle that is not a root key).
std::string RegistryFileOf(HKEY root);
// Name of a root key ("HKEY_LOCAL_MACHINE"), "" when not a root; and back (0 when unknown).
std::string RootKeyName(HKEY root);
HKEY RootKeyFromName(const std::string& name);

// Every routine answers ERROR_SUCCESS or an error code (and sets the last
// error). hKey is a root key or a handle from these routines; subKey is
// relative to it (leading and doubled '\' are ignored; "" opens the key
// itself again).
LSTATUS RegOpenKeyEx(HKEY hKey, const std::string& subKey, DWORD options, REGSAM samDesired,
                     HKEY* result);
// Opens the key, creating it (and missing parents) when needed.
LSTATUS RegCreateKeyEx(HKEY hKey, const std::string& subKey, REGSAM samDesired, HKEY* result,
                       DWORD* disposition);
LSTATUS RegCloseKey(HKEY hKey);
LSTATUS RegFlushKey(HKEY hKey);

// Reads a value ("" names the key's default value). With data null only type
// and size are answered; a buffer too small answers ERROR_MORE_DATA with the
// needed size. REG_SZ data is answered with its terminating zero byte.
LSTATUS RegQueryValueEx(HKEY hKey, const std::string& valueName, DWORD* type, void* data,
                        DWORD* size);
// The same into a byte string (REG_SZ without terminating zero).
LSTATUS RegQueryValue(HKEY hKey, const std::string& valueName, DWORD* type, std::string* data);
// Writes a value. REG_SZ data may include its terminating zero (dropped);
// REG_DWORD needs 4 bytes (little-endian host order).
LSTATUS RegSetValueEx(HKEY hKey, const std::string& valueName, DWORD type, const void* data,
                      DWORD size);
LSTATUS RegDeleteValue(HKEY hKey, const std::string& valueName);
// Deletes a key and everything below it.
LSTATUS RegDeleteKey(HKEY hKey, const std::string& subKey);

// Enumeration by index (ERROR_NO_MORE_ITEMS past the end), in stored order.
LSTATUS RegEnumKeyEx(HKEY hKey, DWORD index, std::string* name);
LSTATUS RegEnumValue(HKEY hKey, DWORD index, std::string* name, DWORD* type);
LSTATUS RegQueryInfoKey(HKEY hKey, DWORD* subKeys, DWORD* values);

// The full path of an open key below its root ("Software\\VEXA Software"), its root.
std::string RegKeyPath(HKEY hKey);
HKEY RegKeyRoot(HKEY hKey);

}  // namespace plat
