// labels: integration
// timeout: 120
// beaconhub under pressure: descriptors used up, a subscriber that never reads,
// one session flooding lines among thousands, a burst of connects, a restart
// over sessions in TIME-WAIT, and the exact reading of the table numbers of S
// and U lines.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "tests/server/ServerHarness.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/Sanitizers.h"

namespace vexa::test {
namespace {

using namespace std::string_literals;

// Sends round over and over until stop is set, waiting while the socket is full.
void Flood(int fd, const std::string& round, const std::atomic<bool>& stop) {
  size_t at = 0;
  while (!stop) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t n = send(fd, round.data() + at, round.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno != EAGAIN) return;
    if (n > 0) at = (at + static_cast<size_t>(n)) % round.size();
  }
}

// Threads that run until the test's end, however it ends.
struct Workers {
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  ~Workers() { Join(); }
  void Join() {
    stop = true;
    for (auto& t : threads) t.join();
    threads.clear();
  }
};

// A connected client whose receive window is kept small, so what the server
// sends it piles up in the server rather than in the kernel.
int SmallWindowClient(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int small = 4096;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string ReadExactly(int fd, size_t n) {
  std::string out;
  char buf[256];
  while (out.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) break;
    ssize_t got = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
    if (got <= 0) break;
    out.append(buf, static_cast<size_t>(got));
  }
  return out;
}

using ServerLimits = test::HubTest;

TEST_F(ServerLimits, DescriptorsUsedUpAreLoggedOnceAndServingResumesByItself) {
  if (test::kAddressSanitizer) GTEST_SKIP() << "the sanitizer's checks fail once the descriptors are used up";
  Beaconhub hub(session, IniFor(port), /*start=*/false);
  // Soft limit 32, hard limit 96: the program lifts its own soft limit.
  ChildProcess p("/usr/bin/prlimit", {"--nofile=32:96", "--", hub.Dir() + "/beaconhub"});
  ASSERT_TRUE(p.WaitForLine("Listening for clients on adapter ", kWait));

  std::vector<std::unique_ptr<TcpClient>> flood;
  for (int i = 0; i < 120; ++i) {
    flood.push_back(std::make_unique<TcpClient>(port));
    ASSERT_TRUE(flood.back()->Ok()) << i;
  }
  ASSERT_TRUE(p.WaitForLine("Error 10024 in function Accept", kWait));
  // Every session accepted before the shortage was greeted before it was logged.
  std::vector<TcpClient*> greeted, waiting;
  for (auto& c : flood) {
    c->Gather();
    (c->Pending().rfind("VEXA Notify Server\r\n", 0) == 0 ? greeted : waiting).push_back(c.get());
  }
  EXPECT_GT(greeted.size(), 32u) << "the soft limit was not lifted";
  ASSERT_FALSE(waiting.empty());
  for (TcpClient* c : greeted) ASSERT_EQ(c->ReadLine(), "VEXA Notify Server");

  // The shortage goes on: no line per attempt, and no session object per attempt.
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(CountLines(p, "in function Accept"), 1);
  TcpClient* keeper = greeted.front();
  ASSERT_TRUE(keeper->Send("who\r\n"));
  EXPECT_EQ(keeper->ReadLine(),
            "There are " + std::to_string(greeted.size()) + " connected users:");
  for (size_t i = 0; i < greeted.size(); ++i) ASSERT_TRUE(keeper->ReadLine()) << i;

  // Descriptors come free: the waiting connections are served without help.
  for (TcpClient* c : greeted) {
    if (c != keeper) c->Close();
  }
  while (waiting.size() + 4 > greeted.size()) {
    waiting.back()->Close();
    waiting.pop_back();
  }
  for (TcpClient* c : waiting) EXPECT_EQ(c->ReadLine(), "VEXA Notify Server");
  // Only live sessions are left once the closed ones have been handled.
  const std::string expected =
      "There are " + std::to_string(waiting.size() + 1) + " connected users:";
  std::string answer;
  const auto end = std::chrono::steady_clock::now() + kWait;
  while (answer != expected && std::chrono::steady_clock::now() < end) {
    ASSERT_TRUE(keeper->Send("who\r\n"));
    answer = keeper->ReadLine().value_or("<none>");
    const int count = std::stoi(answer.substr(10));
    for (int i = 0; i < count; ++i) ASSERT_TRUE(keeper->ReadLine());
  }
  EXPECT_EQ(answer, expected);
  EXPECT_EQ(CountLines(p, "in function Accept"), 1);

  // A second shortage is a second episode; SIGTERM still ends the program.
  std::vector<std::unique_ptr<TcpClient>> second;
  for (int i = 0; i < 60; ++i) second.push_back(std::make_unique<TcpClient>(port));
  ASSERT_TRUE(p.WaitForLine("Error 10024 in function Accept", kWait));
  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kWait)), 0);
  EXPECT_EQ(CountLines(p, "in function Accept"), 2);
}

