// Containers: non-visual components owning a list of items (bitmaps, image
// strips, string lists, wave sounds) that other components point to. What all
// containers share: change links, the stored item header, the container stream
// and the list-file signatures.
//
// Stored item: a flag byte (1 compressed, 2 a description follows, 4 an ident
// follows, 8 the item has data, 16/32/64 pixel format mono/4 bit/8 bit), the
// description as a short string, the ident as a 32-bit integer, then the body
// of the item class.
//
// Container stream: the item count (32-bit), with offsets a table of the
// absolute stream position of each item, then the items in list order.
// List file: a 9-byte signature (length byte 8 and eight characters) and the
// container stream with offsets from file position 9.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/KitCustomComponent.h"
#include "components/kitclass.h"
#include "framework/Classes.h"

namespace vexa {

class TKitBaseContainer;
class TKitCustomContainer;
class TKitListItem;

// Item flag bits.
constexpr uint8_t kifCompressed = 0x01;
constexpr uint8_t kifDescription = 0x02;
constexpr uint8_t kifIdent = 0x04;
constexpr uint8_t kifData = 0x08;
constexpr uint8_t kifMono = 0x10;
constexpr uint8_t kif4bit = 0x20;
constexpr uint8_t kif8bit = 0x40;

// List kinds, which are also the indexes of their signatures.
constexpr int32_t klkImageList = 0;
constexpr int32_t klkBitmapList = 1;
constexpr int32_t klkWaveList = 2;
constexpr int32_t klkStringList = 3;
constexpr int32_t klkGraphicList = 4;
constexpr int32_t klkRichTextList = 5;
constexpr int32_t klkNotAList = 6;
extern const char* const KitListSignatures[6];

// Writes the 9-byte signature of a kind (0..5).
void WriteListFileSignature(fw::TStream* Stream, int32_t Kind);
// Reads 9 bytes and answers the kind whose signature they are, 6 for none.
int32_t ReadListFileSignature(fw::TStream* Stream);

// The change links a sender keeps, in registration order. Each link names its
// sender in its field FSender, which the list keeps up to date.
template <class TLink>
class TKitLinkList {
public:
  // Registers Link with Sender; a link of another sender leaves that one first
  // (through its Leave member), one already registered here stays once.
  template <class TSender>
  void Add(TSender* Sender, TLink* Link, void (TSender::*Leave)(TLink*)) {
    if (!Link) return;
    TSender* previous = Link->FSender;
    if (previous && previous != Sender) (previous->*Leave)(Link);
    Link->FSender = Sender;
    if (std::find(FLinks.begin(), FLinks.end(), Link) == FLinks.end()) FLinks.push_back(Link);
  }
  void Remove(TLink* Link) {
    auto it = std::find(FLinks.begin(), FLinks.end(), Link);
    if (it == FLinks.end()) return;
    Link->FSender = nullptr;
    FLinks.erase(it);
  }
  // By index: a handler may remove links meanwhile.
  void Change() {
    for (size_t i = 0; i < FLinks.size(); ++i) FLinks[i]->Change();
  }
  // Every link is left without sender, the last registered first or last.
  void DetachAll(bool LastFirst) {
    if (LastFirst) std::reverse(FLinks.begin(), FLinks.end());
    for (TLink* l : FLinks) l->FSender = nullptr;
    FLinks.clear();
  }
  int Count() const { return int(FLinks.size()); }

private:
  std::vector<TLink*> FLinks;
};

// A user's link to a container: Change runs OnChange with the container as sender.
class TKitChangeLink : public fw::TObject {
public:
  TKitChangeLink() = default;
  // Leaves the container it is registered with.
  ~TKitChangeLink() override;
  virtual void Change();
  TKitBaseContainer* Sender() const { return FSender; }
  // Leaves the container it is registered with (one being freed has let it go
  // already) and registers with List, if any; Follower, if any, then hears
  // of List's freeing.
  void Follow(TKitBaseContainer* List, fw::TComponent* Follower = nullptr);

  fw::TNotifyEvent OnChange;

private:
  friend class TKitLinkList<TKitChangeLink>;
  TKitBaseContainer* FSender = nullptr;
};

class TKitBaseContainer : public TKitCustomComponent {
public:
  explicit TKitBaseContainer(fw::TComponent* AOwner) : TKitCustomComponent(AOwner) {}
  // Detaches every link (last first); each is left without sender.
  ~TKitBaseContainer() override;

  // Registers a link (a link of another container leaves that one first; a
  // link already registered here stays registered once).
  void AddChangeLink(TKitChangeLink* Link);
  void RemoveChangeLink(TKitChangeLink* Link);
  int ChangeLinkCount() const { return FLinks.Count(); }
  // Every link hears the change, in registration order and also inside an
  // update bracket; then the component's own change event (held back while updating).
  void NotifyChange() override;

private:
  TKitLinkList<TKitChangeLink> FLinks;
};

class TKitListItem : public TKitCustomComponent {
public:
  explicit TKitListItem(fw::TComponent* AOwner) : TKitCustomComponent(AOwner) {}

