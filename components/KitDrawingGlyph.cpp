// A glyph laid out beside a text.
#include "components/KitDrawing.h"

#include "components/KitDrawingInternal.h"

namespace vexa {

using namespace kitdrawing;

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
