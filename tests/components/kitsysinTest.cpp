// labels: unit
// System information: captions, values from the real system, registry items,
// dividers, cut-off values and unknown items.
#include <gtest/gtest.h>

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "components/kitsysin.h"
#include "framework/Forms.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"
#include "tests/support/TestSession.h"

using namespace vexa;

namespace {

uint64_t MemTotalKb() {
  std::ifstream in("/proc/meminfo");
  std::string key, unit;
  uint64_t v = 0;
  while (in >> key >> v >> unit)
    if (key == "MemTotal:") return v;
  return 0;
}

// Restores the current directory and an environment variable on leaving.
struct CwdGuard {
  std::string old;
  char buf[4096];
  CwdGuard() { old = getcwd(buf, sizeof buf) ? buf : "/"; }
  ~CwdGuard() { (void)chdir(old.c_str()); }
};

}  // namespace

TEST(KitSysInfo, CaptionsByOrdinalModulo128) {
  EXPECT_EQ(KitSysInfoCaption(0), "Username");
  EXPECT_EQ(KitSysInfoCaption(5), "System directory");
  EXPECT_EQ(KitSysInfoCaption(128 + 5), "System directory");
  EXPECT_EQ(KitSysInfoCaption(4), "Disk size of current Disk");
  EXPECT_EQ(KitSysInfoCaption(9), "Colordepth (in bits)");
  EXPECT_EQ(KitSysInfoCaption(41), "CPU Speed");
  EXPECT_EQ(KitSysInfoCaption(42), "");
  EXPECT_EQ(KitSysInfoCaption(127), "");
  EXPECT_EQ(KitSysInfo(static_cast<TKitInfoType>(42), 1, ""), "");
}

TEST(KitSysInfo, PlatformFamilyAndFixedTexts) {
  EXPECT_TRUE(IsWindowsNT);
  EXPECT_EQ(KitSysInfo(itPlatform32, 1, ""), "Windows NT");
  EXPECT_EQ(KitSysInfo(itPlatformID32, 1, ""), "2");
  EXPECT_EQ(KitSysInfo(itPlatformID32, 2, ""), "1");
  EXPECT_EQ(KitSysInfo(itDOSVersion, 1, ""), "Win32");
  // No 16-bit resource path here: the resource items read 0.
  EXPECT_EQ(KitSysInfo(itFreeSysRes, 1, ""), "0");
  EXPECT_EQ(KitSysInfo(itFreeGDIRes, 0, ""), "0");
  EXPECT_EQ(KitSysInfo(itFreeUserRes, 1, ""), "0");
  EXPECT_EQ(KitSysInfo(itColorDepth, 1, ""), std::to_string(KitDisplayColorDepth()));
  std::string version = KitSysInfo(itVersion, 1, "");
  EXPECT_NE(version.find('.'), std::string::npos);
  EXPECT_EQ(version.substr(0, version.find('.')), KitSysInfo(itMajorVerNr32, 1, ""));
#if defined(__x86_64__)
  EXPECT_EQ(KitSysInfo(itProcessor32, 1, ""), "8664");
#endif
  EXPECT_EQ(KitSysInfo(itProcessorCont32, 1, ""),
            std::to_string(sysconf(_SC_NPROCESSORS_ONLN) & 0xFF));
}

TEST(KitSysInfo, ProgramVersionItemsAnswerTheProgramsOwnVersion) {
  EXPECT_EQ(KitSysInfo(itProgCompany, 1, ""), "VEXA Software");
  EXPECT_EQ(KitSysInfo(itProgName, 1, ""), "VEXA Lumidex");
  // The project's version, the one its build states.
  EXPECT_EQ(KitSysInfo(itProgVersion, 1, ""), VEXA_VERSION);
  EXPECT_EQ(std::string(VEXA_VERSION).find_first_not_of("0123456789."), std::string::npos);
  // The description is the title the program gives itself at its start.
  ASSERT_NE(fw::Application, nullptr);
  const std::string before = fw::Application->Title();
  fw::Application->SetTitle("VEXA Notify Server");
  EXPECT_EQ(KitSysInfo(itProgDescription, 1, ""), "VEXA Notify Server");
  fw::Application->SetTitle(before);
  // What the programs have none of stays empty, never "(Unknown)".
  EXPECT_EQ(KitSysInfo(itProgCopyright, 1, ""), "");
  EXPECT_EQ(KitSysInfo(itProgTrademark, 1, ""), "");
  EXPECT_EQ(KitSysInfo(itProgComments, 1, ""), "");
}

