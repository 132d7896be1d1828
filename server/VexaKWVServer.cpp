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
#include "platform/kernel/Invariant.h"

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

}  // namespace

TTransTableItem::TTransTableItem() : fw::TComponent(nullptr) {}

TTransTableItem::~TTransTableItem() {
  FSubscribers.clear();
  // The row outlives the item while the form closes; it must not point here.
  if (FListItem && FListItem->Data() == this) FListItem->SetData(nullptr);
  FRecords.clear();
  FOpenTransactions.clear();
  FStarts.clear();
}

// Holds after every change: the records lie inside the buffer, every open
// transaction has one start, and no start lies in front of the buffer or past
// its end (records an open transaction still needs are never dropped).
void TTransTableItem::CheckBuffer() const {
  VEXA_INVARIANT(FFront >= 0 && FRecordCount >= 0 && FFront + FRecordCount <= Capacity(),
                 "a table's records lie inside its buffer");
  VEXA_INVARIANT(FStarts.size() == FOpenTransactions.size(),
                 "every open transaction has one start");
  VEXA_INVARIANT(
      FStarts.empty() || (*FStarts.begin() >= FBase && *FStarts.rbegin() <= FBase + FRecordCount),
      "an open transaction's start lies inside the buffer");
}

int32_t TTransTableItem::BufferPosition(int64_t StreamPosition) const {
  return static_cast<int32_t>(std::clamp<int64_t>(StreamPosition - FBase, 0, FRecordCount));
}

std::vector<int32_t> TTransTableItem::TransactionStarts() const {
  std::vector<int32_t> starts;
  for (const auto& [id, open] : FOpenTransactions) starts.push_back(BufferPosition(open.Position));
  return starts;
}

void TTransTableItem::Grow() {
  const int64_t cap = static_cast<int64_t>(FRecords.size());
  int64_t delta = cap > 64 ? cap / 4 : (cap > 8 ? 16 : 4);
  int64_t next = std::min<int64_t>(cap + delta, std::numeric_limits<int32_t>::max());
  if (next <= cap) throw fw::EOutOfResources("Table buffer is full");
  FRecords.resize(static_cast<size_t>(next));
}

int32_t TTransTableItem::AppendRecord(const TNotificationRecord& Rec) {
  if (FFront + FRecordCount == Capacity()) {
    if (FFront > 0 && FFront >= FRecordCount) {
      // The gap is at least as long as what is kept: closing it costs no
      // more than the drops that made it.
      std::memmove(FRecords.data(), FRecords.data() + FFront,
                   static_cast<size_t>(FRecordCount) * sizeof(TNotificationRecord));
      FFront = 0;
    } else {
      Grow();
    }
  }
  FRecords[static_cast<size_t>(FFront + FRecordCount)] = Rec;
  const int32_t index = FRecordCount++;
  CheckBuffer();
  return index;
}

void TTransTableItem::DropFront(int32_t N) {
  if (N <= 0) return;
  N = std::min(N, FRecordCount);
  FFront += N;
  FBase += N;
  FRecordCount -= N;
  if (FRecordCount == 0) FFront = 0;
  CheckBuffer();
}

void TTransTableItem::AddNotification(int32_t WParam, int32_t LParam) {
  AppendRecord(TNotificationRecord::FromMessage(WParam, LParam));
  FMsgCount = Increment(FMsgCount);
  FDirty = true;
}

int32_t TTransTableItem::BeginTransaction(uint32_t Writer) {
  const int32_t id = FNextTransID;
  const int64_t position = FBase + FRecordCount;
  // An id still open from before the ids wrapped keeps its start.
  if (FOpenTransactions.emplace(id, TOpenTransaction{position, Writer}).second) {
    FStarts.insert(position);
  }
  FNextTransID = id == std::numeric_limits<int32_t>::max() ? 1 : id + 1;
  FTotalTrans = Increment(FTotalTrans);
  FDirty = true;
  CheckBuffer();
  return id;
}

void TTransTableItem::EndTransaction(int32_t Id) {
  auto it = FOpenTransactions.find(Id);
  if (it == FOpenTransactions.end()) return;
  const int32_t start = BufferPosition(it->second.Position);
  const int32_t count = FRecordCount - start;
  if (count > 0) {
    const void* data = FRecords.data() + FFront + start;
    const int32_t bytes = count * static_cast<int32_t>(sizeof(TNotificationRecord));
    for (TTcpSrvClient* session : FSubscribers) session->QueueRecords(data, bytes);
  }
  RemoveTransaction(Id);
}

