#include "components/KitTimer.h"

#include "components/KitApplication.h"

#include <chrono>

#include "framework/Forms.h"
#include "platform/kernel/MmTimer.h"
#include "platform/msg/Msg.h"

namespace vexa {

constexpr const char* SNotEnoughTimers = "Not enough timers available";

// ---- Thread ---------------------------------------------------------------------

void TKitTimerThreadLink::Release() {
  {
    std::lock_guard<std::recursive_mutex> g(OwnerMu);
    Owner = nullptr;
  }
  {
    std::lock_guard<std::mutex> g(WaitMu);
    Stop = true;
  }
  WakeUp.notify_all();
}

void TKitTimerThreadLink::WaitDone() {
  std::unique_lock<std::mutex> l(WaitMu);
  while (!Done) {
    if (fw::IsMainThread()) {
      l.unlock();
      fw::CheckSynchronize();
      l.lock();
    }
    WakeUp.wait_for(l, std::chrono::milliseconds(5), [this] { return Done; });
  }
}

TKitThreadedTimer::TKitThreadedTimer(TKitHiTimer* AOwner,
                                     std::shared_ptr<TKitTimerThreadLink> ALink)
    : FLink(std::move(ALink)) {
  std::lock_guard<std::recursive_mutex> g(FLink->OwnerMu);
  FLink->Owner = AOwner;
  SetFreeOnTerminate(true);
}

bool TKitThreadedTimer::StopCondition() {
  if (Terminated()) return true;
  {
    std::lock_guard<std::mutex> g(FLink->WaitMu);
    if (FLink->Stop) return true;
  }
  if (fw::Application && fw::Application->Terminated()) return true;
  std::lock_guard<std::recursive_mutex> g(FLink->OwnerMu);
  return FLink->Owner == nullptr;
}

void TKitThreadedTimer::Execute() {
  struct DoneGuard {
    TKitTimerThreadLink* link;
    ~DoneGuard() {
      {
        std::lock_guard<std::mutex> g(link->WaitMu);
        link->Done = true;
      }
      link->WakeUp.notify_all();
    }
  } done{FLink.get()};
  for (;;) {
    {
      std::lock_guard<std::mutex> g(FLink->WaitMu);
      if (FLink->Stop || Terminated()) return;
    }
    bool idle = StopCondition();
    // Sleeps for the interval; a stopping component wakes it at once. Once the
    // application is terminating the turns deliver nothing until it is told to end.
    {
      std::unique_lock<std::mutex> l(FLink->WaitMu);
      FLink->WakeUp.wait_for(l, std::chrono::milliseconds(Interval ? Interval : 1),
                             [this] { return FLink->Stop; });
    }
    if (idle || StopCondition()) continue;
    bool sync;
    {
      std::lock_guard<std::recursive_mutex> g(FLink->OwnerMu);
      if (!FLink->Owner || !FLink->Owner->Enabled()) continue;
      sync = FLink->Owner->Synchronize();
    }
    std::shared_ptr<TKitTimerThreadLink> link = FLink;
    // An exception from the handler ends the loop and the thread.
    if (sync) {
      fw::TThread::Synchronize([link] {
        std::lock_guard<std::recursive_mutex> g(link->OwnerMu);
        if (link->Owner) link->Owner->DoTimer();
      });
    } else {
      // The handler runs under the owner lock so that the component cannot go
      // away meanwhile; it must not wait for the main thread.
      std::lock_guard<std::recursive_mutex> g(link->OwnerMu);
      if (link->Owner) link->Owner->DoTimer();
    }
  }
}

// ---- Component --------------------------------------------------------------------

TKitHiTimer::TKitHiTimer(fw::TComponent* AOwner, uint16_t AInterval)
    : TKitCustomComponent(AOwner) {
  plat::TIMECAPS caps;
  if (plat::timeGetDevCaps(&caps) == plat::TIMERR_NOERROR) {
    FPeriodMin = caps.wPeriodMin;
    FPeriodMax = caps.wPeriodMax;
  }
  plat::timeBeginPeriod(FPeriodMin);
  FInterval = AInterval;
}

TKitHiTimer::~TKitHiTimer() {
  FOnTimer = nullptr;
  Destroying();
  // A thread waiting in a synchronized call is let go before the component is
  // gone, so that no thread is left waiting for a main loop that has ended.
  std::shared_ptr<TKitTimerThreadLink> link = FThreadLink;
  UpdateTimer();  // stops; starts nothing while destroying
  if (link) link->WaitDone();
  plat::timeEndPeriod(FPeriodMin);
  FEnabled = false;
  if (FWindowHandle) {
    fw::DeallocateHWnd(FWindowHandle);
    FWindowHandle = 0;
  }
}

void TKitHiTimer::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateTimer();
}

