// labels: unit
#include "clients/VexaIPCClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "shared/VexaIPC.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestSession.h"

using vexa::TVexaIPCClient;
using vexa::TVexaIPCServer;

TEST(VexaIPCClient, WithoutServerEverythingFailsQuietly) {
  vexa::test::TestSession session;
  TVexaIPCClient blank("   ");
  EXPECT_FALSE(blank.Ready());
  EXPECT_FALSE(blank.FindServer(10));
  EXPECT_EQ(blank.CustomMessageID("DBTrans"), 0u);

  TVexaIPCClient c("Chan");
  ASSERT_TRUE(c.Ready());
  EXPECT_EQ(c.InstanceName(), "Chan");
  EXPECT_EQ(c.CtrlID(), plat::RegisterWindowMessage("VexaIPC_Chan_Ctrl"));
  EXPECT_EQ(c.CustomMessageID(" DBTrans "), plat::RegisterWindowMessage("VexaIPC_Chan_User_DBTrans"));
  EXPECT_FALSE(c.FindServer(30));
  plat::LRESULT r = 5;
  EXPECT_FALSE(c.SendCustom("DBTrans", 1, 2, &r));
  EXPECT_EQ(r, 0);
  EXPECT_FALSE(c.PostUser(1));
  EXPECT_FALSE(c.Connect());
  EXPECT_FALSE(c.Connected());
}

TEST(VexaIPCClient, WaitForServerSeesAServerThatStartsLater) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("Later");
  TVexaIPCClient c("Later");
  // The server starts from a timer while the client waits.
  plat::HWND timerWnd = fw::AllocateHWnd(plat::WNDPROC(plat::DefWindowProc));
  plat::SetTimer(timerWnd, 1, 30, [&](plat::HWND w, plat::UINT, uintptr_t id, plat::DWORD) {
    plat::KillTimer(w, id);
    s.SetActive(true);
  });
  ASSERT_TRUE(c.WaitForServer(10000));
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(c.ServerHandle(), s.Handle());
  ASSERT_TRUE(c.Connect());
  EXPECT_EQ(s.GetClientCount(), 1);
  EXPECT_TRUE(c.Disconnect());
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(s.GetClientCount(), 0);
  fw::DeallocateHWnd(timerWnd);
}

TEST(VexaIPCClient, ServerDownAndANewServerUp) {
  vexa::test::TestSession session;
  TVexaIPCClient c("Chan");
  std::vector<std::string> log;
  c.OnServerDown = [&](plat::HWND) { log.push_back("down"); };
  {
    TVexaIPCServer s(nullptr);
    s.SetInstanceName("Chan");
    s.SetActive(true);
    ASSERT_TRUE(c.FindServer(5000));
    ASSERT_TRUE(c.Connect());
    EXPECT_EQ(c.GetServerHandle(), s.Handle());
  }
  c.ProcessMessages();
  EXPECT_EQ(log, std::vector<std::string>{"down"});
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(c.ServerHandle(), 0u);

  TVexaIPCServer s2(nullptr);
  s2.SetInstanceName("Chan");
  s2.SetActive(true);
  ASSERT_TRUE(c.WaitFor([&] { return c.ServerHandle() != 0; }, 5000));
  EXPECT_EQ(c.ServerHandle(), s2.Handle());
  EXPECT_TRUE(c.Connect());
}

TEST(VexaIPCClient, ProcessMessagesLeavesTheQuitRequestToTheLoop) {
  vexa::test::TestSession session;
  TVexaIPCClient c("Chan");
  std::vector<plat::LPARAM> got;
  c.OnMessage = [&](plat::UINT, plat::WPARAM, plat::LPARAM l) { got.push_back(l); };
  plat::PostMessage(c.Handle(), plat::WM_USER + 5, 0, 1);
  plat::PostQuitMessage(3);
  c.ProcessMessages();
  EXPECT_EQ(got, std::vector<plat::LPARAM>{1});
  EXPECT_FALSE(c.WaitFor([] { return false; }, 20));
  plat::MSG m;
  EXPECT_FALSE(plat::GetMessage(&m, 0, 0, 0));  // the quit is still there
}

// A thread with no message loop of its own (as a database engine thread) uses
// the client; the server's thread pumps.
TEST(VexaIPCClient, WorksFromAThreadWithoutItsOwnLoop) {
  vexa::test::TestSession session;
  TVexaIPCServer s(nullptr);
  s.SetInstanceName("NotifyServerIPC");
  const plat::UINT trans = s.AddCustomMessage("DBTrans");
  s.SetActive(true);
  int32_t next = 1000;
  s.OnCustomMessage = [&](fw::TMessage& Msg, bool& Handled) {
    if (Msg.Msg == trans && ((Msg.LParam >> 8) & 0xFF) == 'B') Msg.Result = next++;
    Handled = true;
  };
  std::atomic<bool> done{false};
  std::vector<plat::LRESULT> results;
  bool found = false;
  bool connected = false;
  std::thread worker([&] {
    {
      TVexaIPCClient c("NotifyServerIPC");
      found = c.FindServer(10000);
      connected = found && c.Connect();
      for (int i = 0; i < 20 && connected; ++i) {
        plat::LRESULT r = 0;
        if (c.SendCustom("DBTrans", 0, 7 | ('B' << 8), &r)) results.push_back(r);
      }
      c.Disconnect();
    }
    done = true;
  });
  EXPECT_TRUE(vexa::test::PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_TRUE(found);
  EXPECT_TRUE(connected);
  ASSERT_EQ(results.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(results[i], 1000 + i);
  EXPECT_EQ(s.GetClientCount(), 0);
}
