// labels: integration
// The gateway's main form and settings dialog in this process, without a display.
#include "gateway/MainGateway.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "clients/VexaIPCClient.h"
#include "components/KitStatusBar.h"
#include "components/KitTrayIcon.h"
#include "framework/Dialogs.h"
#include "framework/SysUtils.h"
#include "gateway/KWVReg.h"
#include "gateway/ProviderSettings.h"
#include "platform/shell/TrayIcon.h"
#include "tests/gateway/ScriptedServer.h"
#include "tests/support/AppPump.h"
#include "tests/support/Pixels.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using test::SpotOf;

// The form keeps its INI file beside this test program, which every case of
// this program shares: cases take turns, each starting without the file.
class IniTurn {
public:
  IniTurn() {
    FFd = ::open((TFrmGatewayMain::IniFileName() + ".lock").c_str(), O_CREAT | O_RDWR, 0600);
    if (FFd >= 0) ::flock(FFd, LOCK_EX);
    std::remove(TFrmGatewayMain::IniFileName().c_str());
  }
  ~IniTurn() {
    std::remove(TFrmGatewayMain::IniFileName().c_str());
    if (FFd >= 0) ::close(FFd);
  }

private:
  int FFd = -1;
};

class MainGatewayTest : public ::testing::Test {
protected:
  IniTurn Turn;
  test::TestSession Session;
  TFrmGatewayMain* Form = nullptr;
  std::vector<fw::TDialogRequest> Requests;

  void Make(std::vector<std::string> args) {
    SetGatewayArguments(std::move(args));
    Form = fw::CreateFormOf<TFrmGatewayMain>(fw::Application);
  }
  void TearDown() override {
    fw::SetDialogResponder(nullptr);
    delete Form;
  }
  void Respond(std::function<int(TFrmProviderSettings*)> answer) {
    fw::SetDialogResponder([this, answer](const fw::TDialogRequest& r) {
      Requests.push_back(r);
      auto* dialog = dynamic_cast<TFrmProviderSettings*>(r.Form);
      return dialog ? answer(dialog) : 0;
    });
  }
};

