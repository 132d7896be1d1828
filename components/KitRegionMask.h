// The stored data of a bitmap-shaped region: the region's rectangles as
// captured (header and rectangles), and the border bitmaps drawn with it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "components/KitObject.h"
#include "components/kitclass.h"
#include "framework/Graphics.h"

namespace vexa {

class TKitRegionMask : public TKitObject {
public:
  TKitRegionMask();
  ~TKitRegionMask() override;

  // From another mask: the region data and, when there is any, the three
  // bitmaps; without data this mask's data is cleared and its bitmaps kept.
  // No change event.
  void Assign(fw::TPersistent* Source) override;
  // "RegionData", "BorderBmp", "BorderUpBmp", "BorderDnBmp".
  void DefineProperties(TKitFiler* Filer) override;

  // Size of the region data in bytes; set before the data is read.
  int32_t RegionDataSize() const { return FRegionDataSize; }
  void SetRegionDataSize(int32_t Value) { FRegionDataSize = Value; }
  bool Compressed() const { return FCompressed; }
  void SetCompressed(bool Value) { FCompressed = Value; }
  TKitSavePixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TKitSavePixelFormat Value) { FPixelFormat = Value; }

  // The data (empty until allocated).
  const std::vector<uint8_t>& RegionData() const { return FRegionData; }
  std::vector<uint8_t>& RegionData() { return FRegionData; }
  // Allocates RegionDataSize bytes (none for a size of 0 or less).
  void AllocRegionData();
  void ClearRegionData();
  // Takes the data of a region (size and bytes).
  void StoreRegion(plat::HRGN Region);

  fw::TBitmap* BorderBitmap() const { return FBorder.get(); }
  fw::TBitmap* BorderUpBitmap() const { return FUp.get(); }
  fw::TBitmap* BorderDownBitmap() const { return FDown.get(); }

private:
  void ReadBitmap(fw::TStream* Stream, std::unique_ptr<fw::TBitmap>& Bitmap);
  void WriteBitmap(fw::TStream* Stream, fw::TBitmap* Bitmap);

  std::vector<uint8_t> FRegionData;
  int32_t FRegionDataSize = 0;
  std::unique_ptr<fw::TBitmap> FBorder, FUp, FDown;
  TKitSavePixelFormat FPixelFormat = spfDefault;
  bool FCompressed = false;
};

}  // namespace vexa
