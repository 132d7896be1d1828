// The graphic list: one picture (bitmap or icon) per entry.
#include "components/kitimage.h"

#include "components/KitDrawing.h"
#include "components/kitimageInternal.h"

namespace vexa {

using namespace kitimage;

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
  DrawCopyInRect(Canvas, Rect, ListIndex, ImageIndex, Flags);
}

void TKitGraphicList::DrawImageEffect(TCanvas* Canvas, const TRect& Rect, int32_t ListIndex,
                                      int32_t ImageIndex, TColor A, uint32_t B, uint32_t Flags) {
  DrawCopyEffect(Canvas, Rect, ListIndex, ImageIndex, A, B, Flags);
}

}  // namespace vexa
