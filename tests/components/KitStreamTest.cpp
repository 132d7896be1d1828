// labels: unit
// Stream primitives, strings and bitmap sections byte by byte, device-independent
// bitmap files, directory prefixes and the rectangle routines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/kitclass.h"
#include "components/kitprocs.h"
#include "platform/shell/Shell.h"

using namespace vexa;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}
uint16_t U16(const Bytes& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }

// A 10 x 3 bitmap with a few coloured pixels.
void Paint(fw::TBitmap& bmp) {
  bmp.SetSize(10, 3);
  bmp.Canvas()->Brush()->SetColor(fw::clWhite);
  bmp.Canvas()->FillRect(fw::TRect{0, 0, 10, 3});
  bmp.Canvas()->SetPixels(0, 0, fw::clBlack);
  bmp.Canvas()->SetPixels(9, 2, fw::clBlack);
  bmp.Canvas()->SetPixels(4, 1, fw::clBlack);
}

}  // namespace

TEST(KitStreams, IntegersBytesAndShortStrings) {
  fw::TMemoryStream m;
  WriteStreamInt(&m, 0x01020304);
  WriteStreamInt(&m, -2);
  WriteStreamByte(&m, 0xAB);
  WriteStreamShortString(&m, "hi");
  WriteStreamShortString(&m, std::string(300, 'x'));
  Bytes b = m.Data();
  ASSERT_EQ(b.size(), 4u + 4 + 1 + 3 + 256);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 12),
            (Bytes{4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 0xAB, 2, 'h', 'i'}));
  EXPECT_EQ(b[12], 255);
  m.SetPosition(0);
  EXPECT_EQ(ReadStreamInt(&m), 0x01020304);
  EXPECT_EQ(ReadStreamInt(&m), -2);
  EXPECT_EQ(ReadStreamByte(&m), 0xAB);
  EXPECT_EQ(ReadStreamShortString(&m), "hi");
  EXPECT_EQ(ReadStreamShortString(&m), std::string(255, 'x'));
  EXPECT_THROW(ReadStreamByte(&m), fw::EReadError);
  m.SetPosition(m.Size() - 10);
  EXPECT_THROW(ReadStreamShortString(&m), fw::EReadError);
}

TEST(KitStreams, StringsSectionsPlainAndCompressed) {
  fw::TStringList list;
  list.Add("alpha");
  list.Add("beta");
  fw::TMemoryStream m;
  m.WriteBuffer("#", 1);
  WriteStringsSection(&m, &list, false);
  Bytes want{'#', 13, 0, 0, 0};
  Bytes text = Text("alpha\r\nbeta\r\n");
  want.insert(want.end(), text.begin(), text.end());
  EXPECT_EQ(m.Data(), want);
  EXPECT_EQ(m.Position(), m.Size());

  WriteStringsSection(&m, &list, true);
  size_t at = want.size();
  Bytes b = m.Data();
  EXPECT_EQ(U32(b, at), b.size() - at - 4);
  EXPECT_EQ(U32(b, at + 4), 14u);  // a stored block of the 13 bytes
  EXPECT_EQ(b[at + 8], 128);

  fw::TStringList back;
  back.Add("old");
  m.SetPosition(1);
  ReadStringsSection(&m, &back, false);
  EXPECT_EQ(back.Text(), "alpha\r\nbeta\r\n");
  back.Clear();
  ReadStringsSection(&m, &back, true);
  EXPECT_EQ(back.Text(), "alpha\r\nbeta\r\n");
  EXPECT_EQ(m.Position(), m.Size());

  // A plain length beyond the stream is refused before anything is read.
  fw::TMemoryStream bad;
  WriteStreamInt(&bad, 1000);
  bad.WriteBuffer("abc", 3);
  bad.SetPosition(0);
  EXPECT_THROW(ReadStringsSection(&bad, &back, false), fw::EReadError);
  bad.SetPosition(0);
  WriteStreamInt(&bad, -1);
  bad.SetPosition(0);
  EXPECT_THROW(ReadStringsSection(&bad, &back, false), fw::EReadError);
}

