// Bitmaps: row layout, device-independent transfers and BMP files.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/Pixels.h"

using namespace plat;
using namespace vexa::test;

namespace {

uint32_t U32(const std::vector<uint8_t>& v, size_t at) {
  return uint32_t(v[at]) | (uint32_t(v[at + 1]) << 8) | (uint32_t(v[at + 2]) << 16) |
         (uint32_t(v[at + 3]) << 24);
}
void Set32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.at(at + size_t(i)) = uint8_t(x >> (8 * i));
}

// A bitmap file made by hand: header, colour table (blue, green, red triples)
// and the pixel data as given.
std::vector<uint8_t> HandMade(int32_t width, int32_t height, uint16_t bpp, uint32_t compression,
                              const std::vector<COLORREF>& table,
                              const std::vector<uint8_t>& bits) {
  std::vector<uint8_t> f(54, 0);
  f[0] = 'B';
  f[1] = 'M';
  uint32_t off = uint32_t(54 + table.size() * 4);
  Set32(f, 2, off + uint32_t(bits.size()));
  Set32(f, 10, off);
  Set32(f, 14, 40);
  Set32(f, 18, uint32_t(width));
  Set32(f, 22, uint32_t(height));
  f[26] = 1;
  f[28] = uint8_t(bpp);
  Set32(f, 30, compression);
  Set32(f, 34, compression == BI_RGB ? 0 : uint32_t(bits.size()));
  Set32(f, 46, uint32_t(table.size()));
  for (COLORREF c : table) {
    f.push_back(GetBValue(c));
    f.push_back(GetGValue(c));
    f.push_back(GetRValue(c));
    f.push_back(0);
  }
  f.insert(f.end(), bits.begin(), bits.end());
  return f;
}

