// labels: unit
// Image, bitmap, graphic lists and the connector: stored bytes, the image
// strip's limits, masks and the pixels drawn, the range answers of the
// image-list interface, and entries that lose their standard list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/KitAlphaObject.h"
#include "components/KitDrawing.h"
#include "components/kitimage.h"
#include "tests/support/Pixels.h"

using namespace vexa;
using Bytes = std::vector<uint8_t>;
using fw::TColor;

namespace {

constexpr TColor kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kGrey = 0x808080;

uint32_t Px(fw::TBitmap* b, int32_t x, int32_t y) {
  return plat::GetBitmapPixel(b->Handle(), x, y) & 0xFFFFFF;
}


// Loads Colors.size() images of W x H into Item through its stored form; image
// k is filled with Colors[k]. A masked item gets Mask (or an opaque one).
void Load(TKitImageListItem& Item, int32_t W, int32_t H, const std::vector<TColor>& Colors,
          bool Masked = false, fw::TBitmap* Mask = nullptr) {
  int32_t n = int32_t(Colors.size());
  auto strip = vexa::test::Surface(W * n, H, 0);
  for (int32_t k = 0; k < n; ++k) {
    strip->Canvas()->Brush()->SetColor(Colors[size_t(k)]);
    strip->Canvas()->FillRect(fw::TRect{k * W, 0, k * W + W, H});
  }
  fw::TMemoryStream m;
  WriteStreamByte(&m, 0);
  for (int32_t v : {H, W, 4}) WriteStreamInt(&m, v);
  WriteStreamByte(&m, Masked ? 1 : 0);
  WriteStreamInt(&m, n);
  if (n) {
    WriteBitmapSection(&m, strip.get(), false, -1);
    std::unique_ptr<fw::TBitmap> opaque;
    if (Masked && !Mask) {
      opaque = vexa::test::Surface(W * n, H, 0);
      opaque->SetMonochrome(true);
      Mask = opaque.get();
    }
    if (Masked) WriteBitmapSection(&m, Mask, false, 2);
  }
  m.SetPosition(0);
  Item.ReadData(&m);
}

Bytes Stored(TKitListItem& Item) {
  fw::TMemoryStream m;
  Item.WriteData(&m);
  return m.Data();
}

}  // namespace

TEST(KitImageListItem, StripLimitsAndFailedAdds) {
  TKitImageListItem item(nullptr), one(nullptr), small(nullptr);
  Load(item, 16, 1, std::vector<TColor>(2048, kGreen));
  Load(one, 16, 1, {kRed});
  small.SetWidth(8);
  Load(small, 8, 1, {kRed});
  ASSERT_EQ(item.ImageCount(), 2048);
  EXPECT_EQ(item.Entry(2047), 2047u * 16);

  int changes = 0;
  item.OnChange = [&](fw::TObject*) { ++changes; };
  // The size check comes before the count check.
  try {
    item.AddImages(&small);
    FAIL();
  } catch (const fw::EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "Invalid image size");
  }
  try {
    item.AddImages(&one);
    FAIL();
  } catch (const fw::EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "Too many images");
  }
  EXPECT_EQ(item.ImageCount(), 2048);
  EXPECT_EQ(item.UsedWidth(), 32768);
  EXPECT_EQ(item.Strip()->Width(), 32768);
  EXPECT_EQ(changes, 0);
  item.SetAllocBy(8);  // notifications still work
  EXPECT_EQ(changes, 1);

  // 2047 + 1 fits exactly; the new image lands at the end with its pixels.
  TKitImageListItem most(nullptr);
  Load(most, 16, 1, std::vector<TColor>(2047, kGreen));
  most.AddImages(&one);
  ASSERT_EQ(most.ImageCount(), 2048);
  EXPECT_EQ(Px(most.Strip(), 32767, 0), uint32_t(kRed));
  EXPECT_EQ(Px(most.Strip(), 32751, 0), uint32_t(kGreen));

  // Width and height: 0 and the current value change nothing.
  TKitImageListItem sized(nullptr);
  Load(sized, 16, 16, {kRed, kBlue});
  int heard = 0;
  sized.OnChange = [&](fw::TObject*) { ++heard; };
  sized.SetWidth(0);
  sized.SetWidth(16);
  sized.SetHeight(-3);
  EXPECT_EQ(heard, 0);
  EXPECT_EQ(sized.ImageCount(), 2);
  sized.SetHeight(8);
  EXPECT_EQ(heard, 1);
  EXPECT_EQ(sized.ImageCount(), 0);
  EXPECT_EQ(sized.Height(), 8);
  EXPECT_TRUE(sized.Strip()->Empty());
}

