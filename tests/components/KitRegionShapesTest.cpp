// labels: unit
// Region shapes: defaults, change rules, exact regions of the shapes for the
// sizes and positions the forms use, and the stored point list.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "components/kitregion.h"

using namespace vexa;
using fw::TRect;
using plat::HRGN;

namespace {

struct Counter {
  int count = 0;
  fw::TNotifyEvent Handler() {
    return [this](fw::TObject*) { ++count; };
  }
};

// The rectangles of a region as stored.
std::vector<plat::RECT> Rects(HRGN rgn) {
  std::vector<plat::RECT> out;
  uint32_t n = plat::GetRegionData(rgn, 0, nullptr);
  if (!n) return out;
  std::vector<uint8_t> data(n);
  plat::GetRegionData(rgn, n, data.data());
  plat::RGNDATAHEADER h;
  std::memcpy(&h, data.data(), sizeof h);
  for (uint32_t i = 0; i < h.nCount; ++i) {
    plat::RECT r;
    std::memcpy(&r, data.data() + 32 + 16 * i, 16);
    out.push_back(r);
  }
  return out;
}

plat::RECT Box(HRGN rgn) {
  plat::RECT r;
  plat::GetRgnBox(rgn, &r);
  return r;
}

bool Same(HRGN a, HRGN expected) {
  bool same = plat::EqualRgn(a, expected);
  plat::DeleteObject(expected);
  return same;
}

HRGN Poly(std::vector<plat::POINT> pts) {
  return plat::CreatePolygonRgn(pts.data(), int(pts.size()), plat::ALTERNATE);
}

HRGN Or(HRGN a, HRGN b) {
  plat::CombineRgn(a, a, b, plat::RGN_OR);
  plat::DeleteObject(b);
  return a;
}

}  // namespace

TEST(KitRegionShapesTest, DefaultsAndChangeRules) {
  TKitBorderRegion r;
  EXPECT_EQ(r.Shape(), rsRoundRect);
  EXPECT_EQ(r.RoundX(), 20);
  EXPECT_EQ(r.RoundY(), 20);
  EXPECT_EQ(r.ExtPos(), epLeftTop);
  EXPECT_EQ(r.Border()->Style(), rbSingle);
  EXPECT_EQ(r.Border()->LightColor(), fw::clBtnHighlight);
  EXPECT_EQ(r.Shadow()->Style(), hssNone);
  EXPECT_EQ(r.Shadow()->Depth(), 6);
  EXPECT_EQ(r.Points()->Count(), 0);
  EXPECT_EQ(r.RegionHandle(), 0u);

  Counter c;
  r.OnChange = c.Handler();
  r.SetShape(rsRect);
  EXPECT_EQ(c.count, 1);
  r.SetRoundX(40);  // not a round shape: stored silently
  r.SetRoundY(10);
  EXPECT_EQ(c.count, 1);
  r.SetShape(rsRoundRect);
  EXPECT_EQ(c.count, 2);
  r.SetRoundX(40);
  EXPECT_EQ(c.count, 2);
  r.SetRoundX(30);
  EXPECT_EQ(c.count, 3);
  r.Border()->SetSingleColor(fw::clRed);
  r.Shadow()->SetStyle(hssSolid);
  EXPECT_EQ(c.count, 5);
  r.BuildRegion(TRect{0, 0, 100, 80});
  EXPECT_TRUE(Same(r.RegionHandle(), plat::CreateRoundRectRgn(0, 0, 94, 74, 30, 10)));
}

TEST(KitRegionShapesTest, ShadowDepthIsLeftFree) {
  TKitRegion r;
  r.SetShape(rsRect);
  r.Shadow()->SetStyle(hssSolid);
  r.BuildRegion(TRect{0, 0, 100, 80});
  auto rects = Rects(r.RegionHandle());
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0].right, 94);
  EXPECT_EQ(rects[0].bottom, 74);
  // Rebuilding replaces the handle.
  r.Shadow()->SetStyle(hssNone);
  r.BuildRegion(TRect{5, 5, 20, 20});
  EXPECT_EQ(Box(r.RegionHandle()).left, 5);
  EXPECT_EQ(Box(r.RegionHandle()).right, 20);
  r.SetRectRegion(TRect{1, 2, 3, 4});
  EXPECT_EQ(Rects(r.RegionHandle()).size(), 1u);
}

