// beaconhub: the notify server program.
#include "components/KitApplication.h"
#include "server/MainServer.h"

int main(int argc, char** argv) {
  vexa::TKitClassUnit kitclass;
  return vexa::BeaconhubMain(argc, argv);
}
