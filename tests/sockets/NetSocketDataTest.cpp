// labels: integration
// The send queue and the receive loop: chunking, partial sends, fatal send
// errors, discarding, failing handlers, over loopback TCP.
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "sockets/WSockBuf.h"
#include "tests/sockets/SocketTestKit.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using namespace test;

TEST(TBufferChunk, SizesWritesAndRemovals) {
  TBuffer b(0);
  EXPECT_EQ(1514, b.BufSize());
  std::string data = test::Pattern(2000);
  EXPECT_EQ(1514, b.Write(data.data(), 2000));
  EXPECT_EQ(0, b.Write(data.data(), 10));  // full
  int32_t len = 0;
  const char* p = b.Peek(len);
  ASSERT_EQ(1514, len);
  EXPECT_EQ(data.substr(0, 1514), std::string(p, static_cast<size_t>(len)));
  EXPECT_EQ(14, b.Remove(14));
  p = b.Peek(len);
  EXPECT_EQ(1500, len);
  EXPECT_EQ(data.substr(14, 1500), std::string(p, static_cast<size_t>(len)));
  EXPECT_EQ(1500, b.Remove(5000));
  EXPECT_EQ(0, b.WrCount());
  EXPECT_EQ(0, b.RdCount());
  EXPECT_EQ(nullptr, b.Peek(len));
  EXPECT_EQ(0, len);
  EXPECT_EQ(0, b.Remove(1));
  // Emptied, it fills again from its front.
  EXPECT_EQ(1514, b.Write(data.data(), 2000));

  TBuffer c(10);
  c.Write("abcdef", 6);
  c.Remove(2);
  c.SetBufSize(20);  // keeps the written bytes
  p = c.Peek(len);
  EXPECT_EQ("cdef", std::string(p, static_cast<size_t>(len)));
}

// Shows whether the send queue ran dry.
class TProbeSocket : public TNetSocket {
public:
  using TNetSocket::TNetSocket;
  bool QueueEmpty() const { return AllSent(); }
};

class NetSocketData : public test::SocketTest {
protected:
  // A TNetSocket connected to a raw peer.
  void ConnectPair(TNetSocket& s) {
    listener = test::RawListen(port);
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
    peer = test::RawAccept(listener);
    ASSERT_NE(plat::INVALID_SOCKET, peer);
    ASSERT_TRUE(AppPumpUntil([&] { return s.State() == wsConnected; }));
  }
  void TearDown() override {
    if (peer != plat::INVALID_SOCKET) plat::closesocket(peer);
    if (listener != plat::INVALID_SOCKET) plat::closesocket(listener);
    test::SocketTest::TearDown();
  }
  int port = 0;
  plat::SOCKET listener = plat::INVALID_SOCKET;
  plat::SOCKET peer = plat::INVALID_SOCKET;
};

TEST_F(NetSocketData, SendOf5000BytesGoesOutInSegmentChunks) {
  TNetSocket s(nullptr);
  ConnectPair(s);
  AppPumpFor(100ms);  // the first write event after connecting
  std::vector<int> sends;
  int sent = 0;
  s.OnSendData = [&](fw::TObject*, int32_t n) { sends.push_back(n); };
  s.OnDataSent = [&](fw::TObject*, uint16_t e) {
    EXPECT_EQ(0, e);
    sent++;
  };
  std::string data = test::Pattern(5000);
  EXPECT_EQ(5000, s.Send(data.data(), 5000));
  EXPECT_EQ((std::vector<int>{1460, 1460, 1460, 620}), sends);
  EXPECT_EQ(0, sent);  // reported from the message loop, after Send returned
  ASSERT_TRUE(AppPumpUntil([&] { return sent == 1; }));
  EXPECT_EQ(data, test::RawRead(peer, 5000));
  AppPumpFor(100ms);
  EXPECT_EQ(1, sent);

  // A send of nothing pushes the queue and still reports it empty.
  sends.clear();
  EXPECT_EQ(0, s.Send(nullptr, 0));
  EXPECT_TRUE(sends.empty());
  ASSERT_TRUE(AppPumpUntil([&] { return sent == 2; }));
  EXPECT_EQ(0, s.SendStr(""));
}

TEST_F(NetSocketData, BlockedSendsResumeInOrderOnTheWriteEvent) {
  TProbeSocket s(nullptr);
  ConnectPair(s);
  int sent = 0;
  s.OnDataSent = [&](fw::TObject*, uint16_t) { sent++; };
  AppPumpFor(100ms);
  sent = 0;
  // Far more than the socket buffers hold while the peer does not read.
  std::string data = test::Pattern(8 * 1024 * 1024 + 123);
  size_t offered = 0;
  while (offered < data.size()) {
    int32_t n = static_cast<int32_t>(std::min<size_t>(100000, data.size() - offered));
    ASSERT_EQ(n, s.Send(data.data() + offered, n));
    offered += static_cast<size_t>(n);
  }
  EXPECT_EQ(0, sent);
  EXPECT_FALSE(s.QueueEmpty());
  std::string got = test::RawRead(peer, data.size());
  ASSERT_EQ(data.size(), got.size());
  EXPECT_TRUE(got == data);
  ASSERT_TRUE(AppPumpUntil([&] { return sent >= 1; }));
}

