#include "shared/VexaIPC.h"

#include <algorithm>

namespace vexa {

namespace {

// Registered ids and event handles ride in the object slots of the lists.
fw::TObject* IdToObject(plat::UINT id) { return reinterpret_cast<fw::TObject*>(uintptr_t(id)); }
plat::UINT ObjectToId(fw::TObject* o) {
  return static_cast<plat::UINT>(reinterpret_cast<uintptr_t>(o));
}
TVexaIntObject HandleToObject(plat::HANDLE h) {
  return reinterpret_cast<TVexaIntObject>(uintptr_t(h));
}
plat::HANDLE ObjectToHandle(TVexaIntObject o) {
  return static_cast<plat::HANDLE>(reinterpret_cast<uintptr_t>(o));
}

}  // namespace

// ---------------------------------------------------------------------------
// TVexaIPC

TVexaIPC::TVexaIPC(fw::TComponent* AOwner) : fw::TComponent(AOwner) {}

TVexaIPC::~TVexaIPC() = default;

bool TVexaIPC::Designing() const {
  if (ComponentState().Contains(fw::csDesigning)) return true;
  return Owner() != nullptr && Owner()->ComponentState().Contains(fw::csDesigning);
}

void TVexaIPC::ClearIDs() {
  FCtrlID = 0;
  FUserID = 0;
  FUserAnonID = 0;
  FUserDataID = 0;
  if (FCustomNames) {
    for (int i = 0; i < FCustomNames->Count(); ++i) FCustomNames->PutObject(i, nullptr);
  }
}

void TVexaIPC::FireMsgIDChange() {
  if (OnMsgIDChange) Guarded([&] { OnMsgIDChange(this); });
}

plat::UINT TVexaIPC::AddCustomMessage(const std::string& Name) {
  if (!FCustomNames) return 0;
  const std::string name = VexaIPCTrim(Name);
  int index = 0;
  if (!FCustomNames->Find(name, index)) FCustomNames->AddObject(name, nullptr);
  RegisterCustom(name);
  return GetCustomMessageID(name);
}

void TVexaIPC::RegisterCustom(const std::string& Name) {
  if (Designing() || !FCustomNames) return;
  // An instance name of blanks only counts as none.
  const std::string instance = VexaIPCTrim(FInstanceName);
  if (instance.empty()) return;
  int index = 0;
  if (!FCustomNames->Find(Name, index)) return;
  const plat::UINT id = plat::RegisterWindowMessage(VexaIPCCustomName(instance, Name));
  FCustomNames->PutObject(index, IdToObject(id));
}

plat::UINT TVexaIPC::GetCustomMessageID(const std::string& Name) const {
  if (!FCustomNames) return 0;
  int index = 0;
  if (!FCustomNames->Find(Name, index)) return 0;
  return ObjectToId(FCustomNames->GetObject(index));
}

// ---------------------------------------------------------------------------
// TVexaIPCServer

TVexaIPCServer::TVexaIPCServer(fw::TComponent* AOwner) : TVexaIPC(AOwner) {
  if (Designing()) return;
  FCustomNames = std::make_unique<fw::TStringList>();
  FCustomNames->SetSorted(true);
  ClearIDs();
  FWaiting = std::make_unique<TVexaIntList>();
  FHandle = fw::AllocateHWnd(fw::TWndMethod([this](fw::TMessage& Msg) { WndProc(Msg); }));
}

TVexaIPCServer::~TVexaIPCServer() {
  // Handlers belong to the owner, which may be half gone by now.
  OnClientConnecting = nullptr;
  OnClientDisconnecting = nullptr;
  OnServerInstanceExists = nullptr;
  OnServingInstance = nullptr;
  OnMsgIDChange = nullptr;
  if (FHandle != 0 || FCustomNames) {
    SetActive(false);
    if (FHandle != 0) fw::DeallocateHWnd(FHandle);
    FHandle = 0;
    FCtrlID = 0;
    FUserID = 0;
    FUserAnonID = 0;
    FUserDataID = 0;
    FClients.clear();
    FreeWaitingList();
    FCustomNames.reset();
  }
}

void TVexaIPCServer::SetInstanceName(const std::string& Value) {
  if (Value == FInstanceName) return;
  const std::string trimmed = VexaIPCTrim(Value);
  FInstanceName = trimmed;
  if (FActive || Designing()) return;
  bool ok = false;
  if (!trimmed.empty()) {
    FCtrlID = plat::RegisterWindowMessage(VexaIPCCtrlName(trimmed));
    FUserID = plat::RegisterWindowMessage(VexaIPCUserName(trimmed));
    FUserAnonID = plat::RegisterWindowMessage(VexaIPCUserAnonName(trimmed));
    FUserDataID = plat::RegisterWindowMessage(VexaIPCUserDataName(trimmed));
    ok = FCtrlID != 0 && FUserID != 0 && FUserAnonID != 0 && FUserDataID != 0;
    if (!ok) FRegisterError = plat::GetLastError();
    if (ok && FCustomNames) {
      for (int i = 0; i < FCustomNames->Count(); ++i) {
        RegisterCustom(FCustomNames->Get(i));
        if (ObjectToId(FCustomNames->GetObject(i)) == 0) ok = false;
      }
    }
  }
  if (!ok) {
    ClearIDs();
    FInstanceName = Value;
  }
  FireMsgIDChange();
}

void TVexaIPCServer::BroadcastState(bool Up) {
  if (FCtrlID == 0) return;
  plat::PostMessage(plat::HWND_BROADCAST, FCtrlID, static_cast<plat::WPARAM>(FHandle),
                    Up ? ipcServerUp : ipcServerDown);
}

void TVexaIPCServer::SetActive(bool Value) {
  if (Value == FActive) return;
  if (Designing()) {
    FActive = Value;
    return;
  }
  if (Value) {
    if (FCtrlID == 0 || FUserID == 0 || FUserDataID == 0) {
      // Named but unregistered: no client could reach this server, so it
      // says so instead of seeming to serve.
      const std::string instance = VexaIPCTrim(FInstanceName);
      if (!instance.empty() && OnDisplay) {
        const std::string text = "Cannot serve channel \"" + instance +
                                 "\": its message names could not be registered (error " +
                                 std::to_string(FRegisterError) + ")";
        Guarded([&] { OnDisplay(this, text); });
      }
      return;
    }
    FMutex = plat::CreateMutex(VexaIPCInstanceMutexName(VexaIPCTrim(FInstanceName)), false);
    const plat::DWORD wait = plat::WaitForSingleObject(FMutex, 0);
    if (wait == plat::WAIT_TIMEOUT) {
      plat::CloseHandle(FMutex);
      FMutex = 0;
      if (OnServerInstanceExists) Guarded([&] { OnServerInstanceExists(this); });
      return;
    }
    FMutexOwned = wait == plat::WAIT_OBJECT_0 || wait == plat::WAIT_ABANDONED;
    if (OnServingInstance) Guarded([&] { OnServingInstance(this); });
    // Code 1 to ourselves: the server-up broadcast goes out once the loop runs.
    plat::PostMessage(FHandle, FCtrlID, 0, ipcQueryServer);
    FActive = true;
    return;
  }
  FActive = false;
  BroadcastState(false);
  const std::vector<plat::HWND> clients = FClients;
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
    BroadcastState(false);
    FireDisconnecting(*it);
  }
  FClients.clear();
  if (FMutex != 0) {
    // Give the instance up before closing, so that the next server of this
    // instance finds it free rather than abandoned.
    if (FMutexOwned) plat::ReleaseMutex(FMutex);
    plat::CloseHandle(FMutex);
  }
  FMutex = 0;
  FMutexOwned = false;
}

