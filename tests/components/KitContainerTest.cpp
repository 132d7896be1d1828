// labels: unit
// Change links, stored items, container streams with offsets and list-file
// signatures, byte by byte, and damaged container data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/kitcont.h"

using namespace vexa;
using Bytes = std::vector<uint8_t>;

namespace {

void Append(Bytes& b, std::initializer_list<uint8_t> more) { b.insert(b.end(), more); }
void Append(Bytes& b, const std::string& more) { b.insert(b.end(), more.begin(), more.end()); }

uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// Three items: empty; with description, ident and a plain string; compressed.
void Fill(TKitStringList& list) {
  list.AddItem();
  auto* one = static_cast<TKitStringListItem*>(list.GetListItem(list.AddItem()));
  one->SetDescription("d");
  one->SetIdent(7);
  one->Items()->Add("a");
  auto* two = static_cast<TKitStringListItem*>(list.GetListItem(list.AddItem()));
  two->SetCompressed(true);
  two->Items()->Add("b");
}

}  // namespace

TEST(KitChangeLinks, RegistrationOrderAndLifetimes) {
  std::vector<std::string> heard;
  auto* list = new TKitStringList(nullptr);
  list->OnChange = [&](fw::TObject*) { heard.push_back("list"); };
  TKitChangeLink a, b;
  a.OnChange = [&](fw::TObject* s) { heard.push_back(s == list ? "a" : "a?"); };
  b.OnChange = [&](fw::TObject* s) { heard.push_back(s == list ? "b" : "b?"); };
  list->AddChangeLink(&a);
  list->AddChangeLink(&b);
  list->AddChangeLink(&a);  // stays registered once
  EXPECT_EQ(a.Sender(), list);
  EXPECT_EQ(list->ChangeLinkCount(), 2);
  list->AddItem();
  EXPECT_EQ(heard, (std::vector<std::string>{"a", "b", "list"}));

  // Inside an update bracket the links hear every step; the change event waits.
  heard.clear();
  list->BeginUpdate();
  list->AddItem();
  list->AddItem();
  list->EndUpdate(true);
  EXPECT_EQ(heard, (std::vector<std::string>{"a", "b", "a", "b", "a", "b", "list"}));

  {
    TKitChangeLink c;
    list->AddChangeLink(&c);
    EXPECT_EQ(list->ChangeLinkCount(), 3);
  }
  EXPECT_EQ(list->ChangeLinkCount(), 2);
  list->RemoveChangeLink(&b);
  EXPECT_EQ(b.Sender(), nullptr);
  list->RemoveChangeLink(&b);  // not registered: nothing
  EXPECT_EQ(list->ChangeLinkCount(), 1);

  // A link moved to another container leaves the first.
  TKitStringList other(nullptr);
  other.AddChangeLink(&a);
  EXPECT_EQ(list->ChangeLinkCount(), 0);
  other.AddChangeLink(&b);
  delete list;
  EXPECT_EQ(a.Sender(), &other);
  {
    auto* gone = new TKitStringList(nullptr);
    gone->AddChangeLink(&a);
    delete gone;
  }
  EXPECT_EQ(a.Sender(), nullptr);
  heard.clear();
  a.Change();  // no sender, still safe
  EXPECT_EQ(heard, (std::vector<std::string>{"a?"}));
}

