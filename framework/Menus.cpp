#include "framework/Menus.h"

#include <algorithm>

namespace fw {

VEXA_DECLARE_EXCEPTION(EMenuError, Exception);

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner) {}

TMenuItem::~TMenuItem() {
  if (FParent) FParent->Remove(this);
  Clear();
}

TMenuItem* TMenuItem::Items(int Index) const {
  if (Index < 0 || Index >= Count())
    throw EListError(Format("List index out of bounds (%d)", Index));
  return FItems[static_cast<size_t>(Index)];
}

void TMenuItem::Add(TMenuItem* Item) { Insert(Count(), Item); }

void TMenuItem::Insert(int Index, TMenuItem* Item) {
  if (!Item) return;
  if (Item->FParent) throw EMenuError("Menu inserted twice");
  if (Index < 0 || Index > Count()) throw EMenuError("Menu index out of range");
  FItems.insert(FItems.begin() + Index, Item);
  Item->FParent = this;
}

void TMenuItem::Delete(int Index) {
  TMenuItem* item = Items(Index);
  FItems.erase(FItems.begin() + Index);
  item->FParent = nullptr;
}

void TMenuItem::Remove(TMenuItem* Item) {
  int i = IndexOf(Item);
  if (i < 0) throw EMenuError("Sub-menu is not in menu");
  Delete(i);
}

void TMenuItem::Clear() {
  while (!FItems.empty()) {
    TMenuItem* item = FItems.back();
    FItems.pop_back();
    item->FParent = nullptr;
    Free(item);
  }
}

int TMenuItem::IndexOf(TMenuItem* Item) const {
  auto it = std::find(FItems.begin(), FItems.end(), Item);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

TMenuItem* TMenuItem::Find(const std::string& ACaption) const {
  auto strip = [](const std::string& s) {
    std::string r;
    for (char c : s) {
      if (c != '&') r += c;
    }
    return r;
  };
  std::string want = strip(ACaption);
  for (TMenuItem* item : FItems) {
    if (SameText(strip(item->FCaption), want)) return item;
  }
  return nullptr;
}

void TMenuItem::SetChecked(bool Value) {
  if (FChecked == Value) return;
  FChecked = Value;
  // Radio items of one group: checking one unchecks the others.
  if (Value && FRadioItem && FParent) {
    for (TMenuItem* sib : FParent->FItems) {
      if (sib != this && sib->FRadioItem && sib->FGroupIndex == FGroupIndex) sib->FChecked = false;
    }
  }
}

void TMenuItem::Click() {
  if (!FEnabled) return;
  if (FAutoCheck) SetChecked(!FChecked);
  if (OnClick) {
    TNotifyEvent handler = OnClick;
    handler(this);
  }
}

TMenu::TMenu(TComponent* AOwner) : TComponent(AOwner), FItems(new TMenuItem(this)) {}

TMenu::~TMenu() = default;  // the root item is owned, and freed, like any component

void TPopupMenu::Popup(int, int) {
  if (OnPopup) OnPopup(this);
}

}  // namespace fw