int32_t TVexaIPCServer::GetClientCount() const {
  if (Designing()) return 0;
  return static_cast<int32_t>(FClients.size());
}

int32_t TVexaIPCServer::GetWaitingCount() const { return FWaiting ? FWaiting->GetCount() : 0; }

void TVexaIPCServer::FireDisconnecting(plat::HWND Client) {
  if (OnClientDisconnecting) Guarded([&] { OnClientDisconnecting(Client); });
}

bool TVexaIPCServer::PostToClient(plat::HWND ClientHandle, plat::UINT MsgID,
                                  const fw::TMessage& Msg) {
  if (MsgID == 0) return false;
  // 0 and the broadcast handle name no client window: posting to them would
  // reach this thread's own queue or every window of the session.
  const bool ok = ClientHandle != 0 && ClientHandle != plat::HWND_BROADCAST &&
                  plat::PostMessage(ClientHandle, MsgID, Msg.WParam, Msg.LParam);
  if (!ok) CheckClient(ClientHandle);
  return ok;
}

bool TVexaIPCServer::PostToAllClients(plat::UINT MsgID, const fw::TMessage& Msg) {
  if (MsgID == 0) return false;
  // The clients listed now; a handler may change the list meanwhile.
  const std::vector<plat::HWND> clients = FClients;
  for (plat::HWND c : clients) PostToClient(c, MsgID, Msg);  // a failed post checks the client
  return true;
}

