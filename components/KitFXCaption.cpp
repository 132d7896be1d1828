#include "components/KitFXCaption.h"

namespace vexa {

void TKitFxCaption::SetAngle(TKitAngle Value) {
  Value %= 360;
  if (Value < 0) Value += 360;
  SetField(FAngle, Value);
}

void TKitFxCaption::SetPosition(uint16_t X, uint16_t Y) {
  BeginUpdate();
  SetPosX(X);
  SetPosY(Y);
  EndUpdate(false);
}

void TKitFxCaption::Assign(fw::TPersistent* Source) {
  if (Source == this) return;
  if (auto* s = dynamic_cast<TKitFxCaption*>(Source)) {
    CopyCaption(*s);
    FPosX = s->FPosX;
    FPosY = s->FPosY;
    FAngle = s->FAngle;
    NotifyChange();
    return;
  }
  TKit3DCaption::Assign(Source);
}

void TKitFxCaption::GetDisplayString(std::string& Text) {
  TKit3DCaption::GetDisplayString(Text);
  if (FAngle == 0) return;
  if (Text == "{Disabled}")
    Text = "{";
  else if (!Text.empty())
    Text.back() = ',';
  Text += " rot: " + std::to_string(FAngle) + "\xB0}";
}

}  // namespace vexa
