// Image lists: containers whose items hold pictures, and the one interface
// through which controls, fills and the tray icon reach any of them. A picture
// is found by two numbers: the list index (which item) and the image index
// (which image inside that item).
//
//   TKitBitmapList          one bitmap per item (list kind 1)
//   TKitImageList           a strip of equal-sized images per item, with an
//                           optional monochrome mask (list kind 0)
//   TKitImageListConnector  entries pointing to standard image lists
//   TKitGraphicList         one picture (bitmap or icon) per entry
//
// Stored bitmap item, after the common item header: a bitmap section when flag
// bit 3 is set (colour count of the item's pixel format, compressed with bit 0).
// Stored image-list item: Height, Width, AllocBy (32-bit each), Masked (1 byte),
// image count (32-bit); with images, the strip (image count x Width pixels wide)
// as a bitmap section in the item's pixel format, then, when masked, the mask
// as a 2-colour bitmap section. The pixel format is flag bit 4, 5 or 6.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/kitclass.h"
#include "components/kitcont.h"
#include "framework/Classes.h"
#include "framework/Graphics.h"

namespace vexa {

class TCustomImageList;

// ---------------------------------------------------------------------------
// The standard image list that connector entries point to: images of one size,
// optionally masked, and the change links of those who follow it.

class TChangeLink : public fw::TObject {
public:
  TChangeLink() = default;
  // Leaves the list it is registered with.
  ~TChangeLink() override;
  virtual void Change();
  TCustomImageList* Sender() const { return FSender; }

  fw::TNotifyEvent OnChange;

private:
  friend class TKitLinkList<TChangeLink>;
  TCustomImageList* FSender = nullptr;
};

class TCustomImageList : public fw::TComponent {
public:
  explicit TCustomImageList(fw::TComponent* AOwner);
  // Every registered link is left without sender.
  ~TCustomImageList() override;

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // A different size above 0 clears the images.
  void SetWidth(int32_t Value) { SetSide(FWidth, Value); }
  void SetHeight(int32_t Value) { SetSide(FHeight, Value); }
  bool Masked() const { return FMasked; }
  void SetMasked(bool Value);
  int Count() const { return int(FImages.size()); }

  // Adds Image cut or padded to Width x Height at its top-left corner. Mask
  // (monochrome, white where transparent) is used by a masked list; the
  // image's transparent pixels are stored black. Answers the new index.
  int Add(fw::TBitmap* Image, fw::TBitmap* Mask);
  void Clear();
  // Image sized Width x Height holding the stored pixels of image Index.
  void GetBitmap(int Index, fw::TBitmap* Image);
  // Draws image Index at (X, Y); a masked list leaves its transparent pixels.
  void Draw(fw::TCanvas* Canvas, int32_t X, int32_t Y, int Index);

  void RegisterChanges(TChangeLink* Link);
  void UnRegisterChanges(TChangeLink* Link);

  fw::TNotifyEvent OnChange;

protected:
  // Every link hears the change, then OnChange.
  virtual void Change();

private:
  void CheckIndex(int Index) const;
  void SetSide(int32_t& Side, int32_t Value);
  int32_t FWidth = 16, FHeight = 16;
  bool FMasked = true;
  std::vector<std::unique_ptr<fw::TBitmap>> FImages;
  std::vector<std::unique_ptr<fw::TBitmap>> FMasks;
  TKitLinkList<TChangeLink> FLinks;
};

// ---------------------------------------------------------------------------
// The image-list interface.

// Drawing styles and image types of an image-list item (only the first of each
// is used).
enum TKitDrawingStyle { kdsNormal, kdsFocus, kdsSelected, kdsTransparent };
enum TKitImageType { kitImage, kitMask };

// The colour meaning "none" of the drawing settings and of missing images.
constexpr fw::TColor KitColorNone = 0x1FFFFFFF;

class TKitCustomImageList : public TKitCustomContainer {
public:
  TKitCustomImageList(fw::TComponent* AOwner, int32_t Kind, TKitListItemClass ItemClass);