TEST_F(ServerLimits, SubscriberThatNeverReadsIsClosedPastItsQueueLimitAndMemoryComesBack) {
  StartHub(20, "MaxSendQueueKB=2048\n");
  DbSide db;
  ASSERT_TRUE(db.Connect());

  // A gateway that reads everything keeps its session.
  TcpClient live(port);
  ASSERT_EQ(live.ReadLine(), "VEXA Notify Server");
  ASSERT_TRUE(live.Send("S 5\r\n"));
  ASSERT_EQ(live.Read(8), Record(0, 5, 'S'));
  std::atomic<bool> stop{false};
  std::atomic<int64_t> liveBytes{0};
  std::thread reader([&] {
    char buf[65536];
    while (!stop) {
      pollfd pf{live.Fd(), POLLIN, 0};
      if (poll(&pf, 1, 50) <= 0) continue;
      ssize_t n = recv(live.Fd(), buf, sizeof buf, 0);
      if (n <= 0) break;
      liveBytes += n;
    }
  });

  const int stuck = SmallWindowClient(port);
  ASSERT_GE(stuck, 0);
  ASSERT_EQ(ReadExactly(stuck, 20), "VEXA Notify Server\r\n");
  ASSERT_EQ(send(stuck, "S 5\r\n", 5, MSG_NOSIGNAL), 5);
  ASSERT_EQ(ReadExactly(stuck, 8), Record(0, 5, 'S'));
  const int64_t before = StatusKB(hub->Process().Pid(), "VmRSS");

  // 1500 overlapping transactions over the same 1000 records: each end
  // queues 8000 bytes for each subscriber, 12 MB in all.
  std::vector<int64_t> ids;
  for (int i = 0; i < 1500; ++i) ids.push_back(db.Begin(5));
  for (int i = 0; i < 1000; ++i) db.Note(5, 'I', i);
  // A live gateway keeps up between flushes: the ends come in steps it can follow.
  for (size_t i = 0; i < ids.size(); ++i) {
    db.End(5, ids[i]);
    if (i % 100 != 99) continue;
    const int64_t sent = static_cast<int64_t>(i + 1) * 8000;
    const auto end = std::chrono::steady_clock::now() + kWait;
    while (liveBytes < sent && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(5ms);
  }

  ASSERT_TRUE(hub->WaitFor(" closed: more than 2048 KB waiting to be sent"));
  // The reading gateway got every record; the stuck one is cut off.
  const int64_t all = 1500LL * 1000 * 8;
  const auto end = std::chrono::steady_clock::now() + kWait;
  while (liveBytes < all && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(liveBytes.load(), all);
  stop = true;
  reader.join();
  std::string rest;
  char buf[65536];
  for (;;) {
    pollfd pf{stuck, POLLIN, 0};
    if (poll(&pf, 1, 20000) <= 0) break;
    ssize_t n = recv(stuck, buf, sizeof buf, 0);
    if (n <= 0) break;
    rest.append(buf, static_cast<size_t>(n));
  }
  close(stuck);
  EXPECT_LT(rest.size(), static_cast<size_t>(all)) << "the stuck session was not cut off";
  EXPECT_EQ(CountLines(hub->Process(), "waiting to be sent"), 1);
  // The live gateway's session is still served.
  ASSERT_TRUE(live.Send("U 5\r\n"));
  EXPECT_EQ(live.Read(8), Record(0, 5, 'U'));
  // What was queued for it is given back (within a few MB of the start).
  if (test::kAddressSanitizer) GTEST_SKIP() << "the sanitizer keeps freed memory resident";
  EXPECT_LT(StatusKB(hub->Process().Pid(), "VmRSS"), before + 4096);
}

// A database-side process killed inside its transaction holds nothing back:
// 600,000 later notifications of the table (4.8 MB of records) each reach
// the subscribed gateway, and the server's memory stays within 2 MB.
TEST_F(ServerLimits, AWriterKilledInsideItsTransactionHoldsBackNoLaterRecord) {
  if (test::kAddressSanitizer) GTEST_SKIP() << "the sanitizer keeps freed memory resident";
  StartHub();
  {
    DbSide killed;
    ASSERT_TRUE(killed.Connect());
    ASSERT_EQ(killed.Begin(7), 1000);
    ASSERT_EQ(killed.Note(7, 'I', -1), 1);
    killed.Process().Signal(SIGKILL);
    killed.Process().Wait(kWait);
  }
  DbSide db;
  ASSERT_TRUE(db.Connect());
  auto gw = Gateway(port, {7});
  constexpr int kBatch = 10000;
  std::string batch;
  for (int i = 0; i < kBatch; ++i) batch += Record(i, 7, 'I');
  int64_t before = 0;
  for (int b = 0; b < 60; ++b) {
    ASSERT_EQ(db.Result("run 7 " + std::to_string(kBatch)), 1001 + b);
    ASSERT_TRUE(gw->Read(batch.size()) == batch) << "batch " << b;
    if (b == 0) before = StatusKB(hub->Process().Pid(), "VmRSS");  // its buffers are made by now
  }
  EXPECT_LT(StatusKB(hub->Process().Pid(), "VmRSS"), before + 2048);
}

TEST_F(ServerLimits, OneSessionFloodingLinesNeitherStallsTheDatabaseSideNorGrowsTheServer) {
  // Each "who" lists every session: thousands of idle ones make it long.
  const int idle = static_cast<int>(std::clamp<int64_t>(RaiseFileLimit() - 200, 100, 2000));
  StartHub();
  DbSide db;
  ASSERT_TRUE(db.Connect());
  auto sub = Gateway(port, {9});
  std::vector<std::unique_ptr<TcpClient>> quiet;
  for (int i = 0; i < idle; ++i) {
    quiet.push_back(std::make_unique<TcpClient>(port));
    ASSERT_TRUE(quiet.back()->Ok()) << i;
  }
  const std::string all = "There are " + std::to_string(idle + 1) + " connected users:";
  std::string header;
  for (auto end = std::chrono::steady_clock::now() + kWait;
       header != all && std::chrono::steady_clock::now() < end;) {
    ASSERT_TRUE(sub->Send("who\r\n"));
    header = sub->ReadLine().value_or("<none>");
    ASSERT_EQ(header.rfind("There are ", 0), 0u) << header;
    for (int i = std::stoi(header.substr(10)); i > 0; --i) ASSERT_TRUE(sub->ReadLine());
  }
  ASSERT_EQ(header, all);
  const int64_t before = StatusKB(hub->Process().Pid(), "VmRSS");

  // Valid and invalid lines without pause: one session reads its answers,
  // one never does.
  std::string round;
  for (int i = 0; i < 200; ++i) round += "who\r\n";
  for (int i = 0; i < 2000; ++i) round += "S 1\r\n";
  for (int i = 0; i < 500; ++i) round += "U 1\r\nnonsense\r\n";
  TcpClient reading(port);
  const int stuck = SmallWindowClient(port);
  ASSERT_TRUE(reading.Ok() && stuck >= 0);
  Workers flood;
  std::atomic<int64_t> answered{0};
  flood.threads.emplace_back(Flood, reading.Fd(), round, std::cref(flood.stop));
  flood.threads.emplace_back(Flood, stuck, round, std::cref(flood.stop));
  flood.threads.emplace_back([&] {
    char buf[65536];
    while (!flood.stop) {
      pollfd p{reading.Fd(), POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      ssize_t n = recv(reading.Fd(), buf, sizeof buf, 0);
      if (n <= 0) break;
      answered += n;
    }
  });
  for (auto end = std::chrono::steady_clock::now() + kWait;
       answered < (1 << 20) && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(10ms);

  // Meanwhile each call of the database side is answered well inside its
  // 5 s time-out, and every committed change reaches the subscriber.
  const int64_t answeredBefore = answered;
  const std::string probe = db.Ask("probe 9 150");
  const int64_t answeredDuring = answered - answeredBefore;
  flood.Join();
  const auto [slowest, failed] = [&] {
    int ms = -1, n = -1;
    std::sscanf(probe.c_str(), "slowest %d failed %d", &ms, &n);
    return std::pair{ms, n};
  }();
  EXPECT_EQ(failed, 0) << probe;
  EXPECT_GE(slowest, 0) << probe;
  EXPECT_LT(slowest, 500) << probe;
  EXPECT_GT(answeredDuring, 1 << 20) << "the flood was not being served";
  std::string expected;
  for (int i = 0; i < 150; ++i) expected += Record(i, 9, 'I');
  EXPECT_TRUE(sub->Read(expected.size()) == expected) << "records lost or out of order";
  close(stuck);
  // At its peak the server held no more than 32 MB beyond what it held before.
  if (test::kAddressSanitizer) GTEST_SKIP() << "the sanitizer's own memory use is far larger";
  EXPECT_LT(StatusKB(hub->Process().Pid(), "VmHWM"), before + 32 * 1024);
}

TEST_F(ServerLimits, BurstOfTwoHundredConnectsIsAllGreeted) {
  StartHub();
  std::vector<std::unique_ptr<TcpClient>> burst;
  for (int i = 0; i < 200; ++i) {
    burst.push_back(std::make_unique<TcpClient>(port));
    ASSERT_TRUE(burst.back()->Ok()) << i;
  }
  for (size_t i = 0; i < burst.size(); ++i)
    EXPECT_EQ(burst[i]->ReadLine(), "VEXA Notify Server") << i;
  ASSERT_TRUE(burst.front()->Send("who\r\n"));
  EXPECT_EQ(burst.front()->ReadLine(), "There are 200 connected users:");
}

TEST_F(ServerLimits, RestartOverSessionsInTimeWaitListensAtOnce) {
  {
    Beaconhub hub(session, IniFor(port));
    ASSERT_TRUE(hub.WaitListening());
    // Sessions the server ends itself leave their side in TIME-WAIT.
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (int i = 0; i < 3; ++i) {
      clients.push_back(std::make_unique<TcpClient>(port));
      ASSERT_EQ(clients.back()->ReadLine(), "VEXA Notify Server");
      ASSERT_TRUE(clients.back()->Send("exit\r\n"));
    }
    for (auto& c : clients) EXPECT_TRUE(c->ReadToClose());
    clients.push_back(std::make_unique<TcpClient>(port));
    ASSERT_EQ(clients.back()->ReadLine(), "VEXA Notify Server");
    EXPECT_EQ(hub.Stop(), 0);
  }
  Beaconhub again(session, IniFor(port));
  ASSERT_TRUE(again.WaitListening());
  TcpClient c(port);
  EXPECT_EQ(c.ReadLine(), "VEXA Notify Server");
  EXPECT_EQ(CountLines(again.Process(), "10048"), 0);
}

TEST_F(ServerLimits, TableNumbersOfSAndUAreReadExactly) {
  StartHub();
  TcpClient c(port);
  ASSERT_EQ(c.ReadLine(), "VEXA Notify Server");
  struct Case {
    std::string line;
    uint8_t table;
    char code;
  };
  // Blanks, then decimal digits up to the end of the line; anything else is 0.
  const Case cases[] = {
      {"S 7", 7, 'S'},    {"s   9", 9, 'S'}, {"S7", 7, 'S'},      {"S 7 ", 0, 'S'},
      {"S\t7", 0, 'S'},   {"S +7", 0, 'S'},  {"S $7", 0, 'S'},    {"S 0x7", 0, 'S'},
      {"S\0 7"s, 0, 'S'}, {"S 007", 7, 'S'}, {"U 7 ", 0, 'U'},    {"U 7", 7, 'U'},
      {"S 7", 7, 'S'},    {"S 7x", 0, 'S'},  {"S 255", 255, 'S'}, {"S 4294967303", 0, 'S'}};
  for (const Case& k : cases) {
    ASSERT_TRUE(c.Send(k.line + "\r\n"));
    EXPECT_EQ(Hex(c.Read(8).value_or("")), Hex(Record(0, k.table, k.code))) << Hex(k.line);
  }
  // Only the exact numbers subscribed: a record for table 7 reaches this session once.
  DbSide db;
  ASSERT_TRUE(db.Connect());
  const int64_t id = db.Begin(7);
  db.Note(7, 'I', 42);
  db.End(7, id);
  EXPECT_EQ(Hex(c.Read(8).value_or("")), Hex(Record(42, 7, 'I')));
}

}  // namespace
}  // namespace vexa::test
