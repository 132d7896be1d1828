// labels: unit
// A client that rejoins: the server it joined goes away and another one of the
// instance comes up, and the client joins that one by itself, once, and says
// so; what it must not do is leave a living server for a stray server-up, join
// again after it left on its own request, or rejoin when it was not asked to.
#include "clients/VexaIPCClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "shared/VexaIPC.h"
#include "tests/support/TestSession.h"

using vexa::TVexaIPCClient;
using vexa::TVexaIPCServer;

namespace {

std::unique_ptr<TVexaIPCServer> Serve(const std::string& Instance) {
  auto s = std::make_unique<TVexaIPCServer>(nullptr);
  s->SetInstanceName(Instance);
  s->SetActive(true);
  return s;
}

}  // namespace

TEST(VexaIPCClientRejoin, JoinsTheServerThatReplacesItsOwn) {
  vexa::test::TestSession session;
  TVexaIPCClient c("Chan");
  TVexaIPCClient plain("Chan");  // without AutoRejoin: stays out as before
  c.SetAutoRejoin(true);
  std::vector<plat::HWND> rejoined;
  c.OnRejoined = [&](plat::HWND s) { rejoined.push_back(s); };

  auto s1 = Serve("Chan");
  ASSERT_TRUE(c.FindServer(5000) && c.Connect());
  ASSERT_TRUE(plain.FindServer(5000) && plain.Connect());
  EXPECT_EQ(s1->GetClientCount(), 2);
  s1.reset();  // broadcasts server-down
  auto s2 = Serve("Chan");
  ASSERT_TRUE(c.WaitFor([&] { return c.ServerHandle() == s2->Handle() && c.Connected(); }, 5000));
  EXPECT_EQ(c.ServerHandle(), s2->Handle());
  EXPECT_EQ(rejoined, std::vector<plat::HWND>{s2->Handle()});
  EXPECT_EQ(s2->GetClientCount(), 1);
  EXPECT_FALSE(plain.Connected());

  // Further server-up broadcasts of the same server (answers to other
  // clients' queries) change nothing.
  plain.QueryServer();
  c.WaitFor([] { return false; }, 200);
  EXPECT_EQ(rejoined.size(), 1u);
  EXPECT_EQ(s2->GetClientCount(), 1);
}

TEST(VexaIPCClientRejoin, AStrayServerUpDoesNotTakeTheClientFromALivingServer) {
  vexa::test::TestSession session;
  TVexaIPCClient c("Chan");
  c.SetAutoRejoin(true);
  int rejoins = 0;
  c.OnRejoined = [&](plat::HWND) { ++rejoins; };
  auto s = Serve("Chan");
  ASSERT_TRUE(c.FindServer(5000) && c.Connect());

  // Another window of the session claims to serve the instance.
  TVexaIPCClient other("Chan");
  plat::PostMessage(plat::HWND_BROADCAST, c.CtrlID(), static_cast<plat::WPARAM>(other.Handle()),
                    vexa::ipcServerUp);
  c.WaitFor([] { return false; }, 200);
  EXPECT_EQ(c.ServerHandle(), s->Handle());
  EXPECT_TRUE(c.Connected());
  EXPECT_EQ(rejoins, 0);
  EXPECT_EQ(s->GetClientCount(), 1);
}

TEST(VexaIPCClientRejoin, AClientThatLeftOnRequestStaysOut) {
  vexa::test::TestSession session;
  TVexaIPCClient c("Chan");
  c.SetAutoRejoin(true);
  int rejoins = 0;
  c.OnRejoined = [&](plat::HWND) { ++rejoins; };
  auto s1 = Serve("Chan");
  ASSERT_TRUE(c.FindServer(5000) && c.Connect());
  EXPECT_TRUE(c.Disconnect());
  s1.reset();
  auto s2 = Serve("Chan");
  ASSERT_TRUE(c.WaitFor([&] { return c.ServerHandle() == s2->Handle(); }, 5000));
  c.WaitFor([] { return false; }, 100);
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(rejoins, 0);
  EXPECT_EQ(s2->GetClientCount(), 0);
}
