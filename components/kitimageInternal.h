// What the files of the image-list unit share among themselves; nothing else includes it.
#pragma once

#include <string>

#include "components/kitclass.h"
#include "components/kitimage.h"

namespace vexa::kitimage {

using fw::TBitmap;
using fw::TCanvas;
using fw::TColor;
using fw::TRect;

[[noreturn]] inline void IndexError(int Index) {
  throw fw::EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

[[noreturn]] inline void DamagedData() { throw fw::EReadError("Stream read error"); }

// Copies a W x H area between bitmaps with a raster operation, the target's
// text and background colours set so that a monochrome source maps 0 to black
// and 1 to white.
inline void CopyArea(TBitmap* Dest, int32_t DX, int32_t DY, TBitmap* Source, int32_t SX, int32_t SY,
                     int32_t W, int32_t H) {
  if (W <= 0 || H <= 0) return;
  plat::HDC d = Dest->Canvas()->Handle();
  plat::COLORREF ot = plat::SetTextColor(d, 0), ob = plat::SetBkColor(d, 0xFFFFFF);
  plat::BitBlt(d, DX, DY, W, H, Source->Canvas()->Handle(), SX, SY, plat::SRCCOPY);
  plat::SetTextColor(d, ot);
  plat::SetBkColor(d, ob);
  Dest->Canvas()->Refresh();
}

inline void MakeMonochrome(TBitmap* Bitmap) {
  if (!Bitmap->Monochrome()) Bitmap->SetMonochrome(true);
}

}  // namespace vexa::kitimage
