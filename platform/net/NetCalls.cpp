// The socket calls.
#include "platform/net/NetInternal.h"

namespace plat {

using namespace net;

namespace {

// An address argument of a call, checked for its size (WSAEFAULT when it is
// missing or short) and made the system's own.
bool ToSys(const sockaddr* in, int inLen, sys::SysSockaddrIn* out) {
  if (!in || inLen < static_cast<int>(sizeof(sockaddr_in))) {
    Fail(WSAEFAULT);
    return false;
  }
  std::memset(out, 0, sizeof *out);
  const auto* a = reinterpret_cast<const sockaddr_in*>(in);
  out->sin_family = sys::kAfInet;
  out->sin_port = a->sin_port;
  out->sin_addr.s_addr = a->sin_addr.s_addr;
  return true;
}

int FromSys(const sys::SysSockaddrIn& in, sockaddr* out, int* outLen) {
  if (!out || !outLen || *outLen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  sockaddr_in a;
  a.sin_family = AF_INET;
  a.sin_port = in.sin_port;
  a.sin_addr.s_addr = in.sin_addr.s_addr;
  std::memcpy(static_cast<void*>(out), &a, sizeof a);
  *outLen = sizeof a;
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Sockets.

SOCKET socket(int af, int type, int protocol) {
  if (!Started()) return INVALID_SOCKET;
  if (af != AF_INET) return static_cast<SOCKET>(Fail(WSAEAFNOSUPPORT));
  int sysType;
  if (type == SOCK_STREAM) {
    sysType = sys::kSockStream;
  } else if (type == SOCK_DGRAM) {
    sysType = sys::kSockDgram;
  } else {
    return static_cast<SOCKET>(Fail(WSAESOCKTNOSUPPORT));
  }
  int fd = ::socket(sys::kAfInet, sysType | SOCK_CLOEXEC, protocol);
  if (fd < 0) return static_cast<SOCKET>(FailErrno());
  auto s = std::make_shared<Sock>();
  s->fd = fd;
  s->type = type;
  s->connected = type == SOCK_DGRAM;  // datagrams can arrive without a connection
  return AddSock(std::move(s));
}

int closesocket(SOCKET h) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  State& st = St();
  std::lock_guard<std::mutex> g(st.sockMu);
  if (p->isWatched) UnwatchFd(p->fd);
  p->isWatched = false;
  st.socks.erase(h);
  if (::close(p->fd) != 0 && errno != EINTR && errno != EINPROGRESS) return FailErrno();
  return 0;
}

int shutdown(SOCKET h, int how) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  int sysHow = how == SD_RECEIVE ? SHUT_RD
               : how == SD_SEND  ? SHUT_WR
               : how == SD_BOTH  ? SHUT_RDWR
                                 : -1;
  if (sysHow < 0) return Fail(WSAEINVAL);
  if (::shutdown(p->fd, sysHow) != 0) return FailErrno();
  if (how != SD_RECEIVE) p->sendShut = true;
  return 0;
}

int bind(SOCKET h, const sockaddr* name, int nameLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  sys::SysSockaddrIn a;
  if (!ToSys(name, nameLen, &a)) return SOCKET_ERROR;
  if (::bind(p->fd, reinterpret_cast<sys::SysSockaddr*>(&a), sizeof a) != 0) return FailErrno();
  return 0;
}

int listen(SOCKET h, int backlog) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  // The kernel caps the queue at its own limit (net.core.somaxconn).
  if (::listen(p->fd, backlog) != 0) return FailErrno();
  std::lock_guard<std::mutex> g(St().sockMu);
  p->listening = true;
  Refresh(h, *p);
  return 0;
}

SOCKET accept(SOCKET h, sockaddr* addr, int* addrLen) {
  auto p = Lookup(h);
  if (!p) return INVALID_SOCKET;
  if (!p->listening) return static_cast<SOCKET>(Fail(WSAEINVAL));
  sys::SysSockaddrIn a{};
  socklen_t len = sizeof a;
  int fd = ::accept4(p->fd, reinterpret_cast<sys::SysSockaddr*>(&a), &len,
                     SOCK_CLOEXEC | (p->nonBlocking ? SOCK_NONBLOCK : 0));
  int err = errno;
  {
    // accept re-enables FD_ACCEPT; another waiting connection is reported at once.
    std::lock_guard<std::mutex> g(St().sockMu);
    if (p->acceptPosted) {
      p->acceptPosted = false;
      if (PollNow(p->fd) & EPOLLIN) {
        p->acceptPosted = true;
        Post(*p, h, FD_ACCEPT, 0);
      }
      Refresh(h, *p);
    }
  }
  if (fd < 0) return static_cast<SOCKET>(Fail(WSAErrorFromErrno(err)));
  if (addr && addrLen) {
    if (FromSys(a, addr, addrLen) != 0) {
      ::close(fd);
      return INVALID_SOCKET;
    }
  }
  auto s = std::make_shared<Sock>();
  s->fd = fd;
  s->type = SOCK_STREAM;
  s->connected = true;
  s->nonBlocking = p->nonBlocking;
  return AddSock(std::move(s));
}

int connect(SOCKET h, const sockaddr* name, int nameLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  sys::SysSockaddrIn a;
  if (!ToSys(name, nameLen, &a)) return SOCKET_ERROR;
  int rc = ::connect(p->fd, reinterpret_cast<sys::SysSockaddr*>(&a), sizeof a);
  int err = rc == 0 ? 0 : errno;
  std::lock_guard<std::mutex> g(St().sockMu);
  if (p->type == SOCK_DGRAM) {
    if (rc != 0) return Fail(WSAErrorFromErrno(err));
    p->connected = true;
    return 0;
  }
  bool async = p->nonBlocking && p->hwnd && (p->mask & (FD_CONNECT | FD_WRITE));
  if (!p->nonBlocking) {
    if (rc != 0) return Fail(WSAErrorFromErrno(err));
    p->connected = true;
    return 0;
  }
  if (rc == 0 || err == EINPROGRESS) {
    // Completion is reported by FD_CONNECT, also when it already happened.
    p->connectPending = true;
    Refresh(h, *p);
    return Fail(WSAEWOULDBLOCK);
  }
  if (async && err != EISCONN && err != EALREADY && err != EBADF && err != EINVAL &&
      err != EAFNOSUPPORT) {
    // A connection that fails at once is reported like one that fails later.
    Post(*p, h, FD_CONNECT, WSAErrorFromErrno(err));
    return Fail(WSAEWOULDBLOCK);
  }
  return Fail(WSAErrorFromErrno(err));
}

int send(SOCKET h, const char* buf, int len, int flags) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  int sysFlags = MSG_NOSIGNAL | ((flags & MSG_OOB) ? sys::kMsgOob : 0);
  ssize_t n = ::send(p->fd, buf, static_cast<size_t>(len), sysFlags);
  int err = errno;
  if (n >= 0 && n == len) return static_cast<int>(n);
  std::lock_guard<std::mutex> g(St().sockMu);
  if (n >= 0 || err == EAGAIN || err == EWOULDBLOCK) {
    // Cut short or would block: FD_WRITE tells when to go on.
    if (p->nonBlocking && !p->writeArmed) {
      p->writeArmed = true;
      Refresh(h, *p);
    }
    if (n >= 0) return static_cast<int>(n);
    return Fail(WSAEWOULDBLOCK);
  }
  if (err == EPIPE && p->sendShut) return Fail(WSAESHUTDOWN);
  if (err == EPIPE || err == ENOTCONN) {
    return Fail(p->connected ? WSAECONNRESET : WSAENOTCONN);
  }
  return Fail(WSAErrorFromErrno(err));
}

