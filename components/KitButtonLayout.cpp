#include "components/KitButtonLayout.h"

#include <algorithm>

namespace vexa {

void TKitButtonLayout::SetArrowSize(TKitDDArrowSize Value) {
  SetField(FArrowSize, std::clamp(Value, 2, 10));
}

void TKitButtonLayout::Assign(fw::TPersistent* Source) {
  auto* s = KitAssignSource(this, Source, [&] { TKitGlyphTextLayout::Assign(Source); });
  if (!s) return;
  BeginUpdate();
  SetAlignment(s->Alignment());
  SetAlignText2Glyph(s->AlignText2Glyph());
  SetOffsetX(s->OffsetX());
  SetOffsetY(s->OffsetY());
  SetSpacing(s->Spacing());
  FArrow = s->FArrow;
  FArrowIndent = s->FArrowIndent;
  FArrowPosition = s->FArrowPosition;
  FArrowColor = s->FArrowColor;
  FArrowSize = s->FArrowSize;
  EndUpdate(true);
}

}  // namespace vexa
