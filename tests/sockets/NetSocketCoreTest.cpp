// labels: integration
// The socket core: refusals, state machine, closing, resolution, lookups,
// background exceptions and the library's lifetime, over loopback TCP.
#include <memory>
#include <string>
#include <vector>

#include "tests/sockets/SocketTestKit.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using namespace test;

const char* StateName(TSocketState s) {
  static const char* names[] = {"invalid", "opened",    "bound",     "connecting",
                                "connected", "accepting", "listening", "closed"};
  return names[s];
}

// Records every event of a socket in order.
struct EventLog {
  std::vector<std::string> lines;
  void Attach(TCustomNetSocket& s) {
    s.OnChangeState = [this](fw::TObject*, TSocketState o, TSocketState n) {
      lines.push_back(std::string("state ") + StateName(o) + ">" + StateName(n));
    };
    s.OnSessionConnected = [this](fw::TObject*, uint16_t e) {
      lines.push_back("connected " + std::to_string(e));
    };
    s.OnSessionClosed = [this](fw::TObject*, uint16_t e) {
      lines.push_back("closed " + std::to_string(e));
    };
  }
};

class NetSocketCore : public test::SocketTest {};

TEST_F(NetSocketCore, ConnectRefusesMissingSettingsWithTheirTexts) {
  TNetSocket s(nullptr);
  EXPECT_EQ("Connect: No Port Specified", RaisedMessage([&] { s.Connect(); }));
  s.SetPort("5500");
  EXPECT_EQ("Connect: No IP Address Specified", RaisedMessage([&] { s.Connect(); }));
  s.SetAddr("127.0.0.1");
  s.SetProto("");
  EXPECT_EQ("Connect: No Protocol Specified", RaisedMessage([&] { s.Connect(); }));
  EXPECT_EQ(wsClosed, s.State());

  // With OnError the refusal is reported there and nothing is raised.
  int errors = 0;
  s.OnError = [&](fw::TObject*) { errors++; };
  s.Connect();
  EXPECT_EQ(1, errors);

  TNetSocket u(nullptr);
  u.SetPort("1");
  u.SetAddr("127.0.0.1");
  u.SetProto("no-such-protocol");
  EXPECT_EQ(0u, RaisedMessage([&] { u.Connect(); })
                    .find("connect: NetSocketResolveProto: Cannot convert protocol "
                          "'no-such-protocol', Error #"));
}

TEST_F(NetSocketCore, RefusedConnectionEventsAndDefaultsAfterClose) {
  int port = 0;
  plat::SOCKET l = test::RawListen(port);
  plat::closesocket(l);  // nobody listens there now

  TNetSocket s(nullptr);
  EventLog log;
  log.Attach(s);
  s.SetLingerOnOff(wsLingerOff);
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.Connect();
  EXPECT_EQ(wsConnecting, s.State());
  ASSERT_TRUE(AppPumpUntil([&] { return s.State() == wsClosed; }));
  AppPumpFor(100ms);
  std::vector<std::string> want = {"state closed>opened", "state opened>connecting",
                                   "state connecting>connected", "connected 10061",
                                   "state connected>closed", "closed 0"};
  EXPECT_EQ(want, log.lines);

  // The texts stay readable, but Addr and Port must be assigned again.
  EXPECT_EQ("127.0.0.1", s.Addr());
  EXPECT_EQ(std::to_string(port), s.Port());
  EXPECT_EQ("tcp", s.Proto());
  EXPECT_EQ(wsLingerOn, s.LingerOnOff());
  EXPECT_EQ("Connect: No Port Specified", RaisedMessage([&] { s.Connect(); }));
}

