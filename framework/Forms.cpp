#include "framework/Forms.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <typeinfo>
#include <cxxabi.h>

#include "framework/ControlPaint.h"
#include "framework/Dialogs.h"
#include "framework/FrameworkState.h"
#include "framework/ScopeGuard.h"
#include "platform/display/Display.h"
#include "platform/kernel/Kernel.h"

namespace fw {

TApplication* Application = new TApplication(nullptr);
TScreen* Screen = new TScreen(nullptr);

namespace {
// The application object serves one session: when the process leaves it, its
// forms are freed as at the end of the program and a fresh object, not yet
// run nor terminated, serves the next session.
const bool gApplicationEndsWithSession = [] {
  plat::AtSessionEnd([] {
    if (!Application) return;
    DoneApplication();
    delete Application;
    Application = new TApplication(nullptr);
  });
  return true;
}();
}  // namespace

bool DisplayAvailable() { return St().display; }

void SetDisplayAvailable(bool Available, int32_t ScreenWidth, int32_t ScreenHeight) {
  FrameworkState& st = St();
  st.display = Available;
  st.screenWidth = Available ? ScreenWidth : 1024;
  st.screenHeight = Available ? ScreenHeight : 768;
}

int32_t TScreen::Width() const { return St().screenWidth; }
int32_t TScreen::Height() const { return St().screenHeight; }

TCustomForm* TScreen::ActiveForm() const {
  for (TCustomForm* f : FForms) {
    if (f->Active()) return f;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// TCustomForm

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  BeginLoading();
  SetVisible(false);
  SetBounds(0, 0, 640, 480);
  if (Screen) Screen->FForms.push_back(this);
  HandleNeeded();
}

TCustomForm::~TCustomForm() {
  Destroying();
  DoDestroy();
  if (Application) Application->FormDestroyed(this);
  if (Screen) {
    auto& v = Screen->FForms;
    for (size_t i = 0; i < v.size(); ++i) {
      if (v[i] == this) {
        v.erase(v.begin() + static_cast<long>(i));
        break;
      }
    }
  }
  DestroyComponents();
}

void TCustomForm::BeforeDestruction() {
  TWinControl::BeforeDestruction();
  DoDestroy();
}

void TCustomForm::AfterConstruction() {
  if (FCreated) return;
  FCreated = true;
  EndLoading();
  DoCreate();
  if (Visible()) DoShow();  // shown while it was being built
}

void TCustomForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TCustomForm::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      if (Application) Application->HandleException(this);
    }
  }
}

void TCustomForm::DoClose(TCloseAction& Action) {
  if (OnClose) OnClose(this, Action);
}

void TCustomForm::DoShow() {
  if (OnShow) OnShow(this);
}

void TCustomForm::DoHide() {
  if (OnHide) OnHide(this);
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::Close() {
  if (FModal) {
    FModalResult = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  DoClose(action);
  if (action == caNone) return;
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
  } else if (action == caHide) {
    Hide();
  } else if (action == caMinimize) {
    SetWindowState(wsMinimized);
  } else {
    Release();
  }
}

void TCustomForm::Release() {
  if (plat::PostMessage(Handle(), CM_RELEASE, 0, 0)) FReleasePending = true;
}

void TCustomForm::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  const TSizeConstraints& c = FConstraints;
  if (c.MaxWidth > 0) AWidth = std::min(AWidth, c.MaxWidth);
  if (c.MaxHeight > 0) AHeight = std::min(AHeight, c.MaxHeight);
  AWidth = std::max(AWidth, c.MinWidth);
  AHeight = std::max(AHeight, c.MinHeight);
  // A place the program's own code gives (stored bounds, say) is kept.
  if (FCreated && (ALeft != Left() || ATop != Top())) FPlaced = true;
  TWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
}

void TCustomForm::SetConstraints(const TSizeConstraints& Value) {
  FConstraints = Value;
  SetBounds(Left(), Top(), Width(), Height());
  if (HandleAllocated() && Visible()) UpdateWindowHints();
}

