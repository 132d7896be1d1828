// The socket library: IPv4 sockets over the host's POSIX sockets, with the
// calling conventions the socket layer expects (handles, 10000-range error
// codes, asynchronous selection on window messages, host lookups that complete
// through a posted message).
//
// The library is "loaded at run time": code binds its entry points through
// LoadLibrary/GetProcAddress and must call WSAStartup before the first socket
// function (every socket function fails with WSANOTINITIALISED otherwise).
// The functions are also declared here so that tests and tools can call them
// directly.
//
// This header uses the library's own constant names (SOL_SOCKET, FIONREAD, ...)
// with the library's own values. Do not include it in a file that also includes
// the host's socket headers: their macros of the same names would clash.
#pragma once

#if defined(SOL_SOCKET) || defined(FIONREAD) || defined(AF_INET)
#error "platform/net/Net.h must not be combined with the host's socket headers"
#endif

#include <cstdint>
#include <string>

#include "platform/msg/Msg.h"

namespace plat {

using SOCKET = int32_t;
using HMODULE = uint32_t;
using WORD = uint16_t;
using u_short = uint16_t;
using u_long = uint32_t;
using FARPROC = void (*)();

constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Module loading (only the socket library exists in-process).
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr const char* SOCKET_LIBRARY_NAME = "wsock32.dll";

// Returns a module handle (and counts a reference) for a library known to the
// process; 0 with last error ERROR_MOD_NOT_FOUND for any other name.
HMODULE LoadLibrary(const std::string& fileName);
// Entry point of a loaded module; nullptr with last error ERROR_PROC_NOT_FOUND.
FARPROC GetProcAddress(HMODULE module, const std::string& procName);
// Drops one reference; the module is unloaded when the last one goes.
bool FreeLibrary(HMODULE module);
// Handle of a module that is loaded now, else 0.
HMODULE GetModuleHandle(const std::string& moduleName);
// Tests make a library unloadable (LoadLibrary then fails with
// ERROR_MOD_NOT_FOUND) to see how callers report it.
void SetLibraryAvailableForTesting(const std::string& fileName, bool available);

// Address families, socket types, protocols.
constexpr int AF_INET = 2;
constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr int IPPROTO_IP = 0;
constexpr int IPPROTO_TCP = 6;
constexpr int IPPROTO_UDP = 17;

// Options.
constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_BROADCAST = 0x0020;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_ERROR = 0x1007;
constexpr int TCP_NODELAY = 0x0001;
constexpr int IP_MULTICAST_TTL = 3;
constexpr int IP_ADD_MEMBERSHIP = 5;

constexpr uint32_t INADDR_ANY = 0x00000000;
constexpr uint32_t INADDR_NONE = 0xFFFFFFFF;

constexpr long FIONREAD = 0x4004667F;
constexpr long FIONBIO = static_cast<long>(0x8004667EUL);

constexpr int MSG_OOB = 0x1;
constexpr int MSG_PEEK = 0x2;

// Backlog of listen: the longest queue the system allows.
constexpr int MAX_LISTEN_BACKLOG = 0x7FFFFFFF;

constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

// Largest host entry an asynchronous lookup writes.
constexpr int MAXGETHOSTSTRUCT = 1024;

// Network events of asynchronous selection: the message's LParam carries the
// event in its low word and the error code in its high word.
constexpr int32_t FD_READ = 0x01;
constexpr int32_t FD_WRITE = 0x02;
constexpr int32_t FD_OOB = 0x04;
constexpr int32_t FD_ACCEPT = 0x08;
constexpr int32_t FD_CONNECT = 0x10;
constexpr int32_t FD_CLOSE = 0x20;

inline LPARAM WSAMAKESELECTREPLY(int32_t event, int32_t error) {
  return static_cast<LPARAM>((static_cast<uint32_t>(error & 0xFFFF) << 16) |
                             static_cast<uint32_t>(event & 0xFFFF));
}
inline int32_t WSAGETSELECTEVENT(LPARAM lParam) { return lParam & 0xFFFF; }
inline int32_t WSAGETSELECTERROR(LPARAM lParam) {
  return static_cast<int32_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
}
// Completion of an asynchronous lookup: LParam = buffer length needed (low
// word) and error code (high word).
inline int32_t WSAGETASYNCBUFLEN(LPARAM lParam) { return lParam & 0xFFFF; }
inline int32_t WSAGETASYNCERROR(LPARAM lParam) { return WSAGETSELECTERROR(lParam); }

// Error codes.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Structures, in the library's layout.
struct in_addr {
  uint32_t s_addr = 0;  // network order
};
struct sockaddr {
  uint16_t sa_family = 0;
  char sa_data[14] = {};
};
struct sockaddr_in {
  int16_t sin_family = 0;
  uint16_t sin_port = 0;  // network order
  in_addr sin_addr;
  char sin_zero[8] = {};
};
static_assert(sizeof(sockaddr_in) == 16);
struct linger {
  u_short l_onoff = 0;
  u_short l_linger = 0;
};
struct ip_mreq {
  in_addr imr_multiaddr;
  in_addr imr_interface;
};
struct hostent {
  char* h_name;
  char** h_aliases;
  int16_t h_addrtype;
  int16_t h_length;
  char** h_addr_list;
};
struct servent {
  char* s_name;
  char** s_aliases;
  int16_t s_port;  // network order
  char* s_proto;
};
struct protoent {
  char* p_name;
  char** p_aliases;
  int16_t p_proto;
};
struct timeval {
  int32_t tv_sec = 0;
  int32_t tv_usec = 0;
};
struct WSADATA {
  WORD wVersion = 0;
  WORD wHighVersion = 0;
  char szDescription[257] = {};
  char szSystemStatus[129] = {};
  u_short iMaxSockets = 0;
  u_short iMaxUdpDg = 0;
  char* lpVendorInfo = nullptr;
};

// Start-up and error state.
int WSAStartup(WORD versionRequested, WSADATA* data);
// Ends one start-up; the last one closes every socket still open.
int WSACleanup();
void WSASetLastError(int error);
int WSAGetLastError();  // per thread
// Maps a host errno value to the library's error code.
int WSAErrorFromErrno(int err);

// Sockets. Handles are small positive numbers, never reused while the process
// runs for a long time, never -1 or 0.
SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
int bind(SOCKET s, const sockaddr* name, int nameLen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrLen);
int connect(SOCKET s, const sockaddr* name, int nameLen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int toLen);
// Gathered send of several buffers in one call (stream sockets); the count
// taken goes to *bytesSent. Cut short or blocked, it arms FD_WRITE like send.
struct WSABUF {
  u_long len = 0;
  char* buf = nullptr;
};
int WSASend(SOCKET s, WSABUF* buffers, DWORD bufferCount, DWORD* bytesSent, DWORD flags,
            void* overlapped, void* completionRoutine);
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromLen);
int setsockopt(SOCKET s, int level, int optName, const char* optVal, int optLen);
int getsockopt(SOCKET s, int level, int optName, char* optVal, int* optLen);
int getsockname(SOCKET s, sockaddr* name, int* nameLen);
int getpeername(SOCKET s, sockaddr* name, int* nameLen);
int ioctlsocket(SOCKET s, long cmd, u_long* argp);

