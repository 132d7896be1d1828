#include "framework/ComCtrls.h"

#include <algorithm>

namespace fw {

// ---------------------------------------------------------------------------
// Columns

void TListColumn::SetCaption(const std::string& Value) {
  if (FCaption == Value) return;
  FCaption = Value;
  Changed(false);
}

void TListColumn::SetWidth(int32_t Value) {
  if (FWidth == Value) return;
  FWidth = Value;
  Changed(false);
}

void TListColumn::SetAlignment(TAlignment Value) {
  if (FAlignment == Value) return;
  FAlignment = Value;
  Changed(false);
}

void TListColumn::Assign(TPersistent* Source) {
  if (auto* c = dynamic_cast<TListColumn*>(Source)) {
    FCaption = c->FCaption;
    FWidth = c->FWidth;
    FAlignment = c->FAlignment;
    FAutoSize = c->FAutoSize;
    Changed(false);
    return;
  }
  TCollectionItem::Assign(Source);
}

TListColumns::TListColumns(TListView* Owner)
    : TCollection([](TCollection* c) { return new TListColumn(c); }), FOwner(Owner) {}

TPersistent* TListColumns::GetOwner() const { return FOwner; }

void TListColumns::Update(TCollectionItem* Item) {
  TCollection::Update(Item);
  if (FOwner) FOwner->ViewChanged();
}

// ---------------------------------------------------------------------------
// Items

TListItem::TListItem(TListItems* Owner)
    : FOwner(Owner), FSubItems(std::make_unique<TStringList>()) {
  FSubItems->OnChange = [this](TObject*) {
    if (TListView* v = ListView()) v->ItemChanged(this, ctText);
  };
}

TListItem::~TListItem() {
  FSubItems->OnChange = nullptr;
  if (FOwner) FOwner->Detach(this);
}

TListView* TListItem::ListView() const { return FOwner ? FOwner->Owner() : nullptr; }

void TListItem::SetCaption(const std::string& Value) {
  if (FCaption == Value) return;
  FCaption = Value;
  if (TListView* v = ListView()) v->ItemChanged(this, ctText);
}

void TListItem::SetImageIndex(int32_t Value) {
  if (FImageIndex == Value) return;
  FImageIndex = Value;
  if (TListView* v = ListView()) v->ItemChanged(this, ctImage);
}

bool TListItem::Selected() const {
  TListView* v = ListView();
  return v && v->Selected() == this;
}

void TListItem::SetSelected(bool Value) {
  TListView* v = ListView();
  if (!v) return;
  if (Value) {
    v->SetSelected(this);
  } else if (v->Selected() == this) {
    v->SetSelected(nullptr);
  }
}

int TListItem::Index() const { return FOwner ? FOwner->IndexOf(const_cast<TListItem*>(this)) : -1; }

void TListItem::Delete() { delete this; }

void TListItem::Update() {
  if (TListView* v = ListView()) v->ItemChanged(this, ctText);
}

void TListItem::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TListItem*>(Source)) {
    FCaption = src->FCaption;
    FData = src->FData;
    FImageIndex = src->FImageIndex;
    FChecked = src->FChecked;
    FSubItems->Assign(src->FSubItems.get());
    Update();
    return;
  }
  TPersistent::Assign(Source);
}

TListItems::~TListItems() {
  FClearing = true;
  while (!FItems.empty()) {
    TListItem* it = FItems.back();
    FItems.pop_back();
    it->FOwner = nullptr;
    delete it;
  }
}

TListItem* TListItems::Item(int Index) const {
  if (Index < 0 || Index >= Count())
    throw EListError(Format("List index out of bounds (%d)", Index));
  return FItems[static_cast<size_t>(Index)];
}

TListItem* TListItems::Add() { return Insert(Count()); }

TListItem* TListItems::Insert(int Index) {
  if (Index < 0 || Index > Count())
    throw EListError(Format("List index out of bounds (%d)", Index));
  auto* item = new TListItem(this);
  FItems.insert(FItems.begin() + Index, item);
  Changed();
  return item;
}

void TListItems::Delete(int Index) { delete Item(Index); }

void TListItems::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  while (!FItems.empty()) delete FItems.back();
  EndUpdate();
}

