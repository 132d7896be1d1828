#include "components/kitimage.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "components/KitAlphaObject.h"
#include "components/KitDrawing.h"
#include "components/kitprocs.h"
#include "framework/ScopeGuard.h"

namespace vexa {

using fw::TBitmap;
using fw::TCanvas;
using fw::TColor;
using fw::TRect;

namespace {

[[noreturn]] void IndexError(int Index) {
  throw fw::EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

[[noreturn]] void DamagedData() { throw fw::EReadError("Stream read error"); }

// Copies a W x H area between bitmaps with a raster operation, the target's
// text and background colours set so that a monochrome source maps 0 to black
// and 1 to white.
void CopyArea(TBitmap* Dest, int32_t DX, int32_t DY, TBitmap* Source, int32_t SX, int32_t SY,
              int32_t W, int32_t H) {
  if (W <= 0 || H <= 0) return;
  plat::HDC d = Dest->Canvas()->Handle();
  plat::COLORREF ot = plat::SetTextColor(d, 0), ob = plat::SetBkColor(d, 0xFFFFFF);
  plat::BitBlt(d, DX, DY, W, H, Source->Canvas()->Handle(), SX, SY, plat::SRCCOPY);
  plat::SetTextColor(d, ot);
  plat::SetBkColor(d, ob);
  Dest->Canvas()->Refresh();
}

// Whether Item's list is inside an update bracket (it then notifies once at the end).
bool ListUpdating(TKitListItem* Item) {
  auto* c = dynamic_cast<TKitCustomContainer*>(Item->Owner());
  return c && c->Updating();
}

// The payload of a bitmap section, plain (32-bit length) or compressed.
void ReadSectionData(fw::TStream* Stream, fw::TMemoryStream* Data, bool Compressed) {
  if (Compressed) {
    ReadCompressedSection(Stream, Data);
  } else {
    int32_t n = ReadStreamInt(Stream);
    if (n < 0 || n > Stream->Size() - Stream->Position()) DamagedData();
    Data->SetSize(n);
    if (n) Stream->ReadBuffer(Data->Memory(), n);
  }
  Data->SetPosition(0);
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

void MakeMonochrome(TBitmap* Bitmap) {
  if (!Bitmap->Monochrome()) Bitmap->SetMonochrome(true);
}

// The image lists hand pictures to the alpha object through this hook.
void InstallPictureHook() {
  if (KitImageListPicture) return;
  KitImageListPicture = [](TKitCustomImageList* List, int32_t ListIndex, int32_t ImageIndex,
                           TBitmap* Dest) {
    if (!List || !Dest || ListIndex < 0 || ListIndex >= List->GetCount()) return false;
    if (!List->IsValidImage(ListIndex, ImageIndex)) return false;
    List->CopyImageToBitmap(ListIndex, ImageIndex, Dest);
    return true;
  };
}

}  // namespace

// ---- Standard image list ---------------------------------------------------------

TChangeLink::~TChangeLink() {
  if (FSender) FSender->UnRegisterChanges(this);
}

void TChangeLink::Change() {
  if (OnChange) OnChange(FSender);
}

TCustomImageList::TCustomImageList(fw::TComponent* AOwner) : fw::TComponent(AOwner) {}

TCustomImageList::~TCustomImageList() {
  for (TChangeLink* l : FLinks) l->FSender = nullptr;
  FLinks.clear();
}

void TCustomImageList::SetWidth(int32_t Value) {
  if (Value == FWidth || Value <= 0) return;
  FWidth = Value;
  FImages.clear();
  FMasks.clear();
  Change();
}

void TCustomImageList::SetHeight(int32_t Value) {
  if (Value == FHeight || Value <= 0) return;
  FHeight = Value;
  FImages.clear();
  FMasks.clear();
  Change();
}

void TCustomImageList::SetMasked(bool Value) {
  if (Value == FMasked) return;
  FMasked = Value;
  Change();
}

int TCustomImageList::Add(TBitmap* Image, TBitmap* Mask) {
  auto image = std::make_unique<TBitmap>();
  image->SetPixelFormat(fw::pf24bit);
  image->SetSize(FWidth, FHeight);
  if (Image && !Image->Empty())
    CopyArea(image.get(), 0, 0, Image, 0, 0, std::min(FWidth, Image->Width()),
             std::min(FHeight, Image->Height()));
  auto mask = std::make_unique<TBitmap>();
  mask->SetMonochrome(true);
  mask->SetSize(FWidth, FHeight);
  if (Mask && !Mask->Empty()) {
    auto mono = std::make_unique<TBitmap>();
    mono->Assign(Mask);
    MakeMonochrome(mono.get());
    CopyArea(mask.get(), 0, 0, mono.get(), 0, 0, std::min(FWidth, mono->Width()),
             std::min(FHeight, mono->Height()));
    // Transparent pixels of the image are kept black so that they add nothing.
    for (int32_t y = 0; y < FHeight; ++y)
      for (int32_t x = 0; x < FWidth; ++x)
        if (plat::GetBitmapPixel(mask->Handle(), x, y) & 0xFFFFFF) {
          uint8_t* p = image->ScanLine(y) + 3 * x;
          p[0] = p[1] = p[2] = 0;
        }
  }
  FImages.push_back(std::move(image));
  FMasks.push_back(std::move(mask));
  Change();
  return Count() - 1;
}

void TCustomImageList::Clear() {
  FImages.clear();
  FMasks.clear();
  Change();
}

void TCustomImageList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count()) IndexError(Index);
}

void TCustomImageList::GetBitmap(int Index, TBitmap* Image) {
  CheckIndex(Index);
  if (Image) Image->Assign(FImages[size_t(Index)].get());
}

void TCustomImageList::Draw(TCanvas* Canvas, int32_t X, int32_t Y, int Index) {
  CheckIndex(Index);
  if (!Canvas) return;
  plat::HDC dc = Canvas->Handle();
  plat::HDC image = FImages[size_t(Index)]->Canvas()->Handle();
  if (!FMasked) {
    plat::BitBlt(dc, X, Y, FWidth, FHeight, image, 0, 0, plat::SRCCOPY);
    return;
  }
  plat::COLORREF ot = plat::SetTextColor(dc, 0), ob = plat::SetBkColor(dc, 0xFFFFFF);
  plat::BitBlt(dc, X, Y, FWidth, FHeight, FMasks[size_t(Index)]->Canvas()->Handle(), 0, 0,
               plat::SRCAND);
  plat::BitBlt(dc, X, Y, FWidth, FHeight, image, 0, 0, plat::SRCPAINT);
  plat::SetTextColor(dc, ot);
  plat::SetBkColor(dc, ob);
}

void TCustomImageList::RegisterChanges(TChangeLink* Link) {
  if (!Link) return;
  if (Link->FSender && Link->FSender != this) Link->FSender->UnRegisterChanges(Link);
  Link->FSender = this;
  if (std::find(FLinks.begin(), FLinks.end(), Link) == FLinks.end()) FLinks.push_back(Link);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* Link) {
  auto it = std::find(FLinks.begin(), FLinks.end(), Link);
  if (it == FLinks.end()) return;
  Link->FSender = nullptr;
  FLinks.erase(it);
}

void TCustomImageList::Change() {
  for (size_t i = 0; i < FLinks.size(); ++i) FLinks[i]->Change();
  if (OnChange) OnChange(this);
}

// ---- TKitCustomImageList -------------------------------------------------------------

TKitCustomImageList::TKitCustomImageList(fw::TComponent* AOwner, int32_t Kind,
                                         TKitListItemClass ItemClass)
    : TKitCustomContainer(AOwner, Kind, std::move(ItemClass)) {
  InstallPictureHook();
}

void TKitCustomImageList::Assign(fw::TPersistent* Source) {
  auto* s = dynamic_cast<TKitCustomImageList*>(Source);
  if (!s || typeid(*s) != typeid(*this)) {
    TKitCustomContainer::Assign(Source);
    return;
  }
  if (s == this) return;
  BeginUpdate();
  auto done = fw::Finally([&] { EndUpdate(true); });
  ClearItems();
  SetDefaultCompressed(s->DefaultCompressed());
  FDefaultPixelFormat = s->FDefaultPixelFormat;
  AssignItems(s);
}

TKitSavePixelFormat KitFlagsPixelFormat(uint8_t Flags) {
  if (Flags & kifMono) return spfMono;
  if (Flags & kif4bit) return spf4bit;
  if (Flags & kif8bit) return spf8bit;
  return spfDefault;
}

uint8_t KitPixelFormatFlag(TKitSavePixelFormat Format) {
  switch (Format) {
    case spfMono: return kifMono;
    case spf4bit: return kif4bit;
    case spf8bit: return kif8bit;
    default: return 0;
  }
}

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
  Filer->DefineBinaryProperty(
      "Internal", [this](fw::TStream* s) { ReadData(s); },
      [this](fw::TStream* s) { WriteData(s); }, true);
}

