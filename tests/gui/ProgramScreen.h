// What the screen tests of the real programs share: a tray host of the test's
// own, the programs started in folders of their own, windows found by title,
// their pixels read back from the X server, and texts looked for on them as
// the drawing layer renders them.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "framework/Graphics.h"
#include "platform/gdi/Gdi.h"
#include "platform/shell/TrayIcon.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MessagePump.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/TestSession.h"

namespace vexa::test {

// Pixels of a window as read from the X server, 0xRRGGBB.
struct Shot {
  int W = 0, H = 0;
  std::vector<uint32_t> Px;
  uint32_t At(int x, int y) const { return Px[static_cast<size_t>(y) * static_cast<size_t>(W) + static_cast<size_t>(x)]; }
  static bool Dark(uint32_t p) { return ((p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF)) < 300; }
};

// A text as the drawing layer paints it ("&" marks an underlined letter, as in
// menu captions): in the given font (the framework's
// default font when none), colour fg over bg. Ink = the pixels that come out dark.
struct TextPatch {
  int W = 0, H = 0;
  std::vector<uint32_t> Px;
  std::vector<std::pair<int, int>> Ink;  // in row order
};

inline uint32_t Rgb(plat::COLORREF c) {
  return static_cast<uint32_t>(plat::GetRValue(c)) << 16 | static_cast<uint32_t>(plat::GetGValue(c)) << 8 |
         plat::GetBValue(c);
}

inline TextPatch RenderText(const std::string& text, plat::COLORREF bg, plat::COLORREF fg, plat::HFONT hfont = 0) {
  fw::TFont font;
  plat::HDC dc = plat::CreateCompatibleDC(0);
  plat::HGDIOBJ oldFont = plat::SelectObject(dc, hfont ? hfont : font.Handle());
  plat::SIZE sz{};
  plat::GetTextExtentPoint32(dc, text, &sz);
  TextPatch t;
  t.W = sz.cx + 4;
  t.H = sz.cy + 4;
  plat::HBITMAP bmp = plat::CreateCompatibleBitmap(dc, t.W, t.H);
  plat::HGDIOBJ oldBmp = plat::SelectObject(dc, bmp);
  plat::RECT r{0, 0, t.W, t.H};
  plat::HBRUSH b = plat::CreateSolidBrush(bg);
  plat::FillRect(dc, &r, b);
  plat::DeleteObject(b);
  plat::SetBkMode(dc, plat::TRANSPARENT);
  plat::SetTextColor(dc, fg);
  if (text.find('&') != std::string::npos) {
    // A caption with an accelerator: drawn as menus draw it, the letter underlined.
    plat::RECT tr{2, 2, t.W, t.H};
    plat::DrawText(dc, text, &tr, plat::DT_SINGLELINE | plat::DT_LEFT | plat::DT_TOP);
  } else {
    plat::TextOut(dc, 2, 2, text);
  }
  plat::SelectObject(dc, oldBmp);
  plat::SelectObject(dc, oldFont);
  plat::DeleteDC(dc);
  for (int y = 0; y < t.H; ++y)
    for (int x = 0; x < t.W; ++x) {
      uint32_t p = Rgb(plat::GetBitmapPixel(bmp, x, y));
      t.Px.push_back(p);
      if (Shot::Dark(p)) t.Ink.emplace_back(x, y);
    }
  plat::DeleteObject(bmp);
  return t;
}

struct Box {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// The dark pixels of a region, in row order.
inline std::vector<std::pair<int, int>> InkOf(const Shot& s, Box r) {
  std::vector<std::pair<int, int>> v;
  r.Right = std::min(r.Right, s.W);
  r.Bottom = std::min(r.Bottom, s.H);
  for (int y = std::max(0, r.Top); y < r.Bottom; ++y)
    for (int x = std::max(0, r.Left); x < r.Right; ++x)
      if (Shot::Dark(s.At(x, y))) v.emplace_back(x, y);
  return v;
}

// True when the region shows exactly the text and nothing else dark: every
// dark pixel there is the text's ink, each with the colour the drawing layer gives it.
inline bool RegionShowsExactly(const Shot& s, Box r, const TextPatch& t) {
  auto ink = InkOf(s, r);
  if (ink.size() != t.Ink.size() || ink.empty()) return false;
  int dx = ink[0].first - t.Ink[0].first, dy = ink[0].second - t.Ink[0].second;
  for (size_t i = 0; i < ink.size(); ++i) {
    auto [px, py] = t.Ink[i];
    if (ink[i].first != px + dx || ink[i].second != py + dy) return false;
    if (s.At(ink[i].first, ink[i].second) != t.Px[static_cast<size_t>(py * t.W + px)]) return false;
  }
  return true;
}

// The font the standard controls (lists, tabs, menus) draw with.
inline plat::HFONT ControlFont() { return static_cast<plat::HFONT>(plat::GetStockObject(plat::DEFAULT_GUI_FONT)); }

// Where the text shows inside a region (its top-left as rendered, x and y),
// found by its ink; nothing when it does not.
inline std::optional<std::pair<int, int>> FindText(const Shot& s, Box r, const TextPatch& t) {
  if (t.Ink.empty()) return std::nullopt;
  for (int oy = r.Top - 2; oy + t.H <= std::min(r.Bottom, s.H) + 2; ++oy)
    for (int ox = r.Left - 2; ox + t.W <= std::min(r.Right, s.W) + 2; ++ox) {
      bool ok = true;
      for (auto [x, y] : t.Ink) {
        int sx = ox + x, sy = oy + y;
        if (sx < 0 || sy < 0 || sx >= s.W || sy >= s.H || !Shot::Dark(s.At(sx, sy))) {
          ok = false;
          break;
        }
      }
      if (!ok) continue;
      // No ink of another text inside the text's own box (the patch without its margin).
      for (int y = 2; y < t.H - 2 && ok; ++y)
        for (int x = 2; x < t.W - 2 && ok; ++x) {
          int sx = ox + x, sy = oy + y;
          if (sx < 0 || sy < 0 || sx >= s.W || sy >= s.H) continue;
          if (Shot::Dark(s.At(sx, sy)) != Shot::Dark(t.Px[static_cast<size_t>(y * t.W + x)])) ok = false;
        }
      if (ok) return std::make_pair(ox, oy);
    }
  return std::nullopt;
}

// An edit box (its bounds in the window) shows exactly the text, as the
// drawing layer writes it, and nothing else dark but its caret's one column.
inline bool EditShows(const Shot& s, Box edit, const std::string& text) {
  const TextPatch t = RenderText(text, plat::GetSysColor(plat::COLOR_WINDOW),
                                 plat::GetSysColor(plat::COLOR_WINDOWTEXT), ControlFont());
  const Box in{edit.Left + 2, edit.Top + 2, edit.Right - 2, edit.Bottom - 2};
  const auto at = FindText(s, in, t);
  if (!at) return false;
  std::vector<int> others;
  for (auto [x, y] : InkOf(s, in)) {
    const int px = x - at->first, py = y - at->second;
    const bool ofText = px >= 0 && py >= 0 && px < t.W && py < t.H &&
                        Shot::Dark(t.Px[static_cast<size_t>(py * t.W + px)]);
    if (!ofText && std::find(others.begin(), others.end(), x) == others.end()) others.push_back(x);
  }
  return others.size() <= 1;
}

// Horizontal extent of the dark pixels of a region (left, right exclusive).
inline std::optional<std::pair<int, int>> InkSpan(const Shot& s, Box r) {
  auto ink = InkOf(s, r);
  if (ink.empty()) return std::nullopt;
  int l = s.W, rr = -1;
  for (auto [x, y] : ink) {
    l = std::min(l, x);
    rr = std::max(rr, x + 1);
  }
  return std::make_pair(l, rr);
}

// The test's own connection to the X server: windows, pixels and input.
class Screen {
public:
  // Windows come and go under the test's eyes: asking about one that is gone
  // is an answer (not viewable), not a reason to end the test.
  Screen() : FDpy(XOpenDisplay(nullptr)) { XSetErrorHandler([](Display*, XErrorEvent*) { return 0; }); }
  ~Screen() {
    if (FDpy) XCloseDisplay(FDpy);
  }
  Display* Dpy() const { return FDpy; }

