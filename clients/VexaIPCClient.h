// The client end of the local message channel: finds the server of an instance,
// connects and disconnects with the control codes, sends and posts user and
// custom messages, and receives what the server posts to it on a hidden window
// of its own.
//
// Threads: the hidden window belongs to the thread that creates the client, and
// messages posted to it (server-up and server-down broadcasts, the server's
// posts) are only seen while that thread retrieves messages: in its own message
// loop, or inside FindServer, WaitForServer, WaitFor and ProcessMessages, which
// pump the thread's queue while they wait. A thread with no message loop of its
// own (a database engine thread, say) can therefore use a client freely: the
// sends below work on any thread and answer while the server handles them. The
// destructor must run on the creating thread.
//
// Typical use:
//   vexa::TVexaIPCClient c("NotifyServerIPC");
//   if (c.FindServer(2000) && c.Connect()) {
//     plat::LRESULT id = 0;
//     c.SendCustom("DBTrans", 0, 7 | ('B' << 8), &id);
//   }
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "platform/msg/Msg.h"
#include "shared/VexaIPCNames.h"

namespace vexa {

class TVexaIPCClient {
public:
  // Registers the channel's messages for the instance (name trimmed of blanks)
  // and creates the hidden top-level window. Ready() tells whether both worked.
  explicit TVexaIPCClient(const std::string& InstanceName);
  // Disconnects when connected, then destroys the window.
  ~TVexaIPCClient();
  TVexaIPCClient(const TVexaIPCClient&) = delete;
  TVexaIPCClient& operator=(const TVexaIPCClient&) = delete;

  bool Ready() const { return FHandle != 0 && FCtrlID != 0; }
  const std::string& InstanceName() const { return FInstanceName; }
  plat::HWND Handle() const { return FHandle; }  // the client's own hidden window
  plat::HWND ServerHandle() const { return FServerHandle; }  // 0 while no server is known
  bool Connected() const { return FConnected; }

  plat::UINT CtrlID() const { return FCtrlID; }
  plat::UINT UserID() const { return FUserID; }
  plat::UINT UserAnonID() const { return FUserAnonID; }
  plat::UINT UserDataID() const { return FUserDataID; }
  // Id of the custom message Name (trimmed) of this instance, registered on
  // first use; 0 when it cannot be registered.
  plat::UINT CustomMessageID(const std::string& Name);

  // --- Finding the server -------------------------------------------------
  // Broadcasts the query (code 1); a running server answers with a server-up
  // broadcast. False when the broadcast could not be posted.
  bool QueryServer();
  // Broadcasts that this client waits for a server (code 2): a running server
  // answers with server-up and sets the client's waiting event.
  bool AnnounceWaiting();
  // QueryServer, then pumps the thread's messages until a server-up arrives or
  // the time runs out. True when a server is known (also when one was known before).
  bool FindServer(plat::DWORD TimeoutMs);
  // AnnounceWaiting, then waits like FindServer: a server that starts within the
  // time is found by its own start-up broadcast.
  bool WaitForServer(plat::DWORD TimeoutMs);
  // Asks the known server for its window (code 7) and keeps the answer; 0 when
  // no server is known or it does not answer.
  plat::HWND GetServerHandle(plat::DWORD TimeoutMs = 5000);

  // --- Joining ------------------------------------------------------------
  // Sends code 3. True when the server accepted; it may refuse (false, result 0).
  bool Connect(plat::DWORD TimeoutMs = 5000);
  // Sends code 4 and forgets the connection. True when the server answered.
  bool Disconnect(plat::DWORD TimeoutMs = 5000);
  // Off by default. When on, a client that joined a server (and did not leave
  // it with Disconnect) joins again when a server of the instance comes up
  // after its own went away (a restarted gateway), and fires OnRejoined: the
  // server knows nothing of the client's earlier requests, so the owner sends
  // them again there. While its own server lives, the server-up of another
  // window (a second program that could not serve the instance) is ignored.
  void SetAutoRejoin(bool Value) { FAutoRejoin = Value; }
  bool AutoRejoin() const { return FAutoRejoin; }

