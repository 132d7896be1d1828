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
    : TKitEntryImageList(AOwner, klkGraphicList),
      FGraphics(std::make_unique<TKitGraphicListItems>(this)) {}

TKitGraphicList::~TKitGraphicList() { FGraphics.reset(); }

int TKitGraphicList::GetCount() const { return FGraphics->Count(); }

std::string TKitGraphicList::EntryName(int Index) const {
  return FGraphics->GetItem(Index)->Name();
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

bool TKitGraphicList::EntrySize(int32_t ListIndex, int32_t& Width, int32_t& Height) const {
  fw::TGraphic* g = GraphicOf(ListIndex);
  if (!g) return false;
  Width = g->Width();
  Height = g->Height();
  return true;
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

void TKitGraphicList::DrawImage(TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                                int32_t) {
  fw::TGraphic* g = GraphicOf(ListIndex);
  if (Canvas) Canvas->Draw(X, Y, g);
}

}  // namespace vexa
