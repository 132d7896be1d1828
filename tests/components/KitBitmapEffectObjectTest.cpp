// labels: unit
// Pixel kernels and the effect pipeline: exact bytes for grey, brightness,
// inversion, mirrors and blending, the buffer, and the pixel format checks.
#include "tests/support/Pixels.h"
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/KitBitmapEffectObject.h"
#include "components/kitbmp.h"

using namespace vexa;
using fw::TBitmap;
using fw::TColor;
using fw::TPoint;
using fw::TRect;

namespace {

using namespace vexa::test;

// A work bitmap as the pipeline wants it: two pixels wider and higher.
std::unique_ptr<TBitmap> Work(TBitmap* source) {
  return Surface(source->Width() + 2, source->Height() + 2, fw::clBlack);
}

}  // namespace

TEST(KitBitmapEffectObjectTest, GreyBrightnessInvertKernels) {
  auto b = Surface(3, 1, fw::clRed);
  b->Canvas()->SetPixels(1, 0, fw::clWhite);
  b->Canvas()->SetPixels(2, 0, 0x0A0B0C);
  KitBmpGrayScale(b.get(), TRect{0, 0, 3, 1}, b.get(), TPoint{0, 0});
  EXPECT_EQ(Px(b.get(), 0, 0), 0x4C4C4C);  // 76
  EXPECT_EQ(Px(b.get(), 1, 0), 0xFEFEFE);  // 254
  // 0.3*12=3.6->4, 0.59*11=6.49->6, 0.11*10=1.1->1
  EXPECT_EQ(Px(b.get(), 2, 0), 0x0B0B0B);

  auto c = Surface(2, 1, 0xFA0000);
  KitBmpBrightness(c.get(), TRect{0, 0, 2, 1}, c.get(), 10, TPoint{0, 0});
  EXPECT_EQ(Px(c.get(), 0, 0), 0xFF0A0A);
  KitBmpBrightness(c.get(), TRect{0, 0, 2, 1}, c.get(), -255, TPoint{0, 0});
  EXPECT_EQ(Px(c.get(), 0, 0), 0);
  KitBmpBrightness(c.get(), TRect{0, 0, 2, 1}, c.get(), 255, TPoint{0, 0});
  EXPECT_EQ(Px(c.get(), 1, 0), 0xFFFFFF);

  auto d = Surface(2, 2, 0x123456);
  d->Canvas()->SetPixels(1, 1, 0xABCDEF);
  KitBmpInvert(d.get(), TRect{0, 0, 2, 2}, d.get(), TPoint{0, 0});
  EXPECT_EQ(Px(d.get(), 0, 0), 0xEDCBA9);
  KitBmpInvert(d.get(), TRect{0, 0, 2, 2}, d.get(), TPoint{0, 0});
  EXPECT_EQ(Px(d.get(), 0, 0), 0x123456);
  EXPECT_EQ(Px(d.get(), 1, 1), 0xABCDEF);

  // Writing to another bitmap at an origin leaves the source alone.
  auto e = Surface(4, 4, 0);
  KitBmpInvert(d.get(), TRect{1, 1, 2, 2}, e.get(), TPoint{3, 2});
  EXPECT_EQ(Px(e.get(), 3, 2), 0x543210);
  EXPECT_EQ(Px(e.get(), 2, 2), 0);
  EXPECT_EQ(Px(d.get(), 1, 1), 0xABCDEF);
}

TEST(KitBitmapEffectObjectTest, MirrorsLeaveTheSpareBorderAndOddMiddle) {
  // Image 3 x 3 in a 5 x 5 work bitmap.
  auto w = Surface(5, 5, 0x777777);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) w->Canvas()->SetPixels(x, y, TColor(y * 16 + x + 1));
  KitBmpMirrorColumns(w.get(), TRect{0, 0, 5, 5}, w.get(), TPoint{0, 0});
  EXPECT_EQ(Px(w.get(), 0, 0), 3);
  EXPECT_EQ(Px(w.get(), 1, 0), 2);
  EXPECT_EQ(Px(w.get(), 2, 0), 1);
  EXPECT_EQ(Px(w.get(), 3, 0), 0x777777);
  KitBmpMirrorRows(w.get(), TRect{0, 0, 5, 5}, w.get(), TPoint{0, 0});
  EXPECT_EQ(Px(w.get(), 0, 0), 35);
  EXPECT_EQ(Px(w.get(), 0, 1), 19);
  EXPECT_EQ(Px(w.get(), 0, 2), 3);
  EXPECT_EQ(Px(w.get(), 0, 3), 0x777777);
  EXPECT_EQ(Px(w.get(), 4, 4), 0x777777);
}

