// A channel client in a process of its own, steered through standard input.
// Usage: VexaIPCClientPeer <instance>
// Commands: find <ms> | wait <ms> | connect | disconnect | send <name> <w> <l> |
//           sendmany <name> <n> <l> | post <name> <w> <l> | user <l> | garbage <n> <seed> |
//           hit <window> | quit
#include <random>
#include <sstream>
#include <string>

#include "clients/VexaIPCClient.h"
#include "tests/shared/PeerInput.h"

using vexa::test::Say;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  vexa::TVexaIPCClient client(argv[1]);
  client.OnMessage = [](plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
    Say("msg " + std::to_string(m) + " " + std::to_string(w) + " " + std::to_string(l));
  };
  client.OnServerDown = [](plat::HWND) { Say("down"); };

  vexa::test::WatchStdinLines([&](const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    if (cmd == "find" || cmd == "wait") {
      plat::DWORD ms = 0;
      in >> ms;
      const bool ok = cmd == "find" ? client.FindServer(ms) : client.WaitForServer(ms);
      Say(ok ? "found " + std::to_string(client.ServerHandle()) : std::string("notfound"));
    } else if (cmd == "connect") {
      Say(client.Connect() ? "connected " + std::to_string(client.Handle())
                           : std::string("refused"));
    } else if (cmd == "disconnect") {
      Say("disconnected " + std::to_string(client.Disconnect()));
    } else if (cmd == "send") {
      std::string name;
      plat::WPARAM w = 0;
      plat::LPARAM l = 0;
      in >> name >> w >> l;
      plat::LRESULT r = 0;
      Say(client.SendCustom(name, w, l, &r) ? "result " + std::to_string(r)
                                            : std::string("sendfailed"));
    } else if (cmd == "sendmany") {
      // WParam i, the given LParam; reports how many got an answer and the last one.
      std::string name;
      int n = 0;
      plat::LPARAM l = 0;
      in >> name >> n >> l;
      int good = 0;
      plat::LRESULT r = 0;
      for (int i = 0; i < n; ++i) {
        if (client.SendCustom(name, i, l, &r, 5000)) ++good;
      }
      Say("sent " + std::to_string(good) + " " + std::to_string(r));
    } else if (cmd == "post") {
      std::string name;
      plat::WPARAM w = 0;
      plat::LPARAM l = 0;
      in >> name >> w >> l;
      Say("posted " + std::to_string(client.PostCustom(name, w, l)));
    } else if (cmd == "user") {
      plat::LPARAM l = 0;
      in >> l;
      plat::LRESULT r = 0;
      Say(client.SendUser(l, &r) ? "result " + std::to_string(r) : std::string("sendfailed"));
    } else if (cmd == "garbage") {
      // Every kind of channel message with arbitrary parameters, sent and posted.
      int n = 0;
      unsigned seed = 0;
      in >> n >> seed;
      std::mt19937 rng(seed);
      const plat::UINT ids[] = {client.CtrlID(), client.UserID(), client.UserAnonID(),
                                client.UserDataID(), client.CustomMessageID("DBTrans")};
      for (int i = 0; i < n; ++i) {
        const plat::UINT id = ids[rng() % 5];
        plat::WPARAM w = plat::WPARAM(rng());
        if (rng() % 4 == 0) w = plat::WPARAM(client.Handle());
        const plat::LPARAM l = plat::LPARAM(rng());
        if (rng() % 2) {
          client.SendToServer(id, w, l, nullptr, 5000);
        } else {
          client.PostToServer(id, w, l);
        }
      }
      Say("garbage done");
    } else if (cmd == "hit") {
      // Aims at a window number directly, known or not: connect, DBTrans, user.
      plat::HWND target = 0;
      in >> target;
      const plat::LRESULT r1 = plat::SendMessage(target, client.CtrlID(),
                                                 plat::WPARAM(client.Handle()), vexa::ipcConnect);
      const bool p1 =
          plat::PostMessage(target, client.CustomMessageID("DBTrans"), 1, 7 | ('B' << 8));
      const bool p2 = plat::PostMessage(target, client.UserID(), plat::WPARAM(client.Handle()), 3);
      Say("hit " + std::to_string(r1) + " " + std::to_string(p1) + " " + std::to_string(p2));
    } else if (cmd == "quit") {
      plat::PostQuitMessage(0);
    }
  });
  Say("ready " + std::to_string(client.Handle()));
  plat::MSG msg;
  while (plat::GetMessage(&msg, 0, 0, 0)) {
    plat::TranslateMessage(&msg);
    plat::DispatchMessage(&msg);
  }
  return 0;
}
