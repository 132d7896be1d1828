// labels: unit
// Colour lists and palettes, the change protocol of the base classes, the
// property objects and the gradient's stored colour points.
#include <gtest/gtest.h>

#include <vector>

#include "components/Kit3DCaption.h"
#include "components/KitButtonLayout.h"
#include "components/KitCustomComponent.h"
#include "components/KitDraw.h"
#include "components/KitFXCaption.h"
#include "components/KitGlyphTextLayout.h"
#include "components/KitGradient.h"

using namespace vexa;
using fw::TColor;

namespace {

// Counts change events and remembers the last sender.
struct Counter {
  int count = 0;
  fw::TObject* sender = nullptr;
  fw::TNotifyEvent Handler() {
    return [this](fw::TObject* s) {
      ++count;
      sender = s;
    };
  }
};

std::vector<uint8_t> Bytes(fw::TMemoryStream& m) { return m.Data(); }

}  // namespace

TEST(KitColors, BuildColorListRunsAndEdges) {
  TKitColorList list{0x123456};
  KitBuildColorList(fw::clBlack, fw::clWhite, 0, true, &list);
  EXPECT_EQ(list, (TKitColorList{0x123456}));
  KitBuildColorList(fw::clBlack, fw::clWhite, 3, false, nullptr);  // nothing to do, no crash

  KitBuildColorList(fw::clBlack, fw::clWhite, 3, true, &list);
  EXPECT_EQ(list, (TKitColorList{0x000000, 0x808080, 0xFFFFFF}));
  KitBuildColorList(fw::clBlack, fw::clWhite, 3, false, &list);
  EXPECT_EQ(list, (TKitColorList{0x000000, 0x808080, 0xFFFFFF, 0x808080, 0xFFFFFF}));

  KitBuildColorList(fw::clRed, fw::clBlue, 1, true, &list);
  EXPECT_EQ(list, (TKitColorList{0x0000FF}));
  KitBuildColorList(fw::clRed, fw::clBlue, 1, false, &list);
  EXPECT_EQ(list.size(), 1u);

  // Falling components and system colours (turned into their RGB values).
  KitBuildColorList(fw::clWhite, fw::clBtnFace, 2, true, &list);
  EXPECT_EQ(list, (TKitColorList{0xFFFFFF, TColor(fw::ColorToRGB(fw::clBtnFace))}));
  KitBuildColorList(0x00FF00, 0x000000, 4, true, &list);
  EXPECT_EQ(list, (TKitColorList{0x00FF00, 0x00AA00, 0x005500, 0x000000}));
}

TEST(KitColors, BlendEndsAndHalvesToEven) {
  EXPECT_EQ(KitBlendColor(0x102030, 0xF0E0D0, 0, 7), 0x102030);
  EXPECT_EQ(KitBlendColor(0x102030, 0xF0E0D0, 7, 7), 0xF0E0D0);
  // 0.5 rounds to 0, 1.5 to 2, 2.5 to 2 (red, green, blue).
  EXPECT_EQ(KitBlendColor(0x000000, plat::RGB(1, 3, 5), 1, 2), TColor(plat::RGB(0, 2, 2)));
  // A system colour is taken as plain RGB bytes.
  EXPECT_EQ(KitBlendColor(fw::clBtnFace, fw::clBtnFace, 0, 1), TColor(fw::clBtnFace & 0xFFFFFF));
}

