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

  Label1 = Place<fw::TLabel>(this, 8, 8, 88, 13);
  Label1->SetCaption("Provider Name:");
  lblProviderName = Place<fw::TLabel>(this, 100, 8, 140, 13);
  lblProviderName->SetName("lblProviderName");
  lblProviderName->Font()->SetStyle(fw::TFontStyles{fw::fsBold});
  Label2 = Place<fw::TLabel>(this, 8, 32, 88, 13);
  Label2->SetCaption("IP Address:");
  edtIP = Place<fw::TEdit>(this, 100, 28, 140, 21);
  edtIP->SetName("edtIP");
  edtIP->SetText("");
  Label3 = Place<fw::TLabel>(this, 8, 58, 88, 13);
  Label3->SetCaption("Port:");
  edtPort = Place<fw::TEdit>(this, 100, 54, 57, 21);
  edtPort->SetName("edtPort");
  updPort = Place<fw::TUpDown>(this, 157, 54, 15, 21);
  updPort->SetName("updPort");
  updPort->SetMin(0);
  // Every TCP port must survive the dialog: a narrower range would clamp a
  // working stored port and OK would write the clamped one back.
  updPort->SetMax(65535);
  updPort->SetThousands(false);
  updPort->SetWrap(false);
  updPort->SetAssociate(edtPort);
  // The bold "Warning:" needs its own column beside the wrapped text.
  Label4 = Place<fw::TLabel>(this, 8, 82, 62, 13);
  Label4->SetCaption("Warning:");
  Label4->Font()->SetStyle(fw::TFontStyles{fw::fsBold});
  Label5 = Place<fw::TLabel>(this, 72, 82, 170, 56);
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
