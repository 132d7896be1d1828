// labels: gui
// timeout: 120
// The gateway on a private X server without a tray host: its window is never
// hidden, since nothing would bring it back.
#include <gtest/gtest.h>

#include <cstdio>

#include "framework/Forms.h"
#include "gateway/MainGateway.h"
#include "gateway/KWVReg.h"
#include "platform/shell/TrayIcon.h"
#include "tests/gui/XvfbServer.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

TEST(GatewayTrayGui, WithoutATrayHostCloseMinimisesTheWindow) {
  test::TestSession session;
  test::XvfbServer xvfb;
  ASSERT_TRUE(xvfb.Running());
  ASSERT_FALSE(plat::NotifyAreaAvailable());
  std::remove(TFrmGatewayMain::IniFileName().c_str());
  WriteProviderSettings("Gui", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  SetGatewayArguments({"Gui"});
  auto* form = fw::CreateFormOf<TFrmGatewayMain>(fw::Application);
  EXPECT_TRUE(fw::Application->ShowMainForm());
  form->Show();
  form->Close1Click(form->Close1);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(plat::IsIconic(form->Handle()));
  delete form;
  std::remove(TFrmGatewayMain::IniFileName().c_str());
}

}  // namespace
}  // namespace vexa
