// labels: unit
// Headless forms and the application object: posted private messages, timer
// ticks, closing, close requests by signal, escaped exceptions, dialogs.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "framework/Dialogs.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "tests/support/TestSession.h"

using namespace fw;

namespace {

VEXA_DECLARE_EXCEPTION(ETestFailure, Exception);

constexpr UINT WM_STARTUP = plat::WM_USER + 1;
constexpr UINT WM_CLIENTS = plat::WM_USER + 2;

class TMainForm : public TForm {
public:
  explicit TMainForm(TComponent* AOwner) : TForm(AOwner) {
    SetCaption("Main");
    OnCreate = [this](TObject*) { plat::PostMessage(Handle(), WM_STARTUP, 11, 22); };
    SetMessageHandler(WM_STARTUP, [this](TMessage& m) {
      Log.push_back("startup " + std::to_string(m.WParam) + " " + std::to_string(m.LParam));
      plat::PostMessage(Handle(), WM_CLIENTS, 3, 0);
    });
    SetMessageHandler(WM_CLIENTS, [this](TMessage& m) {
      Log.push_back("clients " + std::to_string(m.WParam));
      if (CloseOnClients) Close();
    });
    OnClose = [this](TObject*, TCloseAction& a) {
      Log.push_back("close");
      a = CloseAction;
    };
    // Runs while the form is still whole: the derived form is there to see.
    OnDestroy = [this](TObject* sender) {
      if (DestroyedFlag) *DestroyedFlag = dynamic_cast<TMainForm*>(sender) == this && !Log.empty();
    };
  }
  std::vector<std::string> Log;
  bool CloseOnClients = true;
  TCloseAction CloseAction = caFree;
  bool* DestroyedFlag = nullptr;
};

TMainForm* MainForm = nullptr;

}  // namespace

TEST(Forms, HeadlessFormGetsItsPostedPrivateMessagesFromTheRunningLoop) {
  vexa::test::TestSession session;
  EXPECT_FALSE(DisplayAvailable());
  EXPECT_EQ(Screen->Width(), 1024);
  EXPECT_EQ(Screen->Height(), 768);
  Application->Initialize();
  Application->SetTitle("Forms test");
  Application->CreateForm(MainForm);
  ASSERT_NE(MainForm, nullptr);
  EXPECT_EQ(Application->MainForm(), MainForm);
  EXPECT_TRUE(plat::IsWindow(MainForm->Handle()));
  EXPECT_FALSE(MainForm->Visible()) << "forms start hidden";
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(MainForm->Log, (std::vector<std::string>{"startup 11 22", "clients 3", "close"}));
  EXPECT_TRUE(MainForm->Visible()) << "Run showed the main form";
  bool destroyed = false;
  MainForm->DestroyedFlag = &destroyed;
  DoneApplication();
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST(Forms, TimerComponentTicksUntilDisabled) {
  vexa::test::TestSession session;
  Application->CreateForm(MainForm);
  MainForm->CloseOnClients = false;
  auto* timer = new TTimer(MainForm);
  EXPECT_TRUE(timer->Enabled());
  EXPECT_EQ(timer->Interval(), 1000u);
  timer->SetInterval(5);
  int ticks = 0;
  timer->SetOnTimer([&](TObject* sender) {
    EXPECT_EQ(sender, timer);
    if (++ticks == 3) {
      timer->SetEnabled(false);
      plat::PostMessage(MainForm->Handle(), plat::WM_CLOSE, 0, 0);
    }
  });
  Application->Run();
  EXPECT_EQ(ticks, 3);
  // A disabled timer does not tick any more.
  Application->ProcessMessages();
  plat::Sleep(30);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 3);
  DoneApplication();
}

TEST(Forms, CloseQueryAndCloseActionDecideWhatClosingDoes) {
  vexa::test::TestSession session;
  Application->CreateForm(MainForm);
  MainForm->CloseOnClients = false;
  bool allow = false;
  MainForm->OnCloseQuery = [&](TObject*, bool& can) { can = allow; };
  MainForm->Close();
  EXPECT_TRUE(MainForm->Log.empty()) << "a refused close query stops before OnClose";
  EXPECT_FALSE(Application->Terminated());
  allow = true;
  MainForm->CloseAction = caNone;
  MainForm->Close();
  EXPECT_FALSE(Application->Terminated());

  // A second form: caHide hides it, caFree frees it once the loop runs.
  TMainForm* second = nullptr;
  Application->CreateForm(second);
  second->CloseOnClients = false;
  second->Show();
  second->CloseAction = caHide;
  second->Close();
  EXPECT_FALSE(second->Visible());
  EXPECT_FALSE(Application->Terminated());
  bool destroyed = false;
  second->DestroyedFlag = &destroyed;
  // The release message alone, which any program may post, frees nothing.
  plat::SendMessage(second->Handle(), CM_RELEASE, 0, 0);
  EXPECT_FALSE(destroyed);
  second->CloseAction = caFree;
  int before = Application->ComponentCount();
  second->Close();
  EXPECT_FALSE(destroyed) << "freed only after the current message";
  Application->ProcessMessages();
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(Application->ComponentCount(), before - 1);
  // The main form with any action but caNone ends the application.
  MainForm->CloseAction = caHide;
  MainForm->Close();
  EXPECT_TRUE(Application->Terminated());
  DoneApplication();
}

TEST(Forms, TerminationSignalClosesTheMainForm) {
  vexa::test::TestSession session;
  Application->Initialize();
  Application->CreateForm(MainForm);
  MainForm->CloseOnClients = false;
  MainForm->SetMessageHandler(WM_CLIENTS, [](TMessage&) { kill(getpid(), SIGTERM); });
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  ASSERT_FALSE(MainForm->Log.empty());
  EXPECT_EQ(MainForm->Log.back(), "close") << "the close went through the form's own path";
  DoneApplication();
}