TEST(KitColors, ListPaletteHasOneNoCollapseEntryPerColour) {
  TKitColorList empty;
  EXPECT_EQ(KitCreateListPalette(&empty), 0u);
  EXPECT_EQ(KitCreateListPalette(nullptr), 0u);
  TKitColorList list{plat::RGB(1, 2, 3), plat::RGB(250, 128, 0)};
  plat::HPALETTE pal = KitCreateListPalette(&list);
  ASSERT_NE(pal, 0u);
  plat::PALETTEENTRY pe[4];
  ASSERT_EQ(plat::GetPaletteEntries(pal, 0, 4, pe), 2u);
  EXPECT_EQ(pe[0].peRed, 1);
  EXPECT_EQ(pe[0].peGreen, 2);
  EXPECT_EQ(pe[0].peBlue, 3);
  EXPECT_EQ(pe[0].peFlags, 4);
  EXPECT_EQ(pe[1].peRed, 250);
  EXPECT_EQ(pe[1].peGreen, 128);
  EXPECT_EQ(pe[1].peFlags, 4);
  EXPECT_TRUE(plat::DeleteObject(pal));
}

TEST(KitChangeProtocol, SettersBracketsAndSubObjects) {
  TKitGlyphTextLayout layout;
  Counter c;
  layout.OnChange = c.Handler();
  layout.SetSpacing(2);  // the default: nothing
  EXPECT_EQ(c.count, 0);
  layout.SetSpacing(5);
  EXPECT_EQ(c.count, 1);
  EXPECT_EQ(c.sender, &layout);

  layout.BeginUpdate();
  layout.SetOffsetX(1);
  layout.SetOffsetY(2);
  layout.BeginUpdate();  // does not nest: the first EndUpdate ends the bracket
  layout.SetAlignment(agBottomRight);
  layout.EndUpdate(true);
  EXPECT_EQ(c.count, 2);
  layout.SetAlignText2Glyph(taTop);
  EXPECT_EQ(c.count, 3);
  layout.BeginUpdate();
  layout.SetSpacing(9);
  layout.EndUpdate(false);
  EXPECT_EQ(c.count, 3);

  // A component owning the layout hears its changes through SubObjectChanged.
  TKitCustomComponent owner(nullptr);
  Counter oc;
  owner.OnChange = oc.Handler();
  layout.OnChange = [&](fw::TObject* s) { owner.SubObjectChanged(s); };
  layout.SetSpacing(10);
  EXPECT_EQ(oc.count, 1);
  EXPECT_EQ(oc.sender, &owner);
  owner.BeginUpdate();
  layout.SetSpacing(11);
  EXPECT_EQ(oc.count, 1);
  owner.EndUpdate(true);
  EXPECT_EQ(oc.count, 2);
}

TEST(KitPropertyObjects, DefaultsAssignAndRanges) {
  TKitButtonLayout a, b;
  EXPECT_EQ(a.Alignment(), agCenter);
  EXPECT_EQ(a.AlignText2Glyph(), taRight);
  EXPECT_EQ(a.ArrowIndent(), 3);
  EXPECT_EQ(a.ArrowSize(), 3);
  a.SetArrowSize(40);
  EXPECT_EQ(a.ArrowSize(), 10);
  a.SetArrow(true);
  a.SetArrowColor(fw::clRed);
  a.SetSpacing(7);
  a.SetArrowPosition(apLeftGlyph);
  Counter c;
  b.OnChange = c.Handler();
  b.Assign(&a);
  EXPECT_EQ(c.count, 1);
  EXPECT_TRUE(b.Arrow());
  EXPECT_EQ(b.ArrowColor(), fw::clRed);
  EXPECT_EQ(b.Spacing(), 7);
  EXPECT_EQ(b.ArrowSize(), 10);
  EXPECT_EQ(b.ArrowPosition(), apLeftGlyph);
  b.Assign(&b);
  EXPECT_EQ(c.count, 1);

  // A plain layout copies only the layout values into a button layout.
  TKitGlyphTextLayout plain;
  plain.SetOffsetX(4);
  b.Assign(&plain);
  EXPECT_EQ(b.OffsetX(), 4);
  EXPECT_EQ(b.Alignment(), agTopLeft);
  EXPECT_TRUE(b.Arrow());
  EXPECT_EQ(c.count, 2);

  TKit3DCaption cap;
  EXPECT_THROW(cap.Assign(&plain), fw::EConvertError);

  TKitFxCaption fx;
  Counter fc;
  fx.OnChange = fc.Handler();
  fx.SetAngle(360);
  EXPECT_EQ(fx.Angle(), 0);
  EXPECT_EQ(fc.count, 0);
  fx.SetAngle(90);
  EXPECT_EQ(fc.count, 1);
  fx.SetPosition(12, 34);
  EXPECT_EQ(fx.PosX(), 12);
  EXPECT_EQ(fx.PosY(), 34);
  EXPECT_EQ(fc.count, 1);

  TKitFxCaption fx2;
  fx.SetStyle(tdRaised);
  fx.SetOrientation(toBottomRight);
  fx.SetLightColor(fw::clYellow);
  fx2.Assign(&fx);
  EXPECT_EQ(fx2.Angle(), 90);
  EXPECT_EQ(fx2.PosY(), 34);
  EXPECT_EQ(fx2.Style(), tdRaised);
  EXPECT_EQ(fx2.LightColor(), fw::clYellow);
  EXPECT_EQ(fx2.Orientation(), toBottomRight);
  EXPECT_EQ(fx2.ShadowColor(), fw::clBtnShadow);
  // From a plain caption only the caption's values change.
  TKit3DCaption plainCap;
  fx2.Assign(&plainCap);
  EXPECT_EQ(fx2.Style(), tdNone);
  EXPECT_EQ(fx2.Angle(), 90);
}

