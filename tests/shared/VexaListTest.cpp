// labels: unit
#include "shared/VexaList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Kernel.h"

using vexa::TVexaIntList;
using vexa::TVexaIntObject;

namespace {

// Collects the debug output lines written while it lives.
class DebugLines {
public:
  DebugLines() {
    FPrevious = plat::SetDebugSink([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(FMutex);
      FLines.push_back(line);
    });
  }
  ~DebugLines() { plat::SetDebugSink(FPrevious); }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(FMutex);
    std::vector<std::string> r;
    r.swap(FLines);
    return r;
  }

private:
  plat::DebugSink FPrevious;
  std::mutex FMutex;
  std::vector<std::string> FLines;
};

TVexaIntObject Obj(intptr_t n) { return reinterpret_cast<TVexaIntObject>(n); }

std::vector<int32_t> Values(TVexaIntList& l) {
  std::vector<int32_t> v;
  for (int32_t i = 0; i < l.GetCount(); ++i) v.push_back(l.Get(i));
  return v;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(VexaIntList, UnsortedAppendsAndKeepsPairs) {
  DebugLines debug;
  TVexaIntList l;
  EXPECT_EQ(l.AddObject(30, Obj(3)), 0);
  EXPECT_EQ(l.AddObject(10, Obj(1)), 1);
  EXPECT_EQ(l.Add(20), 2);
  EXPECT_EQ(Values(l), (std::vector<int32_t>{30, 10, 20}));
  EXPECT_EQ(l.GetObject(0), Obj(3));
  EXPECT_EQ(l.GetObject(2), nullptr);
  vexa::TVexaIntItem item = l.GetItem(1);
  EXPECT_EQ(item.Value, 10);
  EXPECT_EQ(item.Object, Obj(1));
  EXPECT_EQ(l.UpdateCount(), 0);
  EXPECT_EQ(debug.Take(), Lines{});
}

TEST(VexaIntList, SortedAddPlacesValuesInOrder) {
  DebugLines debug;
  TVexaIntList l;
  l.SetSorted(true);
  for (int32_t v : {50, -7, 12, INT32_MAX, INT32_MIN, 0}) l.AddObject(v, Obj(v & 0xFFFF));
  EXPECT_EQ(Values(l), (std::vector<int32_t>{INT32_MIN, -7, 0, 12, 50, INT32_MAX}));
  EXPECT_EQ(l.GetObject(3), Obj(12));
  EXPECT_EQ(l.AddObject(13, nullptr), 4);
  EXPECT_EQ(debug.Take(), Lines{});
}

TEST(VexaIntList, DuplicatesPolicies) {
  DebugLines debug;
  {
    TVexaIntList l;
    l.SetSorted(true);
    l.Add(1);
    l.AddObject(5, Obj(1));
    l.Add(9);
    int events = 0;
    l.OnChanging = [&](fw::TObject*) { ++events; };
    l.OnChange = [&](fw::TObject*) { ++events; };
    // dupIgnore: the existing pair's index, nothing stored, nothing fired.
    EXPECT_EQ(l.AddObject(5, Obj(2)), 1);
    EXPECT_EQ(l.GetCount(), 3);
    EXPECT_EQ(l.GetObject(1), Obj(1));
    EXPECT_EQ(events, 0);
  }
  EXPECT_EQ(debug.Take(), Lines{});
  {
    TVexaIntList l;
    l.SetSorted(true);
    l.SetDuplicates(vexa::dupError);
    l.AddObject(5, Obj(1));
    l.AddObject(5, Obj(2));
    EXPECT_EQ(l.GetCount(), 2);
    EXPECT_EQ(debug.Take(), Lines{"IntListError: (0) Duplicate String"});
  }
  {
    TVexaIntList l;
    l.SetSorted(true);
    l.SetDuplicates(vexa::dupAccept);
    for (int32_t v : {3, 7, 7, 7, 9}) l.Add(v);
    int32_t idx = -1;
    // With dupAccept the search yields the first of equal values.
    EXPECT_TRUE(l.Find(7, idx));
    EXPECT_EQ(idx, 1);
    EXPECT_EQ(l.AddObject(7, Obj(77)), 1);
    EXPECT_EQ(l.GetObject(1), Obj(77));
    EXPECT_FALSE(l.Find(8, idx));
    EXPECT_EQ(idx, 5);
    EXPECT_EQ(debug.Take(), Lines{});
  }
}

TEST(VexaIntList, IndexErrorsAreReportedAndChangeNothing) {
  DebugLines debug;
  TVexaIntList l;
  l.AddObject(1, Obj(11));
  l.AddObject(2, Obj(22));
  l.AddObject(3, Obj(33));

  EXPECT_EQ(l.GetObject(5), nullptr);
  EXPECT_EQ(debug.Take(),
            (Lines{"IntListError: (5) List Index Error", "IntList.GetObject: [5]= 5"}));

  EXPECT_EQ(l.Get(-2), 0);
  EXPECT_EQ(debug.Take(), Lines{"IntListError: (-2) List Index Error"});

  vexa::TVexaIntItem item = l.GetItem(3);
  EXPECT_EQ(item.Value, 0);
  EXPECT_EQ(item.Object, nullptr);
  EXPECT_EQ(debug.Take(), Lines{"IntListError: (3) List Index Error"});

  int events = 0;
  l.OnChanging = [&](fw::TObject*) { ++events; };
  l.Delete(-1);
  l.Delete(3);
  EXPECT_EQ(debug.Take(),
            (Lines{"IntListError: (-1) List Index Error", "IntListError: (3) List Index Error"}));
  EXPECT_EQ(events, 0);
  EXPECT_EQ(Values(l), (std::vector<int32_t>{1, 2, 3}));

  l.Delete(0);
  EXPECT_EQ(Values(l), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(l.GetObject(0), Obj(22));
  EXPECT_EQ(events, 1);
}

TEST(VexaIntList, CapacityGrowsInStepsAndRefusesBadSizes) {
  DebugLines debug;
  TVexaIntList l;
  EXPECT_EQ(l.Capacity(), 0);
  std::vector<int32_t> caps;
  for (int32_t i = 0; i < 80; ++i) {
    l.Add(i);
    if (caps.empty() || caps.back() != l.Capacity()) caps.push_back(l.Capacity());
  }
  EXPECT_EQ(caps, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95}));

  l.SetCapacity(79);
  EXPECT_EQ(debug.Take(), Lines{"IntListError: (79) List Capacity Error"});
  EXPECT_EQ(l.Capacity(), 95);
  l.SetCapacity(134217728);
  EXPECT_EQ(debug.Take(), Lines{"IntListError: (134217728) List Capacity Error"});
  EXPECT_EQ(l.Capacity(), 95);
  l.SetCapacity(80);
  EXPECT_EQ(l.Capacity(), 80);
  EXPECT_EQ(l.Get(79), 79);
  EXPECT_EQ(debug.Take(), Lines{});
}

