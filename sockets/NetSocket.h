// Asynchronous IPv4 socket component living on the thread's message loop:
// the core (hidden window, state machine, connect, listen, accept, closing,
// resolution, error reporting), the data path with its chunked send queue and
// receive loop, the SOCKS client layer, line mode and the blocking wait.
// The published component is TNetSocket.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/SysUtils.h"
#include "platform/net/Net.h"
#include "sockets/LineBuffer.h"
#include "sockets/SocksProto.h"
#include "sockets/WSockBuf.h"

namespace vexa {

// The only exception class of the socket layer.
VEXA_DECLARE_EXCEPTION(ESocketException, fw::Exception);

enum TSocketState : uint8_t {
  wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed
};
enum TNetSocketOption { wsoNoReceiveLoop, wsoTcpNoDelay };
using TNetSocketOptions = fw::TSet<TNetSocketOption>;
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthBegin, socksAuthAccepted, socksAuthRejected, socksAuthSkipped };

using TSessionConnected = std::function<void(fw::TObject* Sender, uint16_t Error)>;
using TSessionAvailable = std::function<void(fw::TObject* Sender, uint16_t Error)>;
using TSessionClosed = std::function<void(fw::TObject* Sender, uint16_t Error)>;
using TDataAvailable = std::function<void(fw::TObject* Sender, uint16_t Error)>;
using TDataSent = std::function<void(fw::TObject* Sender, uint16_t Error)>;
using TDnsLookupDone = std::function<void(fw::TObject* Sender, uint16_t Error)>;
using TSendData = std::function<void(fw::TObject* Sender, int32_t BytesSent)>;
using TChangeState =
    std::function<void(fw::TObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent =
    std::function<void(fw::TObject* Sender, fw::Exception& E, bool& CanClose)>;
using TSocksErrorEvent =
    std::function<void(fw::TObject* Sender, int32_t Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(fw::TObject* Sender, TSocksAuthState AuthState)>;
using TLineLimitEvent =
    std::function<void(fw::TObject* Sender, int32_t RcvdLength, bool& ClearData)>;

// Private messages of the socket's hidden window.
constexpr plat::UINT SocketMsgSelect = plat::WM_USER + 1;        // 0x401
constexpr plat::UINT SocketMsgHostByName = plat::WM_USER + 2;    // 0x402
constexpr plat::UINT SocketMsgHostByAddr = plat::WM_USER + 3;    // 0x403
constexpr plat::UINT SocketMsgCloseDelayed = plat::WM_USER + 4;  // 0x404
constexpr plat::UINT SocketMsgRelease = plat::WM_USER + 5;       // 0x405
constexpr plat::UINT SocketMsgTestException = plat::WM_USER + 6; // 0x406
constexpr plat::UINT SocketMsgLineRerun = plat::WM_USER + 20;    // 0x414
constexpr plat::UINT SocketMsgClientClosed = plat::WM_USER + 30; // 0x41E

// Resolution routines; they raise ESocketException.
// Network-order IPv4 address of a dotted address or host name.
uint32_t NetSocketResolveHost(const std::string& Host);
// Port number (host order) of digits or a service name.
uint16_t NetSocketResolvePort(const std::string& Port, const std::string& Proto);
int NetSocketResolveProto(const std::string& Proto);
bool IsDottedAddress(const std::string& Text);
std::string SocketErrorText(int Code);
// Unloads the socket library when it is loaded.
void UnloadSocketLibrary();

plat::LRESULT XSocketWindowProc(plat::HWND Wnd, plat::UINT Msg, plat::WPARAM WParam,
                                plat::LPARAM LParam);

class TCustomNetSocket : public fw::TComponent {
  friend plat::LRESULT XSocketWindowProc(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM);

public:
  explicit TCustomNetSocket(fw::TComponent* AOwner);
  ~TCustomNetSocket() override;

  // Operations.
  virtual void Connect();
  virtual void Close();
  virtual void CloseDelayed();
  virtual void Release();
  virtual void Abort();
  virtual void Flush();
  virtual void DrainUntilClosed();
  virtual void Listen();
  virtual plat::SOCKET Accept();
  virtual void Dup(plat::SOCKET NewHSocket);
  virtual void Shutdown(int How);
  virtual void Pause();
  virtual void Resume();
  virtual void MessagePump();
  // Posts the socket its test message: the message loop then raises
  // ESocketException "Test exception in NetSocket" as a background exception.
  // The message alone, posted by anyone else, does nothing.
  void PostTestException();

  virtual int32_t Send(const void* Data, int32_t Len);
  virtual int32_t SendStr(const std::string& Str);
  virtual int32_t SendTo(const plat::sockaddr_in& Dest, int32_t DestLen, const void* Data,
                         int32_t Len);
  virtual int32_t Receive(void* Buffer, int32_t Size);
  virtual std::string ReceiveStr();
  virtual int32_t ReceiveFrom(void* Buffer, int32_t Size, plat::sockaddr_in& From,
                              int32_t& FromLen);

  virtual void DnsLookup(const std::string& HostName);
  virtual void ReverseDnsLookup(const std::string& HostAddr);
  virtual void CancelDnsLookup();

  virtual std::string GetPeerAddr();
  virtual std::string GetPeerPort();
  virtual int32_t GetPeerName(plat::sockaddr_in& Name, int32_t NameLen);
  virtual std::string GetBoundPort();
  virtual std::string GetBoundAddr();
  virtual int32_t GetSockName(plat::sockaddr_in& Name, int32_t& NameLen);

  virtual bool TimevalIsSet(const plat::timeval& T);
  virtual void TimevalClear(plat::timeval& T);
  virtual bool TimevalCompare(const plat::timeval& A, const plat::timeval& B, bool WantEqual);

  // Properties.
  const std::string& Addr() const { return FAddrStr; }
  void SetAddr(const std::string& Value);
  const std::string& Port() const { return FPortStr; }
  virtual void SetPort(const std::string& Value);
  const std::string& Proto() const { return FProtoStr; }
  virtual void SetProto(const std::string& Value);
  const std::string& LocalAddr() const { return FLocalAddr; }
  void SetLocalAddr(const std::string& Value);
  const std::string& LocalPort() const { return FLocalPortStr; }
  void SetLocalPort(const std::string& Value);
  std::string PeerAddr() { return GetPeerAddr(); }
  std::string PeerPort() { return GetPeerPort(); }
  const std::string& DnsResult() const { return FDnsResult; }
  fw::TStrings* DnsResultList() const { return FDnsResultList.get(); }
  TSocketState State() const { return FState; }
  int32_t ReadCount() const { return FReadCount; }
  int32_t RcvdCount() { return GetRcvdCount(); }
  int32_t LastError() const { return FLastError; }
  bool MultiThreaded() const { return FMultiThreaded; }
  void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
  bool MultiCast() const { return FMultiCast; }
  void SetMultiCast(bool Value) { FMultiCast = Value; }
  const std::string& MultiCastAddrStr() const { return FMultiCastAddrStr; }
  void SetMultiCastAddrStr(const std::string& Value) { FMultiCastAddrStr = Value; }
  int32_t MultiCastIpTTL() const { return FMultiCastIpTTL; }
  void SetMultiCastIpTTL(int32_t Value) { FMultiCastIpTTL = Value; }
  bool ReuseAddr() const { return FReuseAddr; }
  void SetReuseAddr(bool Value) { FReuseAddr = Value; }
  TNetSocketOptions ComponentOptions() const { return FComponentOptions; }
  void SetComponentOptions(TNetSocketOptions Value) { FComponentOptions = Value; }
  TSocketSendFlags SendFlags() const { return FSendFlagsValue; }
  void SetSendFlags(TSocketSendFlags Value);
  TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
  void SetLingerOnOff(TSocketLingerOnOff Value) { FLingerOnOff = Value; }
  int32_t LingerTimeout() const { return FLingerTimeout; }
  void SetLingerTimeout(int32_t Value) { FLingerTimeout = Value; }
  int32_t FlushTimeout() const { return FFlushTimeout; }
  void SetFlushTimeout(int32_t Value) { FFlushTimeout = Value; }
  plat::SOCKET HSocket() const { return FHSocket; }
  // Bytes the send queue holds, counted in whole chunks.
  int64_t QueuedSize() const { return static_cast<int64_t>(FBufList.size()) * FBufSize; }
  plat::HWND Handle() const { return FWindowHandle; }
  bool Terminated() const { return FTerminated; }

  // Events.
  TSessionConnected OnSessionConnected;
  TSessionAvailable OnSessionAvailable;
  TSessionClosed OnSessionClosed;
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSendData OnSendData;
  TChangeState OnChangeState;
  TDnsLookupDone OnDnsLookupDone;
  fw::TNotifyEvent OnError;
  TBgExceptionEvent OnBgException;
  fw::TNotifyEvent OnLineTooLong;  // published, never fired

protected:
  // Virtual operations of the core, in slot order.
  virtual void WndProc(fw::TMessage& MsgRec);
  virtual void CreateSocketWindow();
  virtual void DestroySocketWindow();
  virtual void SetDefaults();
  virtual void InternalClose(bool bShut, uint16_t Error);
  virtual int32_t GetRcvdCount();
  virtual void BindSocket();
  virtual int32_t RawSend(const void* Data, int32_t Len);
  virtual void RaiseErrorFmt(const char* Fmt, const std::string& Arg, int Code);
  virtual void RaiseErrorFmt(const char* Fmt, int Code);
  virtual void RaiseError(const std::string& Msg);
  virtual void HandleBgException(fw::Exception& E);
  virtual bool DoDataAvailable(uint16_t Error);
  virtual void DoSessionAvailable(uint16_t Error);
  virtual void DoSessionConnected(uint16_t Error);
  virtual void DoSessionClosed(uint16_t Error);
  virtual void DoDataSent(uint16_t Error);
  virtual void DoChangeState(TSocketState OldState, TSocketState NewState);
  virtual void DoDnsLookupDone(uint16_t Error);
  virtual void DoError();
  virtual int32_t RecvRaw(void* Buffer, int32_t Size, int Flags);
  virtual int32_t RecvFromRaw(void* Buffer, int32_t Size, plat::sockaddr_in& From,
                              int32_t& FromLen);
  void DoSendData(int32_t BytesSent);

  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;

  // Internals shared by the layers.
  void ChangeState(TSocketState NewState);
  void ReportSocketError(const std::string& FunctionName);
  void ApplyLinger();
  void QueueSendData(const void* Data, int32_t Len);
  void TryToSend();
  void ClearSendBuffer();
  std::unique_ptr<TBuffer> NewChunk();
  bool QueueIdle() const;
  void SendOrQueue(const char* Data, int32_t Len);
  void DropFirstChunk();
  void ReceiveLoop(uint16_t Error, TNetSocketOptions Options);
  bool Destroying_() const { return ComponentState().Contains(fw::csDestroying); }
  bool AllSent() const { return FAllSent; }
  // accept on the listening handle without any report: the new handle, or
  // INVALID_SOCKET with the library's error code in Error.
  plat::SOCKET TryAccept(int& Error);

  // State of the socket.
  plat::HWND FWindowHandle = 0;
  int32_t FWindowId = 0;
  plat::SOCKET FHSocket = plat::INVALID_SOCKET;
  TSocketState FState = wsClosed;
  std::string FAddrStr;
  bool FAddrAssigned = false;
  bool FAddrResolved = false;
  std::string FPortStr;
  bool FPortAssigned = false;
  bool FPortResolved = false;
  std::string FProtoStr;
  bool FProtoAssigned = false;
  bool FProtoResolved = false;
  plat::sockaddr_in FSin;
  int FProto = 6;
  int FType = plat::SOCK_STREAM;
  std::string FLocalPortStr = "0";
  uint16_t FLocalPortNum = 0;
  bool FLocalPortResolved = false;
  std::string FLocalAddr = "0.0.0.0";
  int32_t FSelectEvent = 0;
  bool FPaused = false;
  bool FCloseInvoked = false;
  bool FTerminated = false;
  int32_t FReadCount = 0;
  int32_t FLastError = 0;
  uint64_t FRecvTotal = 0;  // bytes ever handed out by RecvRaw, of every layer (progress checks)
  // Set by a layer whose RecvRaw handed out bytes it had already received:
  // ReadCount counts every received byte once.
  bool FServedFromBuffer = false;

private:
  // Addr, Port and Proto: stores the trimmed text (refused unless closed) and
  // marks it assigned when not empty and not yet resolved.
  void SetEndpointText(const std::string& Value, const char* Name, std::string& Text,
                       bool& Assigned, bool& Resolved);
  // The step Connect and Listen share: resolves the endpoint and creates the
  // handle. False when it failed, which is then reported ("<Caller>: ..." for
  // a resolution failure, SocketCall for the socket call).
  bool OpenEndpoint(bool WithLocalPort, const char* Caller, const char* SocketCall);
  void HandleSelect(fw::TMessage& MsgRec);
  // The events of a select message the library may have posted for the
  // socket in its present state; the rest come from elsewhere.
  int32_t PlausibleEvents(int32_t Events);
  void HandleDnsCompletion(fw::TMessage& MsgRec, bool ByAddr);
  // The peer of a connected socket; false when there is none (a failing call
  // is reported naming Caller).
  bool PeerAddress(plat::sockaddr_in& A, const char* Caller);
  // A lookup asked with a name it cannot use (Valid false) fails with Complaint
  // and WSAEINVAL; else the one running is cancelled and the results cleared.
  bool BeginDnsLookup(bool Valid, const char* Complaint);
  // Starts the lookup of Name that Request asks for; a completion that comes
  // before Request has answered its handle is handled once it has.
  void StartDnsRequest(const std::string& Name, const std::function<plat::HANDLE()>& Request);

  // Private messages this socket posted itself and not yet handled: only
  // those act, since any program may post the socket's window their ids.
  int32_t FCloseDelayedPending = 0;
  bool FReleasePending = false;
  int32_t FTestExceptionPending = 0;

  std::deque<std::unique_ptr<TBuffer>> FBufList;
  std::vector<std::unique_ptr<TBuffer>> FSpareBufs;  // sent chunks kept for reuse
  int32_t FBufSize = 1460;
  bool FAllSent = true;
  bool FInTryToSend = false;

  plat::HANDLE FDnsLookupHandle = 0;
  alignas(16) char FDnsLookupBuffer[plat::MAXGETHOSTSTRUCT + 1] = {};
  bool FDnsRequesting = false;
  bool FDnsEarly = false;
  fw::TMessage FDnsEarlyMsg;
  std::string FDnsResult;
  std::unique_ptr<fw::TStringList> FDnsResultList;

  bool FMultiThreaded = false;
  bool FMultiCast = false;
  std::string FMultiCastAddrStr;
  int32_t FMultiCastIpTTL = 1;
  bool FReuseAddr = false;
  TNetSocketOptions FComponentOptions;
  TSocketSendFlags FSendFlagsValue = wsSendNormal;
  int FSendFlags = 0;
  TSocketLingerOnOff FLingerOnOff = wsLingerOn;
  int32_t FLingerTimeout = 0;
  int32_t FFlushTimeout = 60;
};

// The SOCKS client layer: with SocksServer set, Connect negotiates a TCP
// connection to Addr:Port through that server before OnSessionConnected.
class TCustomSocksNetSocket : public TCustomNetSocket {
public:
  explicit TCustomSocksNetSocket(fw::TComponent* AOwner);

  void Connect() override;
  void Listen() override;

  const std::string& SocksLevel() const { return FSocksLevel; }
  void SetSocksLevel(const std::string& Value);
  const std::string& SocksServer() const { return FSocksServer; }
  virtual void SetSocksServer(const std::string& Value);
  const std::string& SocksPort() const { return FSocksPort; }
  virtual void SetSocksPort(const std::string& Value);
  const std::string& SocksUsercode() const { return FSocksUsercode; }
  void SetSocksUsercode(const std::string& Value) { FSocksUsercode = Value; }
  const std::string& SocksPassword() const { return FSocksPassword; }
  void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
  TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
  void SetSocksAuthentication(TSocksAuthentication Value) { FSocksAuthentication = Value; }
  // Bound address and port of the last level-5 reply.
  const std::string& BoundAddr() const { return FBoundAddr; }
  const std::string& BoundPort() const { return FBoundPort; }

  TSessionConnected OnSocksConnected;
  TSocksErrorEvent OnSocksError;
  TSocksAuthStateEvent OnSocksAuthState;

protected:
  virtual void DoSocksConnected(uint16_t Error);
  virtual void DoSocksError(int32_t Error, const std::string& Msg);
  void DoSocksAuthState(TSocksAuthState AuthState);

  void SetDefaults() override;
  int32_t GetRcvdCount() override;
  bool DoDataAvailable(uint16_t Error) override;
  void DoSessionConnected(uint16_t Error) override;
  void DoSessionClosed(uint16_t Error) override;
  int32_t RecvRaw(void* Buffer, int32_t Size, int Flags) override;

  bool SocksRunning() const { return FSocksState != SocksStateNone; }

private:
  void SocksFailure(int32_t Error, const std::string& Msg);
  void SendSocksConnectRequest();
  void SendSocksAuthRequest();
  // Sends a request built in Area (Len < 0: it did not fit, and the
  // negotiation fails).
  void SendSocksRequest(const uint8_t* Area, int Len);

  uint8_t FSocksState = SocksStateNone;
  uint8_t FSocksReply[SocksAreaSize] = {};
  int FSocksCount = 0;
  int FRcvdPos = 0;
  int FRcvdCnt = 0;
  uint8_t FSocksAuthMethod = 0;
  uint16_t FSocksDestPort = 0;  // network order
  std::string FBoundAddr;
  std::string FBoundPort;
  bool FSocksActive = false;
  std::string FSocksLevel = "5";
  std::string FSocksServer;
  std::string FSocksPort;
  std::string FSocksUsercode;
  std::string FSocksPassword;
  TSocksAuthentication FSocksAuthentication = socksNoAuthentication;
};

// Line mode: received bytes are cut at LineEnd and offered one line per
// OnDataAvailable; ReceiveStr then returns exactly that line.
class TCustomLineNetSocket : public TCustomSocksNetSocket, private TLineHost {
public:
  explicit TCustomLineNetSocket(fw::TComponent* AOwner);
  ~TCustomLineNetSocket() override;

  bool LineMode() const { return FLineMode; }
  virtual void SetLineMode(bool Value);
  std::string LineEnd = "\r\n";
  int32_t LineLimit() const { return FLineLimit; }
  void SetLineLimit(int32_t Value) { FLineLimit = Value; }
  bool LineEcho() const { return FLineEcho; }
  void SetLineEcho(bool Value) { FLineEcho = Value; }
  bool LineEdit() const { return FLineEdit; }
  void SetLineEdit(bool Value) { FLineEdit = Value; }
  // The most lines one socket event delivers (0: no limit). The rest follow
  // from posted messages, each behind what the message loop holds already, so
  // one talkative peer cannot keep the loop from other work; meanwhile the
  // socket is not read, and one read takes no more than a batch of lines of
  // LineLimit can fill. A close by the peer is reported after its last line.
  int32_t LineBatch() const { return FLineBatch; }
  void SetLineBatch(int32_t Value) { FLineBatch = Value; }
  // While more than this many bytes wait to be sent (QueuedSize), no further
  // line is delivered; delivery goes on once everything queued has left, so
  // a peer that does not read what its lines make cannot pile it up here
  // (0: never waits).
  int64_t LineBacklog() const { return FLineBacklog; }
  void SetLineBacklog(int64_t Value) { FLineBacklog = Value; }

  TLineLimitEvent OnLineLimitExceeded;

protected:
  virtual void DoLineLimitExceeded(int32_t RcvdLength, bool& ClearData);

  void WndProc(fw::TMessage& MsgRec) override;
  int32_t GetRcvdCount() override;
  int32_t RecvRaw(void* Buffer, int32_t Size, int Flags) override;
  bool DoDataAvailable(uint16_t Error) override;
  void DoSessionClosed(uint16_t Error) override;
  void DoDataSent(uint16_t Error) override;

private:
  bool ReadAndCut(bool Rescan);
  bool Batching() const { return FLineBatch > 0 || FLineBacklog > 0; }
  bool BatchingNow() const {
    return Batching() && FLineMode && !LineEnd.empty() && !SocksRunning();
  }
  // One batch from the message loop: the held lines, then a read.
  void ContinueLines();
  // After a batch: held lines go on from a posted message (or once the send
  // queue has drained); a held close goes through once a read brings nothing.
  void AfterBatch(bool ReadNothing);
  // The peer's close while lines may still wait: kept until they are delivered.
  bool HoldClose(const fw::TMessage& MsgRec);
  void ReleaseClose();
  void PostRerun();
  // TLineHost
  bool LineModeOn() override { return FLineMode; }
  bool MayDeliverLine() override;
  bool DeliverLine() override;
  void EchoBytes(const char* Data, int Len) override;
  void EchoText(const std::string& Text) override;
  void LineLimitExceeded(int RcvdLength, bool& ClearData) override;

  TLineBuffer FRcv;
  bool FLineMode = false;
  int32_t FLineLimit = 65536;
  bool FLineEcho = false;
  bool FLineEdit = false;
  int32_t FLineBatch = 0;
  int64_t FLineBacklog = 0;
  int32_t FBatchLeft = 0;   // lines the running batch may still deliver
  bool FLinesHeld = false;  // complete lines wait for the next batch
  bool FWaitSend = false;   // ... which starts once the send queue has drained
  bool FRerunPosted = false;
  bool FCloseHeld = false;
  fw::TMessage FHeldClose;
};

// The blocking wait: pumps messages until a flag is set.
class TCustomSyncNetSocket : public TCustomLineNetSocket {
public:
  explicit TCustomSyncNetSocket(fw::TComponent* AOwner) : TCustomLineNetSocket(AOwner) {}

  virtual int32_t RunAndWait(const std::function<void()>& Proc, bool& DoneFlag);
  virtual int32_t WaitUntilDone(bool& DoneFlag);

protected:
  uint32_t FTimeout = 0;  // milliseconds; 0 = no limit
  uint32_t FTimeStop = 0;
};

class TNetSocket : public TCustomSyncNetSocket {
public:
  explicit TNetSocket(fw::TComponent* AOwner) : TCustomSyncNetSocket(AOwner) {}
};

}  // namespace vexa
