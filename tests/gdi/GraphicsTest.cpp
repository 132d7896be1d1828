// The framework's graphics classes: colours, tools, canvas, bitmap, icon, picture.
#include <gtest/gtest.h>

#include "framework/Graphics.h"
#include "tests/support/Pixels.h"

using namespace fw;

namespace {

constexpr plat::COLORREF kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kWhite = 0xFFFFFF;

plat::COLORREF Px(TBitmap* b, int x, int y) { return plat::GetBitmapPixel(b->Handle(), x, y); }

}  // namespace

TEST(Graphics, ColoursAndToolSettings) {
  EXPECT_EQ(ColorToRGB(clBtnFace), plat::GetSysColor(plat::COLOR_BTNFACE));
  EXPECT_EQ(ColorToRGB(clRed), 0x0000FFu);
  EXPECT_EQ(clGrayText, TColor(0x80000011));
  EXPECT_EQ(clHighlightText, TColor(0x8000000E));
  TFont f;
  int changes = 0;
  f.OnChange = [&](TObject*) { ++changes; };
  EXPECT_EQ(f.Size(), 8);
  f.SetSize(10);
  EXPECT_EQ(f.Height(), -13);
  plat::HFONT h1 = f.Handle();
  f.SetStyle(TFontStyles{fsBold, fsUnderline});
  plat::HFONT h2 = f.Handle();
  EXPECT_NE(h1, h2);
  plat::LOGFONT lf;
  ASSERT_GT(plat::GetObject(h2, sizeof(lf), &lf), 0);
  EXPECT_EQ(lf.lfWeight, plat::FW_BOLD);
  EXPECT_EQ(lf.lfUnderline, 1);
  f.SetStyle(TFontStyles{fsBold, fsUnderline});  // unchanged: no notification
  EXPECT_EQ(changes, 2);
  TFont g;
  g.Assign(&f);
  EXPECT_EQ(g.Height(), -13);
  EXPECT_TRUE(g.Style().Contains(fsBold));
  TPen pen;
  EXPECT_THROW(pen.Assign(&f), EConvertError);
  pen.SetWidth(0);  // ignored
  EXPECT_EQ(pen.Width(), 1);
  TBrush br;
  br.SetStyle(bsClear);
  br.SetColor(clRed);  // a colour makes a clear brush solid
  EXPECT_EQ(br.Style(), bsSolid);
}

TEST(Graphics, CanvasDrawsWithItsTools) {
  auto b = vexa::test::Surface(6, 4, clWhite);
  TCanvas* c = b->Canvas();
  c->Pen()->SetColor(clBlue);
  c->Brush()->SetColor(clRed);
  c->Rectangle(0, 0, 4, 4);
  EXPECT_EQ(Px(b.get(), 0, 0), kBlue);
  EXPECT_EQ(Px(b.get(), 1, 1), kRed);
  EXPECT_EQ(Px(b.get(), 4, 0), kWhite);
  c->Pen()->SetMode(pmNot);
  c->MoveTo(5, 0);
  c->LineTo(5, 2);
  EXPECT_EQ(Px(b.get(), 5, 0), 0u);
  c->Pen()->SetMode(pmCopy);
  c->SetPixels(5, 3, clLime);
  EXPECT_EQ(c->Pixels(5, 3), TColor(kGreen));
  EXPECT_EQ(c->ClipRect(), (TRect{0, 0, 6, 4}));
  // Text takes the font colour; a clear brush leaves the background.
  auto t = vexa::test::Surface(60, 20, clWhite);
  t->Canvas()->Font()->SetColor(clBlue);
  t->Canvas()->Brush()->SetStyle(bsClear);
  t->Canvas()->TextOut(0, 0, "Hi");
  EXPECT_EQ(t->Canvas()->PenPos().X, t->Canvas()->TextWidth("Hi"));
  bool blue = false, other = false;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 60; ++x) {
      plat::COLORREF p = Px(t.get(), x, y);
      if (p == kBlue) blue = true;
      else if (p != kWhite) other = true;
    }
  EXPECT_TRUE(blue);
  EXPECT_FALSE(other);
  EXPECT_GT(t->Canvas()->TextHeight("Hi"), 8);
  // A hatched brush over a background colour set on the context shows that
  // colour between its lines.
  auto h = vexa::test::Surface(8, 2, clWhite);
  TBrush hatch;
  hatch.SetStyle(bsHorizontal);
  hatch.SetColor(clBlue);
  h->Canvas()->SetBrush(&hatch);
  plat::SetBkColor(h->Canvas()->Handle(), kRed);
  h->Canvas()->FillRect(TRect{0, 0, 8, 2});
  EXPECT_EQ(Px(h.get(), 3, 0), kBlue);
  EXPECT_EQ(Px(h.get(), 3, 1), kRed);
}

