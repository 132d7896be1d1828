#include "components/KitDraw.h"

#include <algorithm>
#include <cmath>

#include "components/KitDrawing.h"

namespace vexa {

namespace {

uint8_t Blend1(uint8_t a, uint8_t b, int32_t step, int32_t steps) {
  double v = std::nearbyint(double(step) * (double(b) - double(a)) / double(steps) + double(a));
  return uint8_t(std::clamp(v, 0.0, 255.0));
}

}  // namespace

fw::TColor KitBlendColor(fw::TColor A, fw::TColor B, int32_t Step, int32_t Steps) {
  uint32_t a = uint32_t(A) & 0xFFFFFF, b = uint32_t(B) & 0xFFFFFF;
  if (Steps <= 0) return fw::TColor(a);
  Step = std::clamp(Step, 0, Steps);
  return fw::TColor(plat::RGB(Blend1(plat::GetRValue(a), plat::GetRValue(b), Step, Steps),
                              Blend1(plat::GetGValue(a), plat::GetGValue(b), Step, Steps),
                              Blend1(plat::GetBValue(a), plat::GetBValue(b), Step, Steps)));
}

void KitBuildColorList(fw::TColor StartColor, fw::TColor EndColor, uint8_t Count, bool Clear,
                       TKitColorList* List) {
  if (!List || Count == 0) return;
  plat::COLORREF s = fw::ColorToRGB(StartColor), e = fw::ColorToRGB(EndColor);
  int32_t sr = plat::GetRValue(s), sg = plat::GetGValue(s), sb = plat::GetBValue(s);
  int32_t dr = plat::GetRValue(e) - sr, dg = plat::GetGValue(e) - sg, db = plat::GetBValue(e) - sb;
  int32_t first = 0;
  if (Clear)
    List->clear();
  else
    first = 1;
  for (int32_t k = first; k < Count; ++k) {
    if (k == 0) {
      List->push_back(fw::TColor(plat::RGB(uint8_t(sr), uint8_t(sg), uint8_t(sb))));
      continue;
    }
    int32_t n = Count - 1;
    List->push_back(
        fw::TColor(plat::RGB(uint8_t(sr + KitMulDiv(k, dr, n)), uint8_t(sg + KitMulDiv(k, dg, n)),
                             uint8_t(sb + KitMulDiv(k, db, n)))));
  }
}

plat::HPALETTE KitCreateListPalette(const TKitColorList* List) {
  if (!List || List->empty()) return 0;
  plat::LOGPALETTE lp;
  lp.palVersion = 0x300;
  for (fw::TColor c : *List) {
    plat::PALETTEENTRY pe;
    pe.peRed = plat::GetRValue(uint32_t(c));
    pe.peGreen = plat::GetGValue(uint32_t(c));
    pe.peBlue = plat::GetBValue(uint32_t(c));
    pe.peFlags = 4;  // PC_NOCOLLAPSE
    lp.palPalEntry.push_back(pe);
  }
  return plat::CreatePalette(lp);
}

}  // namespace vexa
