// What both ends of the local message channel agree on: the names built from an
// instance name and the control codes carried by the Ctrl message. Header only
// and free of the class framework, so that client programs and the database side
// can use it with nothing but the platform layer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/msg/Msg.h"

namespace vexa {

// Control codes travel as the LParam of the Ctrl message; only the low 7 bits count.
enum TVexaIPCControl : int32_t {
  ipcQueryServer = 1,      // client -> server: answer with a server-up broadcast
  ipcClientWaiting = 2,    // client -> server, WParam = client window
  ipcConnect = 3,          // client -> server, WParam = client window; result = server window or 0
  ipcDisconnect = 4,       // client -> server, WParam = client window
  ipcServerUp = 5,         // server -> HWND_BROADCAST, WParam = server window
  ipcServerDown = 6,       // server -> HWND_BROADCAST, WParam = server window
  ipcGetServerHandle = 7,  // client -> server; result = server window
};
constexpr int32_t ipcControlMask = 0x7F;

// A gateway tells a local client that it let it go with "NotifyServerState"
// WParam 2 (down) whose LParam is one of these reasons (a plain state change
// carries 0), followed by WParam 1 when its session is up: the client's
// subscriptions are gone and what it could not take was lost. A client that
// reads this subscribes again; one that does not sees a down and up.
enum TVexaClientDropReason : int32_t {
  cdrStalled = 1,      // it took no message for a while although some waited
  cdrBacklogFull = 2,  // more waited for it than the gateway keeps for a client, or for all
                       // clients together and its backlog was the largest
};

// Instance names are used without leading and trailing blanks (and control characters).
inline std::string VexaIPCTrim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// Registered window message names; Instance must already be trimmed.
inline std::string VexaIPCCtrlName(const std::string& Instance) {
  return "VexaIPC_" + Instance + "_Ctrl";
}
inline std::string VexaIPCUserName(const std::string& Instance) {
  return "VexaIPC_" + Instance + "_User";
}
inline std::string VexaIPCUserAnonName(const std::string& Instance) {
  return "VexaIPC_" + Instance + "_User_Anon";
}
inline std::string VexaIPCUserDataName(const std::string& Instance) {
  return "VexaIPC_" + Instance + "_User_Data";
}
inline std::string VexaIPCCustomName(const std::string& Instance, const std::string& Name) {
  return "VexaIPC_" + Instance + "_User_" + Name;
}

// A channel window, of a server or a client, is closed only by its own
// program: a close or quit request that reaches it (WM_CLOSE, WM_SYSCOMMAND
// SC_CLOSE, WM_QUIT posted to it) comes from another program, and obeying it
// would leave the other end talking to nobody. Returns the request's name and
// its bit in *Bit (for telling each kind once), nullptr for other messages.
inline const char* VexaIPCStrayRequest(plat::UINT Msg, plat::WPARAM WParam, unsigned* Bit) {
  if (Msg == plat::WM_CLOSE) {
    *Bit = 1;
    return "WM_CLOSE";
  }
  if (Msg == plat::WM_QUIT) {
    *Bit = 2;
    return "WM_QUIT";
  }
  if (Msg == plat::WM_SYSCOMMAND && (static_cast<plat::UINT>(WParam) & 0xFFF0) == plat::SC_CLOSE) {
    *Bit = 4;
    return "WM_SYSCOMMAND SC_CLOSE";
  }
  return nullptr;
}

// Any program may post any window anything. A control code, a subscription
// or a server's state that names a window speaks for that window's program,
// so it counts only when the message being handled came from there: from
// this program itself, or from the program that owns Window. What is said of
// a window that is gone deafens nobody and counts too.
inline bool VexaIPCSpeaksFor(plat::HWND Window) {
  const uint32_t sender = plat::GetSendingProcess();
  if (sender == 0) return true;
  const uint32_t owner = plat::GetWindowProcess(Window);
  return owner == 0 || owner == sender;
}

// Kernel object names.
inline std::string VexaIPCInstanceMutexName(const std::string& Instance) {
  return "VexaIPCServer_Instance_" + Instance;
}
// The waiting event of a client window, the handle in decimal.
inline std::string VexaIPCClientWaitingEventName(uint32_t ClientWindow) {
  return "VexaIPC_ClientWaiting_" + std::to_string(ClientWindow);
}

}  // namespace vexa
