#include "components/KitBaseControl.h"

namespace vexa {

TKitImageListAccess KitImageListAccess;

namespace {
fw::TComponent* ListComponent(TKitCustomImageList* List) {
  return List && KitImageListAccess.AsComponent ? KitImageListAccess.AsComponent(List) : nullptr;
}
}  // namespace

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
  if (FImageList && KitImageListAccess.RemoveLink) {
    KitImageListAccess.RemoveLink(FImageList, FChangeLink.get());
  }
  FChangeLink.reset();
}

void TKitBaseControl::SetImageList(TKitCustomImageList* Value) {
  if (FImageList && KitImageListAccess.RemoveLink) {
    KitImageListAccess.RemoveLink(FImageList, FChangeLink.get());
  }
  FImageList = Value;
  if (Value) {
    if (KitImageListAccess.AddLink) KitImageListAccess.AddLink(Value, FChangeLink.get());
    if (auto* c = ListComponent(Value)) c->FreeNotification(this);
  }
  ImageListChanged(nullptr);
}

bool TKitBaseControl::IsGlyphEmpty() const {
  if (!FImageList) return true;
  return !KitImageListAccess.HasGraphic ||
         !KitImageListAccess.HasGraphic(FImageList, FImageIndex, FListIndex);
}

bool TKitBaseControl::ParentBackAvailable() { return false; }

void TKitBaseControl::ImageListChanged(fw::TObject* Sender) { PropChanged(Sender); }

void TKitBaseControl::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitControl::Notification(AComponent, Operation);
  if (Operation != fw::opRemove || !AComponent) return;
  if (FImageList && AComponent == ListComponent(FImageList)) SetImageList(nullptr);
  if (!ComponentState().Contains(fw::csDestroying) && FEffects) {
    TKitAlphaObject* a = FEffects->AlphaBlend();
    if (a && a->ImageList() && AComponent == ListComponent(a->ImageList())) a->SetImageList(nullptr);
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
