// The X11 backend: one X window per visible top-level window, filled from the
// window's composed backing store; X input becomes the core's input calls.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "platform/display/DisplayInternal.h"
#include "platform/display/X11BackendKeys.h"
#include "platform/gdi/Gdi.h"

namespace plat::display {
namespace {

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

int Shift(unsigned long mask) {
  int s = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++s;
  }
  return s;
}

class X11Backend : public Backend {
public:
  explicit X11Backend(Display* dpy) : FDpy(dpy) {
    FScreen = DefaultScreen(dpy);
    FRoot = RootWindow(dpy, FScreen);
    FVisual = DefaultVisual(dpy, FScreen);
    FDepth = DefaultDepth(dpy, FScreen);
    FGc = DefaultGC(dpy, FScreen);
    FDeleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    FProtocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
    FNetWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
    FUtf8 = XInternAtom(dpy, "UTF8_STRING", False);
    FNetActiveWindow = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
    FMotifHints = XInternAtom(dpy, "_MOTIF_WM_HINTS", False);
    FWindowType = XInternAtom(dpy, "_NET_WM_WINDOW_TYPE", False);
    FTypeNormal = XInternAtom(dpy, "_NET_WM_WINDOW_TYPE_NORMAL", False);
    FTypeDialog = XInternAtom(dpy, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    FNetWmPid = XInternAtom(dpy, "_NET_WM_PID", False);
    FMoveResize = XInternAtom(dpy, "_NET_WM_MOVERESIZE", False);
    FNetWmState = XInternAtom(dpy, "_NET_WM_STATE", False);
    FMaxVert = XInternAtom(dpy, "_NET_WM_STATE_MAXIMIZED_VERT", False);
    FMaxHorz = XInternAtom(dpy, "_NET_WM_STATE_MAXIMIZED_HORZ", False);
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) FHost = host;
    // Every window of the program carries its name, so that a desktop can
    // tell the programs apart (and group each one's windows): "beaconhub",
    // class "Beaconhub".
    FResName = program_invocation_short_name;
    FResClass = FResName;
    if (!FResClass.empty()) FResClass[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(FResClass[0])));
    int ev = 0, err = 0;
    FHasShape = XShapeQueryExtension(dpy, &ev, &err);
    FUserTime = ServerTime();
    SetScreenSize(DisplayWidth(dpy, FScreen), DisplayHeight(dpy, FScreen));
    WatchFd(ConnectionNumber(dpy), EPOLLIN, [this](uint32_t) { ProcessEvents(); });
  }

  ~X11Backend() override {
    UnwatchFd(ConnectionNumber(FDpy));
    if (FServerGone) {
      close(ConnectionNumber(FDpy));  // the rest of the connection is left as it is
      return;
    }
    for (auto& [h, w] : FWindows) XDestroyWindow(FDpy, w.xwin);
    XCloseDisplay(FDpy);
  }

  void NoteServerGone() override {
    int fd = ConnectionNumber(FDpy);
    pollfd p{fd, POLLIN, 0};
    char c;
    if (poll(&p, 1, 0) > 0 && ((p.revents & (POLLHUP | POLLERR)) ||
                               recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0)) {
      FServerGone = true;
    }
  }

  void LeaveToParent() override { close(ConnectionNumber(FDpy)); }

