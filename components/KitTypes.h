// Enumerations shared by the property objects and the drawing routines.
#pragma once

#include <cstdint>

namespace vexa {

enum TKitAlignment {
  agTopLeft, agTopCenter, agTopRight, agCenterLeft, agCenter, agCenterRight, agBottomLeft,
  agBottomCenter, agBottomRight
};

enum TKitTextArrange {
  taLeft,
  taLeftTop,
  taRight,
  taRightTop,
  taTop,
  taTopLeft,
  taBottom,
  taBottomLeft
};

enum TKitArrowPosition { apRightText, apLeftText, apRightGlyph, apLeftGlyph };

enum TKitDisabledStyle { dsAuto, dsStandard, ds3d, dsNone };

enum TKitThreeDStyle {
  tdNone, tdSunken, tdRaised, tdSunkenShadow, tdRaisedShadow, tdPColorSunken, tdPColorRaised,
  tdShadow, tdOutline, tdExtrude, tdExtrudeEnh
};

enum TKitThreeDOrientation { toBottomLeft, toBottomRight, toTopLeft, toTopRight };

enum TKitGradientStyle {
  gstHorizontal, gstVertical, gstSquare, gstElliptic, gstTopLeft, gstTopRight, gstBottomLeft,
  gstBottomRight, gstTopLeftDiagonal, gstTopRightDiagonal
};

// Subranges of the property objects.
using TKitDDArrowSize = int32_t;   // 2..10
using TKitAngle = int32_t;         // 0..359 (360 is kept as 0)
using TKitColorCount = int32_t;    // 2..236

}  // namespace vexa
