// labels: integration
// The socket library: module rules, error codes, asynchronous selection over
// real loopback TCP, lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/net/Net.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestSession.h"

using namespace plat;
using namespace std::chrono_literals;
using vexa::test::PumpUntil;

namespace {

struct Event {
  UINT msg;
  WPARAM wParam;
  int32_t event;
  int32_t error;
};

class NetLibrary : public ::testing::Test {
protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(0x0101, &data));
    WNDCLASS wc;
    wc.lpszClassName = "NetLibraryTestWindow";
    wc.lpfnWndProc = [this](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m >= WM_USER) {
        events.push_back({m, w, WSAGETSELECTEVENT(l), WSAGETSELECTERROR(l)});
        lastLParam = l;
        return 0;
      }
      return DefWindowProc(h, m, w, l);
    };
    RegisterClass(wc);
    wnd = CreateWindowEx(0, "NetLibraryTestWindow", "", WS_POPUP, 0, 0, 0, 0, 0, 0);
    ASSERT_NE(0u, wnd);
  }
  void TearDown() override {
    DestroyWindow(wnd);
    UnregisterClass("NetLibraryTestWindow");  // its procedure holds this fixture
    WSACleanup();
  }

  int Count(SOCKET s, int32_t ev) {
    int n = 0;
    for (auto& e : events)
      if (e.wParam == s && e.event == ev) n++;
    return n;
  }

  vexa::test::TestSession session;
  HWND wnd = 0;
  std::vector<Event> events;
  LPARAM lastLParam = 0;
};

TEST(NetModule, LoadingBindingAndStartupRules) {
  EXPECT_EQ(0u, LoadLibrary("other.dll"));
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, GetLastError());

  HMODULE m = LoadLibrary("WSOCK32.DLL");  // names compare without regard to case
  ASSERT_NE(0u, m);
  EXPECT_EQ(m, GetModuleHandle("wsock32.dll"));
  EXPECT_EQ(nullptr, GetProcAddress(m, "WSAFancy"));
  EXPECT_EQ(ERROR_PROC_NOT_FOUND, GetLastError());
  auto sock = reinterpret_cast<decltype(&plat::socket)>(GetProcAddress(m, "socket"));
  ASSERT_NE(nullptr, sock);

  // Every socket function refuses to work before start-up.
  EXPECT_EQ(INVALID_SOCKET, sock(AF_INET, SOCK_STREAM, 0));
  EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());

  WSADATA data;
  EXPECT_EQ(WSAVERNOTSUPPORTED, WSAStartup(0x0000, &data));
  ASSERT_EQ(0, WSAStartup(0x0101, &data));
  EXPECT_EQ(0x0101, data.wVersion);
  SOCKET s = sock(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(INVALID_SOCKET, s);
  // The last clean-up closes what is still open.
  EXPECT_EQ(0, WSACleanup());
  ASSERT_EQ(0, WSAStartup(0x0101, &data));
  EXPECT_EQ(SOCKET_ERROR, closesocket(s));
  EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
  WSACleanup();

  EXPECT_TRUE(FreeLibrary(m));
  EXPECT_EQ(0u, GetModuleHandle("wsock32.dll"));

  SetLibraryAvailableForTesting("wsock32.dll", false);
  EXPECT_EQ(0u, LoadLibrary("wsock32.dll"));
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, GetLastError());
  SetLibraryAvailableForTesting("wsock32.dll", true);
}

TEST(NetModule, AddressTextAndErrorMapping) {
  EXPECT_EQ(htonl(0x7F000001), inet_addr("127.0.0.1"));
  EXPECT_EQ(htonl(0x7F000001), inet_addr("127.1"));
  EXPECT_EQ(htonl(0x0A000001), inet_addr("0x0A.0.0.1"));
  EXPECT_EQ(INADDR_NONE, inet_addr("255.255.255.255"));
  EXPECT_EQ(INADDR_NONE, inet_addr("1.2.3.256"));
  EXPECT_EQ(INADDR_NONE, inet_addr("host.example"));
  EXPECT_EQ(INADDR_NONE, inet_addr(""));
  in_addr a;
  a.s_addr = htonl(0xC0A80102);
  EXPECT_STREQ("192.168.1.2", inet_ntoa(a));

  EXPECT_EQ(WSAECONNREFUSED, WSAErrorFromErrno(ECONNREFUSED));
  EXPECT_EQ(WSAEWOULDBLOCK, WSAErrorFromErrno(EAGAIN));
  EXPECT_EQ(WSAEADDRINUSE, WSAErrorFromErrno(EADDRINUSE));
  EXPECT_EQ(WSAECONNRESET, WSAErrorFromErrno(ECONNRESET));
  EXPECT_EQ(WSAENOTCONN, WSAErrorFromErrno(ENOTCONN));
}

