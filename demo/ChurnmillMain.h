// churnmill's main form: connects to the demo database and, at a chosen rate,
// runs random inserts, deletes and updates on its stock table, each wrapped in
// the stored procedures that make the database side announce a transaction to
// the notify server.
#pragma once

#include <cstdint>
#include <string>

#include "framework/ComCtrls.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "framework/db/FbDatabase.h"
#include "framework/db/FbSQL.h"
#include "framework/db/FbStoredProc.h"
#include "shared/VexaList.h"

namespace vexa {

// The registry key and value that may name the database, and the file taken
// beside the program otherwise.
inline constexpr const char* ChurnmillRegistryKey =
    "Software\\VEXA Software\\Lumidex\\NotifyServer";
inline constexpr const char* ChurnmillDatabaseValue = "DezazErurDB";
inline constexpr const char* ChurnmillDefaultDatabase = "Data/KWV_DEMO.GDB";
// The maker's web page that Button1 opens.
inline constexpr const char* ChurnmillWebPage = "https://www.vexasoftware.com/";

// The program's random generator: a linear congruential sequence of 32-bit
// seeds. Random(Range) is uniform in 0..Range-1 (0 when Range <= 0).
extern uint32_t RandSeed;
void Randomize();  // seeds from the clock
int32_t Random(int32_t Range);

// A real in the statements' form: two decimals and a decimal point, whatever
// the locale.
std::string FloatText(double Value);

// Program-wide state of the trigger loop.
extern int32_t DemoTableID;
extern bool TriggerBusy;
extern bool TriggerPending;

class TFrmChurnmillMain : public fw::TForm {
public:
  explicit TFrmChurnmillMain(fw::TComponent* AOwner);
  ~TFrmChurnmillMain() override;

  fw::TButton* btnShake = nullptr;
  fw::TLabel* Label1 = nullptr;
  fw::TLabel* lblTPS = nullptr;
  fw::TLabel* Label2 = nullptr;
  fw::TEdit* Edit1 = nullptr;
  fw::TUpDown* updTPSTarget = nullptr;
  fw::TCheckBox* chkI = nullptr;
  fw::TCheckBox* chkD = nullptr;
  fw::TCheckBox* chkU = nullptr;
  fw::TCheckBox* chk4CharSymbol = nullptr;
  fw::TButton* Button1 = nullptr;
  fw::TMemo* Memo1 = nullptr;
  fw::TTimer* tmrDisplay = nullptr;
  fw::TTimer* tmrTrigger = nullptr;
  fw::TFbDatabase* IBDatabase1 = nullptr;
  fw::TFbTransaction* IBTransaction1 = nullptr;
  fw::TFbSQL* IBSQL1 = nullptr;
  fw::TFbStoredProc* IBStoredProc1 = nullptr;

  // STOCKIDs the deletes and updates pick from.
  TVexaIntList* StockIDs = nullptr;
  // The database to open, fixed when the form is made.
  std::string DatabasePath;
  // Statements committed since the display timer last fired.
  int32_t CommitCount = 0;

  void FormCreate(fw::TObject* Sender);
  void FormDestroy(fw::TObject* Sender);
  void btnShakeClick(fw::TObject* Sender);
  void btnGetMinMaxClick(fw::TObject* Sender);
  void updTPSTargetClick(fw::TObject* Sender, fw::TUDBtnType Button);
  void tmrDisplayTimer(fw::TObject* Sender);
  void tmrTriggerTimer(fw::TObject* Sender);
  void chkIClick(fw::TObject* Sender);
  void Button1Click(fw::TObject* Sender);

  // The TABLEID of a table's VEXA_KWV_CONFIG row; 0 (after an error box)
  // when it has none.
  int32_t GetTableID(const std::string& TableName);
  // The three notify procedures, each in a transaction of its own.
  virtual int32_t BeginNotifyTrans(int32_t TableID);
  virtual void EndNotifyTrans(int32_t TableID, int32_t TransID);
  virtual void CancelNotifyTrans(int32_t TableID, int32_t TransID);

  // Appends a line to the log (and, without a display, to standard output).
  void Log(const std::string& Text);

protected:
  void Resize() override;

private:
  void StartShaking();
  void StopShaking();
  void LoadRecordList();
  // One pass of the trigger loop: draw, log, run and announce one statement.
  void RunPass();
  bool RunActive();
};

// The program's main form.
extern TFrmChurnmillMain* FrmChurnmillMain;

}  // namespace vexa
