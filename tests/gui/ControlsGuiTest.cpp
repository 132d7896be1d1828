// labels: gui
// timeout: 120
// Standard controls, dialogs and window states on a private Xvfb, through real X input.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "framework/ComCtrls.h"
#include "framework/ControlPaint.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"
#include "tests/support/FormOnXvfb.h"

namespace {

using namespace fw;
using vexa::test::ScreenPumpUntil;

struct ControlsGui : vexa::test::FormOnXvfb {
  ControlsGui() : FormOnXvfb("Controls", 20, 20, 360, 260) {}
};

TEST_F(ControlsGui, EnterPressesTheDefaultButtonAndEscapeTheCancelButton) {
  auto* edit = Add<TEdit>(10, 10, 150, 24);
  auto* ok = Add<TButton>(10, 50, 75, 25);
  ok->SetCaption("OK");
  ok->SetDefault(true);
  auto* cancel = Add<TButton>(95, 50, 75, 25);
  cancel->SetCaption("Cancel");
  cancel->SetCancel(true);
  std::string pressed;
  ok->OnClick = [&](TObject*) { pressed += "ok;"; };
  cancel->OnClick = [&](TObject*) { pressed += "cancel;"; };
  ShowAndWait();
  input->Click(XWin(), 50, 20);
  ASSERT_TRUE(ScreenPumpUntil([&] { return plat::GetFocus() == edit->Handle(); }));
  input->Key(XK_Return);
  ASSERT_TRUE(ScreenPumpUntil([&] { return pressed == "ok;"; })) << pressed;
  input->Key(XK_Escape);
  ASSERT_TRUE(ScreenPumpUntil([&] { return pressed == "ok;cancel;"; })) << pressed;
  EXPECT_EQ(edit->Text(), "");
}

TEST_F(ControlsGui, CheckBoxesTabsAndArrowsAnswerClicks) {
  auto* cb = Add<TCheckBox>(10, 10, 120, 20);
  cb->SetCaption("Option");
  int cbClicks = 0;
  cb->OnClick = [&](TObject*) { ++cbClicks; };
  auto* edit = Add<TEdit>(150, 10, 40, 22);
  auto* ud = Add<TUpDown>(190, 10, 16, 22);
  ud->SetMin(0);
  ud->SetMax(10);
  ud->SetAssociate(edit);
  ud->SetPosition(3);
  auto* pc = Add<TPageControl>(10, 50, 300, 150);
  auto* p1 = new TTabSheet(form);
  p1->SetCaption("First");
  p1->SetPageControl(pc);
  auto* p2 = new TTabSheet(form);
  p2->SetCaption("Second");
  p2->SetPageControl(pc);
  int changes = 0;
  pc->OnChange = [&](TObject*) { ++changes; };
  ShowAndWait();

  input->Click(XWin(), 16, 20);
  ASSERT_TRUE(ScreenPumpUntil([&] { return cb->Checked(); }));
  input->Click(XWin(), 16, 20);
  ASSERT_TRUE(ScreenPumpUntil([&] { return !cb->Checked(); }));
  EXPECT_EQ(cbClicks, 2);

  input->Click(XWin(), 198, 14);  // upper arrow
  ASSERT_TRUE(ScreenPumpUntil([&] { return edit->Text() == "4"; })) << edit->Text();
  input->Click(XWin(), 198, 28);  // lower arrow
  input->Click(XWin(), 198, 28);
  ASSERT_TRUE(ScreenPumpUntil([&] { return edit->Text() == "2"; })) << edit->Text();

  ASSERT_EQ(pc->ActivePage(), p1);
  // The second tab sits right of the first; its caption is wider than 20 pixels.
  plat::HDC dc = plat::GetDC(0);
  plat::SelectObject(dc, plat::GetStockObject(plat::DEFAULT_GUI_FONT));
  plat::SIZE first;
  plat::GetTextExtentPoint32(dc, "First", &first);
  plat::ReleaseDC(0, dc);
  input->Click(XWin(), 10 + 2 + first.cx + 16 + 20, 50 + 10);
  ASSERT_TRUE(ScreenPumpUntil([&] { return pc->ActivePage() == p2; }));
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(p2->Visible());
  EXPECT_FALSE(p1->Visible());
  // The sheet fills the page control below the tabs.
  EXPECT_GT(p2->Top(), 10);
  EXPECT_GT(p2->Width(), 250);
}

TEST_F(ControlsGui, AMessageBoxIsAWindowOfItsOwnAnsweredByKeysAndClicks) {
  auto* behind = Add<TButton>(10, 10, 80, 25);
  int behindClicks = 0;
  behind->OnClick = [&](TObject*) { ++behindClicks; };
  unsigned long formWin = 0;
  form->Show();
  ASSERT_TRUE(ScreenPumpUntil([&] { return XWin() != 0 && input->Viewable(XWin()); }));
  formWin = XWin();
  std::atomic<int> step{0};
  // Another thread plays the user: Return answers the default button, then a
  // click on the first button of the second box.
  std::thread user([&] {
    vexa::test::XInput in;
    for (int round = 0; round < 2; ++round) {
      unsigned long w = 0;
      for (int i = 0; i < 500 && !w; ++i) {
        w = vexa::test::FindByTitle(in.Dpy(), round == 0 ? "Question" : "Again");
        if (!w) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (!w) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (round == 0) {
        // The form behind the box takes no clicks meanwhile.
        in.Click(formWin, 40, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        in.Key(XK_Return);
      } else {
        XWindowAttributes a;
        XGetWindowAttributes(in.Dpy(), w, &a);
        int rowW = 2 * 75 + 8;
        in.Click(w, (a.width - rowW) / 2 + 37, a.height - 16 - 12);
      }
      while (step.load() == round) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  int first = MessageBox(form->Handle(), "Proceed?", "Question", MB_YESNO | MB_DEFBUTTON2);
  step = 1;
  int second = MessageBox(form->Handle(), "Proceed now?", "Again", MB_YESNO);
  step = 2;
  user.join();
  EXPECT_EQ(first, IDNO);
  EXPECT_EQ(second, IDYES);
  EXPECT_EQ(behindClicks, 0);
  // Once the boxes are gone it answers again.
  input->Click(XWin(), 40, 20);
  ASSERT_TRUE(ScreenPumpUntil([&] { return behindClicks == 1; }));
  // The boxes are gone; the form is still there.
  EXPECT_TRUE(input->Viewable(XWin()));
}

TEST_F(ControlsGui, HidingShowingAndARegionReachTheXWindow) {
  ShowAndWait();
  unsigned long xw = XWin();
  form->Hide();
  ASSERT_TRUE(ScreenPumpUntil([&] { return !input->Viewable(xw); }));
  form->Show();
  ASSERT_TRUE(ScreenPumpUntil([&] { return input->Viewable(xw); }));
  EXPECT_EQ(XWin(), xw);
  // A region of two rectangles shapes the window.
  plat::HRGN a = plat::CreateRectRgn(0, 0, 100, 50);
  plat::HRGN b = plat::CreateRectRgn(0, 100, 360, 260);
  plat::CombineRgn(a, a, b, plat::RGN_OR);
  plat::DeleteObject(b);
  plat::SetWindowRgn(form->Handle(), a, true);
  std::vector<XRectangle> got;
  ASSERT_TRUE(ScreenPumpUntil([&] {
    int count = 0, ordering = 0;
    XRectangle* r = XShapeGetRectangles(input->Dpy(), xw, ShapeBounding, &count, &ordering);
    got.assign(r, r + count);
    if (r) XFree(r);
    return count == 2;
  }));
  EXPECT_EQ(got[0].x, 0);
  EXPECT_EQ(got[0].width, 100);
  EXPECT_EQ(got[0].height, 50);
  EXPECT_EQ(got[1].y, 100);
  EXPECT_EQ(got[1].width, 360);
  // Removing it gives the whole window back.
  plat::SetWindowRgn(form->Handle(), 0, true);
  ASSERT_TRUE(ScreenPumpUntil([&] {
    int count = 0, ordering = 0;
    XRectangle* r = XShapeGetRectangles(input->Dpy(), xw, ShapeBounding, &count, &ordering);
    bool whole = count == 1 && r[0].width == 360 && r[0].height == 260;
    if (r) XFree(r);
    return whole;
  }));
}

TEST_F(ControlsGui, MovesAndSizesFromTheServerReachTheForm) {
  ShowAndWait();
  int sizes = 0;
  form->OnResize = [&](TObject*) { ++sizes; };
  XMoveResizeWindow(input->Dpy(), XWin(), 100, 120, 400, 300);
  XSync(input->Dpy(), False);
  ASSERT_TRUE(ScreenPumpUntil([&] { return form->Width() == 400 && form->Height() == 300; }));
  EXPECT_EQ(form->Left(), 100);
  EXPECT_EQ(form->Top(), 120);
  EXPECT_GE(sizes, 1);
  // The store follows, and the screen shows it.
  int32_t w = 0, h = 0;
  ASSERT_TRUE(plat::GetWindowSurface(form->Handle(), &w, &h, nullptr));
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 300);
}

TEST_F(ControlsGui, MinimisingAndRestoringFollowTheServerAndTheProgram) {
  ShowAndWait();
  unsigned long xw = XWin();
  // A window manager minimises by unmapping; the window counts as minimised.
  XUnmapWindow(input->Dpy(), xw);
  XSync(input->Dpy(), False);
  ASSERT_TRUE(ScreenPumpUntil([&] { return plat::IsIconic(form->Handle()); }));
  EXPECT_TRUE(form->Visible());
  // Restoring from the program maps it again.
  plat::ShowWindow(form->Handle(), plat::SW_RESTORE);
  ASSERT_TRUE(ScreenPumpUntil([&] { return input->Viewable(xw); }));
  EXPECT_FALSE(plat::IsIconic(form->Handle()));
}

TEST_F(ControlsGui, AMessageDialogIsAWindowAndEscapeCancelsIt) {
  ShowAndWait();
  std::thread user([&] {
    vexa::test::XInput in;
    unsigned long w = 0;
    for (int i = 0; i < 500 && !w; ++i) {
      w = vexa::test::FindByTitle(in.Dpy(), "Confirm");
      if (!w) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!w) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    in.Key(XK_Escape);
  });
  TModalResult r = MessageDlg("Delete it?", mtConfirmation, mbYesNoCancel);
  user.join();
  EXPECT_EQ(r, mrCancel);
}

}  // namespace
