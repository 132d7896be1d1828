#include "shared/VexaList.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/kernel/Kernel.h"

namespace vexa {

// ---------------------------------------------------------------------------
// TVexaRWLock

void TVexaRWLock::BeginRead() {
  std::unique_lock<std::mutex> lock(FMutex);
  const auto me = std::this_thread::get_id();
  auto it = FReaders.find(me);
  if (FWriter == me || it != FReaders.end()) {
    // Nested inside our own read or write lock: never wait, or we would wait on ourselves.
    ++FReaders[me];
    return;
  }
  // Waiting writers go first so that a stream of readers cannot starve them.
  FCond.wait(lock, [&] { return FWriter == std::thread::id() && FWaitingWriters == 0; });
  ++FReaders[me];
}

void TVexaRWLock::EndRead() {
  std::lock_guard<std::mutex> lock(FMutex);
  auto it = FReaders.find(std::this_thread::get_id());
  if (it == FReaders.end()) return;
  if (--it->second == 0) {
    FReaders.erase(it);
    FCond.notify_all();
  }
}

void TVexaRWLock::BeginWrite() {
  std::unique_lock<std::mutex> lock(FMutex);
  const auto me = std::this_thread::get_id();
  if (FWriter == me) {
    ++FWriteDepth;
    return;
  }
  ++FWaitingWriters;
  FCond.wait(lock, [&] {
    if (FWriter != std::thread::id()) return false;
    return FReaders.empty() || (FReaders.size() == 1 && FReaders.begin()->first == me);
  });
  --FWaitingWriters;
  FWriter = me;
  FWriteDepth = 1;
}

void TVexaRWLock::EndWrite() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FWriter != std::this_thread::get_id()) return;
  if (--FWriteDepth == 0) {
    FWriter = std::thread::id();
    FCond.notify_all();
  }
}

namespace {

// Holds the lock (for reading or for writing) while it lives.
template <void (TVexaRWLock::*Begin)(), void (TVexaRWLock::*End)()>
class LockGuard {
public:
  explicit LockGuard(TVexaRWLock& l) : FLock(l) { (FLock.*Begin)(); }
  ~LockGuard() { (FLock.*End)(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

private:
  TVexaRWLock& FLock;
};
using ReadGuard = LockGuard<&TVexaRWLock::BeginRead, &TVexaRWLock::EndRead>;
using WriteGuard = LockGuard<&TVexaRWLock::BeginWrite, &TVexaRWLock::EndWrite>;

}  // namespace

// ---------------------------------------------------------------------------
// TVexaIntList

TVexaIntList::TVexaIntList() = default;

TVexaIntList::~TVexaIntList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  FCount = 0;
  SetCapacity(0);
  // The held objects belong to the list's owner.
}

void TVexaIntList::Error(const char* Message, int32_t Data) {
  plat::OutputDebugString("IntListError: (" + std::to_string(Data) + ") " + Message);
}

int32_t TVexaIntList::CompareValues(int32_t A, int32_t B) {
  if (A > B) return 1;
  if (A < B) return -1;
  return 0;
}

void TVexaIntList::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}

void TVexaIntList::Changing() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(this);
}

void TVexaIntList::Grow() {
  int32_t delta;
  if (FCapacity > 64) {
    delta = FCapacity / 4;
  } else if (FCapacity > 8) {
    delta = 16;
  } else {
    delta = 4;
  }
  // Close to the ceiling the last step is cut down to the ceiling itself.
  int64_t wanted = int64_t(FCapacity) + delta;
  if (wanted > MaxListSize && FCapacity < MaxListSize) wanted = MaxListSize;
  SetCapacity(static_cast<int32_t>(wanted > INT32_MAX ? INT32_MAX : wanted));
}

void TVexaIntList::SetCapacity(int32_t NewCapacity) {
  WriteGuard guard(FLock);
  if (NewCapacity < FCount || NewCapacity > MaxListSize) {
    Error("List Capacity Error", NewCapacity);
    return;
  }
  if (NewCapacity == FCapacity) return;
  if (NewCapacity == 0) {
    std::free(FList);
    FList = nullptr;
    FCapacity = 0;
    return;
  }
  void* p = std::realloc(FList, size_t(NewCapacity) * sizeof(TVexaIntItem));
  if (!p) {
    // Out of memory: the list stays as it was.
    Error("List Capacity Error", NewCapacity);
    return;
  }
  FList = static_cast<TVexaIntItem*>(p);
  FCapacity = NewCapacity;
}

void TVexaIntList::InsertItem(int32_t Index, int32_t Value, TVexaIntObject Object) {
  if (Index < 0 || Index > FCount) {
    Error("List Index Error", Index);
    return;
  }
  if (FCount == FCapacity) {
    Grow();
    // Growth refused (ceiling reached or no memory): storing would overrun the block.
    if (FCount == FCapacity) return;
  }
  Changing();
  if (Index < FCount) {
    std::memmove(FList + Index + 1, FList + Index, size_t(FCount - Index) * sizeof(TVexaIntItem));
  }
  FList[Index].Value = Value;
  FList[Index].Object = Object;
  ++FCount;
  Changed();
}

int32_t TVexaIntList::AddObject(int32_t Value, TVexaIntObject Object) {
  WriteGuard guard(FLock);
  int32_t pos;
  if (!FSorted) {
    pos = FCount;
  } else if (Find(Value, pos)) {
    switch (FDuplicates) {
      case dupIgnore:
        return pos;
      case dupError:
        Error("Duplicate String", 0);
        break;
      case dupAccept:
        break;
    }
  }
  InsertItem(pos, Value, Object);
  if (pos < 0 || pos >= FCount || FList[pos].Value != Value || FList[pos].Object != Object) {
    plat::OutputDebugString("VexaIntList.AddObject Core Error");
    // The pair was not stored; an index would point at some other pair.
    return -1;
  }
  return pos;
}

