// Pens, brushes, mix modes and the shapes, pixel by pixel.
#include <gtest/gtest.h>

#include "tests/support/Pixels.h"

using namespace plat;
using namespace vexa::test;

namespace {

struct Tools {
  HDC dc;
  HPEN pen = 0;
  HBRUSH brush = 0;
  HGDIOBJ oldPen = 0, oldBrush = 0;
  Tools(HDC d, HPEN p, HBRUSH b) : dc(d), pen(p), brush(b) {
    oldPen = SelectObject(dc, pen);
    oldBrush = SelectObject(dc, brush);
  }
  ~Tools() {
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
  }
};

}  // namespace

TEST(GdiShapes, RectangleOutlineInsideAndNullPenFillsOneLess) {
  struct Case {
    int penStyle, penWidth;
    COLORREF pen, brush;
    RECT r;
    Pic want;
  };
  const Case cases[] = {
      {PS_SOLID, 1, kBlack, kRed, {1, 1, 6, 5},
       {".......", ".#####.", ".#rrr#.", ".#rrr#.", ".#####.", "......."}},
      {PS_NULL, 1, kBlack, kRed, {1, 1, 6, 5},
       {".......", ".rrrr..", ".rrrr..", ".rrrr..", ".......", "......."}},
      {PS_SOLID, 2, kBlue, kGreen, {0, 0, 7, 6},
       {"bbbbbbb", "bbbbbbb", "bbgggbb", "bbgggbb", "bbbbbbb", "bbbbbbb"}},
      {PS_DOT, 1, kBlack, kRed, {0, 0, 7, 6},
       {"###...#", ".rrrrr#", "#rrrrr#", "#rrrrr.", "#rrrrr.", "...###."}},
  };
  for (const Case& k : cases) {
    Canvas c(7, 6);
    {
      Tools t(c.dc, CreatePen(k.penStyle, k.penWidth, k.pen), CreateSolidBrush(k.brush));
      Rectangle(c.dc, k.r.left, k.r.top, k.r.right, k.r.bottom);
    }
    EXPECT_EQ(c.Picture(Key()), k.want) << k.penStyle << " " << k.penWidth;
  }
  // A framed rectangle: the brush's one-pixel frame, nothing inside.
  Canvas c(5, 4);
  HBRUSH b = CreateSolidBrush(kRed);
  const RECT r{0, 0, 5, 4};
  EXPECT_EQ(FrameRect(c.dc, &r, b), 1);
  EXPECT_EQ(c.Picture(Key()), (Pic{"rrrrr", "r...r", "r...r", "rrrrr"}));
  DeleteObject(b);
}

TEST(GdiShapes, LinesLeaveOutTheirEndPointAndFollowOrigins) {
  Canvas c(6, 4);
  MoveToEx(c.dc, 0, 0, nullptr);
  LineTo(c.dc, 5, 0);
  LineTo(c.dc, 5, 3);
  POINT cur;
  GetCurrentPositionEx(c.dc, &cur);
  EXPECT_EQ(cur.x, 5);
  EXPECT_EQ(cur.y, 3);
  SetViewportOrgEx(c.dc, 1, 0, nullptr);
  SetWindowOrgEx(c.dc, 0, -1, nullptr);  // logical (0, 2) lands on device (1, 3)
  MoveToEx(c.dc, 0, 2, nullptr);
  LineTo(c.dc, 2, 2);
  EXPECT_EQ(c.Picture(Key()), (Pic{"######",
                                   ".....#",
                                   ".....#",
                                   ".##..."}));
  POINT pts[] = {{0, 0}, {3, 0}};
  SetViewportOrgEx(c.dc, 0, 0, nullptr);
  SetWindowOrgEx(c.dc, 0, 0, nullptr);
  c.Fill(kWhite);
  Polyline(c.dc, pts, 2);
  EXPECT_EQ(c.Picture(Key())[0], "###...");
}

