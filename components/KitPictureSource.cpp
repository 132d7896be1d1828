#include "components/KitPictureSource.h"

#include <utility>

#include "components/kitshared.h"

namespace vexa {

TKitPictureSource::TKitPictureSource(fw::TComponent* Follower,
                                     std::function<void(fw::TObject*)> Changed)
    : FFollower(Follower),
      FChanged(std::move(Changed)),
      FChangeLink(std::make_unique<TKitChangeLink>()) {
  FChangeLink->OnChange = [this](fw::TObject* s) { FChanged(s); };
}

TKitPictureSource::~TKitPictureSource() {
  FChangeLink->OnChange = nullptr;
  FChangeLink.reset();
}

void TKitPictureSource::SetImageList(TKitCustomImageList* Value) {
  FImageList = Value;
  FChangeLink->Follow(Value, FFollower);
  FChanged(nullptr);
}

void TKitPictureSource::ImageListRemoved(fw::TComponent* AComponent) {
  if (FImageList && AComponent == FImageList) SetImageList(nullptr);
}

void TKitPictureSource::DefineImageListRef(TKitFiler* Filer) {
  DefineSharedListRef(Filer, FImageList, [this](TKitCustomImageList* L) { SetImageList(L); });
}

void TKitPictureSource::ImageListLoaded() {
  if (IsImageListConnector(FImageList)) FChanged(nullptr);
}

}  // namespace vexa
