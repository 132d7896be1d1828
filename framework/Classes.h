// Base classes of the framework: objects, persistent objects, components with
// owners, lists, string lists, collections, streams and hidden utility windows.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "framework/SysUtils.h"
#include "platform/msg/Msg.h"

namespace fw {

using plat::HWND;
using plat::UINT;

// A window message as window procedures of the framework see it.
struct TMessage {
  uint32_t Msg = 0;
  int32_t WParam = 0;
  int32_t LParam = 0;
  int32_t Result = 0;
};

// A handler of one window message (a "message method").
using TWndMethod = std::function<void(TMessage&)>;

// A small set of enumeration values (enumerators below 64).
template <class E>
class TSet {
public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E e : items) FBits |= Bit(e);
  }
  constexpr bool Contains(E e) const { return (FBits & Bit(e)) != 0; }
  constexpr void Include(E e) { FBits |= Bit(e); }
  constexpr void Exclude(E e) { FBits &= ~Bit(e); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint64_t Bits() const { return FBits; }
  constexpr bool operator==(const TSet&) const = default;
  constexpr TSet operator+(const TSet& o) const { TSet r; r.FBits = FBits | o.FBits; return r; }
  constexpr TSet operator-(const TSet& o) const { TSet r; r.FBits = FBits & ~o.FBits; return r; }
  constexpr TSet operator*(const TSet& o) const { TSet r; r.FBits = FBits & o.FBits; return r; }

private:
  static constexpr uint64_t Bit(E e) { return uint64_t{1} << static_cast<unsigned>(e); }
  uint64_t FBits = 0;
};

// ---------------------------------------------------------------------------
// TObject, TPersistent

class TObject {
public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;

  // The name of the object's most derived class, without namespace ("TStringList").
  virtual std::string ClassName() const;
  // Runs while the whole object is still intact, just before it is deleted by
  // Free, FreeAndNil, an owner or a parent (forms fire OnDestroy here). Code
  // that deletes a framework object itself calls Free(obj) rather than delete.
  virtual void BeforeDestruction() {}
  // True when the object is of class T or derived from it.
  template <class T>
  bool InheritsFrom() const { return dynamic_cast<const T*>(this) != nullptr; }
};

// Frees an object (nothing for null): BeforeDestruction, then delete.
inline void Free(TObject* obj) {
  if (!obj) return;
  obj->BeforeDestruction();
  delete obj;
}
inline void FreeAndNil(auto*& obj) {
  auto* o = obj;
  obj = nullptr;
  if (!o) return;
  if constexpr (requires { o->BeforeDestruction(); }) o->BeforeDestruction();
  delete o;
}

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TPersistent : public TObject {
public:
  // Copies Source into this object. The default asks Source to AssignTo this
  // object and, when neither knows the other, raises EConvertError
  // "Cannot assign a <Source class> to a <this class>" ("nil" for no source).
  virtual void Assign(TPersistent* Source);

protected:
  virtual void AssignTo(TPersistent* Dest);
  [[noreturn]] void AssignError(TPersistent* Source);
};

// ---------------------------------------------------------------------------
// TComponent

enum TComponentStateFlag {
  csLoading, csReading, csWriting, csDestroying, csDesigning, csAncestor, csUpdating,
  csFixups, csFreeNotification, csInline, csDesignInstance
};
using TComponentState = TSet<TComponentStateFlag>;

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
public:
  // The owner (may be null) takes the new component into its list and frees
  // it with itself. Components created while the owner is loading start loading too.
  explicit TComponent(TComponent* AOwner);
  // Marks this component and what it owns as destroying, tells every free
  // notification holder (opRemove), frees the owned components last first and
  // leaves the owner's list (the owner and its components are notified).
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const;  // EListError when out of range
  int ComponentIndex() const;               // position in the owner's list, -1 without owner
  TComponent* FindComponent(const std::string& name) const;  // case-insensitive; null when none

  const std::string& Name() const { return FName; }
  // Raises EComponentError "A component named <n> already exists" for a
  // sibling of the same name (case-insensitive).
  virtual void SetName(const std::string& NewName);
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t Value) { FTag = Value; }
  const TComponentState& ComponentState() const { return FComponentState; }

  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  // Frees every owned component, last first (each leaves the list before it is freed).
  void DestroyComponents();
  // Includes csDestroying here and in every owned component, recursively.
  void Destroying();
  // Marks the component as destroying before it is freed.
  void BeforeDestruction() override { Destroying(); }

  // Asks AComponent to call this component's Notification(AComponent, opRemove)
  // when it is freed (and the other way round).
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Loading brackets for components built in code: BeginLoading includes
  // csLoading; EndLoading calls Loaded on every owned component that is still
  // loading (recursively) and then on this one.
  void BeginLoading();
  void EndLoading();
  // Design state (never set in running programs; components consult it).
  void SetDesigning(bool Value, bool SetChildren = true);

  // The free-notification holders (for tests and diagnostics).
  int FreeNotifyCount() const { return static_cast<int>(FFreeNotifies.size()); }

