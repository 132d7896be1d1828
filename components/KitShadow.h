// A drop shadow: colour, depth and style.
#pragma once

#include <cstdint>
#include <string>

#include "components/KitObject.h"
#include "framework/Graphics.h"

namespace vexa {

enum TKitShadowStyle { hssNone, hssSolid, hssTracing };
using TKitShadowDepth = uint8_t;  // 0..40

class TKitShadow : public TKitObject {
public:
  TKitShadow() = default;

  // From another shadow: style, colour and depth, one change event.
  void Assign(fw::TPersistent* Source) override;
  // "{Disabled}", "{solid, <depth>}" or "{tracing, <depth>}".
  void GetDisplayString(std::string& Text) override;

  fw::TColor Color() const { return FColor; }
  void SetColor(fw::TColor Value) { SetField(FColor, Value); }
  TKitShadowDepth Depth() const { return FDepth; }
  // Kept within 0..40.
  void SetDepth(TKitShadowDepth Value);
  TKitShadowStyle Style() const { return FStyle; }
  void SetStyle(TKitShadowStyle Value) { SetField(FStyle, Value); }

protected:
  fw::TColor FColor = fw::clBtnShadow;
  TKitShadowDepth FDepth = 6;
  TKitShadowStyle FStyle = hssSolid;
};

}  // namespace vexa