TEST(VexaIntList, ClearFiresOnlyWhenSomethingIsCleared) {
  TVexaIntList l;
  std::vector<std::string> events;
  l.OnChanging = [&](fw::TObject* s) {
    EXPECT_EQ(s, &l);
    events.push_back("changing " + std::to_string(l.GetCount()));
  };
  l.OnChange = [&](fw::TObject* s) {
    EXPECT_EQ(s, &l);
    events.push_back("changed " + std::to_string(l.GetCount()));
  };
  l.Clear();
  EXPECT_TRUE(events.empty());
  l.Add(4);
  l.Add(5);
  events.clear();
  l.Clear();
  EXPECT_EQ(events, (std::vector<std::string>{"changing 2", "changed 0"}));
  EXPECT_EQ(l.Capacity(), 0);
}

TEST(VexaIntList, HandlersMayReadAndWriteTheListInsideItsLock) {
  TVexaIntList l;
  std::vector<int32_t> seen;
  bool added = false;
  l.OnChange = [&](fw::TObject*) {
    // Re-entrant: reading takes the read lock inside the write lock.
    seen.push_back(l.GetCount());
    if (l.IndexOf(100) < 0 && !added) {
      added = true;
      l.Add(100);  // a write lock inside the write lock
    }
  };
  l.Add(1);
  EXPECT_EQ(Values(l), (std::vector<int32_t>{1, 100}));
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 2}));
}

TEST(VexaIntList, IndexOfOnSortedLists) {
  DebugLines debug;
  TVexaIntList empty;
  empty.SetSorted(true);
  EXPECT_EQ(empty.IndexOf(5), -1);
  TVexaIntList unsortedEmpty;
  EXPECT_EQ(unsortedEmpty.IndexOf(5), -1);
  EXPECT_EQ(debug.Take(), Lines{});

  TVexaIntList dense;
  dense.SetSorted(true);
  dense.Add(1000);
  dense.Add(1001);
  dense.Add(1002);
  EXPECT_EQ(dense.IndexOf(1001), 1);
  EXPECT_EQ(dense.IndexOf(1002), 2);
  EXPECT_EQ(dense.IndexOf(999), -1);
  EXPECT_EQ(dense.IndexOf(1003), -1);

  // Values more than 2^31 apart: the narrowing must not overflow.
  TVexaIntList wide;
  wide.SetSorted(true);
  const std::vector<int32_t> far{INT32_MIN, INT32_MIN + 1, -5, 0, 2, INT32_MAX - 1, INT32_MAX};
  for (int32_t v : far) wide.Add(v);
  for (size_t i = 0; i < far.size(); ++i) EXPECT_EQ(wide.IndexOf(far[i]), int32_t(i)) << far[i];
  for (int32_t v : {INT32_MIN + 2, -4, 1, 3, INT32_MAX - 2}) EXPECT_EQ(wide.IndexOf(v), -1) << v;
  EXPECT_EQ(debug.Take(), Lines{});

  // Random sparse and dense sorted lists of distinct values agree with a plain search.
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    TVexaIntList l;
    l.SetSorted(true);
    std::vector<int32_t> vals;
    const int n = 1 + int(rng() % 300);
    const bool denseRun = round % 2 == 0;
    int32_t start = int32_t(rng());
    for (int i = 0; i < n; ++i) {
      const int32_t v = denseRun ? int32_t(int64_t(start % 100000) + i * int64_t(1 + rng() % 3))
                                 : int32_t(rng());
      if (std::find(vals.begin(), vals.end(), v) == vals.end()) {
        vals.push_back(v);
        l.Add(v);
      }
    }
    std::sort(vals.begin(), vals.end());
    for (size_t i = 0; i < vals.size(); ++i) ASSERT_EQ(l.IndexOf(vals[i]), int32_t(i));
    for (int k = 0; k < 50; ++k) {
      const int32_t probe = int32_t(rng());
      const auto it = std::lower_bound(vals.begin(), vals.end(), probe);
      const int32_t want = (it != vals.end() && *it == probe) ? int32_t(it - vals.begin()) : -1;
      ASSERT_EQ(l.IndexOf(probe), want);
    }
  }
  EXPECT_EQ(debug.Take(), Lines{});
}

