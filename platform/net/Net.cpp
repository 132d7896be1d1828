// The socket library over the host's POSIX sockets.
//
// The host's socket headers define macros with the library's constant names,
// so their values are taken into the sys namespace first and the macros are
// dropped before our own header comes in.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

namespace sys {
constexpr int kAfInet = AF_INET;
constexpr int kSockStream = SOCK_STREAM;
constexpr int kSockDgram = SOCK_DGRAM;
constexpr int kSolSocket = SOL_SOCKET;
constexpr int kSoReuseAddr = SO_REUSEADDR;
constexpr int kSoKeepAlive = SO_KEEPALIVE;
constexpr int kSoBroadcast = SO_BROADCAST;
constexpr int kSoLinger = SO_LINGER;
constexpr int kSoSndBuf = SO_SNDBUF;
constexpr int kSoRcvBuf = SO_RCVBUF;
constexpr int kSoError = SO_ERROR;
constexpr int kIpProtoIp = IPPROTO_IP;
constexpr int kIpProtoTcp = IPPROTO_TCP;
constexpr int kTcpNoDelay = TCP_NODELAY;
constexpr int kIpMulticastTtl = IP_MULTICAST_TTL;
constexpr int kIpAddMembership = IP_ADD_MEMBERSHIP;
constexpr unsigned long kFionRead = FIONREAD;
constexpr int kMsgOob = MSG_OOB;
constexpr int kMsgPeek = MSG_PEEK;
using SysSockaddrIn = ::sockaddr_in;
using SysSockaddr = ::sockaddr;
using SysLinger = ::linger;
using SysIpMreq = ::ip_mreq;
inline uint16_t Htons(uint16_t v) { return htons(v); }
inline uint16_t Ntohs(uint16_t v) { return ntohs(v); }
inline uint32_t Htonl(uint32_t v) { return htonl(v); }
inline uint32_t Ntohl(uint32_t v) { return ntohl(v); }
}  // namespace sys

#undef AF_INET
#undef SOCK_STREAM
#undef SOCK_DGRAM
#undef IPPROTO_IP
#undef IPPROTO_TCP
#undef IPPROTO_UDP
#undef SOL_SOCKET
#undef SO_REUSEADDR
#undef SO_KEEPALIVE
#undef SO_BROADCAST
#undef SO_LINGER
#undef SO_SNDBUF
#undef SO_RCVBUF
#undef SO_ERROR
#undef TCP_NODELAY
#undef IP_MULTICAST_TTL
#undef IP_ADD_MEMBERSHIP
#undef INADDR_ANY
#undef INADDR_NONE
#undef FIONREAD
#undef FIONBIO
#undef MSG_OOB
#undef MSG_PEEK
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

#include "platform/net/Net.h"

