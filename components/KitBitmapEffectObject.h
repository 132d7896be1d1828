// Effects a control can apply to its own image: mirrored, grey, inverted,
// brightened or darkened, and blended with a fill; and the pipeline that
// applies them in a 24-bit work bitmap, optionally keeping the result.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/KitAlphaObject.h"
#include "components/KitObject.h"
#include "components/kitbmp.h"

namespace vexa {

using TKitBrightness = int32_t;  // -255..255

class TKitBitmapEffectObject : public TKitObject {
public:
  TKitBitmapEffectObject();
  ~TKitBitmapEffectObject() override;

  void Assign(fw::TPersistent* Source) override;
  // "{alpha,FV,FH,GS,INV,B}" with the active settings, "{Disabled}" for none.
  void GetDisplayString(std::string& Text) override;
  // Inherited handling, then the buffer is no longer valid.
  void SubObjectChanged(fw::TObject* Sender) override;

  bool IsActive() const;
  // The free notification of AComponent: the alpha blend lets a freed list go.
  void ImageListRemoved(fw::TComponent* AComponent);
  void InvalidateBuffer() { FBufferValid = false; }
  bool BufferValid() const { return FBufferValid; }

  TKitAlphaObject* AlphaBlend() const { return FAlphaBlend.get(); }
  void SetAlphaBlend(TKitAlphaObject* Value) { FAlphaBlend->Assign(Value); }
  bool FlipVertical() const { return FFlags[0]; }
  void SetFlipVertical(bool Value) { SetFlag(0, Value); }
  bool FlipHorizontal() const { return FFlags[1]; }
  void SetFlipHorizontal(bool Value) { SetFlag(1, Value); }
  bool GrayScale() const { return FFlags[2]; }
  void SetGrayScale(bool Value) { SetFlag(2, Value); }
  bool Invert() const { return FFlags[3]; }
  void SetInvert(bool Value) { SetFlag(3, Value); }
  bool Buffered() const { return FFlags[4]; }
  void SetBuffered(bool Value) { SetFlag(4, Value); }
  TKitBrightness Brightness() const { return FBrightness; }
  void SetBrightness(TKitBrightness Value);

  // The buffer bitmap (null unless Buffered).
  fw::TBitmap* BufferBitmap() const { return FBuffer.get(); }
  void SetBufferValid(bool Value) { FBufferValid = Value; }

private:
  void SetFlag(int Index, bool Value);

  std::unique_ptr<TKitAlphaObject> FAlphaBlend;
  bool FFlags[5] = {false, false, false, false, false};
  TKitBrightness FBrightness = 0;
  std::unique_ptr<fw::TBitmap> FBuffer;
  bool FBufferValid = false;
};

// Applies the effects to SourceRect of Source inside Work, a 24-bit bitmap two
// pixels wider and higher than SourceRect; EffectRect is Work's whole area.
// The result lies in Work's top-left corner.
void KitApplyBitmapEffects(TKitBitmapEffectObject* Effect, fw::TBitmap* Source,
                           const fw::TRect& SourceRect, const fw::TRect& EffectRect,
                           fw::TBitmap* Work);

}  // namespace vexa