void TKitHiTimer::SetInterval(uint32_t Value) {
  if (Value < FPeriodMin) Value = FPeriodMin;
  if (Value > FPeriodMax) Value = FPeriodMax;
  if (Value == FInterval) return;
  FInterval = Value;
  UpdateTimer();
}

void TKitHiTimer::SetOnTimer(fw::TNotifyEvent Value) {
  FOnTimer = std::move(Value);
  UpdateTimer();
}

void TKitHiTimer::SetUseThread(bool Value) {
  if (Value == FUseThread) return;
  FUseThread = Value;
  UpdateTimer();
}

void TKitHiTimer::SetThreadPriority(fw::TThreadPriority Value) {
  if (Value == FThreadPriority) return;
  FThreadPriority = Value;
  if (FUseThread) UpdateTimer();
}

void TKitHiTimer::DoTimer() {
  if (FOnTimer) FOnTimer(this);
}

void TKitHiTimer::StopTimer() {
  if (FThreadLink) {
    FThreadLink->Release();
    FThreadLink.reset();
  }
  if (FTimerID) {
    plat::timeKillEvent(FTimerID);
    FTimerID = 0;
  }
}

void TKitHiTimer::UpdateTimer() {
  if (ComponentState().Contains(fw::csDesigning)) return;
  StopTimer();
  if (ComponentState().Contains(fw::csDestroying)) return;
  if (FUseThread) {
    if (FWindowHandle) {
      fw::DeallocateHWnd(FWindowHandle);
      FWindowHandle = 0;
    }
    if (FEnabled && FOnTimer) {
      auto link = std::make_shared<TKitTimerThreadLink>();
      auto* thread = new TKitThreadedTimer(this, link);
      // The thread holds its period in 16 bits; longer periods run at the
      // longest it can hold rather than at a wrapped one.
      thread->Interval = static_cast<uint16_t>(FInterval > 0xFFFF ? 0xFFFF : FInterval);
      thread->SetPriority(FThreadPriority);
      FThreadLink = link;
      thread->Resume();
    }
    return;
  }
  if (!FWindowHandle) FWindowHandle = fw::AllocateHWnd([this](fw::TMessage& M) { WndProc(M); });
  if (FInterval != 0 && FEnabled && FOnTimer) {
    fw::HWND wnd = FWindowHandle;
    FTimerID = plat::timeSetEvent(
        FInterval, FInterval,
        [wnd](uint32_t id, uint32_t, uintptr_t, uintptr_t, uintptr_t) {
          plat::PostMessage(wnd, plat::WM_TIMER, static_cast<plat::WPARAM>(id), 0);
        },
        0, plat::TIME_PERIODIC);
    FInTick = false;
    if (FTimerID == 0) throw fw::EOutOfResources(SNotEnoughTimers);
  }
}

void TKitHiTimer::WndProc(fw::TMessage& Message) {
  if (Message.Msg == plat::WM_TIMER && FTimerID != 0 &&
      static_cast<uint32_t>(Message.WParam) == FTimerID) {
    // A tick that raised leaves the timer silent until it is applied again.
    KitGuardedTick(FInTick, this, [this] { DoTimer(); });
    Message.Result = 0;
    return;
  }
  Message.Result = fw::HiddenWindowProc(FWindowHandle, Message.Msg, Message.WParam, Message.LParam);
}

}  // namespace vexa