  void Sync(HWND top, const TopState& st) override {
    auto it = FWindows.find(top);
    if (!st.visible) {
      if (it == FWindows.end() && st.create) {
        Create(top, st);
        return;
      }
      if (it != FWindows.end() && it->second.mapped) {
        ReleasePointer(it->second);
        XWithdrawWindow(FDpy, it->second.xwin, FScreen);
        it->second.mapped = false;
      }
      Flush(false);
      return;
    }
    int32_t w = std::max(1, st.rect.right - st.rect.left);
    int32_t h = std::max(1, st.rect.bottom - st.rect.top);
    if (it == FWindows.end()) it = FWindows.find(Create(top, st));
    Win& win = it->second;
    if (win.title != st.title || !win.titled) {
      win.title = st.title;
      win.titled = true;
      XStoreName(FDpy, win.xwin, st.title.c_str());
      XChangeProperty(FDpy, win.xwin, FNetWmName, FUtf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(st.title.data()),
                      static_cast<int>(st.title.size()));
    }
    if (!(win.hints == st.hints)) ApplyHints(top, win, st.hints);
    if (win.rect.left != st.rect.left || win.rect.top != st.rect.top ||
        win.rect.right != st.rect.right || win.rect.bottom != st.rect.bottom) {
      XMoveResizeWindow(FDpy, win.xwin, st.rect.left, st.rect.top, static_cast<unsigned>(w),
                        static_cast<unsigned>(h));
      win.rect = st.rect;
    }
    // Minimising is the window manager's work. Without one the window would
    // stay on the screen but never be painted again nor take input, so it
    // stays a normal, live window instead.
    bool iconic = st.iconic;
    if (iconic && !WindowManagerRunning()) {
      iconic = false;
      BackendRestoreLater(top);
    }
    if (iconic) {
      if (win.mapped) XIconifyWindow(FDpy, win.xwin, FScreen);
      else {
        XWMHints wmh{};
        wmh.flags = StateHint;
        wmh.initial_state = IconicState;
        XSetWMHints(FDpy, win.xwin, &wmh);
        XMapWindow(FDpy, win.xwin);
        win.mapped = true;
      }
    } else if (!win.mapped) {
      XWMHints wmh{};
      wmh.flags = StateHint | InputHint;
      wmh.initial_state = NormalState;
      wmh.input = win.popup ? False : True;
      XSetWMHints(FDpy, win.xwin, &wmh);
      // Shown again after hiding, a window keeps its place.
      if (win.placed) SetNormalHints(win);
      XMapRaised(FDpy, win.xwin);
      win.mapped = true;
      win.placed = true;
      win.wantFocus = !win.popup;
    } else if (win.iconic) {
      XMapRaised(FDpy, win.xwin);
    }
    win.iconic = iconic;
    Flush(false);
  }

  void Destroy(HWND top) override {
    auto it = FWindows.find(top);
    if (it == FWindows.end()) return;
    ReleasePointer(it->second);
    FByXid.erase(it->second.xwin);
    XDestroyWindow(FDpy, it->second.xwin);
    FWindows.erase(it);
    Flush(false);
  }