TEST(KitContainerStream, ExactListFileWithOffsets) {
  TKitStringList list(nullptr);
  fw::TMemoryStream empty;
  list.SaveToStream(&empty, true);
  EXPECT_EQ(empty.Data(), (Bytes{0, 0, 0, 0}));

  Fill(list);
  fw::TMemoryStream m;
  WriteListFileSignature(&m, list.Kind());
  list.SaveToStream(&m, true);
  Bytes want;
  Append(want, {8});
  Append(want, "KITSLL30");
  Append(want, {3, 0, 0, 0, 25, 0, 0, 0, 26, 0, 0, 0, 40, 0, 0, 0});
  Append(want, {0});                                      // empty item
  Append(want, {0x0E, 1, 'd', 7, 0, 0, 0, 3, 0, 0, 0});  // description, ident, plain section
  Append(want, "a\r\n");
  Append(want, {0x09, 8, 0, 0, 0, 4, 0, 0, 0, 128});     // compressed section, stored block
  Append(want, "b\r\n");
  EXPECT_EQ(m.Data(), want);
  EXPECT_EQ(m.Position(), m.Size());

  // A reader takes the kind from the signature and item 2 from its offset.
  m.SetPosition(0);
  ASSERT_EQ(ReadListFileSignature(&m), klkStringList);
  ASSERT_EQ(ReadStreamInt(&m), 3);
  m.SetPosition(9 + 4 + 8);
  m.SetPosition(ReadStreamInt(&m));
  TKitStringListItem single(nullptr);
  single.ReadData(&m);
  EXPECT_TRUE(single.Compressed());
  EXPECT_EQ(single.Items()->Text(), "b\r\n");

  // The whole container back.
  m.SetPosition(9);
  TKitStringList back(nullptr);
  back.AddItem();
  back.LoadFromStream(&m, true);
  ASSERT_EQ(back.GetCount(), 3);
  EXPECT_TRUE(back.Items(0)->IsEmpty());
  EXPECT_EQ(back.Items(1)->Description(), "d");
  EXPECT_EQ(back.Items(1)->Ident(), 7);
  EXPECT_FALSE(back.Items(1)->Compressed());
  EXPECT_EQ(back.Items(1)->Items()->Text(), "a\r\n");
  EXPECT_TRUE(back.Items(2)->Compressed());

  // Without offsets: the same items straight after the count.
  fw::TMemoryStream plain;
  list.SaveToStream(&plain, false);
  Bytes p = plain.Data();
  EXPECT_EQ(Bytes(p.begin() + 4, p.end()), Bytes(want.begin() + 25, want.end()));
  plain.SetPosition(0);
  back.LoadFromStream(&plain, false);
  EXPECT_EQ(back.GetCount(), 3);
  EXPECT_EQ(back.Items(2)->Items()->Text(), "b\r\n");
}

TEST(KitContainerStream, SignaturesAndItemHeaders) {
  for (int32_t k = 0; k < 6; ++k) {
    fw::TMemoryStream m;
    WriteListFileSignature(&m, k);
    ASSERT_EQ(m.Size(), 9);
    m.SetPosition(0);
    EXPECT_EQ(ReadListFileSignature(&m), k);
  }
  for (const Bytes& b : {Bytes{7, 'K', 'I', 'T', 'S', 'L', 'L', '3', '0'},
                         Bytes{8, 'K', 'I', 'T', 'S', 'L', 'L', '3', '1'},
                         Bytes{8, 'k', 'i', 't', 's', 'l', 'l', '3', '0'}}) {
    fw::TMemoryStream m;
    m.WriteBuffer(b.data(), 9);
    m.SetPosition(0);
    EXPECT_EQ(ReadListFileSignature(&m), klkNotAList);
  }
  fw::TMemoryStream shortSig;
  shortSig.WriteBuffer("\x08KIT", 4);
  shortSig.SetPosition(0);
  EXPECT_THROW(ReadListFileSignature(&shortSig), fw::EReadError);

  TKitStringListItem item(nullptr);
  fw::TMemoryStream m;
  item.WriteData(&m);
  EXPECT_EQ(m.Data(), (Bytes{0}));
  item.SetCompressed(true);
  m.Clear();
  item.WriteData(&m);
  EXPECT_EQ(m.Data(), (Bytes{1}));
  item.SetCompressed(false);
  item.SetIdent(0x1234);
  item.SetDescription(std::string(300, 'z'));
  m.Clear();
  item.WriteData(&m);
  Bytes b = m.Data();
  ASSERT_EQ(b.size(), 1u + 256 + 4);
  EXPECT_EQ(b[0], 0x06);
  EXPECT_EQ(b[1], 255);
  EXPECT_EQ(U32(b, 257), 0x1234u);

  // Reading a header replaces every common value, also with absent ones.
  TKitStringListItem r(nullptr);
  r.SetDescription("old");
  r.SetIdent(9);
  r.Items()->Add("old");
  m.SetPosition(0);
  r.ReadData(&m);
  EXPECT_EQ(r.Description(), std::string(255, 'z'));
  EXPECT_EQ(r.Ident(), 0x1234);
  EXPECT_EQ(r.Items()->Count(), 0);
  Bytes zero{0};
  fw::TMemoryStream z;
  z.WriteBuffer(zero.data(), 1);
  z.SetPosition(0);
  r.ReadData(&z);
  EXPECT_EQ(r.Description(), "");
  EXPECT_EQ(r.Ident(), 0);
}

