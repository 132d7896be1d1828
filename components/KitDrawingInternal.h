// What the files of the drawing routines share among themselves; nothing else includes it.
#pragma once

#include <algorithm>
#include <cmath>

#include "components/KitDrawing.h"

namespace vexa::kitdrawing {

using fw::TBitmap;
using fw::TCanvas;
using fw::TColor;
using fw::TRect;

inline int32_t RoundEven(double v) { return int32_t(std::nearbyint(v)); }

inline bool EmptyRect(const TRect& R) { return R.Right <= R.Left || R.Bottom <= R.Top; }

inline plat::RECT ToRECT(const TRect& R) { return plat::RECT{R.Left, R.Top, R.Right, R.Bottom}; }
inline TRect FromRECT(const plat::RECT& R) { return TRect{R.left, R.top, R.right, R.bottom}; }

inline TRect Offset(TRect R, int32_t dx, int32_t dy) {
  R.Left += dx;
  R.Right += dx;
  R.Top += dy;
  R.Bottom += dy;
  return R;
}

// A clip region for the call; the canvas is left without any clip afterwards.
class TCallClip {
public:
  TCallClip(TCanvas* Canvas, const TRect& R, uint32_t ClipOffset, bool On) : FCanvas(Canvas) {
    if (!On) return;
    int32_t dx = int16_t(ClipOffset & 0xFFFF), dy = int16_t(ClipOffset >> 16);
    plat::HRGN rgn = plat::CreateRectRgn(R.Left + dx, R.Top + dy, R.Right + dx, R.Bottom + dy);
    plat::SelectClipRgn(Canvas->Handle(), rgn);
    plat::DeleteObject(rgn);
    FActive = true;
  }
  ~TCallClip() {
    if (FActive) plat::SelectClipRgn(FCanvas->Handle(), 0);
  }
  TCallClip(const TCallClip&) = delete;
  TCallClip& operator=(const TCallClip&) = delete;

private:
  TCanvas* FCanvas;
  bool FActive = false;
};

// Selects and realises a palette into a device context for the call.
class TCallPalette {
public:
  TCallPalette(plat::HDC DC, plat::HPALETTE Palette) : FDC(DC) {
    if (!Palette || !KitUsePalettes()) return;
    FOld = plat::SelectPalette(DC, Palette, false);
    plat::RealizePalette(DC);
    FActive = true;
  }
  ~TCallPalette() {
    if (FActive) plat::SelectPalette(FDC, FOld, true);
  }
  TCallPalette(const TCallPalette&) = delete;
  TCallPalette& operator=(const TCallPalette&) = delete;

private:
  plat::HDC FDC;
  plat::HPALETTE FOld = 0;
  bool FActive = false;
};

inline void SolidPen(TCanvas* Canvas, TColor Color, int32_t Width = 1) {
  Canvas->Pen()->SetStyle(fw::psSolid);
  Canvas->Pen()->SetMode(fw::pmCopy);
  Canvas->Pen()->SetWidth(Width);
  Canvas->Pen()->SetColor(Color);
}

inline void FrameWith(TCanvas* Canvas, const TRect& R, TColor Color) {
  Canvas->Brush()->SetColor(Color);
  Canvas->Brush()->SetStyle(fw::bsSolid);
  Canvas->FrameRect(R);
}

inline void FillWith(TCanvas* Canvas, const TRect& R, TColor Color) {
  Canvas->Brush()->SetColor(Color);
  Canvas->Brush()->SetStyle(fw::bsSolid);
  Canvas->FillRect(R);
}

// Selects the canvas font into its device context for raw text calls.
inline plat::HGDIOBJ SelectCanvasFont(TCanvas* Canvas) {
  return plat::SelectObject(Canvas->Handle(), Canvas->Font()->Handle());
}

}  // namespace vexa::kitdrawing
