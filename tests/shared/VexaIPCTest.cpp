// labels: unit
// The channel server driven from the same thread: the client end's window lives
// next to the server's, sends are direct calls and broadcasts are pumped.
#include "shared/VexaIPC.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "clients/VexaIPCClient.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestSession.h"

using vexa::TVexaIPCClient;
using vexa::TVexaIPCServer;

namespace {

plat::LRESULT Ctrl(TVexaIPCServer& s, plat::WPARAM w, plat::LPARAM code) {
  return plat::SendMessage(s.Handle(), s.CtrlID(), w, code);
}

// A top-level window that is nobody's client end.
struct PlainWindow {
  PlainWindow() { Handle = fw::AllocateHWnd(plat::WNDPROC(plat::DefWindowProc)); }
  ~PlainWindow() { Close(); }
  void Close() {
    if (Handle) fw::DeallocateHWnd(Handle);
    Handle = 0;
  }
  plat::HWND Handle = 0;
};

// Lets posted messages (broadcasts among them) arrive.
using vexa::test::DispatchQueued;

}  // namespace

TEST(VexaIPC, InstanceNameRegistersTheChannelMessages) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  int changes = 0;
  s.OnMsgIDChange = [&](fw::TObject* sender) {
    EXPECT_EQ(sender, &s);
    ++changes;
  };
  EXPECT_EQ(s.CtrlID(), 0u);
  const plat::UINT early = s.AddCustomMessage("Early");
  EXPECT_EQ(early, 0u);  // no instance yet

  s.SetInstanceName("  Chan  ");
  EXPECT_EQ(s.InstanceName(), "Chan");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(s.CtrlID(), plat::RegisterWindowMessage("VexaIPC_Chan_Ctrl"));
  EXPECT_EQ(s.UserID(), plat::RegisterWindowMessage("VexaIPC_Chan_User"));
  EXPECT_EQ(s.UserAnonID(), plat::RegisterWindowMessage("VexaIPC_Chan_User_Anon"));
  EXPECT_EQ(s.UserDataID(), plat::RegisterWindowMessage("VexaIPC_Chan_User_Data"));
  EXPECT_NE(s.CtrlID(), 0u);
  // Names known before the instance was set are registered with it.
  EXPECT_EQ(s.GetCustomMessageID("Early"), plat::RegisterWindowMessage("VexaIPC_Chan_User_Early"));

  const plat::UINT id = s.AddCustomMessage("DBTrans");
  EXPECT_EQ(id, plat::RegisterWindowMessage("VexaIPC_Chan_User_DBTrans"));
  EXPECT_EQ(s.AddCustomMessage(" DBTrans "), id);
  EXPECT_EQ(s.AddCustomMessage("dbtrans"), id);  // one name, whatever its case
  EXPECT_EQ(s.GetCustomMessageID("DBTRANS"), id);
  EXPECT_EQ(s.GetCustomMessageID("Unknown"), 0u);

  // The same text again changes nothing; a new one registers everything again.
  s.SetInstanceName("Chan");
  EXPECT_EQ(changes, 1);
  s.SetInstanceName("Other");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(s.CtrlID(), plat::RegisterWindowMessage("VexaIPC_Other_Ctrl"));
  EXPECT_EQ(s.GetCustomMessageID("DBTrans"),
            plat::RegisterWindowMessage("VexaIPC_Other_User_DBTrans"));
  EXPECT_NE(s.GetCustomMessageID("DBTrans"), id);
}

