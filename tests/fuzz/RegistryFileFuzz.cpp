// Feeds the settings store's reader arbitrary file content. What it keeps must
// come back unchanged when written and read again (the text form round-trips),
// and nothing may crash.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/registry/StoreText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string once = plat::NormalizeStoreText(text, "HKEY_LOCAL_MACHINE");
  std::string twice = plat::NormalizeStoreText(once, "HKEY_LOCAL_MACHINE");
  if (once != twice) std::abort();
  return 0;
}
