#include "components/KitGradient.h"

#include <algorithm>

#include "framework/ScopeGuard.h"

namespace vexa {

TKitGradient::TKitGradient() { Rebuild(); }

TKitGradient::~TKitGradient() {
  if (FPalette) plat::DeleteObject(FPalette);
}

void TKitGradient::Rebuild() {
  if (FPalette && plat::DeleteObject(FPalette)) FPalette = 0;
  FColors.clear();
  if (FTwoColors) {
    KitBuildColorList(FColor, FEndColor, uint8_t(FColorCount), true, &FColors);
  } else if (FPoints.size() > 1) {
    size_t n = FPoints.size();
    uint8_t run = uint8_t(size_t(FColorCount) / n);
    KitBuildColorList(FPoints[0], FPoints[1], run, true, &FColors);
    for (size_t i = 1; i + 1 < n; ++i)
      KitBuildColorList(FPoints[i], FPoints[i + 1], run, false, &FColors);
  }
  if (FPaletteRealize) {
    plat::HPALETTE p = KitCreateListPalette(&FColors);
    if (p) FPalette = p;
  }
}

void TKitGradient::NotifyChange() {
  Rebuild();
  TKitObject::NotifyChange();
}

void TKitGradient::SetColor(fw::TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Rebuild();
  NotifyChange();
}

void TKitGradient::SetColorCount(TKitColorCount Value) {
  SetField(FColorCount, std::clamp(Value, 2, 236));
}

void TKitGradient::Assign(fw::TPersistent* Source) {
  auto* s = KitAssignSource(this, Source, [&] { TKitObject::Assign(Source); });
  if (!s) return;
  BeginUpdate();
  SetColorCount(s->FColorCount);
  SetColor(s->FColor);
  SetStyle(s->FStyle);
  SetEndColor(s->FEndColor);
  SetPaletteRealize(s->FPaletteRealize);
  SetTwoColors(s->FTwoColors);
  FPoints = s->FPoints;
  EndUpdate(true);
}

void TKitGradient::GetDisplayString(std::string& Text) {
  static const char* const kStyles[] = {"horizontal", "vertical",     "square",
                                        "elliptic",   "top left",     "top right",
                                        "bottom left", "bottom right", "top left diag",
                                        "top right diag"};
  unsigned i = unsigned(FStyle);
  Text = std::string(i < 10 ? kStyles[i] : "") + ", Col: " + std::to_string(FColorCount) +
         (FTwoColors ? ", 2 col mode" : ", mult. col mode");
}

void TKitGradient::DefineProperties(TKitFiler* Filer) {
  TKitObject::DefineProperties(Filer);
  Filer->DefineProperty(
      "ColorList",
      [this](TKitReader* Reader) {
        // Points read are appended to those already held; one rebuild at the end,
        // also when the stored list turns out damaged.
        BeginUpdate();
        auto done = fw::Finally([&] { EndUpdate(true); });
        Reader->ReadListBegin();
        while (!Reader->EndOfList()) FPoints.push_back(Reader->ReadInteger());
        Reader->ReadListEnd();
      },
      [this](TKitWriter* Writer) {
        Writer->WriteListBegin();
        for (fw::TColor c : FPoints) Writer->WriteInteger(c);
        Writer->WriteListEnd();
      },
      !FPoints.empty());
}

}  // namespace vexa
