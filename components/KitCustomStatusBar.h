// The base of the status bar: a bevel panel that tells the labels placed on it
// the gap they keep from their left edge.
#pragma once

#include "components/KitCustomBevelPanel.h"

namespace vexa {

class TKitCustomStatusBar : public TKitCustomBevelPanel {
public:
  using TKitCustomBevelPanel::TKitCustomBevelPanel;
  // Pixels between docked child controls (none here).
  virtual int32_t GetControlGap() { return 0; }
};

}  // namespace vexa