TEST(KitImageListItem, MaskedOnKeepsImagesAndDrawsThroughTheMask) {
  TKitImageListItem item(nullptr);
  Load(item, 4, 4, {kRed, kBlue, kGreen});
  int heard = 0;
  item.OnChange = [&](fw::TObject*) { ++heard; };
  item.SetMasked(true);
  EXPECT_EQ(heard, 1);
  ASSERT_EQ(item.ImageCount(), 3);
  for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(item.Entry(k), 0x10000u | uint32_t(k * 4));
  EXPECT_TRUE(item.Mask()->Monochrome());
  EXPECT_EQ(item.Mask()->Width(), 12);
  EXPECT_EQ(Px(item.Strip(), 5, 3), uint32_t(kBlue));
  // A fresh mask is opaque everywhere.
  auto canvas = vexa::test::Surface(6, 6, kGrey);
  item.DrawImage(canvas->Canvas(), 1, 1, 1);
  EXPECT_EQ(Px(canvas.get(), 1, 1), uint32_t(kBlue));
  EXPECT_EQ(Px(canvas.get(), 0, 0), uint32_t(kGrey));

  // A stored mask: white (transparent) in the first column of image 1. The
  // strip holds black there, as a masked strip does.
  auto mask = vexa::test::Surface(8, 4, 0);
  mask->Canvas()->Brush()->SetColor(fw::clWhite);
  mask->Canvas()->FillRect(fw::TRect{4, 0, 5, 4});
  mask->SetMonochrome(true);
  TKitImageListItem masked(nullptr);
  Load(masked, 4, 4, {kRed, kBlue}, true, mask.get());
  masked.Strip()->Canvas()->Brush()->SetColor(0);
  masked.Strip()->Canvas()->FillRect(fw::TRect{4, 0, 5, 4});
  auto target = vexa::test::Surface(6, 6, kGrey);
  uint32_t mode = target->Canvas()->CopyMode();
  masked.DrawImage(target->Canvas(), 1, 1, 1);
  EXPECT_EQ(target->Canvas()->CopyMode(), mode);
  EXPECT_EQ(Px(target.get(), 1, 2), uint32_t(kGrey));  // transparent column
  EXPECT_EQ(Px(target.get(), 2, 2), uint32_t(kBlue));
  EXPECT_EQ(Px(target.get(), 4, 4), uint32_t(kBlue));
  EXPECT_EQ(Px(target.get(), 5, 5), uint32_t(kGrey));  // outside the image

  // Masked off: the mask goes, the entries lose their bit, the strip stays.
  masked.SetMasked(false);
  EXPECT_EQ(masked.Mask()->Width(), 0);
  EXPECT_EQ(masked.Entry(1), 4u);
  EXPECT_EQ(Px(masked.Strip(), 5, 0), uint32_t(kBlue));
}

