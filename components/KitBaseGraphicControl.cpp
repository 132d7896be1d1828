#include "components/KitBaseGraphicControl.h"

#include "components/KitCustomControl.h"
#include "components/kitregion.h"

namespace vexa {

TKitBaseGraphicControl::TKitBaseGraphicControl(fw::TComponent* AOwner) : TKitBaseControl(AOwner) {
  fw::TControlStyle s = ControlStyle();
  s.Exclude(fw::csOpaque);
  s.Include(fw::csReplicatable);
  SetControlStyle(s);
  SetBounds(Left(), Top(), 30, 30);
}

void TKitBaseGraphicControl::SetTransparent(bool Value) {
  if (FTransparent == Value) return;
  fw::TControlStyle s = ControlStyle();
  if (Value) s.Exclude(fw::csOpaque);
  else s.Include(fw::csOpaque);
  SetControlStyle(s);
  FTransparent = Value;
  Perform(CM_KITREPAINT, 0, 0);
}

void TKitBaseGraphicControl::RepaintNow() {
  if (FTransparent || Designing() || !Canvas()->HandleAllocated()) {
    Invalidate();
    return;
  }
  Paint();
}

void TKitBaseGraphicControl::PropChanged(fw::TObject*) { RepaintNow(); }

bool TKitBaseGraphicControl::ParentBackAvailable() {
  if (!FTransparent) return false;
  fw::TWinControl* p = Parent();
  if (auto* cc = dynamic_cast<TKitCustomControl*>(p)) {
    return cc->HandleAllocated() && cc->HasBackBitmap();
  }
  if (TKitFormShape* shape = KitFormShapeOf(p); shape && p->HandleAllocated())
    return shape->HasFormBackground();
  return false;
}

void TKitBaseGraphicControl::DrawDesignFrame() {
  fw::TCanvas* c = Canvas();
  c->Pen()->SetColor(fw::clBlack);
  c->Pen()->SetWidth(1);
  c->Pen()->SetStyle(fw::psDash);
  c->Pen()->SetMode(fw::pmCopy);
  c->Brush()->SetStyle(fw::bsClear);
  c->Rectangle(0, 0, Width(), Height());
}

void TKitBaseGraphicControl::FillClientArea() {
  fw::TCanvas* c = Canvas();
  c->Brush()->SetStyle(fw::bsSolid);
  c->Brush()->SetColor(Color());
  c->Pen()->SetStyle(fw::psClear);
  c->FillRect(ClientRect());
}

void TKitBaseGraphicControl::Paint() {
  if (Designing() && CanvasBound()) DrawDesignFrame();
}

void TKitBaseGraphicControl::WndProc(fw::TMessage& Message) {
  if (Message.Msg == CM_KITREPAINT) {
    RepaintNow();
    return;
  }
  TKitBaseControl::WndProc(Message);
}

}  // namespace vexa