// ---- TKitBitmapList ---------------------------------------------------------------------

TKitBitmapList::TKitBitmapList(fw::TComponent* AOwner)
    : TKitCustomImageList(AOwner, klkBitmapList,
                          [](fw::TComponent* o) { return new TKitBitmapListItem(o); }) {}

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
  Filer->DefineBinaryProperty(
      "Internal", [this](fw::TStream* s) { ReadData(s); },
      [this](fw::TStream* s) { WriteData(s); }, true);
}

// ---- TKitImageList ------------------------------------------------------------------------------

TKitImageList::TKitImageList(fw::TComponent* AOwner)
    : TKitCustomImageList(AOwner, klkImageList,
                          [](fw::TComponent* o) { return new TKitImageListItem(o); }) {}

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

// ---- Connector entries ------------------------------------------------------------------

TKitBorImageListItem::TKitBorImageListItem(fw::TCollection* Collection)
    : fw::TCollectionItem(Collection), FChangeLink(std::make_unique<TChangeLink>()) {
  FChangeLink->OnChange = [this](fw::TObject*) {
    if (TKitImageListConnector* c = Connector()) c->NotifyChange();
  };
}

TKitBorImageListItem::~TKitBorImageListItem() { FChangeLink->OnChange = nullptr; }

TKitImageListConnector* TKitBorImageListItem::Connector() const {
  if (!Collection()) return nullptr;
  return dynamic_cast<TKitImageListConnector*>(Collection()->GetOwner());
}

