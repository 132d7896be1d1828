// The notify server's table items and gateway sessions.
//
// A TTransTableItem collects the change notifications the database side reports
// for one table number, brackets them by the database side's transactions and,
// when a transaction ends, queues its records for every subscribed gateway
// session. A TTcpSrvClient is one gateway's TCP session; the server form
// attaches the command handlers to it (MainServer).
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/SysUtils.h"
#include "shared/VexaIPC.h"
#include "shared/VexaList.h"
#include "sockets/NetSocketS.h"

namespace fw {
class TListItem;
}

namespace vexa {

class TTcpSrvClient;

static_assert(std::endian::native == std::endian::little,
              "records are stored in wire order (little-endian)");

// The only binary record on the link to a gateway: 8 bytes, little-endian, sent
// back to back. A notification is the database side's WParam followed by its
// LParam; an acknowledgement carries Value 0, the table and "S" or "U".
#pragma pack(push, 1)
struct TNotificationRecord {
  int32_t Value = 0;
  uint8_t TableID = 0;
  char Code = 0;
  uint8_t Reserved[2] = {0, 0};

  static TNotificationRecord FromMessage(int32_t WParam, int32_t LParam);
  static TNotificationRecord Ack(uint8_t TableID, char Code, int32_t Value);
};
#pragma pack(pop)
static_assert(sizeof(TNotificationRecord) == 8);

// A value that does not fit the field it is stored in ("Range check error").
class ERangeError : public fw::Exception {
public:
  using fw::Exception::Exception;
  const char* ClassName() const noexcept override { return "ERangeError"; }
};

// One table's notifications and open transactions.
class TTransTableItem : public fw::TComponent {
public:
  TTransTableItem();
  ~TTransTableItem() override;

  int32_t TableID = 0;

  // Appends the 8 bytes {WParam, LParam}; counts the message.
  void AddNotification(int32_t WParam, int32_t LParam);
  // Opens a transaction at the current end of the buffer; returns its id.
  // Writer names the process that will end it (0: not known).
  int32_t BeginTransaction(uint32_t Writer = 0);
  // Queues the transaction's records for every subscriber, then removes it.
  void EndTransaction(int32_t Id);
  // Removes an open transaction (also the rollback); drops records no open
  // transaction covers any more.
  void RemoveTransaction(int32_t Id);
  // Rolls back every open transaction whose writer is known and Gone: one
  // nobody will end would hold every later record of the table. Answers how many.
  int32_t RollBackOrphans(const std::function<bool(uint32_t Writer)>& Gone);
  int32_t AppendRecord(const TNotificationRecord& Rec);
  void DropFront(int32_t N);

  void Subscribe(TTcpSrvClient* Session);
  bool Unsubscribe(TTcpSrvClient* Session);
  // Rewrites the row's four count cells once the item has changed.
  void RefreshRow();

  int32_t RecordCount() const { return FRecordCount; }
  int32_t Capacity() const { return static_cast<int32_t>(FRecords.size()); }
  const TNotificationRecord& Records(int32_t Index) const {
    return FRecords.at(static_cast<size_t>(FFront) + static_cast<size_t>(Index));
  }
  int32_t NextTransID() const { return FNextTransID; }
  // Only for checking the id wrap-around.
  void SetNextTransID(int32_t Value) { FNextTransID = Value; }
  int32_t MsgCount() const { return FMsgCount; }
  int32_t TotalTrans() const { return FTotalTrans; }
  bool Dirty() const { return FDirty; }
  // Buffer positions (0..RecordCount) where the open transactions began, in
  // the order of their ids.
  std::vector<int32_t> TransactionStarts() const;
  int32_t OpenTransactionCount() const { return static_cast<int32_t>(FOpenTransactions.size()); }
  const std::vector<TTcpSrvClient*>& Subscribers() const { return FSubscribers; }

  fw::TListItem* ListItem() const { return FListItem; }
  void SetListItem(fw::TListItem* Value) { FListItem = Value; }

  TDisplayMessageEvent OnDisplay;

private:
  void Grow();
  void CheckBuffer() const;
  // Buffer position (0..RecordCount) of a position in the record stream.
  int32_t BufferPosition(int64_t StreamPosition) const;