TEST(KitSysInfo, MemorySizeWithDividerAndZeroDivider) {
  uint64_t kb = MemTotalKb();
  ASSERT_GT(kb, 0u);
  EXPECT_EQ(KitSysInfo(itMemSize, 1024, ""), std::to_string(kb));
  EXPECT_EQ(KitSysInfo(itMemSize, 0, ""), std::to_string(kb * 1024));
  EXPECT_EQ(KitSysInfo(itMemSize, 0, ""), KitSysInfo(itMemSize, 1, ""));
  int load = std::stoi(KitSysInfo(itMemLoaded32, 1, ""));
  EXPECT_GE(load, 0);
  EXPECT_LE(load, 100);
  EXPECT_LE(std::stoull(KitSysInfo(itMemFree32, 1, "")), kb * 1024);
  EXPECT_GE(std::stoull(KitSysInfo(itMemPageTotal32, 1, "")), kb * 1024);
}

TEST(KitSysInfo, UserComputerAndDirectories) {
  struct passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(KitSysInfo(itUser, 1, ""), std::string(pw->pw_name).substr(0, 63));
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(KitSysInfo(itComputerName32, 1, ""), host);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(KitSysInfo(itCurrentDir32, 1, ""), cwd);
  EXPECT_NE(KitSysInfo(itCurrentDiskSize32, 1, ""), "0");

  std::string oldTmp = getenv("TMPDIR") ? getenv("TMPDIR") : "";
  setenv("TMPDIR", "/var/spool/x", 1);
  EXPECT_EQ(KitSysInfo(itTempPath32, 1, ""), "/var/spool/x/");
  setenv("TMPDIR", ("/" + std::string(300, 'a')).c_str(), 1);
  EXPECT_EQ(KitSysInfo(itTempPath32, 1, ""), "") << "does not fit the 260-character buffer";
  if (oldTmp.empty()) unsetenv("TMPDIR"); else setenv("TMPDIR", oldTmp.c_str(), 1);

  int year, month, day;
  fw::DecodeDate(fw::Now(), year, month, day);
  EXPECT_EQ(KitSysInfo(itCurrentDateTime, 1, "yyyy"), std::to_string(year));
}

TEST(KitSysInfo, GoneCurrentDirectoryGivesZeroDiskValues) {
  vexa::test::TestSession session;
  CwdGuard guard;
  std::string dir = session.Root() + "/gone";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  ASSERT_EQ(rmdir(dir.c_str()), 0);
  EXPECT_EQ(KitSysInfo(itCurrentDiskFree32, 1, ""), "0");
  EXPECT_EQ(KitSysInfo(itCurrentDiskSize32, 1024, ""), "0");
  EXPECT_EQ(KitSysInfo(itCurrentDir32, 1, ""), "");
}

TEST(KitSysInfo, LongValuesAreCutTo2047Characters) {
  vexa::test::TestSession session;
  CwdGuard guard;
  ASSERT_EQ(chdir(session.Root().c_str()), 0);
  std::string level(200, 'd');
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(mkdir(level.c_str(), 0700), 0);
    ASSERT_EQ(chdir(level.c_str()), 0);
  }
  char cwd[8192];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_GT(std::string(cwd).size(), 2047u);
  EXPECT_EQ(KitSysInfo(itCurrentDir32, 1, ""), std::string(cwd).substr(0, 2047));
}

TEST(KitSysInfo, RegisteredOwnerAndCompanyFromTheSettingsStore) {
  vexa::test::TestSession session;
  EXPECT_EQ(KitSysInfo(itReg_Owner32, 1, ""), "(Unknown)") << "no key";
  {
    fw::TRegistry reg;
    reg.SetRootKey(plat::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", true));
    reg.WriteString("RegisteredOwner", "Ann Smith");
    reg.WriteInteger("RegisteredOrganization", 7);
  }
  EXPECT_EQ(KitSysInfo(itReg_Owner32, 1, ""), "Ann Smith");
  EXPECT_EQ(KitSysInfo(itReg_Company32, 1, ""), "(Unknown)") << "a value of another type";
}

TEST(KitSysInfo, HeadlessLockKeysAreOff) {
  unsetenv("DISPLAY");
  EXPECT_EQ(KitSysInfo(itNumLock, 1, ""), "Off");
  EXPECT_EQ(KitSysInfo(itCapsLock, 1, ""), "Off");
  EXPECT_EQ(KitSysInfo(itScroll, 1, ""), "Off");
  EXPECT_EQ(KitSysInfo(itScreenSaverDelay, 1, ""), "0");
}

#if defined(__x86_64__) || defined(__i386__)
TEST(KitSysInfo, CpuSpeedIsAPlainDecimalNumber) {
  std::string s = KitSysInfo(itCPUSpeed, 1000, "");
  ASSERT_FALSE(s.empty());
  EXPECT_NE(s.front(), ' ');
  EXPECT_NE(s.back(), ' ');
  EXPECT_GT(std::stod(s), 0.0);
}
#endif