TEST_F(NetLibrary, BlockingRefusedConnectAndAddressInUse) {
  int port = 0;
  SOCKET l = vexa::test::RawListen(port, 5);
  SOCKET other = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = vexa::test::LoopbackAddr(port);
  EXPECT_EQ(SOCKET_ERROR, bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a));
  EXPECT_EQ(WSAEADDRINUSE, WSAGetLastError());
  closesocket(l);
  EXPECT_EQ(SOCKET_ERROR, connect(other, reinterpret_cast<sockaddr*>(&a), sizeof a));
  EXPECT_EQ(WSAECONNREFUSED, WSAGetLastError());
  // A missing or short address is refused as such, whichever call gets it.
  auto* name = reinterpret_cast<sockaddr*>(&a);
  const int shortLen = int(sizeof a) - 1;
  auto refused = [](int rc) { return rc == SOCKET_ERROR && WSAGetLastError() == WSAEFAULT; };
  EXPECT_TRUE(refused(bind(other, nullptr, sizeof a)));
  EXPECT_TRUE(refused(bind(other, name, shortLen)));
  EXPECT_TRUE(refused(connect(other, nullptr, sizeof a)));
  EXPECT_TRUE(refused(connect(other, name, shortLen)));
  EXPECT_TRUE(refused(sendto(other, "x", 1, 0, name, shortLen)));
  closesocket(other);
}

TEST_F(NetLibrary, AcceptReadWriteAndCloseEvents) {
  int port = 0;
  SOCKET l = vexa::test::RawListen(port, 5);
  ASSERT_EQ(0, WSAAsyncSelect(l, wnd, 0x401, FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE));
  SOCKET c1 = vexa::test::RawConnect(port);
  ASSERT_NE(c1, INVALID_SOCKET);
  SOCKET c2 = vexa::test::RawConnect(port);
  ASSERT_NE(c2, INVALID_SOCKET);
  ASSERT_TRUE(PumpUntil([&] { return Count(l, FD_ACCEPT) >= 1; }));
  vexa::test::PumpFor(100ms);
  // One accept event until accept is called; then again while one waits.
  EXPECT_EQ(1, Count(l, FD_ACCEPT));
  sockaddr_in peer;
  int plen = sizeof peer;
  SOCKET s1 = accept(l, reinterpret_cast<sockaddr*>(&peer), &plen);
  ASSERT_NE(INVALID_SOCKET, s1);
  EXPECT_STREQ("127.0.0.1", inet_ntoa(peer.sin_addr));
  ASSERT_TRUE(PumpUntil([&] { return Count(l, FD_ACCEPT) >= 2; }));
  SOCKET s2 = accept(l, nullptr, nullptr);
  ASSERT_NE(INVALID_SOCKET, s2);
  vexa::test::PumpFor(100ms);
  EXPECT_EQ(2, Count(l, FD_ACCEPT));

  // A connected, writable socket reports FD_WRITE when selected.
  ASSERT_EQ(0, WSAAsyncSelect(s1, wnd, 0x402, FD_READ | FD_WRITE | FD_CLOSE));
  ASSERT_TRUE(PumpUntil([&] { return Count(s1, FD_WRITE) == 1; }));

  // Data: one read event; a partial recv brings the next one at once.
  ASSERT_EQ(10, send(c1, "0123456789", 10, 0));
  ASSERT_TRUE(PumpUntil([&] { return Count(s1, FD_READ) == 1; }));
  vexa::test::PumpFor(100ms);
  EXPECT_EQ(1, Count(s1, FD_READ));
  plat::u_long waiting = 0;
  ASSERT_EQ(0, ioctlsocket(s1, FIONREAD, &waiting));
  EXPECT_EQ(10u, waiting);
  char buf[64];
  ASSERT_EQ(4, recv(s1, buf, 4, 0));
  EXPECT_EQ(0, std::memcmp(buf, "0123", 4));
  ASSERT_TRUE(PumpUntil([&] { return Count(s1, FD_READ) == 2; }));
  ASSERT_EQ(6, recv(s1, buf, sizeof buf, 0));
  vexa::test::PumpFor(100ms);
  EXPECT_EQ(2, Count(s1, FD_READ));  // nothing left: no new event
  EXPECT_EQ(SOCKET_ERROR, recv(s1, buf, sizeof buf, 0));
  EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());

  // The peer sends and closes: the data is still there to read after FD_CLOSE.
  ASSERT_EQ(3, send(c1, "end", 3, 0));
  closesocket(c1);
  ASSERT_TRUE(PumpUntil([&] { return Count(s1, FD_CLOSE) == 1; }));
  EXPECT_EQ(3, recv(s1, buf, sizeof buf, 0));
  EXPECT_EQ(0, recv(s1, buf, sizeof buf, 0));
  vexa::test::PumpFor(100ms);
  EXPECT_EQ(1, Count(s1, FD_CLOSE));
  for (auto& e : events)
    if (e.wParam == s1 && e.event == FD_CLOSE) {
      EXPECT_EQ(0, e.error);
    }

  // Stopping the selection stops the messages.
  ASSERT_EQ(0, WSAAsyncSelect(s2, wnd, 0x403, 0));
  ASSERT_EQ(1, send(c2, "x", 1, 0));
  vexa::test::PumpFor(100ms);
  EXPECT_EQ(0, Count(s2, FD_READ));
  closesocket(s1);
  closesocket(s2);
  closesocket(c2);
  closesocket(l);
}