TEST(KitImageListItem, StoredBytesAndDamagedData) {
  TKitImageListItem empty(nullptr);
  EXPECT_EQ(Stored(empty),
            (Bytes{0, 16, 0, 0, 0, 16, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0}));
  empty.SetDescription("i");
  empty.SetPixelFormat(spf4bit);
  empty.SetMasked(true);
  EXPECT_EQ(Stored(empty),
            (Bytes{0x22, 1, 'i', 16, 0, 0, 0, 16, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 0}));

  // Two masked images, compressed: the strip and the mask travel and come back.
  auto mask = vexa::test::Surface(8, 2, 0);
  mask->Canvas()->SetPixels(0, 0, fw::clWhite);
  mask->SetMonochrome(true);
  TKitImageListItem item(nullptr);
  Load(item, 4, 2, {kRed, kBlue}, true, mask.get());
  item.SetCompressed(true);
  item.SetIdent(9);
  Bytes once = Stored(item);
  EXPECT_EQ(once[0], kifCompressed | kifIdent);  // never the data bit
  EXPECT_EQ(Bytes(once.begin() + 5, once.begin() + 22),
            (Bytes{2, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 1, 2, 0, 0, 0}));
  fw::TMemoryStream m;
  m.WriteBuffer(once.data(), int32_t(once.size()));
  m.SetPosition(0);
  TKitImageListItem back(nullptr);
  back.ReadData(&m);
  EXPECT_EQ(m.Position(), m.Size());
  ASSERT_EQ(back.ImageCount(), 2);
  EXPECT_TRUE(back.Masked());
  EXPECT_EQ(back.Entry(1), 0x10004u);
  EXPECT_EQ(Px(back.Strip(), 5, 1), uint32_t(kBlue));
  EXPECT_EQ(Px(back.Mask(), 0, 0), 0xFFFFFFu);
  EXPECT_EQ(Px(back.Mask(), 1, 0), 0u);
  EXPECT_EQ(Stored(back), once);

  // Form data: the item travels in "Internal"; an older "Bitmap" property
  // (count and bitmaps) is read but never written.
  fw::TMemoryStream form;
  TKitWriter writer(&form);
  writer.WriteProperties(&item);
  Bytes f = form.Data();
  ASSERT_GT(f.size(), 14u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 10),
            (Bytes{8, 'I', 'n', 't', 'e', 'r', 'n', 'a', 'l', 10}));
  EXPECT_EQ(f[10] | (f[11] << 8), int(once.size()));
  EXPECT_EQ(Bytes(f.begin() + 14, f.end() - 1), once);
  EXPECT_EQ(f.back(), 0);
  fw::TMemoryStream old;
  Bytes name{6, 'B', 'i', 't', 'm', 'a', 'p', 10};
  old.WriteBuffer(name.data(), int32_t(name.size()));
  Bytes body(once.begin() + 18, once.end());  // from the image count on
  WriteStreamInt(&old, int32_t(body.size()));
  old.WriteBuffer(body.data(), int32_t(body.size()));
  WriteStreamByte(&old, 0);
  old.SetPosition(0);
  TKitImageListItem legacy(nullptr);
  legacy.SetWidth(4);
  legacy.SetHeight(2);
  legacy.SetMasked(true);
  legacy.SetCompressed(true);
  TKitReader reader(&old);
  reader.ReadProperties(&legacy);
  ASSERT_EQ(legacy.ImageCount(), 2);
  EXPECT_EQ(Px(legacy.Strip(), 1, 1), uint32_t(kRed));
  EXPECT_EQ(Px(legacy.Mask(), 0, 0), 0xFFFFFFu);

  // Damaged: more images than a strip holds; a strip of the wrong width.
  auto damaged = [](std::vector<int32_t> ints, int32_t count, fw::TBitmap* strip) {
    fw::TMemoryStream d;
    WriteStreamByte(&d, 0);
    for (int32_t v : ints) WriteStreamInt(&d, v);
    WriteStreamByte(&d, 0);
    WriteStreamInt(&d, count);
    if (strip) WriteBitmapSection(&d, strip, false, -1);
    d.SetPosition(0);
    TKitImageListItem i(nullptr);
    EXPECT_THROW(i.ReadData(&d), fw::EReadError);
    EXPECT_EQ(i.ImageCount(), 0);
  };
  auto wrong = vexa::test::Surface(12, 2, kRed);
  damaged({2, 16, 4}, 2049, nullptr);
  damaged({2, 4, 4}, 2, wrong.get());
  damaged({2, 0, 4}, 0, nullptr);
  damaged({2, 4, 4}, -1, nullptr);
}

