// labels: gui
// timeout: 120
// The notify server on a private X server without a tray host: its window is
// never hidden, since nothing would bring it back.
#include <gtest/gtest.h>

#include <fstream>

#include "framework/Forms.h"
#include "platform/shell/TrayIcon.h"
#include "server/MainServer.h"
#include "tests/gui/XvfbServer.h"
#include "tests/server/ServerHarness.h"

namespace vexa {
namespace {

class TestForm : public TFrmMainServer {
public:
  TestForm(fw::TComponent* AOwner, const std::string& Ini) : TFrmMainServer(AOwner) {
    FIniFileName = Ini;
  }
};

TEST(ServerTrayGui, WithoutATrayHostCloseMinimisesAndTheServerRunsOn) {
  test::TestSession session;
  test::XvfbServer xvfb;
  ASSERT_TRUE(xvfb.Running());
  ASSERT_FALSE(plat::NotifyAreaAvailable());
  const std::string ini = session.Root() + "/beaconhub.ini";
  std::ofstream(ini) << "[Server]\nPort=" << test::FreeTcpPort() << "\n";
  auto* form = fw::CreateFormOf<TestForm>(nullptr, ini);
  ASSERT_TRUE(test::ScreenPumpUntil([&] { return form->NetSocketServer1->Tag() == 1; }));
  EXPECT_TRUE(fw::Application->ShowMainForm());

  form->Show();
  form->Close1Click(form->Close1);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(plat::IsIconic(form->Handle()));
  plat::ShowWindow(form->Handle(), plat::SW_RESTORE);
  plat::SendMessage(form->Handle(), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(form->VexaIPCServer1->Active());
  EXPECT_EQ(form->NetSocketServer1->State(), wsListening);
  delete form;
}

}  // namespace
}  // namespace vexa
