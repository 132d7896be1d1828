// Placement of a glyph and a text inside a control.
#pragma once

#include <cstdint>

#include "components/KitObject.h"
#include "components/KitTypes.h"

namespace vexa {

class TKitGlyphTextLayout : public TKitObject {
public:
  TKitGlyphTextLayout() = default;
  // From a layout (or a descendant): copies the five values, then notifies once.
  void Assign(fw::TPersistent* Source) override;

  TKitAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TKitAlignment Value) { SetField(FAlignment, Value); }
  TKitTextArrange AlignText2Glyph() const { return FAlignText2Glyph; }
  void SetAlignText2Glyph(TKitTextArrange Value) { SetField(FAlignText2Glyph, Value); }
  int32_t OffsetX() const { return FOffsetX; }
  void SetOffsetX(int32_t Value) { SetField(FOffsetX, Value); }
  int32_t OffsetY() const { return FOffsetY; }
  void SetOffsetY(int32_t Value) { SetField(FOffsetY, Value); }
  int32_t Spacing() const { return FSpacing; }
  void SetSpacing(int32_t Value) { SetField(FSpacing, Value); }

protected:
  TKitAlignment FAlignment = agTopLeft;
  TKitTextArrange FAlignText2Glyph = taRight;
  int32_t FOffsetX = 0;
  int32_t FOffsetY = 0;
  int32_t FSpacing = 2;
};

}  // namespace vexa
