#include "components/KitTrayIcon.h"

#include <cstring>

#include "components/KitApplication.h"
#include "framework/Forms.h"
#include "platform/display/Display.h"
#include "platform/shell/DesktopState.h"

namespace vexa {

namespace {

constexpr const char* SNotEnoughTimers = "Not enough timers available";
constexpr int32_t kPoolStep = 50;  // the application pool's minimum interval

bool Designing(const fw::TComponent* c) { return c->ComponentState().Contains(fw::csDesigning); }
bool Loading(const fw::TComponent* c) { return c->ComponentState().Contains(fw::csLoading); }

fw::TShiftState KeysToShiftState(uint32_t keys) {
  fw::TShiftState s;
  if (keys & plat::MK_SHIFT) s.Include(fw::ssShift);
  if (keys & plat::MK_CONTROL) s.Include(fw::ssCtrl);
  if (keys & plat::MK_LBUTTON) s.Include(fw::ssLeft);
  if (keys & plat::MK_RBUTTON) s.Include(fw::ssRight);
  if (keys & plat::MK_MBUTTON) s.Include(fw::ssMiddle);
  return s;
}

}  // namespace

void BitmapToIcon(fw::TBitmap* Bitmap, plat::HICON& Icon, int32_t Width, int32_t Height) {
  Icon = 0;
  if (!Bitmap) return;
  Bitmap->SetSize(Width, Height);
  fw::TBitmap mask;
  mask.Assign(Bitmap);
  mask.SetMonochrome(true);
  plat::ICONINFO info;
  info.fIcon = true;
  info.hbmMask = mask.Handle();
  info.hbmColor = Bitmap->Handle();
  Icon = plat::CreateIconIndirect(&info);
}

TKitTrayIcon::TKitTrayIcon(fw::TComponent* AOwner) : TKitWndProcComponent(AOwner) {
  KitApplication.Get();  // the library's shared objects exist before the form is up
  FIcon = std::make_unique<fw::TIcon>();
  FIcon->OnChange = [this](fw::TObject* Sender) { IconChanged(Sender); };
  FIconWindow = fw::AllocateHWnd([this](fw::TMessage& M) { TrayWndProc(M); });
  FChangeLink = std::make_unique<TKitChangeLink>();
  FChangeLink->OnChange = [this](fw::TObject* Sender) { SubObjectChanged(Sender); };
}

TKitTrayIcon::~TKitTrayIcon() {
  StopAnimation(FTimerMode);
  if (FChangeLink) {
    FChangeLink->OnChange = nullptr;
    if (FImageList) FImageList->RemoveChangeLink(FChangeLink.get());
    FChangeLink.reset();
  }
  SetEnabled(false);
  FHint.clear();
  UpdateTrayIcon(plat::NIM_DELETE);
  if (FIconWindow) {
    fw::DeallocateHWnd(FIconWindow);
    FIconWindow = 0;
  }
  if (FIcon) FIcon->OnChange = nullptr;
  FIcon.reset();
}

void TKitTrayIcon::Loaded() {
  TKitWndProcComponent::Loaded();
  if (FActive) {
    FActive = false;
    SetActive(true);
  }
}

void TKitTrayIcon::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitWndProcComponent::Notification(AComponent, Operation);
  if (Operation != fw::opRemove) return;
  if (AComponent == FPopupMenu) FPopupMenu = nullptr;
  if (AComponent == static_cast<fw::TComponent*>(FImageList)) FImageList = nullptr;
}

// ---- Properties ---------------------------------------------------------------------

