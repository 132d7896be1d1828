// labels: integration
// timeout: 120
// The SOCKS 5 client through a real SOCKS server (Debian's dante-server,
// started on loopback for the test), without authentication and with a
// user/password it must refuse.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/sockets/SocketTestKit.h"
#include "tests/support/ChildProcess.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using namespace test;

const char* const kDanted = "/usr/sbin/danted";

class NetSocketDante : public test::SocketTest {
protected:
  // Starts the server with the given method; false when it cannot run here.
  bool StartServer(const std::string& method) {
    if (access(kDanted, X_OK) != 0) return false;
    int probe = 0;
    plat::SOCKET l = test::RawListen(probe);  // a port that was free a moment ago
    plat::closesocket(l);
    socksPort = probe;
    std::string conf = session.Root() + "/danted.conf";
    std::ofstream f(conf);
    f << "logoutput: stderr\n"
      << "internal: 127.0.0.1 port = " << socksPort << "\n"
      << "external: 127.0.0.1\n"
      << "clientmethod: none\n"
      << "socksmethod: " << method << "\n";
    if (getuid() == 0) f << "user.privileged: root\nuser.unprivileged: nobody\n";
    f << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
      << "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: connect }\n";
    f.close();
    server = std::make_unique<test::ChildProcess>(
        kDanted,
        std::vector<std::string>{"-f", conf, "-N", "1", "-p", session.Root() + "/danted.pid"},
        std::vector<std::string>{}, true);
    if (!server->WaitForLine("running", std::chrono::seconds(10))) return false;
    // Running is logged before the listener is certain to take connections.
    for (int i = 0; i < 100; i++) {
      plat::SOCKET c = test::RawConnect(socksPort);
      if (c != plat::INVALID_SOCKET) {
        plat::closesocket(c);
        return true;
      }
      plat::Sleep(50);
    }
    return false;
  }
  void TearDown() override {
    s.reset();
    if (server) {
      server->Signal(SIGTERM);
      server->Wait(std::chrono::seconds(10));
      server.reset();
    }
    test::SocketTest::TearDown();
  }
  void Prepare(int targetPort) {
    s = std::make_unique<TNetSocket>(nullptr);
    s->SetSocksServer("127.0.0.1");
    s->SetSocksPort(std::to_string(socksPort));
    s->SetAddr("127.0.0.1");
    s->SetPort(std::to_string(targetPort));
    s->OnSocksError = [this](fw::TObject*, int32_t e, const std::string& m) {
      log.push_back("socks error " + std::to_string(e) + " " + m);
    };
    s->OnSessionConnected = [this](fw::TObject*, uint16_t e) {
      log.push_back("connected " + std::to_string(e));
    };
    s->OnSessionClosed = [this](fw::TObject*, uint16_t e) {
      log.push_back("closed " + std::to_string(e));
    };
    s->OnDataAvailable = [this](fw::TObject*, uint16_t) { received += s->ReceiveStr(); };
  }

  int socksPort = 0;
  std::unique_ptr<test::ChildProcess> server;
  std::unique_ptr<TNetSocket> s;
  std::vector<std::string> log;
  std::string received;
};

TEST_F(NetSocketDante, Level5ThroughTheServerBothWays) {
  if (!StartServer("none")) GTEST_SKIP() << "dante-server is not available here";
  int targetPort = 0;
  plat::SOCKET target = test::RawListen(targetPort);
  Prepare(targetPort);
  s->Connect();
  plat::SOCKET far = test::RawAccept(target);
  ASSERT_NE(plat::INVALID_SOCKET, far);
  ASSERT_TRUE(AppPumpUntil([&] { return !log.empty(); }));
  EXPECT_EQ("connected 0", log[0]);
  EXPECT_EQ(wsConnected, s->State());

  s->SendStr("through the proxy\r\n");
  EXPECT_EQ("through the proxy\r\n", test::RawRead(far, 19));
  ASSERT_TRUE(test::RawSendAll(far, "and back"));
  ASSERT_TRUE(AppPumpUntil([&] { return received.size() == 8; }));
  EXPECT_EQ("and back", received);

  plat::closesocket(far);
  ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed; }));
  EXPECT_EQ("closed 0", log.back());
  plat::closesocket(target);
}

TEST_F(NetSocketDante, UnknownUserIsRefused) {
  if (!StartServer("username")) GTEST_SKIP() << "dante-server is not available here";
  int targetPort = 0;
  plat::SOCKET target = test::RawListen(targetPort);
  Prepare(targetPort);
  std::vector<TSocksAuthState> states;
  s->OnSocksAuthState = [&](fw::TObject*, TSocksAuthState a) { states.push_back(a); };
  s->SetSocksAuthentication(socksAuthenticateUsercode);
  s->SetSocksUsercode("no-such-user-here");
  s->SetSocksPassword("wrong");
  s->Connect();
  ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed; }));
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(socksAuthBegin, states[0]);
  // The server answers the failure, or hangs up during the sub-negotiation.
  bool answered = !log.empty() && log[0] == "socks error 20015 socks authentication failed";
  bool hungUp = states.size() == 2 && states[1] == socksAuthRejected;
  EXPECT_TRUE(answered || hungUp);
  EXPECT_EQ(std::string::npos, log.front().find("connected 0"));
  plat::closesocket(target);
}

}  // namespace
}  // namespace vexa
