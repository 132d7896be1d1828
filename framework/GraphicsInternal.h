// What the files of the Graphics unit share among themselves; nothing else includes it.
#pragma once

#include "framework/Graphics.h"

namespace fw {

// A memory device context over a new bitmap of its own, both freed with it.
class TScratchDC {
public:
  TScratchDC(int32_t Width, int32_t Height, int Bits);
  ~TScratchDC();
  TScratchDC(const TScratchDC&) = delete;
  TScratchDC& operator=(const TScratchDC&) = delete;
  plat::HDC DC() const { return FDC; }

private:
  plat::HDC FDC;
  plat::HBITMAP FBitmap;
  plat::HGDIOBJ FOld;
};

// Draws Picture (Width x Height) stretched onto Dest of Dst but where Mask is
// set: those pixels of Picture turn black, MaskRop lays the mask on Dst first
// (SRCAND leaves Dst there, MERGECOPY puts its brush there), then Picture goes
// on top.
void DrawMasked(plat::HDC Dst, const TRect& Dest, plat::HDC Picture, plat::HDC Mask,
                int32_t Width, int32_t Height, uint32_t MaskRop);

}  // namespace fw
