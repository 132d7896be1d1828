// The client gateway's main form: owns the notification provider, takes the
// channel from the command line, keeps window bounds and polling values in the
// INI file beside the program and shows the provider's trace.
#pragma once

#include <string>
#include <vector>

#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "gateway/VexaKWVProvider.h"

namespace vexa {

class TVexaInstallMutex;
class TKitGraphicList;
class TKitStatusBar;
class TKitTrayIcon;

// The program's command-line arguments after the program name; relaygate's
// entry sets them before the form is made.
void SetGatewayArguments(std::vector<std::string> Arguments);
const std::vector<std::string>& GatewayArguments();

// The private message that refreshes the client count.
constexpr plat::UINT WM_GATEWAY_CLIENTCOUNT = plat::WM_USER + 2;

class TFrmGatewayMain : public fw::TForm {
public:
  explicit TFrmGatewayMain(fw::TComponent* AOwner);
  ~TFrmGatewayMain() override;

  fw::TMemo* DisplayMemo;
  fw::TPanel* Panel1;
  fw::TCheckBox* chkDisplay;
  TVexaNotifyProvider* VexaNotifyProvider1;
  fw::TMainMenu* MainMenu1;
  fw::TMenuItem* File1;
  fw::TMenuItem* Close1;
  fw::TMenuItem* N1;
  fw::TMenuItem* Shutdown1;
  fw::TMenuItem* View1;
  fw::TMenuItem* ClearLog1;
  fw::TMenuItem* ProviderSettings1;
  TVexaInstallMutex* VexaInstallMutex1;
  // Status display: icons of the three states, the tray icon, the three-panel bar.
  TKitGraphicList* KitGraphicList1;
  TKitTrayIcon* KitTrayIcon1;
  TKitStatusBar* KitStatusBar1;

  void FormCreate(fw::TObject* Sender);
  void FormDestroy(fw::TObject* Sender);
  void FormClose(fw::TObject* Sender, fw::TCloseAction& Action);
  void VexaNotifyProvider1NotifyServerConnect(fw::TObject* Sender);
  void VexaNotifyProvider1NotifyServerDisconnect(fw::TObject* Sender);
  void VexaNotifyProvider1NotifyServerConnectFailed(fw::TObject* Sender);
  void VexaNotifyProvider1ProviderSettingsNotFound(fw::TObject* Sender);
  void VexaNotifyProvider1ClientConnecting(plat::HWND ClientHandle, bool& Accept);
  void VexaNotifyProvider1ClientDisconnecting(plat::HWND ClientHandle);
  void Close1Click(fw::TObject* Sender);
  void Shutdown1Click(fw::TObject* Sender);
  void ClearLog1Click(fw::TObject* Sender);
  void ProviderSettings1Click(fw::TObject* Sender);
  void KitTrayIcon1Click(fw::TObject* Sender);

  void AddTraceLine(fw::TObject* Sender, const std::string& Text);
  void ShowProviderSettings();
  void LoadSaveSettings(bool Save);

  // The INI file: the program's path with ".ini" for its extension.
  static std::string IniFileName();
  // The program's exit status: 1 when, without a display, the provider
  // settings were missing and the gateway ended.
  int ExitCode() const { return FExitCode; }

  // What the status display shows: the bar's panels and the tray icon's picture.
  const std::string& PanelText(int Index) const;
  int32_t TrayIconIndex() const { return FTrayIconIndex; }

protected:
  // States of the status display (status bar and tray icon).
  virtual void StatusStartup();
  virtual void StatusConnecting();
  virtual void StatusConnected();
  virtual void StatusDisconnected();
  // The settings dialog was cancelled while the session is down.
  virtual void StatusStopped();
  virtual void StatusServerAddress();
  virtual void StatusClientCount();

private:
  void SetTrayIcon(int32_t Index);
  void SetPanelText(int Index, const std::string& Text);
  // The notify server's state: its panel's text and the tray icon's index.
  void ShowServerState(const std::string& Text, int32_t Icon);

  int32_t FTrayIconIndex = 0;
  bool FDestroying = false;
  bool FDestroyed = false;
  bool FSettingsUnreadable = false;  // the INI file is then never written
  int FExitCode = 0;
};

}  // namespace vexa
