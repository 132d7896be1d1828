// labels: gui
// timeout: 180
// The real relaygate and churnmill on an X server of their own, driven by real
// keys and pointer moves and read back from the screen, on a bare display and
// under openbox: the gateway's menus open with Alt + the underlined letter and
// F10, move with the arrows, choose with Enter or an item's underlined letter,
// close with Escape and follow the pointer from title to title; the shutdown
// question answers to Y and N; the gateway has the keyboard back, and keeps
// it, when its dialog or question closes; the shutdown question keeps its
// first line whole; Up, Down, Page Up and Page Down step the settings
// dialog's port and churnmill's rate as the arrows beside them do, and those
// arrows are even triangles, as are the arrow buttons of churnmill's log; the
// tray tip stays clear of its icon and goes when the icon is clicked.
#include <gtest/gtest.h>

#include <set>

#include "tests/gui/ProgramScreen.h"
#include "tests/gui/WindowManager.h"
#include "tests/gui/XvfbServer.h"

namespace vexa {
namespace {

using test::Box;
using test::ChildProcess;
using test::Shot;

const plat::COLORREF kFace = plat::GetSysColor(plat::COLOR_BTNFACE);
const plat::COLORREF kBlack = plat::RGB(0, 0, 0);

// A menu item's caption as an open menu shows it when it is not marked.
test::TextPatch MenuText(const std::string& caption) {
  return test::RenderText(caption, plat::GetSysColor(plat::COLOR_MENU), plat::GetSysColor(plat::COLOR_MENUTEXT),
                          test::ControlFont());
}

// The open drop-down menu that shows the caption unmarked (0 when none): an
// untitled window that no window manager handles.
Window MenuShowing(test::Screen& screen, const test::TextPatch& caption) {
  Display* d = screen.Dpy();
  Window root = DefaultRootWindow(d), parent, *kids = nullptr, found = 0;
  unsigned n = 0;
  if (!XQueryTree(d, root, &root, &parent, &kids, &n)) return 0;
  for (unsigned i = 0; i < n && !found; ++i) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(d, kids[i], &a) || !a.override_redirect || a.map_state != IsViewable) continue;
    if (!screen.Title(kids[i]).empty() || a.width > 400) continue;
    Shot s = screen.Grab(kids[i]);
    if (s.W > 0 && test::FindText(s, Box{0, 0, s.W, s.H}, caption)) found = kids[i];
  }
  if (kids) XFree(kids);
  return found;
}

// An arrow glyph: rows of 1, 3, 5 and 7 pixels from its tip at (x, tipY),
// centred on column x, pointing up or down.
void AddArrow(std::set<std::pair<int, int>>& px, int x, int tipY, bool up) {
  for (int i = 0; i < 4; ++i)
    for (int dx = -i; dx <= i; ++dx) px.emplace(x + dx, up ? tipY + i : tipY - i);
}

// The pixels of one colour in a region are exactly the given ones.
bool ExactlyInColour(const Shot& s, Box r, uint32_t colour, const std::set<std::pair<int, int>>& want) {
  std::set<std::pair<int, int>> got;
  for (int y = r.Top; y < r.Bottom && y < s.H; ++y)
    for (int x = r.Left; x < r.Right && x < s.W; ++x)
      if (s.At(x, y) == colour) got.emplace(x, y);
  return got == want;
}

// A 15 x 21 up/down control at (x, y): its two arrows, black, centred in
// their halves, and nothing else black.
bool EvenArrows(const Shot& s, int x, int y) {
  std::set<std::pair<int, int>> want;
  AddArrow(want, x + 7, y + 3, true);
  AddArrow(want, x + 7, y + 16, false);
  return ExactlyInColour(s, Box{x, y, x + 15, y + 21}, 0, want);
}

