#include "framework/ExtCtrls.h"

#include "framework/Forms.h"

namespace fw {

// ---------------------------------------------------------------------------
// TTimer

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
  FWindowHandle = AllocateHWnd(TWndMethod([this](TMessage& Msg) { WndProc(Msg); }));
}

TTimer::~TTimer() {
  FEnabled = false;
  if (FWindowHandle) {
    plat::KillTimer(FWindowHandle, 1);
    DeallocateHWnd(FWindowHandle);
  }
}

void TTimer::WndProc(TMessage& Msg) {
  if (Msg.Msg == plat::WM_TIMER) {
    try {
      Timer();
    } catch (...) {
      // A failing handler is the application's to report; the timer keeps going.
      if (Application) {
        Application->HandleException(this);
      } else {
        throw;
      }
    }
    return;
  }
  Msg.Result = HiddenWindowProc(FWindowHandle, Msg.Msg, Msg.WParam, Msg.LParam);
}

void TTimer::UpdateTimer() {
  plat::KillTimer(FWindowHandle, 1);
  if (FInterval != 0 && FEnabled && FOnTimer) {
    if (plat::SetTimer(FWindowHandle, 1, FInterval) == 0) {
      throw EOutOfResources("Not enough timers available");
    }
  }
}

void TTimer::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  UpdateTimer();
}

void TTimer::SetInterval(uint32_t Value) {
  if (FInterval == Value) return;
  FInterval = Value;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent Value) {
  FOnTimer = std::move(Value);
  UpdateTimer();
}

void TTimer::Timer() {
  if (FEnabled && FOnTimer) {
    TNotifyEvent handler = FOnTimer;  // the handler may replace itself
    handler(this);
  }
}

// ---------------------------------------------------------------------------
// TCustomPanel

TCustomPanel::TCustomPanel(TComponent* AOwner) : TCustomControl(AOwner) {
  SetControlStyle(TControlStyle{csAcceptsControls, csCaptureMouse, csClickEvents, csSetCaption,
                                csOpaque, csDoubleClicks});
  SetBounds(0, 0, 185, 41);
}

void TCustomPanel::SetAlignment(TAlignment Value) {
  if (FAlignment == Value) return;
  FAlignment = Value;
  Invalidate();
}

void TCustomPanel::SetBevelInner(TBevelCut Value) {
  if (FBevelInner == Value) return;
  FBevelInner = Value;
  Realign();
  Invalidate();
}

void TCustomPanel::SetBevelOuter(TBevelCut Value) {
  if (FBevelOuter == Value) return;
  FBevelOuter = Value;
  Realign();
  Invalidate();
}

void TCustomPanel::SetBevelWidth(int Value) {
  if (FBevelWidth == Value || Value < 1) return;
  FBevelWidth = Value;
  Realign();
  Invalidate();
}

void TCustomPanel::SetBorderWidth(int Value) {
  if (FBorderWidth == Value || Value < 0) return;
  FBorderWidth = Value;
  Realign();
  Invalidate();
}

TRect TCustomPanel::ClientRect() const {
  // Children are laid out inside the bevels and the border.
  int inset = FBorderWidth;
  if (FBevelOuter != bvNone) inset += FBevelWidth;
  if (FBevelInner != bvNone) inset += FBevelWidth;
  TRect r = Rect(inset, inset, Width() - inset, Height() - inset);
  if (r.Right < r.Left) r.Right = r.Left;
  if (r.Bottom < r.Top) r.Bottom = r.Top;
  return r;
}

}  // namespace fw
