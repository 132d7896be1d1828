// How an area is filled: a brush, a brush pattern bitmap, a bitmap placed by a
// tile mode, a picture taken from an image list, or a gradient.
#pragma once

#include <memory>
#include <string>

#include "components/KitGradient.h"
#include "components/KitObject.h"
#include "framework/Graphics.h"

namespace vexa {

enum TKitFillStyle { sfNone, sfBrushBitmap, sfBrush, sfBitmap, sfBitmapList, sfGradient };
enum TKitTileMode { tmNone, tmCenter, tmStretch, tmTile };

class TKitShapeFill : public TKitObject {
public:
  TKitShapeFill();
  ~TKitShapeFill() override;

  // From another shape fill: the bitmaps, the gradient, style and tile mode,
  // with one change event at the end.
  void Assign(fw::TPersistent* Source) override;
  // "{Disabled}", "{Brush}", "{Bitmap}", "{BitmapList}", "{Gradient}"; "{}" for
  // the brush pattern bitmap.
  void GetDisplayString(std::string& Text) override;

  fw::TBitmap* Bitmap() const { return FBitmap.get(); }
  void SetBitmap(fw::TBitmap* Value) { FBitmap->Assign(Value); }
  TKitFillStyle Style() const { return FStyle; }
  virtual void SetStyle(TKitFillStyle Value) { SetField(FStyle, Value); }
  TKitGradient* Gradient() const { return FGradient.get(); }
  void SetGradient(TKitGradient* Value) { FGradient->Assign(Value); }
  TKitTileMode TileMode() const { return FTileMode; }
  void SetTileMode(TKitTileMode Value) { SetField(FTileMode, Value); }

  // The picture taken from an image list for sfBitmapList (no change event).
  fw::TBitmap* ListBitmap() const { return FListBitmap.get(); }
  void SetListBitmap(fw::TBitmap* Value) { FListBitmap->Assign(Value); }

protected:
  std::unique_ptr<fw::TBitmap> FBitmap;
  std::unique_ptr<fw::TBitmap> FListBitmap;
  std::unique_ptr<TKitGradient> FGradient;
  TKitFillStyle FStyle = sfBrush;
  TKitTileMode FTileMode = tmTile;
};

}  // namespace vexa
