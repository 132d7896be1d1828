// labels: unit
// Drawing routines: bevels, frames, borders, arrows, image placement and
// transparency, gradients, alignment and text measurement, checked pixel by pixel.
#include "tests/support/Pixels.h"
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "components/KitDrawing.h"
#include "components/kitprocs.h"

using namespace vexa;
using fw::TBitmap;
using fw::TColor;
using fw::TRect;

namespace {

using namespace vexa::test;

constexpr TColor W = 0xFFFFFF;

}  // namespace

TEST(KitDrawingTest, BevelOfWidthOneAndFrameBevel) {
  auto b = Surface(6, 5);
  TRect r{0, 0, 6, 5};
  ASSERT_TRUE(KitDrawBevel(b->Canvas(), r, bvRaised, fw::clRed, fw::clBlue, 1));
  EXPECT_EQ(r, (TRect{1, 1, 5, 4}));
  // The top-left line starts at (Left, Bottom - 1); the bottom-right one stops short of it.
  std::vector<std::string> want = {"RRRRRB", "R....B", "R....B", "R....B", "RBBBBB"};
  EXPECT_EQ(Picture(b.get(), {{fw::clRed, 'R'}, {fw::clBlue, 'B'}, {W, '.'}}), want);

  // Lowered swaps the colours; bvNormal draws black whatever the colours.
  auto n = Surface(4, 4);
  TRect rn{0, 0, 4, 4};
  KitDrawBevel(n->Canvas(), rn, bvNormal, fw::clRed, fw::clBlue, 1);
  EXPECT_EQ(Picture(n.get(), {{0, 'k'}, {W, '.'}}),
            (std::vector<std::string>{"kkkk", "k..k", "k..k", "kkkk"}));

  // Width 0, bvNone and bvShadow draw nothing and leave the rect alone.
  auto e = Surface(4, 4);
  TRect re{0, 0, 4, 4};
  EXPECT_FALSE(KitDrawBevel(e->Canvas(), re, bvLowered, fw::clRed, fw::clBlue, 0));
  EXPECT_FALSE(KitDrawBevel(e->Canvas(), re, bvShadow, fw::clRed, fw::clBlue, 2));
  EXPECT_EQ(re, (TRect{0, 0, 4, 4}));
  EXPECT_EQ(Picture(e.get(), {{W, '.'}}), (std::vector<std::string>(4, "....")));

  // A frame bevel of width 1 frames twice and shrinks by W + 1; the two
  // frames leave the top-right and bottom-left corner pixels alone.
  auto f = Surface(5, 5);
  TRect rf{0, 0, 5, 5};
  KitDrawBevel(f->Canvas(), rf, bvFrameLowered, fw::clRed, fw::clBlue, 1);
  EXPECT_EQ(rf, (TRect{2, 2, 3, 3}));
  EXPECT_EQ(Picture(f.get(), {{fw::clRed, 'L'}, {fw::clBlue, 'S'}, {W, '.'}}),
            (std::vector<std::string>{"SSSS.", "SLLSL", "SL.SL", "SSSSL", ".LLLL"}));
}

TEST(KitDrawingTest, WideBevelFillsBands) {
  auto b = Surface(6, 6);
  TRect r{0, 0, 6, 6};
  KitDrawBevel(b->Canvas(), r, bvRaised, fw::clRed, fw::clBlue, 2);
  EXPECT_EQ(r, (TRect{2, 2, 4, 4}));
  auto pic = Picture(b.get(), {{fw::clRed, 'R'}, {fw::clBlue, 'B'}, {W, '.'}});
  // The top-left band in the light colour, the bottom-right band in the shadow colour.
  EXPECT_EQ(pic[0].substr(0, 4), "RRRR");
  EXPECT_EQ(pic[1][0], 'R');
  EXPECT_EQ(pic[5][5], 'B');
  EXPECT_EQ(pic[3][5], 'B');
  EXPECT_EQ(pic[2][2], '.');
  EXPECT_EQ(pic[2][3], '.');
  // The inner rectangle's bottom is taken one pixel higher: its last row is band.
  EXPECT_EQ(pic[3][2], 'B');
  EXPECT_EQ(pic[3][3], 'B');
}

