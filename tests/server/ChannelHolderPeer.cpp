// Serves the "NotifyServerIPC" channel without being a notify server, so a
// test can start beaconhub while another process already owns the channel.
// Prints "serving" (or "not serving") and keeps its window alive until its
// standard input closes.
#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include "platform/msg/Msg.h"
#include "shared/VexaIPC.h"

int main() {
  vexa::TVexaIPCServer server(nullptr);
  server.SetInstanceName("NotifyServerIPC");
  server.SetActive(true);
  std::puts(server.Active() ? "serving" : "not serving");
  std::fflush(stdout);
  for (;;) {
    plat::MSG msg;
    while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) plat::DispatchMessage(&msg);
    pollfd p{0, POLLIN, 0};
    if (poll(&p, 1, 0) > 0) {
      char buf[64];
      if (read(0, buf, sizeof buf) <= 0) break;
    }
    plat::WaitMessageTimeout(20);
  }
  return 0;
}
