// Feeds the list-file readers arbitrary bytes: the signature, then the
// container stream with offsets into a string list and a wave list. Damaged
// data must end in an exception of the framework; whatever loads must save and
// load back to the same bytes.
#include "components/kitcont.h"
#include "components/kitwave.h"
#include "tests/support/ListFileRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vexa::test::ListFileRoundTrip<vexa::TKitStringList>(data, size);
  vexa::test::ListFileRoundTrip<vexa::TKitWaveList>(data, size);
  return 0;
}
