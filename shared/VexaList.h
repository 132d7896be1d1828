// TVexaIntList: pairs of an int32 value and an object reference, optionally kept
// sorted by value. Errors never reach the caller: they are written to the debug
// output and the call returns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "framework/Classes.h"

namespace vexa {

// Multi-reader / single-writer lock, re-entrant for the thread holding it: a
// write lock may be taken again inside a write lock, a read lock inside a read
// or a write lock. A thread that is the only reader may also take the write lock.
class TVexaRWLock {
public:
  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();

private:
  std::mutex FMutex;
  std::condition_variable FCond;
  std::thread::id FWriter;
  int32_t FWriteDepth = 0;
  int32_t FWaitingWriters = 0;
  std::unordered_map<std::thread::id, int32_t> FReaders;
};

// The framework's duplicates policy: dupIgnore = 0, dupAccept = 1, dupError = 2.
using fw::TDuplicates;
using fw::dupAccept;
using fw::dupError;
using fw::dupIgnore;

// The list never frees the objects it holds. Programs also keep plain numbers
// (buffer positions, event handles) in Object.
using TVexaIntObject = void*;

struct TVexaIntItem {
  int32_t Value = 0;
  TVexaIntObject Object = nullptr;
};

class TVexaIntList;
// Negative, zero or positive as the Value at Index1 is smaller than, equal to
// or larger than the Value at Index2.
using TVexaIntListSortCompare =
    std::function<int32_t(TVexaIntList* List, int32_t Index1, int32_t Index2)>;

class TVexaIntList : public fw::TObject {
public:
  static constexpr int32_t MaxListSize = 134217727;  // 2^27 - 1 pairs

  TVexaIntList();
  ~TVexaIntList() override;
  TVexaIntList(const TVexaIntList&) = delete;
  TVexaIntList& operator=(const TVexaIntList&) = delete;

  // Returns the index at which the pair stands, or -1 when it could not be stored.
  int32_t AddObject(int32_t Value, TVexaIntObject Object);
  int32_t Add(int32_t Value);
  void Delete(int32_t Index);
  void Clear();

  int32_t GetCount();
  int32_t Count() { return GetCount(); }
  int32_t Capacity() const { return FCapacity; }
  void SetCapacity(int32_t NewCapacity);

  int32_t Get(int32_t Index);
  TVexaIntItem GetItem(int32_t Index);
  TVexaIntObject GetObject(int32_t Index);

  virtual bool Find(int32_t Value, int32_t& Index);
  int32_t IndexOf(int32_t Value);

  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  int32_t UpdateCount() const { return FUpdateCount; }

  virtual void CustomSort(const TVexaIntListSortCompare& Compare);
  virtual void Sort();

  static int32_t CompareValues(int32_t A, int32_t B);

  fw::TNotifyEvent OnChange;
  fw::TNotifyEvent OnChanging;

protected:
  virtual void Changed();
  virtual void Changing();
  // Both run inside the lock of the calling operation.
  void InsertItem(int32_t Index, int32_t Value, TVexaIntObject Object);
  void Exchange(int32_t Index1, int32_t Index2);
  void Grow();

private:
  void Error(const char* Message, int32_t Data);
  void QuickSort(int32_t L, int32_t R, const TVexaIntListSortCompare& Compare);

  TVexaIntItem* FList = nullptr;
  int32_t FCount = 0;
  int32_t FCapacity = 0;
  TDuplicates FDuplicates = dupIgnore;
  bool FSorted = false;
  int32_t FUpdateCount = 0;
  TVexaRWLock FLock;
};

}  // namespace vexa
