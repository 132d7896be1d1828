// A non-visual component that subclasses its owner form's window: its own
// window procedure goes in front of the form's and passes on what it does not
// handle. The tray icon and the form shape stand on it.
#pragma once

#include <memory>

#include "components/KitCustomComponent.h"
#include "framework/Classes.h"
#include "platform/msg/Msg.h"

namespace vexa {

class TKitWndProcComponent;

// One installed hook. The procedure installed in the window holds it; when
// the component lets go while another hook sits in front of its own, the
// record stays in the chain and passes every message on, so neither hook is
// lost and nothing calls a component that is gone.
struct TKitHookRecord {
  TKitWndProcComponent* Component = nullptr;
  plat::WNDPROC Prev;
  fw::HWND Wnd = 0;
};

class TKitWndProcComponent : public TKitCustomComponent {
public:
  explicit TKitWndProcComponent(fw::TComponent* AOwner);
  // Unhooks.
  ~TKitWndProcComponent() override;

  // Installs the hook; false without an owner window, when hooked already,
  // while designing (unless allowed) or when hooking failed.
  bool Hook();
  // Puts the saved procedure back; always true.
  bool Unhook();
  // Unhook, then Enabled := False.
  void RemoveHook();
  // The window to hook: the owner form's (made if needed); 0 without one.
  fw::HWND GetOwnerWindow();

  bool Enabled() const { return FEnabled; }
  // A change hooks (True) or calls DisableHook (False); clearing it alone
  // leaves the subclass in place.
  void SetEnabled(bool Value);
  bool Hooked() const { return FHook != nullptr; }
  bool AllowedInDesigner() const { return FAllowedInDesigner; }
  void SetAllowedInDesigner(bool Value) { FAllowedInDesigner = Value; }
  bool HookMainWindow() const { return FHookMainWindow; }
  // Only while designing or loading.
  void SetHookMainWindow(bool Value);
  bool MainWindowHooked() const { return FMainWindowHooked; }
  // 1 for an MDI child form, 2 for an MDI frame, else 0.
  int FormKind() const { return FFormKind; }
  bool WindowDestroyed() const { return FWindowDestroyed; }
  bool HookMDIFrame() const { return FHookMDIFrame; }
  void SetHookMDIFrame(bool Value) { FHookMDIFrame = Value; }

  // The application main-window hook; the base answers True.
  virtual bool MainWindowHook(fw::TMessage& Message);
  virtual void HookIfEnabled();
  virtual void DisableHook() {}
  // Drops messages after WM_DESTROY; passes the rest to the saved procedure.
  virtual void HookWndProc(fw::TMessage& Message);
  virtual void UnhookInDesigner();

protected:
  void Loaded() override;
  // Calls the saved procedure with the message; its result becomes the message's.
  void CallPreviousWndProc(fw::TMessage& Message);

private:
  bool FEnabled = true;
  bool FAllowedInDesigner = false;
  bool FHookMainWindow = false;
  bool FMainWindowHooked = false;
  int FFormKind = 0;
  bool FWindowDestroyed = false;
  bool FHookMDIFrame = false;
  std::shared_ptr<TKitHookRecord> FHook;
};

}  // namespace vexa