TEST_F(NetSocketCore, SettingsAreRefusedWhileOpenUnlessUnchanged) {
  int port = 0;
  plat::SOCKET l = test::RawListen(port);
  TNetSocket s(nullptr);
  s.SetAddr(" 127.0.0.1 ");
  EXPECT_EQ("127.0.0.1", s.Addr());
  s.SetPort(std::to_string(port));
  s.Connect();
  ASSERT_TRUE(AppPumpUntil([&] { return s.State() == wsConnected; }));
  s.SetPort(std::to_string(port));  // same text: accepted silently
  EXPECT_EQ("Cannot change Port if not closed", RaisedMessage([&] { s.SetPort("1"); }));
  EXPECT_EQ("Cannot change Addr if not closed", RaisedMessage([&] { s.SetAddr("10.0.0.1"); }));
  EXPECT_EQ("Cannot change LocalPort if not closed", RaisedMessage([&] { s.SetLocalPort("1"); }));
  EXPECT_EQ("Connect: Socket already in use", RaisedMessage([&] { s.Connect(); }));
  EXPECT_EQ("127.0.0.1", s.PeerAddr());
  EXPECT_EQ(std::to_string(port), s.PeerPort());
  EXPECT_EQ("127.0.0.1", s.GetBoundAddr());
  s.Close();
  EXPECT_EQ("error", s.PeerAddr());
  EXPECT_EQ("error", s.GetBoundPort());

  TNetSocket t(nullptr);
  EXPECT_EQ("SetLocalAddr(): Invalid IP address",
            RaisedMessage([&] { t.SetLocalAddr("1.2.3.400"); }));
  t.SetLocalAddr("127.1");
  EXPECT_EQ("127.0.0.1", t.LocalAddr());
  t.SetLocalAddr("");
  EXPECT_EQ("0.0.0.0", t.LocalAddr());
  plat::closesocket(l);
}

TEST_F(NetSocketCore, LocalBindingTakesTheBoundPort) {
  int port = 0;
  plat::SOCKET l = test::RawListen(port);
  TNetSocket s(nullptr);
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.SetLocalAddr("127.0.0.1");
  s.Connect();
  EXPECT_NE("0", s.LocalPort());  // the port the platform chose
  ASSERT_TRUE(AppPumpUntil([&] { return s.State() == wsConnected; }));
  EXPECT_EQ(s.LocalPort(), s.GetBoundPort());
  plat::closesocket(l);
}

TEST_F(NetSocketCore, ResolutionRoutinesAndErrorTexts) {
  TNetSocket keepLoaded(nullptr);
  EXPECT_TRUE(IsDottedAddress("10.1.2.3"));
  EXPECT_TRUE(IsDottedAddress("  10.1.2.3  "));
  EXPECT_FALSE(IsDottedAddress("1.2.3"));
  EXPECT_FALSE(IsDottedAddress("1..2.3"));
  EXPECT_FALSE(IsDottedAddress("256.1.1.1"));
  EXPECT_FALSE(IsDottedAddress("1.2.3.256"));
  EXPECT_FALSE(IsDottedAddress(".1.2.3"));
  EXPECT_FALSE(IsDottedAddress("1.2.3.4.5"));
  EXPECT_FALSE(IsDottedAddress("1.2.3.4x"));
  EXPECT_FALSE(IsDottedAddress(""));

  EXPECT_EQ(0xFFFFFFFFu, NetSocketResolveHost("255.255.255.255"));
  EXPECT_EQ(plat::htonl(0x7F000001), NetSocketResolveHost("localhost"));
  EXPECT_EQ("NetSocketResolveHost: '' Invalid Hostname.",
            RaisedMessage([] { NetSocketResolveHost(""); }));
  EXPECT_EQ("NetSocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname.",
            RaisedMessage([] { NetSocketResolveHost(std::string(257, 'a')); }));

  EXPECT_EQ(80, NetSocketResolvePort("80abc", "tcp"));
  EXPECT_EQ(80, NetSocketResolvePort("http", "tcp"));
  EXPECT_EQ("NetSocketResolvePort: Invalid Port.",
            RaisedMessage([] { NetSocketResolvePort(std::string(32, '1'), "tcp"); }));
  EXPECT_EQ("NetSocketResolvePort: Invalid Proto.",
            RaisedMessage([] { NetSocketResolvePort("80", ""); }));
  EXPECT_EQ(0u, RaisedMessage([] { NetSocketResolvePort("nosuchservice", "tcp"); })
                    .find("NetSocketResolvePort: Cannot convert port 'nosuchservice', Error #"));
  EXPECT_EQ(6, NetSocketResolveProto("tcp"));
  EXPECT_EQ(17, NetSocketResolveProto(" 17"));
  EXPECT_EQ("NetSocketResolveProto: Invalid Protocol.",
            RaisedMessage([] { NetSocketResolveProto(""); }));

  EXPECT_EQ("Not a WinSock error", SocketErrorText(9999));
  EXPECT_EQ("No Error", SocketErrorText(0));
  EXPECT_EQ("Connection refused", SocketErrorText(10061));
  EXPECT_EQ("No Data", SocketErrorText(11004));
  EXPECT_EQ("Can't send after socket shutdown", SocketErrorText(10058));
}

