#include "components/KitCustomControl.h"

#include "components/KitApplication.h"
#include "components/KitCustomScrollBox.h"
#include "components/kitregion.h"
#include "framework/ScopeGuard.h"

namespace vexa {

namespace {
// Frames R in a system colour on DC.
void FrameSys(plat::HDC DC, const plat::RECT& R, int Index) {
  plat::HBRUSH b = plat::CreateSolidBrush(plat::GetSysColor(Index));
  auto done = fw::Finally([&] { plat::DeleteObject(b); });
  plat::FrameRect(DC, &R, b);
}
}  // namespace

TKitCustomControl::TKitCustomControl(fw::TComponent* AOwner)
    : fw::TCustomControl(AOwner),
      TKitPictureSource(this, [this](fw::TObject* s) { ImageListChanged(s); }),
      FFont(std::make_unique<fw::TFont>()),
      FCanvas(std::make_unique<fw::TCanvas>()),
      FEffects(std::make_unique<TKitBitmapEffectObject>()) {
  FFont->OnChange = [this](fw::TObject*) { Perform(fw::CM_FONTCHANGED, 0, 0); };
  FEffects->OnChange = [this](fw::TObject* s) { PropChanged(s); };
  SetBounds(Left(), Top(), 100, 40);
  SetTabStop(false);
}

TKitCustomControl::~TKitCustomControl() {
  fw::TComponent::Destroying();
  FEffects->OnChange = nullptr;
  FEffects.reset();
  FFont->OnChange = nullptr;
}

void TKitCustomControl::SetColor(fw::TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Perform(fw::CM_COLORCHANGED, 0, 0);
  Invalidate();
}

void TKitCustomControl::SetCtl3D(bool Value) {
  if (FCtl3D == Value) return;
  FCtl3D = Value;
  Ctl3DChanged();
}

void TKitCustomControl::Ctl3DChanged() { Invalidate(); }

void TKitCustomControl::PaintOn(plat::HDC DC) {
  FCanvas->SetHandle(DC);
  auto done = fw::Finally([&] { FCanvas->SetHandle(0); });
  Paint();
}

bool TKitCustomControl::CanvasBound() {
  if (FCanvas->HandleAllocated()) return true;
  if (!HandleAllocated()) return false;
  const fw::HWND h = Handle();
  plat::HDC dc = plat::GetDC(h);
  if (!dc) return false;
  {
    auto done = fw::Finally([&] { plat::ReleaseDC(h, dc); });
    PaintOn(dc);
  }
  return false;
}

void TKitCustomControl::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  fw::TCustomControl::Notification(AComponent, Operation);
  if (Operation != fw::opRemove || !AComponent) return;
  ImageListRemoved(AComponent);
  if (!IsDestroying() && FEffects) FEffects->ImageListRemoved(AComponent);
}

void TKitCustomControl::Loaded() {
  fw::TCustomControl::Loaded();
  ImageListLoaded();
}

void TKitCustomControl::DefineProperties(TKitFiler* Filer) { DefineImageListRef(Filer); }

void TKitCustomControl::CreateParams(fw::TCreateParams& Params) {
  fw::TCustomControl::CreateParams(Params);
  Params.Style |= plat::WS_CLIPCHILDREN;
}

bool TKitCustomControl::UseBackBitmap() { return FTransparent && HasBackBitmap(); }

void TKitCustomControl::PaintBackground() {
  if (UseBackBitmap() && DrawBackBitmap(FCanvas.get(), ClientRect(), 0, fw::Point(0, 0))) return;
  FCanvas->Brush()->SetColor(FColor);
  FCanvas->Brush()->SetStyle(fw::bsSolid);
  FCanvas->FillRect(ClientRect());
}

void TKitCustomControl::FillRectWithBackground(const fw::TRect& Rect) {
  if (UseBackBitmap() && DrawBackBitmap(FCanvas.get(), Rect, 0, fw::Point(0, 0))) return;
  FCanvas->Brush()->SetColor(FColor);
  FCanvas->Brush()->SetStyle(fw::bsSolid);
  FCanvas->FillRect(Rect);
}

