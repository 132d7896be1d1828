#include "shared/KWVReg.h"

#include "framework/Registry.h"
#include "framework/SysUtils.h"

namespace vexa {

void WriteServerLocation() {
  fw::TRegistry reg;
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  if (reg.OpenKey(NotifyServerRegKey, true)) {
    reg.WriteString("Location", fw::ParamStr0());
    reg.CloseKey();
  }
}

}  // namespace vexa
