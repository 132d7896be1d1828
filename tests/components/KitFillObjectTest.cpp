// labels: unit
// Fill objects: defaults, change notification rules, painting by style and the
// alpha object's blending state and summary.
#include "tests/support/Pixels.h"
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/KitAlphaObject.h"
#include "components/KitFillObject.h"
#include "components/KitShapeFill.h"
#include "components/kitimage.h"

using namespace vexa;
using fw::TBitmap;
using fw::TColor;
using fw::TRect;

namespace {

using namespace vexa::test;

struct Counter {
  int count = 0;
  fw::TNotifyEvent Handler() {
    return [this](fw::TObject*) { ++count; };
  }
};

}  // namespace

TEST(KitFillObjectTest, DefaultsAndSummaries) {
  TKitShapeFill shape;
  EXPECT_EQ(shape.Style(), sfBrush);
  EXPECT_EQ(shape.TileMode(), tmTile);
  std::string text;
  shape.GetDisplayString(text);
  EXPECT_EQ(text, "{Brush}");
  shape.SetStyle(sfBrushBitmap);
  shape.GetDisplayString(text);
  EXPECT_EQ(text, "{}");

  TKitFillObject fill;
  EXPECT_EQ(fill.Style(), sfNone);
  EXPECT_EQ(fill.TileMode(), tmTile);
  EXPECT_EQ(fill.Options(), (TKitFillOptions{foFillInner, foGrUseBitmap}));
  fill.GetDisplayString(text);
  EXPECT_EQ(text, "{Disabled}");
  auto b = Surface(4, 4, fw::clBlue);
  EXPECT_FALSE(fill.FillArea(b->Canvas(), TRect{0, 0, 4, 4}, fw::clRed));
  EXPECT_EQ(Px(b.get(), 1, 1), fw::clBlue);
}

TEST(KitFillObjectTest, PlacementNotifiesOnlyForAnUntiledBitmap) {
  TKitFillObject fill;
  Counter c;
  fill.OnChange = c.Handler();
  fill.SetStyle(sfBitmap);
  EXPECT_EQ(c.count, 1);
  fill.SetAlignment(agCenter);  // tiled: stored silently
  fill.SetOffsetX(3);
  EXPECT_EQ(c.count, 1);
  EXPECT_EQ(fill.Alignment(), agCenter);
  fill.SetTileMode(tmNone);
  EXPECT_EQ(c.count, 2);
  fill.SetAlignment(agBottomRight);
  fill.SetOffsetY(2);
  EXPECT_EQ(c.count, 4);
  fill.SetOffsetY(2);  // equal value
  EXPECT_EQ(c.count, 4);
  // The owned brush and bitmap report through the object.
  fill.Brush()->SetColor(fw::clRed);
  EXPECT_EQ(c.count, 5);
}

TEST(KitFillObjectTest, AssignCopiesWithOneNotificationButNotThePlacement) {
  TKitFillObject a, b;
  a.SetStyle(sfGradient);
  a.SetTileMode(tmStretch);
  a.SetOptions(TKitFillOptions{foQuickDraw});
  a.Brush()->SetColor(fw::clLime);
  a.SetTileMode(tmNone);
  a.SetAlignment(agCenter);
  a.SetOffsetX(9);
  Counter c;
  b.OnChange = c.Handler();
  b.Assign(&a);
  EXPECT_EQ(c.count, 1);
  EXPECT_EQ(b.Style(), sfGradient);
  EXPECT_EQ(b.TileMode(), tmNone);
  EXPECT_EQ(b.Options(), TKitFillOptions{foQuickDraw});
  EXPECT_EQ(b.Brush()->Color(), fw::clLime);
  EXPECT_EQ(b.Alignment(), agTopLeft);
  EXPECT_EQ(b.OffsetX(), 0);
}

