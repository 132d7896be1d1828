// labels: unit
// The four-list container and the shared-list references in stored data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/kitshared.h"

using namespace vexa;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Ref(const std::string& text) {
  Bytes b{6, uint8_t(text.size())};
  for (char c : text) b.push_back(uint8_t(c));
  return b;
}

TKitCustomImageList* ReadRef(const Bytes& bytes) {
  fw::TMemoryStream m;
  m.WriteBuffer(bytes.data(), int32_t(bytes.size()));
  m.SetPosition(0);
  TKitReader reader(&m);
  return ReadSharedListRef(&reader);
}

}  // namespace

TEST(KitSharedLists, ReferencesWrittenAndResolved) {
  TKitContainer* shared = SharedContainer();
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(SharedContainer(), shared);
  EXPECT_EQ(shared->Owner(), nullptr);

  fw::TMemoryStream m;
  TKitWriter writer(&m);
  WriteSharedListRef(&writer, shared->BitmapList());
  WriteSharedListRef(&writer, shared->ImageList());
  Bytes want = Ref("KITBML30"), image = Ref("KITIML30");
  want.insert(want.end(), image.begin(), image.end());
  EXPECT_EQ(m.Data(), want);

  // Lists that are not shared write nothing.
  TKitBitmapList own(nullptr);
  TKitContainer placed(nullptr);
  fw::TMemoryStream none;
  TKitWriter w2(&none);
  WriteSharedListRef(&w2, &own);
  WriteSharedListRef(&w2, placed.BitmapList());
  WriteSharedListRef(&w2, nullptr);
  EXPECT_EQ(none.Size(), 0);

  EXPECT_TRUE(IsSharedList(shared->BitmapList()));
  EXPECT_TRUE(IsSharedList(shared->ImageList()));
  EXPECT_FALSE(IsSharedList(nullptr));
  EXPECT_FALSE(IsSharedList(placed.ImageList()));

  EXPECT_EQ(ReadRef(Ref("KITBML30")), shared->BitmapList());
  EXPECT_EQ(ReadRef(Ref("KITIML30")), shared->ImageList());
  EXPECT_EQ(ReadRef(Ref("KITGLL50")), nullptr);
  EXPECT_EQ(ReadRef(Ref("kitbml30")), nullptr);
  EXPECT_THROW(ReadRef(Bytes{4, 1, 0, 0, 0}), fw::EReadError);

  TKitImageListConnector connector(nullptr);
  EXPECT_TRUE(IsImageListConnector(&connector));
  EXPECT_FALSE(IsImageListConnector(&own));
  EXPECT_FALSE(IsImageListConnector(nullptr));
}

TEST(KitContainer, FourListsAndDesignTimeCopies) {
  auto* c = new TKitContainer(nullptr);
  ASSERT_EQ(c->ComponentCount(), 4);
  EXPECT_EQ(c->Components(0), c->BitmapList());
  EXPECT_EQ(c->Components(1), c->ImageList());
  EXPECT_EQ(c->Components(2), c->StringList());
  EXPECT_EQ(c->Components(3), c->WaveList());
  EXPECT_EQ(c->BitmapList()->Kind(), klkBitmapList);
  EXPECT_EQ(c->ImageList()->Kind(), klkImageList);

  int changes = 0;
  c->OnChange = [&](fw::TObject* s) { changes += s == c; };
  TKitBitmapList* sharedBitmaps = SharedContainer()->BitmapList();
  sharedBitmaps->ClearItems();

  // Run time: the container hears the change, the shared list stays as it was.
  c->BitmapList()->AddItem();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(sharedBitmaps->GetCount(), 0);

  // Design time: the shared list of the same kind becomes a copy.
  c->SetDesigning(true);
  c->BitmapList()->Items(0)->SetDescription("logo");
  c->BitmapList()->Items(0)->Bitmap()->SetSize(3, 2);
  c->BitmapList()->AddItem();
  ASSERT_EQ(sharedBitmaps->GetCount(), 2);
  EXPECT_EQ(sharedBitmaps->Items(0)->Description(), "logo");
  EXPECT_EQ(sharedBitmaps->Items(0)->Bitmap()->Width(), 3);
  EXPECT_EQ(SharedContainer()->StringList()->GetCount(), 0);
  c->StringList()->AddItem();
  EXPECT_EQ(SharedContainer()->StringList()->GetCount(), 1);

  // The shared container never copies into itself.
  SharedContainer()->SetDesigning(true);
  SharedContainer()->BitmapList()->AddItem();
  EXPECT_EQ(sharedBitmaps->GetCount(), 3);
  SharedContainer()->SetDesigning(false);
  sharedBitmaps->ClearItems();
  SharedContainer()->StringList()->ClearItems();

  // Freed with the container; a link to one of its lists is let go.
  TKitChangeLink link;
  c->ImageList()->AddChangeLink(&link);
  fw::Free(c);
  EXPECT_EQ(link.Sender(), nullptr);
}
