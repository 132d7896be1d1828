#include "components/KitCustomComponent.h"

namespace vexa {

void TKitCustomComponent::NotifyChange() {
  if (!FUpdating && OnChange) OnChange(this);
}

void TKitCustomComponent::SubObjectChanged(fw::TObject*) { NotifyChange(); }

void TKitCustomComponent::DefineProperties(TKitFiler*) {}

void TKitCustomComponent::EndUpdate(bool Notify) {
  FUpdating = false;
  if (Notify) NotifyChange();
}

}  // namespace vexa
