// labels: unit
// Painting and input of the framework's controls with the headless display:
// what lands in the form's store and what mouse and keys do.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "framework/ComCtrls.h"
#include "framework/ControlPaint.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"
#include "tests/support/AppPump.h"
#include "tests/support/Pixels.h"
#include "tests/support/TestSession.h"

namespace {

using namespace fw;

struct Painted : ::testing::Test {
  vexa::test::TestSession session;
  TForm* form = nullptr;
  int lh = 0;

  void SetUp() override {
    unsetenv("DISPLAY");
    Application->Initialize();
    ASSERT_FALSE(DisplayAvailable());
    ASSERT_TRUE(ControlPaintActive());
    form = CreateFormOf<TForm>(nullptr);
    form->SetBounds(0, 0, 300, 200);
    plat::HDC dc = plat::GetDC(0);
    plat::SelectObject(dc, plat::GetStockObject(plat::DEFAULT_GUI_FONT));
    plat::TEXTMETRIC tm;
    plat::GetTextMetrics(dc, &tm);
    plat::ReleaseDC(0, dc);
    lh = tm.tmHeight + 2;
  }
  void TearDown() override {
    if (form) Free(form);
    plat::ShutdownDisplay();
  }
  void Show() {
    form->Show();
    Settle();
  }
  // Handles what is posted, then paints and composes.
  static void Settle() {
    for (int i = 0; i < 5; ++i) vexa::test::ScreenTurn();
  }
  plat::COLORREF Pixel(int x, int y) { return vexa::test::StorePixel(form->Handle(), x, y); }
  // The right-most text pixel in a band of rows, -1 for none.
  int TextRight(int x0, int x1, int y0, int y1) {
    int right = -1;
    const vexa::test::WindowPixels store(form->Handle());  // one copy for the whole band
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (store.At(x, y) == plat::GetSysColor(plat::COLOR_WINDOWTEXT)) right = std::max(right, x);
    return right;
  }
};

TEST_F(Painted, AMemoFollowsItsLastLineAndTheWheelScrollsIt) {
  auto* memo = new TMemo(form);
  memo->SetParent(form);
  memo->SetBounds(10, 10, 220, 4 + 5 * lh);  // five lines show
  memo->SetScrollBars(ssVertical);
  // Line i is i + 1 letters long, so a line's width tells which it is.
  for (int i = 0; i < 5; ++i) memo->Lines()->Add(std::string(static_cast<size_t>(i + 1), 'W'));
  Show();
  int oneW = TextRight(12, 210, 12, 12 + lh) - 12;
  ASSERT_GT(oneW, 0);
  for (int i = 5; i < 20; ++i) memo->Lines()->Add(std::string(static_cast<size_t>(i + 1), 'W'));
  Settle();
  // Lines 15..19 show: the first row holds sixteen letters.
  int first = TextRight(12, 210, 12, 12 + lh) - 12;
  int last = TextRight(12, 210, 12 + 4 * lh, 12 + 5 * lh) - 12;
  EXPECT_GT(first, 12 * oneW);
  EXPECT_GT(last, first);
  // One notch up shows three lines earlier (line 12, thirteen letters, on top).
  plat::SetFocus(memo->Handle());
  plat::DeliverMouse(form->Handle(), plat::MouseAction::Wheel, 0, 50, 30, 0, plat::WHEEL_DELTA, 1000);
  Settle();
  int after = TextRight(12, 210, 12, 12 + lh) - 12;
  EXPECT_LT(after, first);
  EXPECT_GT(after, 10 * oneW);
  // A click on the lower half of the scroll bar pages down, back to the end.
  plat::DeliverMouse(form->Handle(), plat::MouseAction::Down, 0, 10 + 220 - 6, 10 + 4 * lh, 0, 0, 5000);
  plat::DeliverMouse(form->Handle(), plat::MouseAction::Up, 0, 10 + 220 - 6, 10 + 4 * lh, 0, 0, 5010);
  Settle();
  EXPECT_EQ(TextRight(12, 210, 12, 12 + lh) - 12, first);
  // The arrow buttons at the ends of the bar scroll by one line: up puts
  // line 14 on top (between lines 12 and 15), down brings line 15 back.
  const int barX = 10 + 220 - 8, memoBottom = 10 + 4 + 5 * lh;
  for (int y : {10 + 6, memoBottom - 6}) {
    plat::DeliverMouse(form->Handle(), plat::MouseAction::Down, 0, barX, y, 0, 0, 6000 + y * 10);
    plat::DeliverMouse(form->Handle(), plat::MouseAction::Up, 0, barX, y, 0, 0, 6005 + y * 10);
    Settle();
    const int top = TextRight(12, 210, 12, 12 + lh) - 12;
    if (y < 50) {
      EXPECT_LT(top, first);
      EXPECT_GT(top, after);
    } else {
      EXPECT_EQ(top, first);
    }
  }
}

TEST_F(Painted, AListViewSelectsTheRowClickedAcrossTheWholeRow) {
  auto* lv = new TListView(form);
  lv->SetParent(form);
  lv->SetBounds(0, 0, 200, 150);
  lv->SetViewStyle(vsReport);
  lv->SetRowSelect(true);
  lv->Columns()->Add()->SetCaption("A");
  lv->Columns()->Add()->SetCaption("B");
  for (int i = 0; i < 4; ++i) {
    TListItem* it = lv->Items()->Add();
    it->SetCaption("r" + std::to_string(i));
    it->SubItems()->Add("x");
  }
  TListItem* picked = nullptr;
  lv->OnSelectItem = [&](TObject*, TListItem* item, bool selected) {
    if (selected) picked = item;
  };
  Show();
  int rowTop = 2 + (lh + 4);
  plat::DeliverMouse(form->Handle(), plat::MouseAction::Down, 0, 30, rowTop + 2 * lh + 3, 0, 0, 1000);
  plat::DeliverMouse(form->Handle(), plat::MouseAction::Up, 0, 30, rowTop + 2 * lh + 3, 0, 0, 1010);
  Settle();
  ASSERT_EQ(lv->Selected(), lv->Items()->Item(2));
  EXPECT_EQ(picked, lv->Items()->Item(2));
  // Highlighted in the second column too, and not in the row above.
  EXPECT_EQ(Pixel(95, rowTop + 2 * lh + 1), plat::GetSysColor(plat::COLOR_HIGHLIGHT));
  EXPECT_EQ(Pixel(95, rowTop + lh + 1), plat::GetSysColor(plat::COLOR_WINDOW));
  // The arrow keys move the selection.
  plat::DeliverKey(form->Handle(), true, plat::VK_DOWN, 0, false);
  Settle();
  EXPECT_EQ(lv->Selected(), lv->Items()->Item(3));
}

TEST_F(Painted, TabWalksTheTabStopsInTabOrderAndBack) {
  auto* a = new TEdit(form);
  a->SetParent(form);
  auto* panel = new TPanel(form);
  panel->SetParent(form);
  panel->SetBounds(0, 50, 200, 80);
  auto* b = new TButton(panel);
  b->SetParent(panel);
  auto* c = new TEdit(form);
  c->SetParent(form);
  c->SetTop(150);
  auto* hidden = new TEdit(form);
  hidden->SetParent(form);
  hidden->SetVisible(false);
  a->SetTabOrder(2);
  c->SetTabOrder(0);
  // A hidden form has no tab stops.
  EXPECT_EQ(FindNextTabStop(form, nullptr, true), nullptr);
  Show();
  EXPECT_EQ(FindNextTabStop(form, nullptr, true), c);
  EXPECT_EQ(FindNextTabStop(form, c, true), a);
  // The panel is no tab stop, its button is: it comes after the panel's place.
  EXPECT_EQ(FindNextTabStop(form, a, true), b);
  EXPECT_EQ(FindNextTabStop(form, b, true), c);
  EXPECT_EQ(FindNextTabStop(form, c, false), b);
  c->SetFocus();
  plat::DeliverKey(form->Handle(), true, plat::VK_TAB, 9, false);
  Settle();
  EXPECT_EQ(plat::GetFocus(), a->Handle());
  EXPECT_TRUE(a->Focused());
  // Shift+Tab goes back.
  plat::DeliverKey(form->Handle(), true, plat::VK_SHIFT, 0, false);
  plat::DeliverKey(form->Handle(), true, plat::VK_TAB, 9, false);
  plat::DeliverKey(form->Handle(), false, plat::VK_SHIFT, 0, false);
  Settle();
  EXPECT_EQ(plat::GetFocus(), c->Handle());
}

TEST_F(Painted, EditingKeysMoveTheCaretAndDeleteCharacters) {
  auto* e = new TEdit(form);
  e->SetParent(form);
  e->SetMaxLength(6);
  Show();
  e->SetFocus();
  for (char ch : std::string("abcd")) plat::DeliverKey(form->Handle(), true, 0, static_cast<uint32_t>(ch), false);
  plat::DeliverKey(form->Handle(), true, plat::VK_LEFT, 0, false);
  plat::DeliverKey(form->Handle(), true, plat::VK_LEFT, 0, false);
  plat::DeliverKey(form->Handle(), true, plat::VK_BACK, 8, false);   // removes b
  plat::DeliverKey(form->Handle(), true, plat::VK_DELETE, 0, false); // removes c
  plat::DeliverKey(form->Handle(), true, 0, 0x00E9, false);           // two bytes in UTF-8
  plat::DeliverKey(form->Handle(), true, plat::VK_HOME, 0, false);
  plat::DeliverKey(form->Handle(), true, 0, 'X', false);
  Settle();
  EXPECT_EQ(e->Text(), "Xa\xC3\xA9" "d");
  // The length limit holds for typing.
  for (char ch : std::string("123")) plat::DeliverKey(form->Handle(), true, 0, static_cast<uint32_t>(ch), false);
  Settle();
  EXPECT_EQ(e->Text(), "X1a\xC3\xA9" "d");
  // A read-only edit takes no typing.
  e->SetReadOnly(true);
  plat::DeliverKey(form->Handle(), true, 0, 'Z', false);
  Settle();
  EXPECT_EQ(e->Text(), "X1a\xC3\xA9" "d");
}

}  // namespace
