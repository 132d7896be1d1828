// A timer component with a period in milliseconds that runs either on the
// platform's high-resolution timer events (ticks arrive as WM_TIMER posted to
// a private window, so the handler runs in the main thread) or on a thread of
// its own that sleeps for the period and then fires, in the main thread by
// synchronisation or in the timer thread itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "components/KitCustomComponent.h"
#include "framework/Classes.h"

namespace vexa {

class TKitHiTimer;

// What a timer thread shares with its component. The component clears Owner
// (under OwnerMu) and sets Stop when it lets the thread go, so a thread that
// wakes up later never reaches a component that is gone.
struct TKitTimerThreadLink {
  std::recursive_mutex OwnerMu;
  TKitHiTimer* Owner = nullptr;
  std::mutex WaitMu;
  std::condition_variable WakeUp;
  bool Stop = false;
  bool Done = false;  // the thread's loop has ended
  // Lets the thread go: it ends its loop at the next look and frees itself.
  void Release();
  // Waits until the thread's loop has ended, serving synchronized calls when
  // called in the main thread (a thread may be waiting in one).
  void WaitDone();
};

// The thread of the thread mode: created suspended, frees itself when its loop ends.
class TKitThreadedTimer : public fw::TThread {
public:
  TKitThreadedTimer(TKitHiTimer* AOwner, std::shared_ptr<TKitTimerThreadLink> ALink);
  uint16_t Interval = 1000;

protected:
  void Execute() override;

private:
  bool StopCondition();
  std::shared_ptr<TKitTimerThreadLink> FLink;
};

class TKitHiTimer : public TKitCustomComponent {
public:
  explicit TKitHiTimer(fw::TComponent* AOwner) : TKitHiTimer(AOwner, 1000) {}
  TKitHiTimer(fw::TComponent* AOwner, uint16_t AInterval);
  ~TKitHiTimer() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  uint32_t Interval() const { return FInterval; }
  // Clamped to the device's period range first.
  void SetInterval(uint32_t Value);
  const fw::TNotifyEvent& OnTimer() const { return FOnTimer; }
  void SetOnTimer(fw::TNotifyEvent Value);
  bool Synchronize() const { return FSynchronize; }
  void SetSynchronize(bool Value) { FSynchronize = Value; }
  bool UseThread() const { return FUseThread; }
  void SetUseThread(bool Value);
  fw::TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(fw::TThreadPriority Value);

  // Fires OnTimer with this timer as sender.
  virtual void DoTimer();

  // The running high-resolution event (0 when none), the private window (0
  // when none) and whether a timer thread runs for this component.
  uint32_t TimerID() const { return FTimerID; }
  fw::HWND WindowHandle() const { return FWindowHandle; }
  bool ThreadRunning() const { return FThreadLink != nullptr; }
  uint32_t PeriodMin() const { return FPeriodMin; }
  uint32_t PeriodMax() const { return FPeriodMax; }

private:
  void UpdateTimer();
  void StopTimer();
  void WndProc(fw::TMessage& Message);

  std::atomic<bool> FEnabled{false};
  uint32_t FInterval = 1000;
  fw::TNotifyEvent FOnTimer;
  std::atomic<bool> FSynchronize{true};
  bool FUseThread = true;
  fw::TThreadPriority FThreadPriority = fw::tpNormal;
  bool FInTick = false;
  uint32_t FTimerID = 0;
  uint32_t FPeriodMin = 1;
  uint32_t FPeriodMax = 1000000;
  fw::HWND FWindowHandle = 0;
  std::shared_ptr<TKitTimerThreadLink> FThreadLink;
};

}  // namespace vexa
