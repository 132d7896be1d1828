#include "components/KitCustomLabel.h"

#include "components/KitDrawing.h"
#include "framework/ScopeGuard.h"

namespace vexa {

namespace {
// Whether Font is a TrueType font, asked on a screen context.
bool IsTrueType(fw::TFont* Font) {
  plat::HDC dc = plat::GetDC(0);
  fw::TCanvas c;
  c.SetHandle(dc);
  c.SetFont(Font);
  bool r = KitIsTrueTypeFont(&c);
  c.SetHandle(0);
  plat::ReleaseDC(0, dc);
  return r;
}
}  // namespace

TKitCustomLabel::TKitCustomLabel(fw::TComponent* AOwner)
    : TKitBaseLabel(AOwner),
      FBevel(std::make_unique<TKitBevel>()),
      FFontFX(std::make_unique<TKitFxCaption>()) {
  FBevel->OnChange = [this](fw::TObject* s) { PropChanged(s); };
  FFontFX->OnChange = [this](fw::TObject* s) { FontChanged(s); };
}

TKitCustomLabel::~TKitCustomLabel() {
  FBevel->OnChange = nullptr;
  FFontFX->OnChange = nullptr;
  FFontFX.reset();
  FBevel.reset();
}

bool TKitCustomLabel::IsEmptyTransparent() {
  return TKitBaseLabel::IsEmptyTransparent() && FBevel->Extent() == 0;
}

void TKitCustomLabel::FontChanged(fw::TObject* Sender) {
  if (Loading()) return;
  if (Sender == Font()) SetParentFont(false);
  Canvas()->SetFont(Font());
  if (FFontFX->Angle() != 0 && !IsTrueType(Font())) {
    if (Sender == FFontFX.get()) {
      // Rotation needs an outline font; the font change comes back here.
      Font()->SetName("Arial");
      return;
    }
    if (Sender == Font()) FFontFX->SetAngle(0);
  }
  PropChanged(Sender);
}

void TKitCustomLabel::AdjustLabelBounds() {
  if (!AutoSize() || Loading() || !FBevel || !FFontFX) return;
  fw::TRect r = MeasureLabel(FFontFX.get(), OptionFlags(), FBevel->Extent());
  SetBounds(Left(), Top(), r.Right, r.Bottom);
}

void TKitCustomLabel::Paint() {
  if (FPainting || Loading() || !CanvasBound()) return;
  if (IsEmptyTransparent()) {
    TKitBaseGraphicControl::Paint();
    return;
  }
  std::string text;
  GetLabelText(text);
  FPainting = true;
  auto done = fw::Finally([&] { FPainting = false; });
  fw::TCanvas* c = Canvas();
  fw::TRect r = BeginTextPaint();
  uint32_t effect = Enabled() ? kteEnabled : 0x01;
  fw::TRect clip = r;
  if (PaintInsideBevel(FBevel.get(), r)) {
    clip = fw::TRect{r.Left + Left(), r.Top + Top(), r.Right + Left(), r.Bottom + Top()};
    effect |= kteClip;
  }
  uint32_t format = 0;
  if (!AutoSize()) {
    if (FFontFX->Angle() != 0) {
      format |= plat::DT_SINGLELINE;
      if (Alignment() != agTopLeft) r = AlignedText(text, FFontFX.get(), format, r);
    } else if (!MultiLine()) {
      format |= plat::DT_SINGLELINE;
    } else if (Alignment() >= agCenterLeft) {
      r = AlignedText(text, FFontFX.get(), format, r);
    }
  }
  format = TextFormat(format);
  c->Brush()->SetColor(Color());
  c->Font()->SetColor(Font()->Color());
  if (TwinkleShown()) {
    KitDraw3DText(c, text, FFontFX.get(), &clip, effect, format, r);
  } else if (TwinkleColor() != fw::clNone) {
    c->Font()->SetColor(TwinkleColor());
    KitDraw3DText(c, text, FFontFX.get(), &clip, effect, format, r);
  }
}

}  // namespace vexa
