// A panel with a bevel border; its children align inside the border.
#pragma once

#include <memory>

#include "components/KitBevel.h"
#include "components/KitCustomPanel.h"

namespace vexa {

// Extended window style of a sunken client edge.
constexpr plat::DWORD KitWsExClientEdge = 0x00000200;

class TKitCustomBevelPanel : public TKitCustomPanel {
public:
  explicit TKitCustomBevelPanel(fw::TComponent* AOwner);
  ~TKitCustomBevelPanel() override;

  TKitBevel* Bevel() const { return FBevel.get(); }
  void SetBevel(TKitBevel* Value) { FBevel->Assign(Value); }

  void Paint() override;
  void PropChanged(fw::TObject* Sender) override;
  bool NeedsDesignFrame() override;
  void DoMouseEnter() override;
  void DrawHotFrame() override;
  void DrawFlatFrame() override;

protected:
  void CreateParams(fw::TCreateParams& Params) override;
  void AlignControls(fw::TControl* AControl, fw::TRect& R) override;
  void DoEnter() override;
  // In window-border mode the window is made again for its new edge.
  void Ctl3DChanged() override;

private:
  std::unique_ptr<TKitBevel> FBevel;
};

}  // namespace vexa