TEST(KitRegionShapesTest, NoseShapes) {
  TKitRegion r;
  r.SetShape(rsNoseRect);
  r.BuildRegion(TRect{0, 0, 100, 50});
  EXPECT_TRUE(Same(r.RegionHandle(),
                   Or(plat::CreateRectRgn(10, 10, 100, 50), Poly({{0, 0}, {10, 15}, {10, 29}}))));

  // Round nose: the top edge takes RoundX as base offset, the right edge RoundY.
  r.SetShape(rsRoundNoseRect);
  r.SetRoundX(30);
  r.SetRoundY(8);
  r.SetExtPos(epTopRight);
  r.BuildRegion(TRect{0, 0, 100, 50});
  EXPECT_TRUE(Same(r.RegionHandle(), Or(plat::CreateRoundRectRgn(0, 10, 90, 50, 30, 8),
                                        Poly({{100, 0}, {60, 10}, {46, 10}}))));
  r.SetExtPos(epRightTop);
  r.BuildRegion(TRect{0, 0, 100, 50});
  EXPECT_TRUE(Same(r.RegionHandle(), Or(plat::CreateRoundRectRgn(0, 10, 90, 50, 30, 8),
                                        Poly({{100, 0}, {90, 18}, {90, 32}}))));
  r.SetExtPos(epBottomLeft);
  r.SetShape(rsNoseRect);
  r.BuildRegion(TRect{0, 0, 100, 50});
  EXPECT_TRUE(Same(r.RegionHandle(),
                   Or(plat::CreateRectRgn(10, 0, 100, 40), Poly({{0, 50}, {15, 40}, {29, 40}}))));
}

TEST(KitRegionShapesTest, PolygonShapesAtTheirPoints) {
  TKitRegion r;
  r.SetShape(rsDiamond);
  r.BuildRegion(TRect{10, 20, 110, 80});
  EXPECT_TRUE(Same(r.RegionHandle(), Poly({{60, 20}, {10, 50}, {60, 80}, {110, 50}})));
  r.SetShape(rsOctagon);
  r.BuildRegion(TRect{0, 0, 100, 50});
  EXPECT_TRUE(Same(r.RegionHandle(), Poly({{66, 0}, {33, 0}, {0, 16}, {0, 32}, {33, 50}, {66, 50},
                                           {100, 32}, {100, 16}})));
  r.SetShape(rsStar);
  r.BuildRegion(TRect{0, 0, 100, 100});
  EXPECT_TRUE(Same(r.RegionHandle(), Poly({{50, 0}, {65, 38}, {100, 38}, {70, 60}, {85, 100},
                                           {50, 75}, {15, 100}, {30, 60}, {0, 38}, {35, 38}})));
  r.SetShape(rsHalfRound);
  r.BuildRegion(TRect{0, 10, 40, 30});
  EXPECT_TRUE(Same(r.RegionHandle(), plat::CreateEllipticRgn(0, -10, 40, 30)));
}

TEST(KitRegionShapesTest, ShieldsStartAtTheOrigin) {
  TKitRegion r;
  r.SetShape(rsRoundShield);
  r.BuildRegion(TRect{30, 30, 130, 130});  // left and top are not used
  HRGN h = r.RegionHandle();
  EXPECT_FALSE(plat::PtInRegion(h, 0, 0));    // left notch
  EXPECT_FALSE(plat::PtInRegion(h, 99, 0));   // right notch
  EXPECT_TRUE(plat::PtInRegion(h, 50, 21));   // below where the notches meet
  EXPECT_FALSE(plat::PtInRegion(h, 25, 5));   // inside the left notch
  EXPECT_TRUE(plat::PtInRegion(h, 50, 98));
  EXPECT_FALSE(plat::PtInRegion(h, 50, -1));  // the band above is cut away
  EXPECT_FALSE(plat::PtInRegion(h, 130, 50));
  EXPECT_LE(Box(h).right, 100);

  r.SetShape(rsSharpShield);
  r.BuildRegion(TRect{0, 0, 70, 70});
  h = r.RegionHandle();
  EXPECT_TRUE(plat::PtInRegion(h, 35, 60));
  EXPECT_FALSE(plat::PtInRegion(h, 2, 68));   // outside the two flanks
  EXPECT_FALSE(plat::PtInRegion(h, 0, 0));
  EXPECT_FALSE(plat::PtInRegion(h, 35, -1));  // only 40 pixels above are cut away
  EXPECT_TRUE(plat::PtInRegion(h, 35, -50));
}

TEST(KitRegionShapesTest, ThinkBubbles) {
  TKitRegion r;
  r.SetShape(rsThinkBubble);
  r.SetExtPos(epRightBottom);
  r.BuildRegion(TRect{10, 10, 130, 100});
  HRGN h = r.RegionHandle();
  // The chain starts with the 1 x 1 rectangle at the origin.
  EXPECT_TRUE(plat::PtInRegion(h, 0, 0));
  EXPECT_FALSE(plat::PtInRegion(h, 1, 0));
  // Body: a = 20, moved in at the right and bottom.
  EXPECT_TRUE(plat::PtInRegion(h, 10, 10));
  EXPECT_TRUE(plat::PtInRegion(h, 109, 79));
  // The largest circle (k = 6: diameter round(6 * 1.9635) = 12) near the body.
  TRect body;
  auto chain = KitBubbleChain(TRect{10, 10, 130, 100}, 20, 4, epRightBottom, body);
  ASSERT_EQ(chain.size(), 7u);
  EXPECT_EQ(body, (TRect{10, 10, 110, 80}));
  EXPECT_EQ(chain[0].Diameter, 0);
  EXPECT_EQ(chain[6].Diameter, 12);
  EXPECT_EQ(chain[0].X, 130);  // round(20 cos 0) + 110
  EXPECT_EQ(chain[0].Y, 100);  // 20 + 80 - 0
  EXPECT_TRUE(plat::PtInRegion(h, chain[3].X, chain[3].Y));
  // k = 0 adds nothing at its centre.
  EXPECT_FALSE(plat::PtInRegion(h, 130, 100));

  r.SetShape(rsEllipticThinkBubble);
  r.BuildRegion(TRect{10, 10, 130, 100});
  EXPECT_FALSE(plat::PtInRegion(r.RegionHandle(), 11, 11));  // elliptic body corner
  EXPECT_TRUE(plat::PtInRegion(r.RegionHandle(), 0, 0));
}

