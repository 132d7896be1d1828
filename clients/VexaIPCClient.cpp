#include "clients/VexaIPCClient.h"

#include <algorithm>
#include <mutex>

namespace vexa {

namespace {

const char* const kClientWindowClass = "TVexaIPCClientWindow";

void EnsureWindowClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    plat::WNDCLASS wc;
    wc.lpfnWndProc = plat::DefWindowProc;
    wc.lpszClassName = kClientWindowClass;
    // Fails harmlessly when another part of the program registered it already.
    plat::RegisterClass(wc);
  });
}

}  // namespace

TVexaIPCClient::TVexaIPCClient(const std::string& InstanceName)
    : FInstanceName(VexaIPCTrim(InstanceName)) {
  if (!FInstanceName.empty()) {
    FCtrlID = plat::RegisterWindowMessage(VexaIPCCtrlName(FInstanceName));
    FUserID = plat::RegisterWindowMessage(VexaIPCUserName(FInstanceName));
    FUserAnonID = plat::RegisterWindowMessage(VexaIPCUserAnonName(FInstanceName));
    FUserDataID = plat::RegisterWindowMessage(VexaIPCUserDataName(FInstanceName));
  }
  EnsureWindowClass();
  // Top-level, so that the server's broadcasts reach it; never shown.
  FHandle = plat::CreateWindowEx(0, kClientWindowClass, "", 0, 0, 0, 0, 0, 0, 0);
  if (FHandle != 0) {
    plat::SetWindowProc(FHandle, [this](plat::HWND w, plat::UINT m, plat::WPARAM wp, plat::LPARAM lp) {
      return WndProc(w, m, wp, lp);
    });
  }
}

TVexaIPCClient::~TVexaIPCClient() {
  if (FConnected) Disconnect(1000);
  OnMessage = nullptr;
  OnServerUp = nullptr;
  OnServerDown = nullptr;
  OnRejoined = nullptr;
  OnNotificationsLost = nullptr;
  if (FHandle != 0) {
    plat::DestroyWindow(FHandle);
    FHandle = 0;
  }
}

plat::UINT TVexaIPCClient::CustomMessageID(const std::string& Name) {
  const std::string name = VexaIPCTrim(Name);
  if (FInstanceName.empty() || name.empty()) return 0;
  auto it = FCustomIDs.find(name);
  if (it != FCustomIDs.end()) return it->second;
  const plat::UINT id = plat::RegisterWindowMessage(VexaIPCCustomName(FInstanceName, name));
  if (id != 0) FCustomIDs.emplace(name, id);
  return id;
}

bool TVexaIPCClient::BroadcastCtrl(int32_t Code) {
  if (!Ready()) return false;
  return plat::PostMessage(plat::HWND_BROADCAST, FCtrlID, static_cast<plat::WPARAM>(FHandle), Code);
}

bool TVexaIPCClient::QueryServer() { return BroadcastCtrl(ipcQueryServer); }

bool TVexaIPCClient::AnnounceWaiting() { return BroadcastCtrl(ipcClientWaiting); }

bool TVexaIPCClient::FindServer(plat::DWORD TimeoutMs) {
  return AwaitServer(ipcQueryServer, TimeoutMs);
}

bool TVexaIPCClient::WaitForServer(plat::DWORD TimeoutMs) {
  return AwaitServer(ipcClientWaiting, TimeoutMs);
}

bool TVexaIPCClient::AwaitServer(int32_t Ask, plat::DWORD TimeoutMs) {
  if (!Ready()) return false;
  if (FServerHandle != 0 && plat::IsWindow(FServerHandle)) return true;
  FServerHandle = 0;
  FConnected = false;
  if (!BroadcastCtrl(Ask)) return false;
  return WaitFor([this] { return FServerHandle != 0; }, TimeoutMs);
}

plat::HWND TVexaIPCClient::GetServerHandle(plat::DWORD TimeoutMs) {
  plat::LRESULT r = 0;
  if (!Send(FCtrlID, static_cast<plat::WPARAM>(FHandle), ipcGetServerHandle, &r, TimeoutMs) || r == 0) {
    return 0;
  }
  const plat::HWND server = static_cast<plat::HWND>(r);
  if (server != FServerHandle) {
    FServerHandle = server;
    FConnected = false;
  }
  return server;
}

bool TVexaIPCClient::Connect(plat::DWORD TimeoutMs) {
  plat::LRESULT r = 0;
  if (!Send(FCtrlID, static_cast<plat::WPARAM>(FHandle), ipcConnect, &r, TimeoutMs)) return false;
  FConnected = r != 0;
  if (FConnected) FJoined = true;
  return FConnected;
}

