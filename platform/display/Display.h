// Presenting top-level windows and turning input into window messages.
//
// Two backends keep the same window tree (the one platform/msg holds):
// - X11 (DISPLAY set): every visible top-level window of the display thread is
//   an X window whose pixels come from the window's backing store. Child
//   windows are painted into their own stores and composed over their parent
//   in z-order (bottom first) before the store is copied to the screen; a
//   window region shapes the X window.
// - Headless (no DISPLAY, or it cannot be opened): nothing is shown; the tree,
//   paints, focus, capture and the input entry points below work the same.
//
// Painting: an invalidated window of the display thread is painted (WM_PAINT,
// with WM_ERASEBKGND from BeginPaint) once the queue has handled what was
// posted before, parents before children; then the result is presented.
//
// The display belongs to the thread that called InitDisplay: its queue watches
// the X connection. Windows of other threads are neither painted nor shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/msg/Msg.h"

namespace plat {

// Hit-test results (WM_NCHITTEST answers). HTTRANSPARENT hands the point to the
// window below; HTCLOSE makes a click the close command.
constexpr LRESULT HTTRANSPARENT = -1;
constexpr LRESULT HTNOWHERE = 0;
constexpr LRESULT HTCLIENT = 1;
constexpr LRESULT HTCAPTION = 2;
constexpr LRESULT HTCLOSE = 20;

// Key state flags of mouse messages (wParam).
constexpr uint32_t MK_LBUTTON = 0x0001;
constexpr uint32_t MK_RBUTTON = 0x0002;
constexpr uint32_t MK_SHIFT = 0x0004;
constexpr uint32_t MK_CONTROL = 0x0008;
constexpr uint32_t MK_MBUTTON = 0x0010;
constexpr int WHEEL_DELTA = 120;

constexpr UINT WM_CAPTURECHANGED = 0x0215;
// Sent to a pointer-holding popup when a press landed outside every window of
// the program, or the popup lost the pointer: it should close.
constexpr UINT WM_CANCELMODE = 0x001F;

// A top-level popup with this extended style (a drop-down menu) never takes
// the keyboard nor activates on a click. While it shows it holds the pointer,
// so that a press in any other program's window reaches it as WM_CANCELMODE.
constexpr DWORD WS_EX_NOACTIVATE = 0x08000000;

// Virtual key codes the display produces (letters and digits are their
// upper-case ASCII codes).
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
constexpr int VK_F1 = 0x70;

// Opens the display on the calling thread: X11 when DISPLAY names a reachable
// server (and VEXA_HEADLESS is not set), headless otherwise. Returns true for
// X11. Calling it again keeps the backend already chosen.
bool InitDisplay();
// Closes the X connection and forgets every presented window.
void ShutdownDisplay();
// True while the X11 backend is in use.
bool DisplayIsX11();
// Paints what is invalid and presents every changed top-level window now
// (waits until the X server has taken the pixels).
void FlushDisplay();
// The X window id of a presented top-level window (0 when none).
unsigned long GetDisplayWindowId(HWND hwnd);
// The X connection (a Display*), null when headless.
void* GetXDisplay();

// What a top-level window tells a window manager. Set before the window is
// shown; a change to a shown window reaches the manager at once.
struct WindowHints {
  // Size limits of the window, 0 for none; minimum equal to maximum: a fixed size.
  int32_t minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
  // The window this one belongs to (a dialog's main window): a manager keeps
  // it above that one and with it.
  HWND owner = 0;
  // The manager places the window when it is first shown; later showings keep
  // the place it has then.
  bool defaultPosition = false;
  // The frame a manager gives it and what it lets the user do with it: a
  // title bar and border, resizing by the border, minimising, maximising and
  // closing. A dialog (a settings window, a message box) is marked as one.
  bool decorated = true;
  bool resizable = true;
  bool minimizable = true;
  bool maximizable = true;
  bool closable = true;
  bool dialog = false;
  bool operator==(const WindowHints&) const = default;
};
void SetWindowHints(HWND top, const WindowHints& hints);
// Where a window of this size opens when the program does not choose: false
// when a window manager places it (or nothing is shown); on a bare X display
// the first step of a cascade from the top left that no window takes yet.
bool DefaultWindowPosition(int32_t width, int32_t height, int32_t* x, int32_t* y);
// Brings a top-level window to the front for the user: records it as the
// foreground window, restores it when minimised, raises it and gives it the
// keyboard; under a window manager asks the manager to activate it, as a
// taskbar does for a click (_NET_ACTIVE_WINDOW).
bool BringWindowToForeground(HWND top);
// The X server time of a user's click or key that another connection of the
// program saw (the tray icon's): a window brought forward for it later does
// not take the keyboard from one the user went to since.
void NoteUserActionTime(unsigned long time);

// Resizes a top-level window from its bottom-right corner while the left
// button, pressed on it just now, stays down: a window manager takes the drag
// over (_NET_WM_MOVERESIZE); without one the window follows the pointer until
// the button is released, within its size limits (SetWindowHints). False when
// the window is not shown.
bool BeginWindowSizeDrag(HWND top);
// True while a window manager shows the window maximised.
bool IsWindowMaximized(HWND top);

// Mouse capture: every mouse message goes to the capturing window until it is
// released. The window losing it gets WM_CAPTURECHANGED.
HWND SetCapture(HWND hwnd);
bool ReleaseCapture();
HWND GetCapture();
// Keyboard focus: WM_KILLFOCUS to the old window, WM_SETFOCUS to the new one.
HWND SetFocus(HWND hwnd);
HWND GetFocus();
// The top-level window that has the keyboard (0 when none).
HWND GetActiveWindow();

// Input entry points; the X11 backend calls them and headless tests may too.
// Coordinates are in the top-level window's client area. Button 0 left, 1
// right, 2 middle. Mouse messages are posted to the window under the point
// (hit-tested with WM_NCHITTEST) or to the capture; two presses of one button
// within the double-click time and distance give a double-click message.
// Each mouse or key event is routed only once everything posted before it has
// been handled, so the capture and focus it meets are those a person saw.
enum class MouseAction { Move, Down, Up, Wheel };
void DeliverMouse(HWND top, MouseAction action, int button, int32_t x, int32_t y,
                  uint32_t keyState, int wheelDelta, DWORD time);
// A key goes to the focus window (the active top-level window when the focus
// is elsewhere): WM_KEYDOWN/WM_KEYUP (WM_SYS* with Alt held), then WM_CHAR
// for a key that makes a character (code point ch, 0 for none).
void DeliverKey(HWND top, bool down, int vk, uint32_t ch, bool alt);
// The close box of a top-level window: WM_SYSCOMMAND SC_CLOSE.
void DeliverClose(HWND top);
// The window under a point of a top-level window's client area (0 for none).
HWND WindowFromPoint(HWND top, int32_t x, int32_t y);

}  // namespace plat
