// labels: unit
#include "gateway/NotifyRecordReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexa {
namespace {

std::string Record(int32_t value, uint8_t table, char code, uint8_t r1 = 0, uint8_t r2 = 0) {
  uint32_t v = static_cast<uint32_t>(value);
  std::string s;
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
  s.push_back(static_cast<char>((v >> 16) & 0xFF));
  s.push_back(static_cast<char>((v >> 24) & 0xFF));
  s.push_back(static_cast<char>(table));
  s.push_back(code);
  s.push_back(static_cast<char>(r1));
  s.push_back(static_cast<char>(r2));
  return s;
}

struct Collected {
  std::vector<TProviderRecord> Records;
  TNotifyRecordReader::TRecordHandler Handler() {
    return [this](const TProviderRecord& r) { Records.push_back(r); };
  }
};

void Feed(TNotifyRecordReader& reader, const std::string& bytes,
          const TNotifyRecordReader::TRecordHandler& h) {
  reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), h);
}

TEST(GreetingCheck, AcceptsGreetingAndBusyBannerInAnyLetterCase) {
  EXPECT_EQ(CheckGreeting("VEXA Notify Server\r\n", 20), TGreetingKind::gkGreeting);
  EXPECT_EQ(CheckGreeting("vexa notify server\r\n", 20), TGreetingKind::gkGreeting);
  EXPECT_EQ(CheckGreeting("VEXA Notify Server", 18), TGreetingKind::gkGreeting);
  EXPECT_EQ(CheckGreeting("Busy              \r\n", 20), TGreetingKind::gkBusy);
  EXPECT_EQ(CheckGreeting("BUSY              \r\n", 20), TGreetingKind::gkBusy);
}

TEST(GreetingCheck, RefusesShortReadsOtherTextAndNonLetterCaseFolding) {
  // The first part of a greeting sent in two parts.
  EXPECT_EQ(CheckGreeting("VEXA Notify", 11), TGreetingKind::gkUnknown);
  EXPECT_EQ(CheckGreeting("VEXA Notify Serve", 17), TGreetingKind::gkUnknown);
  EXPECT_EQ(CheckGreeting("", 0), TGreetingKind::gkUnknown);
  EXPECT_EQ(CheckGreeting(nullptr, 20), TGreetingKind::gkUnknown);
  EXPECT_EQ(CheckGreeting("VEXA Notify Server", -1), TGreetingKind::gkUnknown);
  EXPECT_EQ(CheckGreeting("SSH-2.0-OpenSSH_9.2\r\n", 20), TGreetingKind::gkUnknown);
  // "Busy" with fewer blanks, and case folding limited to a-z (0x20 vs 0x00).
  EXPECT_EQ(CheckGreeting("Busy\r\n              ", 20), TGreetingKind::gkUnknown);
  std::string nul("VEXA\0Notify Server\r\n", 20);
  EXPECT_EQ(CheckGreeting(nul.data(), 20), TGreetingKind::gkUnknown);
  EXPECT_EQ(CheckGreeting("VEXA@Notify Server\r\n", 20), TGreetingKind::gkUnknown);
}

TEST(RecordReader, DecodesFieldsLittleEndianAndIgnoresReservedBytes) {
  TNotifyRecordReader reader;
  Collected c;
  Feed(reader, Record(0x01020304, 7, 'I', 0xAA, 0xBB) + Record(-2, 255, 'D'), c.Handler());
  ASSERT_EQ(c.Records.size(), 2u);
  EXPECT_EQ(c.Records[0].Value, 0x01020304);
  EXPECT_EQ(c.Records[0].TableID, 7);
  EXPECT_EQ(c.Records[0].Code, 'I');
  EXPECT_EQ(c.Records[1].Value, -2);
  EXPECT_EQ(c.Records[1].TableID, 255);
  EXPECT_EQ(c.Records[1].Code, 'D');
  EXPECT_EQ(reader.Held(), 0u);
}