bool TVexaIPCServer::CheckClient(plat::HWND ClientHandle) {
  if (ClientHandle != 0 && plat::IsWindow(ClientHandle)) return true;
  auto it = std::find(FClients.begin(), FClients.end(), ClientHandle);
  if (it != FClients.end()) FClients.erase(it);
  FireDisconnecting(ClientHandle);
  return false;
}

void TVexaIPCServer::ClientWaiting(plat::HWND Client) {
  if (!FWaiting) return;
  // Entries of windows that are gone will never connect: drop them, so that the
  // list cannot grow without bound.
  for (int32_t i = FWaiting->GetCount() - 1; i >= 0; --i) {
    const plat::HWND w = static_cast<plat::HWND>(FWaiting->Get(i));
    if (!plat::IsWindow(w)) {
      plat::CloseHandle(ObjectToHandle(FWaiting->GetObject(i)));
      FWaiting->Delete(i);
    }
  }
  // Only a live window can connect later; anything else is noise.
  if (Client == 0 || !plat::IsWindow(Client)) return;
  const int32_t index = FWaiting->IndexOf(static_cast<int32_t>(Client));
  if (index >= 0) {
    // Announced twice: one entry and one event are enough.
    plat::SetEvent(ObjectToHandle(FWaiting->GetObject(index)));
    return;
  }
  const plat::HANDLE event = plat::CreateEvent(VexaIPCClientWaitingEventName(Client), true, false);
  if (event == 0) return;
  FWaiting->AddObject(static_cast<int32_t>(Client), HandleToObject(event));
  plat::SetEvent(event);
}

void TVexaIPCServer::DropWaiting(plat::HWND Client) {
  if (!FWaiting) return;
  const int32_t index = FWaiting->IndexOf(static_cast<int32_t>(Client));
  if (index < 0) return;
  // The client has connected: it no longer needs the event.
  plat::CloseHandle(ObjectToHandle(FWaiting->GetObject(index)));
  FWaiting->Delete(index);
}

void TVexaIPCServer::FreeWaitingList() {
  if (!FWaiting) return;
  for (int32_t i = 0; i < FWaiting->GetCount(); ++i) {
    plat::CloseHandle(ObjectToHandle(FWaiting->GetObject(i)));
  }
  FWaiting->Clear();
  FWaiting.reset();
}

namespace {

// Kinds of ignored messages, told once each; 1, 2 and 4 are the close and
// quit requests of VexaIPCStrayRequest.
constexpr unsigned kForgedConnect = 8;
constexpr unsigned kForgedDisconnect = 16;

}  // namespace

