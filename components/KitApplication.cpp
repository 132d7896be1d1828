#include "components/KitApplication.h"

#include "components/KitLibraryState.h"
#include "components/KitObject.h"
#include "framework/Forms.h"
#include "framework/ScopeGuard.h"
#include "framework/SysUtils.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Lifecycle.h"
#include "platform/msg/Msg.h"

namespace vexa {

namespace kitlibrary {

namespace {
plat::StateOwner<State> gState{plat::Layer::Components};
}  // namespace

State& St() { return gState.Get(); }

void State::FreeApplication() {
  fw::FreeAndNil(application);
  timerSlots.fill(false);  // the identifiers were its pool's: the next object starts free
}

void State::EndSession() {
  initCount = 0;
  FreeApplication();
}

}  // namespace kitlibrary

using kitlibrary::St;

namespace {

constexpr const char* SNotEnoughTimers = "Not enough timers available";
constexpr uintptr_t kPoolTimerId = 1;

}  // namespace

// ---- Timer items -------------------------------------------------------------------

TKitTimerItem::TKitTimerItem(TKitTimerPool* AOwner, fw::TList* AList, uint16_t AIdent)
    : FIdent(AIdent), FList(AList), FOwner(AOwner) {
  if (!AOwner || !AList) throw fw::EInvalidOperation(ClassName() + ": Invalid Owner or List");
  FDivisor = 1000u / AOwner->MinInterval();
}

TKitTimerItem::~TKitTimerItem() {
  if (FList) FList->Remove(this);
}

void TKitTimerItem::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  if (Value && FCallCount == 0) return;
  FEnabled = Value;
  FCounter = 0;
}

void TKitTimerItem::SetInterval(uint16_t Value) {
  uint16_t min = FOwner->MinInterval();
  if (Value == FInterval || Value % min != 0) return;
  if (Value == 0) Value = min;
  FDivisor = Value / min;
  FInterval = Value;
  FCounter = 0;
}

void TKitTimerItem::Fire() {
  if (!FEnabled) return;
  // Wraps past the largest count to 0 rather than to a negative number.
  FCounter = FCounter == INT32_MAX ? 0 : FCounter + 1;
  // The last firing still happens; the counter keeps the call count for it.
  if (FCounter == FCallCount) FEnabled = false;
  // Handlers may remove this very item: they run from copies, and nothing of
  // the item is used after the call.
  if (FHandler) {
    fw::TNotifyEvent handler = FHandler;
    handler(FOwner);
  } else if (FOwner->OnTimer) {
    TKitTimerPoolEvent onTimer = FOwner->OnTimer;
    onTimer(FOwner, FIdent, FCounter);
  }
}

// ---- Pool ------------------------------------------------------------------------------

TKitTimerPool::TKitTimerPool(fw::TComponent* AOwner, TKitTimerInterval AMinInterval)
    : TKitCustomComponent(AOwner), FMinInterval(AMinInterval ? AMinInterval : 1) {}

TKitTimerPool::~TKitTimerPool() {
  Clear();
  if (FWindowHandle) {
    fw::DeallocateHWnd(FWindowHandle);
    FWindowHandle = 0;
  }
}

void TKitTimerPool::SetMinInterval(TKitTimerInterval Value) {
  if (Value == 0) return;
  if (!ComponentState().Contains(fw::csLoading) && !ComponentState().Contains(fw::csDesigning))
    return;
  FMinInterval = Value;
}

int TKitTimerPool::AddTimer(uint16_t Ident, uint16_t Interval, fw::TNotifyEvent Handler) {
  int existing = IndexOf(Ident);
  if (existing >= 0) throw fw::Exception(fw::Format("List index out of bounds (%d)", existing));
  if (Interval < FMinInterval || Interval % FMinInterval != 0)
    throw fw::Exception("Interval not compatible with MinInterval property!");
  auto* item = new TKitTimerItem(this, &FItems, Ident);
  int index = FItems.Add(item);
  item->SetInterval(Interval);
  item->SetHandler(std::move(Handler));
  SetActive(true);
  return index;
}

