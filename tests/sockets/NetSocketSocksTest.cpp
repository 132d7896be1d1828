// labels: integration
// The SOCKS client against small scripted SOCKS servers on loopback: levels
// 4, 4A and 5, user/password, error replies, leftovers, over-long values.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/sockets/SocketTestKit.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using namespace test;

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s += static_cast<char>(v);
  return s;
}

// Blocking helpers for the server thread.
std::string ReadN(plat::SOCKET c, size_t n) {
  std::string got;
  char buf[4096];
  while (got.size() < n) {
    int r = plat::recv(c, buf, static_cast<int>(std::min(sizeof buf, n - got.size())), 0);
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  return got;
}
void WriteAll(plat::SOCKET c, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    int r = plat::send(c, s.data() + done, static_cast<int>(s.size() - done), 0);
    if (r <= 0) return;
    done += static_cast<size_t>(r);
  }
}
// Waits until the client goes away.
void Hold(plat::SOCKET c) { ReadN(c, 1 << 20); }

// A SOCKS server that plays one script on its first connection.
class ScriptedServer {
public:
  explicit ScriptedServer(std::function<void(plat::SOCKET, std::vector<std::string>&)> script) {
    FListener = test::RawListen(FPort);
    FThread = std::thread([this, script] {
      plat::SOCKET c = plat::accept(FListener, nullptr, nullptr);
      if (c == plat::INVALID_SOCKET) return;
      script(c, Received);
      plat::closesocket(c);
      Done = true;
    });
  }
  ~ScriptedServer() {
    plat::closesocket(FListener);
    if (FThread.joinable()) FThread.join();
  }
  int Port() const { return FPort; }
  std::vector<std::string> Received;  // what the script read, step by step
  std::atomic<bool> Done{false};

private:
  plat::SOCKET FListener;
  int FPort = 0;
  std::thread FThread;
};

class NetSocketSocks : public test::SocketTest {
protected:
  void Prepare(int socksPort, const std::string& level, const std::string& addr,
               const std::string& port) {
    s = std::make_unique<TNetSocket>(nullptr);
    s->SetSocksServer(" 127.0.0.1 ");
    s->SetSocksPort(std::to_string(socksPort));
    s->SetSocksLevel(level);
    s->SetAddr(addr);
    s->SetPort(port);
    s->OnSocksConnected = [this](fw::TObject*, uint16_t e) {
      log.push_back("socks connected " + std::to_string(e));
    };
    s->OnSocksError = [this](fw::TObject*, int32_t e, const std::string& m) {
      log.push_back("socks error " + std::to_string(e) + " " + m);
    };
    s->OnSocksAuthState = [this](fw::TObject*, TSocksAuthState a) {
      log.push_back("auth " + std::to_string(a));
    };
    s->OnSessionConnected = [this](fw::TObject*, uint16_t e) {
      log.push_back("connected " + std::to_string(e));
    };
    s->OnSessionClosed = [this](fw::TObject*, uint16_t e) {
      log.push_back("closed " + std::to_string(e));
    };
    s->OnDataAvailable = [this](fw::TObject*, uint16_t) {
      int count = s->RcvdCount();
      std::string d = s->ReceiveStr();
      if (!d.empty()) log.push_back("data " + std::to_string(count) + " " + d);
    };
  }
  void TearDown() override {
    s.reset();
    test::SocketTest::TearDown();
  }
  std::unique_ptr<TNetSocket> s;
  std::vector<std::string> log;
};

