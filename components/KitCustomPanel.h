// The library's windowed container. A transparent panel passes its ancestors'
// background bitmap on to its own children, through its bitmap effects.
#pragma once

#include "components/KitCustomControl.h"

namespace vexa {

class TKitCustomPanel : public TKitCustomControl {
public:
  explicit TKitCustomPanel(fw::TComponent* AOwner);

  void WndProc(fw::TMessage& Message) override;
  bool HasBackBitmap() override;
  fw::TBitmap* GetBackBitmap() override;
  fw::TPoint MapToBackground(fw::TPoint P) override;
  bool DrawBackBitmap(fw::TCanvas* ACanvas, const fw::TRect& Rect, uint32_t Flags,
                      fw::TPoint Offset) override;

private:
  // The panel's top-left corner in the background bitmap's coordinates.
  fw::TPoint OriginInBackground();
};

}  // namespace vexa
