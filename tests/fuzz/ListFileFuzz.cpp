// Feeds the list-file readers arbitrary bytes: the signature, then the
// container stream with offsets into a string list and a wave list. Damaged
// data must end in an exception of the framework; whatever loads must save and
// load back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <exception>

#include "components/kitcont.h"
#include "components/kitwave.h"

namespace {

template <class L>
void Load(const uint8_t* data, size_t size) {
  fw::TMemoryStream in;
  if (size) in.WriteBuffer(data, int32_t(size));
  in.SetPosition(0);
  L list(nullptr);
  try {
    vexa::ReadListFileSignature(&in);
    list.LoadFromStream(&in, true);
  } catch (const fw::Exception&) {
    return;
  }
  fw::TMemoryStream once, twice;
  list.SaveToStream(&once, true);
  once.SetPosition(0);
  L again(nullptr);
  again.LoadFromStream(&once, true);
  again.SaveToStream(&twice, true);
  if (once.Data() != twice.Data()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Load<vexa::TKitStringList>(data, size);
  Load<vexa::TKitWaveList>(data, size);
  return 0;
}
