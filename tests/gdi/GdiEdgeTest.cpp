// Edges, system colours and metrics.
#include <gtest/gtest.h>

#include <set>

#include "tests/support/Pixels.h"

using namespace plat;
using namespace vexa::test;

namespace {

// System colours by letter: H highlight, L 3D light, S shadow, D dark shadow,
// F face, W window, K window frame.
std::map<COLORREF, char> EdgeKey() {
  return {{GetSysColor(COLOR_3DHILIGHT), 'H'}, {GetSysColor(COLOR_3DLIGHT), 'L'},
          {GetSysColor(COLOR_3DSHADOW), 'S'},  {GetSysColor(COLOR_3DDKSHADOW), 'D'},
          {GetSysColor(COLOR_3DFACE), 'F'},    {GetSysColor(COLOR_WINDOWFRAME), 'K'},
          {plat::RGB(1, 2, 3), '.'}};
}

Pic Edge(uint32_t edge, uint32_t flags, RECT* out = nullptr) {
  Canvas c(5, 5, RGB(1, 2, 3));
  RECT r{0, 0, 5, 5};
  EXPECT_TRUE(DrawEdge(c.dc, &r, edge, flags));
  if (out) *out = r;
  return c.Picture(EdgeKey());
}

}  // namespace

TEST(GdiEdge, SystemColoursAreDistinctWhereEdgesNeedThem) {
  std::set<COLORREF> seen;
  for (int i : {COLOR_3DHILIGHT, COLOR_3DLIGHT, COLOR_3DSHADOW, COLOR_3DDKSHADOW, COLOR_3DFACE})
    seen.insert(GetSysColor(i));
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_EQ(GetSysColor(COLOR_MAX), 0u);
  LOGBRUSH lb;
  ASSERT_GT(GetObject(GetSysColorBrush(COLOR_BTNFACE), sizeof(lb), &lb), 0);
  EXPECT_EQ(lb.lbColor, GetSysColor(COLOR_BTNFACE));
  int idx = COLOR_BTNFACE;
  COLORREF col = RGB(10, 20, 30);
  COLORREF before = GetSysColor(idx);
  SetSysColors(1, &idx, &col);
  EXPECT_EQ(GetSysColor(idx), col);
  GetObject(GetSysColorBrush(COLOR_BTNFACE), sizeof(lb), &lb);
  EXPECT_EQ(lb.lbColor, col);
  SetSysColors(1, &idx, &before);
}

TEST(GdiEdge, EveryEdgeKindDrawsItsColours) {
  EXPECT_EQ(Edge(BDR_RAISEDOUTER, BF_RECT), (Pic{"LLLLD", "L...D", "L...D", "L...D", "DDDDD"}));
  EXPECT_EQ(Edge(BDR_SUNKENOUTER, BF_RECT), (Pic{"SSSSH", "S...H", "S...H", "S...H", "HHHHH"}));
  EXPECT_EQ(Edge(BDR_RAISEDINNER, BF_RECT), (Pic{"HHHHS", "H...S", "H...S", "H...S", "SSSSS"}));
  EXPECT_EQ(Edge(BDR_SUNKENINNER, BF_RECT), (Pic{"DDDDL", "D...L", "D...L", "D...L", "LLLLL"}));
  EXPECT_EQ(Edge(EDGE_RAISED, BF_RECT), (Pic{"LLLLD", "LHHSD", "LH.SD", "LSSSD", "DDDDD"}));
  EXPECT_EQ(Edge(EDGE_SUNKEN, BF_RECT), (Pic{"SSSSH", "SDDLH", "SD.LH", "SLLLH", "HHHHH"}));
  EXPECT_EQ(Edge(EDGE_ETCHED, BF_RECT), (Pic{"SSSSH", "SHHSH", "SH.SH", "SSSSH", "HHHHH"}));
  EXPECT_EQ(Edge(EDGE_BUMP, BF_RECT), (Pic{"LLLLD", "LDDLD", "LD.LD", "LLLLD", "DDDDD"}));
}