void GatewayMenusByKeyAndPointer(bool managed) {
  test::TestSession session;
  test::WmDesktop desktop(managed);
  ASSERT_TRUE(desktop.Ready());
  test::Screen screen;
  test::XInput input;
  test::TrayHost tray;
  const int port = test::FreeTcpPort();
  test::StoreGatewaySettings("Default", port);
  // It tries the server once, then not for an hour: its log stays as it is.
  ChildProcess gateway(
      test::PrivateCopy(session.Root(), "relaygate", "[Connection Polling]\nInterval=3600\n"), {});
  ASSERT_TRUE(test::WaitUntil([&] { return tray.Icons().size() == 1; }));
  const Window icon = tray.Icons()[0];

  {
    SCOPED_TRACE("the tip shows beside its icon, above it at the bottom of the screen, never over it");
    screen.PointerTo(icon, 10, 10);
    Window tip = 0;
    ASSERT_TRUE(test::WaitUntil([&] { return (tip = test::TipWindow(screen)) != 0; }));
    const Box t = screen.Geometry(tip), i = screen.Geometry(icon);
    EXPECT_LE(t.Bottom, i.Top) << "the tip covers " << t.Bottom - i.Top << " rows of the icon";
    EXPECT_GE(t.Bottom, i.Top - 4);
  }
  screen.Click(icon, 12, 12);
  screen.PointerTo(icon, 200, -300);  // the tip, titled like the window, goes
  ASSERT_TRUE(test::WaitUntil([&] { return test::TipWindow(screen) == 0; }));
  Window win = 0;
  ASSERT_NE(win = screen.WaitForTop("VEXA Notify Client Gateway"), 0u);
  // The window the tray click brought forward holds the keyboard, and has it
  // back (to keep) whenever a dialog of its own closes.
  test::KeyboardWatch keyboard(screen.Dpy(), win, managed);
  ASSERT_TRUE(test::WaitUntil([&] { return screen.Focused() == win; }));
  const auto dialogShown = [&](const std::string& title) {
    const Window w = screen.WaitForTop(title);
    if (w) keyboard.HandedTo(w);
    return w;
  };

  const auto closeItem = MenuText("&Close"), shutdownItem = MenuText("&Shutdown Client Gateway");
  const auto clearItem = MenuText("&Clear Log"), settingsItem = MenuText("&Provider Settings");
  auto showing = [&](const test::TextPatch& t) { return test::WaitUntil([&] { return MenuShowing(screen, t) != 0; }); };
  auto noMenu = [&] {
    return test::WaitUntil([&] { return !MenuShowing(screen, closeItem) && !MenuShowing(screen, shutdownItem) &&
                                      !MenuShowing(screen, clearItem) && !MenuShowing(screen, settingsItem); });
  };
  {
    SCOPED_TRACE("Alt+F opens File with its first item marked; Down skips the separator; Right and Left move between menus");
    input.Chord(XK_Alt_L, XK_f);
    EXPECT_TRUE(showing(shutdownItem));
    EXPECT_FALSE(MenuShowing(screen, closeItem)) << "\"Close\" is not marked";
    input.Key(XK_Down);
    EXPECT_TRUE(showing(closeItem));
    EXPECT_FALSE(MenuShowing(screen, shutdownItem)) << "\"Shutdown\" is not marked";
    input.Key(XK_Right);
    EXPECT_TRUE(showing(settingsItem));
    input.Key(XK_Left);
    EXPECT_TRUE(showing(shutdownItem));
    input.Key(XK_Escape);
    EXPECT_TRUE(noMenu());
  }
  {
    SCOPED_TRACE("F10 opens the first menu");
    input.Key(XK_F10);
    EXPECT_TRUE(showing(shutdownItem));
    input.Key(XK_Escape);
    EXPECT_TRUE(noMenu());
  }
  {
    SCOPED_TRACE("a click opens File; the pointer moving onto View opens View");
    std::optional<std::pair<int, int>> file, view;
    ASSERT_TRUE(screen.WaitForShot(win, [&](const Shot& s) {
      file = test::FindText(s, Box{0, 0, 200, 30}, MenuText("&File"));
      view = test::FindText(s, Box{0, 0, 200, 30}, MenuText("&View"));
      return file && view;
    }));
    screen.Click(win, file->first + 8, file->second + 8);
    EXPECT_TRUE(showing(shutdownItem) && showing(closeItem));
    screen.PointerTo(win, view->first + 8, view->second + 8);
    EXPECT_TRUE(showing(settingsItem) && showing(clearItem));
    EXPECT_FALSE(MenuShowing(screen, shutdownItem));
    input.Key(XK_Escape);
    EXPECT_TRUE(noMenu());
  }
  {
    SCOPED_TRACE("Enter chooses: the settings dialog, its port arrows even");
    input.Chord(XK_Alt_L, XK_v);
    EXPECT_TRUE(showing(settingsItem));
    input.Key(XK_Down);
    input.Key(XK_Return);
    Window dialog = 0;
    ASSERT_NE(dialog = dialogShown("VEXA Client Gateway Settings"), 0u);
    // The dialog widened for its caption keeps its controls centred.
    EXPECT_TRUE(screen.WaitForShot(
        dialog, [&](const Shot& s) { return EvenArrows(s, 157 + (s.W - 248) / 2, 54); }));
    input.Key(XK_Escape);
    EXPECT_TRUE(test::WaitUntil([&] { return screen.FindTop("VEXA Client Gateway Settings") == 0; }));
    EXPECT_TRUE(keyboard.Back());
  }
  {
    SCOPED_TRACE("Alt+V then P: the settings dialog; Up, Page Up and Down step its port");
    input.Chord(XK_Alt_L, XK_v);
    EXPECT_TRUE(showing(settingsItem));
    input.Key(XK_p);
    Window dialog = 0;
    ASSERT_NE(dialog = dialogShown("VEXA Client Gateway Settings"), 0u);
    const auto portShows = [&](int value) {
      return screen.WaitForShot(dialog, [&](const Shot& s) {
        const int left = 100 + (s.W - 248) / 2;
        return test::EditShows(s, Box{left, 54, left + 57, 75}, std::to_string(value));
      });
    };
    input.Key(XK_Tab);  // from the address to the port
    input.Key(XK_Up);
    EXPECT_TRUE(portShows(port + 1));
    input.Key(XK_Prior);
    EXPECT_TRUE(portShows(std::min(port + 11, 65535)));
    input.Key(XK_Down);
    EXPECT_TRUE(portShows(std::min(port + 11, 65535) - 1));
    input.Key(XK_Escape);
    EXPECT_TRUE(
        test::WaitUntil([&] { return screen.FindTop("VEXA Client Gateway Settings") == 0; }));
    EXPECT_TRUE(keyboard.Back());
  }
  {
    SCOPED_TRACE("Alt+V then C clears the log");
    const auto logInk = [&](const Shot& s) {
      return test::InkOf(s, Box{0, 26, s.W, s.H - 22}).size();
    };
    ASSERT_TRUE(screen.WaitForShot(win, [&](const Shot& s) { return logInk(s) > 0; }));
    input.Chord(XK_Alt_L, XK_v);
    EXPECT_TRUE(showing(settingsItem));
    input.Key(XK_c);
    EXPECT_TRUE(screen.WaitForShot(win, [&](const Shot& s) { return logInk(s) == 0; }));
  }
  {
    SCOPED_TRACE("the shutdown question: its first line whole, \"workstation.\" not alone");
    input.Chord(XK_Alt_L, XK_f);
    EXPECT_TRUE(showing(shutdownItem));
    input.Key(XK_Up);  // from the first item round to the last
    EXPECT_TRUE(showing(closeItem));
    input.Key(XK_Return);
    Window box = 0;
    ASSERT_NE(box = dialogShown("Warning"), 0u);
    const auto line1 = test::RenderText("Closing VEXA Client Gateway will stop real time updates on this workstation.",
                                        kFace, kBlack, test::ControlFont());
    const auto line2 = test::RenderText("Are you sure you want to exit?", kFace, kBlack, test::ControlFont());
    std::optional<std::pair<int, int>> at1, at2;
    EXPECT_TRUE(screen.WaitForShot(box, [&](const Shot& s) {
      at1 = test::FindText(s, Box{0, 0, s.W, s.H}, line1);
      at2 = test::FindText(s, Box{0, 0, s.W, s.H}, line2);
      return at1 && at2 && at2->second > at1->second && at2->second - at1->second < line1.H;
    }));
    input.Key(XK_Escape);  // Cancel: the gateway goes on
    EXPECT_TRUE(test::WaitUntil([&] { return screen.FindTop("Warning") == 0; }));
    EXPECT_TRUE(gateway.Running());
    EXPECT_TRUE(keyboard.Back());
  }
  {
    SCOPED_TRACE("Alt+F then S asks the shutdown question; N answers No, Y ends the gateway");
    input.Chord(XK_Alt_L, XK_f);
    EXPECT_TRUE(showing(shutdownItem));
    input.Key(XK_s);
    ASSERT_NE(dialogShown("Warning"), 0u);
    input.Key(XK_n);
    EXPECT_TRUE(test::WaitUntil([&] { return screen.FindTop("Warning") == 0; }));
    EXPECT_TRUE(gateway.Running());
    EXPECT_TRUE(keyboard.Back());
    input.Chord(XK_Alt_L, XK_f);
    EXPECT_TRUE(showing(shutdownItem));
    input.Key(XK_s);
    ASSERT_NE(dialogShown("Warning"), 0u);
    input.Key(XK_y);
    EXPECT_EQ(gateway.Wait(std::chrono::seconds(20)), 0);
  }
}