TEST(KitContainerStream, DamagedDataIsRefused) {
  TKitStringList list(nullptr);
  for (const Bytes& b : {Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0, 0},        // count beyond the data
                         Bytes{0xFF, 0xFF, 0xFF, 0xFF},              // negative count
                         Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}) {  // offsets but no items
    fw::TMemoryStream m;
    m.WriteBuffer(b.data(), int32_t(b.size()));
    m.SetPosition(0);
    EXPECT_THROW(list.LoadFromStream(&m, true), fw::EReadError);
    EXPECT_FALSE(list.Updating());
  }
  // A plain strings section whose length runs past the end: the first item stays.
  Bytes b{2, 0, 0, 0, 0, 0x08, 0xFF, 0, 0, 0, 'x'};
  fw::TMemoryStream m;
  m.WriteBuffer(b.data(), int32_t(b.size()));
  m.SetPosition(0);
  int changes = 0;
  list.OnChange = [&](fw::TObject*) { ++changes; };
  EXPECT_THROW(list.LoadFromStream(&m, false), fw::EReadError);
  EXPECT_EQ(list.GetCount(), 2);
  EXPECT_EQ(changes, 1);
  EXPECT_THROW(list.GetListItem(2), fw::EListError);
  EXPECT_THROW(list.GetListItem(-1), fw::EListError);
}

TEST(KitContainers, AssignItemsEventsAndOwnership) {
  TKitStringList src(nullptr), dst(nullptr);
  Fill(src);
  src.SetDefaultCompressed(true);
  int changes = 0, linkCalls = 0;
  dst.OnChange = [&](fw::TObject*) { ++changes; };
  TKitChangeLink link;
  link.OnChange = [&](fw::TObject*) { ++linkCalls; };
  dst.AddChangeLink(&link);
  dst.AddItem();
  changes = linkCalls = 0;
  dst.Assign(&src);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(linkCalls, 3);  // the clearing, the new items and the end of the bracket
  EXPECT_TRUE(dst.DefaultCompressed());
  ASSERT_EQ(dst.GetCount(), 3);
  EXPECT_NE(dst.GetListItem(1), src.GetListItem(1));
  EXPECT_EQ(dst.Items(1)->Description(), "d");
  EXPECT_EQ(dst.Items(1)->Items()->Text(), "a\r\n");
  EXPECT_TRUE(dst.Items(2)->Compressed());
  EXPECT_EQ(dst.GetListItem(0)->Owner(), &dst);

  // An item's change reaches the container's event with the item as sender.
  fw::TObject* sender = nullptr;
  dst.OnChange = [&](fw::TObject* s) { sender = s; };
  dst.Items(1)->SetIdent(99);
  EXPECT_EQ(sender, dst.GetListItem(1));

  // An item freed elsewhere leaves the list; items given to AddItem are owned.
  fw::Free(dst.GetListItem(0));
  EXPECT_EQ(dst.GetCount(), 2);
  auto* loose = new TKitStringListItem(nullptr);
  EXPECT_EQ(dst.AddItem(loose), 2);
  dst.ClearItems();
  EXPECT_EQ(dst.GetCount(), 0);

  // Item assignment: from strings only the strings, from an item everything.
  TKitStringListItem a(nullptr), b(nullptr);
  fw::TStringList lines;
  lines.Add("x");
  b.SetDescription("keep");
  b.Assign(&lines);
  EXPECT_EQ(b.Items()->Text(), "x\r\n");
  EXPECT_EQ(b.Description(), "keep");
  a.Assign(&b);
  EXPECT_EQ(a.Description(), "keep");
  EXPECT_EQ(a.Items()->Text(), "x\r\n");

  TKitStringList c(nullptr);
  EXPECT_THROW(c.Assign(&a), fw::EConvertError);
}

TEST(KitContainers, InternalPropertyAndReadingChildren) {
  TKitStringListItem item(nullptr);
  item.Items()->Add("q");
  fw::TMemoryStream m;
  TKitWriter(&m).WriteProperties(&item);
  Bytes want{8};
  Append(want, "Internal");
  Append(want, {10, 8, 0, 0, 0, 0x08, 3, 0, 0, 0});
  Append(want, "q\r\n");
  Append(want, {0});
  EXPECT_EQ(m.Data(), want);

  // Read back as a child: the container being read adds it.
  TKitStringList list(nullptr);
  auto* child = new TKitStringListItem(&list);
  m.SetPosition(0);
  TKitReader reader(&m, &list);
  child->ReadState(&reader);
  ASSERT_EQ(list.GetCount(), 1);
  EXPECT_EQ(list.Items(0), child);
  EXPECT_EQ(child->Items()->Text(), "q\r\n");
  std::vector<fw::TComponent*> children;
  list.GetChildren([&](fw::TComponent* c) { children.push_back(c); }, nullptr);
  EXPECT_EQ(children, (std::vector<fw::TComponent*>{child}));

  // A binary value longer than the data is refused.
  want[10] = 200;
  fw::TMemoryStream bad;
  bad.WriteBuffer(want.data(), int32_t(want.size()));
  bad.SetPosition(0);
  TKitStringListItem other(nullptr);
  TKitReader r2(&bad);
  EXPECT_THROW(other.ReadState(&r2), fw::EReadError);
}
