// labels: gui
// timeout: 180
// The real beaconhub, relaygate and churnmill among other windows, under
// openbox and on a bare display: a click on a tray icon brings the covered
// window to the front (and, under the manager, the minimised one back); the
// settings dialog opens centred on the gateway's window, wide enough for its
// title; each window's size hints, owner, class, process, frame functions and
// type read back from the X server; windows left to their default place do
// not all open in one corner; the status bar's grip sizes the server's window
// within its limits and is gone while the manager shows it maximised; a
// dialog minimised through the manager stays on the screen.
#include <gtest/gtest.h>

#include "tests/gui/ProgramScreen.h"
#include "tests/gui/WindowManager.h"

namespace vexa {
namespace {

using test::Box;
using test::ChildProcess;
using test::RenderText;
using test::Shot;

const plat::COLORREF kBlack = plat::RGB(0, 0, 0);

// The frame functions and decorations a window asks for (_MOTIF_WM_HINTS).
constexpr long kAllFunctions = 2 | 4 | 8 | 16 | 32, kAllDecorations = 2 | 4 | 8 | 16 | 32 | 64;
constexpr long kMoveClose = 4 | 32, kTitleBorderMenu = 2 | 8 | 16;

struct Hints {
  std::string Name, Class;
  long MinW = 0, MinH = 0, MaxW = 0, MaxH = 0;
  Window Owner = 0;
  bool Positioned = false;  // the program asks for a place
  long Functions = 0, Decorations = 0;
  std::string Type;  // the last part of its _NET_WM_WINDOW_TYPE
  long Pid = 0;
  std::string Machine;
  bool operator==(const Hints&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Hints& h) {
  return o << h.Name << "/" << h.Class << " min " << h.MinW << "x" << h.MinH << " max " << h.MaxW
           << "x" << h.MaxH << " owner " << h.Owner << (h.Positioned ? " positioned" : "")
           << " functions " << h.Functions << " decorations " << h.Decorations << " " << h.Type
           << " pid " << h.Pid << " on " << h.Machine;
}

// Up to n 32-bit items of a window property (none when it is missing).
std::vector<long> Property(Display* d, Window w, const char* name, Atom type, long n) {
  Atom actual = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<long> v;
  if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, n, False, type, &actual, &format,
                         &count, &after, &data) == Success &&
      data && format == 32)
    v.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
  if (data) XFree(data);
  return v;
}

// Hints of a window of this machine's process pid, asking for a normal frame
// unless told otherwise.
Hints Expect(const std::string& program, long pid, long minW, long minH, long maxW, long maxH,
             Window owner, bool positioned, long functions = kAllFunctions,
             long decorations = kAllDecorations, const std::string& type = "NORMAL") {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::string cls = program;
  cls[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(cls[0])));
  return Hints{program,    cls,       minW,        minH, maxW, maxH, owner,
               positioned, functions, decorations, type, pid,  host};
}

Hints Read(Display* d, Window w) {
  Hints h;
  if (auto m = Property(d, w, "_MOTIF_WM_HINTS", AnyPropertyType, 5); m.size() == 5 && m[0] == 3)
    h.Functions = m[1], h.Decorations = m[2];
  if (auto t = Property(d, w, "_NET_WM_WINDOW_TYPE", XA_ATOM, 1); t.size() == 1) {
    char* n = XGetAtomName(d, static_cast<Atom>(t[0]));
    h.Type = std::string(n).substr(std::string(n).rfind('_') + 1);
    XFree(n);
  }
  if (auto p = Property(d, w, "_NET_WM_PID", XA_CARDINAL, 1); p.size() == 1) h.Pid = p[0];
  XTextProperty machine{};
  if (XGetWMClientMachine(d, w, &machine) && machine.value) {
    h.Machine = reinterpret_cast<char*>(machine.value);
    XFree(machine.value);
  }
  XClassHint c{};
  if (XGetClassHint(d, w, &c)) {
    h.Name = c.res_name;
    h.Class = c.res_class;
    XFree(c.res_name);
    XFree(c.res_class);
  }
  XSizeHints s{};
  long supplied = 0;
  if (XGetWMNormalHints(d, w, &s, &supplied)) {
    if (s.flags & PMinSize) h.MinW = s.min_width, h.MinH = s.min_height;
    if (s.flags & PMaxSize) h.MaxW = s.max_width, h.MaxH = s.max_height;
    h.Positioned = (s.flags & (PPosition | USPosition)) != 0;
  }
  XGetTransientForHint(d, w, &h.Owner);
  return h;
}

