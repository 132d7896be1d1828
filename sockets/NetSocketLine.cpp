// Line mode, and the blocking wait of the synchronous socket.
#include <algorithm>

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
  if (MsgRec.Msg == SocketMsgSelect && HoldClose(MsgRec)) return;
  if (MsgRec.Msg != SocketMsgLineRerun) {
    TCustomSocksNetSocket::WndProc(MsgRec);
    return;
  }
  FRerunPosted = false;
  try {
    if (BatchingNow()) {
      ContinueLines();
      return;
    }
    FLinesHeld = false;
    FWaitSend = false;
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
    ReleaseClose();
  } catch (fw::Exception& E) {
    HandleBgException(E);
  }
}

void TCustomLineNetSocket::ContinueLines() {
  // A delivery runs further up (its handler pumped messages): it posts the
  // next batch itself when it ends.
  if (FRcv.Busy()) return;
  FBatchLeft = FLineBatch;
  FWaitSend = false;
  bool got = false;
  try {
    FLinesHeld = FRcv.Process(*this, 0, LineEnd, FLineLimit, FLineEdit, FLineEcho, true);
    if (!FLinesHeld && FLineMode && FHSocket != plat::INVALID_SOCKET) got = ReadAndCut(false);
  } catch (const std::exception&) {
    // The batch goes on where the receive loop left off, and fails as it does:
    // a failing data handler is dropped without a report.
  }
  AfterBatch(!got);
}

void TCustomLineNetSocket::AfterBatch(bool ReadNothing) {
  if (FLinesHeld) {
    if (!FWaitSend) PostRerun();
  } else if (FCloseHeld) {
    if (ReadNothing) {
      ReleaseClose();
    } else {
      PostRerun();
    }
  }
}

bool TCustomLineNetSocket::MayDeliverLine() {
  if (FLineBacklog > 0 && QueuedSize() > FLineBacklog) {
    FWaitSend = true;
    return false;
  }
  if (FLineBatch > 0) {
    if (FBatchLeft <= 0) return false;
    FBatchLeft--;
  }
  return true;
}

bool TCustomLineNetSocket::HoldClose(const fw::TMessage& MsgRec) {
  if (FHSocket == plat::INVALID_SOCKET || MsgRec.WParam != FHSocket || FPaused ||
      FState != wsConnected || !(plat::WSAGETSELECTEVENT(MsgRec.LParam) & plat::FD_CLOSE))
    return false;
  if (FCloseHeld) return true;
  if (!BatchingNow()) return false;
  FCloseHeld = true;
  FHeldClose = MsgRec;
  PostRerun();
  return true;
}

void TCustomLineNetSocket::ReleaseClose() {
  if (!FCloseHeld) return;
  FCloseHeld = false;
  fw::TMessage m = FHeldClose;
  TCustomSocksNetSocket::WndProc(m);
}

void TCustomLineNetSocket::PostRerun() {
  if (FRerunPosted || !FWindowHandle) return;
  FRerunPosted = plat::PostMessage(FWindowHandle, SocketMsgLineRerun, 0, 0) != 0;
}

void TCustomLineNetSocket::DoDataSent(uint16_t Error) {
  if (FWaitSend) {
    FWaitSend = false;
    PostRerun();
  }
  TCustomSocksNetSocket::DoDataSent(Error);
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
  if (!Batching()) {
    ReadAndCut(false);
    return true;
  }
  // Held lines go first; the socket is read once they are through.
  if (FLinesHeld) return true;
  FBatchLeft = FLineBatch;
  FWaitSend = false;
  ReadAndCut(false);
  AfterBatch(false);
  return true;
}

bool TCustomLineNetSocket::ReadAndCut(bool Rescan) {
  int32_t count = TCustomSocksNetSocket::GetRcvdCount();
  if (count < 0) return false;
  if (count == 0) count = 255;
  if (FLineBatch > 0) {
    const int64_t line =
        (FLineLimit > 0 ? FLineLimit : 65536) + static_cast<int64_t>(LineEnd.size());
    count =
        static_cast<int32_t>(std::min<int64_t>(count, std::max<int64_t>(255, FLineBatch * line)));
  }
  char* at = FRcv.PrepareAppend(count);
  int32_t n = Receive(at, count);
  if (n <= 0) {
    if (!Rescan) return false;
    n = 0;
  }
  FLinesHeld = FRcv.Process(*this, n, LineEnd, FLineLimit, FLineEdit, FLineEcho, Rescan);
  return true;
}

bool TCustomLineNetSocket::DeliverLine() { return TCustomSocksNetSocket::DoDataAvailable(0); }

void TCustomLineNetSocket::EchoBytes(const char* Data, int Len) { Send(Data, Len); }

void TCustomLineNetSocket::EchoText(const std::string& Text) { SendStr(Text); }

void TCustomLineNetSocket::LineLimitExceeded(int RcvdLength, bool& ClearData) {
  DoLineLimitExceeded(RcvdLength, ClearData);
}

void TCustomLineNetSocket::DoSessionClosed(uint16_t Error) {
  FLinesHeld = false;
  FWaitSend = false;
  FCloseHeld = false;
  try {
    FRcv.DeliverRest(*this, LineEnd);
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
