#include "components/KitWndProcComponent.h"

#include "framework/Forms.h"

namespace vexa {

namespace {

// The procedure installed in the window.
struct TKitHookThunk {
  std::shared_ptr<TKitHookRecord> Rec;
  plat::LRESULT operator()(plat::HWND hwnd, plat::UINT msg, plat::WPARAM w, plat::LPARAM l) const {
    std::shared_ptr<TKitHookRecord> rec = Rec;  // lives on if the hook is removed meanwhile
    if (!rec->Component) return plat::CallWindowProc(rec->Prev, hwnd, msg, w, l);
    fw::TMessage m{msg, w, l, 0};
    rec->Component->HookWndProc(m);
    return m.Result;
  }
};

bool Designing(const fw::TComponent* c) { return c->ComponentState().Contains(fw::csDesigning); }

}  // namespace

TKitWndProcComponent::TKitWndProcComponent(fw::TComponent* AOwner) : TKitCustomComponent(AOwner) {
  if (auto* form = dynamic_cast<fw::TCustomForm*>(AOwner)) {
    if (form->FormStyle() == fw::fsMDIChild) FFormKind = 1;
    else if (form->FormStyle() == fw::fsMDIForm) FFormKind = 2;
  }
}

TKitWndProcComponent::~TKitWndProcComponent() { Unhook(); }

fw::HWND TKitWndProcComponent::GetOwnerWindow() {
  auto* control = dynamic_cast<fw::TWinControl*>(Owner());
  if (!control) return 0;
  // The framework has no MDI client window: an MDI frame is hooked itself.
  try {
    return control->Handle();
  } catch (const std::exception&) {
    return 0;
  }
}

bool TKitWndProcComponent::Hook() {
  if (FHook) return false;
  if (Designing(this) && !FAllowedInDesigner) return false;
  fw::HWND wnd = GetOwnerWindow();
  if (!wnd) return false;
  FWindowDestroyed = false;
  // No component of the system hooks the application's main window, and the
  // framework keeps no list of such hooks: the flag is only remembered.
  try {
    auto rec = std::make_shared<TKitHookRecord>();
    rec->Component = this;
    rec->Wnd = wnd;
    rec->Prev = plat::GetWindowProc(wnd);
    if (!plat::IsWindow(wnd)) throw fw::Exception("Invalid window handle");
    FHook = rec;
    plat::SetWindowProc(wnd, TKitHookThunk{rec});
  } catch (const fw::Exception&) {
    Unhook();
    return false;
  }
  return true;
}

bool TKitWndProcComponent::Unhook() {
  if (std::shared_ptr<TKitHookRecord> rec = FHook) {
    FHook.reset();
    if (plat::IsWindow(rec->Wnd)) {
      plat::WNDPROC current = plat::GetWindowProc(rec->Wnd);
      const TKitHookThunk* top = current.target<TKitHookThunk>();
      if (top && top->Rec == rec) {
        plat::SetWindowProc(rec->Wnd, rec->Prev);
      }
      // Otherwise another hook sits in front: this one stays in the chain
      // and passes everything on.
    }
    rec->Component = nullptr;
  }
  FMainWindowHooked = false;
  FWindowDestroyed = false;
  return true;
}

void TKitWndProcComponent::RemoveHook() {
  Unhook();
  SetEnabled(false);
}

void TKitWndProcComponent::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  if (Designing(this)) return;
  if (Value)
    HookIfEnabled();
  else
    DisableHook();
}

void TKitWndProcComponent::SetHookMainWindow(bool Value) {
  if (!Designing(this) && !ComponentState().Contains(fw::csLoading)) return;
  FHookMainWindow = Value;
}

bool TKitWndProcComponent::MainWindowHook(fw::TMessage& /*Message*/) { return true; }

void TKitWndProcComponent::HookIfEnabled() {
  if (FEnabled && !FHook) Hook();
}

void TKitWndProcComponent::UnhookInDesigner() {
  if (Designing(this) && !FAllowedInDesigner) Unhook();
}

void TKitWndProcComponent::Loaded() {
  TKitCustomComponent::Loaded();
  if (!Designing(this) || FAllowedInDesigner) HookIfEnabled();
}

void TKitWndProcComponent::CallPreviousWndProc(fw::TMessage& Message) {
  if (!FHook) return;
  std::shared_ptr<TKitHookRecord> rec = FHook;
  Message.Result = plat::CallWindowProc(rec->Prev, rec->Wnd, Message.Msg, Message.WParam,
                                        Message.LParam);
}

void TKitWndProcComponent::HookWndProc(fw::TMessage& Message) {
  if (FWindowDestroyed) return;
  if (Message.Msg == plat::WM_DESTROY) {
    auto* control = dynamic_cast<fw::TWinControl*>(Owner());
    if (control && !control->DestroyingHandle()) {
      // Posted by another program while the window lives: taking it for real
      // would drop every later message of the form.
      fw::TellIgnoredOnce("WM_DESTROY sent to a window that is not being destroyed");
      return;
    }
    FWindowDestroyed = true;
    if (FFormKind == 1) {
      Unhook();
      return;
    }
  }
  CallPreviousWndProc(Message);
}

}  // namespace vexa