TEST_F(NetSocketSocks, Level5WithoutAuthenticationAndDataBehindTheReply) {
  ScriptedServer srv([](plat::SOCKET c, std::vector<std::string>& got) {
    got.push_back(ReadN(c, 3));
    WriteAll(c, Bytes({5, 0}));
    got.push_back(ReadN(c, 7 + 14));
    WriteAll(c, Bytes({5, 0, 0, 1, 10, 0, 0, 5, 0x1F, 0x90}) + "abc");
    WriteAll(c, "defgh");  // straight behind, before the client has read anything
    Hold(c);
  });
  Prepare(srv.Port(), "5", "target.example", "8080");
  std::string all;
  s->OnDataAvailable = [&](fw::TObject*, uint16_t) {
    int count = s->RcvdCount();
    std::string d = s->ReceiveStr();
    if (all.empty()) log.push_back("data " + std::to_string(count) + " " + d);
    all += d;
  };
  s->Connect();
  ASSERT_TRUE(AppPumpUntil([&] { return all.size() >= 8; }));
  AppPumpFor(100ms);
  EXPECT_EQ((std::vector<std::string>{"socks connected 0", "connected 0", "data 3 abc"}), log);
  EXPECT_EQ("abcdefgh", all);
  EXPECT_EQ("10.0.0.5", s->BoundAddr());
  EXPECT_EQ("8080", s->BoundPort());
  s->Close();
  s.reset();
  ASSERT_EQ(2u, srv.Received.size());
  EXPECT_EQ(Bytes({5, 1, 0}), srv.Received[0]);
  EXPECT_EQ(Bytes({5, 1, 0, 3, 14}) + "target.example" + Bytes({0x1F, 0x90}), srv.Received[1]);
}

TEST_F(NetSocketSocks, Level5WithUserAndPassword) {
  ScriptedServer srv([](plat::SOCKET c, std::vector<std::string>& got) {
    got.push_back(ReadN(c, 3));
    WriteAll(c, Bytes({5, 2}));
    got.push_back(ReadN(c, 3 + 5 + 6));
    WriteAll(c, Bytes({1, 0}));
    got.push_back(ReadN(c, 7 + 9));
    // A domain-name reply, then data in a later packet.
    WriteAll(c, Bytes({5, 0, 0, 3, 4}) + "host" + Bytes({0, 80}));
    plat::Sleep(20);
    WriteAll(c, "later");
    Hold(c);
  });
  Prepare(srv.Port(), "5", "127.0.0.1", "4000");
  s->SetSocksUsercode("alice");
  s->SetSocksPassword("secret");
  s->SetSocksAuthentication(socksAuthenticateUsercode);
  s->Connect();
  ASSERT_TRUE(AppPumpUntil([&] { return log.size() >= 5; }));
  EXPECT_EQ((std::vector<std::string>{"socks connected 0", "auth 0", "auth 1", "connected 0",
                                      "data 5 later"}),
            log);
  EXPECT_EQ("host", s->BoundAddr());
  EXPECT_EQ("80", s->BoundPort());
  s.reset();
  ASSERT_EQ(3u, srv.Received.size());
  EXPECT_EQ(Bytes({5, 1, 2}), srv.Received[0]);
  EXPECT_EQ(Bytes({1, 5}) + "alice" + Bytes({6}) + "secret", srv.Received[1]);
  EXPECT_EQ(Bytes({5, 1, 0, 3, 9}) + "127.0.0.1" + Bytes({0x0F, 0xA0}), srv.Received[2]);
}

