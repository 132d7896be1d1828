// A label that draws a picture of its image list beside the caption.
#pragma once

#include <memory>

#include "components/Kit3DCaption.h"
#include "components/KitBaseLabel.h"
#include "components/KitBevel.h"
#include "components/KitGlyphTextLayout.h"

namespace vexa {

class TKitCustomGlyphLabel : public TKitBaseLabel {
public:
  explicit TKitCustomGlyphLabel(fw::TComponent* AOwner);
  ~TKitCustomGlyphLabel() override;

  void Paint() override;
  void AdjustLabelBounds() override;
  // The palette of the picture (none without one).
  plat::HPALETTE GetPalette();

  TKitGlyphTextLayout* Layout() const { return FLayout.get(); }
  void SetLayout(TKitGlyphTextLayout* Value) { FLayout->Assign(Value); }
  TKit3DCaption* Font3D() const { return FFont3D.get(); }
  void SetFont3D(TKit3DCaption* Value) { FFont3D->Assign(Value); }
  TKitBevel* Bevel() const { return FBevel.get(); }
  void SetBevel(TKitBevel* Value) { FBevel->Assign(Value); }

private:
  std::unique_ptr<TKitGlyphTextLayout> FLayout;
  std::unique_ptr<TKit3DCaption> FFont3D;
  std::unique_ptr<TKitBevel> FBevel;
};

}  // namespace vexa
