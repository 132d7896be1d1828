#include "platform/shell/DesktopState.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstdlib>

#include "platform/display/Display.h"
#include "platform/shell/ShellState.h"

namespace plat {

namespace {

// The headless pointer, packed as the shell's state keeps it.
POINT HeadlessCursor() {
  uint64_t v = shellimpl::St().headlessCursor.load();
  return POINT{static_cast<int32_t>(v >> 32), static_cast<int32_t>(v & 0xFFFFFFFFu)};
}

void SetHeadlessCursor(int32_t x, int32_t y) {
  shellimpl::St().headlessCursor.store(uint64_t{static_cast<uint32_t>(x)} << 32 |
                                       static_cast<uint32_t>(y));
}

// The display's own connection on its thread; otherwise a short-lived one of
// our own when DISPLAY names a server. Null when headless.
class XConn {
public:
  XConn() {
    if (DisplayIsX11()) {
      FDisplay = static_cast<Display*>(GetXDisplay());
      return;
    }
    const char* name = std::getenv("DISPLAY");
    const char* headless = std::getenv("VEXA_HEADLESS");
    if (!name || !*name || (headless && *headless)) return;
    FDisplay = XOpenDisplay(nullptr);
    FOwn = FDisplay != nullptr;
  }
  ~XConn() {
    if (FOwn) XCloseDisplay(FDisplay);
  }
  XConn(const XConn&) = delete;
  XConn& operator=(const XConn&) = delete;
  Display* get() const { return FDisplay; }

private:
  Display* FDisplay = nullptr;
  bool FOwn = false;
};

}  // namespace

int16_t GetKeyState(int virtKey) {
  const char* indicator = nullptr;
  switch (virtKey) {
    case VK_CAPITAL: indicator = "Caps Lock"; break;
    case VK_NUMLOCK: indicator = "Num Lock"; break;
    case VK_SCROLL: indicator = "Scroll Lock"; break;
    default: return 0;
  }
  XConn x;
  if (!x.get()) return 0;
  Atom atom = XInternAtom(x.get(), indicator, True);
  if (atom == None) return 0;
  Bool on = False;
  if (!XkbGetNamedIndicator(x.get(), atom, nullptr, &on, nullptr, nullptr)) return 0;
  return on ? 1 : 0;
}

bool GetCursorPos(POINT* point) {
  if (!point) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  XConn x;
  if (x.get()) {
    Window root, child;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    if (XQueryPointer(x.get(), DefaultRootWindow(x.get()), &root, &child, &rx, &ry, &wx, &wy,
                      &mask)) {
      point->x = rx;
      point->y = ry;
      return true;
    }
  }
  *point = HeadlessCursor();
  return true;
}

bool SetCursorPos(int32_t x, int32_t y) {
  SetHeadlessCursor(x, y);
  XConn c;
  if (c.get()) {
    XWarpPointer(c.get(), None, DefaultRootWindow(c.get()), 0, 0, 0, 0, x, y);
    XFlush(c.get());
  }
  return true;
}

bool SystemParametersInfo(UINT action, UINT /*uiParam*/, void* param, UINT /*winIni*/) {
  if (action != SPI_GETSCREENSAVETIMEOUT || !param) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  int timeout = 0, interval = 0, blanking = 0, exposures = 0;
  XConn x;
  if (x.get()) XGetScreenSaver(x.get(), &timeout, &interval, &blanking, &exposures);
  *static_cast<int32_t*>(param) = timeout > 0 ? timeout : 0;
  return true;
}

}  // namespace plat
