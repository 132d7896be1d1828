// The graphic control with a picture source: a link to an image list (image
// and list index select its picture) and an owned bitmap effect object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "components/KitBitmapEffectObject.h"
#include "components/KitControl.h"
#include "components/KitFiler.h"
#include "components/KitPictureSource.h"
#include "components/kitcont.h"
#include "components/kitimage.h"

namespace vexa {

class TKitBaseControl : public TKitControl, public TKitPictureSource {
public:
  explicit TKitBaseControl(fw::TComponent* AOwner);
  ~TKitBaseControl() override;

  void WndProc(fw::TMessage& Message) override;

  TKitBitmapEffectObject* Effects() const { return FEffects.get(); }
  void SetEffects(TKitBitmapEffectObject* Value) { FEffects->Assign(Value); }

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
  std::unique_ptr<TKitBitmapEffectObject> FEffects;
};

}  // namespace vexa
