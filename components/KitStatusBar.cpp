#include "components/KitStatusBar.h"

#include <algorithm>

#include "components/KitBaseLabel.h"
#include "components/KitDrawing.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/ScopeGuard.h"
#include "platform/display/Display.h"

namespace vexa {

namespace {
constexpr plat::DWORD kSizeGripStyle = 0x100;
constexpr plat::DWORD kTopStyle = 0x1;
constexpr uint32_t kPanelTextFormat = 0x860;  // single line, tabs expanded, no prefix
}  // namespace

// ---------------------------------------------------------------------------
// TKitStatusCustomPanel

TKitStatusCustomPanel::TKitStatusCustomPanel(fw::TComponent* AOwner) : TKitCustomPanel(AOwner) {
  SetColor(fw::clBtnFace);
}

void TKitStatusCustomPanel::DefineProperties(TKitFiler* Filer) {
  TKitCustomPanel::DefineProperties(Filer);
  Filer->DefineProperty(
      "BarPanelId", [this](TKitReader* R) { FBarPanelId = R->ReadInteger(); },
      [this](TKitWriter* W) { W->WriteInteger(FBarPanelId); }, true);
}

// ---------------------------------------------------------------------------
// TKitStatusPanel

TKitStatusPanel::TKitStatusPanel(fw::TCollection* Collection)
    : fw::TCollectionItem(nullptr),
      FBevel(std::make_unique<TKitBevel>()),
      FFont(std::make_unique<fw::TFont>()),
      FFont3D(std::make_unique<TKit3DCaption>()) {
  FBevel->SetMode(bmStandard);
  SetCollection(Collection);
}

TKitStatusPanel::~TKitStatusPanel() {
  TKitStatusCustomPanel* c = FPanelControl;
  FPanelControl = nullptr;
  fw::Free(c);
}

TKitStatusBar* TKitStatusPanel::Bar() const {
  auto* panels = dynamic_cast<TKitStatusPanels*>(Collection());
  return panels ? panels->Bar() : nullptr;
}

void TKitStatusPanel::Assign(fw::TPersistent* Source) {
  if (auto* p = dynamic_cast<TKitStatusPanel*>(Source)) {
    FBevel->Assign(p->FBevel.get());
    FSize = p->FSize;
    FLeft = p->FLeft;
    SetStyle(p->FStyle);
    FText = p->FText;
    FAlignment = p->FAlignment;
    FFont->Assign(p->FFont.get());
    FFont3D->Assign(p->FFont3D.get());
    Changed(true);
    return;
  }
  fw::TCollectionItem::Assign(Source);
}

void TKitStatusPanel::DefineProperties(TKitFiler* Filer) {
  Filer->DefineProperty(
      "BarPanelId", [this](TKitReader* R) { FBarPanelId = R->ReadInteger(); },
      [this](TKitWriter* W) { W->WriteInteger(FBarPanelId); }, true);
}

void TKitStatusPanel::SetAlignment(TKitAlignment Value) {
  if (FAlignment == Value) return;
  FAlignment = Value;
  Changed(false);
}

void TKitStatusPanel::SetBevel(TKitBevel* Value) {
  FBevel->Assign(Value);
  Changed(false);
}

void TKitStatusPanel::SetFont(fw::TFont* Value) {
  FFont->Assign(Value);
  Changed(false);
}

void TKitStatusPanel::SetFont3D(TKit3DCaption* Value) {
  FFont3D->Assign(Value);
  Changed(false);
}

void TKitStatusPanel::SetText(const std::string& Value) {
  if (FText == Value) return;
  FText = Value;
  Changed(false);
}

void TKitStatusPanel::SetSize(int32_t Value) {
  if (FSize == Value) return;
  FSize = Value;
  Changed(true);
}

void TKitStatusPanel::SetLeft(int32_t Value) {
  if (FLeft == Value) return;
  FLeft = Value;
  Changed(true);
}

void TKitStatusPanel::SetStyle(TKitStatusPanelStyle Value) {
  if (FStyle == Value) return;
  if (FStyle == spPanel && FPanelControl) {
    TKitStatusCustomPanel* c = FPanelControl;
    FPanelControl = nullptr;
    fw::Free(c);
  }
  FStyle = Value;
  TKitStatusBar* bar = Bar();
  if (Value == spPanel && !FPanelControl && bar) {
    fw::TComponent* owner = bar->Owner();
    if (!owner || !owner->ComponentState().Contains(fw::csLoading)) {
      auto* c = new TKitStatusCustomPanel(owner);
      c->SetParent(bar);
      c->FreeNotification(bar);
      FBarPanelId = bar->ControlCount() + 1;
      c->SetBarPanelId(FBarPanelId);
      c->SetVisible(false);  // the bar's paint shows it in place
      FPanelControl = c;
    }
  }
  Changed(false);
}

// ---------------------------------------------------------------------------
// TKitStatusPanels

TKitStatusPanels::TKitStatusPanels(TKitStatusBar* Bar)
    : fw::TCollection([](fw::TCollection* c) { return new TKitStatusPanel(c); }), FBar(Bar) {}

fw::TPersistent* TKitStatusPanels::GetOwner() const { return FBar; }

void TKitStatusPanels::Update(fw::TCollectionItem* Item) {
  fw::TCollection::Update(Item);
  if (!FBar) return;
  if (Item) FBar->DrawPanel(Item->Index());
  else FBar->PaintNow();
}

// ---------------------------------------------------------------------------
// TKitStatusBar

TKitStatusBar::TKitStatusBar(fw::TComponent* AOwner)
    : TKitCustomStatusBar(AOwner),
      FFont3D(std::make_unique<TKit3DCaption>()),
      FPanels(std::make_unique<TKitStatusPanels>(this)) {
  FFont3D->OnChange = [this](fw::TObject* s) { PropChanged(s); };
  SetAlign(fw::alBottom);
  SetHeight(19);
  SetControlStyle(fw::TControlStyle{fw::csCaptureMouse, fw::csClickEvents, fw::csOpaque,
                                    fw::csDoubleClicks});
}

TKitStatusBar::~TKitStatusBar() {
  FFont3D->OnChange = nullptr;
  FFont3D.reset();
  // The panel controls go first so that their removal finds no half-freed collection.
  for (int i = 0; i < FPanels->Count(); ++i) {
    TKitStatusPanel* p = FPanels->GetItem(i);
    TKitStatusCustomPanel* c = p->FPanelControl;
    p->FPanelControl = nullptr;
    fw::Free(c);
  }
  FPanels.reset();
}

void TKitStatusBar::SetFlag(int Index, bool Value) {
  if (FFlags[Index] == Value) return;
  if (Index == 2 && Value && Designing()) fw::ShowMessage(SKitOldStyleWarning);
  FFlags[Index] = Value;
  PropChanged(nullptr);
}

void TKitStatusBar::SetAlignment(TKitAlignment Value) {
  if (FAlignment == Value) return;
  FAlignment = Value;
  PropChanged(nullptr);
}

void TKitStatusBar::SetSimpleText(const std::string& Value) {
  if (FSimpleText == Value) return;
  FSimpleText = Value;
  Invalidate();
}

void TKitStatusBar::SetControlGap(int32_t Value) {
  if (FControlGap == Value) return;
  FControlGap = Value;
  for (int i = 0; i < ControlCount(); ++i) {
    if (auto* l = dynamic_cast<TKitBaseLabel*>(Controls(i))) l->AdjustLabelBounds();
  }
  PropChanged(nullptr);
}

void TKitStatusBar::SetPanels(TKitStatusPanels* Value) {
  FPanels->Assign(Value);
  Invalidate();
}

void TKitStatusBar::PaintNow() {
  if (Canvas()->HandleAllocated()) Paint();
  else Repaint();
}

void TKitStatusBar::CreateParams(fw::TCreateParams& Params) {
  TKitCustomStatusBar::CreateParams(Params);
  Params.WinClassName = "msctls_statusbar32";
  if (SizeGrip()) Params.Style |= kSizeGripStyle;
  else Params.Style |= kTopStyle;
}

void TKitStatusBar::AlignControls(fw::TControl* AControl, fw::TRect& R) {
  if (SizeGrip()) R.Right -= 12;
  TKitCustomStatusBar::AlignControls(AControl, R);
}

void TKitStatusBar::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitCustomStatusBar::Notification(AComponent, Operation);
  if (Operation != fw::opRemove || !AComponent || !FPanels) return;
  for (int i = 0; i < FPanels->Count(); ++i) {
    TKitStatusPanel* p = FPanels->GetItem(i);
    if (p->FPanelControl && static_cast<fw::TComponent*>(p->FPanelControl) == AComponent) {
      p->FPanelControl = nullptr;
      p->FStyle = spText;
    }
  }
}

