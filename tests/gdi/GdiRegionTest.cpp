// Regions: shapes, combinations, the stored data layout and clipping.
// labels: unit
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/Pixels.h"

using namespace plat;
using namespace vexa::test;

namespace {

// The rectangles of a region as "l,t,r,b" texts, in stored order.
std::vector<std::string> Rects(HRGN rgn) {
  uint32_t n = GetRegionData(rgn, 0, nullptr);
  std::vector<uint8_t> buf(n);
  EXPECT_EQ(GetRegionData(rgn, n, buf.data()), n);
  std::vector<std::string> out;
  for (size_t off = 32; off + 16 <= buf.size(); off += 16) {
    int32_t v[4];
    std::memcpy(v, buf.data() + off, 16);
    out.push_back(std::to_string(v[0]) + "," + std::to_string(v[1]) + "," + std::to_string(v[2]) +
                  "," + std::to_string(v[3]));
  }
  return out;
}

std::vector<uint8_t> Data(HRGN rgn) {
  std::vector<uint8_t> buf(GetRegionData(rgn, 0, nullptr));
  GetRegionData(rgn, uint32_t(buf.size()), buf.data());
  return buf;
}

using Strs = std::vector<std::string>;

}  // namespace

TEST(GdiRegion, CombineModesGiveBandSortedRectangles) {
  HRGN a = CreateRectRgn(0, 0, 4, 4);
  HRGN b = CreateRectRgn(2, 2, 6, 6);
  HRGN d = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(CombineRgn(d, a, b, RGN_AND), SIMPLEREGION);
  EXPECT_EQ(Rects(d), (Strs{"2,2,4,4"}));
  EXPECT_EQ(CombineRgn(d, a, b, RGN_OR), COMPLEXREGION);
  EXPECT_EQ(Rects(d), (Strs{"0,0,4,2", "0,2,6,4", "2,4,6,6"}));
  EXPECT_EQ(CombineRgn(d, a, b, RGN_XOR), COMPLEXREGION);
  EXPECT_EQ(Rects(d), (Strs{"0,0,4,2", "0,2,2,4", "4,2,6,4", "2,4,6,6"}));
  EXPECT_EQ(CombineRgn(d, a, b, RGN_DIFF), COMPLEXREGION);
  EXPECT_EQ(Rects(d), (Strs{"0,0,4,2", "0,2,2,4"}));
  EXPECT_EQ(CombineRgn(d, b, 0, RGN_COPY), SIMPLEREGION);
  EXPECT_EQ(Rects(d), (Strs{"2,2,6,6"}));
  EXPECT_EQ(CombineRgn(d, a, a, RGN_DIFF), NULLREGION);
  // The destination may be one of the sources.
  EXPECT_EQ(CombineRgn(a, a, b, RGN_OR), COMPLEXREGION);
  RECT box;
  EXPECT_EQ(GetRgnBox(a, &box), COMPLEXREGION);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.bottom, 6);
  EXPECT_EQ(CombineRgn(d, a, 0, RGN_AND), ERROR);
  for (HRGN r : {a, b, d}) DeleteObject(r);
}

TEST(GdiRegion, ShapesTestsAndOffsets) {
  HRGN e = CreateEllipticRgn(0, 0, 8, 6);
  EXPECT_EQ(Rects(e), (Strs{"2,0,6,1", "1,1,7,2", "0,2,8,4", "1,4,7,5", "2,5,6,6"}));
  EXPECT_TRUE(PtInRegion(e, 0, 2));
  EXPECT_FALSE(PtInRegion(e, 0, 1));
  RECT inside{3, 0, 4, 1}, outside{0, 0, 1, 1};
  EXPECT_TRUE(RectInRegion(e, &inside));
  EXPECT_FALSE(RectInRegion(e, &outside));
  EXPECT_EQ(OffsetRgn(e, 10, -2), COMPLEXREGION);
  EXPECT_TRUE(PtInRegion(e, 10, 0));
  HRGN rr = CreateRoundRectRgn(0, 0, 8, 6, 4, 4);
  EXPECT_EQ(Rects(rr), (Strs{"1,0,7,1", "0,1,8,5", "1,5,7,6"}));
  POINT tri[] = {{0, 0}, {4, 0}, {0, 4}};
  HRGN t = CreatePolygonRgn(tri, 3, ALTERNATE);
  EXPECT_EQ(Rects(t), (Strs{"0,0,3,1", "0,1,2,2", "0,2,1,3"}));  // pixel centres inside
  HRGN r = CreateRectRgn(5, 5, 1, 1);  // given inverted: normalised
  EXPECT_EQ(Rects(r), (Strs{"1,1,5,5"}));
  HRGN r2 = CreateRectRgn(1, 1, 5, 5);
  EXPECT_TRUE(EqualRgn(r, r2));
  for (HRGN x : {e, rr, t, r, r2}) DeleteObject(x);
}

TEST(GdiRegion, StoredDataRoundTripsByteForByte) {
  HRGN e = CreateEllipticRgn(3, 7, 40, 29);
  HRGN hole = CreateRectRgn(10, 10, 20, 20);
  CombineRgn(e, e, hole, RGN_DIFF);
  std::vector<uint8_t> data = Data(e);
  ASSERT_GE(data.size(), 32u);
  uint32_t head[4];
  std::memcpy(head, data.data(), 16);
  EXPECT_EQ(head[0], 32u);
  EXPECT_EQ(head[1], 1u);
  EXPECT_EQ(head[3], head[2] * 16);
  EXPECT_EQ(data.size(), 32 + head[2] * 16);
  int32_t bound[4];
  std::memcpy(bound, data.data() + 16, 16);
  EXPECT_EQ(bound[0], 3);
  EXPECT_EQ(bound[1], 7);
  EXPECT_EQ(bound[2], 40);
  EXPECT_EQ(bound[3], 29);
  HRGN back = ExtCreateRegion(nullptr, uint32_t(data.size()), data.data());
  ASSERT_NE(back, 0u);
  EXPECT_EQ(Data(back), data);
  EXPECT_TRUE(EqualRgn(back, e));
  EXPECT_EQ(GetRegionData(e, 10, data.data()), data.size());  // too small: the size needed
  for (HRGN x : {e, hole, back}) DeleteObject(x);
}