TEST(KitDrawingTest, ShadowFrameKeepsCornersOnRequest) {
  auto b = Surface(6, 6);
  TRect r{0, 0, 6, 6};
  KitDrawShadowFrame(b->Canvas(), r, fw::clRed, fw::clBlue, fw::clLime, 2, 1, false);
  EXPECT_EQ(r, (TRect{1, 1, 3, 3}));
  std::vector<std::string> want = {"RRRRGG", "R..RGG", "R..RBB", "RRRRBB", "GGBBBB", "GGBBBB"};
  EXPECT_EQ(Picture(b.get(), {{fw::clRed, 'R'}, {fw::clBlue, 'B'}, {fw::clLime, 'G'}, {W, '.'}}),
            want);

  auto k = Surface(6, 6);
  TRect rk{0, 0, 6, 6};
  KitDrawShadowFrame(k->Canvas(), rk, fw::clRed, fw::clBlue, fw::clLime, 2, 0, true);
  EXPECT_EQ(rk, (TRect{0, 0, 4, 4}));
  EXPECT_EQ(Px(k.get(), 5, 0), W);
  EXPECT_EQ(Px(k.get(), 0, 5), W);
  EXPECT_EQ(Px(k.get(), 5, 5), fw::clBlue);
}

TEST(KitDrawingTest, BorderWidthsAndEdges) {
  EXPECT_EQ(KitBorderStyleWidth(lsNone), 0);
  EXPECT_EQ(KitBorderStyleWidth(lsSingle), 1);
  EXPECT_EQ(KitBorderStyleWidth(lsSingleLowered), 1);
  EXPECT_EQ(KitBorderStyleWidth(lsFrameInset), 2);
  EXPECT_EQ(KitBorderStyleWidth(lsDoubleLowered), 2);

  const TColor hl = TColor(plat::GetSysColor(plat::COLOR_BTNHIGHLIGHT));
  const TColor sh = TColor(plat::GetSysColor(plat::COLOR_BTNSHADOW));
  auto b = Surface(5, 5, 0x123456);
  TRect r{0, 0, 5, 5};
  KitDrawBorder(b->Canvas(), r, lsSingleLowered, 0);
  EXPECT_EQ(r, (TRect{1, 1, 4, 4}));
  EXPECT_EQ(Px(b.get(), 0, 0), sh);
  EXPECT_EQ(Px(b.get(), 0, 3), sh);
  EXPECT_EQ(Px(b.get(), 4, 4), hl);
  EXPECT_EQ(Px(b.get(), 2, 2), 0x123456);

  auto d = Surface(8, 8);
  TRect rd{0, 0, 8, 8};
  KitDrawBorder(d->Canvas(), rd, lsDoubleRaised, 0);
  EXPECT_EQ(rd, (TRect{2, 2, 6, 6}));
  EXPECT_EQ(Px(d.get(), 1, 1), hl);
  EXPECT_EQ(Px(d.get(), 6, 6), sh);

  // Raised-ext grows the inside by one at the left and top after its edges.
  TRect rx{0, 0, 10, 10};
  auto x = Surface(10, 10);
  KitDrawBorder(x->Canvas(), rx, lsRaisedExt, 0);
  EXPECT_EQ(rx, (TRect{2, 2, 8, 8}));
  TRect rn{0, 0, 10, 10};
  KitDrawBorder(x->Canvas(), rn, lsNone, 0);
  EXPECT_EQ(rn, (TRect{0, 0, 10, 10}));
}

TEST(KitDrawingTest, ArrowShapesAndSizeLimits) {
  auto b = Surface(8, 4);
  KitDrawArrow(b->Canvas(), 0, 0, true, true, fw::clRed, 3);
  EXPECT_EQ(Picture(b.get(), {{fw::clRed, '#'}, {W, '.'}}),
            (std::vector<std::string>{"#####...", ".###....", "..#.....", "........"}));

  auto u = Surface(6, 4);
  KitDrawArrow(u->Canvas(), 0, 0, true, false, fw::clRed, 3);
  EXPECT_EQ(Picture(u.get(), {{fw::clRed, '#'}, {W, '.'}}),
            (std::vector<std::string>{".#....", "###...", "####..", "......"}));

  auto n = Surface(40, 40);
  KitDrawArrow(n->Canvas(), 2, 2, true, true, fw::clRed, 1);
  KitDrawArrow(n->Canvas(), 2, 2, true, true, fw::clRed, 16);
  EXPECT_EQ(Picture(n.get(), {{W, '.'}}), (std::vector<std::string>(40, std::string(40, '.'))));

  // Disabled: highlight text one pixel down and right, grey text on top.
  auto d = Surface(8, 5);
  KitDrawArrow(d->Canvas(), 0, 0, false, true, fw::clRed, 3);
  EXPECT_EQ(Px(d.get(), 0, 0), TColor(plat::GetSysColor(plat::COLOR_GRAYTEXT)));
  EXPECT_EQ(Px(d.get(), 5, 1), TColor(plat::GetSysColor(plat::COLOR_HIGHLIGHTTEXT)));
}

