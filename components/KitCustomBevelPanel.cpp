#include "components/KitCustomBevelPanel.h"

namespace vexa {

TKitCustomBevelPanel::TKitCustomBevelPanel(fw::TComponent* AOwner)
    : TKitCustomPanel(AOwner), FBevel(std::make_unique<TKitBevel>()) {
  FBevel->SetWindowBorderSupport(true);
  FBevel->OnChange = [this](fw::TObject* s) { PropChanged(s); };
}

TKitCustomBevelPanel::~TKitCustomBevelPanel() { FBevel->OnChange = nullptr; }

void TKitCustomBevelPanel::CreateParams(fw::TCreateParams& Params) {
  TKitCustomPanel::CreateParams(Params);
  if (FBevel->Mode() == bmWindows) {
    if (Ctl3D()) Params.ExStyle |= KitWsExClientEdge;
    else Params.Style |= plat::WS_BORDER;
  }
}

void TKitCustomBevelPanel::Ctl3DChanged() {
  if (FBevel->Mode() == bmWindows) RecreateWnd();
  else TKitCustomPanel::Ctl3DChanged();
}

void TKitCustomBevelPanel::PropChanged(fw::TObject* Sender) {
  if (Loading()) return;
  if (Sender == FBevel.get()) {
    FBevel->SetWindowBorderSupport(true);
    if (FBevel->TakeRecreateNeeded()) RecreateWnd();
    Realign();
  }
  TKitCustomPanel::PropChanged(Sender);
}

void TKitCustomBevelPanel::AlignControls(fw::TControl* AControl, fw::TRect& R) {
  R = FBevel->InnerRect(R);
  TKitCustomPanel::AlignControls(AControl, R);
}

bool TKitCustomBevelPanel::NeedsDesignFrame() {
  return FBevel->Extent() == 0 && FBevel->Mode() != bmWindows;
}

void TKitCustomBevelPanel::Paint() {
  if (Loading() || !CanvasBound()) return;
  PaintBackground();
  if (Designing() && NeedsDesignFrame()) {
    DrawDesignFrame();
  } else if (Focused() || !Flat() || Designing()) {
    fw::TRect inner;
    FBevel->PaintBevel(Canvas(), ClientRect(), inner, Transparent());
  } else {
    DrawFlatFrame();
  }
}

void TKitCustomBevelPanel::DoEnter() {
  if (!Focused() && Flat()) DrawHotFrame();
  TKitCustomPanel::DoEnter();
}

void TKitCustomBevelPanel::DoMouseEnter() {
  if (!Focused() && Flat() && !HasFocus()) DrawHotFrame();
  TKitCustomPanel::DoMouseEnter();
}

void TKitCustomBevelPanel::DrawHotFrame() {
  if (FBevel->Mode() == bmWindows) {
    TKitCustomPanel::DrawHotFrame();
    return;
  }
  if (!Canvas()->HandleAllocated()) return;
  fw::TRect inner;
  FBevel->PaintBevel(Canvas(), ClientRect(), inner, true);
}

void TKitCustomBevelPanel::DrawFlatFrame() {
  if (Focused() || !Flat() || MouseInside()) return;
  if (FBevel->Mode() == bmWindows) {
    TKitCustomPanel::DrawFlatFrame();
    return;
  }
  if (!Canvas()->HandleAllocated()) return;
  const int32_t e = FBevel->Extent(), r = FBevel->ExtentRightBottom();
  const int32_t w = Width(), h = Height();
  FillRectWithBackground(fw::TRect{0, 0, w, e});
  FillRectWithBackground(fw::TRect{0, e, e, h});
  FillRectWithBackground(fw::TRect{e, h - r - 1, w, h});
  FillRectWithBackground(fw::TRect{w - r, e, w, h - r});
}

}  // namespace vexa