uint32_t TKitStatusBar::TextEffect() const {
  return kteClip | (Enabled() ? kteEnabled : 0);
}

void TKitStatusBar::DrawSizeGrip(int32_t R, int32_t B) {
  fw::TCanvas* c = Canvas();
  c->Brush()->SetStyle(fw::bsSolid);
  c->Brush()->SetColor(Color());
  c->Pen()->SetStyle(fw::psSolid);
  c->Pen()->SetWidth(1);
  c->Pen()->SetColor(Color());
  c->Rectangle(R - 13, B - 13, R, B);
  c->Pen()->SetColor(fw::clBtnShadow);
  c->Pen()->SetWidth(2);
  for (int i = 0; i < 3; ++i) {
    c->MoveTo(R - 2, B - 12 + 4 * i);
    c->LineTo(R - 12 + 4 * i, B - 2);
  }
  c->Pen()->SetColor(fw::clWhite);
  c->Pen()->SetWidth(1);
  for (int i = 0; i < 3; ++i) {
    c->MoveTo(R - 2, B - 13 + 4 * i);
    c->LineTo(R - 14 + 4 * i, B - 1);
  }
  c->Pen()->SetColor(Color());
  for (int i = 0; i < 3; ++i) {
    c->MoveTo(R - 1, B - 11 + 4 * i);
    c->LineTo(R - 11 + 4 * i, B - 1);
  }
  if (Bevel()->Extent() != 0) {
    c->Pen()->SetColor(fw::clBtnFace);
    c->MoveTo(R - 1, B - 13);
    c->LineTo(R - 1, B - 1);
    c->LineTo(R - 14, B - 1);
    c->SetPixels(R - 1, B - 1, fw::clBtnFace);
  }
}

