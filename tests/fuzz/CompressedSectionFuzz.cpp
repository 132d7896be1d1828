// Feeds the compressed-section reader arbitrary bytes. A damaged section must
// end in a read error; whatever expands must compress into a section that
// expands back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "components/kitprocs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fw::TMemoryStream in, out;
  if (size) in.WriteBuffer(data, int32_t(size));
  in.SetPosition(0);
  try {
    vexa::ReadCompressedSection(&in, &out);
  } catch (const fw::EReadError&) {
    return 0;
  }
  if (in.Position() > int64_t(size)) std::abort();
  fw::TMemoryStream section, again;
  out.SetPosition(0);
  vexa::WriteCompressedSection(&out, &section, int32_t(out.Size()));
  section.SetPosition(0);
  vexa::ReadCompressedSection(&section, &again);
  if (again.Data() != out.Data() || section.Position() != section.Size()) std::abort();
  return 0;
}
