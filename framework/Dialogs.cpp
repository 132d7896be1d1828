#include "framework/Dialogs.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "framework/ControlPaint.h"
#include "framework/FrameworkState.h"
#include "framework/StdCtrls.h"

namespace fw {

namespace {

int Ask(const TDialogRequest& req) {
  TDialogResponder r;
  {
    FrameworkState& st = St();
    std::lock_guard<std::mutex> g(st.responderMu);
    r = st.responder;
  }
  if (!r) return 0;
  return r(req);
}

// The text as printed lines (CR LF, CR and LF all end a line).
std::string Printable(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      out += '\n';
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

void Print(const std::string& caption, const std::string& text, const std::string& buttons) {
  std::printf("[%s] %s %s\n", caption.c_str(), Printable(text).c_str(), buttons.c_str());
  std::fflush(stdout);
}

const char* IdName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "?";
  }
}

std::string ButtonList(const std::vector<std::string>& names, size_t def) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) out += ' ';
    out += i == def ? "[" + names[i] + "]" : names[i];
  }
  return out;
}

std::string AppTitle() {
  if (Application && !Application->Title().empty()) return Application->Title();
  return ExtractFileName(ParamStr0());
}
}  // namespace

TDialogResponder SetDialogResponder(TDialogResponder Responder) {
  FrameworkState& st = St();
  std::lock_guard<std::mutex> g(st.responderMu);
  return std::exchange(st.responder, std::move(Responder));
}

bool DialogResponderInstalled() {
  FrameworkState& st = St();
  std::lock_guard<std::mutex> g(st.responderMu);
  return static_cast<bool>(st.responder);
}

int MessageBox(HWND, const std::string& Text, const std::string& Caption, UINT Flags) {
  std::vector<int> buttons;
  switch (Flags & 0xF) {
    case MB_OKCANCEL: buttons = {IDOK, IDCANCEL}; break;
    case MB_ABORTRETRYIGNORE: buttons = {IDABORT, IDRETRY, IDIGNORE}; break;
    case MB_YESNOCANCEL: buttons = {IDYES, IDNO, IDCANCEL}; break;
    case MB_YESNO: buttons = {IDYES, IDNO}; break;
    case MB_RETRYCANCEL: buttons = {IDRETRY, IDCANCEL}; break;
    default: buttons = {IDOK}; break;
  }
  size_t def = (Flags >> 8) & 0xF;
  if (def >= buttons.size()) def = 0;
  TDialogRequest req;
  req.Kind = TDialogRequest::MessageBox;
  req.Caption = Caption;
  req.Text = Text;
  req.Flags = Flags;
  req.DefaultAnswer = buttons[def];
  std::vector<std::string> names;
  for (int b : buttons) names.push_back(IdName(b));
  if (DisplayAvailable() && !DialogResponderInstalled())
    return DisplayMessageBox(Text, Caption, Flags);
  Print(Caption, Text, ButtonList(names, def));
  int answer = Ask(req);
  return answer != 0 ? answer : req.DefaultAnswer;
}

TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                        int) {
  // Each button's name, and its caption on the screen with the letter that presses it.
  static const struct {
    TMsgDlgBtn Btn;
    const char* Name;
    const char* Caption;
    TModalResult Result;
  } kButtons[] = {
      {mbYes, "Yes", "&Yes", mrYes},
      {mbNo, "No", "&No", mrNo},
      {mbOK, "OK", "OK", mrOk},
      {mbCancel, "Cancel", "Cancel", mrCancel},
      {mbAbort, "Abort", "&Abort", mrAbort},
      {mbRetry, "Retry", "&Retry", mrRetry},
      {mbIgnore, "Ignore", "&Ignore", mrIgnore},
      {mbAll, "All", "&All", mrAll},
      {mbNoToAll, "No to All", "N&o to All", mrNoToAll},
      {mbYesToAll, "Yes to All", "Yes to &All", mrYesToAll},
      {mbHelp, "Help", "&Help", mrNone},
  };
  std::string caption;
  switch (DlgType) {
    case mtWarning: caption = "Warning"; break;
    case mtError: caption = "Error"; break;
    case mtInformation: caption = "Information"; break;
    case mtConfirmation: caption = "Confirm"; break;
    default: caption = AppTitle(); break;
  }
  std::vector<std::string> names, captions;
  std::vector<TModalResult> results;
  for (const auto& b : kButtons) {
    if (Buttons.Contains(b.Btn)) {
      names.push_back(b.Name);
      captions.push_back(b.Caption);
      results.push_back(b.Result);
    }
  }
  size_t def = 0;
  TModalResult defResult = results.empty() ? mrOk : results[0];
  for (size_t i = 0; i < results.size(); ++i) {
    if (results[i] == mrOk) {
      def = i;
      defResult = mrOk;
      break;
    }
  }
  if (defResult != mrOk) {
    for (size_t i = 0; i < results.size(); ++i) {
      if (results[i] == mrYes) {
        def = i;
        defResult = mrYes;
        break;
      }
    }
  }
  TDialogRequest req;
  req.Kind = TDialogRequest::MessageDlg;
  req.Caption = caption;
  req.Text = Msg;
  req.DlgType = DlgType;
  req.Buttons = Buttons;
  req.DefaultAnswer = defResult;
  if (DisplayAvailable() && !DialogResponderInstalled()) {
    std::vector<std::pair<int, std::string>> buttons;
    int cancel = defResult;
    for (size_t i = 0; i < names.size(); ++i) {
      buttons.push_back({results[i], captions[i]});
      if (results[i] == mrCancel || results[i] == mrNo) cancel = results[i];
    }
    TDialogIcon icon = diNone;
    switch (DlgType) {
      case mtWarning: icon = diWarning; break;
      case mtError: icon = diError; break;
      case mtInformation: icon = diInformation; break;
      case mtConfirmation: icon = diQuestion; break;
      default: break;
    }
    return DisplayDialog(Msg, caption, buttons, def, cancel, icon);
  }
  Print(caption, Msg, ButtonList(names, def));
  int answer = Ask(req);
  return answer != 0 ? answer : defResult;
}

void ShowMessage(const std::string& Msg) {
  TDialogRequest req;
  req.Kind = TDialogRequest::MessageDlg;
  req.Caption = AppTitle();
  req.Text = Msg;
  req.DlgType = mtCustom;
  req.Buttons = TMsgDlgButtons{mbOK};
  req.DefaultAnswer = mrOk;
  if (DisplayAvailable() && !DialogResponderInstalled()) {
    DisplayDialog(Msg, req.Caption, {{mrOk, "OK"}}, 0, mrOk);
    return;
  }
  Print(req.Caption, Msg, "[OK]");
  Ask(req);
}

TModalResult RunHeadlessModal(TCustomForm* Form) {
  // What the form asks: the texts of its labels and the captions of its other controls.
  std::string text;
  for (int i = 0; i < Form->ComponentCount(); ++i) {
    auto* c = dynamic_cast<TControl*>(Form->Components(i));
    if (!c || c->Caption().empty()) continue;
    if (!text.empty()) text += " | ";
    text += c->Caption();
  }
  TDialogRequest req;
  req.Kind = TDialogRequest::ModalForm;
  req.Caption = Form->Caption();
  req.Text = text;
  req.DefaultAnswer = mrCancel;
  req.Form = Form;
  Print(Form->Caption(), text, "-> Cancel");
  int answer = Ask(req);
  return answer != 0 ? answer : mrCancel;
}

}  // namespace fw
