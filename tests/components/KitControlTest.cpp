// labels: unit
// The library's control bases: bounds-change kinds, mouse enter and exit on
// enabled and disabled controls, the Transparent switch of graphic controls,
// focus events that arrive after the focus change, background painting, the
// form-component lookup.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "components/KitBaseGraphicControl.h"
#include "components/KitApplication.h"
#include "components/KitCustomControl.h"
#include "components/kitshared.h"
#include "framework/Forms.h"
#include "tests/support/Pixels.h"
#include "tests/support/TestSession.h"

using namespace vexa;
using fw::TColor;

namespace {

using vexa::test::Px;
using vexa::test::Surface;

class CountingGraphic : public TKitBaseGraphicControl {
public:
  using TKitBaseGraphicControl::TKitBaseGraphicControl;
  int repaints = 0;
  int paints = 0;
  void WndProc(fw::TMessage& m) override {
    if (m.Msg == CM_KITREPAINT) ++repaints;
    TKitBaseGraphicControl::WndProc(m);
  }
  void Paint() override {
    if (!CanvasBound()) return;
    ++paints;
    FillClientArea();
  }
};

// A windowed control that shows its ancestors' background.
class SeeThroughControl : public TKitCustomControl {
public:
  explicit SeeThroughControl(fw::TComponent* AOwner) : TKitCustomControl(AOwner) {
    FTransparent = true;
  }
};

}  // namespace

TEST(KitControlTest, BoundsChangeKinds) {
  TKitControl c(nullptr);
  std::vector<int> kinds;
  c.OnBoundsChange = [&](fw::TObject* s, uint8_t k) {
    EXPECT_EQ(s, &c);
    kinds.push_back(k);
  };
  c.SetBounds(0, 0, 0, 0);
  c.SetBounds(5, 0, 0, 0);
  c.SetBounds(5, 0, 10, 0);
  c.SetBounds(6, 7, 11, 12);
  c.SetBounds(6, 7, 11, 12);
  EXPECT_EQ(kinds, (std::vector<int>{2, 1, 3}));
  c.BeginLoading();
  c.SetBounds(0, 0, 1, 1);
  c.EndLoading();
  EXPECT_EQ(kinds.size(), 3u);
}