TEST(GdiShapes, DashedPenGapsShowTheBackgroundOnlyWhenOpaque) {
  Canvas c(30, 1);
  HPEN pen = CreatePen(PS_DASH, 1, kBlack);
  HGDIOBJ old = SelectObject(c.dc, pen);
  SetBkColor(c.dc, kRed);
  SetBkMode(c.dc, TRANSPARENT);
  MoveToEx(c.dc, 0, 0, nullptr);
  LineTo(c.dc, 30, 0);
  EXPECT_EQ(c.Picture(Key())[0], std::string(18, '#') + std::string(6, '.') + std::string(6, '#'));
  SetBkMode(c.dc, OPAQUE);
  MoveToEx(c.dc, 0, 0, nullptr);
  LineTo(c.dc, 30, 0);
  EXPECT_EQ(c.Picture(Key())[0], std::string(18, '#') + std::string(6, 'r') + std::string(6, '#'));
  SelectObject(c.dc, old);
  DeleteObject(pen);
}

TEST(GdiShapes, PolygonFillModesAndPixelCentres) {
  // A figure that crosses itself: alternate leaves the overlap open, winding fills it.
  POINT star[] = {{0, 2}, {7, 2}, {7, 5}, {2, 5}, {2, 0}, {5, 0}, {5, 7}, {0, 7}};
  Canvas c(8, 8);
  Tools t(c.dc, CreatePen(PS_NULL, 1, 0), CreateSolidBrush(kBlack));
  Polygon(c.dc, star, 8);
  EXPECT_EQ(c.Picture(Key()), (Pic{"..###...",
                                   "..###...",
                                   "##...##.",
                                   "##...##.",
                                   "##...##.",
                                   "#####...",
                                   "#####...",
                                   "........"}));
  c.Fill(kWhite);
  SetPolyFillMode(c.dc, WINDING);
  Polygon(c.dc, star, 8);
  EXPECT_EQ(c.Picture(Key()), (Pic{"..###...",
                                   "..###...",
                                   "#######.",
                                   "#######.",
                                   "#######.",
                                   "#####...",
                                   "#####...",
                                   "........"}));
}

TEST(GdiShapes, EllipseRoundRectAndArc) {
  Canvas c(8, 6);
  {
    Tools t(c.dc, CreatePen(PS_SOLID, 1, kBlack), CreateSolidBrush(kRed));
    Ellipse(c.dc, 0, 0, 8, 6);
  }
  EXPECT_EQ(c.Picture(Key()), (Pic{"..####..",
                                   ".#rrrr#.",
                                   "#rrrrrr#",
                                   "#rrrrrr#",
                                   ".#rrrr#.",
                                   "..####.."}));
  c.Fill(kWhite);
  {
    Tools t(c.dc, CreatePen(PS_SOLID, 1, kBlack), CreateSolidBrush(kRed));
    RoundRect(c.dc, 0, 0, 8, 6, 4, 4);
  }
  EXPECT_EQ(c.Picture(Key()), (Pic{".######.",
                                   "#rrrrrr#",
                                   "#rrrrrr#",
                                   "#rrrrrr#",
                                   "#rrrrrr#",
                                   ".######."}));
  // Counter-clockwise from the right to the top: the upper right quarter only.
  c.Fill(kWhite);
  Arc(c.dc, 0, 0, 8, 6, 8, 3, 4, 0);
  EXPECT_EQ(c.Picture(Key()), (Pic{"....##..",
                                   "......#.",
                                   ".......#",
                                   "........",
                                   "........",
                                   "........"}));
}

