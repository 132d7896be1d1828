// labels: gui
// timeout: 60
// The tip of a docked tray icon on an X server with a tray host of the test's:
// it shows the icon's tip text when the pointer rests on the icon, shows the
// new text when the program changes the tip while it shows, and goes when the
// pointer leaves or the icon is removed.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/msg/Msg.h"
#include "platform/shell/TrayIcon.h"
#include "tests/gui/ProgramScreen.h"
#include "tests/gui/XvfbServer.h"
#include "tests/support/MessagePump.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;

constexpr plat::UINT kCallback = plat::WM_USER + 100;

plat::NOTIFYICONDATA Record(plat::HWND wnd, const std::string& tip) {
  plat::NOTIFYICONDATA d;
  d.cbSize = sizeof d;
  d.hWnd = wnd;
  d.uID = 1;
  d.uFlags = plat::NIF_MESSAGE | plat::NIF_TIP;
  d.uCallbackMessage = kCallback;
  std::strncpy(d.szTip, tip.c_str(), sizeof d.szTip - 1);
  return d;
}

TEST(NotifyTip, ShowsOnRestFollowsTheTextAndGoesWithThePointerOrTheIcon) {
  test::TestSession session;
  test::XvfbServer xvfb;
  ASSERT_TRUE(xvfb.Running());
  test::Screen screen;
  test::TrayHost tray;
  plat::WNDCLASS wc;
  wc.lpszClassName = "NotifyTipTestWindow";
  wc.lpfnWndProc = plat::DefWindowProc;
  plat::RegisterClass(wc);
  plat::HWND wnd = plat::CreateWindowEx(0, "NotifyTipTestWindow", "", plat::WS_POPUP, 0, 0, 0, 0, 0, 0);
  ASSERT_NE(wnd, 0u);

  plat::NOTIFYICONDATA d = Record(wnd, "Gateway: Connecting");
  ASSERT_TRUE(plat::Shell_NotifyIcon(plat::NIM_ADD, &d));
  ASSERT_TRUE(test::PumpUntil([&] { return tray.Icons().size() == 1; }, 15s));
  const Window icon = tray.Icons()[0];

  // Passing over the icon shows nothing yet; resting on it shows the tip.
  screen.PointerTo(icon, 5, 5);
  EXPECT_EQ(test::TipWindow(screen), 0u);
  EXPECT_TRUE(test::PumpUntil([&] { return test::TipShows(screen, "Gateway: Connecting"); }, 15s));
  // Right of the pointer and, at the bottom of the screen, above it: whole
  // on the screen, never under the pointer.
  const test::Box iconAt = screen.Geometry(icon), tipAt = screen.Geometry(test::TipWindow(screen));
  EXPECT_GT(tipAt.Left, iconAt.Left + 5);
  EXPECT_LE(tipAt.Bottom, iconAt.Top + 5);
  EXPECT_GE(tipAt.Top, 0);

  // The program changes its tip while it shows: the same window shows the new text.
  d = Record(wnd, "Gateway: Connected to 127.0.0.1:5500");
  ASSERT_TRUE(plat::Shell_NotifyIcon(plat::NIM_MODIFY, &d));
  EXPECT_TRUE(
      test::PumpUntil([&] { return test::TipShows(screen, "Gateway: Connected to 127.0.0.1:5500"); }, 15s));

  // The pointer leaves: the tip goes.
  screen.PointerTo(icon, 40, 40);
  EXPECT_TRUE(test::PumpUntil([&] { return test::TipWindow(screen) == 0; }, 15s));

  // Back on the icon, then the icon is removed: the tip goes with it.
  screen.PointerTo(icon, 6, 6);
  EXPECT_TRUE(
      test::PumpUntil([&] { return test::TipShows(screen, "Gateway: Connected to 127.0.0.1:5500"); }, 15s));
  ASSERT_TRUE(plat::Shell_NotifyIcon(plat::NIM_DELETE, &d));
  EXPECT_TRUE(test::PumpUntil([&] { return test::TipWindow(screen) == 0; }, 15s));
  plat::DestroyWindow(wnd);
}

}  // namespace
}  // namespace vexa
