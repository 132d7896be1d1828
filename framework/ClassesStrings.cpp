// String lists.
#include "framework/Classes.h"
#include "framework/ScopeGuard.h"

#include <algorithm>

namespace fw {

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
  auto updating = Finally([this] { EndUpdate(); });
  for (int i = 0; i < Strings->Count(); ++i) AddObject(Strings->Get(i), Strings->GetObject(i));
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
  auto updating = Finally([this] { EndUpdate(); });
  TObject* o = GetObject(Index1);
  std::string s = Get(Index1);
  Put(Index1, Get(Index2));
  PutObject(Index1, GetObject(Index2));
  Put(Index2, s);
  PutObject(Index2, o);
}

void TStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  BeginUpdate();
  auto updating = Finally([this] { EndUpdate(); });
  std::string s = Get(CurIndex);
  TObject* o = GetObject(CurIndex);
  Delete(CurIndex);
  InsertObject(NewIndex, s, o);
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
  auto updating = Finally([this] { EndUpdate(); });
  Clear();
  size_t p = 0;
  while (p < Value.size()) {
    size_t start = p;
    while (p < Value.size() && Value[p] != '\r' && Value[p] != '\n') ++p;
    Add(Value.substr(start, p - start));
    if (p < Value.size() && Value[p] == '\r') ++p;
    if (p < Value.size() && Value[p] == '\n') ++p;
  }
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
  auto updating = Finally([this] { EndUpdate(); });
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
    auto updating = Finally([this] { EndUpdate(); });
    Clear();
    AddStrings(src);
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

void TStrings::LoadFromFile(const std::string& FileName) { LoadFileThroughStream(*this, FileName); }

void TStrings::SaveToFile(const std::string& FileName) const {
  SaveFileThroughStream(*this, FileName);
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
  return SortedFind(Count(), FDuplicates,
                    [&](int i) { return CompareStrings(FList[static_cast<size_t>(i)].S, S); }, Index);
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
    return l->CompareStrings(l->FList[static_cast<size_t>(a)].S,
                             l->FList[static_cast<size_t>(b)].S);
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

}  // namespace fw
