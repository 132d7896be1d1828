// Colour routines of the drawing unit: blending two colours, runs of colours
// between two colours, and a logical palette of a colour list.
#pragma once

#include <cstdint>
#include <vector>

#include "components/KitTypes.h"
#include "framework/Graphics.h"

namespace vexa {

using TKitColorList = std::vector<fw::TColor>;

// Per component round(Step * (B - A) / Steps + A), halves to even; A and B are
// taken as plain RGB. Steps of 0 or less give A; Step is kept within 0..Steps.
fw::TColor KitBlendColor(fw::TColor A, fw::TColor B, int32_t Step, int32_t Steps);

// Appends Count colours from StartColor to EndColor inclusive (system colours
// turned into RGB first). Clear empties the list first; without it the first
// colour is left out, as the caller already holds it. Nothing for a null list
// or a count of 0.
void KitBuildColorList(fw::TColor StartColor, fw::TColor EndColor, uint8_t Count, bool Clear,
                       TKitColorList* List);

// A logical palette (version 0x300) with one PC_NOCOLLAPSE entry per colour;
// 0 for a null or empty list. The caller deletes it.
plat::HPALETTE KitCreateListPalette(const TKitColorList* List);

}  // namespace vexa
