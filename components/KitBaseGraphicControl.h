// The graphic control that can be transparent: it then takes its background
// from what its parent (a panel or the form's shape) supplies.
#pragma once

#include "components/KitBaseControl.h"

namespace vexa {

class TKitBaseGraphicControl : public TKitBaseControl {
public:
  explicit TKitBaseGraphicControl(fw::TComponent* AOwner);

  void WndProc(fw::TMessage& Message) override;
  // At design time the dashed outline; descendants paint the content.
  void Paint() override;
  void PropChanged(fw::TObject* Sender) override;
  bool ParentBackAvailable() override;

  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);

  // Invalidates a transparent (or designed) control; paints an opaque one at
  // once on its canvas (when the canvas is bound to a surface).
  void RepaintNow();
  void DrawDesignFrame();
  // Fills the client area with Color.
  void FillClientArea();

protected:
  // True while a descendant's paint routine runs.
  bool FPainting = false;

private:
  bool FTransparent = true;
};

}  // namespace vexa
