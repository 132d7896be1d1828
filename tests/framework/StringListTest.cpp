// labels: unit
// String lists: sorting and duplicates, case-insensitive search, objects,
// change events, text forms and CR LF files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "framework/Classes.h"

using namespace fw;

namespace {
std::vector<std::string> Items(const TStrings& s) {
  std::vector<std::string> r;
  for (int i = 0; i < s.Count(); ++i) r.push_back(s[i]);
  return r;
}
}  // namespace

TEST(StringList, SortedInsertFollowsEachDuplicatesPolicy) {
  TStringList l;
  l.SetSorted(true);
  EXPECT_EQ(l.Add("pear"), 0);
  EXPECT_EQ(l.Add("Apple"), 0);
  EXPECT_EQ(l.Add("banana"), 1);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"Apple", "banana", "pear"}));

  // dupIgnore: the existing index comes back, nothing is added.
  EXPECT_EQ(l.Add("BANANA"), 1);
  EXPECT_EQ(l.Count(), 3);

  l.SetDuplicates(dupAccept);
  EXPECT_EQ(l.Add("BANANA"), 1);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"Apple", "BANANA", "banana", "pear"}));

  l.SetDuplicates(dupError);
  try {
    l.Add("apple");
    FAIL() << "duplicate accepted";
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), "String list does not allow duplicates");
  }
  EXPECT_EQ(l.Count(), 4);
  EXPECT_THROW(l.Insert(0, "x"), EStringListError);
}

TEST(StringList, FindAndIndexOfIgnoreCaseUnlessCaseSensitive) {
  TStringList l;
  l.SetSorted(true);
  for (const char* s : {"delta", "Alpha", "charlie", "Bravo"}) l.Add(s);
  int i = -1;
  EXPECT_TRUE(l.Find("CHARLIE", i));
  EXPECT_EQ(i, 2);
  EXPECT_FALSE(l.Find("Beta", i));
  EXPECT_EQ(i, 1) << "where Beta would be inserted";
  EXPECT_EQ(l.IndexOf("bravo"), 1);

  TStringList u;
  u.Add("One");
  u.Add("two");
  EXPECT_EQ(u.IndexOf("ONE"), 0);
  u.SetCaseSensitive(true);
  EXPECT_EQ(u.IndexOf("ONE"), -1);
  EXPECT_EQ(u.IndexOf("One"), 0);
  // Case folding covers a-z only: other bytes compare as they are.
  TStringList b;
  b.Add("\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(b.IndexOf("\xC3\x89T\xC3\x89"), -1);
  EXPECT_EQ(b.IndexOf("\xC3\xA9T\xC3\xA9"), 0);
}

TEST(StringList, ObjectsTravelWithTheirStrings) {
  TStringList l;
  TStringList o1, o2;
  l.AddObject("b", &o1);
  l.AddObject("a", &o2);
  l.SetSorted(true);
  EXPECT_EQ(l[0], "a");
  EXPECT_EQ(l.Objects(0), &o2);
  EXPECT_EQ(l.Objects(1), &o1);
  EXPECT_EQ(l.IndexOfObject(&o1), 1);
  l.Delete(0);
  EXPECT_EQ(l.Objects(0), &o1);
  EXPECT_THROW(l.Objects(1), EStringListError);
  try {
    l.Delete(5);
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
}

TEST(StringList, ChangeEventsFireOncePerUpdateBracket) {
  TStringList l;
  int changing = 0, changed = 0;
  l.OnChanging = [&](TObject* s) {
    EXPECT_EQ(s, &l);
    ++changing;
  };
  l.OnChange = [&](TObject*) { ++changed; };
  l.Add("x");
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);
  l.BeginUpdate();
  l.Add("y");
  l.Add("z");
  l.Delete(0);
  EXPECT_EQ(changed, 1);
  l.BeginUpdate();
  l.EndUpdate();
  EXPECT_EQ(changed, 1) << "only the outermost bracket ends the update";
  l.EndUpdate();
  EXPECT_EQ(changing, 2);
  EXPECT_EQ(changed, 2);
}

TEST(StringList, TextUsesCrLfAndAcceptsAnyLineEnd) {
  TStringList l;
  l.SetText("one\r\ntwo\nthree\rfour");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(l.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
  l.SetText("a\r\n\r\n");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"a", ""}));
  l.SetText("");
  EXPECT_EQ(l.Count(), 0);
}

TEST(StringList, SaveAndLoadFilesAsCrLfLines) {
  char path[] = "/tmp/vexa-sl-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  TStringList l;
  l.Add("first");
  l.Add("");
  l.Add("last");
  l.SaveToFile(path);
  TMemoryStream m;
  m.LoadFromFile(path);
  EXPECT_EQ(std::string(m.Data().begin(), m.Data().end()), "first\r\n\r\nlast\r\n");
  TStringList r;
  r.LoadFromFile(path);
  EXPECT_EQ(Items(r), Items(l));
  unlink(path);
  EXPECT_THROW(r.LoadFromFile(path), EFOpenError);
}

TEST(StringList, NamesValuesAndCommaText) {
  TStringList l;
  l.Add("Address=10.0.0.1");
  l.Add("Port=5500");
  EXPECT_EQ(l.Values("port"), "5500");
  EXPECT_EQ(l.Names(0), "Address");
  l.SetValue("Port", "6000");
  EXPECT_EQ(l[1], "Port=6000");
  l.SetValue("Port", "");
  EXPECT_EQ(l.Count(), 1);

  TStringList c;
  c.SetCommaText("a, \"b c\",\"say \"\"hi\"\"\",d");
  EXPECT_EQ(Items(c), (std::vector<std::string>{"a", "b c", "say \"hi\"", "d"}));
  EXPECT_EQ(c.CommaText(), "a,\"b c\",\"say \"\"hi\"\"\",d");
}

TEST(StringList, OwnedObjectsAreFreedWithTheirLines) {
  struct TCounted : TObject {
    int* Count;
    explicit TCounted(int* c) : Count(c) {}
    ~TCounted() override { ++*Count; }
  };
  int freed = 0;
  {
    TStringList l;
    l.SetOwnsObjects(true);
    l.AddObject("a", new TCounted(&freed));
    l.AddObject("b", new TCounted(&freed));
    l.AddObject("c", new TCounted(&freed));
    l.Delete(0);
    EXPECT_EQ(freed, 1);
  }
  EXPECT_EQ(freed, 3);
}