int WSASend(SOCKET h, WSABUF* buffers, DWORD bufferCount, DWORD* bytesSent, DWORD flags,
            void* overlapped, void* completionRoutine) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  if (overlapped || completionRoutine) return Fail(WSAEINVAL);
  if (!buffers || !bytesSent || bufferCount == 0 || bufferCount > 1024) return Fail(WSAEFAULT);
  std::vector<iovec> iov(bufferCount);
  size_t total = 0;
  for (DWORD i = 0; i < bufferCount; i++) {
    if (!buffers[i].buf && buffers[i].len) return Fail(WSAEFAULT);
    iov[i].iov_base = buffers[i].buf;
    iov[i].iov_len = buffers[i].len;
    total += buffers[i].len;
  }
  msghdr m{};
  m.msg_iov = iov.data();
  m.msg_iovlen = bufferCount;
  int sysFlags = MSG_NOSIGNAL | ((flags & MSG_OOB) ? sys::kMsgOob : 0);
  ssize_t n = ::sendmsg(p->fd, &m, sysFlags);
  int err = errno;
  if (n >= 0 && static_cast<size_t>(n) == total) {
    *bytesSent = static_cast<DWORD>(n);
    return 0;
  }
  std::lock_guard<std::mutex> g(St().sockMu);
  if (n >= 0 || err == EAGAIN || err == EWOULDBLOCK) {
    if (p->nonBlocking && !p->writeArmed) {
      p->writeArmed = true;
      Refresh(h, *p);
    }
    if (n >= 0) {
      *bytesSent = static_cast<DWORD>(n);
      return 0;
    }
    return Fail(WSAEWOULDBLOCK);
  }
  if (err == EPIPE && p->sendShut) return Fail(WSAESHUTDOWN);
  if (err == EPIPE || err == ENOTCONN) return Fail(p->connected ? WSAECONNRESET : WSAENOTCONN);
  return Fail(WSAErrorFromErrno(err));
}