TEST_F(MainGatewayTest, ChannelComesFromTheFirstArgumentTrimmed) {
  WriteProviderSettings("Lab 2", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Make({"  Lab 2 ", "ignored"});
  EXPECT_EQ(Form->Caption(), "VEXA Notify Client Gateway - [Lab 2]");
  EXPECT_EQ(Form->VexaNotifyProvider1->ProviderChannel(), "Lab 2");
  EXPECT_TRUE(Form->VexaNotifyProvider1->Active());
}

TEST_F(MainGatewayTest, ChannelInDoubleQuotesIsTheNameInside) {
  WriteProviderSettings("Lab", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Make({"\"Lab\""});
  EXPECT_EQ(Form->Caption(), "VEXA Notify Client Gateway - [Lab]");
  EXPECT_TRUE(Form->VexaNotifyProvider1->Active());
}

TEST_F(MainGatewayTest, NoArgumentOrOnlyBlanksMeansDefault) {
  Respond([](TFrmProviderSettings*) { return fw::mrCancel; });
  Make({"   "});
  EXPECT_EQ(Form->Caption(), "VEXA Notify Client Gateway - [Default]");
  delete Form;
  Form = nullptr;
  Make({});
  EXPECT_EQ(Form->Caption(), "VEXA Notify Client Gateway - [Default]");
}

TEST_F(MainGatewayTest, TraceMemoDropsFiftyLinesOnceItHoldsMoreThanTwoHundred) {
  WriteProviderSettings("Default", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Make({});
  Form->ClearLog1Click(Form);
  EXPECT_EQ(Form->DisplayMemo->Lines()->Count(), 0);
  for (int i = 1; i <= 201; ++i) Form->AddTraceLine(Form, "line " + std::to_string(i));
  EXPECT_EQ(Form->DisplayMemo->Lines()->Count(), 201);
  Form->AddTraceLine(Form, "line 202");
  EXPECT_EQ(Form->DisplayMemo->Lines()->Count(), 152);
}

TEST_F(MainGatewayTest, MissingSettingsOpenTheDialogAndCancelLeavesTheGatewayInactive) {
  Respond([](TFrmProviderSettings* d) {
    EXPECT_EQ(d->lblProviderName->Caption(), "Nowhere");
    EXPECT_EQ(d->updPort->Position(), 5500);
    return fw::mrCancel;
  });
  Make({"Nowhere"});
  ASSERT_EQ(Requests.size(), 1u);
  EXPECT_FALSE(Form->VexaNotifyProvider1->Active());
  EXPECT_EQ(FrmProviderSettings, nullptr);
}

TEST_F(MainGatewayTest, CancellingWhilePollingStopsTheGateway) {
  WriteProviderSettings("Poll", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Make({"Poll"});
  ASSERT_TRUE(Form->VexaNotifyProvider1->Active());
  Respond([](TFrmProviderSettings* d) {
    EXPECT_EQ(d->edtIP->Text(), "127.0.0.1");
    return fw::mrCancel;
  });
  Form->ProviderSettings1Click(Form);
  EXPECT_FALSE(Form->VexaNotifyProvider1->Active());
  EXPECT_FALSE(Form->VexaNotifyProvider1->PollTimerExists());
}

TEST_F(MainGatewayTest, OkStoresTheValuesAndEmptyOnesBringTheDialogBack) {
  int round = 0;
  Respond([&round](TFrmProviderSettings* d) {
    ++round;
    if (round == 1) {
      d->edtIP->SetText("");  // unusable: the dialog comes again
      return fw::mrOk;
    }
    d->edtIP->SetText("127.0.0.1");
    d->edtPort->SetText("4321");
    return fw::mrOk;
  });
  Make({"Fresh"});
  EXPECT_EQ(round, 2);
  std::string address, port;
  ASSERT_TRUE(ReadProviderSettings("Fresh", address, port));
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_EQ(port, "4321");
  EXPECT_TRUE(Form->VexaNotifyProvider1->Active());
  EXPECT_EQ(Form->VexaNotifyProvider1->NotifyServerPort(), 4321);
}

TEST_F(MainGatewayTest, StatusShowsConnectingThenConnectedUntilABadGreetingClosesTheSession) {
  std::atomic<bool> greet{false};
  test::ScriptedServer server({[&greet](test::ScriptedConnection& c) {
                           while (!greet) c.Pause(5);
                           c.Send("Hello there\r\n");
                           c.HoldOpen();
                         },
                         [](test::ScriptedConnection& c) { c.HoldOpen(); }});
  WriteProviderSettings("Stat", "127.0.0.1", std::to_string(server.Port()));
  Make({"Stat"});
  EXPECT_EQ(Form->PanelText(0), " Local Clients:  None");
  EXPECT_EQ(Form->PanelText(1), "Notify Server:  Connecting");
  EXPECT_EQ(Form->PanelText(2), "127.0.0.1:" + std::to_string(server.Port()) + "   ");
  EXPECT_EQ(Form->TrayIconIndex(), 0);
  EXPECT_EQ(SpotOf(Form->KitTrayIcon1->Icon()), fw::clRed);
  plat::NOTIFYICONDATA d;
  ASSERT_TRUE(plat::GetNotifyIconRecord(Form->KitTrayIcon1->IconWindow(), 0, &d));
  EXPECT_EQ(std::string(d.szTip), "VEXA Notify Client Gateway");

  ASSERT_TRUE(
      test::AppPumpUntil([&] { return Form->PanelText(1) == " Notify Server:  Connected"; }));
  EXPECT_EQ(Form->TrayIconIndex(), 2);
  EXPECT_EQ(SpotOf(Form->KitTrayIcon1->Icon()), fw::clLime);
  greet = true;
  ASSERT_TRUE(
      test::AppPumpUntil([&] { return Form->PanelText(1) == " Notify Server:  Disconnected"; }));
  EXPECT_EQ(Form->TrayIconIndex(), 0);
  EXPECT_EQ(SpotOf(Form->KitTrayIcon1->Icon()), fw::clRed);
}

TEST_F(MainGatewayTest, SettingsOkShowsConnectingAndCancelWhileDownShowsDisconnected) {
  WriteProviderSettings("Dlg", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Make({"Dlg"});
  const int port = test::FreeTcpPort();
  Respond([port](TFrmProviderSettings* d) {
    d->edtIP->SetText("127.0.0.1");
    d->edtPort->SetText(std::to_string(port));
    return fw::mrOk;
  });
  Form->ProviderSettings1Click(Form);
  EXPECT_EQ(Form->PanelText(1), "Notify Server:  Connecting");
  EXPECT_EQ(Form->TrayIconIndex(), 1);
  EXPECT_EQ(SpotOf(Form->KitTrayIcon1->Icon()), fw::clYellow);
  EXPECT_EQ(Form->PanelText(2), "127.0.0.1:" + std::to_string(port) + "   ");

  Respond([](TFrmProviderSettings*) { return fw::mrCancel; });
  Form->ProviderSettings1Click(Form);
  EXPECT_EQ(Form->PanelText(1), "Notify Server:  Disconnected");
  EXPECT_EQ(Form->TrayIconIndex(), 0);
}

TEST_F(MainGatewayTest, LocalClientCountFollowsClientsAndNeverReturnsToNone) {
  WriteProviderSettings("Cnt", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Make({"Cnt"});
  EXPECT_EQ(Form->PanelText(0), " Local Clients:  None");
  TVexaIPCClient a("Cnt"), b("Cnt");
  ASSERT_TRUE(a.FindServer(5000) && a.Connect());
  ASSERT_TRUE(b.FindServer(5000) && b.Connect());
  EXPECT_TRUE(test::AppPumpUntil([&] { return Form->PanelText(0) == " Local Clients:  2"; }));
  a.Disconnect();
  b.Disconnect();
  EXPECT_TRUE(test::AppPumpUntil([&] { return Form->PanelText(0) == " Local Clients:  0"; }));
}

TEST_F(MainGatewayTest, CloseHidesTheFormAndShutdownEndsTheProgramOnlyWhenConfirmed) {
  WriteProviderSettings("Bye", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  SetGatewayArguments({"Bye"});
  fw::Application->CreateForm(Form);
  Form->Show();
  plat::SendMessage(Form->Handle(), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
  EXPECT_FALSE(Form->Visible());
  EXPECT_FALSE(fw::Application->Terminated());
  plat::PostMessage(Form->KitTrayIcon1->IconWindow(), WM_KITTRAYNOTIFY, 0, plat::WM_LBUTTONUP);
  EXPECT_TRUE(test::AppPumpUntil([&] { return Form->Visible(); }));

  std::vector<int> answers = {fw::mrNo, fw::mrCancel, fw::mrYes};
  fw::SetDialogResponder([&](const fw::TDialogRequest& r) {
    Requests.push_back(r);
    return answers[Requests.size() - 1];
  });
  Form->Shutdown1Click(Form);
  Form->Shutdown1Click(Form);
  ASSERT_EQ(Requests.size(), 2u);
  EXPECT_EQ(Requests[0].Text,
            "Closing VEXA Client Gateway will stop real time updates on this workstation.\r\n"
            "Are you sure you want to exit?");
  EXPECT_EQ(Requests[0].DlgType, fw::mtWarning);
  EXPECT_TRUE(Requests[0].Buttons == fw::mbYesNoCancel);
  EXPECT_FALSE(fw::Application->Terminated());
  EXPECT_TRUE(Form->KitTrayIcon1->NoClose());

  Form->Shutdown1Click(Form);
  EXPECT_EQ(Requests.size(), 3u);
  EXPECT_FALSE(Form->KitTrayIcon1->NoClose());
  EXPECT_TRUE(fw::Application->Terminated());
}

TEST_F(MainGatewayTest, StateIconsDifferOnlyInTheColourOfTheSameSpot) {
  WriteProviderSettings("Ico", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Make({"Ico"});
  ASSERT_EQ(Form->KitGraphicList1->Graphics()->Count(), 3);
  fw::TBitmap pictures[3];
  for (int i = 0; i < 3; ++i) {
    fw::TPicture* picture = Form->KitGraphicList1->Graphics()->GetItem(i)->Picture();
    ASSERT_EQ(picture->Width(), 16);
    ASSERT_EQ(picture->Height(), 16);
    pictures[i].SetSize(16, 16);
    pictures[i].Canvas()->Draw(0, 0, picture->Graphic());
  }
  const fw::TColor spot[3] = {fw::clRed, fw::clYellow, fw::clLime};
  int differing = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      fw::TColor c[3];
      for (int i = 0; i < 3; ++i) c[i] = static_cast<fw::TColor>(fw::ColorToRGB(pictures[i].Canvas()->Pixels(x, y)));
      if (c[0] == c[1] && c[1] == c[2]) continue;
      ++differing;
      for (int i = 0; i < 3; ++i) EXPECT_EQ(c[i], spot[i]) << "icon " << i << " at " << x << "," << y;
    }
  }
  EXPECT_EQ(differing, 29);
}

}  // namespace
}  // namespace vexa
