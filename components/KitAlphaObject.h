// A fill plus a blending strength and an image-list picture: what a control's
// image is blended with by the bitmap effects.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "components/KitFillObject.h"
#include "components/KitObject.h"
#include "components/kitcont.h"
#include "components/kitimage.h"

namespace vexa {

// Copies the picture at (list index, image index) of an image list into a
// bitmap; false when the list has no such picture. The library's own objects
// ask the list directly; this entry stays for code that installs it.
using TKitImageListPictureProc =
    std::function<bool(TKitCustomImageList* List, int32_t ListIndex, int32_t ImageIndex,
                       fw::TBitmap* Dest)>;
extern TKitImageListPictureProc KitImageListPicture;

class TKitAlphaObject : public TKitObject {
public:
  TKitAlphaObject();
  ~TKitAlphaObject() override;

  // From another alpha object: the fill, strength, indexes and list reference,
  // without a change event (the change link stays with the old list).
  void Assign(fw::TPersistent* Source) override;
  // "Internal": the reference of a shared image list.
  void DefineProperties(TKitFiler* Filer) override;
  // "{Disabled}" or "{Enabled (<word>), strength: 0.600}".
  void GetDisplayString(std::string& Text) override;
  // Blending is in effect: a fill is set and the strength is not exactly 1.
  bool IsBlending() const;

  TKitCustomImageList* ImageList() const { return FImageList; }
  // Moves the change link from the old list to the new one.
  void SetImageList(TKitCustomImageList* Value);
  int32_t ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int32_t Value);
  int32_t ListIndex() const { return FListIndex; }
  void SetListIndex(int32_t Value);
  float Strength() const { return FStrength; }
  void SetStrength(float Value);
  TKitFillObject* FillObject() const { return FFillObject.get(); }
  void SetFillObject(TKitFillObject* Value) { FFillObject->Assign(Value); }

  // Takes the picture again from the list (the list's change link calls it).
  void ImageListChanged();

private:
  TKitCustomImageList* FImageList = nullptr;
  int32_t FImageIndex = 0;
  int32_t FListIndex = 0;
  float FStrength = 0.6f;
  std::unique_ptr<TKitFillObject> FFillObject;
  std::unique_ptr<TKitChangeLink> FChangeLink;
};

}  // namespace vexa