fw::TCustomForm* TKitStatusBar::OwnerForm() const {
  return dynamic_cast<fw::TCustomForm*>(Owner());
}

bool TKitStatusBar::GripShown() const {
  if (!SizeGrip()) return false;
  if (OldStyle()) return true;
  // A maximised form cannot be sized.
  return !SimplePanel() && OwnerForm() && OwnerForm()->WindowState() != fw::wsMaximized;
}

fw::TRect TKitStatusBar::GripRect() const {
  // Where Paint puts it: the client area's corner, or the panel area's (one pixel in).
  const fw::TRect c = ClientRect();
  const int32_t in = OldStyle() ? 0 : 1;
  return fw::TRect{c.Right - in - 13, c.Bottom - in - 13, c.Right - in, c.Bottom - in};
}

void TKitStatusBar::DrawPanelContent(int Index, TKitStatusPanel* P, const fw::TRect& Outer,
                                     bool KeepCorners, bool FillText) {
  fw::TCanvas* c = Canvas();
  fw::TRect inner;
  P->FBevel->PaintBevel(c, Outer, inner, KeepCorners);
  c->SetFont(P->FFont.get());
  switch (P->FStyle) {
    case spText:
      if (FillText) {
        c->Brush()->SetStyle(fw::bsSolid);
        c->Brush()->SetColor(Color());
        c->FillRect(inner);
      }
      KitDraw3DText(c, P->FText, P->FFont3D.get(), &inner, TextEffect(),
                    KitAlignmentFormat[P->FAlignment] | kPanelTextFormat, inner);
      break;
    case spOwnerDraw:
      if (OnOwnerDrawPanel) OnOwnerDrawPanel(this, Index, inner, c);
      break;
    case spPanel:
      if (P->FPanelControl) {
        P->FPanelControl->SetBounds(inner.Left, inner.Top, inner.Width(), inner.Height());
        P->FPanelControl->SetVisible(true);
      }
      break;
  }
}

