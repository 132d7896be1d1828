#include "framework/Controls.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "framework/ControlPaint.h"
#include "framework/FrameworkState.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/ScopeGuard.h"

namespace fw {

TWinControl* FindControl(HWND Handle) {
  FrameworkState& st = St();
  std::lock_guard<std::mutex> g(st.controlsMu);
  auto it = st.controls.find(Handle);
  return it == st.controls.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  if (FParent) FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* AParent) {
  if (FParent == AParent) return;
  if (AParent == this) throw EInvalidOperation("A control cannot have itself as its parent");
  if (FParent) FParent->RemoveControl(this);
  if (AParent) AParent->InsertControl(this);
}

void TControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  if (AWidth < 0) AWidth = 0;
  if (AHeight < 0) AHeight = 0;
  if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight) return;
  bool resized = AWidth != FWidth || AHeight != FHeight;
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  BoundsChanged();
  Invalidate();
  if (resized) Resize();
  if (FParent && FAlign != alNone) FParent->Realign();
}

void TControl::SetClientWidth(int32_t Value) { SetWidth(Value + FWidth - ClientWidth()); }
void TControl::SetClientHeight(int32_t Value) { SetHeight(Value + FHeight - ClientHeight()); }

TPoint TControl::ClientToScreen(const TPoint& P) const {
  TPoint r = P;
  for (const TControl* c = this; c; c = c->FParent) {
    r.X += c->FLeft;
    r.Y += c->FTop;
  }
  return r;
}

TPoint TControl::ScreenToClient(const TPoint& P) const {
  TPoint origin = ClientToScreen(Point(0, 0));
  return Point(P.X - origin.X, P.Y - origin.Y);
}

void TControl::SetAlign(TAlign Value) {
  if (FAlign == Value) return;
  FAlign = Value;
  if (FParent) FParent->Realign();
}

void TControl::SetVisible(bool Value) {
  if (FVisible == Value) return;
  VisibleChanging();
  FVisible = Value;
  Perform(CM_VISIBLECHANGED, Value ? 1 : 0, 0);
  if (FParent) {
    FParent->Realign();
    FParent->Invalidate();
  }
}

bool TControl::Showing() const { return FVisible && (!FParent || FParent->Showing()); }

void TControl::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  Perform(CM_ENABLEDCHANGED, 0, 0);
  Invalidate();
}

void TControl::SetText(const std::string& Value) {
  if (FText == Value) return;
  FText = Value;
  Perform(CM_TEXTCHANGED, 0, 0);
  Invalidate();
}

void TControl::SetPopupMenu(TPopupMenu* Value) {
  if (FPopupMenu == Value) return;
  if (FPopupMenu) RemoveFreeNotification(FPopupMenu);
  FPopupMenu = Value;
  if (Value) Value->FreeNotification(this);
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent && AComponent == static_cast<TComponent*>(FPopupMenu)) {
    FPopupMenu = nullptr;
  }
}

int32_t TControl::Perform(UINT Msg, int32_t WParam, int32_t LParam) {
  TMessage m{Msg, WParam, LParam, 0};
  WndProc(m);
  return m.Result;
}

void TControl::WndProc(TMessage& Message) { Dispatch(Message); }

void TControl::Dispatch(TMessage& Message) {
  auto it = FHandlers.find(Message.Msg);
  if (it != FHandlers.end() && it->second) {
    TWndMethod handler = it->second;  // the handler may replace itself
    handler(Message);
    return;
  }
  DefaultHandler(Message);
}

void TControl::DefaultHandler(TMessage& Message) { Message.Result = 0; }

void TControl::SetMessageHandler(UINT Msg, TWndMethod Handler) {
  if (Handler) {
    FHandlers[Msg] = std::move(Handler);
  } else {
    FHandlers.erase(Msg);
  }
}

void TControl::Invalidate() {
  FNeedsPaint = true;
  if (FParent) FParent->FNeedsPaint = true;
  ControlInvalidated(this);
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int X, int Y) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TControl::Resize() {
  if (OnResize) OnResize(this);
}

