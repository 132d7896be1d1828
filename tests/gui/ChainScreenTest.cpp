// labels: gui
// timeout: 120
// The real beaconhub and relaygate on an X server of their own with a tray
// host of the test's, a database-side stand-in and a local client, read from
// the screen: the status panels and how they change, the server's table
// columns, the gateway's colours and the tips of the two tray icons. One run
// of the programs serves every step.
#include <gtest/gtest.h>

#include "platform/shell/TrayIcon.h"
#include "tests/gui/ProgramScreen.h"
#include "tests/gui/XvfbServer.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::Box;
using test::ChildProcess;
using test::RegionShowsExactly;
using test::RenderText;
using test::Shot;

const plat::COLORREF kFace = plat::GetSysColor(plat::COLOR_BTNFACE);
const plat::COLORREF kBlack = plat::RGB(0, 0, 0);

// A status panel's strip of the bar along the bottom of a window.
Box Panel(const Shot& s, int left, int right) { return Box{left, s.H - 19, right, s.H}; }

TEST(ChainScreen, PanelsColumnsColoursAndTipsAsTheUserSeesThem) {
  test::TestSession session;
  test::XvfbServer xvfb;
  ASSERT_TRUE(xvfb.Running());
  test::Screen screen;
  test::TrayHost tray;
  test::ServerAndGateway chain(session.Root(), &tray);
  ASSERT_TRUE(chain.IconsUp);
  const int port = chain.Port;
  const Window serverIcon = tray.Icons()[0], gatewayIcon = tray.Icons()[1];

  // With a tray host both windows wait behind their icons; a click shows each.
  EXPECT_EQ(screen.FindTop("VEXA Notify"), 0u);
  screen.Click(serverIcon, 12, 12);
  Window serverWin = 0, gatewayWin = 0;
  ASSERT_NE(serverWin = screen.WaitForTop("VEXA Notify Server"), 0u);
  screen.Move(serverWin, 0, 0);
  screen.Click(gatewayIcon, 12, 12);
  ASSERT_NE(gatewayWin = screen.WaitForTop("VEXA Notify Client Gateway"), 0u);
  screen.Move(gatewayWin, 0, 300);
  screen.PointerTo(gatewayWin, 300, 60);

  {
    SCOPED_TRACE("the server's panels: the gateway's session counted, the database side waited for");
    const auto waiting = RenderText(" Database DLL:  Waiting...", kFace, kBlack);
    const auto one = RenderText(" Client Connections:  1", kFace, kBlack);
    EXPECT_TRUE(screen.WaitForShot(serverWin, [&](const Shot& s) {
      return RegionShowsExactly(s, Panel(s, 0, 181), waiting) && RegionShowsExactly(s, Panel(s, 181, 340), one);
    }));
  }
  {
    SCOPED_TRACE("the gateway's panels: connected, no local client yet, the server's address");
    const auto none = RenderText(" Local Clients:  None", kFace, kBlack);
    const auto connected = RenderText(" Notify Server:  Connected", kFace, kBlack);
    const auto address = RenderText("127.0.0.1:" + std::to_string(port), kFace, kBlack);
    EXPECT_TRUE(screen.WaitForShot(gatewayWin, [&](const Shot& s) {
      return RegionShowsExactly(s, Panel(s, 0, 155), none) && RegionShowsExactly(s, Panel(s, 155, 338), connected) &&
             RegionShowsExactly(s, Panel(s, 338, s.W - 14), address);
    }));
  }
  {
    SCOPED_TRACE("a local client subscribes: the gateway counts it on the screen");
    ChildProcess client(test::BinPath("notifylistener"), {"Default", "7"});
    const auto oneClient = RenderText(" Local Clients:  1", kFace, kBlack);
    EXPECT_TRUE(screen.WaitForShot(gatewayWin, [&](const Shot& s) {
      return RegionShowsExactly(s, Panel(s, 0, 155), oneClient);
    }));
    client.Signal(SIGTERM);
    client.Wait(10000ms);
    const auto noClient = RenderText(" Local Clients:  0", kFace, kBlack);
    EXPECT_TRUE(screen.WaitForShot(gatewayWin, [&](const Shot& s) {
      return RegionShowsExactly(s, Panel(s, 0, 155), noClient);
    }));
  }
  {
    SCOPED_TRACE("the gateway's window and trace are pale cream, the trace without a border");
    EXPECT_TRUE(screen.WaitForShot(gatewayWin, [&](const Shot& s) {
      const uint32_t cream = 0xFFFFEB;
      // The trace's right end and its outermost columns and rows, where a
      // border would be drawn.
      int bottom = s.H - 20;
      return s.At(s.W - 3, 60) == cream && s.At(0, 60) == cream && s.At(s.W - 1, 60) == cream &&
             s.At(300, bottom) == cream && s.At(300, 23) == cream;
    }));
  }

  ChildProcess db(test::BinPath("DbSidePeer"), {});
  {
    SCOPED_TRACE("the database side connects: the server says so");
    db.WriteStdin("connect\n");
    ASSERT_TRUE(db.WaitForLine("connected", 10000ms));
    const auto connected = RenderText(" Database DLL:  Connected", kFace, kBlack);
    EXPECT_TRUE(screen.WaitForShot(serverWin, [&](const Shot& s) {
      return RegionShowsExactly(s, Panel(s, 0, 181), connected);
    }));
  }
  {
    SCOPED_TRACE("the table view: the first column left, the others centred, header and cells");
    db.WriteStdin("begin 7\n");
    auto begun = db.WaitForLine("result", 10000ms);
    ASSERT_TRUE(begun);
    db.WriteStdin("note 7 I 42\n");
    ASSERT_TRUE(db.WaitForLine("result", 10000ms));
    db.WriteStdin("end 7 " + begun->substr(7) + "\n");
    const auto tableId = RenderText("TableID", kFace, kBlack, test::ControlFont());
    const auto msgs = RenderText("# Msgs", kFace, kBlack, test::ControlFont());
    const auto seven = RenderText("7", plat::GetSysColor(plat::COLOR_WINDOW), kBlack, test::ControlFont());
    // Column edges from the list's left edge L: 0 [L, L+55), 1 [L+55, L+130),
    // 2 [L+130, L+210), 3 [L+210, L+290), 4 [L+290, L+355); text inside 6 px
    // from the left and 4 px from the right.
    const int edges[] = {0, 55, 130, 210, 290, 355};
    bool checked = screen.WaitForShot(serverWin, [&](const Shot& s) {
      auto id = test::FindText(s, Box{0, 30, 120, 90}, tableId);
      if (!id) return false;
      const int L = id->first + 2 - 6, headerY = id->second;
      auto m = test::FindText(s, Box{L + 55, headerY - 2, L + 130, headerY + tableId.H + 2}, msgs);
      if (!m) return false;
      const double msgsMid = m->first + 2 + (msgs.W - 4) / 2.0;
      const double col1Mid = (L + 55 + 6 + L + 130 - 4) / 2.0;
      if (std::abs(msgsMid - col1Mid) > 1.5) return false;
      // The first row: "7" at the left of column 0, each other cell centred.
      auto row = test::FindText(s, Box{L, headerY + 10, L + 55, headerY + 40}, seven);
      if (!row || row->first + 2 != L + 6) return false;
      for (int c = 1; c < 5; ++c) {
        auto span = test::InkSpan(s, Box{L + edges[c] + 1, row->second + 2, L + edges[c + 1] - 2, row->second + seven.H - 2});
        if (!span) return false;
        const double mid = (span->first + span->second) / 2.0;
        const double colMid = (L + edges[c] + 6 + L + edges[c + 1] - 4) / 2.0;
        if (std::abs(mid - colMid) > 1.5) return false;
      }
      return true;
    });
    EXPECT_TRUE(checked);
  }
  {
    SCOPED_TRACE("the tips of the two icons tell the programs apart");
    screen.PointerTo(gatewayIcon, 10, 10);
    EXPECT_TRUE(test::WaitUntil([&] { return test::TipShows(screen, "VEXA Notify Client Gateway"); }));
    screen.PointerTo(gatewayWin, 300, 60);
    EXPECT_TRUE(test::WaitUntil([&] { return test::TipWindow(screen) == 0; }));
    const std::string serverTip = "VEXA Notify Server Listening at 0.0.0.0:" + std::to_string(port);
    screen.PointerTo(serverIcon, 10, 10);
    EXPECT_TRUE(test::WaitUntil([&] { return test::TipShows(screen, serverTip); }));
    // The database side leaves, the icon changes under the pointer: the tip
    // stays, with the same text.
    const Shot before = screen.Grab(serverIcon);
    db.WriteStdin("disconnect\n");
    ASSERT_TRUE(db.WaitForLine("disconnected", 10000ms));
    EXPECT_TRUE(test::WaitUntil([&] { return screen.Grab(serverIcon).Px != before.Px; }));
    EXPECT_TRUE(test::TipShows(screen, serverTip));
    screen.PointerTo(serverWin, 200, 100);
    EXPECT_TRUE(test::WaitUntil([&] { return test::TipWindow(screen) == 0; }));
  }
  db.WriteStdin("quit\n");
}

}  // namespace
}  // namespace vexa
