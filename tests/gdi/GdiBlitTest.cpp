// Raster operations, stretching and the colour and monochrome conversions.
#include <gtest/gtest.h>

#include "tests/support/Pixels.h"

using namespace plat;
using namespace vexa::test;

TEST(GdiBlit, RasterOperationsCombineSourceDestinationAndPattern) {
  const COLORREF src = RGB(0xF0, 0x3C, 0x55), dst = RGB(0xCC, 0xAA, 0x0F),
                 pat = RGB(0x0F, 0xFF, 0x81);
  struct Case { uint32_t rop; COLORREF want; };
  const Case cases[] = {
      {SRCCOPY, src},
      {SRCAND, src & dst},
      {SRCPAINT, src | dst},
      {SRCINVERT, src ^ dst},
      {SRCERASE, src & (~dst & 0xFFFFFF)},
      {NOTSRCCOPY, ~src & 0xFFFFFF},
      {MERGECOPY, src & pat},
      {PATCOPY, pat},
      {PATINVERT, pat ^ dst},
      {DSTINVERT, ~dst & 0xFFFFFF},
      {BLACKNESS, 0},
      {WHITENESS, 0xFFFFFF},
  };
  Canvas s(1, 1, src);
  for (const Case& k : cases) {
    Canvas d(1, 1, dst);
    HBRUSH b = CreateSolidBrush(pat);
    HGDIOBJ old = SelectObject(d.dc, b);
    EXPECT_TRUE(BitBlt(d.dc, 0, 0, 1, 1, s.dc, 0, 0, k.rop));
    EXPECT_EQ(GetPixel(d.dc, 0, 0), k.want) << std::hex << k.rop;
    SelectObject(d.dc, old);
    DeleteObject(b);
  }
}

TEST(GdiBlit, MaskThenPaintDrawsTransparently) {
  // The two-step transparent drawing: mask with SRCAND, image with SRCPAINT.
  Canvas d(3, 1, kGreen);
  Canvas mask(3, 1, kBlack);
  SetPixel(mask.dc, 1, 0, kWhite);  // keep the background in the middle
  Canvas img(3, 1, kRed);
  SetPixel(img.dc, 1, 0, kBlack);
  BitBlt(d.dc, 0, 0, 3, 1, mask.dc, 0, 0, SRCAND);
  BitBlt(d.dc, 0, 0, 3, 1, img.dc, 0, 0, SRCPAINT);
  EXPECT_EQ(d.Picture(Key())[0], "rgr");
}

TEST(GdiBlit, StretchByNearestPixelAndMirror) {
  Canvas s(2, 2);
  SetPixel(s.dc, 0, 0, kRed);
  SetPixel(s.dc, 1, 0, kGreen);
  SetPixel(s.dc, 0, 1, kBlue);
  SetPixel(s.dc, 1, 1, kBlack);
  Canvas d(4, 4);
  SetStretchBltMode(d.dc, COLORONCOLOR);
  StretchBlt(d.dc, 0, 0, 4, 4, s.dc, 0, 0, 2, 2, SRCCOPY);
  EXPECT_EQ(d.Picture(Key()), (Pic{"rrgg", "rrgg", "bb##", "bb##"}));
  StretchBlt(d.dc, 4, 0, -4, 2, s.dc, 0, 0, 2, 2, SRCCOPY);  // mirrored: covers 0..3
  EXPECT_EQ(d.Picture(Key()), (Pic{"ggrr", "##bb", "bb##", "bb##"}));
  Canvas small(1, 1);
  StretchBlt(small.dc, 0, 0, 1, 1, d.dc, 0, 0, 4, 4, SRCCOPY);  // shrink takes the middle sample
  EXPECT_EQ(GetPixel(small.dc, 0, 0), kBlack);
}

