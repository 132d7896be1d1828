// labels: unit
// Border and shadow painting of region shapes: colours by style, the shadow
// band and its checkerboard, point-list segments coloured by direction.
#include "tests/support/Pixels.h"
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "components/kitregion.h"

using namespace vexa;
using fw::TBitmap;
using fw::TColor;
using fw::TRect;

namespace {

using namespace vexa::test;

constexpr TColor W = 0xFFFFFF;
constexpr TColor Light = 0x00FF00, Dark = 0x0000FF, Single = 0xFF0000, ShadowC = 0x404040;

void Colours(TKitBorderRegion& r, TKitRegionBorderStyle style) {
  r.Border()->SetStyle(style);
  r.Border()->SetLightColor(Light);
  r.Border()->SetShadowColor(Dark);
  r.Border()->SetSingleColor(Single);
}

std::string Dump(TBitmap* b) {
  std::string s;
  for (int y = 0; y < b->Height(); ++y) {
    for (int x = 0; x < b->Width(); ++x) {
      TColor c = Px(b, x, y);
      s += c == W         ? '.'
           : c == Light   ? 'L'
           : c == Dark    ? 'D'
           : c == Single  ? 'S'
           : c == ShadowC ? '#'
                          : '?';
    }
    s += '\n';
  }
  return s;
}

}  // namespace

TEST(KitRegionBorderTest, NoneDrawsNothingButThePointList) {
  for (int s = rsRect; s <= rsPointList; ++s) {
    TKitBorderRegion r;
    Colours(r, rbNone);
    r.SetShape(TKitRegionShape(s));
    auto b = Surface(60, 40);
    r.BuildRegion(TRect{0, 0, 60, 40});
    r.PaintBorder(b->Canvas(), TRect{0, 0, 60, 40});
    EXPECT_EQ(Count(b.get(), W), 60 * 40) << s;
  }
  TKitBorderRegion p;
  Colours(p, rbNone);
  p.Points()->AddPoint(fw::TPoint{2, 2});
  p.Points()->AddPoint(fw::TPoint{20, 2});
  p.Points()->AddPoint(fw::TPoint{20, 20});
  p.SetShape(rsPointList);
  auto b = Surface(30, 30);
  p.PaintBorder(b->Canvas(), TRect{0, 0, 30, 30});
  EXPECT_GT(Count(b.get(), Light), 0);
  EXPECT_GT(Count(b.get(), Dark), 0);
}

TEST(KitRegionBorderTest, RectangleStyles) {
  TKitBorderRegion r;
  r.SetShape(rsRect);
  Colours(r, rbSingle);
  auto b = Surface(20, 16);
  r.PaintBorder(b->Canvas(), TRect{2, 2, 18, 14});
  // One outline, two pixels wide, in the single colour only.
  EXPECT_EQ(Count(b.get(), Light) + Count(b.get(), Dark), 0);
  EXPECT_EQ(Px(b.get(), 2, 2), Single);
  EXPECT_EQ(Px(b.get(), 10, 2), Single);
  EXPECT_EQ(Px(b.get(), 10, 3), Single);
  EXPECT_EQ(Px(b.get(), 10, 4), W);
  EXPECT_EQ(Px(b.get(), 10, 13), Single);
  EXPECT_EQ(Px(b.get(), 10, 8), W);
  EXPECT_EQ(Px(b.get(), 0, 0), W);

  // Lowered: top and left in the shadow colour, bottom and right in the light one.
  Colours(r, rbLowered);
  auto l = Surface(20, 16);
  r.PaintBorder(l->Canvas(), TRect{2, 2, 18, 14});
  EXPECT_EQ(Px(l.get(), 10, 2), Dark) << Dump(l.get());
  EXPECT_EQ(Px(l.get(), 2, 8), Dark);
  EXPECT_EQ(Px(l.get(), 10, 14), Light);
  EXPECT_EQ(Px(l.get(), 18, 8), Light);
  EXPECT_EQ(Count(l.get(), Single), 0);

  // Raised the other way round.
  Colours(r, rbRaised);
  auto u = Surface(20, 16);
  r.PaintBorder(u->Canvas(), TRect{2, 2, 18, 14});
  EXPECT_EQ(Px(u.get(), 10, 2), Light);
  EXPECT_EQ(Px(u.get(), 10, 14), Dark);

  // Single-raised: the single outline, then the two-colour outline one pixel in.
  Colours(r, rbSingleRaised);
  auto sr = Surface(20, 16);
  r.PaintBorder(sr->Canvas(), TRect{2, 2, 18, 14});
  EXPECT_EQ(Px(sr.get(), 10, 3), Light) << Dump(sr.get());
  EXPECT_EQ(Px(sr.get(), 10, 13), Dark);

  // Raised-psb: the shadow part and the inner pass take the single colour.
  Colours(r, rbRaisedpsb);
  auto ps = Surface(20, 16);
  r.PaintBorder(ps->Canvas(), TRect{2, 2, 18, 14});
  EXPECT_EQ(Px(ps.get(), 10, 2), Light) << Dump(ps.get());
  EXPECT_EQ(Px(ps.get(), 10, 14), Single);
  EXPECT_EQ(Px(ps.get(), 10, 13), Single);
  EXPECT_EQ(Count(ps.get(), Dark), 0);
}