TEST(VexaIPC, BlankInstanceNameLeavesEverythingUnregistered) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Chan");
  s.AddCustomMessage("DBTrans");
  int changes = 0;
  s.OnMsgIDChange = [&](fw::TObject*) { ++changes; };
  s.SetInstanceName("  ");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(s.InstanceName(), "  ");
  EXPECT_EQ(s.CtrlID(), 0u);
  EXPECT_EQ(s.UserID(), 0u);
  EXPECT_EQ(s.UserAnonID(), 0u);
  EXPECT_EQ(s.UserDataID(), 0u);
  EXPECT_EQ(s.GetCustomMessageID("DBTrans"), 0u);
  EXPECT_EQ(s.AddCustomMessage("DBNotification"), 0u);
  bool exists = false;
  bool serving = false;
  s.OnServerInstanceExists = [&](fw::TObject*) { exists = true; };
  s.OnServingInstance = [&](fw::TObject*) { serving = true; };
  s.SetActive(true);
  EXPECT_FALSE(s.Active());
  EXPECT_FALSE(exists);
  EXPECT_FALSE(serving);
}

TEST(VexaIPC, RenamingWhileActiveKeepsTheIds) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Chan");
  s.SetActive(true);
  ASSERT_TRUE(s.Active());
  const plat::UINT ctrl = s.CtrlID();
  int changes = 0;
  s.OnMsgIDChange = [&](fw::TObject*) { ++changes; };
  s.SetInstanceName("Renamed");
  EXPECT_EQ(s.InstanceName(), "Renamed");
  EXPECT_EQ(s.CtrlID(), ctrl);
  EXPECT_EQ(changes, 0);
}

TEST(VexaIPC, ControlCodesWhileInactive) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Chan");
  PlainWindow w;
  int events = 0;
  s.OnClientConnecting = [&](plat::HWND, bool&) { ++events; };
  s.OnClientDisconnecting = [&](plat::HWND) { ++events; };
  EXPECT_EQ(Ctrl(s, w.Handle, vexa::ipcConnect), 0);
  EXPECT_EQ(Ctrl(s, w.Handle, vexa::ipcDisconnect), 0);
  EXPECT_EQ(Ctrl(s, 0, vexa::ipcGetServerHandle), int32_t(s.Handle()));
  // An inactive server does not answer queries and keeps no waiting clients.
  TVexaIPCClient c("Chan");
  EXPECT_EQ(Ctrl(s, 0, vexa::ipcQueryServer), 0);
  EXPECT_EQ(Ctrl(s, c.Handle(), vexa::ipcClientWaiting), 0);
  EXPECT_FALSE(c.FindServer(50));
  EXPECT_FALSE(c.WaitForServer(50));
  EXPECT_EQ(s.GetWaitingCount(), 0);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(s.GetClientCount(), 0);
}

TEST(VexaIPC, ControlCodesWhileServing) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Chan");
  s.SetActive(true);
  ASSERT_TRUE(s.Active());
  PlainWindow a, b;
  std::vector<std::string> events;
  bool accept = true;
  s.OnClientConnecting = [&](plat::HWND h, bool& Accept) {
    EXPECT_TRUE(Accept);
    events.push_back("connect " + std::to_string(h));
    Accept = accept;
  };
  s.OnClientDisconnecting = [&](plat::HWND h) {
    events.push_back("disconnect " + std::to_string(h));
  };
  const std::string A = std::to_string(a.Handle);
  const std::string B = std::to_string(b.Handle);
  const int32_t server = int32_t(s.Handle());

  // A refused connect answers 0 and lists nothing.
  accept = false;
  EXPECT_EQ(Ctrl(s, a.Handle, vexa::ipcConnect), 0);
  EXPECT_EQ(s.GetClientCount(), 0);
  accept = true;
  EXPECT_EQ(Ctrl(s, a.Handle, vexa::ipcConnect), server);
  EXPECT_EQ(Ctrl(s, a.Handle, vexa::ipcConnect), server);  // listed once
  EXPECT_EQ(s.GetClientCount(), 1);
  // Only the low 7 bits of the code count.
  EXPECT_EQ(Ctrl(s, b.Handle, 0x7F00 | vexa::ipcConnect), server);
  EXPECT_EQ(s.GetClientCount(), 2);

  // Disconnect of a window that never connected: the server's window, no event.
  PlainWindow stranger;
  events.clear();
  EXPECT_EQ(Ctrl(s, stranger.Handle, vexa::ipcDisconnect), server);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(Ctrl(s, a.Handle, vexa::ipcDisconnect), server);
  EXPECT_EQ(events, std::vector<std::string>{"disconnect " + A});
  EXPECT_EQ(s.GetClientCount(), 1);

  // Codes that the server does not answer.
  for (int32_t code : {0, int32_t(vexa::ipcServerUp), int32_t(vexa::ipcServerDown), 8, 0x7F}) {
    EXPECT_EQ(Ctrl(s, b.Handle, code), 0) << code;
  }
  EXPECT_EQ(Ctrl(s, 0, vexa::ipcGetServerHandle), server);
  EXPECT_EQ(Ctrl(s, 0, vexa::ipcQueryServer), -1);
  EXPECT_EQ(s.GetClientCount(), 1);
}