  virtual fw::TCanvas* GetImageCanvas(int32_t ListIndex) = 0;
  virtual void GetImageRect(int32_t ListIndex, int32_t ImageIndex, fw::TRect& Rect) = 0;
  // Which 0 = width, 1 = height.
  virtual int32_t GetListDimension(int32_t ListIndex, int32_t Which) = 0;
  virtual int32_t GetImageCount(int32_t ListIndex) = 0;
  virtual bool IsValidImage(int32_t ListIndex, int32_t ImageIndex) = 0;
  // Does nothing for a null bitmap.
  virtual void CopyImageToBitmap(int32_t ListIndex, int32_t ImageIndex, fw::TBitmap* Bitmap) = 0;
  virtual bool GetListMasked(int32_t ListIndex) = 0;
  virtual plat::HPALETTE GetImagePalette(int32_t ListIndex) = 0;
  virtual fw::TColor GetImageTransparentColor(int32_t ListIndex, int32_t ImageIndex) = 0;
  virtual fw::TColor GetImagePixel(const fw::TPoint& Point, int32_t ListIndex,
                                   int32_t ImageIndex) = 0;
  virtual void DrawImage(fw::TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                         int32_t ImageIndex) = 0;
  virtual void DrawImageInRect(fw::TCanvas* Canvas, const fw::TRect& Rect, fw::TRect& Covered,
                               int32_t ListIndex, int32_t ImageIndex, uint32_t Flags) = 0;
  // A is the transparent colour and B the clip offset of the drawing routines.
  virtual void DrawImageEffect(fw::TCanvas* Canvas, const fw::TRect& Rect, int32_t ListIndex,
                               int32_t ImageIndex, fw::TColor A, uint32_t B, uint32_t Flags) = 0;

  // From a list of the same class: the items and both defaults, one change.
  void Assign(fw::TPersistent* Source) override;

  TKitSavePixelFormat DefaultPixelFormat() const { return FDefaultPixelFormat; }
  void SetDefaultPixelFormat(TKitSavePixelFormat Value) { FDefaultPixelFormat = Value; }

protected:
  // The range rule: a list index at or above the count gets the default answer.
  bool Beyond(int32_t ListIndex) const { return ListIndex >= GetCount(); }

private:
  TKitSavePixelFormat FDefaultPixelFormat = spfDefault;
};

// The save format named by flag bits 4-6 (bit 4 first), and the bit of a format.
TKitSavePixelFormat KitFlagsPixelFormat(uint8_t Flags);
uint8_t KitPixelFormatFlag(TKitSavePixelFormat Format);

// ---------------------------------------------------------------------------
// Bitmap list

class TKitBitmapListItem : public TKitListItem {
public:
  explicit TKitBitmapListItem(fw::TComponent* AOwner);
  ~TKitBitmapListItem() override;

  // While the owning list is in an update bracket, only the item's own event.
  void NotifyChange() override;
  void ClearData() override;
  bool IsEmpty() override;
  uint8_t GetFlags() override;
  void WriteData(fw::TStream* Stream) override;
  void ReadData(fw::TStream* Stream) override;
  // From a bitmap item: common values, bitmap and pixel format.
  void Assign(fw::TPersistent* Source) override;
  // "Internal": the stored item.
  void DefineProperties(TKitFiler* Filer) override;

  fw::TBitmap* Bitmap() const { return FBitmap.get(); }
  void SetBitmap(fw::TBitmap* Value) { FBitmap->Assign(Value); }
  TKitSavePixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TKitSavePixelFormat Value) { SetField(FPixelFormat, Value); }

private:
  void NewBitmap();
  std::unique_ptr<fw::TBitmap> FBitmap;
  TKitSavePixelFormat FPixelFormat = spfDefault;
};

class TKitBitmapList : public TKitCustomImageList {
public:
  explicit TKitBitmapList(fw::TComponent* AOwner);
  TKitBitmapListItem* Items(int Index) const {
    return static_cast<TKitBitmapListItem*>(GetListItem(Index));
  }

  fw::TCanvas* GetImageCanvas(int32_t ListIndex) override;
  void GetImageRect(int32_t ListIndex, int32_t ImageIndex, fw::TRect& Rect) override;
  int32_t GetListDimension(int32_t ListIndex, int32_t Which) override;
  int32_t GetImageCount(int32_t ListIndex) override;
  bool IsValidImage(int32_t ListIndex, int32_t ImageIndex) override;
  void CopyImageToBitmap(int32_t ListIndex, int32_t ImageIndex, fw::TBitmap* Bitmap) override;
  bool GetListMasked(int32_t ListIndex) override;
  plat::HPALETTE GetImagePalette(int32_t ListIndex) override;
  fw::TColor GetImageTransparentColor(int32_t ListIndex, int32_t ImageIndex) override;
  fw::TColor GetImagePixel(const fw::TPoint& Point, int32_t ListIndex,
                           int32_t ImageIndex) override;
  void DrawImage(fw::TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                 int32_t ImageIndex) override;
  void DrawImageInRect(fw::TCanvas* Canvas, const fw::TRect& Rect, fw::TRect& Covered,
                       int32_t ListIndex, int32_t ImageIndex, uint32_t Flags) override;
  void DrawImageEffect(fw::TCanvas* Canvas, const fw::TRect& Rect, int32_t ListIndex,
                       int32_t ImageIndex, fw::TColor A, uint32_t B, uint32_t Flags) override;
};

