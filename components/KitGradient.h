// A colour gradient with the colour list (and optional palette) made from it.
#pragma once

#include <string>

#include "components/KitDraw.h"
#include "components/KitObject.h"
#include "components/KitTypes.h"
#include "framework/Graphics.h"

namespace vexa {

class TKitGradient : public TKitObject {
public:
  TKitGradient();
  ~TKitGradient() override;

  // From a gradient: every value and the colour points inside one update bracket.
  void Assign(fw::TPersistent* Source) override;
  // "<style>, Col: <count>, 2 col mode" (or ", mult. col mode").
  void GetDisplayString(std::string& Text) override;
  // Rebuilds the colour list (also inside an update bracket), then notifies.
  void NotifyChange() override;
  // "ColorList": the colour points as a list of integers, stored when there are any.
  void DefineProperties(TKitFiler* Filer) override;

  fw::TColor Color() const { return FColor; }
  void SetColor(fw::TColor Value);
  // Kept within 2..236.
  TKitColorCount ColorCount() const { return FColorCount; }
  void SetColorCount(TKitColorCount Value);
  TKitGradientStyle Style() const { return FStyle; }
  void SetStyle(TKitGradientStyle Value) { SetField(FStyle, Value); }
  fw::TColor EndColor() const { return FEndColor; }
  void SetEndColor(fw::TColor Value) { SetField(FEndColor, Value); }
  bool PaletteRealize() const { return FPaletteRealize; }
  void SetPaletteRealize(bool Value) { SetField(FPaletteRealize, Value); }
  bool TwoColors() const { return FTwoColors; }
  void SetTwoColors(bool Value) { SetField(FTwoColors, Value); }

  // The colour points of the multi-colour mode; call NotifyChange after changing them.
  TKitColorList* ColorPoints() { return &FPoints; }
  // The computed colours (rebuilt after every change).
  const TKitColorList* ColorList() const { return &FColors; }
  // The palette made from the computed colours, 0 unless PaletteRealize.
  plat::HPALETTE GetPalette() const { return FPalette; }

private:
  void Rebuild();

  fw::TColor FColor = fw::clBlue;
  TKitColorCount FColorCount = 16;
  TKitGradientStyle FStyle = gstVertical;
  fw::TColor FEndColor = fw::clBlack;
  bool FPaletteRealize = false;
  bool FTwoColors = true;
  TKitColorList FPoints;
  TKitColorList FColors;
  plat::HPALETTE FPalette = 0;
};

}  // namespace vexa
