// Objects, persistent objects and components (ownership, names, free notification);
// the hidden utility windows.
#include "framework/Classes.h"
#include "framework/ClassesInternal.h"
#include "framework/FrameworkState.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <typeinfo>

namespace fw {

// ---------------------------------------------------------------------------
// TObject, TPersistent

std::string TObject::ClassName() const {
  const char* raw = typeid(*this).name();
  int status = 0;
  char* dem = abi::__cxa_demangle(raw, nullptr, nullptr, &status);
  std::string name = (status == 0 && dem) ? dem : raw;
  std::free(dem);
  size_t lt = name.find('<');
  std::string head = lt == std::string::npos ? name : name.substr(0, lt);
  size_t colon = head.rfind("::");
  if (colon != std::string::npos) name = name.substr(colon + 2);
  return name;
}

void TPersistent::Assign(TPersistent* Source) {
  if (Source) {
    Source->AssignTo(this);
  } else {
    AssignError(nullptr);
  }
}

void TPersistent::AssignTo(TPersistent* Dest) { Dest->AssignError(this); }

void TPersistent::AssignError(TPersistent* Source) {
  std::string src = Source ? Source->ClassName() : std::string("nil");
  throw EConvertError("Cannot assign a " + src + " to a " + ClassName());
}

// ---------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Holders of references to this component clear them now.
  while (!FFreeNotifies.empty()) {
    TComponent* holder = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    EraseOne(holder->FFreeNotifies, this);
    holder->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) {
    throw EListError(Format("List index out of bounds (%d)", index));
  }
  return FComponents[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  auto& v = FOwner->FComponents;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  auto it = FNameIndex.find(UpperCase(name));
  return it == FNameIndex.end() ? nullptr : it->second;
}

void TComponent::SetName(const std::string& NewName) {
  if (FName == NewName) return;
  if (FOwner && !NewName.empty()) {
    TComponent* other = FOwner->FindComponent(NewName);
    if (other && other != this) {
      throw EComponentError("A component named " + NewName + " already exists");
    }
  }
  if (FOwner) FOwner->Unindex(this);
  FName = NewName;
  if (FOwner) FOwner->Index(this);
}

void TComponent::Index(TComponent* AComponent) {
  if (!AComponent->FName.empty()) FNameIndex[UpperCase(AComponent->FName)] = AComponent;
}

void TComponent::Unindex(TComponent* AComponent) {
  if (AComponent->FName.empty()) return;
  auto it = FNameIndex.find(UpperCase(AComponent->FName));
  if (it != FNameIndex.end() && it->second == AComponent) FNameIndex.erase(it);
}

void TComponent::Insert(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  Index(AComponent);
}

void TComponent::Remove(TComponent* AComponent) {
  Unindex(AComponent);
  AComponent->FOwner = nullptr;
  EraseOne(FComponents, AComponent);
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  if (!AComponent->FName.empty()) {
    TComponent* other = FindComponent(AComponent->FName);
    if (other) throw EComponentError("A component named " + AComponent->FName + " already exists");
  }
  Insert(AComponent);
  if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
  if (FComponentState.Contains(csLoading)) AComponent->FComponentState.Include(csLoading);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  Remove(AComponent);
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    Remove(c);
    c->BeforeDestruction();
    delete c;
  }
}

void TComponent::Destroying() {
  if (FComponentState.Contains(csDestroying)) return;
  FComponentState.Include(csDestroying);
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(AComponent);
  }
  auto& other = AComponent->FFreeNotifies;
  if (std::find(other.begin(), other.end(), this) == other.end()) other.push_back(this);
  FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  EraseOne(FFreeNotifies, AComponent);
  EraseOne(AComponent->FFreeNotifies, this);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
  // Every owned component hears of it too; the list may shrink meanwhile.
  int i = ComponentCount() - 1;
  while (i >= 0) {
    FComponents[static_cast<size_t>(i)]->Notification(AComponent, Operation);
    --i;
    if (i >= ComponentCount()) i = ComponentCount() - 1;
  }
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::BeginLoading() { FComponentState.Include(csLoading); }

void TComponent::EndLoading() {
  for (size_t i = 0; i < FComponents.size(); ++i) {
    TComponent* c = FComponents[i];
    if (c->FComponentState.Contains(csLoading)) c->EndLoading();
  }
  Loaded();
  FComponentState.Exclude(csLoading);
}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
  SetComponentStateFlag(csDesigning, Value);
  if (SetChildren) {
    for (TComponent* c : FComponents) c->SetDesigning(Value, true);
  }
}

void TComponent::SetComponentStateFlag(TComponentStateFlag flag, bool on) {
  if (on) {
    FComponentState.Include(flag);
  } else {
    FComponentState.Exclude(flag);
  }
}

// ---------------------------------------------------------------------------
// Hidden utility windows

namespace {
const char* const kUtilClass = "VexaUtilWindow";
}  // namespace

HWND AllocateHWnd(plat::WNDPROC Proc) {
  EnsureWindowClass(kUtilClass, HiddenWindowProc);
  HWND h = plat::CreateWindowEx(plat::WS_EX_TOOLWINDOW, kUtilClass, "", plat::WS_POPUP, 0, 0, 0, 0,
                                0, 0);
  if (h == 0) throw EOutOfResources("Error creating window");
  if (Proc) plat::SetWindowProc(h, std::move(Proc));
  return h;
}

HWND AllocateHWnd(TWndMethod Method) {
  if (!Method) return AllocateHWnd(plat::WNDPROC());
  return AllocateHWnd(plat::WNDPROC(
      [m = std::move(Method)](HWND, UINT msg, plat::WPARAM w, plat::LPARAM l) -> plat::LRESULT {
        TMessage M{msg, w, l, 0};
        m(M);
        return M.Result;
      }));
}

void DeallocateHWnd(HWND Wnd) {
  if (Wnd) plat::DestroyWindow(Wnd);
}

void TellIgnoredOnce(const std::string& What) {
  {
    FrameworkState& st = St();
    std::lock_guard<std::mutex> g(st.toldMu);
    if (!st.told.insert(What).second) return;
  }
  plat::OutputDebugString("Ignored " + What);
}

bool IgnoreForeignClose(UINT Msg, plat::WPARAM WParam, const std::string& WindowKind) {
  const char* kind = nullptr;
  if (Msg == plat::WM_CLOSE) {
    kind = "WM_CLOSE";
  } else if (Msg == plat::WM_QUIT) {
    kind = "WM_QUIT";
  } else if (Msg == plat::WM_SYSCOMMAND && (static_cast<UINT>(WParam) & 0xFFF0) == plat::SC_CLOSE) {
    kind = "WM_SYSCOMMAND SC_CLOSE";
  } else {
    return false;
  }
  TellIgnoredOnce(std::string(kind) + " sent to " + WindowKind);
  return true;
}

plat::LRESULT HiddenWindowProc(HWND Wnd, UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam) {
  if (IgnoreForeignClose(Msg, WParam, "a hidden window")) return 0;
  return plat::DefWindowProc(Wnd, Msg, WParam, LParam);
}

}  // namespace fw
