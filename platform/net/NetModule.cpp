// Modules, start-up and error codes: the socket library is the only module; its entry points are
// plain functions of this folder.
#include "platform/net/NetInternal.h"
#include "platform/kernel/AsciiCase.h"

namespace plat::net {

thread_local int tLastError = 0;

namespace {

constexpr HMODULE kSocketModule = 0x71AB0000;

bool IsSocketLibraryName(const std::string& name) {
  return AsciiLower(name) == SOCKET_LIBRARY_NAME;
}

}  // namespace

bool Started() {
  if (St().startups.load() > 0) return true;
  tLastError = WSANOTINITIALISED;
  return false;
}

}  // namespace plat::net

namespace plat {

using namespace net;

// ---------------------------------------------------------------------------
// Modules.

HMODULE LoadLibrary(const std::string& fileName) {
  State& m = St();
  std::lock_guard<std::mutex> g(m.modulesMu);
  if (!IsSocketLibraryName(fileName) || m.unavailable) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  m.moduleRefs++;
  return kSocketModule;
}

FARPROC GetProcAddress(HMODULE module, const std::string& procName) {
  {
    State& m = St();
    std::lock_guard<std::mutex> g(m.modulesMu);
    if (module != kSocketModule || m.moduleRefs <= 0) {
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
      VEXA_EXPORT(WSAAsyncSelectPosted),
      VEXA_EXPORT(WSAAsyncRequestDone),
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
  State& m = St();
  std::lock_guard<std::mutex> g(m.modulesMu);
  if (module != kSocketModule || m.moduleRefs <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  m.moduleRefs--;
  return true;
}

HMODULE GetModuleHandle(const std::string& moduleName) {
  State& m = St();
  std::lock_guard<std::mutex> g(m.modulesMu);
  if (IsSocketLibraryName(moduleName) && m.moduleRefs > 0) return kSocketModule;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return 0;
}

void SetLibraryAvailableForTesting(const std::string& fileName, bool available) {
  State& m = St();
  std::lock_guard<std::mutex> g(m.modulesMu);
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
  St().startups++;
  return 0;
}

int WSACleanup() {
  if (!Started()) return SOCKET_ERROR;
  State& st = St();
  if (--st.startups == 0) {
    std::vector<SOCKET> open;
    {
      std::lock_guard<std::mutex> g(st.sockMu);
      for (auto& [h, s] : st.socks) open.push_back(h);
    }
    st.startups++;
    for (SOCKET h : open) closesocket(h);
    st.startups--;
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

}  // namespace plat