namespace plat {

namespace {

void NetSocketReady(SOCKET h, uint32_t ready);

thread_local int tLastError = 0;

// ---------------------------------------------------------------------------
// Module table: the socket library is the only module; its entry points are
// plain functions of this file.

struct ModuleState {
  std::mutex lock;
  int refs = 0;
  bool unavailable = false;
};
ModuleState& Modules() {
  static ModuleState* m = new ModuleState;
  return *m;
}
constexpr HMODULE kSocketModule = 0x71AB0000;

bool IsSocketLibraryName(const std::string& name) {
  std::string lower;
  for (char c : name) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return lower == SOCKET_LIBRARY_NAME;
}

std::atomic<int> gStartups{0};

bool Started() {
  if (gStartups.load() > 0) return true;
  tLastError = WSANOTINITIALISED;
  return false;
}

// ---------------------------------------------------------------------------
// Socket table.

struct Sock {
  int fd = -1;
  int type = 0;
  HWND hwnd = 0;
  UINT msg = 0;
  int32_t mask = 0;
  uint32_t watched = 0;  // interest registered with the queue (0 = not watched)
  bool isWatched = false;
  bool nonBlocking = false;
  bool listening = false;
  bool connected = false;
  bool connectPending = false;
  bool readPosted = false;    // FD_READ posted, waiting for a recv
  int readAvailAtPost = 0;    // bytes waiting when it was posted
  bool acceptPosted = false;  // FD_ACCEPT posted, waiting for an accept
  bool writeArmed = false;    // a send would block or was cut short
  bool peerClosed = false;    // FD_CLOSE condition seen (posted once)
  bool sendShut = false;
};

std::recursive_mutex gSockLock;
std::unordered_map<SOCKET, std::shared_ptr<Sock>>& Socks() {
  static auto* m = new std::unordered_map<SOCKET, std::shared_ptr<Sock>>;
  return *m;
}
SOCKET gNextHandle = 0x100;

std::shared_ptr<Sock> Find(SOCKET s) {
  std::lock_guard<std::recursive_mutex> g(gSockLock);
  auto it = Socks().find(s);
  if (it == Socks().end()) return nullptr;
  return it->second;
}

std::shared_ptr<Sock> Lookup(SOCKET s) {
  if (!Started()) return nullptr;
  auto p = Find(s);
  if (!p) tLastError = WSAENOTSOCK;
  return p;
}

SOCKET AddSock(std::shared_ptr<Sock> s) {
  std::lock_guard<std::recursive_mutex> g(gSockLock);
  for (;;) {
    SOCKET h = gNextHandle;
    gNextHandle = (gNextHandle >= 0x7FFFFFF0) ? 0x100 : gNextHandle + 1;
    if (!Socks().count(h)) {
      Socks()[h] = std::move(s);
      return h;
    }
  }
}

int Fail(int wsaError) {
  tLastError = wsaError;
  return SOCKET_ERROR;
}
int FailErrno() { return Fail(WSAErrorFromErrno(errno)); }

void Post(const Sock& s, SOCKET h, int32_t event, int32_t error) {
  if (s.hwnd && (s.mask & event)) PostMessage(s.hwnd, s.msg, h, WSAMAKESELECTREPLY(event, error));
}

int PendingBytes(int fd) {
  int n = 0;
  if (::ioctl(fd, sys::kFionRead, &n) != 0) return -1;
  return n;
}

int SocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, sys::kSolSocket, sys::kSoError, &err, &len) != 0) return errno;
  return err;
}

// Registers with the owning thread's queue exactly the readiness that could
// lead to a message now.
void Refresh(SOCKET h, Sock& s) {
  uint32_t ev = 0;
  if (s.hwnd && s.mask) {
    if (s.connectPending) {
      ev |= EPOLLOUT;
    } else if (s.listening) {
      if ((s.mask & FD_ACCEPT) && !s.acceptPosted) ev |= EPOLLIN;
    } else if (s.connected) {
      if (!s.peerClosed) {
        if ((s.mask & FD_READ) && !s.readPosted) ev |= EPOLLIN;
        // Posted but not read yet: only fresh data is of interest (edge).
        if ((s.mask & FD_READ) && s.readPosted) ev |= EPOLLIN | EPOLLET;
        if ((s.mask & FD_CLOSE) && s.type == SOCK_STREAM) ev |= EPOLLRDHUP;
      }
      if (s.writeArmed && (s.mask & FD_WRITE)) ev |= EPOLLOUT;
    }
  }
  if (ev == 0) {
    if (s.isWatched) {
      UnwatchFd(s.fd);
      s.isWatched = false;
      s.watched = 0;
    }
    return;
  }
  if (s.isWatched) {
    if (s.watched != ev) {
      ModifyFd(s.fd, ev);
      s.watched = ev;
    }
    return;
  }
  int fd = s.fd;
  bool ok = WatchFd(fd, ev, [h](uint32_t ready) { NetSocketReady(h, ready); });
  if (ok) {
    s.isWatched = true;
    s.watched = ev;
  }
}