TEST(KitRegionBorderTest, ShadowBandRightAndBelow) {
  TKitBorderRegion r;
  r.SetShape(rsRect);
  Colours(r, rbNone);
  r.Shadow()->SetStyle(hssSolid);
  r.Shadow()->SetColor(ShadowC);
  r.BuildRegion(TRect{0, 0, 100, 80});
  auto b = Surface(100, 80);
  r.PaintBorder(b->Canvas(), TRect{0, 0, 100, 80});
  // The shape is (0, 0, 94, 74); the band is that moved by 6 minus the shape.
  EXPECT_EQ(Px(b.get(), 94, 6), ShadowC);
  EXPECT_EQ(Px(b.get(), 99, 79), ShadowC);
  EXPECT_EQ(Px(b.get(), 6, 74), ShadowC);
  EXPECT_EQ(Px(b.get(), 94, 5), W);
  EXPECT_EQ(Px(b.get(), 5, 74), W);
  EXPECT_EQ(Px(b.get(), 93, 73), W);
  EXPECT_EQ(Count(b.get(), ShadowC), 100 * 80 - 94 * 74 - 2 * 6 * 6);

  // The border is painted for the shape without the shadow.
  Colours(r, rbSingle);
  auto s = Surface(100, 80);
  r.PaintBorder(s->Canvas(), TRect{0, 0, 100, 80});
  EXPECT_EQ(Px(s.get(), 50, 73), Single) << Dump(s.get());
  EXPECT_EQ(Px(s.get(), 50, 76), ShadowC);

  // Tracing: a checkerboard of the shadow colour and white over white.
  r.Shadow()->SetStyle(hssTracing);
  Colours(r, rbNone);
  r.BuildRegion(TRect{0, 0, 100, 80});
  auto t = Surface(100, 80);
  r.PaintBorder(t->Canvas(), TRect{0, 0, 100, 80});
  for (int y = 74; y < 79; ++y)
    for (int x = 10; x < 20; ++x) {
      const TColor c = Px(t.get(), x, y);
      ASSERT_TRUE(c == W || c == ShadowC) << x << "," << y;
      ASSERT_NE(c, Px(t.get(), x + 1, y)) << x << "," << y;
      ASSERT_EQ(c, Px(t.get(), x + 1, y + 1)) << x << "," << y;
    }
  // No shadow without a region.
  TKitBorderRegion none;
  none.Shadow()->SetStyle(hssSolid);
  auto n = Surface(20, 20);
  none.Border()->SetStyle(rbNone);
  none.PaintBorder(n->Canvas(), TRect{0, 0, 20, 20});
  EXPECT_EQ(Count(n.get(), W), 400);
}

TEST(KitRegionBorderTest, PointListColoursByDirection) {
  TKitBorderRegion r;
  Colours(r, rbRaised);
  // Clockwise from the top-left point.
  for (auto [x, y] : std::vector<std::pair<int, int>>{{2, 2}, {30, 2}, {30, 20}, {2, 20}})
    r.Points()->AddPoint(fw::TPoint{x, y});
  r.SetShape(rsPointList);
  auto b = Surface(40, 30);
  r.PaintBorder(b->Canvas(), TRect{0, 0, 40, 30});
  EXPECT_EQ(Px(b.get(), 15, 2), Light) << Dump(b.get());   // moving right
  EXPECT_EQ(Px(b.get(), 30, 10), Dark);                    // moving down
  EXPECT_EQ(Px(b.get(), 15, 20), Dark);                    // moving left
  EXPECT_EQ(Px(b.get(), 2, 10), Light);                    // closing, moving up

  // A diagonal that moves left and down takes the shadow colour (left decides).
  TKitBorderRegion d;
  Colours(d, rbRaised);
  d.Points()->AddPoint(fw::TPoint{20, 2});
  d.Points()->AddPoint(fw::TPoint{2, 20});
  d.Points()->AddPoint(fw::TPoint{2, 2});
  d.SetShape(rsPointList);
  auto c = Surface(30, 30);
  d.PaintBorder(c->Canvas(), TRect{0, 0, 30, 30});
  EXPECT_EQ(Px(c.get(), 11, 11), Dark) << Dump(c.get());
  EXPECT_EQ(Px(c.get(), 2, 10), Light);  // moving up
  // Single: one colour throughout.
  Colours(d, rbSingle);
  auto s = Surface(30, 30);
  d.PaintBorder(s->Canvas(), TRect{0, 0, 30, 30});
  EXPECT_EQ(Count(s.get(), Light) + Count(s.get(), Dark), 0);
  EXPECT_GT(Count(s.get(), Single), 0);
}