TEST(KitPropertyObjects, DisplayStrings) {
  std::string t;
  TKitFxCaption fx;
  fx.GetDisplayString(t);
  EXPECT_EQ(t, "{Disabled}");
  fx.SetAngle(45);
  fx.GetDisplayString(t);
  EXPECT_EQ(t, "{ rot: 45\xB0}");
  fx.SetStyle(tdRaised);
  fx.SetAngle(90);
  fx.GetDisplayString(t);
  EXPECT_EQ(t, "{raised, rot: 90\xB0}");
  TKit3DCaption cap;
  cap.SetStyle(tdExtrudeEnh);
  cap.GetDisplayString(t);
  EXPECT_EQ(t, "{extrude enh}");
  cap.SetStyle(tdPColorSunken);
  cap.GetDisplayString(t);
  EXPECT_EQ(t, "{PColor sunken}");

  TKitGradient g;
  g.GetDisplayString(t);
  EXPECT_EQ(t, "vertical, Col: 16, 2 col mode");
  g.SetStyle(gstTopRightDiagonal);
  g.SetTwoColors(false);
  g.SetColorCount(236);
  g.GetDisplayString(t);
  EXPECT_EQ(t, "top right diag, Col: 236, mult. col mode");
  TKitButtonLayout bl;
  t = "x";
  bl.GetDisplayString(t);
  EXPECT_EQ(t, "");
}

TEST(KitGradient, ColourListsPointsAndPalette) {
  TKitGradient g;
  ASSERT_EQ(g.ColorList()->size(), 16u);
  EXPECT_EQ(g.ColorList()->front(), fw::clBlue);
  EXPECT_EQ(g.ColorList()->back(), fw::clBlack);
  EXPECT_EQ(g.GetPalette(), 0u);

  g.SetPaletteRealize(true);
  plat::HPALETTE first = g.GetPalette();
  ASSERT_NE(first, 0u);
  g.SetColor(fw::clRed);
  EXPECT_EQ(plat::GetObjectType(first), 0) << "the old palette is deleted on rebuild";
  EXPECT_EQ(g.ColorList()->front(), fw::clRed);

  g.SetTwoColors(false);  // no points: empty list, no palette
  EXPECT_TRUE(g.ColorList()->empty());
  EXPECT_EQ(g.GetPalette(), 0u);
  g.ColorPoints()->push_back(fw::clWhite);
  g.NotifyChange();
  EXPECT_TRUE(g.ColorList()->empty());

  g.ColorPoints()->assign({0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF});
  g.NotifyChange();
  // Runs of 16 div 5 = 3 colours; each later run leaves out its first: 3 + 2 + 2 + 2.
  EXPECT_EQ(*g.ColorList(), (TKitColorList{0x000000, 0x000080, 0x0000FF, 0x00807F, 0x00FF00,
                                           0x807F00, 0xFF0000, 0xFF8080, 0xFFFFFF}));
  EXPECT_NE(g.GetPalette(), 0u);

  TKitGradient copy;
  Counter c;
  copy.OnChange = c.Handler();
  copy.ColorPoints()->push_back(0x123456);
  copy.Assign(&g);
  EXPECT_EQ(c.count, 1);
  EXPECT_EQ(*copy.ColorPoints(), *g.ColorPoints());
  EXPECT_EQ(*copy.ColorList(), *g.ColorList());
  EXPECT_EQ(copy.Color(), fw::clRed);
  EXPECT_TRUE(copy.PaletteRealize());
  EXPECT_NE(copy.GetPalette(), g.GetPalette());

  g.SetColorCount(1);
  EXPECT_EQ(g.ColorCount(), 2);
}