// ---------------------------------------------------------------------------
// Image list

class TKitImageListItem : public TKitListItem {
public:
  // Strips hold at most this many pixels of width (offsets are 16-bit).
  static constexpr int32_t MaxStripWidth = 32768;
  static constexpr uint32_t EntryMaskedBit = 0x10000;

  explicit TKitImageListItem(fw::TComponent* AOwner);
  ~TKitImageListItem() override;

  // Index 0 Width, 1 Height: a different value above 0 clears the images.
  void SetDimension(int32_t Index, int32_t Value);
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetWidth(int32_t Value) { SetDimension(0, Value); }
  void SetHeight(int32_t Value) { SetDimension(1, Value); }
  int32_t AllocBy() const { return FAllocBy; }
  void SetAllocBy(int32_t Value) { SetField(FAllocBy, Value); }
  bool Masked() const { return FMasked; }
  // Adds or drops the mask; the images and their count stay.
  void SetMasked(bool Value);
  TKitSavePixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TKitSavePixelFormat Value) { SetField(FPixelFormat, Value); }

  int32_t ImageCount() const { return int32_t(FEntries.size()); }
  // Entry of image Index: x offset (low 16 bits), masked bit 16, bits 24-31 kept.
  uint32_t Entry(int32_t Index) const;
  int32_t UsedWidth() const { return FUsedWidth; }
  fw::TBitmap* Strip() const { return FStrip.get(); }
  fw::TBitmap* Mask() const { return FMask.get(); }
  fw::TColor BkColor() const { return FBkColor; }
  fw::TColor BlendColor() const { return FBlendColor; }
  TKitDrawingStyle DrawingStyle() const { return FDrawingStyle; }
  TKitImageType ImageType() const { return FImageType; }

  // Removes every image without notifying.
  void ClearImages();
  // Appends Source's images (the same Width and Height) with one change.
  // Raises EInvalidGraphicOperation "Invalid image size" or "Too many images".
  void AddImages(TKitImageListItem* Source);
  // Image Index's area of the strip.
  fw::TRect ImageRect(int32_t Index) const;
  // Image Index at (X, Y), through the mask when masked.
  void DrawImage(fw::TCanvas* Canvas, int32_t X, int32_t Y, int32_t Index);

  // While the owning list is in an update bracket, only the item's own event.
  void NotifyChange() override;
  void ClearData() override;
  bool IsEmpty() override;
  uint8_t GetFlags() override;
  void WriteData(fw::TStream* Stream) override;
  void ReadData(fw::TStream* Stream) override;
  // From an image item: its settings, then its images.
  void Assign(fw::TPersistent* Source) override;
  // "Internal" (the stored item) and "Bitmap" (count and bitmaps; read only).
  void DefineProperties(TKitFiler* Filer) override;

private:
  // Count, then the strip and mask sections, each checked against the sizes.
  void ReadImages(fw::TStream* Stream, bool Compressed);
  void ReadStripSection(fw::TStream* Stream, fw::TBitmap* Bitmap, bool Compressed,
                        int32_t Width);
  void RebuildEntries(int32_t Count);
  void CheckImage(int32_t Index) const;

  int32_t FWidth = 16, FHeight = 16;
  int32_t FAllocBy = 4;
  bool FMasked = false;
  TKitSavePixelFormat FPixelFormat = spfDefault;
  std::unique_ptr<fw::TBitmap> FStrip;
  std::unique_ptr<fw::TBitmap> FMask;
  int32_t FUsedWidth = 0;
  std::vector<uint32_t> FEntries;
  fw::TColor FBkColor = KitColorNone;
  fw::TColor FBlendColor = KitColorNone;
  TKitDrawingStyle FDrawingStyle = kdsNormal;
  TKitImageType FImageType = kitImage;
};

class TKitImageList : public TKitCustomImageList {
public:
  explicit TKitImageList(fw::TComponent* AOwner);
  TKitImageListItem* Items(int Index) const {
    return static_cast<TKitImageListItem*>(GetListItem(Index));
  }

