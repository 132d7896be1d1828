// The small state icons the programs show in their tray icon and windows.
#pragma once

#include "components/kitimage.h"
#include "framework/Graphics.h"

namespace vexa {

// Adds a 16 x 16 icon named Name to List: a square framed in Edge with a round
// spot of 29 pixels in Spot, opaque everywhere. With FourBit the image is kept
// at 4 bits per pixel (every colour must then be one of the 16 standard ones).
void AddStateIcon(TKitGraphicList* List, const char* Name, fw::TColor Edge, fw::TColor Spot,
                  bool FourBit);

}  // namespace vexa