int TListItems::IndexOf(TListItem* Value) const {
  auto it = std::find(FItems.begin(), FItems.end(), Value);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void TListItems::BeginUpdate() { ++FUpdateCount; }

void TListItems::EndUpdate() {
  if (FUpdateCount <= 0) return;
  if (--FUpdateCount == 0) Changed();
}

void TListItems::Changed() {
  if (FUpdateCount == 0 && FOwner) FOwner->ViewChanged();
}

void TListItems::Detach(TListItem* Item) {
  auto it = std::find(FItems.begin(), FItems.end(), Item);
  if (it == FItems.end()) return;
  if (FOwner) FOwner->ItemDeleted(Item);
  FItems.erase(std::find(FItems.begin(), FItems.end(), Item));
  Item->FOwner = nullptr;
  Changed();
}

// ---------------------------------------------------------------------------
// TListView

TListView::TListView(TComponent* AOwner)
    : TCustomControl(AOwner),
      FColumns(std::make_unique<TListColumns>(this)),
      FItems(std::make_unique<TListItems>(this)) {
  SetBounds(0, 0, 250, 150);
  SetTabStop(true);
}

TListView::~TListView() {
  OnChange = nullptr;
  OnSelectItem = nullptr;
  OnDeletion = nullptr;
  FSelected = nullptr;
  FItems.reset();
  FColumns.reset();
}

void TListView::SetViewStyle(TViewStyle Value) {
  if (FViewStyle == Value) return;
  FViewStyle = Value;
  ViewChanged();
}

void TListView::SetSelected(TListItem* Value) {
  if (FSelected == Value) return;
  if (Value && Value->ListView() != this) return;
  TListItem* old = FSelected;
  FSelected = Value;
  if (old && OnSelectItem) OnSelectItem(this, old, false);
  if (Value && OnSelectItem) OnSelectItem(this, Value, true);
  if (old && OnChange) OnChange(this, old, ctState);
  if (Value && OnChange) OnChange(this, Value, ctState);
  ViewChanged();
}

void TListView::ItemChanged(TListItem* Item, TItemChange Change) {
  if (!FItems) return;
  if (FItems->UpdateCount() == 0) ViewChanged();
  if (OnChange) OnChange(this, Item, Change);
}

void TListView::ItemDeleted(TListItem* Item) {
  if (OnDeletion) OnDeletion(this, Item);
  if (FSelected == Item) {
    FSelected = nullptr;
    if (OnSelectItem) OnSelectItem(this, Item, false);
  }
}

void TListView::ViewChanged() {
  if (FItems && FItems->UpdateCount() > 0) return;
  ++FChangeCount;
  Invalidate();
}

// ---------------------------------------------------------------------------
// TTabSheet, TPageControl

TTabSheet::TTabSheet(TComponent* AOwner) : TWinControl(AOwner) {
  SetVisible(false);
  SetAlign(alClient);
}

TTabSheet::~TTabSheet() {
  if (FPageControl) FPageControl->RemovePage(this);
}

void TTabSheet::SetPageControl(TPageControl* Value) {
  if (FPageControl == Value) return;
  if (FPageControl) FPageControl->RemovePage(this);
  SetParent(Value);
  if (Value) Value->InsertPage(this);
}

int TTabSheet::PageIndex() const {
  return FPageControl ? IndexInList<TTabSheet>(FPageControl->FPages, this) : -1;
}

void TTabSheet::SetPageIndex(int Value) {
  int cur = PageIndex();
  if (cur < 0 || cur == Value) return;
  MoveInList(FPageControl->FPages, cur, Value);
  FPageControl->Invalidate();
}

TPageControl::TPageControl(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 289, 193);
  SetTabStop(true);
}

TPageControl::~TPageControl() {
  // The pages are freed with the control's children; they must not call back.
  for (TTabSheet* p : FPages) p->FPageControl = nullptr;
  FPages.clear();
  FActivePage = nullptr;
  OnChange = nullptr;
  OnChanging = nullptr;
}

TTabSheet* TPageControl::Pages(int Index) const {
  if (Index < 0 || Index >= PageCount())
    throw EListError(Format("List index out of bounds (%d)", Index));
  return FPages[static_cast<size_t>(Index)];
}

void TPageControl::InsertPage(TTabSheet* Page) {
  FPages.push_back(Page);
  Page->FPageControl = this;
  if (!FActivePage) {
    SetActivePage(Page);
  } else {
    Page->SetVisible(false);
  }
}

void TPageControl::RemovePage(TTabSheet* Page) {
  auto it = std::find(FPages.begin(), FPages.end(), Page);
  if (it == FPages.end()) return;
  size_t idx = static_cast<size_t>(it - FPages.begin());
  FPages.erase(it);
  Page->FPageControl = nullptr;
  if (FActivePage == Page) {
    FActivePage = nullptr;
    if (!FPages.empty()) SetActivePage(FPages[std::min(idx, FPages.size() - 1)]);
  }
}

