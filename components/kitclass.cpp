#include "components/kitclass.h"

#include <cstring>

#include "components/kitprocs.h"
#include "framework/ScopeGuard.h"

namespace vexa {

namespace {

int64_t Remaining(fw::TStream* s) {
  int64_t r = s->Size() - s->Position();
  return r < 0 ? 0 : r;
}

// A 32-bit length read from Stream, checked against what the stream still holds.
int32_t ReadSectionLength(fw::TStream* Stream) {
  int32_t n = ReadStreamInt(Stream);
  if (n < 0 || n > Remaining(Stream)) throw fw::EReadError("Stream read error");
  return n;
}

// Placeholder length, the payload written by Write, then the length patched in.
template <class F>
void WritePatchedSection(fw::TStream* Stream, F Write) {
  int64_t at = Stream->Position();
  WriteStreamInt(Stream, 0);
  Write();
  int64_t end = Stream->Position();
  Stream->SetPosition(at);
  WriteStreamInt(Stream, int32_t(end - at - 4));
  Stream->SetPosition(end);
}

void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

int BitCountFor(const plat::BITMAP& bm, int32_t Colours) {
  int bc;
  switch (Colours) {
    case 2: bc = 1; break;
    case 16: bc = 4; break;
    case 256: bc = 8; break;
    default: bc = bm.bmPlanes * bm.bmBitsPixel; break;
  }
  if (bc == 16 || bc == 32) bc = 24;
  return bc;
}

[[noreturn]] void InvalidBitmap() { throw fw::Exception("Bitmap image is not valid"); }

}  // namespace

// ---- Primitives -----------------------------------------------------------------

void WriteStreamInt(fw::TStream* Stream, int32_t Value) {
  uint8_t b[4];
  Put32(b, uint32_t(Value));
  Stream->WriteBuffer(b, 4);
}

int32_t ReadStreamInt(fw::TStream* Stream) {
  uint8_t b[4];
  Stream->ReadBuffer(b, 4);
  return int32_t(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) |
                 (uint32_t(b[3]) << 24));
}

void WriteStreamByte(fw::TStream* Stream, uint8_t Value) { Stream->WriteBuffer(&Value, 1); }

uint8_t ReadStreamByte(fw::TStream* Stream) {
  uint8_t b = 0;
  Stream->ReadBuffer(&b, 1);
  return b;
}

void WriteStreamShortString(fw::TStream* Stream, const std::string& Text) {
  size_t n = Text.size() > 255 ? 255 : Text.size();
  WriteStreamByte(Stream, uint8_t(n));
  if (n) Stream->WriteBuffer(Text.data(), int32_t(n));
}

std::string ReadStreamShortString(fw::TStream* Stream) {
  uint8_t n = ReadStreamByte(Stream);
  std::string s(n, '\0');
  if (n) Stream->ReadBuffer(s.data(), n);
  return s;
}

// ---- Sections ---------------------------------------------------------------------------

void ReadSectionData(fw::TStream* Stream, fw::TMemoryStream* Data, bool Compressed) {
  if (Compressed) {
    ReadCompressedSection(Stream, Data);
  } else {
    int32_t n = ReadSectionLength(Stream);
    Data->SetSize(n);
    if (n) Stream->ReadBuffer(Data->Memory(), n);
  }
  Data->SetPosition(0);
}

void WriteStringsSection(fw::TStream* Stream, fw::TStrings* Strings, bool Compressed) {
  if (Compressed) {
    fw::TMemoryStream data;
    Strings->SaveToStream(&data);
    data.SetPosition(0);
    WriteCompressedSection(&data, Stream, int32_t(data.Size()));
  } else {
    WritePatchedSection(Stream, [&] { Strings->SaveToStream(Stream); });
  }
}

void ReadStringsSection(fw::TStream* Stream, fw::TStrings* Strings, bool Compressed) {
  fw::TMemoryStream data;
  ReadSectionData(Stream, &data, Compressed);
  Strings->LoadFromStream(&data);
}

// ---- Device-independent bitmap files -------------------------------------------------

void BuildDIBHeader(plat::HBITMAP Handle, plat::BITMAPINFOHEADER& Header, int32_t Colours) {
  plat::BITMAP bm;
  Header = plat::BITMAPINFOHEADER{};
  if (plat::GetObject(Handle, sizeof(bm), &bm) == 0) InvalidBitmap();
  int bc = BitCountFor(bm, Colours);
  Header.biSize = 40;
  Header.biWidth = bm.bmWidth;
  Header.biHeight = bm.bmHeight;
  Header.biPlanes = 1;
  Header.biBitCount = uint16_t(bc);
  Header.biCompression = plat::BI_RGB;
  Header.biSizeImage =
      uint32_t(int64_t(bm.bmHeight) * (((int64_t(bm.bmWidth) * bc + 31) / 32) * 4));
}

