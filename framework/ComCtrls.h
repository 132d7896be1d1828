// Common controls: list view (report style), page control with tab sheets,
// up-down bound to an edit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Controls.h"
#include "framework/StdCtrls.h"

namespace fw {

// ---------------------------------------------------------------------------
// TListView

class TListView;
class TListItems;

class TListColumn : public TCollectionItem {
public:
  explicit TListColumn(TCollection* Collection) : TCollectionItem(Collection) {}
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& Value);
  int32_t Width() const { return FWidth; }
  void SetWidth(int32_t Value);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value) { FAutoSize = Value; }
  std::string DisplayName() const override { return FCaption; }
  void Assign(TPersistent* Source) override;

private:
  std::string FCaption;
  int32_t FWidth = 50;
  TAlignment FAlignment = taLeftJustify;
  bool FAutoSize = false;
};

class TListColumns : public TCollection {
public:
  explicit TListColumns(TListView* Owner);
  TListColumn* Items(int Index) const {
    return static_cast<TListColumn*>(TCollection::Items(Index));
  }
  TListColumn* Add() { return static_cast<TListColumn*>(TCollection::Add()); }
  TPersistent* GetOwner() const override;

protected:
  void Update(TCollectionItem* Item) override;

private:
  TListView* FOwner;
};

class TListItem : public TPersistent {
public:
  explicit TListItem(TListItems* Owner);
  ~TListItem() override;

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& Value);
  // The texts of the columns after the first; changes repaint the item.
  TStrings* SubItems() const { return FSubItems.get(); }
  void* Data() const { return FData; }
  void SetData(void* Value) { FData = Value; }
  int32_t ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int32_t Value);
  bool Selected() const;
  void SetSelected(bool Value);
  bool Checked() const { return FChecked; }
  void SetChecked(bool Value) { FChecked = Value; }
  int Index() const;
  TListItems* Owner() const { return FOwner; }
  TListView* ListView() const;
  // Removes the item from its list view and frees it.
  void Delete();
  void Assign(TPersistent* Source) override;
  void Update();

private:
  friend class TListItems;
  TListItems* FOwner;
  std::string FCaption;
  std::unique_ptr<TStringList> FSubItems;
  void* FData = nullptr;
  int32_t FImageIndex = -1;
  bool FChecked = false;
};

class TListItems : public TPersistent {
public:
  explicit TListItems(TListView* Owner) : FOwner(Owner) {}
  ~TListItems() override;

  int Count() const { return static_cast<int>(FItems.size()); }
  // EListError "List index out of bounds (<i>)" when out of range.
  TListItem* Item(int Index) const;
  TListItem* operator[](int Index) const { return Item(Index); }
  TListItem* Add();
  TListItem* Insert(int Index);
  void Delete(int Index);
  void Clear();
  int IndexOf(TListItem* Value) const;
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }
  TListView* Owner() const { return FOwner; }

private:
  friend class TListItem;
  void Changed();
  void Detach(TListItem* Item);
  TListView* FOwner;
  std::vector<TListItem*> FItems;
  int FUpdateCount = 0;
  bool FClearing = false;
};

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };
enum TItemChange { ctText, ctImage, ctState };

using TLVChangeEvent = std::function<void(TObject* Sender, TListItem* Item, TItemChange Change)>;
using TLVSelectItemEvent = std::function<void(TObject* Sender, TListItem* Item, bool Selected)>;
using TLVDeletedEvent = std::function<void(TObject* Sender, TListItem* Item)>;

class TListView : public TCustomControl {
public:
  explicit TListView(TComponent* AOwner);
  ~TListView() override;

