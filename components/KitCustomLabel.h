// The label with a bevel, 3D or rotated text, automatic size and the paint
// routine; TKitLabel publishes it.
#pragma once

#include <memory>

#include "components/KitBaseLabel.h"
#include "components/KitBevel.h"
#include "components/KitFXCaption.h"

namespace vexa {

class TKitCustomLabel : public TKitBaseLabel {
public:
  explicit TKitCustomLabel(fw::TComponent* AOwner);
  ~TKitCustomLabel() override;

  void Paint() override;
  bool IsEmptyTransparent() override;
  void FontChanged(fw::TObject* Sender) override;
  void AdjustLabelBounds() override;

  TKitBevel* Bevel() const { return FBevel.get(); }
  void SetBevel(TKitBevel* Value) { FBevel->Assign(Value); }
  TKitFxCaption* FontFX() const { return FFontFX.get(); }
  void SetFontFX(TKitFxCaption* Value) { FFontFX->Assign(Value); }

private:
  std::unique_ptr<TKitBevel> FBevel;
  std::unique_ptr<TKitFxCaption> FFontFX;
};

}  // namespace vexa
