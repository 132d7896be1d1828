// labels: unit
// The bevel: extents of the four modes, the shadow rule between the two
// styles, change events, and the painted border checked pixel by pixel.
#include "tests/support/Pixels.h"
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "components/KitBevel.h"

using namespace vexa;
using fw::TBitmap;
using fw::TColor;
using fw::TRect;

namespace {

using namespace vexa::test;

constexpr TColor W = 0xFFFFFF;

bool SamePixels(TBitmap* a, TBitmap* b) {
  for (int y = 0; y < a->Height(); ++y)
    for (int x = 0; x < a->Width(); ++x)
      if (Px(a, x, y) != Px(b, x, y)) return false;
  return true;
}

}  // namespace

TEST(KitBevelTest, NewBevelTakesNothingAndPaintsNothing) {
  TKitBevel b;
  EXPECT_EQ(b.Extent(), 0);
  std::string text;
  b.GetDisplayString(text);
  EXPECT_EQ(text, "{Custom style}");
  auto s = Surface(6, 6);
  TRect inner;
  b.PaintBevel(s->Canvas(), TRect{0, 0, 6, 6}, inner, false);
  EXPECT_EQ(inner, (TRect{0, 0, 6, 6}));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(Px(s.get(), x, y), W);
}

TEST(KitBevelTest, ShadowStylesMoveTogether) {
  TKitBevel b;
  b.SetStyleOuter(bvShadow);
  EXPECT_EQ(b.StyleInner(), bvShadow);
  b.SetWidthOuter(3);
  b.SetWidthInner(1);
  EXPECT_EQ(b.Extent(), 1);
  EXPECT_EQ(b.ExtentRightBottom(), 4);
  EXPECT_EQ(b.InnerRect(TRect{0, 0, 20, 10}), (TRect{1, 1, 16, 6}));
  b.SetStyleOuter(bvRaised);
  EXPECT_EQ(b.StyleInner(), bvNone);
  EXPECT_EQ(b.Extent(), 3);
  EXPECT_EQ(b.ExtentRightBottom(), 3);
}

TEST(KitBevelTest, ExtentsOfTheModes) {
  TKitBevel b;
  b.SetStyleOuter(bvFrameLowered);
  EXPECT_EQ(b.Extent(), 2);
  b.SetBorderWidth(2);
  b.SetStyleInner(bvFrameRaised);
  b.SetWidthInner(2);
  EXPECT_EQ(b.Extent(), 2 + 2 + 3);

  TKitBevel e;
  e.SetBorderInnerWidth(3);
  e.SetMode(bmEdge);
  EXPECT_EQ(e.Extent(), 5);
  e.SetBorderSides(TKitFrameSides{});
  EXPECT_EQ(e.Extent(), 3);

  TKitBevel s;
  s.SetMode(bmStandard);
  EXPECT_EQ(s.Extent(), 1);  // lsSingleLowered
  s.SetStandardStyle(lsDoubleRaised);
  EXPECT_EQ(s.Extent(), 2);

  TKitBevel w;
  w.SetBorderInnerWidth(1);
  w.SetMode(bmWindows);
  EXPECT_EQ(w.Extent(), 3);
  EXPECT_FALSE(w.RecreateNeeded());
  w.SetWindowBorderSupport(true);
  w.NotifyChange();
  EXPECT_EQ(w.Extent(), 0);
}