TEST(KitBitmapList, StoredItemsAndRangeAnswers) {
  TKitBitmapList list(nullptr);
  auto* empty = list.Items(list.AddItem());
  empty->SetIdent(5);
  empty->SetPixelFormat(spfMono);
  EXPECT_EQ(Stored(*empty), (Bytes{0x14, 5, 0, 0, 0}));

  auto* full = list.Items(list.AddItem());
  auto picture = vexa::test::Surface(3, 2, kRed);
  picture->Canvas()->SetPixels(0, 1, kBlue);
  full->SetBitmap(picture.get());
  full->SetPixelFormat(spf8bit);
  Bytes stored = Stored(*full);
  ASSERT_GT(stored.size(), 5u);
  EXPECT_EQ(stored[0], kifData | kif8bit);
  EXPECT_EQ(stored[5], 'B');
  EXPECT_EQ(stored[1] | (stored[2] << 8), int(stored.size()) - 5);
  fw::TMemoryStream m;
  m.WriteBuffer(stored.data(), int32_t(stored.size()));
  m.SetPosition(0);
  TKitBitmapListItem back(nullptr);
  back.ReadData(&m);
  EXPECT_EQ(back.PixelFormat(), spf8bit);
  EXPECT_EQ(Px(back.Bitmap(), 0, 1), uint32_t(kBlue));
  EXPECT_EQ(Px(back.Bitmap(), 2, 0), uint32_t(kRed));

  EXPECT_EQ(list.GetImageCount(0), 0);
  EXPECT_FALSE(list.IsValidImage(0, 0));
  EXPECT_EQ(list.GetImageCount(1), 1);
  EXPECT_EQ(list.GetListDimension(1, 0), 3);
  EXPECT_EQ(list.GetListDimension(1, 1), 2);
  EXPECT_EQ(list.GetListDimension(1, 2), 0);
  EXPECT_EQ(list.GetImageTransparentColor(1, 0), 0x02000000 | kBlue);
  EXPECT_EQ(list.GetImageCount(2), 0);
  EXPECT_EQ(list.GetImageTransparentColor(2, 0), 0xFFFFFF);
  EXPECT_EQ(list.GetImagePixel(fw::TPoint{0, 0}, 2, 0), 0xFFFFFF);
  EXPECT_THROW(list.GetImageCanvas(2), fw::EListError);

  auto target = vexa::test::Surface(5, 4, kGrey);
  list.DrawImage(target->Canvas(), 1, 1, 1, 0);
  EXPECT_EQ(Px(target.get(), 1, 2), uint32_t(kBlue));
  EXPECT_EQ(Px(target.get(), 3, 1), uint32_t(kRed));
  EXPECT_EQ(Px(target.get(), 4, 1), uint32_t(kGrey));

  // Assign: items and both defaults, one change.
  list.SetDefaultCompressed(true);
  list.SetDefaultPixelFormat(spf4bit);
  TKitBitmapList copy(nullptr);
  int changes = 0;
  copy.OnChange = [&](fw::TObject*) { ++changes; };
  copy.Assign(&list);
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(copy.GetCount(), 2);
  EXPECT_TRUE(copy.DefaultCompressed());
  EXPECT_EQ(copy.DefaultPixelFormat(), spf4bit);
  EXPECT_EQ(copy.Items(0)->Ident(), 5);
  EXPECT_EQ(Px(copy.Items(1)->Bitmap(), 0, 1), uint32_t(kBlue));
  TKitImageList other(nullptr);
  EXPECT_THROW(other.Assign(&list), fw::EConvertError);
}