  fw::TCanvas* GetImageCanvas(int32_t ListIndex) override;
  void GetImageRect(int32_t ListIndex, int32_t ImageIndex, fw::TRect& Rect) override;
  int32_t GetListDimension(int32_t ListIndex, int32_t Which) override;
  int32_t GetImageCount(int32_t ListIndex) override;
  bool IsValidImage(int32_t ListIndex, int32_t ImageIndex) override;
  void CopyImageToBitmap(int32_t ListIndex, int32_t ImageIndex, fw::TBitmap* Bitmap) override;
  bool GetListMasked(int32_t ListIndex) override;
  plat::HPALETTE GetImagePalette(int32_t ListIndex) override;
  fw::TColor GetImageTransparentColor(int32_t ListIndex, int32_t ImageIndex) override;
  fw::TColor GetImagePixel(const fw::TPoint& Point, int32_t ListIndex,
                           int32_t ImageIndex) override;
  void DrawImage(fw::TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                 int32_t ImageIndex) override;
  void DrawImageInRect(fw::TCanvas* Canvas, const fw::TRect& Rect, fw::TRect& Covered,
                       int32_t ListIndex, int32_t ImageIndex, uint32_t Flags) override;
  void DrawImageEffect(fw::TCanvas* Canvas, const fw::TRect& Rect, int32_t ListIndex,
                       int32_t ImageIndex, fw::TColor A, uint32_t B, uint32_t Flags) override;
};

// ---------------------------------------------------------------------------
// The entries of a connector or a graphic list: items of class TItem, owned by
// a list of class TOwner, for which a change to any entry is a change of the list.

template <class TItem, class TOwner>
class TKitOwnedItems : public fw::TCollection {
public:
  explicit TKitOwnedItems(TOwner* Owner)
      : fw::TCollection([](fw::TCollection* c) -> fw::TCollectionItem* { return new TItem(c); }),
        FOwner(Owner) {}
  TItem* GetItem(int Index) const { return static_cast<TItem*>(Items(Index)); }
  TItem* Add() { return static_cast<TItem*>(TCollection::Add()); }
  fw::TPersistent* GetOwner() const override { return FOwner; }

protected:
  void Update(fw::TCollectionItem* Item) override {
    fw::TCollection::Update(Item);
    if (FOwner) FOwner->NotifyChange();
  }

private:
  TOwner* FOwner;
};

// ---------------------------------------------------------------------------
// Lists of named entries that live in a collection (the connector and the
// graphic list): no stored items, one placeholder item answered for every
// entry, and the images drawn from a copy made by CopyImageToBitmap.

class TKitEntryImageList : public TKitCustomImageList {
public:
  TKitEntryImageList(fw::TComponent* AOwner, int32_t Kind);

  bool IsEmpty() const override { return GetCount() == 0; }
  // The placeholder item, its description set to the entry's Name.
  TKitListItem* GetListItem(int Index) const override;
  // Holds no stored items: a stream must give a count of 0.
  void LoadFromStream(fw::TStream* Stream, bool WithOffsets) override;

  fw::TCanvas* GetImageCanvas(int32_t ListIndex) override;
  // (0, 0, width, height) of the entry's picture; empty without one.
  void GetImageRect(int32_t ListIndex, int32_t ImageIndex, fw::TRect& Rect) override;
  int32_t GetListDimension(int32_t ListIndex, int32_t Which) override;
  fw::TColor GetImagePixel(const fw::TPoint& Point, int32_t ListIndex, int32_t ImageIndex) override;
  // The copy drawn in a rectangle with its transparent colour; Covered is left as it was.
  void DrawImageInRect(fw::TCanvas* Canvas, const fw::TRect& Rect, fw::TRect& Covered,
                       int32_t ListIndex, int32_t ImageIndex, uint32_t Flags) override;
  // The copy drawn with the effect's colour and clip offset.
  void DrawImageEffect(fw::TCanvas* Canvas, const fw::TRect& Rect, int32_t ListIndex,
                       int32_t ImageIndex, fw::TColor A, uint32_t B, uint32_t Flags) override;

protected:
  virtual std::string EntryName(int Index) const = 0;
  // False when the entry has no picture.
  virtual bool EntrySize(int32_t ListIndex, int32_t& Width, int32_t& Height) const = 0;

private:
  std::unique_ptr<TKitListItem> FPlaceholder;
};

// ---------------------------------------------------------------------------
// Connector to standard image lists

class TKitImageListConnector;

