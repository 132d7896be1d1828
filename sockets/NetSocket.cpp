#include "sockets/NetSocket.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "framework/Forms.h"

namespace vexa {

// ---------------------------------------------------------------------------
// Binding the socket library: every entry point is looked up on first use.

namespace {

enum TProcId {
  pWSAStartup, pWSACleanup, pWSASetLastError, pWSAGetLastError, pWSACancelAsyncRequest,
  pWSAAsyncGetHostByName, pWSAAsyncGetHostByAddr, pWSAAsyncSelect, pgetservbyname,
  pgetprotobyname, pgethostbyname, psocket, pshutdown, psetsockopt, psendto, psend, precv,
  precvfrom, pntohs, phtons, plisten, pioctlsocket, pinet_ntoa, pinet_addr, pgetsockname,
  pgetpeername, pconnect, pclosesocket, pbind, paccept, pWSASend, pProcCount
};

const char* const kProcNames[pProcCount] = {
    "WSAStartup", "WSACleanup", "WSASetLastError", "WSAGetLastError", "WSACancelAsyncRequest",
    "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr", "WSAAsyncSelect", "getservbyname",
    "getprotobyname", "gethostbyname", "socket", "shutdown", "setsockopt", "sendto", "send",
    "recv", "recvfrom", "ntohs", "htons", "listen", "ioctlsocket", "inet_ntoa", "inet_addr",
    "getsockname", "getpeername", "connect", "closesocket", "bind", "accept", "WSASend"};

const char* const kSocketLibrary = "wsock32.dll";

plat::HMODULE gLibrary = 0;
plat::FARPROC gProcs[pProcCount] = {};
int gLiveSockets = 0;

plat::FARPROC LookupProc(TProcId Id) {
  plat::FARPROC p = plat::GetProcAddress(gLibrary, kProcNames[Id]);
  if (!p) {
    throw ESocketException(std::string("Procedure ") + kProcNames[Id] + " not found in " +
                           kSocketLibrary + " Error #" + fw::IntToStr(plat::GetLastError()));
  }
  gProcs[Id] = p;
  return p;
}

void LoadSocketLibrary() {
  if (gLibrary) return;
  plat::HMODULE h = plat::LoadLibrary(kSocketLibrary);
  if (!h) {
    throw ESocketException(std::string("Unable to load ") + kSocketLibrary + " Error #" +
                           fw::IntToStr(plat::GetLastError()));
  }
  gLibrary = h;
  try {
    auto startup = reinterpret_cast<decltype(&plat::WSAStartup)>(LookupProc(pWSAStartup));
    plat::WSADATA data;
    int rc = startup(0x0101, &data);
    if (rc != 0) throw ESocketException(fw::Format("%s: WSAStartup error #%d", kSocketLibrary, rc));
  } catch (...) {
    // A library that did not start is not kept half loaded.
    plat::FreeLibrary(gLibrary);
    gLibrary = 0;
    std::fill(std::begin(gProcs), std::end(gProcs), nullptr);
    throw;
  }
}

plat::FARPROC GetSocketProc(TProcId Id) {
  if (gProcs[Id] && gLibrary) return gProcs[Id];
  LoadSocketLibrary();
  if (gProcs[Id]) return gProcs[Id];
  return LookupProc(Id);
}

#define WS(fn) (reinterpret_cast<decltype(&plat::fn)>(GetSocketProc(p##fn)))

struct TLibraryFinalizer {
  ~TLibraryFinalizer() {
    try {
      UnloadSocketLibrary();
    } catch (...) {
    }
  }
} gLibraryFinalizer;

// Hidden windows: window long 0 holds an id that maps to the socket object.
const char* const kWindowClass = "XSocketWindowClass";
std::mutex gWindowLock;
std::map<int32_t, TCustomNetSocket*>& SocketWindows() {
  static auto* m = new std::map<int32_t, TCustomNetSocket*>;
  return *m;
}
int32_t gNextWindowId = 1;

TCustomNetSocket* SocketOfWindow(plat::HWND Wnd) {
  int32_t id = plat::GetWindowLong(Wnd, 0);
  if (id == 0) return nullptr;
  std::lock_guard<std::mutex> g(gWindowLock);
  auto it = SocketWindows().find(id);
  return it == SocketWindows().end() ? nullptr : it->second;
}

std::string IntStr(int64_t v) { return fw::IntToStr(v); }

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

// Window procedure of every socket window; a friend of the socket classes.
plat::LRESULT XSocketWindowProc(plat::HWND Wnd, plat::UINT Msg, plat::WPARAM WParam,
                                plat::LPARAM LParam) {
  TCustomNetSocket* s = SocketOfWindow(Wnd);
  if (!s) return plat::DefWindowProc(Wnd, Msg, WParam, LParam);
  fw::TMessage m;
  m.Msg = Msg;
  m.WParam = WParam;
  m.LParam = LParam;
  m.Result = 0;
  s->WndProc(m);
  return m.Result;
}

void UnloadSocketLibrary() {
  if (gLibrary) {
    auto cleanup = reinterpret_cast<decltype(&plat::WSACleanup)>(
        gProcs[pWSACleanup] ? gProcs[pWSACleanup] : plat::GetProcAddress(gLibrary, "WSACleanup"));
    if (cleanup) cleanup();
    plat::FreeLibrary(gLibrary);
    gLibrary = 0;
    std::fill(std::begin(gProcs), std::end(gProcs), nullptr);
  }
  gLiveSockets = 0;
}

// ---------------------------------------------------------------------------
// Resolution routines.

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
    throw ESocketException(fw::Format("NetSocketResolveHost: Cannot convert host address '%s', Error #%d",
                                      Host.c_str(), WS(WSAGetLastError)()));
  }
  uint32_t a;
  std::memcpy(&a, he->h_addr_list[0], 4);
  return a;
}

uint16_t NetSocketResolvePort(const std::string& Port, const std::string& Proto) {
  if (Port.empty() || Port.size() >= 32) throw ESocketException("NetSocketResolvePort: Invalid Port.");
  if (Proto.empty() || Proto.size() >= 32) throw ESocketException("NetSocketResolvePort: Invalid Proto.");
  if (IsDigit(Port[0])) return static_cast<uint16_t>(ParseDecimal(Port));
  plat::servent* se = WS(getservbyname)(fw::Trim(Port).c_str(), fw::Trim(Proto).c_str());
  if (!se) {
    throw ESocketException(fw::Format("NetSocketResolvePort: Cannot convert port '%s', Error #%d",
                                      Port.c_str(), WS(WSAGetLastError)()));
  }
  return WS(ntohs)(static_cast<uint16_t>(se->s_port));
}