TEST_F(NetSocketCore, AsynchronousLookups) {
  TNetSocket s(nullptr);
  std::vector<int> done;
  s.OnDnsLookupDone = [&](fw::TObject*, uint16_t e) { done.push_back(e); };

  s.DnsLookup("127.0.0.1");  // dotted: answered before the call returns
  ASSERT_EQ(std::vector<int>{0}, done);
  EXPECT_EQ("127.0.0.1", s.DnsResult());

  done.clear();
  s.DnsLookup("localhost");
  EXPECT_TRUE(done.empty());
  ASSERT_TRUE(AppPumpUntil([&] { return !done.empty(); }));
  EXPECT_EQ(0, done[0]);
  EXPECT_EQ("127.0.0.1", s.DnsResult());
  ASSERT_GE(s.DnsResultList()->Count(), 1);
  EXPECT_EQ("127.0.0.1", s.DnsResultList()->Get(0));

  done.clear();
  s.DnsLookup("localhost");
  s.CancelDnsLookup();
  ASSERT_EQ(std::vector<int>{10004}, done);
  AppPumpFor(100ms);
  EXPECT_EQ(std::vector<int>{10004}, done);  // the cancelled answer is not delivered

  done.clear();
  EXPECT_EQ("DNS lookup: invalid host name.", RaisedMessage([&] { s.DnsLookup(""); }));
  s.OnError = [](fw::TObject*) {};
  s.DnsLookup("");
  EXPECT_EQ(std::vector<int>{10022}, done);

  done.clear();
  s.ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(AppPumpUntil([&] { return !done.empty(); }));
  if (done[0] == 0) {
    EXPECT_FALSE(s.DnsResult().empty());
    EXPECT_EQ(1, s.DnsResultList()->Count());
  }
}

