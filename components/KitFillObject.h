// A shape fill that paints a rectangle: adds a brush, the placement of an
// untiled bitmap and the fill options.
#pragma once

#include <memory>

#include "components/KitShapeFill.h"
#include "components/KitTypes.h"
#include "framework/Classes.h"
#include "framework/Graphics.h"

namespace vexa {

enum TKitFillOption { foFillInner, foQuickDraw, foGrUseBitmap };
using TKitFillOptions = fw::TSet<TKitFillOption>;

class TKitFillObject : public TKitShapeFill {
public:
  TKitFillObject();
  ~TKitFillObject() override;

  // From another fill object: brush, options, bitmaps, gradient, style and tile
  // mode, one change event at the end; the placement is not copied.
  void Assign(fw::TPersistent* Source) override;

  // Paints Rect by Style; false when nothing was painted (sfNone, or no
  // picture for the bitmap styles). BackColor shows where the fill leaves gaps.
  bool FillArea(fw::TCanvas* Canvas, const fw::TRect& Rect, fw::TColor BackColor);

  TKitAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TKitAlignment Value) { SetPlacement(FAlignment, Value); }
  fw::TBrush* Brush() const { return FBrush.get(); }
  void SetBrush(fw::TBrush* Value) { FBrush->Assign(Value); }
  int32_t OffsetX() const { return FOffsetX; }
  void SetOffsetX(int32_t Value) { SetPlacement(FOffsetX, Value); }
  int32_t OffsetY() const { return FOffsetY; }
  void SetOffsetY(int32_t Value) { SetPlacement(FOffsetY, Value); }
  TKitFillOptions Options() const { return FOptions; }
  void SetOptions(TKitFillOptions Value) { SetField(FOptions, Value); }

private:
  // The placement matters only to an untiled bitmap: store, and notify only then.
  template <class V>
  void SetPlacement(V& Field, const V& Value) {
    if (Field == Value) return;
    Field = Value;
    if ((FStyle == sfBitmap || FStyle == sfBitmapList) && FTileMode == tmNone) NotifyChange();
  }
  void FillBackground(fw::TCanvas* Canvas, const fw::TRect& Rect, fw::TColor BackColor);

  TKitAlignment FAlignment = agTopLeft;
  std::unique_ptr<fw::TBrush> FBrush;
  int32_t FOffsetX = 0;
  int32_t FOffsetY = 0;
  TKitFillOptions FOptions{foFillInner, foGrUseBitmap};
};

}  // namespace vexa