int NetSocketResolveProto(const std::string& Proto) {
  if (Proto.empty() || Proto.size() >= 32) throw ESocketException("NetSocketResolveProto: Invalid Protocol.");
  std::string t = fw::Trim(Proto);
  if (!t.empty() && IsDigit(t[0])) return static_cast<int>(ParseDecimal(t));
  plat::protoent* pe = WS(getprotobyname)(t.c_str());
  if (!pe) {
    throw ESocketException(fw::Format("NetSocketResolveProto: Cannot convert protocol '%s', Error #%d",
                                      Proto.c_str(), WS(WSAGetLastError)()));
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
// TCustomNetSocket: construction and the hidden window.

TCustomNetSocket::TCustomNetSocket(fw::TComponent* AOwner) : fw::TComponent(AOwner) {
  CreateSocketWindow();
  FBufSize = 1460;
  FDnsResultList = std::make_unique<fw::TStringList>();
  FMultiCastIpTTL = 1;
  TCustomNetSocket::SetDefaults();
  gLiveSockets++;
}

TCustomNetSocket::~TCustomNetSocket() {
  Destroying();
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  try {
    if (FState != wsClosed) Close();
  } catch (...) {
  }
  if (FHSocket != plat::INVALID_SOCKET) {
    // A handle left open in the closed state (nothing else would free it).
    try {
      WS(closesocket)(FHSocket);
    } catch (...) {
    }
    FHSocket = plat::INVALID_SOCKET;
  }
  if (--gLiveSockets < 1) {
    try {
      UnloadSocketLibrary();
    } catch (...) {
    }
    gLiveSockets = 0;
  }
  ClearSendBuffer();
  FDnsResultList.reset();
  DestroySocketWindow();
}

void TCustomNetSocket::CreateSocketWindow() {
  plat::WNDCLASS wc;
  if (!plat::GetClassInfo(kWindowClass, &wc)) {
    wc = plat::WNDCLASS();
    wc.style = 0;
    wc.lpfnWndProc = XSocketWindowProc;
    wc.cbWndExtra = 4;
    wc.lpszClassName = kWindowClass;
    if (!plat::RegisterClass(wc) && !plat::GetClassInfo(kWindowClass, &wc)) {
      FWindowHandle = 0;
      return;
    }
  }
  FWindowHandle = plat::CreateWindowEx(plat::WS_EX_TOOLWINDOW, kWindowClass, "", plat::WS_POPUP, 0,
                                       0, 0, 0, 0, 0);
  if (!FWindowHandle) return;
  {
    std::lock_guard<std::mutex> g(gWindowLock);
    FWindowId = gNextWindowId++;
    if (gNextWindowId <= 0) gNextWindowId = 1;
    SocketWindows()[FWindowId] = this;
  }
  plat::SetWindowLong(FWindowHandle, 0, FWindowId);
}

void TCustomNetSocket::DestroySocketWindow() {
  if (!FWindowHandle) return;
  plat::SetWindowLong(FWindowHandle, 0, 0);
  {
    std::lock_guard<std::mutex> g(gWindowLock);
    SocketWindows().erase(FWindowId);
  }
  plat::DestroyWindow(FWindowHandle);
  FWindowHandle = 0;
}

void TCustomNetSocket::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  fw::TComponent::Notification(AComponent, Operation);
}

void TCustomNetSocket::WndProc(fw::TMessage& MsgRec) {
  try {
    switch (MsgRec.Msg) {
      case SocketMsgSelect:
        HandleSelect(MsgRec);
        break;
      case SocketMsgHostByName:
        HandleDnsCompletion(MsgRec, false);
        break;
      case SocketMsgHostByAddr:
        HandleDnsCompletion(MsgRec, true);
        break;
      case SocketMsgCloseDelayed:
        Close();
        break;
      case SocketMsgRelease:
        delete this;
        return;
      case SocketMsgTestException:
        throw ESocketException("Test exception in NetSocket");
      default:
        MsgRec.Result = plat::DefWindowProc(FWindowHandle, MsgRec.Msg, MsgRec.WParam, MsgRec.LParam);
        break;
    }
  } catch (fw::Exception& E) {
    HandleBgException(E);
  }
}

// Socket event dispatch.
void TCustomNetSocket::HandleSelect(fw::TMessage& MsgRec) {
  if (FHSocket == plat::INVALID_SOCKET || MsgRec.WParam != FHSocket || FPaused) return;
  const int32_t ev = plat::WSAGETSELECTEVENT(MsgRec.LParam);
  const uint16_t err = static_cast<uint16_t>(plat::WSAGETSELECTERROR(MsgRec.LParam));
  if (ev & plat::FD_CONNECT) {
    if (FState != wsConnected) {
      ChangeState(wsConnected);
      DoSessionConnected(err);
      if (err != 0 && FState != wsClosed) Close();
    }
  }
  if (ev & plat::FD_READ) {
    if (FState != wsConnected) {
      ChangeState(wsConnected);
      DoSessionConnected(err);
    }
    ReceiveLoop(err, FComponentOptions);
  }
  if (ev & plat::FD_WRITE) {
    TryToSend();
    if (FAllSent) DoDataSent(err);
  }
  if (ev & plat::FD_ACCEPT) DoSessionAvailable(err);
  if ((ev & plat::FD_CLOSE) && FState != wsConnecting) {
    TNetSocketOptions opts = FComponentOptions;
    opts.Exclude(wsoNoReceiveLoop);
    ReceiveLoop(0, opts);
    if (!FCloseInvoked) {
      FCloseInvoked = true;
      DoSessionClosed(err);
    }
    if (FState != wsClosed) Close();
  }
}

// ---------------------------------------------------------------------------
// State, defaults, properties.

void TCustomNetSocket::SetDefaults() {
  FSin = plat::sockaddr_in();
  FSin.sin_family = plat::AF_INET;
  FPortAssigned = false;
  FAddrAssigned = false;
  FPortResolved = false;
  FAddrResolved = false;
  FProtoResolved = false;
  FLocalPortResolved = false;
  FProtoStr = "tcp";
  FProtoAssigned = true;
  FProto = 6;
  FType = plat::SOCK_STREAM;
  FLocalPortStr = "0";
  FLocalAddr = "0.0.0.0";
  FLingerOnOff = wsLingerOn;
  FLingerTimeout = 0;
  FHSocket = plat::INVALID_SOCKET;
  FSelectEvent = 0;
  FState = wsClosed;
  FAllSent = true;
  FPaused = false;
  FReadCount = 0;
  FCloseInvoked = false;
}

void TCustomNetSocket::ChangeState(TSocketState NewState) {
  TSocketState old = FState;
  FState = NewState;
  // While destroying, the object's outer layers are already gone: no owner
  // code is called on it any more.
  if (!Destroying_()) DoChangeState(old, NewState);
}

void TCustomNetSocket::SetEndpointText(const std::string& Value, const char* Name,
                                       std::string& Text, bool& Assigned, bool& Resolved) {
  if (Assigned && Value == Text) return;
  if (FState != wsClosed) {
    RaiseError(std::string("Cannot change ") + Name + " if not closed");
    return;
  }
  Text = fw::Trim(Value);
  Assigned = !Text.empty();
  Resolved = false;
}

void TCustomNetSocket::SetAddr(const std::string& Value) {
  SetEndpointText(Value, "Addr", FAddrStr, FAddrAssigned, FAddrResolved);
}

void TCustomNetSocket::SetPort(const std::string& Value) {
  SetEndpointText(Value, "Port", FPortStr, FPortAssigned, FPortResolved);
}

void TCustomNetSocket::SetProto(const std::string& Value) {
  SetEndpointText(Value, "Proto", FProtoStr, FProtoAssigned, FProtoResolved);
}

void TCustomNetSocket::SetLocalPort(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseError("Cannot change LocalPort if not closed");
    return;
  }
  FLocalPortStr = Value;
  FLocalPortResolved = false;
}

void TCustomNetSocket::SetLocalAddr(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseError("Cannot change LocalAddr if not closed");
    return;
  }
  std::string v = Value.empty() ? std::string("0.0.0.0") : Value;
  uint32_t a = WS(inet_addr)(v.c_str());
  if (a == plat::INADDR_NONE) {
    RaiseError("SetLocalAddr(): Invalid IP address");
    return;
  }
  plat::in_addr ia;
  ia.s_addr = a;
  FLocalAddr = WS(inet_ntoa)(ia);
}

void TCustomNetSocket::SetSendFlags(TSocketSendFlags Value) {
  switch (Value) {
    case wsSendNormal:
      FSendFlags = 0;
      break;
    case wsSendUrgent:
      FSendFlags = plat::MSG_OOB;
      break;
    default:
      RaiseError("Invalid SendFlags");
      return;
  }
  FSendFlagsValue = Value;
}

// ---------------------------------------------------------------------------
// Reporting.

void TCustomNetSocket::RaiseError(const std::string& Msg) {
  if (OnError) {
    DoError();
    return;
  }
  throw ESocketException(Msg);
}