TEST(VexaIPC, ClientFindsConnectsAndIsDroppedOnDeactivation) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Chan");
  TVexaIPCClient early("Chan");
  ASSERT_TRUE(early.Ready());
  EXPECT_FALSE(early.FindServer(50));  // nobody serves yet

  bool serving = false;
  s.OnServingInstance = [&](fw::TObject*) { serving = true; };
  s.SetActive(true);
  EXPECT_TRUE(serving);
  // The start-up broadcast reaches a client that is already there.
  ASSERT_TRUE(early.WaitFor([&] { return early.ServerHandle() != 0; }, 5000));
  EXPECT_EQ(early.ServerHandle(), s.Handle());

  std::vector<std::unique_ptr<TVexaIPCClient>> clients;
  std::vector<plat::HWND> downs;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<TVexaIPCClient>(" Chan "));
    auto& c = *clients.back();
    c.OnServerDown = [&downs](plat::HWND h) { downs.push_back(h); };
    ASSERT_TRUE(c.FindServer(5000));
    EXPECT_EQ(c.ServerHandle(), s.Handle());
    ASSERT_TRUE(c.Connect());
    EXPECT_TRUE(c.Connected());
  }
  EXPECT_EQ(s.GetClientCount(), 3);

  std::vector<plat::HWND> order;
  s.OnClientDisconnecting = [&](plat::HWND h) { order.push_back(h); };
  s.SetActive(false);
  EXPECT_EQ(order, (std::vector<plat::HWND>{clients[2]->Handle(), clients[1]->Handle(),
                                            clients[0]->Handle()}));
  EXPECT_EQ(s.GetClientCount(), 0);
  DispatchQueued();
  EXPECT_EQ(downs, std::vector<plat::HWND>(3, s.Handle()));
  for (auto& c : clients) {
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(c->ServerHandle(), 0u);
  }
  // The instance is free again for the next server.
  TVexaIPCServer next(nullptr);
  next.SetInstanceName("Chan");
  next.SetActive(true);
  EXPECT_TRUE(next.Active());
}

