// Forms, the application object and the screen.
//
// Every form has a real top-level platform window, hidden until shown; without
// a display nothing presents it but its messages, timers and posted private
// messages run through the same loop. SIGTERM and SIGINT close the main form
// (the same path as closing it by hand).
#pragma once

#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "framework/Controls.h"
#include "framework/Graphics.h"

namespace fw {

// Results of modal forms and dialogs.
using TModalResult = int32_t;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
constexpr TModalResult mrAll = 8;
constexpr TModalResult mrNoToAll = 9;
constexpr TModalResult mrYesToAll = 10;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TPosition {
  poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter,
  poDesktopCenter, poMainFormCenter, poOwnerFormCenter
};
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
// The buttons of a form's title bar: the system menu (with the close box),
// minimise and maximise; a dialog border offers neither of the last two.
enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = TSet<TBorderIcon>;

// The size a user may give a form, 0 for no limit.
struct TSizeConstraints {
  int32_t MinWidth = 0, MinHeight = 0, MaxWidth = 0, MaxHeight = 0;
};

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

class TCustomForm : public TWinControl {
public:
  // Makes the form's (hidden) window at once so that messages can be posted to
  // it from the constructor of a derived form on. A derived form creates its
  // controls in its constructor; OnCreate fires from AfterConstruction, which
  // TApplication::CreateForm and CreateFormOf call.
  explicit TCustomForm(TComponent* AOwner);
  // Fires OnDestroy (unless BeforeDestruction did), frees the owned
  // components, then the window. Free forms with Free(form) or through their
  // owner so that OnDestroy runs while the derived form is still whole.
  ~TCustomForm() override;
  // Fires OnDestroy.
  void BeforeDestruction() override;

  // Ends construction: Loaded for the controls built in the constructor, then OnCreate.
  virtual void AfterConstruction();

  // Close: OnCloseQuery, then OnClose with caHide; caNone keeps the form, the
  // main form ends the application, caHide hides, caMinimize minimizes,
  // caFree frees the form later (Release). A modal form gets mrCancel instead.
  void Close();
  virtual bool CloseQuery();
  // Frees the form once the current message has been handled (posted CM_RELEASE).
  void Release();

  void SetVisible(bool Value) override;
  // Shows the form in front of the other windows (restored when minimised)
  // with the keyboard.
  void BringToFront();
  // Kept within the constraints; a form placed by the program (not at its
  // default position) keeps that place when first shown.
  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) override;
  const TSizeConstraints& Constraints() const { return FConstraints; }
  void SetConstraints(const TSizeConstraints& Value);

  // Shows the form modally and returns its ModalResult. Without a display (or
  // with a dialog responder installed, see Dialogs.h) it prints what the form
  // asks and returns the responder's answer, mrCancel by default.
  virtual TModalResult ShowModal();
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  bool Modal() const { return FModal; }

  // What the window shows: a display that gave a minimised window back (or
  // could not minimise it) makes it normal again.
  TWindowState WindowState() const;
  void SetWindowState(TWindowState Value);
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle Value) { FBorderStyle = Value; }
  TBorderIcons BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(TBorderIcons Value);
  // The background of the client area, behind the controls.
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition Value);
  TFormStyle FormStyle() const { return FFormStyle; }
  void SetFormStyle(TFormStyle Value) { FFormStyle = Value; }
  bool Active() const { return FActive; }
  TWinControl* ActiveControl() const { return FActiveControl; }
  void SetActiveControl(TWinControl* Control) { FActiveControl = Control; }
  bool KeyPreview() const { return FKeyPreview; }
  void SetKeyPreview(bool Value) { FKeyPreview = Value; }

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TNotifyEvent OnPaint;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

protected:
  void CreateParams(TCreateParams& Params) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  virtual void DoCreate();
  virtual void DoDestroy();
  virtual void DoClose(TCloseAction& Action);
  virtual void DoShow();
  virtual void DoHide();
  void WndProc(TMessage& Message) override;

private:
  // Moves the form where its Position asks, just before it is shown.
  void PlaceByPosition();
  // Tells the display the form's size limits, owner, placement and frame.
  void UpdateWindowHints();
  // Widens a dialog whose caption a title bar would cut, its controls kept centred.
  void FitCaption();
  TSizeConstraints FConstraints;
  bool FPlaced = false;  // shown once, or placed by the program
  TModalResult FModalResult = mrNone;
  bool FModal = false;
  bool FReleasePending = false;  // Release posted CM_RELEASE
  bool FCreated = false;
  bool FDestroyed = false;
  bool FActive = false;
  bool FKeyPreview = false;
  TWindowState FWindowState = wsNormal;
  TFormBorderStyle FBorderStyle = bsSizeable;
  TBorderIcons FBorderIcons{biSystemMenu, biMinimize, biMaximize};
  TColor FColor = clBtnFace;
  TPosition FPosition = poDesigned;
  TFormStyle FFormStyle = fsNormal;
  TWinControl* FActiveControl = nullptr;
};

