#include "components/KitShadow.h"

#include <algorithm>

namespace vexa {

void TKitShadow::Assign(fw::TPersistent* Source) {
  auto* s = dynamic_cast<TKitShadow*>(Source);
  if (!s) {
    TKitObject::Assign(Source);
    return;
  }
  FStyle = s->FStyle;
  FColor = s->FColor;
  FDepth = s->FDepth;
  NotifyChange();
}

void TKitShadow::GetDisplayString(std::string& Text) {
  static const char* const words[] = {"Disabled", "solid", "tracing"};
  Text = words[FStyle];
  if (FStyle != hssNone) Text += ", " + std::to_string(FDepth);
  Text = "{" + Text + "}";
}

void TKitShadow::SetDepth(TKitShadowDepth Value) {
  SetField(FDepth, std::min<TKitShadowDepth>(Value, 40));
}

}  // namespace vexa