// ---------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  Destroying();
  if (St().focused == this) St().focused = nullptr;
  // Controls placed on this one go with it (those owned elsewhere included).
  while (!FControls.empty()) {
    TControl* c = FControls.back();
    RemoveControl(c);
    c->BeforeDestruction();
    delete c;
  }
  DestroyHandle();
}

TControl* TWinControl::Controls(int Index) const {
  if (Index < 0 || Index >= ControlCount()) {
    throw EListError(Format("List index out of bounds (%d)", Index));
  }
  return FControls[static_cast<size_t>(Index)];
}

void TWinControl::InsertControl(TControl* AControl) {
  if (!AControl || AControl->FParent == this) return;
  if (auto* wc = dynamic_cast<TWinControl*>(AControl); wc && wc->HandleAllocated()) {
    wc->DestroyHandle();  // made again below the new parent when needed
  }
  FControls.push_back(AControl);
  AControl->FParent = this;
  Realign();
  Invalidate();
}

void TWinControl::RemoveControl(TControl* AControl) {
  auto it = std::find(FControls.begin(), FControls.end(), AControl);
  if (it == FControls.end()) return;
  // A child window cannot outlive the window of its parent.
  if (auto* wc = dynamic_cast<TWinControl*>(AControl); wc && wc->HandleAllocated()) {
    wc->DestroyHandle();
  }
  FControls.erase(it);
  AControl->FParent = nullptr;
  if (!ComponentState().Contains(csDestroying)) {
    Realign();
    Invalidate();
  }
}

bool TWinControl::ContainsControl(TControl* Control) const {
  for (TControl* c = Control; c; c = c->FParent) {
    if (c == this) return true;
  }
  return false;
}

HWND TWinControl::Handle() {
  if (FHandle == 0) {
    if (Parent()) Parent()->HandleNeeded();
    CreateWnd();
  }
  return FHandle;
}

void TWinControl::CreateParams(TCreateParams& Params) {
  Params.Caption = Caption();
  Params.Style = Parent() ? (plat::WS_CHILD | plat::WS_CLIPSIBLINGS) : plat::WS_POPUP;
  if (Visible()) Params.Style |= plat::WS_VISIBLE;
  if (!Enabled()) Params.Style |= plat::WS_DISABLED;
  Params.X = Left();
  Params.Y = Top();
  Params.Width = Width();
  Params.Height = Height();
  Params.WndParent = Parent() ? Parent()->FHandle : 0;
  Params.WinClassName = "VexaControl";
}

void TWinControl::CreateWnd() {
  TCreateParams p;
  CreateParams(p);
  EnsureWindowClass(p.WinClassName, plat::DefWindowProc);
  HWND h = plat::CreateWindowEx(p.ExStyle, p.WinClassName, p.Caption, p.Style, p.X, p.Y, p.Width,
                                p.Height, p.WndParent, 0);
  if (h == 0) throw EOutOfResources("Error creating window");
  FHandle = h;
  FDefWndProc = plat::SetWindowProc(h, [this](HWND hw, UINT m, plat::WPARAM w, plat::LPARAM l) {
    if (FDestroyingHandle) return plat::CallWindowProc(FDefWndProc, hw, m, w, l);
    TMessage msg{m, w, l, 0};
    MainWndProc(msg);
    return static_cast<plat::LRESULT>(msg.Result);
  });
  if (!FDefWndProc) FDefWndProc = plat::DefWindowProc;
  {
    FrameworkState& st = St();
    std::lock_guard<std::mutex> g(st.controlsMu);
    st.controls[h] = this;
  }
  ControlWindowCreated(this);
}

void TWinControl::DestroyWnd() {
  for (TControl* c : FControls) {
    if (auto* wc = dynamic_cast<TWinControl*>(c)) wc->DestroyHandle();
  }
  HWND h = FHandle;
  bool ours;
  {
    FrameworkState& st = St();
    std::lock_guard<std::mutex> g(st.controlsMu);
    ours = st.controls.erase(h) > 0;
  }
  // A window of an ended session (or of the parent of a forked child) is not
  // ours to destroy: its number may name another window now.
  if (ours) {
    FDestroyingHandle = true;
    plat::DestroyWindow(h);
    FDestroyingHandle = false;
  }
  FHandle = 0;
}

void TWinControl::DestroyHandle() {
  if (FHandle) DestroyWnd();
}

