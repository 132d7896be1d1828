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

#include "platform/display/Display.h"
#include "platform/kernel/Lifecycle.h"
#include "platform/shell/ShellState.h"

namespace plat {

using namespace shellimpl;

namespace shellimpl {

namespace {

StateOwner<State> gState{Layer::Shell};

constexpr long SYSTEM_TRAY_REQUEST_DOCK = 0;
constexpr unsigned long XEMBED_MAPPED = 1;
constexpr Time kDoubleClickMs = 500;

Icon* FindIcon(HWND hwnd, uint32_t id) {
  State& s = St();
  for (Icon& i : s.icons)
    if (i.data.hWnd == hwnd && i.data.uID == id) return &i;
  return nullptr;
}

bool DisplayWanted() {
  const char* name = std::getenv("DISPLAY");
  const char* headless = std::getenv("VEXA_HEADLESS");
  return name && *name && !(headless && *headless);
}

Window TrayOwner() {
  State& s = St();
  if (!s.x.dpy) return None;
  return XGetSelectionOwner(s.x.dpy, s.x.selection);
}

void Paint(Icon& icon) {
  State& s = St();
  if (!s.x.dpy || !icon.xwin) return;
  XClearWindow(s.x.dpy, icon.xwin);
  ICONINFO info;
  if (!icon.icon || !GetIconInfo(icon.icon, &info)) {
    XFlush(s.x.dpy);
    return;
  }
  BITMAP bm;
  if (GetObject(info.hbmColor, sizeof bm, &bm) && bm.bmWidth > 0 && bm.bmHeight > 0) {
    GC gc = XCreateGC(s.x.dpy, icon.xwin, 0, nullptr);
    // Scaled to the size the tray gave the window, each pixel a block;
    // pixels the mask keeps transparent show the tray's background.
    for (int y = 0; y < icon.height; ++y) {
      int sy = y * bm.bmHeight / icon.height;
      for (int x = 0; x < icon.width; ++x) {
        int sx = x * bm.bmWidth / icon.width;
        if (info.hbmMask && GetBitmapPixel(info.hbmMask, sx, sy) != 0) continue;
        COLORREF c = GetBitmapPixel(info.hbmColor, sx, sy);
        if (c == CLR_INVALID) continue;
        XSetForeground(
            s.x.dpy, gc,
            (unsigned long)GetRValue(c) << 16 | (unsigned long)GetGValue(c) << 8 | GetBValue(c));
        XDrawPoint(s.x.dpy, icon.xwin, gc, x, y);
      }
    }
    XFreeGC(s.x.dpy, gc);
  }
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  XFlush(s.x.dpy);
}

void HideTip() {
  State& s = St();
  if (s.tip.timer >= 0) {
    itimerspec off{};
    timerfd_settime(s.tip.timer, 0, &off, nullptr);
  }
  s.tip.armed = false;
  s.tip.hwnd = 0;
  if (s.x.dpy && s.tip.win) {
    XDestroyWindow(s.x.dpy, s.tip.win);
    XFlush(s.x.dpy);
  }
  if (s.x.dpy && s.tip.picture) XFreePixmap(s.x.dpy, s.tip.picture);
  s.tip.win = 0;
  s.tip.picture = 0;
  s.tip.text.clear();
}

// Shows (or redraws) the tip with the icon's current text.
void ShowTip(const Icon& icon) {
  State& s = St();
  std::string text = icon.data.szTip;
  if (s.tip.win && text == s.tip.text) return;
  int32_t w = 0, h = 0;
  std::vector<uint8_t> px;
  if (!s.x.dpy || !RenderNotifyTip(text, &w, &h, &px)) {
    HideTip();
    return;
  }
  int screen = s.x.screen;
  Visual* visual = DefaultVisual(s.x.dpy, screen);
  int depth = DefaultDepth(s.x.dpy, screen);
  XImage* img = XCreateImage(s.x.dpy, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
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
  Pixmap pm = XCreatePixmap(s.x.dpy, RootWindow(s.x.dpy, screen), static_cast<unsigned>(w),
                            static_cast<unsigned>(h), static_cast<unsigned>(depth));
  GC gc = XCreateGC(s.x.dpy, pm, 0, nullptr);
  XPutImage(s.x.dpy, pm, gc, img, 0, 0, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h));
  XFreeGC(s.x.dpy, gc);
  XDestroyImage(img);
  // Right of the pointer and just below the icon, or just above it when the
  // icon sits at the bottom of the screen: the tip never hides the icon it
  // tells about, and it is always whole on the screen.
  int sw = DisplayWidth(s.x.dpy, screen), sh = DisplayHeight(s.x.dpy, screen);
  int iconTop = s.tip.y, iconBottom = s.tip.y + 1;
  {
    Window root = 0, child = 0;
    int ix = 0, iy = 0, rx = 0, ry = 0;
    unsigned iw = 0, ih = 0, border = 0, depthIcon = 0;
    if (XGetGeometry(s.x.dpy, icon.xwin, &root, &ix, &iy, &iw, &ih, &border, &depthIcon) &&
        XTranslateCoordinates(s.x.dpy, icon.xwin, root, 0, 0, &rx, &ry, &child)) {
      iconTop = ry;
      iconBottom = ry + static_cast<int>(ih);
    }
  }
  int x = s.tip.x + 12, y = iconBottom + 2;
  if (x + w > sw) x = sw - w;
  if (y + h > sh) y = iconTop - 2 - h;
  x = std::max(0, x);
  y = std::max(0, y);
  if (!s.tip.win) {
    XSetWindowAttributes a;
    a.override_redirect = True;
    a.background_pixmap = pm;
    s.tip.win = XCreateWindow(s.x.dpy, RootWindow(s.x.dpy, screen), x, y, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), 0, CopyFromParent, InputOutput,
                              CopyFromParent, CWOverrideRedirect | CWBackPixmap, &a);
    XClassHint hint;
    char name[] = "vexa-tip";
    hint.res_name = name;
    hint.res_class = name;
    XSetClassHint(s.x.dpy, s.tip.win, &hint);
    XStoreName(s.x.dpy, s.tip.win, text.c_str());
    XMapRaised(s.x.dpy, s.tip.win);
  } else {
    XSetWindowBackgroundPixmap(s.x.dpy, s.tip.win, pm);
    XMoveResizeWindow(s.x.dpy, s.tip.win, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XStoreName(s.x.dpy, s.tip.win, text.c_str());
    XClearWindow(s.x.dpy, s.tip.win);
    XRaiseWindow(s.x.dpy, s.tip.win);
  }
  if (s.tip.picture) XFreePixmap(s.x.dpy, s.tip.picture);
  s.tip.picture = pm;
  s.tip.text = text;
  XFlush(s.x.dpy);
}

// Reads what the descriptor shows, and what round trips made here have read
// into Xlib's queue, where the descriptor no longer shows it.
struct DrainAfter {
  ~DrainAfter();
};

void TipTimerFired() {
  State& s = St();
  std::lock_guard<std::mutex> g(s.trayMu);
  DrainAfter drainAfter;  // the tip's placement asks the server, and events come with the replies
  uint64_t n;
  while (read(s.tip.timer, &n, sizeof n) > 0) {
  }
  if (!s.tip.armed) return;
  s.tip.armed = false;
  for (const Icon& i : s.icons) {
    if (i.data.hWnd == s.tip.hwnd && i.data.uID == s.tip.id && i.xwin) {
      ShowTip(i);
      return;
    }
  }
}

// The pointer is on an icon: the tip shows once it has rested there.
void PointerOnIcon(const Icon& icon, int rootX, int rootY) {
  State& s = St();
  if (s.tip.hwnd == icon.data.hWnd && s.tip.id == icon.data.uID && (s.tip.win || s.tip.armed)) {
    if (!s.tip.win) {
      s.tip.x = rootX;
      s.tip.y = rootY;
    }
    return;
  }
  HideTip();
  if (s.tip.timer < 0) {
    s.tip.timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (s.tip.timer < 0) return;
    if (!WatchFd(s.tip.timer, EPOLLIN, [](uint32_t) { TipTimerFired(); })) {
      close(s.tip.timer);
      s.tip.timer = -1;
      return;
    }
  }
  s.tip.hwnd = icon.data.hWnd;
  s.tip.id = icon.data.uID;
  s.tip.x = rootX;
  s.tip.y = rootY;
  s.tip.armed = true;
  itimerspec at{};
  at.it_value.tv_sec = kNotifyTipDelayMs / 1000;
  at.it_value.tv_nsec = (kNotifyTipDelayMs % 1000) * 1000000L;
  timerfd_settime(s.tip.timer, 0, &at, nullptr);
}

bool TipIsFor(const Icon& icon) {
  State& s = St();
  return s.tip.hwnd != 0 && s.tip.hwnd == icon.data.hWnd && s.tip.id == icon.data.uID;
}

void Dock(Icon& icon) {
  State& s = St();
  Window owner = TrayOwner();
  if (!s.x.dpy || owner == None) return;
  if (owner != s.x.host) {
    s.x.host = owner;
    XSelectInput(s.x.dpy, owner, StructureNotifyMask);  // to hear when it goes
  }
  if (!icon.xwin) {
    XSetWindowAttributes a;
    a.background_pixmap = ParentRelative;
    a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                   EnterWindowMask | LeaveWindowMask | StructureNotifyMask;
    icon.xwin =
        XCreateWindow(s.x.dpy, RootWindow(s.x.dpy, s.x.screen), 0, 0, kDefaultSize, kDefaultSize, 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWBackPixmap | CWEventMask, &a);
    unsigned long info[2] = {0, XEMBED_MAPPED};
    XChangeProperty(s.x.dpy, icon.xwin, s.x.xembedInfo, s.x.xembedInfo, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(info), 2);
    XClassHint hint;
    char name[] = "vexa-tray";
    hint.res_name = name;
    hint.res_class = name;
    XSetClassHint(s.x.dpy, icon.xwin, &hint);
  }
  XEvent ev;
  std::memset(&ev, 0, sizeof ev);
  ev.xclient.type = ClientMessage;
  ev.xclient.window = owner;
  ev.xclient.message_type = s.x.opcode;
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = CurrentTime;
  ev.xclient.data.l[1] = SYSTEM_TRAY_REQUEST_DOCK;
  ev.xclient.data.l[2] = static_cast<long>(icon.xwin);
  XSendEvent(s.x.dpy, owner, False, NoEventMask, &ev);
  XFlush(s.x.dpy);
  icon.docked = true;
}

void Undock(Icon& icon) {
  State& s = St();
  if (TipIsFor(icon)) HideTip();
  if (s.x.dpy && icon.xwin) {
    XDestroyWindow(s.x.dpy, icon.xwin);
    XFlush(s.x.dpy);
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
  State& s = St();
  s.x.host = None;
  HideTip();
  for (Icon& i : s.icons) {
    if (!i.docked) continue;
    if (i.xwin) XDestroyWindow(s.x.dpy, i.xwin);  // may be gone with the host already
    i.xwin = 0;
    i.docked = false;
    PostMessage(i.data.hWnd, i.callback, static_cast<WPARAM>(i.data.uID), NIN_HOSTLOST);
  }
  XFlush(s.x.dpy);
}

void HandleEvent(XEvent& ev) {
  State& s = St();
  if (ev.type == DestroyNotify && s.x.host != None && ev.xdestroywindow.window == s.x.host) {
    HostLost();
    return;
  }
  if (ev.type == ClientMessage && ev.xclient.message_type == s.x.manager &&
      static_cast<Atom>(ev.xclient.data.l[1]) == s.x.selection) {
    for (Icon& i : s.icons) Dock(i);  // a tray host appeared: dock again
    return;
  }
  for (Icon& icon : s.icons) {
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
        if (ev.xreparent.parent == RootWindow(s.x.dpy, s.x.screen) && s.x.host != None) {
          XDestroyWindow(s.x.dpy, icon.xwin);
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
        NoteUserActionTime(ev.xbutton.time);
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

// Caller holds trayMu.
void Drain() {
  State& s = St();
  if (!s.x.dpy) return;
  while (!s.x.dead && XPending(s.x.dpy)) {
    XEvent ev;
    XNextEvent(s.x.dpy, &ev);
    HandleEvent(ev);
  }
  if (s.x.dead) {
    // The server is gone: the icons live on in the table only. The dead
    // connection is left as it is (closing it would talk to the server), and
    // its memory stays where a leak check sees it (Xlib frees a connection
    // only by talking to its server).
    if (s.x.watched) UnwatchFd(ConnectionNumber(s.x.dpy));
    s.x.watched = false;
    s.tip.win = 0;
    s.tip.picture = 0;
    HideTip();
    s.dead.push_back(s.x.dpy);
    s.x.dpy = nullptr;
    s.x.host = None;
    for (Icon& i : s.icons) {
      i.xwin = 0;
      i.docked = false;
    }
  }
}

void DrainNow() {
  std::lock_guard<std::mutex> g(St().trayMu);
  Drain();
}

// A lost server must not end the program: the connection is only marked dead.
void TrayXIOExit(Display*, void*) { St().x.dead = true; }

DrainAfter::~DrainAfter() { Drain(); }

// Errors of our own connection (a window that went with its host) are
// harmless; others go to the handler that was there before.
int TrayXError(Display* dpy, XErrorEvent* ev) {
  State& s = St();
  if (dpy == s.x.dpy) return 0;
  return s.x.previousHandler ? s.x.previousHandler(dpy, ev) : 0;
}

// Opens the connection once, when a display is wanted.
void OpenX() {
  State& s = St();
  if (s.x.tried) return;
  s.x.tried = true;
  if (!DisplayWanted()) return;
  s.x.dpy = XOpenDisplay(nullptr);
  if (!s.x.dpy) return;
  s.x.screen = DefaultScreen(s.x.dpy);
  s.x.previousHandler = XSetErrorHandler(TrayXError);
  XSetIOErrorExitHandler(s.x.dpy, TrayXIOExit, nullptr);
  std::string sel = "_NET_SYSTEM_TRAY_S" + std::to_string(s.x.screen);
  s.x.selection = XInternAtom(s.x.dpy, sel.c_str(), False);
  s.x.opcode = XInternAtom(s.x.dpy, "_NET_SYSTEM_TRAY_OPCODE", False);
  s.x.manager = XInternAtom(s.x.dpy, "MANAGER", False);
  s.x.xembedInfo = XInternAtom(s.x.dpy, "_XEMBED_INFO", False);
  XSelectInput(s.x.dpy, RootWindow(s.x.dpy, s.x.screen), StructureNotifyMask);
  XFlush(s.x.dpy);
  s.x.watched = WatchFd(ConnectionNumber(s.x.dpy), EPOLLIN, [](uint32_t) { DrainNow(); });
}

}  // namespace

State& St() { return gState.Get(); }

// Icons and the connection belong to the desktop session (State).
void State::EndSession() {
  headlessCursor.store(0);
  std::lock_guard<std::mutex> g(trayMu);
  if (x.dpy && !x.dead) {
    int fd = ConnectionNumber(x.dpy);
    if (x.watched) UnwatchFd(fd);
    XSetErrorHandler(x.previousHandler);
    // A server that went first is not talked to: only the socket is closed.
    pollfd p{fd, POLLIN, 0};
    char c;
    bool gone = poll(&p, 1, 0) > 0 && ((p.revents & (POLLHUP | POLLERR)) ||
                                       recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0);
    if (gone) {
      close(fd);
      dead.push_back(x.dpy);
    } else {
      for (Icon& i : icons)
        if (i.xwin) XDestroyWindow(x.dpy, i.xwin);
      XCloseDisplay(x.dpy);
    }
  }
  if (tip.timer >= 0) {
    UnwatchFd(tip.timer);
    close(tip.timer);
  }
  tip = Tip{};
  for (Icon& i : icons)
    if (i.icon) DestroyIcon(i.icon);
  icons.clear();
  x = XTray{};
}

// Only this thread came along; trayMu is held since prepare.
State* State::ForChild() {
  if (x.dpy && !x.dead) close(ConnectionNumber(x.dpy));
  if (tip.timer >= 0) close(tip.timer);
  auto* mine = new State;
  mine->headlessCursor.store(headlessCursor.load());
  return mine;
}

}  // namespace shellimpl

bool Shell_NotifyIcon(DWORD message, const NOTIFYICONDATA* data) {
  State& s = St();
  std::lock_guard<std::mutex> g(s.trayMu);
  ++s.calls;
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
      s.icons.emplace_back();
      apply(s.icons.back());
      Dock(s.icons.back());
      return true;
    }
    case NIM_MODIFY:
      if (!icon) break;
      apply(*icon);
      Paint(*icon);
      if (s.tip.win && TipIsFor(*icon)) ShowTip(*icon);  // follows the new text while it shows
      return true;
    case NIM_DELETE: {
      if (!icon) break;
      if (TipIsFor(*icon)) HideTip();
      Undock(*icon);
      if (icon->icon) DestroyIcon(icon->icon);
      s.icons.erase(s.icons.begin() + (icon - s.icons.data()));
      return true;
    }
    default: break;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

bool NotifyAreaAvailable() {
  State& s = St();
  std::lock_guard<std::mutex> g(s.trayMu);
  if (!DisplayWanted()) return true;
  OpenX();
  if (!s.x.dpy) return true;  // the display cannot be opened: the program runs headless
  bool host = TrayOwner() != None;
  Drain();
  return host;
}

bool GetNotifyIconRecord(HWND hwnd, uint32_t id, NOTIFYICONDATA* data) {
  State& s = St();
  std::lock_guard<std::mutex> g(s.trayMu);
  Icon* icon = FindIcon(hwnd, id);
  if (!icon) return false;
  if (data) *data = icon->data;
  return true;
}

std::vector<NOTIFYICONDATA> GetNotifyIcons() {
  State& s = St();
  std::lock_guard<std::mutex> g(s.trayMu);
  std::vector<NOTIFYICONDATA> out;
  for (const Icon& i : s.icons) out.push_back(i.data);
  return out;
}

uint32_t NotifyIconCallCount() {
  State& s = St();
  std::lock_guard<std::mutex> g(s.trayMu);
  return s.calls;
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
  State& s = St();
  std::lock_guard<std::mutex> g(s.trayMu);
  Drain();
  return s.tip.win;
}

unsigned long GetNotifyIconXWindow(HWND hwnd, uint32_t id) {
  State& s = St();
  std::lock_guard<std::mutex> g(s.trayMu);
  Drain();
  Icon* icon = FindIcon(hwnd, id);
  return icon ? icon->xwin : 0;
}

}  // namespace plat
