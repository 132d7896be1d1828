// What the socket tests share: a private session and raw loopback peers made
// with the socket library itself, served while the application's loop turns.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "framework/Forms.h"
#include "platform/net/Net.h"
#include "sockets/NetSocket.h"
#include "tests/support/AppPump.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/TestSession.h"

namespace vexa::test {

// Keeps the library started for the test's own raw sockets, so that freeing
// the last socket object does not close them.
class SocketTest : public ::testing::Test {
protected:
  void SetUp() override {
    plat::WSADATA data;
    ASSERT_EQ(0, plat::WSAStartup(0x0101, &data));
  }
  void TearDown() override { plat::WSACleanup(); }

  TestSession session;
};

inline void RawNonBlocking(plat::SOCKET s) {
  plat::u_long on = 1;
  plat::ioctlsocket(s, plat::FIONBIO, &on);
}

inline bool RawSendAll(plat::SOCKET s, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    int n = plat::send(s, data.data() + done, static_cast<int>(data.size() - done), 0);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (plat::WSAGetLastError() == plat::WSAEWOULDBLOCK) {
      AppPumpFor(std::chrono::milliseconds(10));
    } else {
      return false;
    }
  }
  return true;
}

// Reads from a non-blocking raw socket while the loop turns until `want`
// bytes arrived or the peer closed; closed tells which.
inline std::string RawRead(plat::SOCKET s, size_t want, bool* closed = nullptr) {
  std::string got;
  bool ended = false;
  AppPumpUntil([&] {
    char buf[65536];
    int n;
    while (got.size() < want && (n = plat::recv(s, buf, sizeof buf, 0)) > 0)
      got.append(buf, static_cast<size_t>(n));
    ended = got.size() < want && (n == 0 || plat::WSAGetLastError() != plat::WSAEWOULDBLOCK);
    return got.size() >= want || ended;
  });
  if (closed) *closed = ended;
  return got;
}

// Accepts one connection on a blocking listener while the loop turns.
inline plat::SOCKET RawAccept(plat::SOCKET listener) {
  RawNonBlocking(listener);
  plat::SOCKET s = plat::INVALID_SOCKET;
  auto accepted = [&] { return (s = plat::accept(listener, nullptr, nullptr)) != plat::INVALID_SOCKET; };
  if (!AppPumpUntil(accepted)) return plat::INVALID_SOCKET;
  RawNonBlocking(s);
  return s;
}

inline std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) s[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
  return s;
}

// Message of the exception a call raises ("" when it raises none).
inline std::string RaisedMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (ESocketException& e) {
    return e.Message();
  }
  return "";
}

}  // namespace vexa::test
