#include "server/VexaKWVServer.h"

#include <algorithm>
#include <locale.h>
#include <time.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "framework/ComCtrls.h"

namespace vexa {

// ---------------------------------------------------------------------------
// TNotificationRecord

TNotificationRecord TNotificationRecord::FromMessage(int32_t WParam, int32_t LParam) {
  TNotificationRecord r;
  r.Value = WParam;
  const uint32_t l = static_cast<uint32_t>(LParam);
  r.TableID = static_cast<uint8_t>(l & 0xFF);
  r.Code = static_cast<char>((l >> 8) & 0xFF);
  r.Reserved[0] = static_cast<uint8_t>((l >> 16) & 0xFF);
  r.Reserved[1] = static_cast<uint8_t>((l >> 24) & 0xFF);
  return r;
}

TNotificationRecord TNotificationRecord::Ack(uint8_t TableID, char Code, int32_t Value) {
  TNotificationRecord r;
  r.Value = Value;
  r.TableID = TableID;
  r.Code = Code;
  return r;
}

// ---------------------------------------------------------------------------
// TTransTableItem

namespace {

// Counters shown in the table view wrap instead of overflowing.
int32_t Increment(int32_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(v) + 1u);
}

TVexaIntObject PositionObject(int32_t Position) {
  return reinterpret_cast<TVexaIntObject>(static_cast<intptr_t>(Position));
}

}  // namespace

TTransTableItem::TTransTableItem() : fw::TComponent(nullptr), FOpenTransactions(new TVexaIntList) {
  FOpenTransactions->SetSorted(true);
}

TTransTableItem::~TTransTableItem() {
  FSubscribers.clear();
  // The row outlives the item while the form closes; it must not point here.
  if (FListItem && FListItem->Data() == this) FListItem->SetData(nullptr);
  FRecords.clear();
  FOpenTransactions->Clear();
}

int32_t TTransTableItem::StartOf(TVexaIntList* List, int32_t Index) {
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(List->GetObject(Index)));
}

void TTransTableItem::Grow() {
  const int64_t cap = static_cast<int64_t>(FRecords.size());
  int64_t delta = cap > 64 ? cap / 4 : (cap > 8 ? 16 : 4);
  int64_t next = std::min<int64_t>(cap + delta, std::numeric_limits<int32_t>::max());
  if (next <= cap) throw fw::EOutOfResources("Table buffer is full");
  FRecords.resize(static_cast<size_t>(next));
}

int32_t TTransTableItem::AppendRecord(const TNotificationRecord& Rec) {
  if (FRecordCount == Capacity()) Grow();
  FRecords[static_cast<size_t>(FRecordCount)] = Rec;
  return FRecordCount++;
}

void TTransTableItem::DropFront(int32_t N) {
  if (N <= 0) return;
  N = std::min(N, FRecordCount);
  std::memmove(FRecords.data(), FRecords.data() + N,
               static_cast<size_t>(FRecordCount - N) * sizeof(TNotificationRecord));
  FRecordCount -= N;
}

void TTransTableItem::AddNotification(int32_t WParam, int32_t LParam) {
  AppendRecord(TNotificationRecord::FromMessage(WParam, LParam));
  FMsgCount = Increment(FMsgCount);
  FDirty = true;
}

int32_t TTransTableItem::BeginTransaction() {
  const int32_t id = FNextTransID;
  FOpenTransactions->AddObject(id, PositionObject(FRecordCount));
  FNextTransID = id == std::numeric_limits<int32_t>::max() ? 1 : id + 1;
  FTotalTrans = Increment(FTotalTrans);
  FDirty = true;
  return id;
}

void TTransTableItem::EndTransaction(int32_t Id) {
  const int32_t index = FOpenTransactions->IndexOf(Id);
  if (index < 0) return;
  const int32_t start = std::clamp(StartOf(FOpenTransactions.get(), index), 0, FRecordCount);
  const int32_t count = FRecordCount - start;
  if (count > 0) {
    const void* data = FRecords.data() + start;
    const int32_t bytes = count * static_cast<int32_t>(sizeof(TNotificationRecord));
    for (TTcpSrvClient* session : FSubscribers) session->QueueRecords(data, bytes);
  }
  RemoveTransaction(Id);
}

void TTransTableItem::RemoveTransaction(int32_t Id) {
  TVexaIntList* open = FOpenTransactions.get();
  const int32_t index = open->IndexOf(Id);
  if (index < 0) return;
  try {
    if (index == 0) {
      // Records in front of every other open transaction's start belong to none
      // of them. Normally that is the start of the next id; after the ids wrap
      // round the lowest start can stand further back, so take the smallest.
      const int32_t count = open->GetCount();
      int32_t drop = FRecordCount;
      for (int32_t i = 1; i < count; ++i) drop = std::min(drop, StartOf(open, i));
      drop = std::max(drop, 0);
      DropFront(drop);
      if (drop > 0) {
        // The list keeps no setter for the object, so each later entry is put
        // back with its lowered position (a sorted list re-inserts it in place).
        for (int32_t i = count - 1; i >= 1; --i) {
          const int32_t value = open->Get(i);
          const int32_t start = StartOf(open, i);
          open->Delete(i);
          open->AddObject(value, PositionObject(std::max(start - drop, 0)));
        }
      }
    }
  } catch (...) {
    open->Delete(open->IndexOf(Id));
    FDirty = true;
    throw;
  }
  open->Delete(open->IndexOf(Id));
  FDirty = true;
}

