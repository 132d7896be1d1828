// System information: 42 items about the machine, the operating system, the
// user and the running program, each answered as a text, with an English
// caption for each; the operating-system family flag; the display's colour
// depth and the measured processor clock.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

enum TKitInfoType {
  itUser, itWinDir, itCurrentDir32, itCurrentDiskFree32, itCurrentDiskSize32, itSystemDir,
  itReg_Owner32, itReg_Company32, itVersion, itColorDepth, itScreenSaverDelay, itMemSize,
  itFreeSysRes, itFreeGDIRes, itFreeUserRes, itComputerName32, itMajorVerNr32, itBuildNr32,
  itMemLoaded32, itMemFree32, itMemPageFree32, itMemPageTotal32, itMemVirtFree32,
  itMemVirtTotal32, itPlatformID32, itPlatform32, itProcessorCont32, itProcessor32,
  itTempPath32, itDOSVersion, itNumLock, itCapsLock, itScroll, itCurrentDateTime,
  itProgCompany, itProgName, itProgVersion, itProgCopyright, itProgTrademark,
  itProgDescription, itProgComments, itCPUSpeed
};
constexpr int KitInfoTypeCount = 42;

// Texts of the unit (a translation may replace them).
extern const char* const SKitUnknown;  // "(Unknown)"

// True on the NT platform family; set once when the program starts.
extern bool IsWindowsNT;

// The value of an item. Divider 0 counts as 1; numbers are divided with
// integer division (the CPU speed as a floating-point number). Format is used
// by the date-and-time item only. Values are cut to 2047 characters; items
// outside the table give an empty text.
std::string KitSysInfo(TKitInfoType Item, uint32_t Divider, const std::string& Format);
// The caption of an item; the ordinal is taken modulo 128, ordinals above the
// table give an empty text.
std::string KitSysInfoCaption(int Item);
// Planes times bits per pixel of the display; 8 or fewer is a palette display.
uint8_t KitDisplayColorDepth();
// The processor clock in MHz, measured over half a second (blocks ~510 ms).
double KitCPUSpeed();
// The logged-on user's name, at most 63 characters; "(Unknown)" when the
// platform gives none.
std::string KitUserName();

}  // namespace vexa
