// The local message channel between processes of one desktop session, carried
// by registered window messages. TVexaIPCServer owns a hidden window that client
// programs find by broadcast; they join and leave with control codes and then
// post or send user messages and named custom messages to it. Nothing here
// raises to its caller: every event handler runs inside a guard that discards
// exceptions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "platform/kernel/Kernel.h"
#include "platform/msg/Msg.h"
#include "shared/VexaIPCNames.h"
#include "shared/VexaList.h"

namespace vexa {

// Window message records; for user and user data messages WParam is the
// sending client's window.
using TVexaUserMessage = fw::TMessage;
using TVexaUserDataMessage = fw::TMessage;
using TVexaUserAnonMessage = fw::TMessage;

using TCustomMessageEvent = std::function<void(fw::TMessage& Msg, bool& Handled)>;
using TDisplayMessageEvent = std::function<void(fw::TObject* Sender, const std::string& Msg)>;
// Handled is handed over as false and cannot be returned; handlers answer through Msg.Result.
using TUserAnonMessageEvent = std::function<void(TVexaUserAnonMessage& Msg, bool Handled)>;
using TUserDataMessageEvent =
    std::function<void(plat::HWND ClientHandle, TVexaUserDataMessage& Msg, bool Handled)>;
using TUserMessageEvent =
    std::function<void(plat::HWND ClientHandle, TVexaUserMessage& Msg, bool Handled)>;
using TClientConnectingEvent = std::function<void(plat::HWND ClientHandle, bool& Accept)>;
using TClientDisconnectingEvent = std::function<void(plat::HWND ClientHandle)>;

class TVexaIPC : public fw::TComponent {
public:
  explicit TVexaIPC(fw::TComponent* AOwner);
  ~TVexaIPC() override;

  const std::string& InstanceName() const { return FInstanceName; }
  virtual void SetInstanceName(const std::string& Value) = 0;

  // Adds Name (trimmed) to the custom names once, registers it for the current
  // instance and returns its id; 0 while no instance name is set.
  plat::UINT AddCustomMessage(const std::string& Name);
  // Registers "VexaIPC_" + instance + "_User_" + Name and keeps the id with the
  // name (0 when registration fails). Only at run time with an instance name.
  void RegisterCustom(const std::string& Name);
  // The stored id of a custom name, 0 for a name not in the list.
  plat::UINT GetCustomMessageID(const std::string& Name) const;

  plat::HWND Handle() const { return FHandle; }
  plat::UINT CtrlID() const { return FCtrlID; }
  plat::UINT UserID() const { return FUserID; }
  plat::UINT UserAnonID() const { return FUserAnonID; }
  plat::UINT UserDataID() const { return FUserDataID; }

  TCustomMessageEvent OnCustomMessage;
  TDisplayMessageEvent OnDisplay;
  fw::TNotifyEvent OnMsgIDChange;
  TUserAnonMessageEvent OnUserAnonMessage;
  TUserDataMessageEvent OnUserDataMessage;
  TUserMessageEvent OnUserMessage;

protected:
  bool Designing() const;
  // Runs a handler and discards whatever it throws.
  template <class F>
  static void Guarded(F&& f) {
    try {
      f();
    } catch (...) {
    }
  }
  void ClearIDs();
  void FireMsgIDChange();

  std::string FInstanceName;
  std::unique_ptr<fw::TStringList> FCustomNames;  // sorted; object = registered id
  plat::UINT FCtrlID = 0;
  plat::UINT FUserID = 0;
  plat::UINT FUserAnonID = 0;
  plat::UINT FUserDataID = 0;
  plat::HWND FHandle = 0;
};

class TVexaIPCServer : public TVexaIPC {
public:
  explicit TVexaIPCServer(fw::TComponent* AOwner);
  ~TVexaIPCServer() override;

  void SetInstanceName(const std::string& Value) override;

  bool Active() const { return FActive; }
  void SetActive(bool Value);
  // Posts server-up (true) or server-down to every top-level window of the session.
  void BroadcastState(bool Up);

  int32_t GetClientCount() const;
  // The connected clients, in order of arrival.
  const std::vector<plat::HWND>& Clients() const { return FClients; }
  // Entries of clients that announced waiting and have not connected yet.
  int32_t GetWaitingCount() const;

  bool PostToClient(plat::HWND ClientHandle, plat::UINT MsgID, const fw::TMessage& Msg);
  bool PostToAllClients(plat::UINT MsgID, const fw::TMessage& Msg);
  // True while the handle is a window; otherwise drops it and reports it gone.
  bool CheckClient(plat::HWND ClientHandle);

  TClientConnectingEvent OnClientConnecting;
  TClientDisconnectingEvent OnClientDisconnecting;
  fw::TNotifyEvent OnServerInstanceExists;
  fw::TNotifyEvent OnServingInstance;

protected:
  virtual void WndProc(fw::TMessage& Msg);

private:
  void HandleControl(fw::TMessage& Msg);
  void ClientWaiting(plat::HWND Client);
  void DropWaiting(plat::HWND Client);
  void FreeWaitingList();
  void FireDisconnecting(plat::HWND Client);
  // True (and logged, once per kind) for a message that would close the
  // channel window or quit the program.
  bool IgnoreStray(const fw::TMessage& Msg);
  // Logs "Ignored " + What + " sent to the channel window of ..." the first
  // time a message of the kind Bit is ignored.
  void TellIgnored(unsigned Bit, const std::string& What);

  bool FActive = false;
  std::vector<plat::HWND> FClients;  // in order of arrival, each once
  std::unique_ptr<TVexaIntList> FWaiting;  // unsorted: client window -> its waiting event
  plat::HANDLE FMutex = 0;
  bool FMutexOwned = false;
  unsigned FStrayLogged = 0;  // kinds of stray messages logged so far
  plat::DWORD FRegisterError = 0;  // why the last registration of the ids failed
};

}  // namespace vexa