void TCustomForm::UpdateWindowHints() {
  plat::WindowHints h;
  if (FBorderStyle == bsDialog || FBorderStyle == bsSingle || FBorderStyle == bsToolWindow) {
    // A fixed border: the size the form has is the only one.
    h.minWidth = h.maxWidth = Width();
    h.minHeight = h.maxHeight = Height();
  } else {
    h.minWidth = FConstraints.MinWidth;
    h.minHeight = FConstraints.MinHeight;
    h.maxWidth = FConstraints.MaxWidth;
    h.maxHeight = FConstraints.MaxHeight;
  }
  // A dialog (the settings, a message box) belongs to the program's main window.
  TCustomForm* main = Application ? Application->MainForm() : nullptr;
  if (FBorderStyle == bsDialog && main && main != this && main->HandleAllocated()) h.owner = main->Handle();
  // The frame: minimise and maximise only where a normal border offers them.
  const bool menu = FBorderIcons.Contains(biSystemMenu);
  const bool boxes = menu && FBorderStyle != bsDialog && FBorderStyle != bsToolWindow &&
                     FBorderStyle != bsSizeToolWin;
  h.decorated = FBorderStyle != bsNone;
  h.resizable = FBorderStyle == bsSizeable || FBorderStyle == bsSizeToolWin;
  h.closable = menu;
  h.minimizable = boxes && FBorderIcons.Contains(biMinimize);
  h.maximizable = boxes && FBorderIcons.Contains(biMaximize);
  h.dialog = FBorderStyle == bsDialog;
  h.defaultPosition = (FPosition == poDefault || FPosition == poDefaultPosOnly) && !FPlaced;
  plat::SetWindowHints(Handle(), h);
}

void TCustomForm::SetBorderIcons(TBorderIcons Value) {
  FBorderIcons = Value;
  if (HandleAllocated() && Visible()) UpdateWindowHints();
}

void TCustomForm::FitCaption() {
  if (FBorderStyle != bsDialog || !DisplayAvailable() || Caption().empty()) return;
  const int32_t extra = TitleBarWidth(Caption()) - Width();
  if (extra <= 0) return;
  for (int i = 0; i < ControlCount(); ++i) {
    TControl* c = Controls(i);
    c->SetBounds(c->Left() + extra / 2, c->Top(), c->Width(), c->Height());
  }
  SetBounds(Left(), Top(), Width() + extra, Height());
}

void TCustomForm::PlaceByPosition() {
  const auto screenCenter = [this] {
    SetBounds((Screen->Width() - Width()) / 2, (Screen->Height() - Height()) / 2, Width(), Height());
  };
  switch (FPosition) {
    case poScreenCenter:
    case poDesktopCenter: screenCenter(); break;
    case poMainFormCenter:
    case poOwnerFormCenter: {
      TCustomForm* ref = Application ? Application->MainForm() : nullptr;
      if (FPosition == poOwnerFormCenter) {
        if (auto* o = dynamic_cast<TCustomForm*>(Owner())) ref = o;
      }
      if (ref && ref != this) {
        SetBounds(ref->Left() + (ref->Width() - Width()) / 2,
                  ref->Top() + (ref->Height() - Height()) / 2, Width(), Height());
      } else {
        // Nothing to centre on (or it is this form): the screen.
        screenCenter();
      }
      break;
    }
    case poDefault:
    case poDefaultPosOnly: {
      // Where the display chooses (a window manager places it itself).
      int32_t x = 0, y = 0;
      if (!FPlaced && plat::DefaultWindowPosition(Width(), Height(), &x, &y)) {
        TWinControl::SetBounds(x, y, Width(), Height());
      }
      break;
    }
    default: break;
  }
}

void TCustomForm::SetVisible(bool Value) {
  if (Visible() == Value) return;
  if (Value) {
    FitCaption();
    PlaceByPosition();
    if (HandleAllocated()) UpdateWindowHints();
    FPlaced = true;
  }
  TWinControl::SetVisible(Value);
  if (HandleAllocated() && Value && FWindowState != wsNormal) {
    plat::ShowWindow(Handle(), FWindowState == wsMinimized ? plat::SW_SHOWMINIMIZED
                                                           : plat::SW_SHOWMAXIMIZED);
  }
  if (ComponentState().Contains(csLoading) || ComponentState().Contains(csDestroying)) return;
  if (Value) {
    DoShow();
  } else {
    DoHide();
  }
}

void TCustomForm::BringToFront() {
  Show();
  if (HandleAllocated()) plat::BringWindowToForeground(Handle());
}

