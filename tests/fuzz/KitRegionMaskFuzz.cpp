// Feeds the stored data of a region shape arbitrary bytes: the region mask's
// "RegionData" and border bitmaps and the region's "PointList". The first four
// bytes give the region data size (read before the stored properties), the
// fifth picks the property whose name is put in front of the remaining bytes
// (or, past the five names, takes the bytes as they are). Damaged data must end
// in an exception of the framework; whatever is read must build a region, and a
// point list must store and read back to the same points.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "components/kitregion.h"

using namespace vexa;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  int32_t dataSize;
  std::memcpy(&dataSize, data, 4);
  static const char* const names[] = {"RegionData", "BorderBmp", "BorderUpBmp", "BorderDnBmp",
                                      "PointList"};
  const uint8_t pick = data[4];
  fw::TMemoryStream in;
  if (pick < 5) {
    std::string name = names[pick];
    uint8_t n = uint8_t(name.size());
    in.WriteBuffer(&n, 1);
    in.WriteBuffer(name.data(), n);
  }
  if (size > 5) in.WriteBuffer(data + 5, int32_t(size - 5));

  // The mask and the bitmap shape built from it.
  if (pick != 4) {
    TKitRegion region;
    region.Mask()->SetRegionDataSize(dataSize);
    in.SetPosition(0);
    TKitReader reader(&in);
    try {
      reader.ReadProperties(region.Mask());
    } catch (const fw::Exception&) {
    }
    // Data that was read has exactly the size given before it.
    if (!region.Mask()->RegionData().empty() &&
        region.Mask()->RegionData().size() != size_t(region.Mask()->RegionDataSize()))
      std::abort();
    region.SetShape(rsBitmap);
    region.BuildRegion(fw::TRect{0, 0, 10, 10});
  }

  // The point list, then the polygon of its points.
  if (pick >= 4) {
    TKitRegion region;
    region.SetShape(rsRect);
    in.SetPosition(0);
    TKitReader reader(&in);
    bool ok = true;
    try {
      reader.ReadProperties(&region);
    } catch (const fw::Exception&) {
      ok = false;
    }
    region.SetShape(rsPointList);
    region.BuildRegion(fw::TRect{0, 0, 10, 10});
    if (ok) {
      fw::TMemoryStream out;
      TKitWriter writer(&out);
      writer.WriteProperties(&region);
      out.SetPosition(0);
      TKitRegion back;
      TKitReader again(&out);
      again.ReadProperties(&back);
      if (back.Points()->Count() != region.Points()->Count()) std::abort();
      for (int i = 0; i < back.Points()->Count(); ++i)
        if (back.Points()->Items(i) != region.Points()->Items(i)) std::abort();
    }
  }
  return 0;
}
