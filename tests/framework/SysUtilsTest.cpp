// labels: unit
// Decimal conversion, case, trimming and date-time formatting.
#include <gtest/gtest.h>

#include "framework/SysUtils.h"

using namespace fw;

TEST(SysUtils, DecimalConversion) {
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(StrToInt(" 5500 "), 5500);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToIntDef("2147483648", -1), -1);
  EXPECT_EQ(StrToIntDef("12a", 7), 7);
  EXPECT_EQ(StrToIntDef("", 3), 3);
  try {
    StrToInt("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
}

TEST(SysUtils, UpperCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(UpperCase("abc-xyz 09 \xC3\xA9"), "ABC-XYZ 09 \xC3\xA9");
  EXPECT_EQ(LowerCase("ABC"), "abc");
  EXPECT_EQ(CompareText("abc", "ABD"), -1);
  EXPECT_TRUE(SameText("Default", "DEFAULT"));
}

TEST(SysUtils, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(Trim(" \t\r\n name \x01"), "name");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a \n"), "  a");
  EXPECT_EQ(Trim("   "), "");
}

TEST(SysUtils, DateTimeIsDaysSince1899AndFormatsInTheCLocale) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), 25569.0);
  TDateTime dt = EncodeDate(2026, 3, 7) + EncodeTime(9, 5, 3, 250);
  EXPECT_EQ(FormatDateTime("hh:nn:ss", dt), "09:05:03");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:mm:ss.zzz", dt), "2026-03-07 09:05:03.250");
  EXPECT_EQ(FormatDateTime("'at' h:n", dt), "at 9:5");
  EXPECT_EQ(DateToStr(dt), "03/07/2026");
  EXPECT_EQ(TimeToStr(dt), "09:05:03");
  EXPECT_EQ(DateTimeToStr(dt), "03/07/2026 09:05:03");
  int h, m, s, ms;
  DecodeTime(EncodeTime(23, 59, 59, 999), h, m, s, ms);
  EXPECT_EQ(h * 10000000 + m * 100000 + s * 1000 + ms, 235959999);
  TDateTime now = Now();
  EXPECT_GT(now, EncodeDate(2020, 1, 1));
  EXPECT_LT(now, EncodeDate(2200, 1, 1));
}

TEST(SysUtils, FileNameHelpers) {
  EXPECT_EQ(ChangeFileExt("/opt/vexa/beaconhub", ".ini"), "/opt/vexa/beaconhub.ini");
  EXPECT_EQ(ChangeFileExt("/opt/v.1/prog.exe", ".ini"), "/opt/v.1/prog.ini");
  EXPECT_EQ(ExtractFilePath("/opt/vexa/beaconhub"), "/opt/vexa/");
  EXPECT_EQ(ExtractFileName("/opt/vexa/beaconhub"), "beaconhub");
  EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
}
