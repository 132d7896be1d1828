#include "components/kitbmp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace vexa {

namespace {

int BitsOf(fw::TBitmap* B) {
  if (!B || !B->Handle()) return 0;
  plat::BITMAP bm;
  if (!plat::GetObject(B->Handle(), sizeof bm, &bm)) return 0;
  return bm.bmBitsPixel;
}

// The part of Rect (moved to Origin in the target) that lies inside both bitmaps.
struct Span {
  int32_t sx = 0, sy = 0, tx = 0, ty = 0, w = 0, h = 0;
};

Span Clip(fw::TBitmap* S, const fw::TRect& R, fw::TBitmap* T, const fw::TPoint& O) {
  Span s{R.Left, R.Top, O.X, O.Y, R.Width(), R.Height()};
  auto cut = [&](int32_t& a, int32_t& b, int32_t& len) {
    if (a < 0) { len += a; b -= a; a = 0; }
    if (b < 0) { len += b; a -= b; b = 0; }
  };
  cut(s.sx, s.tx, s.w);
  cut(s.sy, s.ty, s.h);
  s.w = std::min({s.w, S->Width() - s.sx, T->Width() - s.tx});
  s.h = std::min({s.h, S->Height() - s.sy, T->Height() - s.ty});
  if (s.w < 0) s.w = 0;
  if (s.h < 0) s.h = 0;
  return s;
}

// Applies a byte table to every colour byte of the span.
template <class F>
void PerPixel(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
              const fw::TPoint& Origin, F f) {
  if (!Source || !Target || Source->Empty() || Target->Empty()) return;
  Span s = Clip(Source, Rect, Target, Origin);
  std::vector<uint8_t> row(size_t(s.w) * 3);
  for (int32_t y = 0; y < s.h; ++y) {
    std::memcpy(row.data(), Source->ScanLine(s.sy + y) + s.sx * 3, row.size());
    for (int32_t x = 0; x < s.w; ++x) f(&row[size_t(x) * 3]);
    std::memcpy(Target->ScanLine(s.ty + y) + s.tx * 3, row.data(), row.size());
  }
}

}  // namespace

void KitBmpGrayScale(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                     const fw::TPoint& Origin) {
  uint8_t r[256], g[256], b[256];
  for (int i = 0; i < 256; ++i) {
    r[i] = uint8_t(std::nearbyint(i * 0.3));
    g[i] = uint8_t(std::nearbyint(i * 0.59));
    b[i] = uint8_t(std::nearbyint(i * 0.11));
  }
  PerPixel(Source, Rect, Target, Origin, [&](uint8_t* p) {
    uint8_t v = uint8_t(b[p[0]] + g[p[1]] + r[p[2]]);
    p[0] = p[1] = p[2] = v;
  });
}

void KitBmpInvert(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                  const fw::TPoint& Origin) {
  PerPixel(Source, Rect, Target, Origin, [](uint8_t* p) {
    p[0] = uint8_t(255 - p[0]);
    p[1] = uint8_t(255 - p[1]);
    p[2] = uint8_t(255 - p[2]);
  });
}

void KitBmpBrightness(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                      int16_t Amount, const fw::TPoint& Origin) {
  uint8_t t[256];
  for (int i = 0; i < 256; ++i) t[i] = uint8_t(std::clamp(i + int(Amount), 0, 255));
  PerPixel(Source, Rect, Target, Origin, [&](uint8_t* p) {
    p[0] = t[p[0]];
    p[1] = t[p[1]];
    p[2] = t[p[2]];
  });
}

void KitBmpMirrorRows(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                      const fw::TPoint& Origin) {
  if (!Source || !Target || Source->Empty() || Target->Empty()) return;
  fw::TRect image{Rect.Left, Rect.Top, Rect.Right - 2, Rect.Bottom - 2};
  Span s = Clip(Source, image, Target, Origin);
  const int32_t H = s.h;
  // The rows are read first so that source and target may be the same bitmap;
  // the buffer is sized to the row, so any width is mirrored.
  std::vector<std::vector<uint8_t>> rows(size_t(H), std::vector<uint8_t>(size_t(s.w) * 3));
  for (int32_t y = 0; y < H; ++y)
    std::memcpy(rows[size_t(y)].data(), Source->ScanLine(s.sy + y) + s.sx * 3, rows[0].size());
  for (int32_t y = 0; y < H; ++y)
    std::memcpy(Target->ScanLine(s.ty + H - 1 - y) + s.tx * 3, rows[size_t(y)].data(),
                rows[0].size());
}

void KitBmpMirrorColumns(fw::TBitmap* Source, const fw::TRect& Rect, fw::TBitmap* Target,
                         const fw::TPoint& Origin) {
  if (!Source || !Target || Source->Empty() || Target->Empty()) return;
  fw::TRect image{Rect.Left, Rect.Top, Rect.Right - 2, Rect.Bottom - 2};
  Span s = Clip(Source, image, Target, Origin);
  const int32_t W = s.w;
  std::vector<uint8_t> row(size_t(W) * 3);
  for (int32_t y = 0; y < s.h; ++y) {
    const uint8_t* src = Source->ScanLine(s.sy + y) + s.sx * 3;
    for (int32_t x = 0; x < W; ++x) std::memcpy(&row[size_t(W - 1 - x) * 3], src + x * 3, 3);
    std::memcpy(Target->ScanLine(s.ty + y) + s.tx * 3, row.data(), row.size());
  }
}

void KitBmpBlend(fw::TBitmap* Source1, fw::TBitmap* Source2, const fw::TRect& Rect1,
                 const fw::TPoint& Origin2, double Strength, fw::TBitmap* Target,
                 const fw::TPoint& TargetOrigin) {
  const std::pair<fw::TBitmap*, const char*> checks[] = {
      {Source1, "Source 1"}, {Source2, "Source 2"}, {Target, "Target"}};
  for (auto& [b, name] : checks)
    if (BitsOf(b) != 24)
      throw EKitWrongPixelFormat(std::string("Wrong PixelFormat in ") + name + " bitmap!");
  int32_t table[511];
  for (int d = -255; d <= 255; ++d) table[d + 255] = int32_t(std::nearbyint(d * Strength));
  Span a = Clip(Source1, Rect1, Target, TargetOrigin);
  fw::TRect r2{Origin2.X, Origin2.Y, Origin2.X + a.w, Origin2.Y + a.h};
  Span b = Clip(Source2, r2, Target, TargetOrigin);
  const int32_t w = std::min(a.w, b.w), h = std::min(a.h, b.h);
  if (w <= 0 || h <= 0) return;
  const int32_t sx2 = Origin2.X + (a.sx - Rect1.Left), sy2 = Origin2.Y + (a.sy - Rect1.Top);
  std::vector<uint8_t> row(size_t(w) * 3);
  for (int32_t y = 0; y < h; ++y) {
    if (sy2 + y < 0 || sy2 + y >= Source2->Height() || sx2 < 0 || sx2 + w > Source2->Width())
      continue;
    const uint8_t* p1 = Source1->ScanLine(a.sy + y) + a.sx * 3;
    const uint8_t* p2 = Source2->ScanLine(sy2 + y) + sx2 * 3;
    for (size_t i = 0; i < row.size(); ++i)
      row[i] = uint8_t(p2[i] + table[int(p1[i]) - int(p2[i]) + 255]);
    std::memcpy(Target->ScanLine(a.ty + y) + a.tx * 3, row.data(), row.size());
  }
}

}  // namespace vexa