TEST(KitImageList, InterfaceOverTheStrip) {
  TKitImageList list(nullptr);
  auto* item = list.Items(list.AddItem());
  Load(*item, 4, 3, {kRed, kBlue});
  item->Strip()->Canvas()->SetPixels(4, 2, kGreen);  // image 1's bottom-left pixel
  item->Strip()->Canvas()->SetPixels(5, 1, kGrey);

  EXPECT_EQ(list.GetImageCount(0), 2);
  EXPECT_EQ(list.GetImageCount(1), -1);
  EXPECT_FALSE(list.IsValidImage(1, 0));
  EXPECT_FALSE(list.IsValidImage(0, 2));
  EXPECT_EQ(list.GetImagePixel(fw::TPoint{0, 0}, 0, 1), kGreen);
  EXPECT_EQ(list.GetImagePixel(fw::TPoint{1, -1}, 0, 1), kGrey);
  EXPECT_EQ(list.GetImageTransparentColor(0, 1), kGreen);
  EXPECT_EQ(list.GetImageTransparentColor(1, 1), 0xFFFFFF);
  fw::TRect r;
  list.GetImageRect(0, 1, r);
  EXPECT_EQ(r, (fw::TRect{4, 0, 8, 3}));
  EXPECT_THROW(list.GetImageRect(0, 2, r), fw::EListError);

  fw::TBitmap copy;
  list.CopyImageToBitmap(0, 1, &copy);
  ASSERT_EQ(copy.Width(), 4);
  ASSERT_EQ(copy.Height(), 3);
  EXPECT_EQ(Px(&copy, 0, 2), uint32_t(kGreen));
  EXPECT_EQ(Px(&copy, 3, 0), uint32_t(kBlue));
  list.CopyImageToBitmap(0, 1, nullptr);

  // The alpha object's hook reaches pictures only through valid indexes.
  ASSERT_TRUE(KitImageListPicture);
  fw::TBitmap hooked;
  EXPECT_TRUE(KitImageListPicture(&list, 0, 0, &hooked));
  EXPECT_EQ(Px(&hooked, 1, 1), uint32_t(kRed));
  EXPECT_FALSE(KitImageListPicture(&list, 0, 2, &hooked));
  EXPECT_FALSE(KitImageListPicture(&list, -1, 0, &hooked));

  // An unmasked image drawn transparently leaves its bottom-left colour out.
  auto target = vexa::test::Surface(6, 5, 0);
  fw::TRect covered{1, 1, 1, 1};
  list.DrawImageInRect(target->Canvas(), fw::TRect{1, 1, 5, 4}, covered, 0, 1, kdTransparent);
  EXPECT_EQ(covered, (fw::TRect{1, 1, 5, 4}));
  EXPECT_EQ(Px(target.get(), 1, 3), 0u);
  EXPECT_EQ(Px(target.get(), 2, 1), uint32_t(kBlue));
}

TEST(KitImageListConnector, EntriesFollowTheirStandardLists) {
  auto* standard = new TCustomImageList(nullptr);
  standard->SetName("Icons");
  standard->SetWidth(4);
  standard->SetHeight(4);
  standard->SetMasked(false);
  auto red = vexa::test::Surface(4, 4, kRed);
  standard->Add(red.get(), nullptr);

  TKitImageListConnector connector(nullptr);
  int changes = 0;
  connector.OnChange = [&](fw::TObject* s) { changes += s == &connector; };
  TKitBorImageListItem* entry = connector.ImageLists()->Add();
  EXPECT_EQ(changes, 1);
  entry->SetImageList(standard);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(entry->DisplayName(), "Icons");
  entry->SetName("tray");
  EXPECT_EQ(entry->DisplayName(), "tray");
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(connector.GetCount(), 1);
  EXPECT_EQ(connector.GetListItem(0)->Description(), "tray");
  EXPECT_THROW(connector.GetListItem(1), fw::EListError);

  auto blue = vexa::test::Surface(4, 4, kBlue);
  standard->Add(blue.get(), nullptr);  // the standard list's change reaches the connector
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(connector.GetImageCount(0), 2);
  EXPECT_EQ(connector.GetImageCount(1), -1);
  EXPECT_TRUE(connector.IsValidImage(0, 1));
  EXPECT_FALSE(connector.IsValidImage(0, 2));
  fw::TBitmap copy;
  connector.CopyImageToBitmap(0, 1, &copy);
  EXPECT_EQ(Px(&copy, 2, 2), uint32_t(kBlue));
  EXPECT_EQ(connector.GetImageTransparentColor(0, 0), 0x02000000 | kRed);
  auto target = vexa::test::Surface(6, 6, kGrey);
  connector.DrawImage(target->Canvas(), 2, 2, 0, 0);
  EXPECT_EQ(Px(target.get(), 2, 2), uint32_t(kRed));
  EXPECT_EQ(Px(target.get(), 1, 1), uint32_t(kGrey));

  // Its container stream is empty.
  fw::TMemoryStream m;
  connector.SaveToStream(&m, true);
  EXPECT_EQ(m.Data(), (Bytes{0, 0, 0, 0}));
  fw::TMemoryStream one;
  WriteStreamInt(&one, 1);
  WriteStreamByte(&one, 0);
  one.SetPosition(0);
  EXPECT_THROW(connector.LoadFromStream(&one, false), fw::EReadError);

  // Entries cannot be copied one from another.
  TKitImageListConnector other(nullptr);
  EXPECT_THROW(other.ImageLists()->Add()->Assign(entry), fw::EConvertError);

  // The standard list goes: the entry is left without one.
  fw::Free(standard);
  EXPECT_EQ(entry->ImageList(), nullptr);
  EXPECT_FALSE(connector.IsValidImage(0, 0));
  EXPECT_EQ(connector.GetImageCount(0), 0);
  connector.CopyImageToBitmap(0, 0, &copy);
  connector.DrawImage(target->Canvas(), 0, 0, 0, 0);
}

