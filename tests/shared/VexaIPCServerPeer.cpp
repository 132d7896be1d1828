// A channel server in a process of its own, steered through standard input.
// Usage: VexaIPCServerPeer <instance> [product]
// Commands: count | post <name> <w> <l> | deactivate | quit
// It answers the custom message "DBTrans" with WParam + LParam.
#include <memory>
#include <sstream>
#include <string>

#include "shared/VexaIPC.h"
#include "shared/VexaInst.h"
#include "tests/shared/PeerInput.h"

using vexa::test::Say;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  vexa::TVexaIPCServer server(nullptr);
  std::unique_ptr<vexa::TVexaInstallMutex> install;
  if (argc > 2) {
    install = std::make_unique<vexa::TVexaInstallMutex>(nullptr);
    install->SetProductName(argv[2]);
    Say("install " + std::to_string(install->MutexHandle() != 0));
  }
  server.OnServingInstance = [](fw::TObject*) { Say("serving"); };
  server.OnServerInstanceExists = [](fw::TObject*) { Say("exists"); };
  server.OnClientConnecting = [](plat::HWND h, bool&) { Say("connect " + std::to_string(h)); };
  server.OnClientDisconnecting = [](plat::HWND h) { Say("disconnect " + std::to_string(h)); };
  server.SetInstanceName(argv[1]);
  const plat::UINT trans = server.AddCustomMessage("DBTrans");
  server.OnCustomMessage = [trans](fw::TMessage& Msg, bool& Handled) {
    if (Msg.Msg != trans) return;
    Msg.Result = Msg.WParam + Msg.LParam;
    Handled = true;
  };
  server.SetActive(true);
  Say(std::string("active ") + (server.Active() ? "1" : "0"));

  vexa::test::WatchStdinLines([&](const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    if (cmd == "count") {
      Say("count " + std::to_string(server.GetClientCount()));
    } else if (cmd == "post") {
      std::string name;
      fw::TMessage m;
      in >> name >> m.WParam >> m.LParam;
      server.PostToAllClients(server.AddCustomMessage(name), m);
      Say("posted");
    } else if (cmd == "deactivate") {
      server.SetActive(false);
      Say("inactive");
    } else if (cmd == "quit") {
      plat::PostQuitMessage(0);
    }
  });
  Say("ready " + std::to_string(server.Handle()));
  // The loop of the programs' application object: take what is there, then
  // wait for more (sent messages are answered inside both calls).
  plat::MSG msg;
  for (;;) {
    if (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
      if (msg.message == plat::WM_QUIT) break;
      plat::TranslateMessage(&msg);
      plat::DispatchMessage(&msg);
    } else {
      plat::WaitMessage();
    }
  }
  return 0;
}
