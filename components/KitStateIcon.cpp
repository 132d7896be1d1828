#include "components/KitStateIcon.h"

#include "platform/gdi/Gdi.h"

namespace vexa {

void AddStateIcon(TKitGraphicList* List, const char* Name, fw::TColor Edge, fw::TColor Spot,
                  bool FourBit) {
  fw::TBitmap image;
  image.SetSize(16, 16);
  fw::TCanvas* c = image.Canvas();
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const bool edge = x == 0 || y == 0 || x == 15 || y == 15;
      c->SetPixels(x, y, edge ? Edge : fw::clSilver);
    }
  }
  // Rows of the spot around (8, 8): 1 + 5 + 5 + 7 + 5 + 5 + 1 pixels.
  const int halfWidth[7] = {0, 2, 2, 3, 2, 2, 0};
  for (int r = 0; r < 7; ++r) {
    for (int x = 8 - halfWidth[r]; x <= 8 + halfWidth[r]; ++x) c->SetPixels(x, 5 + r, Spot);
  }
  if (FourBit) image.SetPixelFormat(fw::pf4bit);
  fw::TBitmap mask;
  mask.SetSize(16, 16);
  mask.Canvas()->Brush()->SetColor(fw::clBlack);
  mask.Canvas()->FillRect(fw::Rect(0, 0, 16, 16));
  mask.SetMonochrome(true);
  plat::ICONINFO info;
  info.fIcon = true;
  info.hbmMask = mask.Handle();
  info.hbmColor = image.Handle();
  fw::TIcon icon;
  icon.SetHandle(plat::CreateIconIndirect(&info));
  TKitGraphicListItem* item = List->Graphics()->Add();
  item->SetName(Name);
  item->Picture()->SetIcon(&icon);
}

}  // namespace vexa
