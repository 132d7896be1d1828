// Feeds the image and bitmap list readers arbitrary bytes: a list file's
// signature and container stream with offsets, and one stored image-list item
// on its own. Damaged data must end in an exception of the framework; whatever
// loads must save and load back to the same bytes.
#include <cstdint>
#include <cstdlib>

#include "components/kitimage.h"
#include "tests/support/ListFileRoundTrip.h"

namespace {

// The interface answers for every stored item without failing.
template <class L>
void UseEveryItem(L& list) {
  fw::TBitmap copy;
  for (int i = 0; i < list.GetCount(); ++i) {
    int32_t n = list.GetImageCount(i);
    for (int32_t k = 0; k < n && k < 4; ++k)
      if (list.IsValidImage(i, k)) {
        list.CopyImageToBitmap(i, k, &copy);
        list.GetImagePixel(fw::TPoint{0, 0}, i, k);
      }
  }
}

void LoadItem(const uint8_t* data, size_t size) {
  fw::TMemoryStream in;
  if (size) in.WriteBuffer(data, int32_t(size));
  in.SetPosition(0);
  vexa::TKitImageListItem item(nullptr);
  try {
    item.ReadData(&in);
  } catch (const fw::Exception&) {
    return;
  }
  if (int64_t(item.ImageCount()) * item.Width() != item.UsedWidth()) std::abort();
  if (item.ImageCount() > 0 && (item.Strip()->Width() != item.UsedWidth() ||
                                (item.Masked() && item.Mask()->Width() != item.UsedWidth())))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vexa::test::ListFileRoundTrip<vexa::TKitImageList>(data, size, UseEveryItem<vexa::TKitImageList>);
  vexa::test::ListFileRoundTrip<vexa::TKitBitmapList>(data, size, UseEveryItem<vexa::TKitBitmapList>);
  LoadItem(data, size);
  return 0;
}
