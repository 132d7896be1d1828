// The graphic control with a picture source: a link to an image list (image
// and list index select its picture) and an owned bitmap effect object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "components/KitBitmapEffectObject.h"
#include "components/KitControl.h"
#include "components/KitFiler.h"
#include "components/kitcont.h"
#include "components/kitimage.h"

namespace vexa {

class TKitBaseControl : public TKitControl {
public:
  explicit TKitBaseControl(fw::TComponent* AOwner);
  ~TKitBaseControl() override;

  void WndProc(fw::TMessage& Message) override;

  TKitCustomImageList* ImageList() const { return FImageList; }
  void SetImageList(TKitCustomImageList* Value);
  int32_t ListIndex() const { return FListIndex; }
  void SetListIndex(int32_t Value) { FListIndex = Value; }
  int32_t ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int32_t Value) { FImageIndex = Value; }
  TKitBitmapEffectObject* Effects() const { return FEffects.get(); }
  void SetEffects(TKitBitmapEffectObject* Value) { FEffects->Assign(Value); }
  TKitChangeLink* ChangeLink() const { return FChangeLink.get(); }

  // True without image list or without a graphic at (ImageIndex, ListIndex).
  bool IsGlyphEmpty() const;

  // "Internal": a reference to one of the shared lists when ImageList is one.
  virtual void DefineProperties(TKitFiler* Filer);
  virtual bool ParentBackAvailable();
  virtual void ImageListChanged(fw::TObject* Sender);

protected:
  void Loaded() override;
  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;

private:
  TKitCustomImageList* FImageList = nullptr;
  int32_t FListIndex = 0;
  int32_t FImageIndex = 0;
  std::unique_ptr<TKitChangeLink> FChangeLink;
  std::unique_ptr<TKitBitmapEffectObject> FEffects;
};

}  // namespace vexa