TEST_F(NetSocketData, FlushWaitsUntilTheQueueIsEmpty) {
  TProbeSocket s(nullptr);
  ConnectPair(s);
  std::string data = test::Pattern(3 * 1024 * 1024);
  ASSERT_EQ(static_cast<int32_t>(data.size()),
            s.Send(data.data(), static_cast<int32_t>(data.size())));
  // The peer reads on another thread while Flush pumps.
  std::string got;
  std::thread reader([&] {
    plat::u_long off = 0;
    plat::ioctlsocket(peer, plat::FIONBIO, &off);
    std::vector<char> buf(65536);
    while (got.size() < data.size()) {
      int n = plat::recv(peer, buf.data(), static_cast<int>(buf.size()), 0);
      if (n <= 0) break;
      got.append(buf.data(), static_cast<size_t>(n));
    }
  });
  s.Flush();
  EXPECT_TRUE(s.QueueEmpty());
  reader.join();
  EXPECT_TRUE(got == data);
}

TEST_F(NetSocketData, SendOnAClosedSocketReports10057) {
  TNetSocket s(nullptr);
  EXPECT_EQ(0, s.SendStr(""));
  std::vector<std::string> states;
  s.OnChangeState = [&](fw::TObject*, TSocketState o, TSocketState n) {
    states.push_back(std::to_string(o) + ">" + std::to_string(n));
  };
  int closed = 0;
  s.OnSessionClosed = [&](fw::TObject*, uint16_t) { closed++; };
  EXPECT_EQ("Error 10057 in function Send\r\nSocket is not connected",
            RaisedMessage([&] { s.SendStr("x"); }));
  EXPECT_EQ("Error 10057 in function Send\r\nSocket is not connected",
            RaisedMessage([&] { s.Send(nullptr, 0); }));
  EXPECT_EQ(0, closed);  // it was not open
  EXPECT_EQ((std::vector<std::string>{"7>7", "7>7"}), states);
  int errors = 0;
  s.OnError = [&](fw::TObject*) { errors++; };
  EXPECT_EQ(-1, s.SendStr("x"));
  EXPECT_EQ(1, errors);
  EXPECT_EQ(10057, s.LastError());
}

TEST_F(NetSocketData, ResetPeerMakesTheSendCloseOnceWithItsError) {
  TNetSocket s(nullptr);
  ConnectPair(s);
  std::vector<std::string> log;
  s.OnChangeState = [&](fw::TObject*, TSocketState, TSocketState n) {
    log.push_back("state " + std::to_string(n));
  };
  s.OnSessionClosed = [&](fw::TObject*, uint16_t e) {
    log.push_back("closed " + std::to_string(e));
  };
  plat::linger lg;
  lg.l_onoff = 1;
  lg.l_linger = 0;
  plat::setsockopt(peer, plat::SOL_SOCKET, plat::SO_LINGER, reinterpret_cast<const char*>(&lg),
                   sizeof lg);
  plat::closesocket(peer);
  peer = plat::INVALID_SOCKET;
  plat::Sleep(50);  // the reset reaches our side; no message is handled meanwhile
  s.SendStr("hello");
  AppPumpFor(100ms);
  EXPECT_EQ((std::vector<std::string>{"state 7", "closed 10054"}), log);
  EXPECT_EQ(wsClosed, s.State());
}

TEST_F(NetSocketData, WithoutAHandlerIncomingBytesAreDiscarded) {
  TNetSocket s(nullptr);
  ConnectPair(s);
  ASSERT_TRUE(test::RawSendAll(peer, test::Pattern(5000)));
  AppPumpFor(200ms);
  EXPECT_EQ(0, s.ReadCount());
  EXPECT_EQ(0, s.RcvdCount());
  // Now with a handler only new bytes arrive.
  std::string got;
  s.OnDataAvailable = [&](fw::TObject*, uint16_t) { got += s.ReceiveStr(); };
  ASSERT_TRUE(test::RawSendAll(peer, "fresh"));
  ASSERT_TRUE(AppPumpUntil([&] { return got.size() == 5; }));
  EXPECT_EQ("fresh", got);
  EXPECT_EQ(5, s.ReadCount());
}

TEST_F(NetSocketData, AFailingHandlerStopsOneDeliveryOnly) {
  TNetSocket s(nullptr);
  ConnectPair(s);
  int calls = 0;
  bool fail = true;
  std::string got;
  int bg = 0;
  s.OnBgException = [&](fw::TObject*, fw::Exception&, bool&) { bg++; };
  s.OnDataAvailable = [&](fw::TObject*, uint16_t) {
    calls++;
    if (fail) throw ESocketException("handler failed");
    got += s.ReceiveStr();
  };
  ASSERT_TRUE(test::RawSendAll(peer, "first"));
  ASSERT_TRUE(AppPumpUntil([&] { return calls == 1; }));
  AppPumpFor(100ms);
  EXPECT_EQ(1, calls);
  EXPECT_EQ(0, bg);  // dropped silently, not a background exception
  EXPECT_EQ(wsConnected, s.State());
  fail = false;
  ASSERT_TRUE(test::RawSendAll(peer, "second"));
  ASSERT_TRUE(AppPumpUntil([&] { return got.size() == 11; }));
  EXPECT_EQ("firstsecond", got);
}

TEST_F(NetSocketData, ReceiveStrAfterThePeerClosed) {
  TNetSocket s(nullptr);
  ConnectPair(s);
  s.Pause();  // nothing is handled meanwhile
  plat::closesocket(peer);
  peer = plat::INVALID_SOCKET;
  plat::Sleep(20);
  EXPECT_EQ("", s.ReceiveStr());
  EXPECT_EQ(0, s.LastError());
  s.Resume();
}

}  // namespace
}  // namespace vexa