void TKitBorImageListItem::SetName(const std::string& Value) {
  if (Value == FName) return;
  FName = Value;
  Changed(false);
}

void TKitBorImageListItem::SetImageList(TCustomImageList* Value) {
  // A list being freed has already let its links go.
  if (TCustomImageList* old = FChangeLink->Sender()) old->UnRegisterChanges(FChangeLink.get());
  FImageList = Value;
  TKitImageListConnector* c = Connector();
  if (FImageList) {
    FImageList->RegisterChanges(FChangeLink.get());
    if (c) FImageList->FreeNotification(c);
  }
  if (c) c->NotifyChange();
}

std::string TKitBorImageListItem::DisplayName() const {
  if (!FName.empty()) return FName;
  if (FImageList && !FImageList->Name().empty()) return FImageList->Name();
  return fw::TCollectionItem::DisplayName();
}

void TKitBorImageListItem::Assign(fw::TPersistent* Source) { AssignError(Source); }

// ---- TKitImageListConnector -----------------------------------------------------------

namespace {
// Connector and graphic list entries live in their collections, never as items.
TKitListItemClass NoItemClass() {
  return [](fw::TComponent*) -> TKitListItem* {
    throw fw::EInvalidOperation("This list holds no stored items");
  };
}

void ReadEmptyContainer(TKitCustomContainer* List, fw::TStream* Stream) {
  if (ReadStreamInt(Stream) != 0) DamagedData();
  List->NotifyChange();
}
}  // namespace