void TKitCustomControl::PropChanged(fw::TObject*) {
  if (FRepaintOnChange) Invalidate();
}

bool TKitCustomControl::NeedsDesignFrame() { return true; }

void TKitCustomControl::ImageListChanged(fw::TObject* Sender) { PropChanged(Sender); }

void TKitCustomControl::DoMouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
  FMouseInside = true;
}

void TKitCustomControl::DoMouseExit() {
  FMouseInside = false;
  if (!FHasFocus) DrawFlatFrame();
  if (OnMouseExit) OnMouseExit(this);
}

fw::TBitmap* TKitCustomControl::GetBackBitmap() { return nullptr; }
bool TKitCustomControl::HasBackBitmap() { return false; }
bool TKitCustomControl::DrawBackBitmap(fw::TCanvas*, const fw::TRect&, uint32_t, fw::TPoint) {
  return false;
}
fw::TPoint TKitCustomControl::MapToBackground(fw::TPoint P) { return P; }

plat::HPALETTE TKitCustomControl::GetBackPalette() {
  if (HasBackBitmap()) return 0;
  if (auto* p = dynamic_cast<TKitCustomControl*>(Parent())) {
    fw::TBitmap* b = p->GetBackBitmap();
    return b ? b->Palette() : 0;
  }
  return 0;
}

void TKitCustomControl::DrawHotFrame() {
  if (!HandleAllocated()) return;
  TKitWindowDC dc(Handle());
  if (!dc.DC()) return;
  const int32_t w = Width(), h = Height();
  if (FCtl3D) {
    FrameSys(dc.DC(), plat::RECT{1, 1, w, h}, plat::COLOR_WINDOWFRAME);
    FrameSys(dc.DC(), plat::RECT{0, 0, w - 1, h - 1}, plat::COLOR_BTNFACE);
    plat::RECT r{0, 0, w, h};
    plat::DrawEdge(dc.DC(), &r, plat::BDR_SUNKENOUTER, plat::BF_RECT | plat::BF_ADJUST);
  } else {
    FrameSys(dc.DC(), plat::RECT{0, 0, w, h}, plat::COLOR_WINDOWFRAME);
  }
}

void TKitCustomControl::DrawFlatFrame() {
  if (Focused() || !FFlat || FMouseInside || !HandleAllocated()) return;
  TKitWindowDC dc(Handle());
  if (!dc.DC()) return;
  plat::RECT r{0, 0, Width(), Height()};
  if (FCtl3D) {
    FrameSys(dc.DC(), r, plat::COLOR_BTNFACE);
    r = plat::RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
  }
  FrameSys(dc.DC(), r, plat::COLOR_BTNFACE);
}

void TKitCustomControl::DrawDesignFrame() {
  FCanvas->Pen()->SetColor(fw::clBlack);
  FCanvas->Pen()->SetStyle(fw::psDash);
  FCanvas->Brush()->SetStyle(fw::bsClear);
  FCanvas->Rectangle(0, 0, Width(), Height());
}

void TKitCustomControl::Paint() {
  if (Loading() || !CanvasBound()) return;
  PaintBackground();
  if (!Designing()) {
    DrawFlatFrame();
  } else if (NeedsDesignFrame()) {
    DrawDesignFrame();
  }
}

void TKitCustomControl::DoEnter() {
  FHasFocus = true;
  if (FFlat) DrawHotFrame();
}

void TKitCustomControl::DoExit() {
  FHasFocus = false;
  DrawFlatFrame();
}