void TTransTableItem::Subscribe(TTcpSrvClient* Session) {
  if (std::find(FSubscribers.begin(), FSubscribers.end(), Session) != FSubscribers.end()) return;
  FSubscribers.push_back(Session);
  FDirty = true;
}

bool TTransTableItem::Unsubscribe(TTcpSrvClient* Session) {
  auto it = std::find(FSubscribers.begin(), FSubscribers.end(), Session);
  if (it == FSubscribers.end()) return false;
  FSubscribers.erase(it);
  if (FListItem) {
    fw::TStrings* cells = FListItem->SubItems();
    while (cells->Count() < 4) cells->Add("");
    cells->Put(3, fw::IntToStr(static_cast<int64_t>(FSubscribers.size())));
  }
  return true;
}

void TTransTableItem::RefreshRow() {
  if (!FDirty || !FListItem) return;
  fw::TStrings* cells = FListItem->SubItems();
  while (cells->Count() < 4) cells->Add("");
  cells->Put(0, fw::IntToStr(FMsgCount));
  cells->Put(1, fw::IntToStr(FTotalTrans));
  cells->Put(2, fw::IntToStr(FRecordCount));
  cells->Put(3, fw::IntToStr(static_cast<int64_t>(FSubscribers.size())));
}

// ---------------------------------------------------------------------------
// TTcpSrvClient

TTcpSrvClient::TTcpSrvClient(fw::TComponent* AOwner) : TNetSocketClient(AOwner) {}

TTcpSrvClient::~TTcpSrvClient() {
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
    }
  }
}

void TTcpSrvClient::SendAck(int32_t ATableID, char Code, int32_t Value) {
  if (ATableID < 0 || ATableID > 255) throw ERangeError("Range check error");
  const TNotificationRecord rec = TNotificationRecord::Ack(static_cast<uint8_t>(ATableID), Code, Value);
  QueueSendData(&rec, static_cast<int32_t>(sizeof(rec)));
  Send(nullptr, 0);
}

// ---------------------------------------------------------------------------
// Commands

TServerCommand ParseServerCommand(const std::string& Received) {
  TServerCommand cmd;
  cmd.Line = fw::UpperCase(Received);
  while (!cmd.Line.empty() && (cmd.Line.back() == '\r' || cmd.Line.back() == '\n')) cmd.Line.pop_back();
  if (!cmd.Line.empty() && (cmd.Line[0] == 'S' || cmd.Line[0] == 'U')) {
    cmd.Kind = cmd.Line[0] == 'S' ? TServerCommandKind::Subscribe : TServerCommandKind::Unsubscribe;
    cmd.TableID = fw::StrToIntDef(cmd.Line.substr(1), 0);
  } else if (fw::SameText(cmd.Line, "exit")) {
    cmd.Kind = TServerCommandKind::Exit;
  } else if (fw::SameText(cmd.Line, "who")) {
    cmd.Kind = TServerCommandKind::Who;
  }
  return cmd;
}

namespace {

// The locale's time formatting, or 0 for the C locale: its own short date
// has a two-digit year, while "who" has always shown four.
locale_t TimeLocale(const std::string& Name) {
  if (Name.empty() || Name == "C" || Name == "POSIX" || Name.rfind("C.", 0) == 0) return locale_t(0);
  return newlocale(LC_TIME_MASK, Name.c_str(), locale_t(0));  // 0 when not installed
}

std::string LocaleText(const char* Format, fw::TDateTime Value, locale_t Loc) {
  int y, mo, d, h, mi, s, ms;
  fw::DecodeDate(Value, y, mo, d);
  fw::DecodeTime(Value, h, mi, s, ms);
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  t.tm_isdst = -1;
  std::tm day = t;
  timegm(&day);  // fills in the weekday and the day of the year for names and numbers
  t.tm_wday = day.tm_wday;
  t.tm_yday = day.tm_yday;
  char buf[256];
  size_t n = strftime_l(buf, sizeof buf, Format, &t, Loc);
  return std::string(buf, n);
}

std::string ConnectTimeIn(fw::TDateTime Value, locale_t Loc) {
  double whole = 0;
  bool midnight = std::modf(Value, &whole) == 0.0;
  if (!Loc) return midnight ? fw::DateToStr(Value) : fw::DateToStr(Value) + " " + fw::TimeToStr(Value);
  std::string date = LocaleText("%x", Value, Loc);
  return midnight ? date : date + " " + LocaleText("%X", Value, Loc);
}

}  // namespace

std::string ConnectTimeText(fw::TDateTime Value) {
  // Read once: the locale the program was started in.
  static const locale_t Loc = [] {
    for (const char* var : {"LC_ALL", "LC_TIME", "LANG"})
      if (const char* v = std::getenv(var); v && *v) return TimeLocale(v);
    return locale_t(0);
  }();
  return ConnectTimeIn(Value, Loc);
}

std::string ConnectTimeText(fw::TDateTime Value, const std::string& LocaleName) {
  locale_t loc = TimeLocale(LocaleName);
  std::string text = ConnectTimeIn(Value, loc);
  if (loc) freelocale(loc);
  return text;
}

}  // namespace vexa