TKitImageListConnector::TKitImageListConnector(fw::TComponent* AOwner)
    : TKitCustomImageList(AOwner, klkNotAList, NoItemClass()),
      FImageLists(std::make_unique<TKitBorImageListItems>(this)),
      FPlaceholder(std::make_unique<TKitListItem>(nullptr)) {}

TKitImageListConnector::~TKitImageListConnector() {
  // Entries leave their lists before the connector's parts go.
  FImageLists.reset();
}

void TKitImageListConnector::SetImageLists(TKitBorImageListItems* Value) {
  if (!Value || Value == FImageLists.get()) return;
  FImageLists->BeginUpdate();
  auto done = fw::Finally([&] { FImageLists->EndUpdate(); });
  FImageLists->Clear();
  for (int k = 0; k < Value->Count(); ++k) {
    TKitBorImageListItem* e = FImageLists->Add();
    e->SetName(Value->GetItem(k)->Name());
    e->SetImageList(Value->GetItem(k)->ImageList());
  }
}

int TKitImageListConnector::GetCount() const { return FImageLists->Count(); }

bool TKitImageListConnector::IsEmpty() const { return FImageLists->Count() == 0; }

TKitListItem* TKitImageListConnector::GetListItem(int Index) const {
  TKitBorImageListItem* e = FImageLists->GetItem(Index);
  FPlaceholder->SetDescription(e->Name());
  return FPlaceholder.get();
}

void TKitImageListConnector::LoadFromStream(fw::TStream* Stream, bool) {
  ReadEmptyContainer(this, Stream);
}

void TKitImageListConnector::Assign(fw::TPersistent* Source) {
  if (auto* s = dynamic_cast<TKitImageListConnector*>(Source)) {
    if (s != this) SetImageLists(s->FImageLists.get());
    return;
  }
  TKitCustomImageList::Assign(Source);
}

void TKitImageListConnector::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitCustomImageList::Notification(AComponent, Operation);
  if (Operation != fw::opRemove || !FImageLists) return;
  for (int k = 0; k < FImageLists->Count(); ++k) {
    TKitBorImageListItem* e = FImageLists->GetItem(k);
    if (e->FImageList == AComponent) e->SetImageList(nullptr);
  }
}

TCustomImageList* TKitImageListConnector::ListOf(int32_t ListIndex) const {
  return FImageLists->GetItem(ListIndex)->ImageList();
}

TCanvas* TKitImageListConnector::GetImageCanvas(int32_t) { return nullptr; }

void TKitImageListConnector::GetImageRect(int32_t ListIndex, int32_t, TRect& Rect) {
  TCustomImageList* l = ListOf(ListIndex);
  Rect = l ? TRect{0, 0, l->Width(), l->Height()} : TRect{};
}

int32_t TKitImageListConnector::GetListDimension(int32_t ListIndex, int32_t Which) {
  if (Beyond(ListIndex)) return 0;
  TCustomImageList* l = ListOf(ListIndex);
  if (!l) return 0;
  return Which == 0 ? l->Width() : Which == 1 ? l->Height() : 0;
}

int32_t TKitImageListConnector::GetImageCount(int32_t ListIndex) {
  if (Beyond(ListIndex)) return -1;
  TCustomImageList* l = ListOf(ListIndex);
  return l ? l->Count() : 0;
}

bool TKitImageListConnector::IsValidImage(int32_t ListIndex, int32_t ImageIndex) {
  if (Beyond(ListIndex)) return false;
  TCustomImageList* l = ListOf(ListIndex);
  return l && ImageIndex >= 0 && ImageIndex < l->Count();
}

void TKitImageListConnector::CopyImageToBitmap(int32_t ListIndex, int32_t ImageIndex,
                                               TBitmap* Bitmap) {
  TCustomImageList* l = ListOf(ListIndex);
  if (!Bitmap || !l) return;
  l->GetBitmap(ImageIndex, Bitmap);
}