void TKitTrayIcon::SetActive(bool Value) {
  if (Value == FActive) return;
  FActive = Value;
  if (Designing(this)) return;
  // With a display but no notification area the program keeps its windows.
  bool iconSeen = plat::NotifyAreaAvailable();
  if (Value) {
    SetEnabled(true);
    if (iconSeen) {
      if (fw::Application) fw::Application->SetShowMainForm(false);
      HideApplicationWindow();
    }
    if (fw::Application) fw::Application->ProcessMessages();
    StartAnimation();
    UpdateTrayIcon(plat::NIM_ADD);
    EnableAnimation(true);
  } else {
    RemoveHook();
    if (fw::Application) {
      fw::Application->SetShowMainForm(true);
      // The application's window stands for the taskbar entry; it is shown
      // again only when it was shown before the icon hid it.
      if (FAppWindowHidden) plat::ShowWindow(fw::Application->Handle(), plat::SW_SHOWNORMAL);
    }
    FAppWindowHidden = false;
    UpdateTrayIcon(plat::NIM_DELETE);
    StopAnimation(FTimerMode);
    SetEnabled(false);
  }
}

void TKitTrayIcon::SetHint(const std::string& Value) {
  if (Value == FHint && !Loading(this)) return;
  FHint = Value;
  if (FActive) UpdateTrayIcon(plat::NIM_MODIFY);
}

void TKitTrayIcon::SetIcon(fw::TIcon* Value) { FIcon->Assign(Value); }

void TKitTrayIcon::IconChanged(fw::TObject* /*Sender*/) {
  if (FActive && !Designing(this)) UpdateTrayIcon(plat::NIM_MODIFY);
}

void TKitTrayIcon::SetPopupMenu(fw::TPopupMenu* Value) {
  FPopupMenu = Value;
  if (Value) Value->FreeNotification(this);
}

void TKitTrayIcon::SetImageList(TKitCustomImageList* Value) {
  if (FImageList && FChangeLink) FImageList->RemoveChangeLink(FChangeLink.get());
  FImageList = Value;
  if (Value) {
    if (FChangeLink) Value->AddChangeLink(FChangeLink.get());
    Value->FreeNotification(this);
  }
  SubObjectChanged(this);
}

void TKitTrayIcon::SetTimerMode(TKitTimerMode Value) {
  if (Loading(this)) {
    FTimerMode = Value;
    return;
  }
  StopAnimation(FTimerMode);
  FTimerMode = Value;
  StartAnimation();
}

void TKitTrayIcon::SetAnimated(bool Value) {
  if (Value == FAnimated) return;
  FAnimated = Value;
  if (Value) {
    StartAnimation();
    EnableAnimation(true);
  } else {
    StopAnimation(FTimerMode);
  }
}

// ---- The record ----------------------------------------------------------------------

plat::NOTIFYICONDATA TKitTrayIcon::MakeNotifyIconData(plat::HICON IconHandle) const {
  plat::NOTIFYICONDATA d;  // zero-filled, tip included
  d.cbSize = sizeof(plat::NOTIFYICONDATA);
  d.hWnd = FIconWindow;
  d.uID = 0;
  d.uFlags = plat::NIF_MESSAGE | plat::NIF_ICON | plat::NIF_TIP;
  d.uCallbackMessage = WM_KITTRAYNOTIFY;
  d.hIcon = IconHandle;
  size_t n = std::min(FHint.size(), sizeof d.szTip - 1);  // a terminating zero always fits
  std::memcpy(d.szTip, FHint.data(), n);
  return d;
}

void TKitTrayIcon::UpdateTrayIcon(uint32_t Code) {
  if (Designing(this)) return;
  plat::NOTIFYICONDATA d = MakeNotifyIconData(FIcon ? FIcon->Handle() : 0);
  plat::Shell_NotifyIcon(Code, &d);  // the result is of no consequence
}

// ---- Windows ------------------------------------------------------------------------

void TKitTrayIcon::HideApplicationWindow() {
  if (!fw::Application) return;
  if (plat::ShowWindow(fw::Application->Handle(), plat::SW_HIDE)) FAppWindowHidden = true;
}

void TKitTrayIcon::HideOwnerForm() {
  if (auto* control = dynamic_cast<fw::TControl*>(Owner())) control->SetVisible(false);
}

