// The library's application object: what the components of one process
// share. A pool of slow timers multiplexed over one window timer, the 8 x 8
// dither bitmap, the option byte of the drawing routines, the settings holder,
// a mutex named after the program file and the log file name. Also the
// exception of components that must sit alone on a form and its check.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "components/KitCustomComponent.h"
#include "components/KitIniCtrl.h"
#include "components/kitprocs.h"
#include "framework/Classes.h"
#include "framework/Graphics.h"

namespace vexa {

using TKitTimerInterval = uint16_t;  // 1..65535 ms
using TKitTimerPoolEvent =
    std::function<void(fw::TObject* Sender, uint16_t Ident, int32_t Counter)>;

class TKitTimerPool;

// Runs Tick unless a tick of the same timer is running already. A tick that
// raises goes to the application's exception handler and leaves InTick set:
// that timer delivers no further ticks until it is set up again.
void KitGuardedTick(bool& InTick, fw::TObject* Sender, const std::function<void()>& Tick);

// One timer of a pool. It fires on every Divisor-th pass of the pool.
class TKitTimerItem : public fw::TObject {
public:
  // Raises EInvalidOperation "<class>: Invalid Owner or List" without either.
  TKitTimerItem(TKitTimerPool* AOwner, fw::TList* AList, uint16_t AIdent);
  // Leaves the pool's list.
  ~TKitTimerItem() override;

  int32_t CallCount() const { return FCallCount; }
  // The item disables itself when its counter reaches this value (-1: never).
  void SetCallCount(int32_t Value) { FCallCount = Value; }
  int32_t Counter() const { return FCounter; }
  bool Enabled() const { return FEnabled; }
  // A change resets the counter; enabling is refused while the call count is 0.
  void SetEnabled(bool Value);
  uint16_t Ident() const { return FIdent; }
  uint16_t Interval() const { return FInterval; }
  // Only whole multiples of the pool's MinInterval; 0 becomes MinInterval.
  void SetInterval(uint16_t Value);
  uint32_t Divisor() const { return FDivisor; }
  const fw::TNotifyEvent& Handler() const { return FHandler; }
  void SetHandler(fw::TNotifyEvent Value) { FHandler = std::move(Value); }
  TKitTimerPool* Owner() const { return FOwner; }

  // Counts and calls the handler (the pool's OnTimer without one); only when enabled.
  void Fire();

private:
  int32_t FCallCount = -1;
  int32_t FCounter = 0;
  bool FEnabled = true;
  uint16_t FIdent;
  uint16_t FInterval = 1000;
  uint32_t FDivisor;
  fw::TList* FList;
  TKitTimerPool* FOwner;
  fw::TNotifyEvent FHandler;
};

class TKitTimerPool : public TKitCustomComponent {
public:
  explicit TKitTimerPool(fw::TComponent* AOwner) : TKitTimerPool(AOwner, 1000) {}
  TKitTimerPool(fw::TComponent* AOwner, TKitTimerInterval AMinInterval);
  ~TKitTimerPool() override;

  TKitTimerInterval MinInterval() const { return FMinInterval; }
  // Takes effect only while loading or designing.
  void SetMinInterval(TKitTimerInterval Value);
  TKitTimerPoolEvent OnTimer;

  // Adds an enabled item and (re)activates the pool; answers its list index.
  // Raises Exception for an identifier already in the pool and for an
  // interval that is not a whole multiple of MinInterval.
  int AddTimer(uint16_t Ident, uint16_t Interval, fw::TNotifyEvent Handler);
  void RemoveTimer(uint16_t Ident);
  TKitTimerItem* GetItem(uint16_t Ident) const;
  int IndexOf(uint16_t Ident) const;
  int EnabledCount() const;
  int Count() const { return FItems.Count(); }
  // Sets window timer 1 at MinInterval when Value and an item is enabled.
  void SetActive(bool Value);
  bool Active() const { return FActive; }
  // Deactivates, then frees the items, last first.
  void Clear();
  fw::HWND WindowHandle() const { return FWindowHandle; }
  int32_t PassCounter() const { return FPassCounter; }

  // One pass: fires every enabled item whose divisor divides the pass number.
  void Tick();

private:
  void WndProc(fw::TMessage& Message);