  void Present(HWND top, int32_t width, int32_t height, const std::vector<uint8_t>& pixels) override {
    auto it = FWindows.find(top);
    if (it == FWindows.end() || !it->second.mapped || width <= 0 || height <= 0) return;
    int32_t stride = DibStride(width, 24);
    if (pixels.size() < static_cast<size_t>(stride) * static_cast<size_t>(height)) return;
    XImage* img = XCreateImage(FDpy, FVisual, static_cast<unsigned>(FDepth), ZPixmap, 0, nullptr,
                               static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (!img) return;
    img->data = static_cast<char*>(malloc(static_cast<size_t>(img->bytes_per_line) * static_cast<size_t>(height)));
    if (!img->data) {
      XDestroyImage(img);
      return;
    }
    bool direct = img->bits_per_pixel == 32 && img->byte_order == LSBFirst &&
                  img->red_mask == 0xFF0000 && img->green_mask == 0xFF00 && img->blue_mask == 0xFF;
    int rs = Shift(img->red_mask), gs = Shift(img->green_mask), bs = Shift(img->blue_mask);
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* src = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(stride);
      if (direct) {
        auto* dst = reinterpret_cast<uint8_t*>(img->data) + static_cast<size_t>(y) * static_cast<size_t>(img->bytes_per_line);
        for (int32_t x = 0; x < width; ++x) {
          dst[4 * x] = src[3 * x];
          dst[4 * x + 1] = src[3 * x + 1];
          dst[4 * x + 2] = src[3 * x + 2];
          dst[4 * x + 3] = 0;
        }
      } else {
        for (int32_t x = 0; x < width; ++x) {
          unsigned long p = ((static_cast<unsigned long>(src[3 * x + 2]) << rs) & img->red_mask) |
                            ((static_cast<unsigned long>(src[3 * x + 1]) << gs) & img->green_mask) |
                            ((static_cast<unsigned long>(src[3 * x]) << bs) & img->blue_mask);
          XPutPixel(img, x, y, p);
        }
      }
    }
    XPutImage(FDpy, it->second.xwin, FGc, img, 0, 0, 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
    XDestroyImage(img);
  }

  void Shape(HWND top, const std::vector<RECT>& rects, bool none) override {
    auto it = FWindows.find(top);
    if (it == FWindows.end() || !FHasShape) return;
    if (none) {
      XShapeCombineMask(FDpy, it->second.xwin, ShapeBounding, 0, 0, None, ShapeSet);
      return;
    }
    std::vector<XRectangle> xr;
    for (const RECT& r : rects) {
      if (r.right <= r.left || r.bottom <= r.top) continue;
      XRectangle x;
      x.x = static_cast<short>(std::clamp(r.left, -32768, 32767));
      x.y = static_cast<short>(std::clamp(r.top, -32768, 32767));
      x.width = static_cast<unsigned short>(std::clamp(r.right - r.left, 0, 65535));
      x.height = static_cast<unsigned short>(std::clamp(r.bottom - r.top, 0, 65535));
      xr.push_back(x);
    }
    XShapeCombineRectangles(FDpy, it->second.xwin, ShapeBounding, 0, 0, xr.data(),
                            static_cast<int>(xr.size()), ShapeSet, Unsorted);
  }

  void Flush(bool wait) override {
    if (wait) {
      XSync(FDpy, False);
    } else {
      XFlush(FDpy);
    }
    // A round trip may have read events into Xlib's queue: handle them now,
    // as the descriptor will not wake us for them.
    if (XQLength(FDpy) > 0) ProcessEvents();
  }

  void Activate(HWND top) override {
    auto it = FWindows.find(top);
    if (it != FWindows.end() && it->second.mapped && it->second.viewable)
      XSetInputFocus(FDpy, it->second.xwin, RevertToParent, FUserTime);
  }

  bool ManagerPassesKeyboard() override { return WindowManagerRunning(); }

  void NoteUserTime(unsigned long time) override { FUserTime = std::max<Time>(FUserTime, time); }

  void BringToFront(HWND top) override {
    auto it = FWindows.find(top);
    if (it == FWindows.end() || !it->second.mapped) return;
    Win& win = it->second;
    if (WindowManagerRunning()) {
      // Raising and the keyboard are the manager's: ask it as a taskbar does,
      // for a user's action (source 2), which it does not refuse as stealing focus.
      XRaiseWindow(FDpy, win.xwin);
      AskManager(win.xwin, FNetActiveWindow, {2, static_cast<long>(FUserTime)});
    } else if (win.viewable) {
      TakeKeyboard(win);
    } else {
      win.wantFocus = true;
    }
    Flush(false);
  }

  bool ManagerSizeDrag(HWND top) override {
    auto it = FWindows.find(top);
    if (it == FWindows.end() || !it->second.viewable || FPress.window != it->second.xwin ||
        !ManagerSupports(FMoveResize))
      return false;
    // The manager takes the pointer for the drag: the press's own grab goes
    // first, then the manager sizes the window from where the button went down.
    XUngrabPointer(FDpy, FPress.time);
    // From the bottom-right corner (4), with the left button, asked by an application.
    AskManager(it->second.xwin, FMoveResize, {FPress.x, FPress.y, 4, 1, 1});
    Flush(false);
    return true;
  }

  bool DefaultPosition(int32_t width, int32_t height, int32_t* x, int32_t* y) override {
    if (WindowManagerRunning()) return false;
    // The top-left corners of the windows on the screen now.
    std::set<std::pair<int, int>> taken;
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    if (XQueryTree(FDpy, FRoot, &root, &parent, &kids, &n)) {
      for (unsigned i = 0; i < n; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(FDpy, kids[i], &a) && a.map_state == IsViewable && !a.override_redirect)
          taken.emplace(a.x, a.y);
      }
      if (kids) XFree(kids);
    }
    const int step = 24;
    const int sw = DisplayWidth(FDpy, FScreen), sh = DisplayHeight(FDpy, FScreen);
    int at = step;
    while (taken.count({at, at}) && at + step + width <= sw && at + step + height <= sh) at += step;
    *x = at;
    *y = at;
    return true;
  }

  unsigned long WindowId(HWND top) const override {
    auto it = FWindows.find(top);
    return it == FWindows.end() ? 0 : it->second.xwin;
  }
  void* Connection() const override { return FDpy; }
  bool FServerGone = false;
  bool IsX11() const override { return true; }

private:
  struct Win {
    Window xwin = 0;
    bool mapped = false;
    bool viewable = false;
    bool iconic = false;
    bool wantFocus = false;
    bool titled = false;
    bool popup = false;
    bool grabbing = false;  // holds the pointer (popups, while viewable)
    bool placed = false;    // shown once: its place is its own from then on
    bool maximized = false;  // as the window manager shows it
    std::string title;
    RECT rect{-1, -1, -1, -1};
    WindowHints hints;
  };

