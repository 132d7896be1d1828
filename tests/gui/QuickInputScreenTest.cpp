// labels: gui
// timeout: 90
// Input given faster than a program takes it, on the screen of the real
// churnmill: a press on one check box is handled (the box holds the pointer),
// then its release and a click on another box are read together. The hold
// ends only when that release is handled, so the next press must go to the
// box under the pointer, not to the one that held it. Both boxes change, and
// nothing else does.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/gui/ProgramScreen.h"
#include "tests/gui/XvfbServer.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::Box;
using test::ChildProcess;
using test::Shot;

const plat::COLORREF kFace = plat::GetSysColor(plat::COLOR_BTNFACE);
const plat::COLORREF kBlack = plat::RGB(0, 0, 0);

std::vector<uint32_t> Pixels(const Shot& s, Box r) {
  std::vector<uint32_t> v;
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x) v.push_back(s.At(x, y));
  return v;
}

TEST(QuickInputScreen, APressReadWithTheReleaseBeforeItGoesToTheControlUnderThePointer) {
  test::TestSession session;
  test::XvfbServer xvfb;
  ASSERT_TRUE(xvfb.Running());
  test::Screen screen;
  ChildProcess mill(test::BinPath("churnmill"), {});
  Window win = 0;
  ASSERT_NE(win = screen.WaitForTop("VEXA Churnmill"), 0u);
  screen.Move(win, 0, 0);

  // "Inserts" starts checked, "4 Char Symbol" unchecked; each box lies left of its caption.
  const auto inserts = test::RenderText("Inserts", kFace, kBlack);
  const auto symbol = test::RenderText("4 Char Symbol", kFace, kBlack);
  std::optional<std::pair<int, int>> insAt, symAt;
  Shot before;
  ASSERT_TRUE(screen.WaitForShot(win, [&](const Shot& s) {
    insAt = test::FindText(s, Box{0, 30, 200, 70}, inserts);
    symAt = test::FindText(s, Box{150, 30, 400, 70}, symbol);
    before = s;
    return insAt && symAt;
  }));
  auto boxOf = [](std::pair<int, int> at, const test::TextPatch& t) {
    return Box{at.first - 16, at.second, at.first - 1, at.second + t.H};
  };
  const Box insBox = boxOf(*insAt, inserts);
  const Box symBox = boxOf(*symAt, symbol);
  const auto checkedLook = Pixels(before, insBox);
  const auto uncheckedLook = Pixels(before, symBox);
  ASSERT_NE(checkedLook, uncheckedLook);

  // The press on "Inserts", handled: the box takes the focus and shows it.
  const int insX = insAt->first + inserts.W / 2, insY = insAt->second + inserts.H / 2;
  const int symX = symAt->first + symbol.W / 2, symY = symAt->second + symbol.H / 2;
  Display* d = screen.Dpy();
  screen.PointerTo(win, insX, insY);
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  XSync(d, False);
  const Box insArea{insBox.Left, insBox.Top - 3, insAt->first + inserts.W + 2, insBox.Bottom + 3};
  ASSERT_TRUE(screen.WaitForShot(win, [&](const Shot& s) { return Pixels(s, insArea) != Pixels(before, insArea); }))
      << "the press was not handled";

  // The program sleeps while the release and the next click wait for it together.
  mill.Signal(SIGSTOP);
  ASSERT_TRUE(test::WaitStopped(mill.Pid()));
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  screen.PointerTo(win, symX, symY);
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  XSync(d, False);
  mill.Signal(SIGCONT);

  Shot after;
  EXPECT_TRUE(screen.WaitForShot(win, [&](const Shot& s) {
    after = s;
    return Pixels(s, symBox) == checkedLook && Pixels(s, insBox) == uncheckedLook;
  }, 8000)) << "\"Inserts\" " << (Pixels(after, insBox) == checkedLook ? "still checked" : "unchecked")
            << ", \"4 Char Symbol\" " << (Pixels(after, symBox) == checkedLook ? "checked" : "still unchecked");
}

}  // namespace
}  // namespace vexa