TEST(VexaIPC, CustomUserAndAnonymousMessages) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Chan");
  const plat::UINT trans = s.AddCustomMessage("DBTrans");
  const plat::UINT note = s.AddCustomMessage("DBNotification");
  const plat::UINT quiet = s.AddCustomMessage("Quiet");
  s.SetActive(true);
  s.OnCustomMessage = [&](fw::TMessage& Msg, bool& Handled) {
    if (Msg.Msg == trans) {
      Handled = true;  // Result left at 0: the server answers -1
    } else if (Msg.Msg == note) {
      Handled = true;
      Msg.Result = 1;
    } else if (Msg.Msg == quiet && Msg.WParam == 13) {
      throw std::runtime_error("handler failure");
    }
  };
  std::vector<std::string> seen;
  s.OnUserMessage = [&](plat::HWND client, vexa::TVexaUserMessage& Msg, bool Handled) {
    EXPECT_FALSE(Handled);
    seen.push_back("user " + std::to_string(client) + " " + std::to_string(Msg.LParam));
    Msg.Result = 42;
  };
  s.OnUserDataMessage = [&](plat::HWND client, vexa::TVexaUserDataMessage& Msg, bool) {
    seen.push_back("data " + std::to_string(client) + " " + std::to_string(Msg.LParam));
    throw 5;  // discarded
  };
  s.OnUserAnonMessage = [&](vexa::TVexaUserAnonMessage& Msg, bool) {
    seen.push_back("anon " + std::to_string(Msg.WParam) + " " + std::to_string(Msg.LParam));
    Msg.Result = -7;
  };

  TVexaIPCClient c("Chan");
  ASSERT_TRUE(c.FindServer(5000));
  plat::LRESULT r = 99;
  ASSERT_TRUE(c.SendCustom("DBTrans", 0, 7 | ('B' << 8), &r));
  EXPECT_EQ(r, -1);
  ASSERT_TRUE(c.SendCustom("DBNotification", 5, 7, &r));
  EXPECT_EQ(r, 1);
  ASSERT_TRUE(c.SendCustom("Quiet", 1, 1, &r));
  EXPECT_EQ(r, 0);  // not handled
  ASSERT_TRUE(c.SendCustom("Quiet", 13, 1, &r));
  EXPECT_EQ(r, 0);  // the handler's exception went no further
  // A name the server does not know goes to the default procedure.
  ASSERT_TRUE(c.SendCustom("Unknown", 1, 1, &r));
  EXPECT_EQ(r, 0);

  ASSERT_TRUE(c.SendUser(11, &r));
  EXPECT_EQ(r, 42);
  ASSERT_TRUE(c.SendUserData(12, &r));
  EXPECT_EQ(r, 0);
  ASSERT_TRUE(c.SendUserAnon(-3, 14, &r));
  EXPECT_EQ(r, -7);
  ASSERT_TRUE(c.PostUser(15));
  DispatchQueued();
  const std::string h = std::to_string(c.Handle());
  EXPECT_EQ(seen, (std::vector<std::string>{"user " + h + " 11", "data " + h + " 12", "anon -3 14",
                                            "user " + h + " 15"}));
}

