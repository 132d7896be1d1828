#include "framework/StdCtrls.h"

#include "framework/Forms.h"
#include "framework/ScopeGuard.h"

namespace fw {

// ---------------------------------------------------------------------------
// TCustomLabel

TCustomLabel::TCustomLabel(TComponent* AOwner)
    : TGraphicControl(AOwner), FFont(std::make_unique<TFont>()) {
  SetBounds(0, 0, 65, 17);
  FFont->OnChange = [this](TObject*) { Invalidate(); };
}

void TCustomLabel::SetAlignment(TAlignment Value) {
  if (FAlignment == Value) return;
  FAlignment = Value;
  Invalidate();
}

void TCustomLabel::SetWordWrap(bool Value) {
  if (FWordWrap == Value) return;
  FWordWrap = Value;
  Invalidate();
}

void TCustomLabel::SetTransparent(bool Value) {
  if (FTransparent == Value) return;
  FTransparent = Value;
  Invalidate();
}

void TCustomLabel::SetShowAccelChar(bool Value) {
  if (FShowAccelChar == Value) return;
  FShowAccelChar = Value;
  Invalidate();
}

void TCustomLabel::SetFocusControl(TWinControl* Value) {
  if (FFocusControl == Value) return;
  if (FFocusControl) RemoveFreeNotification(FFocusControl);
  FFocusControl = Value;
  if (Value) Value->FreeNotification(this);
}

void TCustomLabel::Notification(TComponent* AComponent, TOperation Operation) {
  TGraphicControl::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == static_cast<TComponent*>(FFocusControl)) {
    FFocusControl = nullptr;
  }
}

// ---------------------------------------------------------------------------
// TCustomEdit

TCustomEdit::TCustomEdit(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 121, 21);
  SetTabStop(true);
}

void TCustomEdit::SetText(const std::string& Value) {
  std::string v = Value;
  if (FMaxLength > 0 && v.size() > static_cast<size_t>(FMaxLength))
    v.resize(static_cast<size_t>(FMaxLength));
  if (v == Text()) return;
  TWinControl::SetText(v);
  FModified = true;
  Change();
}

void TCustomEdit::SetMaxLength(int Value) {
  FMaxLength = Value < 0 ? 0 : Value;
  if (FMaxLength > 0 && Text().size() > static_cast<size_t>(FMaxLength)) SetText(Text());
}

void TCustomEdit::Change() {
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------
// TCustomMemo

void TMemoStrings::Changed() {
  TStringList::Changed();
  if (UpdateCount() == 0 && FMemo) FMemo->LinesChanged();
}

void TMemoStrings::SetUpdateState(bool Updating) {
  TStringList::SetUpdateState(Updating);
  if (!Updating && FMemo) FMemo->LinesChanged();
}

TCustomMemo::TCustomMemo(TComponent* AOwner) : TCustomEdit(AOwner) {
  FLines = std::make_unique<TMemoStrings>(this);
  SetBounds(0, 0, 185, 89);
}

TCustomMemo::~TCustomMemo() = default;

void TCustomMemo::SetColor(TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Invalidate();
}

void TCustomMemo::SetBorderStyle(TBorderStyle Value) {
  if (FBorderStyle == Value) return;
  FBorderStyle = Value;
  Invalidate();
}

std::string TCustomMemo::Text() const { return FLines->Text(); }

void TCustomMemo::SetText(const std::string& Value) {
  if (Value == Text()) return;
  FSettingText = true;
  {
    auto done = fw::Finally([&] { FSettingText = false; });
    FLines->SetText(Value);
  }
  LinesChanged();
}

void TCustomMemo::LinesChanged() {
  if (FSettingText) return;
  SetModified(true);
  Invalidate();
  if (HandleAllocated()) plat::SetWindowText(Handle(), FLines->Text());
  Change();
}

// ---------------------------------------------------------------------------
// Buttons

TButtonControl::TButtonControl(TComponent* AOwner) : TWinControl(AOwner) { SetTabStop(true); }

TButton::TButton(TComponent* AOwner) : TButtonControl(AOwner) { SetBounds(0, 0, 75, 25); }

void TButton::Click() {
  // A button with a modal result ends the modal form it is on.
  if (FModalResult != 0) {
    TControl* top = this;
    while (top->Parent()) top = top->Parent();
    if (auto* form = dynamic_cast<TCustomForm*>(top)) form->SetModalResult(FModalResult);
  }
  TButtonControl::Click();
}

TCheckBox::TCheckBox(TComponent* AOwner) : TButtonControl(AOwner) { SetBounds(0, 0, 97, 17); }

void TCheckBox::SetState(TCheckBoxState Value) {
  if (FState == Value) return;
  FState = Value;
  Invalidate();
  if (!ComponentState().Contains(csLoading)) Click();
}

void TCheckBox::Toggle() {
  switch (FState) {
    case cbUnchecked: SetState(FAllowGrayed ? cbGrayed : cbChecked); break;
    case cbChecked: SetState(cbUnchecked); break;
    case cbGrayed: SetState(cbChecked); break;
  }
}

}  // namespace fw