TEST_F(NetLibrary, WriteEventAfterABlockedSend) {
  int port = 0;
  SOCKET l = vexa::test::RawListen(port, 5);
  SOCKET c = vexa::test::RawConnect(port);
  ASSERT_NE(c, INVALID_SOCKET);
  SOCKET s = accept(l, nullptr, nullptr);
  ASSERT_NE(INVALID_SOCKET, s);
  ASSERT_EQ(0, WSAAsyncSelect(s, wnd, 0x401, FD_READ | FD_WRITE | FD_CLOSE));
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_WRITE) == 1; }));
  std::vector<char> block(65536, 'z');
  long total = 0;
  int rc;
  while ((rc = send(s, block.data(), static_cast<int>(block.size()), 0)) > 0) total += rc;
  EXPECT_EQ(SOCKET_ERROR, rc);
  EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());
  vexa::test::PumpFor(100ms);
  EXPECT_EQ(1, Count(s, FD_WRITE));
  // The peer drains everything: the write event tells the sender to go on.
  std::vector<char> in(65536);
  long got = 0;
  while (got < total) {
    int n = recv(c, in.data(), static_cast<int>(in.size()), 0);
    ASSERT_GT(n, 0);
    got += n;
  }
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_WRITE) == 2; }));
  closesocket(s);
  closesocket(c);
  closesocket(l);
}

TEST_F(NetLibrary, AsynchronousConnectSucceedsOrIsRefused) {
  int port = 0;
  SOCKET l = vexa::test::RawListen(port, 5);
  SOCKET c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(0, WSAAsyncSelect(c, wnd, 0x401, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE));
  sockaddr_in a = vexa::test::LoopbackAddr(port);
  EXPECT_EQ(SOCKET_ERROR, connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a));
  EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());
  ASSERT_TRUE(PumpUntil([&] { return Count(c, FD_WRITE) == 1; }));
  ASSERT_EQ(1, Count(c, FD_CONNECT));
  EXPECT_EQ(FD_CONNECT, events[0].event);
  EXPECT_EQ(0, events[0].error);
  closesocket(c);

  closesocket(l);
  SOCKET r = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(0, WSAAsyncSelect(r, wnd, 0x401, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE));
  EXPECT_EQ(SOCKET_ERROR, connect(r, reinterpret_cast<sockaddr*>(&a), sizeof a));
  EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());
  ASSERT_TRUE(PumpUntil([&] { return Count(r, FD_CONNECT) == 1; }));
  vexa::test::PumpFor(100ms);
  for (auto& e : events) {
    if (e.wParam != r) continue;
    EXPECT_EQ(FD_CONNECT, e.event);  // no write or close event for a refused connection
    EXPECT_EQ(WSAECONNREFUSED, e.error);
  }
  closesocket(r);
}

