#include "platform/shell/TrayIcon.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/epoll.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace plat {

namespace {

constexpr long SYSTEM_TRAY_REQUEST_DOCK = 0;
constexpr unsigned long XEMBED_MAPPED = 1;
constexpr Time kDoubleClickMs = 500;
constexpr int kDefaultSize = 24;

struct Icon {
  NOTIFYICONDATA data;     // the last record given
  UINT callback = 0;       // merged state
  HICON icon = 0;          // our own copy, for painting
  Window xwin = 0;         // docked window (0 when not docked)
  bool docked = false;     // asked a host to take it
  int width = kDefaultSize, height = kDefaultSize;
  int lastButton = -1;     // for double-clicks
  Time lastPress = 0;
};

// The X side: a connection of our own, watched by the queue of the thread
// that added the first icon.
struct XTray {
  Display* dpy = nullptr;
  int screen = 0;
  Atom selection = None, opcode = None, manager = None, xembedInfo = None;
  Window host = None;  // the tray host our icons were docked with
  XErrorHandler previousHandler = nullptr;
  bool watched = false;
  bool tried = false;
  bool dead = false;  // the connection to the server was lost
};

std::recursive_mutex gMu;
std::vector<Icon> gIcons;
uint32_t gCalls = 0;
XTray gX;

Icon* FindIcon(HWND hwnd, uint32_t id) {
  for (Icon& i : gIcons)
    if (i.data.hWnd == hwnd && i.data.uID == id) return &i;
  return nullptr;
}

bool DisplayWanted() {
  const char* name = std::getenv("DISPLAY");
  const char* headless = std::getenv("VEXA_HEADLESS");
  return name && *name && !(headless && *headless);
}

Window TrayOwner() {
  if (!gX.dpy) return None;
  return XGetSelectionOwner(gX.dpy, gX.selection);
}

void Paint(Icon& icon) {
  if (!gX.dpy || !icon.xwin) return;
  XClearWindow(gX.dpy, icon.xwin);
  ICONINFO info;
  if (!icon.icon || !GetIconInfo(icon.icon, &info)) {
    XFlush(gX.dpy);
    return;
  }
  BITMAP bm;
  if (GetObject(info.hbmColor, sizeof bm, &bm) && bm.bmWidth > 0 && bm.bmHeight > 0) {
    GC gc = XCreateGC(gX.dpy, icon.xwin, 0, nullptr);
    // Scaled to the size the tray gave the window, each pixel a block;
    // pixels the mask keeps transparent show the tray's background.
    for (int y = 0; y < icon.height; ++y) {
      int sy = y * bm.bmHeight / icon.height;
      for (int x = 0; x < icon.width; ++x) {
        int sx = x * bm.bmWidth / icon.width;
        if (info.hbmMask && GetBitmapPixel(info.hbmMask, sx, sy) != 0) continue;
        COLORREF c = GetBitmapPixel(info.hbmColor, sx, sy);
        if (c == CLR_INVALID) continue;
        XSetForeground(gX.dpy, gc,
                       (unsigned long)GetRValue(c) << 16 | (unsigned long)GetGValue(c) << 8 |
                           GetBValue(c));
        XDrawPoint(gX.dpy, icon.xwin, gc, x, y);
      }
    }
    XFreeGC(gX.dpy, gc);
  }
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  XFlush(gX.dpy);
}

void Dock(Icon& icon) {
  Window owner = TrayOwner();
  if (!gX.dpy || owner == None) return;
  if (owner != gX.host) {
    gX.host = owner;
    XSelectInput(gX.dpy, owner, StructureNotifyMask);  // to hear when it goes
  }
  if (!icon.xwin) {
    XSetWindowAttributes a;
    a.background_pixmap = ParentRelative;
    a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                   StructureNotifyMask;
    icon.xwin = XCreateWindow(gX.dpy, RootWindow(gX.dpy, gX.screen), 0, 0, kDefaultSize,
                              kDefaultSize, 0, CopyFromParent, InputOutput, CopyFromParent,
                              CWBackPixmap | CWEventMask, &a);
    unsigned long info[2] = {0, XEMBED_MAPPED};
    XChangeProperty(gX.dpy, icon.xwin, gX.xembedInfo, gX.xembedInfo, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(info), 2);
    XClassHint hint;
    char name[] = "vexa-tray";
    hint.res_name = name;
    hint.res_class = name;
    XSetClassHint(gX.dpy, icon.xwin, &hint);
  }
  XEvent ev;
  std::memset(&ev, 0, sizeof ev);
  ev.xclient.type = ClientMessage;
  ev.xclient.window = owner;
  ev.xclient.message_type = gX.opcode;
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = CurrentTime;
  ev.xclient.data.l[1] = SYSTEM_TRAY_REQUEST_DOCK;
  ev.xclient.data.l[2] = static_cast<long>(icon.xwin);
  XSendEvent(gX.dpy, owner, False, NoEventMask, &ev);
  XFlush(gX.dpy);
  icon.docked = true;
}

void Undock(Icon& icon) {
  if (gX.dpy && icon.xwin) {
    XDestroyWindow(gX.dpy, icon.xwin);
    XFlush(gX.dpy);
  }
  icon.xwin = 0;
  icon.docked = false;
}

UINT MouseMessage(int button, bool down, bool dbl) {
  UINT base = button == Button1 ? WM_LBUTTONDOWN : button == Button3 ? WM_RBUTTONDOWN
                                                                     : WM_MBUTTONDOWN;
  if (!down) return base + 1;
  return dbl ? base + 2 : base;
}

// The host went away: its icons are gone from the screen; their windows hear
// of it so that the program can show itself again.
void HostLost() {
  gX.host = None;
  for (Icon& i : gIcons) {
    if (!i.docked) continue;
    if (i.xwin) XDestroyWindow(gX.dpy, i.xwin);  // may be gone with the host already
    i.xwin = 0;
    i.docked = false;
    PostMessage(i.data.hWnd, i.callback, static_cast<WPARAM>(i.data.uID), NIN_HOSTLOST);
  }
  XFlush(gX.dpy);
}

void HandleEvent(XEvent& ev) {
  if (ev.type == DestroyNotify && gX.host != None && ev.xdestroywindow.window == gX.host) {
    HostLost();
    return;
  }
  if (ev.type == ClientMessage && ev.xclient.message_type == gX.manager &&
      static_cast<Atom>(ev.xclient.data.l[1]) == gX.selection) {
    for (Icon& i : gIcons) Dock(i);  // a tray host appeared: dock again
    return;
  }
  for (Icon& icon : gIcons) {
    if (!icon.xwin || ev.xany.window != icon.xwin) continue;
    switch (ev.type) {
      case Expose:
        if (ev.xexpose.count == 0) Paint(icon);
        break;
      case ConfigureNotify:
        icon.width = std::max(1, ev.xconfigure.width);
        icon.height = std::max(1, ev.xconfigure.height);
        Paint(icon);
        break;
      case ReparentNotify:
        // Back on the root window: the host let it go. A new host gets a new window.
        if (ev.xreparent.parent == RootWindow(gX.dpy, gX.screen) && gX.host != None) {
          XDestroyWindow(gX.dpy, icon.xwin);
          icon.xwin = 0;
        }
        break;
      case DestroyNotify:
        if (ev.xdestroywindow.window == icon.xwin) icon.xwin = 0;  // destroyed with its host
        break;
      case ButtonPress:
      case ButtonRelease: {
        int b = static_cast<int>(ev.xbutton.button);
        if (b != Button1 && b != Button2 && b != Button3) break;
        bool down = ev.type == ButtonPress;
        bool dbl = false;
        if (down) {
          dbl = b == icon.lastButton && ev.xbutton.time - icon.lastPress <= kDoubleClickMs;
          icon.lastButton = dbl ? -1 : b;
          icon.lastPress = ev.xbutton.time;
        }
        PostMessage(icon.data.hWnd, icon.callback, static_cast<WPARAM>(icon.data.uID),
                    static_cast<LPARAM>(MouseMessage(b, down, dbl)));
        break;
      }
      case MotionNotify:
        PostMessage(icon.data.hWnd, icon.callback, static_cast<WPARAM>(icon.data.uID),
                    static_cast<LPARAM>(WM_MOUSEMOVE));
        break;
      default: break;
    }
    return;
  }
}

void Drain() {
  std::lock_guard<std::recursive_mutex> g(gMu);
  if (!gX.dpy) return;
  while (!gX.dead && XPending(gX.dpy)) {
    XEvent ev;
    XNextEvent(gX.dpy, &ev);
    HandleEvent(ev);
  }
  if (gX.dead) {
    // The server is gone: the icons live on in the table only. The dead
    // connection is left as it is (closing it would talk to the server).
    if (gX.watched) UnwatchFd(ConnectionNumber(gX.dpy));
    gX.watched = false;
    gX.dpy = nullptr;
    gX.host = None;
    for (Icon& i : gIcons) {
      i.xwin = 0;
      i.docked = false;
    }
  }
}

// A lost server must not end the program: the connection is only marked dead.
void TrayXIOExit(Display*, void*) { gX.dead = true; }

// Errors of our own connection (a window that went with its host) are
// harmless; others go to the handler that was there before.
int TrayXError(Display* dpy, XErrorEvent* ev) {
  if (dpy == gX.dpy) return 0;
  return gX.previousHandler ? gX.previousHandler(dpy, ev) : 0;
}

// Opens the connection once, when a display is wanted.
void OpenX() {
  if (gX.tried) return;
  gX.tried = true;
  if (!DisplayWanted()) return;
  gX.dpy = XOpenDisplay(nullptr);
  if (!gX.dpy) return;
  gX.screen = DefaultScreen(gX.dpy);
  gX.previousHandler = XSetErrorHandler(TrayXError);
  XSetIOErrorExitHandler(gX.dpy, TrayXIOExit, nullptr);
  std::string sel = "_NET_SYSTEM_TRAY_S" + std::to_string(gX.screen);
  gX.selection = XInternAtom(gX.dpy, sel.c_str(), False);
  gX.opcode = XInternAtom(gX.dpy, "_NET_SYSTEM_TRAY_OPCODE", False);
  gX.manager = XInternAtom(gX.dpy, "MANAGER", False);
  gX.xembedInfo = XInternAtom(gX.dpy, "_XEMBED_INFO", False);
  XSelectInput(gX.dpy, RootWindow(gX.dpy, gX.screen), StructureNotifyMask);
  XFlush(gX.dpy);
  gX.watched = WatchFd(ConnectionNumber(gX.dpy), EPOLLIN, [](uint32_t) { Drain(); });
}

}  // namespace