void TWinControl::RecreateWnd() {
  if (!FHandle) return;
  DestroyHandle();
  HandleNeeded();
}

void TWinControl::MainWndProc(TMessage& Message) {
  try {
    WndProc(Message);
  } catch (...) {
    if (Application) {
      Application->HandleException(this);
    } else {
      throw;
    }
  }
}

void TWinControl::WndProc(TMessage& Message) {
  if ((Message.Msg == plat::WM_MOVE || Message.Msg == plat::WM_SIZE) && FHandle) {
    plat::RECT r;
    if (plat::GetWindowRect(FHandle, &r))
      SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
  }
  TControl::WndProc(Message);
  if (Message.Msg == CM_SYSCOLORCHANGE) {
    // Every control below draws with system colours too.
    const std::vector<TControl*> children = FControls;
    for (TControl* c : children) c->Perform(CM_SYSCOLORCHANGE, Message.WParam, Message.LParam);
  }
}

void TWinControl::DefaultHandler(TMessage& Message) {
  // A control goes with its form, never at another program's request.
  if (IgnoreForeignClose(Message.Msg, Message.WParam, "a control")) {
    Message.Result = 0;
    return;
  }
  if (FHandle && FDefWndProc) {
    Message.Result = plat::CallWindowProc(FDefWndProc, FHandle, Message.Msg, Message.WParam,
                                          Message.LParam);
  } else {
    Message.Result = 0;
  }
}

void TWinControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  bool resized = AWidth != Width() || AHeight != Height();
  TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (FHandle) plat::MoveWindow(FHandle, Left(), Top(), Width(), Height(), true);
  if (resized) Realign();
}

void TWinControl::SetVisible(bool Value) {
  if (Visible() == Value) return;
  TControl::SetVisible(Value);
  if (FHandle) plat::ShowWindow(FHandle, Value ? plat::SW_SHOW : plat::SW_HIDE);
}

void TWinControl::SetEnabled(bool Value) {
  if (Enabled() == Value) return;
  TControl::SetEnabled(Value);
  if (FHandle) plat::EnableWindow(FHandle, Value);
}

void TWinControl::SetText(const std::string& Value) {
  if (Text() == Value) return;
  TControl::SetText(Value);
  if (FHandle) plat::SetWindowText(FHandle, Value);
}

bool TWinControl::Showing() const { return TControl::Showing(); }

void TWinControl::EnableAlign() {
  if (FAlignLevel > 0 && --FAlignLevel == 0) Realign();
}

void TWinControl::Realign() {
  if (FAlignLevel > 0) return;
  TRect r = ClientRect();
  ++FAlignLevel;  // the children's SetBounds call back here
  auto done = fw::Finally([&] { --FAlignLevel; });
  AlignControls(nullptr, r);
}

void TWinControl::AlignControls(TControl*, TRect& R) {
  for (TAlign a : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (TControl* c : FControls) {
      if (c->Align() != a || !c->Visible()) continue;
      int32_t w = c->Width(), h = c->Height();
      switch (a) {
        case alTop:
          c->SetBounds(R.Left, R.Top, R.Width(), h);
          R.Top += h;
          break;
        case alBottom:
          c->SetBounds(R.Left, R.Bottom - h, R.Width(), h);
          R.Bottom -= h;
          break;
        case alLeft:
          c->SetBounds(R.Left, R.Top, w, R.Height());
          R.Left += w;
          break;
        case alRight:
          c->SetBounds(R.Right - w, R.Top, w, R.Height());
          R.Right -= w;
          break;
        case alClient: c->SetBounds(R.Left, R.Top, R.Width(), R.Height()); break;
        default: break;
      }
    }
  }
}

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c; c = c->Parent()) {
    if (!c->Visible() || !c->Enabled()) return false;
  }
  return true;
}

bool TWinControl::Focused() const { return St().focused == this; }

void TWinControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  St().focused = this;
  TWinControl* top = this;
  while (top->Parent()) top = top->Parent();
  if (auto* form = dynamic_cast<TCustomForm*>(top)) form->SetActiveControl(this);
  ControlFocused(this);
}

void TWinControl::Invalidate() { TControl::Invalidate(); }

}  // namespace fw