TEST(RecordReader, ReadOfTwelveThenFourBytesYieldsTwoRecords) {
  TNotifyRecordReader reader;
  Collected c;
  std::string two = Record(11, 3, 'C') + Record(22, 4, 'I');
  Feed(reader, two.substr(0, 12), c.Handler());
  ASSERT_EQ(c.Records.size(), 1u);
  EXPECT_EQ(reader.Held(), 4u);
  Feed(reader, two.substr(12), c.Handler());
  ASSERT_EQ(c.Records.size(), 2u);
  EXPECT_EQ(c.Records[0].Value, 11);
  EXPECT_EQ(c.Records[1].Value, 22);
  EXPECT_EQ(c.Records[1].TableID, 4);
  EXPECT_EQ(reader.Held(), 0u);
}

TEST(RecordReader, EverySplitOfAStreamGivesTheSameRecordsInOrder) {
  std::string stream;
  for (int i = 0; i < 20; ++i) stream += Record(i * 1000 - 7, static_cast<uint8_t>(i + 1), "CDI"[i % 3]);
  // Byte at a time, then cuts at every position and with uneven read sizes.
  for (size_t step : {1u, 3u, 5u, 7u, 9u, 13u, 160u}) {
    TNotifyRecordReader reader;
    Collected c;
    for (size_t pos = 0; pos < stream.size(); pos += step) Feed(reader, stream.substr(pos, step), c.Handler());
    ASSERT_EQ(c.Records.size(), 20u) << "step " << step;
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(c.Records[i].Value, i * 1000 - 7);
      EXPECT_EQ(c.Records[i].TableID, i + 1);
    }
  }
}

TEST(RecordReader, ReadNestedInsideAHandlerIsHandledAfterTheOuterRecords) {
  // A relay that pumps messages lets the socket deliver the next read while
  // record 1 is being handled; the stream is 1, 2, 3 (split over the two
  // reads), 4, and that is the order the handler must see.
  TNotifyRecordReader reader;
  std::vector<int32_t> order;
  bool nested = false;
  TNotifyRecordReader::TRecordHandler h = [&](const TProviderRecord& r) {
    order.push_back(r.Value);
    if (!nested) {
      nested = true;
      Feed(reader, Record(3, 1, 'I').substr(2) + Record(4, 1, 'I'), h);
      EXPECT_EQ(order.size(), 1u) << "nested read must not overtake the outer records";
    }
  };
  Feed(reader, Record(1, 1, 'I') + Record(2, 1, 'I') + Record(3, 1, 'I').substr(0, 2), h);
  EXPECT_EQ(order, (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(reader.Held(), 0u);
}

TEST(RecordReader, ExceptionInHandlerKeepsRemainingRecordsForTheNextRead) {
  TNotifyRecordReader reader;
  std::vector<int32_t> seen;
  bool thrown = false;
  auto h = [&](const TProviderRecord& r) {
    seen.push_back(r.Value);
    if (!thrown && r.Value == 2) {
      thrown = true;
      throw std::runtime_error("handler failed");
    }
  };
  std::string s = Record(1, 1, 'I') + Record(2, 1, 'I') + Record(3, 1, 'I') + Record(4, 1, 'I').substr(0, 3);
  EXPECT_THROW(Feed(reader, s, h), std::runtime_error);
  Feed(reader, Record(4, 1, 'I').substr(3), h);
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(reader.Held(), 0u);
}

TEST(RecordReader, LateLineEndBytesOfTheGreetingAreSkippedOnce) {
  TNotifyRecordReader reader;
  Collected c;
  reader.ExpectPrefix("\r\n");
  Feed(reader, std::string("\r\n") + Record(5, 2, 'C'), c.Handler());
  ASSERT_EQ(c.Records.size(), 1u);
  EXPECT_EQ(c.Records[0].Value, 5);
  // Once records flow, CR and LF bytes are ordinary record bytes.
  Feed(reader, Record(0x0A0D, 2, 'C'), c.Handler());
  ASSERT_EQ(c.Records.size(), 2u);
  EXPECT_EQ(c.Records[1].Value, 0x0A0D);
}

TEST(RecordReader, ResetDropsAnIncompleteRecordOfTheOldSession) {
  TNotifyRecordReader reader;
  Collected c;
  Feed(reader, Record(9, 9, 'I').substr(0, 6), c.Handler());
  reader.Reset();
  Feed(reader, Record(10, 3, 'D'), c.Handler());
  ASSERT_EQ(c.Records.size(), 1u);
  EXPECT_EQ(c.Records[0].Value, 10);
  EXPECT_EQ(c.Records[0].TableID, 3);
}

}  // namespace
}  // namespace vexa
