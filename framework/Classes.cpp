#include "framework/Classes.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <typeinfo>

namespace fw {

// ---------------------------------------------------------------------------
// TObject, TPersistent

std::string TObject::ClassName() const {
  const char* raw = typeid(*this).name();
  int status = 0;
  char* dem = abi::__cxa_demangle(raw, nullptr, nullptr, &status);
  std::string name = (status == 0 && dem) ? dem : raw;
  std::free(dem);
  size_t lt = name.find('<');
  std::string head = lt == std::string::npos ? name : name.substr(0, lt);
  size_t colon = head.rfind("::");
  if (colon != std::string::npos) name = name.substr(colon + 2);
  return name;
}

void TPersistent::Assign(TPersistent* Source) {
  if (Source) {
    Source->AssignTo(this);
  } else {
    AssignError(nullptr);
  }
}

void TPersistent::AssignTo(TPersistent* Dest) { Dest->AssignError(this); }

void TPersistent::AssignError(TPersistent* Source) {
  std::string src = Source ? Source->ClassName() : std::string("nil");
  throw EConvertError("Cannot assign a " + src + " to a " + ClassName());
}

// ---------------------------------------------------------------------------
// TComponent

namespace {
// Searched from the back: components are freed last first, so the one to
// erase is usually the last and freeing many stays linear.
template <class T>
bool EraseOne(std::vector<T*>& v, T* item) {
  auto it = std::find(v.rbegin(), v.rend(), item);
  if (it == v.rend()) return false;
  v.erase(std::next(it).base());
  return true;
}
}  // namespace

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Holders of references to this component clear them now.
  while (!FFreeNotifies.empty()) {
    TComponent* holder = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    EraseOne(holder->FFreeNotifies, this);
    holder->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) {
    throw EListError(Format("List index out of bounds (%d)", index));
  }
  return FComponents[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  auto& v = FOwner->FComponents;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : FComponents) {
    if (SameText(c->FName, name)) return c;
  }
  return nullptr;
}

void TComponent::SetName(const std::string& NewName) {
  if (FName == NewName) return;
  if (FOwner && !NewName.empty()) {
    TComponent* other = FOwner->FindComponent(NewName);
    if (other && other != this) {
      throw EComponentError("A component named " + NewName + " already exists");
    }
  }
  FName = NewName;
}

void TComponent::Insert(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
  AComponent->FOwner = nullptr;
  EraseOne(FComponents, AComponent);
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  if (!AComponent->FName.empty()) {
    TComponent* other = FindComponent(AComponent->FName);
    if (other) throw EComponentError("A component named " + AComponent->FName + " already exists");
  }
  Insert(AComponent);
  if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
  if (FComponentState.Contains(csLoading)) AComponent->FComponentState.Include(csLoading);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  Remove(AComponent);
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    Remove(c);
    c->BeforeDestruction();
    delete c;
  }
}

void TComponent::Destroying() {
  if (FComponentState.Contains(csDestroying)) return;
  FComponentState.Include(csDestroying);
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(AComponent);
  }
  auto& other = AComponent->FFreeNotifies;
  if (std::find(other.begin(), other.end(), this) == other.end()) other.push_back(this);
  FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  EraseOne(FFreeNotifies, AComponent);
  EraseOne(AComponent->FFreeNotifies, this);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
  // Every owned component hears of it too; the list may shrink meanwhile.
  int i = ComponentCount() - 1;
  while (i >= 0) {
    FComponents[static_cast<size_t>(i)]->Notification(AComponent, Operation);
    --i;
    if (i >= ComponentCount()) i = ComponentCount() - 1;
  }
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::BeginLoading() { FComponentState.Include(csLoading); }

void TComponent::EndLoading() {
  for (size_t i = 0; i < FComponents.size(); ++i) {
    TComponent* c = FComponents[i];
    if (c->FComponentState.Contains(csLoading)) c->EndLoading();
  }
  Loaded();
  FComponentState.Exclude(csLoading);
}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
  SetComponentStateFlag(csDesigning, Value);
  if (SetChildren) {
    for (TComponent* c : FComponents) c->SetDesigning(Value, true);
  }
}

void TComponent::SetComponentStateFlag(TComponentStateFlag flag, bool on) {
  if (on) {
    FComponentState.Include(flag);
  } else {
    FComponentState.Exclude(flag);
  }
}

