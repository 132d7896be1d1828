// labels: unit
// Panels: the bevel panel's border, window styles and child alignment, and a
// transparent panel drawing its background out of its parent's bitmap.
#include <gtest/gtest.h>

#include <memory>

#include "components/KitCustomBevelPanel.h"
#include "components/KitCustomScrollBox.h"
#include "components/KitCustomStatusBar.h"
#include "tests/support/Pixels.h"
#include "tests/support/TestSession.h"

using namespace vexa;
using fw::TColor;

namespace {

using vexa::test::Px;
using vexa::test::Surface;

class Panel : public TKitCustomBevelPanel {
public:
  using TKitCustomBevelPanel::TKitCustomBevelPanel;
  fw::TCreateParams Params() {
    fw::TCreateParams p;
    CreateParams(p);
    return p;
  }
  void SetTransparentForTest(bool v) { FTransparent = v; }
};

// A parent that supplies a background bitmap: a gradient of known pixels.
class Supplier : public TKitCustomControl {
public:
  explicit Supplier(fw::TComponent* o) : TKitCustomControl(o), back(Surface(40, 30)) {
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) back->Canvas()->SetPixels(x, y, TColor(x | (y << 8)));
  }
  bool HasBackBitmap() override { return true; }
  fw::TBitmap* GetBackBitmap() override { return back.get(); }
  fw::TPoint MapToBackground(fw::TPoint P) override { return fw::Point(P.X + 1, P.Y + 2); }
  std::unique_ptr<fw::TBitmap> back;
};

}  // namespace

TEST(KitCustomBevelPanelTest, EmptyBevelShowsOutlineOnlyAtDesignTime) {
  vexa::test::TestSession session;
  Panel p(nullptr);
  p.SetBounds(0, 0, 10, 8);
  EXPECT_EQ(p.Color(), fw::clBtnFace);
  EXPECT_TRUE(p.ControlStyle().Contains(fw::csAcceptsControls));
  const TColor face = TColor(plat::GetSysColor(plat::COLOR_BTNFACE));
  auto s = Surface(10, 8);
  p.PaintOn(s->Canvas()->Handle());
  EXPECT_EQ(Px(s.get(), 0, 0), face);
  EXPECT_EQ(Px(s.get(), 9, 7), face);
  p.SetDesigning(true);
  p.PaintOn(s->Canvas()->Handle());
  EXPECT_EQ(Px(s.get(), 0, 0), fw::clBlack);
  EXPECT_EQ(Px(s.get(), 5, 4), face);
  EXPECT_EQ(TKitCustomStatusBar(nullptr).GetControlGap(), 0);
}

TEST(KitCustomBevelPanelTest, WindowsModeStylesAndChildAlignment) {
  vexa::test::TestSession session;
  Panel p(nullptr);
  p.SetBounds(0, 0, 50, 30);
  auto* child = new TKitCustomControl(&p);
  child->SetParent(&p);
  child->SetAlign(fw::alClient);
  p.Bevel()->SetMode(bmWindows);
  EXPECT_EQ(p.Bevel()->Extent(), 0);
  EXPECT_EQ(child->BoundsRect(), (fw::TRect{0, 0, 50, 30}));
  EXPECT_TRUE(p.Params().ExStyle & KitWsExClientEdge);
  EXPECT_FALSE(p.Params().Style & plat::WS_BORDER);
  // The window follows a change of Ctl3D.
  p.HandleNeeded();
  EXPECT_TRUE(plat::GetWindowLong(p.Handle(), plat::GWL_EXSTYLE) & KitWsExClientEdge);
  p.SetCtl3D(false);
  EXPECT_FALSE(p.Params().ExStyle & KitWsExClientEdge);
  EXPECT_TRUE(p.Params().Style & plat::WS_BORDER);
  EXPECT_FALSE(plat::GetWindowLong(p.Handle(), plat::GWL_EXSTYLE) & KitWsExClientEdge);

  // A raised outer bevel of width 2 moves the children 2 pixels in from every edge.
  p.Bevel()->SetMode(bmCustom);
  p.Bevel()->SetStyleOuter(bvRaised);
  p.Bevel()->SetWidthOuter(2);
  EXPECT_EQ(child->BoundsRect(), (fw::TRect{2, 2, 48, 28}));
  EXPECT_EQ(p.Params().ExStyle & KitWsExClientEdge, 0u);
}

