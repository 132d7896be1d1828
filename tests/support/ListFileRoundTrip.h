// What the list-file fuzz targets share: bytes read as a list file (the
// signature, then the container stream with offsets). Damaged data must end in
// an exception of the framework; whatever loads must save and load back to the
// same bytes.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "components/kitcont.h"

namespace vexa::test {

// Loads the bytes into a list L and checks the round trip; then hands the
// loaded list to check (aborting is the fuzzer's failure).
template <class L, class Check>
void ListFileRoundTrip(const uint8_t* data, size_t size, Check check) {
  fw::TMemoryStream in;
  if (size) in.WriteBuffer(data, int32_t(size));
  in.SetPosition(0);
  L list(nullptr);
  try {
    ReadListFileSignature(&in);
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
  check(list);
}

template <class L>
void ListFileRoundTrip(const uint8_t* data, size_t size) {
  ListFileRoundTrip<L>(data, size, [](L&) {});
}

}  // namespace vexa::test