protected:
  // Called on insertion into and removal from the owner (the owner passes it to
  // every component it owns) and on free notification. Overrides clear their
  // references to AComponent on opRemove and call the inherited one.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  // Called by EndLoading; the default excludes csLoading.
  virtual void Loaded();
  void SetComponentStateFlag(TComponentStateFlag flag, bool on);

private:
  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void Index(TComponent* AComponent);    // into FNameIndex, when named
  void Unindex(TComponent* AComponent);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  // The owned components that have a name, by the name in upper case: names are
  // unique in an owner regardless of case, and checking one must not visit all.
  std::unordered_map<std::string, TComponent*> FNameIndex;
  std::vector<TComponent*> FFreeNotifies;
  std::string FName;
  int32_t FTag = 0;
  TComponentState FComponentState;
};

// Where Item stands in Items, -1 when it is not there.
template <class T>
int IndexInList(const std::vector<T*>& Items, const T* Item) {
  for (size_t i = 0; i < Items.size(); ++i)
    if (Items[i] == Item) return static_cast<int>(i);
  return -1;
}

// Moves the entry at From (a valid index) to To; a To outside the list raises
// EListError "List index out of bounds (<To>)".
template <class T>
void MoveInList(std::vector<T*>& Items, int From, int To) {
  if (To < 0 || To >= static_cast<int>(Items.size()))
    throw EListError(Format("List index out of bounds (%d)", To));
  T* item = Items[static_cast<size_t>(From)];
  Items.erase(Items.begin() + From);
  Items.insert(Items.begin() + To, item);
}

// ---------------------------------------------------------------------------
// TList: an ordered list of pointers.

class TList : public TObject {
public:
  TList() = default;
  ~TList() override;

  int Count() const { return static_cast<int>(FItems.size()); }
  void SetCount(int NewCount);  // grows with nullptr
  int Capacity() const { return static_cast<int>(FItems.capacity()); }
  void SetCapacity(int NewCapacity);
  // Index errors raise EListError "List index out of bounds (<index>)".
  void* Items(int Index) const;
  void* operator[](int Index) const { return Items(Index); }
  void Put(int Index, void* Item);
  int Add(void* Item);
  void Insert(int Index, void* Item);
  void Delete(int Index);
  int Remove(void* Item);  // index it had, -1 when not found
  void* Extract(void* Item);
  int IndexOf(void* Item) const;
  void Clear();
  void Exchange(int Index1, int Index2);
  void Move(int CurIndex, int NewIndex);
  void* First() const;
  void* Last() const;
  void Pack();  // removes nullptr entries
  // Sorts with a compare function (negative, 0, positive).
  void Sort(const std::function<int(void*, void*)>& Compare);
  const std::vector<void*>& List() const { return FItems; }

private:
  void Check(int Index) const;
  std::vector<void*> FItems;
};

// ---------------------------------------------------------------------------
// Streams

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };
constexpr int soFromBeginning = 0;
constexpr int soFromCurrent = 1;
constexpr int soFromEnd = 2;

class TStream : public TObject {
public:
  // Reads up to Count bytes; returns how many were read.
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

  int64_t Position();
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t NewSize);

  // Raise EReadError "Stream read error" / EWriteError "Stream write error"
  // unless exactly Count bytes move.
  void ReadBuffer(void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);
  // Copies Count bytes from Source (0: all of it from its start); returns the count.
  int64_t CopyFrom(TStream* Source, int64_t Count);
};

