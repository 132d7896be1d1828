// The desktop shell and system information the code above asks for: starting a
// program with a command line, the system's version, and its two folders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "platform/msg/Msg.h"

namespace plat {

// Platform ids of the version information.
constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFO {
  DWORD dwMajorVersion = 0;
  DWORD dwMinorVersion = 0;
  DWORD dwBuildNumber = 0;
  DWORD dwPlatformId = 0;
  std::string szCSDVersion;
};

// The running system: platform NT with the kernel's release numbers
// ("6.1.0-18-amd64" gives 6, 1, 0) and its name and release as the extra text.
bool GetVersionEx(OSVERSIONINFO* info);

// The system folders, without a trailing separator: the installation folder
// of the operating system ("/usr") and its shared library folder ("/usr/lib").
std::string GetWindowsDirectory();
std::string GetSystemDirectory();

// Results of ShellExecute at or below 32 are errors.
constexpr intptr_t SE_ERR_FNF = 2;
constexpr intptr_t SE_ERR_PNF = 3;
constexpr intptr_t SE_ERR_ACCESSDENIED = 5;
constexpr intptr_t SE_ERR_OOM = 8;
constexpr intptr_t SE_ERR_NOASSOC = 31;

// Starts the program File with the default verb (Operation "" or "open"),
// Parameters split into arguments at blanks, double quotes grouping (the
// quotes themselves are dropped), in the folder Directory ("" keeps the
// current one). The program runs on its own: it is never waited for and
// leaves no zombie behind. Answers a value above 32 once the program has
// started; SE_ERR_FNF when File does not exist, SE_ERR_PNF when Directory does
// not, SE_ERR_ACCESSDENIED when File cannot be run, SE_ERR_NOASSOC for
// another verb. Owner and ShowCmd have no effect here.
intptr_t ShellExecute(HWND Owner, const std::string& Operation, const std::string& File,
                      const std::string& Parameters, const std::string& Directory, int ShowCmd);

// The arguments ShellExecute makes of a parameter text.
std::vector<std::string> SplitCommandParameters(const std::string& Parameters);

}  // namespace plat
