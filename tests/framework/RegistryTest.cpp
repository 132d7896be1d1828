// labels: unit
// TRegistry on the settings store: opening keys, reading and writing values,
// errors, and a store without write rights.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "framework/Registry.h"
#include "tests/support/TestSession.h"

using namespace fw;

TEST(Registry, WritesAndReadsValuesOfAnOpenedKey) {
  vexa::test::TestSession session;
  {
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.OpenKey("\\Software\\VEXA Software\\Lumidex\\NotifyServer", false))
        << "not made without CanCreate";
    ASSERT_TRUE(reg.OpenKey("\\Software\\VEXA Software\\Lumidex\\NotifyServer", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\VEXA Software\\Lumidex\\NotifyServer");
    reg.WriteString("Location", "/opt/vexa/beaconhub");
    reg.WriteInteger("Port", 5500);
    reg.WriteBool("Enabled", true);
    EXPECT_TRUE(reg.ValueExists("location"));
    EXPECT_FALSE(reg.ValueExists("Missing"));
    EXPECT_EQ(reg.GetDataType("Port"), rdInteger);
    reg.CloseKey();
    EXPECT_EQ(reg.CurrentKey(), 0u);
  }
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("Software\\VEXA Software\\Lumidex\\NotifyServer", false));
  EXPECT_EQ(reg.ReadString("Location"), "/opt/vexa/beaconhub");
  EXPECT_EQ(reg.ReadInteger("Port"), 5500);
  EXPECT_TRUE(reg.ReadBool("Enabled"));
  EXPECT_EQ(reg.ReadString("Missing"), "") << "a missing string reads as empty";
  try {
    reg.ReadInteger("Missing");
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(), "Failed to get data for 'Missing'");
    EXPECT_STREQ(e.ClassName(), "ERegistryException");
  }
  try {
    reg.ReadString("Port");
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(), "Invalid data type for 'Port'");
  }
  EXPECT_THROW(reg.ReadInteger("Location"), ERegistryException);
  EXPECT_TRUE(reg.DeleteValue("Enabled"));
  EXPECT_FALSE(reg.ValueExists("Enabled"));
}

TEST(Registry, RelativeKeysOpenOneLevelAtATime) {
  vexa::test::TestSession session;
  {
    TRegistry w;
    w.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(w.OpenKey("\\SOFTWARE\\Classes\\.html", true));
    w.WriteString("", "htmlfile");
    ASSERT_TRUE(w.OpenKey("\\SOFTWARE\\Classes\\htmlfile\\shell\\open\\command", true));
    w.WriteString("", "/usr/bin/browser %1");
  }
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly("SOFTWARE"));
  ASSERT_TRUE(reg.OpenKeyReadOnly("Classes"));
  EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\Classes");
  EXPECT_TRUE(reg.KeyExists(".html"));
  EXPECT_FALSE(reg.KeyExists(".xhtml"));
  EXPECT_TRUE(reg.HasSubKeys());
  TStringList names;
  reg.GetKeyNames(&names);
  EXPECT_EQ(names.CommaText(), ".html,htmlfile");
  ASSERT_TRUE(reg.OpenKeyReadOnly(".html"));
  EXPECT_EQ(reg.ReadString(""), "htmlfile");
  EXPECT_FALSE(reg.OpenKeyReadOnly("nothing")) << "a failed open keeps the current key";
  EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\Classes\\.html");
  EXPECT_TRUE(reg.KeyExists("\\SOFTWARE\\Classes\\htmlfile\\shell"));
}

TEST(Registry, StoreWithoutWriteRightsCannotBeOpenedForWriting) {
  vexa::test::TestSession session;
  {
    TRegistry w;
    w.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(w.OpenKey("Software\\VEXA Software\\Lumidex\\NotifyServer", true));
    w.WriteString("DezazErurDB", "/data/demo.fdb");
  }
  ASSERT_EQ(chmod(plat::RegistryFileOf(HKEY_LOCAL_MACHINE).c_str(), 0444), 0);
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(reg.OpenKey("Software\\VEXA Software\\Lumidex\\NotifyServer", false));
  EXPECT_EQ(reg.LastError(), static_cast<plat::LSTATUS>(plat::ERROR_ACCESS_DENIED));
  EXPECT_FALSE(reg.OpenKey("Software\\VEXA Software\\Lumidex\\NotifyServer", true));
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\VEXA Software\\Lumidex\\NotifyServer"));
  EXPECT_EQ(reg.ReadString("DezazErurDB"), "/data/demo.fdb");
  try {
    reg.WriteString("DezazErurDB", "/elsewhere");
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(), "Failed to set data for 'DezazErurDB'");
  }
  EXPECT_THROW(reg.CreateKey("\\Software\\Other"), ERegistryException);
}