TEST(KitFillObjectTest, PaintingByStyle) {
  // An empty bitmap with foFillInner: the back colour, and false.
  TKitFillObject fill;
  fill.SetStyle(sfBitmap);
  auto b = Surface(6, 6, fw::clBlue);
  EXPECT_FALSE(fill.FillArea(b->Canvas(), TRect{1, 1, 5, 5}, fw::clRed));
  EXPECT_EQ(Px(b.get(), 1, 1), fw::clRed);
  EXPECT_EQ(Px(b.get(), 4, 4), fw::clRed);
  EXPECT_EQ(Px(b.get(), 5, 5), fw::clBlue);

  // A hatched brush over red: the gaps show red.
  TKitFillObject hatch;
  hatch.SetStyle(sfBrush);
  hatch.Brush()->SetColor(fw::clBlack);
  hatch.Brush()->SetStyle(fw::bsHorizontal);
  auto h = Surface(8, 8, fw::clBlue);
  EXPECT_TRUE(hatch.FillArea(h->Canvas(), TRect{0, 0, 8, 8}, fw::clRed));
  int red = 0, black = 0;
  for (int y = 0; y < 8; ++y) {
    if (Px(h.get(), 0, y) == fw::clRed) ++red;
    if (Px(h.get(), 0, y) == fw::clBlack) ++black;
  }
  EXPECT_EQ(red + black, 8);
  EXPECT_GT(red, 0);
  EXPECT_GT(black, 0);

  // An untiled bitmap aligned bottom-right and moved by the offsets.
  TKitFillObject placed;
  placed.SetStyle(sfBitmap);
  placed.SetTileMode(tmNone);
  placed.SetAlignment(agBottomRight);
  placed.SetOffsetX(-1);
  auto pic = Surface(2, 2, fw::clLime);
  placed.SetBitmap(pic.get());
  auto p = Surface(8, 8, fw::clBlue);
  EXPECT_TRUE(placed.FillArea(p->Canvas(), TRect{0, 0, 8, 8}, fw::clWhite));
  EXPECT_EQ(Px(p.get(), 5, 6), fw::clLime);
  EXPECT_EQ(Px(p.get(), 6, 7), fw::clLime);
  EXPECT_EQ(Px(p.get(), 7, 7), fw::clWhite);
  EXPECT_EQ(Px(p.get(), 0, 0), fw::clWhite);

  // Tiled: the picture repeats, no background step.
  placed.SetTileMode(tmTile);
  auto t = Surface(5, 5, fw::clBlue);
  placed.FillArea(t->Canvas(), TRect{0, 0, 5, 5}, fw::clWhite);
  EXPECT_EQ(Px(t.get(), 4, 4), fw::clLime);

  // A gradient of two colours off-screen.
  TKitFillObject grad;
  grad.SetStyle(sfGradient);
  grad.Gradient()->SetStyle(gstHorizontal);
  grad.Gradient()->SetColor(fw::clRed);
  grad.Gradient()->SetEndColor(fw::clBlue);
  grad.Gradient()->SetColorCount(2);
  auto g = Surface(10, 2, fw::clWhite);
  EXPECT_TRUE(grad.FillArea(g->Canvas(), TRect{0, 0, 10, 2}, fw::clWhite));
  EXPECT_EQ(Px(g.get(), 0, 0), fw::clRed);
  EXPECT_EQ(Px(g.get(), 9, 1), fw::clBlue);
}

TEST(KitFillObjectTest, AlphaObjectBlendingAndSummary) {
  TKitAlphaObject alpha;
  std::string text;
  alpha.GetDisplayString(text);
  EXPECT_EQ(text, "{Disabled}");
  EXPECT_FALSE(alpha.IsBlending());  // strength 0.6 but no fill
  alpha.FillObject()->SetStyle(sfGradient);
  EXPECT_TRUE(alpha.IsBlending());
  alpha.GetDisplayString(text);
  EXPECT_EQ(text, "{Enabled (grad), strength: 0.600}");
  alpha.SetStrength(1.0f);
  EXPECT_FALSE(alpha.IsBlending());
  alpha.FillObject()->SetStyle(sfBitmapList);
  alpha.GetDisplayString(text);
  EXPECT_EQ(text, "{Enabled (bmp), strength: 1.000}");

  Counter c;
  alpha.OnChange = c.Handler();
  alpha.SetStrength(1.0f);
  EXPECT_EQ(c.count, 0);
  alpha.SetStrength(0.25f);
  EXPECT_EQ(c.count, 1);
  // Without an image list the list picture is emptied and the owner told.
  alpha.FillObject()->SetListBitmap(Surface(2, 2, fw::clRed).get());
  alpha.SetImageIndex(3);
  EXPECT_TRUE(alpha.FillObject()->ListBitmap()->Empty());
  EXPECT_EQ(c.count, 2);

  TKitAlphaObject copy;
  Counter cc;
  copy.OnChange = cc.Handler();
  copy.Assign(&alpha);
  EXPECT_EQ(cc.count, 0);
  EXPECT_FLOAT_EQ(copy.Strength(), 0.25f);
  EXPECT_EQ(copy.ImageIndex(), 3);
  EXPECT_EQ(copy.FillObject()->Style(), sfBitmapList);
}

TEST(KitFillObjectTest, AlphaPictureFollowsItsImageList) {
  TKitAlphaObject alpha;
  int changes = 0;
  alpha.OnChange = [&](fw::TObject*) { ++changes; };
  {
    TKitBitmapList list(nullptr);
    auto* item = new TKitBitmapListItem(nullptr);
    list.AddItem(item);
    auto pic = Surface(3, 2, fw::clRed);
    item->SetBitmap(pic.get());
    alpha.SetImageList(&list);
    EXPECT_EQ(alpha.FillObject()->ListBitmap()->Width(), 3);
    EXPECT_EQ(Px(alpha.FillObject()->ListBitmap(), 2, 1), fw::clRed);
    // A change of the list reaches the picture through the change link.
    auto other = Surface(5, 5, fw::clBlue);
    item->SetBitmap(other.get());
    changes = 0;
    list.NotifyChange();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Px(alpha.FillObject()->ListBitmap(), 4, 4), fw::clBlue);
    // An index without a picture empties it.
    alpha.SetListIndex(1);
    EXPECT_TRUE(alpha.FillObject()->ListBitmap()->Empty());
    alpha.SetListIndex(0);
    EXPECT_FALSE(alpha.FillObject()->ListBitmap()->Empty());
  }
  // The list is gone: the object no longer asks it.
  alpha.SetImageIndex(0);
  EXPECT_TRUE(alpha.FillObject()->ListBitmap()->Empty());
}
