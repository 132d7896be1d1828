#include "components/KitGlyphTextLayout.h"

namespace vexa {

void TKitGlyphTextLayout::Assign(fw::TPersistent* Source) {
  if (Source == this) return;
  if (auto* s = dynamic_cast<TKitGlyphTextLayout*>(Source)) {
    FAlignment = s->FAlignment;
    FAlignText2Glyph = s->FAlignText2Glyph;
    FOffsetX = s->FOffsetX;
    FOffsetY = s->FOffsetY;
    FSpacing = s->FSpacing;
    NotifyChange();
    return;
  }
  TKitObject::Assign(Source);
}

}  // namespace vexa