void TCustomNetSocket::RaiseErrorFmt(const char* Fmt, const std::string& Arg, int Code) {
  RaiseError(fw::Format(Fmt, Arg.c_str(), Code));
}

void TCustomNetSocket::RaiseErrorFmt(const char* Fmt, int Code) { RaiseError(fw::Format(Fmt, Code)); }

void TCustomNetSocket::ReportSocketError(const std::string& FunctionName) {
  int n = WS(WSAGetLastError)();
  std::string msg =
      "Error " + IntStr(n) + " in function " + FunctionName + "\r\n" + SocketErrorText(n);
  if (n == plat::WSAECONNRESET || n == plat::WSAENOTCONN) {
    if (FHSocket != plat::INVALID_SOCKET) {
      WS(closesocket)(FHSocket);
      FHSocket = plat::INVALID_SOCKET;
    }
    if (FState != wsClosed) DoSessionClosed(static_cast<uint16_t>(n));
    ChangeState(wsClosed);
  }
  FLastError = n;
  RaiseError(msg);
}

void TCustomNetSocket::HandleBgException(fw::Exception& E) {
  bool canClose = true;
  if (OnBgException) {
    try {
      OnBgException(this, E, canClose);
    } catch (...) {
    }
  }
  if (canClose) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

// ---------------------------------------------------------------------------
// Event firing.

bool TCustomNetSocket::DoDataAvailable(uint16_t Error) {
  if (!OnDataAvailable) return false;
  OnDataAvailable(this, Error);
  return true;
}
void TCustomNetSocket::DoSessionAvailable(uint16_t Error) {
  if (OnSessionAvailable) OnSessionAvailable(this, Error);
}
void TCustomNetSocket::DoSessionConnected(uint16_t Error) {
  if (OnSessionConnected) OnSessionConnected(this, Error);
}
void TCustomNetSocket::DoSessionClosed(uint16_t Error) {
  if (OnSessionClosed) OnSessionClosed(this, Error);
}
void TCustomNetSocket::DoDataSent(uint16_t Error) {
  if (OnDataSent) OnDataSent(this, Error);
}
void TCustomNetSocket::DoChangeState(TSocketState OldState, TSocketState NewState) {
  if (OnChangeState) OnChangeState(this, OldState, NewState);
}
void TCustomNetSocket::DoDnsLookupDone(uint16_t Error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, Error);
}
void TCustomNetSocket::DoError() {
  if (OnError) OnError(this);
}
void TCustomNetSocket::DoSendData(int32_t BytesSent) {
  if (OnSendData) OnSendData(this, BytesSent);
}

// ---------------------------------------------------------------------------
// Connect, listen, accept, adopt.

void TCustomNetSocket::ApplyLinger() {
  if (FLingerOnOff == wsLingerNoSet) return;
  if (FHSocket == plat::INVALID_SOCKET) {
    RaiseError("Cannot set linger option at this time");
    return;
  }
  plat::linger l;
  l.l_onoff = FLingerOnOff == wsLingerOn ? 1 : 0;
  l.l_linger = static_cast<plat::u_short>(FLingerTimeout);
  if (WS(setsockopt)(FHSocket, plat::SOL_SOCKET, plat::SO_LINGER, reinterpret_cast<const char*>(&l),
                     sizeof l) == plat::SOCKET_ERROR) {
    ReportSocketError("setsockopt(SO_LINGER)");
  }
}

void TCustomNetSocket::BindSocket() {
  plat::sockaddr_in local;
  local.sin_family = plat::AF_INET;
  local.sin_port = WS(htons)(FLocalPortNum);
  local.sin_addr.s_addr = NetSocketResolveHost(FLocalAddr);
  if (WS(bind)(FHSocket, reinterpret_cast<plat::sockaddr*>(&local), sizeof local) != 0) {
    RaiseErrorFmt("winsock.bind failed, error #%d", WS(WSAGetLastError)());
    return;
  }
  int len = sizeof local;
  if (WS(getsockname)(FHSocket, reinterpret_cast<plat::sockaddr*>(&local), &len) != 0) {
    RaiseErrorFmt("winsock.getsockname failed, error #%d", WS(WSAGetLastError)());
    return;
  }
  FLocalPortNum = WS(ntohs)(local.sin_port);
  FLocalPortStr = IntStr(FLocalPortNum);
}

// Resolves what is not resolved yet, in this order: protocol (which also sets
// the socket type), port, local port when asked, address. A failure raises.
void TCustomNetSocket::ResolveEndpoint(bool WithLocalPort) {
  if (!FProtoResolved) {
    FProto = NetSocketResolveProto(FProtoStr);
    FType = FProto == 17 ? plat::SOCK_DGRAM : plat::SOCK_STREAM;
    FProtoResolved = true;
  }
  if (!FPortResolved) {
    FSin.sin_port = WS(htons)(NetSocketResolvePort(FPortStr, FProtoStr));
    FPortResolved = true;
  }
  if (WithLocalPort && !FLocalPortResolved) {
    FLocalPortNum = NetSocketResolvePort(FLocalPortStr, FProtoStr);
    FLocalPortResolved = true;
  }
  if (!FAddrResolved) {
    FSin.sin_addr.s_addr = NetSocketResolveHost(FAddrStr);
    FAddrResolved = true;
  }
}