bool TVexaIPCClient::Disconnect(plat::DWORD TimeoutMs) {
  FConnected = false;
  FJoined = false;
  plat::LRESULT r = 0;
  return Send(FCtrlID, static_cast<plat::WPARAM>(FHandle), ipcDisconnect, &r, TimeoutMs) && r != 0;
}

bool TVexaIPCClient::Send(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam,
                          plat::LRESULT* Result, plat::DWORD TimeoutMs) {
  if (Result) *Result = 0;
  if (Msg == 0 || FServerHandle == 0) return false;
  plat::LRESULT r = 0;
  if (!plat::SendMessageTimeout(FServerHandle, Msg, WParam, LParam, TimeoutMs, &r)) return false;
  if (Result) *Result = r;
  return true;
}

bool TVexaIPCClient::Post(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam) {
  if (Msg == 0 || FServerHandle == 0) return false;
  return plat::PostMessage(FServerHandle, Msg, WParam, LParam);
}

bool TVexaIPCClient::SendCustom(const std::string& Name, plat::WPARAM WParam, plat::LPARAM LParam,
                                plat::LRESULT* Result, plat::DWORD TimeoutMs) {
  return Send(CustomMessageID(Name), WParam, LParam, Result, TimeoutMs);
}

bool TVexaIPCClient::PostCustom(const std::string& Name, plat::WPARAM WParam, plat::LPARAM LParam) {
  return Post(CustomMessageID(Name), WParam, LParam);
}

bool TVexaIPCClient::SendUser(plat::LPARAM LParam, plat::LRESULT* Result, plat::DWORD TimeoutMs) {
  return Send(FUserID, static_cast<plat::WPARAM>(FHandle), LParam, Result, TimeoutMs);
}

bool TVexaIPCClient::PostUser(plat::LPARAM LParam) {
  return Post(FUserID, static_cast<plat::WPARAM>(FHandle), LParam);
}

bool TVexaIPCClient::SendUserData(plat::LPARAM LParam, plat::LRESULT* Result, plat::DWORD TimeoutMs) {
  return Send(FUserDataID, static_cast<plat::WPARAM>(FHandle), LParam, Result, TimeoutMs);
}

bool TVexaIPCClient::PostUserData(plat::LPARAM LParam) {
  return Post(FUserDataID, static_cast<plat::WPARAM>(FHandle), LParam);
}

bool TVexaIPCClient::SendUserAnon(plat::WPARAM WParam, plat::LPARAM LParam, plat::LRESULT* Result,
                                  plat::DWORD TimeoutMs) {
  return Send(FUserAnonID, WParam, LParam, Result, TimeoutMs);
}

bool TVexaIPCClient::PostUserAnon(plat::WPARAM WParam, plat::LPARAM LParam) {
  return Post(FUserAnonID, WParam, LParam);
}

bool TVexaIPCClient::SendToServer(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam,
                                  plat::LRESULT* Result, plat::DWORD TimeoutMs) {
  return Send(Msg, WParam, LParam, Result, TimeoutMs);
}

bool TVexaIPCClient::PostToServer(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam) {
  return Post(Msg, WParam, LParam);
}

bool TVexaIPCClient::Subscribe(int TableID, plat::LRESULT* Result, plat::DWORD TimeoutMs) {
  if (FStateID == 0) FStateID = CustomMessageID("NotifyServerState");
  if (std::find(FTables.begin(), FTables.end(), TableID) == FTables.end()) FTables.push_back(TableID);
  return SendCustom("Subscription", static_cast<plat::WPARAM>(FHandle), (TableID & 0xFF) | ('S' << 8), Result,
                    TimeoutMs);
}

bool TVexaIPCClient::Unsubscribe(int TableID, plat::DWORD TimeoutMs) {
  FTables.erase(std::remove(FTables.begin(), FTables.end(), TableID), FTables.end());
  return SendCustom("Subscription", static_cast<plat::WPARAM>(FHandle), (TableID & 0xFF) | ('U' << 8), nullptr,
                    TimeoutMs);
}

std::string TVexaIPCClient::SubscribeAgain(plat::DWORD TimeoutMs) {
  std::string list;
  const std::vector<int> tables = FTables;
  for (int t : tables) {
    plat::LRESULT result = 0;
    Subscribe(t, &result, TimeoutMs);
    list += (list.empty() ? "table " : ", table ") + std::to_string(t) + " (" +
            std::to_string(static_cast<int>(result)) + ")";
  }
  return list;
}

