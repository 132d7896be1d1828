// labels: integration
// The provider settings dialog opened from the gateway's main form, without a
// display: what OK writes back to the channel's registry key, and where the
// dialog stands.
#include "gateway/ProviderSettings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "framework/Dialogs.h"
#include "gateway/KWVReg.h"
#include "gateway/MainGateway.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

class ProviderSettingsTest : public ::testing::Test {
protected:
  test::TestSession Session;
  TFrmGatewayMain* Form = nullptr;

  void SetUp() override { std::remove(TFrmGatewayMain::IniFileName().c_str()); }
  void TearDown() override {
    fw::SetDialogResponder(nullptr);
    if (Form) fw::Free(Form);
    std::remove(TFrmGatewayMain::IniFileName().c_str());
  }
  // The gateway's form as the program makes it: the application's main form.
  void Make(const std::string& channel) {
    SetGatewayArguments({channel});
    fw::Application->CreateForm(Form);
  }
  // Answers the settings dialog with what the callback returns.
  void Respond(std::function<int(TFrmProviderSettings*)> answer) {
    fw::SetDialogResponder([answer](const fw::TDialogRequest& r) {
      auto* dialog = dynamic_cast<TFrmProviderSettings*>(r.Form);
      return dialog ? answer(dialog) : 0;
    });
  }
};

// Ports above 32000 are ordinary TCP ports: the dialog must show and write
// back the stored one, not a clamped value that loses the server.
TEST_F(ProviderSettingsTest, OkKeepsAStoredPortAbove32000) {
  WriteProviderSettings("High", "127.0.0.1", "36313");
  Make("High");
  std::string shown;
  int position = 0;
  Respond([&](TFrmProviderSettings* d) {
    shown = d->edtPort->Text();
    position = d->updPort->Position();
    return fw::mrOk;
  });
  Form->ProviderSettings1Click(Form);
  EXPECT_EQ(shown, "36313");
  EXPECT_EQ(position, 36313);
  std::string address, port;
  ASSERT_TRUE(ReadProviderSettings("High", address, port));
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_EQ(port, "36313");
  EXPECT_EQ(Form->VexaNotifyProvider1->NotifyServerPort(), 36313);

  // The highest port also survives; a number beyond any port is held at it.
  WriteProviderSettings("High", "127.0.0.1", "65535");
  Form->ProviderSettings1Click(Form);
  EXPECT_EQ(shown, "65535");
  ASSERT_TRUE(ReadProviderSettings("High", address, port));
  EXPECT_EQ(port, "65535");
  WriteProviderSettings("High", "127.0.0.1", "70000");
  Form->ProviderSettings1Click(Form);
  EXPECT_EQ(shown, "65535");
}

TEST_F(ProviderSettingsTest, DialogStandsCentredOnTheMainFormWithItsFixedClientArea) {
  WriteProviderSettings("Place", "127.0.0.1", "5501");
  Make("Place");
  Form->SetBounds(100, 200, 606, 162);
  int left = -1, top = -1, width = 0, height = 0, clientW = 0, clientH = 0;
  Respond([&](TFrmProviderSettings* d) {
    left = d->Left();
    top = d->Top();
    width = d->Width();
    height = d->Height();
    clientW = d->ClientWidth();
    clientH = d->ClientHeight();
    EXPECT_EQ(d->Caption(), "VEXA Client Gateway Settings");
    EXPECT_EQ(d->FormStyle(), fw::fsStayOnTop);
    EXPECT_EQ(d->BorderStyle(), fw::bsDialog);
    EXPECT_TRUE(d->lblProviderName->Font()->Style().Contains(fw::fsBold));
    EXPECT_TRUE(d->Label4->Font()->Style().Contains(fw::fsBold));
    EXPECT_FALSE(d->Label5->Font()->Style().Contains(fw::fsBold));
    return fw::mrCancel;
  });
  Form->ProviderSettings1Click(Form);
  EXPECT_EQ(clientW, 248);
  EXPECT_EQ(clientH, 171);
  EXPECT_EQ(left, 100 + (606 - width) / 2);
  EXPECT_EQ(top, 200 + (162 - height) / 2);
}

}  // namespace
}  // namespace vexa
