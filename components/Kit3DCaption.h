// The 3D effect of a text.
#pragma once

#include <cstdint>
#include <string>

#include "components/KitObject.h"
#include "components/KitTypes.h"
#include "framework/Graphics.h"

namespace vexa {

class TKit3DCaption : public TKitObject {
public:
  TKit3DCaption() = default;
  // From a caption (or a descendant): every published value, then one change event.
  void Assign(fw::TPersistent* Source) override;
  // "{" + the style's text + "}".
  void GetDisplayString(std::string& Text) override;

  TKitDisabledStyle DisabledStyle() const { return FDisabledStyle; }
  void SetDisabledStyle(TKitDisabledStyle Value) { SetField(FDisabledStyle, Value); }
  uint8_t LightDepth() const { return FLightDepth; }
  void SetLightDepth(uint8_t Value) { SetField(FLightDepth, Value); }
  uint8_t ShadowDepth() const { return FShadowDepth; }
  void SetShadowDepth(uint8_t Value) { SetField(FShadowDepth, Value); }
  fw::TColor LightColor() const { return FLightColor; }
  void SetLightColor(fw::TColor Value) { SetField(FLightColor, Value); }
  fw::TColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(fw::TColor Value) { SetField(FShadowColor, Value); }
  TKitThreeDStyle Style() const { return FStyle; }
  void SetStyle(TKitThreeDStyle Value) { SetField(FStyle, Value); }
  TKitThreeDOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TKitThreeDOrientation Value) { SetField(FOrientation, Value); }
  int32_t Tracing() const { return FTracing; }
  void SetTracing(int32_t Value) { SetField(FTracing, Value); }

protected:
  // Copies the published values without notifying.
  void CopyCaption(const TKit3DCaption& Source);

  TKitDisabledStyle FDisabledStyle = dsAuto;
  uint8_t FLightDepth = 1;
  uint8_t FShadowDepth = 1;
  fw::TColor FLightColor = fw::clBtnHighlight;
  fw::TColor FShadowColor = fw::clBtnShadow;
  TKitThreeDStyle FStyle = tdNone;
  TKitThreeDOrientation FOrientation = toTopLeft;
  int32_t FTracing = 0;
};

}  // namespace vexa