// Opens a menu of a program's window and chooses an item, by their texts.
bool Choose(test::Screen& screen, Window win, const std::string& menu, const std::string& item,
            const std::string& cls) {
  const auto title = RenderText(menu, plat::GetSysColor(plat::COLOR_BTNFACE), kBlack, test::ControlFont());
  std::optional<std::pair<int, int>> at;
  screen.WaitForShot(win, [&](const Shot& s) { return (at = test::FindText(s, Box{0, 0, 200, 24}, title)).has_value(); });
  if (!at) return false;
  screen.Click(win, at->first + title.W / 2, at->second + title.H / 2);
  Window popup = 0;
  if (!test::WaitUntil([&] { return (popup = screen.FindClass(cls)) != 0 && popup != win; })) return false;
  const auto entry = RenderText(item, plat::GetSysColor(plat::COLOR_MENU), kBlack, test::ControlFont());
  screen.WaitForShot(popup, [&](const Shot& s) { return (at = test::FindText(s, Box{0, 0, 300, 120}, entry)).has_value(); });
  if (!at) return false;
  screen.Click(popup, at->first + entry.W / 2, at->second + entry.H / 2);
  return true;
}

// How wide a title shows in the manager's title bar over a window: the
// columns of the bar's middle (past its icon, short of its buttons) where
// some pixel differs from the bar's own shading of that row.
int TitleSpan(test::Screen& screen, Window client) {
  Display* d = screen.Dpy();
  Window frame = client, root = 0, parent = 0, *kids = nullptr;
  unsigned n = 0;
  while (XQueryTree(d, frame, &root, &parent, &kids, &n) && parent != root) {
    if (kids) XFree(kids);
    frame = parent;
  }
  if (kids) XFree(kids);
  int bar = 0, x = 0;
  Window child;
  XTranslateCoordinates(d, client, frame, 0, 0, &x, &bar, &child);
  const Shot s = screen.Grab(frame);
  int left = s.W, right = -1;
  for (int col = 24; col < s.W - 60; ++col)
    for (int row = 3; row < bar - 3; ++row)
      if (s.At(col, row) != s.At(24, row)) left = std::min(left, col), right = std::max(right, col);
  return right - left + 1;
}

// A window of the test's own, wide enough for any title bar to show the whole title.
struct TitledWindow {
  TitledWindow(test::Screen& screen, const std::string& title) : D(screen.Dpy()) {
    W = XCreateSimpleWindow(D, DefaultRootWindow(D), 0, 0, 700, 60, 0, 0, 0xC0C0C0);
    XStoreName(D, W, title.c_str());
    XMapWindow(D, W);
    XSync(D, False);
    test::WaitUntil([&] { return screen.Viewable(W) && TitleSpan(screen, W) > 0; });
  }
  ~TitledWindow() { XDestroyWindow(D, W); }
  Display* D;
  Window W;
};

// The status bar's size grip in a window's bottom-right corner: the first of
// its white diagonal lines.
bool GripShown(const Shot& s) {
  for (int t = 0; t < 12; ++t)
    if (s.At(s.W - 3 - t, s.H - 14 + t) != 0xFFFFFF) return false;
  return true;
}

