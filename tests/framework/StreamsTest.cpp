// labels: unit
// Streams, pointer lists and collections.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>

#include "framework/Classes.h"

using namespace fw;

TEST(Streams, MemoryStreamReadsWhatWasWrittenAndFailsShortReads) {
  TMemoryStream m;
  m.WriteBuffer("abcdef", 6);
  EXPECT_EQ(m.Size(), 6);
  EXPECT_EQ(m.Position(), 6);
  m.SetPosition(2);
  char buf[8] = {};
  m.ReadBuffer(buf, 3);
  EXPECT_STREQ(buf, "cde");
  EXPECT_EQ(m.Read(buf, 8), 1);
  try {
    m.SetPosition(4);
    m.ReadBuffer(buf, 3);
    FAIL() << "short read accepted";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
    EXPECT_STREQ(e.ClassName(), "EReadError");
  }
  m.Seek(-1, soEnd);
  m.WriteBuffer("XYZ", 3);
  EXPECT_EQ(std::string(m.Data().begin(), m.Data().end()), "abcdeXYZ");
  m.SetSize(2);
  EXPECT_EQ(m.Position(), 2);
}

TEST(Streams, FileStreamShortWriteRaisesWriteError) {
  TFileStream full("/dev/full", fmOpenWrite);
  EXPECT_THROW(full.WriteBuffer("x", 1), EWriteError);
  EXPECT_THROW(TFileStream("/nonexistent-dir/x", fmCreate), EFCreateError);
  try {
    TFileStream f("/nonexistent-file", fmOpenRead);
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"/nonexistent-file\"");
  }
}

TEST(Streams, FileStreamRoundTripAndCopyFrom) {
  char path[] = "/tmp/vexa-fs-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    TMemoryStream src;
    src.WriteBuffer("0123456789", 10);
    TFileStream f(path, fmCreate);
    EXPECT_EQ(f.CopyFrom(&src, 0), 10);
  }
  TFileStream f(path, fmOpenRead);
  EXPECT_EQ(f.Size(), 10);
  f.SetPosition(8);
  char buf[4] = {};
  EXPECT_THROW(f.ReadBuffer(buf, 3), EReadError);
  unlink(path);
}

TEST(Lists, PointerListKeepsOrderAndChecksIndexes) {
  int a, b, c;
  TList l;
  l.Add(&a);
  l.Add(&c);
  l.Insert(1, &b);
  EXPECT_EQ(l[1], &b);
  EXPECT_EQ(l.IndexOf(&c), 2);
  EXPECT_EQ(l.Remove(&a), 0);
  EXPECT_EQ(l.First(), &b);
  l.Add(nullptr);
  l.Pack();
  EXPECT_EQ(l.Count(), 2);
  try {
    l.Items(2);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (2)");
  }
  l.Move(0, 1);
  EXPECT_EQ(l.Last(), &b);
}

namespace {
class TNamedItem : public TCollectionItem {
public:
  using TCollectionItem::TCollectionItem;
  std::string Value;
  void SetValue(const std::string& v) {
    Value = v;
    Changed(false);
  }
  void Assign(TPersistent* Source) override {
    if (auto* s = dynamic_cast<TNamedItem*>(Source)) {
      Value = s->Value;
      return;
    }
    TCollectionItem::Assign(Source);
  }
};

class TCountingCollection : public TTypedCollection<TNamedItem> {
public:
  int Updates = 0;
  TCollectionItem* LastItem = reinterpret_cast<TCollectionItem*>(1);

protected:
  void Update(TCollectionItem* Item) override {
    ++Updates;
    LastItem = Item;
  }
};
}  // namespace

TEST(Collections, UpdateBracketsGatherChangesIntoOneUpdate) {
  TCountingCollection c;
  c.Add()->SetValue("a");
  EXPECT_EQ(c.Updates, 2);  // the insertion, then the item's change
  EXPECT_EQ(c.LastItem, c.Items(0));
  c.BeginUpdate();
  c.Add()->SetValue("b");
  c.Add()->SetValue("c");
  c.Delete(0);
  EXPECT_EQ(c.Updates, 2);
  c.EndUpdate();
  EXPECT_EQ(c.Updates, 3);
  EXPECT_EQ(c.LastItem, nullptr);
  ASSERT_EQ(c.Count(), 2);
  EXPECT_EQ(c.Items(0)->Value, "b");
  EXPECT_EQ(c.Items(1)->Index(), 1);
  int id = c.Items(1)->ID();
  EXPECT_EQ(c.FindItemID(id), c.Items(1));

  TTypedCollection<TNamedItem> copy;
  copy.Assign(&c);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.Items(1)->Value, "c");
  delete c.Items(0);  // an item freed on its own leaves the collection
  EXPECT_EQ(c.Count(), 1);
}