TEST_F(NetSocketCore, PeerSendingAndClosingAtOnceDeliversEverythingFirst) {
  for (bool noLoop : {false, true}) {
    int port = 0;
    plat::SOCKET l = test::RawListen(port);
    TNetSocket s(nullptr);
    if (noLoop) s.SetComponentOptions({wsoNoReceiveLoop});
    std::string got;
    std::vector<std::string> order;
    s.OnDataAvailable = [&](fw::TObject*, uint16_t) {
      char buf[7];  // small reads: several deliveries
      int n = s.Receive(buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    };
    s.OnSessionClosed = [&](fw::TObject*, uint16_t e) {
      order.push_back("closed " + std::to_string(e) + " after " + std::to_string(got.size()));
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
    plat::SOCKET peer = test::RawAccept(l);
    ASSERT_TRUE(AppPumpUntil([&] { return s.State() == wsConnected; }));
    std::string data = test::Pattern(3000);
    ASSERT_TRUE(test::RawSendAll(peer, data));
    plat::closesocket(peer);
    ASSERT_TRUE(AppPumpUntil([&] { return s.State() == wsClosed; }));
    AppPumpFor(100ms);
    EXPECT_EQ(data, got);
    EXPECT_EQ(std::vector<std::string>{"closed 0 after 3000"}, order);
    plat::closesocket(l);
  }
}

TEST_F(NetSocketCore, BackgroundExceptionAbortsUnlessKept) {
  int port = 0;
  plat::SOCKET l = test::RawListen(port);
  TNetSocket s(nullptr);
  std::vector<std::string> seen;
  bool keep = true;
  s.OnBgException = [&](fw::TObject*, fw::Exception& E, bool& CanClose) {
    seen.push_back(std::string(E.ClassName()) + ": " + E.Message());
    if (keep) CanClose = false;
  };
  int closed = 0;
  s.OnSessionClosed = [&](fw::TObject*, uint16_t e) {
    closed++;
    EXPECT_EQ(0, e);
  };
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.Connect();
  plat::SOCKET peer = test::RawAccept(l);
  ASSERT_TRUE(AppPumpUntil([&] { return s.State() == wsConnected; }));

  // Look-alikes of its private messages, which any program may post to its
  // window, raise nothing and close nothing: the socket posted none of them.
  const int32_t every =
      plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CONNECT | plat::FD_CLOSE;
  for (plat::UINT id :
       {SocketMsgTestException, SocketMsgCloseDelayed, SocketMsgRelease, plat::WM_CLOSE}) {
    plat::PostMessage(s.Handle(), id, 0, 0);
  }
  plat::PostMessage(s.Handle(), SocketMsgSelect, s.HSocket(), every);
  plat::PostMessage(s.Handle(), SocketMsgSelect, s.HSocket(), (10054 << 16) | every);
  fw::Application->ProcessMessages();
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(0, closed);
  EXPECT_EQ(wsConnected, s.State());
  EXPECT_TRUE(plat::IsWindow(s.Handle()));

  s.PostTestException();
  ASSERT_TRUE(AppPumpUntil([&] { return seen.size() == 1; }));
  EXPECT_EQ("ESocketException: Test exception in NetSocket", seen[0]);
  EXPECT_EQ(wsConnected, s.State());

  keep = false;
  s.PostTestException();
  ASSERT_TRUE(AppPumpUntil([&] { return s.State() == wsClosed; }));
  EXPECT_EQ(1, closed);
  // Aborted: the peer sees the connection reset rather than an orderly end.
  bool peerClosed = false;
  test::RawRead(peer, 1, &peerClosed);
  EXPECT_TRUE(peerClosed);
  plat::closesocket(peer);
  plat::closesocket(l);
}

TEST_F(NetSocketCore, CloseDelayedAndDestroyWithoutCloseEvent) {
  int port = 0;
  plat::SOCKET l = test::RawListen(port);
  auto s = std::make_unique<TNetSocket>(nullptr);
  int closed = 0;
  s->OnSessionClosed = [&](fw::TObject*, uint16_t) { closed++; };
  s->SetAddr("127.0.0.1");
  s->SetPort(std::to_string(port));
  s->Connect();
  plat::SOCKET peer = test::RawAccept(l);
  ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsConnected; }));
  s->CloseDelayed();
  EXPECT_EQ(wsConnected, s->State());  // nothing happens inside the call
  ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsClosed; }));
  EXPECT_EQ(1, closed);

  s->SetAddr("127.0.0.1");
  s->SetPort(std::to_string(port));
  s->Connect();
  plat::SOCKET peer2 = test::RawAccept(l);
  ASSERT_TRUE(AppPumpUntil([&] { return s->State() == wsConnected; }));
  int changes = 0;
  s->OnChangeState = [&](fw::TObject*, TSocketState, TSocketState) { changes++; };
  s.reset();  // connected when destroyed: closed without any event
  EXPECT_EQ(1, closed);
  EXPECT_EQ(0, changes);
  bool peerClosed = false;
  test::RawRead(peer2, 1, &peerClosed);
  EXPECT_TRUE(peerClosed);
  plat::closesocket(peer);
  plat::closesocket(peer2);
  plat::closesocket(l);
}