TEST(KitStreams, DeviceIndependentFileLayout) {
  fw::TBitmap bmp;
  Paint(bmp);
  Bytes f = BitmapToDIBFile(bmp.Handle(), 0, 16);
  // 4 bits: row of 10 pixels = 8 bytes; table of 16 entries.
  ASSERT_EQ(f.size(), 14u + 40 + 64 + 24);
  EXPECT_EQ(U16(f, 0), 0x4D42);
  EXPECT_EQ(U32(f, 2), f.size());
  EXPECT_EQ(U32(f, 6), 0u);
  EXPECT_EQ(U32(f, 10), 14u + 40 + 64);
  EXPECT_EQ(U32(f, 14), 40u);
  EXPECT_EQ(U32(f, 18), 10u);
  EXPECT_EQ(U32(f, 22), 3u);
  EXPECT_EQ(U16(f, 26), 1);
  EXPECT_EQ(U16(f, 28), 4);
  EXPECT_EQ(U32(f, 30), 0u);
  EXPECT_EQ(U32(f, 34), 24u);
  for (size_t i = 38; i < 54; ++i) EXPECT_EQ(f[i], 0) << i;

  Bytes f24 = BitmapToDIBFile(bmp.Handle(), 0, 0);
  EXPECT_EQ(U16(f24, 28), 24);
  EXPECT_EQ(U32(f24, 10), 54u);
  EXPECT_EQ(f24.size(), 54u + 3 * 32);
  // Bottom-up rows: the first pixel of the file is the bottom-left one (white),
  // the last pixel of the bottom row is black.
  EXPECT_EQ(Bytes(f24.begin() + 54, f24.begin() + 57), (Bytes{255, 255, 255}));
  EXPECT_EQ(Bytes(f24.begin() + 54 + 27, f24.begin() + 54 + 30), (Bytes{0, 0, 0}));

  int32_t info = 0, image = 0;
  DIBSizes(bmp.Handle(), info, image, 2);
  EXPECT_EQ(info, 48);
  EXPECT_EQ(image, 12);
  try {
    BitmapToDIBFile(0, 0, 0);
    FAIL() << "null handle accepted";
  } catch (const fw::Exception& e) {
    EXPECT_EQ(e.Message(), "Bitmap image is not valid");
  }
}

