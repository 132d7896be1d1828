// labels: integration
// timeout: 120
// The channel between real processes of one session (and of two sessions).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "clients/VexaIPCClient.h"
#include "shared/VexaIPC.h"
#include "shared/VexaInst.h"
#include "tests/shared/LoopThread.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSession.h"

using namespace std::chrono_literals;
using vexa::TVexaIPCServer;
using vexa::test::ChildProcess;
using vexa::test::LoopThread;

namespace {

constexpr auto kWait = 10s;

std::unique_ptr<ChildProcess> StartPeer(const std::string& program,
                                        const std::vector<std::string>& args,
                                        const std::vector<std::string>& env = {}) {
  auto p = std::make_unique<ChildProcess>(vexa::test::BinPath(program), args, env);
  return p;
}

// The value after "<word> " in the line that starts with it.
std::string After(const std::optional<std::string>& line, const std::string& word) {
  if (!line || line->rfind(word + " ", 0) != 0) return "";
  return line->substr(word.size() + 1);
}

// A channel server living on its own loop thread, noting its events.
struct ThreadedServer {
  explicit ThreadedServer(const std::string& Instance) {
    Loop.Invoke([&] {
      Server = std::make_unique<TVexaIPCServer>(nullptr);
      Server->SetInstanceName(Instance);
      Trans = Server->AddCustomMessage("DBTrans");
      Notification = Server->AddCustomMessage("DBNotification");
      Server->OnClientConnecting = [this](plat::HWND h, bool&) {
        Loop.Note("connect " + std::to_string(h));
      };
      Server->OnClientDisconnecting = [this](plat::HWND h) {
        Loop.Note("disconnect " + std::to_string(h));
      };
      Server->OnCustomMessage = [this](fw::TMessage& Msg, bool& Handled) {
        if (Msg.Msg == Trans) {
          // Letter "B" in byte 1 opens a transaction: answer the next id.
          if (((Msg.LParam >> 8) & 0xFF) == 'B') Msg.Result = NextId++;
          Loop.Note("trans " + std::to_string(Msg.WParam) + " " + std::to_string(Msg.LParam));
        } else if (Msg.Msg == Notification) {
          Msg.Result = 1;
          Loop.Note("note " + std::to_string(Msg.WParam) + " " + std::to_string(Msg.LParam));
        }
        Handled = true;
      };
      Server->SetActive(true);
      Handle = Server->Handle();
    });
  }
  ~ThreadedServer() {
    Loop.Invoke([&] { Server.reset(); });
  }
  int32_t ClientCount() {
    int32_t n = 0;
    Loop.Invoke([&] { n = Server->GetClientCount(); });
    return n;
  }

  LoopThread Loop;
  std::unique_ptr<TVexaIPCServer> Server;
  plat::UINT Trans = 0;
  plat::UINT Notification = 0;
  plat::HWND Handle = 0;
  int32_t NextId = 1000;
};

std::string Connect(ChildProcess& client) {
  client.WriteStdin("find 10000\n");
  if (!client.WaitForLine("found", kWait)) return "";
  client.WriteStdin("connect\n");
  return After(client.WaitForLine("connected", kWait), "connected");
}

}  // namespace

TEST(VexaIPCProcesses, SecondServerOfAnInstanceStaysInactive) {
  vexa::test::TestSession session;
  auto peer = StartPeer("VexaIPCServerPeer", {"NotifyServerIPC"});
  ASSERT_TRUE(peer->WaitForLine("serving", kWait));
  ASSERT_TRUE(peer->WaitForLine("active 1", kWait));

  TVexaIPCServer second(nullptr);
  std::vector<std::string> events;
  second.OnServerInstanceExists = [&](fw::TObject*) { events.push_back("exists"); };
  second.OnServingInstance = [&](fw::TObject*) { events.push_back("serving"); };
  second.SetInstanceName("NotifyServerIPC");
  second.SetActive(true);
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(events, std::vector<std::string>{"exists"});

  // Another instance name is another channel.
  TVexaIPCServer other(nullptr);
  other.SetInstanceName("Default");
  other.SetActive(true);
  EXPECT_TRUE(other.Active());

  // Once the first server has gone, the instance is free.
  peer->WriteStdin("quit\n");
  ASSERT_EQ(peer->Wait(kWait), 0);
  events.clear();
  second.SetActive(true);
  EXPECT_TRUE(second.Active());
  EXPECT_EQ(events, std::vector<std::string>{"serving"});
}

