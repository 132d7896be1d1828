#include "demo/ChurnmillMain.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "demo/OSUtils.h"
#include "framework/Dialogs.h"
#include "framework/Registry.h"
#include "framework/ScopeGuard.h"
#include "framework/SysUtils.h"
#include "shared/LogMemo.h"

namespace vexa {

uint32_t RandSeed = 0;
int32_t DemoTableID = 0;
bool TriggerBusy = false;
bool TriggerPending = false;
TFrmChurnmillMain* FrmChurnmillMain = nullptr;

void Randomize() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  RandSeed =
      static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

int32_t Random(int32_t Range) {
  RandSeed = RandSeed * 0x08088405u + 1u;
  if (Range <= 0) return 0;
  return static_cast<int32_t>((static_cast<uint64_t>(RandSeed) * static_cast<uint32_t>(Range)) >>
                              32);
}

std::string FloatText(double Value) {
  // to_chars never consults the locale, so a decimal comma cannot reach SQL.
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::fixed, 2);
  if (r.ec != std::errc()) return "0.00";
  return std::string(buf, r.ptr);
}

namespace {

enum TOperation { opInsert = 0, opDelete = 1, opUpdate = 2 };

// A control owned by the form and placed on it.
template <class TControlClass>
TControlClass* Place(fw::TForm* Form, const char* Name, int32_t Left, int32_t Top, int32_t Width,
                     int32_t Height) {
  auto* c = new TControlClass(Form);
  c->SetName(Name);
  c->SetParent(Form);
  c->SetBounds(Left, Top, Width, Height);
  return c;
}

constexpr int32_t MemoTop = 64;

}  // namespace

TFrmChurnmillMain::TFrmChurnmillMain(fw::TComponent* AOwner) : fw::TForm(AOwner) {
  SetName("FrmChurnmillMain");
  SetCaption("VEXA Churnmill");
  SetPosition(fw::poDefault);
  SetBounds(Left(), Top(), 628, 273);
  SetConstraints({.MinWidth = 454, .MinHeight = 120});

  btnShake = Place<fw::TButton>(this, "btnShake", 8, 8, 97, 25);
  btnShake->SetCaption("Start Shaking");
  btnShake->OnClick = [this](fw::TObject* s) { btnShakeClick(s); };

  Label1 = Place<fw::TLabel>(this, "Label1", 116, 13, 150, 13);
  Label1->SetCaption("Transactions Per Second:");
  lblTPS = Place<fw::TLabel>(this, "lblTPS", 270, 13, 30, 13);
  lblTPS->SetCaption("0");

  Label2 = Place<fw::TLabel>(this, "Label2", 320, 13, 70, 13);
  Label2->SetCaption("Target TPS:");
  Edit1 = Place<fw::TEdit>(this, "Edit1", 394, 9, 33, 21);
  Edit1->SetReadOnly(true);
  updTPSTarget = Place<fw::TUpDown>(this, "updTPSTarget", 427, 9, 15, 21);
  updTPSTarget->SetMin(1);
  updTPSTarget->SetMax(100);
  updTPSTarget->SetAssociate(Edit1);
  updTPSTarget->SetPosition(1);
  updTPSTarget->OnClick = [this](fw::TObject* s, fw::TUDBtnType b) { updTPSTargetClick(s, b); };

  chkI = Place<fw::TCheckBox>(this, "chkI", 8, 40, 60, 17);
  chkI->SetCaption("Inserts");
  chkD = Place<fw::TCheckBox>(this, "chkD", 76, 40, 60, 17);
  chkD->SetCaption("Deletes");
  chkU = Place<fw::TCheckBox>(this, "chkU", 144, 40, 64, 17);
  chkU->SetCaption("Updates");
  for (fw::TCheckBox* box : {chkI, chkD, chkU}) {
    box->SetChecked(true);
    box->OnClick = [this](fw::TObject* s) { chkIClick(s); };
  }
  chk4CharSymbol = Place<fw::TCheckBox>(this, "chk4CharSymbol", 228, 40, 110, 17);
  chk4CharSymbol->SetCaption("4 Char Symbol");

  Button1 = Place<fw::TButton>(this, "Button1", 520, 8, 97, 25);
  Button1->SetCaption("Web Site");
  Button1->OnClick = [this](fw::TObject* s) { Button1Click(s); };

  Memo1 = Place<fw::TMemo>(this, "Memo1", 0, MemoTop, ClientWidth(),
                           std::max(0, ClientHeight() - MemoTop));
  Memo1->SetScrollBars(fw::ssVertical);

  tmrDisplay = new fw::TTimer(this);
  tmrDisplay->SetName("tmrDisplay");
  tmrDisplay->SetInterval(1000);
  tmrDisplay->SetOnTimer([this](fw::TObject* s) { tmrDisplayTimer(s); });
  tmrTrigger = new fw::TTimer(this);
  tmrTrigger->SetName("tmrTrigger");
  tmrTrigger->SetEnabled(false);
  tmrTrigger->SetInterval(1000);
  tmrTrigger->SetOnTimer([this](fw::TObject* s) { tmrTriggerTimer(s); });

  IBDatabase1 = new fw::TFbDatabase(this);
  IBDatabase1->SetName("IBDatabase1");
  IBDatabase1->SetParams({"user_name=SYSDBA", std::string("password=") + "quillfern"});
  IBDatabase1->SetSQLDialect(3);
  IBTransaction1 = new fw::TFbTransaction(this);
  IBTransaction1->SetName("IBTransaction1");
  IBTransaction1->SetDefaultDatabase(IBDatabase1);
  IBDatabase1->SetDefaultTransaction(IBTransaction1);
  IBSQL1 = new fw::TFbSQL(this);
  IBSQL1->SetName("IBSQL1");
  IBSQL1->SetDatabase(IBDatabase1);
  IBSQL1->SetTransaction(IBTransaction1);
  IBStoredProc1 = new fw::TFbStoredProc(this);
  IBStoredProc1->SetName("IBStoredProc1");
  IBStoredProc1->SetDatabase(IBDatabase1);
  IBStoredProc1->SetTransaction(IBTransaction1);

  OnCreate = [this](fw::TObject* s) { FormCreate(s); };
  OnDestroy = [this](fw::TObject* s) { FormDestroy(s); };
}