int32_t TVexaIntList::Add(int32_t Value) { return AddObject(Value, nullptr); }

void TVexaIntList::Delete(int32_t Index) {
  WriteGuard guard(FLock);
  if (Index < 0 || Index >= FCount) {
    Error("List Index Error", Index);
    return;
  }
  Changing();
  --FCount;
  if (Index < FCount) {
    std::memmove(FList + Index, FList + Index + 1, size_t(FCount - Index) * sizeof(TVexaIntItem));
  }
  Changed();
}

void TVexaIntList::Clear() {
  WriteGuard guard(FLock);
  if (FCount > 0) {
    Changing();
    FCount = 0;
    SetCapacity(0);
    Changed();
  }
}

int32_t TVexaIntList::GetCount() {
  ReadGuard guard(FLock);
  return FCount;
}

int32_t TVexaIntList::Get(int32_t Index) {
  ReadGuard guard(FLock);
  if (Index < 0 || Index >= FCount) {
    Error("List Index Error", Index);
    return 0;
  }
  return FList[Index].Value;
}

TVexaIntItem TVexaIntList::GetItem(int32_t Index) {
  ReadGuard guard(FLock);
  if (Index < 0 || Index >= FCount) {
    Error("List Index Error", Index);
    return TVexaIntItem{};
  }
  return FList[Index];
}

TVexaIntObject TVexaIntList::GetObject(int32_t Index) {
  ReadGuard guard(FLock);
  if (Index < 0 || Index >= FCount) {
    Error("List Index Error", Index);
    const std::string i = std::to_string(Index);
    plat::OutputDebugString("IntList.GetObject: [" + i + "]= " + i);
    return nullptr;
  }
  return FList[Index].Object;
}

void TVexaIntList::Exchange(int32_t Index1, int32_t Index2) {
  if (Index1 < 0 || Index1 >= FCount) {
    Error("List Index Error", Index1);
    return;
  }
  if (Index2 < 0 || Index2 >= FCount) {
    Error("List Index Error", Index2);
    return;
  }
  TVexaIntItem t = FList[Index1];
  FList[Index1] = FList[Index2];
  FList[Index2] = t;
}

bool TVexaIntList::Find(int32_t Value, int32_t& Index) {
  ReadGuard guard(FLock);
  return fw::SortedFind(FCount, FDuplicates,
                        [&](int32_t m) { return CompareValues(FList[m].Value, Value); }, Index);
}

int32_t TVexaIntList::IndexOf(int32_t Value) {
  int32_t result = -1;
  {
    ReadGuard guard(FLock);
    if (!FSorted) {
      const int32_t n = FCount;
      for (int32_t i = 0; i < n; ++i) {
        if (Get(i) == Value) {
          result = i;
          break;
        }
      }
    } else if (FCount > 0) {
      // Narrow by value distance first: n distinct ascending integers span at
      // least n - 1, so the value can only lie in [Lower, Upper]. Distances are
      // taken in 64 bits because values may lie more than 2^31 apart.
      int64_t lo = -1;
      int64_t hi = FCount;
      while (hi - lo > 1 && result < 0) {
        const int64_t first = lo + 1;
        const int64_t last = hi - 1;
        const int64_t vf = FList[first].Value;
        const int64_t vl = FList[last].Value;
        if (Value < vf || Value > vl) break;
        int64_t upper = first + (Value - vf);
        if (upper > last) upper = last;
        int64_t lower = last - (vl - Value);
        if (lower < first) lower = first;
        if (lower < 0) lower = 0;
        const int64_t mid = lower + (upper - lower) / 2;
        const int32_t vm = FList[mid].Value;
        if (vm == Value) {
          result = static_cast<int32_t>(mid);
        } else if (vm < Value) {
          lo = mid;
          hi = upper + 1;
        } else {
          lo = lower - 1;
          hi = mid;
        }
      }
    }
  }
  int32_t idx = 0;
  const int32_t expected = Find(Value, idx) ? idx : -1;
  if (result != expected) plat::OutputDebugString("VexaIntList.IndexOf: inconsistent result");
  return result;
}

void TVexaIntList::SetSorted(bool Value) {
  if (FSorted == Value) return;
  if (Value) Sort();
  FSorted = Value;
}

void TVexaIntList::Sort() {
  CustomSort([](TVexaIntList* List, int32_t I, int32_t J) {
    return CompareValues(List->FList[I].Value, List->FList[J].Value);
  });
}

void TVexaIntList::CustomSort(const TVexaIntListSortCompare& Compare) {
  WriteGuard guard(FLock);
  if (!FSorted && FCount > 1) {
    Changing();
    QuickSort(0, FCount - 1, Compare);
    Changed();
  }
}

void TVexaIntList::QuickSort(int32_t L, int32_t R, const TVexaIntListSortCompare& Compare) {
  // The two parts of each partition are independent; recursing into the smaller
  // one and looping on the larger keeps the stack depth logarithmic.
  while (L < R) {
    int32_t i = L;
    int32_t j = R;
    int32_t p = static_cast<int32_t>((int64_t(L) + R) >> 1);
    do {
      // The bounds only matter for a compare routine that contradicts itself.
      while (i < R && Compare(this, i, p) < 0) ++i;
      while (j > L && Compare(this, j, p) > 0) --j;
      if (i <= j) {
        Exchange(i, j);
        if (p == i) {
          p = j;
        } else if (p == j) {
          p = i;
        }
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - L < R - i) {
      if (L < j) QuickSort(L, j, Compare);
      L = i;
    } else {
      if (i < R) QuickSort(i, R, Compare);
      R = j;
    }
  }
}

}  // namespace vexa