TEST(KitGradient, ColorListStoredAsIntegerList) {
  TKitGradient g;
  fw::TMemoryStream m;
  TKitWriter(&m).WriteProperties(&g);
  EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{0})) << "no points: nothing stored";

  g.ColorPoints()->assign({0x7F, -129, 0xFF0000, 0x123});
  m.Clear();
  TKitWriter(&m).WriteProperties(&g);
  std::vector<uint8_t> want{9, 'C', 'o', 'l', 'o', 'r', 'L', 'i', 's', 't', 1,
                            2, 0x7F, 3, 0x7F, 0xFF, 4, 0x00, 0x00, 0xFF, 0x00,
                            3, 0x23, 0x01, 0, 0};
  EXPECT_EQ(Bytes(m), want);

  // Reading appends to the points already held and rebuilds once.
  TKitGradient r;
  r.SetTwoColors(false);
  r.ColorPoints()->push_back(fw::clWhite);
  Counter c;
  r.OnChange = c.Handler();
  m.SetPosition(0);
  TKitReader(&m).ReadProperties(&r);
  EXPECT_EQ(*r.ColorPoints(), (TKitColorList{fw::clWhite, 0x7F, -129, 0xFF0000, 0x123}));
  EXPECT_EQ(c.count, 1);
  EXPECT_EQ(r.ColorList()->size(), 9u);

  // A damaged list raises a read error and leaves the object out of its bracket.
  fw::TMemoryStream bad;
  bad.WriteBuffer(want.data(), 12);
  uint8_t junk = 9;
  bad.WriteBuffer(&junk, 1);
  bad.SetPosition(0);
  TKitGradient d;
  EXPECT_THROW(TKitReader(&bad).ReadProperties(&d), fw::EReadError);
  EXPECT_FALSE(d.Updating());
}

TEST(KitPaths, BlankAndTrailingSeparator) {
  EXPECT_TRUE(IsBlankString(""));
  EXPECT_TRUE(IsBlankString("   "));
  EXPECT_FALSE(IsBlankString(" a "));
  EXPECT_FALSE(IsBlankString("\t"));
  EXPECT_EQ(AddTrailingBackslash(""), "/");
  EXPECT_EQ(AddTrailingBackslash("  "), "  /");
  EXPECT_EQ(AddTrailingBackslash("/usr/lib/"), "/usr/lib/");
  EXPECT_EQ(AddTrailingBackslash("/usr/lib"), "/usr/lib/");
  EXPECT_EQ(RemoveTrailingBackslash("   "), "   ");
  EXPECT_EQ(RemoveTrailingBackslash("/usr/"), "/usr");
  EXPECT_EQ(RemoveTrailingBackslash("/usr"), "/usr");
  EXPECT_EQ(RemoveTrailingBackslash("/"), "");
}