void TKitTimerPool::RemoveTimer(uint16_t Ident) {
  bool wasUpdating = FUpdating;
  FUpdating = true;
  {
    auto done = fw::Finally([&] { FUpdating = wasUpdating; });
    if (TKitTimerItem* item = GetItem(Ident)) {
      item->SetEnabled(false);
      item->SetHandler(nullptr);
      delete item;  // leaves the list
    }
  }
  if (FItems.Count() == 0) SetActive(false);
}

TKitTimerItem* TKitTimerPool::GetItem(uint16_t Ident) const {
  int i = IndexOf(Ident);
  return i < 0 ? nullptr : static_cast<TKitTimerItem*>(FItems.Items(i));
}

int TKitTimerPool::IndexOf(uint16_t Ident) const {
  for (int i = 0; i < FItems.Count(); ++i)
    if (static_cast<TKitTimerItem*>(FItems.Items(i))->Ident() == Ident) return i;
  return -1;
}

int TKitTimerPool::EnabledCount() const {
  int n = 0;
  for (int i = 0; i < FItems.Count(); ++i)
    if (static_cast<TKitTimerItem*>(FItems.Items(i))->Enabled()) ++n;
  return n;
}

void TKitTimerPool::SetActive(bool Value) {
  if (ComponentState().Contains(fw::csDesigning)) return;
  if (!FWindowHandle) FWindowHandle = fw::AllocateHWnd([this](fw::TMessage& M) { WndProc(M); });
  FActive = false;
  plat::KillTimer(FWindowHandle, kPoolTimerId);
  if (Value && EnabledCount() > 0) {
    if (plat::SetTimer(FWindowHandle, kPoolTimerId, FMinInterval) == 0)
      throw fw::EOutOfResources(SNotEnoughTimers);
    FPassCounter = 1;
    FActive = true;
  }
}

void TKitTimerPool::Clear() {
  if (FWindowHandle) SetActive(false);
  FActive = false;
  while (FItems.Count() > 0) delete static_cast<TKitTimerItem*>(FItems.Last());
}

void TKitTimerPool::Tick() {
  if (FUpdating) return;
  // Handlers may add and remove timers: the pass works on the items present
  // when it began and skips those removed meanwhile.
  std::vector<void*> items = FItems.List();
  for (void* p : items) {
    if (FItems.IndexOf(p) < 0) continue;
    auto* item = static_cast<TKitTimerItem*>(p);
    if (item->Enabled() && item->Divisor() != 0 &&
        static_cast<uint32_t>(FPassCounter) % item->Divisor() == 0)
      item->Fire();
  }
  FPassCounter = FPassCounter == INT32_MAX ? 0 : FPassCounter + 1;
}

void KitGuardedTick(bool& InTick, fw::TObject* Sender, const std::function<void()>& Tick) {
  if (InTick) return;
  InTick = true;
  try {
    Tick();
  } catch (...) {
    if (fw::Application) fw::Application->HandleException(Sender);
    return;
  }
  InTick = false;
}

void TKitTimerPool::WndProc(fw::TMessage& Message) {
  if (Message.Msg == plat::WM_TIMER) {
    KitGuardedTick(FInTick, this, [this] { Tick(); });
    return;
  }
  Message.Result = fw::HiddenWindowProc(FWindowHandle, Message.Msg, Message.WParam, Message.LParam);
}

// ---- Application object -----------------------------------------------------------------

TKitApplication::TKitApplication() : fw::TComponent(nullptr) {
  FIniCtrl = new TKitIniCtrl(nullptr);
  // Named after the program file; a second running copy finds it existing.
  std::string name = fw::ExtractFileName(fw::ParamStr0());
  plat::SetLastError(0);
  FMutex = plat::CreateMutex(name, false);
  if (FMutex != 0 && plat::GetLastError() == plat::ERROR_ALREADY_EXISTS) FSecondInstance = true;
  FTimerPool = new TKitTimerPool(nullptr, 50);
  FLogPathPrefix = ppProgram;
  SetLogFile("");
  plat::QueryPerformanceFrequency(&FPerformanceFrequency);
  // Programs of this platform carry no cursor resources, so no own screen
  // cursor is installed.
}

