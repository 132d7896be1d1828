// labels: unit
// Labels: painting of empty and aligned captions, automatic size with a bevel
// and on a status bar, the twinkle phases and the pool's interval rule, the
// accelerator.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include <memory>
#include <string>

#include "components/KitApplication.h"
#include "components/KitCustomStatusBar.h"
#include "components/KitCustomGlyphLabel.h"
#include "components/KitLabel.h"
#include "components/kitimage.h"
#include "tests/support/Pixels.h"
#include "tests/support/TestSession.h"

using namespace vexa;
using fw::TColor;
using fw::TRect;

namespace {

using namespace vexa::test;

constexpr TColor W = 0xFFFFFF;

class GapBar : public TKitCustomStatusBar {
public:
  using TKitCustomStatusBar::TKitCustomStatusBar;
  int32_t GetControlGap() override { return 3; }
};

// A red caption on a label owned by the test.
std::unique_ptr<TKitLabel> RedLabel(const std::string& caption) {
  auto l = std::make_unique<TKitLabel>(nullptr);
  l->Font()->SetColor(fw::clRed);
  l->SetCaption(caption);
  return l;
}

}  // namespace

TEST(KitLabelTest, EmptyTransparentLabelPaintsOnlyTheDesignOutline) {
  TKitLabel l(nullptr);
  l.SetAutoSize(false);
  l.SetBounds(0, 0, 12, 10);
  auto s = Surface(12, 10);
  l.PaintOn(s->Canvas()->Handle());
  EXPECT_EQ(Count(s.get(), W), 120);
  l.SetDesigning(true);
  l.PaintOn(s->Canvas()->Handle());
  EXPECT_EQ(Px(s.get(), 0, 0), fw::clBlack);
  EXPECT_EQ(Px(s.get(), 6, 5), W);
  // With a bevel the label is not empty any more.
  l.SetDesigning(false);
  l.Bevel()->SetStyleOuter(bvRaised);
  EXPECT_FALSE(l.IsEmptyTransparent());
}

TEST(KitLabelTest, AutoSizeWithBevelAndOnAStatusBar) {
  auto plain = RedLabel("Hi");
  const int w0 = plain->Width(), h0 = plain->Height();
  {
    fw::TCanvas c;
    plat::HDC dc = plat::GetDC(0);
    c.SetHandle(dc);
    c.SetFont(plain->Font());
    EXPECT_EQ(w0, c.TextWidth("Hi") + 2);
    EXPECT_EQ(h0, c.TextHeight("Hi") + 2);
    c.SetHandle(0);
    plat::ReleaseDC(0, dc);
  }
  auto bevelled = RedLabel("Hi");
  bevelled->Bevel()->SetStyleOuter(bvLowered);
  ASSERT_EQ(bevelled->Bevel()->Extent(), 1);
  EXPECT_EQ(bevelled->Width(), w0 + 2);
  EXPECT_EQ(bevelled->Height(), h0 + 2);

  // On a status bar the label keeps the bar's gap: 3 pixels wider, text 3 further right.
  GapBar bar(nullptr);
  auto* onBar = new TKitLabel(&bar);
  onBar->Font()->SetColor(fw::clRed);
  onBar->SetCaption("Hi");
  onBar->SetParent(&bar);
  onBar->AdjustLabelBounds();
  EXPECT_EQ(onBar->Width(), w0 + 3);
  auto a = Surface(40, 20);
  auto b = Surface(40, 20);
  plain->PaintOn(a->Canvas()->Handle());
  onBar->PaintOn(b->Canvas()->Handle());
  TRect ra = Box(a.get(), fw::clRed), rb = Box(b.get(), fw::clRed);
  ASSERT_GT(ra.Width(), 0);
  EXPECT_EQ(rb, (TRect{ra.Left + 3, ra.Top, ra.Right + 3, ra.Bottom}));
}

TEST(KitLabelTest, CentredSingleLineCaption) {
  auto l = RedLabel("Hi");
  l->SetAutoSize(false);
  l->SetBounds(0, 0, 60, 40);
  l->SetAlignment(agCenter);
  auto s = Surface(60, 40);
  l->PaintOn(s->Canvas()->Handle());
  TRect r = Box(s.get(), fw::clRed);
  ASSERT_GT(r.Width(), 0);
  EXPECT_LE(std::abs(r.Left - (60 - r.Right)), 1);
  EXPECT_LE(std::abs(r.Top - (40 - r.Bottom)), 4);
  EXPECT_GT(r.Top, 10);
  // Top-left puts it in the corner.
  l->SetAlignment(agTopLeft);
  auto t = Surface(60, 40);
  l->PaintOn(t->Canvas()->Handle());
  EXPECT_LT(Box(t.get(), fw::clRed).Top, 5);
  EXPECT_LT(Box(t.get(), fw::clRed).Left, 3);
}