// ---------------------------------------------------------------------------
// TList

TList::~TList() = default;

void TList::Check(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", Index));
}

void TList::SetCount(int NewCount) {
  if (NewCount < 0) throw EListError(Format("List count out of bounds (%d)", NewCount));
  FItems.resize(static_cast<size_t>(NewCount), nullptr);
}

void TList::SetCapacity(int NewCapacity) {
  if (NewCapacity < Count()) throw EListError(Format("List capacity out of bounds (%d)", NewCapacity));
  FItems.reserve(static_cast<size_t>(NewCapacity));
}

void* TList::Items(int Index) const {
  Check(Index);
  return FItems[static_cast<size_t>(Index)];
}

void TList::Put(int Index, void* Item) {
  Check(Index);
  FItems[static_cast<size_t>(Index)] = Item;
}

int TList::Add(void* Item) {
  FItems.push_back(Item);
  return Count() - 1;
}

void TList::Insert(int Index, void* Item) {
  if (Index < 0 || Index > Count()) throw EListError(Format("List index out of bounds (%d)", Index));
  FItems.insert(FItems.begin() + Index, Item);
}

void TList::Delete(int Index) {
  Check(Index);
  FItems.erase(FItems.begin() + Index);
}

int TList::Remove(void* Item) {
  int i = IndexOf(Item);
  if (i >= 0) Delete(i);
  return i;
}

void* TList::Extract(void* Item) {
  int i = IndexOf(Item);
  if (i < 0) return nullptr;
  Delete(i);
  return Item;
}

int TList::IndexOf(void* Item) const {
  auto it = std::find(FItems.begin(), FItems.end(), Item);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void TList::Clear() { FItems.clear(); }

void TList::Exchange(int Index1, int Index2) {
  Check(Index1);
  Check(Index2);
  std::swap(FItems[static_cast<size_t>(Index1)], FItems[static_cast<size_t>(Index2)]);
}

void TList::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  Check(CurIndex);
  Check(NewIndex);
  void* item = FItems[static_cast<size_t>(CurIndex)];
  FItems.erase(FItems.begin() + CurIndex);
  FItems.insert(FItems.begin() + NewIndex, item);
}

void* TList::First() const { return Items(0); }
void* TList::Last() const { return Items(Count() - 1); }

void TList::Pack() { FItems.erase(std::remove(FItems.begin(), FItems.end(), nullptr), FItems.end()); }

void TList::Sort(const std::function<int(void*, void*)>& Compare) {
  std::stable_sort(FItems.begin(), FItems.end(), [&](void* a, void* b) { return Compare(a, b) < 0; });
}

// ---------------------------------------------------------------------------
// Streams

int64_t TStream::Position() { return Seek(0, soCurrent); }

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count)) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count)) {
    throw EWriteError("Stream write error");
  }
}

int64_t TStream::CopyFrom(TStream* Source, int64_t Count) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->Size();
  }
  int64_t result = Count;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(Count, 65536)) + 1);
  while (Count > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(Count, 65536));
    Source->ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    Count -= n;
  }
  return result;
}

int32_t TMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0) return 0;
  int64_t size = static_cast<int64_t>(FData.size());
  if (FPosition >= size) return 0;
  int64_t n = std::min<int64_t>(Count, size - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0) return 0;
  int64_t end = FPosition + Count;
  if (end > static_cast<int64_t>(FData.size())) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case soBeginning: FPosition = Offset; break;
    case soCurrent: FPosition += Offset; break;
    case soEnd: FPosition = static_cast<int64_t>(FData.size()) + Offset; break;
  }
  return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  FData.resize(static_cast<size_t>(NewSize));
  if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
  Stream->SetPosition(0);
  int64_t size = Stream->Size();
  SetSize(size);
  if (size > 0) Stream->ReadBuffer(FData.data(), static_cast<int32_t>(size));
  FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream* Stream) {
  if (!FData.empty()) Stream->WriteBuffer(FData.data(), static_cast<int32_t>(FData.size()));
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
  TFileStream f(FileName, fmCreate);
  SaveToStream(&f);
}

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName) {
  if (Mode == fmCreate) {
    FHandle = open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0) throw EFCreateError("Cannot create file \"" + FileName + "\"");
    return;
  }
  int flags = O_CLOEXEC;
  switch (Mode & 3) {
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY;
  }
  FHandle = open(FileName.c_str(), flags);
  if (FHandle >= 0) {
    struct stat st;
    if (fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(FHandle);
      FHandle = -1;
    }
  }
  if (FHandle < 0) throw EFOpenError("Cannot open file \"" + FileName + "\"");
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) close(FHandle);
}