  // --- Talking to the server ----------------------------------------------
  // Every Send* waits for the server's result (stored in *Result when given) and
  // returns false when no server is known, the id is missing, the server is gone
  // or the time ran out. Post* return whether the message could be posted.
  // Custom messages carry WParam and LParam as given.
  bool SendCustom(const std::string& Name, plat::WPARAM WParam, plat::LPARAM LParam,
                  plat::LRESULT* Result = nullptr, plat::DWORD TimeoutMs = plat::INFINITE);
  bool PostCustom(const std::string& Name, plat::WPARAM WParam, plat::LPARAM LParam);
  // User and user data messages carry this client's window as WParam.
  bool SendUser(plat::LPARAM LParam, plat::LRESULT* Result = nullptr,
                plat::DWORD TimeoutMs = plat::INFINITE);
  bool PostUser(plat::LPARAM LParam);
  bool SendUserData(plat::LPARAM LParam, plat::LRESULT* Result = nullptr,
                    plat::DWORD TimeoutMs = plat::INFINITE);
  bool PostUserData(plat::LPARAM LParam);
  // Anonymous user messages carry any WParam.
  bool SendUserAnon(plat::WPARAM WParam, plat::LPARAM LParam, plat::LRESULT* Result = nullptr,
                    plat::DWORD TimeoutMs = plat::INFINITE);
  bool PostUserAnon(plat::WPARAM WParam, plat::LPARAM LParam);
  // Any message id, for ids learnt elsewhere.
  bool SendToServer(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam,
                    plat::LRESULT* Result = nullptr, plat::DWORD TimeoutMs = plat::INFINITE);
  bool PostToServer(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam);

  // --- Gateway channels ---------------------------------------------------
  // Asks the gateway for the notifications of a table ("Subscription" 'S')
  // and remembers the table; Result gets the gateway's answer (1 when
  // handled). False when it could not be sent.
  bool Subscribe(int TableID, plat::LRESULT* Result = nullptr, plat::DWORD TimeoutMs = 5000);
  // Lets the table go ("Subscription" 'U') and forgets it.
  bool Unsubscribe(int TableID, plat::DWORD TimeoutMs = 2000);
  // Subscribes every remembered table again, in order, and lists them with
  // the gateway's answers: "table 5 (1), table 12 (1)".
  std::string SubscribeAgain(plat::DWORD TimeoutMs = 5000);
  // The gateway let this client go (it fell behind; Reason is a
  // TVexaClientDropReason) and what it could not take was lost. The client
  // has subscribed again to every remembered table before this fires;
  // Tables lists them as SubscribeAgain does. Only a client that subscribed
  // through Subscribe follows this.
  std::function<void(int32_t Reason, const std::string& Tables)> OnNotificationsLost;

  // --- Receiving ----------------------------------------------------------
  // Every message that reaches the hidden window, except the channel's own Ctrl
  // broadcasts: typically the server's posts of custom messages.
  std::function<void(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam)> OnMessage;
  // A server-up broadcast named a server window (the known server changes to it).
  std::function<void(plat::HWND Server)> OnServerUp;
  // The known server broadcast server-down; the client is no longer connected.
  std::function<void(plat::HWND Server)> OnServerDown;
  // With AutoRejoin: the client has joined the server that came up in place of
  // its own.
  std::function<void(plat::HWND Server)> OnRejoined;

  // Handles every message waiting in the calling thread's queue, without waiting.
  void ProcessMessages();
  // Pumps the thread's messages until Condition() holds or the time runs out;
  // returns Condition() at the end. A quit request of the thread met
  // meanwhile is posted again and ends the wait; a WM_QUIT posted to a window
  // (another program's) is not one.
  bool WaitFor(const std::function<bool()>& Condition, plat::DWORD TimeoutMs);

private:
  plat::LRESULT WndProc(plat::HWND Wnd, plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam);
  bool Send(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam, plat::LRESULT* Result,
            plat::DWORD TimeoutMs);
  bool Post(plat::UINT Msg, plat::WPARAM WParam, plat::LPARAM LParam);
  bool BroadcastCtrl(int32_t Code);
  // Unless the server known is still there: forgets it, broadcasts Ask and
  // waits for a server to come up.
  bool AwaitServer(int32_t Ask, plat::DWORD TimeoutMs);
  // Close and quit requests posted to the window: ignored, told once per kind.
  bool IgnoreStray(plat::UINT Msg, plat::WPARAM WParam);
  // Tells "Ignored " + What once per kind Bit (1, 2, 4: see VexaIPCStrayRequest).
  void TellIgnored(unsigned Bit, const char* What);

  std::string FInstanceName;
  plat::HWND FHandle = 0;
  plat::HWND FServerHandle = 0;
  bool FConnected = false;
  bool FAutoRejoin = false;
  bool FJoined = false;  // connected once and not disconnected on request since
  plat::UINT FCtrlID = 0;
  plat::UINT FUserID = 0;
  plat::UINT FUserAnonID = 0;
  plat::UINT FUserDataID = 0;
  std::map<std::string, plat::UINT> FCustomIDs;
  std::vector<int> FTables;
  plat::UINT FStateID = 0;  // "NotifyServerState", once a table was subscribed
  unsigned FStrayTold = 0;  // kinds of ignored messages told so far
};

}  // namespace vexa