void TKitStatusBar::Paint() {
  if (Loading() || !CanvasBound()) return;
  PaintBackground();
  fw::TCanvas* c = Canvas();
  const bool keep = UseBackBitmap();
  fw::TRect inner;
  Bevel()->PaintBevel(c, ClientRect(), inner, keep);
  try {
    fw::TRect area = ClientRect();
    if (OldStyle()) {
      if (SizeGrip()) DrawSizeGrip(area.Right, area.Bottom);
      area.Right -= 13;
    }
    area = fw::TRect{area.Left + 1, area.Top + 1, area.Right - 1, area.Bottom - 1};
    FPanelArea = area;
    if (SimplePanel()) {
      c->SetFont(Font());
      KitDraw3DText(c, FSimpleText, FFont3D.get(), &area, TextEffect(),
                    KitAlignmentFormat[FAlignment] | kPanelTextFormat, area);
      return;
    }
    if (!OldStyle()) {
      int32_t x = area.Left;
      const int n = FPanels->Count();
      for (int i = 0; i < n; ++i) {
        TKitStatusPanel* p = FPanels->GetItem(i);
        x += p->FLeft;
        int32_t right = x + p->FSize;
        if (i == n - 1 && AutoSizeLastPanel()) right = std::max(right, area.Right);
        DrawPanelContent(i, p, fw::TRect{x, area.Top, right, area.Bottom}, keep, false);
        x += p->FSize;
      }
      if (GripShown()) DrawSizeGrip(area.Right, area.Bottom);
    }
  } catch (...) {
    // A failing panel (an owner-draw handler's included) ends this paint quietly.
  }
}

void TKitStatusBar::DrawPanel(int Index) {
  if (OldStyle() || Index < 0 || Index >= FPanels->Count()) return;
  if (Index == FPanels->Count() - 1) {
    PaintNow();
    return;
  }
  if (!Canvas()->HandleAllocated()) {
    Invalidate();
    return;
  }
  int32_t x = FPanelArea.Left;
  for (int i = 0; i < Index; ++i) x += FPanels->GetItem(i)->FLeft + FPanels->GetItem(i)->FSize;
  TKitStatusPanel* p = FPanels->GetItem(Index);
  x += p->FLeft;
  DrawPanelContent(Index, p, fw::TRect{x, FPanelArea.Top, x + p->FSize, FPanelArea.Bottom}, false,
                   true);
}

void TKitStatusBar::Resize() {
  // Bounds stored by SetBounds are followed by the window's own WM_SIZE, which
  // resizes; resizing here too would fire OnResize twice for one change.
  if (HandleAllocated() && !FSizeMessage) return;
  TKitCustomStatusBar::Resize();
}

void TKitStatusBar::WndProc(fw::TMessage& Message) {
  if (Message.Msg == plat::WM_LBUTTONDOWN) {
    const int32_t x = int16_t(Message.LParam & 0xFFFF),
                  y = int16_t((Message.LParam >> 16) & 0xFFFF);
    // A press on the size grip sizes the form for as long as the button is held.
    const fw::TRect grip = GripRect();
    if (GripShown() && OwnerForm() && x >= grip.Left && y >= grip.Top && x < grip.Right &&
        y < grip.Bottom) {
      plat::BeginWindowSizeDrag(OwnerForm()->Handle());
      return;
    }
    if (OldStyle()) return;
    int32_t edge = 0;
    for (int k = 0; k < FPanels->Count(); ++k) {
      edge += FPanels->GetItem(k)->FSize;
      if (x <= edge) {
        if (OnPanelClick) OnPanelClick(this, k);
        return;
      }
    }
    return;
  }
  if (Message.Msg == plat::WM_SIZE) {
    fw::TWinControl::WndProc(Message);
    if (!Loading()) {
      FSizeMessage = true;
      {
        auto done = fw::Finally([&] { FSizeMessage = false; });
        Resize();
      }
      Realign();
    }
    PaintNow();
    return;
  }
  TKitCustomStatusBar::WndProc(Message);
}

}  // namespace vexa