void TVexaIPCServer::HandleControl(fw::TMessage& Msg) {
  const plat::HWND client = static_cast<plat::HWND>(Msg.WParam);
  const int32_t code = Msg.LParam & ipcControlMask;
  // Another program joining or leaving in a client's name would list a
  // window that never asked, or deafen one that did.
  if (FActive && (code == ipcConnect || code == ipcDisconnect) && !VexaIPCSpeaksFor(client)) {
    if (code == ipcConnect) {
      TellIgnored(kForgedConnect, "a connect naming a window of another program");
    } else {
      TellIgnored(kForgedDisconnect, "a disconnect naming a window of another program");
      Msg.Result = static_cast<int32_t>(FHandle);
    }
    return;
  }
  switch (code) {
    // Only a serving server speaks up: an inactive one (a second server of the
    // instance among them) would lead clients to a window that refuses them.
    case ipcQueryServer:
      if (!FActive) break;
      BroadcastState(true);
      Msg.Result = -1;
      break;
    case ipcClientWaiting:
      if (!FActive) break;
      BroadcastState(true);
      BroadcastState(true);
      ClientWaiting(client);
      Msg.Result = -1;
      break;
    case ipcConnect: {
      if (!FActive) break;
      DropWaiting(client);
      // A handle that is no window cannot be a client; listing it would only
      // wait for the next failed post to be dropped again.
      if (client == 0 || !plat::IsWindow(client)) break;
      bool accept = true;
      if (OnClientConnecting) Guarded([&] { OnClientConnecting(client, accept); });
      if (accept) {
        if (std::find(FClients.begin(), FClients.end(), client) == FClients.end()) {
          FClients.push_back(client);
        }
        Msg.Result = static_cast<int32_t>(FHandle);
      }
      break;
    }
    case ipcDisconnect: {
      if (!FActive) break;
      auto it = std::find(FClients.begin(), FClients.end(), client);
      if (it != FClients.end()) {
        FClients.erase(it);
        FireDisconnecting(client);
      }
      Msg.Result = static_cast<int32_t>(FHandle);
      break;
    }
    case ipcGetServerHandle:
      Msg.Result = static_cast<int32_t>(FHandle);
      break;
    default:
      // Server-up and server-down broadcasts (our own among them) and unknown codes.
      break;
  }
}

void TVexaIPCServer::WndProc(fw::TMessage& Msg) {
  Msg.Result = 0;
  // An id of 0 means "not registered" and must not match WM_NULL.
  if (Msg.Msg != 0) {
    if (Msg.Msg == FCtrlID) {
      HandleControl(Msg);
      return;
    }
    if (Msg.Msg == FUserID) {
      if (OnUserMessage)
        Guarded([&] { OnUserMessage(static_cast<plat::HWND>(Msg.WParam), Msg, false); });
      return;
    }
    if (Msg.Msg == FUserAnonID) {
      if (OnUserAnonMessage) Guarded([&] { OnUserAnonMessage(Msg, false); });
      return;
    }
    if (Msg.Msg == FUserDataID) {
      if (OnUserDataMessage) {
        Guarded([&] { OnUserDataMessage(static_cast<plat::HWND>(Msg.WParam), Msg, false); });
      }
      return;
    }
    if (FCustomNames) {
      for (int i = 0; i < FCustomNames->Count(); ++i) {
        if (ObjectToId(FCustomNames->GetObject(i)) != Msg.Msg) continue;
        bool handled = false;
        if (OnCustomMessage) Guarded([&] { OnCustomMessage(Msg, handled); });
        if (handled && Msg.Result == 0) Msg.Result = -1;
        return;
      }
    }
  }
  if (IgnoreStray(Msg)) return;
  Msg.Result = plat::DefWindowProc(FHandle, Msg.Msg, Msg.WParam, Msg.LParam);
}

bool TVexaIPCServer::IgnoreStray(const fw::TMessage& Msg) {
  // Obeying would leave clients without their server (or the program gone)
  // while they think it serves.
  unsigned bit = 0;
  const char* name = VexaIPCStrayRequest(Msg.Msg, Msg.WParam, &bit);
  if (!name) return false;
  TellIgnored(bit, name);
  return true;
}

void TVexaIPCServer::TellIgnored(unsigned Bit, const std::string& What) {
  // Once per kind: a sender that repeats it must not flood the log.
  if ((FStrayLogged & Bit) != 0) return;
  FStrayLogged |= Bit;
  const std::string text = "Ignored " + What + " sent to the channel window of \"" + FInstanceName + "\"";
  if (OnDisplay) Guarded([&] { OnDisplay(this, text); });
}

}  // namespace vexa