TEST(KitDrawingTest, TilingCentringStretchingAndClipping) {
  auto img = Surface(10, 10, fw::clRed);
  img->Canvas()->Brush()->SetColor(fw::clBlue);
  img->Canvas()->FillRect(TRect{9, 9, 10, 10});  // marks each cell's last pixel

  // 10 x 10 tiled over 25 x 25: 3 x 3 cells, the last ones beyond the target.
  auto t = Surface(40, 40);
  TRect covered;
  KitDrawBitmapEx(t->Canvas(), TRect{0, 0, 25, 25}, img.get(), covered, 0, kdTile);
  EXPECT_EQ(covered, (TRect{0, 0, 25, 25}));
  EXPECT_EQ(Px(t.get(), 29, 29), fw::clBlue);
  EXPECT_EQ(Px(t.get(), 28, 28), fw::clRed);
  EXPECT_EQ(Px(t.get(), 30, 30), W);
  // With clipping the cells stop at the target.
  auto c = Surface(40, 40);
  KitDrawBitmap(c->Canvas(), TRect{0, 0, 25, 25}, img.get(), 0, 0, kdTile | kdClip);
  EXPECT_EQ(Px(c.get(), 24, 24), fw::clRed);
  EXPECT_EQ(Px(c.get(), 25, 25), W);
  EXPECT_EQ(Px(c.get(), 29, 29), W);
  // The canvas is left without a clip region.
  c->Canvas()->Brush()->SetColor(fw::clLime);
  c->Canvas()->FillRect(TRect{30, 30, 31, 31});
  EXPECT_EQ(Px(c.get(), 30, 30), fw::clLime);
  // A clip offset moves the clip: low word x, high word y.
  auto o = Surface(40, 40);
  KitDrawBitmap(o->Canvas(), TRect{0, 0, 25, 25}, img.get(), 0, (2u << 16) | 3u, kdTile | kdClip);
  EXPECT_EQ(Px(o.get(), 2, 2), W);
  EXPECT_EQ(Px(o.get(), 3, 2), fw::clRed);
  EXPECT_EQ(Px(o.get(), 27, 26), fw::clRed);

  // Centred: the box at (T width - w) div 2.
  auto m = Surface(15, 15);
  KitDrawBitmapEx(m->Canvas(), TRect{0, 0, 15, 15}, img.get(), covered, 0, kdCenter);
  EXPECT_EQ(covered, (TRect{2, 2, 12, 12}));
  EXPECT_EQ(Px(m.get(), 1, 1), W);
  EXPECT_EQ(Px(m.get(), 11, 11), fw::clBlue);

  // Stretched with width-proportion: T width wide, round(T width / w * h) high.
  auto s = Surface(30, 30);
  auto wide = Surface(4, 2, fw::clRed);
  KitDrawBitmapEx(s->Canvas(), TRect{0, 0, 20, 30}, wide.get(), covered, 0,
                  kdStretch | kdPropWidth);
  EXPECT_EQ(covered, (TRect{0, 0, 20, 10}));
  EXPECT_EQ(Px(s.get(), 19, 9), fw::clRed);
  EXPECT_EQ(Px(s.get(), 19, 10), W);
  KitDrawBitmapEx(s->Canvas(), TRect{0, 0, 20, 30}, wide.get(), covered, 0,
                  kdStretch | kdPropWidth | kdPropHeight);
  EXPECT_EQ(covered, (TRect{0, 0, 20, 10}));
  KitDrawBitmapEx(s->Canvas(), TRect{0, 0, 20, 30}, wide.get(), covered, 0,
                  kdStretch | kdPropHeight);
  EXPECT_EQ(covered, (TRect{0, 0, 60, 30}));

  // An empty target draws nothing and covers nothing.
  KitDrawBitmapEx(s->Canvas(), TRect{5, 5, 5, 9}, wide.get(), covered, 0, 0);
  EXPECT_EQ(covered, TRect{});
}