TFrmChurnmillMain::~TFrmChurnmillMain() {
  // The base destructor fires OnDestroy when this part of the form is gone
  // already, so the form's end runs here.
  OnDestroy = nullptr;
  FormDestroy(this);
  if (FrmChurnmillMain == this) FrmChurnmillMain = nullptr;
}

void TFrmChurnmillMain::Resize() {
  fw::TForm::Resize();
  // The log fills the form below the controls.
  if (Memo1) Memo1->SetBounds(0, MemoTop, ClientWidth(), std::max(0, ClientHeight() - MemoTop));
}

void TFrmChurnmillMain::FormCreate(fw::TObject*) {
  StockIDs = new TVexaIntList();
  // Reading the value needs no write rights: asking for them would send every
  // user who may not change machine settings to the fallback.
  std::string path;
  fw::TRegistry reg(fw::KEY_READ);
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  if (reg.OpenKey(ChurnmillRegistryKey, false)) {
    try {
      path = reg.ReadString(ChurnmillDatabaseValue);
    } catch (const fw::Exception&) {
      path.clear();  // a value of another type names no database
    }
  }
  if (path.empty() || !fw::FileExists(path)) {
    path = fw::ExtractFilePath(fw::ParamStr0()) + ChurnmillDefaultDatabase;
  }
  DatabasePath = path;
}

void TFrmChurnmillMain::FormDestroy(fw::TObject*) {
  if (!StockIDs) return;
  StockIDs->Clear();
  delete StockIDs;
  StockIDs = nullptr;
}

