// labels: unit
// The status bar: what it paints in the old and new styles, which panels a
// text, size or gap change repaints, the last panel reaching the right edge,
// the size grip, panel clicks and panel controls.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "components/KitLabel.h"
#include "components/KitStatusBar.h"
#include "framework/ControlPaint.h"
#include "framework/Forms.h"
#include "platform/display/Display.h"
#include "tests/support/AppPump.h"
#include "tests/support/Pixels.h"
#include "tests/support/TestSession.h"

using namespace vexa;
using fw::TColor;
using fw::TRect;

namespace {

using vexa::test::Count;
using vexa::test::Px;

constexpr TColor M = 0xFF00FF;

TColor Sys(int i) { return TColor(plat::GetSysColor(i)); }

// A bar bound to a bitmap of its size, as its window surface.
struct BarOnSurface {
  explicit BarOnSurface(fw::TComponent* owner, int w = 200) : bar(new TKitStatusBar(owner)) {
    bar->SetBounds(0, 0, w, 19);
    surface.SetPixelFormat(fw::pf24bit);
    surface.SetSize(w, 19);
    bar->Canvas()->SetHandle(surface.Canvas()->Handle());
  }
  ~BarOnSurface() {
    bar->Canvas()->SetHandle(0);
    if (!bar->Owner()) fw::Free(bar);
  }
  void Wipe() {
    surface.Canvas()->Brush()->SetColor(M);
    surface.Canvas()->FillRect(TRect{0, 0, surface.Width(), 19});
  }
  TKitStatusPanel* AddPanel(int size, const std::string& text = "") {
    TKitStatusPanel* p = bar->Panels()->Add();
    p->SetSize(size);
    p->Font()->SetColor(fw::clRed);
    p->SetText(text);
    return p;
  }
  TKitStatusBar* bar;
  fw::TBitmap surface;
};

}  // namespace

TEST(KitStatusBarTest, OldStyleShowsNoPanelTexts) {
  vexa::test::TestSession session;
  BarOnSurface s(nullptr);
  EXPECT_TRUE(s.bar->OldStyle());
  EXPECT_EQ(s.bar->Align(), fw::alBottom);
  EXPECT_EQ(s.bar->Height(), 19);
  EXPECT_EQ(s.bar->GetControlGap(), 3);
  s.AddPanel(80, "Clients: 5");
  s.bar->Paint();
  EXPECT_EQ(Count(&s.surface, fw::clRed, TRect{0, 0, 200, 19}), 0);
  // The grip sits in the bottom-right corner, also without an owner form.
  EXPECT_GT(Count(&s.surface, Sys(plat::COLOR_BTNSHADOW), TRect{187, 6, 200, 19}), 5);
  s.bar->SetOldStyle(false);
  s.bar->Paint();
  EXPECT_GT(Count(&s.surface, fw::clRed, TRect{0, 0, 84, 19}), 0);
  // Without an owner form the new style draws no grip.
  EXPECT_EQ(Count(&s.surface, Sys(plat::COLOR_BTNSHADOW), TRect{187, 6, 197, 17}), 0);
}

TEST(KitStatusBarTest, TextChangesRepaintOnlyTheirPanel) {
  vexa::test::TestSession session;
  BarOnSurface s(nullptr);
  s.bar->SetOldStyle(false);
  s.bar->SetSizeGrip(false);
  TKitStatusPanel* first = s.AddPanel(60);
  s.AddPanel(60);
  TKitStatusPanel* last = s.AddPanel(50);
  s.bar->Paint();
  EXPECT_EQ(s.bar->PanelArea(), (TRect{1, 1, 199, 18}));

  s.Wipe();
  first->SetText("");  // unchanged
  EXPECT_EQ(Count(&s.surface, M, TRect{0, 0, 200, 19}), 200 * 19);
  first->SetText("A");
  // Panel 0 spans x 4..63; the rest stays as it was.
  EXPECT_EQ(Count(&s.surface, M, TRect{4, 1, 64, 18}), 0);
  EXPECT_GT(Count(&s.surface, fw::clRed, TRect{4, 1, 64, 18}), 0);
  EXPECT_EQ(Count(&s.surface, M, TRect{64, 0, 200, 19}), 136 * 19);

  // The last panel repaints the whole bar, and so do size and gap changes.
  s.Wipe();
  last->SetText("B");
  EXPECT_EQ(Count(&s.surface, M, TRect{0, 0, 200, 19}), 0);
  s.Wipe();
  first->SetSize(61);
  EXPECT_EQ(Count(&s.surface, M, TRect{0, 0, 200, 19}), 0);
  s.Wipe();
  first->SetLeft(4);
  EXPECT_EQ(Count(&s.surface, M, TRect{0, 0, 200, 19}), 0);
}

