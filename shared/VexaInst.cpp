#include "shared/VexaInst.h"

#include "shared/VexaIPCNames.h"

namespace vexa {

TVexaInstallMutex::TVexaInstallMutex(fw::TComponent* AOwner) : fw::TComponent(AOwner) {}

TVexaInstallMutex::~TVexaInstallMutex() {
  if (!Designing() && FMutex != 0) plat::CloseHandle(FMutex);
  FMutex = 0;
}

bool TVexaInstallMutex::Designing() const {
  if (ComponentState().Contains(fw::csDesigning)) return true;
  return Owner() != nullptr && Owner()->ComponentState().Contains(fw::csDesigning);
}

void TVexaInstallMutex::SetProductName(const std::string& Value) {
  if (Value == FProductName) return;
  FProductName = VexaIPCTrim(Value);
  if (Designing()) return;
  if (FMutex != 0) {
    plat::CloseHandle(FMutex);
    FMutex = 0;
  }
  // Not owned and never waited on: its existence is the whole message.
  if (!FProductName.empty()) FMutex = plat::CreateMutex("VexaInstall_" + FProductName, false);
}

}  // namespace vexa
