// labels: unit
// The gateway's registry routines on a private settings store.
#include "gateway/KWVReg.h"

#include <gtest/gtest.h>

#include "framework/Registry.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

TEST(GatewayRegistry, MissingKeyLeavesTheCallersValues) {
  test::TestSession session;
  std::string address = "keep", port = "1";
  EXPECT_FALSE(ReadProviderSettings("Nobody", address, port));
  EXPECT_EQ(address, "keep");
  EXPECT_EQ(port, "1");
}

TEST(GatewayRegistry, EmptyChannelIsDefaultAndValuesRoundTrip) {
  test::TestSession session;
  WriteProviderSettings("", "notify.example", "5501");
  std::string address, port;
  ASSERT_TRUE(ReadProviderSettings("Default", address, port));
  EXPECT_EQ(address, "notify.example");
  EXPECT_EQ(port, "5501");
  fw::TRegistry reg;
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("\\Software\\VEXA Software\\Lumidex\\ClientGateway\\Default", false));
  EXPECT_EQ(reg.ReadString("Params"), "\"Default\"");
  EXPECT_FALSE(reg.ReadString("Location").empty());
}

TEST(GatewayRegistry, LocationAloneLeavesAddressAndPortMissing) {
  test::TestSession session;
  WriteGatewayLocation("Shop");
  std::string address = "x", port = "y";
  ASSERT_TRUE(ReadProviderSettings("Shop", address, port));
  EXPECT_EQ(address, "");
  EXPECT_EQ(port, "");
}

TEST(GatewayRegistry, HandEditedValueOfAnotherTypeReadsAsMissing) {
  test::TestSession session;
  {
    fw::TRegistry reg;
    reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(GatewayChannelKey("Odd"), true));
    reg.WriteString("Address", "10.0.0.1");
    reg.WriteInteger("Port", 5500);
  }
  std::string address, port;
  ASSERT_TRUE(ReadProviderSettings("Odd", address, port));
  EXPECT_EQ(address, "10.0.0.1");
  EXPECT_EQ(port, "");
  EXPECT_EQ(StoredPortNumber(port), 5500);
  EXPECT_EQ(StoredPortNumber(" 70000"), 70000);
  EXPECT_EQ(StoredPortNumber("99999999999"), 5500);
}

}  // namespace
}  // namespace vexa
