// The parts the programs' main forms build alike: their state icons and their status bar.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "components/KitStatusBar.h"
#include "components/kitimage.h"
#include "framework/Controls.h"
#include "framework/Graphics.h"

namespace vexa {

struct TStateIconSpec {
  const char* Name;
  fw::TColor Spot;
};

// The form's list of state icons, "KitGraphicList1": one icon per state, in
// order, each framed in Edge (see AddStateIcon for FourBit).
TKitGraphicList* MakeStateIcons(fw::TComponent* Form, fw::TColor Edge, bool FourBit,
                                std::initializer_list<TStateIconSpec> States);

struct TStatusPanelSpec {
  int32_t Size;  // 0: the panel's default
  const char* Text;
};

// The form's status bar, "KitStatusBar1", along its bottom: one sunken text
// panel per entry, its text centred on the left.
TKitStatusBar* MakeStatusBar(fw::TWinControl* Form, std::initializer_list<TStatusPanelSpec> Panels);

}  // namespace vexa