TEST(KitStatusBarTest, LastPanelReachesTheRightEdge) {
  vexa::test::TestSession session;
  BarOnSurface s(nullptr);
  s.bar->SetOldStyle(false);
  s.bar->SetSizeGrip(false);
  s.AddPanel(20);
  const TColor hl = Sys(plat::COLOR_BTNHIGHLIGHT), sh = Sys(plat::COLOR_BTNSHADOW);
  s.bar->Paint();
  // The single lowered border: shadow at the panel's left, highlight at its right edge.
  EXPECT_EQ(Px(&s.surface, 4, 5), sh);
  EXPECT_EQ(Px(&s.surface, 198, 5), hl);
  s.bar->SetAutoSizeLastPanel(false);
  s.bar->Paint();
  EXPECT_EQ(Px(&s.surface, 23, 5), hl);
  EXPECT_NE(Px(&s.surface, 198, 5), hl);
}

TEST(KitStatusBarTest, PanelClicks) {
  vexa::test::TestSession session;
  BarOnSurface s(nullptr, 500);
  s.bar->SetOldStyle(false);
  s.AddPanel(175);
  s.AddPanel(150);
  std::vector<int> clicks;
  int downs = 0;
  s.bar->OnPanelClick = [&](fw::TObject* sender, int32_t nr) {
    EXPECT_EQ(sender, s.bar);
    clicks.push_back(nr);
  };
  s.bar->OnMouseDown = [&](fw::TObject*, fw::TMouseButton, fw::TShiftState, int, int) { ++downs; };
  for (int x : {100, 200, 400, 175}) s.bar->Perform(plat::WM_LBUTTONDOWN, 0, (5 << 16) | x);
  EXPECT_EQ(clicks, (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(downs, 0);
  s.bar->SetOldStyle(true);
  s.bar->Perform(plat::WM_LBUTTONDOWN, 0, 10);
  EXPECT_EQ(clicks.size(), 3u);
}

TEST(KitStatusBarTest, GripFollowsTheOwnerFormsState) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  {
    BarOnSurface s(form);
    s.bar->SetOldStyle(false);
    s.bar->Paint();
    const TColor sh = Sys(plat::COLOR_BTNSHADOW);
    EXPECT_GT(Count(&s.surface, sh, TRect{185, 4, 199, 18}), 5);
    form->SetWindowState(fw::wsMaximized);
    s.Wipe();
    s.bar->Paint();
    EXPECT_EQ(Count(&s.surface, sh, TRect{185, 4, 199, 18}), 0);
  }
  fw::Free(form);
}

TEST(KitStatusBarTest, ControlGapAndPanelControls) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  auto* bar = new TKitStatusBar(form);
  bar->SetParent(form);
  auto* label = new TKitLabel(form);
  label->SetCaption("Hi");
  label->SetParent(bar);
  label->AdjustLabelBounds();
  const int w = label->Width();
  bar->SetControlGap(10);
  EXPECT_EQ(label->Width(), w + 7);

  TKitStatusPanel* p = bar->Panels()->Add();
  const int before = bar->ControlCount();
  p->SetStyle(spPanel);
  ASSERT_NE(p->PanelControl(), nullptr);
  EXPECT_EQ(p->PanelControl()->Parent(), bar);
  EXPECT_EQ(p->PanelControl()->Owner(), form);
  EXPECT_FALSE(p->PanelControl()->Visible());
  EXPECT_EQ(p->BarPanelId(), before + 2);
  EXPECT_EQ(p->PanelControl()->BarPanelId(), p->BarPanelId());
  // A control freed from outside leaves its panel as a text panel.
  fw::Free(p->PanelControl());
  EXPECT_EQ(p->PanelControl(), nullptr);
  EXPECT_EQ(p->Style(), spText);
  p->SetStyle(spPanel);
  ASSERT_NE(p->PanelControl(), nullptr);
  p->SetStyle(spText);
  EXPECT_EQ(p->PanelControl(), nullptr);
  EXPECT_EQ(bar->ControlCount(), before);
  p->SetStyle(spPanel);
  fw::Free(form);  // the bar and its panel control go with the form
}

