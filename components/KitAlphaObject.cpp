#include "components/KitAlphaObject.h"

#include <cstdio>

#include "components/kitshared.h"

namespace vexa {

TKitImageListPictureProc KitImageListPicture;

TKitAlphaObject::TKitAlphaObject()
    : FFillObject(std::make_unique<TKitFillObject>()),
      FChangeLink(std::make_unique<TKitChangeLink>()) {
  FFillObject->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
  FChangeLink->OnChange = [this](fw::TObject*) { ImageListChanged(); };
}

TKitAlphaObject::~TKitAlphaObject() {
  FChangeLink->OnChange = nullptr;
  FChangeLink.reset();  // leaves the list it is registered with
  FFillObject->OnChange = nullptr;
}

void TKitAlphaObject::DefineProperties(TKitFiler* Filer) {
  TKitObject::DefineProperties(Filer);
  DefineSharedListRef(Filer, FImageList, [this](TKitCustomImageList* L) { SetImageList(L); });
}

void TKitAlphaObject::Assign(fw::TPersistent* Source) {
  auto* s = KitAssignSource(this, Source, [&] { TKitObject::Assign(Source); });
  if (!s) return;
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
  FChangeLink->Follow(Value);
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
  // A list that has been freed has dropped the link; it is not asked any more.
  TKitCustomImageList* list = FChangeLink->Sender() == FImageList ? FImageList : nullptr;
  if (list && list->IsValidImage(FListIndex, FImageIndex))
    list->CopyImageToBitmap(FListIndex, FImageIndex, FFillObject->ListBitmap());
  else
    FFillObject->ListBitmap()->Assign(nullptr);
  SubObjectChanged(FFillObject.get());
}

}  // namespace vexa
