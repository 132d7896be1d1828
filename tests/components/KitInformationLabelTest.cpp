// labels: unit
// The information label: its text (caption, colon, tabs, digit mask), the
// refresh timer of the lock-key and clock items, and a full timer pool.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/KitApplication.h"
#include "components/KitInformationLabel.h"
#include "tests/support/TestSession.h"

using namespace vexa;

namespace {
std::string Text(TKitInformationLabel& l) {
  std::string t;
  l.GetLabelText(t);
  return t;
}
}  // namespace

TEST(KitInformationLabelTest, DigitMask) {
  EXPECT_EQ(KitApplyDigitMask("4096", "0,000"), "4,096");
  EXPECT_EQ(KitApplyDigitMask("98", "0,000"), "0,098");
  EXPECT_EQ(KitApplyDigitMask("4096", "0,000,000"), "0,004,096");
  EXPECT_EQ(KitApplyDigitMask("409600", "0,000"), "409,600");
  EXPECT_EQ(KitApplyDigitMask("409600", "0.000"), "409.600");
  EXPECT_EQ(KitApplyDigitMask("", "00"), "00");
}

TEST(KitInformationLabelTest, CaptionColonAndTabs) {
  vexa::test::TestSession session;
  TKitInformationLabel l(nullptr);
  l.SetInfo(itNumLock);
  const std::string value = KitSysInfo(itNumLock, 0, "");
  ASSERT_TRUE(value == "On" || value == "Off") << value;
  EXPECT_EQ(Text(l), "NumLock\t" + value);
  l.SetInsertColon(0);
  EXPECT_EQ(Text(l), "NumLock:\t" + value);
  l.SetInsertTabs(3);
  l.SetInsertColon(2);
  EXPECT_EQ(Text(l), "NumLock\t\t:\t" + value);

  // Own caption without tabs: a blank, but only when there is a caption.
  l.SetUseStandardCaption(false);
  l.SetInsertColon(-1);
  l.SetInsertTabs(0);
  EXPECT_EQ(Text(l), value);
  l.SetCaption("Num");
  EXPECT_EQ(Text(l), "Num " + value);

  // The digit mask applies to numeric items only.
  l.SetInfo(itColorDepth);
  l.SetNumberFormat("0.000");
  EXPECT_EQ(Text(l), "Num " + KitApplyDigitMask(KitSysInfo(itColorDepth, 0, ""), "0.000"));
  l.SetInfo(itUser);
  EXPECT_EQ(Text(l), "Num " + KitSysInfo(itUser, 0, ""));
}

TEST(KitInformationLabelTest, RefreshTimerFollowsTheItem) {
  vexa::test::TestSession session;
  TKitInformationLabel l(nullptr);
  TKitTimerItem* t = KitApplication->GetTimer(l.TimerIdent());
  ASSERT_NE(t, nullptr);
  EXPECT_FALSE(t->Enabled());
  l.SetInfo(itCapsLock);
  EXPECT_TRUE(t->Enabled());
  EXPECT_EQ(t->Interval(), 250);
  l.SetInfo(itCurrentDateTime);
  EXPECT_EQ(t->Interval(), 1000);
  EXPECT_TRUE(t->Enabled());

  // A refresh repaints only when the shown value changed.
  l.SetInfo(itScroll);
  l.ValidatePaint();
  l.Refresh();
  EXPECT_TRUE(l.NeedsPaint());  // nothing shown by a tick before
  l.ValidatePaint();
  l.Refresh();
  EXPECT_FALSE(l.NeedsPaint());
  l.SetInfo(itUser);
  EXPECT_FALSE(t->Enabled());
  l.ValidatePaint();
  l.Refresh();
  EXPECT_FALSE(l.NeedsPaint());

  const uint16_t ident = l.TimerIdent();
  {
    TKitInformationLabel other(nullptr);
    EXPECT_NE(other.TimerIdent(), ident);
  }
}

TEST(KitInformationLabelTest, FullTimerPoolRefusesTheLabel) {
  vexa::test::TestSession session;
  std::vector<uint16_t> taken;
  for (;;) {
    uint16_t id = KitApplication->AddTimer(1000, nullptr);
    if (id == 0) break;
    taken.push_back(id);
  }
  ASSERT_FALSE(taken.empty());
  try {
    TKitInformationLabel l(nullptr);
    FAIL() << "created without a timer";
  } catch (const fw::EOutOfResources& e) {
    EXPECT_STREQ(e.what(), "Not enough timers available");
  }
  KitApplication->RemoveTimer(taken.back());
  const uint16_t freed = taken.back();
  taken.pop_back();
  TKitInformationLabel l(nullptr);
  EXPECT_EQ(l.TimerIdent(), freed);
  for (uint16_t id : taken) KitApplication->RemoveTimer(id);
}
