#include "platform/shell/TrayIcon.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

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

// The tip: one at a time, for the icon the pointer rests on.
struct Tip {
  HWND hwnd = 0;            // the icon it belongs to (hwnd, id); 0 when none
  uint32_t id = 0;
  bool armed = false;       // waiting for the pointer to rest
  int x = 0, y = 0;         // pointer on the screen
  Window win = 0;           // shown window
  Pixmap picture = 0;
  std::string text;         // what it shows
  int timer = -1;           // timerfd
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
Tip gTip;

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

void HideTip() {
  if (gTip.timer >= 0) {
    itimerspec off{};
    timerfd_settime(gTip.timer, 0, &off, nullptr);
  }
  gTip.armed = false;
  gTip.hwnd = 0;
  if (gX.dpy && gTip.win) {
    XDestroyWindow(gX.dpy, gTip.win);
    XFlush(gX.dpy);
  }
  if (gX.dpy && gTip.picture) XFreePixmap(gX.dpy, gTip.picture);
  gTip.win = 0;
  gTip.picture = 0;
  gTip.text.clear();
}

// Shows (or redraws) the tip with the icon's current text.
void ShowTip(const Icon& icon) {
  std::string text = icon.data.szTip;
  if (gTip.win && text == gTip.text) return;
  int32_t w = 0, h = 0;
  std::vector<uint8_t> px;
  if (!gX.dpy || !RenderNotifyTip(text, &w, &h, &px)) {
    HideTip();
    return;
  }
  int screen = gX.screen;
  Visual* visual = DefaultVisual(gX.dpy, screen);
  int depth = DefaultDepth(gX.dpy, screen);
  XImage* img = XCreateImage(gX.dpy, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                             static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
  if (!img) return;
  img->data = static_cast<char*>(std::malloc(static_cast<size_t>(img->bytes_per_line) * static_cast<size_t>(h)));
  if (!img->data) {
    XDestroyImage(img);
    return;
  }
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* p = px.data() + (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3;
      XPutPixel(img, x, y, static_cast<unsigned long>(p[2]) << 16 | static_cast<unsigned long>(p[1]) << 8 | p[0]);
    }
  }
  Pixmap pm = XCreatePixmap(gX.dpy, RootWindow(gX.dpy, screen), static_cast<unsigned>(w),
                            static_cast<unsigned>(h), static_cast<unsigned>(depth));
  GC gc = XCreateGC(gX.dpy, pm, 0, nullptr);
  XPutImage(gX.dpy, pm, gc, img, 0, 0, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h));
  XFreeGC(gX.dpy, gc);
  XDestroyImage(img);
  // Right of the pointer and just below the icon, or just above it when the
  // icon sits at the bottom of the screen: the tip never hides the icon it
  // tells about, and it is always whole on the screen.
  int sw = DisplayWidth(gX.dpy, screen), sh = DisplayHeight(gX.dpy, screen);
  int iconTop = gTip.y, iconBottom = gTip.y + 1;
  {
    Window root = 0, child = 0;
    int ix = 0, iy = 0, rx = 0, ry = 0;
    unsigned iw = 0, ih = 0, border = 0, depthIcon = 0;
    if (XGetGeometry(gX.dpy, icon.xwin, &root, &ix, &iy, &iw, &ih, &border, &depthIcon) &&
        XTranslateCoordinates(gX.dpy, icon.xwin, root, 0, 0, &rx, &ry, &child)) {
      iconTop = ry;
      iconBottom = ry + static_cast<int>(ih);
    }
  }
  int x = gTip.x + 12, y = iconBottom + 2;
  if (x + w > sw) x = sw - w;
  if (y + h > sh) y = iconTop - 2 - h;
  x = std::max(0, x);
  y = std::max(0, y);
  if (!gTip.win) {
    XSetWindowAttributes a;
    a.override_redirect = True;
    a.background_pixmap = pm;
    gTip.win = XCreateWindow(gX.dpy, RootWindow(gX.dpy, screen), x, y, static_cast<unsigned>(w),
                             static_cast<unsigned>(h), 0, CopyFromParent, InputOutput, CopyFromParent,
                             CWOverrideRedirect | CWBackPixmap, &a);
    XClassHint hint;
    char name[] = "vexa-tip";
    hint.res_name = name;
    hint.res_class = name;
    XSetClassHint(gX.dpy, gTip.win, &hint);
    XStoreName(gX.dpy, gTip.win, text.c_str());
    XMapRaised(gX.dpy, gTip.win);
  } else {
    XSetWindowBackgroundPixmap(gX.dpy, gTip.win, pm);
    XMoveResizeWindow(gX.dpy, gTip.win, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XStoreName(gX.dpy, gTip.win, text.c_str());
    XClearWindow(gX.dpy, gTip.win);
    XRaiseWindow(gX.dpy, gTip.win);
  }
  if (gTip.picture) XFreePixmap(gX.dpy, gTip.picture);
  gTip.picture = pm;
  gTip.text = text;
  XFlush(gX.dpy);
}

// Reads what the descriptor shows, and what round trips made here have read
// into Xlib's queue, where the descriptor no longer shows it.
struct DrainAfter {
  ~DrainAfter();
};

void TipTimerFired() {
  std::lock_guard<std::recursive_mutex> g(gMu);
  DrainAfter drainAfter;  // the tip's placement asks the server, and events come with the replies
  uint64_t n;
  while (read(gTip.timer, &n, sizeof n) > 0) {
  }
  if (!gTip.armed) return;
  gTip.armed = false;
  for (const Icon& i : gIcons) {
    if (i.data.hWnd == gTip.hwnd && i.data.uID == gTip.id && i.xwin) {
      ShowTip(i);
      return;
    }
  }
}

// The pointer is on an icon: the tip shows once it has rested there.
void PointerOnIcon(const Icon& icon, int rootX, int rootY) {
  if (gTip.hwnd == icon.data.hWnd && gTip.id == icon.data.uID && (gTip.win || gTip.armed)) {
    if (!gTip.win) {
      gTip.x = rootX;
      gTip.y = rootY;
    }
    return;
  }
  HideTip();
  if (gTip.timer < 0) {
    gTip.timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (gTip.timer < 0) return;
    if (!WatchFd(gTip.timer, EPOLLIN, [](uint32_t) { TipTimerFired(); })) {
      close(gTip.timer);
      gTip.timer = -1;
      return;
    }
  }
  gTip.hwnd = icon.data.hWnd;
  gTip.id = icon.data.uID;
  gTip.x = rootX;
  gTip.y = rootY;
  gTip.armed = true;
  itimerspec at{};
  at.it_value.tv_sec = kNotifyTipDelayMs / 1000;
  at.it_value.tv_nsec = (kNotifyTipDelayMs % 1000) * 1000000L;
  timerfd_settime(gTip.timer, 0, &at, nullptr);
}

bool TipIsFor(const Icon& icon) {
  return gTip.hwnd != 0 && gTip.hwnd == icon.data.hWnd && gTip.id == icon.data.uID;
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
                   EnterWindowMask | LeaveWindowMask | StructureNotifyMask;
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
  if (TipIsFor(icon)) HideTip();
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
  HideTip();
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
        if (ev.xdestroywindow.window == icon.xwin) {
          icon.xwin = 0;  // destroyed with its host
          if (TipIsFor(icon)) HideTip();
        }
        break;
      case EnterNotify:
        PointerOnIcon(icon, ev.xcrossing.x_root, ev.xcrossing.y_root);
        break;
      case LeaveNotify:
        if (TipIsFor(icon) && ev.xcrossing.detail != NotifyInferior) HideTip();
        break;
      case ButtonPress:
      case ButtonRelease: {
        int b = static_cast<int>(ev.xbutton.button);
        if (b != Button1 && b != Button2 && b != Button3) break;
        bool down = ev.type == ButtonPress;
        bool dbl = false;
        if (down && TipIsFor(icon)) HideTip();
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
        PointerOnIcon(icon, ev.xmotion.x_root, ev.xmotion.y_root);
        PostMessage(icon.data.hWnd, icon.callback, static_cast<WPARAM>(icon.data.uID),
                    static_cast<LPARAM>(WM_MOUSEMOVE));
        break;
      default: break;
    }
    return;
  }
}

