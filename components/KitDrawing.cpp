#include "components/KitDrawing.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "components/KitApplication.h"
#include "components/kitprocs.h"
#include "components/kitsysin.h"

namespace vexa {

using fw::TBitmap;
using fw::TCanvas;
using fw::TColor;
using fw::TRect;

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

namespace {

int32_t RoundEven(double v) { return int32_t(std::nearbyint(v)); }

bool EmptyRect(const TRect& R) { return R.Right <= R.Left || R.Bottom <= R.Top; }

plat::RECT ToRECT(const TRect& R) { return plat::RECT{R.Left, R.Top, R.Right, R.Bottom}; }
TRect FromRECT(const plat::RECT& R) { return TRect{R.left, R.top, R.right, R.bottom}; }

TRect Offset(TRect R, int32_t dx, int32_t dy) {
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

void SolidPen(TCanvas* Canvas, TColor Color, int32_t Width = 1) {
  Canvas->Pen()->SetStyle(fw::psSolid);
  Canvas->Pen()->SetMode(fw::pmCopy);
  Canvas->Pen()->SetWidth(Width);
  Canvas->Pen()->SetColor(Color);
}

void FrameWith(TCanvas* Canvas, const TRect& R, TColor Color) {
  Canvas->Brush()->SetColor(Color);
  Canvas->Brush()->SetStyle(fw::bsSolid);
  Canvas->FrameRect(R);
}

void FillWith(TCanvas* Canvas, const TRect& R, TColor Color) {
  Canvas->Brush()->SetColor(Color);
  Canvas->Brush()->SetStyle(fw::bsSolid);
  Canvas->FillRect(R);
}

}  // namespace

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

// ---------------------------------------------------------------------------
// Bitmaps

void KitFillBitmap(TBitmap* Bitmap, const TRect& Rect, TColor Color) {
  if (!Bitmap) return;
  Bitmap->SetSize(std::max(0, Rect.Width()), std::max(0, Rect.Height()));
  if (Bitmap->Empty()) return;
  FillWith(Bitmap->Canvas(), TRect{0, 0, Bitmap->Width(), Bitmap->Height()}, Color);
}

void KitSplitMaskAndImage(TCanvas* Source, const TRect& SourceRect, TBitmap* Mask,
                          TColor TransparentColor, TBitmap* Image) {
  if (!Source || !Mask || !Image) return;
  const int32_t w = SourceRect.Width(), h = SourceRect.Height();
  if (w <= 0 || h <= 0) return;
  const plat::COLORREF key = fw::ColorToRGB(TransparentColor);
  Image->SetPixelFormat(fw::pf24bit);
  Image->SetSize(w, h);
  plat::BitBlt(Image->Canvas()->Handle(), 0, 0, w, h, Source->Handle(), SourceRect.Left,
               SourceRect.Top, plat::SRCCOPY);
  Mask->SetPixelFormat(fw::pf24bit);
  Mask->SetSize(w, h);
  const uint8_t kb = plat::GetBValue(key), kg = plat::GetGValue(key), kr = plat::GetRValue(key);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* ip = Image->ScanLine(y);
    uint8_t* mp = Mask->ScanLine(y);
    for (int32_t x = 0; x < w; ++x, ip += 3, mp += 3) {
      bool transparent = ip[0] == kb && ip[1] == kg && ip[2] == kr;
      uint8_t m = transparent ? 255 : 0;
      mp[0] = mp[1] = mp[2] = m;
      if (transparent) ip[0] = ip[1] = ip[2] = 0;
    }
  }
  Mask->SetMonochrome(true);
}

void KitDrawImage(TCanvas* Canvas, const TRect& Target, TCanvas* Source, TRect& Covered,
                  TBitmap* BitmapOrMask, plat::HPALETTE Palette, TColor TransparentColor,
                  uint32_t Flags, const TRect& SourceRect) {
  Covered = TRect{};
  if (!Canvas || EmptyRect(Target)) return;
  const int32_t w = SourceRect.Width(), h = SourceRect.Height();
  const int32_t tw = Target.Width(), th = Target.Height();
  plat::HDC dc = Canvas->Handle();

  TRect box{Target.Left, Target.Top, Target.Left + w, Target.Top + h};
  std::vector<TRect> cells;
  if (Flags & kdCenter) {
    int32_t l = Target.Left + (tw - w) / 2, t = Target.Top + (th - h) / 2;
    box = TRect{l, t, l + w, t + h};
  } else if (Flags & kdStretch) {
    plat::SetStretchBltMode(dc, plat::COLORONCOLOR);
    box = Target;
    const uint32_t prop = Flags & (kdPropHeight | kdPropWidth);
    if (prop == (kdPropHeight | kdPropWidth)) {
      TRect fitted;
      FitRectProportional(TRect{0, 0, w, h}, TRect{0, 0, tw, th}, fitted);
      box = Offset(fitted, Target.Left, Target.Top);
    } else if (prop == kdPropWidth && w > 0) {
      box = TRect{Target.Left, Target.Top, Target.Left + tw,
                  Target.Top + RoundEven(double(tw) / w * h)};
    } else if (prop == kdPropHeight && h > 0) {
      box = TRect{Target.Left, Target.Top, Target.Left + RoundEven(double(th) / h * w),
                  Target.Top + th};
    }
  } else if (Flags & kdTile) {
    if (w > 0 && h > 0) {
      for (int32_t row = 0; row < th / h + 1; ++row)
        for (int32_t col = 0; col < tw / w + 1; ++col) {
          int32_t l = Target.Left + col * w, t = Target.Top + row * h;
          cells.push_back(TRect{l, t, l + w, t + h});
        }
    }
    box = TRect{Target.Left, Target.Top, Target.Left, Target.Top};
  }
  Covered = EmptyRect(box) ? Target : box;
  if (!(Flags & kdTile)) cells.push_back(box);
  if (w <= 0 || h <= 0) return;

  auto maskedCopy = [&](plat::HDC maskDC, plat::HDC imageDC, int32_t sx, int32_t sy) {
    plat::COLORREF oldBk = plat::SetBkColor(dc, plat::RGB(255, 255, 255));
    plat::COLORREF oldText = plat::SetTextColor(dc, 0);
    for (const TRect& c : cells) {
      plat::StretchBlt(dc, c.Left, c.Top, c.Width(), c.Height(), maskDC, sx, sy, w, h,
                       plat::SRCAND);
      plat::StretchBlt(dc, c.Left, c.Top, c.Width(), c.Height(), imageDC, sx, sy, w, h,
                       plat::SRCPAINT);
    }
    plat::SetBkColor(dc, oldBk);
    plat::SetTextColor(dc, oldText);
  };

  if ((Flags & kdBrushCopy) && BitmapOrMask) {
    Canvas->Brush()->SetColor(TransparentColor);
    for (const TRect& c : cells)
      Canvas->BrushCopy(c, BitmapOrMask, SourceRect, BitmapOrMask->TransparentColor());
  } else if (!Source) {
    return;
  } else if ((Flags & kdMasked) && BitmapOrMask) {
    maskedCopy(BitmapOrMask->Canvas()->Handle(), Source->Handle(), SourceRect.Left, SourceRect.Top);
  } else if (Flags & kdTransparent) {
    auto mask = std::make_unique<TBitmap>();
    auto image = std::make_unique<TBitmap>();
    KitSplitMaskAndImage(Source, SourceRect, mask.get(), TransparentColor, image.get());
    TCallPalette pal(image->Canvas()->Handle(), Palette);
    maskedCopy(mask->Canvas()->Handle(), image->Canvas()->Handle(), 0, 0);
  } else {
    plat::HDC src = Source->Handle();
    for (const TRect& c : cells)
      plat::StretchBlt(dc, c.Left, c.Top, c.Width(), c.Height(), src, SourceRect.Left,
                       SourceRect.Top, w, h, plat::SRCCOPY);
  }
}

namespace {

void DrawWholeBitmap(TCanvas* Canvas, const TRect& Target, TBitmap* Bitmap, TRect& Covered,
                     TColor TransparentColor, uint32_t ClipOffset, uint32_t Flags) {
  Covered = TRect{};
  if (!Canvas || !Bitmap || Bitmap->Empty()) return;
  if (Bitmap->Canvas()->PenPos().X == -1) return;
  TCallClip clip(Canvas, Target, ClipOffset, Flags & kdClip);
  plat::HPALETTE pal = (Flags & kdPalette) ? Bitmap->Palette() : 0;
  TCallPalette palette(Canvas->Handle(), pal);
  TRect source{0, 0, Bitmap->Width(), Bitmap->Height()};
  TCanvas* src = (Flags & kdBrushCopy) ? nullptr : Bitmap->Canvas();
  TBitmap* bitmapOrMask = (Flags & kdBrushCopy) ? Bitmap : nullptr;
  KitDrawImage(Canvas, Target, src, Covered, bitmapOrMask, pal, TransparentColor, Flags, source);
}

}  // namespace

void KitDrawBitmap(TCanvas* Canvas, const TRect& Target, TBitmap* Bitmap, TColor TransparentColor,
                   uint32_t ClipOffset, uint32_t Flags) {
  TRect covered;
  DrawWholeBitmap(Canvas, Target, Bitmap, covered, TransparentColor, ClipOffset, Flags);
}

void KitDrawBitmapEx(TCanvas* Canvas, const TRect& Target, TBitmap* Bitmap, TRect& Covered,
                     TColor TransparentColor, uint32_t Flags) {
  DrawWholeBitmap(Canvas, Target, Bitmap, Covered, TransparentColor, 0, Flags);
}

void KitDrawCanvasArea(TCanvas* Canvas, const TRect& Target, TCanvas* Source, TBitmap* Mask,
                       TColor TransparentColor, uint32_t ClipOffset, uint32_t Flags,
                       const TRect& SourceRect) {
  if (!Canvas) return;
  TCallClip clip(Canvas, Target, ClipOffset, Flags & kdClip);
  TRect covered;
  KitDrawImage(Canvas, Target, Source, covered, Mask, 0, TransparentColor, Flags, SourceRect);
}

// ---------------------------------------------------------------------------
// Gradients

void KitFillGradient(TCanvas* Canvas, const TRect& Rect, TKitGradientStyle Style,
                     uint32_t ClipOffset, uint32_t Flags, plat::HPALETTE Palette,
                     const TKitColorList* Colors) {
  if (!Canvas || !Colors || Colors->empty() || EmptyRect(Rect)) return;
  const int32_t N = int32_t(Colors->size()), W = Rect.Width(), H = Rect.Height();
  const bool offscreen = Flags & kdGradBitmap;

  std::unique_ptr<TBitmap> buffer;
  TCanvas* target = Canvas;
  if (offscreen) {
    buffer = std::make_unique<TBitmap>();
    buffer->SetSize(W, H);
    target = buffer->Canvas();
  }
  TCallClip clip(Canvas, Rect, ClipOffset, !offscreen && (Flags & kdClip));
  TCallPalette palette(target->Handle(), (Flags & kdPalette) ? Palette : 0);

  const int32_t ox = offscreen ? 0 : Rect.Left, oy = offscreen ? 0 : Rect.Top;
  TRect base;
  switch (Style) {
    case gstHorizontal:
    case gstVertical: base = TRect{0, 0, W, H}; break;
    case gstSquare:
    case gstElliptic: base = TRect{W / 2, H / 2, W / 2, H / 2}; break;
    case gstTopLeft:
    case gstTopLeftDiagonal: base = TRect{0, 0, 1, 1}; break;
    case gstTopRight: base = TRect{W, 1, W + 1, 0}; break;
    case gstBottomLeft: base = TRect{1, H, 0, H + 1}; break;
    case gstBottomRight: base = TRect{W, H, W + 1, H + 1}; break;
    case gstTopRightDiagonal: base = TRect{W, 0, W + 1, 0}; break;
  }
  base = Offset(base, ox, oy);
  const int32_t x0 = base.Left, y0 = base.Top, x1 = base.Right, y1 = base.Bottom;
  const int32_t cx = x0, cy = y0;

  target->Pen()->SetStyle(fw::psClear);
  target->Brush()->SetStyle(fw::bsSolid);
  auto colour = [&](int32_t i) {
    target->Brush()->SetColor(TColor(fw::ColorToRGB((*Colors)[size_t(i)]) | 0x02000000));
  };
  // A null pen leaves the right and bottom pixel column of a figure out, so
  // rectangles that must cover [l, r) x [t, b) are given one more pixel.
  auto fill = [&](int32_t l, int32_t t, int32_t r, int32_t b) {
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    target->Rectangle(l, t, r + 1, b + 1);
  };
  // The corner boxes already reach one pixel past the Li x Ki shape, which the
  // null pen takes back: no extra pixel, or the shape spills out of the rect.
  auto corner = [&](int32_t l, int32_t t, int32_t r, int32_t b) {
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    target->Rectangle(l, t, r, b);
  };

  if (Style == gstHorizontal) {
    for (int32_t i = 0; i < N; ++i) {
      colour(i);
      fill(x0 + KitMulDiv(i, W, N), y0, x0 + KitMulDiv(i + 1, W, N), y1);
    }
  } else {
    for (int32_t i = N - 1; i >= 0; --i) {
      colour(i);
      const int32_t Li = KitMulDiv(i + 1, W, N), Ki = KitMulDiv(i + 1, H, N);
      switch (Style) {
        case gstVertical: fill(x0, y0 + KitMulDiv(i, H, N), x1, y0 + Ki); break;
        case gstSquare:
          target->Rectangle(cx - Li / 2, cy - Ki / 2, cx + Li / 2 + 2, cy + Ki / 2 + 2);
          break;
        case gstElliptic: {
          int32_t a = RoundEven(Li / 1.4), b = RoundEven(Ki / 1.4);
          target->Ellipse(cx - a, cy - b, cx + a, cy + b);
          break;
        }
        case gstTopLeft: corner(x0, y0, x1 + Li, y1 + Ki); break;
        case gstTopRight: corner(x0 - Li, y0 + Ki, x1, y1); break;
        case gstBottomLeft: corner(x0 + Li, y0 - Ki, x1, y1); break;
        case gstBottomRight: corner(x0 - Li, y0 - Ki, x1, y1); break;
        case gstTopLeftDiagonal: {
          int32_t a = 2 * Li, b = 2 * Ki;
          target->Polygon({{x0, y0}, {x0 + a, y0}, {x0, y1 + b}, {x0 - a, y1 + b}});
          break;
        }
        case gstTopRightDiagonal: {
          int32_t a = 2 * Li, b = 2 * Ki;
          target->Polygon({{x1, y0}, {x1 - a, y0}, {x1, y1 + b}, {x1 + a, y1 + b}});
          break;
        }
        default: break;
      }
    }
  }
  if (offscreen)
    plat::BitBlt(Canvas->Handle(), Rect.Left, Rect.Top, W, H, target->Handle(), 0, 0,
                 plat::SRCCOPY);
}

// ---------------------------------------------------------------------------
// Text

void KitAlignRect(TKitAlignment Alignment, const TRect& Item, const TRect& Container,
                  TRect& Result) {
  const int32_t w = Item.Width(), h = Item.Height();
  const int32_t W = Container.Width(), H = Container.Height();
  const int a = int(Alignment);
  const int row = a / 3, col = a % 3;
  int32_t dy = row == 0 ? 0 : row == 1 ? (H - h) / 2 : H - h;
  int32_t dx = col == 0 ? 0 : col == 1 ? (W - w) / 2 : W - w;
  Result = TRect{Container.Left + dx, Container.Top + dy, Container.Left + dx + w,
                 Container.Top + dy + h};
}

namespace {

int32_t DepthOf(const TKit3DCaption* C) {
  switch (C->Style()) {
    case tdSunken:
    case tdRaised: return C->LightDepth();
    case tdSunkenShadow:
    case tdRaisedShadow:
    case tdPColorSunken:
    case tdPColorRaised: return C->LightDepth() + C->ShadowDepth();
    case tdShadow:
    case tdOutline:
    case tdExtrude:
    case tdExtrudeEnh: return C->ShadowDepth();
    default: return 0;
  }
}

int32_t RotationMargin(const TKit3DCaption* C) {
  int32_t e = 0;
  switch (C->Style()) {
    case tdSunken:
    case tdRaised: e = C->LightDepth() / 2 - 1; break;
    case tdSunkenShadow:
    case tdRaisedShadow:
    case tdPColorSunken:
    case tdPColorRaised: e = (C->LightDepth() + C->ShadowDepth()) / 2 - 1; break;
    case tdShadow:
    case tdExtrude:
    case tdExtrudeEnh: e = C->ShadowDepth() / 2 - 1; break;
    default: break;
  }
  return std::max(0, e);
}

// A canvas on the screen's device context, released in every case.
class TScreenCanvas {
public:
  TScreenCanvas() : FDC(plat::GetDC(0)) { FCanvas.SetHandle(FDC); }
  ~TScreenCanvas() {
    FCanvas.SetHandle(0);
    plat::ReleaseDC(0, FDC);
  }
  TCanvas* operator->() { return &FCanvas; }
  TCanvas* get() { return &FCanvas; }

private:
  plat::HDC FDC;
  TCanvas FCanvas;
};

// Selects the canvas font into its device context for raw text calls.
plat::HGDIOBJ SelectCanvasFont(TCanvas* Canvas) {
  return plat::SelectObject(Canvas->Handle(), Canvas->Font()->Handle());
}

}  // namespace

void KitMeasureText(const std::string& Text, TKit3DCaption* Caption, TRect& Rect, uint32_t Format,
                    int32_t Margin, bool ShowAccel, bool WordWrap, fw::TFont* Font) {
  TScreenCanvas c;
  if (Font) c->Font()->Assign(Font);
  plat::HDC dc = c->Handle();
  plat::HGDIOBJ oldFont = SelectCanvasFont(c.get());
  int oldExtra = plat::GetTextCharacterExtra(dc);
  if (Caption && Caption->Tracing() != 0) plat::SetTextCharacterExtra(dc, Caption->Tracing());

  auto* fx = dynamic_cast<TKitFxCaption*>(Caption);
  if (fx && fx->Angle() != 0) {
    plat::SIZE sz;
    plat::GetTextExtentPoint32(dc, Text, &sz);
    TRect box{0, 0, sz.cx, sz.cy};
    const int32_t depth = DepthOf(fx);
    box.Right += depth;
    box.Bottom += depth;
    RotatedRectBounds(box, fx->Angle());
    const double a = fx->Angle() * M_PI / 180.0;
    const double cx = box.Width() / 2.0, cy = box.Height() / 2.0;
    const int32_t m = RotationMargin(fx);
    int32_t px = RoundEven(cx - std::cos(a) * sz.cx / 2.0 - std::sin(a) * sz.cy / 2.0) - m;
    int32_t py = RoundEven(cy + std::sin(a) * sz.cx / 2.0 - std::cos(a) * sz.cy / 2.0) - m;
    fx->SetPosition(uint16_t(px), uint16_t(py));
    Rect = TRect{Rect.Left, Rect.Top, Rect.Left + box.Width(), Rect.Top + box.Height()};
  } else {
    if (fx) fx->SetPosition(0, 0);
    uint32_t fmt = Format | plat::DT_CALCRECT | plat::DT_EXPANDTABS;
    if (WordWrap) fmt |= plat::DT_WORDBREAK;
    if (!ShowAccel) fmt |= plat::DT_NOPREFIX;
    // Built in one step: assigning " " over the copy draws a false overlap warning.
    const std::string s = (Text.empty() || (ShowAccel && Text == "&")) ? std::string(1, ' ') : Text;
    plat::RECT r = ToRECT(Rect);
    plat::DrawText(dc, s, &r, fmt);
    Rect = FromRECT(r);
    if (Caption) {
      const int32_t depth = DepthOf(Caption);
      Rect.Right += depth;
      Rect.Bottom += depth;
    }
  }
  Rect.Right += 2 * (Margin + 1);
  Rect.Bottom += 2 * (Margin + 1);
  plat::SetTextCharacterExtra(dc, oldExtra);
  plat::SelectObject(dc, oldFont);
}

void KitAlignedTextRect(TKitAlignment Alignment, const std::string& Text, TKit3DCaption* Caption,
                        TRect& Result, uint32_t Format, bool ShowAccel, bool WordWrap,
                        fw::TFont* Font, const TRect& Container) {
  TRect measured{Container.Left, Container.Top, Container.Right - 1, Container.Bottom};
  KitMeasureText(Text, Caption, measured, Format, 0, ShowAccel, WordWrap, Font);
  KitAlignRect(Alignment, measured, Container, Result);
}

namespace {

// Strokes the outline of the text drawn in R with a line Width pixels wide in
// Color; the glyphs are not filled.
void StrokeTextOutline(TCanvas* Canvas, const std::string& Text, plat::RECT R, uint32_t Format,
                       TColor Color, int32_t Width) {
  if (R.right <= R.left || R.bottom <= R.top) return;
  plat::HDC dc = Canvas->Handle();
  plat::SetTextColor(dc, fw::ColorToRGB(Color));
  // A pen of width 0 still draws one pixel wide.
  const int oldStroke = plat::SetTextStrokeWidth(dc, std::max(1, Width));
  plat::DrawTextEx(dc, Text, &R, Format, nullptr);
  plat::SetTextStrokeWidth(dc, oldStroke);
}

}  // namespace

void KitDraw3DText(TCanvas* Canvas, const std::string& Text, TKit3DCaption* Caption,
                   const TRect* ClipRect, uint32_t EffectFlags, uint32_t Format,
                   const TRect& Rect) {
  if (!Canvas || Text.empty() || EmptyRect(Rect)) return;
  plat::HDC dc = Canvas->Handle();
  if (!Caption) {
    plat::HGDIOBJ of = SelectCanvasFont(Canvas);
    plat::SetTextColor(dc, fw::ColorToRGB(Canvas->Font()->Color()));
    plat::SetBkMode(dc, plat::TRANSPARENT);
    plat::RECT r = ToRECT(Rect);
    plat::DrawTextEx(dc, Text, &r, Format, nullptr);
    plat::SelectObject(dc, of);
    return;
  }
  TCallClip clip(Canvas, ClipRect ? *ClipRect : Rect, 0, EffectFlags & kteClip);

  TKitThreeDStyle style = Caption->Style();
  const bool enabled = EffectFlags & kteEnabled;
  TColor face;
  if (enabled || Caption->DisabledStyle() == dsNone) {
    face = (style == tdPColorSunken || style == tdPColorRaised) ? Canvas->Brush()->Color()
                                                                  : Canvas->Font()->Color();
  } else {
    face = fw::clGrayText;
    if (Caption->DisabledStyle() == ds3d ||
        (Caption->DisabledStyle() == dsAuto && (EffectFlags & kteAutoSunken)))
      style = tdSunken;
  }
  const int32_t L = Caption->LightDepth(), S = Caption->ShadowDepth();
  const TColor light = Caption->LightColor(), shadow = Caption->ShadowColor();

  auto* fx = dynamic_cast<TKitFxCaption*>(Caption);
  const bool rotated = fx && fx->Angle() != 0;
  TRect r = Rect;
  if (fx) r = Offset(r, fx->PosX(), fx->PosY());

  plat::HFONT rotFont = 0;
  plat::HGDIOBJ oldFont;
  if (rotated) {
    plat::LOGFONT lf;
    plat::GetObject(Canvas->Font()->Handle(), sizeof(lf), &lf);
    lf.lfEscapement = fx->Angle() * 10;
    lf.lfOrientation = lf.lfEscapement;
    rotFont = plat::CreateFontIndirect(lf);
    oldFont = plat::SelectObject(dc, rotFont);
  } else {
    oldFont = SelectCanvasFont(Canvas);
  }
  Canvas->Brush()->SetStyle(fw::bsClear);
  plat::SetBkMode(dc, plat::TRANSPARENT);
  if (Caption->Tracing() != 0) plat::SetTextCharacterExtra(dc, Caption->Tracing());

  auto layer = [&](int32_t dx, int32_t dy, TColor color) {
    r = Offset(r, dx, dy);
    plat::SetTextColor(dc, fw::ColorToRGB(color));
    if (rotated) {
      plat::ExtTextOut(dc, r.Left, r.Top, 0, nullptr, Text);
    } else {
      plat::RECT pr = ToRECT(r);
      plat::DrawTextEx(dc, Text, &pr, Format, nullptr);
    }
  };

  switch (style) {
    case tdNone: layer(0, 0, face); break;
    case tdSunken:
      r.Right -= L;
      layer(L, L, light);
      layer(-L, -L, face);
      break;
    case tdRaised:
      r.Right -= L;
      layer(0, 0, light);
      layer(L, L, face);
      break;
    case tdSunkenShadow:
    case tdPColorSunken:
      r.Right -= L + S;
      layer(0, 0, shadow);
      layer(L + S, L + S, light);
      layer(-L, -L, face);
      break;
    case tdRaisedShadow:
    case tdPColorRaised:
      r.Right -= L + S;
      layer(L + S, L + S, shadow);
      layer(-L - S, -L - S, light);
      layer(L, L, face);
      break;
    case tdShadow:
      r.Right -= S;
      layer(S, S, shadow);
      layer(-S, -S, face);
      break;
    case tdOutline:
      StrokeTextOutline(Canvas, Text, ToRECT(Offset(r, S / 2, S / 2)), Format, face, S);
      break;
    case tdExtrude:
    case tdExtrudeEnh: {
      int32_t sx = 0, sy = 0, stx = 1, sty = 1;
      switch (Caption->Orientation()) {
        case toBottomLeft: sx = 0; sy = S + 1; stx = 1; sty = -1; break;
        case toBottomRight: sx = S + 1; sy = S + 1; stx = -1; sty = -1; break;
        case toTopLeft: sx = 0; sy = 0; stx = 1; sty = 1; break;
        case toTopRight: sx = S + 1; sy = 0; stx = -1; sty = 1; break;
      }
      TRect origin = r;
      for (int32_t i = 0; i < S; ++i) {
        r = origin;
        TColor c = style == tdExtrude ? shadow : KitBlendColor(fw::ColorToRGB(shadow),
                                                               fw::ColorToRGB(light), S - i - 1, S);
        layer(sx + i * stx, sy + i * sty, c);
      }
      r = origin;
      layer(sx + S * stx, sy + S * sty, face);
      break;
    }
  }
  plat::SetTextCharacterExtra(dc, 0);
  plat::SelectObject(dc, oldFont);
  if (rotFont) plat::DeleteObject(rotFont);
}

// ---------------------------------------------------------------------------
// Glyph and text

void KitDrawGlyphText(TCanvas* Canvas, const std::string& Text, TKit3DCaption* Caption,
                      TKitGlyphTextRects& Rects, uint32_t Format, uint16_t Flags, bool Transparent,
                      bool ShowAccel, bool WordWrap, TKitGlyphTextLayout* Layout,
                      TColor TransparentColor, TCanvas* MaskCanvas, TCanvas* GlyphCanvas,
                      const TRect& GlyphRect, TRect& Target) {
  Rects = TKitGlyphTextRects{};
  if (!Canvas || !Layout) return;
  const bool hasGlyph = GlyphCanvas && !EmptyRect(GlyphRect);
  const bool hasText = !Text.empty();
  const int32_t spacing = (hasGlyph && hasText) ? Layout->Spacing() : 0;
  if (Flags & kgtMeasureOnly) Flags |= kgtRepaintUnion;

  TRect text{0, 0, Target.Width(), 0};
  if (hasText) KitMeasureText(Text, Caption, text, Format, 0, ShowAccel, WordWrap, Canvas->Font());
  text = Offset(text, -text.Left, -text.Top);
  if (!hasText) text = TRect{};
  TRect glyph = hasGlyph ? TRect{0, 0, GlyphRect.Width(), GlyphRect.Height()} : TRect{};

  auto* button = dynamic_cast<TKitButtonLayout*>(Layout);
  const bool arrow = button && button->Arrow();
  int32_t arrowWidth = 0;
  if (arrow) {
    arrowWidth = button->ArrowSize() * 2 - 1;
    int32_t extra = arrowWidth + button->ArrowIndent();
    if (button->ArrowPosition() == apRightGlyph || button->ArrowPosition() == apLeftGlyph)
      glyph.Right += extra;
    else
      text.Right += extra;
  }

  const int32_t tw = text.Width(), th = text.Height(), gw = glyph.Width(), gh = glyph.Height();
  const TKitTextArrange arrange = Layout->AlignText2Glyph();
  TRect total;
  int32_t tx = 0, ty = 0, gx = 0, gy = 0;
  if (arrange <= taRightTop) {
    const int32_t H = std::max(th, gh);
    total = TRect{0, 0, tw + spacing + gw, H};
    const bool centreGlyph = arrange == taLeft || arrange == taRight;
    ty = (H - th) / 2;
    gy = centreGlyph ? (H - gh) / 2 : 0;
    if (arrange == taLeft || arrange == taLeftTop) {
      tx = 0;
      gx = tw + spacing;
    } else {
      gx = 0;
      tx = gw + spacing;
    }
  } else {
    const int32_t W = std::max(tw, gw);
    total = TRect{0, 0, W, th + spacing + gh};
    const bool centreGlyph = arrange == taTop || arrange == taBottom;
    tx = (W - tw) / 2;
    gx = centreGlyph ? (W - gw) / 2 : 0;
    if (arrange == taTop || arrange == taTopLeft) {
      ty = 0;
      gy = th + spacing;
    } else {
      gy = 0;
      ty = gh + spacing;
    }
  }
  TRect placed;
  KitAlignRect((Flags & kgtTopLeft) ? agTopLeft : Layout->Alignment(), total, Target, placed);
  text = Offset(text, placed.Left + tx + 1, placed.Top + ty + 1);
  glyph = Offset(glyph, placed.Left + gx, placed.Top + gy);
  if (arrow && button->ArrowPosition() == apLeftText)
    text = Offset(text, button->ArrowIndent() + arrowWidth, 0);
  text = Offset(text, Layout->OffsetX(), Layout->OffsetY());
  glyph = Offset(glyph, Layout->OffsetX(), Layout->OffsetY());

  uint32_t format = Format | plat::DT_EXPANDTABS | plat::DT_WORDBREAK;
  if (WordWrap) format |= KitAlignmentFormat[Layout->Alignment()];

  const bool draw = !(Flags & kgtMeasureOnly);
  if (draw && hasText) KitDraw3DText(Canvas, Text, Caption, nullptr, Flags, format, text);
  if (arrow) {
    const int32_t size = button->ArrowSize();
    int32_t ax = 0;
    TRect ref = text;
    switch (button->ArrowPosition()) {
      case apRightText:
        ax = WordWrap ? text.Right - size - 1 : text.Right - arrowWidth - 1;
        break;
      case apLeftText: ax = text.Left - button->ArrowIndent() - arrowWidth; break;
      case apRightGlyph:
        ax = glyph.Right - arrowWidth;
        ref = glyph;
        break;
      case apLeftGlyph:
        glyph = Offset(glyph, button->ArrowIndent() + arrowWidth, 0);
        ax = glyph.Left - button->ArrowIndent() - arrowWidth;
        ref = glyph;
        break;
    }
    int32_t ay = ref.Top + ref.Height() / 2 - size / 2;
    if (draw) KitDrawArrow(Canvas, ax, ay, Flags & kteEnabled, true, button->ArrowColor(), size);
  }
  if (draw && hasGlyph) {
    uint32_t imageFlags = 0;
    if (Transparent) imageFlags = MaskCanvas ? kdMasked : kdTransparent;
    TRect covered;
    TRect glyphBox{glyph.Left, glyph.Top, glyph.Left + GlyphRect.Width(),
                   glyph.Top + GlyphRect.Height()};
    if (Transparent && MaskCanvas) {
      // The mask travels as a canvas here; draw it the same way as a mask bitmap.
      plat::HDC dc = Canvas->Handle();
      plat::COLORREF ob = plat::SetBkColor(dc, plat::RGB(255, 255, 255));
      plat::COLORREF ot = plat::SetTextColor(dc, 0);
      plat::BitBlt(dc, glyphBox.Left, glyphBox.Top, glyphBox.Width(), glyphBox.Height(),
                   MaskCanvas->Handle(), GlyphRect.Left, GlyphRect.Top, plat::SRCAND);
      plat::BitBlt(dc, glyphBox.Left, glyphBox.Top, glyphBox.Width(), glyphBox.Height(),
                   GlyphCanvas->Handle(), GlyphRect.Left, GlyphRect.Top, plat::SRCPAINT);
      plat::SetBkColor(dc, ob);
      plat::SetTextColor(dc, ot);
    } else {
      KitDrawImage(Canvas, glyphBox, GlyphCanvas, covered, nullptr, 0, TransparentColor,
                   imageFlags, GlyphRect);
    }
  }

  Rects.TextRect = text;
  Rects.GlyphRect = glyph;
  if (!hasGlyph) Rects.Union = text;
  else if (!hasText) Rects.Union = glyph;
  else
    Rects.Union = TRect{std::min(text.Left, glyph.Left), std::min(text.Top, glyph.Top),
                        std::max(text.Right, glyph.Right), std::max(text.Bottom, glyph.Bottom)};
  auto grow = [](TRect R, int32_t d) {
    return TRect{R.Left - d, R.Top - d, R.Right + d, R.Bottom + d};
  };
  TRect result = grow(Target, -1);
  if (Flags & kgtRepaintText) result = grow(text, 1);
  if ((Flags & kgtRepaintGlyph) && hasGlyph) result = glyph;
  if (Flags & kgtRepaintUnion) result = grow(Rects.Union, 1);
  if (Flags & kgtMeasureOnly) result = grow(result, 1);
  Target = result;
}

TRect KitDrawGlyphTextBitmap(TCanvas* Canvas, const std::string& Text, TKit3DCaption* Caption,
                             uint32_t Format, uint16_t Flags, bool Transparent, bool ShowAccel,
                             bool WordWrap, TKitGlyphTextLayout* Layout, TBitmap* Mask,
                             TBitmap* Glyph, const TRect& Target) {
  TRect result = Target;
  TKitGlyphTextRects rects;
  const bool hasGlyph = Glyph && !Glyph->Empty();
  TCanvas* glyphCanvas = hasGlyph ? Glyph->Canvas() : nullptr;
  TRect glyphRect = hasGlyph ? TRect{0, 0, Glyph->Width(), Glyph->Height()} : TRect{};
  TColor transparentColor = hasGlyph ? Glyph->TransparentColor() : fw::clNone;
  TCanvas* maskCanvas = (Mask && !Mask->Empty()) ? Mask->Canvas() : nullptr;
  KitDrawGlyphText(Canvas, Text, Caption, rects, Format, Flags, Transparent, ShowAccel, WordWrap,
                   Layout, transparentColor, maskCanvas, glyphCanvas, glyphRect, result);
  return result;
}

bool KitIsTrueTypeFont(TCanvas* Canvas) {
  if (!Canvas) return false;
  plat::HDC dc = Canvas->Handle();
  plat::HGDIOBJ of = SelectCanvasFont(Canvas);
  plat::TEXTMETRIC tm;
  bool ok = plat::GetTextMetrics(dc, &tm);
  plat::SelectObject(dc, of);
  return ok && (tm.tmPitchAndFamily & plat::TMPF_TRUETYPE);
}

}  // namespace vexa