TEST_F(NetLibrary, AbortiveCloseReportsReset) {
  int port = 0;
  SOCKET l = vexa::test::RawListen(port, 5);
  SOCKET c = vexa::test::RawConnect(port);
  ASSERT_NE(c, INVALID_SOCKET);
  SOCKET s = accept(l, nullptr, nullptr);
  ASSERT_EQ(0, WSAAsyncSelect(s, wnd, 0x401, FD_READ | FD_WRITE | FD_CLOSE));
  linger lg;
  lg.l_onoff = 1;
  lg.l_linger = 0;
  ASSERT_EQ(0, setsockopt(c, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg));
  closesocket(c);
  ASSERT_TRUE(PumpUntil([&] { return Count(s, FD_CLOSE) == 1; }));
  for (auto& e : events)
    if (e.wParam == s && e.event == FD_CLOSE) {
      EXPECT_EQ(WSAECONNRESET, e.error);
    }
  closesocket(s);
  closesocket(l);
}

TEST_F(NetLibrary, ServiceProtocolAndHostLookups) {
  servent* se = getservbyname("http", "tcp");
  ASSERT_NE(nullptr, se);
  EXPECT_EQ(80, ntohs(static_cast<u_short>(se->s_port)));
  EXPECT_EQ(nullptr, getservbyname("no-such-service-here", "tcp"));
  EXPECT_EQ(WSANO_DATA, WSAGetLastError());
  protoent* pe = getprotobyname("udp");
  ASSERT_NE(nullptr, pe);
  EXPECT_EQ(17, pe->p_proto);
  EXPECT_EQ(nullptr, getprotobyname("no-such-protocol"));

  hostent* he = gethostbyname("localhost");
  ASSERT_NE(nullptr, he);
  EXPECT_EQ(AF_INET, he->h_addrtype);
  EXPECT_EQ(4, he->h_length);
  ASSERT_NE(nullptr, he->h_addr_list[0]);
  uint32_t addr;
  std::memcpy(&addr, he->h_addr_list[0], 4);
  EXPECT_EQ(htonl(0x7F000001), addr);

  // Asynchronous lookups complete through a posted message naming the request.
  alignas(16) char buf[MAXGETHOSTSTRUCT + 1];
  HANDLE req = WSAAsyncGetHostByName(wnd, 0x402, "localhost", buf, sizeof buf);
  ASSERT_NE(0u, req);
  ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }));
  EXPECT_EQ(0x402u, events[0].msg);
  EXPECT_EQ(static_cast<WPARAM>(req), events[0].wParam);
  EXPECT_EQ(0, WSAGETASYNCERROR(lastLParam));
  auto* ahe = reinterpret_cast<hostent*>(buf);
  std::memcpy(&addr, ahe->h_addr_list[0], 4);
  EXPECT_EQ(htonl(0x7F000001), addr);

  events.clear();
  uint32_t lo = htonl(0x7F000001);
  req = WSAAsyncGetHostByAddr(wnd, 0x403, reinterpret_cast<const char*>(&lo), 4, AF_INET, buf,
                              sizeof buf);
  ASSERT_NE(0u, req);
  ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }));
  if (WSAGETASYNCERROR(lastLParam) == 0) {
    EXPECT_STRNE("", ahe->h_name);
  }

  // A cancelled request writes nothing more and cannot be cancelled twice.
  events.clear();
  req = WSAAsyncGetHostByName(wnd, 0x404, "localhost", buf, sizeof buf);
  ASSERT_NE(0u, req);
  EXPECT_EQ(0, WSACancelAsyncRequest(req));
  EXPECT_EQ(SOCKET_ERROR, WSACancelAsyncRequest(req));
  EXPECT_EQ(WSAEINVAL, WSAGetLastError());
}

}  // namespace
