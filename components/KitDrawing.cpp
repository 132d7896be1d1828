// Whether palettes are realised, the rounding division of the drawing routines, and
// bevels, frames, borders and arrows.
#include "components/KitDrawing.h"

#include "components/KitApplication.h"
#include "components/KitDrawingInternal.h"
#include "components/kitsysin.h"

namespace vexa {

using namespace kitdrawing;

bool KitUsePalettes() {
  if (!(KitApplication->Options() & 0x01)) return true;
  return KitDisplayColorDepth() > 8;
}

int32_t KitMulDiv(int32_t A, int32_t B, int32_t C) {
  if (C == 0) return -1;
  int64_t p = int64_t(A) * B, d = C;
  if (d < 0) {
    p = -p;
    d = -d;
  }
  return int32_t(p >= 0 ? (p + d / 2) / d : -((-p + d / 2) / d));
}

// ---------------------------------------------------------------------------
// Bevels, frames, borders, arrows

bool KitDrawBevel(TCanvas* Canvas, TRect& Rect, TKitBevelStyle Style, TColor LightColor,
                  TColor ShadowColor, int32_t Width) {
  if (!Canvas || Width <= 0 || Style == bvNone || Style == bvShadow) return false;
  TColor tl, br;
  switch (Style) {
    case bvLowered:
    case bvFrameLowered:
      tl = ShadowColor;
      br = LightColor;
      break;
    case bvRaised:
    case bvFrameRaised:
      tl = LightColor;
      br = ShadowColor;
      break;
    default:
      tl = br = fw::clBlack;
      break;
  }
  const int32_t L = Rect.Left, T = Rect.Top, R = Rect.Right, B = Rect.Bottom;
  if (Style == bvFrameLowered || Style == bvFrameRaised) {
    for (int32_t i = 0; i < Width; ++i) {
      FrameWith(Canvas, TRect{L + i + 1, T + i + 1, R, B}, br);
      FrameWith(Canvas, TRect{L, T, R - i - 1, B - i - 1}, tl);
    }
    Rect = TRect{L + Width + 1, T + Width + 1, R - Width - 1, B - Width - 1};
    return true;
  }
  if (Width == 1) {
    SolidPen(Canvas, tl);
    Canvas->Polyline({{L, B - 1}, {L, T}, {R - 1, T}});
    SolidPen(Canvas, br);
    Canvas->Polyline({{R - 1, T}, {R - 1, B - 1}, {L, B - 1}});
  } else {
    const int32_t il = L + Width, it = T + Width, ir = R - Width, ib = B - Width - 1;
    Canvas->Pen()->SetStyle(fw::psClear);
    Canvas->Brush()->SetStyle(fw::bsSolid);
    Canvas->Brush()->SetColor(br);
    Canvas->Polygon({{R, T}, {R, B}, {L, B}, {il, ib}, {ir, ib}, {ir, it}});
    Canvas->Brush()->SetColor(tl);
    Canvas->Polygon({{L, B}, {L, T}, {R, T}, {ir, it}, {il, it}, {il, ib}});
  }
  Rect = TRect{L + Width, T + Width, R - Width, B - Width};
  return true;
}

bool KitDrawShadowFrame(TCanvas* Canvas, TRect& Rect, TColor FrameColor, TColor ShadowColor,
                        TColor CornerColor, uint8_t ShadowDepth, uint8_t FrameLines,
                        bool KeepCorners) {
  if (!Canvas) return false;
  const int32_t D = ShadowDepth, L = Rect.Left, T = Rect.Top, R = Rect.Right, B = Rect.Bottom;
  if (D > 0) {
    FillWith(Canvas, TRect{R - D, T + D, R, B}, ShadowColor);
    FillWith(Canvas, TRect{L + D, B - D, R, B}, ShadowColor);
    if (!KeepCorners) {
      FillWith(Canvas, TRect{R - D, T, R, T + D}, CornerColor);
      FillWith(Canvas, TRect{L, B - D, L + D, B}, CornerColor);
    }
  }
  Rect = TRect{L, T, R - D, B - D};
  for (int i = 0; i < FrameLines; ++i) {
    FrameWith(Canvas, Rect, FrameColor);
    Rect = TRect{Rect.Left + 1, Rect.Top + 1, Rect.Right - 1, Rect.Bottom - 1};
  }
  return true;
}

int32_t KitBorderStyleWidth(TKitBorderStyle Style) {
  switch (Style) {
    case lsNone: return 0;
    case lsSingle:
    case lsSingleRaised:
    case lsSingleLowered: return 1;
    default: return 2;
  }
}

bool KitDrawBorder(TCanvas* Canvas, TRect& Rect, TKitBorderStyle Style, uint16_t EdgeFlags) {
  if (!Canvas) return false;
  using namespace plat;
  const uint32_t x = EdgeFlags;
  RECT r = ToRECT(Rect);
  HDC dc = Canvas->Handle();
  auto edge = [&](uint32_t e, uint32_t f) { DrawEdge(dc, &r, e, f); };
  switch (Style) {
    case lsNone: break;
    case lsSingle:
      edge(BDR_SUNKENOUTER, BF_TOPLEFT | BF_ADJUST | BF_SOFT | x);
      edge(BDR_RAISEDOUTER, BF_BOTTOMRIGHT);
      break;
    case lsLowered: edge(EDGE_SUNKEN, BF_RECT | BF_ADJUST | BF_SOFT | x); break;
    case lsRaised: edge(EDGE_RAISED, BF_RECT | BF_ADJUST | BF_SOFT | x); break;
    case lsRaisedspb:
      edge(BDR_RAISEDOUTER, BF_RECT | BF_ADJUST | BF_SOFT | x);
      edge(BDR_RAISEDINNER, BF_BOTTOMRIGHT | BF_ADJUST);
      break;
    case lsLoweredspb:
      edge(BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | x);
      edge(BDR_SUNKENINNER, BF_TOPLEFT | BF_ADJUST | x);
      break;
    case lsRaisedExt:
      edge(BDR_RAISEDOUTER, BF_RECT | BF_ADJUST | BF_SOFT | x);
      edge(BDR_RAISEDINNER, BF_BOTTOMRIGHT | BF_ADJUST);
      r.left += 1;
      r.top += 1;
      break;
    case lsLoweredExt:
      edge(BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | x);
      edge(BDR_SUNKENINNER, BF_TOPLEFT | BF_ADJUST);
      r.right -= 1;
      r.bottom -= 1;
      break;
    case lsFrameInset: edge(EDGE_ETCHED, BF_RECT | BF_ADJUST | x); break;
    case lsFrameOffset:
      edge(BDR_RAISEDINNER, BF_RECT | BF_ADJUST | x);
      edge(BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | x);
      break;
    case lsWindowBorder:
      edge(BDR_RAISEDOUTER, BF_BOTTOMRIGHT | BF_ADJUST | x);
      r.left += 1;
      r.top += 1;
      edge(BDR_RAISEDINNER, BF_RECT | BF_ADJUST | x);
      break;
    case lsSingleRaised: edge(BDR_RAISEDINNER, BF_RECT | BF_ADJUST | x); break;
    case lsSingleLowered: edge(BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | x); break;
    case lsDoubleRaised:
      edge(BDR_RAISEDINNER, BF_RECT | BF_ADJUST | x);
      edge(BDR_RAISEDINNER, BF_RECT | BF_ADJUST | x);
      break;
    case lsDoubleLowered:
      edge(BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | x);
      edge(BDR_SUNKENOUTER, BF_RECT | BF_ADJUST | x);
      break;
  }
  Rect = FromRECT(r);
  return true;
}

namespace {

void ArrowRows(TCanvas* Canvas, int32_t X, int32_t Y, bool Down, TColor Color, int32_t S) {
  SolidPen(Canvas, Color);
  if (Down) {
    for (int32_t i = 0; i <= S - 2; ++i) {
      Canvas->MoveTo(X + i, Y + i);
      Canvas->LineTo(X + 2 * S - i - 1, Y + i);
    }
    Canvas->MoveTo(X + S - 1, Y + S - 1);
    Canvas->LineTo(X + S - 1, Y + S - 2);
  } else {
    for (int32_t i = 0; i <= S - 1; ++i) {
      Canvas->MoveTo(X + S / 2 - i, Y + i);
      Canvas->LineTo(X + S / 2 + i + 1, Y + i);
    }
  }
}

}  // namespace

void KitDrawArrow(TCanvas* Canvas, int32_t X, int32_t Y, bool Enabled, bool Down, TColor Color,
                  int32_t Size) {
  if (!Canvas || Size < 2 || Size > 15) return;
  if (!Enabled) {
    ArrowRows(Canvas, X + 1, Y + 1, Down, fw::clHighlightText, Size);
    ArrowRows(Canvas, X, Y, Down, fw::clGrayText, Size);
  } else {
    ArrowRows(Canvas, X, Y, Down, Color, Size);
  }
}

}  // namespace vexa
