// labels: gui
// timeout: 120
// The tray icon on a private Xvfb: without a tray host the main form is never
// hidden; with one the icon docks through the system-tray protocol (also when
// the host starts later) and button presses on its window become events.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "components/KitTrayIcon.h"
#include "framework/Forms.h"
#include "tests/gui/XvfbServer.h"
#include "tests/support/TestSession.h"

using namespace vexa;

namespace {

// A notification area of the test's own: owns the tray selection of screen 0
// and answers nothing, it only notes the windows that ask to dock.
class FakeTrayHost {
public:
  FakeTrayHost() : FDpy(XOpenDisplay(nullptr)) {
    Window root = DefaultRootWindow(FDpy);
    FWin = XCreateSimpleWindow(FDpy, root, 0, 0, 200, 30, 0, 0, 0);
    FSelection = XInternAtom(FDpy, "_NET_SYSTEM_TRAY_S0", False);
    FOpcode = XInternAtom(FDpy, "_NET_SYSTEM_TRAY_OPCODE", False);
  }
  ~FakeTrayHost() { Quit(); }
  // The host ends: its window goes.
  void Quit() {
    if (!FDpy) return;
    XDestroyWindow(FDpy, FWin);
    XCloseDisplay(FDpy);
    FDpy = nullptr;
  }
  void Own() {
    XSetSelectionOwner(FDpy, FSelection, FWin, CurrentTime);
    // The announcement a new tray host makes to every client.
    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = DefaultRootWindow(FDpy);
    ev.xclient.message_type = XInternAtom(FDpy, "MANAGER", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = CurrentTime;
    ev.xclient.data.l[1] = static_cast<long>(FSelection);
    ev.xclient.data.l[2] = static_cast<long>(FWin);
    XSendEvent(FDpy, DefaultRootWindow(FDpy), False, StructureNotifyMask, &ev);
    XSync(FDpy, False);
  }
  // Windows that asked to dock so far.
  std::vector<unsigned long> DockRequests() {
    while (XPending(FDpy)) {
      XEvent ev;
      XNextEvent(FDpy, &ev);
      if (ev.type == ClientMessage && ev.xclient.message_type == FOpcode &&
          ev.xclient.data.l[1] == 0)
        FDocked.push_back(static_cast<unsigned long>(ev.xclient.data.l[2]));
    }
    return FDocked;
  }
  // Embeds a docked window into the host's own, both shown.
  void Embed(unsigned long win) {
    XReparentWindow(FDpy, win, FWin, 4, 3);
    XMapWindow(FDpy, win);
    XMapWindow(FDpy, FWin);
    XSync(FDpy, False);
  }
  // A pixel of a window as 0xRRGGBB (0xFFFFFFFF when it cannot be read).
  unsigned long Pixel(unsigned long win, int x, int y) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(FDpy, win, &a) || a.map_state != IsViewable) return 0xFFFFFFFF;
    XImage* img = XGetImage(FDpy, win, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img) return 0xFFFFFFFF;
    unsigned long p = XGetPixel(img, 0, 0) & 0xFFFFFF;
    XDestroyImage(img);
    return p;
  }
  void Button(unsigned long win, unsigned button, bool press, Time time) {
    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xbutton.type = press ? ButtonPress : ButtonRelease;
    ev.xbutton.window = win;
    ev.xbutton.button = button;
    ev.xbutton.time = time;
    ev.xbutton.same_screen = True;
    XSendEvent(FDpy, win, False, press ? ButtonPressMask : ButtonReleaseMask, &ev);
    XSync(FDpy, False);
  }

private:
  Display* FDpy;
  Window FWin;
  Atom FSelection, FOpcode;
  std::vector<unsigned long> FDocked;
};

struct TrayGui : ::testing::Test {
  // The server outlives the session, so the session's display and tray
  // connections close while it still answers.
  vexa::test::XvfbServer xvfb;
  vexa::test::TestSession session;
  fw::TForm* form = nullptr;
  TKitTrayIcon* tray = nullptr;

  void MakeForm() {
    form = new fw::TForm(nullptr);
    tray = new TKitTrayIcon(form);
    tray->SetHint("Gateway");
    form->AfterConstruction();
  }
  void TearDown() override {
    if (form) fw::Free(form);
  }
};

}  // namespace

