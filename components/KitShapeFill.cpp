#include "components/KitShapeFill.h"

namespace vexa {

TKitShapeFill::TKitShapeFill()
    : FBitmap(std::make_unique<fw::TBitmap>()),
      FListBitmap(std::make_unique<fw::TBitmap>()),
      FGradient(std::make_unique<TKitGradient>()) {
  FBitmap->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
  FGradient->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
}

TKitShapeFill::~TKitShapeFill() {
  FBitmap->OnChange = nullptr;
  FGradient->OnChange = nullptr;
}

void TKitShapeFill::Assign(fw::TPersistent* Source) {
  auto* s = KitAssignSource(this, Source, [&] { TKitObject::Assign(Source); });
  if (!s) return;
  BeginUpdate();
  FBitmap->Assign(s->FBitmap.get());
  FListBitmap->Assign(s->FListBitmap.get());
  FGradient->Assign(s->FGradient.get());
  FStyle = s->FStyle;
  FTileMode = s->FTileMode;
  EndUpdate(true);
}

void TKitShapeFill::GetDisplayString(std::string& Text) {
  static const char* const words[] = {"Disabled", "", "Brush", "Bitmap", "BitmapList", "Gradient"};
  Text = std::string("{") + words[FStyle] + "}";
}

}  // namespace vexa
