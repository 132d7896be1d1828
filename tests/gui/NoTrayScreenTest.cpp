// labels: gui
// timeout: 120
// The real beaconhub and relaygate on an X server with neither a tray host nor
// a window manager, read from the screen: File > Close leaves a live window
// (it repaints and takes clicks), and an open drop-down menu closes when the
// user presses on another program's window. One run of the programs serves
// every step.
#include <gtest/gtest.h>

#include "tests/gui/ProgramScreen.h"
#include "tests/gui/XvfbServer.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::Box;
using test::ChildProcess;
using test::RenderText;
using test::Shot;

const plat::COLORREF kFace = plat::GetSysColor(plat::COLOR_BTNFACE);
const plat::COLORREF kBlack = plat::RGB(0, 0, 0);

// The centre of a text found on a window, in the window's coordinates.
std::optional<std::pair<int, int>> Where(test::Screen& screen, Window w, const test::TextPatch& t, Box in) {
  std::optional<std::pair<int, int>> at;
  screen.WaitForShot(w, [&](const Shot& s) {
    at = test::FindText(s, in, t);
    return at.has_value();
  });
  if (at) at = std::make_pair(at->first + t.W / 2, at->second + t.H / 2);
  return at;
}

TEST(NoTrayScreen, CloseLeavesALiveWindowAndMenusCloseOnAnotherProgram) {
  test::TestSession session;
  test::XvfbServer xvfb;
  ASSERT_TRUE(xvfb.Running());
  test::Screen screen;
  test::ServerAndGateway chain(session.Root(), nullptr);
  const int port = chain.Port;
  // Without a tray host the windows stay on the screen from the start.
  Window serverWin = 0, gatewayWin = 0;
  ASSERT_NE(serverWin = screen.WaitForTop("VEXA Notify Server"), 0u);
  ASSERT_NE(gatewayWin = screen.WaitForTop("VEXA Notify Client Gateway"), 0u);
  screen.Move(serverWin, 0, 0);
  screen.Move(gatewayWin, 0, 400);

  const auto file = RenderText("&File", kFace, kBlack, test::ControlFont());
  const auto close = RenderText("&Close", plat::GetSysColor(plat::COLOR_MENU), kBlack, test::ControlFont());
  auto fileAt = Where(screen, serverWin, file, Box{0, 0, 80, 24});
  ASSERT_TRUE(fileAt);

  {
    SCOPED_TRACE("File > Close: the window stays, repaints and a tab click still switches pages");
    screen.Click(serverWin, fileAt->first, fileAt->second);
    Window menu = 0;
    ASSERT_TRUE(test::WaitUntil([&] {
      return (menu = screen.FindOther({serverWin, gatewayWin})) != 0;
    }));
    auto closeAt = Where(screen, menu, close, Box{0, 0, 200, 30});
    ASSERT_TRUE(closeAt);
    screen.Click(menu, closeAt->first, closeAt->second);
    EXPECT_TRUE(test::WaitUntil([&] { return !screen.Viewable(menu); }));
    EXPECT_TRUE(screen.Viewable(serverWin));
    const auto eventLog = RenderText("Event Log", kFace, kBlack, test::ControlFont());
    auto tabAt = Where(screen, serverWin, eventLog, Box{0, 20, 380, 50});
    ASSERT_TRUE(tabAt);
    screen.Click(serverWin, tabAt->first, tabAt->second);
    // The log page is painted: its first line shows where the tables page was.
    const auto listening = RenderText("Listening for clients on adapter 0.0.0.0 port " + std::to_string(port),
                                      plat::GetSysColor(plat::COLOR_WINDOW), kBlack, test::ControlFont());
    EXPECT_TRUE(Where(screen, serverWin, listening, Box{0, 40, 380, 80}).has_value());
    // Still live after a second Close: nothing can minimise it here.
    screen.Click(serverWin, fileAt->first, fileAt->second);
    ASSERT_TRUE(test::WaitUntil([&] {
      return (menu = screen.FindOther({serverWin, gatewayWin})) != 0;
    }));
    screen.Click(menu, closeAt->first, closeAt->second);
    const auto tables = RenderText("Notification Messages", kFace, kBlack, test::ControlFont());
    auto firstTab = Where(screen, serverWin, tables, Box{0, 20, 380, 50});
    ASSERT_TRUE(firstTab);
    screen.Click(serverWin, firstTab->first, firstTab->second);
    const auto tableId = RenderText("TableID", kFace, kBlack, test::ControlFont());
    EXPECT_TRUE(Where(screen, serverWin, tableId, Box{0, 40, 120, 80}).has_value());
  }
  {
    SCOPED_TRACE("a menu open in one program closes when the user presses on another program's window");
    auto gwFile = Where(screen, gatewayWin, file, Box{0, 0, 80, 24});
    ASSERT_TRUE(gwFile);
    screen.Click(gatewayWin, gwFile->first, gwFile->second);
    Window menu = 0;
    ASSERT_TRUE(test::WaitUntil([&] {
      return (menu = screen.FindOther({serverWin, gatewayWin})) != 0;
    }));
    const Box g = screen.Geometry(menu);
    EXPECT_GT(g.Top, 400);  // the gateway's menu, below its menu bar
    screen.Click(serverWin, 300, 150);
    EXPECT_TRUE(test::WaitUntil([&] { return !screen.Viewable(menu); }));
    // Only one menu at a time on the screen: the server's opens, the gateway's stays shut.
    screen.Click(serverWin, fileAt->first, fileAt->second);
    ASSERT_TRUE(test::WaitUntil([&] {
      return (menu = screen.FindOther({serverWin, gatewayWin})) != 0;
    }));
    EXPECT_LT(screen.Geometry(menu).Top, 100);
    screen.Click(gatewayWin, 300, 60);
    EXPECT_TRUE(test::WaitUntil([&] { return !screen.Viewable(menu); }));
  }
}

}  // namespace
}  // namespace vexa