TEST_F(NetSocketSocks, AuthenticationAskedButSkippedOrRefused) {
  {
    ScriptedServer srv([](plat::SOCKET c, std::vector<std::string>& got) {
      got.push_back(ReadN(c, 3));
      WriteAll(c, Bytes({5, 0}));
      got.push_back(ReadN(c, 7 + 1));
      WriteAll(c, Bytes({5, 0, 0, 1, 1, 2, 3, 4, 0, 1}));
      Hold(c);
    });
    Prepare(srv.Port(), "5", "h", "1");
    s->SetSocksAuthentication(socksAuthenticateUsercode);
    s->Connect();
    ASSERT_TRUE(AppPumpUntil([&] { return log.size() >= 3; }));
    EXPECT_EQ((std::vector<std::string>{"socks connected 0", "auth 3", "connected 0"}), log);
    s.reset();
  }
  log.clear();
  {
    ScriptedServer srv([](plat::SOCKET c, std::vector<std::string>& got) {
      got.push_back(ReadN(c, 3));
      WriteAll(c, Bytes({5, 2}));
      got.push_back(ReadN(c, 3 + 1 + 1));
      WriteAll(c, Bytes({1, 1}));
      Hold(c);
    });
    Prepare(srv.Port(), "5", "h", "1");
    s->SetSocksUsercode("u");
    s->SetSocksPassword("p");
    s->SetSocksAuthentication(socksAuthenticateUsercode);
    s->Connect();
    ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed && log.size() >= 5; }));
    EXPECT_EQ((std::vector<std::string>{"socks connected 0", "auth 0",
                                        "socks error 20015 socks authentication failed",
                                        "connected 20015", "closed 20015"}),
              log);
    s.reset();
  }
  log.clear();
  {
    // The server hangs up during the sub-negotiation.
    ScriptedServer srv([](plat::SOCKET c, std::vector<std::string>& got) {
      got.push_back(ReadN(c, 3));
      WriteAll(c, Bytes({5, 2}));
      got.push_back(ReadN(c, 5));
    });
    Prepare(srv.Port(), "5", "h", "1");
    s->SetSocksUsercode("u");
    s->SetSocksPassword("p");
    s->SetSocksAuthentication(socksAuthenticateUsercode);
    s->Connect();
    ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed; }));
    EXPECT_EQ((std::vector<std::string>{"socks connected 0", "auth 0", "auth 2", "closed 0"}), log);
  }
}

TEST_F(NetSocketSocks, Level5ErrorReplies) {
  struct Case {
    std::string afterMethod;  // empty: the method reply itself fails
    std::string methodReply;
    std::vector<std::string> want;
  };
  std::vector<Case> cases = {
      {"",
       Bytes({5, 255}),
       {"socks connected 0", "socks error 20003 authentification method not acceptable",
        "connected 20003", "closed 20003"}},
      {"",
       Bytes({4, 0}),
       {"socks connected 0", "socks error 20002 socks version error", "connected 20002",
        "closed 20002"}},
      {Bytes({5, 5}),
       Bytes({5, 0}),
       {"socks connected 0", "socks error 20008 connection refused", "connected 20008",
        "closed 20008"}},
      {Bytes({5, 1}),
       Bytes({5, 0}),
       {"socks connected 0", "socks error 20004 general SOCKS server failure", "connected 20004",
        "closed 20004"}},
      {Bytes({5, 8}),
       Bytes({5, 0}),
       {"socks connected 0", "socks error 20011 address type not supported", "connected 20011",
        "closed 20011"}},
      {Bytes({5, 9}),
       Bytes({5, 0}),
       {"socks connected 0", "socks error 20012 unassigned error #9", "connected 20012",
        "closed 20012"}},
      {Bytes({5, 0, 0, 7, 0}),
       Bytes({5, 0}),
       {"socks connected 0", "socks error 20011 address type not supported", "connected 20011",
        "closed 20011"}},
  };
  for (auto& k : cases) {
    log.clear();
    ScriptedServer srv([&k](plat::SOCKET c, std::vector<std::string>& got) {
      got.push_back(ReadN(c, 3));
      WriteAll(c, k.methodReply);
      if (!k.afterMethod.empty()) {
        got.push_back(ReadN(c, 7 + 1));
        WriteAll(c, k.afterMethod);
      }
      Hold(c);
    });
    Prepare(srv.Port(), "5", "h", "1");
    s->Connect();
    ASSERT_TRUE(
        AppPumpUntil([&] { return s->State() == wsClosed && log.size() >= k.want.size(); }));
    EXPECT_EQ(k.want, log);
    EXPECT_EQ("", s->SocksServer());  // every close switches SOCKS off
    s.reset();
  }
}