// Xlib frees a connection only by talking to its server: the memory of one
// whose server is gone stays, held where a leak check sees it.
void KeepDead(Display* dpy) {
  static auto* dead = new std::vector<Display*>;  // never destroyed: checked at exit
  dead->push_back(dpy);
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
    gTip.win = 0;
    gTip.picture = 0;
    HideTip();
    KeepDead(gX.dpy);
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
DrainAfter::~DrainAfter() { Drain(); }

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

// Icons and the connection belong to the desktop session: leaving it removes
// the icons, closes the connection and lets the next session open its own.
const bool gTrayEndsWithSession = [] {
  AtSessionEnd([] {
    std::lock_guard<std::recursive_mutex> g(gMu);
    if (gX.dpy && !gX.dead) {
      int fd = ConnectionNumber(gX.dpy);
      if (gX.watched) UnwatchFd(fd);
      XSetErrorHandler(gX.previousHandler);
      // A server that went first is not talked to: only the socket is closed.
      pollfd p{fd, POLLIN, 0};
      char c;
      bool gone = poll(&p, 1, 0) > 0 && ((p.revents & (POLLHUP | POLLERR)) ||
                                         recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0);
      if (gone) {
        close(fd);
        KeepDead(gX.dpy);
      } else {
        for (Icon& i : gIcons)
          if (i.xwin) XDestroyWindow(gX.dpy, i.xwin);
        XCloseDisplay(gX.dpy);
      }
    }
    for (Icon& i : gIcons)
      if (i.icon) DestroyIcon(i.icon);
    gIcons.clear();
    gX = XTray{};
  });
  return true;
}();

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
  DrainAfter drainAfter;
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
      if (gTip.win && TipIsFor(*icon)) ShowTip(*icon);  // follows the new text while it shows
      return true;
    case NIM_DELETE: {
      if (!icon) break;
      if (TipIsFor(*icon)) HideTip();
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

bool RenderNotifyTip(const std::string& text, int32_t* width, int32_t* height,
                     std::vector<uint8_t>* pixels) {
  if (text.empty()) return false;
  HDC dc = CreateCompatibleDC(0);
  if (!dc) return false;
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SIZE sz{};
  GetTextExtentPoint32(dc, text, &sz);
  TEXTMETRIC tm;
  GetTextMetrics(dc, &tm);
  const int32_t w = std::clamp<int32_t>(sz.cx + 8, 8, 2000);
  const int32_t h = std::clamp<int32_t>(std::max<int32_t>(sz.cy, tm.tmHeight) + 6, 8, 200);
  HBITMAP bmp = CreateCompatibleBitmap(dc, w, h);
  HGDIOBJ oldBmp = SelectObject(dc, bmp);
  RECT r{0, 0, w, h};
  FillRect(dc, &r, GetSysColorBrush(COLOR_INFOBK));
  HBRUSH frame = CreateSolidBrush(GetSysColor(COLOR_INFOTEXT));
  FrameRect(dc, &r, frame);
  DeleteObject(frame);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
  RECT tr{4, 0, w - 4, h};
  DrawText(dc, text, &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
  SelectObject(dc, oldBmp);
  SelectObject(dc, oldFont);
  DeleteDC(dc);
  pixels->assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 3, 0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      COLORREF c = GetBitmapPixel(bmp, x, y);
      uint8_t* p = pixels->data() + (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3;
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  }
  DeleteObject(bmp);
  *width = w;
  *height = h;
  return true;
}

unsigned long GetNotifyTipXWindow() {
  std::lock_guard<std::recursive_mutex> g(gMu);
  Drain();
  return gTip.win;
}

unsigned long GetNotifyIconXWindow(HWND hwnd, uint32_t id) {
  std::lock_guard<std::recursive_mutex> g(gMu);
  Drain();
  Icon* icon = FindIcon(hwnd, id);
  return icon ? icon->xwin : 0;
}

}  // namespace plat