TEST(VexaIPC, PostsToClientsDropDeadWindows) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Chan");
  const plat::UINT notify = s.AddCustomMessage("Notification");
  s.SetActive(true);
  std::vector<std::unique_ptr<TVexaIPCClient>> clients;
  std::vector<std::vector<int32_t>> got(5);
  for (int i = 0; i < 5; ++i) {
    clients.push_back(std::make_unique<TVexaIPCClient>("Chan"));
    auto& c = *clients.back();
    c.OnMessage = [&got, i, notify](plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
      if (m == notify) got[i].push_back(w * 1000 + l);
    };
    ASSERT_TRUE(c.FindServer(5000));
    ASSERT_TRUE(c.Connect());
  }
  const plat::HWND dead1 = clients[1]->Handle();
  const plat::HWND dead3 = clients[3]->Handle();
  clients[1].reset();  // disconnects properly
  ASSERT_EQ(s.GetClientCount(), 4);
  // Window 3 vanishes without a word.
  clients[3]->OnMessage = nullptr;
  plat::DestroyWindow(dead3);
  // And a window that was listed but is gone, connected by hand.
  PlainWindow gone;
  ASSERT_EQ(Ctrl(s, gone.Handle, vexa::ipcConnect), int32_t(s.Handle()));
  const plat::HWND dead5 = gone.Handle;
  gone.Close();
  ASSERT_EQ(s.GetClientCount(), 5);

  std::vector<plat::HWND> dropped;
  s.OnClientDisconnecting = [&](plat::HWND h) { dropped.push_back(h); };
  fw::TMessage msg;
  msg.WParam = 7;
  msg.LParam = 3;
  EXPECT_FALSE(s.PostToAllClients(0, msg));
  EXPECT_TRUE(s.PostToAllClients(notify, msg));
  EXPECT_EQ(dropped, (std::vector<plat::HWND>{dead3, dead5}));
  EXPECT_EQ(s.GetClientCount(), 3);
  DispatchQueued();
  for (int i : {0, 2, 4}) EXPECT_EQ(got[i], std::vector<int32_t>{7003}) << i;
  EXPECT_TRUE(got[1].empty());
  EXPECT_TRUE(got[3].empty());
  (void)dead1;

  // One client alone; a dead one is dropped and the post reports failure.
  msg.WParam = 1;
  msg.LParam = 0;
  EXPECT_TRUE(s.PostToClient(clients[2]->Handle(), notify, msg));
  EXPECT_FALSE(s.PostToClient(clients[2]->Handle(), 0, msg));
  DispatchQueued();
  EXPECT_EQ(got[2], (std::vector<int32_t>{7003, 1000}));
  dropped.clear();
  const plat::HWND victim = clients[4]->Handle();
  clients[4]->OnMessage = nullptr;
  plat::DestroyWindow(victim);
  EXPECT_FALSE(s.PostToClient(victim, notify, msg));
  EXPECT_EQ(dropped, std::vector<plat::HWND>{victim});
  EXPECT_EQ(s.GetClientCount(), 2);

  // Handles that name no window are never posted to.
  dropped.clear();
  EXPECT_FALSE(s.PostToClient(0, notify, msg));
  EXPECT_FALSE(s.PostToClient(plat::HWND_BROADCAST, notify, msg));
  EXPECT_EQ(dropped, (std::vector<plat::HWND>{0, plat::HWND_BROADCAST}));
  plat::MSG stray;
  EXPECT_FALSE(plat::PeekMessage(&stray, 0, notify, notify, plat::PM_REMOVE));
  DispatchQueued();
  EXPECT_EQ(got[0], std::vector<int32_t>{7003});

  // CheckClient reports a gone window even when it was never listed.
  dropped.clear();
  EXPECT_TRUE(s.CheckClient(clients[0]->Handle()));
  EXPECT_FALSE(s.CheckClient(dead1));
  EXPECT_EQ(dropped, std::vector<plat::HWND>{dead1});
  EXPECT_EQ(s.GetClientCount(), 2);
  s.OnClientDisconnecting = nullptr;  // the clients leave after `dropped` is gone
}

TEST(VexaIPC, WaitingClientsGetAnEventUntilTheyConnect) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Chan");
  s.SetActive(true);
  TVexaIPCClient c("Chan");
  int ups = 0;
  c.OnServerUp = [&](plat::HWND h) {
    EXPECT_EQ(h, s.Handle());
    ++ups;
  };
  DispatchQueued();  // the start-up broadcast
  ups = 0;
  ASSERT_TRUE(c.AnnounceWaiting());
  DispatchQueued();
  EXPECT_EQ(ups, 2);  // answered with two server-up broadcasts
  EXPECT_EQ(c.ServerHandle(), s.Handle());
  const std::string name = "VexaIPC_ClientWaiting_" + std::to_string(c.Handle());
  plat::HANDLE ev = plat::OpenEvent(name);
  ASSERT_NE(ev, 0u);
  EXPECT_TRUE(plat::IsEventSet(ev));
  EXPECT_EQ(s.GetWaitingCount(), 1);
  // Announcing again keeps one entry.
  c.AnnounceWaiting();
  DispatchQueued();
  EXPECT_EQ(s.GetWaitingCount(), 1);
  ASSERT_TRUE(c.Connect());
  EXPECT_EQ(s.GetWaitingCount(), 0);
  plat::CloseHandle(ev);

  // Announcements for things that are not windows are not kept.
  EXPECT_EQ(Ctrl(s, 0x7FFFFFF0, vexa::ipcClientWaiting), -1);
  EXPECT_EQ(Ctrl(s, 0, vexa::ipcClientWaiting), -1);
  EXPECT_EQ(s.GetWaitingCount(), 0);
  // A waiting window that goes away is forgotten at the next announcement.
  PlainWindow w;
  EXPECT_EQ(Ctrl(s, w.Handle, vexa::ipcClientWaiting), -1);
  EXPECT_EQ(s.GetWaitingCount(), 1);
  w.Close();
  TVexaIPCClient other("Chan");
  other.AnnounceWaiting();
  DispatchQueued();
  EXPECT_EQ(s.GetWaitingCount(), 1);
}