int recv(SOCKET h, char* buf, int len, int flags) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  int sysFlags = ((flags & MSG_OOB) ? sys::kMsgOob : 0) | ((flags & MSG_PEEK) ? sys::kMsgPeek : 0);
  if (len == 0 && p->type == SOCK_STREAM && p->nonBlocking) {
    // An empty read tells a closed stream (0) from a quiet one (would block).
    char probe;
    ssize_t r = ::recv(p->fd, &probe, 1, sys::kMsgPeek | MSG_DONTWAIT);
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Fail(WSAEWOULDBLOCK);
    if (r < 0) return FailErrno();
    return 0;
  }
  ssize_t n = ::recv(p->fd, buf, static_cast<size_t>(len), sysFlags);
  int err = errno;
  {
    // recv re-enables FD_READ; bytes still waiting are reported again at once.
    std::lock_guard<std::mutex> g(St().sockMu);
    if (p->readPosted) {
      p->readPosted = false;
      int left = (n > 0 && p->hwnd && (p->mask & FD_READ)) ? PendingBytes(p->fd) : 0;
      if (left > 0) {
        p->readPosted = true;
        p->readAvailAtPost = left;
        Post(*p, h, FD_READ, 0);
      }
      Refresh(h, *p);
    }
  }
  if (n < 0) {
    if (err == ENOTCONN && p->type == SOCK_STREAM) return Fail(WSAENOTCONN);
    return Fail(WSAErrorFromErrno(err));
  }
  return static_cast<int>(n);
}

int sendto(SOCKET h, const char* buf, int len, int flags, const sockaddr* to, int toLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  if (!to) return send(h, buf, len, flags);
  sys::SysSockaddrIn a;
  if (!ToSys(to, toLen, &a)) return SOCKET_ERROR;
  int sysFlags = MSG_NOSIGNAL | ((flags & MSG_OOB) ? sys::kMsgOob : 0);
  ssize_t n = ::sendto(p->fd, buf, static_cast<size_t>(len), sysFlags,
                       reinterpret_cast<sys::SysSockaddr*>(&a), sizeof a);
  if (n < 0) return FailErrno();
  return static_cast<int>(n);
}

