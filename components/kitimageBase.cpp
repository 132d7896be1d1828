// The standard image list with its change links, and the image-list interface.
#include "components/kitimage.h"

#include <algorithm>
#include <typeinfo>

#include "components/KitAlphaObject.h"
#include "components/KitDrawing.h"
#include "components/kitimageInternal.h"
#include "framework/ScopeGuard.h"

namespace vexa {

using namespace kitimage;

namespace {

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

TCustomImageList::~TCustomImageList() { FLinks.DetachAll(false); }

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

void TCustomImageList::SetSide(int32_t& Side, int32_t Value) {
  if (Value == Side || Value <= 0) return;
  Side = Value;
  Clear();
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
  FLinks.Add(this, Link, &TCustomImageList::UnRegisterChanges);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* Link) { FLinks.Remove(Link); }

void TCustomImageList::Change() {
  FLinks.Change();
  if (OnChange) OnChange(this);
}

// ---- TKitCustomImageList -------------------------------------------------------------

TKitCustomImageList::TKitCustomImageList(fw::TComponent* AOwner, int32_t Kind,
                                         TKitListItemClass ItemClass)
    : TKitCustomContainer(AOwner, Kind, std::move(ItemClass)) {
  InstallPictureHook();
}

void TKitCustomImageList::Assign(fw::TPersistent* Source) {
  // A list of the same class brings its pixel format along with what every
  // container copies.
  auto* s = dynamic_cast<TKitCustomImageList*>(Source);
  if (s && typeid(*s) == typeid(*this)) FDefaultPixelFormat = s->FDefaultPixelFormat;
  TKitCustomContainer::Assign(Source);
}

// ---- TKitEntryImageList ---------------------------------------------------------------

TKitEntryImageList::TKitEntryImageList(fw::TComponent* AOwner, int32_t Kind)
    : TKitCustomImageList(AOwner, Kind,
                          [](fw::TComponent*) -> TKitListItem* {
                            throw fw::EInvalidOperation("This list holds no stored items");
                          }),
      FPlaceholder(std::make_unique<TKitListItem>(nullptr)) {}

TKitListItem* TKitEntryImageList::GetListItem(int Index) const {
  FPlaceholder->SetDescription(EntryName(Index));
  return FPlaceholder.get();
}

void TKitEntryImageList::LoadFromStream(fw::TStream* Stream, bool) {
  if (ReadStreamInt(Stream) != 0) DamagedData();
  NotifyChange();
}

TCanvas* TKitEntryImageList::GetImageCanvas(int32_t) { return nullptr; }

void TKitEntryImageList::GetImageRect(int32_t ListIndex, int32_t, TRect& Rect) {
  int32_t w = 0, h = 0;
  Rect = EntrySize(ListIndex, w, h) ? TRect{0, 0, w, h} : TRect{};
}

int32_t TKitEntryImageList::GetListDimension(int32_t ListIndex, int32_t Which) {
  int32_t w = 0, h = 0;
  if (Beyond(ListIndex) || !EntrySize(ListIndex, w, h)) return 0;
  return Which == 0 ? w : Which == 1 ? h : 0;
}

TColor TKitEntryImageList::GetImagePixel(const fw::TPoint&, int32_t, int32_t) {
  return fw::clWhite;
}

void TKitEntryImageList::DrawImageInRect(TCanvas* Canvas, const TRect& Rect, TRect&,
                                         int32_t ListIndex, int32_t ImageIndex, uint32_t Flags) {
  TBitmap b;
  CopyImageToBitmap(ListIndex, ImageIndex, &b);
  TRect covered;
  KitDrawBitmapEx(Canvas, Rect, &b, covered, b.TransparentColor(), Flags);
}

void TKitEntryImageList::DrawImageEffect(TCanvas* Canvas, const TRect& Rect, int32_t ListIndex,
                                         int32_t ImageIndex, TColor A, uint32_t B, uint32_t Flags) {
  TBitmap b;
  CopyImageToBitmap(ListIndex, ImageIndex, &b);
  KitDrawBitmap(Canvas, Rect, &b, A, B, Flags);
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

}  // namespace vexa
