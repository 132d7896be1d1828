#include "components/KitRegionMask.h"

namespace vexa {

TKitRegionMask::TKitRegionMask()
    : FBorder(std::make_unique<fw::TBitmap>()),
      FUp(std::make_unique<fw::TBitmap>()),
      FDown(std::make_unique<fw::TBitmap>()) {}

TKitRegionMask::~TKitRegionMask() = default;

void TKitRegionMask::Assign(fw::TPersistent* Source) {
  auto* s = KitAssignSource(this, Source, [&] { TKitObject::Assign(Source); });
  if (!s) return;
  ClearRegionData();
  if (s->FRegionDataSize <= 0) return;
  FRegionDataSize = s->FRegionDataSize;
  FRegionData = s->FRegionData;
  FRegionData.resize(size_t(FRegionDataSize));
  FBorder->Assign(s->FBorder.get());
  FUp->Assign(s->FUp.get());
  FDown->Assign(s->FDown.get());
}

void TKitRegionMask::AllocRegionData() {
  FRegionData.assign(FRegionDataSize > 0 ? size_t(FRegionDataSize) : 0, 0);
}

void TKitRegionMask::ClearRegionData() {
  FRegionData.clear();
  FRegionDataSize = 0;
}

void TKitRegionMask::StoreRegion(plat::HRGN Region) {
  ClearRegionData();
  uint32_t n = plat::GetRegionData(Region, 0, nullptr);
  if (n == 0) return;
  FRegionData.resize(n);
  plat::GetRegionData(Region, n, FRegionData.data());
  FRegionDataSize = int32_t(n);
}

void TKitRegionMask::WriteBitmap(fw::TStream* Stream, fw::TBitmap* Bitmap) {
  uint8_t c = FCompressed ? 1 : 0;
  Stream->WriteBuffer(&c, 1);
  WriteBitmapSection(Stream, Bitmap, FCompressed, -1);
}

void TKitRegionMask::ReadBitmap(fw::TStream* Stream, std::unique_ptr<fw::TBitmap>& Bitmap) {
  if (!Bitmap) Bitmap = std::make_unique<fw::TBitmap>();
  uint8_t c = 0;
  Stream->ReadBuffer(&c, 1);
  FCompressed = c != 0;
  ReadBitmapSection(Stream, Bitmap.get(), FCompressed);
}

void TKitRegionMask::DefineProperties(TKitFiler* Filer) {
  TKitObject::DefineProperties(Filer);
  Filer->DefineBinaryProperty(
      "RegionData",
      [this](fw::TStream* S) {
        // The size comes from the published property read before; data that
        // cannot hold it fails before anything is allocated.
        if (FRegionDataSize < 0 || int64_t(FRegionDataSize) > S->Size() - S->Position())
          throw fw::EReadError("Stream read error");
        AllocRegionData();
        if (FRegionDataSize > 0) S->ReadBuffer(FRegionData.data(), FRegionDataSize);
      },
      [this](fw::TStream* S) {
        if (FRegionDataSize > 0 && size_t(FRegionDataSize) <= FRegionData.size())
          S->WriteBuffer(FRegionData.data(), FRegionDataSize);
      },
      FRegionDataSize != 0);
  auto define = [&](const char* Name, std::unique_ptr<fw::TBitmap>& B) {
    Filer->DefineBinaryProperty(
        Name, [this, &B](fw::TStream* S) { ReadBitmap(S, B); },
        [this, &B](fw::TStream* S) { WriteBitmap(S, B.get()); }, B && !B->Empty());
  };
  define("BorderBmp", FBorder);
  define("BorderUpBmp", FUp);
  define("BorderDnBmp", FDown);
}

}  // namespace vexa