TEST_F(NetSocketSocks, Level4And4A) {
  {
    ScriptedServer srv([](plat::SOCKET c, std::vector<std::string>& got) {
      got.push_back(ReadN(c, 9 + 3));
      WriteAll(c, Bytes({0, 91, 0, 0, 0, 0, 0, 0}));
      Hold(c);
    });
    Prepare(srv.Port(), "4", "127.0.0.2", "80");
    s->SetSocksUsercode("bob");
    s->Connect();
    ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed && log.size() >= 4; }));
    EXPECT_EQ((std::vector<std::string>{"socks connected 0",
                                        "socks error 20016 request rejected or failed",
                                        "connected 20016", "closed 20016"}),
              log);
    s.reset();
    EXPECT_EQ(Bytes({4, 1, 0, 80, 127, 0, 0, 2}) + "bob" + Bytes({0}), srv.Received[0]);
  }
  log.clear();
  {
    ScriptedServer srv([](plat::SOCKET c, std::vector<std::string>& got) {
      got.push_back(ReadN(c, 9 + 2 + 12 + 1));
      WriteAll(c, Bytes({0, 90, 0, 0, 0, 0, 0, 0}));
      plat::Sleep(20);
      WriteAll(c, "hello");
      Hold(c);
    });
    Prepare(srv.Port(), "4a", "name.example", "443");
    EXPECT_EQ("4A", s->SocksLevel());
    s->SetSocksUsercode("jo");
    s->Connect();
    ASSERT_TRUE(AppPumpUntil([&] { return log.size() >= 3; }));
    EXPECT_EQ((std::vector<std::string>{"socks connected 0", "connected 0", "data 5 hello"}), log);
    s.reset();
    EXPECT_EQ(Bytes({4, 1, 1, 187, 0, 0, 0, 1}) + "jo" + Bytes({0}) + "name.example" + Bytes({0}),
              srv.Received[0]);
  }
}

TEST_F(NetSocketSocks, OverLongValuesAreRefusedNotOverrun) {
  {
    ScriptedServer srv([](plat::SOCKET c, std::vector<std::string>& got) {
      got.push_back(ReadN(c, 3));
      WriteAll(c, Bytes({5, 0}));
      got.push_back(ReadN(c, 1000));  // whatever comes until the client leaves
    });
    Prepare(srv.Port(), "5", std::string(122, 'n'), "1");  // 7 + 122 > 128
    s->Connect();
    ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed && log.size() >= 4; }));
    EXPECT_EQ(
        (std::vector<std::string>{"socks connected 0", "socks error 20014 socks request too long",
                                  "connected 20014", "closed 20014"}),
        log);
    s.reset();
    ASSERT_TRUE(AppPumpUntil([&] { return srv.Done.load(); }));
    EXPECT_EQ("", srv.Received[1]);
  }
  log.clear();
  {
    ScriptedServer srv([](plat::SOCKET c, std::vector<std::string>& got) {
      got.push_back(ReadN(c, 3));
      WriteAll(c, Bytes({5, 2}));
      got.push_back(ReadN(c, 1000));
    });
    Prepare(srv.Port(), "5", "h", "1");
    s->SetSocksUsercode(std::string(100, 'u'));
    s->SetSocksPassword(std::string(26, 'p'));  // 3 + 126 > 128
    s->SetSocksAuthentication(socksAuthenticateUsercode);
    s->Connect();
    ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed; }));
    EXPECT_EQ("socks error 20014 socks request too long", log[2]);
    s.reset();
  }
  log.clear();
  {
    ScriptedServer srv(
        [](plat::SOCKET c, std::vector<std::string>& got) { got.push_back(ReadN(c, 1000)); });
    Prepare(srv.Port(), "4", "127.0.0.1", "1");
    s->SetSocksUsercode(std::string(120, 'u'));  // 9 + 120 > 128
    s->Connect();
    ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed; }));
    EXPECT_EQ("socks error 20014 socks request too long", log[1]);
  }
}