// Turns readiness into the messages of asynchronous selection.
void Evaluate(SOCKET h, Sock& s, uint32_t ready) {
  if (s.connectPending) {
    if (ready & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
      int err = SocketError(s.fd);
      s.connectPending = false;
      if (err == 0) {
        s.connected = true;
        Post(s, h, FD_CONNECT, 0);
        Post(s, h, FD_WRITE, 0);
      } else {
        Post(s, h, FD_CONNECT, WSAErrorFromErrno(err));
      }
    }
    return;
  }
  if (s.listening) {
    if ((ready & EPOLLIN) && (s.mask & FD_ACCEPT) && !s.acceptPosted) {
      s.acceptPosted = true;
      Post(s, h, FD_ACCEPT, 0);
    }
    return;
  }
  if (!s.connected) return;
  if ((ready & EPOLLIN) && (s.mask & FD_READ) && s.readPosted && !s.peerClosed) {
    // New data behind an unread notification (say, a reader that failed
    // before reading): announced once more so the connection does not stall.
    int n = PendingBytes(s.fd);
    if (n > s.readAvailAtPost) {
      s.readAvailAtPost = n;
      Post(s, h, FD_READ, 0);
    }
  } else if ((ready & EPOLLIN) && (s.mask & FD_READ) && !s.readPosted && !s.peerClosed) {
    int n = PendingBytes(s.fd);
    if (n > 0) {
      s.readPosted = true;
      s.readAvailAtPost = n;
      Post(s, h, FD_READ, 0);
    } else if (s.type == SOCK_STREAM && !(ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR))) {
      // Readable with nothing to read and no close seen: end of stream.
      ready |= EPOLLRDHUP;
    }
  }
  if (s.type == SOCK_STREAM && (ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && !s.peerClosed) {
    s.peerClosed = true;
    int err = (ready & EPOLLERR) ? SocketError(s.fd) : 0;
    Post(s, h, FD_CLOSE, err ? WSAErrorFromErrno(err) : 0);
  }
  if ((ready & (EPOLLOUT | EPOLLERR | EPOLLHUP)) && s.writeArmed) {
    s.writeArmed = false;
    Post(s, h, FD_WRITE, 0);
  }
}

uint32_t PollNow(int fd) {
  pollfd p{};
  p.fd = fd;
  p.events = POLLIN | POLLOUT | POLLRDHUP;
  if (::poll(&p, 1, 0) <= 0) return 0;
  uint32_t r = 0;
  if (p.revents & POLLIN) r |= EPOLLIN;
  if (p.revents & POLLOUT) r |= EPOLLOUT;
  if (p.revents & POLLRDHUP) r |= EPOLLRDHUP;
  if (p.revents & POLLERR) r |= EPOLLERR;
  if (p.revents & POLLHUP) r |= EPOLLHUP;
  return r;
}