TEST(VexaIntList, IndexOfOnUnsortedListsScansAndCrossChecks) {
  DebugLines debug;
  TVexaIntList l;
  l.Add(5);
  l.Add(1);
  l.Add(3);
  // The scan finds 1 where the binary search also lands: no complaint.
  EXPECT_EQ(l.IndexOf(1), 1);
  EXPECT_EQ(debug.Take(), Lines{});
  // The binary search misses 5 in unsorted data: complaint, scanned index kept.
  EXPECT_EQ(l.IndexOf(5), 0);
  EXPECT_EQ(debug.Take(), Lines{"VexaIntList.IndexOf: inconsistent result"});
  EXPECT_EQ(l.IndexOf(4), -1);
  EXPECT_EQ(debug.Take(), Lines{});
}

TEST(VexaIntList, SortingAndCustomSort) {
  TVexaIntList l;
  std::mt19937 rng(3);
  std::vector<int32_t> vals;
  for (int i = 0; i < 2000; ++i) {
    const int32_t v = int32_t(rng() % 500) - 250;  // with many duplicates
    vals.push_back(v);
    l.AddObject(v, Obj(intptr_t(v) * 2));
  }
  int events = 0;
  l.OnChange = [&](fw::TObject*) { ++events; };
  l.SetSorted(true);
  EXPECT_TRUE(l.Sorted());
  EXPECT_EQ(events, 1);
  std::sort(vals.begin(), vals.end());
  EXPECT_EQ(Values(l), vals);
  for (int32_t i = 0; i < l.GetCount(); ++i) ASSERT_EQ(l.GetObject(i), Obj(intptr_t(l.Get(i)) * 2));

  // On a sorted list a custom sort does nothing.
  auto descending = [](TVexaIntList* list, int32_t a, int32_t b) {
    return TVexaIntList::CompareValues(list->Get(b), list->Get(a));
  };
  l.CustomSort(descending);
  EXPECT_EQ(Values(l), vals);
  EXPECT_EQ(events, 1);

  l.SetSorted(false);
  l.CustomSort(descending);
  std::reverse(vals.begin(), vals.end());
  EXPECT_EQ(Values(l), vals);
  EXPECT_EQ(events, 2);

  // Already sorted input and all-equal input.
  TVexaIntList same;
  for (int i = 0; i < 1000; ++i) same.AddObject(9, Obj(i));
  same.SetSorted(true);
  EXPECT_EQ(same.GetCount(), 1000);
  EXPECT_EQ(same.Get(999), 9);

  EXPECT_EQ(TVexaIntList::CompareValues(INT32_MIN, INT32_MAX), -1);
  EXPECT_EQ(TVexaIntList::CompareValues(INT32_MAX, INT32_MIN), 1);
  EXPECT_EQ(TVexaIntList::CompareValues(-3, -3), 0);
}

TEST(VexaIntList, SharedBetweenThreads) {
  DebugLines debug;
  TVexaIntList l;
  l.SetSorted(true);
  l.SetDuplicates(vexa::dupAccept);
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  std::atomic<int> badReads{0};
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!stop) {
        const int32_t n = l.GetCount();
        if (n < 0) ++badReads;
        l.IndexOf(-1 - (n % 5));
      }
    });
  }
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < 2000; ++i) l.Add(w * 10000 + i);
    });
  }
  for (auto& t : writers) t.join();
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(badReads, 0);
  ASSERT_EQ(l.GetCount(), 8000);
  for (int32_t i = 1; i < 8000; ++i) ASSERT_LT(l.Get(i - 1), l.Get(i));
  EXPECT_EQ(debug.Take(), Lines{});
}
