// Controls: TControl (bounds, visibility, caption, mouse events, message
// dispatch), TWinControl (a platform window and child controls),
// TGraphicControl and TCustomControl (the classes that paint themselves).
//
// Painting is the display layer's: Invalidate records the request and tells
// it (ControlPaint.h), and it calls the Paint hooks of the painting classes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "framework/Classes.h"

namespace fw {

class TWinControl;
class TPopupMenu;

// Control messages of the framework (sent to controls with Perform).
constexpr UINT CM_BASE = 0xB000;
constexpr UINT CM_ENABLEDCHANGED = CM_BASE + 1;
constexpr UINT CM_VISIBLECHANGED = CM_BASE + 2;
constexpr UINT CM_TEXTCHANGED = CM_BASE + 3;
constexpr UINT CM_FONTCHANGED = CM_BASE + 4;
constexpr UINT CM_COLORCHANGED = CM_BASE + 5;
constexpr UINT CM_MOUSEENTER = CM_BASE + 6;
constexpr UINT CM_MOUSELEAVE = CM_BASE + 7;
constexpr UINT CM_SHOWINGCHANGED = CM_BASE + 8;
constexpr UINT CM_PARENTCOLORCHANGED = CM_BASE + 9;
constexpr UINT CM_PARENTFONTCHANGED = CM_BASE + 10;
constexpr UINT CM_RELEASE = CM_BASE + 11;  // posted by TCustomForm::Release
constexpr UINT CM_INVALIDATE = CM_BASE + 12;
// The system colours changed: a windowed control passes it on to its child controls.
constexpr UINT CM_SYSCOLORCHANGE = CM_BASE + 13;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
// Borders of forms; controls with a border take only bsNone and bsSingle.
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using TBorderStyle = TFormBorderStyle;
enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateFlag { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateFlag>;

enum TControlStyleFlag {
  csAcceptsControls, csCaptureMouse, csDesignInteractive, csClickEvents, csFramed,
  csSetCaption, csOpaque, csDoubleClicks, csFixedWidth, csFixedHeight, csNoDesignVisible,
  csReplicatable, csNoStdEvents, csDisplayDragImage, csReflector, csActionClient,
  csMenuEvents, csParentBackground
};
using TControlStyle = TSet<TControlStyleFlag>;

using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(TObject* Sender, uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};
struct TPoint {
  int32_t X = 0, Y = 0;
  bool operator==(const TPoint&) const = default;
};
inline TRect Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return TRect{l, t, r, b}; }
inline TPoint Point(int32_t x, int32_t y) { return TPoint{x, y}; }

class TControl : public TComponent {
public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;  // leaves its parent

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);

  int32_t Left() const { return FLeft; }
  int32_t Top() const { return FTop; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetLeft(int32_t Value) { SetBounds(Value, FTop, FWidth, FHeight); }
  void SetTop(int32_t Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
  void SetWidth(int32_t Value) { SetBounds(FLeft, FTop, Value, FHeight); }
  void SetHeight(int32_t Value) { SetBounds(FLeft, FTop, FWidth, Value); }
  // Stores the bounds (when they differ), moves the window if there is one,
  // fires OnResize after a size change and realigns the parent.
  virtual void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
  TRect BoundsRect() const { return Rect(FLeft, FTop, FLeft + FWidth, FTop + FHeight); }
  void SetBoundsRect(const TRect& R) { SetBounds(R.Left, R.Top, R.Width(), R.Height()); }
  virtual TRect ClientRect() const { return Rect(0, 0, FWidth, FHeight); }
  int32_t ClientWidth() const { return ClientRect().Width(); }
  int32_t ClientHeight() const { return ClientRect().Height(); }
  void SetClientWidth(int32_t Value);
  void SetClientHeight(int32_t Value);
  // Screen coordinates of a client point (and back).
  TPoint ClientToScreen(const TPoint& P) const;
  TPoint ScreenToClient(const TPoint& P) const;

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign Value);

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible here and in every parent up to a visible top-level window.
  virtual bool Showing() const;

  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool Value);