TEST(KitCustomBevelPanelTest, TransparentPanelDrawsItsParentsBackground) {
  vexa::test::TestSession session;
  Supplier sup(nullptr);
  sup.HandleNeeded();
  auto* p = new Panel(&sup);
  p->SetParent(&sup);
  p->SetBounds(5, 3, 10, 6);
  EXPECT_FALSE(p->HasBackBitmap());  // opaque panels supply nothing
  EXPECT_FALSE(p->UseBackBitmap());
  p->SetTransparentForTest(true);
  ASSERT_TRUE(p->UseBackBitmap());
  // The panel's corner (5, 3) lies at (6, 5) in the background.
  EXPECT_EQ(p->MapToBackground(fw::Point(2, 1)), fw::Point(8, 6));
  auto s = Surface(10, 6);
  p->PaintOn(s->Canvas()->Handle());
  EXPECT_EQ(Px(s.get(), 0, 0), TColor(6 | (5 << 8)));
  EXPECT_EQ(Px(s.get(), 9, 5), TColor(15 | (10 << 8)));
  // With an effect the panel draws the processed background.
  p->Effects()->SetInvert(true);
  auto e = Surface(10, 6);
  p->PaintOn(e->Canvas()->Handle());
  EXPECT_EQ(Px(e.get(), 0, 0), TColor(0xFFFFFF ^ (6 | (5 << 8))));
}

namespace {
class Box : public TKitCustomScrollBox {
public:
  using TKitCustomScrollBox::TKitCustomScrollBox;
  void SetTransparentForTest(bool v) { FTransparent = v; }
};
}  // namespace

TEST(KitCustomBevelPanelTest, ScrollBoxBevelAndBackground) {
  vexa::test::TestSession session;
  Supplier sup(nullptr);
  sup.HandleNeeded();
  auto* box = new Box(&sup);
  box->SetParent(&sup);
  EXPECT_EQ(box->BorderStyle(), fw::bsNone);
  EXPECT_EQ(box->Width(), 185);
  EXPECT_EQ(box->Height(), 41);
  EXPECT_EQ(box->Bevel()->Mode(), bmWindows);
  EXPECT_TRUE(box->Bevel()->WindowBorderSupport());
  EXPECT_EQ(box->ClientRect(), (fw::TRect{0, 0, 185, 41}));
  // A shadow bevel takes 1 pixel at the left and top, 4 at the right and bottom.
  box->Bevel()->SetMode(bmCustom);
  box->Bevel()->SetStyleOuter(bvShadow);
  box->Bevel()->SetWidthOuter(3);
  EXPECT_EQ(box->ClientRect(), (fw::TRect{0, 0, 180, 36}));

  box->Bevel()->SetStyleOuter(bvRaised);
  box->Bevel()->SetWidthOuter(2);
  box->SetBounds(10, 5, 30, 20);
  box->SetTransparentForTest(true);
  ASSERT_TRUE(box->UseBackBitmap());
  // (10, 5) lies at (11, 7) in the background; the client area starts 2 further in.
  EXPECT_EQ(box->MapToBackground(fw::Point(0, 0)), fw::Point(13, 9));
  box->HandleNeeded();
  auto* p = new Panel(box);
  p->SetParent(box);
  p->SetBounds(1, 1, 4, 4);
  p->SetTransparentForTest(true);
  auto s = Surface(4, 4);
  p->PaintOn(s->Canvas()->Handle());
  EXPECT_EQ(Px(s.get(), 0, 0), TColor(14 | (10 << 8)));
  EXPECT_EQ(Px(s.get(), 3, 3), TColor(17 | (13 << 8)));
}