  HWND Create(HWND top, const TopState& st) {
    int32_t w = std::max(1, st.rect.right - st.rect.left);
    int32_t h = std::max(1, st.rect.bottom - st.rect.top);
    XSetWindowAttributes a{};
    a.background_pixmap = None;
    a.bit_gravity = NorthWestGravity;
    a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                   KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask |
                   PropertyChangeMask;
    // A popup is placed where the program puts it, undecorated, like a menu.
    a.override_redirect = st.popup ? True : False;
    Window xw = XCreateWindow(FDpy, FRoot, st.rect.left, st.rect.top, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), 0, FDepth, InputOutput, FVisual,
                              CWBackPixmap | CWBitGravity | CWEventMask | CWOverrideRedirect, &a);
    XSetWMProtocols(FDpy, xw, &FDeleteWindow, 1);
    XClassHint cls{};
    cls.res_name = FResName.data();
    cls.res_class = FResClass.data();
    XSetClassHint(FDpy, xw, &cls);
    // Which process and machine the window is of, so that a desktop (or a
    // script driving it) can tell two copies of a program apart.
    long pid = getpid();
    XChangeProperty(FDpy, xw, FNetWmPid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    XChangeProperty(FDpy, xw, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(FHost.data()),
                    static_cast<int>(FHost.size()));
    Win& win = FWindows.emplace(top, Win{}).first->second;
    win.xwin = xw;
    win.popup = st.popup;
    win.rect = st.rect;
    FByXid[xw] = top;
    ApplyHints(top, win, st.hints);
    return top;
  }

  void ApplyHints(HWND top, Win& win, const WindowHints& hints) {
    win.hints = hints;
    SetNormalHints(win);
    SetFrameHints(win);
    auto o = FWindows.find(hints.owner);
    if (hints.owner && hints.owner != top && o != FWindows.end())
      XSetTransientForHint(FDpy, win.xwin, o->second.xwin);
    else
      XDeleteProperty(FDpy, win.xwin, XA_WM_TRANSIENT_FOR);
  }

  // Size limits, and the place unless the manager is to choose it. The place
  // is the window's own (static gravity): a frame goes round it, so a dialog
  // centred on its main window stays centred and a window shown again does
  // not move by the frame's height.
  void SetNormalHints(Win& win) {
    XSizeHints h{};
    h.flags = USSize | PWinGravity;
    h.width = win.rect.right - win.rect.left;
    h.height = win.rect.bottom - win.rect.top;
    h.win_gravity = StaticGravity;
    if (!win.hints.defaultPosition || win.placed) {
      h.flags |= PPosition;
      h.x = win.rect.left;
      h.y = win.rect.top;
    }
    if (win.hints.minWidth > 0 || win.hints.minHeight > 0) {
      h.flags |= PMinSize;
      h.min_width = std::max(1, win.hints.minWidth);
      h.min_height = std::max(1, win.hints.minHeight);
    }
    if (win.hints.maxWidth > 0 || win.hints.maxHeight > 0) {
      h.flags |= PMaxSize;
      h.max_width = win.hints.maxWidth > 0 ? win.hints.maxWidth : 32767;
      h.max_height = win.hints.maxHeight > 0 ? win.hints.maxHeight : 32767;
    }
    XSetWMNormalHints(FDpy, win.xwin, &h);
  }