  // A mapped top-level window whose title begins with the text (0 for none).
  Window FindTop(const std::string& title) { return Find([&](Window w) { return Title(w).rfind(title, 0) == 0; }); }
  // A mapped top-level window other than the known ones (0 for none): a menu
  // or tip a program opened, wherever the stacking puts it.
  Window FindOther(std::initializer_list<Window> known) {
    return Find([&](Window w) { return std::find(known.begin(), known.end(), w) == known.end(); });
  }
  // The same, waited for up to the shared limit.
  Window WaitForTop(const std::string& title) {
    Window w = 0;
    WaitUntil([&] { return (w = FindTop(title)) != 0; });
    return w;
  }
  // A mapped top-level window of the resource class (0 for none).
  Window FindClass(const std::string& cls) {
    return Find([&](Window w) {
      XClassHint h{};
      if (!XGetClassHint(FDpy, w, &h)) return false;
      bool is = h.res_class && cls == h.res_class;
      if (h.res_name) XFree(h.res_name);
      if (h.res_class) XFree(h.res_class);
      return is;
    });
  }
  std::string Title(Window w) {
    char* name = nullptr;
    std::string s;
    if (XFetchName(FDpy, w, &name) && name) s = name;
    if (name) XFree(name);
    return s;
  }
  bool Viewable(Window w) {
    XWindowAttributes a;
    return w && XGetWindowAttributes(FDpy, w, &a) && a.map_state == IsViewable;
  }
  Box Geometry(Window w) {
    XWindowAttributes a{};
    XGetWindowAttributes(FDpy, w, &a);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(FDpy, w, DefaultRootWindow(FDpy), 0, 0, &x, &y, &child);
    return Box{x, y, x + a.width, y + a.height};
  }
  // The window that holds the keyboard (0 for none or the pointer's window).
  Window Focused() {
    Window w = 0;
    int revert = 0;
    XGetInputFocus(FDpy, &w, &revert);
    return w == PointerRoot ? 0 : w;
  }
  void Move(Window w, int x, int y) {
    XMoveWindow(FDpy, w, x, y);
    XSync(FDpy, False);
  }
  // The window's pixels as they are on the screen now.
  Shot Grab(Window w) {
    Shot s;
    XWindowAttributes a;
    if (!w || !XGetWindowAttributes(FDpy, w, &a) || a.map_state != IsViewable) return s;
    XImage* img = XGetImage(FDpy, w, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height),
                            AllPlanes, ZPixmap);
    if (!img) return s;
    s.W = a.width;
    s.H = a.height;
    s.Px.resize(static_cast<size_t>(s.W) * static_cast<size_t>(s.H));
    for (int y = 0; y < s.H; ++y)
      for (int x = 0; x < s.W; ++x) s.Px[static_cast<size_t>(y * s.W + x)] = XGetPixel(img, x, y) & 0xFFFFFF;
    XDestroyImage(img);
    return s;
  }
  // Waits until the window shows what check() looks for.
  bool WaitForShot(Window w, const std::function<bool(const Shot&)>& check, int ms = 15000) {
    return WaitUntil([&] {
      Shot s = Grab(w);
      return s.W > 0 && check(s);
    }, std::chrono::milliseconds(ms));
  }
  void PointerTo(Window w, int x, int y) {
    int sx, sy;
    Window child;
    XTranslateCoordinates(FDpy, w, DefaultRootWindow(FDpy), x, y, &sx, &sy, &child);
    XTestFakeMotionEvent(FDpy, -1, sx, sy, CurrentTime);
    XSync(FDpy, False);
  }
  void Click(Window w, int x, int y) {
    PointerTo(w, x, y);
    XTestFakeButtonEvent(FDpy, 1, True, CurrentTime);
    XTestFakeButtonEvent(FDpy, 1, False, CurrentTime);
    XSync(FDpy, False);
  }

private:
  Window Find(const std::function<bool(Window)>& match) {
    Window root = DefaultRootWindow(FDpy), parent, *kids = nullptr;
    unsigned n = 0;
    Window found = 0;
    if (XQueryTree(FDpy, root, &root, &parent, &kids, &n)) {
      for (unsigned i = n; i-- > 0 && !found;) {  // topmost first
        if (Viewable(kids[i]) && match(kids[i])) found = kids[i];
        // Under a window manager the program's window sits inside a frame.
        else if (Window c = ClientIn(kids[i], 3); c && Viewable(c) && match(c)) found = c;
      }
      if (kids) XFree(kids);
    }
    return found;
  }
  // The window a window manager manages (it carries WM_STATE) inside a frame.
  Window ClientIn(Window w, int depth) {
    Window root, parent, *kids = nullptr, found = 0;
    unsigned n = 0;
    if (depth <= 0 || !XQueryTree(FDpy, w, &root, &parent, &kids, &n)) return 0;
    Atom state = XInternAtom(FDpy, "WM_STATE", False);
    for (unsigned i = 0; i < n && !found; ++i) {
      int count = 0;
      Atom* props = XListProperties(FDpy, kids[i], &count);
      for (int p = 0; p < count && !found; ++p)
        if (props[p] == state) found = kids[i];
      if (props) XFree(props);
      if (!found) found = ClientIn(kids[i], depth - 1);
    }
    if (kids) XFree(kids);
    return found;
  }
  Display* FDpy;
};

// The tip window of a tray icon showing now, 0 when none.
inline Window TipWindow(Screen& screen) { return screen.FindClass("vexa-tip"); }

// A tip shows exactly the text, pixel for pixel as the tray paints tips.
inline bool TipShows(Screen& screen, const std::string& text) {
  Window tip = TipWindow(screen);
  if (!tip || screen.Title(tip) != text) return false;
  int32_t w = 0, h = 0;
  std::vector<uint8_t> px;
  if (!plat::RenderNotifyTip(text, &w, &h, &px)) return false;
  Shot s = screen.Grab(tip);
  if (s.W != w || s.H != h) return false;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = px.data() + (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3;
      if (s.At(x, y) != (uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0])) return false;
    }
  return true;
}