int recvfrom(SOCKET h, char* buf, int len, int flags, sockaddr* from, int* fromLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  sys::SysSockaddrIn a{};
  socklen_t alen = sizeof a;
  int sysFlags = ((flags & MSG_OOB) ? sys::kMsgOob : 0) | ((flags & MSG_PEEK) ? sys::kMsgPeek : 0);
  ssize_t n = ::recvfrom(p->fd, buf, static_cast<size_t>(len), sysFlags,
                         reinterpret_cast<sys::SysSockaddr*>(&a), &alen);
  int err = errno;
  {
    std::lock_guard<std::mutex> g(St().sockMu);
    if (p->readPosted) {
      p->readPosted = false;
      if (n >= 0 && p->hwnd && (p->mask & FD_READ) && PendingBytes(p->fd) > 0) {
        p->readPosted = true;
        Post(*p, h, FD_READ, 0);
      }
      Refresh(h, *p);
    }
  }
  if (n < 0) return Fail(WSAErrorFromErrno(err));
  if (from && fromLen && FromSys(a, from, fromLen) != 0) return SOCKET_ERROR;
  return static_cast<int>(n);
}

namespace {
bool MapOption(int level, int opt, int* sysLevel, int* sysOpt) {
  if (level == SOL_SOCKET) {
    *sysLevel = sys::kSolSocket;
    switch (opt) {
      case SO_REUSEADDR: *sysOpt = sys::kSoReuseAddr; return true;
      case SO_KEEPALIVE: *sysOpt = sys::kSoKeepAlive; return true;
      case SO_BROADCAST: *sysOpt = sys::kSoBroadcast; return true;
      case SO_LINGER: *sysOpt = sys::kSoLinger; return true;
      case SO_SNDBUF: *sysOpt = sys::kSoSndBuf; return true;
      case SO_RCVBUF: *sysOpt = sys::kSoRcvBuf; return true;
      case SO_ERROR: *sysOpt = sys::kSoError; return true;
      default: return false;
    }
  }
  if (level == IPPROTO_TCP && opt == TCP_NODELAY) {
    *sysLevel = sys::kIpProtoTcp;
    *sysOpt = sys::kTcpNoDelay;
    return true;
  }
  if (level == IPPROTO_IP) {
    *sysLevel = sys::kIpProtoIp;
    if (opt == IP_MULTICAST_TTL) { *sysOpt = sys::kIpMulticastTtl; return true; }
    if (opt == IP_ADD_MEMBERSHIP) { *sysOpt = sys::kIpAddMembership; return true; }
  }
  return false;
}
}  // namespace

int setsockopt(SOCKET h, int level, int optName, const char* optVal, int optLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  int sysLevel = 0, sysOpt = 0;
  if (!MapOption(level, optName, &sysLevel, &sysOpt)) return Fail(WSAENOPROTOOPT);
  if (!optVal) return Fail(WSAEFAULT);
  int rc;
  if (level == SOL_SOCKET && optName == SO_LINGER) {
    if (optLen < static_cast<int>(sizeof(linger))) return Fail(WSAEFAULT);
    linger l;
    std::memcpy(&l, optVal, sizeof l);
    sys::SysLinger sl{};
    sl.l_onoff = l.l_onoff ? 1 : 0;
    sl.l_linger = l.l_linger;
    rc = ::setsockopt(p->fd, sysLevel, sysOpt, &sl, sizeof sl);
  } else if (level == IPPROTO_IP && optName == IP_ADD_MEMBERSHIP) {
    if (optLen < static_cast<int>(sizeof(ip_mreq))) return Fail(WSAEFAULT);
    ip_mreq m;
    std::memcpy(&m, optVal, sizeof m);
    sys::SysIpMreq sm{};
    sm.imr_multiaddr.s_addr = m.imr_multiaddr.s_addr;
    sm.imr_interface.s_addr = m.imr_interface.s_addr;
    rc = ::setsockopt(p->fd, sysLevel, sysOpt, &sm, sizeof sm);
  } else {
    // Integer options; any non-zero value switches a flag on.
    int v = 0;
    if (optLen >= 4) {
      std::memcpy(&v, optVal, 4);
    } else if (optLen >= 1) {
      v = static_cast<unsigned char>(optVal[0]);
    } else {
      return Fail(WSAEFAULT);
    }
    bool isFlag = !(level == IPPROTO_IP) && optName != SO_SNDBUF && optName != SO_RCVBUF;
    if (isFlag) v = v ? 1 : 0;
    rc = ::setsockopt(p->fd, sysLevel, sysOpt, &v, sizeof v);
  }
  if (rc != 0) return FailErrno();
  return 0;
}