TEST(GdiBlit, ColourToMonochromeAndBack) {
  Canvas colour(4, 1, kRed);
  SetPixel(colour.dc, 1, 0, kBlue);
  SetPixel(colour.dc, 3, 0, kWhite);
  HDC mono = CreateCompatibleDC(0);
  HBITMAP bm = CreateBitmap(4, 1, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(mono, bm);
  // Pixels of the source's background colour become 1 (white), all others 0.
  SetBkColor(colour.dc, kBlue);
  BitBlt(mono, 0, 0, 4, 1, colour.dc, 0, 0, SRCCOPY);
  EXPECT_EQ(GetPixel(mono, 0, 0), kBlack);
  EXPECT_EQ(GetPixel(mono, 1, 0), kWhite);
  EXPECT_EQ(GetPixel(mono, 3, 0), kBlack);
  // Monochrome to colour: 0 takes the text colour, 1 the background colour.
  Canvas out(4, 1);
  SetTextColor(out.dc, kGreen);
  SetBkColor(out.dc, kRed);
  BitBlt(out.dc, 0, 0, 4, 1, mono, 0, 0, SRCCOPY);
  EXPECT_EQ(out.Picture(Key())[0], "grgg");
  // A memory context compatible with a monochrome one makes monochrome bitmaps.
  HBITMAP again = CreateCompatibleBitmap(mono, 2, 2);
  BITMAP info;
  ASSERT_EQ(GetObject(again, sizeof(info), &info), int(sizeof(info)));
  EXPECT_EQ(info.bmBitsPixel, 1);
  DeleteObject(again);
  SelectObject(mono, old);
  DeleteObject(bm);
  DeleteDC(mono);
}

TEST(GdiBlit, OverlappingCopyWithinOneSurfaceReadsTheOriginal) {
  Canvas c(5, 1);
  SetPixel(c.dc, 0, 0, kRed);
  SetPixel(c.dc, 1, 0, kGreen);
  SetPixel(c.dc, 2, 0, kBlue);
  BitBlt(c.dc, 1, 0, 3, 1, c.dc, 0, 0, SRCCOPY);
  EXPECT_EQ(c.Picture(Key())[0], "rrgb.");
}

TEST(GdiBlit, BlitsHonourTheClipAndSourceEdges) {
  Canvas s(2, 1, kRed);
  Canvas d(4, 1);
  ExcludeClipRect(d.dc, 1, 0, 2, 1);
  BitBlt(d.dc, 0, 0, 4, 1, s.dc, 0, 0, SRCCOPY);  // the source has only two columns
  EXPECT_EQ(d.Picture(Key())[0], "r...");
  EXPECT_TRUE(PatBlt(d.dc, 0, 0, 4, 1, BLACKNESS));
  EXPECT_EQ(d.Picture(Key())[0], "#.##");
  EXPECT_FALSE(PatBlt(d.dc, 0, 0, 4, 1, SRCCOPY));  // needs a source
}

TEST(GdiBlit, IconsDrawThroughTheirMask) {
  HBITMAP mask = CreateBitmap(2, 1, 1, 1, nullptr);
  HBITMAP colour = CreateBitmap(2, 1, 1, 24, nullptr);
  {
    HDC m = CreateCompatibleDC(0);
    HGDIOBJ o = SelectObject(m, mask);
    SetPixel(m, 1, 0, kWhite);  // right pixel transparent
    SelectObject(m, colour);
    SetPixel(m, 0, 0, kRed);
    SelectObject(m, o);
    DeleteDC(m);
  }
  ICONINFO ii;
  ii.hbmMask = mask;
  ii.hbmColor = colour;
  HICON icon = CreateIconIndirect(&ii);
  ASSERT_NE(icon, 0u);
  DeleteObject(mask);
  DeleteObject(colour);
  Canvas c(3, 1, kGreen);
  EXPECT_TRUE(DrawIconEx(c.dc, 1, 0, icon, 0, 0, 0, 0, DI_NORMAL));
  EXPECT_EQ(c.Picture(Key())[0], "grg");
  ICONINFO back;
  ASSERT_TRUE(GetIconInfo(icon, &back));
  EXPECT_EQ(GetBitmapPixel(back.hbmColor, 0, 0), kRed);
  DeleteObject(back.hbmColor);
  DeleteObject(back.hbmMask);
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_FALSE(DestroyIcon(icon));
}
