// Standard controls: label, edit, memo, button, check box.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/Controls.h"
#include "framework/Graphics.h"

namespace fw {

class TCustomLabel : public TGraphicControl {
public:
  explicit TCustomLabel(TComponent* AOwner);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value) { FAutoSize = Value; }
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);
  bool ShowAccelChar() const { return FShowAccelChar; }
  void SetShowAccelChar(bool Value);
  TWinControl* FocusControl() const { return FFocusControl; }
  void SetFocusControl(TWinControl* Value);
  // The label's font. Labels draw in the dialog font; its Style (bold,
  // italic, underline, strike-out) is what a label changes; a change repaints.
  TFont* Font() const { return FFont.get(); }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  std::unique_ptr<TFont> FFont;
  TAlignment FAlignment = taLeftJustify;
  bool FAutoSize = true;
  bool FWordWrap = false;
  bool FTransparent = false;
  bool FShowAccelChar = true;
  TWinControl* FFocusControl = nullptr;
};

class TLabel : public TCustomLabel {
public:
  explicit TLabel(TComponent* AOwner) : TCustomLabel(AOwner) {}
};

// A single-line text box. OnChange fires after every change of the text.
class TCustomEdit : public TWinControl {
public:
  explicit TCustomEdit(TComponent* AOwner);
  void SetText(const std::string& Value) override;
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  int MaxLength() const { return FMaxLength; }  // 0: no limit
  void SetMaxLength(int Value);
  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }
  void Clear() { SetText(""); }
  void SelectAll() {}

  TNotifyEvent OnChange;

protected:
  virtual void Change();
  friend class TMemoStrings;

private:
  bool FReadOnly = false;
  int FMaxLength = 0;
  bool FModified = false;
};

class TEdit : public TCustomEdit {
public:
  explicit TEdit(TComponent* AOwner) : TCustomEdit(AOwner) {}
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class TCustomMemo;

// The lines of a memo: a string list that keeps the memo's text and fires its
// OnChange after each change (once at the end of an update bracket).
class TMemoStrings : public TStringList {
public:
  explicit TMemoStrings(TCustomMemo* Memo) : FMemo(Memo) {}

protected:
  void Changed() override;
  void SetUpdateState(bool Updating) override;

private:
  TCustomMemo* FMemo;
};

class TCustomMemo : public TCustomEdit {
public:
  explicit TCustomMemo(TComponent* AOwner);
  ~TCustomMemo() override;
  TStrings* Lines() const { return FLines.get(); }
  void SetLines(TStrings* Value) { FLines->Assign(Value); }
  // The text is the lines joined with CR LF (see TStrings::Text).
  std::string Text() const override;
  void SetText(const std::string& Value) override;
  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle Value) { FScrollBars = Value; }
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value) { FWordWrap = Value; }
  // The background behind the lines; a log memo may take its form's colour.
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  // bsNone draws no sunken edge: the lines reach the memo's bounds.
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle Value);

private:
  friend class TMemoStrings;
  void LinesChanged();
  std::unique_ptr<TMemoStrings> FLines;
  TScrollStyle FScrollBars = ssNone;
  bool FWordWrap = true;
  TColor FColor = clWindow;
  TBorderStyle FBorderStyle = bsSingle;
  bool FSettingText = false;
};

class TMemo : public TCustomMemo {
public:
  explicit TMemo(TComponent* AOwner) : TCustomMemo(AOwner) {}
};

class TButtonControl : public TWinControl {
public:
  explicit TButtonControl(TComponent* AOwner);
};

// A push button. Click fires OnClick and, with a ModalResult, sets it on the
// parent form (which ends a modal form).
class TButton : public TButtonControl {
public:
  explicit TButton(TComponent* AOwner);
  void Click() override;
  bool Default() const { return FDefault; }
  void SetDefault(bool Value) { FDefault = Value; }
  bool Cancel() const { return FCancel; }
  void SetCancel(bool Value) { FCancel = Value; }
  int32_t ModalResult() const { return FModalResult; }
  void SetModalResult(int32_t Value) { FModalResult = Value; }

private:
  bool FDefault = false;
  bool FCancel = false;
  int32_t FModalResult = 0;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

// A check box. Changing Checked (or State) fires OnClick, as a user's click does.
class TCheckBox : public TButtonControl {
public:
  explicit TCheckBox(TComponent* AOwner);
  bool Checked() const { return FState == cbChecked; }
  void SetChecked(bool Value) { SetState(Value ? cbChecked : cbUnchecked); }
  TCheckBoxState State() const { return FState; }
  void SetState(TCheckBoxState Value);
  bool AllowGrayed() const { return FAllowGrayed; }
  void SetAllowGrayed(bool Value) { FAllowGrayed = Value; }
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value) { FAlignment = Value; }
  // A user's click: checked <-> unchecked (through grayed when allowed).
  void Toggle();

private:
  TCheckBoxState FState = cbUnchecked;
  bool FAllowGrayed = false;
  TAlignment FAlignment = taRightJustify;
};

}  // namespace fw