void TKitCustomControl::WndProc(fw::TMessage& Message) {
  // A new size or a new background behind: the effect buffer is stale; a
  // control drawing the background repaints at once and tells its children.
  auto backChanged = [this] {
    FEffects->InvalidateBuffer();
    if (UseBackBitmap()) {
      Repaint();
      KitNotifyControls(this, CM_KITBACKCHANGED);
    } else {
      Invalidate();
    }
  };
  switch (Message.Msg) {
    case fw::CM_MOUSEENTER:
      fw::TCustomControl::WndProc(Message);
      DoMouseEnter();
      return;
    case fw::CM_MOUSELEAVE:
      fw::TCustomControl::WndProc(Message);
      DoMouseExit();
      return;
    case plat::WM_SETFOCUS:
      fw::TCustomControl::WndProc(Message);
      DoEnter();
      if (HandleAllocated()) plat::PostMessage(Handle(), CM_KITSETFOCUS, 0, 0);
      return;
    case plat::WM_KILLFOCUS:
      DoExit();
      fw::TCustomControl::WndProc(Message);
      if (HandleAllocated()) plat::PostMessage(Handle(), CM_KITKILLFOCUS, 0, 0);
      return;
    case CM_KITSETFOCUS:
      if (OnSetFocus) OnSetFocus(this);
      return;
    case CM_KITKILLFOCUS:
      if (OnKillFocus) OnKillFocus(this);
      return;
    case fw::CM_SYSCOLORCHANGE:
      // An opaque control paints with system colours: draw it again. A
      // transparent one shows its ancestors' background and waits for them.
      fw::TCustomControl::WndProc(Message);
      if (!FTransparent) Invalidate();
      return;
    case plat::WM_ERASEBKGND:
      if (UseBackBitmap()) {
        Message.Result = 1;
        return;
      }
      break;
    case plat::WM_SIZE:
      fw::TCustomControl::WndProc(Message);
      backChanged();
      return;
    case plat::WM_MOVE:
      fw::TCustomControl::WndProc(Message);
      if (UseBackBitmap()) {
        FEffects->InvalidateBuffer();
        Repaint();
      }
      return;
    case CM_KITBACKCHANGED:
      if (!Loading() && !IsDestroying()) backChanged();
      return;
    case CM_KITBACKSCROLLED:
      if (UseBackBitmap()) KitNotifyControls(this, CM_KITBACKCHANGED);
      return;
    default: break;
  }
  fw::TCustomControl::WndProc(Message);
}

TKitFormShape* KitFormShapeOf(fw::TWinControl* Form) {
  auto* form = dynamic_cast<fw::TForm*>(Form);
  if (!form) return nullptr;
  int i = IndexOfComponentClass(form, KitClassOf<TKitFormShape>);
  return i < 0 ? nullptr : static_cast<TKitFormShape*>(form->Components(i));
}

bool KitParentHasBackground(fw::TWinControl* Parent) {
  if (auto* cc = dynamic_cast<TKitCustomControl*>(Parent))
    return cc->HandleAllocated() && cc->HasBackBitmap();
  if (auto* sb = dynamic_cast<TKitCustomScrollBox*>(Parent))
    return sb->HandleAllocated() && sb->HasBackBitmap();
  if (auto* form = dynamic_cast<fw::TForm*>(Parent); form && form->HandleAllocated()) {
    if (TKitFormShape* shape = KitFormShapeOf(form)) return shape->HasFormBackground();
  }
  return false;
}

fw::TBitmap* KitParentBackground(fw::TWinControl* Parent) {
  if (auto* cc = dynamic_cast<TKitCustomControl*>(Parent)) return cc->GetBackBitmap();
  if (auto* sb = dynamic_cast<TKitCustomScrollBox*>(Parent)) return sb->GetBackBitmap();
  if (TKitFormShape* shape = KitFormShapeOf(Parent)) return shape->FormBackground();
  return nullptr;
}

fw::TPoint KitParentMapToBackground(fw::TWinControl* Parent, fw::TPoint P) {
  if (auto* cc = dynamic_cast<TKitCustomControl*>(Parent)) return cc->MapToBackground(P);
  if (auto* sb = dynamic_cast<TKitCustomScrollBox*>(Parent)) return sb->MapToBackground(P);
  return P;
}

}  // namespace vexa
