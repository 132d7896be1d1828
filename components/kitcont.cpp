#include "components/kitcont.h"

#include <algorithm>
#include <cstring>

#include "framework/ScopeGuard.h"

namespace vexa {

const char* const KitListSignatures[6] = {"KITIML30", "KITBML30", "KITWVL30",
                                          "KITSLL30", "KITGLL50", "KITRTL50"};

void WriteListFileSignature(fw::TStream* Stream, int32_t Kind) {
  if (Kind < 0 || Kind > 5) throw fw::EWriteError("Stream write error");
  WriteStreamShortString(Stream, KitListSignatures[Kind]);
}

int32_t ReadListFileSignature(fw::TStream* Stream) {
  uint8_t sig[9];
  Stream->ReadBuffer(sig, 9);
  for (int32_t k = 0; k < 6; ++k)
    if (sig[0] == 8 && std::memcmp(sig + 1, KitListSignatures[k], 8) == 0) return k;
  return klkNotAList;
}

// ---- TKitChangeLink -------------------------------------------------------------

TKitChangeLink::~TKitChangeLink() {
  if (FSender) FSender->RemoveChangeLink(this);
}

void TKitChangeLink::Change() {
  if (OnChange) OnChange(FSender);
}

void TKitChangeLink::Follow(TKitBaseContainer* List, fw::TComponent* Follower) {
  if (FSender) FSender->RemoveChangeLink(this);
  if (!List) return;
  List->AddChangeLink(this);
  if (Follower) List->FreeNotification(Follower);
}

// ---- TKitBaseContainer --------------------------------------------------------------

TKitBaseContainer::~TKitBaseContainer() { FLinks.DetachAll(true); }

void TKitBaseContainer::AddChangeLink(TKitChangeLink* Link) {
  FLinks.Add(this, Link, &TKitBaseContainer::RemoveChangeLink);
}

void TKitBaseContainer::RemoveChangeLink(TKitChangeLink* Link) { FLinks.Remove(Link); }

void TKitBaseContainer::NotifyChange() {
  FLinks.Change();
  TKitCustomComponent::NotifyChange();
}

// ---- TKitListItem -----------------------------------------------------------------------

void TKitListItem::DefineStoredItem(TKitFiler* Filer) {
  Filer->DefineBinaryProperty(
      "Internal", [this](fw::TStream* s) { ReadData(s); }, [this](fw::TStream* s) { WriteData(s); },
      true);
}

uint8_t TKitListItem::GetFlags() {
  uint8_t f = 0;
  if (FCompressed) f |= kifCompressed;
  if (!FDescription.empty()) f |= kifDescription;
  if (FIdent != 0) f |= kifIdent;
  return f;
}

void TKitListItem::WriteHeader(fw::TStream* Stream) {
  uint8_t f = GetFlags();
  WriteStreamByte(Stream, f);
  if (f & kifDescription) WriteStreamShortString(Stream, FDescription);
  if (f & kifIdent) WriteStreamInt(Stream, FIdent);
}

uint8_t TKitListItem::ReadHeader(fw::TStream* Stream) {
  uint8_t f = ReadStreamByte(Stream);
  FCompressed = (f & kifCompressed) != 0;
  if (f & kifDescription)
    FDescription = ReadStreamShortString(Stream);
  else
    FDescription.clear();
  if (f & kifIdent)
    FIdent = uint16_t(ReadStreamInt(Stream));
  else
    FIdent = 0;
  return f;
}

void TKitListItem::AssignCommon(TKitListItem* Source) {
  FCompressed = Source->FCompressed;
  FDescription = Source->FDescription;
  FIdent = Source->FIdent;
}

void TKitListItem::ReadState(TKitReader* Reader) {
  Reader->ReadProperties(this);
  if (auto* c = dynamic_cast<TKitCustomContainer*>(Reader->Parent())) c->AddItem(this);
}

void TKitListItem::NotifyChange() {
  TKitCustomComponent::NotifyChange();
  if (auto* c = dynamic_cast<TKitCustomContainer*>(Owner()))
    if (c->OnChange) c->OnChange(this);
}

// ---- TKitCustomContainer -----------------------------------------------------------------

TKitCustomContainer::TKitCustomContainer(fw::TComponent* AOwner, int32_t Kind,
                                         TKitListItemClass ItemClass)
    : TKitBaseContainer(AOwner), FKind(Kind), FItemClass(std::move(ItemClass)) {}

TKitCustomContainer::~TKitCustomContainer() {
  std::vector<TKitListItem*> items;
  items.swap(FItems);
  for (auto it = items.rbegin(); it != items.rend(); ++it) fw::Free(*it);
}

TKitListItem* TKitCustomContainer::GetListItem(int Index) const {
  if (Index < 0 || Index >= int(FItems.size()))
    throw fw::EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FItems[size_t(Index)];
}

void TKitCustomContainer::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitBaseContainer::Notification(AComponent, Operation);
  if (Operation != fw::opRemove) return;
  // An item freed elsewhere leaves the list.
  auto it = std::find(FItems.begin(), FItems.end(), AComponent);
  if (it != FItems.end()) FItems.erase(it);
}