TEST(VexaIPCProcesses, ServerProcessAnswersSentMessages) {
  vexa::test::TestSession session;
  auto server = StartPeer("VexaIPCServerPeer", {"NotifyServerIPC"});
  ASSERT_TRUE(server->WaitForLine("ready", kWait));
  auto client = StartPeer("VexaIPCClientPeer", {"NotifyServerIPC"});
  const std::string handle = Connect(*client);
  ASSERT_FALSE(handle.empty());
  EXPECT_TRUE(server->WaitForLine("connect " + handle, kWait));
  client->WriteStdin("send DBTrans 5 6\n");
  EXPECT_EQ(After(client->WaitForLine("result", kWait), "result"), "11");
  client->WriteStdin("send DBTrans -1000 3\n");
  EXPECT_EQ(After(client->WaitForLine("result", kWait), "result"), "-997");
  client->WriteStdin("sendmany DBTrans 200 1\n");
  // WParam 199 + LParam 1 answers the last one.
  EXPECT_EQ(After(client->WaitForLine("sent", kWait), "sent"), "200 200");
  client->WriteStdin("disconnect\n");
  EXPECT_TRUE(server->WaitForLine("disconnect " + handle, kWait));
}

// The database side's way: a thread that runs no loop of its own sends and
// reads each result, with and without a time limit.
TEST(VexaIPCProcesses, ClientWithoutALoopReadsResults) {
  vexa::test::TestSession session;
  auto server = StartPeer("VexaIPCServerPeer", {"NotifyServerIPC"});
  ASSERT_TRUE(server->WaitForLine("ready", kWait));
  vexa::TVexaIPCClient c("NotifyServerIPC");
  ASSERT_TRUE(c.WaitForServer(10000));
  ASSERT_TRUE(c.Connect());
  for (int i = 0; i < 20; ++i) {
    plat::LRESULT r = 0;
    ASSERT_TRUE(c.SendCustom("DBTrans", i, 100, &r, i % 2 ? 10000 : plat::INFINITE));
    EXPECT_EQ(r, i + 100) << i;
  }
  EXPECT_TRUE(c.Disconnect());
}

TEST(VexaIPCProcesses, ServerThatDiedHoldingTheInstanceLeavesItFree) {
  vexa::test::TestSession session;
  auto peer = StartPeer("VexaIPCServerPeer", {"NotifyServerIPC"});
  ASSERT_TRUE(peer->WaitForLine("active 1", kWait));
  peer->Signal(SIGKILL);
  peer->Wait(kWait);
  TVexaIPCServer next(nullptr);
  next.SetInstanceName("NotifyServerIPC");
  next.SetActive(true);
  EXPECT_TRUE(next.Active());
}