bool TKitImageListConnector::GetListMasked(int32_t ListIndex) {
  TCustomImageList* l = ListOf(ListIndex);
  return l && l->Masked();
}

plat::HPALETTE TKitImageListConnector::GetImagePalette(int32_t) { return 0; }

TColor TKitImageListConnector::GetImageTransparentColor(int32_t ListIndex, int32_t ImageIndex) {
  TBitmap b;
  CopyImageToBitmap(ListIndex, ImageIndex, &b);
  return b.TransparentColor();
}

TColor TKitImageListConnector::GetImagePixel(const fw::TPoint&, int32_t, int32_t) {
  return fw::clWhite;
}

void TKitImageListConnector::DrawImage(TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                                       int32_t ImageIndex) {
  if (TCustomImageList* l = ListOf(ListIndex)) l->Draw(Canvas, X, Y, ImageIndex);
}

void TKitImageListConnector::DrawImageInRect(TCanvas* Canvas, const TRect& Rect, TRect&,
                                             int32_t ListIndex, int32_t ImageIndex,
                                             uint32_t Flags) {
  TBitmap b;
  CopyImageToBitmap(ListIndex, ImageIndex, &b);
  TRect covered;
  KitDrawBitmapEx(Canvas, Rect, &b, covered, b.TransparentColor(), Flags);
}

void TKitImageListConnector::DrawImageEffect(TCanvas* Canvas, const TRect& Rect,
                                             int32_t ListIndex, int32_t ImageIndex, TColor A,
                                             uint32_t B, uint32_t Flags) {
  TBitmap b;
  CopyImageToBitmap(ListIndex, ImageIndex, &b);
  KitDrawBitmap(Canvas, Rect, &b, A, B, Flags);
}

// ---- Graphic list -----------------------------------------------------------------------

TKitGraphicListItem::TKitGraphicListItem(fw::TCollection* Collection)
    : fw::TCollectionItem(Collection), FPicture(std::make_unique<fw::TPicture>()) {
  FPicture->OnChange = [this](fw::TObject*) { Changed(false); };
}

TKitGraphicListItem::~TKitGraphicListItem() { FPicture->OnChange = nullptr; }

void TKitGraphicListItem::SetName(const std::string& Value) {
  if (Value == FName) return;
  FName = Value;
  Changed(false);
}

std::string TKitGraphicListItem::DisplayName() const {
  return FName.empty() ? fw::TCollectionItem::DisplayName() : FName;
}

void TKitGraphicListItem::Assign(fw::TPersistent* Source) {
  if (auto* s = dynamic_cast<TKitGraphicListItem*>(Source)) {
    if (s == this) return;
    FPicture->Assign(s->FPicture.get());
    SetName(s->FName);
    return;
  }
  AssignError(Source);
}

TKitGraphicList::TKitGraphicList(fw::TComponent* AOwner)
    : TKitCustomImageList(AOwner, klkGraphicList, NoItemClass()),
      FGraphics(std::make_unique<TKitGraphicListItems>(this)),
      FPlaceholder(std::make_unique<TKitListItem>(nullptr)) {}

TKitGraphicList::~TKitGraphicList() { FGraphics.reset(); }

int TKitGraphicList::GetCount() const { return FGraphics->Count(); }

bool TKitGraphicList::IsEmpty() const { return FGraphics->Count() == 0; }

TKitListItem* TKitGraphicList::GetListItem(int Index) const {
  FPlaceholder->SetDescription(FGraphics->GetItem(Index)->Name());
  return FPlaceholder.get();
}

void TKitGraphicList::LoadFromStream(fw::TStream* Stream, bool) {
  ReadEmptyContainer(this, Stream);
}

void TKitGraphicList::Assign(fw::TPersistent* Source) {
  if (auto* s = dynamic_cast<TKitGraphicList*>(Source)) {
    if (s != this) FGraphics->Assign(s->FGraphics.get());
    return;
  }
  TKitCustomImageList::Assign(Source);
}