int TKitCustomContainer::AddItem(TKitListItem* Item) {
  if (!Item) Item = FItemClass(this);
  if (std::find(FItems.begin(), FItems.end(), Item) == FItems.end()) {
    if (Item->Owner() != this) Item->FreeNotification(this);
    FItems.push_back(Item);
  }
  NotifyChange();
  return int(std::find(FItems.begin(), FItems.end(), Item) - FItems.begin());
}

void TKitCustomContainer::ClearItems() {
  std::vector<TKitListItem*> items;
  items.swap(FItems);
  for (TKitListItem* i : items) fw::Free(i);
  NotifyChange();
}

void TKitCustomContainer::AssignItems(TKitCustomContainer* Source) {
  for (TKitListItem* s : Source->FItems) {
    TKitListItem* item = FItemClass(this);
    FItems.push_back(item);
    item->Assign(s);
  }
  NotifyChange();
}

void TKitCustomContainer::Assign(fw::TPersistent* Source) {
  auto* s = dynamic_cast<TKitCustomContainer*>(Source);
  if (!s || s->FKind != FKind) {
    TKitBaseContainer::Assign(Source);
    return;
  }
  if (s == this) return;
  BeginUpdate();
  auto done = fw::Finally([&] { EndUpdate(true); });
  ClearItems();
  FDefaultCompressed = s->FDefaultCompressed;
  AssignItems(s);
}

void TKitCustomContainer::GetChildren(const std::function<void(fw::TComponent*)>& Proc,
                                      fw::TComponent*) {
  for (TKitListItem* i : FItems) Proc(i);
}

void TKitCustomContainer::SaveToStream(fw::TStream* Stream, bool WithOffsets) {
  int32_t count = int32_t(FItems.size());
  WriteStreamInt(Stream, count);
  if (!WithOffsets || count == 0) {
    for (TKitListItem* i : FItems) i->WriteData(Stream);
    return;
  }
  int64_t table = Stream->Position();
  std::vector<uint8_t> zeros(size_t(count) * 4, 0);
  Stream->WriteBuffer(zeros.data(), int32_t(zeros.size()));
  std::vector<int32_t> offsets;
  for (TKitListItem* i : FItems) {
    offsets.push_back(int32_t(Stream->Position()));
    i->WriteData(Stream);
  }
  int64_t end = Stream->Position();
  Stream->SetPosition(table);
  for (int32_t o : offsets) WriteStreamInt(Stream, o);
  Stream->SetPosition(end);
}

void TKitCustomContainer::LoadFromStream(fw::TStream* Stream, bool WithOffsets) {
  BeginUpdate();
  auto done = fw::Finally([&] { EndUpdate(true); });
  ClearItems();
  int32_t count = ReadStreamInt(Stream);
  int64_t left = Stream->Size() - Stream->Position();
  // Every stored item takes at least its flag byte.
  int64_t need = int64_t(count) * (WithOffsets ? 5 : 1);
  if (count < 0 || need > left) throw fw::EReadError("Stream read error");
  if (WithOffsets && count > 0) Stream->Seek(int64_t(count) * 4, fw::soCurrent);
  for (int32_t k = 0; k < count; ++k) {
    int index = AddItem(nullptr);
    FItems[size_t(index)]->ReadData(Stream);
  }
}

// ---- TKitStringListItem --------------------------------------------------------------

TKitStringListItem::TKitStringListItem(fw::TComponent* AOwner)
    : TKitListItem(AOwner), FItems(std::make_unique<fw::TStringList>()) {}

TKitStringListItem::~TKitStringListItem() = default;

void TKitStringListItem::ClearData() { FItems->Clear(); }

bool TKitStringListItem::IsEmpty() { return FItems->Count() == 0; }

uint8_t TKitStringListItem::GetFlags() {
  uint8_t f = TKitListItem::GetFlags();
  if (!IsEmpty()) f |= kifData;
  return f;
}

void TKitStringListItem::WriteData(fw::TStream* Stream) {
  WriteHeader(Stream);
  if (!IsEmpty()) WriteStringsSection(Stream, FItems.get(), FCompressed);
}

void TKitStringListItem::ReadData(fw::TStream* Stream) {
  uint8_t f = ReadHeader(Stream);
  if (f & kifData)
    ReadStringsSection(Stream, FItems.get(), (f & kifCompressed) != 0);
  else
    FItems->Clear();
}

void TKitStringListItem::Assign(fw::TPersistent* Source) {
  if (Source == this) return;
  if (auto* s = dynamic_cast<fw::TStrings*>(Source)) {
    FItems->Assign(s);
    return;
  }
  if (auto* s = dynamic_cast<TKitStringListItem*>(Source)) {
    AssignCommon(s);
    FItems->Assign(s->FItems.get());
    return;
  }
  TKitListItem::Assign(Source);
}

void TKitStringListItem::DefineProperties(TKitFiler* Filer) {
  TKitListItem::DefineProperties(Filer);
  DefineStoredItem(Filer);
}

// ---- TKitStringList -------------------------------------------------------------------

TKitStringList::TKitStringList(fw::TComponent* AOwner)
    : TKitCustomContainer(AOwner, klkStringList, KitItemClass<TKitStringListItem>()) {}

}  // namespace vexa
