// Layout of a button face with an optional drop-down arrow.
#pragma once

#include "components/KitGlyphTextLayout.h"
#include "framework/Graphics.h"

namespace vexa {

class TKitButtonLayout : public TKitGlyphTextLayout {
public:
  TKitButtonLayout() { FAlignment = agCenter; }
  // From a button layout: every value inside one update bracket (one change event).
  void Assign(fw::TPersistent* Source) override;

  bool Arrow() const { return FArrow; }
  void SetArrow(bool Value) { SetField(FArrow, Value); }
  fw::TColor ArrowColor() const { return FArrowColor; }
  void SetArrowColor(fw::TColor Value) { SetField(FArrowColor, Value); }
  int32_t ArrowIndent() const { return FArrowIndent; }
  void SetArrowIndent(int32_t Value) { SetField(FArrowIndent, Value); }
  TKitArrowPosition ArrowPosition() const { return FArrowPosition; }
  void SetArrowPosition(TKitArrowPosition Value) { SetField(FArrowPosition, Value); }
  // Kept within 2..10.
  TKitDDArrowSize ArrowSize() const { return FArrowSize; }
  void SetArrowSize(TKitDDArrowSize Value);

private:
  bool FArrow = false;
  fw::TColor FArrowColor = fw::clBlack;
  int32_t FArrowIndent = 3;
  TKitArrowPosition FArrowPosition = apRightText;
  TKitDDArrowSize FArrowSize = 3;
};

}  // namespace vexa
