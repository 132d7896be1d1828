// labels: integration
// Line mode (cutting, limit, echo, editing, mode switches, stalled readers)
// and the blocking wait, over loopback TCP.
#include <memory>
#include <string>
#include <vector>

#include "tests/sockets/SocketTestKit.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using namespace test;

class NetSocketLine : public test::SocketTest {
protected:
  void ConnectPair() {
    listener = test::RawListen(port);
    s = std::make_unique<TNetSocket>(nullptr);
    s->SetLineMode(true);
    s->SetAddr("127.0.0.1");
    s->SetPort(std::to_string(port));
    s->Connect();
    peer = test::RawAccept(listener);
    ASSERT_NE(plat::INVALID_SOCKET, peer);
    ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsConnected; }));
  }
  // Every delivery reads the line with ReceiveStr.
  void CollectLines() {
    s->OnDataAvailable = [this](fw::TObject*, uint16_t) {
      counts.push_back(s->RcvdCount());
      lines.push_back(s->ReceiveStr());
    };
  }
  void Send(const std::string& data) { ASSERT_TRUE(test::RawSendAll(peer, data)); }
  void TearDown() override {
    s.reset();
    if (peer != plat::INVALID_SOCKET) plat::closesocket(peer);
    if (listener != plat::INVALID_SOCKET) plat::closesocket(listener);
    test::SocketTest::TearDown();
  }
  int port = 0;
  plat::SOCKET listener = plat::INVALID_SOCKET;
  plat::SOCKET peer = plat::INVALID_SOCKET;
  std::unique_ptr<TNetSocket> s;
  std::vector<std::string> lines;
  std::vector<int> counts;
};

TEST_F(NetSocketLine, TwoLinesInOneReadAreTwoDeliveries) {
  ConnectPair();
  CollectLines();
  Send("AB\r\nCD\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return lines.size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"AB\r\n", "CD\r\n"}), lines);
  EXPECT_EQ((std::vector<int>{4, 4}), counts);
  AppPumpFor(100ms);
  EXPECT_EQ(2u, lines.size());
}

TEST_F(NetSocketLine, LineEndSplitOverTwoReads) {
  ConnectPair();
  CollectLines();
  Send("AB\r");
  ASSERT_TRUE(AppPumpUntil([&] { return s->ReadCount() == 3; }));
  EXPECT_TRUE(lines.empty());
  Send("\nCD");
  ASSERT_TRUE(AppPumpUntil([&] { return lines.size() == 1; }));
  EXPECT_EQ("AB\r\n", lines[0]);
  Send("\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return lines.size() == 2; }));
  EXPECT_EQ("CD\r\n", lines[1]);
}

TEST_F(NetSocketLine, UnfinishedLastLineArrivesBeforeTheClose) {
  ConnectPair();
  std::vector<std::string> order;
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) { order.push_back("data " + s->ReceiveStr()); };
  s->OnSessionClosed = [&](fw::TObject*, uint16_t e) {
    order.push_back("closed " + std::to_string(e));
  };
  Send("L1\r\nXY");
  plat::closesocket(peer);
  peer = plat::INVALID_SOCKET;
  ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed; }));
  EXPECT_EQ((std::vector<std::string>{"data L1\r\n", "data XY", "closed 0"}), order);
}

TEST_F(NetSocketLine, UnfinishedLineBeyondTheLimit) {
  ConnectPair();
  CollectLines();
  std::vector<int> exceeded;
  s->OnLineLimitExceeded = [&](fw::TObject*, int32_t len, bool& clear) {
    exceeded.push_back(len);
    EXPECT_TRUE(clear);
  };
  Send(std::string(65536, 'a'));
  ASSERT_TRUE(AppPumpUntil([&] { return s->ReadCount() == 65536; }));
  AppPumpFor(100ms);
  EXPECT_TRUE(exceeded.empty());  // at the limit, not beyond it
  Send("a");
  ASSERT_TRUE(AppPumpUntil([&] { return !exceeded.empty(); }));
  EXPECT_EQ(std::vector<int>{65537}, exceeded);
  Send("ok\r\n");  // the dropped bytes do not come back
  ASSERT_TRUE(AppPumpUntil([&] { return lines.size() == 1; }));
  EXPECT_EQ("ok\r\n", lines[0]);
}