TEST_F(NetSocketSocks, SettingsAndRefusals) {
  TNetSocket t(nullptr);
  EXPECT_EQ("5", t.SocksLevel());
  EXPECT_EQ("Invalid socks level. Must be 4, 4A or 5.",
            RaisedMessage([&] { t.SetSocksLevel("6"); }));
  EXPECT_EQ("Invalid socks level. Must be 4, 4A or 5.",
            RaisedMessage([&] { t.SetSocksLevel(" 5"); }));
  t.SetSocksServer("127.0.0.1");
  t.SetSocksPort("1080");
  t.SetAddr("h");
  t.SetPort("1");
  t.SetProto("udp");
  EXPECT_EQ("tcp is the only protocol supported thru socks server",
            RaisedMessage([&] { t.Connect(); }));
  EXPECT_EQ("Listening is not supported thru socks server", RaisedMessage([&] { t.Listen(); }));

  int port = 0;
  plat::SOCKET l = test::RawListen(port);
  TNetSocket u(nullptr);
  u.SetSocksServer("127.0.0.1");
  u.SetSocksPort(std::to_string(port));
  u.SetAddr("h");
  u.SetPort("1");
  u.Connect();
  EXPECT_EQ("Can't change socks server if not closed",
            RaisedMessage([&] { u.SetSocksServer("x"); }));
  EXPECT_EQ("Can't change socks port if not closed", RaisedMessage([&] { u.SetSocksPort("1"); }));
  EXPECT_EQ("Can't change socks level if not closed", RaisedMessage([&] { u.SetSocksLevel("4"); }));
  u.Close();
  EXPECT_EQ("", u.SocksServer());
  EXPECT_EQ("", u.SocksPort());
  EXPECT_EQ("5", u.SocksLevel());
  plat::closesocket(l);
}

TEST(SocksReplies, ErrorTextsAndCodes) {
  const char* texts[] = {"general SOCKS server failure", "connection not allowed by ruleset",
                         "network unreachable",          "host unreachable",
                         "connection refused",           "time to live expired",
                         "command not supported",        "address type not supported"};
  for (int b = 1; b <= 8; b++) {
    uint8_t buf[2] = {5, static_cast<uint8_t>(b)};
    int count = 2;
    TSocksReply r = SocksParseReply(SocksStateConnect, true, false, buf, count);
    EXPECT_EQ(TSocksStep::Failed, r.Step);
    EXPECT_EQ(20003 + b, r.Error);
    EXPECT_EQ(texts[b - 1], r.Msg);
  }
  uint8_t l4[8] = {0, 92, 0, 0, 0, 0, 0, 0};
  int count = 8;
  EXPECT_EQ("connection refused", SocksParseReply(SocksStateConnect, false, false, l4, count).Msg);
  l4[1] = 93;
  count = 8;
  EXPECT_EQ(20015, SocksParseReply(SocksStateConnect, false, false, l4, count).Error);
  l4[1] = 17;
  count = 8;
  EXPECT_EQ("unassigned error #17",
            SocksParseReply(SocksStateConnect, false, false, l4, count).Msg);
  uint8_t auth[3] = {1, 0, 0};
  count = 3;
  EXPECT_EQ("too much data availaible",
            SocksParseReply(SocksStateAuth, true, true, auth, count).Msg);
  count = 2;
  EXPECT_EQ(TSocksStep::Failed, SocksParseReply(SocksStateMethod, false, false, auth, count).Step);
  // A domain reply longer than the buffer can hold fails rather than waits.
  uint8_t big[5] = {5, 0, 0, 3, 200};
  count = 5;
  EXPECT_EQ(TSocksStep::Failed, SocksParseReply(SocksStateConnect, true, false, big, count).Step);
}

}  // namespace
}  // namespace vexa