TEST(KitLabelTest, TwinklePhasesAndColours) {
  vexa::test::TestSession session;
  auto l = RedLabel("Hi");
  l->SetTwinkleVisible(700);
  l->SetTwinkleInVisible(300);
  l->SetTwinkle(true);
  ASSERT_GE(l->TwinkleTimer(), 0);
  TKitTimerItem* item = KitApplication->GetTimer(uint16_t(l->TwinkleTimer()));
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(item->Enabled());
  EXPECT_EQ(item->Interval(), 700);
  EXPECT_TRUE(l->TwinkleShown());

  l->TwinkleTick();
  EXPECT_FALSE(l->TwinkleShown());
  EXPECT_EQ(item->Interval(), 300);
  auto hidden = Surface(30, 20);
  l->PaintOn(hidden->Canvas()->Handle());
  EXPECT_EQ(Count(hidden.get(), fw::clRed), 0);
  EXPECT_EQ(Count(hidden.get(), W), 600);
  l->SetTwinkleColor(fw::clBlue);
  l->PaintOn(hidden->Canvas()->Handle());
  EXPECT_GT(Count(hidden.get(), fw::clBlue), 0);

  // Every phase lasts its own interval, the first shown one and all later
  // ones alike: shown TwinkleVisible, hidden TwinkleInVisible. A new value
  // counts from the next phase change.
  std::vector<std::pair<bool, int>> phases;
  for (int i = 0; i < 4; ++i) {
    l->TwinkleTick();
    phases.push_back({l->TwinkleShown(), item->Interval()});
  }
  EXPECT_EQ(phases, (std::vector<std::pair<bool, int>>{
                        {true, 700}, {false, 300}, {true, 700}, {false, 300}}));
  l->SetTwinkleVisible(500);
  EXPECT_EQ(item->Interval(), 300);
  l->TwinkleTick();
  EXPECT_TRUE(l->TwinkleShown());
  EXPECT_EQ(item->Interval(), 500);
  l->TwinkleTick();
  EXPECT_FALSE(l->TwinkleShown());

  // Off during the hidden phase: shown again at once, the timer given back.
  const uint16_t ident = uint16_t(l->TwinkleTimer());
  l->SetTwinkle(false);
  EXPECT_TRUE(l->TwinkleShown());
  EXPECT_EQ(l->TwinkleTimer(), -1);
  EXPECT_EQ(KitApplication->GetTimer(ident), nullptr);
  auto shown = Surface(30, 20);
  l->PaintOn(shown->Canvas()->Handle());
  EXPECT_GT(Count(shown.get(), fw::clRed), 0);

  // An interval the pool cannot serve is refused out of the setter.
  auto odd = RedLabel("x");
  odd->SetTwinkleVisible(725);
  try {
    odd->SetTwinkle(true);
    FAIL() << "no error";
  } catch (const fw::Exception& e) {
    EXPECT_STREQ(e.what(), "Interval not compatible with MinInterval property!");
  }
  EXPECT_TRUE(odd->Twinkle());
  EXPECT_EQ(odd->TwinkleTimer(), -1);
  odd->SetTwinkle(false);
  EXPECT_TRUE(odd->TwinkleShown());

  // A label freed while twinkling gives its timer back.
  auto gone = RedLabel("y");
  gone->SetTwinkle(true);
  const uint16_t goneIdent = uint16_t(gone->TwinkleTimer());
  gone.reset();
  EXPECT_EQ(KitApplication->GetTimer(goneIdent), nullptr);
}

TEST(KitLabelTest, AcceleratorAndPlainAmpersand) {
  vexa::test::TestSession session;
  auto* target = new TKitCustomControl(nullptr);
  auto l = RedLabel("&Name");
  l->SetFocusControl(target);
  EXPECT_FALSE(l->DialogChar('x'));
  EXPECT_TRUE(l->DialogChar('N'));
  EXPECT_TRUE(target->Focused());
  const int withAccel = l->Width();
  l->SetShowAccelChar(false);
  EXPECT_FALSE(l->DialogChar('n'));
  l->AdjustLabelBounds();
  EXPECT_GT(l->Width(), withAccel);  // the "&" is drawn as a character
  fw::Free(target);
  EXPECT_EQ(l->FocusControl(), nullptr);
}

TEST(KitLabelTest, GlyphLabelSizesAndPaintsPictureAndText) {
  vexa::test::TestSession session;
  TKitBitmapList list(nullptr);
  auto* item = new TKitBitmapListItem(nullptr);
  list.AddItem(item);
  auto pic = Surface(6, 5);
  pic->Canvas()->Brush()->SetColor(fw::clBlue);
  pic->Canvas()->FillRect(TRect{0, 0, 6, 5});
  pic->Canvas()->SetPixels(0, 4, W);  // the picture's transparent colour
  item->SetBitmap(pic.get());

  TKitCustomGlyphLabel l(nullptr);
  l.Font()->SetColor(fw::clRed);
  l.SetCaption("Hi");
  const int textOnly = l.Width();
  EXPECT_TRUE(l.IsGlyphEmpty());
  l.SetImageList(&list);
  ASSERT_FALSE(l.IsGlyphEmpty());
  // The picture's width joins the text's (which holds the spacing already).
  EXPECT_EQ(l.Width(), textOnly + 6);
  auto s = Surface(l.Width(), l.Height());
  l.PaintOn(s->Canvas()->Handle());
  TRect glyph = Box(s.get(), fw::clBlue), text = Box(s.get(), fw::clRed);
  EXPECT_EQ(glyph.Width(), 6);
  EXPECT_EQ(glyph.Height(), 5);
  ASSERT_GT(text.Width(), 0);
  EXPECT_GE(text.Left, glyph.Right);
  l.SetImageList(nullptr);
}