plat::LRESULT TVexaIPCClient::WndProc(plat::HWND Wnd, plat::UINT Msg, plat::WPARAM WParam,
                                      plat::LPARAM LParam) {
  if (IgnoreStray(Msg, WParam)) return 0;
  if (Msg != 0 && Msg == FCtrlID) {
    const int32_t code = LParam & ipcControlMask;
    // The window in a broadcast comes from another process: believe it only
    // when it is a live window of the session, and a server's state only
    // from the server's own program (one that is gone is down anyway).
    const plat::HWND server = static_cast<plat::HWND>(WParam);
    if ((code == ipcServerUp || code == ipcServerDown) && !VexaIPCSpeaksFor(server)) {
      TellIgnored(code == ipcServerUp ? 8 : 16,
                  code == ipcServerUp ? "a server-up naming a window of another program"
                                      : "a server-down naming a window of another program");
      return 0;
    }
    if (code == ipcServerUp && server != 0 && server != FHandle && plat::IsWindow(server)) {
      const bool rejoin = FAutoRejoin && FJoined;
      // Our own server still serves: another window answering a query cannot.
      if (rejoin && FConnected && server != FServerHandle && plat::IsWindow(FServerHandle)) return 0;
      if (server != FServerHandle) {
        FServerHandle = server;
        FConnected = false;
      }
      if (OnServerUp) OnServerUp(server);
      // A refused or unanswered join is tried again at the next server-up.
      if (rejoin && !FConnected && FServerHandle == server && Connect() && OnRejoined) OnRejoined(server);
    } else if (code == ipcServerDown && server != 0 && server == FServerHandle) {
      FServerHandle = 0;
      FConnected = false;
      if (OnServerDown) OnServerDown(server);
    }
    return 0;
  }
  if (Msg >= plat::WM_USER) {
    // A down state with a reason: the gateway let this client go and its
    // subscriptions with it. The owner sees the state first, then the loss.
    const bool dropped = FStateID != 0 && Msg == FStateID && WParam == 2 && LParam != 0;
    if (OnMessage) OnMessage(Msg, WParam, LParam);
    if (dropped) {
      const std::string tables = SubscribeAgain();
      if (OnNotificationsLost) OnNotificationsLost(LParam, tables);
    }
    if (OnMessage || dropped) return 0;
  }
  return plat::DefWindowProc(Wnd, Msg, WParam, LParam);
}

bool TVexaIPCClient::IgnoreStray(plat::UINT Msg, plat::WPARAM WParam) {
  // Obeying would leave the client deaf to every server-up and post for good.
  unsigned bit = 0;
  const char* kind = VexaIPCStrayRequest(Msg, WParam, &bit);
  if (!kind) return false;
  TellIgnored(bit, kind);
  return true;
}

void TVexaIPCClient::TellIgnored(unsigned Bit, const char* What) {
  // Once per kind: a sender that repeats it must not flood the output.
  if ((FStrayTold & Bit) != 0) return;
  FStrayTold |= Bit;
  plat::OutputDebugString(std::string("Ignored ") + What + " sent to the client window of channel \"" +
                          FInstanceName + "\"");
}

void TVexaIPCClient::ProcessMessages() {
  plat::MSG msg;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    // Only a quit request of the thread (no window) ends its loop; one
    // posted to a window came from another program.
    if (msg.message == plat::WM_QUIT && msg.hwnd == 0) {
      // Leave the quit request for the thread's own loop.
      plat::PostQuitMessage(msg.wParam);
      return;
    }
    plat::TranslateMessage(&msg);
    plat::DispatchMessage(&msg);
  }
}

bool TVexaIPCClient::WaitFor(const std::function<bool()>& Condition, plat::DWORD TimeoutMs) {
  const plat::DWORD start = plat::GetTickCount();
  for (;;) {
    plat::MSG msg;
    while (!Condition() && plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
      if (msg.message == plat::WM_QUIT && msg.hwnd == 0) {
        plat::PostQuitMessage(msg.wParam);
        return Condition();
      }
      plat::TranslateMessage(&msg);
      plat::DispatchMessage(&msg);
    }
    if (Condition()) return true;
    const plat::DWORD elapsed = plat::GetTickCount() - start;
    if (TimeoutMs != plat::INFINITE && elapsed >= TimeoutMs) return false;
    const plat::DWORD left = TimeoutMs == plat::INFINITE ? plat::INFINITE : TimeoutMs - elapsed;
    plat::WaitMessageTimeout(left);
  }
}

}  // namespace vexa