void TFrmChurnmillMain::Log(const std::string& Text) {
  if (!fw::DisplayAvailable()) {
    std::fputs((Text + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
  AddLogLine(Memo1->Lines(), Text, 100);
}

void TFrmChurnmillMain::btnShakeClick(fw::TObject*) {
  if (btnShake->Tag() == 0) {
    StartShaking();
  } else {
    StopShaking();
  }
}

void TFrmChurnmillMain::StartShaking() {
  btnShake->SetEnabled(false);
  struct Reenable {
    fw::TButton* Button;
    ~Reenable() { Button->SetEnabled(true); }
  } reenable{btnShake};

  Randomize();
  try {
    IBDatabase1->SetDatabaseName(DatabasePath);
    Log("Opening database: " + IBDatabase1->DatabaseName());
    IBDatabase1->Open();
    Log("Retrieving TableID for DEMOTABLE");
    DemoTableID = GetTableID("DEMOTABLE");
    Log("Loading Record List");
    LoadRecordList();
  } catch (...) {
    // The run does not start; neither a connection nor a partial list is kept
    // (an open connection would refuse the next start's database name).
    StockIDs->Clear();
    try {
      IBDatabase1->Close();
    } catch (...) {
    }
    fw::Application->HandleException(this);
    return;
  }
  btnShake->SetTag(1);
  btnShake->SetCaption("Stop Shaking");
  CommitCount = 0;
  btnGetMinMaxClick(this);
  tmrTrigger->SetEnabled(true);
  tmrTriggerTimer(this);
}

void TFrmChurnmillMain::StopShaking() {
  btnShake->SetEnabled(false);
  struct Reenable {
    fw::TButton* Button;
    ~Reenable() { Button->SetEnabled(true); }
  } reenable{btnShake};
  tmrTrigger->SetEnabled(false);
  btnShake->SetTag(0);
  btnShake->SetCaption("Start Shaking");
  IBDatabase1->Close();
  StockIDs->Clear();
  Log("Closing database: " + IBDatabase1->DatabaseName());
}

void TFrmChurnmillMain::LoadRecordList() {
  IBTransaction1->StartTransaction();
  IBSQL1->SetSQL("SELECT STOCKID FROM DEMOTABLE");
  IBSQL1->ExecQuery();
  while (!IBSQL1->Eof()) {
    StockIDs->Add(IBSQL1->Fields(0).AsInteger());
    IBSQL1->Next();
  }
  IBTransaction1->Commit();
}

void TFrmChurnmillMain::btnGetMinMaxClick(fw::TObject*) {
  IBSQL1->SetSQL("SELECT MIN( STOCKID ), MAX( STOCKID ) FROM DEMOTABLE");
  IBTransaction1->StartTransaction();
  IBSQL1->ExecQuery();
  IBTransaction1->Commit();
}

int32_t TFrmChurnmillMain::GetTableID(const std::string& TableName) {
  IBSQL1->SetSQL("SELECT TABLEID FROM VEXA_KWV_CONFIG WHERE TABLENAME = '" + TableName + "'");
  IBTransaction1->StartTransaction();
  int32_t result = 0;
  {
    // A commit that fails while a failure is already leaving is dropped.
    auto done = fw::Finally([&] { IBTransaction1->Commit(); });
    IBSQL1->ExecQuery();
    if (IBSQL1->Eof()) {
      result = 0;
      fw::MessageDlg("Table not configured for VEXA Lumidex support:\r\n" + TableName, fw::mtError,
                     fw::TMsgDlgButtons{fw::mbOK});
    } else {
      result = IBSQL1->Fields(0).AsInteger();
    }
  }
  return result;
}

int32_t TFrmChurnmillMain::BeginNotifyTrans(int32_t TableID) {
  IBStoredProc1->SetStoredProcName("BEGINNOTIFYTRANS");
  IBStoredProc1->ParamByName("TableID").SetAsInteger(TableID);
  IBStoredProc1->ExecProc();
  int32_t result = IBStoredProc1->ParamByName("TransID").AsInteger();
  IBTransaction1->Commit();
  return result;
}

void TFrmChurnmillMain::EndNotifyTrans(int32_t TableID, int32_t TransID) {
  IBStoredProc1->SetStoredProcName("ENDNOTIFYTRANS");
  IBStoredProc1->ParamByName("TableID").SetAsInteger(TableID);
  IBStoredProc1->ParamByName("TransID").SetAsInteger(TransID);
  IBStoredProc1->ExecProc();
  IBTransaction1->Commit();
}

void TFrmChurnmillMain::CancelNotifyTrans(int32_t TableID, int32_t TransID) {
  IBStoredProc1->SetStoredProcName("CANCELNOTIFYTRANS");
  IBStoredProc1->ParamByName("TableID").SetAsInteger(TableID);
  IBStoredProc1->ParamByName("TransID").SetAsInteger(TransID);
  IBStoredProc1->ExecProc();
  IBTransaction1->Commit();
}

void TFrmChurnmillMain::updTPSTargetClick(fw::TObject*, fw::TUDBtnType) {
  tmrTrigger->SetInterval(static_cast<uint32_t>(1000 / std::max(1, updTPSTarget->Position())));
}

void TFrmChurnmillMain::tmrDisplayTimer(fw::TObject*) {
  lblTPS->SetCaption(fw::IntToStr(CommitCount));
  CommitCount = 0;
}

void TFrmChurnmillMain::chkIClick(fw::TObject* Sender) {
  if (chkI->Checked() || chkD->Checked() || chkU->Checked()) return;
  if (auto* box = dynamic_cast<fw::TCheckBox*>(Sender)) box->SetChecked(true);
}

void TFrmChurnmillMain::Button1Click(fw::TObject*) { OSUtils::OpenURL(ChurnmillWebPage, Handle()); }

bool TFrmChurnmillMain::RunActive() { return btnShake->Tag() == 1 && IBDatabase1->Connected(); }

void TFrmChurnmillMain::tmrTriggerTimer(fw::TObject*) {
  TriggerPending = true;
  if (TriggerBusy) return;  // the running loop serves this tick
  TriggerBusy = true;
  auto done = fw::Finally([&] { TriggerBusy = false; });
  while (TriggerPending) {
    TriggerPending = false;
    // Ticks that arrive now only mark another pass.
    fw::Application->ProcessMessages();
    // A stop that came in meanwhile ends the loop before any statement; so
    // does the end of the program, which a busy loop would otherwise hold off.
    if (!RunActive() || fw::Application->Terminated()) break;
    RunPass();
  }
}

void TFrmChurnmillMain::RunPass() {
  // The draws come in this order in every pass, whatever the operation.
  int32_t op;
  do {
    op = Random(3);
  } while (!(op == opInsert ? chkI : op == opDelete ? chkD : chkU)->Checked());
  // A delete or update needs a listed row; without one the pass inserts.
  if (op != opInsert && StockIDs->Count() == 0) op = opInsert;
  int32_t index = 0, id = 0;
  if (op != opInsert) {
    index = Random(StockIDs->Count());
    id = StockIDs->Get(index);
  }
  std::string symbol;
  const int letters = chk4CharSymbol->Checked() ? 4 : 3;
  for (int i = 0; i < letters; ++i) symbol += static_cast<char>('A' + Random(26));
  double netChange = (Random(214) - 107) / 100.0;
  if (netChange == 0) netChange = 0.01;
  const double price = (Random(10700) + 300) / 100.0;
  const std::string tick = netChange >= 0 ? "U" : "D";
  const int32_t volume = (Random(135) + 1) * 1000;

  const std::string nc = FloatText(netChange), pr = FloatText(price), vol = fw::IntToStr(volume);
  std::string text;
  switch (op) {
    case opInsert:
      text =
          "INSERT INTO DEMOTABLE ( STOCKSYMBOL, PRICE, TICK, NETCHANGE, VOLUME, OPENPRICE, "
          "HIGHPRICE, "
          "LOWPRICE ) VALUES ( '" +
          symbol + "', " + pr + ", " + "'" + tick + "', " + nc + ", " + vol + ", " + pr + ", " +
          pr + ", " + pr + " )";
      break;
    case opDelete:
      text = "DELETE FROM DEMOTABLE WHERE STOCKID = " + fw::IntToStr(id);
      break;
    default:
      text = "UPDATE DEMOTABLE SET PRICE = PRICE + " + nc + ", LASTTRADETIME = CURRENT_TIMESTAMP " +
             ", TICK = '" + tick + "'" + ", NETCHANGE = " + nc + ", VOLUME = " + vol +
             " WHERE STOCKID = " + fw::IntToStr(id);
      break;
  }

  Log(text);

  const int32_t transID = BeginNotifyTrans(DemoTableID);
  try {
    IBTransaction1->StartTransaction();
    // An insert reads the STOCKID the database gave the row, so that later
    // deletes and updates of that entry touch it.
    IBSQL1->SetSQL(op == opInsert ? text + " RETURNING STOCKID" : text);
    IBSQL1->ExecQuery();
    int32_t newID = 0;
    if (op == opInsert && !IBSQL1->Eof() && IBSQL1->FieldCount() > 0)
      newID = IBSQL1->Fields(0).AsInteger();
    IBTransaction1->Commit();
    EndNotifyTrans(DemoTableID, transID);
    if (op == opInsert) {
      StockIDs->Add(newID);
    } else if (op == opDelete) {
      StockIDs->Delete(index);
    }
    ++CommitCount;
  } catch (...) {
    // The statement's error is dropped; its notifications are cancelled.
    if (IBTransaction1->InTransaction()) IBTransaction1->Rollback();
    CancelNotifyTrans(DemoTableID, transID);
  }
}

}  // namespace vexa