void TCustomNetSocket::Connect() {
  if (FHSocket != plat::INVALID_SOCKET && FState != wsClosed) {
    RaiseError("Connect: Socket already in use");
    return;
  }
  if (!FPortAssigned) {
    RaiseError("Connect: No Port Specified");
    return;
  }
  if (!FAddrAssigned) {
    RaiseError("Connect: No IP Address Specified");
    return;
  }
  if (!FProtoAssigned) {
    RaiseError("Connect: No Protocol Specified");
    return;
  }
  LoadSocketLibrary();  // library failures are raised as they are, never as "connect: "
  try {
    ResolveEndpoint(true);
  } catch (fw::Exception& E) {
    RaiseError("connect: " + E.Message());
    return;
  }
  ClearSendBuffer();
  FHSocket = WS(socket)(plat::AF_INET, FType, FProto);
  if (FHSocket == plat::INVALID_SOCKET) {
    ReportSocketError("Connect (socket)");
    return;
  }
  ChangeState(wsOpened);
  if (FType == plat::SOCK_DGRAM) {
    BindSocket();
    if (FMultiCast && FMultiCastIpTTL != 1) {
      int32_t ttl = FMultiCastIpTTL;
      if (plat::setsockopt(FHSocket, plat::IPPROTO_IP, plat::IP_MULTICAST_TTL,
                           reinterpret_cast<const char*>(&ttl), 4) == plat::SOCKET_ERROR) {
        ReportSocketError("setsockopt(IP_MULTICAST_TTL)");
        return;
      }
    }
    if (FSin.sin_addr.s_addr == plat::INADDR_NONE) {
      int32_t on = 1;
      if (WS(setsockopt)(FHSocket, plat::SOL_SOCKET, plat::SO_BROADCAST,
                         reinterpret_cast<const char*>(&on), 4) == plat::SOCKET_ERROR) {
        ReportSocketError("setsockopt(SO_BROADCAST)");
        return;
      }
    }
  } else {
    int32_t on = -1;
    if (WS(setsockopt)(FHSocket, plat::SOL_SOCKET, plat::SO_REUSEADDR,
                       reinterpret_cast<const char*>(&on), 4) == plat::SOCKET_ERROR) {
      ReportSocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
    if (FComponentOptions.Contains(wsoTcpNoDelay)) {
      if (WS(setsockopt)(FHSocket, plat::IPPROTO_TCP, plat::TCP_NODELAY,
                         reinterpret_cast<const char*>(&on), 4) == plat::SOCKET_ERROR) {
        ReportSocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
        return;
      }
    }
    ApplyLinger();
    if (WS(setsockopt)(FHSocket, plat::SOL_SOCKET, plat::SO_KEEPALIVE,
                       reinterpret_cast<const char*>(&on), 4) == plat::SOCKET_ERROR) {
      ReportSocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (FLocalPortNum != 0 || FLocalAddr != "0.0.0.0") BindSocket();
  }
  FSelectEvent = plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CONNECT | plat::FD_CLOSE;
  if (WS(WSAAsyncSelect)(FHSocket, FWindowHandle, SocketMsgSelect, FSelectEvent) != 0) {
    ReportSocketError("WSAAsyncSelect");
    return;
  }
  if (FType == plat::SOCK_DGRAM) {
    ChangeState(wsConnected);
    DoSessionConnected(0);
    return;
  }
  if (WS(connect)(FHSocket, reinterpret_cast<plat::sockaddr*>(&FSin), sizeof FSin) == 0) {
    ChangeState(wsConnecting);
    return;
  }
  int e = WS(WSAGetLastError)();
  if (e == plat::WSAEWOULDBLOCK) {
    ChangeState(wsConnecting);
    return;
  }
  FLastError = e;
  ReportSocketError("Connect");
}

void TCustomNetSocket::Listen() {
  // Library failures are raised as they are, as Connect does: they are not a
  // refusal of this socket, so never an OnError report nor "listen: ".
  LoadSocketLibrary();
  if (!FPortAssigned) {
    WS(WSASetLastError)(plat::WSAEINVAL);
    ReportSocketError("listen: port not assigned");
    return;
  }
  if (!FProtoAssigned) {
    WS(WSASetLastError)(plat::WSAEINVAL);
    ReportSocketError("listen: protocol not assigned");
    return;
  }
  if (!FAddrAssigned) {
    WS(WSASetLastError)(plat::WSAEINVAL);
    ReportSocketError("listen: address not assigned");
    return;
  }
  try {
    ResolveEndpoint(false);
  } catch (fw::Exception& E) {
    RaiseError("listen: " + E.Message());
    return;
  }
  ClearSendBuffer();
  FHSocket = WS(socket)(plat::AF_INET, FType, FProto);
  if (FHSocket == plat::INVALID_SOCKET) {
    ReportSocketError("socket");
    return;
  }
  // A stream listener always reuses the address: sessions of a previous run
  // lingering in TIME-WAIT must not keep a restarted server from listening.
  if (FType != plat::SOCK_DGRAM || FReuseAddr) {
    int32_t on = -1;
    if (WS(setsockopt)(FHSocket, plat::SOL_SOCKET, plat::SO_REUSEADDR,
                       reinterpret_cast<const char*>(&on), 4) == plat::SOCKET_ERROR) {
      ReportSocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  }
  if (WS(bind)(FHSocket, reinterpret_cast<plat::sockaddr*>(&FSin), sizeof FSin) != 0) {
    // The handle is freed before the report: in the closed state nothing
    // else would close it.
    int e = WS(WSAGetLastError)();
    WS(closesocket)(FHSocket);
    FHSocket = plat::INVALID_SOCKET;
    WS(WSASetLastError)(e);
    ReportSocketError("Bind");
    Close();
    return;
  }
  ChangeState(wsBound);
  if (FType == plat::SOCK_DGRAM) {
    if (FMultiCast) {
      plat::ip_mreq mreq;
      mreq.imr_multiaddr.s_addr = plat::inet_addr(FMultiCastAddrStr.c_str());
      mreq.imr_interface.s_addr = plat::htonl(plat::INADDR_ANY);
      if (plat::setsockopt(FHSocket, plat::IPPROTO_IP, plat::IP_ADD_MEMBERSHIP,
                           reinterpret_cast<const char*>(&mreq), sizeof mreq) == plat::SOCKET_ERROR) {
        ReportSocketError("setsockopt(IP MULTICAST)");
        return;
      }
    }
    ChangeState(wsListening);
    ChangeState(wsConnected);
    DoSessionConnected(0);
  } else {
    // A short queue overflows in connection bursts; the peers then believe
    // they are connected while no session exists here.
    if (WS(listen)(FHSocket, plat::MAX_LISTEN_BACKLOG) != 0) {
      ReportSocketError("Listen");
      return;
    }
    ChangeState(wsListening);
  }
  FSelectEvent = plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CLOSE;
  if (WS(WSAAsyncSelect)(FHSocket, FWindowHandle, SocketMsgSelect, FSelectEvent) != 0) {
    ReportSocketError("WSAASyncSelect");
    return;
  }
}

plat::SOCKET TCustomNetSocket::Accept() {
  if (FState != wsListening) {
    WS(WSASetLastError)(plat::WSAEINVAL);
    ReportSocketError("not a listening socket");
    return plat::INVALID_SOCKET;
  }
  int error = 0;
  plat::SOCKET h = TryAccept(error);
  if (h == plat::INVALID_SOCKET) {
    WS(WSASetLastError)(error);
    ReportSocketError("Accept");
    return plat::INVALID_SOCKET;
  }
  return h;
}

plat::SOCKET TCustomNetSocket::TryAccept(int& Error) {
  Error = 0;
  plat::sockaddr_in peer;
  int len = sizeof peer;
  plat::SOCKET h = WS(accept)(FHSocket, reinterpret_cast<plat::sockaddr*>(&peer), &len);
  if (h == plat::INVALID_SOCKET) Error = WS(WSAGetLastError)();
  return h;
}

void TCustomNetSocket::Dup(plat::SOCKET NewHSocket) {
  if (NewHSocket == 0 || NewHSocket == plat::INVALID_SOCKET) {
    WS(WSASetLastError)(plat::WSAEINVAL);
    ReportSocketError("Dup");
    return;
  }
  if (FState != wsClosed) {
    plat::SOCKET old = FHSocket;
    FHSocket = plat::INVALID_SOCKET;
    if (old != plat::INVALID_SOCKET && WS(closesocket)(old) != 0) {
      ReportSocketError("Dup (closesocket)");
      return;
    }
    ChangeState(wsClosed);
  }
  FHSocket = NewHSocket;
  ApplyLinger();
  FSelectEvent = plat::FD_READ | plat::FD_WRITE | plat::FD_CONNECT | plat::FD_CLOSE;
  if (WS(WSAAsyncSelect)(FHSocket, FWindowHandle, SocketMsgSelect, FSelectEvent) != 0) {
    ReportSocketError("WSAAsyncSelect");
    return;
  }
  ChangeState(wsConnected);
}

// ---------------------------------------------------------------------------
// Closing.

void TCustomNetSocket::Close() { InternalClose(true, 0); }

void TCustomNetSocket::CloseDelayed() {
  plat::PostMessage(FWindowHandle, SocketMsgCloseDelayed, 0, 0);
}

void TCustomNetSocket::Release() { plat::PostMessage(FWindowHandle, SocketMsgRelease, 0, 0); }

void TCustomNetSocket::Abort() {
  CancelDnsLookup();
  ClearSendBuffer();
  if (FState == wsConnected && FProto == 6) {
    FLingerOnOff = wsLingerOff;
    ApplyLinger();
  }
  InternalClose(false, 0);
}

void TCustomNetSocket::InternalClose(bool bShut, uint16_t Error) {
  if (FHSocket != plat::INVALID_SOCKET) {
    if (FState == wsClosed) return;
    if (bShut) WS(shutdown)(FHSocket, plat::SD_SEND);
    plat::SOCKET h = FHSocket;
    FHSocket = plat::INVALID_SOCKET;
    for (;;) {
      if (WS(closesocket)(h) == 0) break;
      int e = WS(WSAGetLastError)();
      FLastError = e;
      if (e == plat::WSAEWOULDBLOCK) {
        MessagePump();
        continue;
      }
      if (e == plat::WSANOTINITIALISED) break;
      ReportSocketError("Disconnect (closesocket)");
      return;
    }
    ChangeState(wsClosed);
    if (!Destroying_() && !FCloseInvoked) {
      FCloseInvoked = true;
      DoSessionClosed(Error);
    }
    try {
      SetDefaults();
    } catch (...) {
    }
  } else if (FState != wsClosed) {
    ChangeState(wsClosed);
    SetDefaults();
  }
}

void TCustomNetSocket::Shutdown(int How) {
  if (FHSocket != plat::INVALID_SOCKET) WS(shutdown)(FHSocket, How);
}

void TCustomNetSocket::Pause() {
  FPaused = true;
  if (FHSocket != plat::INVALID_SOCKET) WS(WSAAsyncSelect)(FHSocket, FWindowHandle, 0, 0);
}

void TCustomNetSocket::Resume() {
  FPaused = false;
  if (FHSocket != plat::INVALID_SOCKET)
    WS(WSAAsyncSelect)(FHSocket, FWindowHandle, SocketMsgSelect, FSelectEvent);
}

void TCustomNetSocket::MessagePump() {
  if (!FMultiThreaded) {
    fw::Application->ProcessMessages();
    return;
  }
  plat::MSG msg;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    if (msg.message == plat::WM_QUIT) {
      FTerminated = true;
      continue;
    }
    plat::TranslateMessage(&msg);
    plat::DispatchMessage(&msg);
  }
}

void TCustomNetSocket::DrainUntilClosed() {
  while (FHSocket != plat::INVALID_SOCKET && FState != wsClosed) {
    MessagePump();
    if (FHSocket == plat::INVALID_SOCKET) break;
    plat::u_long count = 0;
    if (WS(ioctlsocket)(FHSocket, plat::FIONREAD, &count) == plat::SOCKET_ERROR) break;
    if (count > 0) DoDataAvailable(0);
    if (FHSocket == plat::INVALID_SOCKET) break;
    char dummy;
    if (RecvRaw(&dummy, 0, 0) < 1 && WS(WSAGetLastError)() != plat::WSAEWOULDBLOCK) break;
    MessagePump();
    if (count == 0) plat::WaitMessageTimeout(10);
  }
}

// ---------------------------------------------------------------------------
// Send queue.

void TCustomNetSocket::ClearSendBuffer() {
  FBufList.clear();
  FSpareBufs.clear();
}

std::unique_ptr<TBuffer> TCustomNetSocket::NewChunk() {
  if (!FSpareBufs.empty() && FSpareBufs.back()->BufSize() == FBufSize) {
    std::unique_ptr<TBuffer> b = std::move(FSpareBufs.back());
    FSpareBufs.pop_back();
    return b;
  }
  return std::make_unique<TBuffer>(FBufSize);
}

void TCustomNetSocket::DropFirstChunk() {
  std::unique_ptr<TBuffer> b = std::move(FBufList.front());
  FBufList.pop_front();
  int32_t l = 0;
  b->Remove(b->WrCount());
  if (FSpareBufs.size() < 64 && !b->Peek(l)) FSpareBufs.push_back(std::move(b));
}

void TCustomNetSocket::QueueSendData(const void* Data, int32_t Len) {
  if (Len <= 0) return;
  if (FBufList.empty()) FBufList.push_back(NewChunk());
  const char* p = static_cast<const char*>(Data);
  TBuffer* target = FBufList.back().get();
  for (;;) {
    int32_t n = target->Write(p, Len);
    if (n >= Len) break;
    p += n;
    Len -= n;
    FBufList.push_back(NewChunk());
    target = FBufList.back().get();
  }
}

bool TCustomNetSocket::QueueIdle() const {
  if (FBufList.empty()) return true;
  if (FBufList.size() > 1) return false;
  int32_t l = 0;
  FBufList.front()->Peek(l);
  return l == 0;
}

// With nothing queued, the caller's bytes go to the platform straight away and
// only what it does not take is copied into chunks. Everything observable is
// as if the bytes had been queued first: chunk boundaries, the order of the
// bytes and one OnSendData per chunk-sized piece sent.
void TCustomNetSocket::SendOrQueue(const char* Data, int32_t Len) {
  if (FType != plat::SOCK_STREAM || FHSocket == plat::INVALID_SOCKET || FInTryToSend ||
      !QueueIdle()) {
    QueueSendData(Data, Len);
    return;
  }
  int32_t n = WS(send)(FHSocket, Data, Len, FSendFlags);
  if (n <= 0) {
    QueueSendData(Data, Len);  // TryToSend meets the same condition and handles it
    return;
  }
  if (n < Len) {
    int32_t sliceStart = (n / FBufSize) * FBufSize;
    FBufList.clear();
    QueueSendData(Data + sliceStart, Len - sliceStart);
    FBufList.front()->Remove(n - sliceStart);
  }
  FInTryToSend = true;
  struct TGuard {
    bool& F;
    ~TGuard() { F = false; }
  } guard{FInTryToSend};
  for (int32_t off = 0; off < n; off += FBufSize) DoSendData(std::min(FBufSize, n - off));
}

void TCustomNetSocket::TryToSend() {
  if (FHSocket == plat::INVALID_SOCKET) return;
  if (FBufList.empty()) {
    FAllSent = true;  // nothing queued is nothing unsent
    return;
  }
  // Handlers of OnSendData may send again: that only queues, and this loop
  // goes on with it.
  if (FInTryToSend) return;
  FInTryToSend = true;
  struct TGuard {
    bool& F;
    ~TGuard() { F = false; }
  } guard{FInTryToSend};
  constexpr int kMaxGather = 64;
  for (;;) {
    if (FHSocket == plat::INVALID_SOCKET || FBufList.empty()) return;
    // Sent chunks leave the queue; the last one stays for reuse.
    while (FBufList.size() > 1) {
      int32_t l = 0;
      FBufList.front()->Peek(l);
      if (l > 0) break;
      DropFirstChunk();
    }
    TBuffer* first = FBufList.front().get();
    int32_t len = 0;
    const char* p = first->Peek(len);
    if (len <= 0) {
      FAllSent = true;
      return;
    }
    int32_t n;
    int32_t offered = len;
    const bool gather = FType == plat::SOCK_STREAM && FBufList.size() > 1;
    if (gather) {
      // Several segment-sized chunks in one platform call; reported per chunk
      // exactly as chunk-by-chunk sends would be.
      plat::WSABUF bufs[kMaxGather];
      int count = 0;
      offered = 0;
      for (size_t i = 0; i < FBufList.size() && count < kMaxGather; i++) {
        int32_t l = 0;
        const char* q = FBufList[i]->Peek(l);
        if (l <= 0) continue;
        bufs[count].buf = const_cast<char*>(q);
        bufs[count].len = static_cast<plat::u_long>(l);
        offered += l;
        count++;
      }
      plat::DWORD sent = 0;
      n = WS(WSASend)(FHSocket, bufs, static_cast<plat::DWORD>(count), &sent,
                      static_cast<plat::DWORD>(FSendFlags), nullptr, nullptr) == 0
              ? static_cast<int32_t>(sent)
              : -1;
    } else {
      n = RawSend(p, len);
    }
    if (n == -1) {
      int e = WS(WSAGetLastError)();
      if (e == plat::WSAEINVAL || e == plat::WSAENOTSOCK || e == plat::WSAECONNABORTED ||
          e == plat::WSAECONNRESET || e == plat::WSAENOTCONN) {
        FCloseInvoked = true;
        Close();
        DoSessionClosed(static_cast<uint16_t>(e));
        return;
      }
      if (e == plat::WSAEWOULDBLOCK) return;
      ReportSocketError("TryToSend failed");
      return;
    }
    if (n <= 0) return;
    if (gather) {
      std::vector<int32_t> parts;
      int32_t rest = n;
      for (size_t i = 0; i < FBufList.size() && rest > 0; i++) {
        int32_t l = 0;
        FBufList[i]->Peek(l);
        if (l <= 0) continue;
        int32_t k = std::min(l, rest);
        FBufList[i]->Remove(k);
        parts.push_back(k);
        rest -= k;
      }
      for (int32_t k : parts) DoSendData(k);
    } else {
      first->Remove(n);
    }
    if (n < offered) return;  // the platform took only part: FD_WRITE brings the rest
  }
}

int32_t TCustomNetSocket::RawSend(const void* Data, int32_t Len) {
  int32_t n;
  if (FType == plat::SOCK_DGRAM) {
    n = WS(sendto)(FHSocket, static_cast<const char*>(Data), Len, FSendFlags,
                   reinterpret_cast<plat::sockaddr*>(&FSin), sizeof FSin);
  } else {
    n = WS(send)(FHSocket, static_cast<const char*>(Data), Len, FSendFlags);
  }
  if (n > 0) DoSendData(n);
  return n;
}

int32_t TCustomNetSocket::Send(const void* Data, int32_t Len) {
  if (FState != wsConnected) {
    WS(WSASetLastError)(plat::WSAENOTCONN);
    ReportSocketError("Send");
    return -1;
  }
  FAllSent = false;
  if (Len > 0) {
    SendOrQueue(static_cast<const char*>(Data), Len);
  } else {
    Len = 0;
  }
  TryToSend();
  if (FAllSent && FHSocket != plat::INVALID_SOCKET) {
    plat::PostMessage(FWindowHandle, SocketMsgSelect, FHSocket,
                      plat::WSAMAKESELECTREPLY(plat::FD_WRITE, 0));
  }
  return Len;
}

int32_t TCustomNetSocket::SendStr(const std::string& Str) {
  if (Str.empty()) return 0;
  return Send(Str.data(), static_cast<int32_t>(Str.size()));
}

int32_t TCustomNetSocket::SendTo(const plat::sockaddr_in& Dest, int32_t DestLen, const void* Data,
                                 int32_t Len) {
  int32_t n = WS(sendto)(FHSocket, static_cast<const char*>(Data), Len, FSendFlags,
                         reinterpret_cast<const plat::sockaddr*>(&Dest), DestLen);
  if (n > 0) DoSendData(n);
  return n;
}

void TCustomNetSocket::Flush() {
  while (FHSocket != plat::INVALID_SOCKET && !FAllSent) {
    TryToSend();
    MessagePump();
    // Wait for the write event rather than spinning.
    if (FHSocket != plat::INVALID_SOCKET && !FAllSent) plat::WaitMessageTimeout(10);
  }
}

// ---------------------------------------------------------------------------
// Receive side.

int32_t TCustomNetSocket::GetRcvdCount() {
  if (ComponentState().Contains(fw::csDesigning)) return -1;
  plat::u_long count = 0;
  if (WS(ioctlsocket)(FHSocket, plat::FIONREAD, &count) == plat::SOCKET_ERROR) {
    ReportSocketError("ioctlSocket");
    return -1;
  }
  return static_cast<int32_t>(count);
}

int32_t TCustomNetSocket::RecvRaw(void* Buffer, int32_t Size, int Flags) {
  int32_t n = WS(recv)(FHSocket, static_cast<char*>(Buffer), Size, Flags);
  if (n > 0) FRecvTotal += static_cast<uint64_t>(n);
  return n;
}

int32_t TCustomNetSocket::RecvFromRaw(void* Buffer, int32_t Size, plat::sockaddr_in& From,
                                      int32_t& FromLen) {
  int len = FromLen;
  int32_t n = WS(recvfrom)(FHSocket, static_cast<char*>(Buffer), Size, 0,
                           reinterpret_cast<plat::sockaddr*>(&From), &len);
  FromLen = len;
  if (n > 0) FRecvTotal += static_cast<uint64_t>(n);
  return n;
}

int32_t TCustomNetSocket::Receive(void* Buffer, int32_t Size) {
  FServedFromBuffer = false;
  int32_t n = RecvRaw(Buffer, Size, 0);
  if (n < 0) {
    FLastError = WS(WSAGetLastError)();
  } else if (!FServedFromBuffer) {
    FReadCount += n;
  }
  FServedFromBuffer = false;
  return n;
}

std::string TCustomNetSocket::ReceiveStr() {
  int32_t count = GetRcvdCount();
  if (count < 0) return std::string();
  if (count == 0) count = 255;
  std::string s(static_cast<size_t>(count), '\0');
  int32_t n = Receive(s.data(), count);
  if (n < 1) return std::string();
  s.resize(static_cast<size_t>(n));
  return s;
}

int32_t TCustomNetSocket::ReceiveFrom(void* Buffer, int32_t Size, plat::sockaddr_in& From,
                                      int32_t& FromLen) {
  int32_t n = RecvFromRaw(Buffer, Size, From, FromLen);
  if (n < 0) {
    FLastError = WS(WSAGetLastError)();
  } else {
    FReadCount += n;
  }
  return n;
}

void TCustomNetSocket::ReceiveLoop(uint16_t Error, TNetSocketOptions Options) {
  try {
    for (;;) {
      FLastError = 0;
      const uint64_t before = FRecvTotal;
      if (!DoDataAvailable(Error)) {
        char scratch[1024];
        int32_t n = RecvRaw(scratch, sizeof scratch, 0);
        if (n < 0) {
          int e = WS(WSAGetLastError)();
          if (e == plat::WSAEWOULDBLOCK) {
            FLastError = 0;
            break;
          }
          FLastError = e;
        }
      }
      if (Options.Contains(wsoNoReceiveLoop)) break;
      if (FLastError != 0) break;
      plat::u_long count = 0;
      if (WS(ioctlsocket)(FHSocket, plat::FIONREAD, &count) == plat::SOCKET_ERROR) {
        FLastError = WS(WSAGetLastError)();
        break;
      }
      if (count == 0) break;
      // A handler that reads nothing would be called again for ever.
      if (FRecvTotal == before) break;
    }
  } catch (const std::exception&) {
    // Failures of data handlers are dropped; the socket stays open.
  }
}

// ---------------------------------------------------------------------------
// Addresses.

std::string TCustomNetSocket::GetPeerAddr() {
  if (FState != wsConnected) return "error";
  plat::sockaddr_in a;
  int len = sizeof a;
  if (WS(getpeername)(FHSocket, reinterpret_cast<plat::sockaddr*>(&a), &len) != 0) {
    ReportSocketError("GetPeerName");
    return "error";
  }
  return WS(inet_ntoa)(a.sin_addr);
}

std::string TCustomNetSocket::GetPeerPort() {
  if (FState != wsConnected) return "error";
  plat::sockaddr_in a;
  int len = sizeof a;
  if (WS(getpeername)(FHSocket, reinterpret_cast<plat::sockaddr*>(&a), &len) != 0) {
    ReportSocketError("GetPeerPort");
    return "error";
  }
  return IntStr(WS(ntohs)(a.sin_port));
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

bool TCustomNetSocket::TimevalIsSet(const plat::timeval& T) { return T.tv_sec != 0 || T.tv_usec != 0; }

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

void TCustomNetSocket::DnsLookup(const std::string& HostName) {
  if (HostName.empty()) {
    RaiseError("DNS lookup: invalid host name.");
    DoDnsLookupDone(plat::WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle) CancelDnsLookup();
  FDnsResult.clear();
  FDnsResultList->Clear();
  uint32_t a = WS(inet_addr)(HostName.c_str());
  if (a != plat::INADDR_NONE) {
    plat::in_addr ia;
    ia.s_addr = a;
    FDnsResult = WS(inet_ntoa)(ia);
    DoDnsLookupDone(0);
    return;
  }
  FDnsRequesting = true;
  FDnsEarly = false;
  FDnsLookupHandle = WS(WSAAsyncGetHostByName)(FWindowHandle, SocketMsgHostByName, HostName.c_str(),
                                               FDnsLookupBuffer, sizeof FDnsLookupBuffer);
  FDnsRequesting = false;
  if (FDnsLookupHandle == 0) {
    RaiseErrorFmt("%s: can't start DNS lookup, error #%d", HostName, WS(WSAGetLastError)());
    return;
  }
  if (FDnsEarly) {
    FDnsEarly = false;
    HandleDnsCompletion(FDnsEarlyMsg, FDnsEarlyMsg.Msg == SocketMsgHostByAddr);
  }
}

void TCustomNetSocket::ReverseDnsLookup(const std::string& HostAddr) {
  if (HostAddr.empty() || HostAddr.size() > 256) {
    RaiseError("ReverseDnsLookup: Invalid host name.");
    DoDnsLookupDone(plat::WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle) CancelDnsLookup();
  FDnsResult.clear();
  FDnsResultList->Clear();
  uint32_t a = WS(inet_addr)(HostAddr.c_str());
  FDnsRequesting = true;
  FDnsEarly = false;
  FDnsLookupHandle =
      WS(WSAAsyncGetHostByAddr)(FWindowHandle, SocketMsgHostByAddr, reinterpret_cast<const char*>(&a),
                                4, plat::AF_INET, FDnsLookupBuffer, sizeof FDnsLookupBuffer);
  FDnsRequesting = false;
  if (FDnsLookupHandle == 0) {
    RaiseErrorFmt("%s: can't start DNS lookup, error #%d", HostAddr, WS(WSAGetLastError)());
    return;
  }
  if (FDnsEarly) {
    FDnsEarly = false;
    HandleDnsCompletion(FDnsEarlyMsg, FDnsEarlyMsg.Msg == SocketMsgHostByAddr);
  }
}

void TCustomNetSocket::HandleDnsCompletion(fw::TMessage& MsgRec, bool ByAddr) {
  if (FDnsRequesting) {
    // Arrived before the request call returned its handle: replayed then.
    FDnsEarlyMsg = MsgRec;
    FDnsEarly = true;
    return;
  }
  if (FDnsLookupHandle == 0 || static_cast<plat::HANDLE>(MsgRec.WParam) != FDnsLookupHandle) return;
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
// SOCKS client layer.

TCustomSocksNetSocket::TCustomSocksNetSocket(fw::TComponent* AOwner) : TCustomNetSocket(AOwner) {}

void TCustomSocksNetSocket::SetDefaults() {
  TCustomNetSocket::SetDefaults();
  FSocksState = SocksStateNone;
  FSocksServer.clear();
  FSocksPort.clear();
  FSocksLevel = "5";
  FSocksActive = false;
  FRcvdCnt = 0;
  FRcvdPos = 0;
}

void TCustomSocksNetSocket::SetSocksLevel(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseError("Can't change socks level if not closed");
    return;
  }
  if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a") {
    RaiseError("Invalid socks level. Must be 4, 4A or 5.");
    return;
  }
  FSocksLevel = fw::UpperCase(Value);
}

void TCustomSocksNetSocket::SetSocksPort(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseError("Can't change socks port if not closed");
    return;
  }
  FSocksPort = fw::Trim(Value);
}

void TCustomSocksNetSocket::SetSocksServer(const std::string& Value) {
  if (FState != wsClosed) {
    RaiseError("Can't change socks server if not closed");
    return;
  }
  FSocksServer = fw::Trim(Value);
  FSocksActive = !FSocksServer.empty();
}

void TCustomSocksNetSocket::Listen() {
  if (FSocksActive) {
    RaiseError("Listening is not supported thru socks server");
    return;
  }
  TCustomNetSocket::Listen();
}

int32_t TCustomSocksNetSocket::GetRcvdCount() {
  if (FRcvdCnt > 0) return FRcvdCnt;
  return TCustomNetSocket::GetRcvdCount();
}

int32_t TCustomSocksNetSocket::RecvRaw(void* Buffer, int32_t Size, int Flags) {
  if (FRcvdCnt > 0) {
    int32_t n = std::min(std::max(Size, 0), FRcvdCnt);
    std::memcpy(Buffer, FSocksReply + FRcvdPos, static_cast<size_t>(n));
    FRcvdPos += n;
    FRcvdCnt -= n;
    FServedFromBuffer = true;
    FRecvTotal += static_cast<uint64_t>(n);
    return n;
  }
  return TCustomNetSocket::RecvRaw(Buffer, Size, Flags);
}

void TCustomSocksNetSocket::Connect() {
  if (!FSocksActive) {
    TCustomNetSocket::Connect();
    return;
  }
  if (fw::LowerCase(FProtoStr) != "tcp") {
    RaiseError("tcp is the only protocol supported thru socks server");
    return;
  }
  LoadSocketLibrary();
  try {
    if (!FPortResolved) {
      FSin.sin_port = WS(htons)(NetSocketResolvePort(FSocksPort, FProtoStr));
      FPortResolved = true;
    }
    if (!FAddrResolved) {
      FSin.sin_addr.s_addr = NetSocketResolveHost(FSocksServer);
      FAddrResolved = true;
    }
    FSocksDestPort = WS(htons)(NetSocketResolvePort(FPortStr, FProtoStr));
    FSocksState = SocksStateMethod;
    FSocksCount = 0;
    FRcvdCnt = 0;
  } catch (fw::Exception& E) {
    RaiseError("connect: " + E.Message());
    return;
  }
  TCustomNetSocket::Connect();
}

void TCustomSocksNetSocket::DoSocksConnected(uint16_t Error) {
  if (OnSocksConnected) OnSocksConnected(this, Error);
}

void TCustomSocksNetSocket::DoSocksError(int32_t Error, const std::string& Msg) {
  if (OnSocksError) OnSocksError(this, Error, Msg);
}

void TCustomSocksNetSocket::DoSocksAuthState(TSocksAuthState AuthState) {
  if (OnSocksAuthState) OnSocksAuthState(this, AuthState);
}

void TCustomSocksNetSocket::DoSessionConnected(uint16_t Error) {
  if (FSocksState != SocksStateMethod) {
    TCustomNetSocket::DoSessionConnected(Error);
    return;
  }
  DoSocksConnected(Error);
  if (Error != 0) {
    TCustomNetSocket::DoSessionConnected(Error);
    return;
  }
  if (FSocksLevel[0] == '4') {
    SendSocksConnectRequest();
    return;
  }
  FSocksAuthMethod = FSocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
  uint8_t req[3] = {5, 1, FSocksAuthMethod};
  try {
    Send(req, 3);
  } catch (...) {
  }
}

void TCustomSocksNetSocket::DoSessionClosed(uint16_t Error) {
  if (FSocksState == SocksStateAuth) DoSocksAuthState(socksAuthRejected);
  TCustomNetSocket::DoSessionClosed(Error);
}

void TCustomSocksNetSocket::SocksFailure(int32_t Error, const std::string& Msg) {
  DoSocksError(Error, Msg);
  FSocksState = SocksStateNone;
  DoSessionConnected(static_cast<uint16_t>(Error));
  InternalClose(true, static_cast<uint16_t>(Error));
}

void TCustomSocksNetSocket::SendSocksConnectRequest() {
  FSocksState = SocksStateConnect;
  uint8_t area[SocksAreaSize];
  int len;
  if (FSocksLevel[0] == '4') {
    bool level4A = FSocksLevel == "4A";
    uint32_t addr = 0;
    if (!level4A) {
      try {
        addr = NetSocketResolveHost(FAddrStr);
      } catch (fw::Exception& E) {
        DoSocksError(20017, std::string(E.ClassName()) + " " + E.Message());
        InternalClose(true, 20017);
        return;
      }
    }
    len = SocksBuildConnect4(area, FSocksDestPort, addr, FSocksUsercode, level4A, FAddrStr);
  } else {
    len = SocksBuildConnect5(area, FAddrStr, FSocksDestPort);
  }
  if (len < 0) {
    SocksFailure(SocksErrRequestTooLong, SocksMsgRequestTooLong);
    return;
  }
  try {
    Send(area, len);
  } catch (...) {
  }
}

void TCustomSocksNetSocket::SendSocksAuthRequest() {
  FSocksState = SocksStateAuth;
  DoSocksAuthState(socksAuthBegin);
  uint8_t area[SocksAreaSize];
  int len = SocksBuildAuth(area, FSocksUsercode, FSocksPassword);
  if (len < 0) {
    SocksFailure(SocksErrRequestTooLong, SocksMsgRequestTooLong);
    return;
  }
  try {
    Send(area, len);
  } catch (...) {
  }
}

bool TCustomSocksNetSocket::DoDataAvailable(uint16_t Error) {
  if (FSocksState == SocksStateNone) return TCustomNetSocket::DoDataAvailable(Error);
  if (Error != 0) {
    SocksFailure(Error, "data receive error");
    return false;
  }
  if (FSocksState != SocksStateMethod && FSocksState != SocksStateAuth &&
      FSocksState != SocksStateConnect) {
    SocksFailure(20013, "internal error");
    return false;
  }
  const bool level5 = FSocksLevel == "5";
  const uint8_t state = FSocksState;
  int want = SocksReplyWant(state, level5, FSocksCount);
  int32_t n = want > 0 ? Receive(FSocksReply + FSocksCount, want) : 0;
  if (n > 0) {
    FSocksCount += n;
  } else if (level5 || state != SocksStateMethod) {
    return true;  // nothing new: wait for the next read event
  }
  TSocksReply r = SocksParseReply(state, level5, FSocksAuthentication == socksAuthenticateUsercode,
                                  FSocksReply, FSocksCount);
  switch (r.Step) {
    case TSocksStep::NeedMore:
      break;
    case TSocksStep::Failed:
      SocksFailure(r.Error, r.Msg);
      break;
    case TSocksStep::SendAuth:
      SendSocksAuthRequest();
      break;
    case TSocksStep::SendConnect:
      if (r.AuthSkipped) DoSocksAuthState(socksAuthSkipped);
      if (r.AuthAccepted) DoSocksAuthState(socksAuthAccepted);
      SendSocksConnectRequest();
      break;
    case TSocksStep::Connected:
      if (level5) {
        FBoundAddr = r.BoundAddr;
        FBoundPort = r.BoundPort;
      }
      FSocksState = SocksStateNone;
      FSocksCount = 0;
      // The leftover is in place before the owner hears of the connection, so
      // that a close inside OnSessionConnected also drops it.
      if (level5) {
        FRcvdPos = r.LeftoverPos;
        FRcvdCnt = r.LeftoverCount;
      }
      TCustomNetSocket::DoSessionConnected(0);
      if (FHSocket != plat::INVALID_SOCKET) DoDataAvailable(0);
      break;
  }
  return true;
}

// ===========================================================================
// Line mode.

TCustomLineNetSocket::TCustomLineNetSocket(fw::TComponent* AOwner) : TCustomSocksNetSocket(AOwner) {
  LineEnd = "\r\n";
  FLineMode = false;
  FLineLimit = 65536;
}

TCustomLineNetSocket::~TCustomLineNetSocket() {
  Destroying();
  FRcv.Clear();
}

void TCustomLineNetSocket::SetLineMode(bool Value) {
  if (Value == FLineMode) return;
  FLineMode = Value;
  if (FRcv.Held() > 0 || FRcv.Pending() > 0) {
    plat::PostMessage(FWindowHandle, SocketMsgLineRerun, 0, 0);
  }
}

void TCustomLineNetSocket::DoLineLimitExceeded(int32_t RcvdLength, bool& ClearData) {
  if (OnLineLimitExceeded) OnLineLimitExceeded(this, RcvdLength, ClearData);
}

void TCustomLineNetSocket::WndProc(fw::TMessage& MsgRec) {
  if (MsgRec.Msg != SocketMsgLineRerun) {
    TCustomSocksNetSocket::WndProc(MsgRec);
    return;
  }
  try {
    // Each round must consume held bytes or read new ones; a round that does
    // neither ends the rerun (it would repeat for ever).
    while (FRcv.Held() > 0 && !FRcv.Busy()) {
      const int heldBefore = FRcv.Held();
      const uint64_t readBefore = FRecvTotal;
      if (FLineMode && !LineEnd.empty() && !SocksRunning()) {
        ReadAndCut(true);
      } else {
        DoDataAvailable(0);
      }
      if (FRcv.Held() == heldBefore && FRecvTotal == readBefore) break;
    }
  } catch (fw::Exception& E) {
    HandleBgException(E);
  }
}

int32_t TCustomLineNetSocket::GetRcvdCount() {
  if (FLineMode) return FRcv.Pending();
  return TCustomSocksNetSocket::GetRcvdCount();
}

int32_t TCustomLineNetSocket::RecvRaw(void* Buffer, int32_t Size, int Flags) {
  int32_t n = FRcv.Take(static_cast<char*>(Buffer), Size, FLineMode);
  if (n >= 0) {
    FServedFromBuffer = true;
    FRecvTotal += static_cast<uint64_t>(n);
    return n;
  }
  return TCustomSocksNetSocket::RecvRaw(Buffer, Size, Flags);
}

bool TCustomLineNetSocket::DoDataAvailable(uint16_t Error) {
  if (!FLineMode || LineEnd.empty() || SocksRunning()) {
    return TCustomSocksNetSocket::DoDataAvailable(Error);
  }
  // A delivery already runs further up (a handler pumped messages): it goes
  // on reading once the handler returns.
  if (FRcv.Busy()) return true;
  ReadAndCut(false);
  return true;
}

bool TCustomLineNetSocket::ReadAndCut(bool Rescan) {
  int32_t count = TCustomSocksNetSocket::GetRcvdCount();
  if (count < 0) return false;
  if (count == 0) count = 255;
  char* at = FRcv.PrepareAppend(count);
  int32_t n = Receive(at, count);
  if (n <= 0) {
    if (!Rescan) return false;
    n = 0;
  }
  FRcv.Process(*this, n, LineEnd, FLineLimit, FLineEdit, FLineEcho, Rescan);
  return true;
}

bool TCustomLineNetSocket::DeliverLine() { return TCustomSocksNetSocket::DoDataAvailable(0); }

void TCustomLineNetSocket::EchoBytes(const char* Data, int Len) { Send(Data, Len); }

void TCustomLineNetSocket::EchoText(const std::string& Text) { SendStr(Text); }

void TCustomLineNetSocket::LineLimitExceeded(int RcvdLength, bool& ClearData) {
  DoLineLimitExceeded(RcvdLength, ClearData);
}

void TCustomLineNetSocket::DoSessionClosed(uint16_t Error) {
  try {
    FRcv.DeliverRest(*this);
  } catch (const std::exception&) {
    // A failing handler must not keep the close from being reported.
  }
  TCustomSocksNetSocket::DoSessionClosed(Error);
}

// ===========================================================================
// Blocking wait.

int32_t TCustomSyncNetSocket::WaitUntilDone(bool& DoneFlag) {
  FTimeStop = plat::GetTickCount() + FTimeout;
  while (!DoneFlag) {
    if (fw::Application->Terminated() || FTerminated) return 12001;
    MessagePump();
    plat::Sleep(0);
  }
  return 0;
}

int32_t TCustomSyncNetSocket::RunAndWait(const std::function<void()>& Proc, bool& DoneFlag) {
  DoneFlag = false;
  if (Proc) Proc();
  return WaitUntilDone(DoneFlag);
}

}  // namespace vexa
