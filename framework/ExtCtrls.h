// TTimer on the platform's window timers, TPanel and TBevel.
#pragma once

#include <cstdint>
#include <string>

#include "framework/Controls.h"

namespace fw {

// A timer component with a hidden window of its own. It ticks only while it
// is Enabled, has a non-zero Interval and an OnTimer handler; changing any of
// them restarts it. Ticks arrive through the message loop of the thread that
// made the timer. Raises EOutOfResources "Not enough timers available" when
// the platform refuses the timer.
class TTimer : public TComponent {
public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t Value);
  TNotifyEvent OnTimer() const { return FOnTimer; }
  void SetOnTimer(TNotifyEvent Value);
  HWND Handle() const { return FWindowHandle; }

protected:
  // Called on every tick; fires OnTimer.
  virtual void Timer();

private:
  void UpdateTimer();
  void WndProc(TMessage& Msg);
  HWND FWindowHandle = 0;
  uint32_t FInterval = 1000;
  bool FEnabled = true;
  TNotifyEvent FOnTimer;
};

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };

class TCustomPanel : public TCustomControl {
public:
  explicit TCustomPanel(TComponent* AOwner);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);
  TBevelCut BevelInner() const { return FBevelInner; }
  void SetBevelInner(TBevelCut Value);
  TBevelCut BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TBevelCut Value);
  int BevelWidth() const { return FBevelWidth; }
  void SetBevelWidth(int Value);
  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int Value);
  TRect ClientRect() const override;

private:
  TAlignment FAlignment = taCenter;
  TBevelCut FBevelInner = bvNone;
  TBevelCut FBevelOuter = bvRaised;
  int FBevelWidth = 1;
  int FBorderWidth = 0;
};

class TPanel : public TCustomPanel {
public:
  explicit TPanel(TComponent* AOwner) : TCustomPanel(AOwner) {}
};

}  // namespace fw
