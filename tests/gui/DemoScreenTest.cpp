// labels: e2e
// timeout: 300
// The demo command run on a display where another churnmill is already open,
// as a user with two copies on one desktop runs it: the demo names the display
// it runs on, sets its own churnmill's rate by keys and starts it, and passes;
// the other churnmill keeps its rate of 1, its idle button and its empty log.
#include <gtest/gtest.h>

#include "tests/gui/ProgramScreen.h"
#include "tests/gui/XvfbServer.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestDatabase.h"

namespace vexa {
namespace {

using test::Box;
using test::ChildProcess;
using test::Shot;

TEST(DemoScreen, DrivesOnlyItsOwnChurnmillBesideAnotherOne) {
  // The demo's isql cannot load a database module built with the sanitizer,
  // and the demo would reconfigure this build as its own.
  if (test::kAddressSanitizer) GTEST_SKIP() << "the demo runs from a build without the sanitizer";
  test::TestSession session;
  test::XvfbServer xvfb;
  ASSERT_TRUE(xvfb.Running());
  test::Screen screen;
  ChildProcess other(test::BinPath("churnmill"), {});
  Window win = 0;
  ASSERT_NE(win = screen.WaitForTop("VEXA Churnmill"), 0u);
  // Untouched: the rate as it starts, "Start Shaking" never pressed (no line in the log).
  const auto face = plat::GetSysColor(plat::COLOR_BTNFACE), black = plat::RGB(0, 0, 0);
  const auto untouched = [&](const Shot& s) {
    return test::EditShows(s, Box{394, 9, 427, 30}, "1") &&
           test::FindText(s, Box{8, 8, 105, 33},
                          test::RenderText("Start Shaking", face, black, test::ControlFont())) &&
           test::InkOf(s, Box{2, 66, s.W - 20, s.H - 2}).empty();
  };
  ASSERT_TRUE(screen.WaitForShot(win, untouched));

  ChildProcess demo("/bin/bash", {VEXA_SOURCE_DIR "/scripts/demo.sh", "3", "--tps", "12"},
                    {"VEXA_BUILD_DIR=" + test::BuildDir()}, true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  while (demo.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now()))) {
  }
  const auto finished = demo.Wait(std::chrono::seconds(10));
  std::string out;
  for (const std::string& l : demo.Lines()) out += l + "\n";
  EXPECT_EQ(finished, 0) << out;
  EXPECT_NE(out.find("[demo] running on display " + xvfb.Name() + "\n"), std::string::npos) << out;
  EXPECT_NE(
      out.find("[demo] setting churnmill's target rate to 12: Page Up 1 times and Up 1 times"),
      std::string::npos)
      << out;
  EXPECT_TRUE(screen.WaitForShot(win, untouched));
  EXPECT_TRUE(other.Running());
}

}  // namespace
}  // namespace vexa
