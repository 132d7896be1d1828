// labels: unit
#include "shared/VexaInst.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdlib.h>

#include "framework/Registry.h"
#include "framework/SysUtils.h"
#include "shared/KWVReg.h"
#include "tests/support/TestSession.h"

namespace {

// True when some handle of the session holds the named mutex open.
bool MutexIsOpen(const std::string& name) {
  plat::HANDLE h = plat::CreateMutex(name, false);
  const bool existed = plat::GetLastError() == plat::ERROR_ALREADY_EXISTS;
  plat::CloseHandle(h);
  return existed;
}

}  // namespace

TEST(VexaInstallMutex, ProductNameOpensAndSwapsTheMutex) {
  vexa::test::TestSession session;
  {
    vexa::TVexaInstallMutex m(nullptr);
    EXPECT_EQ(m.MutexHandle(), 0u);
    EXPECT_FALSE(MutexIsOpen("VexaInstall_Lumidex"));
    m.SetProductName("  Lumidex  ");
    EXPECT_EQ(m.ProductName(), "Lumidex");
    EXPECT_NE(m.MutexHandle(), 0u);
    EXPECT_TRUE(MutexIsOpen("VexaInstall_Lumidex"));
    // Nobody owns it: anyone may take it at once.
    plat::HANDLE other = plat::CreateMutex("VexaInstall_Lumidex", false);
    EXPECT_EQ(plat::WaitForSingleObject(other, 0), plat::WAIT_OBJECT_0);
    plat::ReleaseMutex(other);
    plat::CloseHandle(other);

    m.SetProductName("Other");
    EXPECT_FALSE(MutexIsOpen("VexaInstall_Lumidex"));
    EXPECT_TRUE(MutexIsOpen("VexaInstall_Other"));

    m.SetProductName("");
    EXPECT_EQ(m.MutexHandle(), 0u);
    EXPECT_FALSE(MutexIsOpen("VexaInstall_Other"));
    EXPECT_FALSE(MutexIsOpen("VexaInstall_"));
    m.SetProductName("Lumidex");
    EXPECT_TRUE(MutexIsOpen("VexaInstall_Lumidex"));
  }
  // Destroying closes it.
  EXPECT_FALSE(MutexIsOpen("VexaInstall_Lumidex"));
}

TEST(VexaInstallMutex, DesignTimeCreatesNoMutex) {
  vexa::test::TestSession session;
  fw::TComponent owner(nullptr);
  owner.SetDesigning(true);
  auto* m = new vexa::TVexaInstallMutex(&owner);
  m->SetDesigning(true);
  m->SetProductName("Lumidex");
  EXPECT_EQ(m->ProductName(), "Lumidex");
  EXPECT_EQ(m->MutexHandle(), 0u);
  EXPECT_FALSE(MutexIsOpen("VexaInstall_Lumidex"));
}

TEST(KWVReg, WriteServerLocationRecordsTheProgramPath) {
  vexa::test::TestSession session;
  vexa::WriteServerLocation();
  fw::TRegistry reg(fw::KEY_READ);
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\VEXA Software\\Lumidex\\NotifyServer"));
  const std::string location = reg.ReadString("Location");
  EXPECT_EQ(location, fw::ParamStr0());
  EXPECT_EQ(location.front(), '/');
  EXPECT_TRUE(std::filesystem::exists(location));
}

TEST(KWVReg, WithoutWriteRightsNothingIsWrittenOrRaised) {
  vexa::test::TestSession session;
  // A store below a plain file cannot be created or written, whoever we are.
  const std::string blocker = session.Root() + "/blocker";
  std::ofstream(blocker) << "x";
  const std::string store = blocker + "/registry";
  setenv("VEXA_REGISTRY_DIR", store.c_str(), 1);
  EXPECT_NO_THROW(vexa::WriteServerLocation());
  EXPECT_FALSE(std::filesystem::exists(store));
}