// Drags a window's size grip by (dx, dy) with the left button, as a user
// does: the pointer keeps moving at the end until the window has taken the
// size it expects, then the button goes up. The size the window settles at.
std::pair<int, int> DragGrip(test::Screen& screen, Window w, int dx, int dy, int wantW, int wantH) {
  Box b = screen.Geometry(w);
  const int x = b.Right - b.Left - 7, y = b.Bottom - b.Top - 7;
  Display* d = screen.Dpy();
  // A manager holds the pointer while it sizes a window: the next press waits until it let it go.
  const auto pointerFree = [d] {
    return test::WaitUntil([d] {
      const bool free = XGrabPointer(d, DefaultRootWindow(d), False, 0, GrabModeAsync,
                                     GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
      if (free) XUngrabPointer(d, CurrentTime);
      return free;
    });
  };
  pointerFree();
  screen.PointerTo(w, x, y);
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  test::WaitUntil([&] {
    screen.PointerTo(w, x + dx - 1, y + dy);
    screen.PointerTo(w, x + dx, y + dy);
    b = screen.Geometry(w);
    return b.Right - b.Left == wantW && b.Bottom - b.Top == wantH;
  });
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  XSync(d, False);
  pointerFree();
  // The window may still follow moves made before the release.
  test::WaitUntil([&] {
    b = screen.Geometry(w);
    return b.Right - b.Left == wantW && b.Bottom - b.Top == wantH;
  });
  return {b.Right - b.Left, b.Bottom - b.Top};
}

// Asks the manager to maximise a window or to give it its size back, as its
// title bar's button does.
void Maximize(Display* d, Window w, bool on) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = on ? 1 : 0;
  ev.xclient.data.l[1] = static_cast<long>(XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_VERT", False));
  ev.xclient.data.l[2] = static_cast<long>(XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_HORZ", False));
  ev.xclient.data.l[3] = 1;
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask,
             &ev);
  XSync(d, False);
}

// Minimises a window through the manager and waits until it has gone from
// the screen and come back; false when it stays away.
bool ComesBackFromMinimising(test::Screen& screen, Window w) {
  Display* d = screen.Dpy();
  XSelectInput(d, w, StructureNotifyMask);
  XIconifyWindow(d, w, DefaultScreen(d));
  XSync(d, False);
  XEvent ev;
  const bool gone = test::WaitUntil([&] { return XCheckTypedWindowEvent(d, w, UnmapNotify, &ev); });
  XSelectInput(d, w, NoEventMask);
  return gone && test::WaitUntil([&] { return screen.Viewable(w); });
}

void WindowsAmongOthers(bool managed) {
  test::TestSession session;
  test::WmDesktop desktop(managed);
  ASSERT_TRUE(desktop.Ready());
  test::Screen screen;
  Display* d = screen.Dpy();
  test::TrayHost tray;
  test::ServerAndGateway chain(session.Root(), &tray);
  ASSERT_TRUE(chain.IconsUp);
  ChildProcess mill(test::BinPath("churnmill"), {});
  const Window serverIcon = tray.Icons()[0], gatewayIcon = tray.Icons()[1];
  Window serverWin = 0, gatewayWin = 0, millWin = 0;
  ASSERT_NE(millWin = screen.WaitForTop("VEXA Churnmill"), 0u);
  screen.Click(gatewayIcon, 12, 12);
  ASSERT_NE(gatewayWin = screen.WaitForTop("VEXA Notify Client Gateway"), 0u);
  screen.Click(serverIcon, 12, 12);
  ASSERT_NE(serverWin = screen.WaitForTop("VEXA Notify Server"), 0u);

  {
    SCOPED_TRACE("each window's class, size limits and owner as the X server holds them");
    // The gateway and churnmill take the default place: the manager chooses
    // it; on a bare display they step down a cascade, not both into a corner.
    // The gateway's frame offers neither minimising nor maximising.
    EXPECT_EQ(Read(d, serverWin), Expect("beaconhub", chain.Server.Pid(), 382, 189, 0, 0, 0, true));
    EXPECT_EQ(Read(d, gatewayWin), Expect("relaygate", chain.Gateway.Pid(), 0, 0, 0, 0, 0, false,
                                          2 | kMoveClose, 4 | kTitleBorderMenu));
    EXPECT_EQ(Read(d, millWin), Expect("churnmill", mill.Pid(), 454, 120, 0, 0, 0, false));
    const Box g = screen.Geometry(gatewayWin), m = screen.Geometry(millWin);
    EXPECT_TRUE(g.Left != m.Left || g.Top != m.Top) << g.Left << "," << g.Top;
    if (!managed) {
      EXPECT_TRUE(g.Left > 0 && g.Top > 0 && m.Left > 0 && m.Top > 0) << g.Left << "," << m.Left;
    }
  }
  {
    SCOPED_TRACE("a tray click brings the covered gateway window in front of the server's");
    // The user clicks the server's window (its status bar): it comes up.
    const Box s = screen.Geometry(serverWin);
    if (managed) screen.Click(serverWin, 100, s.Bottom - s.Top - 5);
    else XRaiseWindow(d, serverWin);
    ASSERT_TRUE(test::WaitUntil([&] { return test::StackIndex(d, serverWin) > test::StackIndex(d, gatewayWin); }));
    screen.Click(gatewayIcon, 12, 12);
    EXPECT_TRUE(test::WaitUntil([&] { return test::StackIndex(d, gatewayWin) > test::StackIndex(d, serverWin); }));
    if (managed) {
      EXPECT_TRUE(test::WaitUntil([&] { return test::ActiveWindow(d) == gatewayWin; }));
    }
  }
  if (managed) {
    SCOPED_TRACE("minimised by the user, the server window comes back with a tray click");
    XIconifyWindow(d, serverWin, DefaultScreen(d));
    XFlush(d);
    ASSERT_TRUE(test::WaitUntil([&] { return !screen.Viewable(serverWin); }));
    screen.Click(serverIcon, 12, 12);
    EXPECT_TRUE(test::WaitUntil([&] {
      return screen.Viewable(serverWin) && test::ActiveWindow(d) == serverWin &&
             test::StackIndex(d, serverWin) > test::StackIndex(d, gatewayWin);
    }));
  }
  screen.Move(serverWin, 20, 400);  // out of the gateway window's way
  {
    SCOPED_TRACE("moved, closed to the tray and shown again, the gateway window keeps its place");
    screen.Move(gatewayWin, 300, 200);
    ASSERT_TRUE(test::WaitUntil([&] { return screen.Geometry(gatewayWin).Left == 300; }));
    const Box before = screen.Geometry(gatewayWin);
    ASSERT_TRUE(Choose(screen, gatewayWin, "&File", "&Close", "Relaygate"));
    ASSERT_TRUE(test::WaitUntil([&] { return !screen.Viewable(gatewayWin); }));
    screen.Click(gatewayIcon, 12, 12);
    ASSERT_TRUE(test::WaitUntil([&] { return screen.Viewable(gatewayWin); }));
    const Box after = screen.Geometry(gatewayWin);
    EXPECT_EQ(std::make_pair(after.Left, after.Top), std::make_pair(before.Left, before.Top));
  }
  {
    SCOPED_TRACE("the settings dialog: centred on the gateway window, fixed in size, the gateway's own");
    ASSERT_TRUE(Choose(screen, gatewayWin, "&View", "&Provider Settings", "Relaygate"));
    Window dialog = 0;
    ASSERT_NE(dialog = screen.WaitForTop("VEXA Client Gateway Settings"), 0u);
    const Box g = screen.Geometry(gatewayWin), b = screen.Geometry(dialog);
    EXPECT_LE(std::abs((g.Left + g.Right) - (b.Left + b.Right)), 1) << g.Left << " " << b.Left;
    EXPECT_LE(std::abs((g.Top + g.Bottom) - (b.Top + b.Bottom)), 1) << g.Top << " " << b.Top;
    const long w = b.Right - b.Left, h = b.Bottom - b.Top;
    EXPECT_EQ(Read(d, dialog), Expect("relaygate", chain.Gateway.Pid(), w, h, w, h, gatewayWin,
                                      true, kMoveClose, kTitleBorderMenu, "DIALOG"));
    if (managed) {
      // Its title bar, with the window's icon and three buttons, has room for
      // the whole title (a cut one loses a word's width to "..."; an active
      // title may draw a pixel or two wider than an inactive one).
      const TitledWindow whole(screen, "VEXA Client Gateway Settings");
      int cut = 0, full = 0;  // (read again while the manager redraws the two bars)
      const bool room = test::WaitUntil([&] {
        return (cut = TitleSpan(screen, dialog)) >= (full = TitleSpan(screen, whole.W)) - 6;
      });
      EXPECT_TRUE(room) << cut << " of " << full;
    }
    test::XInput().SendDelete(dialog);  // the close button: Cancel
    ASSERT_TRUE(test::WaitUntil([&] { return screen.FindTop("VEXA Client Gateway Settings") == 0; }));
  }
  {
    SCOPED_TRACE("the shutdown question belongs to the gateway window and has a fixed size");
    ASSERT_TRUE(Choose(screen, gatewayWin, "&File", "&Shutdown Client Gateway", "Relaygate"));
    Window box = 0;
    ASSERT_NE(box = screen.WaitForTop("Warning"), 0u);
    const Box b = screen.Geometry(box);
    const long w = b.Right - b.Left, h = b.Bottom - b.Top;
    EXPECT_EQ(Read(d, box), Expect("relaygate", chain.Gateway.Pid(), w, h, w, h, gatewayWin, true,
                                   kMoveClose, kTitleBorderMenu, "DIALOG"));
    if (managed) {
      // Minimising the question would take the gateway's window with it, and
      // neither offers it: both stay.
      EXPECT_TRUE(ComesBackFromMinimising(screen, box));
      EXPECT_TRUE(
          test::WaitUntil([&] { return screen.Viewable(box) && screen.Viewable(gatewayWin); }));
    }
    test::XInput().SendDelete(box);  // Cancel: the gateway goes on
    ASSERT_TRUE(test::WaitUntil([&] { return screen.FindTop("Warning") == 0; }));
  }
  {
    SCOPED_TRACE(
        "the server's size grip: it sizes the window, never below the window's least size");
    ASSERT_TRUE(screen.WaitForShot(serverWin, GripShown));
    EXPECT_EQ(DragGrip(screen, serverWin, 100, 50, 482, 287), std::make_pair(482, 287));
    EXPECT_EQ(DragGrip(screen, serverWin, -300, -200, 382, 189), std::make_pair(382, 189));
  }
  if (managed) {
    SCOPED_TRACE(
        "maximised, the server window shows no size grip; given its size back, it shows it again");
    // Once its status bar is drawn along the new bottom edge.
    const auto waiting =
        RenderText(" Database DLL:  Waiting...", plat::GetSysColor(plat::COLOR_BTNFACE), kBlack);
    Maximize(d, serverWin, true);
    EXPECT_TRUE(screen.WaitForShot(serverWin, [&](const Shot& s) {
      return s.W > 900 && test::RegionShowsExactly(s, Box{0, s.H - 19, 181, s.H}, waiting) &&
             !GripShown(s);
    }));
    Maximize(d, serverWin, false);
    EXPECT_TRUE(
        screen.WaitForShot(serverWin, [](const Shot& s) { return s.W == 382 && GripShown(s); }));
  }
}

TEST(WindowManagerScreen, UnderOpenbox) { WindowsAmongOthers(true); }
TEST(WindowManagerScreen, OnABareDisplay) { WindowsAmongOthers(false); }

}  // namespace
}  // namespace vexa