  virtual void ClearData() {}
  virtual bool IsEmpty() { return false; }
  virtual void ReadData(fw::TStream* /*Stream*/) {}
  virtual void WriteData(fw::TStream* /*Stream*/) {}
  // Bits 0-2 from Compressed, Description and Ident; items add bits 3-6.
  virtual uint8_t GetFlags();
  // Reads the item's stored properties; a container being read as parent then adds it.
  virtual void ReadState(TKitReader* Reader);
  // The inherited notification, then the owning container's change event
  // (when assigned) with this item as sender.
  void NotifyChange() override;

  void WriteHeader(fw::TStream* Stream);
  uint8_t ReadHeader(fw::TStream* Stream);
  void AssignCommon(TKitListItem* Source);
  // The binary property "Internal" that carries the stored item (WriteData and
  // ReadData) in form data; items of the list kinds define it.
  void DefineStoredItem(TKitFiler* Filer);

  const std::string& Description() const { return FDescription; }
  void SetDescription(const std::string& Value) { SetField(FDescription, Value); }
  uint16_t Ident() const { return FIdent; }
  void SetIdent(uint16_t Value) { SetField(FIdent, Value); }
  bool Compressed() const { return FCompressed; }
  void SetCompressed(bool Value) { SetField(FCompressed, Value); }

protected:
  std::string FDescription;
  uint16_t FIdent = 0;
  bool FCompressed = false;
};

// Makes an empty item of a container's item class with the given owner.
using TKitListItemClass = std::function<TKitListItem*(fw::TComponent* Owner)>;
// The item class of a container whose items are of class TItem.
template <class TItem>
TKitListItemClass KitItemClass() {
  return [](fw::TComponent* Owner) -> TKitListItem* { return new TItem(Owner); };
}

class TKitCustomContainer : public TKitBaseContainer {
public:
  TKitCustomContainer(fw::TComponent* AOwner, int32_t Kind, TKitListItemClass ItemClass);
  ~TKitCustomContainer() override;

  virtual int GetCount() const { return int(FItems.size()); }
  virtual bool IsEmpty() const { return FItems.empty(); }
  // EListError "List index out of bounds (<index>)" outside the list.
  virtual TKitListItem* GetListItem(int Index) const;
  int32_t Kind() const { return FKind; }

  // Appends Item (an empty one of the item class when null), then notifies;
  // answers its index. The container owns its items.
  int AddItem(TKitListItem* Item = nullptr);
  void ClearItems();
  void AssignItems(TKitCustomContainer* Source);
  // From a container of the same kind: items and DefaultCompressed in one
  // update bracket; anything else raises the assignment error.
  void Assign(fw::TPersistent* Source) override;
  // Every item in list order; the items are read back as the container's children.
  void GetChildren(const std::function<void(fw::TComponent*)>& Proc, fw::TComponent* Root);
  fw::TComponent* GetChildOwner() { return this; }

  virtual void SaveToStream(fw::TStream* Stream, bool WithOffsets);
  // Replaces the items by those stored. Counts are checked against the data
  // left in the stream; stream errors pass through and the items read so far stay.
  virtual void LoadFromStream(fw::TStream* Stream, bool WithOffsets);

  bool DefaultCompressed() const { return FDefaultCompressed; }
  void SetDefaultCompressed(bool Value) { FDefaultCompressed = Value; }

protected:
  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;

private:
  int32_t FKind;
  TKitListItemClass FItemClass;
  std::vector<TKitListItem*> FItems;
  bool FDefaultCompressed = false;
};

class TKitStringListItem : public TKitListItem {
public:
  explicit TKitStringListItem(fw::TComponent* AOwner);
  ~TKitStringListItem() override;

  void ClearData() override;
  bool IsEmpty() override;
  uint8_t GetFlags() override;
  // Header, then a strings section when there are strings.
  void WriteData(fw::TStream* Stream) override;
  void ReadData(fw::TStream* Stream) override;
  // From strings (the strings only) or a string item (common values and strings).
  void Assign(fw::TPersistent* Source) override;
  // "Internal": the stored item.
  void DefineProperties(TKitFiler* Filer) override;

  fw::TStringList* Items() { return FItems.get(); }
  void SetItems(fw::TStrings* Value) { FItems->Assign(Value); }

private:
  std::unique_ptr<fw::TStringList> FItems;
};

class TKitStringList : public TKitCustomContainer {
public:
  explicit TKitStringList(fw::TComponent* AOwner);
  TKitStringListItem* Items(int Index) const {
    return static_cast<TKitStringListItem*>(GetListItem(Index));
  }
};

}  // namespace vexa
