#include "components/Kit3DCaption.h"

namespace vexa {

void TKit3DCaption::CopyCaption(const TKit3DCaption& s) {
  FDisabledStyle = s.FDisabledStyle;
  FLightDepth = s.FLightDepth;
  FShadowDepth = s.FShadowDepth;
  FLightColor = s.FLightColor;
  FShadowColor = s.FShadowColor;
  FStyle = s.FStyle;
  FTracing = s.FTracing;
  // A copy that kept its own light direction would draw differently.
  FOrientation = s.FOrientation;
}

void TKit3DCaption::Assign(fw::TPersistent* Source) {
  if (Source == this) return;
  if (auto* s = dynamic_cast<TKit3DCaption*>(Source)) {
    CopyCaption(*s);
    NotifyChange();
    return;
  }
  TKitObject::Assign(Source);
}

void TKit3DCaption::GetDisplayString(std::string& Text) {
  static const char* const kStyles[] = {
      "Disabled", "sunken", "raised", "sunken shadow", "raised shadow", "PColor sunken",
      "PColor raised", "shadow", "outline", "extrude", "extrude enh"};
  unsigned i = unsigned(FStyle);
  Text = std::string("{") + (i < 11 ? kStyles[i] : "") + "}";
}

}  // namespace vexa