TWindowState TCustomForm::WindowState() const {
  if (HandleAllocated() && Visible()) {
    if (plat::IsIconic(HandleIfAllocated())) return wsMinimized;
    if (plat::IsWindowMaximized(HandleIfAllocated())) return wsMaximized;
    if (FWindowState == wsMinimized) return wsNormal;
  }
  return FWindowState;
}

void TCustomForm::SetWindowState(TWindowState Value) {
  if (WindowState() == Value) return;
  FWindowState = Value;
  if (HandleAllocated() && Visible()) {
    int cmd = Value == wsMinimized ? plat::SW_MINIMIZE
                                   : (Value == wsMaximized ? plat::SW_SHOWMAXIMIZED : plat::SW_RESTORE);
    plat::ShowWindow(Handle(), cmd);
  }
}

void TCustomForm::SetPosition(TPosition Value) { FPosition = Value; }

void TCustomForm::SetColor(TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Invalidate();
}

TModalResult TCustomForm::ShowModal() {
  if (Visible() || FModal) throw EInvalidOperation("Cannot make a visible window modal");
  FModalResult = mrNone;
  if (!DisplayAvailable() || DialogResponderInstalled()) {
    // Placed as if shown, so the answer sees the bounds a person would.
    PlaceByPosition();
    FModal = true;
    TModalResult r = mrCancel;
    {
      auto done = fw::Finally([&] { FModal = false; });
      r = RunHeadlessModal(this);
    }
    FModalResult = r;
    return r;
  }
  FModal = true;
  Show();
  {
    auto done = fw::Finally([&] {
      FModal = false;
      Hide();
    });
    while (FModalResult == mrNone && Application && !Application->Terminated()) {
      Application->HandleMessage();
    }
  }
  if (FModalResult == mrNone) FModalResult = mrCancel;
  return FModalResult;
}

void TCustomForm::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.Style = plat::WS_OVERLAPPEDWINDOW | plat::WS_CLIPCHILDREN;
  if (Visible()) Params.Style |= plat::WS_VISIBLE;
  Params.WndParent = 0;
  Params.WinClassName = "VexaForm";
}

void TCustomForm::Notification(TComponent* AComponent, TOperation Operation) {
  TWinControl::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent &&
      AComponent == static_cast<TComponent*>(FActiveControl)) {
    FActiveControl = nullptr;
  }
}

void TCustomForm::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case plat::WM_CLOSE:
      Close();
      Message.Result = 0;
      return;
    case CM_RELEASE:
      // Only the form's own Release frees it; the message alone may come
      // from any program.
      if (!FReleasePending) {
        TellIgnoredOnce("CM_RELEASE sent to a form that did not post it");
        Message.Result = 0;
        return;
      }
      Free(this);
      return;
    case plat::WM_SYSCOMMAND:
      if ((static_cast<uint32_t>(Message.WParam) & 0xFFF0) == plat::SC_CLOSE) {
        Close();
        Message.Result = 0;
        return;
      }
      break;
    case plat::WM_SYSCOLORCHANGE:
      // The form's controls learn of new system colours as a control message.
      Perform(CM_SYSCOLORCHANGE, Message.WParam, Message.LParam);
      Message.Result = 0;
      return;
    case plat::WM_ACTIVATE:
      FActive = Message.WParam != 0;
      if (FActive && OnActivate) OnActivate(this);
      if (!FActive && OnDeactivate) OnDeactivate(this);
      break;
    default: break;
  }
  TWinControl::WndProc(Message);
}

// ---------------------------------------------------------------------------
// TApplication

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() {
  if (FHandle) DeallocateHWnd(FHandle);
}

void TApplication::Initialize() {
  InitApplicationDisplay();  // real windows with DISPLAY, headless otherwise
  // A close request (SIGTERM, SIGINT) closes the main form, as the user would.
  plat::SetCloseRequestHandler([this](int) {
    if (FMainForm) {
      FMainForm->Close();
    } else {
      Terminate();
    }
  });
}

void TApplication::FormCreated(TCustomForm* Form) {
  if (!FMainForm) FMainForm = Form;
  Form->AfterConstruction();
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent && AComponent == static_cast<TComponent*>(FMainForm)) {
    FMainForm = nullptr;
  }
}

HWND TApplication::Handle() {
  if (!FHandle) {
    FHandle = AllocateHWnd(plat::WNDPROC(HiddenWindowProc));
    plat::SetWindowText(FHandle, FTitle);
  }
  return FHandle;
}

