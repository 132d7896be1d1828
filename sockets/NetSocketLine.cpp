// Line mode, and the blocking wait of the synchronous socket.
#include "framework/Forms.h"
#include "sockets/NetSocketInternal.h"

namespace vexa {

using namespace netsocket;

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