namespace {
int StoreCount(fw::HWND h, TColor c, TRect r) {
  const test::WindowPixels store(h);
  int n = 0;
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x) n += TColor(store.At(x, y)) == c;
  return n;
}
}  // namespace

TEST(KitStatusBarTest, DisplayLayerPaintsTheBarAndALabel) {
  vexa::test::TestSession session;
  unsetenv("DISPLAY");
  ASSERT_FALSE(fw::InitApplicationDisplay());  // headless: the same painting, no X server
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  form->SetBounds(0, 0, 240, 120);
  auto* bar = new TKitStatusBar(form);
  bar->SetParent(form);
  bar->SetOldStyle(false);
  TKitStatusPanel* p = bar->Panels()->Add();
  p->SetSize(100);
  p->Font()->SetColor(fw::clRed);
  p->SetText("Clients: 5");
  auto* label = new TKitLabel(form);
  label->SetParent(form);
  label->SetBounds(10, 10, 0, 0);
  label->Font()->SetColor(fw::clBlue);
  label->SetCaption("Notification messages");
  form->Show();
  const TRect panel{4, 1, 104, 18};
  // The display paints from the loop.
  EXPECT_TRUE(
      test::ScreenPumpUntil([&] { return StoreCount(bar->Handle(), fw::clRed, panel) > 0; }));
  const TRect l{label->Left(), label->Top(), label->Left() + label->Width(),
                label->Top() + label->Height()};
  EXPECT_TRUE(test::ScreenPumpUntil([&] { return StoreCount(form->Handle(), fw::clBlue, l) > 0; }));
  // A new text reaches the window.
  p->SetText("");
  EXPECT_TRUE(
      test::ScreenPumpUntil([&] { return StoreCount(bar->Handle(), fw::clRed, panel) == 0; }));
  fw::Free(form);
  plat::ShutdownDisplay();
}

// One size change fires OnResize once, whether it comes as the window's own
// WM_SIZE, from SetBounds or from the form realigning the docked bar.
TEST(KitStatusBarTest, OneSizeChangeFiresOnResizeOnce) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  form->SetBounds(0, 0, 300, 200);
  auto* bar = new TKitStatusBar(form);
  bar->SetParent(form);
  bar->HandleNeeded();
  ASSERT_TRUE(bar->HandleAllocated());
  int resized = 0;
  bar->OnResize = [&](fw::TObject* s) {
    EXPECT_EQ(s, bar);
    ++resized;
  };
  // The docked bar keeps the form's width: its height is what may change.
  const int w = bar->Width();
  plat::MoveWindow(bar->Handle(), bar->Left(), bar->Top(), w, 25, true);
  EXPECT_EQ(resized, 1);
  EXPECT_EQ(bar->Height(), 25);

  resized = 0;
  bar->SetBounds(bar->Left(), bar->Top(), w, 21);
  EXPECT_EQ(resized, 1);
  EXPECT_EQ(bar->Height(), 21);

  resized = 0;
  bar->SetBounds(bar->Left(), bar->Top(), w, 21);  // same size: nothing
  EXPECT_EQ(resized, 0);

  resized = 0;
  form->SetBounds(0, 0, 360, 200);
  EXPECT_EQ(resized, 1);
  EXPECT_EQ(bar->Width(), form->ClientWidth());
  fw::Free(form);
}