void DIBSizes(plat::HBITMAP Handle, int32_t& InfoSize, int32_t& ImageSize, int32_t Colours) {
  plat::BITMAPINFOHEADER h;
  BuildDIBHeader(Handle, h, Colours);
  InfoSize = h.biBitCount == 24 ? 40 : 40 + 4 * (1 << h.biBitCount);
  ImageSize = int32_t(h.biSizeImage);
}

bool FillDIB(plat::HBITMAP Handle, plat::HPALETTE Palette, plat::BITMAPINFO& Header,
             int32_t Colours, void* Bits) {
  BuildDIBHeader(Handle, Header.bmiHeader, Colours);
  // The screen context: surfaces here hold true colour, so the context only
  // carries the palette selection.
  plat::HDC dc = plat::GetDC(0);
  plat::HPALETTE old = 0;
  bool ok = false;
  {
    auto done = fw::Finally([&] {
      if (old) plat::SelectPalette(dc, old, false);
      plat::ReleaseDC(0, dc);
    });
    if (Palette) {
      old = plat::SelectPalette(dc, Palette, false);
      plat::RealizePalette(dc);
    }
    ok = plat::GetDIBits(dc, Handle, 0, uint32_t(Header.bmiHeader.biHeight), Bits, &Header,
                         plat::DIB_RGB_COLORS) != 0;
  }
  return ok;
}

std::vector<uint8_t> BitmapToDIBFile(plat::HBITMAP Handle, plat::HPALETTE Palette,
                                     int32_t Colours) {
  if (Handle == 0) InvalidBitmap();
  int32_t info = 0, image = 0;
  DIBSizes(Handle, info, image, Colours);
  std::vector<uint8_t> file(size_t(14) + size_t(info) + size_t(image), 0);
  plat::BITMAPINFO bi;
  if (!FillDIB(Handle, Palette, bi, Colours, file.data() + 14 + info)) InvalidBitmap();
  const plat::BITMAPINFOHEADER& h = bi.bmiHeader;
  uint8_t* p = file.data();
  Put16(p, 0x4D42);
  Put32(p + 2, uint32_t(file.size()));
  Put32(p + 10, uint32_t(info + 14));
  p += 14;
  Put32(p, 40);
  Put32(p + 4, uint32_t(h.biWidth));
  Put32(p + 8, uint32_t(h.biHeight));
  Put16(p + 12, 1);
  Put16(p + 14, h.biBitCount);
  Put32(p + 16, plat::BI_RGB);
  Put32(p + 20, uint32_t(image));
  for (int32_t i = 0; i < (info - 40) / 4 && i < 256; ++i) {
    uint8_t* q = p + 40 + 4 * i;
    q[0] = bi.bmiColors[i].rgbBlue;
    q[1] = bi.bmiColors[i].rgbGreen;
    q[2] = bi.bmiColors[i].rgbRed;
    q[3] = 0;
  }
  return file;
}

void WriteDIBFile(fw::TStream* Stream, plat::HBITMAP Handle, plat::HPALETTE Palette,
                  int32_t Colours, bool WithLength) {
  std::vector<uint8_t> file = BitmapToDIBFile(Handle, Palette, Colours);
  if (WithLength) WriteStreamInt(Stream, int32_t(file.size()));
  Stream->WriteBuffer(file.data(), int32_t(file.size()));
}

void SaveBitmapAsDIB(fw::TMemoryStream* Stream, fw::TBitmap* Bitmap, int32_t Colours) {
  WriteDIBFile(Stream, Bitmap->Handle(), Bitmap->Palette(), Bitmap->Monochrome() ? 2 : Colours,
               false);
  Stream->SetPosition(0);
}

// ---- Bitmap sections ------------------------------------------------------------------

void WriteBitmapSection(fw::TStream* Stream, fw::TBitmap* Bitmap, bool Compressed,
                        int32_t Colours) {
  if (Compressed) {
    fw::TMemoryStream data;
    if (Colours == -1) {
      Bitmap->SaveToStream(&data);
      data.SetPosition(0);
    } else {
      SaveBitmapAsDIB(&data, Bitmap, Colours);
    }
    WriteCompressedSection(&data, Stream, int32_t(data.Size()));
  } else if (Colours == -1) {
    WritePatchedSection(Stream, [&] { Bitmap->SaveToStream(Stream); });
  } else {
    WriteDIBFile(Stream, Bitmap->Handle(), Bitmap->Palette(), Colours, true);
  }
}

void ReadBitmapSection(fw::TStream* Stream, fw::TBitmap* Bitmap, bool Compressed) {
  fw::TMemoryStream data;
  ReadSectionData(Stream, &data, Compressed);
  if (data.Size() == 0)
    Bitmap->Assign(nullptr);
  else
    Bitmap->LoadFromStream(&data);
}

}  // namespace vexa