TEST(KitDrawingTest, TransparentDrawingKeepsTheBackground) {
  auto img = Surface(3, 1, fw::clLime);
  img->Canvas()->SetPixels(1, 0, fw::clRed);

  auto t = Surface(3, 1, fw::clBlue);
  KitDrawBitmap(t->Canvas(), TRect{0, 0, 3, 1}, img.get(), fw::clLime, 0, kdTransparent);
  EXPECT_EQ(Px(t.get(), 0, 0), fw::clBlue);
  EXPECT_EQ(Px(t.get(), 1, 0), fw::clRed);
  EXPECT_EQ(Px(t.get(), 2, 0), fw::clBlue);

  // The split itself: mask white where transparent, image black there.
  TBitmap mask, image;
  KitSplitMaskAndImage(img->Canvas(), TRect{0, 0, 3, 1}, &mask, fw::clLime, &image);
  EXPECT_TRUE(mask.Monochrome());
  EXPECT_EQ(Px(&mask, 0, 0), W);
  EXPECT_EQ(Px(&mask, 1, 0), 0);
  EXPECT_EQ(Px(&image, 0, 0), 0);
  EXPECT_EQ(Px(&image, 1, 0), fw::clRed);

  // Brush copy: the bitmap's own transparent colour (its bottom-left pixel)
  // shows the brush in the colour argument.
  auto bc = Surface(3, 1, fw::clBlue);
  KitDrawBitmap(bc->Canvas(), TRect{0, 0, 3, 1}, img.get(), fw::clYellow, 0, kdBrushCopy);
  EXPECT_EQ(Px(bc.get(), 0, 0), fw::clYellow);
  EXPECT_EQ(Px(bc.get(), 1, 0), fw::clRed);
}

TEST(KitDrawingTest, GradientBandsAndShapes) {
  TKitColorList four = {0x000001, 0x000002, 0x000003, 0x000004};
  auto b = Surface(10, 3);
  KitFillGradient(b->Canvas(), TRect{0, 0, 10, 3}, gstHorizontal, 0, 0, 0, &four);
  EXPECT_EQ(Picture(b.get(), {{1, '1'}, {2, '2'}, {3, '3'}, {4, '4'}})[1], "1112233344");
  EXPECT_EQ(Picture(b.get(), {{1, '1'}, {2, '2'}, {3, '3'}, {4, '4'}})[2], "1112233344");

  // Vertical, in place at an offset, off-screen the same.
  for (uint32_t flags : {0u, uint32_t(kdGradBitmap)}) {
    auto v = Surface(3, 12);
    KitFillGradient(v->Canvas(), TRect{1, 2, 3, 12}, gstVertical, 0, flags, 0, &four);
    EXPECT_EQ(Px(v.get(), 0, 5), W);
    EXPECT_EQ(Px(v.get(), 1, 1), W);
    EXPECT_EQ(Px(v.get(), 2, 2), 1);
    EXPECT_EQ(Px(v.get(), 2, 4), 1);
    EXPECT_EQ(Px(v.get(), 2, 5), 2);
    EXPECT_EQ(Px(v.get(), 2, 11), 4);
  }

  // One colour fills the whole rect for every style.
  TKitColorList one = {fw::clRed};
  for (int s = gstHorizontal; s <= gstTopRightDiagonal; ++s) {
    auto o = Surface(9, 7);
    KitFillGradient(o->Canvas(), TRect{0, 0, 9, 7}, TKitGradientStyle(s), 0, kdGradBitmap, 0, &one);
    if (s == gstElliptic || s == gstTopLeftDiagonal || s == gstTopRightDiagonal) {
      EXPECT_EQ(Px(o.get(), 4, 3), fw::clRed) << s;
      continue;
    }
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 9; ++x)
        ASSERT_EQ(Px(o.get(), x, y), fw::clRed) << s << " " << x << "," << y;
  }

  // Empty list, null list, empty rect: nothing.
  auto n = Surface(4, 4);
  TKitColorList none;
  KitFillGradient(n->Canvas(), TRect{0, 0, 4, 4}, gstHorizontal, 0, 0, 0, &none);
  KitFillGradient(n->Canvas(), TRect{0, 0, 4, 4}, gstHorizontal, 0, 0, 0, nullptr);
  KitFillGradient(n->Canvas(), TRect{0, 0, 0, 4}, gstHorizontal, 0, 0, 0, &one);
  EXPECT_EQ(Picture(n.get(), {{W, '.'}}), (std::vector<std::string>(4, "....")));

  // Top-left corner style: colour 0 is the smallest square at the corner.
  auto c = Surface(8, 8);
  KitFillGradient(c->Canvas(), TRect{0, 0, 8, 8}, gstTopLeft, 0, 0, 0, &four);
  EXPECT_EQ(Px(c.get(), 0, 0), 1);
  EXPECT_EQ(Px(c.get(), 7, 7), 4);
}