TEST(KitBitmapEffectObjectTest, BlendTableAndFormatChecks) {
  auto black = Surface(2, 2, fw::clBlack);
  auto white = Surface(2, 2, fw::clWhite);
  auto out = Surface(2, 2, fw::clRed);
  KitBmpBlend(black.get(), white.get(), TRect{0, 0, 2, 2}, TPoint{0, 0}, 0.6, out.get(),
              TPoint{0, 0});
  EXPECT_EQ(Px(out.get(), 1, 1), 0x666666);  // 255 - 153 = 102
  KitBmpBlend(black.get(), white.get(), TRect{0, 0, 2, 2}, TPoint{0, 0}, 1.0, out.get(),
              TPoint{0, 0});
  EXPECT_EQ(Px(out.get(), 0, 0), 0);
  KitBmpBlend(black.get(), white.get(), TRect{0, 0, 2, 2}, TPoint{0, 0}, 0.0, out.get(),
              TPoint{0, 0});
  EXPECT_EQ(Px(out.get(), 0, 0), 0xFFFFFF);

  auto wide = Surface(2, 2, fw::clWhite, fw::pf32bit);
  try {
    KitBmpBlend(black.get(), wide.get(), TRect{0, 0, 2, 2}, TPoint{0, 0}, 0.5, wide.get(),
                TPoint{0, 0});
    ADD_FAILURE() << "no exception";
  } catch (const EKitWrongPixelFormat& e) {
    EXPECT_STREQ(e.what(), "Wrong PixelFormat in Source 2 bitmap!");
    EXPECT_STREQ(e.ClassName(), "EKitWrongPixelFormat");
  }
  try {
    KitBmpBlend(black.get(), white.get(), TRect{0, 0, 2, 2}, TPoint{0, 0}, 0.5, wide.get(),
                TPoint{0, 0});
    ADD_FAILURE() << "no exception";
  } catch (const EKitWrongPixelFormat& e) {
    EXPECT_STREQ(e.what(), "Wrong PixelFormat in Target bitmap!");
  }
}

TEST(KitBitmapEffectObjectTest, SettingsSummaryAndActivity) {
  TKitBitmapEffectObject fx;
  std::string text;
  fx.GetDisplayString(text);
  EXPECT_EQ(text, "{Disabled}");
  EXPECT_FALSE(fx.IsActive());
  int changes = 0;
  fx.OnChange = [&](fw::TObject*) { ++changes; };
  fx.SetGrayScale(true);
  fx.SetGrayScale(true);
  fx.SetBrightness(-3);
  fx.SetFlipVertical(true);
  EXPECT_EQ(changes, 3);
  fx.AlphaBlend()->FillObject()->SetStyle(sfBrush);
  EXPECT_EQ(changes, 4);
  fx.GetDisplayString(text);
  EXPECT_EQ(text, "{alpha,FV,GS,B}");
  // A fill with strength 1 does not count as active blending.
  TKitBitmapEffectObject only;
  only.AlphaBlend()->FillObject()->SetStyle(sfBrush);
  only.AlphaBlend()->SetStrength(1.0f);
  EXPECT_FALSE(only.IsActive());
}

TEST(KitBitmapEffectObjectTest, PipelineOrderBlendAndBuffer) {
  auto src = Surface(4, 3, fw::clBlack);
  src->Canvas()->SetPixels(0, 0, fw::clRed);
  TKitBitmapEffectObject fx;
  fx.SetFlipVertical(true);
  fx.SetInvert(true);
  auto work = Work(src.get());
  KitApplyBitmapEffects(&fx, src.get(), TRect{0, 0, 4, 3}, TRect{0, 0, 6, 5}, work.get());
  // The red corner moved to the right end of the row, then was inverted.
  EXPECT_EQ(Px(work.get(), 3, 0), 0xFFFF00);
  EXPECT_EQ(Px(work.get(), 0, 0), 0xFFFFFF);

  // A white brush fill at the default strength over a black image: 102.
  TKitBitmapEffectObject blend;
  blend.AlphaBlend()->FillObject()->SetStyle(sfBrush);
  blend.AlphaBlend()->FillObject()->Brush()->SetColor(fw::clWhite);
  auto black = Surface(3, 3, fw::clBlack);
  auto w2 = Work(black.get());
  KitApplyBitmapEffects(&blend, black.get(), TRect{0, 0, 3, 3}, TRect{0, 0, 5, 5}, w2.get());
  EXPECT_EQ(Px(w2.get(), 1, 1), 0x666666);
  // Strength 1 still runs the blend step, keeping the image.
  blend.AlphaBlend()->SetStrength(1.0f);
  auto w3 = Work(black.get());
  KitApplyBitmapEffects(&blend, black.get(), TRect{0, 0, 3, 3}, TRect{0, 0, 5, 5}, w3.get());
  EXPECT_EQ(Px(w3.get(), 1, 1), 0);

  // Buffered: a second run returns the buffer without reading the source; a
  // property change makes the next run compute again.
  TKitBitmapEffectObject buffered;
  buffered.SetBuffered(true);
  buffered.SetInvert(true);
  auto img = Surface(2, 2, fw::clBlack);
  auto wa = Work(img.get());
  KitApplyBitmapEffects(&buffered, img.get(), TRect{0, 0, 2, 2}, TRect{0, 0, 4, 4}, wa.get());
  EXPECT_EQ(Px(wa.get(), 0, 0), 0xFFFFFF);
  EXPECT_TRUE(buffered.BufferValid());
  img->Canvas()->SetPixels(0, 0, fw::clWhite);
  auto wb = Work(img.get());
  KitApplyBitmapEffects(&buffered, img.get(), TRect{0, 0, 2, 2}, TRect{0, 0, 4, 4}, wb.get());
  EXPECT_EQ(Px(wb.get(), 0, 0), 0xFFFFFF);
  buffered.SetGrayScale(true);
  EXPECT_FALSE(buffered.BufferValid());
  auto wc = Work(img.get());
  KitApplyBitmapEffects(&buffered, img.get(), TRect{0, 0, 2, 2}, TRect{0, 0, 4, 4}, wc.get());
  EXPECT_EQ(Px(wc.get(), 0, 0), 0x010101);  // white -> grey 254 -> inverted 1
  buffered.InvalidateBuffer();
  EXPECT_FALSE(buffered.BufferValid());
  buffered.SetBuffered(false);
  EXPECT_EQ(buffered.BufferBitmap(), nullptr);
}