TEST_F(NetSocketLine, KeptDataIsCheckedAgainAndZeroMeansNoLimit) {
  ConnectPair();
  CollectLines();
  s->SetLineLimit(10);
  int events = 0;
  s->OnLineLimitExceeded = [&](fw::TObject*, int32_t, bool& clear) {
    events++;
    clear = false;
  };
  Send("0123456789A");
  ASSERT_TRUE(AppPumpUntil([&] { return events == 1; }));
  Send("B");
  ASSERT_TRUE(AppPumpUntil([&] { return events == 2; }));
  Send("\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return lines.size() == 1; }));
  EXPECT_EQ("0123456789AB\r\n", lines[0]);  // complete lines are never refused

  s->SetLineLimit(0);
  Send(std::string(70000, 'b'));
  ASSERT_TRUE(AppPumpUntil([&] { return s->ReadCount() == 14 + 70000; }));
  AppPumpFor(100ms);
  EXPECT_EQ(2, events);
}

TEST_F(NetSocketLine, SwitchingLineModeOffHandsHeldBytesToRawReads) {
  ConnectPair();
  std::vector<std::string> got;
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) {
    if (s->LineMode()) {
      got.push_back("line " + s->ReceiveStr());
    } else {
      char buf[100];
      int n = s->Receive(buf, sizeof buf);
      if (n > 0) got.push_back("raw " + std::string(buf, static_cast<size_t>(n)));
    }
  };
  Send("L\r\nQZ");
  ASSERT_TRUE(AppPumpUntil([&] { return s->ReadCount() == 5; }));
  EXPECT_EQ(std::vector<std::string>{"line L\r\n"}, got);
  s->SetLineMode(false);
  ASSERT_TRUE(AppPumpUntil([&] { return got.size() == 2; }));
  EXPECT_EQ("raw QZ", got[1]);  // the held bytes before any new socket data
  Send("more");
  ASSERT_TRUE(AppPumpUntil([&] { return got.size() == 3; }));
  EXPECT_EQ("raw more", got[2]);
}

TEST_F(NetSocketLine, HandlerSwitchingOffMidLineKeepsTheOrder) {
  ConnectPair();
  std::string raw;
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) {
    if (s->LineMode()) {
      char two[2];
      s->Receive(two, 2);  // part of the line, then raw mode
      raw.append(two, 2);
      s->SetLineMode(false);
    } else {
      raw += s->ReceiveStr();
    }
  };
  Send("abcd\r\nnext\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return raw.size() == 12; }));
  EXPECT_EQ("abcd\r\nnext\r\n", raw);
}

TEST_F(NetSocketLine, EditingWithEcho) {
  ConnectPair();
  CollectLines();
  s->SetLineEdit(true);
  s->SetLineEcho(true);
  Send(std::string("ab\bc\r\n"));
  ASSERT_TRUE(AppPumpUntil([&] { return lines.size() == 1; }));
  EXPECT_EQ("ac\r\n", lines[0]);
  EXPECT_EQ(std::string("ab\b \bc\r\n"), test::RawRead(peer, 8));

  s->SetLineEcho(false);
  Send(std::string("\tx\r\n"));
  ASSERT_TRUE(AppPumpUntil([&] { return lines.size() == 2; }));
  EXPECT_EQ("        x\r\n", lines[1]);

  // A backspace may take back bytes of an earlier read.
  Send("pq");
  ASSERT_TRUE(AppPumpUntil([&] { return s->ReadCount() == 6 + 4 + 2; }));
  Send(std::string("\b\br\r\n"));
  ASSERT_TRUE(AppPumpUntil([&] { return lines.size() == 3; }));
  EXPECT_EQ("r\r\n", lines[2]);
}

TEST_F(NetSocketLine, EchoWithoutEditingSendsBytesBack) {
  ConnectPair();
  CollectLines();
  s->SetLineEcho(true);
  Send("hi\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return lines.size() == 1; }));
  EXPECT_EQ("hi\r\n", test::RawRead(peer, 4));
}

TEST_F(NetSocketLine, AReaderThatTakesNothingDoesNotHangTheLoop) {
  ConnectPair();
  int calls = 0;
  std::vector<std::string> got;
  bool read = false;
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) {
    calls++;
    if (read) got.push_back(s->ReceiveStr());
  };
  Send("A\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return calls >= 1; }));
  AppPumpFor(100ms);
  EXPECT_EQ(1, calls);  // offered once, then left held
  read = true;
  Send("B\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return got.size() == 1; }));
  EXPECT_EQ("A\r\nB\r\n", got[0]);  // the untaken line goes out in front of the next

  // No handler at all: complete lines are dropped.
  s->OnDataAvailable = nullptr;
  Send("C\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return s->ReadCount() == 9; }));
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) { got.push_back(s->ReceiveStr()); };
  Send("D\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return got.size() == 2; }));
  EXPECT_EQ("D\r\n", got[1]);
}

TEST_F(NetSocketLine, AFailingLineHandlerKeepsTheLineForTheNextOne) {
  ConnectPair();
  bool fail = true;
  std::vector<std::string> got;
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) {
    if (fail) throw ESocketException("no");
    got.push_back(s->ReceiveStr());
  };
  Send("one\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return s->ReadCount() == 5; }));
  AppPumpFor(100ms);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(wsConnected, s->State());
  fail = false;
  Send("two\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return !got.empty(); }));
  EXPECT_EQ("one\r\ntwo\r\n", got[0]);
}

TEST_F(NetSocketLine, ClosingInsideADeliveryStopsIt) {
  ConnectPair();
  std::vector<std::string> order;
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) {
    std::string line = s->ReceiveStr();
    order.push_back("line " + line);
    if (line == "exit\r\n") s->Close();
  };
  s->OnSessionClosed = [&](fw::TObject*, uint16_t e) {
    order.push_back("closed " + std::to_string(e));
  };
  Send("a\r\nexit\r\nnever\r\ntail");
  ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed; }));
  AppPumpFor(100ms);
  EXPECT_EQ((std::vector<std::string>{"line a\r\n", "line exit\r\n", "closed 0"}), order);
}

