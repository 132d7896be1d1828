// What the files of the socket library share among themselves; nothing outside this folder
// includes it.
//
// The host's socket headers define macros with the library's constant names,
// so their values are taken into the sys namespace first and the macros are
// dropped before our own header comes in.
#pragma once
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

namespace plat::net {

// Module table and start-up.
extern thread_local int tLastError;
bool Started();  // false (and WSANOTINITIALISED kept) before WSAStartup
// Started, and ArgsOk: else false with WSAEFAULT kept for arguments it cannot use.
inline bool StartedWith(bool ArgsOk) {
  if (!Started()) return false;
  if (!ArgsOk) tLastError = WSAEFAULT;
  return ArgsOk;
}

inline int Fail(int wsaError) {
  tLastError = wsaError;
  return SOCKET_ERROR;
}
inline int FailErrno() { return Fail(WSAErrorFromErrno(errno)); }

// Socket table, and readiness turned into the messages WSAAsyncSelect asked for.
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
  int32_t posted = 0;         // FD_CONNECT and FD_CLOSE once posted
  bool sendShut = false;
};

// An asynchronous host lookup under way.
struct AsyncRequest {
  HWND hwnd = 0;
  UINT msg = 0;
  char* buf = nullptr;
  int bufLen = 0;
  bool cancelled = false;
};

// The library's process-wide state (St()). Lock order: sockMu, then the
// message layer (watches on the calling thread's queue, posts); asyncMu, then
// the message layer (posts); modulesMu alone; never two of the three at once.
// sockMu is a plain mutex: nothing done under it calls back into this library
// (readiness reaches it from the queue's wait, messages are only posted).
// A forked child starts as a program that has not used the library: it closes
// its copies of the parent's sockets (a peer would not see one closed while a
// copy lives), and its socket handles go on from the parent's numbers so that
// none names a socket of the child. Leaving the session ends the asynchronous
// selection of every socket and the lookups under way: the windows they
// report to were the session's, and their handles name other windows in the
// next one. The sockets stay open.
struct State {
  std::mutex modulesMu;
  int moduleRefs = 0;
  bool unavailable = false;
  std::atomic<int> startups{0};

  std::mutex sockMu;  // the table and every Sock in it
  std::unordered_map<SOCKET, std::shared_ptr<Sock>> socks;
  SOCKET nextHandle = 0x100;

  std::mutex asyncMu;
  std::map<HANDLE, AsyncRequest> requests;
  // Finished requests whose message may not have been handled yet; cancelling
  // one of them still succeeds (its message then matches no live request).
  std::deque<HANDLE> finished;
  std::atomic<HANDLE> nextRequest{1};  // read unlocked by a forked child

  void PrepareFork() { sockMu.lock(); }
  void ParentAfterFork() { sockMu.unlock(); }
  State* ForChild();
  void EndSession();
};
State& St();

std::shared_ptr<Sock> Find(SOCKET s);
std::shared_ptr<Sock> Lookup(SOCKET s);  // Started() and WSAENOTSOCK checked
SOCKET AddSock(std::shared_ptr<Sock> s);
void Post(Sock& s, SOCKET h, int32_t event, int32_t error);
int PendingBytes(int fd);
int SocketError(int fd);
void Refresh(SOCKET h, Sock& s);
void Evaluate(SOCKET h, Sock& s, uint32_t ready);
uint32_t PollNow(int fd);

// Host entries.
struct HostData {
  std::string name;
  std::vector<std::string> aliases;
  std::vector<uint32_t> addrs;  // network order
};
int LayoutSize(const HostData& d);
hostent* Layout(const HostData& d, char* buf, int bufLen);
int ResolveName(const std::string& name, HostData* out);
int ResolveAddr(uint32_t addr, HostData* out);

}  // namespace plat::net
