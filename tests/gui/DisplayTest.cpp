// labels: gui
// timeout: 120
// Forms on a real X server (a private Xvfb), driven by real X input.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <fcntl.h>

#include <set>

#include "framework/ComCtrls.h"
#include "framework/ControlPaint.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FormOnXvfb.h"

namespace {

using namespace fw;
using namespace std::chrono_literals;
using vexa::test::ScreenPumpFor;
using vexa::test::ScreenPumpUntil;

struct GuiFixture : vexa::test::FormOnXvfb {
  GuiFixture() : FormOnXvfb("Gui test", 40, 30, 320, 220) {}
};

TEST_F(GuiFixture, ClickingAButtonFiresItsHandler) {
  auto* b = Add<TButton>(20, 20, 90, 28);
  b->SetCaption("Press me");
  int clicks = 0;
  b->OnClick = [&](TObject*) { ++clicks; };
  auto* other = Add<TButton>(20, 80, 90, 28);
  int otherClicks = 0;
  other->OnClick = [&](TObject*) { ++otherClicks; };
  ShowAndWait();
  input->Click(XWin(), 40, 30);
  ASSERT_TRUE(ScreenPumpUntil([&] { return clicks == 1; }));
  // A click beside every button fires nothing.
  input->Click(XWin(), 250, 180);
  input->Click(XWin(), 30, 90);
  ASSERT_TRUE(ScreenPumpUntil([&] { return otherClicks == 1; }));
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(other->Focused());
}

TEST_F(GuiFixture, TwoQuickClicksOnAPanelAreADoubleClick) {
  auto* p = Add<TPanel>(10, 10, 150, 100);
  int clicks = 0, doubles = 0;
  p->OnClick = [&](TObject*) { ++clicks; };
  p->OnDblClick = [&](TObject*) { ++doubles; };
  ShowAndWait();
  input->Click(XWin(), 50, 50);
  input->Click(XWin(), 51, 50);
  ASSERT_TRUE(ScreenPumpUntil([&] { return doubles == 1; }));
  EXPECT_EQ(clicks, 2);  // each release still clicks
}

TEST_F(GuiFixture, TypingIntoAnEditChangesItsText) {
  auto* e = Add<TEdit>(20, 20, 200, 24);
  auto* e2 = Add<TEdit>(20, 60, 200, 24);
  std::vector<std::string> changes;
  e->OnChange = [&](TObject*) { changes.push_back(e->Text()); };
  ShowAndWait();
  input->Click(XWin(), 100, 30);
  ASSERT_TRUE(ScreenPumpUntil([&] { return plat::GetFocus() == e->Handle(); }));
  input->Type("Hi there5");
  ASSERT_TRUE(ScreenPumpUntil([&] { return e->Text() == "Hi there5"; })) << e->Text();
  input->Key(XK_BackSpace);
  ASSERT_TRUE(ScreenPumpUntil([&] { return e->Text() == "Hi there"; })) << e->Text();
  EXPECT_EQ(changes.front(), "H");
  EXPECT_EQ(changes.back(), "Hi there");
  // Tab moves the keyboard to the next edit; typing goes there.
  input->Key(XK_Tab);
  ASSERT_TRUE(ScreenPumpUntil([&] { return plat::GetFocus() == e2->Handle(); }));
  input->Type("ok");
  ASSERT_TRUE(ScreenPumpUntil([&] { return e2->Text() == "ok"; }));
  EXPECT_EQ(e->Text(), "Hi there");
}

TEST_F(GuiFixture, AMenuCommandRunsFromTheMenuBar) {
  auto* menu = new TMainMenu(form);
  auto* file = new TMenuItem(menu);
  file->SetCaption("&File");
  menu->Items()->Add(file);
  auto* first = new TMenuItem(menu);
  first->SetCaption("&Open");
  auto* second = new TMenuItem(menu);
  second->SetCaption("&Close");
  file->Add(first);
  file->Add(second);
  std::string ran;
  first->OnClick = [&](TObject*) { ran += "open;"; };
  second->OnClick = [&](TObject*) { ran += "close;"; };
  ShowAndWait();
  // The bar is the form's top strip; File is its first item.
  input->Click(XWin(), 12, 8);
  plat::HWND drop = 0;
  ASSERT_TRUE(ScreenPumpUntil([&] {
    for (plat::HWND h : plat::GetTopLevelWindows()) {
      if (h != form->Handle() && plat::IsWindowVisible(h) && plat::GetDisplayWindowId(h) &&
          input->Viewable(plat::GetDisplayWindowId(h)))
        drop = h;
    }
    return drop != 0;
  }));
  plat::RECT r;
  plat::GetWindowRect(drop, &r);
  int itemH = (r.bottom - r.top - 4) / 2;
  // The second item of the drop-down.
  input->Click(plat::GetDisplayWindowId(drop), 20, 2 + itemH + itemH / 2);
  ASSERT_TRUE(ScreenPumpUntil([&] { return !ran.empty(); }));
  EXPECT_EQ(ran, "close;");
  EXPECT_FALSE(plat::IsWindow(drop));
}

TEST_F(GuiFixture, TheCloseBoxHidesOrKeepsTheFormAsItDecides) {
  bool allow = false;
  int closes = 0;
  form->OnCloseQuery = [&](TObject*, bool& can) { can = allow; };
  form->OnClose = [&](TObject*, TCloseAction& a) {
    ++closes;
    a = caHide;
  };
  ShowAndWait();
  unsigned long xw = XWin();
  input->SendDelete(xw);
  ScreenPumpFor(500ms);  // let it be handled: nothing may change
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(input->Viewable(xw));
  EXPECT_EQ(closes, 0);
  allow = true;
  input->SendDelete(xw);
  ASSERT_TRUE(ScreenPumpUntil([&] { return !form->Visible() && !input->Viewable(xw); }));
  EXPECT_EQ(closes, 1);
}

// A forked child has no display until it opens its own: it neither draws
// through its parent's connection nor holds it open (the parent's windows
// would outlive the parent), and shows its dialogs as a program without one.
TEST_F(GuiFixture, AForkedChildLeavesTheDisplayToItsParent) {
  auto* b = Add<TButton>(20, 20, 90, 28);
  int clicks = 0;
  b->OnClick = [&](TObject*) { ++clicks; };
  ShowAndWait();
  const int parents = ConnectionNumber(static_cast<Display*>(plat::GetXDisplay()));
  std::string got = vexa::test::ForkedChildsReport([&] {
    std::string r = std::to_string(plat::GetXDisplay() != nullptr);
    r += " " + std::to_string(fcntl(parents, F_GETFD) != -1);
    r += " " + std::to_string(DisplayAvailable()) + " " + std::to_string(ControlPaintActive());
    return r + " " + std::to_string(plat::InitDisplay());
  });
  EXPECT_EQ(got, "0 0 0 0 1") << "connection used, connection held, display, painting, own display";
  input->Click(XWin(), 40, 30);
  EXPECT_TRUE(ScreenPumpUntil([&] { return clicks == 1; })) << "the parent's display goes on";
}

TEST_F(GuiFixture, TheScreenShowsTheBackingStorePixelForPixel) {
  auto* b = Add<TButton>(10, 10, 100, 26);
  b->SetCaption("OK");
  b->SetDefault(true);
  auto* l = Add<TLabel>(120, 14, 150, 16);
  l->SetCaption("A label");
  auto* cb = Add<TCheckBox>(10, 50, 120, 20);
  cb->SetCaption("Checked");
  cb->SetChecked(true);
  auto* memo = Add<TMemo>(10, 80, 140, 80);
  for (int i = 0; i < 20; ++i) memo->Lines()->Add("line " + std::to_string(i));
  auto* lv = Add<TListView>(160, 50, 150, 110);
  lv->SetViewStyle(vsReport);
  lv->SetGridLines(true);
  lv->SetRowSelect(true);
  lv->SetHideSelection(false);  // selected though another control has the keyboard
  lv->Columns()->Add()->SetCaption("Name");
  lv->Columns()->Add()->SetCaption("Value");
  for (int i = 0; i < 3; ++i) {
    TListItem* it = lv->Items()->Add();
    it->SetCaption("row" + std::to_string(i));
    it->SubItems()->Add(std::to_string(i * 10));
  }
  lv->SetSelected(lv->Items()->Item(1));
  ShowAndWait();
  plat::FlushDisplay();
  int32_t w = 0, h = 0;
  std::vector<uint8_t> px;
  ASSERT_TRUE(plat::GetWindowSurface(form->Handle(), &w, &h, &px));
  ASSERT_EQ(w, 320);
  ASSERT_EQ(h, 220);
  XImage* img = XGetImage(input->Dpy(), XWin(), 0, 0, static_cast<unsigned>(w),
                          static_cast<unsigned>(h), AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  int32_t stride = plat::DibStride(w, 24);
  int mismatches = 0;
  std::set<uint32_t> colours;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* p = px.data() + y * stride + x * 3;
      unsigned long xp = XGetPixel(img, x, y);
      uint32_t want = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
      colours.insert(want);
      if ((xp & 0xFFFFFF) != want) ++mismatches;
    }
  }
  XDestroyImage(img);
  if (const char* dump = std::getenv("VEXA_GUI_DUMP")) {
    FILE* f = std::fopen(dump, "wb");
    std::fprintf(f, "P6 %d %d 255\n", w, h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = px.data() + y * stride + x * 3;
        std::fputc(p[2], f);
        std::fputc(p[1], f);
        std::fputc(p[0], f);
      }
    std::fclose(f);
  }
  EXPECT_EQ(mismatches, 0);
  // The store holds the composed controls, not a blank surface.
  EXPECT_GT(colours.size(), 4u);
  // The selected row is highlighted across the whole row (right of the
  // second column's text).
  plat::HDC sdc = plat::GetDC(0);
  plat::SelectObject(sdc, plat::GetStockObject(plat::DEFAULT_GUI_FONT));
  plat::TEXTMETRIC tm;
  plat::GetTextMetrics(sdc, &tm);
  plat::ReleaseDC(0, sdc);
  int lh = tm.tmHeight + 2;
  int rowY = 50 + 2 + (lh + 4) + lh + lh / 2;
  const uint8_t* sel = px.data() + rowY * stride + (160 + 2 + 95) * 3;
  EXPECT_EQ(plat::RGB(sel[2], sel[1], sel[0]), plat::GetSysColor(plat::COLOR_HIGHLIGHT));
}

}  // namespace
