// labels: gui
// timeout: 180
// The real beaconhub, relaygate and churnmill among other windows, under
// openbox and on a bare display: a click on a tray icon brings the covered
// window to the front (and, under the manager, the minimised one back); the
// settings dialog opens centred on the gateway's window; each window's size
// hints, owner and class read back from the X server; windows left to their
// default place do not all open in one corner.
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

struct Hints {
  std::string Name, Class;
  long MinW = 0, MinH = 0, MaxW = 0, MaxH = 0;
  Window Owner = 0;
  bool Positioned = false;  // the program asks for a place
  bool operator==(const Hints&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Hints& h) {
  return o << h.Name << "/" << h.Class << " min " << h.MinW << "x" << h.MinH << " max " << h.MaxW << "x" << h.MaxH
           << " owner " << h.Owner << (h.Positioned ? " positioned" : "");
}

Hints Read(Display* d, Window w) {
  Hints h;
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
    EXPECT_EQ(Read(d, serverWin), (Hints{"beaconhub", "Beaconhub", 382, 189, 0, 0, 0, true}));
    EXPECT_EQ(Read(d, gatewayWin), (Hints{"relaygate", "Relaygate", 0, 0, 0, 0, 0, false}));
    EXPECT_EQ(Read(d, millWin), (Hints{"churnmill", "Churnmill", 454, 120, 0, 0, 0, false}));
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
    SCOPED_TRACE("minimised by the user, the gateway window comes back with a tray click");
    XIconifyWindow(d, gatewayWin, DefaultScreen(d));
    XFlush(d);
    ASSERT_TRUE(test::WaitUntil([&] { return !screen.Viewable(gatewayWin); }));
    screen.Click(gatewayIcon, 12, 12);
    EXPECT_TRUE(test::WaitUntil([&] {
      return screen.Viewable(gatewayWin) && test::ActiveWindow(d) == gatewayWin &&
             test::StackIndex(d, gatewayWin) > test::StackIndex(d, serverWin);
    }));
  }
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
    EXPECT_EQ(Read(d, dialog), (Hints{"relaygate", "Relaygate", w, h, w, h, gatewayWin, true}));
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
    EXPECT_EQ(Read(d, box), (Hints{"relaygate", "Relaygate", w, h, w, h, gatewayWin, true}));
    test::XInput().SendDelete(box);  // Cancel: the gateway goes on
    ASSERT_TRUE(test::WaitUntil([&] { return screen.FindTop("Warning") == 0; }));
  }
}

TEST(WindowManagerScreen, UnderOpenbox) { WindowsAmongOthers(true); }
TEST(WindowManagerScreen, OnABareDisplay) { WindowsAmongOthers(false); }

}  // namespace
}  // namespace vexa
