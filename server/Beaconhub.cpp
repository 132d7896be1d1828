// beaconhub: the notify server program.
#include "server/MainServer.h"

int main(int argc, char** argv) { return vexa::BeaconhubMain(argc, argv); }