// Corner styles fill Li x Ki boxes anchored at their corner: drawn in place
// they keep inside the rect, and the corner pixels hold the first and last colour.
TEST(KitDrawingTest, CornerGradientsStayInsideTheirRect) {
  TKitColorList four = {0x000001, 0x000002, 0x000003, 0x000004};
  const std::vector<std::pair<TColor, char>> key = {
      {W, '.'}, {1, '1'}, {2, '2'}, {3, '3'}, {4, '4'}};
  auto tl = Surface(12, 9);
  KitFillGradient(tl->Canvas(), TRect{2, 1, 10, 7}, gstTopLeft, 0, 0, 0, &four);
  EXPECT_EQ(Picture(tl.get(), key), (std::vector<std::string>{
                                        "............",
                                        "..11223344..",
                                        "..11223344..",
                                        "..22223344..",
                                        "..33333344..",
                                        "..33333344..",
                                        "..44444444..",
                                        "............",
                                        "............",
                                    }));
  auto br = Surface(12, 9);
  KitFillGradient(br->Canvas(), TRect{2, 1, 10, 7}, gstBottomRight, 0, 0, 0, &four);
  EXPECT_EQ(Picture(br.get(), key), (std::vector<std::string>{
                                        "............",
                                        "..44444444..",
                                        "..44333333..",
                                        "..44333333..",
                                        "..44332222..",
                                        "..44332211..",
                                        "..44332211..",
                                        "............",
                                        "............",
                                    }));
  struct Corner {
    TKitGradientStyle style;
    int x, y;  // the anchoring corner pixel
  };
  for (Corner c : {Corner{gstTopLeft, 2, 1}, Corner{gstTopRight, 9, 1}, Corner{gstBottomLeft, 2, 6},
                   Corner{gstBottomRight, 9, 6}}) {
    auto b = Surface(12, 9);
    KitFillGradient(b->Canvas(), TRect{2, 1, 10, 7}, c.style, 0, 0, 0, &four);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 12; ++x) {
        const bool inside = x >= 2 && x < 10 && y >= 1 && y < 7;
        if (inside) {
          EXPECT_NE(Px(b.get(), x, y), W) << c.style << " " << x << "," << y;
        } else {
          EXPECT_EQ(Px(b.get(), x, y), W) << c.style << " " << x << "," << y;
        }
      }
    EXPECT_EQ(Px(b.get(), c.x, c.y), 1) << c.style;
    EXPECT_EQ(Px(b.get(), 11 - c.x, 7 - c.y), 4) << c.style;
  }
}

TEST(KitDrawingTest, AlignmentTableAndRects) {
  EXPECT_EQ(KitAlignmentFormat[agTopLeft], 0u);
  EXPECT_EQ(KitAlignmentFormat[agCenter], plat::DT_CENTER | plat::DT_VCENTER);
  EXPECT_EQ(KitAlignmentFormat[agBottomRight], plat::DT_RIGHT | plat::DT_BOTTOM);
  TRect out;
  KitAlignRect(agBottomRight, TRect{0, 0, 4, 3}, TRect{10, 20, 30, 40}, out);
  EXPECT_EQ(out, (TRect{26, 37, 30, 40}));
  KitAlignRect(agCenter, TRect{5, 5, 10, 8}, TRect{0, 0, 10, 10}, out);
  EXPECT_EQ(out, (TRect{2, 3, 7, 6}));
  KitAlignRect(agTopCenter, TRect{0, 0, 3, 3}, TRect{0, 0, 10, 10}, out);
  EXPECT_EQ(out, (TRect{3, 0, 6, 3}));
}