TEST(KitRegionBorderTest, EllipseHalvesAndNoseGap) {
  TKitBorderRegion r;
  r.SetShape(rsElliptic);
  Colours(r, rbRaised);
  auto b = Surface(40, 30);
  r.PaintBorder(b->Canvas(), TRect{0, 0, 40, 30});
  // Upper-left half light, lower-right half dark.
  EXPECT_EQ(Px(b.get(), 20, 0), Light) << Dump(b.get());
  EXPECT_EQ(Px(b.get(), 0, 15), Light);
  EXPECT_EQ(Px(b.get(), 20, 29), Dark);
  EXPECT_EQ(Px(b.get(), 39, 15), Dark);

  // The nose itself gets no border; the body's border has a gap where it joins.
  TKitBorderRegion n;
  n.SetShape(rsNoseRect);
  Colours(n, rbSingle);
  auto c = Surface(100, 50);
  n.PaintBorder(c->Canvas(), TRect{0, 0, 100, 50});
  // Body (10, 10, 100, 50); base from (10, 15) to (10, 29), excluded with 2 more.
  EXPECT_EQ(Px(c.get(), 10, 40), Single) << Dump(c.get());
  EXPECT_EQ(Px(c.get(), 10, 20), W);
  EXPECT_EQ(Px(c.get(), 3, 3), W);
  EXPECT_EQ(Px(c.get(), 50, 10), Single);
}

TEST(KitRegionBorderTest, DiamondRoundRectAndBubbleOutlines) {
  // Diamond: segments 4-1 and 1-2 (upper side) light, 2-3 and 3-4 dark.
  TKitBorderRegion d;
  d.SetShape(rsDiamond);
  Colours(d, rbRaised);
  auto b = Surface(41, 41);
  d.PaintBorder(b->Canvas(), TRect{0, 0, 40, 40});
  EXPECT_EQ(Px(b.get(), 10, 10), Light) << Dump(b.get());
  EXPECT_EQ(Px(b.get(), 30, 10), Light);
  EXPECT_EQ(Px(b.get(), 10, 30), Dark);
  EXPECT_EQ(Px(b.get(), 30, 30), Dark);
  EXPECT_EQ(Px(b.get(), 20, 20), W);

  // Round rectangle: the whole outline light, then the shadow part with a
  // four-pixel pen over the bottom and right.
  TKitBorderRegion r;
  r.SetShape(rsRoundRect);
  Colours(r, rbRaised);
  auto c = Surface(60, 50);
  r.PaintBorder(c->Canvas(), TRect{4, 4, 54, 44});
  EXPECT_EQ(Px(c.get(), 29, 4), Light) << Dump(c.get());
  EXPECT_EQ(Px(c.get(), 4, 24), Light);
  int dark = 0;
  for (int y = 38; y < 48; ++y) dark += Px(c.get(), 29, y) == Dark;
  EXPECT_EQ(dark, 4);
  EXPECT_EQ(r.Points()->Count(), 0);
  EXPECT_EQ(c->Canvas()->Pen()->Width(), 4);  // left as it was set

  // Think bubble: each circle's square is left out of the clip, which stays.
  TKitBorderRegion t;
  t.SetShape(rsThinkBubble);
  t.SetExtPos(epRightBottom);
  Colours(t, rbSingle);
  auto e = Surface(140, 110);
  t.PaintBorder(e->Canvas(), TRect{10, 10, 130, 100});
  TRect body;
  auto chain = KitBubbleChain(TRect{10, 10, 130, 100}, 20, 4, epRightBottom, body);
  EXPECT_GT(Count(e.get(), Single), 0);
  const TKitBubble& big = chain.back();
  e->Canvas()->Brush()->SetColor(fw::clBlack);
  e->Canvas()->FillRect(TRect{big.X - 1, big.Y - 1, big.X + 1, big.Y + 1});
  EXPECT_NE(Px(e.get(), big.X, big.Y), fw::clBlack);
  e->Canvas()->FillRect(TRect{50, 50, 51, 51});
  EXPECT_EQ(Px(e.get(), 50, 50), fw::clBlack);  // outside the squares the canvas still draws
}
