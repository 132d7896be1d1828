#include "gateway/ProviderSettings.h"

namespace vexa {

TFrmProviderSettings* FrmProviderSettings = nullptr;

namespace {

template <class T>
T* Place(fw::TWinControl* parent, int left, int top, int width, int height) {
  T* c = new T(parent);
  c->SetParent(parent);
  c->SetBounds(left, top, width, height);
  return c;
}

}  // namespace

TFrmProviderSettings::TFrmProviderSettings(fw::TComponent* AOwner) : fw::TForm(AOwner) {
  SetBorderStyle(fw::bsDialog);
  SetCaption("VEXA Client Gateway Settings");
  SetClientWidth(248);
  SetClientHeight(171);
  SetFormStyle(fw::fsStayOnTop);
  SetPosition(fw::poMainFormCenter);

  Label1 = Place<fw::TLabel>(this, 8, 12, 80, 13);
  Label1->SetCaption("Provider Name:");
  lblProviderName = Place<fw::TLabel>(this, 96, 12, 144, 13);
  lblProviderName->SetName("lblProviderName");
  Label2 = Place<fw::TLabel>(this, 8, 40, 80, 13);
  Label2->SetCaption("IP Address:");
  edtIP = Place<fw::TEdit>(this, 96, 36, 144, 21);
  edtIP->SetName("edtIP");
  edtIP->SetText("");
  Label3 = Place<fw::TLabel>(this, 8, 68, 80, 13);
  Label3->SetCaption("Port:");
  edtPort = Place<fw::TEdit>(this, 96, 64, 57, 21);
  edtPort->SetName("edtPort");
  updPort = Place<fw::TUpDown>(this, 153, 64, 15, 21);
  updPort->SetName("updPort");
  updPort->SetMin(0);
  updPort->SetMax(32000);
  updPort->SetThousands(false);
  updPort->SetWrap(false);
  updPort->SetAssociate(edtPort);
  Label4 = Place<fw::TLabel>(this, 8, 94, 48, 13);
  Label4->SetCaption("Warning:");
  Label5 = Place<fw::TLabel>(this, 60, 94, 180, 39);
  Label5->SetWordWrap(true);
  Label5->SetCaption("Changing notify server location will close any currently connected client sessions.");
  btnOK = Place<fw::TButton>(this, 84, 140, 75, 25);
  btnOK->SetName("btnOK");
  btnOK->SetCaption("&OK");
  btnOK->SetDefault(true);
  btnOK->SetModalResult(fw::mrOk);
  btnCancel = Place<fw::TButton>(this, 165, 140, 75, 25);
  btnCancel->SetName("btnCancel");
  btnCancel->SetCaption("Cancel");
  btnCancel->SetCancel(true);
  btnCancel->SetModalResult(fw::mrCancel);
  btnCancel->OnClick = [this](fw::TObject* s) { btnCancelClick(s); };
}

void TFrmProviderSettings::btnCancelClick(fw::TObject*) { Close(); }

}  // namespace vexa