class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t NewSize) override;

  void Clear();
  uint8_t* Memory() { return FData.data(); }
  const std::vector<uint8_t>& Data() const { return FData; }
  void LoadFromStream(TStream* Stream);
  void SaveToStream(TStream* Stream);
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// File open modes (share flags are accepted and ignored).
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFFFF;

class TFileStream : public TStream {
public:
  // Raises EFCreateError "Cannot create file \"<name>\"" or
  // EFOpenError "Cannot open file \"<name>\"".
  TFileStream(const std::string& FileName, uint16_t Mode);
  ~TFileStream() override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

private:
  std::string FFileName;
  int FHandle = -1;
};

// A whole file read into, or written from, an object through its stream routines.
template <class T>
void LoadFileThroughStream(T& Object, const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  Object.LoadFromStream(&f);
}
template <class T>
void SaveFileThroughStream(T& Object, const std::string& FileName) {
  TFileStream f(FileName, fmCreate);
  Object.SaveToStream(&f);
}

// ---------------------------------------------------------------------------
// TStrings, TStringList

enum TDuplicates { dupIgnore, dupAccept, dupError };

// Binary search of Count sorted entries, Compare(i) ordering entry i against
// the key (<0, 0, >0): true when the key is there. Index is where it stands
// (the first of equals, or past them when duplicates are accepted) or, when
// it is not there, where it would go.
template <typename Compare>
bool SortedFind(int Count, TDuplicates Duplicates, Compare&& CompareAt, int& Index) {
  bool found = false;
  int l = 0, h = Count - 1;
  while (l <= h) {
    // Both ends lie in 0..Count-1, so the sum cannot leave the int range.
    int i = (l + h) / 2;
    int c = CompareAt(i);
    if (c < 0) {
      l = i + 1;
    } else {
      h = i - 1;
      if (c == 0) {
        found = true;
        if (Duplicates != dupAccept) l = i;
      }
    }
  }
  Index = l;
  return found;
}

class TStrings : public TPersistent {
public:
  virtual int Count() const = 0;
  virtual std::string Get(int Index) const = 0;
  virtual TObject* GetObject(int Index) const = 0;
  virtual void Put(int Index, const std::string& S);
  virtual void PutObject(int Index, TObject* AObject) = 0;
  virtual void Insert(int Index, const std::string& S) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;

  std::string Strings(int Index) const { return Get(Index); }
  std::string operator[](int Index) const { return Get(Index); }
  TObject* Objects(int Index) const { return GetObject(Index); }

  virtual int Add(const std::string& S);
  virtual int AddObject(const std::string& S, TObject* AObject);
  void InsertObject(int Index, const std::string& S, TObject* AObject);
  void Append(const std::string& S) { Add(S); }
  void AddStrings(TStrings* Strings);
  virtual int IndexOf(const std::string& S) const;
  int IndexOfObject(TObject* AObject) const;
  int IndexOfName(const std::string& Name) const;
  virtual void Exchange(int Index1, int Index2);
  virtual void Move(int CurIndex, int NewIndex);
  bool Equals(TStrings* Strings) const;

  // "Name=Value" lines.
  std::string Names(int Index) const;
  std::string Values(const std::string& Name) const;
  void SetValue(const std::string& Name, const std::string& Value);  // empty deletes

  // Lines joined with CR LF (each line ends with one). SetText splits at CR LF,
  // LF or a lone CR.
  std::string Text() const;
  virtual void SetText(const std::string& Value);
  // Comma separated, items with blanks, commas or quotes double-quoted.
  std::string CommaText() const;
  void SetCommaText(const std::string& Value);

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  void Assign(TPersistent* Source) override;

  void LoadFromStream(TStream* Stream);  // the rest of the stream
  void SaveToStream(TStream* Stream) const;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName) const;

  // Case-insensitive (a-z) unless CaseSensitive.
  virtual int CompareStrings(const std::string& S1, const std::string& S2) const;

protected:
  // Called when the update count goes 0 -> 1 (true) and back to 0 (false).
  virtual void SetUpdateState(bool /*Updating*/) {}
  [[noreturn]] void Error(const std::string& Msg, int Data) const;