TEST(VexaIPCProcesses, ClientSendsCustomMessagesAndReadsTheirResults) {
  vexa::test::TestSession session;
  ThreadedServer server("NotifyServerIPC");
  auto client = StartPeer("VexaIPCClientPeer", {"NotifyServerIPC"});
  const std::string handle = Connect(*client);
  ASSERT_FALSE(handle.empty());
  ASSERT_TRUE(server.Loop.WaitForNotes("connect " + handle, 1, kWait));
  EXPECT_EQ(server.ClientCount(), 1);

  // Table 7, letter B, sent: each answer is the next transaction id.
  const int32_t begin = 7 | ('B' << 8);
  for (int i = 0; i < 5; ++i) {
    client->WriteStdin("send DBTrans 0 " + std::to_string(begin) + "\n");
    EXPECT_EQ(After(client->WaitForLine("result", kWait), "result"), std::to_string(1000 + i));
  }
  // Notifications arrive in the order they were sent, posted or sent.
  client->WriteStdin("send DBNotification 42 7\n");
  EXPECT_EQ(After(client->WaitForLine("result", kWait), "result"), "1");
  client->WriteStdin("post DBNotification -5 7\n");
  EXPECT_TRUE(client->WaitForLine("posted 1", kWait));
  // Sent messages overtake posted ones; let the post land first.
  EXPECT_TRUE(server.Loop.WaitForNotes("note -5 7", 1, kWait));
  client->WriteStdin("send DBTrans 1004 " + std::to_string(7 | ('E' << 8)) + "\n");
  EXPECT_EQ(After(client->WaitForLine("result", kWait), "result"), "-1");
  const auto log = server.Loop.Log();
  std::vector<std::string> custom;
  for (const auto& l : log) {
    if (l.rfind("trans", 0) == 0 || l.rfind("note", 0) == 0) custom.push_back(l);
  }
  ASSERT_EQ(custom.size(), 8u);
  EXPECT_EQ(custom[5], "note 42 7");
  EXPECT_EQ(custom[6], "note -5 7");
  EXPECT_EQ(custom[7], "trans 1004 " + std::to_string(7 | ('E' << 8)));

  client->WriteStdin("disconnect\n");
  EXPECT_TRUE(client->WaitForLine("disconnected 1", kWait));
  EXPECT_TRUE(server.Loop.WaitForNotes("disconnect " + handle, 1, kWait));
  EXPECT_EQ(server.ClientCount(), 0);
  client->WriteStdin("quit\n");
  EXPECT_EQ(client->Wait(kWait), 0);
}

TEST(VexaIPCProcesses, KilledClientIsDroppedAtTheNextFailedPost) {
  vexa::test::TestSession session;
  ThreadedServer server("Default");
  auto alive = StartPeer("VexaIPCClientPeer", {"Default"});
  auto doomed = StartPeer("VexaIPCClientPeer", {"Default"});
  const std::string a = Connect(*alive);
  const std::string d = Connect(*doomed);
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(d.empty());
  ASSERT_TRUE(server.Loop.WaitForNotes("connect", 2, kWait));
  doomed->Signal(SIGKILL);
  doomed->Wait(kWait);
  EXPECT_EQ(server.ClientCount(), 2);  // nobody told the server

  plat::UINT notification = 0;
  server.Loop.Invoke([&] {
    notification = server.Server->AddCustomMessage("Notification");
    fw::TMessage m;
    m.WParam = 9;
    m.LParam = 67;
    server.Server->PostToAllClients(notification, m);
  });
  EXPECT_TRUE(server.Loop.WaitForNotes("disconnect " + d, 1, kWait));
  EXPECT_EQ(server.ClientCount(), 1);
  EXPECT_TRUE(alive->WaitForLine("msg " + std::to_string(notification) + " 9 67", kWait));
}

TEST(VexaIPCProcesses, DeactivationDropsThreeClientsLastFirst) {
  vexa::test::TestSession session;
  ThreadedServer server("Default");
  std::vector<std::unique_ptr<ChildProcess>> clients;
  std::vector<std::string> handles;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(StartPeer("VexaIPCClientPeer", {"Default"}));
    handles.push_back(Connect(*clients.back()));
    ASSERT_FALSE(handles.back().empty());
    // Wait for each connect so the arrival order is known.
    ASSERT_TRUE(server.Loop.WaitForNotes("connect", size_t(i + 1), kWait));
  }
  server.Loop.Invoke([&] { server.Server->SetActive(false); });
  std::vector<std::string> drops;
  for (const auto& l : server.Loop.Log()) {
    if (l.rfind("disconnect", 0) == 0) drops.push_back(l);
  }
  EXPECT_EQ(drops, (std::vector<std::string>{"disconnect " + handles[2], "disconnect " + handles[1],
                                             "disconnect " + handles[0]}));
  for (auto& c : clients) EXPECT_TRUE(c->WaitForLine("down", kWait));
}

