// Message boxes and message dialogs.
//
// With a display they are modal windows (once the display layer provides
// them). Without one, a message box prints its caption and text on standard
// output and answers its default button. A test (or a program) may install a
// responder that answers instead; it sees what was asked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/Forms.h"

namespace fw {

// Message box flags and answers.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_TOPMOST = 0x00040000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};
using TMsgDlgButtons = TSet<TMsgDlgBtn>;
inline constexpr TMsgDlgButtons mbYesNoCancel{mbYes, mbNo, mbCancel};
inline constexpr TMsgDlgButtons mbOKCancel{mbOK, mbCancel};
inline constexpr TMsgDlgButtons mbAbortRetryIgnore{mbAbort, mbRetry, mbIgnore};

// What a dialog asks, as a responder sees it.
struct TDialogRequest {
  enum TKind { MessageBox, MessageDlg, ModalForm };
  TKind Kind = MessageBox;
  std::string Caption;
  std::string Text;
  UINT Flags = 0;                 // MessageBox: the MB_ flags
  TMsgDlgType DlgType = mtCustom; // MessageDlg
  TMsgDlgButtons Buttons;         // MessageDlg
  int DefaultAnswer = 0;          // what the dialog answers without a responder
  TCustomForm* Form = nullptr;    // ModalForm: the form (a responder may fill its controls)
};
// Returns the answer (an ID... value for MessageBox, mr... otherwise); 0 means
// "answer the default".
using TDialogResponder = std::function<int(const TDialogRequest& Request)>;
// Installs a responder (an empty one removes it); returns the previous one.
TDialogResponder SetDialogResponder(TDialogResponder Responder);
bool DialogResponderInstalled();

// A message box owned by Owner (0: none). Returns IDOK, IDYES, ...
int MessageBox(HWND Owner, const std::string& Text, const std::string& Caption, UINT Flags);
// A message dialog with the given buttons; returns mrOk, mrYes, ... Its
// caption is the type's ("Warning", "Error", "Information", "Confirm") or the
// application title for mtCustom. The default is OK, else Yes, else the first button.
TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                        int HelpCtx = 0);
// An information box with an OK button, captioned with the application title.
void ShowMessage(const std::string& Msg);

// Used by TCustomForm::ShowModal without a display (or with a responder).
TModalResult RunHeadlessModal(TCustomForm* Form);

}  // namespace fw
