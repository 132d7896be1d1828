// The tray icon: one icon in the desktop's notification area. Mouse actions
// on it become events, the right button shows a popup menu, and while it is
// active the program's taskbar window and main form stay hidden (the form is
// hidden instead of minimised, and instead of closed with NoClose). The icon
// can be animated from an image list. Where the desktop has a display but no
// notification area, the form is never hidden: the program always keeps an
// icon or a window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "components/KitTimer.h"
#include "components/KitWndProcComponent.h"
#include "components/kitcont.h"
#include "components/kitimage.h"
#include "framework/Controls.h"
#include "framework/Graphics.h"
#include "framework/Menus.h"
#include "platform/shell/TrayIcon.h"

namespace vexa {

enum TKitTimerMode { tmGlobalTimer, tmHiTimer, tmThreaded };

// The message the notification area sends to the icon's window.
constexpr fw::UINT WM_KITTRAYNOTIFY = plat::WM_USER + 101;  // 1125

// Makes an icon of Width x Height from a bitmap (sized to that first) with a
// monochrome copy of it as the mask. The caller destroys the icon.
void BitmapToIcon(fw::TBitmap* Bitmap, plat::HICON& Icon, int32_t Width, int32_t Height);

class TKitTrayIcon : public TKitWndProcComponent {
public:
  explicit TKitTrayIcon(fw::TComponent* AOwner);
  ~TKitTrayIcon() override;

  bool Active() const { return FActive; }
  void SetActive(bool Value);
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& Value);
  fw::TIcon* Icon() const { return FIcon.get(); }
  void SetIcon(fw::TIcon* Value);
  bool NoClose() const { return FNoClose; }
  void SetNoClose(bool Value) { FNoClose = Value; }
  bool ShowMinimizedIcon() const { return FShowMinimizedIcon; }
  void SetShowMinimizedIcon(bool Value) { FShowMinimizedIcon = Value; }
  fw::TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(fw::TPopupMenu* Value);
  TKitCustomImageList* ImageList() const { return FImageList; }
  void SetImageList(TKitCustomImageList* Value);
  TKitTimerMode TimerMode() const { return FTimerMode; }
  void SetTimerMode(TKitTimerMode Value);
  fw::TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(fw::TThreadPriority Value) { FThreadPriority = Value; }
  uint16_t Interval() const { return FInterval; }
  // 1..65535 ms; takes effect at the next enabling of the animation.
  void SetInterval(uint16_t Value) { FInterval = Value ? Value : 1; }
  bool Animated() const { return FAnimated; }
  void SetAnimated(bool Value);

  fw::TNotifyEvent OnClick;
  fw::TNotifyEvent OnDblClick;
  fw::TNotifyEvent OnPopUp;
  fw::TMouseEvent OnMouseDown;
  fw::TMouseEvent OnMouseUp;
  fw::TMouseMoveEvent OnMouseMove;

  // Sends the icon's record with Code (NIM_ADD, NIM_MODIFY, NIM_DELETE).
  void UpdateTrayIcon(uint32_t Code);
  // The record as sent for an icon handle.
  plat::NOTIFYICONDATA MakeNotifyIconData(plat::HICON IconHandle) const;

  // The icon's own hidden window, the pointer at the last notification, the
  // animation's frame, pool timer and high-resolution timer.
  fw::HWND IconWindow() const { return FIconWindow; }
  fw::TPoint CursorPos() const { return FCursorPos; }
  int32_t Frame() const { return FFrame; }
  uint16_t PoolTimer() const { return FPoolTimer; }
  TKitHiTimer* HiTimer() const { return FHiTimer; }
  // One animation step (what the animation's timer runs).
  void AnimationStep(fw::TObject* Sender);

  void HookWndProc(fw::TMessage& Message) override;

protected:
  void Loaded() override;
  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;

private:
  void TrayWndProc(fw::TMessage& Message);
  void IconChanged(fw::TObject* Sender);
  void StartAnimation();
  void EnableAnimation(bool On);
  void StopAnimation(TKitTimerMode Mode);
  void HideApplicationWindow();
  void HideOwnerForm();

  bool FActive = true;
  std::string FHint;
  std::unique_ptr<fw::TIcon> FIcon;
  bool FNoClose = false;
  bool FShowMinimizedIcon = false;
  fw::TPopupMenu* FPopupMenu = nullptr;
  TKitCustomImageList* FImageList = nullptr;
  TKitTimerMode FTimerMode = tmGlobalTimer;
  fw::TThreadPriority FThreadPriority = fw::tpNormal;
  uint16_t FInterval = 200;
  bool FAnimated = false;

  fw::TPoint FCursorPos;
  fw::HWND FIconWindow = 0;
  int32_t FImageListIndex = 0;
  std::unique_ptr<TKitChangeLink> FChangeLink;
  uint16_t FPoolTimer = 0;
  TKitHiTimer* FHiTimer = nullptr;
  int32_t FFrame = 0;
  bool FAppWindowHidden = false;  // we hid a visible application window
};

}  // namespace vexa
