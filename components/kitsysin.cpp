#include "components/kitsysin.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include "components/kitprocs.h"
#include "framework/Forms.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/SysInfo.h"
#include "platform/registry/Registry.h"
#include "platform/shell/DesktopState.h"
#include "platform/shell/Shell.h"

namespace vexa {

const char* const SKitUnknown = "(Unknown)";

namespace {

const char* const kCaptions[KitInfoTypeCount] = {
    "Username", "Windows directory", "Current directory", "Free space on current disk",
    "Disk size of current Disk", "System directory", "Registered owner", "Registered company",
    "Version", "Colordepth (in bits)", "Screensaver delay", "Memory size",
    "Free system resources", "Free GDI resources", "Free user resources", "Computername",
    "Major version", "Build", "Memory loaded", "Memory free", "Free memory pages",
    "Total memory pages", "Free virtual memory", "Total virtual memory", "Platform ID",
    "Platform", "Number of processors", "Processor", "Temp path", "DOS version", "NumLock",
    "CapsLock", "ScrollLock", "Date and time", "CompanyName", "ProductName", "ProductVersion",
    "LegalCopyright", "LegalTrademark", "FileDescription", "Comments", "CPU Speed"};

constexpr size_t kValueLimit = 2047;
constexpr size_t kUserNameLimit = 63;
constexpr size_t kTempPathLimit = 260;

bool ReadIsWindowsNT() {
  plat::OSVERSIONINFO v;
  return plat::GetVersionEx(&v) && v.dwPlatformId == plat::VER_PLATFORM_WIN32_NT;
}

std::string U64(uint64_t v, uint32_t divider) { return std::to_string(v / divider); }

std::string RegisteredValue(const char* name) {
  try {
    fw::TRegistry reg(plat::KEY_READ);
    reg.SetRootKey(plat::HKEY_LOCAL_MACHINE);
    std::string key = std::string("\\SOFTWARE\\Microsoft\\") +
                      (IsWindowsNT ? "Windows NT" : "Windows") + "\\CurrentVersion";
    if (!reg.OpenKeyReadOnly(key)) return SKitUnknown;
    return reg.ReadString(name);
  } catch (const std::exception&) {
    return SKitUnknown;  // a value of another type reads as unknown, nothing is raised
  }
}

std::string LockKey(int vk) { return (plat::GetKeyState(vk) & 1) ? "On" : "Off"; }

std::string ProcessorText(uint32_t type) {
  switch (type) {
    case 386: return "Intel 386";
    case 486: return "Intel 486";
    case 586: return "Intel Pentium";
    case 2000:
    case 3000:
    case 4000: return "Mips R" + std::to_string(type);
    case 21064: return "Alpha 21064";
    default: return std::to_string(type);
  }
}

// The disk of the current directory: its free and total bytes, 0 when the
// directory has no readable file system.
uint64_t CurrentDisk(bool total) {
  uint64_t avail = 0, size = 0, free = 0;
  if (!plat::GetDiskFreeSpaceEx(plat::GetCurrentDirectory(), &avail, &size, &free)) return 0;
  return total ? size : free;
}

std::string Value(TKitInfoType item, uint32_t d, const std::string& format) {
  plat::MEMORYSTATUSEX mem;
  plat::OSVERSIONINFO ver;
  plat::SYSTEM_INFO sys;
  switch (item) {
    case itUser: return KitUserName();
    case itWinDir: return plat::GetWindowsDirectory();
    case itCurrentDir32: return plat::GetCurrentDirectory();
    case itCurrentDiskFree32: return U64(CurrentDisk(false), d);
    case itCurrentDiskSize32: return U64(CurrentDisk(true), d);
    case itSystemDir: return SystemDirectoryPath();
    case itReg_Owner32: return RegisteredValue("RegisteredOwner");
    case itReg_Company32: return RegisteredValue("RegisteredOrganization");
    case itVersion:
      if (!plat::GetVersionEx(&ver)) return SKitUnknown;
      return fw::Format("%d.%d", int(ver.dwMajorVersion), int(ver.dwMinorVersion));
    case itColorDepth: return U64(KitDisplayColorDepth(), d);
    case itScreenSaverDelay: {
      int32_t seconds = 0;
      plat::SystemParametersInfo(plat::SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0);
      return U64(uint64_t(seconds / 60), d);
    }
    case itMemSize:
    case itMemLoaded32:
    case itMemFree32:
    case itMemPageFree32:
    case itMemPageTotal32:
    case itMemVirtFree32:
    case itMemVirtTotal32: {
      if (!plat::GlobalMemoryStatusEx(&mem)) return U64(0, d);
      uint64_t v = 0;
      switch (item) {
        case itMemSize: v = mem.ullTotalPhys; break;
        case itMemLoaded32: v = mem.dwMemoryLoad; break;
        case itMemFree32: v = mem.ullAvailPhys; break;
        case itMemPageFree32: v = mem.ullAvailPageFile; break;
        case itMemPageTotal32: v = mem.ullTotalPageFile; break;
        case itMemVirtFree32: v = mem.ullAvailVirtual; break;
        default: v = mem.ullTotalVirtual; break;
      }
      return U64(v, d);
    }
    // Free resources in percent come from the 16-bit user module of the old
    // family only; this platform has none, so they read 0.
    case itFreeSysRes:
    case itFreeGDIRes:
    case itFreeUserRes: return U64(0, d);
    case itComputerName32: {
      std::string name;
      return plat::GetComputerName(&name) ? name : std::string();
    }
    case itMajorVerNr32:
      return U64(plat::GetVersionEx(&ver) ? ver.dwMajorVersion : 0, d);
    case itBuildNr32:
      return U64(plat::GetVersionEx(&ver) ? (ver.dwBuildNumber & 0xFFFF) : 0, d);
    case itPlatformID32:
      return U64(plat::GetVersionEx(&ver) ? ver.dwPlatformId : 0, d);
    case itPlatform32:
      if (!plat::GetVersionEx(&ver)) return SKitUnknown;
      switch (ver.dwPlatformId) {
        case plat::VER_PLATFORM_WIN32s: return "Win32s";
        case plat::VER_PLATFORM_WIN32_WINDOWS: return "Windows 95";
        case plat::VER_PLATFORM_WIN32_NT: return "Windows NT";
        default: return SKitUnknown;
      }
    case itProcessorCont32:
      plat::GetSystemInfo(&sys);
      return U64(sys.dwNumberOfProcessors & 0xFF, d);
    case itProcessor32:
      plat::GetSystemInfo(&sys);
      return ProcessorText(sys.dwProcessorType);
    case itTempPath32: {
      std::string t = plat::GetTempPath();
      return t.size() < kTempPathLimit ? t : std::string();  // does not fit the buffer
    }
    case itDOSVersion: return "Win32";
    case itNumLock: return LockKey(plat::VK_NUMLOCK);
    case itCapsLock: return LockKey(plat::VK_CAPITAL);
    case itScroll: return LockKey(plat::VK_SCROLL);
    case itCurrentDateTime: return fw::FormatDateTime(format, fw::Now());
    // Version-information strings: program files of this platform carry no
    // version resource; the programs' own version information is built in.
    // What they have none of (copyright, trademark, comments) stays empty.
    case itProgCompany: return "VEXA Software";
    case itProgName: return "VEXA Lumidex";
    case itProgVersion: return VEXA_VERSION;
    case itProgDescription: return fw::Application ? fw::Application->Title() : std::string();
    case itProgCopyright:
    case itProgTrademark:
    case itProgComments: return std::string();
    case itCPUSpeed: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", KitCPUSpeed() / double(d));
      return buf;
    }
  }
  return std::string();
}

}  // namespace

