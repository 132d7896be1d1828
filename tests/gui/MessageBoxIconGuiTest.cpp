// labels: gui
// timeout: 120
// Message boxes on a private Xvfb show the icon their flags ask for: read back
// from the X window's pixels while the box waits for its answer.
#include <gtest/gtest.h>

#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"
#include "tests/gui/XvfbServer.h"
#include "tests/support/TestSession.h"

namespace {

using namespace fw;

constexpr unsigned long Rgb(int r, int g, int b) {
  return (static_cast<unsigned long>(r) << 16) | (static_cast<unsigned long>(g) << 8) |
         static_cast<unsigned long>(b);
}
constexpr unsigned long kWhite = Rgb(255, 255, 255), kBlack = 0, kRed = Rgb(224, 0, 0),
                        kYellow = Rgb(255, 224, 0), kBlue = Rgb(0, 64, 224);

// The top-left 64 x 64 pixels of a box, taken once it has been painted; the
// box is then answered with Escape.
struct BoxPicture {
  bool seen = false;
  unsigned long px[64][64] = {};
  unsigned long At(int x, int y) const { return px[y][x]; }
  // A pixel of the icon, in the icon's own coordinates (it stands at 16, 16).
  unsigned long Icon(int x, int y) const { return px[16 + y][16 + x]; }
};

std::thread Watch(const char* title, BoxPicture& pic) {
  return std::thread([title, &pic] {
    vexa::test::XInput in;
    const plat::COLORREF face = plat::GetSysColor(plat::COLOR_BTNFACE);
    const unsigned long background = Rgb(face & 0xFF, (face >> 8) & 0xFF, (face >> 16) & 0xFF);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    unsigned long w = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (!w) w = vexa::test::FindByTitle(in.Dpy(), title);
      if (w) {
        XImage* img = XGetImage(in.Dpy(), w, 0, 0, 64, 64, AllPlanes, ZPixmap);
        if (img) {
          for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) pic.px[y][x] = XGetPixel(img, x, y) & 0xFFFFFF;
          XDestroyImage(img);
          // Painted once the margin shows the face colour and something
          // (icon or text) stands beside it.
          bool content = false;
          for (int y = 16; y < 48 && !content; ++y)
            for (int x = 16; x < 64 && !content; ++x) content = pic.px[y][x] != background;
          if (pic.px[2][2] == background && pic.px[60][2] == background && content) {
            pic.seen = true;
            break;
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Answer the box, painted or not, so the test never hangs.
    while (std::chrono::steady_clock::now() < end + std::chrono::seconds(5)) {
      if (!w) w = vexa::test::FindByTitle(in.Dpy(), title);
      if (w) {
        in.Key(XK_Escape);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
}

struct MessageBoxIcons : ::testing::Test {
  vexa::test::TestSession session;
  vexa::test::XvfbServer xvfb;

  void SetUp() override {
    ASSERT_TRUE(xvfb.Running());
    Application->Initialize();
    ASSERT_TRUE(plat::DisplayIsX11());
  }
  void TearDown() override { plat::ShutdownDisplay(); }

  BoxPicture Show(const char* title, UINT flags) {
    BoxPicture pic;
    std::thread user = Watch(title, pic);
    EXPECT_EQ(MessageBox(0, "Something happened.", title, MB_OK | flags), IDOK);
    user.join();
    EXPECT_TRUE(pic.seen) << title;
    return pic;
  }
};

TEST_F(MessageBoxIcons, EachKindShowsItsOwnIcon) {
  BoxPicture error = Show("Error box", MB_ICONERROR);
  EXPECT_EQ(error.Icon(8, 16), kRed);     // the red disc
  EXPECT_EQ(error.Icon(16, 16), kWhite);  // the middle of its white cross
  EXPECT_EQ(error.Icon(9, 9), kWhite);
  EXPECT_EQ(error.Icon(22, 9), kWhite);

  BoxPicture warning = Show("Warning box", MB_ICONWARNING);
  EXPECT_EQ(warning.Icon(8, 27), kYellow);  // the yellow triangle
  EXPECT_EQ(warning.Icon(15, 15), kBlack);  // its exclamation mark
  EXPECT_EQ(warning.Icon(15, 25), kBlack);
  EXPECT_EQ(warning.Icon(15, 23), kYellow);

  BoxPicture info = Show("Information box", MB_ICONINFORMATION);
  EXPECT_EQ(info.Icon(8, 16), kBlue);     // the blue disc
  EXPECT_EQ(info.Icon(15, 8), kWhite);    // the dot of the i
  EXPECT_EQ(info.Icon(15, 11), kBlue);
  EXPECT_EQ(info.Icon(15, 20), kWhite);   // its stem
  EXPECT_EQ(info.Icon(20, 10), kBlue);

  BoxPicture question = Show("Question box", MB_ICONQUESTION);
  EXPECT_EQ(question.Icon(8, 20), kBlue);
  EXPECT_EQ(question.Icon(20, 10), kWhite);  // the hook of the question mark
  EXPECT_EQ(question.Icon(15, 24), kWhite);  // its dot
  EXPECT_EQ(question.Icon(15, 22), kBlue);

  // Without an icon flag there is none: the text begins where it would stand.
  BoxPicture plain = Show("Plain box", 0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const unsigned long c = plain.At(x, y);
      EXPECT_TRUE(c != kRed && c != kYellow && c != kBlue) << x << "," << y;
    }
  // With an icon the text stands right of it: nothing of the text in the
  // columns the plain box's text starts in.
  for (int y = 16; y < 48; ++y)
    for (int x = 50; x < 58; ++x) EXPECT_NE(error.At(x, y), kBlack) << x << "," << y;
}

TEST_F(MessageBoxIcons, MessageDialogsShowTheIconOfTheirType) {
  BoxPicture pic;
  std::thread user = Watch("Warning", pic);
  MessageDlg("Careful now.", mtWarning, TMsgDlgButtons{mbOK});
  user.join();
  ASSERT_TRUE(pic.seen);
  EXPECT_EQ(pic.Icon(8, 27), kYellow);
  EXPECT_EQ(pic.Icon(15, 15), kBlack);
}

}  // namespace