TEST(KitDrawingTest, MeasuringText) {
  fw::TFont font;
  TRect empty{0, 0, 100, 0};
  KitMeasureText("", nullptr, empty, 0, 0, true, false, &font);
  TRect space{0, 0, 100, 0};
  KitMeasureText(" ", nullptr, space, 0, 0, true, false, &font);
  EXPECT_GT(empty.Height(), 2);
  EXPECT_EQ(empty, space);
  TRect amp{0, 0, 100, 0};
  KitMeasureText("&", nullptr, amp, 0, 0, true, false, &font);
  EXPECT_EQ(amp, space);

  // Margin adds 2 x (margin + 1); a 3D caption adds its depth.
  TRect plain{0, 0, 200, 0}, margin{0, 0, 200, 0}, deep{0, 0, 200, 0};
  KitMeasureText("Abc", nullptr, plain, 0, 0, false, false, &font);
  KitMeasureText("Abc", nullptr, margin, 0, 3, false, false, &font);
  TKit3DCaption caption;
  caption.SetStyle(tdRaisedShadow);
  caption.SetLightDepth(2);
  caption.SetShadowDepth(3);
  KitMeasureText("Abc", &caption, deep, 0, 0, false, false, &font);
  EXPECT_EQ(margin.Width(), plain.Width() + 6);
  EXPECT_EQ(margin.Height(), plain.Height() + 6);
  EXPECT_EQ(deep.Width(), plain.Width() + 5);
  EXPECT_EQ(deep.Height(), plain.Height() + 5);

  // Word wrap measures against the given width: several lines.
  TRect wrapped{0, 0, 30, 0}, single{0, 0, 30, 0};
  KitMeasureText("word word word word", nullptr, wrapped, 0, 0, false, true, &font);
  KitMeasureText("word", nullptr, single, 0, 0, false, true, &font);
  EXPECT_GT(wrapped.Height(), single.Height() * 2);
}

TEST(KitDrawingTest, ThreeDTextLayers) {
  fw::TFont font;
  font.SetColor(fw::clBlack);
  auto plain = Surface(80, 30);
  plain->Canvas()->Font()->Assign(&font);
  KitDraw3DText(plain->Canvas(), "Hi", nullptr, nullptr, kteEnabled, 0, TRect{0, 0, 80, 30});
  // Shadow style: the shadow layer S pixels down-right of the face.
  auto shadow = Surface(80, 30);
  shadow->Canvas()->Font()->Assign(&font);
  TKit3DCaption caption;
  caption.SetStyle(tdShadow);
  caption.SetShadowDepth(2);
  caption.SetShadowColor(fw::clRed);
  KitDraw3DText(shadow->Canvas(), "Hi", &caption, nullptr, kteEnabled, 0, TRect{0, 0, 80, 30});
  int black = 0, red = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 80; ++x) {
      if (Px(plain.get(), x, y) == 0) {
        ++black;
        EXPECT_EQ(Px(shadow.get(), x, y), 0) << x << "," << y;
        if (x + 2 < 80 && y + 2 < 30 && Px(plain.get(), x + 2, y + 2) != 0) {
          EXPECT_EQ(Px(shadow.get(), x + 2, y + 2), fw::clRed);
        }
      }
      if (Px(shadow.get(), x, y) == fw::clRed) ++red;
    }
  EXPECT_GT(black, 5);
  EXPECT_GT(red, 0);

  // Disabled with dsNone keeps the font colour; dsStandard draws grey text.
  auto grey = Surface(80, 30);
  grey->Canvas()->Font()->Assign(&font);
  TKit3DCaption standard;
  standard.SetDisabledStyle(dsStandard);
  KitDraw3DText(grey->Canvas(), "Hi", &standard, nullptr, 0, 0, TRect{0, 0, 80, 30});
  const TColor gray = TColor(plat::GetSysColor(plat::COLOR_GRAYTEXT));
  int greyCount = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 80; ++x)
      if (Px(grey.get(), x, y) == gray) ++greyCount;
  EXPECT_EQ(greyCount, black);

  // Clipping to a clip rect cuts the text, and the clip is removed afterwards.
  auto clipped = Surface(80, 30);
  clipped->Canvas()->Font()->Assign(&font);
  TKit3DCaption none;
  TRect clip{0, 0, 3, 30};
  KitDraw3DText(clipped->Canvas(), "Hi", &none, &clip, kteEnabled | kteClip, 0,
                TRect{0, 0, 80, 30});
  for (int y = 0; y < 30; ++y)
    for (int x = 3; x < 80; ++x) ASSERT_EQ(Px(clipped.get(), x, y), W);
  clipped->Canvas()->SetPixels(50, 5, fw::clRed);
  EXPECT_EQ(Px(clipped.get(), 50, 5), fw::clRed);
}

