#include "components/KitInformationLabel.h"

#include "components/KitApplication.h"
#include "components/KitCustomLabel.h"
#include "components/KitDrawing.h"
#include "framework/ScopeGuard.h"
#include "framework/SysUtils.h"

namespace vexa {

namespace {
// Items whose value is a number, for the digit mask.
bool IsNumericItem(int i, bool withCpu) {
  return i == 3 || i == 4 || (i >= 8 && i <= 14) || (i >= 16 && i <= 24) || i == 26 || i == 29 ||
         (withCpu && i == 41);
}
bool IsRefreshItem(int i) { return i >= itNumLock && i <= itCurrentDateTime; }
}  // namespace

std::string KitApplyDigitMask(const std::string& Value, const std::string& Mask) {
  std::string v = Value;
  size_t p = v.size();
  for (size_t k = Mask.size(); k-- > 0;) {
    if (Mask[k] == '0') {
      if (p > 0) --p;
      else v.insert(v.begin(), '0');
    } else {
      v.insert(v.begin() + long(p), Mask[k]);
    }
  }
  return v;
}

TKitInformationLabel::TKitInformationLabel(fw::TComponent* AOwner)
    : TKitBaseLabel(AOwner),
      FDateTimeFormat(fw::ShortDateFormat),
      FBevel(std::make_unique<TKitBevel>()),
      FFont3D(std::make_unique<TKit3DCaption>()) {
  FFont3D->OnChange = [this](fw::TObject* s) { FontChanged(s); };
  FBevel->OnChange = [this](fw::TObject* s) { PropChanged(s); };
  FTimerId = KitApplication->AddTimer(1000, [this](fw::TObject*) { Refresh(); });
  if (FTimerId == 0) throw fw::EOutOfResources("Not enough timers available");
  if (TKitTimerItem* t = KitApplication->GetTimer(FTimerId)) t->SetEnabled(false);
}

TKitInformationLabel::~TKitInformationLabel() {
  if (FTimerId != 0 && KitApplicationExists()) {
    if (TKitTimerItem* t = KitApplication->GetTimer(FTimerId)) {
      t->SetEnabled(false);
      t->SetHandler(nullptr);
    }
    KitApplication->RemoveTimer(FTimerId);
  }
  FFont3D->OnChange = nullptr;
  FBevel->OnChange = nullptr;
  FFont3D.reset();
  FBevel.reset();
}

bool TKitInformationLabel::BuildText() {
  std::string t = FUseStandardCaption ? KitSysInfoCaption(FInfo) : Caption();
  if (FInsertColon == 0) t += ":";
  const int tabs = uint8_t(FInsertTabs);
  for (int i = 1; i <= tabs; ++i) {
    t += '\t';
    if (FInsertColon == i) t += ":";
  }
  if (FInsertTabs == 0 && !Caption().empty()) t += ' ';
  std::string value = KitSysInfo(FInfo, uint32_t(FDividerValue), FDateTimeFormat);
  if (IsRefreshItem(FInfo) && FRefreshTick) {
    if (value == FLastValue) {
      FRefreshTick = false;
      return false;
    }
    FLastValue = value;
  }
  if (IsNumericItem(FInfo, true) && !FNumberFormat.empty())
    value = KitApplyDigitMask(value, FNumberFormat);
  t += value;
  FRefreshTick = false;
  FText = t;
  return true;
}

void TKitInformationLabel::GetLabelText(std::string& Text) {
  if (FBevel) BuildText();
  Text = FText;
}

void TKitInformationLabel::Refresh() {
  TKitTimerItem* t = KitApplication->GetTimer(FTimerId);
  if (!t || !t->Enabled()) return;
  FRefreshTick = true;
  if (BuildText()) PropChanged(nullptr);
}

void TKitInformationLabel::PropChanged(fw::TObject*) {
  AdjustLabelBounds();
  Invalidate();
}

void TKitInformationLabel::SetInfo(TKitInfoType Value) {
  if (FInfo == Value) return;
  FInfo = Value;
  if (TKitTimerItem* t = KitApplication->GetTimer(FTimerId)) {
    if (IsRefreshItem(Value)) {
      t->SetInterval(Value == itCurrentDateTime ? 1000 : 250);
      t->SetEnabled(true);
    } else {
      t->SetEnabled(false);
    }
  }
  PropChanged(nullptr);
}

void TKitInformationLabel::SetUseStandardCaption(bool Value) {
  if (FUseStandardCaption == Value) return;
  FUseStandardCaption = Value;
  PropChanged(nullptr);
}

void TKitInformationLabel::SetInsertColon(int8_t Value) {
  if (FInsertColon == Value) return;
  FInsertColon = Value;
  PropChanged(nullptr);
}

void TKitInformationLabel::SetInsertTabs(int8_t Value) {
  if (FInsertTabs == Value) return;
  FInsertTabs = Value;
  PropChanged(nullptr);
}

void TKitInformationLabel::SetDividerValue(int32_t Value) {
  if (FDividerValue == Value) return;
  FDividerValue = Value;
  PropChanged(nullptr);
}

void TKitInformationLabel::SetDateTimeFormat(const std::string& Value) {
  if (FDateTimeFormat == Value) return;
  FDateTimeFormat = Value;
  if (FInfo == itCurrentDateTime) PropChanged(nullptr);
}

void TKitInformationLabel::SetNumberFormat(const std::string& Value) {
  if (FNumberFormat == Value) return;
  FNumberFormat = Value;
  if (IsNumericItem(FInfo, false)) PropChanged(nullptr);
}

void TKitInformationLabel::AdjustLabelBounds() {
  if (!AutoSize() || ComponentState().Contains(fw::csReading) || Loading() || !FBevel) return;
  // The text is built afresh for the measure.
  fw::TRect r = MeasureLabel(FFont3D.get(), OptionFlags(), FBevel->Extent());
  SetBounds(Left(), Top(), r.Right, r.Bottom);
}

void TKitInformationLabel::Paint() {
  if (FPainting || Loading() || !CanvasBound()) return;
  BuildText();
  FPainting = true;
  auto done = fw::Finally([&] { FPainting = false; });
  fw::TCanvas* c = Canvas();
  fw::TRect r = BeginTextPaint();
  fw::TRect inner;
  FBevel->PaintBevel(c, r, inner, Transparent());
  r = inner;
  uint32_t format = 0;
  if (!MultiLine()) {
    format |= plat::DT_SINGLELINE;
  } else if (Alignment() >= agCenterLeft) {
    r = AlignedText(FText, FFont3D.get(), format, r);
  }
  format = TextFormat(format);
  c->Brush()->SetColor(Color());
  c->Font()->SetColor(Font()->Color());
  KitDraw3DText(c, FText, FFont3D.get(), nullptr, Enabled() ? kteEnabled : 0x01, format, r);
}

}  // namespace vexa