  // The frame and the functions the manager offers (the published layout of
  // the _MOTIF_WM_HINTS property: flags, functions, decorations, input mode,
  // status), and whether the window is a dialog.
  void SetFrameHints(Win& win) {
    if (win.popup) return;
    constexpr long kFunctions = 1, kDecorations = 2;
    constexpr long kFnResize = 2, kFnMove = 4, kFnMinimize = 8, kFnMaximize = 16, kFnClose = 32;
    constexpr long kDcBorder = 2, kDcResizeH = 4, kDcTitle = 8, kDcMenu = 16, kDcMinimize = 32,
                   kDcMaximize = 64;
    const WindowHints& h = win.hints;
    long fn = kFnMove | (h.resizable ? kFnResize : 0) | (h.minimizable ? kFnMinimize : 0) |
              (h.maximizable ? kFnMaximize : 0) | (h.closable ? kFnClose : 0);
    long dc = 0;
    if (h.decorated)
      dc = kDcBorder | kDcTitle | (h.closable ? kDcMenu : 0) | (h.resizable ? kDcResizeH : 0) |
           (h.minimizable ? kDcMinimize : 0) | (h.maximizable ? kDcMaximize : 0);
    long mwm[5] = {kFunctions | kDecorations, fn, dc, 0, 0};
    XChangeProperty(FDpy, win.xwin, FMotifHints, FMotifHints, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(mwm), 5);
    Atom type = h.dialog ? FTypeDialog : FTypeNormal;
    XChangeProperty(FDpy, win.xwin, FWindowType, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&type), 1);
  }

  // A request to the window manager about a window (a client message to the root).
  void AskManager(Window w, Atom what, std::initializer_list<long> data) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = what;
    ev.xclient.format = 32;
    int i = 0;
    for (long v : data) ev.xclient.data.l[i++] = v;
    XSendEvent(FDpy, FRoot, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
  }

  // The atoms a window property lists (none when it is missing).
  std::vector<Atom> AtomList(Window w, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<Atom> atoms;
    if (XGetWindowProperty(FDpy, w, property, 0, 4096, False, XA_ATOM, &type, &format, &count,
                           &after, &data) == Success &&
        data && format == 32)
      atoms.assign(reinterpret_cast<Atom*>(data), reinterpret_cast<Atom*>(data) + count);
    if (data) XFree(data);
    return atoms;
  }

  // The manager names what it can do in _NET_SUPPORTED on the root.
  bool ManagerSupports(Atom what) {
    if (!WindowManagerRunning()) return false;
    const auto atoms = AtomList(FRoot, XInternAtom(FDpy, "_NET_SUPPORTED", False));
    return std::find(atoms.begin(), atoms.end(), what) != atoms.end();
  }

  // The manager changed the window's state: maximised is both ways at once. A
  // window that cannot be maximised asks to be given its size back.
  void StateChanged(HWND top, Win& win) {
    const auto atoms = AtomList(win.xwin, FNetWmState);
    const bool maximized = std::count(atoms.begin(), atoms.end(), FMaxVert) != 0 &&
                           std::count(atoms.begin(), atoms.end(), FMaxHorz) != 0;
    if (maximized && !win.hints.maximizable) {
      AskManager(win.xwin, FNetWmState,
                 {0 /* remove */, static_cast<long>(FMaxVert), static_cast<long>(FMaxHorz), 1});
      return;
    }
    if (maximized == win.maximized) return;
    win.maximized = maximized;
    BackendMaximized(top, maximized);
  }

  // A popup holds the pointer while it shows: presses on the program's own
  // windows still go to them, presses anywhere else come to the popup. When
  // the pointer cannot be had (another program holds it), the popup closes.
  void HoldPointer(HWND top, Win& win) {
    if (!win.popup || win.grabbing) return;
    int r = XGrabPointer(FDpy, win.xwin, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                         GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    if (r == GrabSuccess) {
      win.grabbing = true;
    } else {
      PostMessage(top, WM_CANCELMODE, 0, 0);
    }
  }
  void CancelPopups() {
    for (auto& [h, w] : FWindows)
      if (w.popup && w.mapped) PostMessage(h, WM_CANCELMODE, 0, 0);
  }
  void ReleasePointer(Win& win) {
    if (!win.grabbing) return;
    win.grabbing = false;
    XUngrabPointer(FDpy, CurrentTime);
  }

  // Gives a window the keyboard and raises it, as of the user's last action:
  // when the user went on to another window since (the program was slow to
  // get here), the server keeps the keyboard there and this window stays where
  // it is.
  void TakeKeyboard(Win& win) {
    XSetInputFocus(FDpy, win.xwin, RevertToParent, FUserTime);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(FDpy, &focus, &revert);
    if (focus == win.xwin) XRaiseWindow(FDpy, win.xwin);
  }

  // The server's time now: the time stamp of a change to a window of our own
  // (kept for the connection's life: a window that comes and goes at once
  // trips up programs that list the windows of the screen).
  Time ServerTime() {
    Window w = XCreateSimpleWindow(FDpy, FRoot, 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(FDpy, w, PropertyChangeMask);
    XChangeProperty(FDpy, w, XA_WM_NAME, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent ev;
    XWindowEvent(FDpy, w, PropertyChangeMask, &ev);
    XSelectInput(FDpy, w, NoEventMask);
    return ev.xproperty.time;
  }

  // A window manager owns the WM_Sn selection or names its check window on the root.
  bool WindowManagerRunning() {
    std::string sel = "WM_S" + std::to_string(FScreen);
    if (XGetSelectionOwner(FDpy, XInternAtom(FDpy, sel.c_str(), False)) != None) return true;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(FDpy, FRoot, XInternAtom(FDpy, "_NET_SUPPORTING_WM_CHECK", False), 0, 1,
                           False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data && count == 1 && format == 32) {
      Window check = *reinterpret_cast<Window*>(data);
      XWindowAttributes a;
      found = check != None && XGetWindowAttributes(FDpy, check, &a);
    }
    if (data) XFree(data);
    return found;
  }

  HWND Find(Window xw) const {
    auto it = FByXid.find(xw);
    return it == FByXid.end() ? 0 : it->second;
  }

  void ProcessEvents() {
    if (FInEvents) return;
    FInEvents = true;
    while (XPending(FDpy) > 0) {
      XEvent ev;
      XNextEvent(FDpy, &ev);
      Handle(ev);
    }
    FInEvents = false;
  }

  void Handle(XEvent& ev) {
    HWND top = Find(ev.xany.window);
    if (!top) return;
    switch (ev.type) {
      case Expose:
        if (ev.xexpose.count == 0) BackendExposed(top);
        break;
      case ConfigureNotify: {
        auto it = FWindows.find(top);
        if (it == FWindows.end()) break;
        int x = ev.xconfigure.x, y = ev.xconfigure.y;
        Window child;
        XTranslateCoordinates(FDpy, ev.xconfigure.window, FRoot, 0, 0, &x, &y, &child);
        RECT r{x, y, x + ev.xconfigure.width, y + ev.xconfigure.height};
        it->second.rect = r;
        BackendConfigured(top, r);
        break;
      }
      case MapNotify: {
        auto it = FWindows.find(top);
        if (it == FWindows.end()) break;
        it->second.viewable = true;
        if (it->second.iconic) {
          it->second.iconic = false;
          BackendIconic(top, false);
        }
        if (it->second.wantFocus) {
          it->second.wantFocus = false;
          TakeKeyboard(it->second);
        }
        HoldPointer(top, it->second);
        BackendExposed(top);
        break;
      }
      case UnmapNotify: {
        auto it = FWindows.find(top);
        if (it == FWindows.end()) break;
        it->second.viewable = false;
        it->second.grabbing = false;  // the server let the pointer go with the window
        // Unmapped while we still want it shown: the window manager minimised
        // it. One that has no minimising (a dialog, say) is shown again at once:
        // some managers offer it on every window.
        if (it->second.mapped && !it->second.iconic && !it->second.hints.minimizable) {
          XMapWindow(FDpy, it->second.xwin);
          break;
        }
        if (it->second.mapped && !it->second.iconic) {
          it->second.iconic = true;
          BackendIconic(top, true);
        }
        break;
      }
      case FocusIn:
        if (ev.xfocus.detail != NotifyPointer) BackendActivated(top, true);
        break;
      case FocusOut:
        // Another program took the keyboard: a popup of ours gives up.
        if (ev.xfocus.mode == NotifyNormal && ev.xfocus.detail == NotifyNonlinear) CancelPopups();
        if (ev.xfocus.detail != NotifyPointer && ev.xfocus.detail != NotifyInferior &&
            ev.xfocus.mode == NotifyNormal)
          BackendActivated(top, false);
        break;
      case PropertyNotify: {
        auto it = FWindows.find(top);
        if (it != FWindows.end() && ev.xproperty.atom == FNetWmState) StateChanged(top, it->second);
        break;
      }
      case ClientMessage:
        if (ev.xclient.message_type == FProtocols && ev.xclient.format == 32 &&
            static_cast<Atom>(ev.xclient.data.l[0]) == FDeleteWindow)
          DeliverClose(top);
        break;
      case ButtonPress:
      case ButtonRelease: {
        unsigned b = ev.xbutton.button;
        bool down = ev.type == ButtonPress;
        uint32_t mk = KeyState(ev.xbutton.state);
        if (b == 4 || b == 5) {
          if (down)
            DeliverMouse(top, MouseAction::Wheel, 0, ev.xbutton.x, ev.xbutton.y, mk,
                         b == 4 ? WHEEL_DELTA : -WHEEL_DELTA, static_cast<DWORD>(ev.xbutton.time));
          break;
        }
        int button = b == 1 ? 0 : b == 3 ? 1 : b == 2 ? 2 : -1;
        if (button < 0) break;
        NoteUserTime(ev.xbutton.time);
        if (down)
          FPress = Press{ev.xbutton.window, ev.xbutton.x_root, ev.xbutton.y_root, ev.xbutton.time};
        if (down) {
          auto it = FWindows.find(top);
          if (it != FWindows.end() && it->second.grabbing &&
              (ev.xbutton.x < 0 || ev.xbutton.y < 0 ||
               ev.xbutton.x >= it->second.rect.right - it->second.rect.left ||
               ev.xbutton.y >= it->second.rect.bottom - it->second.rect.top)) {
            // A press outside every window of ours, e.g. on another program.
            PostMessage(top, WM_CANCELMODE, 0, 0);
            break;
          }
        }
        // A popup never takes the keyboard: its owner keeps it, so that the
        // popup is not cancelled as if another program had taken it. Under a
        // window manager the click gives the keyboard through the manager: a
        // program slow to handle its click would take it back afterwards from
        // a window activated since.
        if (down && IsWindowEnabled(top) && !WindowManagerRunning()) {
          auto it = FWindows.find(top);
          if (it != FWindows.end() && it->second.viewable && !it->second.popup)
            XSetInputFocus(FDpy, it->second.xwin, RevertToParent, ev.xbutton.time);
        }
        DeliverMouse(top, down ? MouseAction::Down : MouseAction::Up, button, ev.xbutton.x,
                     ev.xbutton.y, mk, 0, static_cast<DWORD>(ev.xbutton.time));
        break;
      }
      case MotionNotify:
        DeliverMouse(top, MouseAction::Move, 0, ev.xmotion.x, ev.xmotion.y,
                     KeyState(ev.xmotion.state), 0, static_cast<DWORD>(ev.xmotion.time));
        break;
      case KeyPress:
      case KeyRelease: {
        char buf[16];
        KeySym ks = 0;
        int n = XLookupString(&ev.xkey, buf, sizeof buf, &ks, nullptr);
        int vk = VirtualKey(ks);
        uint32_t ch = ev.type == KeyPress ? FirstCodePoint(buf, n) : 0;
        if (ch == 0x7F) ch = 0;  // Delete makes no character
        bool alt = (ev.xkey.state & Mod1Mask) != 0;
        NoteUserTime(ev.xkey.time);
        DeliverKey(top, ev.type == KeyPress, vk, ch, alt);
        break;
      }
      default: break;
    }
  }

  Display* FDpy;
  int FScreen = 0;
  Window FRoot = 0;
  Visual* FVisual = nullptr;
  int FDepth = 24;
  GC FGc = nullptr;
  Atom FDeleteWindow = 0, FProtocols = 0, FNetWmName = 0, FUtf8 = 0, FNetActiveWindow = 0;
  Atom FMotifHints = 0, FWindowType = 0, FTypeNormal = 0, FTypeDialog = 0, FNetWmPid = 0,
       FMoveResize = 0;
  Atom FNetWmState = 0, FMaxVert = 0, FMaxHorz = 0;
  std::string FResName, FResClass, FHost;
  // Where and when a button went down last (root coordinates).
  struct Press {
    Window window = 0;
    int x = 0, y = 0;
    Time time = CurrentTime;
  } FPress;
  // Of the latest click or key the program saw (at first, of its start): the
  // program gives the keyboard as of then, so that a window it gets to late
  // never takes it from one the user went to since.
  Time FUserTime = CurrentTime;
  bool FHasShape = false;
  bool FInEvents = false;
  std::map<HWND, Win> FWindows;
  std::map<Window, HWND> FByXid;
};

}  // namespace

std::unique_ptr<Backend> OpenX11Backend() {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return nullptr;
  XSetErrorHandler(IgnoreXError);
  return std::make_unique<X11Backend>(dpy);
}

}  // namespace plat::display
