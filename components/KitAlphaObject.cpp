#include "components/KitAlphaObject.h"

#include <cstdio>

namespace vexa {

TKitImageListPictureProc KitImageListPicture;

TKitAlphaObject::TKitAlphaObject() : FFillObject(std::make_unique<TKitFillObject>()) {
  FFillObject->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
}

TKitAlphaObject::~TKitAlphaObject() { FFillObject->OnChange = nullptr; }

void TKitAlphaObject::Assign(fw::TPersistent* Source) {
  auto* s = dynamic_cast<TKitAlphaObject*>(Source);
  if (!s) {
    TKitObject::Assign(Source);
    return;
  }
  if (s == this) return;
  BeginUpdate();
  FFillObject->Assign(s->FFillObject.get());
  EndUpdate(false);
  FStrength = s->FStrength;
  FImageIndex = s->FImageIndex;
  FListIndex = s->FListIndex;
  FImageList = s->FImageList;
}

void TKitAlphaObject::GetDisplayString(std::string& Text) {
  if (FFillObject->Style() == sfNone) {
    Text = "{Disabled}";
    return;
  }
  const char* word = "";
  switch (FFillObject->Style()) {
    case sfBrush: word = "brush"; break;
    case sfBitmap:
    case sfBitmapList: word = "bmp"; break;
    case sfGradient: word = "grad"; break;
    default: break;
  }
  char strength[64];
  std::snprintf(strength, sizeof strength, "%.3f", double(FStrength));
  Text = std::string("{Enabled (") + word + "), strength: " + strength + "}";
}

bool TKitAlphaObject::IsBlending() const {
  return FFillObject->Style() != sfNone && FStrength != 1.0f;
}

void TKitAlphaObject::SetImageList(TKitCustomImageList* Value) {
  FImageList = Value;
  ImageListChanged();
}

void TKitAlphaObject::SetImageIndex(int32_t Value) {
  FImageIndex = Value;
  ImageListChanged();
}

void TKitAlphaObject::SetListIndex(int32_t Value) {
  FListIndex = Value;
  ImageListChanged();
}

void TKitAlphaObject::SetStrength(float Value) {
  if (FStrength == Value) return;
  FStrength = Value;
  SubObjectChanged(this);
}

void TKitAlphaObject::ImageListChanged() {
  bool taken = FImageList && KitImageListPicture &&
               KitImageListPicture(FImageList, FListIndex, FImageIndex, FFillObject->ListBitmap());
  if (!taken) FFillObject->ListBitmap()->Assign(nullptr);
  SubObjectChanged(FFillObject.get());
}

}  // namespace vexa
