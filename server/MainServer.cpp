#include "server/MainServer.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "components/KitMainForm.h"
#include "components/KitStatusBar.h"
#include "components/KitTrayIcon.h"
#include "components/kitimage.h"
#include "framework/Dialogs.h"
#include "framework/Graphics.h"
#include "framework/IniFiles.h"
#include "framework/ScopeGuard.h"
#include "framework/SysUtils.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/Kernel.h"
#include "platform/shell/TrayIcon.h"
#include "shared/KWVReg.h"
#include "shared/LogMemo.h"

namespace vexa {

TFrmMainServer* FrmMainServer = nullptr;

namespace {

constexpr const char* kInstanceName = "NotifyServerIPC";
constexpr const char* kServerMutexName = "VEXA_Lumiline_Notify_Server";

// What a session may hold unsent unless the settings file says otherwise, in
// KB: far above what a live gateway leaves unread between two flushes.
constexpr int32_t kDefaultSendQueueKB = 64 * 1024;

// What one session's lines may cost before the message loop gets back to the
// database side's calls and the other sessions: a batch of lines per turn, and
// no further line while its answers wait unsent beyond a bound (a "who" over
// thousands of sessions is a few hundred KB).
constexpr int32_t kLineBatch = 16;
constexpr int64_t kLineBacklog = 256 * 1024;

constexpr const char* kShutdownQuestion =
    "Closing VEXA Notify Server will stop real time update \r\n"
    "notifications from being sent to client workstations.\r\n"
    "Are you sure you want to exit?";

fw::TMenuItem* MenuItem(fw::TComponent* owner, fw::TMenuItem* parent, const char* name,
                        const std::string& caption) {
  auto* item = new fw::TMenuItem(owner);
  item->SetName(name);
  item->SetCaption(caption);
  parent->Add(item);
  return item;
}


}  // namespace

// ---------------------------------------------------------------------------
// Construction: the components as the form data lays them out.

TFrmMainServer::TFrmMainServer(fw::TComponent* AOwner) : fw::TForm(AOwner) {
  SetName("FrmMainServer");
  FIniFileName = fw::ChangeFileExt(fw::ParamStr0(), ".ini");
  SetCaption("VEXA Notify Server");
  SetBounds(Left(), Top(), 382, 237);
  // Smaller, the status bar would disappear.
  SetConstraints({.MinWidth = 382, .MinHeight = 189});

  VexaInstallMutex1 = new TVexaInstallMutex(this);
  VexaInstallMutex1->SetName("VexaInstallMutex1");
  VexaInstallMutex1->SetProductName("Lumidex");

  NetSocketServer1 = new TNetSocketServer(this);
  NetSocketServer1->SetName("NetSocketServer1");
  NetSocketServer1->SetComponentOptions({wsoNoReceiveLoop, wsoTcpNoDelay});
  NetSocketServer1->SetLineMode(false);
  NetSocketServer1->SetProto("tcp");
  NetSocketServer1->SetMultiThreaded(false);
  NetSocketServer1->SetMaxClients(-1);
  NetSocketServer1->OnClientConnect = [this](fw::TObject* s, TNetSocketClient* c, uint16_t e) {
    NetSocketServer1ClientConnect(s, c, e);
  };
  NetSocketServer1->OnClientDisconnect = [this](fw::TObject* s, TNetSocketClient* c, uint16_t e) {
    NetSocketServer1ClientDisconnect(s, c, e);
  };
  NetSocketServer1->OnBgException = [this](fw::TObject* s, fw::Exception& e, bool& canClose) {
    NetSocketServer1BgException(s, e, canClose);
  };
  NetSocketServer1->OnSendData = [this](fw::TObject* s, int32_t n) {
    NetSocketServer1SendData(s, n);
  };
  NetSocketServer1->OnSessionClosed = [this](fw::TObject* s, uint16_t e) {
    NetSocketServer1SessionClosed(s, e);
  };

  VexaIPCServer1 = new TVexaIPCServer(this);
  VexaIPCServer1->SetName("VexaIPCServer1");
  VexaIPCServer1->OnCustomMessage = [this](fw::TMessage& m, bool& h) {
    VexaIPCServer1CustomMessage(m, h);
  };
  VexaIPCServer1->OnMsgIDChange = [this](fw::TObject* s) { VexaIPCServer1MsgIDChange(s); };
  VexaIPCServer1->OnDisplay = [this](fw::TObject* s, const std::string& m) {
    VexaIPCServer1Display(s, m);
  };
  VexaIPCServer1->OnServingInstance = [this](fw::TObject* s) { VexaIPCServer1ServingInstance(s); };
  VexaIPCServer1->OnServerInstanceExists = [this](fw::TObject* s) {
    VexaIPCServer1ServerInstanceExists(s);
  };
  VexaIPCServer1->OnClientConnecting = [this](plat::HWND h, bool& a) {
    VexaIPCServer1ClientConnecting(h, a);
  };
  VexaIPCServer1->OnClientDisconnecting = [this](plat::HWND h) {
    VexaIPCServer1ClientDisconnecting(h);
  };

  tmrClientFlushTimer = new fw::TTimer(this);
  tmrClientFlushTimer->SetName("tmrClientFlushTimer");
  tmrClientFlushTimer->SetEnabled(false);
  tmrClientFlushTimer->SetOnTimer([this](fw::TObject* s) { tmrClientFlushTimerTimer(s); });

  PageControl1 = new fw::TPageControl(this);
  PageControl1->SetName("PageControl1");
  PageControl1->SetParent(this);
  PageControl1->SetAlign(fw::alClient);

  tsMessages = new fw::TTabSheet(this);
  tsMessages->SetName("tsMessages");
  tsMessages->SetCaption("Notification Messages");
  tsMessages->SetPageControl(PageControl1);

  lvTables = new fw::TListView(this);
  lvTables->SetName("lvTables");
  lvTables->SetParent(tsMessages);
  lvTables->SetAlign(fw::alClient);
  lvTables->SetViewStyle(fw::vsReport);
  lvTables->SetGridLines(true);
  lvTables->SetRowSelect(true);
  lvTables->SetReadOnly(true);
  struct Column {
    const char* Caption;
    int32_t Width;
    fw::TAlignment Alignment;
  };
  const Column columns[] = {{"TableID", 55, fw::taLeftJustify},
                            {"# Msgs", 75, fw::taCenter},
                            {"Total Trans", 80, fw::taCenter},
                            {"Active Trans", 80, fw::taCenter},
                            {"Clients", 65, fw::taCenter}};
  for (const Column& c : columns) {
    fw::TListColumn* col = lvTables->Columns()->Add();
    col->SetCaption(c.Caption);
    col->SetWidth(c.Width);
    col->SetAlignment(c.Alignment);
  }

  tsLog = new fw::TTabSheet(this);
  tsLog->SetName("tsLog");
  tsLog->SetCaption("Event Log");
  tsLog->SetPageControl(PageControl1);

  DisplayMemo = new fw::TMemo(this);
  DisplayMemo->SetName("DisplayMemo");
  DisplayMemo->SetParent(tsLog);
  DisplayMemo->SetAlign(fw::alClient);
  DisplayMemo->SetReadOnly(true);
  DisplayMemo->SetScrollBars(fw::ssVertical);

  MainMenu1 = new fw::TMainMenu(this);
  MainMenu1->SetName("MainMenu1");
  File1 = MenuItem(this, MainMenu1->Items(), "File1", "&File");
  Close1 = MenuItem(this, File1, "Close1", "&Close");
  N1 = MenuItem(this, File1, "N1", "-");
  Shutdown1 = MenuItem(this, File1, "Shutdown1", "&Shutdown Notify Server");
  View1 = MenuItem(this, MainMenu1->Items(), "View1", "&View");
  ClearLog1 = MenuItem(this, View1, "ClearLog1", "&Clear Log");
  Close1->OnClick = [this](fw::TObject* s) { Close1Click(s); };
  Shutdown1->OnClick = [this](fw::TObject* s) { Shutdown1Click(s); };
  ClearLog1->OnClick = [this](fw::TObject* s) { ClearLog1Click(s); };

  KitGraphicList1 =
      MakeStateIcons(this, fw::clNavy, false,
                     {{"Starting", fw::clGray}, {"Waiting", fw::clRed}, {"Connected", fw::clLime}});

  KitStatusBar1 =
      MakeStatusBar(this, {{175, " Database DLL:  Waiting..."}, {150, " Client Connections:  0"}});

  // The tray icon keeps the program running while its window is hidden: a
  // close request hides the form, only the shutdown command ends it.
  KitTrayIcon1 = new TKitTrayIcon(this);
  KitTrayIcon1->SetName("KitTrayIcon1");
  KitTrayIcon1->SetNoClose(true);
  KitTrayIcon1->SetImageList(KitGraphicList1);
  KitTrayIcon1->SetHint("VEXA Lumidex Notify Server Initializing");
  KitTrayIcon1->OnClick = [this](fw::TObject* s) { KitTrayIcon1Click(s); };

  SetMessageHandler(WM_SERVER_STARTUP, [this](fw::TMessage& m) { StartupStep(m); });
  SetMessageHandler(WM_SERVER_CLIENTCOUNT, [this](fw::TMessage& m) { ClientCountChanged(m); });

  OnCreate = [this](fw::TObject* s) { FormCreate(s); };
  OnClose = [this](fw::TObject* s, fw::TCloseAction& a) { FormClose(s, a); };
  // FormDestroy runs from this class's destructor, while the form is still whole.
}

TFrmMainServer::~TFrmMainServer() {
  FDestroying = true;
  Destroying();
  if (!FDestroyHandled) {
    FDestroyHandled = true;
    try {
      FormDestroy(this);
    } catch (...) {
    }
  }
  // Tables first: they point at sessions and rows. Then the sessions and the
  // channel, whose handlers still reach into this form.
  FreeTables();
  delete NetSocketServer1;
  NetSocketServer1 = nullptr;
  delete VexaIPCServer1;
  VexaIPCServer1 = nullptr;
  delete tmrClientFlushTimer;
  tmrClientFlushTimer = nullptr;
  if (FrmMainServer == this) FrmMainServer = nullptr;
}

// ---------------------------------------------------------------------------
// Form events

void TFrmMainServer::FormCreate(fw::TObject* /*Sender*/) {
  SetTrayIcon(0);
  KitTrayIcon1->SetHint(fw::Application->Title() + " Initializing..");
  FMaxClients = 0;
  LoadSettings();
  DisplayMemo->Lines()->Clear();
  // What the settings file's reading found stays in the cleared log.
  if (!FSettingsNote.empty()) AddToLog(FSettingsNote);
  if (FSettingsUnreadable) {
    // Its address and port are unknown: the server ends rather than listen
    // where the operator did not ask it to.
    if (fw::DisplayAvailable()) std::fprintf(stderr, "%s\n", FSettingsNote.c_str());
    fw::Application->SetShowMainForm(false);
    fw::Application->Terminate();
    return;
  }
  PageControl1->SetActivePage(tsMessages);
  NetSocketServer1->SetMaxClients(-1);
  FStartupPending = plat::PostMessage(Handle(), WM_SERVER_STARTUP, 0, 0);
}

void TFrmMainServer::StartupStep(fw::TMessage& /*Msg*/) {
  // Runs once, for the message FormCreate posted: any program may post the
  // form this id.
  if (!FStartupPending) {
    fw::TellIgnoredOnce("start-up message sent to the notify server's form again");
    return;
  }
  FStartupPending = false;
  VexaIPCServer1->SetInstanceName(kInstanceName);
  VexaIPCServer1->SetActive(true);
  FDBNotificationID = VexaIPCServer1->AddCustomMessage("DBNotification");
  FDBTransID = VexaIPCServer1->AddCustomMessage("DBTrans");

  NetSocketServer1->SetMaxClients(FMaxClients);
  if (NetSocketServer1->Tag() == 0) {
    NetSocketServer1->SetBanner("VEXA Notify Server");
    NetSocketServer1->SetBannerToBusy("Busy" + std::string(14, ' '));
    NetSocketServer1->SetProto("tcp");
    NetSocketServer1->SetClientClassOf<TTcpSrvClient>();
    NetSocketServer1->SetLingerOnOff(wsLingerNoSet);
    NetSocketServer1->SetMultiThreaded(false);
    NetSocketServer1->SetSendFlags(wsSendNormal);
    NetSocketServer1->SetLineMode(false);
    SetClientStatus(" Client Connections:  0");
    try {
      NetSocketServer1->Listen();
    } catch (const std::exception& e) {
      // The framework shows the failure; the log names what could not be taken.
      std::string why = e.what();
      for (size_t at; (at = why.find_first_of("\r\n")) != std::string::npos;) {
        why.replace(at, why.find_first_not_of("\r\n", at) - at, "; ");
      }
      AddToLog("Cannot listen for clients on adapter " + NetSocketServer1->Addr() + " port " +
               NetSocketServer1->Port() + ": " + why);
      throw;
    }
    NetSocketServer1->SetTag(1);
    AddToLog("Listening for clients on adapter " + NetSocketServer1->Addr() + " port " +
             NetSocketServer1->Port());
    KitTrayIcon1->SetHint(fw::Application->Title() + " Listening at " + NetSocketServer1->Addr() +
                          ":" + NetSocketServer1->Port());
    tmrClientFlushTimer->SetEnabled(true);
  }
}

void TFrmMainServer::ClientCountChanged(fw::TMessage& /*Msg*/) {
  SetClientStatus(" Client Connections:  " + fw::IntToStr(NetSocketServer1->GetClientCount()));
}

// ---------------------------------------------------------------------------
// Status display

const std::string& TFrmMainServer::TrayHint() const { return KitTrayIcon1->Hint(); }

const std::string& TFrmMainServer::DatabaseStatusText() const {
  return KitStatusBar1->Panels()->GetItem(0)->Text();
}

const std::string& TFrmMainServer::ClientStatusText() const {
  return KitStatusBar1->Panels()->GetItem(1)->Text();
}

void TFrmMainServer::SetTrayIcon(int32_t Index) {
  FTrayIconIndex = Index;
  TKitGraphicListItems* icons = KitGraphicList1->Graphics();
  if (Index >= 0 && Index < icons->Count())
    KitTrayIcon1->SetIcon(icons->GetItem(Index)->Picture()->Icon());
}

void TFrmMainServer::SetDatabaseStatus(const std::string& Text) {
  KitStatusBar1->Panels()->GetItem(0)->SetText(Text);
}

void TFrmMainServer::SetClientStatus(const std::string& Text) {
  KitStatusBar1->Panels()->GetItem(1)->SetText(Text);
}

void TFrmMainServer::KitTrayIcon1Click(fw::TObject* /*Sender*/) {
  Show();
  fw::Application->BringToFront();
}

void TFrmMainServer::Close1Click(fw::TObject* /*Sender*/) {
  // Hidden, the form comes back through a click on the tray icon. Where the
  // desktop shows no tray icon, the form goes down to its own icon instead,
  // so the program never runs without an icon or a window.
  if (plat::NotifyAreaAvailable()) {
    Hide();
  } else {
    SetWindowState(fw::wsMinimized);
  }
}

void TFrmMainServer::Shutdown1Click(fw::TObject* /*Sender*/) {
  if (fw::MessageDlg(kShutdownQuestion, fw::mtWarning, fw::mbYesNoCancel) != fw::mrYes) return;
  KitTrayIcon1->SetNoClose(false);
  Close();
}

void TFrmMainServer::ClearLog1Click(fw::TObject* /*Sender*/) { DisplayMemo->Lines()->Clear(); }

void TFrmMainServer::FormClose(fw::TObject* /*Sender*/, fw::TCloseAction& /*Action*/) {
  VexaIPCServer1->SetActive(false);
  NetSocketServer1->Close();
  FreeTables();
}

void TFrmMainServer::FormDestroy(fw::TObject* /*Sender*/) { SaveSettings(); }

void TFrmMainServer::FreeTables() {
  for (TTransTableItem*& item : FTables) {
    delete item;
    item = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Settings file

void TFrmMainServer::LoadSettings() {
  FLoadingSettings = true;
  auto loaded = fw::Finally([&] { FLoadingSettings = false; });
  fw::TIniFile ini(IniFileName());
  // A file that is there but cannot be read holds an address and port the
  // defaults must not stand in for; it is never replaced either.
  if (const std::string problem = ini.ReadProblem(); !problem.empty()) {
    FSettingsUnreadable = FSettingsReported = true;
    FSettingsNote = "Settings file " + IniFileName() + " " + problem +
                    ": the notify server does not start without the address and port it holds";
    return;
  }
  const char* win = "Main Server Window";
  // The size is held to the screen before the form takes it: a huge stored
  // size would otherwise be laid out and painted once at full size.
  const int32_t sw = fw::Screen->Width();
  const int32_t sh = fw::Screen->Height();
  SetBounds(ini.ReadInteger(win, "Left", Left()), ini.ReadInteger(win, "Top", Top()),
            std::min(ini.ReadInteger(win, "Width", Width()), sw),
            std::min(ini.ReadInteger(win, "Height", Height()), sh));
  if (Top() < 0) {
    SetTop(0);
  } else if (static_cast<int64_t>(Top()) + Height() > sh) {
    SetTop(sh - Height());
  }
  if (Left() < 0) {
    SetLeft(0);
  } else if (static_cast<int64_t>(Left()) + Width() > sw) {
    SetLeft(sw - Width());
  }

  NetSocketServer1->SetAddr(ini.ReadString("Server", "Address", ""));
  if (NetSocketServer1->Addr().empty()) {
    NetSocketServer1->SetAddr("0.0.0.0");
    WriteSetting(ini, "Server", "Address", "0.0.0.0");
  }
  NetSocketServer1->SetPort(ini.ReadString("Server", "Port", ""));
  if (NetSocketServer1->Port().empty()) {
    NetSocketServer1->SetPort("5500");
    WriteSetting(ini, "Server", "Port", "5500");
  }
  FMaxClients = ini.ReadInteger("Server", "MaxClients", -1);
  if (FMaxClients < 0) {
    FMaxClients = 0;
    WriteSetting(ini, "Server", "MaxClients", "0");
  }

  int32_t interval = ini.ReadInteger("Client", "FlushInterval", 0);
  if (interval == 0) {
    interval = 1500;
    WriteSetting(ini, "Client", "FlushInterval", "1500");
  }
  tmrClientFlushTimer->SetInterval(static_cast<uint32_t>(interval));

  int32_t queueKB = ini.ReadInteger("Client", "MaxSendQueueKB", 0);
  if (queueKB <= 0) queueKB = kDefaultSendQueueKB;
  FSendQueueLimit = static_cast<int64_t>(queueKB) * 1024;
}

void TFrmMainServer::SaveSettings() {
  if (FSettingsUnreadable) return;
  fw::TIniFile ini(IniFileName());
  WriteSetting(ini, "MainWindow", "Width", fw::IntToStr(Width()));
  WriteSetting(ini, "MainWindow", "Height", fw::IntToStr(Height()));
  WriteSetting(ini, "MainWindow", "Top", fw::IntToStr(Top()));
  WriteSetting(ini, "MainWindow", "Left", fw::IntToStr(Left()));
}

// The server runs on what it read; the file keeps what the operator wrote.
void TFrmMainServer::WriteSetting(fw::TCustomIniFile& Ini, const char* Section, const char* Ident,
                                  const std::string& Value) {
  try {
    Ini.WriteString(Section, Ident, Value);
  } catch (const fw::EIniFileException&) {
    SettingsNotWritten();
  }
}

void TFrmMainServer::SettingsNotWritten() {
  if (FSettingsReported) return;
  FSettingsReported = true;
  const std::string text =
      "Settings file " + IniFileName() + " cannot be written: it is left as it is";
  // While the form is made the log is cleared after the settings are read.
  if (FLoadingSettings) {
    FSettingsNote = text;
  } else {
    AddToLog(text);
  }
}

// ---------------------------------------------------------------------------
// Local message channel

void TFrmMainServer::VexaIPCServer1MsgIDChange(fw::TObject* /*Sender*/) {
  FDBNotificationID = VexaIPCServer1->GetCustomMessageID("DBNotification");
  FDBTransID = VexaIPCServer1->AddCustomMessage("DBTrans");
}

void TFrmMainServer::VexaIPCServer1CustomMessage(fw::TMessage& Msg, bool& /*Handled*/) {
  const int32_t table = Msg.LParam & 0xFF;
  if (FDBNotificationID != 0 && Msg.Msg == FDBNotificationID) {
    if (EnsureTable(table)) FTables[table]->AddNotification(Msg.WParam, Msg.LParam);
    Msg.Result = 1;
  } else if (FDBTransID != 0 && Msg.Msg == FDBTransID) {
    if (EnsureTable(table)) {
      TTransTableItem* item = FTables[table];
      switch (static_cast<char>((Msg.LParam >> 8) & 0xFF)) {
        case 'B': {
          // The writer's process is kept with the transaction: one that dies
          // before ending it is rolled back on a flush tick. A writer that
          // gave up waiting never learns the id and so never ends it: the
          // answer is given here, and a begin it did not reach is rolled back.
          // A posted begin answers nobody and is tied to no writer.
          const uint32_t writer = plat::InSendMessage() ? plat::GetSendingProcess() : 0;
          const int32_t id = item->BeginTransaction(writer);
          Msg.Result = id;
          if (writer != 0 && !plat::ReplyMessage(id)) item->RemoveTransaction(id);
          break;
        }
        case 'E':
          item->EndTransaction(Msg.WParam);
          break;
        case 'R':
          item->RemoveTransaction(Msg.WParam);
          break;
        default:
          break;
      }
    }
  }
  // Handled stays false, so a Result of 0 is answered as 0.
}

void TFrmMainServer::VexaIPCServer1Display(fw::TObject* /*Sender*/, const std::string& Msg) {
  AddToLog(Msg);
}

void TFrmMainServer::VexaIPCServer1ServingInstance(fw::TObject* /*Sender*/) {
  WriteServerLocation();
}

void TFrmMainServer::VexaIPCServer1ServerInstanceExists(fw::TObject* /*Sender*/) {
  SetDatabaseStatus(" Database DLL:  Server Exists");
  SetTrayIcon(0);
  AddToLog("Server Already Exists");
}

void TFrmMainServer::VexaIPCServer1ClientConnecting(plat::HWND /*ClientHandle*/, bool& /*Accept*/) {
  SetDatabaseStatus(" Database DLL:  Connected");
  SetTrayIcon(2);
}

void TFrmMainServer::VexaIPCServer1ClientDisconnecting(plat::HWND /*ClientHandle*/) {
  SetDatabaseStatus(" Database DLL:  Waiting...");
  SetTrayIcon(1);
}

// ---------------------------------------------------------------------------
// Tables

TTransTableItem* TFrmMainServer::Table(int32_t N) const {
  if (N <= 0 || N >= 256) return nullptr;
  return FTables[static_cast<size_t>(N)];
}

bool TFrmMainServer::EnsureTable(int32_t N) {
  if (N <= 0 || N >= 256) {
    AddToLog("Invalid TableID: " + fw::IntToStr(N));
    return false;
  }
  if (FTables[N]) return true;
  auto* item = new TTransTableItem;
  FTables[N] = item;
  item->TableID = N;
  item->OnDisplay = [this](fw::TObject*, const std::string& text) { AddToLog(text); };
  fw::TListItem* row = lvTables->Items()->Add();
  row->SetCaption(fw::IntToStr(N));
  for (int i = 0; i < 4; ++i) row->SubItems()->Add("");
  row->SetData(item);
  item->SetListItem(row);
  AddToLog("New Table: " + fw::IntToStr(N));
  return true;
}

void TFrmMainServer::tmrClientFlushTimerTimer(fw::TObject* /*Sender*/) {
  if (FFlushing) return;
  FFlushing = true;
  auto done = fw::Finally([&] { FFlushing = false; });
  RollBackOrphans();
  for (int i = 0; i < NetSocketServer1->GetClientCount(); ++i) {
    TNetSocketClient* client = NetSocketServer1->GetClient(i);
    // A session that has closed stays listed until the server handles its
    // removal; sending to it would fail, and must not cost the others their tick.
    if (!client || client->State() != wsConnected) continue;
    try {
      client->Send(nullptr, 0);
    } catch (const std::exception& e) {
      AddToLog("Client exception occured: " + ExceptionText(e));
      client->Close();
    }
  }
  fw::TListItems* rows = lvTables->Items();
  rows->BeginUpdate();
  auto ended = fw::Finally([&] { rows->EndUpdate(); });
  for (int i = 0; i < rows->Count(); ++i) {
    if (auto* item = static_cast<TTransTableItem*>(rows->Item(i)->Data())) item->RefreshRow();
  }
}

void TFrmMainServer::RollBackOrphans() {
  std::map<uint32_t, bool> gone;  // each writer is looked at once a tick
  auto writerGone = [&](uint32_t writer) {
    auto it = gone.find(writer);
    if (it == gone.end()) it = gone.emplace(writer, !plat::IsSessionProcessAlive(writer)).first;
    return it->second;
  };
  for (TTransTableItem* item : FTables) {
    if (item) item->RollBackOrphans(writerGone);
  }
}

// ---------------------------------------------------------------------------
// Event log

void TFrmMainServer::AddToLog(const std::string& Text) {
  AddLogLine(DisplayMemo->Lines(), Text, 200);
  if (!fw::DisplayAvailable()) {
    std::fwrite(Text.data(), 1, Text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
}

std::string TFrmMainServer::ExceptionText(const std::exception& E) {
  if (auto* fe = dynamic_cast<const fw::Exception*>(&E))
    return std::string(fe->ClassName()) + ": " + fe->Message();
  return std::string("Exception: ") + E.what();
}

// ---------------------------------------------------------------------------
// Gateway sessions

void TFrmMainServer::NetSocketServer1ClientConnect(fw::TObject* /*Sender*/,
                                                   TNetSocketClient* Client, uint16_t /*Error*/) {
  auto* client = dynamic_cast<TTcpSrvClient*>(Client);
  if (!client) return;
  client->SetLineMode(true);
  client->SetLineEdit(false);
  client->SetLineLimit(80);
  client->SetLineBatch(kLineBatch);
  client->SetLineBacklog(kLineBacklog);
  client->OnDataAvailable = [this](fw::TObject* s, uint16_t e) { ClientDataAvailable(s, e); };
  client->OnLineLimitExceeded = [this](fw::TObject* s, int32_t n, bool& c) {
    ClientLineLimitExceeded(s, n, c);
  };
  client->OnBgException = [this](fw::TObject* s, fw::Exception& e, bool& c) {
    ClientBgException(s, e, c);
  };
  client->OnDestroy = [this](fw::TObject* s) { ClientDestroy(s); };
  client->OnQueueOverflow = [this](fw::TObject* s) { ClientQueueOverflow(s); };
  client->SendQueueLimit = FSendQueueLimit;
  client->ConnectTime = fw::Now();
  client->TableIDs.clear();
  plat::PostMessage(Handle(), WM_SERVER_CLIENTCOUNT, 0, 0);
}

void TFrmMainServer::NetSocketServer1ClientDisconnect(fw::TObject* /*Sender*/,
                                                      TNetSocketClient* Client,
                                                      uint16_t /*Error*/) {
  auto* client = dynamic_cast<TTcpSrvClient*>(Client);
  if (!client) return;
  for (const auto& [id, requests] : client->TableIDs) {
    if (TTransTableItem* item = Table(id)) item->Unsubscribe(client);
  }
}

void TFrmMainServer::NetSocketServer1BgException(fw::TObject* /*Sender*/, fw::Exception& E,
                                                 bool& CanClose) {
  AddToLog("Server exception occured: " + ExceptionText(E));
  CanClose = false;
}

void TFrmMainServer::NetSocketServer1SendData(fw::TObject* /*Sender*/, int32_t /*BytesSent*/) {}

void TFrmMainServer::NetSocketServer1SessionClosed(fw::TObject* /*Sender*/, uint16_t /*Error*/) {}

void TFrmMainServer::ClientLineLimitExceeded(fw::TObject* Sender, int32_t /*RcvdLength*/,
                                             bool& ClearData) {
  ClearData = true;
  if (auto* client = dynamic_cast<TTcpSrvClient*>(Sender)) client->Close();
}

void TFrmMainServer::ClientBgException(fw::TObject* /*Sender*/, fw::Exception& E, bool& CanClose) {
  AddToLog("Client exception occured: " + ExceptionText(E));
  CanClose = true;
}

void TFrmMainServer::ClientDestroy(fw::TObject* /*Sender*/) {
  if (FDestroying || ComponentState().Contains(fw::csDestroying)) return;
  plat::PostMessage(Handle(), WM_SERVER_CLIENTCOUNT, 0, 0);
}

void TFrmMainServer::ClientQueueOverflow(fw::TObject* Sender) {
  auto* client = dynamic_cast<TTcpSrvClient*>(Sender);
  if (!client) return;
  AddToLog("Client " + client->PeerAddr() + ":" + client->PeerPort() + " closed: more than " +
           fw::IntToStr(FSendQueueLimit / 1024) + " KB waiting to be sent");
}

void TFrmMainServer::ClientDataAvailable(fw::TObject* Sender, uint16_t /*Error*/) {
  auto* client = dynamic_cast<TTcpSrvClient*>(Sender);
  if (!client) return;
  HandleCommand(client);
}

void TFrmMainServer::HandleCommand(TTcpSrvClient* Client) {
  const TServerCommand cmd = ParseServerCommand(Client->ReceiveStr());
  Client->Line = cmd.Line;
  switch (cmd.Kind) {
    case TServerCommandKind::Subscribe:
      if (EnsureTable(cmd.TableID)) {
        uint32_t& requests = Client->TableIDs[cmd.TableID];
        if (requests < UINT32_MAX) requests++;
        FTables[cmd.TableID]->Subscribe(Client);
      } else {
        AddToLog("Invalid TableID in Subscribe request: " + fw::IntToStr(cmd.TableID));
      }
      Client->SendAck(cmd.TableID, 'S', 0);
      break;
    case TServerCommandKind::Unsubscribe: {
      auto it = Client->TableIDs.find(cmd.TableID);
      if (it != Client->TableIDs.end() && --it->second == 0) Client->TableIDs.erase(it);
      if (TTransTableItem* item = Table(cmd.TableID)) item->Unsubscribe(Client);
      Client->SendAck(cmd.TableID, 'U', 0);
      break;
    }
    case TServerCommandKind::Exit:
      Client->CloseDelayed();
      break;
    case TServerCommandKind::Who: {
      // One send for the whole answer: a line per session would be a call
      // into the socket layer per session.
      const int count = NetSocketServer1->GetClientCount();
      std::string answer = "There are " + fw::IntToStr(count) + " connected users:\r\n";
      for (int i = count - 1; i >= 0; --i) {
        if (auto* other = dynamic_cast<TTcpSrvClient*>(NetSocketServer1->GetClient(i)))
          answer += other->WhoLine();
      }
      Client->SendStr(answer);
      break;
    }
    case TServerCommandKind::Unknown:
      if (Client->State() == wsConnected)
        Client->SendStr("Unknown command: '" + cmd.Line + "'\r\n");
      break;
  }
}

// ---------------------------------------------------------------------------
// Program entry

int BeaconhubMain(int /*argc*/, char** /*argv*/) {
  plat::RaiseDescriptorLimit();
  // One notify server per session: a second one ends at once, silently. The
  // mutex stays held until the process ends.
  plat::HANDLE mutex = plat::CreateMutex(kServerMutexName, false);
  if (plat::WaitForSingleObject(mutex, 0) == plat::WAIT_TIMEOUT) return 0;

  fw::Application->Initialize();
  fw::Application->SetTitle("VEXA Notify Server");
  fw::Application->CreateForm(FrmMainServer);
  const int status = FrmMainServer && FrmMainServer->SettingsUnreadable() ? 1 : 0;
  fw::Application->Run();
  fw::DoneApplication();
  return status;
}

}  // namespace vexa
