// beaconhub: the notify server program.
#include <cstdio>
#include <cstring>

#include "components/KitApplication.h"
#include "server/MainServer.h"

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf(
        "usage: beaconhub\n"
        "The notify server: takes change messages from the database side over the local\n"
        "channel \"NotifyServerIPC\" and sends them to subscribed gateways over TCP.\n"
        "It takes no arguments. beaconhub.ini beside the program sets [Server] Address\n"
        "(default 0.0.0.0) and Port (default 5500), [Client] FlushInterval and MaxSendQueueKB.\n"
        "One notify server runs per desktop session; a second one ends at once.\n");
    return 0;
  }
  vexa::TKitClassUnit kitclass;
  return vexa::BeaconhubMain(argc, argv);
}