bool IsWindowsNT = ReadIsWindowsNT();

std::string KitUserName() {
  std::string name;
  if (!plat::GetUserName(&name) || name.empty()) return SKitUnknown;
  if (name.size() > kUserNameLimit) name.resize(kUserNameLimit);
  return name;
}

std::string KitSysInfo(TKitInfoType Item, uint32_t Divider, const std::string& Format) {
  int ordinal = static_cast<int>(Item);
  if (ordinal < 0 || ordinal >= KitInfoTypeCount) return std::string();
  if (Divider == 0) Divider = 1;
  std::string v = Value(Item, Divider, Format);
  if (v.size() > kValueLimit) v.resize(kValueLimit);
  return v;
}

std::string KitSysInfoCaption(int Item) {
  int ordinal = ((Item % 128) + 128) % 128;
  if (ordinal >= KitInfoTypeCount) return std::string();
  return kCaptions[ordinal];
}

uint8_t KitDisplayColorDepth() {
  plat::HDC dc = plat::GetDC(0);
  if (!dc) return 0;
  int depth = plat::GetDeviceCaps(dc, plat::PLANES) * plat::GetDeviceCaps(dc, plat::BITSPIXEL);
  plat::ReleaseDC(0, dc);
  return static_cast<uint8_t>(depth);
}

double KitCPUSpeed() {
#if defined(__x86_64__) || defined(__i386__)
  // Raising the priority needs privileges; without them the measurement runs
  // at the priority the thread has.
  id_t tid = static_cast<id_t>(gettid());
  errno = 0;
  int oldNice = getpriority(PRIO_PROCESS, tid);
  bool haveNice = errno == 0;
  setpriority(PRIO_PROCESS, tid, -20);
  plat::Sleep(10);
  uint64_t start = __rdtsc();
  plat::Sleep(500);
  uint64_t stop = __rdtsc();
  if (haveNice) setpriority(PRIO_PROCESS, tid, oldNice);
  // The whole difference: its low 32 bits alone wrap above 8.5 GHz.
  return double(stop - start) / 500000.0;
#else
  return 0.0;
#endif
}

}  // namespace vexa