TEST(KitBevelTest, ChangeEventsFollowTheSetterRules) {
  TKitBevel b;
  int changes = 0;
  b.OnChange = [&](fw::TObject* s) {
    EXPECT_EQ(s, &b);
    ++changes;
  };
  b.SetStandardStyle(lsRaised);  // not the mode in use
  EXPECT_EQ(changes, 0);
  b.SetWidthOuter(1);  // unchanged
  EXPECT_EQ(changes, 0);
  b.SetMode(bmStandard);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(b.Extent(), 2);
  b.SetStandardStyle(lsSingle);
  EXPECT_EQ(changes, 2);
  b.SetLightColor(fw::clRed);
  b.SetLightColor(fw::clRed);
  EXPECT_EQ(changes, 3);

  std::string text;
  b.SetMode(bmEdge);
  b.GetDisplayString(text);
  EXPECT_EQ(text, "{Etged style}");

  // Moving to or from the window border asks an owner with that support to remake its window.
  TKitBevel w;
  w.SetWindowBorderSupport(true);
  w.SetMode(bmWindows);
  EXPECT_TRUE(w.RecreateNeeded());
  EXPECT_TRUE(w.TakeRecreateNeeded());
  EXPECT_FALSE(w.RecreateNeeded());
  EXPECT_TRUE(w.TakeRecreateNeeded());  // still in window-border mode
  w.SetMode(bmCustom);
  EXPECT_TRUE(w.TakeRecreateNeeded());
  EXPECT_FALSE(w.TakeRecreateNeeded());

  TKitBevel copy;
  int copyChanges = 0;
  copy.OnChange = [&](fw::TObject*) { ++copyChanges; };
  copy.Assign(&w);
  EXPECT_EQ(copyChanges, 1);
  EXPECT_TRUE(copy.WindowBorderSupport());
  copy.Assign(&copy);
  EXPECT_EQ(copyChanges, 1);
  fw::TFont font;
  EXPECT_THROW(copy.Assign(&font), fw::Exception);
}

TEST(KitBevelTest, CustomBevelPaintsOuterBandAndInner) {
  TKitBevel b;
  b.SetLightColor(fw::clRed);
  b.SetShadowColor(fw::clBlue);
  b.SetBorderColor(fw::clLime);
  b.SetStyleOuter(bvRaised);
  b.SetBorderWidth(1);
  b.SetStyleInner(bvLowered);
  ASSERT_EQ(b.Extent(), 3);
  auto s = Surface(8, 8);
  TRect inner;
  b.PaintBevel(s->Canvas(), TRect{0, 0, 8, 8}, inner, false);
  EXPECT_EQ(inner, (TRect{3, 3, 5, 5}));
  std::vector<std::string> want = {"RRRRRRRB", "RGGGGGGB", "RGBBBRGB", "RGB..RGB",
                                   "RGB..RGB", "RGBRRRGB", "RGGGGGGB", "RBBBBBBB"};
  auto key = std::vector<std::pair<TColor, char>>{
      {fw::clRed, 'R'}, {fw::clBlue, 'B'}, {fw::clLime, 'G'}, {W, '.'}};
  EXPECT_EQ(Picture(s.get(), key), want);

  // Skipping the bands leaves the owner's background in them.
  auto k = Surface(8, 8);
  b.PaintBevel(k->Canvas(), TRect{0, 0, 8, 8}, inner, true);
  EXPECT_EQ(inner, (TRect{3, 3, 5, 5}));
  EXPECT_EQ(Picture(k.get(), key)[1], "R......B");
}

TEST(KitBevelTest, EdgeWithoutSidesAndWindowsModePaint) {
  TKitBevel e;
  e.SetBorderColor(fw::clLime);
  e.SetBorderInnerWidth(1);
  e.SetMode(bmEdge);
  e.SetBorderSides(TKitFrameSides{});
  auto s = Surface(5, 5);
  TRect inner;
  e.PaintBevel(s->Canvas(), TRect{0, 0, 5, 5}, inner, false);
  EXPECT_EQ(inner, (TRect{1, 1, 4, 4}));
  std::vector<std::string> want = {"GGGGG", "G...G", "G...G", "G...G", "GGGGG"};
  EXPECT_EQ(Picture(s.get(), {{fw::clLime, 'G'}, {W, '.'}}), want);

  // Without window border support the windows mode paints the lowered ext border itself.
  TKitBevel w;
  w.SetMode(bmWindows);
  auto a = Surface(10, 10);
  w.PaintBevel(a->Canvas(), TRect{0, 0, 10, 10}, inner, false);
  EXPECT_EQ(inner, (TRect{2, 2, 8, 8}));
  auto ref = Surface(10, 10);
  TRect r{0, 0, 10, 10};
  KitDrawBorder(ref->Canvas(), r, lsLoweredExt, 0);
  EXPECT_TRUE(SamePixels(a.get(), ref.get()));
}