void TApplication::SetTitle(const std::string& Value) {
  FTitle = Value;
  if (FHandle) plat::SetWindowText(FHandle, Value);
}

std::string TApplication::ExeName() const { return ParamStr0(); }

void TApplication::Minimize() {
  if (FHandle) plat::ShowWindow(FHandle, plat::SW_MINIMIZE);
}

void TApplication::Restore() {
  if (FHandle) plat::ShowWindow(FHandle, plat::SW_RESTORE);
}

void TApplication::BringToFront() {
  if (FMainForm && FMainForm->HandleAllocated()) plat::BringWindowToForeground(FMainForm->Handle());
}

bool TApplication::ProcessMessage(plat::MSG& Msg) {
  try {
    CheckSynchronize();
  } catch (...) {
    HandleException(this);
  }
  bool got;
  try {
    got = plat::PeekMessage(&Msg, 0, 0, 0, plat::PM_REMOVE);
  } catch (...) {
    HandleException(this);
    return true;
  }
  if (!got) return false;
  // A quit request is posted to the thread (hwnd 0). A WM_QUIT posted to a
  // window comes from someone else's PostMessage and goes to that window like
  // any message: another program must not end this one through its windows.
  if (Msg.message == plat::WM_QUIT && Msg.hwnd == 0) {
    FTerminated = true;
    return true;
  }
  if (Msg.hwnd == 0 && Msg.message == plat::WM_NULL) {
    CheckSynchronize();  // a thread waits in Synchronize
    return true;
  }
  try {
    plat::TranslateMessage(&Msg);
    plat::DispatchMessage(&Msg);
  } catch (...) {
    HandleException(this);
  }
  return true;
}

void TApplication::ProcessMessages() {
  plat::MSG msg;
  while (ProcessMessage(msg)) {
  }
}

void TApplication::HandleMessage() {
  plat::MSG msg;
  if (ProcessMessage(msg)) return;
  if (OnIdle) {
    try {
      OnIdle(this);
    } catch (...) {
      HandleException(this);
    }
  }
  if (!FTerminated) plat::WaitMessage();
}

void TApplication::Run() {
  if (!FMainForm) return;
  FRunning = true;
  if (FShowMainForm) FMainForm->Show();
  while (!FTerminated) HandleMessage();
  FRunning = false;
}

void TApplication::Terminate() {
  FTerminated = true;
  plat::PostQuitMessage(0);
}

namespace {
std::string ExceptionClassName(const std::exception& E) {
  if (auto* fe = dynamic_cast<const Exception*>(&E)) return fe->ClassName();
  int status = 0;
  char* dem = abi::__cxa_demangle(typeid(E).name(), nullptr, nullptr, &status);
  std::string name = (status == 0 && dem) ? dem : typeid(E).name();
  std::free(dem);
  size_t colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}
}  // namespace

void TApplication::HandleException(TObject* Sender) {
  std::exception_ptr p = std::current_exception();
  if (!p) return;
  try {
    std::rethrow_exception(p);
  } catch (const EAbort&) {
    // The silent exception.
  } catch (const std::exception& e) {
    if (OnException) {
      OnException(Sender, e);
    } else {
      ShowException(e);
    }
  } catch (...) {
    Exception e("Unknown exception");
    if (OnException) {
      OnException(Sender, e);
    } else {
      ShowException(e);
    }
  }
}

void TApplication::ShowException(const std::exception& E) {
  std::string line = ExceptionClassName(E) + ": " + E.what();
  plat::OutputDebugString(line);
  // With VEXA_DEBUG the debug output already goes to standard error.
  if (!std::getenv("VEXA_DEBUG")) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
  if (DisplayAvailable()) {
    std::string title = FTitle.empty() ? ExtractFileName(ExeName()) : FTitle;
    fw::MessageBox(FMainForm && FMainForm->HandleAllocated() ? FMainForm->Handle() : 0, E.what(),
                   title, MB_OK | MB_ICONSTOP);
  }
}

int TApplication::MessageBox(const std::string& Text, const std::string& Caption, UINT Flags) {
  return fw::MessageBox(FMainForm && FMainForm->HandleAllocated() ? FMainForm->Handle() : 0, Text,
                        Caption, Flags);
}

void DoneApplication() {
  if (!Application) return;
  Application->DestroyComponents();
  plat::SetCloseRequestHandler(nullptr);
}

}  // namespace fw
