#include "components/KitBitmapEffectObject.h"

namespace vexa {

TKitBitmapEffectObject::TKitBitmapEffectObject()
    : FAlphaBlend(std::make_unique<TKitAlphaObject>()) {
  FAlphaBlend->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
}

TKitBitmapEffectObject::~TKitBitmapEffectObject() { FAlphaBlend->OnChange = nullptr; }

void TKitBitmapEffectObject::Assign(fw::TPersistent* Source) {
  auto* s = KitAssignSource(this, Source, [&] { TKitObject::Assign(Source); });
  if (!s) return;
  for (int i = 0; i < 4; ++i) FFlags[i] = s->FFlags[i];
  FBrightness = s->FBrightness;
  SetBuffered(s->Buffered());
  FAlphaBlend->Assign(s->FAlphaBlend.get());
}

void TKitBitmapEffectObject::ImageListRemoved(fw::TComponent* AComponent) {
  TKitAlphaObject* a = FAlphaBlend.get();
  if (a->ImageList() && AComponent == a->ImageList()) a->SetImageList(nullptr);
}

void TKitBitmapEffectObject::GetDisplayString(std::string& Text) {
  static const char* const names[] = {"FV", "FH", "GS", "INV"};
  std::string s;
  auto add = [&](const char* n) {
    if (!s.empty()) s += ",";
    s += n;
  };
  if (FAlphaBlend->FillObject()->Style() != sfNone) add("alpha");
  for (int i = 0; i < 4; ++i)
    if (FFlags[i]) add(names[i]);
  if (FBrightness != 0) add("B");
  Text = "{" + (s.empty() ? std::string("Disabled") : s) + "}";
}

void TKitBitmapEffectObject::SubObjectChanged(fw::TObject* Sender) {
  TKitObject::SubObjectChanged(Sender);
  FBufferValid = false;
}

bool TKitBitmapEffectObject::IsActive() const {
  return FFlags[0] || FFlags[1] || FFlags[2] || FFlags[3] || FBrightness != 0 ||
         FAlphaBlend->IsBlending();
}

void TKitBitmapEffectObject::SetFlag(int Index, bool Value) {
  if (FFlags[Index] == Value) return;
  FFlags[Index] = Value;
  if (Index == 4) {
    FBufferValid = false;
    if (Value) FBuffer = std::make_unique<fw::TBitmap>();
    else FBuffer.reset();
  }
  SubObjectChanged(this);
}

void TKitBitmapEffectObject::SetBrightness(TKitBrightness Value) {
  if (FBrightness == Value) return;
  FBrightness = Value;
  SubObjectChanged(this);
}

void KitApplyBitmapEffects(TKitBitmapEffectObject* Effect, fw::TBitmap* Source,
                           const fw::TRect& SourceRect, const fw::TRect& EffectRect,
                           fw::TBitmap* Work) {
  if (!Effect || !Source || !Work || Work->Empty()) return;
  fw::TBitmap* buffer = Effect->BufferBitmap();
  if (Effect->Buffered() && buffer && Effect->BufferValid()) {
    Work->Canvas()->Draw(0, 0, buffer);
    return;
  }
  const int32_t W = SourceRect.Width(), H = SourceRect.Height();
  Work->Canvas()->CopyRect(fw::TRect{0, 0, W, H}, Source->Canvas(), SourceRect);
  const fw::TPoint origin{EffectRect.Left, EffectRect.Top};
  if (Effect->FlipVertical()) KitBmpMirrorColumns(Work, EffectRect, Work, origin);
  if (Effect->FlipHorizontal()) KitBmpMirrorRows(Work, EffectRect, Work, origin);
  if (Effect->GrayScale()) KitBmpGrayScale(Work, EffectRect, Work, origin);
  if (Effect->Invert()) KitBmpInvert(Work, EffectRect, Work, origin);
  if (Effect->Brightness() != 0)
    KitBmpBrightness(Work, EffectRect, Work, int16_t(Effect->Brightness()), origin);
  TKitAlphaObject* alpha = Effect->AlphaBlend();
  if (alpha->FillObject()->Style() != sfNone) {
    auto fill = std::make_unique<fw::TBitmap>();
    fill->SetPixelFormat(fw::pf24bit);
    fill->SetSize(W + 2, H + 2);
    alpha->FillObject()->FillArea(fill->Canvas(), fw::TRect{0, 0, W + 2, H + 2}, fw::clWhite);
    KitBmpBlend(Work, fill.get(), EffectRect, fw::TPoint{0, 0}, alpha->Strength(), Work, origin);
  }
  if (Effect->Buffered() && buffer) {
    buffer->SetSize(Work->Width(), Work->Height());
    buffer->Canvas()->Draw(0, 0, Work);
    Effect->SetBufferValid(true);
  }
}

}  // namespace vexa
