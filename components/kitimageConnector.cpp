// The connector: entries pointing to standard image lists.
#include "components/kitimage.h"

#include "components/kitimageInternal.h"
#include "framework/ScopeGuard.h"

namespace vexa {

using namespace kitimage;

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

TKitImageListConnector::TKitImageListConnector(fw::TComponent* AOwner)
    : TKitEntryImageList(AOwner, klkNotAList),
      FImageLists(std::make_unique<TKitBorImageListItems>(this)) {}

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

std::string TKitImageListConnector::EntryName(int Index) const {
  return FImageLists->GetItem(Index)->Name();
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

bool TKitImageListConnector::EntrySize(int32_t ListIndex, int32_t& Width, int32_t& Height) const {
  TCustomImageList* l = ListOf(ListIndex);
  if (!l) return false;
  Width = l->Width();
  Height = l->Height();
  return true;
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

void TKitImageListConnector::DrawImage(TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                                       int32_t ImageIndex) {
  if (TCustomImageList* l = ListOf(ListIndex)) l->Draw(Canvas, X, Y, ImageIndex);
}

}  // namespace vexa