// A notification area of the test's own: owns the tray selection of screen 0,
// shows a strip along the bottom of the screen and embeds every icon that asks
// to dock, side by side, 24 pixels apart.
class TrayHost {
public:
  TrayHost() : FDpy(XOpenDisplay(nullptr)) {
    Window root = DefaultRootWindow(FDpy);
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = 0x404040;
    FWin = XCreateWindow(FDpy, root, 600, 740, 200, 28, 0, CopyFromParent, InputOutput, CopyFromParent,
                         CWOverrideRedirect | CWBackPixel, &a);
    XMapWindow(FDpy, FWin);
    Atom selection = XInternAtom(FDpy, "_NET_SYSTEM_TRAY_S0", False);
    FOpcode = XInternAtom(FDpy, "_NET_SYSTEM_TRAY_OPCODE", False);
    XSetSelectionOwner(FDpy, selection, FWin, CurrentTime);
    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = root;
    ev.xclient.message_type = XInternAtom(FDpy, "MANAGER", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = CurrentTime;
    ev.xclient.data.l[1] = static_cast<long>(selection);
    ev.xclient.data.l[2] = static_cast<long>(FWin);
    XSendEvent(FDpy, root, False, StructureNotifyMask, &ev);
    XSync(FDpy, False);
    FThread = std::thread([this] { Run(); });
  }
  ~TrayHost() {
    FStop = true;
    FThread.join();
    XDestroyWindow(FDpy, FWin);
    XCloseDisplay(FDpy);
  }
  // The icons embedded so far, in the order they docked.
  std::vector<Window> Icons() {
    std::lock_guard<std::mutex> g(FMu);
    return FIcons;
  }

private:
  void Run() {
    while (!FStop) {
      {
        std::lock_guard<std::mutex> g(FMu);
        while (XPending(FDpy)) {
          XEvent ev;
          XNextEvent(FDpy, &ev);
          if (ev.type == ClientMessage && ev.xclient.message_type == FOpcode && ev.xclient.data.l[1] == 0) {
            Window icon = static_cast<Window>(ev.xclient.data.l[2]);
            XResizeWindow(FDpy, icon, 24, 24);
            XReparentWindow(FDpy, icon, FWin, 2 + 26 * static_cast<int>(FIcons.size()), 2);
            XMapWindow(FDpy, icon);
            XSync(FDpy, False);
            FIcons.push_back(icon);
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  Display* FDpy;
  Window FWin;
  Atom FOpcode;
  std::mutex FMu;
  std::vector<Window> FIcons;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// A program copied into a folder of its own (its INI file lies beside it).
inline std::string PrivateCopy(const std::string& root, const std::string& program, const std::string& ini = "") {
  return ProgramCopy(program, root + "/" + program, ini).Path();
}

// Stores the notify server's address and port for a gateway channel.
inline void StoreGatewaySettings(const std::string& channel, int port) {
  const std::string key = "HKEY_LOCAL_MACHINE\\Software\\VEXA Software\\Lumidex\\ClientGateway\\" + channel;
  ChildProcess a(BinPath("vexareg"), {"write", key, "Address", "127.0.0.1"});
  a.Wait(std::chrono::milliseconds(10000));
  ChildProcess p(BinPath("vexareg"), {"write", key, "Port", std::to_string(port)});
  p.Wait(std::chrono::milliseconds(10000));
}

// beaconhub on a free port and relaygate set to reach it, each a private copy
// under root. With a tray host the server's icon is up before the gateway
// starts, so the host lists it first; IconsUp once both icons are.
struct ServerAndGateway {
  ServerAndGateway(const std::string& root, TrayHost* tray)
      : Port(FreeTcpPort()),
        Server(PrivateCopy(root, "beaconhub", "[Server]\nPort=" + std::to_string(Port) + "\n"), {}),
        ServerIconUp(ReadyForGateway(tray, Port)),
        Gateway(PrivateCopy(root, "relaygate"), {}),
        IconsUp(ServerIconUp && (!tray || WaitUntil([&] { return tray->Icons().size() == 2; }))) {}
  static bool ReadyForGateway(TrayHost* tray, int port) {
    const bool up = !tray || WaitUntil([&] { return tray->Icons().size() == 1; });
    StoreGatewaySettings("Default", port);
    return up;
  }
  const int Port;
  ChildProcess Server;
  const bool ServerIconUp;
  ChildProcess Gateway;
  const bool IconsUp;
};

}  // namespace vexa::test
