// The notify server's main form: start-up, settings file, local message channel
// to the database side, TCP listener for the gateways, table items, flush timer,
// table view rows, event log and shutdown.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "framework/ComCtrls.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/IniFiles.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "server/VexaKWVServer.h"
#include "shared/VexaIPC.h"
#include "shared/VexaInst.h"
#include "sockets/NetSocketS.h"

namespace vexa {

class TKitGraphicList;
class TKitStatusBar;
class TKitTrayIcon;

// Private messages of the form.
constexpr plat::UINT WM_SERVER_STARTUP = plat::WM_USER + 1;       // posted by FormCreate
constexpr plat::UINT WM_SERVER_CLIENTCOUNT = plat::WM_USER + 2;   // a session came or went

class TFrmMainServer : public fw::TForm {
public:
  explicit TFrmMainServer(fw::TComponent* AOwner);
  ~TFrmMainServer() override;

  // Components of the form.
  TNetSocketServer* NetSocketServer1 = nullptr;
  TVexaIPCServer* VexaIPCServer1 = nullptr;
  TVexaInstallMutex* VexaInstallMutex1 = nullptr;
  fw::TTimer* tmrClientFlushTimer = nullptr;
  fw::TPageControl* PageControl1 = nullptr;
  fw::TTabSheet* tsMessages = nullptr;
  fw::TTabSheet* tsLog = nullptr;
  fw::TListView* lvTables = nullptr;
  fw::TMemo* DisplayMemo = nullptr;
  fw::TMainMenu* MainMenu1 = nullptr;
  fw::TMenuItem* File1 = nullptr;
  fw::TMenuItem* Close1 = nullptr;
  fw::TMenuItem* N1 = nullptr;
  fw::TMenuItem* Shutdown1 = nullptr;
  fw::TMenuItem* View1 = nullptr;
  fw::TMenuItem* ClearLog1 = nullptr;
  // Status display: icons of the three states, the tray icon, the two-panel bar.
  TKitGraphicList* KitGraphicList1 = nullptr;
  TKitTrayIcon* KitTrayIcon1 = nullptr;
  TKitStatusBar* KitStatusBar1 = nullptr;

  // Handlers bound to the form and its components.
  void FormCreate(fw::TObject* Sender);
  void FormClose(fw::TObject* Sender, fw::TCloseAction& Action);
  void FormDestroy(fw::TObject* Sender);
  void VexaIPCServer1CustomMessage(fw::TMessage& Msg, bool& Handled);
  void VexaIPCServer1MsgIDChange(fw::TObject* Sender);
  void VexaIPCServer1Display(fw::TObject* Sender, const std::string& Msg);
  void VexaIPCServer1ServingInstance(fw::TObject* Sender);
  void VexaIPCServer1ServerInstanceExists(fw::TObject* Sender);
  void VexaIPCServer1ClientConnecting(plat::HWND ClientHandle, bool& Accept);
  void VexaIPCServer1ClientDisconnecting(plat::HWND ClientHandle);
  void tmrClientFlushTimerTimer(fw::TObject* Sender);
  void KitTrayIcon1Click(fw::TObject* Sender);
  void Close1Click(fw::TObject* Sender);
  void Shutdown1Click(fw::TObject* Sender);
  void ClearLog1Click(fw::TObject* Sender);

  // Gateway sessions.
  void NetSocketServer1ClientConnect(fw::TObject* Sender, TNetSocketClient* Client, uint16_t Error);
  void NetSocketServer1ClientDisconnect(fw::TObject* Sender, TNetSocketClient* Client,
                                        uint16_t Error);
  void NetSocketServer1BgException(fw::TObject* Sender, fw::Exception& E, bool& CanClose);
  void NetSocketServer1SendData(fw::TObject* Sender, int32_t BytesSent);
  void NetSocketServer1SessionClosed(fw::TObject* Sender, uint16_t Error);
  void ClientDataAvailable(fw::TObject* Sender, uint16_t Error);
  void ClientLineLimitExceeded(fw::TObject* Sender, int32_t RcvdLength, bool& ClearData);
  void ClientBgException(fw::TObject* Sender, fw::Exception& E, bool& CanClose);
  void ClientDestroy(fw::TObject* Sender);
  void ClientQueueOverflow(fw::TObject* Sender);

  // The table item for N, made on first use; false (and logged) for N outside 1..255.
  bool EnsureTable(int32_t N);
  // The item in slot N, or null.
  TTransTableItem* Table(int32_t N) const;
  // Appends a line to the event log (capped at about 200 lines).
  void AddToLog(const std::string& Text);
  // A settings file that cannot be read stops the server (SettingsUnreadable);
  // one that cannot be written is left as it is. Either is logged once.
  void LoadSettings();
  void SaveSettings();
  bool SettingsUnreadable() const { return FSettingsUnreadable; }
  // The settings file: the program's path with ".ini" in place of its extension.
  const std::string& IniFileName() const { return FIniFileName; }

  // What the status display shows: tray hint and icon, the bar's two panels.
  const std::string& TrayHint() const;
  int32_t TrayIconIndex() const { return FTrayIconIndex; }
  const std::string& DatabaseStatusText() const;
  const std::string& ClientStatusText() const;
  int32_t ConfiguredMaxClients() const { return FMaxClients; }
  int64_t ConfiguredSendQueueLimit() const { return FSendQueueLimit; }
  plat::UINT DBNotificationID() const { return FDBNotificationID; }
  plat::UINT DBTransID() const { return FDBTransID; }

protected:
  void StartupStep(fw::TMessage& Msg);
  std::string FIniFileName;
  void ClientCountChanged(fw::TMessage& Msg);

private:
  void FreeTables();
  // Rolls back the open transactions whose writing process is gone.
  void RollBackOrphans();
  void HandleCommand(TTcpSrvClient* Client);
  static std::string ExceptionText(const std::exception& E);
  void SetTrayIcon(int32_t Index);
  void SetDatabaseStatus(const std::string& Text);
  void SetClientStatus(const std::string& Text);
  void WriteSetting(fw::TCustomIniFile& Ini, const char* Section, const char* Ident,
                    const std::string& Value);
  void SettingsNotWritten();

  int32_t FMaxClients = 0;
  bool FSettingsUnreadable = false;
  bool FSettingsReported = false;  // the settings file's trouble is logged once
  bool FLoadingSettings = false;
  std::string FSettingsNote;    // what LoadSettings found, logged by FormCreate
  int64_t FSendQueueLimit = 0;  // bytes a session may hold unsent
  bool FFlushing = false;
  bool FStartupPending = false;  // FormCreate posted the start-up step
  bool FDestroying = false;
  bool FDestroyHandled = false;
  int32_t FTrayIconIndex = 0;
  plat::UINT FDBNotificationID = 0;
  plat::UINT FDBTransID = 0;
  std::array<TTransTableItem*, 256> FTables{};  // slot 0 never used
};

// The program's main form.
extern TFrmMainServer* FrmMainServer;

// The program: single-instance guard, application, main form, message loop.
// Returns the exit status: 1 when the settings file could not be read.
int BeaconhubMain(int argc, char** argv);

}  // namespace vexa