void TKitTrayIcon::HookWndProc(fw::TMessage& Message) {
  if (!WindowDestroyed() && (Message.Msg == plat::WM_SYSCOMMAND || Message.Msg == plat::WM_CLOSE)) {
    // A close request that skips the system command (another program's
    // WM_CLOSE) hides the form like one that comes through it.
    uint32_t cmd =
        Message.Msg == plat::WM_CLOSE ? plat::SC_CLOSE : static_cast<uint32_t>(Message.WParam);
    if (cmd == plat::SC_MINIMIZE) {
      CallPreviousWndProc(Message);
      if (!FShowMinimizedIcon && plat::NotifyAreaAvailable()) {
        HideApplicationWindow();
        HideOwnerForm();
      }
      return;
    }
    if (cmd == plat::SC_CLOSE && FNoClose && FActive) {
      if (plat::NotifyAreaAvailable()) {
        HideApplicationWindow();
        HideOwnerForm();
      } else if (fw::HWND wnd = GetOwnerWindow()) {
        // Nowhere to hide to: the form goes down to an icon of its own instead.
        plat::ShowWindow(wnd, plat::SW_MINIMIZE);
      }
      Message.Result = 0;
      return;
    }
  }
  TKitWndProcComponent::HookWndProc(Message);
}

void TKitTrayIcon::TrayWndProc(fw::TMessage& Message) {
  if (Message.Msg != WM_KITTRAYNOTIFY) {
    Message.Result = fw::HiddenWindowProc(FIconWindow, Message.Msg, Message.WParam, Message.LParam);
    return;
  }
  plat::POINT p;
  plat::GetCursorPos(&p);
  FCursorPos = fw::Point(p.x, p.y);
  int x = p.x, y = p.y;
  fw::TShiftState shift = KeysToShiftState(static_cast<uint32_t>(Message.WParam) & 0xFFFF);
  fw::TShiftState dbl = shift + fw::TShiftState{fw::ssDouble};
  // Handlers run from copies: one may replace the event it runs in.
  auto click = [this] {
    if (fw::TNotifyEvent e = OnClick) e(this);
  };
  auto dblClick = [this] {
    if (fw::TNotifyEvent e = OnDblClick) e(this);
  };
  auto down = [this, x, y](fw::TMouseButton b, fw::TShiftState s) {
    if (fw::TMouseEvent e = OnMouseDown) e(this, b, s, x, y);
  };
  auto up = [this, x, y, shift](fw::TMouseButton b) {
    if (fw::TMouseEvent e = OnMouseUp) e(this, b, shift, x, y);
  };
  switch (static_cast<uint32_t>(Message.LParam)) {
    case plat::WM_MOUSEMOVE:
      if (fw::TMouseMoveEvent e = OnMouseMove) e(this, shift, x, y);
      break;
    case plat::WM_LBUTTONDOWN: down(fw::mbLeft, shift); break;
    case plat::WM_LBUTTONUP: click(); up(fw::mbLeft); break;
    case plat::WM_LBUTTONDBLCLK: dblClick(); down(fw::mbLeft, dbl); break;
    case plat::WM_RBUTTONDOWN:
      down(fw::mbRight, shift);
      if (FPopupMenu) {
        if (fw::TNotifyEvent e = OnPopUp) e(this);
        if (fw::Application) {
          plat::SetForegroundWindow(fw::Application->Handle());
          fw::Application->ProcessMessages();
        }
        // Pending messages may have freed the menu meanwhile.
        if (FPopupMenu) {
          FPopupMenu->SetPopupComponent(this);
          FPopupMenu->Popup(x, y);
        }
      }
      break;
    case plat::WM_RBUTTONUP: click(); up(fw::mbRight); break;
    case plat::WM_RBUTTONDBLCLK: dblClick(); down(fw::mbRight, dbl); break;
    case plat::WM_MBUTTONDOWN: down(fw::mbMiddle, shift); break;
    case plat::WM_MBUTTONUP: click(); up(fw::mbMiddle); break;
    case plat::WM_MBUTTONDBLCLK: dblClick(); down(fw::mbMiddle, dbl); break;
    case static_cast<uint32_t>(plat::NIN_HOSTLOST):
      // The notification area went away: the program is never left without
      // an icon or a window, so the form comes back.
      if (FActive) {
        if (fw::Application) fw::Application->SetShowMainForm(true);
        if (auto* control = dynamic_cast<fw::TControl*>(Owner())) control->SetVisible(true);
      }
      break;
    default: break;
  }
}