TEST(GdiRegion, StoredDataIsCheckedAndMayHoldOverlaps) {
  auto block = [](std::vector<int32_t> rects, uint32_t dwSize = 32, uint32_t type = 1,
                  int64_t count = -1, int64_t rgnSize = -1) {
    std::vector<uint8_t> b(32 + rects.size() * 4);
    uint32_t n = count < 0 ? uint32_t(rects.size() / 4) : uint32_t(count);
    uint32_t head[8] = {dwSize, type, n, rgnSize < 0 ? n * 16 : uint32_t(rgnSize), 0, 0, 0, 0};
    std::memcpy(b.data(), head, 32);
    if (!rects.empty()) std::memcpy(b.data() + 32, rects.data(), rects.size() * 4);
    return b;
  };
  // Overlapping rectangles in any order: the union.
  auto ok = block({2, 2, 6, 6, 0, 0, 4, 4});
  HRGN u = ExtCreateRegion(nullptr, uint32_t(ok.size()), ok.data());
  ASSERT_NE(u, 0u);
  EXPECT_EQ(Rects(u), (Strs{"0,0,4,2", "0,2,6,4", "2,4,6,6"}));
  DeleteObject(u);
  auto bad1 = block({0, 0, 1, 1}, 40);
  auto bad2 = block({0, 0, 1, 1}, 32, 2);
  auto bad3 = block({0, 0, 1, 1}, 32, 1, 2);           // count beyond the data
  auto bad4 = block({5, 0, 1, 1});                      // inverted rectangle
  auto bad5 = block({0, 0, 1, 1}, 32, 1, 1, 8);         // rectangle bytes too few
  auto bad6 = block({0, 0, 0x40000000, 1});             // beyond the coordinate range
  for (auto* b : {&bad1, &bad2, &bad3, &bad4, &bad5, &bad6})
    EXPECT_EQ(ExtCreateRegion(nullptr, uint32_t(b->size()), b->data()), 0u);
  EXPECT_EQ(ExtCreateRegion(nullptr, 31, ok.data()), 0u);
  int dummy = 0;
  EXPECT_EQ(ExtCreateRegion(&dummy, uint32_t(ok.size()), ok.data()), 0u);
  auto empty = block({});
  HRGN none = ExtCreateRegion(nullptr, uint32_t(empty.size()), empty.data());
  RECT box;
  EXPECT_EQ(GetRgnBox(none, &box), NULLREGION);
  DeleteObject(none);
}

TEST(GdiRegion, FillFrameAndInvert) {
  Canvas c(6, 5);
  HRGN r = CreateRectRgn(1, 1, 5, 4);
  HRGN notch = CreateRectRgn(3, 1, 5, 2);
  CombineRgn(r, r, notch, RGN_DIFF);
  HBRUSH red = CreateSolidBrush(kRed);
  FillRgn(c.dc, r, red);
  FrameRgn(c.dc, r, (HBRUSH)GetStockObject(BLACK_BRUSH), 1, 1);
  EXPECT_EQ(c.Picture(Key()), (Pic{"......",
                                   ".##...",
                                   ".#r##.",
                                   ".####.",
                                   "......"}));
  InvertRgn(c.dc, notch);
  EXPECT_EQ(c.Picture(Key())[1], ".####.");
  SetWindowOrgEx(c.dc, 1, 0, nullptr);  // regions are taken in logical coordinates
  PaintRgn(c.dc, notch);                // the white stock brush, one pixel to the left
  EXPECT_EQ(c.Picture(Key())[1], ".#..#.");
  DeleteObject(red);
  DeleteObject(r);
  DeleteObject(notch);
}

TEST(GdiRegion, ClipRegionAndRectangles) {
  Canvas c(6, 1);
  HRGN keep = CreateRectRgn(1, 0, 5, 1);
  EXPECT_EQ(SelectClipRgn(c.dc, keep), SIMPLEREGION);
  DeleteObject(keep);  // the context keeps its own copy
  ExcludeClipRect(c.dc, 2, 0, 3, 1);
  RECT all{0, 0, 6, 1};
  FillRect(c.dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
  EXPECT_EQ(c.Picture(Key())[0], ".#.##.");
  RECT box;
  EXPECT_EQ(GetClipBox(c.dc, &box), COMPLEXREGION);
  EXPECT_EQ(box.left, 1);
  EXPECT_EQ(box.right, 5);
  HRGN got = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetClipRgn(c.dc, got), 1);
  EXPECT_TRUE(PtInRegion(got, 4, 0));
  EXPECT_FALSE(PtVisible(c.dc, 2, 0));
  EXPECT_EQ(SelectClipRgn(c.dc, 0), SIMPLEREGION);
  EXPECT_EQ(GetClipRgn(c.dc, got), 0);
  IntersectClipRect(c.dc, 0, 0, 1, 1);
  FillRect(c.dc, &all, (HBRUSH)GetStockObject(LTGRAY_BRUSH));
  EXPECT_EQ(c.Picture(Key())[0], "?#.##.");
  OffsetClipRgn(c.dc, 5, 0);
  FillRect(c.dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
  EXPECT_EQ(c.Picture(Key())[0], "?#.###");
  DeleteObject(got);
}