TEST(KitDrawingTest, GlyphBesideText) {
  auto canvas = Surface(100, 40);
  auto glyph = Surface(8, 6, fw::clRed);
  TKitGlyphTextLayout layout;  // taRight: glyph left, text right of it
  layout.SetSpacing(4);
  TRect target{0, 0, 100, 40};
  TKitGlyphTextRects rects;
  TRect t = target;
  KitDrawGlyphText(canvas->Canvas(), "Ab", nullptr, rects, 0, kgtRepaintUnion | kteEnabled, false,
                   false, false, &layout, 0, nullptr, glyph->Canvas(), TRect{0, 0, 8, 6}, t);
  EXPECT_EQ(rects.GlyphRect.Left, 0);
  EXPECT_EQ(rects.GlyphRect.Width(), 8);
  EXPECT_EQ(rects.TextRect.Left, 8 + 4 + 1);
  EXPECT_EQ(Px(canvas.get(), rects.GlyphRect.Left, rects.GlyphRect.Top), fw::clRed);
  EXPECT_EQ(t.Left, rects.Union.Left - 1);
  EXPECT_EQ(t.Right, rects.Union.Right + 1);

  // Measure only draws nothing and grows the union by two.
  auto untouched = Surface(100, 40);
  TRect m = target;
  KitDrawGlyphText(untouched->Canvas(), "Ab", nullptr, rects, 0, kgtMeasureOnly, false, false,
                   false, &layout, 0, nullptr, glyph->Canvas(), TRect{0, 0, 8, 6}, m);
  EXPECT_EQ(m.Left, rects.Union.Left - 2);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_EQ(Px(untouched.get(), x, y), W);
}

TEST(KitDrawingTest, ExtrusionAndRotatedMeasure) {
  fw::TFont font;
  font.SetColor(fw::clBlack);
  auto plain = Surface(80, 30);
  plain->Canvas()->Font()->Assign(&font);
  KitDraw3DText(plain->Canvas(), "Hi", nullptr, nullptr, kteEnabled, 0, TRect{0, 0, 80, 30});

  // Top-left orientation: shadow steps at (0, 0) and (1, 1), the face at (2, 2).
  auto ex = Surface(80, 30);
  ex->Canvas()->Font()->Assign(&font);
  TKit3DCaption caption;
  caption.SetStyle(tdExtrude);
  caption.SetShadowDepth(2);
  caption.SetShadowColor(fw::clRed);
  KitDraw3DText(ex->Canvas(), "Hi", &caption, nullptr, kteEnabled, 0, TRect{0, 0, 80, 30});
  int checked = 0;
  for (int y = 0; y + 2 < 30; ++y)
    for (int x = 0; x + 2 < 80; ++x) {
      if (Px(plain.get(), x, y) != 0) continue;
      EXPECT_EQ(Px(ex.get(), x + 2, y + 2), 0) << x << "," << y;
      // The first step lies under nothing later unless a later layer covers it.
      if (Px(plain.get(), x - 1, y - 1) != 0 &&
          (x < 2 || y < 2 || Px(plain.get(), x - 2, y - 2) != 0)) {
        EXPECT_EQ(Px(ex.get(), x, y), fw::clRed) << x << "," << y;
      }
      ++checked;
    }
  EXPECT_GT(checked, 5);

  // A caption turned by 90 degrees: the measured box is the text's box turned,
  // and the text origin moves so that it turns about the box's centre.
  TRect flat{0, 0, 300, 0};
  KitMeasureText("Turned", nullptr, flat, 0, 0, false, false, &font);
  const int32_t w = flat.Width() - 2, h = flat.Height() - 2;
  TKitFxCaption fx;
  fx.SetAngle(90);
  TRect turned{5, 7, 300, 0};
  KitMeasureText("Turned", &fx, turned, 0, 0, false, false, &font);
  TRect expected{0, 0, w, h};
  RotatedRectBounds(expected, 90);
  EXPECT_EQ(turned.Left, 5);
  EXPECT_EQ(turned.Top, 7);
  EXPECT_EQ(turned.Width(), expected.Width() + 2);
  EXPECT_EQ(turned.Height(), expected.Height() + 2);
  EXPECT_EQ(fx.PosX(), uint16_t(std::nearbyint(expected.Width() / 2.0 - h / 2.0)));
  EXPECT_EQ(fx.PosY(), uint16_t(std::nearbyint(expected.Height() / 2.0 + w / 2.0)));
  // Angle 0 resets the origin.
  fx.SetAngle(0);
  TRect again{0, 0, 300, 0};
  KitMeasureText("Turned", &fx, again, 0, 0, false, false, &font);
  EXPECT_EQ(fx.PosX(), 0);
  EXPECT_EQ(fx.PosY(), 0);
  EXPECT_EQ(again, flat);
}

