#include "gateway/MainGateway.h"

#include <cstdio>

#include "components/KitMainForm.h"
#include "components/KitStatusBar.h"
#include "components/KitTrayIcon.h"
#include "components/kitimage.h"
#include "framework/Dialogs.h"
#include "framework/Graphics.h"
#include "framework/IniFiles.h"
#include "framework/ScopeGuard.h"
#include "framework/SysUtils.h"
#include "gateway/KWVReg.h"
#include "gateway/ProviderSettings.h"
#include "platform/gdi/Gdi.h"
#include "platform/shell/TrayIcon.h"
#include "shared/LogMemo.h"
#include "shared/VexaInst.h"

namespace vexa {

namespace {

std::vector<std::string>& Arguments() {
  static std::vector<std::string> args;
  return args;
}

// Fixed notify server address of the form data; it counts only while the
// registry holds no key for the channel, and then the port 0 makes it unusable.
const char* const DesignNotifyServerAddress = "127.0.0.1";

fw::TMenuItem* MenuItem(fw::TComponent* owner, fw::TMenuItem* parent, const std::string& caption) {
  auto* item = new fw::TMenuItem(owner);
  item->SetCaption(caption);
  parent->Add(item);
  return item;
}

constexpr const char* kShutdownQuestion =
    "Closing VEXA Client Gateway will stop real time updates on this workstation.\r\n"
    "Are you sure you want to exit?";


}  // namespace

void SetGatewayArguments(std::vector<std::string> Arguments_) { Arguments() = std::move(Arguments_); }
const std::vector<std::string>& GatewayArguments() { return Arguments(); }

TFrmGatewayMain::TFrmGatewayMain(fw::TComponent* AOwner) : fw::TForm(AOwner) {
  SetName("FrmGatewayMain");
  SetCaption("VEXA Notify Client Gateway");
  SetBounds(Left(), Top(), 606, 162);
  SetPosition(fw::poDefault);
  SetBorderStyle(fw::bsSizeable);
  SetBorderIcons(fw::TBorderIcons{fw::biSystemMenu});
  SetColor(fw::TColor(0xEBFFFF));  // a pale cream: red 255, green 255, blue 235

  // The trace reads as part of the window: no border, the form's colour.
  DisplayMemo = new fw::TMemo(this);
  DisplayMemo->SetName("DisplayMemo");
  DisplayMemo->SetParent(this);
  DisplayMemo->SetAlign(fw::alClient);
  DisplayMemo->SetReadOnly(true);
  DisplayMemo->SetBorderStyle(fw::bsNone);
  DisplayMemo->SetColor(Color());

  Panel1 = new fw::TPanel(this);
  Panel1->SetName("Panel1");
  Panel1->SetParent(this);
  Panel1->SetAlign(fw::alTop);
  Panel1->SetHeight(33);
  Panel1->SetVisible(false);
  chkDisplay = new fw::TCheckBox(this);
  chkDisplay->SetName("chkDisplay");
  chkDisplay->SetParent(Panel1);
  chkDisplay->SetCaption("Display Trace");
  chkDisplay->SetChecked(true);

  VexaNotifyProvider1 = new TVexaNotifyProvider(this);
  VexaNotifyProvider1->SetName("VexaNotifyProvider1");
  VexaNotifyProvider1->SetNotifyServerAddress(DesignNotifyServerAddress);
  VexaNotifyProvider1->SetNotifyServerPort(0);
  VexaNotifyProvider1->PollDuration = 0;
  VexaNotifyProvider1->SetPollInterval(10);
  VexaNotifyProvider1->SetStoreGatewayLocation(true);
  VexaNotifyProvider1->SetProviderChannel("Default");
  VexaNotifyProvider1->OnNotifyServerConnect = [this](fw::TObject* s) { VexaNotifyProvider1NotifyServerConnect(s); };
  VexaNotifyProvider1->OnNotifyServerDisconnect = [this](fw::TObject* s) {
    VexaNotifyProvider1NotifyServerDisconnect(s);
  };
  VexaNotifyProvider1->OnNotifyServerConnectFailed = [this](fw::TObject* s) {
    VexaNotifyProvider1NotifyServerConnectFailed(s);
  };
  VexaNotifyProvider1->OnProviderSettingsNotFound = [this](fw::TObject* s) {
    VexaNotifyProvider1ProviderSettingsNotFound(s);
  };
  VexaNotifyProvider1->OnClientConnecting = [this](plat::HWND h, bool& accept) {
    VexaNotifyProvider1ClientConnecting(h, accept);
  };
  VexaNotifyProvider1->OnClientDisconnecting = [this](plat::HWND h) { VexaNotifyProvider1ClientDisconnecting(h); };

  MainMenu1 = new fw::TMainMenu(this);
  MainMenu1->SetName("MainMenu1");
  File1 = MenuItem(this, MainMenu1->Items(), "&File");
  Close1 = MenuItem(this, File1, "&Close");
  N1 = MenuItem(this, File1, "-");
  Shutdown1 = MenuItem(this, File1, "&Shutdown Client Gateway");
  View1 = MenuItem(this, MainMenu1->Items(), "&View");
  ClearLog1 = MenuItem(this, View1, "&Clear Log");
  ProviderSettings1 = MenuItem(this, View1, "&Provider Settings");
  Close1->OnClick = [this](fw::TObject* s) { Close1Click(s); };
  Shutdown1->OnClick = [this](fw::TObject* s) { Shutdown1Click(s); };
  ClearLog1->OnClick = [this](fw::TObject* s) { ClearLog1Click(s); };
  ProviderSettings1->OnClick = [this](fw::TObject* s) { ProviderSettings1Click(s); };

  VexaInstallMutex1 = new TVexaInstallMutex(this);
  VexaInstallMutex1->SetProductName("Lumidex");

  KitGraphicList1 = MakeStateIcons(
      this, fw::clBlack, true,
      {{"NotConnected", fw::clRed}, {"Connecting", fw::clYellow}, {"Connected", fw::clLime}});

  KitStatusBar1 =
      MakeStatusBar(this, {{150, " Local Clients:  None"}, {180, " Notify Server:  "}, {0, ""}});

  // The tray icon keeps the program running while its window is hidden: a
  // close request hides the form, only the shutdown command ends it.
  KitTrayIcon1 = new TKitTrayIcon(this);
  KitTrayIcon1->SetName("KitTrayIcon1");
  KitTrayIcon1->SetNoClose(true);
  KitTrayIcon1->SetHint("VEXA Notify Client Gateway");
  KitTrayIcon1->OnClick = [this](fw::TObject* s) { KitTrayIcon1Click(s); };

  SetMessageHandler(WM_GATEWAY_CLIENTCOUNT, [this](fw::TMessage&) { StatusClientCount(); });
  OnCreate = [this](fw::TObject* s) { FormCreate(s); };
  OnClose = [this](fw::TObject* s, fw::TCloseAction& a) { FormClose(s, a); };
}

TFrmGatewayMain::~TFrmGatewayMain() {
  // The base destructor would fire OnDestroy when this part of the form is
  // gone already, so the form's end runs here, while all of it is alive.
  FDestroying = true;
  OnDestroy = nullptr;
  if (!FDestroyed) FormDestroy(this);
  // The provider shuts its session and local channel down while the handlers
  // it calls can still reach the memo; afterwards it calls nothing of the form.
  VexaNotifyProvider1->SetActive(false);
  VexaNotifyProvider1->OnTrace = nullptr;
  VexaNotifyProvider1->OnNotifyServerConnect = nullptr;
  VexaNotifyProvider1->OnNotifyServerDisconnect = nullptr;
  VexaNotifyProvider1->OnNotifyServerConnectFailed = nullptr;
  VexaNotifyProvider1->OnProviderSettingsNotFound = nullptr;
  VexaNotifyProvider1->OnClientConnecting = nullptr;
  VexaNotifyProvider1->OnClientDisconnecting = nullptr;
}

std::string TFrmGatewayMain::IniFileName() {
  std::string exe = fw::ParamStr0();
  return fw::ChangeFileExt(exe, ".ini");
}

void TFrmGatewayMain::FormCreate(fw::TObject*) {
  SetTrayIcon(0);
  LoadSaveSettings(false);

  std::string channel;
  if (!GatewayArguments().empty()) channel = fw::Trim(GatewayArguments()[0]);
  // A channel given in double quotes (as Params stores it) is the name inside them.
  if (channel.size() >= 2 && channel.front() == '"' && channel.back() == '"') {
    channel = fw::Trim(channel.substr(1, channel.size() - 2));
  }
  VexaNotifyProvider1->SetProviderChannel(channel);
  SetCaption(Caption() + " - [" + VexaNotifyProvider1->ProviderChannel() + "]");
  VexaNotifyProvider1->OnTrace = [this](fw::TObject* s, const std::string& t) { AddTraceLine(s, t); };
  StatusStartup();
  VexaNotifyProvider1->SetActive(true);
  StatusServerAddress();
}

void TFrmGatewayMain::FormDestroy(fw::TObject*) {
  FDestroyed = true;
  LoadSaveSettings(true);
}

void TFrmGatewayMain::FormClose(fw::TObject*, fw::TCloseAction& Action) {
  // Closing the window only hides it; the program runs on in the notification area.
  Action = fw::caHide;
}

void TFrmGatewayMain::LoadSaveSettings(bool Save) {
  // A file that could not be read is not written either: the operator's
  // values stay in it.
  if (Save && FSettingsUnreadable) return;
  try {
    fw::TIniFile ini(IniFileName());
    if (Save) {
      ini.WriteInteger("MainWindow", "Width", Width());
      ini.WriteInteger("MainWindow", "Height", Height());
      ini.WriteInteger("MainWindow", "Top", Top());
      ini.WriteInteger("MainWindow", "Left", Left());
      ini.WriteInteger("Connection Polling", "Duration", VexaNotifyProvider1->PollDuration);
      ini.WriteInteger("Connection Polling", "Interval", VexaNotifyProvider1->PollInterval());
      return;
    }
    if (const std::string problem = ini.ReadProblem(); !problem.empty()) {
      FSettingsUnreadable = true;
      AddTraceLine(this, "Settings file " + IniFileName() + " " + problem +
                             ": the gateway runs on its defaults and leaves the file as it is");
    }
    int32_t w = ini.ReadInteger("Main Gateway Window", "Width", Width());
    int32_t h = ini.ReadInteger("Main Gateway Window", "Height", Height());
    int32_t t = ini.ReadInteger("Main Gateway Window", "Top", Top());
    int32_t l = ini.ReadInteger("Main Gateway Window", "Left", Left());
    const int32_t sw = fw::Screen->Width();
    const int32_t sh = fw::Screen->Height();
    if (w > sw) w = sw;
    if (h > sh) h = sh;
    if (t < 0) {
      t = 0;
    } else if (t + h > sh) {
      t = sh - h;
    }
    if (l < 0) {
      l = 0;
    } else if (l + w > sw) {
      l = sw - w;
    }
    SetBounds(l, t, w, h);
    VexaNotifyProvider1->PollDuration =
        ini.ReadInteger("Connection Polling", "Duration", VexaNotifyProvider1->PollDuration);
    VexaNotifyProvider1->SetPollInterval(
        ini.ReadInteger("Connection Polling", "Interval", VexaNotifyProvider1->PollInterval()));
    // What one local client, and all of them together, may have waiting
    // before one is let go; a missing or non-positive value means the default.
    const auto kb = [&ini](const char* key, uint32_t fallback) {
      const int32_t v = ini.ReadInteger("Client", key, 0);
      return v > 0 ? static_cast<uint32_t>(v) : fallback;
    };
    VexaNotifyProvider1->MaxClientBacklogKB =
        kb("MaxBacklogKB", TVexaNotifyProvider::DefaultMaxClientBacklogKB);
    VexaNotifyProvider1->MaxTotalBacklogKB =
        kb("MaxTotalBacklogKB", TVexaNotifyProvider::DefaultMaxTotalBacklogKB);
  } catch (const fw::EIniFileException&) {
    // The first write that fails ends the saving: one line says so.
    AddTraceLine(this,
                 "Settings file " + IniFileName() + " cannot be written: it is left as it is");
  }
}

void TFrmGatewayMain::AddTraceLine(fw::TObject*, const std::string& Text) {
  if (!fw::DisplayAvailable()) {
    std::fputs((Text + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
  if (!DisplayMemo || !chkDisplay || !chkDisplay->Checked()) return;
  AddLogLine(DisplayMemo->Lines(), Text, 200);
}

void TFrmGatewayMain::VexaNotifyProvider1NotifyServerConnect(fw::TObject*) { StatusConnected(); }

void TFrmGatewayMain::VexaNotifyProvider1NotifyServerDisconnect(fw::TObject*) {
  if (!FDestroying) StatusDisconnected();
  AddTraceLine(this, "Disconnected from notify server");
}

void TFrmGatewayMain::VexaNotifyProvider1NotifyServerConnectFailed(fw::TObject*) {}

void TFrmGatewayMain::VexaNotifyProvider1ProviderSettingsNotFound(fw::TObject*) { ShowProviderSettings(); }

void TFrmGatewayMain::VexaNotifyProvider1ClientConnecting(plat::HWND, bool&) {
  if (!FDestroying) plat::PostMessage(Handle(), WM_GATEWAY_CLIENTCOUNT, 0, 0);
}

void TFrmGatewayMain::VexaNotifyProvider1ClientDisconnecting(plat::HWND) {
  if (!FDestroying) plat::PostMessage(Handle(), WM_GATEWAY_CLIENTCOUNT, 0, 0);
}

void TFrmGatewayMain::Close1Click(fw::TObject*) {
  // Hidden, the form comes back through a click on the tray icon. Where the
  // desktop shows no tray icon, the form goes down to its own icon instead,
  // so the program never runs without an icon or a window.
  if (plat::NotifyAreaAvailable()) {
    Hide();
  } else {
    SetWindowState(fw::wsMinimized);
  }
}

void TFrmGatewayMain::Shutdown1Click(fw::TObject*) {
  if (fw::MessageDlg(kShutdownQuestion, fw::mtWarning, fw::mbYesNoCancel) != fw::mrYes) return;
  KitTrayIcon1->SetNoClose(false);
  Close();
}

void TFrmGatewayMain::KitTrayIcon1Click(fw::TObject*) {
  Show();
  fw::Application->BringToFront();
}

void TFrmGatewayMain::ClearLog1Click(fw::TObject*) { DisplayMemo->Clear(); }

void TFrmGatewayMain::ProviderSettings1Click(fw::TObject*) { ShowProviderSettings(); }

void TFrmGatewayMain::ShowProviderSettings() {
  const std::string channel = VexaNotifyProvider1->ProviderChannel();
  // An OK with unusable values reactivates the provider, which opens the
  // dialog again from inside this one; each call frees its own dialog.
  TFrmProviderSettings* dialog = nullptr;
  auto finish = fw::Finally([&] {
    delete dialog;
    if (FrmProviderSettings == dialog) FrmProviderSettings = nullptr;
    StatusServerAddress();
  });
  dialog = fw::CreateFormOf<TFrmProviderSettings>(fw::Application);
  FrmProviderSettings = dialog;
  std::string address, port;
  ReadProviderSettings(channel, address, port);
  dialog->lblProviderName->SetCaption(channel);
  dialog->edtIP->SetText(address);
  dialog->updPort->SetPosition(fw::StrToIntDef(port, 5500));
  if (!fw::DisplayAvailable()) {
    // Nobody can answer the dialog: say what is missing and how to set it.
    std::printf("%s", SettingsMissingText(channel).c_str());
    std::fflush(stdout);
  }
  if (dialog->ShowModal() == fw::mrOk) {
    WriteProviderSettings(dialog->lblProviderName->Caption(), dialog->edtIP->Text(), dialog->edtPort->Text());
    if (VexaNotifyProvider1->Active()) {
      VexaNotifyProvider1->ReloadProviderSettings();
    } else {
      VexaNotifyProvider1->SetActive(true);
    }
    StatusConnecting();
  } else if (!VexaNotifyProvider1->SessionUp()) {
    VexaNotifyProvider1->SetActive(false);
    StatusStopped();
    // Without a display nobody can give the settings: having said how to set
    // them, the gateway ends rather than run on doing nothing.
    if (!fw::DisplayAvailable() && !fw::DialogResponderInstalled()) {
      FExitCode = 1;
      fw::Application->Terminate();
    }
  }
}

// ---------------------------------------------------------------------------
// Status display. Panel 1's texts differ in their leading blank by where they
// are set.

const std::string& TFrmGatewayMain::PanelText(int Index) const {
  return KitStatusBar1->Panels()->GetItem(Index)->Text();
}

void TFrmGatewayMain::SetPanelText(int Index, const std::string& Text) {
  KitStatusBar1->Panels()->GetItem(Index)->SetText(Text);
}

void TFrmGatewayMain::SetTrayIcon(int32_t Index) {
  FTrayIconIndex = Index;
  TKitGraphicListItems* icons = KitGraphicList1->Graphics();
  if (Index >= 0 && Index < icons->Count()) KitTrayIcon1->SetIcon(icons->GetItem(Index)->Picture()->Icon());
}

void TFrmGatewayMain::StatusStartup() { SetPanelText(1, "Notify Server:  Connecting"); }

void TFrmGatewayMain::ShowServerState(const std::string& Text, int32_t Icon) {
  SetPanelText(1, Text);
  SetTrayIcon(Icon);
}

void TFrmGatewayMain::StatusConnecting() { ShowServerState("Notify Server:  Connecting", 1); }

void TFrmGatewayMain::StatusConnected() { ShowServerState(" Notify Server:  Connected", 2); }

void TFrmGatewayMain::StatusDisconnected() { ShowServerState(" Notify Server:  Disconnected", 0); }

void TFrmGatewayMain::StatusStopped() { ShowServerState("Notify Server:  Disconnected", 0); }

void TFrmGatewayMain::StatusServerAddress() {
  SetPanelText(2, VexaNotifyProvider1->NotifyServerAddress() + ":" +
                      fw::IntToStr(VexaNotifyProvider1->NotifyServerPort()) + "   ");
}

void TFrmGatewayMain::StatusClientCount() {
  SetPanelText(0, " Local Clients:  " + fw::IntToStr(VexaNotifyProvider1->GetClientCount()));
}

}  // namespace vexa
