// What the display core asks of a backend, and what its parts (Display*.cpp) share.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/display/Display.h"

namespace plat::display {

// The state of a top-level window the backend should show.
struct TopState {
  bool visible = false;
  bool iconic = false;
  RECT rect;  // screen coordinates
  std::string title;
  bool popup = false;  // WS_EX_NOACTIVATE: no window manager, no keyboard, holds the pointer
  WindowHints hints;
  // Make the presented window even while hidden: a dialog names it as its owner.
  bool create = false;
};

class Backend {
public:
  virtual ~Backend() = default;
  // Makes the presented window follow the state (creating it when needed).
  virtual void Sync(HWND top, const TopState& state) = 0;
  virtual void Destroy(HWND top) = 0;
  // Copies pixels (top-down 24-bit rows, stride DibStride(width, 24)) to the window.
  virtual void Present(HWND top, int32_t width, int32_t height, const std::vector<uint8_t>& pixels) = 0;
  // Shapes the window by rectangles (window coordinates); empty with
  // `none` removes the shape.
  virtual void Shape(HWND top, const std::vector<RECT>& rects, bool none) = 0;
  // Sends what is buffered; with wait, until the server has handled it.
  virtual void Flush(bool wait) = 0;
  virtual void Activate(HWND) {}
  // A window manager gives the keyboard on when the window that had it goes
  // (to the window it belongs to): the program then does not, or the two
  // would take it in turns and the owner lose it for a moment.
  virtual bool ManagerPassesKeyboard() { return false; }
  // Raises the window and has it activated (see BringWindowToForeground).
  virtual void BringToFront(HWND) {}
  virtual void NoteUserTime(unsigned long) {}
  // Hands the drag of the size grip to a window manager, from where the button
  // went down last; false when there is none to take it.
  virtual bool ManagerSizeDrag(HWND) { return false; }
  // The cascade place of DefaultWindowPosition; false when the backend does not choose.
  virtual bool DefaultPosition(int32_t, int32_t, int32_t*, int32_t*) { return false; }
  virtual unsigned long WindowId(HWND) const { return 0; }
  virtual void* Connection() const { return nullptr; }
  // Notes a server that has gone away, so that freeing the backend does not
  // talk to it (which would end the program).
  virtual void NoteServerGone() {}
  // In a forked child: lets go of the connection without a word on it, for
  // the parent goes on using it.
  virtual void LeaveToParent() {}
  virtual bool IsX11() const { return false; }
};

// Opens the X11 backend (null when the server cannot be reached).
std::unique_ptr<Backend> OpenX11Backend();

// Core entry points for the backend.
// The X server moved or resized a window (screen coordinates).
void BackendConfigured(HWND top, const RECT& rect);
// The X server showed it again or minimised it.
void BackendIconic(HWND top, bool iconic);
// The X server cannot minimise it (no window manager runs): the core shows
// it restored again, after the change that asked for it has finished.
void BackendRestoreLater(HWND top);
// A window manager maximised the window or gave it its size back.
void BackendMaximized(HWND top, bool maximized);
// The window gained or lost the keyboard.
void BackendActivated(HWND top, bool active);
// The window's pixels were lost on the screen.
void BackendExposed(HWND top);

// What the parts of the display core share (Display*.cpp).

constexpr uintptr_t kPresentTimer = 1;
constexpr UINT kRestoreMessage = WM_USER + 1;  // wParam: a top-level window the display could not minimise
constexpr UINT kInputMessage = WM_USER + 2;    // the next mouse or key event is due for routing
// wParam: the active top-level window, hidden or destroyed; lParam: its owner
constexpr UINT kSuccessorMessage = WM_USER + 3;

// A mouse or key event as it came from the display, before it is routed.
struct RawInput {
  bool key = false;
  HWND top = 0;
  MouseAction action = MouseAction::Move;
  int button = 0;
  int32_t x = 0, y = 0;
  uint32_t keyState = 0;
  int wheelDelta = 0;
  DWORD time = 0;
  bool down = false;
  int vk = 0;
  uint32_t ch = 0;
  bool alt = false;
};

struct State {
  DWORD thread = 0;
  std::unique_ptr<Backend> backend;
  HWND timerWnd = 0;
  bool scheduled = false;
  bool presenting = false;
  std::set<HWND> invalid;   // windows with a paint request
  std::set<HWND> dirty;     // top-level windows to present
  std::map<HWND, std::vector<uint8_t>> shapes;  // region data last applied
  std::set<HWND> configuring;  // changes that came from the server
  std::map<HWND, WindowHints> hints;
  std::set<HWND> maximized;  // as a window manager shows them
  HWND capture = 0;
  HWND focus = 0;
  HWND active = 0;
  HWND closeDown = 0;       // window pressed on its close hit area
  // Double-click detection.
  HWND lastDownWnd = 0;
  int lastDownButton = -1;
  DWORD lastDownTime = 0;
  int32_t lastDownX = 0, lastDownY = 0;
  // The last press of the left button (top-level client coordinates), and a
  // size drag the display follows itself (no window manager to take it).
  HWND pressTop = 0;
  int32_t pressX = 0, pressY = 0;
  HWND sizing = 0;
  int32_t sizingW = 0, sizingH = 0;
  // Input waiting to be routed, one event at a time (see RouteNextInput).
  std::deque<RawInput> input;
  bool inputDue = false;  // a kInputMessage is on its way
};

// The display's process-wide state (Proc()): the display open in this
// process, if any. Lock order: mu is taken alone, to open and close the
// display; the open State is used only by its own thread, without a lock.
// A forked child starts with no display, having closed its copy of the
// parent's connection unsaid: the parent goes on using it, and a copy held
// open would keep the parent's windows on the screen once the parent is gone.
// The parent's State is left as it is. Leaving the session closes the display
// (when it is left on the display's thread); the next session opens its own.
struct ProcessState {
  std::mutex mu;
  std::atomic<State*> open{nullptr};  // read by every thread whose windows change
  bool toldNoDisplay = false;         // that windows were asked for and none could be had

  void PrepareFork() { mu.lock(); }
  void ParentAfterFork() { mu.unlock(); }
  ProcessState* ForChild();
  void EndSession();
};
ProcessState& Proc();

// The open display when the calling thread is its thread, else null.
State* Mine();
bool OwnedByDisplay(State* s, HWND hwnd);
HWND TopOf(HWND hwnd);
bool HasStyle(HWND hwnd, DWORD bit);
bool IsDescendantOrSelf(HWND hwnd, HWND ancestor);

// Paint and compose (DisplayPaint.cpp).
void Schedule(State* s);
void InvalidateTree(HWND hwnd);
void SyncTop(State* s, HWND top);
void RunPresent(State* s);
void OnPaintRequest(HWND hwnd);

// Window changes and activation (DisplayWindows.cpp).
void OnWindowChange(HWND hwnd, UINT change);
void Activate(State* s, HWND top);
HWND EnabledTopInstead(State* s, HWND disabled);
void SuccessorLater(State* s, HWND gone);
void ActivateSuccessor(State* s, HWND gone, HWND owner);

// Input routing (DisplayInput.cpp).
bool OnTranslate(const MSG* msg);
void RouteNextInput(State* s);

}  // namespace plat::display