class TKitBorImageListItem : public fw::TCollectionItem {
public:
  explicit TKitBorImageListItem(fw::TCollection* Collection);
  ~TKitBorImageListItem() override;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value);
  TCustomImageList* ImageList() const { return FImageList; }
  // Moves the change link to the new list and notifies the connector.
  void SetImageList(TCustomImageList* Value);
  // Name, else the standard list's component name, else the default.
  std::string DisplayName() const override;
  // Entries cannot be copied: raises the assignment error.
  void Assign(fw::TPersistent* Source) override;

private:
  friend class TKitImageListConnector;
  TKitImageListConnector* Connector() const;
  std::string FName;
  TCustomImageList* FImageList = nullptr;
  std::unique_ptr<TChangeLink> FChangeLink;
};

using TKitBorImageListItems = TKitOwnedItems<TKitBorImageListItem, TKitImageListConnector>;

class TKitImageListConnector : public TKitEntryImageList {
public:
  explicit TKitImageListConnector(fw::TComponent* AOwner);
  ~TKitImageListConnector() override;

  TKitBorImageListItems* ImageLists() const { return FImageLists.get(); }
  // Copies the entries (names and lists).
  void SetImageLists(TKitBorImageListItems* Value);

  int GetCount() const override;
  // From another connector: its entries.
  void Assign(fw::TPersistent* Source) override;

  int32_t GetImageCount(int32_t ListIndex) override;
  bool IsValidImage(int32_t ListIndex, int32_t ImageIndex) override;
  void CopyImageToBitmap(int32_t ListIndex, int32_t ImageIndex, fw::TBitmap* Bitmap) override;
  bool GetListMasked(int32_t ListIndex) override;
  plat::HPALETTE GetImagePalette(int32_t ListIndex) override;
  fw::TColor GetImageTransparentColor(int32_t ListIndex, int32_t ImageIndex) override;
  void DrawImage(fw::TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                 int32_t ImageIndex) override;

protected:
  // A freed standard list leaves every entry that pointed to it.
  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;
  std::string EntryName(int Index) const override;
  bool EntrySize(int32_t ListIndex, int32_t& Width, int32_t& Height) const override;

private:
  TCustomImageList* ListOf(int32_t ListIndex) const;
  std::unique_ptr<TKitBorImageListItems> FImageLists;
};

// ---------------------------------------------------------------------------
// Graphic list

class TKitGraphicList;

class TKitGraphicListItem : public fw::TCollectionItem {
public:
  explicit TKitGraphicListItem(fw::TCollection* Collection);
  ~TKitGraphicListItem() override;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value);
  fw::TPicture* Picture() const { return FPicture.get(); }
  void SetPicture(fw::TPicture* Value) { FPicture->Assign(Value); }
  std::string DisplayName() const override;
  // From a graphic item: picture and name; anything else raises.
  void Assign(fw::TPersistent* Source) override;

private:
  std::string FName;
  std::unique_ptr<fw::TPicture> FPicture;
};

using TKitGraphicListItems = TKitOwnedItems<TKitGraphicListItem, TKitGraphicList>;

class TKitGraphicList : public TKitEntryImageList {
public:
  explicit TKitGraphicList(fw::TComponent* AOwner);
  ~TKitGraphicList() override;

  TKitGraphicListItems* Graphics() const { return FGraphics.get(); }
  void SetGraphics(TKitGraphicListItems* Value) { FGraphics->Assign(Value); }

  int GetCount() const override;
  // From another graphic list: its entries.
  void Assign(fw::TPersistent* Source) override;

  int32_t GetImageCount(int32_t ListIndex) override;
  bool IsValidImage(int32_t ListIndex, int32_t ImageIndex) override;
  void CopyImageToBitmap(int32_t ListIndex, int32_t ImageIndex, fw::TBitmap* Bitmap) override;
  bool GetListMasked(int32_t ListIndex) override;
  plat::HPALETTE GetImagePalette(int32_t ListIndex) override;
  fw::TColor GetImageTransparentColor(int32_t ListIndex, int32_t ImageIndex) override;
  void DrawImage(fw::TCanvas* Canvas, int32_t X, int32_t Y, int32_t ListIndex,
                 int32_t ImageIndex) override;

protected:
  std::string EntryName(int Index) const override;
  bool EntrySize(int32_t ListIndex, int32_t& Width, int32_t& Height) const override;

private:
  fw::TGraphic* GraphicOf(int32_t ListIndex) const;
  std::unique_ptr<TKitGraphicListItems> FGraphics;
};

}  // namespace vexa