TEST(GdiShapes, HatchBrushesDrawTheirLinesAndGapsByFillKind) {
  const char* expected[6][2] = {
      {"########", "........"}, {"#.......", "#......."}, {"#.......", ".#......"},
      {".......#", "......#."}, {"########", "#......."}, {"#......#", ".#....#."}};
  for (int style = HS_HORIZONTAL; style <= HS_DIAGCROSS; ++style) {
    Canvas c(8, 2, kGreen);
    HBRUSH b = CreateHatchBrush(style, kBlack);
    RECT r{0, 0, 8, 2};
    SetBkColor(c.dc, kWhite);
    SetBkMode(c.dc, OPAQUE);
    FillRect(c.dc, &r, b);
    EXPECT_EQ(c.Picture(Key()), (Pic{expected[style][0], expected[style][1]})) << style;
    // A rectangle fill paints the gaps too, whatever the background mode.
    c.Fill(kGreen);
    SetBkMode(c.dc, TRANSPARENT);
    FillRect(c.dc, &r, b);
    EXPECT_EQ(c.Picture(Key()), (Pic{expected[style][0], expected[style][1]})) << style;
    // A shape interior in transparent mode keeps what was there in the gaps.
    c.Fill(kGreen);
    HGDIOBJ oldPen = SelectObject(c.dc, GetStockObject(NULL_PEN));
    HGDIOBJ oldBrush = SelectObject(c.dc, b);
    Rectangle(c.dc, 0, 0, 9, 3);
    SelectObject(c.dc, oldPen);
    SelectObject(c.dc, oldBrush);
    std::string row0 = expected[style][0];
    for (auto& ch : row0) if (ch == '.') ch = 'g';
    EXPECT_EQ(c.Picture(Key())[0], row0) << style;
    DeleteObject(b);
  }
}

TEST(GdiShapes, PatternBrushTilesFromTheOriginWithMonochromeColours) {
  // 2 x 2 monochrome pattern: 0 bits take the text colour, 1 bits the background colour.
  uint8_t bits[] = {0x40, 0, 0x80, 0};  // rows ".#" and "#." (2-byte padded rows)
  HBITMAP pat = CreateBitmap(2, 2, 1, 1, bits);
  HBRUSH b = CreatePatternBrush(pat);
  DeleteObject(pat);  // the brush keeps its own copy
  Canvas c(5, 3);
  SetTextColor(c.dc, kRed);
  SetBkColor(c.dc, kBlue);
  RECT r{1, 0, 5, 3};
  FillRect(c.dc, &r, b);
  EXPECT_EQ(c.Picture(Key()), (Pic{".brbr",
                                   ".rbrb",
                                   ".brbr"}));
  SetBrushOrgEx(c.dc, 1, 0, nullptr);
  FillRect(c.dc, &r, b);
  EXPECT_EQ(c.Picture(Key())[0], ".rbrb");
  DeleteObject(b);
}

TEST(GdiShapes, MixModesApplyToPensAndFills) {
  Canvas c(3, 1, RGB(0x30, 0xF0, 0x0F));
  HBRUSH b = CreateSolidBrush(RGB(0xFF, 0x0F, 0x0F));
  HPEN p = CreatePen(PS_NULL, 1, 0);
  Tools t(c.dc, p, b);
  SetROP2(c.dc, R2_MASKPEN);
  Rectangle(c.dc, 0, 0, 2, 2);  // null pen: fills pixel (0, 0) only
  EXPECT_EQ(GetPixel(c.dc, 0, 0), RGB(0x30, 0x00, 0x0F));
  EXPECT_EQ(GetPixel(c.dc, 1, 0), RGB(0x30, 0xF0, 0x0F));
  SetROP2(c.dc, R2_XORPEN);
  HPEN xp = CreatePen(PS_SOLID, 1, RGB(0xFF, 0xFF, 0x00));
  HGDIOBJ op = SelectObject(c.dc, xp);
  MoveToEx(c.dc, 1, 0, nullptr);
  LineTo(c.dc, 3, 0);
  EXPECT_EQ(GetPixel(c.dc, 1, 0), RGB(0xCF, 0x0F, 0x0F));
  SetROP2(c.dc, R2_NOT);
  MoveToEx(c.dc, 2, 0, nullptr);
  LineTo(c.dc, 3, 0);
  EXPECT_EQ(GetPixel(c.dc, 2, 0), RGB(0x30, 0xF0, 0xF0));  // the xor result inverted
  SelectObject(c.dc, op);
  DeleteObject(xp);
  // Rectangle fills copy whatever the mix mode; region fills mix.
  RECT r{0, 0, 1, 1};
  SetROP2(c.dc, R2_MASKPEN);
  HBRUSH grey = CreateSolidBrush(RGB(0x0F, 0x0F, 0x0F));
  FillRect(c.dc, &r, grey);
  EXPECT_EQ(GetPixel(c.dc, 0, 0), RGB(0x0F, 0x0F, 0x0F));
  HRGN rgn = CreateRectRgn(1, 0, 2, 1);
  FillRgn(c.dc, rgn, grey);
  EXPECT_EQ(GetPixel(c.dc, 1, 0), RGB(0x0F, 0x0F, 0x0F) & RGB(0xCF, 0x0F, 0x0F));
  DeleteObject(rgn);
  DeleteObject(grey);
}

