// Gradients over colour lists.
#include "components/KitDrawing.h"

#include <memory>

#include "components/KitDrawingInternal.h"

namespace vexa {

using namespace kitdrawing;

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

}  // namespace vexa