// Byte order and address text.
u_short htons(u_short v);
u_short ntohs(u_short v);
u_long htonl(u_long v);
u_long ntohl(u_long v);
// Dotted text (also the short forms a, a.b, a.b.c) to a network-order address;
// INADDR_NONE when the text is not an address.
u_long inet_addr(const char* cp);
// Dotted text of an address; the text stays valid until the thread's next call.
char* inet_ntoa(in_addr in);

// Blocking lookups; the results stay valid until the thread's next lookup of
// the same kind. nullptr on failure with WSAGetLastError set (11001 to 11004).
hostent* gethostbyname(const char* name);
// The resolver's own words for why the calling thread's last failed lookup
// failed (empty when the last lookup succeeded or none was made).
std::string LastResolverErrorText();
hostent* gethostbyaddr(const char* addr, int len, int type);
servent* getservbyname(const char* name, const char* proto);
protoent* getprotobyname(const char* name);

// Asynchronous selection: the events in `events` are posted to hwnd as message
// msg with WParam = s. Read again after every recv while data waits, write when
// a send that would block (or was cut short) can go on, accept again after
// every accept while connections wait, connect and close once. events 0 stops
// all messages. Makes the socket non-blocking.
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, int32_t events);
// Of FD_CONNECT and FD_CLOSE, those the library has posted for s so far:
// FD_CONNECT once its connection attempt has ended, FD_CLOSE once the end of
// its connection was seen; 0 for a handle that is no socket. Any program may
// post a window look-alikes of these messages: this tells the library's own.
int32_t WSAAsyncSelectPosted(SOCKET s);

// Asynchronous host lookups on a helper thread. The result (a host entry laid
// out inside buf) is written before msg is posted to hwnd with WParam = the
// request handle. Returns the request handle, 0 on failure.
HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buf, int bufLen);
HANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT msg, const char* addr, int len, int type, char* buf,
                             int bufLen);
// After a successful cancel the request writes nothing more into its buffer and
// its message, if already posted, belongs to no live request.
int WSACancelAsyncRequest(HANDLE asyncTaskHandle);
// Whether the request has ended (answered or cancelled): until then its buffer
// may still be written, and a message naming it is not the library's.
bool WSAAsyncRequestDone(HANDLE asyncTaskHandle);

}  // namespace plat