// Outlined text is the glyph outline stroked with a line ShadowDepth wide:
// the stroke straddles the edge of the filled glyph (inside and outside it),
// follows all of that edge, and leaves the glyph's inside unpainted.
TEST(KitDrawingTest, OutlineTextStrokesTheGlyphOutline) {
  fw::TFont font;
  font.SetColor(fw::clBlack);
  font.SetName("DejaVu Sans");
  font.SetHeight(-72);
  font.SetStyle(fw::TFontStyles{fw::fsBold});
  const int w = 110, h = 100;
  auto filled = Surface(w, h);
  filled->Canvas()->Font()->Assign(&font);
  KitDraw3DText(filled->Canvas(), "IO", nullptr, nullptr, kteEnabled, 0, TRect{0, 0, w, h});
  auto ink = [&](fw::TBitmap* b, int x, int y) {
    return x >= 0 && y >= 0 && x < w && y < h && Px(b, x, y) == 0;
  };
  // Distance (in whole pixels, square neighbourhood) from (x, y) to the
  // nearest pixel of the filled glyph's edge: ink with a blank 4-neighbour.
  auto edge = [&](int x, int y) {
    return ink(filled.get(), x, y) &&
           (!ink(filled.get(), x - 1, y) || !ink(filled.get(), x + 1, y) ||
            !ink(filled.get(), x, y - 1) || !ink(filled.get(), x, y + 1));
  };
  auto nearEdge = [&](int x, int y, int d) {
    for (int j = -d; j <= d; ++j)
      for (int i = -d; i <= d; ++i)
        if (edge(x + i, y + j)) return true;
    return false;
  };

  for (uint8_t depth : {uint8_t(1), uint8_t(3)}) {
    auto outline = Surface(w, h);
    outline->Canvas()->Font()->Assign(&font);
    TKit3DCaption caption;
    caption.SetStyle(tdOutline);
    caption.SetShadowDepth(depth);
    KitDraw3DText(outline->Canvas(), "IO", &caption, nullptr, kteEnabled, 0, TRect{0, 0, w, h});
    const int off = depth / 2;  // the outline is drawn moved by ShadowDepth div 2
    const int reach = (depth + 1) / 2 + 1;
    int strokes = 0, outside = 0, inside = 0, edgePixels = 0, traced = 0, hollow = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const TColor c = Px(outline.get(), x, y);
        ASSERT_TRUE(c == 0 || c == W) << int(depth) << ": " << x << "," << y;
        if (c == 0) {
          ++strokes;
          EXPECT_TRUE(nearEdge(x - off, y - off, reach)) << int(depth) << ": " << x << "," << y;
          (ink(filled.get(), x - off, y - off) ? inside : outside)++;
        }
        if (edge(x, y)) {
          ++edgePixels;
          bool hit = false;
          for (int j = -reach; j <= reach && !hit; ++j)
            for (int i = -reach; i <= reach && !hit; ++i)
              hit = ink(outline.get(), x + off + i, y + off + j);
          traced += hit;
        }
        // Deep inside the thick stems: nothing painted.
        if (ink(filled.get(), x, y) && !nearEdge(x, y, depth + 1)) {
          ++hollow;
          EXPECT_EQ(Px(outline.get(), x + off, y + off), W) << int(depth) << ": " << x << "," << y;
        }
      }
    EXPECT_GT(edgePixels, 100);
    EXPECT_EQ(traced, edgePixels) << int(depth);
    EXPECT_GT(hollow, 20) << int(depth);
    // A stroke along the outline reaches out of the glyph as well as into it.
    EXPECT_GT(outside, strokes / 5) << int(depth);
    EXPECT_GT(inside, strokes / 5) << int(depth);
  }
}