TEST(GdiEdge, SidesSoftFlatMonoMiddleAndAdjust) {
  EXPECT_EQ(Edge(BDR_RAISEDOUTER, BF_TOPLEFT), (Pic{"LLLL.", "L....", "L....", "L....", "....."}));
  EXPECT_EQ(Edge(BDR_RAISEDOUTER, BF_BOTTOMRIGHT),
            (Pic{"....D", "....D", "....D", "....D", "DDDDD"}));
  // Soft swaps the top-left colours of the outer and inner edge.
  EXPECT_EQ(Edge(EDGE_RAISED, BF_RECT | BF_SOFT),
            (Pic{"HHHHD", "HLLSD", "HL.SD", "HSSSD", "DDDDD"}));
  EXPECT_EQ(Edge(EDGE_SUNKEN, BF_RECT | BF_SOFT),
            (Pic{"DDDDH", "DSSLH", "DS.LH", "DLLLH", "HHHHH"}));
  EXPECT_EQ(Edge(EDGE_SUNKEN, BF_RECT | BF_FLAT),
            (Pic{"SSSSS", "SFFFS", "SF.FS", "SFFFS", "SSSSS"}));
  Pic mono = Edge(BDR_SUNKENOUTER, BF_RECT | BF_MONO);
  EXPECT_EQ(mono[0], "KKKKK");
  EXPECT_EQ(Edge(BDR_RAISEDINNER, BF_RECT | BF_MIDDLE),
            (Pic{"HHHHS", "HFFFS", "HFFFS", "HFFFS", "SSSSS"}));
  RECT r;
  Edge(EDGE_RAISED, BF_RECT | BF_ADJUST, &r);
  EXPECT_EQ(r.left, 2);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.right, 3);
  EXPECT_EQ(r.bottom, 3);
  Edge(BDR_SUNKENOUTER, BF_TOPLEFT | BF_ADJUST, &r);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.right, 5);
  Edge(BDR_SUNKENOUTER, BF_RECT, &r);  // no adjust: untouched
  EXPECT_EQ(r.left, 0);
}

TEST(GdiEdge, SystemMetricsAndScreen) {
  EXPECT_EQ(GetSystemMetrics(SM_CXVSCROLL), 16);
  EXPECT_EQ(GetSystemMetrics(SM_CYHSCROLL), 16);
  EXPECT_GT(GetSystemMetrics(SM_CYCAPTION), GetSystemMetrics(SM_CYSMCAPTION));
  EXPECT_GT(GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CXDLGFRAME));
  EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), 16);
  SetScreenSize(800, 600);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
  HDC s = GetDC(0);
  EXPECT_EQ(GetDeviceCaps(s, HORZRES), 800);
  EXPECT_EQ(GetDeviceCaps(s, BITSPIXEL), 24);
  // Drawing on the screen context changes nothing and does not fail.
  RECT r{0, 0, 10, 10};
  EXPECT_EQ(FillRect(s, &r, (HBRUSH)GetStockObject(BLACK_BRUSH)), 1);
  EXPECT_EQ(GetPixel(s, 1, 1), CLR_INVALID);
  ReleaseDC(0, s);
}

TEST(GdiEdge, PalettesSelectAndRealiseWithoutChangingColours) {
  LOGPALETTE lp;
  lp.palPalEntry = {PALETTEENTRY{255, 0, 0, 0}, PALETTEENTRY{0, 0, 255, 0}};
  HPALETTE pal = CreatePalette(lp);
  ASSERT_NE(pal, 0u);
  Canvas c(2, 1);
  HPALETTE old = SelectPalette(c.dc, pal, false);
  EXPECT_NE(old, 0u);
  EXPECT_EQ(RealizePalette(c.dc), 0u);
  EXPECT_EQ(GetNearestPaletteIndex(pal, RGB(10, 0, 200)), 1u);
  // Palette-relative and palette-index colours draw as their RGB part.
  SetPixel(c.dc, 0, 0, PALETTERGB(0, 255, 0));
  EXPECT_EQ(GetPixel(c.dc, 0, 0), kGreen);
  HBRUSH b = CreateSolidBrush(0x02000000 | kRed);
  RECT r{1, 0, 2, 1};
  FillRect(c.dc, &r, b);
  EXPECT_EQ(GetPixel(c.dc, 1, 0), kRed);
  PALETTEENTRY e[2];
  EXPECT_EQ(GetPaletteEntries(pal, 0, 2, e), 2u);
  EXPECT_EQ(e[1].peBlue, 255);
  SelectPalette(c.dc, old, false);
  DeleteObject(b);
  DeleteObject(pal);
}