TEST(VexaIPCProcesses, AnotherSessionNeverMeetsThisOne) {
  vexa::test::TestSession session;
  ThreadedServer server("NotifyServerIPC");
  const std::string otherDir = session.Root() + "/other-session";
  std::filesystem::create_directory(otherDir);
  const std::vector<std::string> env{"VEXA_SESSION_DIR=" + otherDir};

  // A client of the other session finds no server and its traffic never arrives.
  auto client = StartPeer("VexaIPCClientPeer", {"NotifyServerIPC"}, env);
  client->WriteStdin("find 300\n");
  EXPECT_TRUE(client->WaitForLine("notfound", kWait));
  client->WriteStdin("wait 300\n");
  EXPECT_TRUE(client->WaitForLine("notfound", kWait));
  client->WriteStdin("hit " + std::to_string(server.Handle) + "\n");
  EXPECT_TRUE(client->WaitForLine("hit", kWait));

  // A server of the same instance in the other session serves there.
  auto otherServer = StartPeer("VexaIPCServerPeer", {"NotifyServerIPC"}, env);
  EXPECT_TRUE(otherServer->WaitForLine("serving", kWait));
  client->WriteStdin("find 10000\n");
  EXPECT_TRUE(client->WaitForLine("found", kWait));
  client->WriteStdin("connect\n");
  EXPECT_TRUE(client->WaitForLine("connected", kWait));
  EXPECT_TRUE(otherServer->WaitForLine("connect", kWait));

  // Nothing of it reached this session's server.
  server.Loop.Invoke([] {});
  for (const auto& l : server.Loop.Log()) ADD_FAILURE() << "unexpected: " << l;
  EXPECT_EQ(server.ClientCount(), 0);
}

TEST(VexaIPCProcesses, GarbageFromAnotherProcessHarmsNothing) {
  vexa::test::TestSession session;
  ThreadedServer server("Default");
  auto noisy = StartPeer("VexaIPCClientPeer", {"Default"});
  noisy->WriteStdin("find 10000\n");
  ASSERT_TRUE(noisy->WaitForLine("found", kWait));
  noisy->WriteStdin("garbage 5000 17\n");
  ASSERT_TRUE(noisy->WaitForLine("garbage done", 60s));
  // Only the noisy peer's own window can have joined.
  EXPECT_LE(server.ClientCount(), 1);
  int32_t waiting = 0;
  server.Loop.Invoke([&] { waiting = server.Server->GetWaitingCount(); });
  EXPECT_LE(waiting, 1);

  auto good = StartPeer("VexaIPCClientPeer", {"Default"});
  const std::string h = Connect(*good);
  ASSERT_FALSE(h.empty());
  good->WriteStdin("sendmany DBTrans 50 " + std::to_string(7 | ('B' << 8)) + "\n");
  const std::string sent = After(good->WaitForLine("sent", kWait), "sent");
  ASSERT_EQ(sent.substr(0, 3), "50 ");
  // Transaction ids kept counting up through all the noise.
  EXPECT_GE(std::stoi(sent.substr(3)), 1049);
}

TEST(VexaIPCProcesses, TwoProgramsShareTheInstallationMutex) {
  vexa::test::TestSession session;
  auto peer = StartPeer("VexaIPCServerPeer", {"Inst", " Lumidex "});
  ASSERT_TRUE(peer->WaitForLine("install 1", kWait));
  vexa::TVexaInstallMutex mine(nullptr);
  mine.SetProductName("Lumidex");
  ASSERT_NE(mine.MutexHandle(), 0u);
  // The name was already open in the other program; neither waits for the other.
  plat::HANDLE probe = plat::CreateMutex("VexaInstall_Lumidex", false);
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_ALREADY_EXISTS);
  plat::CloseHandle(probe);
  peer->WriteStdin("count\n");
  EXPECT_TRUE(peer->WaitForLine("count 0", kWait));
}