TEST(KitStreams, BitmapSectionsKeepDepthsAndPixels) {
  fw::TBitmap mono;
  Paint(mono);
  mono.SetMonochrome(true);
  ASSERT_TRUE(mono.Monochrome());

  // Compressed with 256 colours: a monochrome bitmap stays at 1 bit.
  fw::TMemoryStream m;
  WriteBitmapSection(&m, &mono, true, KitSavePixelFormatColors[spf8bit]);
  fw::TMemoryStream payload;
  m.SetPosition(0);
  ReadCompressedSection(&m, &payload);
  EXPECT_EQ(U16(payload.Data(), 28), 1);

  // Plain with 256 colours: exactly 8 bits.
  fw::TMemoryStream p;
  WriteBitmapSection(&p, &mono, false, 256);
  Bytes b = p.Data();
  EXPECT_EQ(U32(b, 0), b.size() - 4);
  EXPECT_EQ(U16(b, 4 + 28), 8);
  EXPECT_EQ(U32(b, 4 + 10), 14u + 40 + 1024);

  // Own format, plain: the length then the bitmap's own file.
  fw::TBitmap colour;
  Paint(colour);
  fw::TMemoryStream own, direct;
  WriteBitmapSection(&own, &colour, false, -1);
  colour.SaveToStream(&direct);
  Bytes ob = own.Data();
  ASSERT_EQ(ob.size(), direct.Data().size() + 4);
  EXPECT_EQ(U32(ob, 0), direct.Data().size());
  EXPECT_EQ(Bytes(ob.begin() + 4, ob.end()), direct.Data());

  // Every form reads back to the same pixels.
  for (bool compressed : {false, true})
    for (int32_t colours : {-1, 2, 16, 256}) {
      fw::TMemoryStream s;
      WriteBitmapSection(&s, &colour, compressed, colours);
      s.SetPosition(0);
      fw::TBitmap back;
      ReadBitmapSection(&s, &back, compressed);
      EXPECT_EQ(s.Position(), s.Size());
      ASSERT_EQ(back.Width(), 10);
      ASSERT_EQ(back.Height(), 3);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x)
          EXPECT_EQ(fw::ColorToRGB(back.Canvas()->Pixels(x, y)),
                    fw::ColorToRGB(colour.Canvas()->Pixels(x, y)))
              << compressed << " " << colours << " at " << x << "," << y;
    }

  // An empty payload leaves an empty bitmap; a damaged one raises.
  fw::TMemoryStream empty;
  WriteStreamInt(&empty, 0);
  empty.SetPosition(0);
  fw::TBitmap e;
  Paint(e);
  ReadBitmapSection(&empty, &e, false);
  EXPECT_TRUE(e.Empty());
  fw::TMemoryStream junk;
  WriteStreamInt(&junk, 4);
  junk.WriteBuffer("BMxx", 4);
  junk.SetPosition(0);
  EXPECT_ANY_THROW(ReadBitmapSection(&junk, &e, false));
}

TEST(KitProcs, DirectoryPrefixes) {
  EXPECT_EQ(PrefixDirectory(ppFixed, true), "");
  EXPECT_EQ(PrefixDirectory(ppFixed, false), "");
  std::string prog = ProgramDirectory();
  ASSERT_FALSE(prog.empty());
  EXPECT_EQ(prog.back(), '/');
  EXPECT_EQ(prog, fw::ExtractFilePath(fw::ParamStr0()));
  EXPECT_EQ(PrefixDirectory(ppProgram, false), prog.substr(0, prog.size() - 1));
  EXPECT_EQ(PrefixDirectory(ppProgram, true), prog);
  EXPECT_EQ(PrefixDirectory(ppSystem, true), plat::GetSystemDirectory() + "/");
  EXPECT_EQ(PrefixDirectory(ppWindows, false), plat::GetWindowsDirectory());
}

TEST(KitProcs, RotatedAndFittedRectangles) {
  fw::TRect r{0, 0, 100, 50};
  RotatedRectBounds(r, 90);
  EXPECT_EQ(r, (fw::TRect{0, 0, 50, 100}));
  r = fw::TRect{10, 20, 110, 120};
  RotatedRectBounds(r, 0);
  EXPECT_EQ(r, (fw::TRect{10, 20, 110, 120}));
  RotatedRectBounds(r, 45);
  EXPECT_EQ(r, (fw::TRect{0, 0, 142, 142}));
  r = fw::TRect{5, 5, 25, 15};
  RotatedRectBounds(r, 180);
  EXPECT_EQ(r, (fw::TRect{0, 0, 20, 10}));

  fw::TRect fit;
  FitRectProportional(fw::TRect{0, 0, 200, 100}, fw::TRect{10, 20, 110, 220}, fit);
  EXPECT_EQ(fit, (fw::TRect{10, 20, 110, 70}));
  FitRectProportional(fw::TRect{0, 0, 3, 7}, fw::TRect{0, 0, 10, 10}, fit);
  EXPECT_EQ(fit, (fw::TRect{0, 0, 4, 10}));  // 3 * 10/7 = 4.28 truncated
  FitRectProportional(fw::TRect{0, 0, 0, 7}, fw::TRect{1, 2, 10, 10}, fit);
  EXPECT_EQ(fit, (fw::TRect{1, 2, 1, 2}));

}