TEST(GdiShapes, SaveAndRestoreBringBackToolsColoursAndClip) {
  Canvas c(4, 1);
  HBRUSH red = CreateSolidBrush(kRed);
  int level = SaveDC(c.dc);
  EXPECT_EQ(level, 1);
  SelectObject(c.dc, red);
  SetTextColor(c.dc, kBlue);
  IntersectClipRect(c.dc, 0, 0, 1, 1);
  SaveDC(c.dc);
  SetTextColor(c.dc, kGreen);
  EXPECT_TRUE(RestoreDC(c.dc, -1));
  EXPECT_EQ(GetTextColor(c.dc), kBlue);
  EXPECT_EQ(GetCurrentObject(c.dc, OBJ_BRUSH), red);
  EXPECT_TRUE(RestoreDC(c.dc, 1));
  EXPECT_EQ(GetTextColor(c.dc), kBlack);
  EXPECT_NE(GetCurrentObject(c.dc, OBJ_BRUSH), red);
  EXPECT_FALSE(RestoreDC(c.dc, 1));
  EXPECT_EQ(SetPixel(c.dc, 3, 0, kRed), kRed);  // the clip went with the restore
  DeleteObject(red);
}

TEST(GdiShapes, DeletedSelectedObjectsStayUsableUntilDeselected) {
  Canvas c(2, 1);
  HBRUSH b = CreateSolidBrush(kGreen);
  HGDIOBJ old = SelectObject(c.dc, b);
  EXPECT_TRUE(DeleteObject(b));
  EXPECT_EQ(GetObjectType(b), 0);
  PatBlt(c.dc, 0, 0, 2, 1, PATCOPY);
  EXPECT_EQ(GetPixel(c.dc, 1, 0), kGreen);
  SelectObject(c.dc, old);
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));  // stock objects survive
  EXPECT_EQ(GetObjectType(GetStockObject(BLACK_BRUSH)), OBJ_BRUSH);
}

TEST(GdiShapes, WidePensStampSquaresAlongTheLineAndInvertFlipsColours) {
  Canvas c(8, 5);
  HPEN p3 = CreatePen(PS_SOLID, 3, kBlack);
  HGDIOBJ old = SelectObject(c.dc, p3);
  MoveToEx(c.dc, 1, 2, nullptr);
  LineTo(c.dc, 5, 2);
  EXPECT_EQ(c.Picture(Key()), (Pic{"........",
                                   "######..",
                                   "######..",
                                   "######..",
                                   "........"}));
  HPEN p4 = CreatePen(PS_SOLID, 4, kRed);
  SelectObject(c.dc, p4);
  c.Fill(kWhite);
  SelectObject(c.dc, GetStockObject(NULL_BRUSH));
  Rectangle(c.dc, 0, 0, 8, 5);  // a frame of four pixels inside the box
  EXPECT_EQ(c.Picture(Key()), (Pic{"rrrrrrrr",
                                   "rrrrrrrr",
                                   "rrrrrrrr",
                                   "rrrrrrrr",
                                   "rrrrrrrr"}));
  SelectObject(c.dc, old);
  DeleteObject(p3);
  DeleteObject(p4);
  RECT r{1, 1, 3, 2};
  InvertRect(c.dc, &r);
  EXPECT_EQ(GetPixel(c.dc, 1, 1), RGB(0, 255, 255));
  EXPECT_EQ(GetPixel(c.dc, 3, 1), kRed);
}
