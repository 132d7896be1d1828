#include "components/KitBaseControl.h"

namespace vexa {

TKitBaseControl::TKitBaseControl(fw::TComponent* AOwner)
    : TKitControl(AOwner),
      TKitPictureSource(this, [this](fw::TObject* s) { ImageListChanged(s); }),
      FEffects(std::make_unique<TKitBitmapEffectObject>()) {
  FEffects->OnChange = [this](fw::TObject* s) { PropChanged(s); };
}

TKitBaseControl::~TKitBaseControl() {
  FEffects->OnChange = nullptr;
  FEffects.reset();
}

bool TKitBaseControl::IsGlyphEmpty() const { return !HasPicture(); }

bool TKitBaseControl::ParentBackAvailable() { return false; }

void TKitBaseControl::ImageListChanged(fw::TObject* Sender) { PropChanged(Sender); }

void TKitBaseControl::Loaded() {
  TKitControl::Loaded();
  ImageListLoaded();
}

void TKitBaseControl::DefineProperties(TKitFiler* Filer) { DefineImageListRef(Filer); }

void TKitBaseControl::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitControl::Notification(AComponent, Operation);
  if (Operation != fw::opRemove || !AComponent) return;
  ImageListRemoved(AComponent);
  if (!ComponentState().Contains(fw::csDestroying) && FEffects) FEffects->ImageListRemoved(AComponent);
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