int getsockopt(SOCKET h, int level, int optName, char* optVal, int* optLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  int sysLevel = 0, sysOpt = 0;
  if (!MapOption(level, optName, &sysLevel, &sysOpt)) return Fail(WSAENOPROTOOPT);
  if (!optVal || !optLen || *optLen < 4) return Fail(WSAEFAULT);
  if (level == SOL_SOCKET && optName == SO_LINGER) {
    sys::SysLinger sl{};
    socklen_t len = sizeof sl;
    if (::getsockopt(p->fd, sysLevel, sysOpt, &sl, &len) != 0) return FailErrno();
    linger l;
    l.l_onoff = static_cast<u_short>(sl.l_onoff);
    l.l_linger = static_cast<u_short>(sl.l_linger);
    std::memcpy(optVal, &l, sizeof l);
    *optLen = sizeof l;
    return 0;
  }
  int v = 0;
  socklen_t len = sizeof v;
  if (::getsockopt(p->fd, sysLevel, sysOpt, &v, &len) != 0) return FailErrno();
  if (level == SOL_SOCKET && optName == SO_ERROR) v = WSAErrorFromErrno(v);
  std::memcpy(optVal, &v, 4);
  *optLen = 4;
  return 0;
}

namespace {
// The socket's own address or its peer's, as Call (the system's) answers it.
int AddressOf(SOCKET h, int (*Call)(int, sys::SysSockaddr*, socklen_t*), sockaddr* name,
              int* nameLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  sys::SysSockaddrIn a{};
  socklen_t len = sizeof a;
  if (Call(p->fd, reinterpret_cast<sys::SysSockaddr*>(&a), &len) != 0) return FailErrno();
  return FromSys(a, name, nameLen);
}
}  // namespace

int getsockname(SOCKET h, sockaddr* name, int* nameLen) {
  return AddressOf(h, ::getsockname, name, nameLen);
}

int getpeername(SOCKET h, sockaddr* name, int* nameLen) {
  return AddressOf(h, ::getpeername, name, nameLen);
}

int ioctlsocket(SOCKET h, long cmd, u_long* argp) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  if (!argp) return Fail(WSAEFAULT);
  if (cmd == FIONBIO) {
    int fl = ::fcntl(p->fd, F_GETFL);
    if (fl < 0) return FailErrno();
    fl = *argp ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK);
    if (::fcntl(p->fd, F_SETFL, fl) != 0) return FailErrno();
    p->nonBlocking = *argp != 0;
    return 0;
  }
  if (cmd == FIONREAD) {
    if (p->listening) return Fail(WSAEINVAL);
    int n = 0;
    if (::ioctl(p->fd, sys::kFionRead, &n) != 0) return FailErrno();
    *argp = static_cast<u_long>(n < 0 ? 0 : n);
    return 0;
  }
  return Fail(WSAEINVAL);
}

u_short htons(u_short v) { return sys::Htons(v); }
u_short ntohs(u_short v) { return sys::Ntohs(v); }
u_long htonl(u_long v) { return sys::Htonl(v); }
u_long ntohl(u_long v) { return sys::Ntohl(v); }

}  // namespace plat