TEST(KitControlTest, MouseEnterAndExitOnDisabledControls) {
  vexa::test::TestSession session;
  TKitBaseGraphicControl g(nullptr);
  int ge = 0, gx = 0;
  g.OnMouseEnter = [&](fw::TObject*) { ++ge; };
  g.OnMouseExit = [&](fw::TObject*) { ++gx; };
  g.Perform(fw::CM_MOUSEENTER, 0, 0);
  g.Perform(fw::CM_MOUSELEAVE, 0, 0);
  g.SetEnabled(false);
  g.Perform(fw::CM_MOUSEENTER, 0, 0);
  g.Perform(fw::CM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(ge, 1);
  EXPECT_EQ(gx, 1);

  TKitCustomControl w(nullptr);
  int we = 0, wx = 0;
  w.OnMouseEnter = [&](fw::TObject*) { ++we; };
  w.OnMouseExit = [&](fw::TObject*) { ++wx; };
  w.SetEnabled(false);
  w.Perform(fw::CM_MOUSEENTER, 0, 0);
  EXPECT_TRUE(w.MouseInside());
  w.Perform(fw::CM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(w.MouseInside());
  EXPECT_EQ(we, 1);
  EXPECT_EQ(wx, 1);
}

TEST(KitControlTest, GraphicControlDefaultsAndTransparentSwitch) {
  CountingGraphic g(nullptr);
  EXPECT_EQ(g.Width(), 30);
  EXPECT_EQ(g.Height(), 30);
  EXPECT_TRUE(g.Transparent());
  EXPECT_FALSE(g.ControlStyle().Contains(fw::csOpaque));
  EXPECT_TRUE(g.ControlStyle().Contains(fw::csReplicatable));

  g.SetTransparent(true);
  EXPECT_EQ(g.repaints, 0);
  // An opaque control bound to a surface paints at once.
  auto s = Surface(30, 30);
  g.Canvas()->SetHandle(s->Canvas()->Handle());
  g.SetColor(fw::clRed);
  g.SetTransparent(false);
  EXPECT_EQ(g.repaints, 1);
  EXPECT_EQ(g.paints, 1);
  EXPECT_TRUE(g.ControlStyle().Contains(fw::csOpaque));
  EXPECT_EQ(Px(s.get(), 29, 29), fw::clRed);
  // A transparent one only asks for a paint.
  g.SetTransparent(true);
  EXPECT_EQ(g.repaints, 2);
  EXPECT_EQ(g.paints, 1);
  EXPECT_TRUE(g.NeedsPaint());
  g.Canvas()->SetHandle(0);
  EXPECT_FALSE(g.ParentBackAvailable());
}

TEST(KitControlTest, PaintOnPlacesTheControlInItsParentSurface) {
  CountingGraphic g(nullptr);
  g.SetBounds(3, 2, 4, 4);
  g.SetColor(fw::clBlue);
  auto s = Surface(10, 10);
  g.PaintOn(s->Canvas()->Handle());
  EXPECT_EQ(Px(s.get(), 2, 2), 0xFFFFFF);
  EXPECT_EQ(Px(s.get(), 3, 2), fw::clBlue);
  EXPECT_EQ(Px(s.get(), 6, 5), fw::clBlue);
  EXPECT_EQ(Px(s.get(), 7, 5), 0xFFFFFF);

  // At design time the base draws the dashed outline only.
  TKitBaseGraphicControl d(nullptr);
  d.SetDesigning(true);
  auto t = Surface(30, 30);
  d.PaintOn(t->Canvas()->Handle());
  EXPECT_EQ(Px(t.get(), 0, 0), fw::clBlack);
  EXPECT_EQ(Px(t.get(), 15, 15), 0xFFFFFF);
}

TEST(KitControlTest, WindowedControlDefaultsAndBackground) {
  vexa::test::TestSession session;
  TKitCustomControl w(nullptr);
  EXPECT_EQ(w.Width(), 100);
  EXPECT_EQ(w.Height(), 40);
  EXPECT_FALSE(w.TabStop());
  EXPECT_FALSE(w.UseBackBitmap());
  EXPECT_EQ(w.GetBackBitmap(), nullptr);
  EXPECT_EQ(w.MapToBackground(fw::Point(4, 5)), fw::Point(4, 5));
  w.SetColor(fw::clLime);
  auto s = Surface(100, 40);
  w.PaintOn(s->Canvas()->Handle());
  EXPECT_EQ(Px(s.get(), 0, 0), fw::clLime);
  EXPECT_EQ(Px(s.get(), 99, 39), fw::clLime);
  // Erasing is the framework's while there is no background bitmap.
  w.HandleNeeded();
  EXPECT_EQ(w.Perform(plat::WM_ERASEBKGND, 0, 0), 0);
}

TEST(KitControlTest, FocusEventsArriveAfterTheFocusChange) {
  vexa::test::TestSession session;
  TKitCustomControl w(nullptr);
  w.HandleNeeded();
  std::vector<int> events;
  w.OnSetFocus = [&](fw::TObject* s) {
    EXPECT_EQ(s, &w);
    events.push_back(1);
  };
  w.OnKillFocus = [&](fw::TObject*) { events.push_back(2); };
  w.Perform(plat::WM_SETFOCUS, 0, 0);
  EXPECT_TRUE(w.HasFocus());
  EXPECT_TRUE(events.empty());
  w.Perform(plat::WM_KILLFOCUS, 0, 0);
  EXPECT_FALSE(w.HasFocus());
  EXPECT_TRUE(events.empty());
  fw::Application->ProcessMessages();
  EXPECT_EQ(events, (std::vector<int>{1, 2}));
}

TEST(KitControlTest, IndexOfComponentClass) {
  vexa::test::TestSession session;
  fw::TComponent plain(nullptr);
  new TKitControl(&plain);
  EXPECT_EQ(IndexOfComponentClass(&plain, KitClassOf<TKitControl>), -1);
  EXPECT_EQ(IndexOfComponentClass(nullptr, KitClassOf<TKitControl>), -1);
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  new fw::TComponent(form);
  new TKitBaseGraphicControl(form);
  EXPECT_EQ(IndexOfComponentClass(form, KitClassOf<TKitControl>), 1);
  EXPECT_EQ(IndexOfComponentClass(form, KitClassOf<TKitCustomControl>), -1);
  EXPECT_EQ(IndexOfComponentClass(form, nullptr), -1);
  fw::Free(form);
}

namespace {
// Writes one "Internal" value the way a form stream holds it.
struct InternalValue {
  std::string text;
  void DefineProperties(TKitFiler* f) {
    f->DefineProperty("Internal", nullptr, [this](TKitWriter* w) { w->WriteString(text); }, true);
  }
};

fw::TMemoryStream* StoredInternal(fw::TMemoryStream& s, const std::string& text) {
  InternalValue v{text};
  TKitWriter w(&s);
  w.WriteProperties(&v);
  s.SetPosition(0);
  return &s;
}
}  // namespace

TEST(KitControlTest, ImageListLinkAndStoredSharedReference) {
  vexa::test::TestSession session;
  TKitBaseGraphicControl g(nullptr);
  {
    fw::TMemoryStream s;
    TKitReader r(StoredInternal(s, "KITXML30"));
    r.ReadProperties(&g);
    EXPECT_EQ(g.ImageList(), nullptr);
  }
  {
    fw::TMemoryStream s;
    TKitReader r(StoredInternal(s, "KITBML30"));
    r.ReadProperties(&g);
    ASSERT_NE(g.ImageList(), nullptr);
    EXPECT_TRUE(IsSharedList(g.ImageList()));
    // The shared reference is written back under the same name.
    fw::TMemoryStream out;
    TKitWriter w(&out);
    w.WriteProperties(&g);
    EXPECT_GT(out.Size(), 9);
  }
  // A list freed elsewhere is dropped by every control that showed it, and by
  // the alpha blend of its effects; each control's link is registered with the list.
  auto* list = new TKitBitmapList(nullptr);
  TKitCustomControl w(nullptr);
  w.SetImageList(list);
  g.SetImageList(list);
  w.Effects()->AlphaBlend()->SetImageList(list);
  g.Effects()->AlphaBlend()->SetImageList(list);
  EXPECT_TRUE(g.IsGlyphEmpty());
  EXPECT_EQ(list->ChangeLinkCount(), 4);
  fw::Free(list);
  EXPECT_EQ(g.ImageList(), nullptr);
  EXPECT_EQ(w.ImageList(), nullptr);
  EXPECT_EQ(g.Effects()->AlphaBlend()->ImageList(), nullptr);
  EXPECT_EQ(w.Effects()->AlphaBlend()->ImageList(), nullptr);
}

TEST(KitControlTest, PaintWithoutABoundCanvasDrawsIntoTheWindow) {
  vexa::test::TestSession session;
  TKitCustomControl w(nullptr);
  w.SetBounds(0, 0, 20, 10);
  w.SetColor(fw::clLime);
  auto* g = new CountingGraphic(&w);
  g->SetParent(&w);
  g->SetBounds(4, 2, 3, 3);
  g->SetColor(fw::clRed);
  w.HandleNeeded();
  // The display layer's order: the windowed control, then its graphic children.
  w.Paint();
  g->Paint();
  const test::WindowPixels store(w.Handle());
  ASSERT_TRUE(store.Ok);
  ASSERT_EQ(store.Width, 20);
  auto at = [&](int x, int y) { return TColor(store.At(x, y)); };
  EXPECT_EQ(at(0, 0), fw::clLime);
  EXPECT_EQ(at(4, 2), fw::clRed);
  EXPECT_EQ(at(6, 4), fw::clRed);
  EXPECT_EQ(at(7, 4), fw::clLime);
  EXPECT_FALSE(w.Canvas()->HandleAllocated());
}

// New system colours reach every control of the form: opaque windowed
// controls, also nested ones, are drawn again; transparent ones are not.
TEST(KitControlTest, SystemColourChangeRepaintsOpaqueWindowedControls) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  auto* outer = new TKitCustomControl(form);
  outer->SetParent(form);
  outer->SetBounds(0, 0, 200, 100);
  auto* inner = new TKitCustomControl(form);
  inner->SetParent(outer);
  inner->SetBounds(10, 10, 50, 30);
  auto* clear = new SeeThroughControl(form);
  clear->SetParent(outer);
  clear->SetBounds(80, 10, 50, 30);
  form->HandleNeeded();
  for (fw::TControl* c : std::vector<fw::TControl*>{form, outer, inner, clear}) c->ValidatePaint();

  ASSERT_TRUE(form->HandleAllocated());
  plat::SendMessage(form->Handle(), plat::WM_SYSCOLORCHANGE, 0, 0);
  EXPECT_TRUE(outer->NeedsPaint());
  EXPECT_TRUE(inner->NeedsPaint());
  EXPECT_FALSE(clear->NeedsPaint());

  // The control message alone does the same for one control and its children.
  for (fw::TControl* c : std::vector<fw::TControl*>{form, outer, inner, clear}) c->ValidatePaint();
  inner->Perform(fw::CM_SYSCOLORCHANGE, 0, 0);
  EXPECT_TRUE(inner->NeedsPaint());
  EXPECT_FALSE(clear->NeedsPaint());
  fw::Free(form);
}
