#include "components/KitCustomScrollBox.h"

#include "components/KitControl.h"
#include "components/KitCustomBevelPanel.h"
#include "components/KitCustomControl.h"
#include "framework/ScopeGuard.h"

namespace vexa {

TKitScrollBoxBevel::TKitScrollBoxBevel() {
  FWindowBorderSupport = true;
  SetMode(bmWindows);
}

TKitCustomScrollBox::TKitCustomScrollBox(fw::TComponent* AOwner)
    : fw::TCustomControl(AOwner),
      FBevel(std::make_unique<TKitScrollBoxBevel>()),
      FNonClientCanvas(std::make_unique<fw::TCanvas>()) {
  FBevel->OnChange = [this](fw::TObject* s) { BevelChanged(s); };
  SetControlStyle(fw::TControlStyle{fw::csAcceptsControls, fw::csCaptureMouse, fw::csClickEvents,
                                    fw::csDoubleClicks, fw::csReplicatable});
  SetBounds(Left(), Top(), 185, 41);
  RecreateWnd();
}

TKitCustomScrollBox::~TKitCustomScrollBox() { FBevel->OnChange = nullptr; }

fw::TRect TKitCustomScrollBox::ClientRect() const {
  const int32_t e = FBevel ? FBevel->Extent() : 0, r = FBevel ? FBevel->ExtentRightBottom() : 0;
  return fw::Rect(0, 0, std::max(0, Width() - e - r), std::max(0, Height() - e - r));
}

void TKitCustomScrollBox::CreateParams(fw::TCreateParams& Params) {
  fw::TCustomControl::CreateParams(Params);
  Params.Style |= plat::WS_CLIPCHILDREN;
  if (FBevel->Mode() == bmWindows) {
    if (FCtl3D) Params.ExStyle |= KitWsExClientEdge;
    else Params.Style |= plat::WS_BORDER;
  }
}

void TKitCustomScrollBox::SetCtl3D(bool Value) {
  if (FCtl3D == Value) return;
  FCtl3D = Value;
  if (FBevel->Mode() == bmWindows) RecreateWnd();
}

void TKitCustomScrollBox::SetColor(fw::TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Perform(fw::CM_COLORCHANGED, 0, 0);
}

void TKitCustomScrollBox::BevelChanged(fw::TObject* Sender) {
  if (Sender == FBevel.get()) {
    RecreateWnd();
    FBevel->SetWindowBorderSupport(true);
    Realign();
  } else if (HandleAllocated()) {
    TKitWindowDC dc(Handle());
    if (dc.DC()) PaintNonClient(dc.DC());
  }
  Invalidate();
}

void TKitCustomScrollBox::PaintNonClient(plat::HDC DC) {
  if (!DC || (Loading() && !Visible())) return;
  FNonClientCanvas->Lock();
  FNonClientCanvas->SetHandle(DC);
  auto done = fw::Finally([&] {
    FNonClientCanvas->SetHandle(0);
    FNonClientCanvas->Unlock();
  });
  fw::TRect inner;
  FBevel->PaintBevel(FNonClientCanvas.get(), fw::Rect(0, 0, Width(), Height()), inner, false);
}

void TKitCustomScrollBox::PaintWindow(plat::HDC DC) {
  if (Loading() || !DC) return;
  FNonClientCanvas->Lock();
  FNonClientCanvas->SetHandle(DC);
  auto done = fw::Finally([&] {
    FNonClientCanvas->SetHandle(0);
    FNonClientCanvas->Unlock();
  });
  if (!DrawBackBitmap(FNonClientCanvas.get(), ClientRect(), 0, fw::Point(0, 0))) {
    FNonClientCanvas->Brush()->SetColor(FColor);
    FNonClientCanvas->Brush()->SetStyle(fw::bsSolid);
    FNonClientCanvas->FillRect(ClientRect());
  }
  if (OnPaintBackground) OnPaintBackground(this);
}

void TKitCustomScrollBox::Paint() {
  if (Loading() || !HandleAllocated()) return;
  {
    TKitWindowDC dc(Handle());
    if (dc.DC()) PaintNonClient(dc.DC());
  }
  TKitWindowDC dc(Handle());
  if (!dc.DC()) return;
  // Client coordinates start inside the bevel.
  plat::POINT old;
  plat::OffsetViewportOrgEx(dc.DC(), FBevel->Extent(), FBevel->Extent(), &old);
  PaintWindow(dc.DC());
  plat::SetViewportOrgEx(dc.DC(), old.x, old.y, nullptr);
}

bool TKitCustomScrollBox::HasBackBitmap() {
  return FTransparent && KitParentHasBackground(Parent());
}

fw::TBitmap* TKitCustomScrollBox::GetBackBitmap() {
  return HasBackBitmap() ? KitParentBackground(Parent()) : nullptr;
}

fw::TPoint TKitCustomScrollBox::OriginInBackground() {
  return KitParentMapToBackground(Parent(), fw::Point(Left(), Top()));
}

fw::TPoint TKitCustomScrollBox::MapToBackground(fw::TPoint P) {
  if (!HasBackBitmap()) return P;
  fw::TPoint o = OriginInBackground();
  // The client area starts exactly the bevel's extent inside the window (the
  // scroll bars never show here); counting a centring offset as well would
  // place the background twice the extent off.
  return fw::Point(o.X + P.X + FBevel->Extent(), o.Y + P.Y + FBevel->Extent());
}

bool TKitCustomScrollBox::DrawBackBitmap(fw::TCanvas* ACanvas, const fw::TRect& Rect, uint32_t,
                                         fw::TPoint Offset) {
  if (Loading() || ComponentState().Contains(fw::csDestroying)) return false;
  fw::TBitmap* back = GetBackBitmap();
  if (!back) return false;
  fw::TPoint o = OriginInBackground();
  const int32_t ax = o.X + FBevel->Extent(), ay = o.Y + FBevel->Extent();
  fw::TRect source{Rect.Left + ax + Offset.X, Rect.Top + ay + Offset.Y, Rect.Right + ax + Offset.X,
                   Rect.Bottom + ay + Offset.Y};
  ACanvas->CopyRect(Rect, back->Canvas(), source);
  return true;
}

void TKitCustomScrollBox::ScrollRepaint() {
  FCounter = 0;
  Invalidate();
  KitNotifyControls(this, CM_KITBACKSCROLLED);
}

void TKitCustomScrollBox::WndProc(fw::TMessage& Message) {
  switch (Message.Msg) {
    case plat::WM_ERASEBKGND:
      if (UseBackBitmap()) {
        Message.Result = 1;
        if (ControlCount() < 2) Paint();
        return;
      }
      break;
    case plat::WM_SIZE:
      fw::TCustomControl::WndProc(Message);
      BevelChanged(nullptr);
      return;
    case plat::WM_MOVE:
      fw::TCustomControl::WndProc(Message);
      if (UseBackBitmap()) {
        Repaint();
        KitNotifyControls(this, CM_KITBACKCHANGED);
      }
      return;
    case CM_KITBACKCHANGED:
      Invalidate();
      if (UseBackBitmap()) KitNotifyControls(this, CM_KITBACKCHANGED);
      return;
    case fw::CM_COLORCHANGED:
    case fw::CM_PARENTCOLORCHANGED:
      fw::TCustomControl::WndProc(Message);
      if (!FTransparent && !Loading()) Invalidate();
      return;
    case KitWmHScroll:
    case KitWmVScroll:
      fw::TCustomControl::WndProc(Message);
      if (UseBackBitmap()) {
        if (FThrottle) {
          if (++FCounter >= FThreshold) ScrollRepaint();
        } else if ((Message.WParam & 0xFFFF) == KitSbEndScroll) {
          ScrollRepaint();
        }
      }
      return;
    default: break;
  }
  fw::TCustomControl::WndProc(Message);
}

}  // namespace vexa
