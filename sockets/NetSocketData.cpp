// The data path: the send queue and the receive side.
#include <algorithm>
#include <cstring>

#include "framework/Forms.h"
#include "framework/ScopeGuard.h"
#include "sockets/NetSocketInternal.h"

namespace vexa {

using namespace netsocket;

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
  auto sent = fw::Finally([this] { FInTryToSend = false; });
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
  auto sent = fw::Finally([this] { FInTryToSend = false; });
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

}  // namespace vexa