  // Open transactions by id: where each began in the whole stream of records
  // (FBase is that of the buffer's first record), so dropping the front
  // changes no entry, and the process that writes it. Ordered by id, the
  // first is the lowest open id; a map keeps ending the oldest of many as
  // cheap as ending any other.
  struct TOpenTransaction {
    int64_t Position = 0;
    uint32_t Writer = 0;
  };
  std::map<int32_t, TOpenTransaction> FOpenTransactions;
  std::vector<TNotificationRecord> FRecords;  // size() is the capacity
  // Records dropped from the front leave a gap that is closed only when the
  // space is needed, so ending the oldest transaction moves no records.
  int32_t FFront = 0;
  int32_t FRecordCount = 0;
  // FStarts holds the start positions of the open transactions in order.
  int64_t FBase = 0;
  std::multiset<int64_t> FStarts;
  int32_t FNextTransID = 1000;
  int32_t FMsgCount = 0;
  int32_t FTotalTrans = 0;
  std::vector<TTcpSrvClient*> FSubscribers;
  bool FDirty = false;
  fw::TListItem* FListItem = nullptr;
};

// One gateway's session on the server's listener.
class TTcpSrvClient : public TNetSocketClient {
public:
  explicit TTcpSrvClient(fw::TComponent* AOwner);
  // Fires OnDestroy before the session itself goes.
  ~TTcpSrvClient() override;

  // Queues an acknowledgement record and sends everything queued so far.
  // Raises ERangeError, before queuing anything, for a table outside 0..255.
  void SendAck(int32_t ATableID, char Code, int32_t Value);
  // Appends bytes to the send buffer; they leave with the next Send.
  void QueueRecords(const void* Data, int32_t Len);
  // Sends nothing more once the session was closed for a full queue.
  int32_t Send(const void* Data, int32_t Len) override;

  // Most bytes the session may hold unsent (0: no limit). A peer that stops
  // reading would otherwise make the server keep everything meant for it;
  // past the limit the session is closed and its queue dropped.
  int64_t SendQueueLimit = 0;
  bool QueueOverflowed() const { return FQueueOverflowed; }
  // Fires once, when the limit is passed, before the session is closed.
  fw::TNotifyEvent OnQueueOverflow;

  // The tables this session subscribed to, each with the number of its
  // successful subscribe requests not yet taken back by an unsubscribe: a
  // table asked for again and again keeps one entry.
  std::map<int32_t, uint32_t> TableIDs;
  fw::TDateTime ConnectTime = 0;
  std::string Line;  // the last received line, upper-cased, without CR and LF
  // The session's line in the answer to "who", made once: peer address and
  // port, connect time, CR LF.
  const std::string& WhoLine();

  fw::TNotifyEvent OnDestroy;
  TDisplayMessageEvent OnDisplay;

private:
  // False (and the session closed) when Len more bytes would pass the limit.
  bool RoomFor(int64_t Len);
  bool FQueueOverflowed = false;
  std::string FWhoLine;
  fw::TDateTime FWhoTime = 0;
};

// A gateway's command line as the session handler understands it.
enum class TServerCommandKind { Subscribe, Unsubscribe, Exit, Who, Unknown };

struct TServerCommand {
  TServerCommandKind Kind = TServerCommandKind::Unknown;
  int32_t TableID = 0;  // for Subscribe and Unsubscribe
  std::string Line;     // upper-cased (a-z only), trailing CR and LF removed
};

// Reads one received line: "S" or "U" followed by a number (leading blanks
// allowed; anything that is not a number reads as 0), "exit", "who", or anything else.
TServerCommand ParseServerCommand(const std::string& Received);

// The text a connect time is shown with in "who": the short date, a blank and
// the long time of the locale the program runs in (LC_ALL, else LC_TIME, else
// LANG); the time is left out at exactly midnight. The C locale, and one that
// is not installed, give "mm/dd/yyyy hh:nn:ss".
std::string ConnectTimeText(fw::TDateTime Value);
// The same in the named locale.
std::string ConnectTimeText(fw::TDateTime Value, const std::string& LocaleName);

}  // namespace vexa
