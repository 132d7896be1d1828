// Name resolution, the error texts, the socket's addresses and its asynchronous lookups.
#include <algorithm>
#include <cstring>
#include <map>

#include "sockets/NetSocketInternal.h"

namespace vexa {

using namespace netsocket;

namespace {

uint32_t ParseDecimal(const std::string& S) {
  size_t i = 0;
  while (i < S.size() && S[i] == ' ') i++;
  uint32_t v = 0;
  while (i < S.size() && S[i] >= '0' && S[i] <= '9') {
    v = v * 10 + static_cast<uint32_t>(S[i] - '0');
    if (v > 0xFFFFFF) v = 0xFFFFFF;  // keeps a long digit run from wrapping
    i++;
  }
  return v;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsDottedAddress(const std::string& Text) {
  size_t i = 0;
  const size_t n = Text.size();
  while (i < n && Text[i] == ' ') i++;
  if (i < n && Text[i] == '.') return false;
  int dots = 0;
  uint32_t part = 0;
  while (i < n) {
    char c = Text[i];
    if (IsDigit(c)) {
      part = std::min<uint32_t>(part * 10 + static_cast<uint32_t>(c - '0'), 1000);
      i++;
    } else if (c == '.') {
      if (++dots > 3) return false;
      if (part > 255) return false;
      if (i + 1 >= n || !IsDigit(Text[i + 1])) return false;
      part = 0;
      i++;
    } else {
      while (i < n && Text[i] == ' ') i++;
      if (i < n) return false;
    }
  }
  return dots == 3 && part <= 255;
}

uint32_t NetSocketResolveHost(const std::string& Host) {
  if (Host.empty() || Host.size() > 256) {
    throw ESocketException("NetSocketResolveHost: '" + Host + "' Invalid Hostname.");
  }
  std::string t = fw::Trim(Host);
  if (IsDottedAddress(t)) {
    uint32_t a = WS(inet_addr)(t.c_str());
    if (a == plat::INADDR_NONE && t != "255.255.255.255") {
      throw ESocketException("NetSocketResolveHost: '" + Host + "' Invalid IP address.");
    }
    return a;
  }
  plat::hostent* he = WS(gethostbyname)(t.c_str());
  if (!he || !he->h_addr_list || !he->h_addr_list[0]) {
    throw ESocketException(
        fw::Format("NetSocketResolveHost: Cannot convert host address '%s', Error #%d",
                   Host.c_str(), WS(WSAGetLastError)()));
  }
  uint32_t a;
  std::memcpy(&a, he->h_addr_list[0], 4);
  return a;
}

uint16_t NetSocketResolvePort(const std::string& Port, const std::string& Proto) {
  if (Port.empty() || Port.size() >= 32)
    throw ESocketException("NetSocketResolvePort: Invalid Port.");
  if (Proto.empty() || Proto.size() >= 32)
    throw ESocketException("NetSocketResolvePort: Invalid Proto.");
  if (IsDigit(Port[0])) return static_cast<uint16_t>(ParseDecimal(Port));
  plat::servent* se = WS(getservbyname)(fw::Trim(Port).c_str(), fw::Trim(Proto).c_str());
  if (!se) {
    throw ESocketException(fw::Format("NetSocketResolvePort: Cannot convert port '%s', Error #%d",
                                      Port.c_str(), WS(WSAGetLastError)()));
  }
  return WS(ntohs)(static_cast<uint16_t>(se->s_port));
}

int NetSocketResolveProto(const std::string& Proto) {
  if (Proto.empty() || Proto.size() >= 32)
    throw ESocketException("NetSocketResolveProto: Invalid Protocol.");
  std::string t = fw::Trim(Proto);
  if (!t.empty() && IsDigit(t[0])) return static_cast<int>(ParseDecimal(t));
  plat::protoent* pe = WS(getprotobyname)(t.c_str());
  if (!pe) {
    throw ESocketException(
        fw::Format("NetSocketResolveProto: Cannot convert protocol '%s', Error #%d", Proto.c_str(),
                   WS(WSAGetLastError)()));
  }
  return pe->p_proto;
}

std::string SocketErrorText(int Code) {
  static const std::map<int, const char*> texts = {
      {0, "No Error"},
      {10004, "Interrupted system call"},
      {10009, "Bad file number"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open files"},
      {10035, "Operation would block"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Socket operation on non-socket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Protocol wrong type for socket"},
      {10042, "Protocol not available"},
      {10043, "Protocol not supported"},
      {10044, "Socket type not supported"},
      {10045, "Operation not supported on socket"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported by protocol family"},
      {10048, "Address already in use"},
      {10049, "Address not available"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped connection on reset"},
      {10053, "Connection aborted"},
      {10054, "Connection reset by peer"},
      {10055, "No buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Can't send after socket shutdown"},
      {10059, "Too many references: can't splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10062, "Too many levels of symbolic links"},
      {10063, "File name too long"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10066, "Directory not empty"},
      {10067, "Too many processes"},
      {10068, "Too many users"},
      {10069, "Disc quota exceeded"},
      {10070, "Stale NFS file handle"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network sub-system is unusable"},
      {10092, "WinSock DLL cannot support this application"},
      {10093, "WinSock not initialized"},
      {11001, "Host not found"},
      {11002, "Non-authoritative host not found"},
      {11003, "Non-recoverable error"},
      {11004, "No Data"},
  };
  auto it = texts.find(Code);
  return it == texts.end() ? "Not a WinSock error" : it->second;
}

// ---------------------------------------------------------------------------
// Addresses.

bool TCustomNetSocket::PeerAddress(plat::sockaddr_in& A, const char* Caller) {
  if (FState != wsConnected) return false;
  int len = sizeof A;
  if (WS(getpeername)(FHSocket, reinterpret_cast<plat::sockaddr*>(&A), &len) == 0) return true;
  ReportSocketError(Caller);
  return false;
}

std::string TCustomNetSocket::GetPeerAddr() {
  plat::sockaddr_in a;
  return PeerAddress(a, "GetPeerName") ? WS(inet_ntoa)(a.sin_addr) : "error";
}

std::string TCustomNetSocket::GetPeerPort() {
  plat::sockaddr_in a;
  return PeerAddress(a, "GetPeerPort") ? IntStr(WS(ntohs)(a.sin_port)) : "error";
}

int32_t TCustomNetSocket::GetPeerName(plat::sockaddr_in& Name, int32_t NameLen) {
  if (FState != wsConnected) return -1;
  int len = NameLen;
  return WS(getpeername)(FHSocket, reinterpret_cast<plat::sockaddr*>(&Name), &len);
}

std::string TCustomNetSocket::GetBoundAddr() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  plat::sockaddr_in a;
  int len = sizeof a;
  if (WS(getsockname)(FHSocket, reinterpret_cast<plat::sockaddr*>(&a), &len) != 0) return "error";
  return WS(inet_ntoa)(a.sin_addr);
}

std::string TCustomNetSocket::GetBoundPort() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  plat::sockaddr_in a;
  int len = sizeof a;
  if (WS(getsockname)(FHSocket, reinterpret_cast<plat::sockaddr*>(&a), &len) != 0) return "error";
  return IntStr(WS(ntohs)(a.sin_port));
}

int32_t TCustomNetSocket::GetSockName(plat::sockaddr_in& Name, int32_t& NameLen) {
  int len = NameLen;
  int32_t r = WS(getsockname)(FHSocket, reinterpret_cast<plat::sockaddr*>(&Name), &len);
  NameLen = len;
  return r;
}

bool TCustomNetSocket::TimevalIsSet(const plat::timeval& T) {
  return T.tv_sec != 0 || T.tv_usec != 0;
}

void TCustomNetSocket::TimevalClear(plat::timeval& T) {
  T.tv_sec = 0;
  T.tv_usec = 0;
}

bool TCustomNetSocket::TimevalCompare(const plat::timeval& A, const plat::timeval& B,
                                      bool WantEqual) {
  bool equal = A.tv_sec == B.tv_sec && A.tv_usec == B.tv_usec;
  return equal == WantEqual;
}

// ---------------------------------------------------------------------------
// Asynchronous lookups.

bool TCustomNetSocket::BeginDnsLookup(bool Valid, const char* Complaint) {
  if (!Valid) {
    RaiseError(Complaint);
    DoDnsLookupDone(plat::WSAEINVAL);
    return false;
  }
  if (FDnsLookupHandle) CancelDnsLookup();
  FDnsResult.clear();
  FDnsResultList->Clear();
  return true;
}

void TCustomNetSocket::DnsLookup(const std::string& HostName) {
  if (!BeginDnsLookup(!HostName.empty(), "DNS lookup: invalid host name.")) return;
  uint32_t a = WS(inet_addr)(HostName.c_str());
  if (a != plat::INADDR_NONE) {
    plat::in_addr ia;
    ia.s_addr = a;
    FDnsResult = WS(inet_ntoa)(ia);
    DoDnsLookupDone(0);
    return;
  }
  StartDnsRequest(HostName, [&] {
    return WS(WSAAsyncGetHostByName)(FWindowHandle, SocketMsgHostByName, HostName.c_str(),
                                     FDnsLookupBuffer, sizeof FDnsLookupBuffer);
  });
}

void TCustomNetSocket::StartDnsRequest(const std::string& Name,
                                       const std::function<plat::HANDLE()>& Request) {
  FDnsRequesting = true;
  FDnsEarly = false;
  FDnsLookupHandle = Request();
  FDnsRequesting = false;
  if (FDnsLookupHandle == 0) {
    RaiseErrorFmt("%s: can't start DNS lookup, error #%d", Name, WS(WSAGetLastError)());
    return;
  }
  if (FDnsEarly) {
    FDnsEarly = false;
    HandleDnsCompletion(FDnsEarlyMsg, FDnsEarlyMsg.Msg == SocketMsgHostByAddr);
  }
}

void TCustomNetSocket::ReverseDnsLookup(const std::string& HostAddr) {
  if (!BeginDnsLookup(!HostAddr.empty() && HostAddr.size() <= 256,
                      "ReverseDnsLookup: Invalid host name."))
    return;
  uint32_t a = WS(inet_addr)(HostAddr.c_str());
  StartDnsRequest(HostAddr, [&] {
    return WS(WSAAsyncGetHostByAddr)(FWindowHandle, SocketMsgHostByAddr,
                                     reinterpret_cast<const char*>(&a), 4, plat::AF_INET,
                                     FDnsLookupBuffer, sizeof FDnsLookupBuffer);
  });
}

void TCustomNetSocket::HandleDnsCompletion(fw::TMessage& MsgRec, bool ByAddr) {
  if (FDnsRequesting) {
    // Arrived before the request call returned its handle: replayed then.
    FDnsEarlyMsg = MsgRec;
    FDnsEarly = true;
    return;
  }
  if (FDnsLookupHandle == 0 || static_cast<plat::HANDLE>(MsgRec.WParam) != FDnsLookupHandle) return;
  // While the request runs its buffer is being written: a look-alike naming
  // it must not have it read.
  if (!WS(WSAAsyncRequestDone)(FDnsLookupHandle)) {
    fw::TellIgnoredOnce("lookup answer the socket library did not post");
    return;
  }
  FDnsLookupHandle = 0;
  uint16_t err = static_cast<uint16_t>(plat::WSAGETASYNCERROR(MsgRec.LParam));
  if (err == 0) {
    const auto* he = reinterpret_cast<const plat::hostent*>(FDnsLookupBuffer);
    if (ByAddr) {
      FDnsResult = he->h_name ? he->h_name : "";
      FDnsResultList->Clear();
      FDnsResultList->Add(FDnsResult);
    } else {
      for (int i = 0; he->h_addr_list && he->h_addr_list[i]; i++) {
        plat::in_addr ia;
        std::memcpy(&ia.s_addr, he->h_addr_list[i], 4);
        FDnsResultList->Add(WS(inet_ntoa)(ia));
      }
      if (FDnsResultList->Count() > 0) FDnsResult = FDnsResultList->Get(0);
    }
  }
  DoDnsLookupDone(err);
}

void TCustomNetSocket::CancelDnsLookup() {
  if (FDnsLookupHandle == 0) return;
  if (WS(WSACancelAsyncRequest)(FDnsLookupHandle) != 0) {
    FDnsLookupHandle = 0;
    ReportSocketError("WSACancelAsyncRequest");
    return;
  }
  FDnsLookupHandle = 0;
  if (!Destroying_()) DoDnsLookupDone(plat::WSAEINTR);
}

// ===========================================================================

}  // namespace vexa