TEST(KitGraphicList, PicturesIconsAndMissingGraphics) {
  // An icon whose first column is transparent, red elsewhere.
  auto colour = vexa::test::Surface(16, 16, kRed);
  colour->Canvas()->Brush()->SetColor(0);
  colour->Canvas()->FillRect(fw::TRect{0, 0, 1, 16});
  auto mask = vexa::test::Surface(16, 16, 0);
  mask->Canvas()->Brush()->SetColor(fw::clWhite);
  mask->Canvas()->FillRect(fw::TRect{0, 0, 1, 16});
  mask->SetMonochrome(true);
  plat::ICONINFO info;
  info.hbmMask = mask->Handle();
  info.hbmColor = colour->Handle();
  fw::TIcon icon;
  icon.SetHandle(plat::CreateIconIndirect(&info));
  ASSERT_FALSE(icon.Empty());

  TKitGraphicList list(nullptr);
  int changes = 0;
  list.OnChange = [&](fw::TObject*) { ++changes; };
  TKitGraphicListItem* first = list.Graphics()->Add();
  TKitGraphicListItem* second = list.Graphics()->Add();
  EXPECT_EQ(changes, 2);
  first->Picture()->Assign(&icon);
  EXPECT_EQ(changes, 3);
  first->SetName("busy");
  EXPECT_EQ(list.Graphics()->GetItem(0)->DisplayName(), "busy");
  EXPECT_EQ(list.GetListItem(0)->Description(), "busy");

  EXPECT_EQ(list.GetImageCount(0), 1);
  EXPECT_EQ(list.GetImageCount(1), 0);
  EXPECT_EQ(list.GetListDimension(0, 1), 16);
  EXPECT_TRUE(list.IsValidImage(0, 0));
  EXPECT_FALSE(list.IsValidImage(1, 0));
  EXPECT_FALSE(list.IsValidImage(2, 0));
  EXPECT_EQ(list.GetImageTransparentColor(1, 0), 0x1FFFFFFF);
  EXPECT_EQ(list.GetImageTransparentColor(0, 0), 0x02FFFFFF);  // the icon drawn on white

  fw::TBitmap copy;
  list.CopyImageToBitmap(0, 0, &copy);
  ASSERT_EQ(copy.Width(), 16);
  EXPECT_EQ(Px(&copy, 0, 5), 0xFFFFFFu);
  EXPECT_EQ(Px(&copy, 5, 5), uint32_t(kRed));

  // A bitmap graphic is handed over as it is.
  auto green = vexa::test::Surface(2, 2, kGreen);
  second->Picture()->Assign(green.get());
  EXPECT_EQ(list.GetImageTransparentColor(1, 0), 0x02000000 | kGreen);
  list.CopyImageToBitmap(1, 0, &copy);
  EXPECT_EQ(copy.Width(), 2);
  EXPECT_EQ(Px(&copy, 1, 1), uint32_t(kGreen));

  TKitGraphicList other(nullptr);
  other.Assign(&list);
  ASSERT_EQ(other.GetCount(), 2);
  EXPECT_EQ(other.Graphics()->GetItem(0)->Name(), "busy");
  EXPECT_TRUE(other.IsValidImage(0, 0));
  TKitImageListConnector connector(nullptr);
  EXPECT_THROW(other.Graphics()->GetItem(0)->Assign(connector.ImageLists()->Add()),
               fw::EConvertError);
}