  TListColumns* Columns() const { return FColumns.get(); }
  TListItems* Items() const { return FItems.get(); }
  TViewStyle ViewStyle() const { return FViewStyle; }
  void SetViewStyle(TViewStyle Value);
  TListItem* Selected() const { return FSelected; }
  void SetSelected(TListItem* Value);
  TListItem* ItemFocused() const { return FSelected; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool RowSelect() const { return FRowSelect; }
  void SetRowSelect(bool Value) { FRowSelect = Value; }
  bool GridLines() const { return FGridLines; }
  void SetGridLines(bool Value) { FGridLines = Value; }
  bool HideSelection() const { return FHideSelection; }
  void SetHideSelection(bool Value) { FHideSelection = Value; }
  bool MultiSelect() const { return FMultiSelect; }
  void SetMultiSelect(bool Value) { FMultiSelect = Value; }
  // Bumped on every visible change outside update brackets (tests and the
  // display layer see when the view needs a repaint).
  uint32_t ChangeCount() const { return FChangeCount; }

  TLVChangeEvent OnChange;
  TLVSelectItemEvent OnSelectItem;
  TLVDeletedEvent OnDeletion;

private:
  friend class TListItems;
  friend class TListItem;
  friend class TListColumns;
  void ItemChanged(TListItem* Item, TItemChange Change);
  void ItemDeleted(TListItem* Item);
  void ViewChanged();
  std::unique_ptr<TListColumns> FColumns;
  std::unique_ptr<TListItems> FItems;
  TViewStyle FViewStyle = vsIcon;
  TListItem* FSelected = nullptr;
  bool FReadOnly = false;
  bool FRowSelect = false;
  bool FGridLines = false;
  bool FHideSelection = true;
  bool FMultiSelect = false;
  uint32_t FChangeCount = 0;
};

// ---------------------------------------------------------------------------
// TPageControl, TTabSheet

class TPageControl;

class TTabSheet : public TWinControl {
public:
  explicit TTabSheet(TComponent* AOwner);
  ~TTabSheet() override;
  TPageControl* PageControl() const { return FPageControl; }
  void SetPageControl(TPageControl* Value);
  // Position among the page control's pages (-1 without one).
  int PageIndex() const;
  void SetPageIndex(int Value);
  bool TabVisible() const { return FTabVisible; }
  void SetTabVisible(bool Value) { FTabVisible = Value; }
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int Value) { FImageIndex = Value; }

private:
  friend class TPageControl;
  TPageControl* FPageControl = nullptr;
  bool FTabVisible = true;
  int FImageIndex = -1;
};

using TTabChangingEvent = std::function<void(TObject* Sender, bool& AllowChange)>;

class TPageControl : public TWinControl {
public:
  explicit TPageControl(TComponent* AOwner);
  ~TPageControl() override;
  int PageCount() const { return static_cast<int>(FPages.size()); }
  TTabSheet* Pages(int Index) const;  // EListError when out of range
  TTabSheet* ActivePage() const { return FActivePage; }
  // Shows Page and hides the others (no events: a program's own change).
  void SetActivePage(TTabSheet* Page);
  int ActivePageIndex() const;
  void SetActivePageIndex(int Value);
  // A user's tab change: OnChanging may refuse, OnChange follows.
  void SelectNextPage(bool GoForward);
  bool ChangeActivePage(TTabSheet* Page);
  // The area of the pages: inside the frame, below the tabs (see ControlPaintDraw.cpp).
  TRect ClientRect() const override;

  TNotifyEvent OnChange;
  TTabChangingEvent OnChanging;

private:
  friend class TTabSheet;
  void InsertPage(TTabSheet* Page);
  void RemovePage(TTabSheet* Page);
  std::vector<TTabSheet*> FPages;
  TTabSheet* FActivePage = nullptr;
};

// ---------------------------------------------------------------------------
// TUpDown

enum TUDBtnType { btNext, btPrev };
enum TUDOrientation { udHorizontal, udVertical };
enum TUDAlignButton { udLeft, udRight };

using TUDClickEvent = std::function<void(TObject* Sender, TUDBtnType Button)>;
using TUDChangingEvent = std::function<void(TObject* Sender, bool& AllowChange)>;

// Up-down arrows bound to an edit (Associate): Position stays within Min..Max
// (without Wrap, steps beyond an end stop there) and is shown as the edit's
// text. Reading Position takes a valid number typed in the edit first.
class TUpDown : public TWinControl {
public:
  explicit TUpDown(TComponent* AOwner);
  TWinControl* Associate() const { return FAssociate; }
  void SetAssociate(TWinControl* Value);
  int32_t Min() const { return FMin; }
  void SetMin(int32_t Value);
  int32_t Max() const { return FMax; }
  void SetMax(int32_t Value);
  int32_t Position();
  void SetPosition(int32_t Value);
  int32_t Increment() const { return FIncrement; }
  void SetIncrement(int32_t Value) { FIncrement = Value; }
  bool Wrap() const { return FWrap; }
  void SetWrap(bool Value) { FWrap = Value; }
  bool Thousands() const { return FThousands; }
  void SetThousands(bool Value);
  TUDOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TUDOrientation Value) { FOrientation = Value; }
  TUDAlignButton AlignButton() const { return FAlignButton; }
  void SetAlignButton(TUDAlignButton Value) { FAlignButton = Value; }
  bool ArrowKeys() const { return FArrowKeys; }
  void SetArrowKeys(bool Value) { FArrowKeys = Value; }
  // A click on an arrow: OnChanging may refuse; Position moves by Increment,
  // then OnClick(Button).
  void ClickButton(TUDBtnType Button);

  TUDClickEvent OnClick;
  TUDChangingEvent OnChanging;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  void UpdateAssociate();
  TWinControl* FAssociate = nullptr;
  int32_t FMin = 0;
  int32_t FMax = 100;
  int32_t FPosition = 0;
  int32_t FIncrement = 1;
  bool FWrap = false;
  bool FThousands = true;
  bool FArrowKeys = true;
  TUDOrientation FOrientation = udVertical;
  TUDAlignButton FAlignButton = udRight;
};

}  // namespace fw
