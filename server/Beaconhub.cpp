// beaconhub: the notify server program.
#include <csignal>
#include <cstdio>

#include "components/KitApplication.h"
#include "platform/kernel/ProgramStart.h"
#include "server/MainServer.h"

namespace {

const char* const kUsage =
    "usage: beaconhub\n"
    "The notify server: takes change messages from the database side over the local\n"
    "channel \"NotifyServerIPC\" and sends them to subscribed gateways over TCP.\n"
    "It takes no arguments. beaconhub.ini beside the program sets [Server] Address\n"
    "(default 0.0.0.0) and Port (default 5500), [Client] FlushInterval and MaxSendQueueKB.\n"
    "One notify server runs per desktop session; a second one ends at once.\n";

}  // namespace

int main(int argc, char** argv) {
  if (plat::AnswerHelp(argc, argv, kUsage)) return 0;
  // An argument meant for some other server must not start this one where
  // the operator did not expect it.
  if (argc > 1) {
    std::fprintf(stderr, "beaconhub: unexpected argument \"%s\"\n%s", argv[1], kUsage);
    return 2;
  }
  // A reader of the log that goes away must not end the server: its lines
  // still reach the event log.
  std::signal(SIGPIPE, SIG_IGN);
  if (plat::SessionRefused("beaconhub")) return 1;
  vexa::TKitClassUnit kitclass;
  return plat::ProgramStatus(vexa::BeaconhubMain(argc, argv));
}