void TTransTableItem::RemoveTransaction(int32_t Id) {
  auto it = FOpenTransactions.find(Id);
  if (it == FOpenTransactions.end()) return;
  const bool lowest = it == FOpenTransactions.begin();
  auto own = FStarts.find(it->second.Position);
  VEXA_INVARIANT(own != FStarts.end(), "an open transaction's start is kept");
  if (own != FStarts.end()) FStarts.erase(own);
  FOpenTransactions.erase(it);
  if (lowest) {
    // Records in front of every other open transaction's start belong to none
    // of them. Normally that is the start of the next id; after the ids wrap
    // round the lowest start can stand further back, so take the smallest.
    DropFront(FStarts.empty() ? FRecordCount : BufferPosition(*FStarts.begin()));
  }
  FDirty = true;
  CheckBuffer();
}

int32_t TTransTableItem::RollBackOrphans(const std::function<bool(uint32_t)>& Gone) {
  std::vector<int32_t> orphans;
  for (const auto& [id, open] : FOpenTransactions) {
    if (open.Writer != 0 && Gone(open.Writer)) orphans.push_back(id);
  }
  for (int32_t id : orphans) RemoveTransaction(id);
  return static_cast<int32_t>(orphans.size());
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
  const TNotificationRecord rec =
      TNotificationRecord::Ack(static_cast<uint8_t>(ATableID), Code, Value);
  if (!RoomFor(sizeof(rec))) return;
  QueueSendData(&rec, static_cast<int32_t>(sizeof(rec)));
  Send(nullptr, 0);
}

void TTcpSrvClient::QueueRecords(const void* Data, int32_t Len) {
  if (Len <= 0 || !RoomFor(Len)) return;
  QueueSendData(Data, Len);
}

int32_t TTcpSrvClient::Send(const void* Data, int32_t Len) {
  if (FQueueOverflowed) return -1;
  if (Len > 0 && !RoomFor(Len)) return -1;
  return TNetSocketClient::Send(Data, Len);
}

const std::string& TTcpSrvClient::WhoLine() {
  if (FWhoLine.empty() || FWhoTime != ConnectTime) {
    FWhoTime = ConnectTime;
    FWhoLine = PeerAddr() + ":" + PeerPort() + " " + ConnectTimeText(ConnectTime) + "\r\n";
  }
  return FWhoLine;
}

bool TTcpSrvClient::RoomFor(int64_t Len) {
  if (FQueueOverflowed) return false;
  if (SendQueueLimit <= 0 || QueuedSize() + Len <= SendQueueLimit) return true;
  FQueueOverflowed = true;
  if (OnQueueOverflow) {
    try {
      OnQueueOverflow(this);
    } catch (...) {
    }
  }
  // Abort drops the queue at once; the server frees the session from its
  // message loop as after any other close.
  try {
    Abort();
  } catch (...) {
  }
  return false;
}

// ---------------------------------------------------------------------------
// Commands

namespace {

// The table number of an S or U line: blanks, then decimal digits with an
// optional minus, up to the end of the line. Anything else (a sign of plus,
// hex, tabs, trailing blanks, bytes behind the digits, a value beyond 32
// bits) is not a number and reads as 0.
int32_t CommandNumber(const std::string& Text) {
  size_t i = 0;
  while (i < Text.size() && Text[i] == ' ') i++;
  bool negative = false;
  if (i < Text.size() && Text[i] == '-') {
    negative = true;
    i++;
  }
  if (i == Text.size()) return 0;
  int64_t value = 0;
  for (; i < Text.size(); i++) {
    const char c = Text[i];
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return 0;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(value);
}

}  // namespace

TServerCommand ParseServerCommand(const std::string& Received) {
  TServerCommand cmd;
  cmd.Line = fw::UpperCase(Received);
  while (!cmd.Line.empty() && (cmd.Line.back() == '\r' || cmd.Line.back() == '\n'))
    cmd.Line.pop_back();
  if (!cmd.Line.empty() && (cmd.Line[0] == 'S' || cmd.Line[0] == 'U')) {
    cmd.Kind = cmd.Line[0] == 'S' ? TServerCommandKind::Subscribe : TServerCommandKind::Unsubscribe;
    cmd.TableID = CommandNumber(cmd.Line.substr(1));
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
  if (Name.empty() || Name == "C" || Name == "POSIX" || Name.rfind("C.", 0) == 0)
    return locale_t(0);
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
  if (!Loc)
    return midnight ? fw::DateToStr(Value) : fw::DateToStr(Value) + " " + fw::TimeToStr(Value);
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
