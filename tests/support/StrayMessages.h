// What another program could send a channel window to close it or to end the
// program that owns it, for tests that check the program serves on.
#pragma once

#include <string>

#include "clients/VexaIPCClient.h"

namespace vexa::test {

// Finds the serving channel window of the instance and, twice, posts it WM_QUIT
// and sends it WM_CLOSE and WM_SYSCOMMAND SC_CLOSE; the window, or 0 when no
// server answered or a message could not be delivered.
inline plat::HWND SendStrayCloseAndQuit(const std::string& instance) {
  TVexaIPCClient finder(instance);
  if (!finder.FindServer(10000)) return 0;
  const plat::HWND channel = finder.ServerHandle();
  for (int i = 0; i < 2; ++i) {
    if (!plat::PostMessage(channel, plat::WM_QUIT, 0, 0) ||
        !plat::SendMessageTimeout(channel, plat::WM_CLOSE, 0, 0, 10000, nullptr) ||
        !plat::SendMessageTimeout(channel, plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0, 10000, nullptr)) {
      return 0;
    }
  }
  return channel;
}

}  // namespace vexa::test