bool Shell_NotifyIcon(DWORD message, const NOTIFYICONDATA* data) {
  std::lock_guard<std::recursive_mutex> g(gMu);
  ++gCalls;
  if (!data || data->cbSize != sizeof(NOTIFYICONDATA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  OpenX();
  Drain();
  struct DrainAfter {
    ~DrainAfter() { Drain(); }  // replies may have queued events the descriptor no longer shows
  } drainAfter;
  Icon* icon = FindIcon(data->hWnd, data->uID);
  auto apply = [&](Icon& i) {
    i.data = *data;
    i.data.szTip[sizeof i.data.szTip - 1] = 0;  // a tip always ends inside its field
    if (data->uFlags & NIF_MESSAGE) i.callback = data->uCallbackMessage;
    if (data->uFlags & NIF_ICON) {
      if (i.icon) DestroyIcon(i.icon);
      i.icon = data->hIcon ? CopyIcon(data->hIcon) : 0;
    }
  };
  switch (message) {
    case NIM_ADD: {
      if (icon) break;
      gIcons.emplace_back();
      apply(gIcons.back());
      Dock(gIcons.back());
      return true;
    }
    case NIM_MODIFY:
      if (!icon) break;
      apply(*icon);
      Paint(*icon);
      return true;
    case NIM_DELETE: {
      if (!icon) break;
      Undock(*icon);
      if (icon->icon) DestroyIcon(icon->icon);
      gIcons.erase(gIcons.begin() + (icon - gIcons.data()));
      return true;
    }
    default: break;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

bool NotifyAreaAvailable() {
  std::lock_guard<std::recursive_mutex> g(gMu);
  if (!DisplayWanted()) return true;
  OpenX();
  if (!gX.dpy) return true;  // the display cannot be opened: the program runs headless
  bool host = TrayOwner() != None;
  Drain();
  return host;
}

bool GetNotifyIconRecord(HWND hwnd, uint32_t id, NOTIFYICONDATA* data) {
  std::lock_guard<std::recursive_mutex> g(gMu);
  Icon* icon = FindIcon(hwnd, id);
  if (!icon) return false;
  if (data) *data = icon->data;
  return true;
}

std::vector<NOTIFYICONDATA> GetNotifyIcons() {
  std::lock_guard<std::recursive_mutex> g(gMu);
  std::vector<NOTIFYICONDATA> out;
  for (const Icon& i : gIcons) out.push_back(i.data);
  return out;
}

uint32_t NotifyIconCallCount() {
  std::lock_guard<std::recursive_mutex> g(gMu);
  return gCalls;
}

unsigned long GetNotifyIconXWindow(HWND hwnd, uint32_t id) {
  std::lock_guard<std::recursive_mutex> g(gMu);
  Drain();
  Icon* icon = FindIcon(hwnd, id);
  return icon ? icon->xwin : 0;
}

}  // namespace plat
