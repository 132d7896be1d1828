// labels: integration
// timeout: 300
// 500 connections throw random bytes, over-long lines and half-open closes at
// beaconhub while one real gateway session keeps receiving every record.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "tests/server/ServerHarness.h"

namespace vexa::test {
namespace {

using namespace std::string_literals;

void ResetClose(TcpClient& c) {
  linger l{1, 0};
  setsockopt(c.Fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  c.Close();
}

// Whatever the 500 do, the attack itself never reads beyond what arrives.
void Attack(int port, std::atomic<int>& connected, std::atomic<bool>& done) {
  std::mt19937 rng(20240305);
  auto rnd = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::vector<std::unique_ptr<TcpClient>> clients;
  for (int i = 0; i < 500; ++i) {
    auto c = std::make_unique<TcpClient>(port);
    if (!c->Ok()) continue;
    // Waiting for the greeting keeps the listener's short accept queue from
    // overflowing (the kernel would then delay connects by whole seconds).
    if (c->ReadLine() != "VEXA Notify Server") continue;
    ++connected;
    std::string junk;
    switch (i % 5) {
      case 0: {  // random bytes, line ends among them
        const int n = 1 + rnd(400);
        for (int k = 0; k < n; ++k) junk += static_cast<char>(rnd(256));
        break;
      }
      case 1:  // an over-long line
        junk = std::string(81 + rnd(5000), static_cast<char>('A' + rnd(26)));
        break;
      case 2:  // commands with odd numbers and bytes
        junk = "S " + std::to_string(static_cast<int>(rng())) +
               "\r\nU -3\r\nS\r\n\x00\xFF\r\nwho\r\n"s;
        break;
      case 3:  // half a line, then the sending side shut
        junk = "S 2";
        break;
      default:  // many short lines at once
        for (int k = 0; k < 50; ++k)
          junk += std::string(rnd(80), static_cast<char>(' ' + rnd(90))) + "\r\n";
        break;
    }
    c->Send(junk);
    if (i % 5 == 3) c->ShutdownWrite();
    if (i % 7 == 0) {
      ResetClose(*c);
    } else if (i % 3 == 0) {
      c->Close();
    } else {
      clients.push_back(std::move(c));  // stays open, unread, to the end
    }
  }
  for (size_t k = 0; k < clients.size(); ++k) {
    if (k % 2) {
      ResetClose(*clients[k]);
    } else {
      clients[k]->Close();
    }
  }
  done = true;
}

using BeaconhubBadInput = test::HubTest;

TEST_F(BeaconhubBadInput, FiveHundredBadConnectionsNeverCostAGatewayARecord) {
  RaiseFileLimit();
  StartHub(10);
  DbSide db;
  ASSERT_TRUE(db.Connect());

  auto gw = std::make_unique<TcpClient>(port);
  ASSERT_EQ(gw->ReadLine().value_or(""), "VEXA Notify Server");
  gw->Send("S 20\r\n");
  ASSERT_EQ(Hex(gw->Read(8).value_or("")), Hex(Record(0, 20, 'S')));

  std::atomic<int> connected{0};
  std::atomic<bool> attackDone{false};
  std::thread attacker(Attack, port, std::ref(connected), std::ref(attackDone));

  // Meanwhile the database side commits transactions for table 20, at least
  // 150 and on until the attack is over; the gateway reads as it goes so
  // nothing waits on a full socket buffer.
  std::string expected;
  std::string received;
  int32_t value = 0;
  bool fed = true;
  for (int t = 0; fed && t < 20000 && (t < 150 || !attackDone); ++t) {
    const int64_t id = db.Begin(20);
    for (int k = 0; k < 4; ++k) {
      ++value;
      fed = fed && db.Note(20, "ICDU"[k], value) == 1;
      expected += Record(value, 20, "ICDU"[k]);
    }
    if (t % 10 == 9) {
      db.Rollback(20, id);  // rolled back: nothing of it is sent
      expected.resize(expected.size() - 32);
    } else {
      db.End(20, id);
    }
    gw->Gather();
  }
  attacker.join();
  EXPECT_TRUE(attackDone);
  ASSERT_TRUE(fed) << "the database side was not answered";
  EXPECT_EQ(connected.load(), 500);

  const auto all = gw->Read(expected.size());
  ASSERT_TRUE(all.has_value()) << "received " << gw->Pending().size() << " of " << expected.size()
                               << " bytes";
  EXPECT_TRUE(*all == expected) << "the record stream differs";

  // The server still serves: a new gateway is greeted and answered.
  TcpClient late(port);
  EXPECT_EQ(late.ReadLine().value_or(""), "VEXA Notify Server");
  late.Send("hello\r\n");
  EXPECT_EQ(late.ReadLine().value_or(""), "Unknown command: 'HELLO'");
  EXPECT_TRUE(hub->Process().Running());
  // And it still shuts down the orderly way.
  EXPECT_EQ(hub->Stop(), 0);
}

}  // namespace
}  // namespace vexa::test