void TPageControl::SetActivePage(TTabSheet* Page) {
  if (Page && Page->PageControl() != this) return;
  if (FActivePage == Page) return;
  FActivePage = Page;
  for (TTabSheet* p : FPages) p->SetVisible(p == Page);
  Invalidate();
}

int TPageControl::ActivePageIndex() const { return FActivePage ? FActivePage->PageIndex() : -1; }

void TPageControl::SetActivePageIndex(int Value) {
  if (Value < 0 || Value >= PageCount()) {
    SetActivePage(nullptr);
  } else {
    SetActivePage(FPages[static_cast<size_t>(Value)]);
  }
}

bool TPageControl::ChangeActivePage(TTabSheet* Page) {
  if (Page == FActivePage) return true;
  bool allow = true;
  if (OnChanging) OnChanging(this, allow);
  if (!allow) return false;
  SetActivePage(Page);
  if (OnChange) OnChange(this);
  return true;
}

void TPageControl::SelectNextPage(bool GoForward) {
  int n = PageCount();
  if (n == 0) return;
  int start = ActivePageIndex();
  for (int step = 1; step <= n; ++step) {
    int i = GoForward ? ((start < 0 ? -1 : start) + step) % n
                      : (((start < 0 ? n : start) - step) % n + n) % n;
    TTabSheet* p = FPages[static_cast<size_t>(i)];
    if (p->TabVisible()) {
      ChangeActivePage(p);
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// TUpDown

TUpDown::TUpDown(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 17, 25); }

void TUpDown::SetAssociate(TWinControl* Value) {
  if (Value == this) return;
  if (FAssociate == Value) return;
  if (FAssociate) RemoveFreeNotification(FAssociate);
  FAssociate = Value;
  if (Value) {
    Value->FreeNotification(this);
    UpdateAssociate();
  }
}

void TUpDown::Notification(TComponent* AComponent, TOperation Operation) {
  TWinControl::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == static_cast<TComponent*>(FAssociate)) {
    FAssociate = nullptr;
  }
}

void TUpDown::SetMin(int32_t Value) {
  if (FMin == Value) return;
  FMin = Value;
  SetPosition(FPosition);
}

void TUpDown::SetMax(int32_t Value) {
  if (FMax == Value) return;
  FMax = Value;
  SetPosition(FPosition);
}

void TUpDown::SetThousands(bool Value) {
  if (FThousands == Value) return;
  FThousands = Value;
  UpdateAssociate();
}

int32_t TUpDown::Position() {
  // A number typed into the edit counts once it is valid and in range.
  if (FAssociate) {
    std::string t;
    for (char c : FAssociate->Text()) {
      if (c != ',') t += c;
    }
    int32_t v;
    int32_t lo = std::min(FMin, FMax), hi = std::max(FMin, FMax);
    if (TryStrToInt(t, v) && v >= lo && v <= hi) FPosition = v;
  }
  return FPosition;
}

void TUpDown::SetPosition(int32_t Value) {
  int32_t lo = std::min(FMin, FMax), hi = std::max(FMin, FMax);
  if (Value < lo) Value = lo;
  if (Value > hi) Value = hi;
  FPosition = Value;
  UpdateAssociate();
}

void TUpDown::UpdateAssociate() {
  if (!FAssociate) return;
  std::string digits = std::to_string(FPosition < 0 ? -static_cast<int64_t>(FPosition) : FPosition);
  if (FThousands) {
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
      if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
      grouped += digits[i];
    }
    digits = grouped;
  }
  FAssociate->SetText(FPosition < 0 ? "-" + digits : digits);
}

void TUpDown::ClickButton(TUDBtnType Button) {
  bool allow = true;
  if (OnChanging) OnChanging(this, allow);
  if (!allow) return;
  int32_t lo = std::min(FMin, FMax), hi = std::max(FMin, FMax);
  int64_t step = FIncrement;
  if (FMin > FMax) step = -step;  // a reversed range counts down with the up arrow
  int64_t next = static_cast<int64_t>(Position()) + (Button == btNext ? step : -step);
  if (next > hi) next = FWrap ? lo : hi;
  if (next < lo) next = FWrap ? hi : lo;
  SetPosition(static_cast<int32_t>(next));
  if (OnClick) OnClick(this, Button);
}

}  // namespace fw