void ToSys(const sockaddr* in, sys::SysSockaddrIn* out) {
  std::memset(out, 0, sizeof *out);
  const auto* a = reinterpret_cast<const sockaddr_in*>(in);
  out->sin_family = sys::kAfInet;
  out->sin_port = a->sin_port;
  out->sin_addr.s_addr = a->sin_addr.s_addr;
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

bool AddrArgOk(const sockaddr* name, int nameLen) {
  if (!name || nameLen < static_cast<int>(sizeof(sockaddr_in))) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Host entries laid out in one block: the entry, then the pointer arrays, then
// the strings and addresses.

struct HostData {
  std::string name;
  std::vector<std::string> aliases;
  std::vector<uint32_t> addrs;  // network order
};

int LayoutSize(const HostData& d) {
  size_t n = sizeof(hostent);
  n += (d.aliases.size() + 1) * sizeof(char*);
  n += (d.addrs.size() + 1) * sizeof(char*);
  n += d.addrs.size() * 4;
  n += d.name.size() + 1;
  for (auto& a : d.aliases) n += a.size() + 1;
  n += 16;  // alignment slack
  return static_cast<int>(n);
}

hostent* Layout(const HostData& d, char* buf, int bufLen) {
  if (LayoutSize(d) > bufLen) return nullptr;
  uintptr_t base = reinterpret_cast<uintptr_t>(buf);
  uintptr_t p = (base + alignof(hostent) - 1) & ~(uintptr_t)(alignof(hostent) - 1);
  auto* he = reinterpret_cast<hostent*>(p);
  p += sizeof(hostent);
  char** aliases = reinterpret_cast<char**>(p);
  p += (d.aliases.size() + 1) * sizeof(char*);
  char** addrList = reinterpret_cast<char**>(p);
  p += (d.addrs.size() + 1) * sizeof(char*);
  for (size_t i = 0; i < d.addrs.size(); i++) {
    std::memcpy(reinterpret_cast<void*>(p), &d.addrs[i], 4);
    addrList[i] = reinterpret_cast<char*>(p);
    p += 4;
  }
  addrList[d.addrs.size()] = nullptr;
  auto putStr = [&p](const std::string& s) {
    char* at = reinterpret_cast<char*>(p);
    std::memcpy(at, s.c_str(), s.size() + 1);
    p += s.size() + 1;
    return at;
  };
  he->h_name = putStr(d.name);
  for (size_t i = 0; i < d.aliases.size(); i++) aliases[i] = putStr(d.aliases[i]);
  aliases[d.aliases.size()] = nullptr;
  he->h_aliases = aliases;
  he->h_addrtype = AF_INET;
  he->h_length = 4;
  he->h_addr_list = addrList;
  return he;
}

int LookupErrorFromGai(int rc) {
  switch (rc) {
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
#endif
    default:
      return WSANO_RECOVERY;
  }
}

thread_local std::string tResolverText;

int ResolveName(const std::string& name, HostData* out) {
  addrinfo hints{};
  hints.ai_family = sys::kAfInet;
  hints.ai_socktype = sys::kSockStream;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* res = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
  tResolverText.clear();
  if (rc != 0) {
    tResolverText = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
    return LookupErrorFromGai(rc);
  }
  out->name = (res && res->ai_canonname) ? res->ai_canonname : name;
  for (addrinfo* a = res; a; a = a->ai_next) {
    if (a->ai_family != sys::kAfInet) continue;
    uint32_t v = reinterpret_cast<sys::SysSockaddrIn*>(a->ai_addr)->sin_addr.s_addr;
    if (std::find(out->addrs.begin(), out->addrs.end(), v) == out->addrs.end()) out->addrs.push_back(v);
  }
  ::freeaddrinfo(res);
  if (out->addrs.empty()) {
    tResolverText = "no IPv4 address";
    return WSANO_DATA;
  }
  if (out->name != name) out->aliases.push_back(name);
  return 0;
}

int ResolveAddr(uint32_t addr, HostData* out) {
  sys::SysSockaddrIn sa{};
  sa.sin_family = sys::kAfInet;
  sa.sin_addr.s_addr = addr;
  char host[1025];
  int rc = ::getnameinfo(reinterpret_cast<sys::SysSockaddr*>(&sa), sizeof sa, host, sizeof host,
                         nullptr, 0, NI_NAMEREQD);
  if (rc != 0) return LookupErrorFromGai(rc);
  out->name = host;
  out->addrs.push_back(addr);
  return 0;
}

// ---------------------------------------------------------------------------
// Asynchronous requests.

struct AsyncRequest {
  HWND hwnd = 0;
  UINT msg = 0;
  char* buf = nullptr;
  int bufLen = 0;
  bool cancelled = false;
};

std::mutex gAsyncLock;
std::map<HANDLE, AsyncRequest>& Requests() {
  static auto* m = new std::map<HANDLE, AsyncRequest>;
  return *m;
}
// Finished requests whose message may not have been handled yet; cancelling
// one of them still succeeds (its message then matches no live request).
std::deque<HANDLE>& Finished() {
  static auto* d = new std::deque<HANDLE>;
  return *d;
}
HANDLE gNextRequest = 1;

HANDLE StartRequest(HWND hwnd, UINT msg, char* buf, int bufLen,
                    std::function<int(HostData*)> work) {
  HANDLE h;
  {
    std::lock_guard<std::mutex> g(gAsyncLock);
    h = gNextRequest++;
    if (gNextRequest == 0) gNextRequest = 1;
    AsyncRequest r;
    r.hwnd = hwnd;
    r.msg = msg;
    r.buf = buf;
    r.bufLen = bufLen;
    Requests()[h] = r;
  }
  try {
    std::thread([h, work = std::move(work)]() {
      HostData d;
      int err = work(&d);
      std::lock_guard<std::mutex> g(gAsyncLock);
      auto it = Requests().find(h);
      if (it == Requests().end()) return;
      AsyncRequest r = it->second;
      Requests().erase(it);
      if (r.cancelled) return;
      int need = err ? 0 : LayoutSize(d);
      if (!err && !Layout(d, r.buf, r.bufLen)) err = WSAENOBUFS;
      Finished().push_back(h);
      while (Finished().size() > 256) Finished().pop_front();
      PostMessage(r.hwnd, r.msg, static_cast<WPARAM>(h),
                  WSAMAKESELECTREPLY(std::min(need, 0xFFFF), err));
    }).detach();
  } catch (...) {
    std::lock_guard<std::mutex> g(gAsyncLock);
    Requests().erase(h);
    tLastError = WSAENOBUFS;
    return 0;
  }
  return h;
}

void NetSocketReady(SOCKET h, uint32_t ready) {
  std::lock_guard<std::recursive_mutex> g(gSockLock);
  auto p = Find(h);
  if (!p) return;
  Evaluate(h, *p, ready);
  Refresh(h, *p);
}

}  // namespace

// ---------------------------------------------------------------------------
// Modules.

HMODULE LoadLibrary(const std::string& fileName) {
  auto& m = Modules();
  std::lock_guard<std::mutex> g(m.lock);
  if (!IsSocketLibraryName(fileName) || m.unavailable) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  m.refs++;
  return kSocketModule;
}

FARPROC GetProcAddress(HMODULE module, const std::string& procName) {
  {
    auto& m = Modules();
    std::lock_guard<std::mutex> g(m.lock);
    if (module != kSocketModule || m.refs <= 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
#define VEXA_EXPORT(fn) \
  {#fn, reinterpret_cast<FARPROC>(static_cast<decltype(&plat::fn)>(&plat::fn))}
  static const std::map<std::string, FARPROC> exports = {
      VEXA_EXPORT(WSAStartup),
      VEXA_EXPORT(WSACleanup),
      VEXA_EXPORT(WSASetLastError),
      VEXA_EXPORT(WSAGetLastError),
      VEXA_EXPORT(WSACancelAsyncRequest),
      VEXA_EXPORT(WSAAsyncGetHostByName),
      VEXA_EXPORT(WSAAsyncGetHostByAddr),
      VEXA_EXPORT(WSAAsyncSelect),
      VEXA_EXPORT(getservbyname),
      VEXA_EXPORT(getprotobyname),
      VEXA_EXPORT(gethostbyname),
      VEXA_EXPORT(gethostbyaddr),
      VEXA_EXPORT(socket),
      VEXA_EXPORT(shutdown),
      VEXA_EXPORT(setsockopt),
      VEXA_EXPORT(getsockopt),
      VEXA_EXPORT(sendto),
      VEXA_EXPORT(WSASend),
      VEXA_EXPORT(send),
      VEXA_EXPORT(recv),
      VEXA_EXPORT(recvfrom),
      VEXA_EXPORT(ntohs),
      VEXA_EXPORT(htons),
      VEXA_EXPORT(ntohl),
      VEXA_EXPORT(htonl),
      VEXA_EXPORT(listen),
      VEXA_EXPORT(ioctlsocket),
      VEXA_EXPORT(inet_ntoa),
      VEXA_EXPORT(inet_addr),
      VEXA_EXPORT(getsockname),
      VEXA_EXPORT(getpeername),
      VEXA_EXPORT(connect),
      VEXA_EXPORT(closesocket),
      VEXA_EXPORT(bind),
      VEXA_EXPORT(accept),
  };
#undef VEXA_EXPORT
  auto it = exports.find(procName);
  if (it == exports.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return it->second;
}

bool FreeLibrary(HMODULE module) {
  auto& m = Modules();
  std::lock_guard<std::mutex> g(m.lock);
  if (module != kSocketModule || m.refs <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  m.refs--;
  return true;
}

HMODULE GetModuleHandle(const std::string& moduleName) {
  auto& m = Modules();
  std::lock_guard<std::mutex> g(m.lock);
  if (IsSocketLibraryName(moduleName) && m.refs > 0) return kSocketModule;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return 0;
}

void SetLibraryAvailableForTesting(const std::string& fileName, bool available) {
  auto& m = Modules();
  std::lock_guard<std::mutex> g(m.lock);
  if (IsSocketLibraryName(fileName)) m.unavailable = !available;
}

// ---------------------------------------------------------------------------
// Start-up and errors.

int WSAStartup(WORD versionRequested, WSADATA* data) {
  if ((versionRequested & 0xFF) < 1) return WSAVERNOTSUPPORTED;
  if (!data) return WSAEFAULT;
  data->wVersion = 0x0101;
  data->wHighVersion = 0x0101;
  std::strcpy(data->szDescription, "Vexa sockets over POSIX");
  std::strcpy(data->szSystemStatus, "Running");
  data->iMaxSockets = 0x7FFF;
  data->iMaxUdpDg = 65467;
  gStartups++;
  return 0;
}

int WSACleanup() {
  if (!Started()) return SOCKET_ERROR;
  if (--gStartups == 0) {
    std::vector<SOCKET> open;
    {
      std::lock_guard<std::recursive_mutex> g(gSockLock);
      for (auto& [h, s] : Socks()) open.push_back(h);
    }
    gStartups++;
    for (SOCKET h : open) closesocket(h);
    gStartups--;
  }
  return 0;
}

void WSASetLastError(int error) { tLastError = error; }
int WSAGetLastError() { return tLastError; }

int WSAErrorFromErrno(int err) {
  switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EWOULDBLOCK: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: case EPIPE: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSAEINVAL;
  }
}

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
  std::lock_guard<std::recursive_mutex> g(gSockLock);
  if (p->isWatched) UnwatchFd(p->fd);
  p->isWatched = false;
  Socks().erase(h);
  if (::close(p->fd) != 0 && errno != EINTR && errno != EINPROGRESS) return FailErrno();
  return 0;
}

int shutdown(SOCKET h, int how) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  int sysHow = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : how == SD_BOTH ? SHUT_RDWR : -1;
  if (sysHow < 0) return Fail(WSAEINVAL);
  if (::shutdown(p->fd, sysHow) != 0) return FailErrno();
  if (how != SD_RECEIVE) p->sendShut = true;
  return 0;
}

int bind(SOCKET h, const sockaddr* name, int nameLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  if (!AddrArgOk(name, nameLen)) return Fail(WSAEFAULT);
  sys::SysSockaddrIn a;
  ToSys(name, &a);
  if (::bind(p->fd, reinterpret_cast<sys::SysSockaddr*>(&a), sizeof a) != 0) return FailErrno();
  return 0;
}

int listen(SOCKET h, int backlog) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  // The kernel caps the queue at its own limit (net.core.somaxconn).
  if (::listen(p->fd, backlog) != 0) return FailErrno();
  std::lock_guard<std::recursive_mutex> g(gSockLock);
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
  std::lock_guard<std::recursive_mutex> g(gSockLock);
  // accept re-enables FD_ACCEPT; another waiting connection is reported at once.
  if (p->acceptPosted) {
    p->acceptPosted = false;
    if (PollNow(p->fd) & EPOLLIN) {
      p->acceptPosted = true;
      Post(*p, h, FD_ACCEPT, 0);
    }
    Refresh(h, *p);
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
  if (!AddrArgOk(name, nameLen)) return Fail(WSAEFAULT);
  sys::SysSockaddrIn a;
  ToSys(name, &a);
  int rc = ::connect(p->fd, reinterpret_cast<sys::SysSockaddr*>(&a), sizeof a);
  int err = rc == 0 ? 0 : errno;
  std::lock_guard<std::recursive_mutex> g(gSockLock);
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
  std::lock_guard<std::recursive_mutex> g(gSockLock);
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
  std::lock_guard<std::recursive_mutex> g(gSockLock);
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
    std::lock_guard<std::recursive_mutex> g(gSockLock);
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
  if (!AddrArgOk(to, toLen)) return Fail(WSAEFAULT);
  sys::SysSockaddrIn a;
  ToSys(to, &a);
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
    std::lock_guard<std::recursive_mutex> g(gSockLock);
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

int getsockname(SOCKET h, sockaddr* name, int* nameLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  sys::SysSockaddrIn a{};
  socklen_t len = sizeof a;
  if (::getsockname(p->fd, reinterpret_cast<sys::SysSockaddr*>(&a), &len) != 0) return FailErrno();
  return FromSys(a, name, nameLen);
}

int getpeername(SOCKET h, sockaddr* name, int* nameLen) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  sys::SysSockaddrIn a{};
  socklen_t len = sizeof a;
  if (::getpeername(p->fd, reinterpret_cast<sys::SysSockaddr*>(&a), &len) != 0) return FailErrno();
  return FromSys(a, name, nameLen);
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

u_long inet_addr(const char* cp) {
  if (!cp) return INADDR_NONE;
  // Parts in decimal, octal (leading 0) or hex (0x); a.b.c.d, a.b.c, a.b or a;
  // trailing blanks allowed.
  uint32_t parts[4] = {0, 0, 0, 0};
  int count = 0;
  const char* s = cp;
  for (;;) {
    if (!(*s >= '0' && *s <= '9')) return INADDR_NONE;
    uint64_t v = 0;
    int base = 10;
    if (*s == '0') {
      base = 8;
      s++;
      if (*s == 'x' || *s == 'X') {
        base = 16;
        s++;
      }
    }
    bool any = base == 8;  // the lone 0 counts
    for (;;) {
      int d;
      if (*s >= '0' && *s <= '9') d = *s - '0';
      else if (base == 16 && *s >= 'a' && *s <= 'f') d = *s - 'a' + 10;
      else if (base == 16 && *s >= 'A' && *s <= 'F') d = *s - 'A' + 10;
      else break;
      if (d >= base) return INADDR_NONE;
      v = v * base + d;
      if (v > 0xFFFFFFFFULL) return INADDR_NONE;
      any = true;
      s++;
    }
    if (!any) return INADDR_NONE;
    if (count >= 4) return INADDR_NONE;
    parts[count++] = static_cast<uint32_t>(v);
    if (*s == '.') {
      s++;
      continue;
    }
    break;
  }
  while (*s == ' ') s++;
  if (*s != '\0') return INADDR_NONE;
  uint32_t host;
  switch (count) {
    case 1:
      host = parts[0];
      break;
    case 2:
      if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return INADDR_NONE;
      host = (parts[0] << 24) | parts[1];
      break;
    case 3:
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return INADDR_NONE;
      host = (parts[0] << 24) | (parts[1] << 16) | parts[2];
      break;
    default:
      for (int i = 0; i < 4; i++)
        if (parts[i] > 0xFF) return INADDR_NONE;
      host = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
      break;
  }
  return sys::Htonl(host);
}

char* inet_ntoa(in_addr in) {
  thread_local char text[16];
  uint32_t h = sys::Ntohl(in.s_addr);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (h >> 24) & 0xFF, (h >> 16) & 0xFF,
                (h >> 8) & 0xFF, h & 0xFF);
  return text;
}

namespace {

// The answer of a blocking host lookup: null with the error kept for
// WSAGetLastError, or d laid out in the caller's per-thread block.
hostent* HostResult(int err, const HostData& d, std::vector<char>& block) {
  if (err) {
    tLastError = err;
    return nullptr;
  }
  block.assign(LayoutSize(d), 0);
  return Layout(d, block.data(), static_cast<int>(block.size()));
}

}  // namespace

hostent* gethostbyname(const char* name) {
  if (!Started()) return nullptr;
  if (!name) {
    tLastError = WSAEFAULT;
    return nullptr;
  }
  HostData d;
  thread_local std::vector<char> block;
  return HostResult(ResolveName(name, &d), d, block);
}

std::string LastResolverErrorText() { return tResolverText; }

hostent* gethostbyaddr(const char* addr, int len, int type) {
  if (!Started()) return nullptr;
  if (!addr || len != 4 || type != AF_INET) {
    tLastError = WSAEFAULT;
    return nullptr;
  }
  uint32_t a;
  std::memcpy(&a, addr, 4);
  HostData d;
  thread_local std::vector<char> block;
  return HostResult(ResolveAddr(a, &d), d, block);
}

servent* getservbyname(const char* name, const char* proto) {
  if (!Started()) return nullptr;
  if (!name) {
    tLastError = WSAEFAULT;
    return nullptr;
  }
  thread_local ::servent result;
  thread_local char buf[4096];
  thread_local servent out;
  ::servent* found = nullptr;
  if (::getservbyname_r(name, proto && *proto ? proto : nullptr, &result, buf, sizeof buf, &found) !=
          0 ||
      !found) {
    tLastError = WSANO_DATA;
    return nullptr;
  }
  out.s_name = found->s_name;
  out.s_aliases = found->s_aliases;
  out.s_port = static_cast<int16_t>(found->s_port);
  out.s_proto = found->s_proto;
  return &out;
}

protoent* getprotobyname(const char* name) {
  if (!Started()) return nullptr;
  if (!name) {
    tLastError = WSAEFAULT;
    return nullptr;
  }
  thread_local ::protoent result;
  thread_local char buf[4096];
  thread_local protoent out;
  ::protoent* found = nullptr;
  if (::getprotobyname_r(name, &result, buf, sizeof buf, &found) != 0 || !found) {
    tLastError = WSANO_DATA;
    return nullptr;
  }
  out.p_name = found->p_name;
  out.p_aliases = found->p_aliases;
  out.p_proto = static_cast<int16_t>(found->p_proto);
  return &out;
}

int WSAAsyncSelect(SOCKET h, HWND hwnd, UINT msg, int32_t events) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  if (events != 0 && !IsWindow(hwnd)) return Fail(WSAEINVAL);
  int fl = ::fcntl(p->fd, F_GETFL);
  if (fl < 0 || ::fcntl(p->fd, F_SETFL, fl | O_NONBLOCK) != 0) return FailErrno();
  std::lock_guard<std::recursive_mutex> g(gSockLock);
  p->nonBlocking = true;
  p->hwnd = events ? hwnd : 0;
  p->msg = msg;
  p->mask = events;
  p->readPosted = false;
  p->acceptPosted = false;
  if (events && !p->connectPending) {
    // Conditions that already hold are reported now.
    uint32_t ready = PollNow(p->fd);
    if (p->connected && (ready & EPOLLOUT)) p->writeArmed = true;
    Evaluate(h, *p, ready);
  }
  Refresh(h, *p);
  return 0;
}

HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buf, int bufLen) {
  if (!Started()) return 0;
  if (!name || !buf || bufLen <= 0) {
    tLastError = WSAEFAULT;
    return 0;
  }
  std::string n = name;
  return StartRequest(hwnd, msg, buf, bufLen, [n](HostData* d) { return ResolveName(n, d); });
}

HANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT msg, const char* addr, int len, int type, char* buf,
                             int bufLen) {
  if (!Started()) return 0;
  if (!addr || len != 4 || type != AF_INET || !buf || bufLen <= 0) {
    tLastError = WSAEFAULT;
    return 0;
  }
  uint32_t a;
  std::memcpy(&a, addr, 4);
  return StartRequest(hwnd, msg, buf, bufLen, [a](HostData* d) { return ResolveAddr(a, d); });
}

int WSACancelAsyncRequest(HANDLE task) {
  if (!Started()) return SOCKET_ERROR;
  std::lock_guard<std::mutex> g(gAsyncLock);
  auto it = Requests().find(task);
  if (it != Requests().end()) {
    if (it->second.cancelled) return Fail(WSAEINVAL);
    it->second.cancelled = true;
    return 0;
  }
  auto f = std::find(Finished().begin(), Finished().end(), task);
  if (f != Finished().end()) {
    Finished().erase(f);
    return 0;
  }
  return Fail(WSAEINVAL);
}

}  // namespace plat