TEST(Graphics, CopyRectDrawAndBrushCopy) {
  auto src = vexa::test::Surface(2, 2, clRed);
  src->Canvas()->SetPixels(1, 1, clBlue);
  auto dst = vexa::test::Surface(4, 4, clWhite);
  dst->Canvas()->CopyRect(TRect{0, 0, 4, 4}, src->Canvas(), TRect{0, 0, 2, 2});
  EXPECT_EQ(Px(dst.get(), 0, 0), kRed);
  EXPECT_EQ(Px(dst.get(), 3, 3), kBlue);
  // Transparent drawing leaves the pixels of the transparent colour out.
  auto pic = vexa::test::Surface(2, 1, clRed);
  pic->Canvas()->SetPixels(1, 0, clLime);
  pic->SetTransparentColor(clLime);
  pic->SetTransparent(true);
  auto back = vexa::test::Surface(3, 1, clBlue);
  back->Canvas()->Draw(1, 0, pic.get());
  EXPECT_EQ(Px(back.get(), 0, 0), kBlue);
  EXPECT_EQ(Px(back.get(), 1, 0), kRed);
  EXPECT_EQ(Px(back.get(), 2, 0), kBlue);
  // Brush copy puts the brush where the picture shows the given colour.
  auto target = vexa::test::Surface(2, 1, clWhite);
  target->Canvas()->Brush()->SetColor(clBlue);
  target->Canvas()->BrushCopy(TRect{0, 0, 2, 1}, pic.get(), TRect{0, 0, 2, 1}, clLime);
  EXPECT_EQ(Px(target.get(), 0, 0), kRed);
  EXPECT_EQ(Px(target.get(), 1, 0), kBlue);
  // Copy modes go through to the raster operation.
  auto and_ = vexa::test::Surface(1, 1, TColor(0x0F0FF0));
  auto mask = vexa::test::Surface(1, 1, TColor(0x00FFFF));
  and_->Canvas()->SetCopyMode(plat::SRCAND);
  and_->Canvas()->CopyRect(TRect{0, 0, 1, 1}, mask->Canvas(), TRect{0, 0, 1, 1});
  EXPECT_EQ(Px(and_.get(), 0, 0), 0x000FF0u);
}

TEST(Graphics, BitmapSizeFormatScanLinesAndTransparentColour) {
  auto b = vexa::test::Surface(3, 2, clWhite);
  b->Canvas()->SetPixels(0, 1, clRed);
  EXPECT_EQ(b->TransparentColor(), TColor(0x02000000 | kRed));  // bottom-left
  b->SetSize(4, 3);
  EXPECT_EQ(Px(b.get(), 0, 1), kRed);  // kept
  EXPECT_EQ(Px(b.get(), 3, 2), 0u);     // new pixels are black
  uint8_t* row = b->ScanLine(1);
  EXPECT_EQ(row[2], 0xFF);  // red byte of pixel 0 (blue, green, red)
  EXPECT_THROW(b->ScanLine(3), EInvalidGraphicOperation);
  b->SetMonochrome(true);
  EXPECT_EQ(b->PixelFormat(), pf1bit);
  EXPECT_EQ(Px(b.get(), 1, 0), kWhite);
  EXPECT_EQ(Px(b.get(), 0, 1), 0u);  // red is nearer to black
  EXPECT_EQ(b->TransparentColor(), TColor(0x02FFFFFF));
  // Fewer bits come with a standard colour table, so pure colours stay exact.
  TBitmap eight;
  eight.SetPixelFormat(pf8bit);
  eight.SetSize(2, 2);
  eight.Canvas()->SetPixels(1, 1, clRed);
  EXPECT_EQ(Px(&eight, 1, 1), kRed);
  EXPECT_EQ(Px(&eight, 0, 0), 0u);
  TMemoryStream s8;
  eight.SaveToStream(&s8);
  EXPECT_EQ(s8.Size(), 14 + 40 + 256 * 4 + 2 * 4);
  TBitmap empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_THROW(empty.ScanLine(0), EInvalidGraphicOperation);
  empty.Canvas()->FillRect(TRect{0, 0, 5, 5});  // draws into nothing, no failure
}

