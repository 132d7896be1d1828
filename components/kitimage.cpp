// The bitmap list and the image list: containers whose stored items hold pictures.
#include "components/kitimage.h"

#include <algorithm>
#include <cstring>

#include "components/KitDrawing.h"
#include "components/kitimageInternal.h"
#include "components/kitprocs.h"
#include "framework/ScopeGuard.h"

namespace vexa {

using namespace kitimage;

namespace {

// Whether Item's list is inside an update bracket (it then notifies once at the end).
bool ListUpdating(TKitListItem* Item) {
  auto* c = dynamic_cast<TKitCustomContainer*>(Item->Owner());
  return c && c->Updating();
}

// Loads a section's bitmap file; an empty payload empties the bitmap. The
// file size its header gives must lie within the payload, so that a damaged
// header never makes room for more than the data holds.
void LoadSectionBitmap(fw::TMemoryStream* Data, TBitmap* Bitmap) {
  const std::vector<uint8_t>& d = Data->Data();
  if (d.empty()) {
    Bitmap->Assign(nullptr);
    return;
  }
  if (d.size() < 6) throw fw::EInvalidGraphic("Bitmap image is not valid");
  uint32_t total = uint32_t(d[2]) | (uint32_t(d[3]) << 8) | (uint32_t(d[4]) << 16) |
                   (uint32_t(d[5]) << 24);
  if (total > d.size()) throw fw::EInvalidGraphic("Bitmap image is not valid");
  Data->SetPosition(0);
  Bitmap->LoadFromStream(Data);
}

}  // namespace

// ---- TKitBitmapListItem ---------------------------------------------------------------

TKitBitmapListItem::TKitBitmapListItem(fw::TComponent* AOwner) : TKitListItem(AOwner) {
  NewBitmap();
}

TKitBitmapListItem::~TKitBitmapListItem() { FBitmap->OnChange = nullptr; }

void TKitBitmapListItem::NewBitmap() {
  if (FBitmap) FBitmap->OnChange = nullptr;
  FBitmap = std::make_unique<TBitmap>();
  FBitmap->OnChange = [this](fw::TObject*) { NotifyChange(); };
}

void TKitBitmapListItem::NotifyChange() {
  if (ListUpdating(this))
    TKitCustomComponent::NotifyChange();
  else
    TKitListItem::NotifyChange();
}

void TKitBitmapListItem::ClearData() {
  NewBitmap();
  NotifyChange();
}

bool TKitBitmapListItem::IsEmpty() { return FBitmap->Empty(); }

uint8_t TKitBitmapListItem::GetFlags() {
  uint8_t f = TKitListItem::GetFlags() | KitPixelFormatFlag(FPixelFormat);
  if (!FBitmap->Empty()) f |= kifData;
  return f;
}

void TKitBitmapListItem::WriteData(fw::TStream* Stream) {
  uint8_t f = GetFlags();
  WriteHeader(Stream);
  if (f & kifData)
    WriteBitmapSection(Stream, FBitmap.get(), FCompressed, KitSavePixelFormatColors[FPixelFormat]);
}

void TKitBitmapListItem::ReadData(fw::TStream* Stream) {
  uint8_t f = ReadHeader(Stream);
  FPixelFormat = KitFlagsPixelFormat(f);
  if (f & kifData) {
    fw::TMemoryStream data;
    ReadSectionData(Stream, &data, (f & kifCompressed) != 0);
    LoadSectionBitmap(&data, FBitmap.get());
  } else {
    FBitmap->Assign(nullptr);
  }
}

void TKitBitmapListItem::Assign(fw::TPersistent* Source) {
  if (Source == this) return;
  if (auto* s = dynamic_cast<TKitBitmapListItem*>(Source)) {
    AssignCommon(s);
    FPixelFormat = s->FPixelFormat;
    FBitmap->Assign(s->FBitmap.get());
    return;
  }
  TKitListItem::Assign(Source);
}

void TKitBitmapListItem::DefineProperties(TKitFiler* Filer) {
  TKitListItem::DefineProperties(Filer);
  DefineStoredItem(Filer);
}

// ---- TKitBitmapList ---------------------------------------------------------------------

TKitBitmapList::TKitBitmapList(fw::TComponent* AOwner)
    : TKitCustomImageList(AOwner, klkBitmapList, KitItemClass<TKitBitmapListItem>()) {}

TCanvas* TKitBitmapList::GetImageCanvas(int32_t ListIndex) {
  return Items(ListIndex)->Bitmap()->Canvas();
}

void TKitBitmapList::GetImageRect(int32_t ListIndex, int32_t, TRect& Rect) {
  TBitmap* b = Items(ListIndex)->Bitmap();
  Rect = TRect{0, 0, b->Width(), b->Height()};
}

int32_t TKitBitmapList::GetListDimension(int32_t ListIndex, int32_t Which) {
  if (Beyond(ListIndex)) return 0;
  TBitmap* b = Items(ListIndex)->Bitmap();
  return Which == 0 ? b->Width() : Which == 1 ? b->Height() : 0;
}

int32_t TKitBitmapList::GetImageCount(int32_t ListIndex) {
  if (Beyond(ListIndex)) return 0;
  return Items(ListIndex)->Bitmap()->Empty() ? 0 : 1;
}

bool TKitBitmapList::IsValidImage(int32_t ListIndex, int32_t) {
  if (Beyond(ListIndex)) return false;
  return !Items(ListIndex)->Bitmap()->Empty();
}

void TKitBitmapList::CopyImageToBitmap(int32_t ListIndex, int32_t, TBitmap* Bitmap) {
  TBitmap* b = Items(ListIndex)->Bitmap();
  if (Bitmap) Bitmap->Assign(b);
}

bool TKitBitmapList::GetListMasked(int32_t ListIndex) {
  Items(ListIndex);
  return false;
}

plat::HPALETTE TKitBitmapList::GetImagePalette(int32_t ListIndex) {
  if (Beyond(ListIndex)) return 0;
  return Items(ListIndex)->Bitmap()->Palette();
}

TColor TKitBitmapList::GetImageTransparentColor(int32_t ListIndex, int32_t) {
  if (Beyond(ListIndex)) return fw::clWhite;
  return Items(ListIndex)->Bitmap()->TransparentColor();
}

TColor TKitBitmapList::GetImagePixel(const fw::TPoint& Point, int32_t ListIndex, int32_t) {
  if (Beyond(ListIndex)) return fw::clWhite;
  TBitmap* b = Items(ListIndex)->Bitmap();
  if (b->Empty()) return fw::clWhite;
  return b->Canvas()->Pixels(Point.X, Point.Y);
}

void TKitBitmapList::DrawImage(TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                               int32_t) {
  TBitmap* b = Items(ListIndex)->Bitmap();
  TRect covered;
  KitDrawBitmapEx(Canvas, TRect{X, Y, X + b->Width(), Y + b->Height()}, b, covered, 0, 0);
}

void TKitBitmapList::DrawImageInRect(TCanvas* Canvas, const TRect& Rect, TRect& Covered,
                                     int32_t ListIndex, int32_t, uint32_t Flags) {
  TBitmap* b = Items(ListIndex)->Bitmap();
  KitDrawBitmapEx(Canvas, Rect, b, Covered, b->TransparentColor(), Flags);
}

void TKitBitmapList::DrawImageEffect(TCanvas* Canvas, const TRect& Rect, int32_t ListIndex,
                                     int32_t, TColor A, uint32_t B, uint32_t Flags) {
  KitDrawBitmap(Canvas, Rect, Items(ListIndex)->Bitmap(), A, B, Flags);
}

// ---- TKitImageListItem ----------------------------------------------------------------------

TKitImageListItem::TKitImageListItem(fw::TComponent* AOwner)
    : TKitListItem(AOwner),
      FStrip(std::make_unique<TBitmap>()),
      FMask(std::make_unique<TBitmap>()) {
  ClearImages();
}

TKitImageListItem::~TKitImageListItem() = default;

void TKitImageListItem::SetDimension(int32_t Index, int32_t Value) {
  int32_t& field = Index == 0 ? FWidth : FHeight;
  if (Value == field || Value <= 0) return;
  field = Value;
  ClearImages();
  NotifyChange();
}

void TKitImageListItem::RebuildEntries(int32_t Count) {
  FEntries.assign(size_t(Count), 0);
  for (int32_t k = 0; k < Count; ++k)
    FEntries[size_t(k)] = (uint32_t(k * FWidth) & 0xFFFF) | (FMasked ? EntryMaskedBit : 0);
}

void TKitImageListItem::SetMasked(bool Value) {
  if (Value == FMasked) return;
  if (!Value) {
    FMask->SetSize(0, FMask->Height());
  } else {
    FMask->SetSize(0, 0);
    FMask->SetMonochrome(true);
    // New mask pixels are 0: every existing image stays opaque.
    FMask->SetSize(FStrip->Width(), FStrip->Height());
  }
  FMasked = Value;
  RebuildEntries(int32_t(FEntries.size()));
  NotifyChange();
}

uint32_t TKitImageListItem::Entry(int32_t Index) const {
  CheckImage(Index);
  return FEntries[size_t(Index)];
}

void TKitImageListItem::CheckImage(int32_t Index) const {
  if (Index < 0 || Index >= int32_t(FEntries.size())) IndexError(Index);
}

void TKitImageListItem::ClearImages() {
  bool was = Updating();
  BeginUpdate();
  FStrip->SetSize(0, FHeight);
  FStrip->SetPixelFormat(fw::pfDevice);
  FMask->SetSize(0, FHeight);
  if (FMasked) FMask->SetMonochrome(true);
  FMask->Dormant();
  FUsedWidth = 0;
  FEntries.clear();
  if (!was) EndUpdate(false);
}

void TKitImageListItem::AddImages(TKitImageListItem* Source) {
  if (!Source) return;
  if (Source->FWidth != FWidth || Source->FHeight != FHeight)
    throw fw::EInvalidGraphicOperation("Invalid image size");
  const int32_t count = int32_t(Source->FEntries.size());
  if (count == 0) return;
  const int64_t added = int64_t(count) * FWidth;
  const int64_t width = added + FUsedWidth;
  if (width > MaxStripWidth) throw fw::EInvalidGraphicOperation("Too many images");
  const bool sourceMasked = Source->FMasked;
  std::vector<uint32_t> sourceEntries = Source->FEntries;
  bool was = Updating();
  BeginUpdate();
  {
    auto done = fw::Finally([&] { if (!was) EndUpdate(false); });
    if (FStrip->Width() < width) FStrip->SetSize(int32_t(width), FHeight);
    if (FMasked && FMask->Width() < width) {
      MakeMonochrome(FMask.get());
      FMask->SetSize(int32_t(width), FHeight);
    }
    CopyArea(FStrip.get(), FUsedWidth, 0, Source->FStrip.get(), 0, 0, int32_t(added), FHeight);
    if (FMasked && sourceMasked)
      CopyArea(FMask.get(), FUsedWidth, 0, Source->FMask.get(), 0, 0, int32_t(added), FHeight);
    for (uint32_t e : sourceEntries) {
      uint32_t offset = uint32_t(int32_t(FEntries.size()) * FWidth) & 0xFFFF;
      FEntries.push_back(offset | (FMasked ? EntryMaskedBit : 0) | (e & 0xFF000000u));
    }
    FUsedWidth = int32_t(width);
  }
  NotifyChange();
}

TRect TKitImageListItem::ImageRect(int32_t Index) const {
  CheckImage(Index);
  int32_t x = int32_t(FEntries[size_t(Index)] & 0xFFFF);
  return TRect{x, 0, x + FWidth, FHeight};
}

void TKitImageListItem::DrawImage(TCanvas* Canvas, int32_t X, int32_t Y, int32_t Index) {
  TRect src = ImageRect(Index);
  if (!Canvas) return;
  TRect dst{X, Y, X + FWidth, Y + FHeight};
  if (!FMasked) {
    Canvas->CopyRect(dst, FStrip->Canvas(), src);
    return;
  }
  uint32_t mode = Canvas->CopyMode();
  plat::HDC dc = Canvas->Handle();
  plat::COLORREF ot = plat::SetTextColor(dc, 0), ob = plat::SetBkColor(dc, 0xFFFFFF);
  Canvas->SetCopyMode(plat::SRCAND);
  Canvas->CopyRect(dst, FMask->Canvas(), src);
  Canvas->SetCopyMode(plat::SRCPAINT);
  Canvas->CopyRect(dst, FStrip->Canvas(), src);
  Canvas->SetCopyMode(mode);
  plat::SetTextColor(dc, ot);
  plat::SetBkColor(dc, ob);
}

void TKitImageListItem::NotifyChange() {
  if (ListUpdating(this))
    TKitCustomComponent::NotifyChange();
  else
    TKitListItem::NotifyChange();
}

void TKitImageListItem::ClearData() { ClearImages(); }

bool TKitImageListItem::IsEmpty() { return FEntries.empty(); }

uint8_t TKitImageListItem::GetFlags() {
  return TKitListItem::GetFlags() | KitPixelFormatFlag(FPixelFormat);
}

void TKitImageListItem::WriteData(fw::TStream* Stream) {
  WriteHeader(Stream);
  const int32_t count = int32_t(FEntries.size());
  WriteStreamInt(Stream, FHeight);
  WriteStreamInt(Stream, FWidth);
  WriteStreamInt(Stream, FAllocBy);
  WriteStreamByte(Stream, FMasked ? 1 : 0);
  WriteStreamInt(Stream, count);
  if (count <= 0) return;
  const int32_t used = count * FWidth;
  bool was = Updating();
  BeginUpdate();
  if (FStrip->Width() != used) FStrip->SetWidth(used);
  if (FMasked && FMask->Width() != used) FMask->SetWidth(used);
  if (!was) EndUpdate(false);
  WriteBitmapSection(Stream, FStrip.get(), FCompressed, KitSavePixelFormatColors[FPixelFormat]);
  if (FMasked) WriteBitmapSection(Stream, FMask.get(), FCompressed, 2);
}

void TKitImageListItem::ReadStripSection(fw::TStream* Stream, TBitmap* Bitmap, bool Compressed,
                                         int32_t Width) {
  fw::TMemoryStream data;
  ReadSectionData(Stream, &data, Compressed);
  // The bitmap must be exactly the strip's size: its header says so before
  // any pixels are made.
  const std::vector<uint8_t>& d = data.Data();
  if (d.size() < 26) DamagedData();
  int32_t w, h;
  std::memcpy(&w, d.data() + 18, 4);
  std::memcpy(&h, d.data() + 22, 4);
  if (h < 0) h = -h;
  if (w != Width || h != FHeight) DamagedData();
  LoadSectionBitmap(&data, Bitmap);
  if (Bitmap->Width() != Width || Bitmap->Height() != FHeight) DamagedData();
}

void TKitImageListItem::ReadImages(fw::TStream* Stream, bool Compressed) {
  int32_t count = ReadStreamInt(Stream);
  if (count < 0 || int64_t(count) * FWidth > MaxStripWidth) DamagedData();
  ClearImages();
  if (count > 0) {
    const int32_t used = count * FWidth;
    bool was = Updating();
    BeginUpdate();
    {
      auto undo = fw::OnFailure([&] {
        ClearImages();
        if (!was) EndUpdate(false);
      });
      ReadStripSection(Stream, FStrip.get(), Compressed, used);
      if (FMasked) {
        ReadStripSection(Stream, FMask.get(), Compressed, used);
        MakeMonochrome(FMask.get());
      }
    }
    if (!was) EndUpdate(false);
    FUsedWidth = used;
    RebuildEntries(count);
  }
  NotifyChange();
}

void TKitImageListItem::ReadData(fw::TStream* Stream) {
  uint8_t f = ReadHeader(Stream);
  FPixelFormat = KitFlagsPixelFormat(f);
  int32_t height = ReadStreamInt(Stream);
  int32_t width = ReadStreamInt(Stream);
  int32_t allocBy = ReadStreamInt(Stream);
  bool masked = ReadStreamByte(Stream) != 0;
  if (width <= 0 || height <= 0 || width > MaxStripWidth || height > MaxStripWidth) DamagedData();
  FHeight = height;
  FWidth = width;
  FAllocBy = allocBy;
  FMasked = masked;
  ClearImages();
  ReadImages(Stream, (f & kifCompressed) != 0);
}

void TKitImageListItem::Assign(fw::TPersistent* Source) {
  if (Source == this) return;
  if (auto* s = dynamic_cast<TKitImageListItem*>(Source)) {
    bool was = Updating();
    BeginUpdate();
    {
      auto done = fw::Finally([&] { if (!was) EndUpdate(false); });
      AssignCommon(s);
      FPixelFormat = s->FPixelFormat;
      FAllocBy = s->FAllocBy;
      FHeight = s->FHeight;
      FMasked = s->FMasked;
      FWidth = s->FWidth;
      FBkColor = s->FBkColor;
      FBlendColor = s->FBlendColor;
      FDrawingStyle = s->FDrawingStyle;
      FImageType = s->FImageType;
      ClearImages();
      AddImages(s);
    }
    NotifyChange();
    return;
  }
  TKitListItem::Assign(Source);
}

void TKitImageListItem::DefineProperties(TKitFiler* Filer) {
  TKitListItem::DefineProperties(Filer);
  Filer->DefineBinaryProperty(
      "Bitmap", [this](fw::TStream* s) { ReadImages(s, FCompressed); }, nullptr, false);
  DefineStoredItem(Filer);
}

// ---- TKitImageList ------------------------------------------------------------------------------

TKitImageList::TKitImageList(fw::TComponent* AOwner)
    : TKitCustomImageList(AOwner, klkImageList, KitItemClass<TKitImageListItem>()) {}

TCanvas* TKitImageList::GetImageCanvas(int32_t ListIndex) {
  return Items(ListIndex)->Strip()->Canvas();
}

void TKitImageList::GetImageRect(int32_t ListIndex, int32_t ImageIndex, TRect& Rect) {
  Rect = Items(ListIndex)->ImageRect(ImageIndex);
}

int32_t TKitImageList::GetListDimension(int32_t ListIndex, int32_t Which) {
  if (Beyond(ListIndex)) return 0;
  TKitImageListItem* i = Items(ListIndex);
  return Which == 0 ? i->Width() : Which == 1 ? i->Height() : 0;
}

int32_t TKitImageList::GetImageCount(int32_t ListIndex) {
  if (Beyond(ListIndex)) return -1;
  return Items(ListIndex)->ImageCount();
}

bool TKitImageList::IsValidImage(int32_t ListIndex, int32_t ImageIndex) {
  if (Beyond(ListIndex)) return false;
  return ImageIndex >= 0 && ImageIndex < Items(ListIndex)->ImageCount();
}

void TKitImageList::CopyImageToBitmap(int32_t ListIndex, int32_t ImageIndex, TBitmap* Bitmap) {
  TKitImageListItem* i = Items(ListIndex);
  TRect r = i->ImageRect(ImageIndex);
  if (!Bitmap) return;
  Bitmap->SetSize(i->Width(), i->Height());
  Bitmap->Canvas()->CopyRect(TRect{0, 0, i->Width(), i->Height()}, i->Strip()->Canvas(), r);
}

bool TKitImageList::GetListMasked(int32_t ListIndex) { return Items(ListIndex)->Masked(); }

plat::HPALETTE TKitImageList::GetImagePalette(int32_t ListIndex) {
  if (Beyond(ListIndex)) return 0;
  return Items(ListIndex)->Strip()->Palette();
}

TColor TKitImageList::GetImageTransparentColor(int32_t ListIndex, int32_t ImageIndex) {
  if (Beyond(ListIndex)) return fw::clWhite;
  TKitImageListItem* i = Items(ListIndex);
  TRect r = i->ImageRect(ImageIndex);
  return i->Strip()->Canvas()->Pixels(r.Left, i->Height() - 1);
}

TColor TKitImageList::GetImagePixel(const fw::TPoint& Point, int32_t ListIndex,
                                    int32_t ImageIndex) {
  if (Beyond(ListIndex)) return fw::clWhite;
  TKitImageListItem* i = Items(ListIndex);
  TRect r = i->ImageRect(ImageIndex);
  return i->Strip()->Canvas()->Pixels(r.Left + Point.X, i->Height() - 1 + Point.Y);
}

void TKitImageList::DrawImage(TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                              int32_t ImageIndex) {
  Items(ListIndex)->DrawImage(Canvas, X, Y, ImageIndex);
}

void TKitImageList::DrawImageInRect(TCanvas* Canvas, const TRect& Rect, TRect& Covered,
                                    int32_t ListIndex, int32_t ImageIndex, uint32_t Flags) {
  TKitImageListItem* i = Items(ListIndex);
  TRect source = i->ImageRect(ImageIndex);
  Covered = TRect{};
  TCanvas* strip = i->Strip()->Canvas();
  if (i->Masked()) {
    KitDrawImage(Canvas, Rect, strip, Covered, i->Mask(), i->Strip()->Palette(), 0,
                 Flags | kdMasked, source);
  } else {
    TColor corner = TColor(uint32_t(strip->Pixels(source.Left, i->Height() - 1)) | 0x2000000);
    KitDrawImage(Canvas, Rect, strip, Covered, nullptr, i->Strip()->Palette(), corner, Flags,
                 source);
  }
}

void TKitImageList::DrawImageEffect(TCanvas* Canvas, const TRect& Rect, int32_t ListIndex,
                                    int32_t ImageIndex, TColor A, uint32_t B, uint32_t Flags) {
  TKitImageListItem* i = Items(ListIndex);
  TRect source = i->ImageRect(ImageIndex);
  if (i->Masked())
    KitDrawCanvasArea(Canvas, Rect, i->Strip()->Canvas(), i->Mask(), 0, B, Flags | kdMasked,
                      source);
  else
    KitDrawCanvasArea(Canvas, Rect, i->Strip()->Canvas(), nullptr, A, B, Flags, source);
}

}  // namespace vexa
