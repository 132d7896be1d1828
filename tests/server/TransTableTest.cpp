// Table items: transaction brackets over the record buffer, the wire form of a
// record, the table view row, and how a gateway's command line is read.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "framework/ComCtrls.h"
#include "server/VexaKWVServer.h"

namespace vexa {
namespace {

std::string Bytes(const TNotificationRecord& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

std::string BufferBytes(const TTransTableItem& t) {
  std::string s;
  for (int32_t i = 0; i < t.RecordCount(); ++i) s += Bytes(t.Records(i));
  return s;
}

int32_t Lp(uint8_t table, char code, uint8_t r2 = 0, uint8_t r3 = 0) {
  return static_cast<int32_t>(table | (static_cast<uint32_t>(static_cast<uint8_t>(code)) << 8) |
                              (static_cast<uint32_t>(r2) << 16) |
                              (static_cast<uint32_t>(r3) << 24));
}

TEST(NotificationRecord, IsWParamThenLParamLittleEndian) {
  const auto r = TNotificationRecord::FromMessage(0x01020304, Lp(7, 'C', 0xAA, 0xBB));
  EXPECT_EQ(Bytes(r), std::string("\x04\x03\x02\x01\x07" "C" "\xAA\xBB", 8));
  const auto neg = TNotificationRecord::FromMessage(-2, Lp(255, 'D'));
  EXPECT_EQ(Bytes(neg), std::string("\xFE\xFF\xFF\xFF\xFF" "D" "\x00\x00", 8));
  const auto ack = TNotificationRecord::Ack(12, 'S', 0);
  EXPECT_EQ(Bytes(ack).substr(0, 6), std::string("\x00\x00\x00\x00\x0C" "S", 6));
}

TEST(TransTableItem, TransactionIdsCountUpFromThousandAndWrapToOne) {
  TTransTableItem t;
  EXPECT_EQ(t.BeginTransaction(), 1000);
  EXPECT_EQ(t.BeginTransaction(), 1001);
  EXPECT_EQ(t.TotalTrans(), 2);
  t.SetNextTransID(std::numeric_limits<int32_t>::max());
  EXPECT_EQ(t.BeginTransaction(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(t.BeginTransaction(), 1);
  EXPECT_EQ(t.TotalTrans(), 4);
}

TEST(TransTableItem, EndAndRollbackEmptyTheBuffer) {
  TTransTableItem t;
  const int32_t id = t.BeginTransaction();
  for (int i = 1; i <= 3; ++i) t.AddNotification(i, Lp(1, 'I'));
  EXPECT_EQ(t.RecordCount(), 3);
  t.EndTransaction(id);
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(t.MsgCount(), 3);
  EXPECT_EQ(t.TotalTrans(), 1);
  EXPECT_EQ(t.OpenTransactionCount(), 0);

  const int32_t id2 = t.BeginTransaction();
  t.AddNotification(4, Lp(1, 'I'));
  t.AddNotification(5, Lp(1, 'I'));
  t.RemoveTransaction(id2);
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(t.MsgCount(), 5);
}

TEST(TransTableItem, OverlappingTransactionsKeepSharedRecordsUntilTheLastEnds) {
  TTransTableItem t;
  const auto r1 = TNotificationRecord::FromMessage(1, Lp(3, 'I'));
  const auto r2 = TNotificationRecord::FromMessage(2, Lp(3, 'U'));
  const auto r3 = TNotificationRecord::FromMessage(3, Lp(3, 'D'));
  // T1, r1, T2, r2, T1 ends: r2 stays for T2.
  const int32_t t1 = t.BeginTransaction();
  t.AddNotification(1, Lp(3, 'I'));
  const int32_t t2 = t.BeginTransaction();
  t.AddNotification(2, Lp(3, 'U'));
  t.EndTransaction(t1);
  EXPECT_EQ(BufferBytes(t), Bytes(r2));
  t.AddNotification(3, Lp(3, 'D'));
  EXPECT_EQ(BufferBytes(t), Bytes(r2) + Bytes(r3));
  t.EndTransaction(t2);
  EXPECT_EQ(t.RecordCount(), 0);

  // T1, T2, r1, T2 ends first: T1 still covers r1.
  const int32_t a = t.BeginTransaction();
  const int32_t b = t.BeginTransaction();
  t.AddNotification(1, Lp(3, 'I'));
  t.EndTransaction(b);
  EXPECT_EQ(BufferBytes(t), Bytes(r1));
  t.EndTransaction(a);
  EXPECT_EQ(t.RecordCount(), 0);
}

TEST(TransTableItem, NotificationOutsideTransactionsWaitsForTheNextOldestEnd) {
  TTransTableItem t;
  t.AddNotification(9, Lp(2, 'I'));
  EXPECT_EQ(t.RecordCount(), 1);
  const int32_t id = t.BeginTransaction();
  t.AddNotification(10, Lp(2, 'I'));
  EXPECT_EQ(t.RecordCount(), 2);
  t.EndTransaction(id);
  EXPECT_EQ(t.RecordCount(), 0);
}

TEST(TransTableItem, UnknownIdsChangeNothing) {
  TTransTableItem t;
  const int32_t id = t.BeginTransaction();
  t.AddNotification(1, Lp(2, 'I'));
  t.EndTransaction(id + 5);
  t.RemoveTransaction(12345);
  t.EndTransaction(-1);
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.OpenTransactionCount(), 1);
  EXPECT_EQ(t.TotalTrans(), 1);
}

TEST(TransTableItem, WrappedIdsNeverDropRecordsAnOlderTransactionStillCovers) {
  // After the wrap the newest ids sort first. Rolling back the lowest id must
  // not drop the records of the transaction that began before the wrap.
  TTransTableItem t;
  t.SetNextTransID(std::numeric_limits<int32_t>::max());
  const int32_t old = t.BeginTransaction();  // 2147483647, starts at 0
  t.AddNotification(1, Lp(4, 'I'));
  const int32_t one = t.BeginTransaction();  // 1, starts at 1
  t.AddNotification(2, Lp(4, 'I'));
  const int32_t two = t.BeginTransaction();  // 2, starts at 2
  t.AddNotification(3, Lp(4, 'I'));
  t.RemoveTransaction(one);
  EXPECT_EQ(t.RecordCount(), 3);
  t.EndTransaction(two);
  EXPECT_EQ(t.RecordCount(), 3);
  const std::string expected = Bytes(TNotificationRecord::FromMessage(1, Lp(4, 'I'))) +
                               Bytes(TNotificationRecord::FromMessage(2, Lp(4, 'I'))) +
                               Bytes(TNotificationRecord::FromMessage(3, Lp(4, 'I')));
  EXPECT_EQ(BufferBytes(t), expected);
  t.EndTransaction(old);
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(t.OpenTransactionCount(), 0);
}

TEST(TransTableItem, BufferGrowsByFourThenSixteenThenAQuarter) {
  TTransTableItem t;
  const int32_t id = t.BeginTransaction();
  auto capacityAfter = [&](int n) {
    while (t.RecordCount() < n) t.AddNotification(t.RecordCount(), Lp(1, 'I'));
    return t.Capacity();
  };
  EXPECT_EQ(capacityAfter(1), 4);
  EXPECT_EQ(capacityAfter(5), 8);
  EXPECT_EQ(capacityAfter(9), 12);
  EXPECT_EQ(capacityAfter(13), 28);
  EXPECT_EQ(capacityAfter(77), 95);
  t.EndTransaction(id);
  EXPECT_EQ(t.RecordCount(), 0);
}

TEST(TransTableItem, RowShowsCountsOnRefreshAndClientsOnUnsubscribe) {
  fw::TListView view(nullptr);
  fw::TListItem* row = view.Items()->Add();
  row->SetCaption("7");
  for (int i = 0; i < 4; ++i) row->SubItems()->Add("");
  TTcpSrvClient a(nullptr);
  TTcpSrvClient b(nullptr);
  {
    TTransTableItem t;
    t.TableID = 7;
    row->SetData(&t);
    t.SetListItem(row);
    t.RefreshRow();
    EXPECT_EQ(row->SubItems()->Get(0), "");  // nothing changed yet

    t.Subscribe(&a);
    t.Subscribe(&a);
    t.Subscribe(&b);
    EXPECT_EQ(t.Subscribers().size(), 2u);
    const int32_t id = t.BeginTransaction();
    t.AddNotification(1, Lp(7, 'I'));
    t.AddNotification(2, Lp(7, 'I'));
    t.RefreshRow();
    EXPECT_EQ(row->SubItems()->Get(0) + "|" + row->SubItems()->Get(1) + "|" +
                  row->SubItems()->Get(2) + "|" + row->SubItems()->Get(3),
              "2|1|2|2");
    EXPECT_TRUE(t.Unsubscribe(&a));
    EXPECT_FALSE(t.Unsubscribe(&a));
    EXPECT_EQ(row->SubItems()->Get(3), "1");
    t.RemoveTransaction(id);
  }
  // A freed item leaves no pointer behind in its row.
  EXPECT_EQ(row->Data(), nullptr);
}

TEST(ServerCommand, LinesAreUpperCasedAndStrippedBeforeTheyAreRead) {
  auto c = ParseServerCommand("s 12\r\n");
  EXPECT_EQ(c.Kind, TServerCommandKind::Subscribe);
  EXPECT_EQ(c.TableID, 12);
  EXPECT_EQ(c.Line, "S 12");

  c = ParseServerCommand("U   7\r\n");
  EXPECT_EQ(c.Kind, TServerCommandKind::Unsubscribe);
  EXPECT_EQ(c.TableID, 7);

  c = ParseServerCommand("SUBSCRIBE\r\n");
  EXPECT_EQ(c.Kind, TServerCommandKind::Subscribe);
  EXPECT_EQ(c.TableID, 0);

  EXPECT_EQ(ParseServerCommand("S 12abc").TableID, 0);
  EXPECT_EQ(ParseServerCommand("S").TableID, 0);
  EXPECT_EQ(ParseServerCommand("S 300").TableID, 300);
  EXPECT_EQ(ParseServerCommand("S -1").TableID, -1);
  EXPECT_EQ(ParseServerCommand("S 99999999999").TableID, 0);

  EXPECT_EQ(ParseServerCommand("Exit\r\n").Kind, TServerCommandKind::Exit);
  EXPECT_EQ(ParseServerCommand("wHo\n").Kind, TServerCommandKind::Who);
  EXPECT_EQ(ParseServerCommand("who \r\n").Kind, TServerCommandKind::Unknown);

  c = ParseServerCommand("hello\r\n");
  EXPECT_EQ(c.Kind, TServerCommandKind::Unknown);
  EXPECT_EQ(c.Line, "HELLO");
  c = ParseServerCommand("\r\n");
  EXPECT_EQ(c.Kind, TServerCommandKind::Unknown);
  EXPECT_EQ(c.Line, "");
  // Only a-z change case; other bytes pass unchanged.
  EXPECT_EQ(ParseServerCommand("\xC3\xA9x\r\n").Line, "\xC3\xA9X");
}

TEST(ServerCommand, ConnectTimeLeavesOutMidnight) {
  const fw::TDateTime day = fw::EncodeDate(2024, 3, 5);
  EXPECT_EQ(ConnectTimeText(day, "C"), "03/05/2024");
  EXPECT_EQ(ConnectTimeText(day + fw::EncodeTime(14, 7, 9, 0), "C"), "03/05/2024 14:07:09");
  // The C locale in its other spellings, and a locale that is not installed,
  // keep the four-digit year "who" has always shown.
  for (const char* name : {"", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"})
    EXPECT_EQ(ConnectTimeText(day + fw::EncodeTime(23, 59, 58, 0), name), "03/05/2024 23:59:58")
        << name;
}

}  // namespace
}  // namespace vexa