TKitApplication::~TKitApplication() {
  fw::FreeAndNil(FIniCtrl);
  FDitherBitmap.reset();
  fw::FreeAndNil(FTimerPool);
  if (FMutex) {
    plat::CloseHandle(FMutex);
    FMutex = 0;
  }
}

uint16_t TKitApplication::AddTimer(uint16_t Interval, fw::TNotifyEvent Handler) {
  auto& slots = St().timerSlots;
  int slot = 1;
  while (slot <= KitTimerSlots && slots[slot]) ++slot;
  if (slot > KitTimerSlots) return 0;  // every identifier 0xFD01..0xFDFA is taken
  uint16_t ident = static_cast<uint16_t>(KitTimerIdentBase + slot);
  try {
    FTimerPool->AddTimer(ident, Interval, std::move(Handler));
  } catch (const fw::Exception&) {
    return 0;
  }
  slots[slot] = true;
  return ident;
}

void TKitApplication::RemoveTimer(uint16_t Ident) {
  if (Ident <= KitTimerIdentBase) return;
  FTimerPool->RemoveTimer(Ident);
  int slot = Ident - KitTimerIdentBase;
  if (slot <= KitTimerSlots) St().timerSlots[slot] = false;
}

TKitTimerItem* TKitApplication::GetTimer(uint16_t Ident) const {
  return FTimerPool->GetItem(Ident);
}

fw::TBitmap* TKitApplication::GetDitherBitmap(fw::TColor Color) {
  if (FDitherBitmap && Color == FDitherColor) return FDitherBitmap.get();
  if (!FDitherBitmap) {
    FDitherBitmap = std::make_unique<fw::TBitmap>();
    FDitherBitmap->SetSize(8, 8);
    fw::TCanvas* c = FDitherBitmap->Canvas();
    c->Brush()->SetColor(fw::clWhite);
    c->FillRect(fw::Rect(0, 0, 8, 8));
  }
  fw::TCanvas* c = FDitherBitmap->Canvas();
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if ((x % 2 == 1 && y % 2 == 0) || (x % 2 == 0 && y % 2 == 1)) c->SetPixels(x, y, Color);
  FDitherColor = Color;
  return FDitherBitmap.get();
}

void TKitApplication::SetLogFile(const std::string& Name) {
  std::string name = Name;
  if (IsBlankString(name))
    name = fw::ChangeFileExt(fw::ParamStr0(), ".LOG");
  else if (fw::ExtractFileExt(name).empty())
    name += ".LOG";
  if (FLogPathPrefix == ppFixed)
    FLogFile = name;
  else
    FLogFile = PrefixDirectory(FLogPathPrefix, true) + fw::ExtractFileName(name);
}

// ---- Unit start-up and end -----------------------------------------------------------

const TKitApplicationAccess KitApplication;

TKitApplication* TKitApplicationAccess::Get() const {
  if (!St().application) KitClassInitialize();
  return St().application;
}

void KitClassInitialize() {
  auto& st = St();
  if (st.initCount++ == 0 && !st.application) st.application = new TKitApplication();
}

void KitClassFinalize() {
  auto& st = St();
  if (st.initCount == 0) return;
  if (--st.initCount == 0) st.FreeApplication();
}

bool KitApplicationExists() {
  auto* st = kitlibrary::gState.IfMade();
  return st && st->application;
}

// ---- Single placement ------------------------------------------------------------------

KitEOneInstError::KitEOneInstError(const std::string& Text, int Kind) : fw::Exception("") {
  if (Kind == 0)
    SetMessage(Text + ":\rInvalid owner (<>TForm) or second instance on a form");
  else if (Kind == 1)
    SetMessage(Text + ":\rAlready one " + Text + " control in this project!");
}

bool CheckSingleInstance(fw::TComponent* Owner, TKitComponentClass ComponentClass,
                         bool /*AllowDataModule*/) {
  if (!Owner || !dynamic_cast<fw::TForm*>(Owner)) return true;
  if (!ComponentClass) return false;
  int n = 0;
  for (int i = 0; i < Owner->ComponentCount(); ++i)
    if (ComponentClass(Owner->Components(i))) ++n;
  return n > 1;
}

}  // namespace vexa
