// labels: integration
// The socket server: banners, client limit, naming, deferred freeing, over
// loopback TCP with raw clients.
#include <memory>
#include <string>
#include <vector>

#include "sockets/NetSocketS.h"
#include "tests/sockets/SocketTestKit.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using namespace test;

class NetSocketServerTest : public test::SocketTest {
protected:
  void SetUp() override {
    test::SocketTest::SetUp();
    owner = std::make_unique<fw::TComponent>(nullptr);
    server = new TNetSocketServer(owner.get());
    server->SetName("NetSocketServer1");
    server->SetAddr("127.0.0.1");
    server->SetPort("0");
    server->OnClientConnect = [this](fw::TObject*, TNetSocketClient* c, uint16_t e) {
      log.push_back("connect " + c->Name() + " " + std::to_string(e) + " count " +
                    std::to_string(server->GetClientCount()));
    };
    server->OnClientDisconnect = [this](fw::TObject*, TNetSocketClient* c, uint16_t e) {
      log.push_back("disconnect " + c->Name() + " " + std::to_string(e) + " " + c->PeerAddr());
    };
  }
  void TearDown() override {
    for (auto c : raws) plat::closesocket(c);
    owner.reset();
    test::SocketTest::TearDown();
  }
  void Listen() {
    server->Listen();
    ASSERT_EQ(wsListening, server->State());
    port = std::stoi(server->GetBoundPort());
  }
  plat::SOCKET Client() {
    plat::SOCKET c = test::RawConnect(port);
    test::RawNonBlocking(c);
    raws.push_back(c);
    return c;
  }
  int Count(const std::string& prefix) {
    int n = 0;
    for (auto& l : log)
      if (l.rfind(prefix, 0) == 0) n++;
    return n;
  }

  std::unique_ptr<fw::TComponent> owner;
  TNetSocketServer* server = nullptr;
  int port = 0;
  std::vector<std::string> log;
  std::vector<plat::SOCKET> raws;
};

TEST_F(NetSocketServerTest, GreetsEachClientWithTheBanner) {
  Listen();
  plat::SOCKET c = Client();
  EXPECT_EQ("Welcome to TcpSrv\r\n", test::RawRead(c, 19));
  ASSERT_EQ(1, server->GetClientCount());
  TNetSocketClient* cl = server->GetClient(0);
  ASSERT_NE(nullptr, cl);
  EXPECT_EQ("NetSocketServer1Client1", cl->Name());
  EXPECT_EQ(wsConnected, cl->State());
  EXPECT_EQ("127.0.0.1", cl->PeerAddr());
  EXPECT_EQ(nullptr, server->GetClient(-1));
  EXPECT_EQ(nullptr, server->GetClient(server->GetClientCount()));

  // The session is the client object's: it echoes what it reads.
  cl->OnDataAvailable = [cl](fw::TObject*, uint16_t) { cl->SendStr(cl->ReceiveStr()); };
  ASSERT_TRUE(test::RawSendAll(c, "ping"));
  EXPECT_EQ("ping", test::RawRead(c, 4));
}

TEST_F(NetSocketServerTest, ClientLimitSendsTheBusyBannerAndCloses) {
  server->SetMaxClients(2);
  server->SetBanner("VEXA Notify Server");
  server->SetBannerToBusy("Busy              ");
  Listen();
  plat::SOCKET a = Client();
  EXPECT_EQ("VEXA Notify Server\r\n", test::RawRead(a, 20));
  plat::SOCKET b = Client();
  EXPECT_EQ("VEXA Notify Server\r\n", test::RawRead(b, 20));
  plat::SOCKET c = Client();
  bool closed = false;
  EXPECT_EQ("Busy              \r\n", test::RawRead(c, 1000, &closed));
  EXPECT_TRUE(closed);
  ASSERT_TRUE(AppPumpUntil([&] { return Count("disconnect") == 1; }));
  EXPECT_EQ((std::vector<std::string>{"connect NetSocketServer1Client1 0 count 1",
                                      "connect NetSocketServer1Client2 0 count 2",
                                      "connect NetSocketServer1Client3 0 count 3",
                                      "disconnect NetSocketServer1Client3 0 127.0.0.1"}),
            log);
  EXPECT_EQ(2, server->GetClientCount());
  EXPECT_EQ(wsListening, server->State());
}

TEST_F(NetSocketServerTest, NoLimitAndEmptyBanner) {
  server->SetMaxClients(-1);
  server->SetBanner("");
  server->OnClientConnect = [](fw::TObject*, TNetSocketClient* c, uint16_t) {
    c->OnDataAvailable = [c](fw::TObject*, uint16_t) { c->SendStr("got " + c->ReceiveStr()); };
  };
  Listen();
  for (int i = 0; i < 3; i++) {
    plat::SOCKET c = Client();
    ASSERT_TRUE(test::RawSendAll(c, "x"));
    EXPECT_EQ("got x", test::RawRead(c, 5));  // nothing came before the answer
  }
  EXPECT_EQ(3, server->GetClientCount());
}

