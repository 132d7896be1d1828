// TVexaInstallMutex keeps the named mutex "VexaInstall_" + ProductName open for
// as long as the program holding it runs, so other programs can tell that a
// program of the product is running. Nobody waits on it.
#pragma once

#include <string>

#include "framework/Classes.h"
#include "platform/kernel/Kernel.h"

namespace vexa {

class TVexaInstallMutex : public fw::TComponent {
public:
  explicit TVexaInstallMutex(fw::TComponent* AOwner);
  ~TVexaInstallMutex() override;

  const std::string& ProductName() const { return FProductName; }
  // Stores the name trimmed of blanks and, at run time, swaps the open mutex
  // for the one of the new name (none for an empty name).
  void SetProductName(const std::string& Value);

  plat::HANDLE MutexHandle() const { return FMutex; }

private:
  bool Designing() const;

  std::string FProductName;
  plat::HANDLE FMutex = 0;
};

}  // namespace vexa