private:
  int FUpdateCount = 0;
};

class TStringList : public TStrings {
public:
  TStringList() = default;
  ~TStringList() override;

  int Count() const override { return static_cast<int>(FList.size()); }
  std::string Get(int Index) const override;
  TObject* GetObject(int Index) const override;
  void Put(int Index, const std::string& S) override;
  void PutObject(int Index, TObject* AObject) override;
  void Insert(int Index, const std::string& S) override;
  void Delete(int Index) override;
  void Clear() override;
  void Exchange(int Index1, int Index2) override;

  // Sorted: inserts at the sorted place; a string already present is ignored
  // (dupIgnore, returns the existing index), added (dupAccept) or refused with
  // EStringListError "String list does not allow duplicates" (dupError).
  // Insert on a sorted list raises "Operation not allowed on sorted list".
  int Add(const std::string& S) override;
  int AddObject(const std::string& S, TObject* AObject) override;
  int IndexOf(const std::string& S) const override;
  // Binary search of a sorted list: true and its index when found, else false
  // and the index where S would go.
  virtual bool Find(const std::string& S, int& Index) const;
  virtual void Sort();
  void CustomSort(const std::function<int(TStringList*, int, int)>& Compare);

  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value);
  // When set, the list deletes its objects on Delete, Clear and destruction.
  bool OwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool Value) { FOwnsObjects = Value; }

  int CompareStrings(const std::string& S1, const std::string& S2) const override;

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  virtual void Changed();
  virtual void Changing();
  void SetUpdateState(bool Updating) override;
  void InsertItem(int Index, const std::string& S, TObject* AObject);

private:
  struct Item {
    std::string S;
    TObject* Obj = nullptr;
  };
  void CheckIndex(int Index) const;
  std::vector<Item> FList;
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
  bool FCaseSensitive = false;
  bool FOwnsObjects = false;
};

// ---------------------------------------------------------------------------
// TCollection, TCollectionItem

class TCollection;

class TCollectionItem : public TPersistent {
public:
  // Joins Collection (when given) at its end.
  explicit TCollectionItem(TCollection* Collection);
  ~TCollectionItem() override;  // leaves its collection

  TCollection* Collection() const { return FCollection; }
  void SetCollection(TCollection* Value);
  int ID() const { return FID; }
  int Index() const;
  void SetIndex(int Value);
  virtual std::string DisplayName() const;

protected:
  // Tells the collection that this item changed (AllItems: the whole list).
  void Changed(bool AllItems);

private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int FID = 0;
};

class TCollection : public TPersistent {
public:
  using TItemFactory = std::function<TCollectionItem*(TCollection*)>;
  // ItemFactory makes a new item that joins the given collection (its
  // constructor does); without one, Add makes plain TCollectionItems.
  explicit TCollection(TItemFactory ItemFactory = nullptr);
  ~TCollection() override;  // frees the items

  int Count() const { return static_cast<int>(FItems.size()); }
  TCollectionItem* Items(int Index) const;  // EListError when out of range
  TCollectionItem* Add();
  TCollectionItem* Insert(int Index);
  void Delete(int Index);
  void Clear();
  TCollectionItem* FindItemID(int ID) const;
  void Assign(TPersistent* Source) override;

  // Update brackets: Update runs once, with null, when the last EndUpdate closes.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  // The owner of the collection (for display names and notifications).
  virtual TPersistent* GetOwner() const { return nullptr; }

  TNotifyEvent OnChange;  // fires from Update

protected:
  friend class TCollectionItem;
  // Called when an item (or, with null, the whole collection) changed and no
  // update bracket is open.
  virtual void Update(TCollectionItem* Item);
  void Changed();
  virtual void Notify(TCollectionItem* /*Item*/, bool /*Added*/) {}

private:
  void InsertItem(TCollectionItem* Item);
  void RemoveItem(TCollectionItem* Item);
  std::vector<TCollectionItem*> FItems;
  TItemFactory FItemFactory;
  int FUpdateCount = 0;
  int FNextID = 0;
};