  TKitTimerInterval FMinInterval;
  bool FActive = false;
  bool FInTick = false;
  fw::HWND FWindowHandle = 0;
  int32_t FPassCounter = 0;
  fw::TList FItems;
  bool FUpdating = false;
};

class TKitApplication : public fw::TComponent {
public:
  TKitApplication();
  ~TKitApplication() override;

  // Bit 0: the low-colour option of the bitmap and gradient drawing.
  uint8_t Options() const { return FOptions; }
  void SetOptions(uint8_t Value) { FOptions = Value; }
  TKitIniCtrl* IniCtrl() const { return FIniCtrl; }
  TKitTimerPool* TimerPool() const { return FTimerPool; }

  // A pool timer in the lowest free slot (identifier 0xFD00 + slot, 1..250);
  // 0 when every slot is taken or the pool refuses the interval.
  uint16_t AddTimer(uint16_t Interval, fw::TNotifyEvent Handler);
  // Identifiers up to 0xFD00 are ignored.
  void RemoveTimer(uint16_t Ident);
  TKitTimerItem* GetTimer(uint16_t Ident) const;

  // The shared 8 x 8 checkerboard of Color and white; owned here.
  fw::TBitmap* GetDitherBitmap(fw::TColor Color);

  TKitPathPrefix LogPathPrefix() const { return FLogPathPrefix; }
  void SetLogPathPrefix(TKitPathPrefix Value) { FLogPathPrefix = Value; }
  const std::string& LogFile() const { return FLogFile; }
  void SetLogFile(const std::string& Name);

  plat::HANDLE MutexHandle() const { return FMutex; }
  bool SecondInstance() const { return FSecondInstance; }
  int64_t PerformanceFrequency() const { return FPerformanceFrequency; }

private:
  uint8_t FOptions = 0x36;
  TKitIniCtrl* FIniCtrl = nullptr;
  std::unique_ptr<fw::TBitmap> FDitherBitmap;
  fw::TColor FDitherColor = 0x1FFFFFFF;
  TKitTimerPool* FTimerPool = nullptr;
  TKitPathPrefix FLogPathPrefix = ppProgram;
  std::string FLogFile;
  plat::HANDLE FMutex = 0;
  bool FSecondInstance = false;
  int64_t FPerformanceFrequency = 0;
};

// Slots of the application's pool timers.
constexpr uint16_t KitTimerIdentBase = 0xFD00;
constexpr int KitTimerSlots = 250;

// The process's application object. Programs make it at their start and free
// it at their end with TKitClassUnit; code without one (a test, a library)
// gets it at the first use.
class TKitApplicationAccess {
public:
  constexpr TKitApplicationAccess() = default;
  TKitApplication* Get() const;
  TKitApplication* operator->() const { return Get(); }
  TKitApplication& operator*() const { return *Get(); }
  operator TKitApplication*() const { return Get(); }
};
extern const TKitApplicationAccess KitApplication;

// Nested start-up and end of the unit: the first start-up makes the object,
// the end that brings the count back to 0 frees it.
void KitClassInitialize();
void KitClassFinalize();
// True while the object exists.
bool KitApplicationExists();

// The unit's start-up and end around a program's main: the object, and with it
// the mutex named after the program file, exists before the main form is made
// and is freed after everything of the form is gone, on every way out of main.
class TKitClassUnit {
public:
  TKitClassUnit() { KitClassInitialize(); }
  ~TKitClassUnit() { KitClassFinalize(); }
  TKitClassUnit(const TKitClassUnit&) = delete;
  TKitClassUnit& operator=(const TKitClassUnit&) = delete;
};

class KitEOneInstError : public fw::Exception {
public:
  // Kind 0: invalid owner or second instance on a form; 1: a second control
  // in the project; other kinds: an empty message.
  KitEOneInstError(const std::string& Text, int Kind);
  const char* ClassName() const noexcept override { return "KitEOneInstError"; }
};

using TKitComponentClass = bool (*)(const fw::TComponent*);
template <class T>
bool KitClassOf(const fw::TComponent* C) {
  return dynamic_cast<const T*>(C) != nullptr;
}
// True (placement not allowed) when the owner is missing or no form, or when
// more than one component of the class sits on it. The framework has no data
// modules, so AllowDataModule admits nothing more.
bool CheckSingleInstance(fw::TComponent* Owner, TKitComponentClass ComponentClass,
                         bool AllowDataModule);

}  // namespace vexa
