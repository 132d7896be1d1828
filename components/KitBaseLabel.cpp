#include "components/KitBaseLabel.h"

#include "components/KitApplication.h"
#include "components/KitBevel.h"
#include "components/KitCustomStatusBar.h"
#include "components/KitDrawing.h"

namespace vexa {

int32_t KitParentControlGap(fw::TControl* Control) {
  auto* bar = Control ? dynamic_cast<TKitCustomStatusBar*>(Control->Parent()) : nullptr;
  return bar ? bar->GetControlGap() : 0;
}

uint32_t KitLabelAlignmentFlags(TKitAlignment Alignment) {
  static const uint32_t kFlags[9] = {
      0,
      plat::DT_CENTER,
      plat::DT_RIGHT,
      plat::DT_VCENTER,
      plat::DT_VCENTER | plat::DT_CENTER,
      plat::DT_VCENTER | plat::DT_RIGHT,
      plat::DT_BOTTOM,
      plat::DT_BOTTOM | plat::DT_CENTER,
      plat::DT_BOTTOM | plat::DT_RIGHT};
  return kFlags[Alignment];
}

char KitAccelChar(const std::string& Caption) {
  for (size_t i = 0; i + 1 < Caption.size(); ++i) {
    if (Caption[i] != '&') continue;
    if (Caption[i + 1] == '&') {
      ++i;
      continue;
    }
    char c = Caption[i + 1];
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  }
  return 0;
}

TKitBaseLabel::TKitBaseLabel(fw::TComponent* AOwner) : TKitBaseGraphicControl(AOwner) {}

TKitBaseLabel::~TKitBaseLabel() { RemoveTwinkleTimer(); }

void TKitBaseLabel::GetLabelText(std::string& Text) { Text = Caption(); }

void TKitBaseLabel::AdjustLabelBounds() {}

fw::TRect TKitBaseLabel::MeasureLabel(TKit3DCaption* Caption, uint32_t Format, int32_t Margin) {
  fw::TRect r = ClientRect();
  std::string text;
  GetLabelText(text);
  KitMeasureText(text, Caption, r, Format, Margin, ShowAccelChar(), MultiLine(), Font());
  r.Right += KitParentControlGap(this);
  return r;
}

fw::TRect TKitBaseLabel::BeginTextPaint() {
  Canvas()->SetFont(Font());
  if (!Transparent()) FillClientArea();
  fw::TRect r = ClientRect();
  r.Left += KitParentControlGap(this);
  return r;
}

bool TKitBaseLabel::PaintInsideBevel(TKitBevel* Bevel, fw::TRect& R) {
  if (Bevel->Extent() == 0) return false;
  fw::TRect inner;
  Bevel->PaintBevel(Canvas(), R, inner, Bevel->BorderColor() == Color() || Transparent());
  R = inner;
  return true;
}

fw::TRect TKitBaseLabel::AlignedText(const std::string& Text, TKit3DCaption* Caption,
                                     uint32_t Format, const fw::TRect& R) {
  fw::TRect a;
  KitAlignedTextRect(FAlignment, Text, Caption, a, Format, FShowAccelChar, FMultiLine, Font(), R);
  return a;
}

uint32_t TKitBaseLabel::TextFormat(uint32_t Format) const {
  Format |=
      OptionFlags() | KitLabelAlignmentFlags(FAlignment) | plat::DT_EXPANDTABS | plat::DT_WORDBREAK;
  if (!FShowAccelChar) Format |= plat::DT_NOPREFIX;
  return Format;
}

void TKitBaseLabel::PropChanged(fw::TObject*) {
  AdjustLabelBounds();
  RepaintNow();
}

bool TKitBaseLabel::IsEmptyTransparent() {
  std::string text;
  GetLabelText(text);
  return Transparent() && text.empty();
}

void TKitBaseLabel::FontChanged(fw::TObject* Sender) {
  if (Loading()) return;
  if (Sender == Font()) SetParentFont(false);
  if (!ComponentState().Contains(fw::csReading)) Canvas()->SetFont(Font());
  PropChanged(nullptr);
}

uint32_t TKitBaseLabel::OptionFlags() const {
  uint32_t f = 0;
  if (FOptions.Contains(loPathEllipsis)) f |= plat::DT_PATH_ELLIPSIS;
  if (FOptions.Contains(loEndEllipsis)) f |= plat::DT_END_ELLIPSIS;
  if (FOptions.Contains(loEditControl)) f |= plat::DT_EDITCONTROL;
  return f;
}

void TKitBaseLabel::SetShowAccelChar(bool Value) {
  if (FShowAccelChar == Value) return;
  FShowAccelChar = Value;
  RepaintNow();
}

void TKitBaseLabel::SetMultiLine(bool Value) {
  if (FMultiLine == Value) return;
  FMultiLine = Value;
  PropChanged(nullptr);
}

void TKitBaseLabel::SetAlignment(TKitAlignment Value) {
  if (FAlignment == Value) return;
  FAlignment = Value;
  PropChanged(nullptr);
}

void TKitBaseLabel::SetOptions(TKitLabelOptions Value) {
  if (FOptions == Value) return;
  FOptions = Value;
  PropChanged(nullptr);
}

void TKitBaseLabel::SetAutoSize(bool Value) {
  if (FAutoSize == Value) return;
  FAutoSize = Value;
  AdjustLabelBounds();
}

void TKitBaseLabel::SetFocusControl(fw::TWinControl* Value) {
  FFocusControl = Value;
  if (Value) Value->FreeNotification(this);
}

void TKitBaseLabel::SetTwinkle(bool Value) {
  if (FTwinkle == Value) return;
  FTwinkle = Value;
  if (Value) {
    TKitApplication* app = KitApplication;
    const uint16_t interval = uint16_t(FTwinkleVisible);
    const uint16_t min = app->TimerPool()->MinInterval();
    // The pool takes only whole multiples of its minimum interval.
    if (interval < min || interval % min != 0) throw fw::Exception(SKitIntervalNotCompatible);
    uint16_t id = app->AddTimer(interval, [this](fw::TObject*) { TwinkleTick(); });
    // A full pool yields no timer: the label then stays shown.
    if (id == 0) return;
    FTimerId = id;
    if (TKitTimerItem* item = app->GetTimer(id)) item->SetEnabled(true);
  } else {
    RemoveTwinkleTimer();
    FTwinkleShown = true;
    RepaintNow();
  }
}

void TKitBaseLabel::RemoveTwinkleTimer() {
  if (FTimerId < 0) return;
  if (KitApplicationExists()) KitApplication->RemoveTimer(uint16_t(FTimerId));
  FTimerId = -1;
}

void TKitBaseLabel::TwinkleTick() {
  FTwinkleShown = !FTwinkleShown;
  if (FTimerId >= 0) {
    // Each phase lasts its own interval: shown TwinkleVisible, hidden TwinkleInVisible.
    if (TKitTimerItem* item = KitApplication->GetTimer(uint16_t(FTimerId))) {
      item->SetInterval(uint16_t(FTwinkleShown ? FTwinkleVisible : FTwinkleInVisible));
    }
  }
  RepaintNow();
}

bool TKitBaseLabel::DialogChar(char Key) {
  if (!FShowAccelChar || !FFocusControl || !Enabled()) return false;
  char a = KitAccelChar(Caption());
  char k = (Key >= 'A' && Key <= 'Z') ? char(Key - 'A' + 'a') : Key;
  if (a == 0 || a != k || !FFocusControl->CanFocus()) return false;
  FFocusControl->SetFocus();
  return true;
}

void TKitBaseLabel::Loaded() {
  TKitBaseGraphicControl::Loaded();
  Canvas()->SetFont(Font());
  AdjustLabelBounds();
}

void TKitBaseLabel::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitBaseGraphicControl::Notification(AComponent, Operation);
  if (Operation == fw::opRemove && AComponent == static_cast<fw::TComponent*>(FFocusControl)) {
    FFocusControl = nullptr;
  }
}

void TKitBaseLabel::WndProc(fw::TMessage& Message) {
  switch (Message.Msg) {
    case fw::CM_FONTCHANGED:
      TKitBaseGraphicControl::WndProc(Message);
      FontChanged(Font());
      return;
    case fw::CM_TEXTCHANGED:
      TKitBaseGraphicControl::WndProc(Message);
      AdjustLabelBounds();
      RepaintNow();
      return;
    default: TKitBaseGraphicControl::WndProc(Message);
  }
}

}  // namespace vexa
