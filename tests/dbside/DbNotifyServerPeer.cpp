// A stand-in notify server for the database side's tests: serves the
// "NotifyServerIPC" channel's control codes, answers "DBTrans" 'B' with ids
// from 1000 upward and prints every "DBTrans" and "DBNotification" it gets as
// "<name> <WParam> <LParam>", one line each, in the order handled.
#include <cstdio>
#include <string>

#include "platform/msg/Msg.h"
#include "shared/VexaIPCNames.h"

using namespace plat;

int main() {
  const std::string instance = "NotifyServerIPC";
  const UINT ctrl = RegisterWindowMessage(vexa::VexaIPCCtrlName(instance));
  const UINT trans = RegisterWindowMessage(vexa::VexaIPCCustomName(instance, "DBTrans"));
  const UINT notification = RegisterWindowMessage(vexa::VexaIPCCustomName(instance, "DBNotification"));
  if (ctrl == 0 || trans == 0 || notification == 0) return 1;
  int32_t nextID = 1000;
  HWND self = 0;

  WNDCLASS wc;
  wc.lpszClassName = "DbNotifyServerPeer";
  wc.lpfnWndProc = [&](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (msg == ctrl) {
      switch (lParam & vexa::ipcControlMask) {
        case vexa::ipcQueryServer:
        case vexa::ipcClientWaiting:
          PostMessage(HWND_BROADCAST, ctrl, static_cast<WPARAM>(self), vexa::ipcServerUp);
          return -1;
        case vexa::ipcConnect:
          std::printf("connect\n");
          std::fflush(stdout);
          return static_cast<LRESULT>(self);
        case vexa::ipcDisconnect:
        case vexa::ipcGetServerHandle:
          return static_cast<LRESULT>(self);
        default:
          return 0;
      }
    }
    if (msg == trans) {
      std::printf("DBTrans %d %d\n", wParam, lParam);
      std::fflush(stdout);
      return ((lParam >> 8) & 0xFF) == 'B' ? nextID++ : 0;
    }
    if (msg == notification) {
      std::printf("DBNotification %d %d\n", wParam, lParam);
      std::fflush(stdout);
      return 1;
    }
    return DefWindowProc(hwnd, msg, wParam, lParam);
  };
  if (!RegisterClass(wc)) return 1;
  self = CreateWindowEx(0, "DbNotifyServerPeer", "", 0, 0, 0, 0, 0, 0, 0);
  if (self == 0) return 1;
  SetCloseRequestHandler([](int) { PostQuitMessage(0); });
  PostMessage(HWND_BROADCAST, ctrl, static_cast<WPARAM>(self), vexa::ipcServerUp);
  std::printf("ready\n");
  std::fflush(stdout);
  MSG m;
  while (GetMessage(&m, 0, 0, 0)) DispatchMessage(&m);
  PostMessage(HWND_BROADCAST, ctrl, static_cast<WPARAM>(self), vexa::ipcServerDown);
  DestroyWindow(self);
  return 0;
}
