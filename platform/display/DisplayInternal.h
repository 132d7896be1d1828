// What the display core asks of a backend.
#pragma once

#include <cstdint>
#include <memory>
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

}  // namespace plat::display