TEST_F(NetSocketServerTest, ClientsAreFreedFromTheLoopAndNamesCountOn) {
  std::vector<std::string> created;
  server->OnClientCreate = [&](fw::TObject*, TNetSocketClient* c) {
    created.push_back("name '" + c->Name() + "' banner '" + c->Banner() + "' state " +
                      std::to_string(c->State()) + " handle " +
                      (c->HSocket() == plat::INVALID_SOCKET ? "none" : "some"));
  };
  Listen();
  std::vector<plat::SOCKET> cs;
  for (int i = 0; i < 3; i++) {
    cs.push_back(Client());
    ASSERT_TRUE(AppPumpUntil([&] { return server->GetClientCount() == i + 1; }));
  }
  EXPECT_EQ(3u, created.size());
  EXPECT_EQ("name '' banner '' state 7 handle none", created[0]);

  // The owner closes one inside its own event; the object stays usable there.
  TNetSocketClient* first = server->GetClient(0);
  bool sawClosed = false;
  first->OnSessionClosed = [&](fw::TObject*, uint16_t) {
    sawClosed = true;
    EXPECT_EQ(3, server->GetClientCount());  // freed later, from the message loop
  };
  first->Close();
  first->Close();  // a second close changes nothing
  EXPECT_TRUE(sawClosed);
  EXPECT_EQ(3, server->GetClientCount());
  ASSERT_TRUE(AppPumpUntil([&] { return server->GetClientCount() == 2; }));

  plat::closesocket(cs[1]);  // the peer ends the second
  ASSERT_TRUE(AppPumpUntil([&] { return server->GetClientCount() == 1; }));
  AppPumpFor(100ms);
  EXPECT_EQ(1, Count("disconnect NetSocketServer1Client1 0 127.0.0.1"));
  EXPECT_EQ(1, Count("disconnect NetSocketServer1Client2 0 127.0.0.1"));
  EXPECT_EQ(2, Count("disconnect"));

  Client();
  ASSERT_TRUE(AppPumpUntil([&] { return server->GetClientCount() == 2; }));
  EXPECT_EQ("NetSocketServer1Client4", server->GetClient(1)->Name());
}

TEST_F(NetSocketServerTest, ClientClosedInItsConnectEventGetsNoBanner) {
  server->OnClientConnect = [this](fw::TObject*, TNetSocketClient* c, uint16_t) {
    log.push_back("connect");
    c->Close();
  };
  Listen();
  plat::SOCKET c = Client();
  bool closed = false;
  EXPECT_EQ("", test::RawRead(c, 100, &closed));
  EXPECT_TRUE(closed);
  ASSERT_TRUE(AppPumpUntil([&] { return server->GetClientCount() == 0; }));
  EXPECT_EQ(1, Count("disconnect"));
}

TEST_F(NetSocketServerTest, AFailingDisconnectHandlerStillFreesTheClient) {
  int bg = 0;
  server->OnBgException = [&](fw::TObject*, fw::Exception&, bool& CanClose) {
    bg++;
    CanClose = false;
  };
  server->OnClientDisconnect = [](fw::TObject*, TNetSocketClient*, uint16_t) {
    throw ESocketException("owner failed");
  };
  Listen();
  plat::SOCKET c = Client();
  ASSERT_TRUE(AppPumpUntil([&] { return server->GetClientCount() == 1; }));
  plat::closesocket(c);
  raws.clear();
  ASSERT_TRUE(AppPumpUntil([&] { return server->GetClientCount() == 0; }));
  EXPECT_EQ(1, bg);
  EXPECT_EQ(wsListening, server->State());
}

TEST_F(NetSocketServerTest, ClientsFreedByTheOwnerAndDestroyingTheServer) {
  Listen();
  Client();
  Client();
  ASSERT_TRUE(AppPumpUntil([&] { return server->GetClientCount() == 2; }));
  TNetSocketClient* a = server->GetClient(0);
  a->Close();      // posts its close to the server ...
  delete a;        // ... and is freed by the owner before that is handled
  EXPECT_EQ(1, server->GetClientCount());
  AppPumpFor(100ms);
  EXPECT_EQ(1, server->GetClientCount());
  EXPECT_EQ(0, Count("disconnect"));

  int closedEvents = 0;
  server->GetClient(0)->OnSessionClosed = [&](fw::TObject*, uint16_t) { closedEvents++; };
  owner.reset();  // frees the server and its clients: no session or disconnect events
  EXPECT_EQ(0, closedEvents);
  EXPECT_EQ(0, Count("disconnect"));
}

TEST_F(NetSocketServerTest, ServerThroughLineModeClientSessions) {
  server->OnClientConnect = [](fw::TObject*, TNetSocketClient* c, uint16_t) {
    c->SetLineMode(true);
    c->OnDataAvailable = [c](fw::TObject*, uint16_t) {
      std::string line = c->ReceiveStr();
      c->SendStr("[" + line.substr(0, line.size() - 2) + "]");
    };
  };
  Listen();
  plat::SOCKET c = Client();
  EXPECT_EQ("Welcome to TcpSrv\r\n", test::RawRead(c, 19));
  ASSERT_TRUE(test::RawSendAll(c, "S 12\r\nU 12\r\nwh"));
  EXPECT_EQ("[S 12][U 12]", test::RawRead(c, 12));
  ASSERT_TRUE(test::RawSendAll(c, "o\r\n"));
  EXPECT_EQ("[who]", test::RawRead(c, 5));
}

}  // namespace
}  // namespace vexa