TEST_F(NetSocketCore, LibraryLoadsOnFirstUseAndUnloadsWithTheLastSocket) {
  EXPECT_EQ(0u, plat::GetModuleHandle("wsock32.dll"));
  {
    TNetSocket a(nullptr);
    EXPECT_EQ(0u, plat::GetModuleHandle("wsock32.dll"));  // nothing needed it yet
    a.SetLocalAddr("127.0.0.1");
    EXPECT_NE(0u, plat::GetModuleHandle("wsock32.dll"));
    {
      TNetSocket b(nullptr);
    }
    EXPECT_NE(0u, plat::GetModuleHandle("wsock32.dll"));  // a still lives
  }
  EXPECT_EQ(0u, plat::GetModuleHandle("wsock32.dll"));
  {
    TNetSocket c(nullptr);
    c.SetLocalAddr("127.0.0.1");
    EXPECT_NE(0u, plat::GetModuleHandle("wsock32.dll"));
  }

  // Load failures are raised as they are, never handed to OnError.
  plat::SetLibraryAvailableForTesting("wsock32.dll", false);
  TNetSocket d(nullptr);
  int errors = 0;
  d.OnError = [&](fw::TObject*) { errors++; };
  EXPECT_EQ("Unable to load wsock32.dll Error #126",
            RaisedMessage([&] { d.SetLocalAddr("1.2.3.4"); }));
  d.SetAddr("127.0.0.1");
  d.SetPort("1");
  EXPECT_EQ("Unable to load wsock32.dll Error #126", RaisedMessage([&] { d.Connect(); }));
  // Listen too, whether or not the socket is otherwise ready.
  EXPECT_EQ("Unable to load wsock32.dll Error #126", RaisedMessage([&] { d.Listen(); }));
  TNetSocket e(nullptr);
  e.OnError = [&](fw::TObject*) { errors++; };
  EXPECT_EQ("Unable to load wsock32.dll Error #126", RaisedMessage([&] { e.Listen(); }));
  EXPECT_EQ(wsClosed, d.State());
  EXPECT_EQ(0, errors);
  plat::SetLibraryAvailableForTesting("wsock32.dll", true);
}

TEST_F(NetSocketCore, ListenRefusalsAndAddressInUse) {
  TNetSocket s(nullptr);
  EXPECT_EQ("Error 10022 in function listen: port not assigned\r\nInvalid argument",
            RaisedMessage([&] { s.Listen(); }));
  s.SetPort("0");
  EXPECT_EQ("Error 10022 in function listen: address not assigned\r\nInvalid argument",
            RaisedMessage([&] { s.Listen(); }));
  EXPECT_EQ("Error 10022 in function not a listening socket\r\nInvalid argument",
            RaisedMessage([&] { s.Accept(); }));

  int port = 0;
  plat::SOCKET l = test::RawListen(port);
  TNetSocket t(nullptr);
  t.SetAddr("127.0.0.1");
  t.SetPort(std::to_string(port));
  EXPECT_EQ("Error 10048 in function Bind\r\nAddress already in use",
            RaisedMessage([&] { t.Listen(); }));
  EXPECT_EQ(wsClosed, t.State());
  EXPECT_EQ(plat::INVALID_SOCKET, t.HSocket());  // the failed handle is not left open
  plat::closesocket(l);
}

TEST_F(NetSocketCore, DatagramListenAndConnect) {
  std::vector<std::string> rxLog;
  std::vector<std::string> got;
  TNetSocket rx(nullptr);
  rx.OnChangeState = [&](fw::TObject*, TSocketState, TSocketState n) {
    rxLog.push_back(StateName(n));
  };
  rx.OnSessionConnected = [&](fw::TObject*, uint16_t e) {
    rxLog.push_back("connected " + std::to_string(e));
  };
  rx.OnDataAvailable = [&](fw::TObject*, uint16_t) {
    char buf[100];
    plat::sockaddr_in from;
    int32_t fromLen = sizeof from;
    int n = rx.ReceiveFrom(buf, sizeof buf, from, fromLen);
    if (n >= 0) got.emplace_back(buf, static_cast<size_t>(n));
  };
  rx.SetProto("udp");
  rx.SetAddr("127.0.0.1");
  rx.SetPort("0");
  rx.Listen();
  EXPECT_EQ((std::vector<std::string>{"bound", "listening", "connected", "connected 0"}), rxLog);
  std::string port = rx.GetBoundPort();

  TNetSocket tx(nullptr);
  int connected = 0;
  tx.OnSessionConnected = [&](fw::TObject*, uint16_t) { connected++; };
  tx.SetProto("17");
  tx.SetAddr("127.0.0.1");
  tx.SetPort(port);
  tx.Connect();
  EXPECT_EQ(1, connected);  // at once: no handshake
  EXPECT_EQ(wsConnected, tx.State());
  EXPECT_EQ(5, tx.SendStr("dgram"));
  EXPECT_EQ(3, tx.SendStr("two"));
  ASSERT_TRUE(AppPumpUntil([&] { return got.size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"dgram", "two"}), got);
}

}  // namespace
}  // namespace vexa
