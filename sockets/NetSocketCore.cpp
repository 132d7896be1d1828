// The socket's states: construction, properties, reports, connecting, listening and closing.
#include "framework/Forms.h"
#include "sockets/NetSocketInternal.h"

namespace vexa {

using namespace netsocket;

// ---------------------------------------------------------------------------
// TCustomNetSocket: construction and the hidden window.

TCustomNetSocket::TCustomNetSocket(fw::TComponent* AOwner) : fw::TComponent(AOwner) {
  CreateSocketWindow();
  FBufSize = 1460;
  FDnsResultList = std::make_unique<fw::TStringList>();
  FMultiCastIpTTL = 1;
  TCustomNetSocket::SetDefaults();
  HoldSocketLibrary();
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
  DropSocketLibrary();
  ClearSendBuffer();
  FDnsResultList.reset();
  DestroySocketWindow();
}


void TCustomNetSocket::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  fw::TComponent::Notification(AComponent, Operation);
}

namespace {

// A deferred-work message this socket did not post: another program's.
void TellUnasked(plat::UINT Msg) {
  fw::TellIgnoredOnce(fw::Format("message 0x%X sent to a socket window that did not post it", Msg));
}

}  // namespace

void TCustomNetSocket::WndProc(fw::TMessage& MsgRec) {
  // A deferred request this socket did not post is told and dropped.
  auto asked = [&](int32_t& Pending) {
    if (Pending == 0) {
      TellUnasked(MsgRec.Msg);
      return false;
    }
    --Pending;
    return true;
  };
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
        if (asked(FCloseDelayedPending)) Close();
        break;
      case SocketMsgRelease:
        if (!FReleasePending) {
          TellUnasked(MsgRec.Msg);
          break;
        }
        delete this;
        return;
      case SocketMsgTestException:
        if (asked(FTestExceptionPending)) throw ESocketException("Test exception in NetSocket");
        break;
      default:
        MsgRec.Result =
            fw::HiddenWindowProc(FWindowHandle, MsgRec.Msg, MsgRec.WParam, MsgRec.LParam);
        break;
    }
  } catch (fw::Exception& E) {
    HandleBgException(E);
  }
}

int32_t TCustomNetSocket::PlausibleEvents(int32_t Events) {
  // The result of a connection attempt and the end of a connection act only
  // once the library has posted them: a look-alike would mark a connecting
  // socket connected, or close a live session.
  const int32_t posted = WS(WSAAsyncSelectPosted)(FHSocket);
  int32_t allowed = 0;
  if (FState == wsListening) {
    allowed = plat::FD_ACCEPT;
  } else if (FState == wsConnected || (FState == wsConnecting && (posted & plat::FD_CONNECT))) {
    allowed = ~plat::FD_ACCEPT;
  }
  if (!(posted & plat::FD_CLOSE)) allowed &= ~plat::FD_CLOSE;
  return Events & allowed;
}

// Socket event dispatch.
void TCustomNetSocket::HandleSelect(fw::TMessage& MsgRec) {
  if (FHSocket == plat::INVALID_SOCKET || MsgRec.WParam != FHSocket || FPaused) return;
  const int32_t sent = plat::WSAGETSELECTEVENT(MsgRec.LParam);
  const int32_t ev = PlausibleEvents(sent);
  if (ev != sent) fw::TellIgnoredOnce("socket events the socket library did not post");
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

void TCustomNetSocket::RaiseErrorFmt(const char* Fmt, int Code) {
  RaiseError(fw::Format(Fmt, Code));
}

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
// the socket type), port, local port when asked, address; then drops what an
// earlier session left queued and creates the handle.
bool TCustomNetSocket::OpenEndpoint(bool WithLocalPort, const char* Caller,
                                    const char* SocketCall) {
  try {
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
  } catch (fw::Exception& E) {
    RaiseError(std::string(Caller) + ": " + E.Message());
    return false;
  }
  ClearSendBuffer();
  FHSocket = WS(socket)(plat::AF_INET, FType, FProto);
  if (FHSocket == plat::INVALID_SOCKET) {
    ReportSocketError(SocketCall);
    return false;
  }
  return true;
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
  if (!OpenEndpoint(true, "connect", "Connect (socket)")) return;
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
  FSelectEvent =
      plat::FD_READ | plat::FD_WRITE | plat::FD_ACCEPT | plat::FD_CONNECT | plat::FD_CLOSE;
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
  if (!OpenEndpoint(false, "listen", "socket")) return;
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
                           reinterpret_cast<const char*>(&mreq),
                           sizeof mreq) == plat::SOCKET_ERROR) {
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
  if (plat::PostMessage(FWindowHandle, SocketMsgCloseDelayed, 0, 0)) ++FCloseDelayedPending;
}

void TCustomNetSocket::Release() {
  if (plat::PostMessage(FWindowHandle, SocketMsgRelease, 0, 0)) FReleasePending = true;
}

void TCustomNetSocket::PostTestException() {
  if (plat::PostMessage(FWindowHandle, SocketMsgTestException, 0, 0)) ++FTestExceptionPending;
}

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

}  // namespace vexa