// A collection whose items are of class T (T(TCollection*) constructor).
template <class T>
class TTypedCollection : public TCollection {
public:
  TTypedCollection() : TCollection([](TCollection* c) { return new T(c); }) {}
  T* Items(int Index) const { return static_cast<T*>(TCollection::Items(Index)); }
  T* Add() { return static_cast<T*>(TCollection::Add()); }
};

// ---------------------------------------------------------------------------
// TThread: a thread of execution owned by an object.
//
// Threads start when Resume (or Start) is first called, never from the
// constructor: Execute of the derived class must be complete first. After
// Execute returns, OnTerminate runs in the main thread (Synchronize) and,
// with FreeOnTerminate, the object frees itself.

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread : public TObject {
public:
  TThread();
  // Terminates the thread and waits for it (a thread freeing itself does not
  // wait). Free(thread) does so in BeforeDestruction, while the derived
  // object is still whole; plain delete waits only in this destructor.
  ~TThread() override;
  void BeforeDestruction() override;

  void Resume();
  void Start() { Resume(); }
  // True until the thread was started.
  bool Suspended() const { return !FStarted; }
  // Asks Execute to end: sets Terminated, which Execute checks.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  bool Finished() const { return FFinished; }
  // Waits for the end of Execute and answers ReturnValue. On the main thread
  // it keeps running Synchronize calls meanwhile, so a thread waiting in
  // Synchronize does not deadlock. Answers at once for a thread never started.
  int32_t WaitFor();
  bool FreeOnTerminate() const { return FFreeOnTerminate; }
  void SetFreeOnTerminate(bool Value) { FFreeOnTerminate = Value; }
  TThreadPriority Priority() const { return FPriority; }
  // Applied to the running thread as far as the system allows (best effort).
  void SetPriority(TThreadPriority Value);
  int32_t ReturnValue() const { return FReturnValue; }
  // The exception that ended Execute, if any.
  std::exception_ptr FatalException() const { return FFatalException; }

  TNotifyEvent OnTerminate;

  // Runs Method on the main thread and waits for it; exceptions it raises
  // come back to the caller. On the main thread it simply runs Method.
  static void Synchronize(const std::function<void()>& Method);

protected:
  virtual void Execute() = 0;
  void SetReturnValue(int32_t Value) { FReturnValue = Value; }

private:
  struct State;
  void Run();
  std::shared_ptr<State> FState;
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FFreeOnTerminate = false;
  TThreadPriority FPriority = tpNormal;
  std::atomic<int32_t> FReturnValue{0};
  std::exception_ptr FFatalException;
};

// The thread that started the program (where Synchronize runs its methods).
bool IsMainThread();
// Runs the methods queued by Synchronize; the main thread's message loop
// (TApplication) calls it. Answers whether any ran.
bool CheckSynchronize();

// ---------------------------------------------------------------------------
// Hidden utility windows: a hidden top-level window of a private class whose
// procedure calls the given callable. Messages arrive on the calling thread's
// queue. The TWndMethod form gets TMessage and must call DefWindowProc itself
// for what it does not handle (the Result of TMessage is the answer).
HWND AllocateHWnd(plat::WNDPROC Proc);
HWND AllocateHWnd(TWndMethod Method);
void DeallocateHWnd(HWND Wnd);

// Any program of the session may post any message to any window. What a
// window only its own program may ask for (closing it, ending the program)
// must not be obeyed when it comes from there: a hidden window that
// DefWindowProc destroyed on WM_CLOSE would leave its owner deaf for good.
//
// Tells the debug output "Ignored " + What, once per distinct text for the
// life of the process, so that a sender repeating it cannot flood the log.
void TellIgnoredOnce(const std::string& What);
// Whether the message is a close request (WM_CLOSE, WM_SYSCOMMAND SC_CLOSE)
// or a WM_QUIT posted to a window; when it is, it is told once as sent to
// WindowKind ("a socket window", "a control").
bool IgnoreForeignClose(UINT Msg, plat::WPARAM WParam, const std::string& WindowKind);
// DefWindowProc for windows no other program may close: the requests above
// are ignored (answer 0), everything else goes to DefWindowProc.
plat::LRESULT HiddenWindowProc(HWND Wnd, UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam);

}  // namespace fw