int32_t TFileStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  int32_t done = 0;
  while (done < Count) {
    ssize_t n = read(FHandle, static_cast<char*>(Buffer) + done, static_cast<size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  int32_t done = 0;
  while (done < Count) {
    ssize_t n = write(FHandle, static_cast<const char*>(Buffer) + done,
                      static_cast<size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int whence = Origin == soBeginning ? SEEK_SET : (Origin == soCurrent ? SEEK_CUR : SEEK_END);
  return static_cast<int64_t>(lseek(FHandle, static_cast<off_t>(Offset), whence));
}

void TFileStream::SetSize(int64_t NewSize) {
  if (ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0) throw EStreamError("Stream write error");
  if (Position() > NewSize) SetPosition(NewSize);
}

// ---------------------------------------------------------------------------
// TStrings

void TStrings::Error(const std::string& Msg, int Data) const {
  throw EStringListError(Msg.find("%d") != std::string::npos ? Format(Msg.c_str(), Data) : Msg);
}

void TStrings::Put(int Index, const std::string& S) {
  TObject* obj = GetObject(Index);
  Delete(Index);
  InsertObject(Index, S, obj);
}

int TStrings::Add(const std::string& S) {
  int r = Count();
  Insert(r, S);
  return r;
}

int TStrings::AddObject(const std::string& S, TObject* AObject) {
  int r = Add(S);
  PutObject(r, AObject);
  return r;
}

void TStrings::InsertObject(int Index, const std::string& S, TObject* AObject) {
  Insert(Index, S);
  PutObject(Index, AObject);
}

void TStrings::AddStrings(TStrings* Strings) {
  BeginUpdate();
  try {
    for (int i = 0; i < Strings->Count(); ++i) AddObject(Strings->Get(i), Strings->GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

int TStrings::IndexOf(const std::string& S) const {
  for (int i = 0; i < Count(); ++i) {
    if (CompareStrings(Get(i), S) == 0) return i;
  }
  return -1;
}

int TStrings::IndexOfObject(TObject* AObject) const {
  for (int i = 0; i < Count(); ++i) {
    if (GetObject(i) == AObject) return i;
  }
  return -1;
}

int TStrings::IndexOfName(const std::string& Name) const {
  for (int i = 0; i < Count(); ++i) {
    std::string s = Get(i);
    size_t eq = s.find('=');
    if (eq != std::string::npos && CompareStrings(s.substr(0, eq), Name) == 0) return i;
  }
  return -1;
}

void TStrings::Exchange(int Index1, int Index2) {
  BeginUpdate();
  try {
    TObject* o = GetObject(Index1);
    std::string s = Get(Index1);
    Put(Index1, Get(Index2));
    PutObject(Index1, GetObject(Index2));
    Put(Index2, s);
    PutObject(Index2, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  BeginUpdate();
  try {
    std::string s = Get(CurIndex);
    TObject* o = GetObject(CurIndex);
    Delete(CurIndex);
    InsertObject(NewIndex, s, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

bool TStrings::Equals(TStrings* Strings) const {
  if (Count() != Strings->Count()) return false;
  for (int i = 0; i < Count(); ++i) {
    if (Get(i) != Strings->Get(i)) return false;
  }
  return true;
}

std::string TStrings::Names(int Index) const {
  std::string s = Get(Index);
  size_t eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStrings::Values(const std::string& Name) const {
  int i = IndexOfName(Name);
  if (i < 0) return "";
  std::string s = Get(i);
  return s.substr(s.find('=') + 1);
}

void TStrings::SetValue(const std::string& Name, const std::string& Value) {
  int i = IndexOfName(Name);
  if (Value.empty()) {
    if (i >= 0) Delete(i);
  } else if (i < 0) {
    Add(Name + "=" + Value);
  } else {
    Put(i, Name + "=" + Value);
  }
}

std::string TStrings::Text() const {
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    out += Get(i);
    out += "\r\n";
  }
  return out;
}

void TStrings::SetText(const std::string& Value) {
  BeginUpdate();
  try {
    Clear();
    size_t p = 0;
    while (p < Value.size()) {
      size_t start = p;
      while (p < Value.size() && Value[p] != '\r' && Value[p] != '\n') ++p;
      Add(Value.substr(start, p - start));
      if (p < Value.size() && Value[p] == '\r') ++p;
      if (p < Value.size() && Value[p] == '\n') ++p;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::CommaText() const {
  if (Count() == 1 && Get(0).empty()) return "\"\"";
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    std::string s = Get(i);
    bool quote = false;
    for (char c : s) {
      if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') quote = true;
    }
    if (i) out += ',';
    if (quote) {
      out += '"';
      for (char c : s) {
        if (c == '"') out += '"';
        out += c;
      }
      out += '"';
    } else {
      out += s;
    }
  }
  return out;
}

void TStrings::SetCommaText(const std::string& Value) {
  BeginUpdate();
  try {
    Clear();
    size_t p = 0, n = Value.size();
    auto blank = [&](size_t i) { return static_cast<unsigned char>(Value[i]) <= ' '; };
    while (p < n && blank(p)) ++p;
    while (p < n) {
      std::string s;
      if (Value[p] == '"') {
        ++p;
        while (p < n) {
          if (Value[p] == '"') {
            if (p + 1 < n && Value[p + 1] == '"') {
              s += '"';
              p += 2;
              continue;
            }
            ++p;
            break;
          }
          s += Value[p++];
        }
      } else {
        while (p < n && !blank(p) && Value[p] != ',') s += Value[p++];
      }
      Add(s);
      while (p < n && blank(p)) ++p;
      if (p < n && Value[p] == ',') {
        ++p;
        while (p < n && blank(p)) ++p;
        if (p >= n) Add("");
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::BeginUpdate() {
  if (FUpdateCount == 0) SetUpdateState(true);
  ++FUpdateCount;
}

void TStrings::EndUpdate() {
  if (FUpdateCount <= 0) return;
  --FUpdateCount;
  if (FUpdateCount == 0) SetUpdateState(false);
}

void TStrings::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TStrings*>(Source)) {
    if (src == this) return;
    BeginUpdate();
    try {
      Clear();
      AddStrings(src);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

void TStrings::LoadFromStream(TStream* Stream) {
  int64_t size = Stream->Size() - Stream->Position();
  std::string buf;
  if (size > 0) {
    if (size > INT32_MAX) throw EReadError("Stream read error");
    buf.resize(static_cast<size_t>(size));
    Stream->ReadBuffer(buf.data(), static_cast<int32_t>(size));
  }
  SetText(buf);
}

void TStrings::SaveToStream(TStream* Stream) const {
  std::string t = Text();
  if (t.size() > INT32_MAX) throw EWriteError("Stream write error");
  Stream->WriteBuffer(t.data(), static_cast<int32_t>(t.size()));
}

void TStrings::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

void TStrings::SaveToFile(const std::string& FileName) const {
  TFileStream f(FileName, fmCreate);
  SaveToStream(&f);
}

int TStrings::CompareStrings(const std::string& S1, const std::string& S2) const {
  return CompareText(S1, S2);
}

// ---------------------------------------------------------------------------
// TStringList

TStringList::~TStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  if (FOwnsObjects) {
    for (auto& it : FList) Free(it.Obj);
  }
}

void TStringList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count()) Error("List index out of bounds (%d)", Index);
}

std::string TStringList::Get(int Index) const {
  CheckIndex(Index);
  return FList[static_cast<size_t>(Index)].S;
}

TObject* TStringList::GetObject(int Index) const {
  CheckIndex(Index);
  return FList[static_cast<size_t>(Index)].Obj;
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::SetUpdateState(bool Updating) {
  if (Updating) {
    if (OnChanging) OnChanging(this);
  } else {
    if (OnChange) OnChange(this);
  }
}

void TStringList::Put(int Index, const std::string& S) {
  if (FSorted) Error("Operation not allowed on sorted list", 0);
  CheckIndex(Index);
  Changing();
  FList[static_cast<size_t>(Index)].S = S;
  Changed();
}

void TStringList::PutObject(int Index, TObject* AObject) {
  CheckIndex(Index);
  Changing();
  FList[static_cast<size_t>(Index)].Obj = AObject;
  Changed();
}

void TStringList::InsertItem(int Index, const std::string& S, TObject* AObject) {
  Changing();
  FList.insert(FList.begin() + Index, Item{S, AObject});
  Changed();
}

void TStringList::Insert(int Index, const std::string& S) {
  if (FSorted) Error("Operation not allowed on sorted list", 0);
  if (Index < 0 || Index > Count()) Error("List index out of bounds (%d)", Index);
  InsertItem(Index, S, nullptr);
}

int TStringList::Add(const std::string& S) { return AddObject(S, nullptr); }

int TStringList::AddObject(const std::string& S, TObject* AObject) {
  int r;
  if (!FSorted) {
    r = Count();
  } else if (Find(S, r)) {
    switch (FDuplicates) {
      case dupIgnore: return r;
      case dupError: Error("String list does not allow duplicates", 0);
      case dupAccept: break;
    }
  }
  InsertItem(r, S, AObject);
  return r;
}

void TStringList::Delete(int Index) {
  CheckIndex(Index);
  Changing();
  TObject* obj = FList[static_cast<size_t>(Index)].Obj;
  FList.erase(FList.begin() + Index);
  if (FOwnsObjects) Free(obj);
  Changed();
}

void TStringList::Clear() {
  if (FList.empty()) return;
  Changing();
  std::vector<Item> old;
  old.swap(FList);
  if (FOwnsObjects) {
    for (auto& it : old) Free(it.Obj);
  }
  Changed();
}

void TStringList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  Changing();
  std::swap(FList[static_cast<size_t>(Index1)], FList[static_cast<size_t>(Index2)]);
  Changed();
}

bool TStringList::Find(const std::string& S, int& Index) const {
  bool found = false;
  int l = 0, h = Count() - 1;
  while (l <= h) {
    int i = (l + h) / 2;
    int c = CompareStrings(FList[static_cast<size_t>(i)].S, S);
    if (c < 0) {
      l = i + 1;
    } else {
      h = i - 1;
      if (c == 0) {
        found = true;
        if (FDuplicates != dupAccept) l = i;
      }
    }
  }
  Index = l;
  return found;
}

int TStringList::IndexOf(const std::string& S) const {
  if (!FSorted) return TStrings::IndexOf(S);
  int i;
  return Find(S, i) ? i : -1;
}

void TStringList::CustomSort(const std::function<int(TStringList*, int, int)>& Compare) {
  if (Count() < 2) return;
  Changing();
  // The compare function sees indexes, so sort a permutation and apply it.
  std::vector<int> order(FList.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return Compare(this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(FList.size());
  for (int i : order) sorted.push_back(FList[static_cast<size_t>(i)]);
  FList.swap(sorted);
  Changed();
}

void TStringList::Sort() {
  CustomSort([](TStringList* l, int a, int b) {
    return l->CompareStrings(l->FList[static_cast<size_t>(a)].S, l->FList[static_cast<size_t>(b)].S);
  });
}

void TStringList::SetSorted(bool Value) {
  if (FSorted == Value) return;
  if (Value) Sort();
  FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (FCaseSensitive == Value) return;
  FCaseSensitive = Value;
  if (FSorted) Sort();
}

int TStringList::CompareStrings(const std::string& S1, const std::string& S2) const {
  return FCaseSensitive ? CompareStr(S1, S2) : CompareText(S1, S2);
}

// ---------------------------------------------------------------------------
// TCollection

TCollectionItem::TCollectionItem(TCollection* Collection) { SetCollection(Collection); }

TCollectionItem::~TCollectionItem() { SetCollection(nullptr); }

void TCollectionItem::SetCollection(TCollection* Value) {
  if (FCollection == Value) return;
  if (FCollection) FCollection->RemoveItem(this);
  if (Value) Value->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (!FCollection) return -1;
  auto& v = FCollection->FItems;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

void TCollectionItem::SetIndex(int Value) {
  int cur = Index();
  if (cur < 0 || cur == Value) return;
  auto& v = FCollection->FItems;
  if (Value < 0 || Value >= static_cast<int>(v.size())) {
    throw EListError(Format("List index out of bounds (%d)", Value));
  }
  v.erase(v.begin() + cur);
  v.insert(v.begin() + Value, this);
  Changed(true);
}

std::string TCollectionItem::DisplayName() const { return ClassName(); }

void TCollectionItem::Changed(bool AllItems) {
  if (FCollection && FCollection->FUpdateCount == 0) FCollection->Update(AllItems ? nullptr : this);
}

TCollection::TCollection(TItemFactory ItemFactory) : FItemFactory(std::move(ItemFactory)) {}

TCollection::~TCollection() {
  FUpdateCount = 1;  // no Update calls while the collection goes away
  OnChange = nullptr;
  while (!FItems.empty()) delete FItems.back();
}

TCollectionItem* TCollection::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", Index));
  return FItems[static_cast<size_t>(Index)];
}

TCollectionItem* TCollection::Add() {
  return FItemFactory ? FItemFactory(this) : new TCollectionItem(this);
}

TCollectionItem* TCollection::Insert(int Index) {
  if (Index < 0 || Index > Count()) throw EListError(Format("List index out of bounds (%d)", Index));
  BeginUpdate();
  TCollectionItem* item;
  try {
    item = Add();
    item->SetIndex(Index);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return item;
}

void TCollection::Delete(int Index) { delete Items(Index); }

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  while (!FItems.empty()) delete FItems.back();
  EndUpdate();
}

TCollectionItem* TCollection::FindItemID(int ID) const {
  for (auto* it : FItems) {
    if (it->FID == ID) return it;
  }
  return nullptr;
}

void TCollection::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TCollection*>(Source)) {
    if (src == this) return;
    BeginUpdate();
    try {
      Clear();
      for (auto* it : src->FItems) Add()->Assign(it);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

void TCollection::BeginUpdate() { ++FUpdateCount; }

void TCollection::EndUpdate() {
  if (FUpdateCount <= 0) return;
  --FUpdateCount;
  Changed();
}

void TCollection::Changed() {
  if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::Update(TCollectionItem*) {
  if (OnChange) OnChange(this);
}

void TCollection::InsertItem(TCollectionItem* Item) {
  FItems.push_back(Item);
  Item->FCollection = this;
  Item->FID = FNextID++;
  Notify(Item, true);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* Item) {
  Notify(Item, false);
  EraseOne(FItems, Item);
  Item->FCollection = nullptr;
  Changed();
}

// ---------------------------------------------------------------------------
// Hidden utility windows

namespace {
const char* const kUtilClass = "VexaUtilWindow";
std::once_flag gUtilClassOnce;

void RegisterUtilClass() {
  std::call_once(gUtilClassOnce, [] {
    plat::WNDCLASS wc;
    wc.lpfnWndProc = plat::DefWindowProc;
    wc.lpszClassName = kUtilClass;
    plat::RegisterClass(wc);
  });
}
}  // namespace

HWND AllocateHWnd(plat::WNDPROC Proc) {
  RegisterUtilClass();
  HWND h = plat::CreateWindowEx(plat::WS_EX_TOOLWINDOW, kUtilClass, "", plat::WS_POPUP, 0, 0, 0, 0,
                                0, 0);
  if (h == 0) throw EOutOfResources("Error creating window");
  if (Proc) plat::SetWindowProc(h, std::move(Proc));
  return h;
}

HWND AllocateHWnd(TWndMethod Method) {
  if (!Method) return AllocateHWnd(plat::WNDPROC());
  return AllocateHWnd(plat::WNDPROC(
      [m = std::move(Method)](HWND, UINT msg, plat::WPARAM w, plat::LPARAM l) -> plat::LRESULT {
        TMessage M{msg, w, l, 0};
        m(M);
        return M.Result;
      }));
}

void DeallocateHWnd(HWND Wnd) {
  if (Wnd) plat::DestroyWindow(Wnd);
}

}  // namespace fw

// ---------------------------------------------------------------------------
// TThread

namespace fw {

namespace {

const plat::DWORD gMainThreadId = plat::GetCurrentThreadId();

struct SyncCall {
  const std::function<void()>* Method = nullptr;
  bool Done = false;
  std::exception_ptr Error;
};

std::mutex gSyncMu;
std::condition_variable gSyncCv;
std::deque<SyncCall*> gSyncQueue;

}  // namespace

bool IsMainThread() { return plat::GetCurrentThreadId() == gMainThreadId; }

bool CheckSynchronize() {
  if (!IsMainThread()) return false;
  bool ran = false;
  for (;;) {
    SyncCall* call;
    {
      std::lock_guard<std::mutex> g(gSyncMu);
      if (gSyncQueue.empty()) break;
      call = gSyncQueue.front();
      gSyncQueue.pop_front();
    }
    try {
      (*call->Method)();
    } catch (...) {
      call->Error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> g(gSyncMu);
      call->Done = true;
    }
    gSyncCv.notify_all();
    ran = true;
  }
  return ran;
}

void TThread::Synchronize(const std::function<void()>& Method) {
  if (IsMainThread()) {
    Method();
    return;
  }
  SyncCall call;
  call.Method = &Method;
  {
    std::lock_guard<std::mutex> g(gSyncMu);
    gSyncQueue.push_back(&call);
  }
  plat::PostThreadMessage(gMainThreadId, plat::WM_NULL, 0, 0);  // wakes the main loop
  std::unique_lock<std::mutex> lock(gSyncMu);
  gSyncCv.wait(lock, [&] { return call.Done; });
  if (call.Error) std::rethrow_exception(call.Error);
}

struct TThread::State {
  std::thread Thread;
  std::mutex Mu;
  std::condition_variable Cv;
  bool Finished = false;
  pid_t Tid = 0;
};

TThread::TThread() : FState(std::make_shared<State>()) {}

TThread::~TThread() {
  OnTerminate = nullptr;
  if (!FState->Thread.joinable()) return;
  if (FState->Thread.get_id() == std::this_thread::get_id()) {
    FState->Thread.detach();  // freeing itself at the end of its run
    return;
  }
  Terminate();
  WaitFor();
  FState->Thread.join();
}

namespace {
int NiceOf(TThreadPriority p) {
  switch (p) {
    case tpIdle: return 19;
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -20;
    default: return 0;
  }
}
}  // namespace

void TThread::SetPriority(TThreadPriority Value) {
  FPriority = Value;
  pid_t tid;
  {
    std::lock_guard<std::mutex> g(FState->Mu);
    tid = FState->Finished ? 0 : FState->Tid;
  }
  // Raising above normal needs privileges; without them the thread stays as it is.
  if (tid) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceOf(Value));
}

void TThread::BeforeDestruction() {
  if (FState->Thread.joinable() && FState->Thread.get_id() != std::this_thread::get_id()) {
    Terminate();
    WaitFor();
  }
}

void TThread::Resume() {
  bool expected = false;
  if (!FStarted.compare_exchange_strong(expected, true)) return;
  FState->Thread = std::thread([this] { Run(); });
}

void TThread::Run() {
  std::shared_ptr<State> state = FState;  // outlives a self-freeing object
  {
    std::lock_guard<std::mutex> g(state->Mu);
    state->Tid = gettid();
  }
  setpriority(PRIO_PROCESS, static_cast<id_t>(state->Tid), NiceOf(FPriority));
  try {
    Execute();
  } catch (...) {
    FFatalException = std::current_exception();
  }
  FFinished = true;
  if (OnTerminate) {
    try {
      Synchronize([this] {
        if (OnTerminate) OnTerminate(this);
      });
    } catch (...) {
    }
  }
  bool freeSelf = FFreeOnTerminate;
  {
    std::lock_guard<std::mutex> g(state->Mu);
    state->Finished = true;
  }
  state->Cv.notify_all();
  if (freeSelf) Free(this);
}

int32_t TThread::WaitFor() {
  if (!FStarted) return FReturnValue;
  std::shared_ptr<State> state = FState;
  std::unique_lock<std::mutex> lock(state->Mu);
  while (!state->Finished) {
    if (IsMainThread()) {
      // Keep serving Synchronize calls of the thread waited for.
      lock.unlock();
      CheckSynchronize();
      lock.lock();
      state->Cv.wait_for(lock, std::chrono::milliseconds(5), [&] { return state->Finished; });
    } else {
      state->Cv.wait(lock, [&] { return state->Finished; });
    }
  }
  return FReturnValue;
}

}  // namespace fw
