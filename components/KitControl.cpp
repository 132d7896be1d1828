#include "components/KitControl.h"

#include "framework/ScopeGuard.h"

namespace vexa {

void KitNotifyControls(fw::TWinControl* Parent, fw::UINT Msg, int32_t WParam, int32_t LParam) {
  if (!Parent) return;
  for (int i = 0; i < Parent->ControlCount(); ++i)
    Parent->Controls(i)->Perform(Msg, WParam, LParam);
}

int IndexOfComponentClass(fw::TComponent* Form, bool (*Class)(const fw::TComponent*)) {
  if (!Form || !Class || !dynamic_cast<fw::TForm*>(Form)) return -1;
  for (int i = 0; i < Form->ComponentCount(); ++i) {
    if (Class(Form->Components(i))) return i;
  }
  return -1;
}

TKitControl::TKitControl(fw::TComponent* AOwner)
    : fw::TGraphicControl(AOwner),
      FFont(std::make_unique<fw::TFont>()),
      FCanvas(std::make_unique<fw::TCanvas>()) {
  FFont->OnChange = [this](fw::TObject*) { FontObjectChanged(); };
}

TKitControl::~TKitControl() { FFont->OnChange = nullptr; }

void TKitControl::FontObjectChanged() { Perform(fw::CM_FONTCHANGED, 0, 0); }

void TKitControl::SetColor(fw::TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Perform(fw::CM_COLORCHANGED, 0, 0);
  Invalidate();
}

void TKitControl::PaintOn(plat::HDC DC) {
  plat::POINT old;
  plat::OffsetViewportOrgEx(DC, Left(), Top(), &old);
  FCanvas->SetHandle(DC);
  auto done = fw::Finally([&] {
    FCanvas->SetHandle(0);
    plat::SetViewportOrgEx(DC, old.x, old.y, nullptr);
  });
  Paint();
}

bool TKitControl::CanvasBound() {
  if (FCanvas->HandleAllocated()) return true;
  fw::TWinControl* p = Parent();
  if (!p || !p->HandleAllocated()) return false;
  const fw::HWND h = p->Handle();
  plat::HDC dc = plat::GetDC(h);
  if (!dc) return false;
  {
    auto done = fw::Finally([&] { plat::ReleaseDC(h, dc); });
    PaintOn(dc);
  }
  return false;
}

void TKitControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  const int32_t l = Left(), t = Top(), w = Width(), h = Height();
  fw::TGraphicControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  uint8_t kind = (Left() != l || Top() != t) ? 2 : 0;
  if (Width() != w || Height() != h) kind |= 1;
  if (kind != 0 && !Loading()) DoBoundsChange(kind);
}

void TKitControl::DoBoundsChange(uint8_t Kind) {
  if (OnBoundsChange) OnBoundsChange(this, Kind);
}

void TKitControl::DoMouseEnter() {
  if (Enabled() && OnMouseEnter) OnMouseEnter(this);
}

void TKitControl::DoMouseExit() {
  if (Enabled() && OnMouseExit) OnMouseExit(this);
}

void TKitControl::PropChanged(fw::TObject*) {
  if (!Loading()) Invalidate();
}

bool TKitControl::IsEmptyTransparent() { return true; }

void TKitControl::WndProc(fw::TMessage& Message) {
  fw::TGraphicControl::WndProc(Message);
  if (Message.Msg == fw::CM_MOUSEENTER) DoMouseEnter();
  else if (Message.Msg == fw::CM_MOUSELEAVE) DoMouseExit();
}

}  // namespace vexa
