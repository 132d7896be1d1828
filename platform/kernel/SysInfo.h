// Facts about the machine, the user and the running process that the
// component library's system information reads: user and computer names,
// directories, memory, disks and processors.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel/Kernel.h"

namespace plat {

// The name of the user the process runs as (from the account database, else
// USER or LOGNAME). False (last error set) when none can be had.
bool GetUserName(std::string* name);
// The machine's host name.
bool GetComputerName(std::string* name);
// The current directory ("" when it cannot be read).
std::string GetCurrentDirectory();
// The folder for temporary files (TMPDIR, else /tmp) with a trailing separator.
std::string GetTempPath();

struct MEMORYSTATUSEX {
  DWORD dwMemoryLoad = 0;          // percent of physical memory in use
  uint64_t ullTotalPhys = 0;
  uint64_t ullAvailPhys = 0;
  uint64_t ullTotalPageFile = 0;   // commit limit: physical memory plus swap
  uint64_t ullAvailPageFile = 0;
  uint64_t ullTotalVirtual = 0;    // the process's address space
  uint64_t ullAvailVirtual = 0;
};
bool GlobalMemoryStatusEx(MEMORYSTATUSEX* status);

// Byte counts of the file system that holds Path. False when it cannot be read.
bool GetDiskFreeSpaceEx(const std::string& path, uint64_t* freeBytesAvailable,
                        uint64_t* totalBytes, uint64_t* totalFreeBytes);

// Processor types of the system information.
constexpr DWORD PROCESSOR_INTEL_386 = 386;
constexpr DWORD PROCESSOR_INTEL_486 = 486;
constexpr DWORD PROCESSOR_INTEL_PENTIUM = 586;
constexpr DWORD PROCESSOR_AMD_X8664 = 8664;

struct SYSTEM_INFO {
  DWORD dwNumberOfProcessors = 0;  // processors online
  DWORD dwProcessorType = 0;       // 0 for a kind without a number
};
void GetSystemInfo(SYSTEM_INFO* info);

}  // namespace plat