TEST_F(NetSocketLine, BatchesLetWaitingMessagesInAndThePeersCloseFollowsItsLastLine) {
  ConnectPair();
  s->SetLineBatch(2);
  std::vector<std::string> order;
  plat::HWND other = fw::AllocateHWnd([&](fw::TMessage& m) {
    if (m.Msg == plat::WM_USER) order.push_back("posted");
  });
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) {
    if (order.empty()) plat::PostMessage(other, plat::WM_USER, 0, 0);
    order.push_back(s->ReceiveStr());
  };
  s->OnSessionClosed = [&](fw::TObject*, uint16_t) { order.push_back("closed"); };
  Send("1\r\n2\r\n3\r\n4\r\n5\r\n6");
  plat::closesocket(peer);
  peer = plat::INVALID_SOCKET;
  EXPECT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed; }));
  fw::DeallocateHWnd(other);
  EXPECT_EQ((std::vector<std::string>{"1\r\n", "2\r\n", "posted", "3\r\n", "4\r\n", "5\r\n", "6",
                                      "closed"}),
            order);
}

TEST_F(NetSocketLine, LinesWaitWhileTheAnswersOfEarlierOnesAreUnsent) {
  ConnectPair();
  s->SetLineBacklog(64 * 1024);
  // Far more than the kernel takes for a peer that does not read.
  const std::string answer = Pattern(8 << 20);
  int lines = 0;
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) {
    s->ReceiveStr();
    lines++;
    s->SendStr(answer);
  };
  Send("a\r\nb\r\n");
  ASSERT_TRUE(AppPumpUntil([&] { return lines == 1; }));
  AppPumpFor(100ms);
  EXPECT_EQ(1, lines);
  // Once the first answer has left, the second line is handled.
  const std::string got = test::RawRead(peer, 2 * answer.size());
  EXPECT_TRUE(got == answer + answer) << got.size();
  EXPECT_EQ(2, lines);
}

TEST_F(NetSocketLine, OtherLineEndAndReceiveIntoABuffer) {
  ConnectPair();
  s->LineEnd = "|";
  std::vector<std::string> got;
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) {
    char buf[64];
    int n = s->Receive(buf, sizeof buf);
    got.emplace_back(buf, static_cast<size_t>(n > 0 ? n : 0));
  };
  Send("x|yy|z");
  ASSERT_TRUE(AppPumpUntil([&] { return got.size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"x|", "yy|"}), got);
}

TEST_F(NetSocketLine, WaitUntilDone) {
  TNetSocket w(nullptr);
  bool done = true;
  EXPECT_EQ(0, w.WaitUntilDone(done));
  int ran = 0;
  EXPECT_EQ(0, w.RunAndWait(
                   [&] {
                     ran++;
                     plat::PostMessage(w.Handle(), SocketMsgCloseDelayed, 0, 0);
                     done = true;  // set by "an event" before the wait starts
                   },
                   done));
  EXPECT_EQ(1, ran);
  fw::Application->Terminate();
  done = false;
  EXPECT_EQ(12001, w.WaitUntilDone(done));
}

TEST_F(NetSocketLine, PrivatePumpNotesAQuitMessage) {
  TNetSocket w(nullptr);
  w.SetMultiThreaded(true);
  plat::PostQuitMessage(0);
  bool done = false;
  EXPECT_EQ(12001, w.WaitUntilDone(done));
  EXPECT_TRUE(w.Terminated());
}

}  // namespace
}  // namespace vexa
