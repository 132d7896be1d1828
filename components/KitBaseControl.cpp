#include "components/KitBaseControl.h"

#include "components/kitshared.h"

namespace vexa {

TKitBaseControl::TKitBaseControl(fw::TComponent* AOwner)
    : TKitControl(AOwner),
      FChangeLink(std::make_unique<TKitChangeLink>()),
      FEffects(std::make_unique<TKitBitmapEffectObject>()) {
  FChangeLink->OnChange = [this](fw::TObject* s) { ImageListChanged(s); };
  FEffects->OnChange = [this](fw::TObject* s) { PropChanged(s); };
}

TKitBaseControl::~TKitBaseControl() {
  FEffects->OnChange = nullptr;
  FEffects.reset();
  FChangeLink->OnChange = nullptr;
  FChangeLink.reset();  // leaves the list it is registered with
}

void TKitBaseControl::SetImageList(TKitCustomImageList* Value) {
  FImageList = Value;
  FChangeLink->Follow(Value, this);
  ImageListChanged(nullptr);
}

bool TKitBaseControl::IsGlyphEmpty() const {
  if (!FImageList) return true;
  return !FImageList->IsValidImage(FListIndex, FImageIndex);
}

bool TKitBaseControl::ParentBackAvailable() { return false; }

void TKitBaseControl::ImageListChanged(fw::TObject* Sender) { PropChanged(Sender); }

void TKitBaseControl::Loaded() {
  TKitControl::Loaded();
  if (IsImageListConnector(FImageList)) ImageListChanged(nullptr);
}

void TKitBaseControl::DefineProperties(TKitFiler* Filer) {
  DefineSharedListRef(Filer, FImageList, [this](TKitCustomImageList* L) { SetImageList(L); });
}

void TKitBaseControl::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitControl::Notification(AComponent, Operation);
  // Compared by address: the list is already past its own destructor here.
  if (Operation != fw::opRemove || !AComponent) return;
  if (FImageList && AComponent == FImageList) SetImageList(nullptr);
  if (!ComponentState().Contains(fw::csDestroying) && FEffects) {
    TKitAlphaObject* a = FEffects->AlphaBlend();
    if (a && a->ImageList() && AComponent == a->ImageList()) a->SetImageList(nullptr);
  }
}

void TKitBaseControl::WndProc(fw::TMessage& Message) {
  if (Message.Msg == CM_KITBACKCHANGED) {
    if (!Loading() && ParentBackAvailable()) PropChanged(nullptr);
    FEffects->InvalidateBuffer();
    return;
  }
  TKitControl::WndProc(Message);
}

}  // namespace vexa