// ---- Animation ----------------------------------------------------------------------

void TKitTrayIcon::StartAnimation() {
  if (!FAnimated || Designing(this)) return;
  if (FTimerMode == tmHiTimer || FTimerMode == tmThreaded) {
    if (!FHiTimer) {
      FHiTimer = new TKitHiTimer(this);
      FHiTimer->SetOnTimer([this](fw::TObject* Sender) { AnimationStep(Sender); });
      FHiTimer->SetUseThread(FTimerMode == tmThreaded);
    }
    return;
  }
  if (FPoolTimer == 0) {
    if (FInterval % kPoolStep != 0) {
      uint32_t raised = (FInterval / kPoolStep + 1) * kPoolStep;
      FInterval = static_cast<uint16_t>(raised > 65500 ? 65500 : raised);
    }
    FPoolTimer = KitApplication->AddTimer(FInterval, [this](fw::TObject* Sender) {
      AnimationStep(Sender);
    });
    if (FPoolTimer == 0) throw fw::EOutOfResources(SNotEnoughTimers);
    if (TKitTimerItem* item = KitApplication->GetTimer(FPoolTimer)) item->SetEnabled(false);
  }
}

void TKitTrayIcon::EnableAnimation(bool On) {
  if (!FAnimated || Designing(this)) return;
  FFrame = 0;
  if (FTimerMode == tmHiTimer || FTimerMode == tmThreaded) {
    if (!FHiTimer) return;
    if (On) {
      FHiTimer->SetInterval(FInterval);
      FHiTimer->SetThreadPriority(FThreadPriority);
    }
    FHiTimer->SetEnabled(On);
    return;
  }
  if (TKitTimerItem* item = FPoolTimer ? KitApplication->GetTimer(FPoolTimer) : nullptr) {
    if (On) item->SetInterval(FInterval);
    item->SetEnabled(On);
  }
}

void TKitTrayIcon::StopAnimation(TKitTimerMode Mode) {
  if (Mode == tmHiTimer || Mode == tmThreaded) {
    if (FHiTimer) {
      TKitHiTimer* t = FHiTimer;
      FHiTimer = nullptr;
      fw::Free(t);
    }
    return;
  }
  if (FPoolTimer) {
    if (KitApplicationExists()) KitApplication->RemoveTimer(FPoolTimer);
    FPoolTimer = 0;
  }
}

void TKitTrayIcon::AnimationStep(fw::TObject* /*Sender*/) {
  if (!FImageList || Designing(this)) return;
  int32_t count = FImageList->GetImageCount(FImageListIndex);
  if (FImageList->IsValidImage(FImageListIndex, FFrame)) {
    fw::TBitmap frame;
    frame.SetSize(16, 16);
    FImageList->CopyImageToBitmap(FImageListIndex, FFrame, &frame);
    plat::HICON icon = 0;
    BitmapToIcon(&frame, icon, 16, 16);
    plat::NOTIFYICONDATA d = MakeNotifyIconData(icon);
    plat::Shell_NotifyIcon(plat::NIM_MODIFY, &d);
    if (icon) plat::DestroyIcon(icon);
  }
  // The last image of the list is not shown; a frame number at or past it
  // starts over, so a short list never reads past its end.
  ++FFrame;
  if (FFrame >= count - 1) FFrame = 0;
}

}  // namespace vexa