TEST(Graphics, BitmapStreamsAndAssign) {
  auto b = vexa::test::Surface(5, 3, clLime);
  b->Canvas()->SetPixels(4, 2, clBlue);
  TMemoryStream s;
  b->SaveToStream(&s);
  uint8_t tail = 0x5A;
  s.WriteBuffer(&tail, 1);  // more data after the bitmap
  s.SetPosition(0);
  TBitmap c;
  c.LoadFromStream(&s);
  EXPECT_EQ(s.Position(), s.Size() - 1);  // exactly the file was read
  EXPECT_EQ(c.Width(), 5);
  EXPECT_EQ(c.PixelFormat(), pf24bit);
  EXPECT_EQ(Px(&c, 4, 2), kBlue);
  TBitmap d;
  d.Assign(&c);
  c.Canvas()->SetPixels(0, 0, clRed);
  EXPECT_EQ(Px(&d, 0, 0), kGreen);  // a copy of its own
  TMemoryStream junk;
  junk.WriteBuffer("BMxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 40);
  junk.SetPosition(0);
  try {
    d.LoadFromStream(&junk);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Bitmap image is not valid");
  }
  EXPECT_EQ(d.Width(), 5);  // unchanged by the failed load
  d.Assign(nullptr);
  EXPECT_TRUE(d.Empty());
}

TEST(Graphics, IconsRoundTripAndDrawThroughTheirMask) {
  auto colour = vexa::test::Surface(2, 2, clRed);
  TBitmap mask;
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(2, 2);
  mask.Canvas()->SetPixels(1, 0, clWhite);  // transparent pixel
  plat::ICONINFO ii;
  ii.hbmColor = colour->Handle();
  ii.hbmMask = mask.Handle();
  TIcon icon;
  icon.SetHandle(plat::CreateIconIndirect(&ii));
  EXPECT_EQ(icon.Width(), 2);
  EXPECT_THROW(icon.SetWidth(4), EInvalidGraphicOperation);
  colour->Canvas()->SetPixels(1, 0, clBlack);  // the transparent pixel must be black in the image
  ii.hbmColor = colour->Handle();
  icon.SetHandle(plat::CreateIconIndirect(&ii));
  TMemoryStream s;
  icon.SaveToStream(&s);
  s.SetPosition(0);
  TIcon back;
  back.LoadFromStream(&s);
  ASSERT_FALSE(back.Empty());
  auto dst = vexa::test::Surface(2, 2, clBlue);
  dst->Canvas()->Draw(0, 0, &back);
  EXPECT_EQ(Px(dst.get(), 0, 0), kRed);
  EXPECT_EQ(Px(dst.get(), 1, 0), kBlue);
  EXPECT_EQ(Px(dst.get(), 1, 1), kRed);
  // Damaged icon data is refused.
  std::vector<uint8_t> data = s.Data();
  for (size_t cut : {size_t(3), size_t(20), data.size() - 1}) {
    TMemoryStream bad;
    bad.WriteBuffer(data.data(), int32_t(cut));
    bad.SetPosition(0);
    TIcon x;
    EXPECT_THROW(x.LoadFromStream(&bad), EInvalidGraphic) << cut;
  }
  data[14] = 0xFF;  // image size far beyond the data
  TMemoryStream big;
  big.WriteBuffer(data.data(), int32_t(data.size()));
  big.SetPosition(0);
  TIcon y;
  EXPECT_THROW(y.LoadFromStream(&big), EInvalidGraphic);
}

TEST(Graphics, PictureHoldsACopyOfOneGraphic) {
  TPicture p;
  int changes = 0;
  p.OnChange = [&](TObject*) { ++changes; };
  auto b = vexa::test::Surface(3, 2, clRed);
  p.Assign(b.get());
  EXPECT_EQ(p.Width(), 3);
  EXPECT_NE(p.Graphic(), b.get());
  EXPECT_GE(changes, 1);
  int before = changes;
  p.Bitmap()->Canvas()->SetPixels(0, 0, clBlue);  // drawing on it notifies
  EXPECT_GT(changes, before);
  EXPECT_EQ(Px(b.get(), 0, 0), kRed);
  TPicture q;
  q.Assign(&p);
  EXPECT_EQ(Px(q.Bitmap(), 0, 0), kBlue);
  q.Icon();  // asking for an icon replaces the bitmap
  EXPECT_EQ(q.Width(), 0);
  try {
    p.LoadFromFile("/tmp/picture.gif");
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Unknown picture file extension (.gif)");
  }
  p.Assign(nullptr);
  EXPECT_EQ(p.Graphic(), nullptr);
}
