// Pixel kernels on 24-bit bitmaps (three bytes per pixel: blue, green, red).
// Each works over a rectangle of the source and writes at an origin of the
// target; source and target may be the same bitmap.
#pragma once

#include <cstdint>

#include "framework/Graphics.h"
#include "framework/SysUtils.h"

namespace vexa {

VEXA_DECLARE_EXCEPTION(EKitWrongPixelFormat, fw::Exception);

// All three bytes := round(0.3 R) + round(0.59 G) + round(0.11 B), halves to even.
void KitBmpGrayScale(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                     const fw::TPoint& Origin);
// The rect holds the image plus two spare columns and rows at its right and
// bottom: image row y goes to row H - 1 - y.
void KitBmpMirrorRows(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                      const fw::TPoint& Origin);
// Same rect convention: pixel x of each image row goes to W - 1 - x.
void KitBmpMirrorColumns(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                         const fw::TPoint& Origin);
// byte := s2 + round((s1 - s2) * Strength). Raises EKitWrongPixelFormat
// "Wrong PixelFormat in <Source 1|Source 2|Target> bitmap!" for the first bitmap
// that is not 24 bits per pixel.
void KitBmpBlend(fw::TBitmap* Source1, fw::TBitmap* Source2, const fw::TRect& Rect1,
                 const fw::TPoint& Origin2, double Strength, fw::TBitmap* Target,
                 const fw::TPoint& TargetOrigin);
void KitBmpInvert(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                  const fw::TPoint& Origin);
// byte := byte + Amount, held within 0..255.
void KitBmpBrightness(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                      int16_t Amount, const fw::TPoint& Origin);

}  // namespace vexa
