// Text alignment and measurement, and text with 3D and rotation effects.
#include "components/KitDrawing.h"

#include "components/KitDrawingInternal.h"
#include "components/kitprocs.h"

namespace vexa {

using namespace kitdrawing;

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

}  // namespace vexa
