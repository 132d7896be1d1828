// Raw loopback TCP peers made with the platform's own socket library.
#pragma once

#include <gtest/gtest.h>

#include "platform/net/Net.h"

namespace vexa::test {

inline plat::sockaddr_in LoopbackAddr(int port) {
  plat::sockaddr_in a;
  a.sin_family = plat::AF_INET;
  a.sin_port = plat::htons(static_cast<plat::u_short>(port));
  a.sin_addr.s_addr = plat::inet_addr("127.0.0.1");
  return a;
}

// A blocking socket listening on a free loopback port, which it stores in port.
inline plat::SOCKET RawListen(int& port, int backlog = 16) {
  plat::SOCKET s = plat::socket(plat::AF_INET, plat::SOCK_STREAM, plat::IPPROTO_TCP);
  plat::sockaddr_in a = LoopbackAddr(0);
  EXPECT_EQ(0, plat::bind(s, reinterpret_cast<plat::sockaddr*>(&a), sizeof a));
  int len = sizeof a;
  EXPECT_EQ(0, plat::getsockname(s, reinterpret_cast<plat::sockaddr*>(&a), &len));
  port = plat::ntohs(a.sin_port);
  EXPECT_EQ(0, plat::listen(s, backlog));
  return s;
}

// A blocking socket connected to port; INVALID_SOCKET when it was refused.
inline plat::SOCKET RawConnect(int port) {
  plat::SOCKET s = plat::socket(plat::AF_INET, plat::SOCK_STREAM, plat::IPPROTO_TCP);
  plat::sockaddr_in a = LoopbackAddr(port);
  if (plat::connect(s, reinterpret_cast<plat::sockaddr*>(&a), sizeof a) != 0) {
    plat::closesocket(s);
    return plat::INVALID_SOCKET;
  }
  return s;
}

}  // namespace vexa::test