  // Caption and Text are one value; a change sends CM_TEXTCHANGED.
  const std::string& Caption() const { return FText; }
  void SetCaption(const std::string& Value) { SetText(Value); }
  virtual std::string Text() const { return FText; }
  virtual void SetText(const std::string& Value);

  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& Value) { FHint = Value; }
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool Value) { FShowHint = Value; }
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* Value);

  const TControlStyle& ControlStyle() const { return FControlStyle; }
  void SetControlStyle(const TControlStyle& Value) { FControlStyle = Value; }

  // Sends a message straight to the control's WndProc and returns its result.
  int32_t Perform(UINT Msg, int32_t WParam, int32_t LParam);
  // Message handling: WndProc -> Dispatch -> the handler registered for the
  // message number, else DefaultHandler. Derived classes override WndProc or
  // Dispatch, or register handlers with SetMessageHandler.
  virtual void WndProc(TMessage& Message);
  virtual void Dispatch(TMessage& Message);
  virtual void DefaultHandler(TMessage& Message);
  // Installs (or, with an empty handler, removes) the handler of one message.
  void SetMessageHandler(UINT Msg, TWndMethod Handler);
  bool HasMessageHandler(UINT Msg) const { return FHandlers.count(Msg) != 0; }

  // Painting requests; the display layer turns them into paints.
  virtual void Invalidate();
  virtual void Update() {}
  virtual void Repaint();
  bool NeedsPaint() const { return FNeedsPaint; }
  void ValidatePaint() { FNeedsPaint = false; }

  // Mouse and click entry points (the display layer and tests call them).
  virtual void Click();
  virtual void DblClick();
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnResize;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  virtual void Resize();
  // Hooks for derived classes, called after the state changed.
  virtual void VisibleChanging() {}
  virtual void BoundsChanged() {}
  friend class TWinControl;

private:
  TWinControl* FParent = nullptr;
  int32_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  TAlign FAlign = alNone;
  bool FVisible = true;
  bool FEnabled = true;
  bool FShowHint = false;
  bool FNeedsPaint = false;
  std::string FText;
  std::string FHint;
  TPopupMenu* FPopupMenu = nullptr;
  TControlStyle FControlStyle{csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks};
  std::map<UINT, TWndMethod> FHandlers;
};

// The parameters a TWinControl creates its window with.
struct TCreateParams {
  std::string Caption;
  plat::DWORD Style = 0;
  plat::DWORD ExStyle = 0;
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  HWND WndParent = 0;
  std::string WinClassName;
};

class TWinControl : public TControl {
public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;  // frees its window; child controls leave it

  // The control's window, created on first use (with its parent's first).
  HWND Handle();
  bool HandleAllocated() const { return FHandle != 0; }
  // True while the control destroys its own window (WM_DESTROY then is real).
  bool DestroyingHandle() const { return FDestroyingHandle; }
  // The window when there is one (0 otherwise); never creates it.
  HWND HandleIfAllocated() const { return FHandle; }
  void HandleNeeded() { Handle(); }
  // Destroys the window (it is made again on the next Handle()).
  void DestroyHandle();
  void RecreateWnd();

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int Index) const;
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);
  bool ContainsControl(TControl* Control) const;

  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) override;
  void SetVisible(bool Value) override;
  void SetEnabled(bool Value) override;
  void SetText(const std::string& Value) override;
  bool Showing() const override;

  // Lays out the children by their Align (top, bottom, left, right, client).
  void Realign();
  void DisableAlign() { ++FAlignLevel; }
  void EnableAlign();

  int TabOrder() const { return FTabOrder; }
  void SetTabOrder(int Value) { FTabOrder = Value; }
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool Value) { FTabStop = Value; }
  virtual bool CanFocus() const;
  bool Focused() const;
  virtual void SetFocus();

  // Keeps the bounds in step with the window when it is moved or sized from
  // outside (WM_MOVE, WM_SIZE), then dispatches.
  void WndProc(TMessage& Message) override;
  void DefaultHandler(TMessage& Message) override;
  void Invalidate() override;

protected:
  virtual void CreateParams(TCreateParams& Params);
  virtual void CreateWnd();
  virtual void DestroyWnd();
  // Lays out AlignControls over Rect (the client area).
  virtual void AlignControls(TControl* AControl, TRect& R);
  // The window procedure the platform calls: WndProc inside a guard that hands
  // escaping exceptions to Application->HandleException.
  void MainWndProc(TMessage& Message);

private:
  HWND FHandle = 0;
  plat::WNDPROC FDefWndProc;
  bool FDestroyingHandle = false;
  std::vector<TControl*> FControls;
  int FAlignLevel = 0;
  int FTabOrder = -1;
  bool FTabStop = false;
  friend class TControl;
};

// A control without a window of its own that paints on its parent.
class TGraphicControl : public TControl {
public:
  explicit TGraphicControl(TComponent* AOwner) : TControl(AOwner) {}
  // Draws the control; called by the display layer.
  virtual void Paint() {}
};

// A windowed control that paints itself.
class TCustomControl : public TWinControl {
public:
  explicit TCustomControl(TComponent* AOwner) : TWinControl(AOwner) {}
  virtual void Paint() {}
};

// The control a window belongs to (null when it is no control's window).
TWinControl* FindControl(HWND Handle);

}  // namespace fw