fw::TGraphic* TKitGraphicList::GraphicOf(int32_t ListIndex) const {
  return FGraphics->GetItem(ListIndex)->Picture()->Graphic();
}

TCanvas* TKitGraphicList::GetImageCanvas(int32_t) { return nullptr; }

void TKitGraphicList::GetImageRect(int32_t ListIndex, int32_t, TRect& Rect) {
  fw::TGraphic* g = GraphicOf(ListIndex);
  Rect = g ? TRect{0, 0, g->Width(), g->Height()} : TRect{};
}

int32_t TKitGraphicList::GetListDimension(int32_t ListIndex, int32_t Which) {
  if (Beyond(ListIndex)) return 0;
  fw::TGraphic* g = GraphicOf(ListIndex);
  if (!g) return 0;
  return Which == 0 ? g->Width() : Which == 1 ? g->Height() : 0;
}

int32_t TKitGraphicList::GetImageCount(int32_t ListIndex) {
  if (Beyond(ListIndex)) return 0;
  return GraphicOf(ListIndex) ? 1 : 0;
}

bool TKitGraphicList::IsValidImage(int32_t ListIndex, int32_t) {
  if (Beyond(ListIndex)) return false;
  return GraphicOf(ListIndex) != nullptr;
}

void TKitGraphicList::CopyImageToBitmap(int32_t ListIndex, int32_t, TBitmap* Bitmap) {
  fw::TGraphic* g = GraphicOf(ListIndex);
  if (!Bitmap) return;
  if (!g) {
    Bitmap->Assign(nullptr);
    return;
  }
  if (auto* b = dynamic_cast<TBitmap*>(g)) {
    Bitmap->Assign(b);
    return;
  }
  KitFillBitmap(Bitmap, TRect{0, 0, g->Width(), g->Height()}, fw::clWhite);
  Bitmap->Canvas()->Draw(0, 0, g);
}

bool TKitGraphicList::GetListMasked(int32_t ListIndex) {
  GraphicOf(ListIndex);
  return false;
}

plat::HPALETTE TKitGraphicList::GetImagePalette(int32_t ListIndex) {
  if (Beyond(ListIndex)) return 0;
  auto* b = dynamic_cast<TBitmap*>(GraphicOf(ListIndex));
  return b ? b->Palette() : 0;
}

TColor TKitGraphicList::GetImageTransparentColor(int32_t ListIndex, int32_t ImageIndex) {
  if (!IsValidImage(ListIndex, ImageIndex)) return KitColorNone;
  if (auto* b = dynamic_cast<TBitmap*>(GraphicOf(ListIndex))) return b->TransparentColor();
  TBitmap b;
  CopyImageToBitmap(ListIndex, ImageIndex, &b);
  return b.TransparentColor();
}

TColor TKitGraphicList::GetImagePixel(const fw::TPoint&, int32_t, int32_t) { return fw::clWhite; }

void TKitGraphicList::DrawImage(TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                                int32_t) {
  fw::TGraphic* g = GraphicOf(ListIndex);
  if (Canvas) Canvas->Draw(X, Y, g);
}

void TKitGraphicList::DrawImageInRect(TCanvas* Canvas, const TRect& Rect, TRect&,
                                      int32_t ListIndex, int32_t ImageIndex, uint32_t Flags) {
  TBitmap b;
  CopyImageToBitmap(ListIndex, ImageIndex, &b);
  TRect covered;
  KitDrawBitmapEx(Canvas, Rect, &b, covered, b.TransparentColor(), Flags);
}

void TKitGraphicList::DrawImageEffect(TCanvas* Canvas, const TRect& Rect, int32_t ListIndex,
                                      int32_t ImageIndex, TColor A, uint32_t B, uint32_t Flags) {
  TBitmap b;
  CopyImageToBitmap(ListIndex, ImageIndex, &b);
  KitDrawBitmap(Canvas, Rect, &b, A, B, Flags);
}

}  // namespace vexa
