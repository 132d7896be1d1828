// The provider settings dialog: the notify server's address and port for the
// gateway's channel.
#pragma once

#include "framework/ComCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

namespace vexa {

class TFrmProviderSettings : public fw::TForm {
public:
  explicit TFrmProviderSettings(fw::TComponent* AOwner);

  fw::TLabel* Label1;
  fw::TLabel* lblProviderName;
  fw::TLabel* Label2;
  fw::TEdit* edtIP;
  fw::TLabel* Label3;
  fw::TEdit* edtPort;
  fw::TUpDown* updPort;
  fw::TLabel* Label4;
  fw::TLabel* Label5;
  fw::TButton* btnOK;
  fw::TButton* btnCancel;

  void btnCancelClick(fw::TObject* Sender);
};

// The dialog while it is shown; null otherwise.
extern TFrmProviderSettings* FrmProviderSettings;

}  // namespace vexa
