// Stream routines with which list items write and read their data:
// little-endian integers, short strings, and sections holding a bitmap or a
// string list, plain (a 32-bit length and the bytes) or as a compressed section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Graphics.h"
#include "platform/gdi/Gdi.h"

namespace vexa {

enum TKitSavePixelFormat { spfDefault = 0, spfMono = 1, spf4bit = 2, spf8bit = 3 };
// Colour counts of the save formats; -1 keeps the bitmap's own format.
constexpr int32_t KitSavePixelFormatColors[4] = {-1, 2, 16, 256};

void WriteStreamInt(fw::TStream* Stream, int32_t Value);
int32_t ReadStreamInt(fw::TStream* Stream);
void WriteStreamByte(fw::TStream* Stream, uint8_t Value);
uint8_t ReadStreamByte(fw::TStream* Stream);
// A length byte and the bytes; longer texts are cut to their first 255 bytes.
void WriteStreamShortString(fw::TStream* Stream, const std::string& Text);
std::string ReadStreamShortString(fw::TStream* Stream);

// The payload of a section, compressed or plain (a 32-bit length, checked
// against what Stream still holds), in Data from position 0.
void ReadSectionData(fw::TStream* Stream, fw::TMemoryStream* Data, bool Compressed);

// The list's text as SaveToStream writes it, compressed or plain.
void WriteStringsSection(fw::TStream* Stream, fw::TStrings* Strings, bool Compressed);
void ReadStringsSection(fw::TStream* Stream, fw::TStrings* Strings, bool Compressed);

// A bitmap file, compressed or plain. Colours -1 stores the bitmap's own save
// format; 2, 16 or 256 a device-independent file of that many colours (the
// compressed form keeps a monochrome bitmap at 2 colours).
void WriteBitmapSection(fw::TStream* Stream, fw::TBitmap* Bitmap, bool Compressed, int32_t Colours);
// An empty payload leaves the bitmap empty.
void ReadBitmapSection(fw::TStream* Stream, fw::TBitmap* Bitmap, bool Compressed);

// Device-independent bitmap files of a bitmap handle.
void BuildDIBHeader(plat::HBITMAP Handle, plat::BITMAPINFOHEADER& Header, int32_t Colours);
void DIBSizes(plat::HBITMAP Handle, int32_t& InfoSize, int32_t& ImageSize, int32_t Colours);
bool FillDIB(plat::HBITMAP Handle, plat::HPALETTE Palette, plat::BITMAPINFO& Header,
             int32_t Colours, void* Bits);
// The whole file; raises Exception "Bitmap image is not valid" for a null handle.
std::vector<uint8_t> BitmapToDIBFile(plat::HBITMAP Handle, plat::HPALETTE Palette, int32_t Colours);
void WriteDIBFile(fw::TStream* Stream, plat::HBITMAP Handle, plat::HPALETTE Palette,
                  int32_t Colours, bool WithLength);
// The file without length (2 colours for a monochrome bitmap); the stream is
// left at position 0.
void SaveBitmapAsDIB(fw::TMemoryStream* Stream, fw::TBitmap* Bitmap, int32_t Colours);

}  // namespace vexa
