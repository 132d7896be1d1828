// Bitmaps: row layout, device-independent transfers and BMP files.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/gdi/Pixels.h"

using namespace plat;
using namespace gditest;

namespace {

uint32_t U32(const std::vector<uint8_t>& v, size_t at) {
  return uint32_t(v[at]) | (uint32_t(v[at + 1]) << 8) | (uint32_t(v[at + 2]) << 16) |
         (uint32_t(v[at + 3]) << 24);
}
void Set32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
}

// A 5 x 3 picture with distinct colours in its corners.
HBITMAP Sample(int bpp) {
  BITMAPINFO bi{};
  bi.bmiHeader.biWidth = 5;
  bi.bmiHeader.biHeight = 3;
  bi.bmiHeader.biBitCount = uint16_t(bpp);
  if (bpp <= 8) {
    bi.bmiColors[0] = RGBQUAD{0, 0, 0, 0};
    bi.bmiColors[1] = RGBQUAD{255, 255, 255, 0};
    if (bpp > 1) {
      bi.bmiColors[2] = RGBQUAD{0, 0, 255, 0};
      bi.bmiColors[3] = RGBQUAD{255, 0, 0, 0};
    }
  }
  HBITMAP bm = CreateDIBSection(0, &bi, DIB_RGB_COLORS, nullptr);
  HDC dc = CreateCompatibleDC(0);
  HGDIOBJ old = SelectObject(dc, bm);
  SetPixel(dc, 0, 0, kWhite);
  SetPixel(dc, 4, 0, bpp == 1 ? kWhite : kRed);
  SetPixel(dc, 4, 2, bpp == 1 ? kWhite : kBlue);
  SelectObject(dc, old);
  DeleteDC(dc);
  return bm;
}

}  // namespace

TEST(GdiBitmap, RowsAreTopDownPaddedBlueGreenRed) {
  HBITMAP bm = CreateBitmap(3, 2, 1, 24, nullptr);
  BITMAP info;
  ASSERT_EQ(GetObject(bm, sizeof(info), &info), int(sizeof(info)));
  EXPECT_EQ(info.bmWidthBytes, 12);  // 9 bytes padded to 4
  EXPECT_EQ(info.bmBitsPixel, 24);
  uint8_t* row1 = GetBitmapScanLine(bm, 1);
  ASSERT_NE(row1, nullptr);
  row1[3] = 0x11;  // blue of pixel 1
  row1[4] = 0x22;
  row1[5] = 0x33;  // red
  EXPECT_EQ(GetBitmapPixel(bm, 1, 1), RGB(0x33, 0x22, 0x11));
  EXPECT_EQ(GetBitmapScanLine(bm, 2), nullptr);
  EXPECT_EQ(GetBitmapScanLine(bm, -1), nullptr);
  // GetDIBits hands rows out bottom-up unless the height is negative.
  BITMAPINFO bi{};
  bi.bmiHeader.biBitCount = 24;
  std::vector<uint8_t> rows(24);
  ASSERT_EQ(GetDIBits(0, bm, 0, 2, rows.data(), &bi, DIB_RGB_COLORS), 2);
  EXPECT_EQ(bi.bmiHeader.biHeight, 2);
  EXPECT_EQ(bi.bmiHeader.biSizeImage, 24u);
  EXPECT_EQ(rows[5], 0x33);  // the last row comes first
  bi.bmiHeader.biHeight = -2;
  GetDIBits(0, bm, 0, 2, rows.data(), &bi, DIB_RGB_COLORS);
  EXPECT_EQ(rows[12 + 5], 0x33);
  DeleteObject(bm);
}

TEST(GdiBitmap, GetDIBitsConvertsToFewerBitsWithItsTable) {
  HBITMAP bm = CreateBitmap(3, 1, 1, 24, nullptr);
  uint8_t* row = GetBitmapScanLine(bm, 0);
  const uint8_t px[9] = {255, 255, 255, 40, 40, 40, 200, 220, 210};  // white, dark, light
  std::memcpy(row, px, 9);
  // The header alone first (as callers size their buffers), then the rows.
  struct { BITMAPINFOHEADER h; RGBQUAD t[2]; } info{};
  info.h.biBitCount = 1;
  BITMAPINFO* bi = reinterpret_cast<BITMAPINFO*>(&info);
  EXPECT_EQ(GetDIBits(0, bm, 0, 1, nullptr, bi, DIB_RGB_COLORS), 1);
  EXPECT_EQ(info.h.biSizeImage, 4u);
  EXPECT_EQ(info.t[1].rgbRed, 255);
  uint8_t bits[4] = {};
  EXPECT_EQ(GetDIBits(0, bm, 0, 1, bits, bi, DIB_RGB_COLORS), 1);
  EXPECT_EQ(bits[0], 0xA0);  // 1, 0, 1: white, black, white
  BITMAPINFO full{};
  full.bmiHeader.biBitCount = 8;
  std::vector<uint8_t> eight(4);
  GetDIBits(0, bm, 0, 1, eight.data(), &full, DIB_RGB_COLORS);
  const RGBQUAD& w = full.bmiColors[eight[0]];
  EXPECT_EQ(w.rgbRed + w.rgbGreen + w.rgbBlue, 3 * 255);
  const RGBQUAD& d = full.bmiColors[eight[1]];
  EXPECT_LT(std::abs(d.rgbRed - 40), 12);
  DeleteObject(bm);
}