TEST(MenuKeysScreen, GatewayMenusByKeyAndPointerItsQuestionDialogArrowsAndTipOnABareDisplay) {
  GatewayMenusByKeyAndPointer(false);
}

TEST(MenuKeysScreen, GatewayMenusByKeyAndPointerItsQuestionDialogArrowsAndTipUnderAWindowManager) {
  GatewayMenusByKeyAndPointer(true);
}

TEST(MenuKeysScreen, ChurnmillRateByKeysItsArrowsAndLogScrollButtonsAreEven) {
  test::TestSession session;
  test::WmDesktop desktop;
  ASSERT_TRUE(desktop.Ready());
  test::Screen screen;
  test::XInput input;
  ChildProcess mill(test::BinPath("churnmill"), {});
  Window win = 0;
  ASSERT_NE(win = screen.WaitForTop("VEXA Churnmill"), 0u);
  EXPECT_TRUE(screen.WaitForShot(win, [&](const Shot& s) { return EvenArrows(s, 427, 9); }));
  {
    SCOPED_TRACE("Tab reaches the rate; Up, Down, Page Up and Page Down step it within 1 to 100");
    ASSERT_TRUE(test::WaitUntil([&] { return screen.Focused() == win; }));
    const auto rateShows = [&](const std::string& value) {
      return screen.WaitForShot(win, [&](const Shot& s) {
        return test::EditShows(s, Box{394, 9, 427, 30}, value);
      });
    };
    EXPECT_TRUE(rateShows("1"));
    input.Key(XK_Tab);  // from "Start Shaking" to the rate
    input.Key(XK_Up);
    input.Key(XK_Up);
    EXPECT_TRUE(rateShows("3"));
    input.Key(XK_Prior);
    EXPECT_TRUE(rateShows("13"));
    input.Key(XK_Down);
    EXPECT_TRUE(rateShows("12"));
    input.Key(XK_Next);
    input.Key(XK_Next);
    EXPECT_TRUE(rateShows("1"));
    for (int i = 0; i < 11; ++i) input.Key(XK_Prior);
    EXPECT_TRUE(rateShows("100"));
  }
  // The log's scroll bar, inside the memo's 2-pixel edge from y 64 down: a
  // 16 x 16 arrow button at each end, its arrow greyed while the empty log
  // cannot scroll (inside the buttons' own 2-pixel edges).
  const uint32_t grey = test::Rgb(plat::GetSysColor(plat::COLOR_GRAYTEXT));
  EXPECT_TRUE(screen.WaitForShot(win, [&](const Shot& s) {
    const int right = s.W - 2, top = 64 + 2, bottom = s.H - 2;
    std::set<std::pair<int, int>> up, down;
    AddArrow(up, right - 8, top + 6, true);
    AddArrow(down, right - 8, bottom - 7, false);
    return ExactlyInColour(s, Box{right - 14, top + 2, right - 2, top + 14}, grey, up) &&
           ExactlyInColour(s, Box{right - 14, bottom - 14, right - 2, bottom - 2}, grey, down);
  }));
}

}  // namespace
}  // namespace vexa