TEST(KitRegionShapesTest, MissingDataGivesNoRegion) {
  TKitRegion r;
  r.SetShape(rsBitmap);
  r.BuildRegion(TRect{0, 0, 10, 10});
  EXPECT_EQ(r.RegionHandle(), 0u);
  r.SetShape(rsUserRegion);
  r.BuildRegion(TRect{0, 0, 10, 10});
  EXPECT_EQ(r.RegionHandle(), 0u);
  r.SetShape(rsPointList);
  r.BuildRegion(TRect{0, 0, 10, 10});
  EXPECT_EQ(r.RegionHandle(), 0u);

  // A bitmap shape takes the mask's region as captured, not moved.
  HRGN src = plat::CreateEllipticRgn(3, 4, 20, 15);
  r.Mask()->StoreRegion(src);
  r.SetShape(rsBitmap);
  r.BuildRegion(TRect{50, 50, 60, 60});
  EXPECT_TRUE(plat::EqualRgn(r.RegionHandle(), src));
  r.StoreUserRegion(src);
  r.SetShape(rsUserRegion);
  r.BuildRegion(TRect{50, 50, 60, 60});
  EXPECT_TRUE(Same(r.RegionHandle(), src));
}

TEST(KitRegionShapesTest, PointListShape) {
  TKitRegion r;
  r.Points()->AddPoint(fw::TPoint{0, 0});
  r.Points()->AddPoint(fw::TPoint{20, 0});
  r.Points()->AddPoint(fw::TPoint{0, 20});
  EXPECT_TRUE(r.UserRegionData().empty());  // not yet a point-list shape
  r.SetShape(rsPointList);
  ASSERT_FALSE(r.UserRegionData().empty());
  r.BuildRegion(TRect{0, 0, 100, 100});
  EXPECT_TRUE(Same(r.RegionHandle(), Poly({{0, 0}, {20, 0}, {0, 20}})));

  // Emptying the list and switching again leaves the user data as it was.
  TKitRegion e;
  HRGN sq = plat::CreateRectRgn(0, 0, 4, 4);
  e.StoreUserRegion(sq);
  e.SetShape(rsPointList);
  e.BuildRegion(TRect{0, 0, 100, 100});
  EXPECT_TRUE(Same(e.RegionHandle(), sq));

  // Assign keeps the target's own points.
  TKitRegion copy;
  copy.Assign(&r);
  EXPECT_EQ(copy.Shape(), rsPointList);
  EXPECT_EQ(copy.Points()->Count(), 0);
}

TEST(KitRegionShapesTest, StoredPointListRebuildsThePolygon) {
  TKitRegion r;
  r.Points()->AddPoint(fw::TPoint{1, 1});
  r.Points()->AddPoint(fw::TPoint{300, 2});
  r.Points()->AddPoint(fw::TPoint{-40, 200});
  r.Points()->AddPoint(fw::TPoint{5, 90});
  fw::TMemoryStream s;
  TKitWriter w(&s);
  w.WriteProperties(&r);
  // "PointList" as a list of integers, shortest form each.
  const uint8_t* p = static_cast<const uint8_t*>(s.Memory());
  ASSERT_GT(s.Size(), 11);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 1), p[0]), "PointList");
  EXPECT_EQ(p[10], vaList);
  EXPECT_EQ(p[11], vaInt8);

  TKitRegion back;
  back.SetShape(rsPointList);
  s.SetPosition(0);
  TKitReader rd(&s);
  rd.ReadProperties(&back);
  ASSERT_EQ(back.Points()->Count(), 4);
  fw::TPoint q;
  back.Points()->GetPoint(2, q);
  EXPECT_EQ(q, (fw::TPoint{-40, 200}));
  back.BuildRegion(TRect{0, 0, 10, 10});
  EXPECT_TRUE(Same(back.RegionHandle(), Poly({{1, 1}, {300, 2}, {-40, 200}, {5, 90}})));

  // No points: nothing stored but the end byte.
  TKitRegion none;
  fw::TMemoryStream e;
  TKitWriter we(&e);
  we.WriteProperties(&none);
  EXPECT_EQ(e.Size(), 1);
}