TEST(GdiBitmap, DibSectionsKeepTheirColourTables) {
  HBITMAP bm = Sample(4);
  auto table = GetBitmapColorTable(bm);
  ASSERT_EQ(table.size(), 16u);
  EXPECT_EQ(table[2].rgbRed, 255);
  EXPECT_EQ(GetBitmapPixel(bm, 4, 0), kRed);
  // Index 2 (red) in the high nibble of byte 2 of row 0.
  EXPECT_EQ(GetBitmapScanLine(bm, 0)[2] >> 4, 2);
  table[2] = RGBQUAD{0, 255, 0, 0};
  EXPECT_TRUE(SetBitmapColorTable(bm, table));
  EXPECT_EQ(GetBitmapPixel(bm, 4, 0), kGreen);
  DeleteObject(bm);
}

TEST(GdiBitmap, FilesRoundTripAtEveryDepth) {
  for (int bpp : {1, 4, 8, 24, 32}) {
    HBITMAP bm = Sample(bpp);
    std::vector<uint8_t> file = SaveBitmapFile(bm);
    uint32_t table = bpp <= 8 ? (4u << bpp) : 0;
    uint32_t stride = uint32_t(DibStride(5, bpp));
    ASSERT_EQ(file.size(), 54 + table + stride * 3) << bpp;
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32(file, 2), file.size());
    EXPECT_EQ(U32(file, 10), 54 + table);
    EXPECT_EQ(U32(file, 14), 40u);
    EXPECT_EQ(U32(file, 34), stride * 3);
    EXPECT_EQ(BitmapFileSize(file.data(), file.size()), file.size());
    size_t used = 0;
    std::string why;
    HBITMAP back = LoadBitmapFile(file.data(), file.size(), &why, &used);
    ASSERT_NE(back, 0u) << bpp << " " << why;
    EXPECT_EQ(used, file.size());
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        EXPECT_EQ(GetBitmapPixel(back, x, y), GetBitmapPixel(bm, x, y)) << bpp << " " << x << "," << y;
    EXPECT_EQ(SaveBitmapFile(back), file) << bpp;
    DeleteObject(back);
    DeleteObject(bm);
  }
}

TEST(GdiBitmap, SavingAtALowerDepthMapsToTheNearestColour) {
  HBITMAP bm = Sample(24);
  std::vector<uint8_t> mono = SaveBitmapFile(bm, 1);
  ASSERT_EQ(mono.size(), 54u + 8 + 4 * 3);
  HBITMAP back = LoadBitmapFile(mono.data(), mono.size());
  ASSERT_NE(back, 0u);
  EXPECT_EQ(GetBitmapPixel(back, 0, 0), kWhite);
  EXPECT_EQ(GetBitmapPixel(back, 4, 0), kBlack);  // red is nearer to black
  EXPECT_EQ(GetBitmapPixel(back, 1, 1), kBlack);
  DeleteObject(back);
  DeleteObject(bm);
}

TEST(GdiBitmap, TopDownFilesAndStreamsWithMoreAfterTheFile) {
  HBITMAP bm = Sample(24);
  std::vector<uint8_t> file = SaveBitmapFile(bm);
  // The same picture stored top-down.
  std::vector<uint8_t> td = file;
  Set32(td, 22, uint32_t(-3));
  size_t stride = size_t(DibStride(5, 24));
  for (size_t r = 0; r < 3; ++r)
    std::memcpy(td.data() + 54 + r * stride, file.data() + 54 + (2 - r) * stride, stride);
  td.push_back(0xAB);  // whatever follows in the stream is not part of the file
  size_t used = 0;
  HBITMAP back = LoadBitmapFile(td.data(), td.size(), nullptr, &used);
  ASSERT_NE(back, 0u);
  EXPECT_EQ(used, file.size());
  EXPECT_EQ(GetBitmapPixel(back, 4, 2), kBlue);
  EXPECT_EQ(GetBitmapPixel(back, 4, 0), kRed);
  DeleteObject(back);
  DeleteObject(bm);
}