TEST(Forms, ExceptionEscapingAHandlerIsLoggedAndTheLoopGoesOn) {
  vexa::test::TestSession session;
  std::vector<std::string> debug;
  plat::SetDebugSink([&](const std::string& s) { debug.push_back(s); });
  Application->CreateForm(MainForm);
  MainForm->SetMessageHandler(WM_STARTUP, [](TMessage&) { throw ETestFailure("boom"); });
  MainForm->SetMessageHandler(plat::WM_USER + 3, [](TMessage&) { Abort(); });
  plat::PostMessage(MainForm->Handle(), plat::WM_USER + 3, 0, 0);
  plat::PostMessage(MainForm->Handle(), WM_CLIENTS, 1, 0);
  testing::internal::CaptureStderr();
  Application->Run();
  std::string err = testing::internal::GetCapturedStderr();
  plat::SetDebugSink(nullptr);
  EXPECT_EQ(debug, (std::vector<std::string>{"ETestFailure: boom"})) << "EAbort is silent";
  EXPECT_NE(err.find("ETestFailure: boom"), std::string::npos);
  EXPECT_EQ(MainForm->Log.back(), "close");

  // OnException replaces the default report.
  std::string seen;
  Application->OnException = [&](TObject* sender, const std::exception& e) {
    seen = std::string(e.what()) + (sender == MainForm ? " from form" : "");
  };
  MainForm->Perform(plat::WM_NULL, 0, 0);
  plat::PostMessage(MainForm->Handle(), WM_STARTUP, 0, 0);
  Application->ProcessMessages();
  EXPECT_EQ(seen, "boom from form");
  DoneApplication();
}

TEST(Dialogs, HeadlessMessageBoxPrintsAndAnswersItsDefaultButton) {
  testing::internal::CaptureStdout();
  int r = MessageBox(0, "Are you sure?\r\nReally?", "Shutdown",
                     MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON2);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(r, IDNO);
  EXPECT_EQ(out, "[Shutdown] Are you sure?\nReally? Yes [No] Cancel\n");
  EXPECT_EQ(MessageBox(0, "x", "c", MB_OK), IDOK);
  EXPECT_EQ(MessageBox(0, "x", "c", MB_YESNO | MB_DEFBUTTON3), IDYES) << "out of range: first";
  EXPECT_EQ(MessageDlg("m", mtConfirmation, mbYesNoCancel), mrYes);
  EXPECT_EQ(MessageDlg("m", mtWarning, mbOKCancel), mrOk);
  EXPECT_EQ(MessageDlg("m", mtError, TMsgDlgButtons{mbAbort, mbIgnore}), mrAbort);
}

TEST(Dialogs, ScriptedResponderAnswersAndSeesTheQuestion) {
  std::vector<TDialogRequest> asked;
  SetDialogResponder([&](const TDialogRequest& r) {
    asked.push_back(r);
    return r.Kind == TDialogRequest::MessageBox ? IDYES : 0;
  });
  testing::internal::CaptureStdout();
  EXPECT_EQ(MessageBox(0, "Exit?", "Notify Server", MB_YESNOCANCEL), IDYES);
  EXPECT_EQ(MessageDlg("Saved.", mtInformation, TMsgDlgButtons{mbOK}), mrOk) << "0 means default";
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].Text, "Exit?");
  EXPECT_EQ(asked[0].Caption, "Notify Server");
  EXPECT_EQ(asked[0].DefaultAnswer, IDYES);
  EXPECT_EQ(asked[1].Caption, "Information");
  SetDialogResponder(nullptr);
}

TEST(Dialogs, HeadlessModalFormPrintsWhatItAsksAndAnswersCancel) {
  vexa::test::TestSession session;
  auto* dlg = CreateFormOf<TForm>(nullptr);
  dlg->SetCaption("Gateway Settings");
  auto* label = new TLabel(dlg);
  label->SetParent(dlg);
  label->SetCaption("Notify server address:");
  auto* edit = new TEdit(dlg);
  edit->SetParent(dlg);
  testing::internal::CaptureStdout();
  EXPECT_EQ(dlg->ShowModal(), mrCancel);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("[Gateway Settings] Notify server address:"), std::string::npos) << out;

  // A responder may fill in the form and accept it.
  SetDialogResponder([&](const TDialogRequest& r) {
    EXPECT_EQ(r.Form, dlg);
    edit->SetText("10.1.2.3");
    return mrOk;
  });
  testing::internal::CaptureStdout();
  EXPECT_EQ(dlg->ShowModal(), mrOk);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(dlg->ModalResult(), mrOk);
  EXPECT_EQ(edit->Text(), "10.1.2.3");
  SetDialogResponder(nullptr);
  delete dlg;
}

TEST(Forms, UtilityWindowCallsItsProcedure) {
  vexa::test::TestSession session;
  int got = 0;
  HWND h = AllocateHWnd(TWndMethod([&](TMessage& m) {
    if (m.Msg == plat::WM_USER + 9) {
      got = m.WParam;
      m.Result = 77;
    } else {
      m.Result = plat::DefWindowProc(0, m.Msg, m.WParam, m.LParam);
    }
  }));
  ASSERT_NE(h, 0u);
  EXPECT_EQ(plat::SendMessage(h, plat::WM_USER + 9, 5, 0), 77);
  EXPECT_EQ(got, 5);
  EXPECT_FALSE(plat::IsWindowVisible(h));
  DeallocateHWnd(h);
  EXPECT_FALSE(plat::IsWindow(h));
}