class TForm : public TCustomForm {
public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};

// Makes a form of class T owned by AOwner and completes its construction
// (AfterConstruction, so OnCreate has fired when it returns).
template <class T, class... Args>
T* CreateFormOf(TComponent* AOwner, Args&&... args) {
  T* form = new T(AOwner, std::forward<Args>(args)...);
  try {
    form->AfterConstruction();
  } catch (...) {
    delete form;
    throw;
  }
  return form;
}

using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;

class TApplication : public TComponent {
public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // Installs the close-request handler (SIGTERM, SIGINT close the main form).
  void Initialize();

  // Makes a form owned by the application. Reference is assigned before the
  // form's constructor runs, so the form's own code can already use it (as its
  // global variable). The first form made becomes MainForm. OnCreate has fired
  // when it returns.
  template <class T>
  void CreateForm(T*& Reference) {
    void* mem = ::operator new(sizeof(T));
    Reference = static_cast<T*>(mem);
    T* form;
    try {
      form = new (mem) T(this);
    } catch (...) {
      Reference = nullptr;
      ::operator delete(mem);
      throw;
    }
    FormCreated(form);
  }

  // Shows the main form (when ShowMainForm) and runs the message loop until
  // Terminate (or WM_QUIT). Exceptions escaping a message handler go to
  // HandleException and the loop goes on.
  void Run();
  // Handles every message waiting now; a quit request among them (a WM_QUIT
  // posted to the thread, not to a window) sets Terminated.
  void ProcessMessages();
  // Waits for one message and handles it.
  void HandleMessage();
  // Ends Run: Terminated := true and a WM_QUIT is posted.
  void Terminate();
  bool Terminated() const { return FTerminated; }

  // The handler for an exception that escaped an event (call inside a catch
  // block). OnException when assigned; else (EAbort excepted) logs class name
  // and message and, with a display, shows them in a message box.
  void HandleException(TObject* Sender);
  void ShowException(const std::exception& E);
  TExceptionEvent OnException;

  // The application's message box (see Dialogs.h for the headless rules).
  int MessageBox(const std::string& Text, const std::string& Caption, UINT Flags);

  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value);  // also the text of the application's window
  TCustomForm* MainForm() const { return FMainForm; }
  bool ShowMainForm() const { return FShowMainForm; }
  void SetShowMainForm(bool Value) { FShowMainForm = Value; }
  // The application's hidden window (made on first use).
  HWND Handle();
  std::string ExeName() const;
  void Minimize();
  void Restore();
  void BringToFront();

  TNotifyEvent OnIdle;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  friend class TCustomForm;
  void FormCreated(TCustomForm* Form);
  void FormDestroyed(TCustomForm* Form) {
    if (FMainForm == Form) FMainForm = nullptr;
  }
  bool ProcessMessage(plat::MSG& Msg);
  HWND FHandle = 0;
  std::string FTitle;
  TCustomForm* FMainForm = nullptr;
  bool FShowMainForm = true;
  bool FTerminated = false;
  bool FRunning = false;
};

// The application object of the process, made when the program starts (never null).
extern TApplication* Application;
// Frees the application's forms (firing their OnDestroy) before the program
// returns from main; programs call it after Run.
void DoneApplication();

class TScreen : public TComponent {
public:
  explicit TScreen(TComponent* AOwner) : TComponent(AOwner) {}
  // The display's size, 1024 x 768 without a display.
  int32_t Width() const;
  int32_t Height() const;
  int FormCount() const { return static_cast<int>(FForms.size()); }
  TCustomForm* Forms(int Index) const { return FForms.at(Index); }
  TCustomForm* ActiveForm() const;

private:
  friend class TCustomForm;
  std::vector<TCustomForm*> FForms;
};

extern TScreen* Screen;

// True when the program presents windows on a display; false headless.
bool DisplayAvailable();
// The display layer reports itself here (with its screen size).
void SetDisplayAvailable(bool Available, int32_t ScreenWidth = 1024, int32_t ScreenHeight = 768);

}  // namespace fw