TEST(GdiBitmap, DamagedFilesAreRefusedBeforeAnythingIsRead) {
  HBITMAP bm = Sample(8);
  const std::vector<uint8_t> good = SaveBitmapFile(bm);
  DeleteObject(bm);
  struct Damage { const char* what; std::function<void(std::vector<uint8_t>&)> apply; };
  const Damage cases[] = {
      {"magic", [](auto& f) { f[0] = 'X'; }},
      {"file size beyond the data", [](auto& f) { Set32(f, 2, uint32_t(f.size() + 1)); }},
      {"file size too small", [](auto& f) { Set32(f, 2, 20); }},
      {"core header", [](auto& f) { Set32(f, 14, 12); }},
      {"width 0", [](auto& f) { Set32(f, 18, 0); }},
      {"negative width", [](auto& f) { Set32(f, 18, uint32_t(-5)); }},
      {"huge width", [](auto& f) { Set32(f, 18, 0x7FFFFFFF); }},
      {"height 0", [](auto& f) { Set32(f, 22, 0); }},
      {"most negative height", [](auto& f) { Set32(f, 22, 0x80000000u); }},
      {"planes", [](auto& f) { f[26] = 2; }},
      {"16 bits", [](auto& f) { f[28] = 16; }},
      {"compressed", [](auto& f) { Set32(f, 30, 1); }},
      {"image size too small", [](auto& f) { Set32(f, 34, 1); }},
      {"too many colours", [](auto& f) { Set32(f, 46, 257); }},
      {"important beyond used", [](auto& f) { Set32(f, 46, 4); Set32(f, 50, 5); }},
      {"bits inside the table", [](auto& f) { Set32(f, 10, 60); }},
      {"bits beyond the file", [](auto& f) { Set32(f, 10, uint32_t(f.size())); }},
  };
  std::string why;
  EXPECT_NE(LoadBitmapFile(good.data(), good.size(), &why), 0u) << why;
  for (const Damage& d : cases) {
    std::vector<uint8_t> f = good;
    d.apply(f);
    EXPECT_EQ(LoadBitmapFile(f.data(), f.size(), &why), 0u) << d.what;
    EXPECT_FALSE(why.empty()) << d.what;
  }
  // Cut short anywhere: refused.
  for (size_t n = 0; n < good.size(); n += 7)
    EXPECT_EQ(LoadBitmapFile(good.data(), n), 0u) << n;
  // A smaller colour table than the depth allows: pixels beyond it read black.
  std::vector<uint8_t> small = good;
  Set32(small, 46, 2);
  HBITMAP s = LoadBitmapFile(small.data(), small.size(), &why);
  ASSERT_NE(s, 0u) << why;
  EXPECT_EQ(GetBitmapPixel(s, 4, 0), kBlack);  // index 2 lies past the two colours
  EXPECT_EQ(GetBitmapPixel(s, 0, 0), kWhite);
  DeleteObject(s);
}

TEST(GdiBitmap, SetDIBitsTakesBottomUpRowsAndTables) {
  HBITMAP bm = CreateBitmap(2, 2, 1, 24, nullptr);
  BITMAPINFO bi{};
  bi.bmiHeader.biWidth = 2;
  bi.bmiHeader.biHeight = 2;
  bi.bmiHeader.biBitCount = 1;
  bi.bmiColors[0] = RGBQUAD{0, 0, 255, 0};  // red
  bi.bmiColors[1] = RGBQUAD{255, 0, 0, 0};  // blue
  uint8_t rows[8] = {0x40, 0, 0, 0, 0x80, 0, 0, 0};  // bottom row ".#", top row "#."
  EXPECT_EQ(SetDIBits(0, bm, 0, 2, rows, &bi, DIB_RGB_COLORS), 2);
  EXPECT_EQ(GetBitmapPixel(bm, 0, 0), kBlue);
  EXPECT_EQ(GetBitmapPixel(bm, 1, 0), kRed);
  EXPECT_EQ(GetBitmapPixel(bm, 1, 1), kBlue);
  Canvas c(4, 2);
  EXPECT_EQ(StretchDIBits(c.dc, 0, 0, 4, 2, 0, 0, 2, 2, rows, &bi, DIB_RGB_COLORS, SRCCOPY), 2);
  EXPECT_EQ(c.Picture(Key()), (Pic{"bbrr", "rrbb"}));
  DeleteObject(bm);
}
