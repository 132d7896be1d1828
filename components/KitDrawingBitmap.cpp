// Bitmaps drawn centred, stretched, tiled or transparent, and masks split from images.
#include "components/KitDrawing.h"

#include <memory>
#include <vector>

#include "components/KitDrawingInternal.h"
#include "components/kitprocs.h"

namespace vexa {

using namespace kitdrawing;

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

}  // namespace vexa