TEST(VexaIPC, HandlersThatThrowDoNotStopTheServer) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.OnMsgIDChange = [](fw::TObject*) { throw std::runtime_error("x"); };
  s.OnServingInstance = [](fw::TObject*) { throw fw::Exception("y"); };
  s.OnClientConnecting = [](plat::HWND, bool&) { throw 1; };
  s.OnClientDisconnecting = [](plat::HWND) { throw 2; };
  s.SetInstanceName("Chan");
  EXPECT_NE(s.CtrlID(), 0u);
  s.SetActive(true);
  EXPECT_TRUE(s.Active());
  PlainWindow a;
  // Accept stays true when the handler throws before answering.
  EXPECT_EQ(Ctrl(s, a.Handle, vexa::ipcConnect), int32_t(s.Handle()));
  EXPECT_EQ(Ctrl(s, a.Handle, vexa::ipcDisconnect), int32_t(s.Handle()));
  EXPECT_EQ(s.GetClientCount(), 0);
  s.SetActive(false);
  EXPECT_FALSE(s.Active());
}

TEST(VexaIPC, DesignTimeMakesNoWindowAndServesNothing) {
  vexa::test::TestSession session;
  fw::TComponent owner(nullptr);
  owner.SetDesigning(true);
  TVexaIPCServer* s = new TVexaIPCServer(&owner);
  s->SetDesigning(true);
  EXPECT_EQ(s->Handle(), 0u);
  s->SetInstanceName("Chan");
  EXPECT_EQ(s->InstanceName(), "Chan");
  EXPECT_EQ(s->CtrlID(), 0u);
  s->SetActive(true);
  EXPECT_TRUE(s->Active());  // only the flag
  EXPECT_EQ(s->GetClientCount(), 0);
  // Nothing serves the instance: a run-time server gets it.
  TVexaIPCServer live(nullptr);
  live.SetInstanceName("Chan");
  live.SetActive(true);
  EXPECT_TRUE(live.Active());
}

TEST(VexaIPC, GarbageControlAndCustomMessagesLeaveTheListsSound) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Chan");
  const plat::UINT trans = s.AddCustomMessage("DBTrans");
  s.SetActive(true);
  int connects = 0;
  s.OnClientConnecting = [&](plat::HWND, bool&) { ++connects; };
  s.OnCustomMessage = [&](fw::TMessage& Msg, bool& Handled) {
    Handled = (Msg.LParam & 1) != 0;
  };
  PlainWindow real;
  std::mt19937 rng(11);
  for (int i = 0; i < 20000; ++i) {
    const plat::WPARAM w = (rng() % 4 == 0) ? plat::WPARAM(real.Handle) : plat::WPARAM(rng());
    const plat::LPARAM l = plat::LPARAM(rng());
    const plat::UINT msg = (rng() % 2) ? s.CtrlID() : trans;
    plat::SendMessage(s.Handle(), msg, w, l);
    if (i % 512 == 0) DispatchQueued();
  }
  DispatchQueued();
  // Only the one real window can have joined; nothing else stuck in the lists.
  EXPECT_LE(s.GetClientCount(), 1);
  EXPECT_LE(s.GetWaitingCount(), 1);
  EXPECT_GT(connects, 0);
  EXPECT_TRUE(s.Active());
  TVexaIPCClient c("Chan");
  ASSERT_TRUE(c.FindServer(5000));
  ASSERT_TRUE(c.Connect());
}
