// What a component showing one picture of an image list keeps: the list, the
// list and image indexes that select the picture, and the change link through
// which the list's changes reach the component. The controls and the form
// shape take their ImageList, ListIndex and ImageIndex properties from it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "components/KitFiler.h"
#include "components/kitcont.h"
#include "components/kitimage.h"

namespace vexa {

class TKitPictureSource {
public:
  // Follower hears of the list's freeing. Changed runs on each change of the
  // list (the list as sender) and when another list is set (no sender).
  TKitPictureSource(fw::TComponent* Follower, std::function<void(fw::TObject*)> Changed);
  // The link leaves the list it is registered with.
  ~TKitPictureSource();
  TKitPictureSource(const TKitPictureSource&) = delete;
  TKitPictureSource& operator=(const TKitPictureSource&) = delete;

  TKitCustomImageList* ImageList() const { return FImageList; }
  void SetImageList(TKitCustomImageList* Value);
  int32_t ListIndex() const { return FListIndex; }
  void SetListIndex(int32_t Value) { FListIndex = Value; }
  int32_t ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int32_t Value) { FImageIndex = Value; }
  TKitChangeLink* ChangeLink() const { return FChangeLink.get(); }
  // A list is set and holds a picture at (ListIndex, ImageIndex).
  bool HasPicture() const {
    return FImageList && FImageList->IsValidImage(FListIndex, FImageIndex);
  }

protected:
  // The free notification of AComponent: a freed list is let go. Compared by
  // address, as the list is already past its own destructor.
  void ImageListRemoved(fw::TComponent* AComponent);
  // "Internal": a reference to one of the shared lists when ImageList is one.
  void DefineImageListRef(TKitFiler* Filer);
  // After loading: a connector's entries were read after it was set.
  void ImageListLoaded();

private:
  fw::TComponent* FFollower;
  std::function<void(fw::TObject*)> FChanged;
  TKitCustomImageList* FImageList = nullptr;
  int32_t FListIndex = 0;
  int32_t FImageIndex = 0;
  std::unique_ptr<TKitChangeLink> FChangeLink;
};

}  // namespace vexa