TEST_F(TrayGui, WithoutATrayHostTheFormIsNeverHidden) {
  ASSERT_TRUE(xvfb.Running());
  EXPECT_FALSE(plat::NotifyAreaAvailable());
  MakeForm();
  EXPECT_TRUE(plat::GetNotifyIconRecord(tray->IconWindow(), 0, nullptr)) << "still recorded";
  EXPECT_EQ(plat::GetNotifyIconXWindow(tray->IconWindow(), 0), 0u) << "nowhere to dock";
  EXPECT_TRUE(fw::Application->ShowMainForm()) << "the main form will be shown";

  int closes = 0;
  form->OnClose = [&](fw::TObject*, fw::TCloseAction&) { ++closes; };
  form->Show();
  plat::SendMessage(form->Handle(), plat::WM_SYSCOMMAND, plat::SC_MINIMIZE, 0);
  EXPECT_TRUE(form->Visible()) << "minimised, not hidden";
  plat::ShowWindow(form->Handle(), plat::SW_RESTORE);
  tray->SetNoClose(true);
  plat::SendMessage(form->Handle(), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
  EXPECT_EQ(closes, 0) << "NoClose still keeps the program running";
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(plat::IsIconic(form->Handle()));
}

TEST_F(TrayGui, IconDocksWithTheHostAndButtonsBecomeEvents) {
  ASSERT_TRUE(xvfb.Running());
  FakeTrayHost host;
  host.Own();
  EXPECT_TRUE(plat::NotifyAreaAvailable());
  MakeForm();
  EXPECT_FALSE(fw::Application->ShowMainForm());
  unsigned long xwin = plat::GetNotifyIconXWindow(tray->IconWindow(), 0);
  ASSERT_NE(xwin, 0u);
  ASSERT_TRUE(vexa::test::ScreenPumpUntil([&] { return !host.DockRequests().empty(); }));
  EXPECT_EQ(host.DockRequests().front(), xwin);

  std::vector<std::string> log;
  tray->OnClick = [&](fw::TObject*) { log.push_back("click"); };
  tray->OnDblClick = [&](fw::TObject*) { log.push_back("dblclick"); };
  tray->OnMouseDown = [&](fw::TObject*, fw::TMouseButton b, fw::TShiftState s, int, int) {
    log.push_back(std::string("down ") + (b == fw::mbLeft ? "left" : "right") +
                  (s.Contains(fw::ssDouble) ? "+dbl" : ""));
  };
  host.Button(xwin, Button1, true, 1000);
  host.Button(xwin, Button1, false, 1050);
  host.Button(xwin, Button1, true, 1200);   // soon after: a double-click
  host.Button(xwin, Button3, true, 5000);
  ASSERT_TRUE(vexa::test::ScreenPumpUntil([&] { return log.size() >= 5; }));
  EXPECT_EQ(log, (std::vector<std::string>{"down left", "click", "dblclick", "down left+dbl",
                                           "down right"}));

  // Shown in the host, the window shows the icon.
  fw::TBitmap red;
  red.SetSize(16, 16);
  red.Canvas()->Brush()->SetColor(fw::clRed);
  red.Canvas()->FillRect(fw::Rect(0, 0, 16, 16));
  plat::HICON h = 0;
  BitmapToIcon(&red, h, 16, 16);
  fw::TIcon icon;
  icon.SetHandle(h);
  tray->SetIcon(&icon);
  host.Embed(xwin);
  EXPECT_TRUE(vexa::test::ScreenPumpUntil([&] { return host.Pixel(xwin, 12, 12) == 0xFF0000; }))
      << std::hex << host.Pixel(xwin, 12, 12);

  tray->SetActive(false);
  EXPECT_EQ(plat::GetNotifyIconXWindow(tray->IconWindow(), 0), 0u);
}

TEST_F(TrayGui, IconDocksWhenAHostStartsLater) {
  ASSERT_TRUE(xvfb.Running());
  MakeForm();
  EXPECT_EQ(plat::GetNotifyIconXWindow(tray->IconWindow(), 0), 0u);
  FakeTrayHost host;
  host.Own();
  ASSERT_TRUE(vexa::test::ScreenPumpUntil([&] { return !host.DockRequests().empty(); }));
  EXPECT_EQ(host.DockRequests().front(), plat::GetNotifyIconXWindow(tray->IconWindow(), 0));
}

TEST_F(TrayGui, FormComesBackWhenTheHostGoesAway) {
  ASSERT_TRUE(xvfb.Running());
  FakeTrayHost host;
  host.Own();
  MakeForm();
  unsigned long xwin = plat::GetNotifyIconXWindow(tray->IconWindow(), 0);
  ASSERT_NE(xwin, 0u);
  // The request comes after the window was made: then the server knows it.
  ASSERT_TRUE(vexa::test::ScreenPumpUntil([&] { return !host.DockRequests().empty(); }));
  host.Embed(xwin);
  EXPECT_FALSE(form->Visible());
  host.Quit();
  ASSERT_TRUE(vexa::test::ScreenPumpUntil([&] { return form->Visible(); }));
  EXPECT_TRUE(fw::Application->ShowMainForm());
  EXPECT_EQ(plat::GetNotifyIconXWindow(tray->IconWindow(), 0), 0u);
  EXPECT_TRUE(plat::GetNotifyIconRecord(tray->IconWindow(), 0, nullptr)) << "still recorded";
  EXPECT_FALSE(plat::NotifyAreaAvailable());

  // A new host takes the icon again.
  FakeTrayHost next;
  next.Own();
  ASSERT_TRUE(vexa::test::ScreenPumpUntil([&] { return !next.DockRequests().empty(); }));
}