Pic PictureOf(HBITMAP bm, int w, int h) {
  Pic rows;
  for (int y = 0; y < h; ++y) {
    std::string row;
    for (int x = 0; x < w; ++x) {
      auto it = Key().find(GetBitmapPixel(bm, x, y));
      row += it == Key().end() ? '?' : it->second;
    }
    rows.push_back(row);
  }
  return rows;
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
        EXPECT_EQ(GetBitmapPixel(back, x, y), GetBitmapPixel(bm, x, y))
            << bpp << " " << x << "," << y;
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
      {"16 bits without room for the rows", [](auto& f) { f[28] = 16; }},
      {"bit fields", [](auto& f) { Set32(f, 30, 3); }},
      {"4-bit compression of 8-bit rows", [](auto& f) { Set32(f, 30, BI_RLE4); }},
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

TEST(GdiBitmap, SixteenBitFilesLoadWithEveryChannelSpreadToEightBits) {
  // 3 x 2, bottom row first, rows of 6 bytes padded to 8; the top bit is unused.
  const std::vector<uint8_t> bits = {
      0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xEE, 0xEE,  // bottom: red, green, blue
      0xFF, 0x7F, 0x00, 0x80, 0x10, 0x42, 0xEE, 0xEE,  // top: white, black, 16/16/16
  };
  std::vector<uint8_t> f = HandMade(3, 2, 16, BI_RGB, {}, bits);
  std::string why;
  size_t used = 0;
  HBITMAP bm = LoadBitmapFile(f.data(), f.size(), &why, &used);
  ASSERT_NE(bm, 0u) << why;
  EXPECT_EQ(used, f.size());
  EXPECT_EQ(PictureOf(bm, 3, 2), (Pic{".#?", "rgb"}));
  EXPECT_EQ(GetBitmapPixel(bm, 2, 0), RGB(132, 132, 132));
  BITMAP info;
  ASSERT_EQ(GetObject(bm, sizeof(info), &info), int(sizeof(info)));
  EXPECT_EQ(info.bmBitsPixel, 24) << "kept at 24 bits";
  DeleteObject(bm);
  // Top-down works as for the other depths.
  std::vector<uint8_t> td = HandMade(3, -2, 16, BI_RGB, {}, bits);
  bm = LoadBitmapFile(td.data(), td.size(), &why);
  ASSERT_NE(bm, 0u) << why;
  EXPECT_EQ(PictureOf(bm, 3, 2), (Pic{"rgb", ".#?"}));
  DeleteObject(bm);
  // One byte short of the rows: refused.
  std::vector<uint8_t> cut = HandMade(3, 2, 16, BI_RGB, {}, {bits.begin(), bits.end() - 1});
  EXPECT_EQ(LoadBitmapFile(cut.data(), cut.size(), &why), 0u);
  EXPECT_EQ(why, "pixel data truncated");
}

TEST(GdiBitmap, RunLengthEightBitFilesDecodeRunsLiteralsMovesAndClipping) {
  const std::vector<COLORREF> table = {kBlack, kRed, kGreen, kBlue, kWhite};
  const std::vector<uint8_t> rle = {
      0x03, 0x01,                          // bottom row: three red
      0x00, 0x03, 0x02, 0x03, 0x04, 0x00,  // literal green, blue, white (cut at the edge), pad
      0x00, 0x00,                          // end of line
      0x00, 0x02, 0x02, 0x00,              // move right two
      0x01, 0x04,                          // one white
      0x00, 0x00,                          // end of line
      0xFF, 0x03,                          // 255 blue: cut at the edge
      0x00, 0x01,                          // end of bitmap
  };
  std::vector<uint8_t> f = HandMade(5, 3, 8, BI_RLE8, table, rle);
  f.push_back(0x77);  // what follows the file is not read
  std::string why;
  size_t used = 0;
  HBITMAP bm = LoadBitmapFile(f.data(), f.size(), &why, &used);
  ASSERT_NE(bm, 0u) << why;
  EXPECT_EQ(used, f.size() - 1);
  EXPECT_EQ(PictureOf(bm, 5, 3), (Pic{"bbbbb", "##.##", "rrrgb"}));
  BITMAP info;
  ASSERT_EQ(GetObject(bm, sizeof(info), &info), int(sizeof(info)));
  EXPECT_EQ(info.bmBitsPixel, 8);
  // It saves as an ordinary 8-bit file and loads back the same.
  std::vector<uint8_t> saved = SaveBitmapFile(bm);
  HBITMAP back = LoadBitmapFile(saved.data(), saved.size(), &why);
  ASSERT_NE(back, 0u) << why;
  EXPECT_EQ(PictureOf(back, 5, 3), PictureOf(bm, 5, 3));
  DeleteObject(back);
  DeleteObject(bm);
}

TEST(GdiBitmap, RunLengthFourBitFilesAlternateNibblesAndNeverWriteOutside) {
  const std::vector<COLORREF> table = {kBlack, kRed, kGreen, kBlue};
  const std::vector<uint8_t> rle = {
      0x05, 0x12,              // bottom row: red green red green red
      0x00, 0x03, 0x31, 0x20,  // literal blue, red, green: the last two past the edge
      0x00, 0x00,              // end of line
      0x00, 0x02, 0x03, 0x00,  // move right three
      0x02, 0x33,              // two blue
      0x00, 0x02, 0x00, 0x05,  // move up five: past the top
      0x04, 0x11,              // nowhere to go
      0x00, 0x01,              // end of bitmap
  };
  std::vector<uint8_t> f = HandMade(6, 2, 4, BI_RLE4, table, rle);
  std::string why;
  HBITMAP bm = LoadBitmapFile(f.data(), f.size(), &why);
  ASSERT_NE(bm, 0u) << why;
  EXPECT_EQ(PictureOf(bm, 6, 2), (Pic{"###bb#", "rgrgrb"}));
  // Rows end without the end-of-bitmap mark once every row is done.
  std::vector<uint8_t> noMark(rle.begin(), rle.begin() + 6);
  noMark.insert(noMark.end(), {0x00, 0x00, 0x06, 0x33, 0x00, 0x00});
  std::vector<uint8_t> g = HandMade(6, 2, 4, BI_RLE4, table, noMark);
  HBITMAP b2 = LoadBitmapFile(g.data(), g.size(), &why);
  ASSERT_NE(b2, 0u) << why;
  EXPECT_EQ(PictureOf(b2, 6, 2), (Pic{"bbbbbb", "rgrgrb"}));
  DeleteObject(b2);
  DeleteObject(bm);
}

TEST(GdiBitmap, DamagedRunLengthFilesAreRefused) {
  const std::vector<COLORREF> table = {kBlack, kRed};
  const std::vector<uint8_t> good = {0x02, 0x01, 0x00, 0x00, 0x02, 0x01, 0x00, 0x01};
  std::string why;
  std::vector<uint8_t> f = HandMade(2, 2, 8, BI_RLE8, table, good);
  HBITMAP bm = LoadBitmapFile(f.data(), f.size(), &why);
  ASSERT_NE(bm, 0u) << why;
  EXPECT_EQ(PictureOf(bm, 2, 2), (Pic{"rr", "rr"}));
  DeleteObject(bm);
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    const char* why;
  };
  std::vector<Case> cases = {
      {"8-bit runs in a 4-bit file", HandMade(2, 2, 4, BI_RLE8, table, good),
       "unsupported compression for the bit count"},
      {"4-bit runs in an 8-bit file", HandMade(2, 2, 8, BI_RLE4, table, good),
       "unsupported compression for the bit count"},
      {"top-down", HandMade(2, -2, 8, BI_RLE8, table, good), "bad dimensions"},
      {"ends inside a literal", HandMade(2, 2, 8, BI_RLE8, table, {0x00, 0x05, 0x01, 0x01}),
       "compressed data truncated"},
      {"ends inside a move", HandMade(2, 2, 8, BI_RLE8, table, {0x00, 0x02, 0x01}),
       "compressed data truncated"},
      {"ends before the last row", HandMade(2, 2, 8, BI_RLE8, table, {0x02, 0x01, 0x00, 0x00}),
       "compressed data truncated"},
  };
  std::vector<uint8_t> big = f;
  Set32(big, 34, uint32_t(good.size() + 1));  // claims more data than the file holds
  cases.push_back({"image size beyond the file", big, "pixel data truncated"});
  for (const Case& c : cases) {
    EXPECT_EQ(LoadBitmapFile(c.file.data(), c.file.size(), &why), 0u) << c.what;
    EXPECT_EQ(why, c.why) << c.what;
  }
}
