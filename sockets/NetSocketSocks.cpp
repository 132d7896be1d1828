// The SOCKS client layer.
#include <cstring>

#include "sockets/NetSocketInternal.h"

namespace vexa {

using namespace netsocket;

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
  SendSocksRequest(area, len);
}

void TCustomSocksNetSocket::SendSocksRequest(const uint8_t* Area, int Len) {
  if (Len < 0) {
    SocksFailure(SocksErrRequestTooLong, SocksMsgRequestTooLong);
    return;
  }
  try {
    Send(Area, Len);
  } catch (...) {
  }
}

void TCustomSocksNetSocket::SendSocksAuthRequest() {
  FSocksState = SocksStateAuth;
  DoSocksAuthState(socksAuthBegin);
  uint8_t area[SocksAreaSize];
  int len = SocksBuildAuth(area, FSocksUsercode, FSocksPassword);
  SendSocksRequest(area, len);
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

}  // namespace vexa
