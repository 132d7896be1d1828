// labels: integration
// The gateway's main form and settings dialog in this process, without a display.
#include "gateway/MainGateway.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "framework/Dialogs.h"
#include "framework/SysUtils.h"
#include "gateway/KWVReg.h"
#include "gateway/ProviderSettings.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

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
  ASSERT_EQ(Form->DisplayMemo->Lines()->Count(), 152);
  EXPECT_EQ(Form->DisplayMemo->Lines()->Strings(0), "line 51");
  EXPECT_EQ(Form->DisplayMemo->Lines()->Strings(151), "line 202");
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

}  // namespace
}  // namespace vexa
