// Drawing: pens, shapes, region fills, blits and edges.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "platform/gdi/GdiInternal.h"

namespace plat {

using namespace gdi;

namespace {

int PenWidth(const DCObj& dc) {
  if (!dc.st.pen || dc.st.pen->lp.lopnStyle == PS_NULL) return 0;
  return std::max(1, int(dc.st.pen->lp.lopnWidth.x));
}

const std::vector<int>* DashPattern(uint32_t style) {
  static const std::vector<int> dash{18, 6}, dot{3, 3}, dashdot{9, 6, 3, 6},
      dashdotdot{9, 3, 3, 3, 3, 3};
  switch (style) {
    case PS_DASH: return &dash;
    case PS_DOT: return &dot;
    case PS_DASHDOT: return &dashdot;
    case PS_DASHDOTDOT: return &dashdotdot;
    default: return nullptr;
  }
}

struct PenStroke {
  DCObj& dc;
  COLORREF color;
  int width;
  const std::vector<int>* dash;
  int pos = 0;

  explicit PenStroke(DCObj& d)
      : dc(d), color(d.st.pen ? StripFlags(d.st.pen->lp.lopnColor) : 0), width(PenWidth(d)),
        dash(width == 1 && d.st.pen ? DashPattern(d.st.pen->lp.lopnStyle) : nullptr) {}

  void Dot(int32_t x, int32_t y) {
    if (width == 0) return;
    if (dash) {
      int total = 0;
      for (int v : *dash) total += v;
      int p = pos++ % total, k = 0;
      while (p >= (*dash)[size_t(k)]) { p -= (*dash)[size_t(k)]; ++k; }
      if (k & 1) {
        if (dc.st.bkMode == OPAQUE) PlotPen(dc, x, y, StripFlags(dc.st.bkColor));
        return;
      }
      PlotPen(dc, x, y, color);
      return;
    }
    if (width == 1) { PlotPen(dc, x, y, color); return; }
    int32_t o = width / 2;
    for (int32_t j = 0; j < width; ++j)
      for (int32_t i = 0; i < width; ++i) PlotPen(dc, x - o + i, y - o + j, color);
  }

  // Device coordinates; the end point is left out unless `last`.
  void Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, bool last) {
    // Far-flung lines are cut to the visible box first, so that no line takes
    // longer to draw than the surface is large.
    RECT box = EffectiveClip(dc).Box();
    int64_t m = (1 << 16);
    auto far = [&](int64_t x, int64_t y) {
      return x < box.left - m || x > box.right + m || y < box.top - m || y > box.bottom + m;
    };
    if (far(x0, y0) || far(x1, y1)) {
      double t0 = 0, t1 = 1, dx = double(x1) - x0, dy = double(y1) - y0;
      double pad = width + 2;
      auto clipT = [&](double p, double q) {
        if (p == 0) return q >= 0;
        double r = q / p;
        if (p < 0) { if (r > t1) return false; if (r > t0) t0 = r; }
        else { if (r < t0) return false; if (r < t1) t1 = r; }
        return true;
      };
      if (!clipT(-dx, x0 - (box.left - pad)) || !clipT(dx, (box.right + pad) - x0) ||
          !clipT(-dy, y0 - (box.top - pad)) || !clipT(dy, (box.bottom + pad) - y0))
        return;
      int32_t nx0 = int32_t(std::lround(x0 + t0 * dx)), ny0 = int32_t(std::lround(y0 + t0 * dy));
      int32_t nx1 = int32_t(std::lround(x0 + t1 * dx)), ny1 = int32_t(std::lround(y0 + t1 * dy));
      if (t1 < 1) last = true;
      x0 = nx0; y0 = ny0; x1 = nx1; y1 = ny1;
    }
    int32_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int32_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int32_t err = dx + dy;
    int64_t guard = int64_t(dx) - dy + 2;
    while (guard-- > 0) {
      if (x0 == x1 && y0 == y1) {
        if (last) Dot(x0, y0);
        break;
      }
      Dot(x0, y0);
      int32_t e2 = 2 * err;
      if (e2 >= dy) { err += dy; x0 += sx; }
      if (e2 <= dx) { err += dx; y0 += sy; }
    }
  }
};

void PenRegion(DCObj& dc, const Region& ring) {
  COLORREF c = dc.st.pen ? StripFlags(dc.st.pen->lp.lopnColor) : 0;
  Region visible = Region::Combine(ring, EffectiveClip(dc), RGN_AND);
  for (auto& b : visible.bands)
    for (int32_t y = b.top; y < b.bottom; ++y)
      for (auto& sp : b.spans)
        for (int32_t x = sp.first; x < sp.second; ++x) PlotPen(dc, x, y, c);
}

void Normalise(int32_t& l, int32_t& t, int32_t& r, int32_t& b) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
}

Region EllipseRegion(int32_t l, int32_t t, int32_t r, int32_t b) {
  int32_t top;
  Rows rows;
  EllipseRows(l, t, r, b, &top, &rows);
  return Region::FromRows(top, rows);
}

Region RoundRectRegion(int32_t l, int32_t t, int32_t r, int32_t b, int32_t w, int32_t h) {
  int32_t top;
  Rows rows;
  RoundRectRows(l, t, r, b, w, h, &top, &rows);
  return Region::FromRows(top, rows);
}

bool TooLarge(int32_t l, int32_t t, int32_t r, int32_t b) {
  return int64_t(r) - l > (1 << 16) || int64_t(b) - t > (1 << 16);
}

// The prologue of every bounded shape: its context, and its corners put in order and
// taken to the device. False (the call fails) for an unknown context or a shape too large.
struct ShapeBox {
  std::shared_ptr<DCObj> dc;
  POINT p, q;
  bool Open(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b) {
    dc = LookupDC(hdc);
    if (!dc) return false;
    Normalise(l, t, r, b);
    if (TooLarge(l, t, r, b)) return false;
    p = ToDevice(*dc, l, t);
    q = ToDevice(*dc, r, b);
    return true;
  }
};

}  // namespace

// ---- Shapes -------------------------------------------------------------------

bool MoveToEx(HDC hdc, int32_t x, int32_t y, POINT* old) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  if (old) *old = dc->st.cur;
  dc->st.cur = POINT{x, y};
  return true;
}

bool GetCurrentPositionEx(HDC hdc, POINT* pos) {
  auto dc = LookupDC(hdc);
  if (!dc || !pos) return false;
  *pos = dc->st.cur;
  return true;
}

bool LineTo(HDC hdc, int32_t x, int32_t y) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  PenStroke pen(*dc);
  POINT a = ToDevice(*dc, dc->st.cur.x, dc->st.cur.y), b = ToDevice(*dc, x, y);
  pen.Line(a.x, a.y, b.x, b.y, false);
  dc->st.cur = POINT{x, y};
  return true;
}

bool Polyline(HDC hdc, const POINT* pts, int count) {
  auto dc = LookupDC(hdc);
  if (!dc || !pts || count < 2) return false;
  PenStroke pen(*dc);
  for (int i = 0; i + 1 < count; ++i) {
    POINT a = ToDevice(*dc, pts[i].x, pts[i].y), b = ToDevice(*dc, pts[i + 1].x, pts[i + 1].y);
    pen.Line(a.x, a.y, b.x, b.y, false);
  }
  return true;
}

bool Polygon(HDC hdc, const POINT* pts, int count) {
  auto dc = LookupDC(hdc);
  if (!dc || !pts || count < 2) return false;
  std::vector<POINT> dp(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) dp[size_t(i)] = ToDevice(*dc, pts[i].x, pts[i].y);
  if (dc->st.brush) {
    int32_t top;
    Rows rows;
    PolygonRows(dp.data(), count, dc->st.polyFill, &top, &rows);
    FillRowsBrush(*dc, *dc->st.brush, top, rows, Fill::Shape);
  }
  if (PenWidth(*dc) > 0) {
    PenStroke pen(*dc);
    for (int i = 0; i < count; ++i) {
      const POINT& a = dp[size_t(i)];
      const POINT& b = dp[size_t((i + 1) % count)];
      pen.Line(a.x, a.y, b.x, b.y, true);
    }
  }
  return true;
}

namespace {
// A shape the brush fills inside the pen's width and the pen outlines: make
// gives its region in a box, its last argument the inset (0 for the outside).
// Only a rectangle's outline (Dashes) follows a dashed pen's pattern.
bool ClosedShape(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b,
                 const std::function<Region(int32_t, int32_t, int32_t, int32_t, int)>& make,
                 bool Dashes = false) {
  ShapeBox box;
  if (!box.Open(hdc, l, t, r, b)) return false;
  auto& dc = box.dc;
  const POINT p = box.p, q = box.q;
  int w = PenWidth(*dc);
  if (w == 0) {
    if (dc->st.brush)
      FillRegionBrush(*dc, *dc->st.brush, make(p.x, p.y, q.x - 1, q.y - 1, 0), Fill::Shape);
    return true;
  }
  Region inner = make(p.x + w, p.y + w, q.x - w, q.y - w, w);
  if (dc->st.brush) FillRegionBrush(*dc, *dc->st.brush, inner, Fill::Shape);
  PenStroke pen(*dc);
  if (Dashes && pen.dash) {
    pen.Line(p.x, p.y, q.x - 1, p.y, false);
    pen.Line(q.x - 1, p.y, q.x - 1, q.y - 1, false);
    pen.Line(q.x - 1, q.y - 1, p.x, q.y - 1, false);
    pen.Line(p.x, q.y - 1, p.x, p.y, false);
    return true;
  }
  PenRegion(*dc, Region::Combine(make(p.x, p.y, q.x, q.y, 0), inner, RGN_DIFF));
  return true;
}
}  // namespace

bool Rectangle(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b) {
  return ClosedShape(
      hdc, l, t, r, b,
      [](int32_t a, int32_t c, int32_t d, int32_t e, int) { return Region::FromRect(a, c, d, e); },
      true);
}

bool Ellipse(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b) {
  return ClosedShape(hdc, l, t, r, b, [](int32_t a, int32_t c, int32_t d, int32_t e, int) {
    return EllipseRegion(a, c, d, e);
  });
}

bool RoundRect(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t w, int32_t h) {
  return ClosedShape(
      hdc, l, t, r, b, [w, h](int32_t a, int32_t c, int32_t d, int32_t e, int inset) {
        return RoundRectRegion(a, c, d, e, std::max(0, w - 2 * inset), std::max(0, h - 2 * inset));
      });
}

bool Arc(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t x1, int32_t y1, int32_t x2,
         int32_t y2) {
  ShapeBox box;
  if (!box.Open(hdc, l, t, r, b)) return false;
  auto& dc = box.dc;
  int w = PenWidth(*dc);
  if (w == 0) return true;
  const POINT p = box.p, q = box.q;
  POINT s = ToDevice(*dc, x1, y1), e = ToDevice(*dc, x2, y2);
  Region ring = Region::Combine(EllipseRegion(p.x, p.y, q.x, q.y),
                                EllipseRegion(p.x + w, p.y + w, q.x - w, q.y - w), RGN_DIFF);
  ring = Region::Combine(ring, EffectiveClip(*dc), RGN_AND);
  double cx = (p.x + q.x) / 2.0, cy = (p.y + q.y) / 2.0;
  const double two_pi = 2 * M_PI;
  auto angle = [&](double x, double y) {
    double a = std::atan2(-(y - cy), x - cx);
    return a < 0 ? a + two_pi : a;
  };
  double a0 = angle(s.x, s.y), a1 = angle(e.x, e.y);
  double sweep = std::fmod(a1 - a0 + two_pi, two_pi);
  if (sweep == 0) sweep = two_pi;
  COLORREF c = StripFlags(dc->st.pen->lp.lopnColor);
  for (auto& band : ring.bands)
    for (int32_t y = band.top; y < band.bottom; ++y)
      for (auto& sp : band.spans)
        for (int32_t x = sp.first; x < sp.second; ++x) {
          double a = std::fmod(angle(x + 0.5, y + 0.5) - a0 + two_pi, two_pi);
          if (a <= sweep) PlotPen(*dc, x, y, c);
        }
  return true;
}

namespace {
// The brush fills the device rectangle of rc, or only its one-pixel frame:
// 0 for an unknown context or brush, else 1 (an empty rectangle draws nothing).
int BrushRect(HDC hdc, const RECT* rc, HBRUSH brush, bool FrameOnly) {
  auto dc = LookupDC(hdc);
  auto br = LookupAs<BrushObj>(brush, OBJ_BRUSH);
  if (!dc || !rc || !br) return 0;
  POINT p = ToDevice(*dc, rc->left, rc->top), q = ToDevice(*dc, rc->right, rc->bottom);
  if (p.x >= q.x || p.y >= q.y) return 1;
  Region area = Region::FromRect(p.x, p.y, q.x, q.y);
  if (FrameOnly)
    area = Region::Combine(area, Region::FromRect(p.x + 1, p.y + 1, q.x - 1, q.y - 1), RGN_DIFF);
  FillRegionBrush(*dc, *br, area, Fill::Pattern);
  return 1;
}
}  // namespace

int FillRect(HDC hdc, const RECT* rc, HBRUSH brush) { return BrushRect(hdc, rc, brush, false); }

int FrameRect(HDC hdc, const RECT* rc, HBRUSH brush) { return BrushRect(hdc, rc, brush, true); }

bool InvertRect(HDC hdc, const RECT* rc) {
  auto dc = LookupDC(hdc);
  if (!dc || !rc) return false;
  Surface* s = dc->target();
  if (!s) return true;
  POINT p = ToDevice(*dc, rc->left, rc->top), q = ToDevice(*dc, rc->right, rc->bottom);
  for (int32_t y = p.y; y < q.y; ++y)
    ForClippedSpan(*dc, y, p.x, q.x, [&](int32_t a, int32_t e) {
      for (int32_t x = a; x < e; ++x) s->Set(x, y, ~s->Get(x, y) & 0xFFFFFF);
    });
  return true;
}

COLORREF SetPixel(HDC hdc, int32_t x, int32_t y, COLORREF color) {
  auto dc = LookupDC(hdc);
  if (!dc) return CLR_INVALID;
  Surface* s = dc->target();
  POINT p = ToDevice(*dc, x, y);
  if (!s || !EffectiveClip(*dc).Contains(p.x, p.y)) return CLR_INVALID;
  s->Set(p.x, p.y, StripFlags(color));
  return s->Get(p.x, p.y);
}

COLORREF GetPixel(HDC hdc, int32_t x, int32_t y) {
  auto dc = LookupDC(hdc);
  if (!dc) return CLR_INVALID;
  Surface* s = dc->target();
  POINT p = ToDevice(*dc, x, y);
  if (!s || !EffectiveClip(*dc).Contains(p.x, p.y)) return CLR_INVALID;
  return s->Get(p.x, p.y);
}

// ---- Blits ----------------------------------------------------------------------

bool StretchBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh, uint32_t rop) {
  auto d = LookupDC(dst);
  if (!d) return false;
  uint32_t idx = (rop >> 16) & 0xFF;
  bool useSrc = (((idx >> 2) ^ idx) & 0x33) != 0;
  bool usePat = (((idx >> 4) ^ idx) & 0x0F) != 0;
  bool useDst = (((idx >> 1) ^ idx) & 0x55) != 0;
  std::shared_ptr<DCObj> s;
  if (useSrc) {
    s = LookupDC(src);
    if (!s) return false;
  }
  Surface* ds = d->target();
  if (!ds || w == 0 || h == 0) return true;
  if (int64_t(std::abs(w)) > (1 << 16) || int64_t(std::abs(h)) > (1 << 16)) return false;
  bool mirrorX = false, mirrorY = false;
  if (w < 0) { x += w; w = -w; mirrorX = !mirrorX; }
  if (h < 0) { y += h; h = -h; mirrorY = !mirrorY; }
  if (useSrc) {
    if (sw == 0 || sh == 0) return true;
    if (sw < 0) { sx += sw; sw = -sw; mirrorX = !mirrorX; }
    if (sh < 0) { sy += sh; sh = -sh; mirrorY = !mirrorY; }
  }
  Surface snapshot;
  const Surface* ss = nullptr;
  POINT sorg;
  COLORREF srcBk = 0;
  if (useSrc) {
    ss = s->target();
    if (!ss) return true;
    if (ss == ds) { snapshot = *ss; ss = &snapshot; }
    sorg = ToDevice(*s, sx, sy);
    srcBk = StripFlags(s->st.bkColor);
  }
  // Monochrome rules hold for black-and-white 1-bit surfaces; a 1-bit
  // bitmap with other table colours draws those colours.
  auto blackWhite = [](const Surface* s) {
    return s && s->bpp == 1 && s->table.size() == 2 && s->table[0].rgbRed == 0 &&
           s->table[0].rgbGreen == 0 && s->table[0].rgbBlue == 0 && s->table[1].rgbRed == 255 &&
           s->table[1].rgbGreen == 255 && s->table[1].rgbBlue == 255;
  };
  bool srcMono = blackWhite(ss), dstMono = ds->bpp == 1;
  COLORREF fg = StripFlags(d->st.textColor), bg = StripFlags(d->st.bkColor);
  POINT o = ToDevice(*d, x, y);
  const BrushObj* brush = d->st.brush.get();
  bool plainCopy = idx == 0xCC && !mirrorX && !mirrorY && sw == w && sh == h && ss &&
                   ss->bpp == 24 && ds->bpp == 24;
  for (int32_t j = 0; j < h; ++j) {
    int32_t dy = o.y + j;
    int32_t v = 0;
    if (useSrc) {
      v = int32_t((int64_t(j) * sh + sh / 2) / h);
      if (v >= sh) v = sh - 1;
      if (mirrorY) v = sh - 1 - v;
      v += sorg.y;
      if (v < 0 || v >= ss->height) continue;
    }
    ForClippedSpan(*d, dy, o.x, o.x + w, [&](int32_t a, int32_t e) {
      if (plainCopy) {
        int32_t u0 = sorg.x + (a - o.x), u1 = sorg.x + (e - o.x);
        int32_t ca = std::max(u0, 0), ce = std::min(u1, ss->width);
        if (ca >= ce) return;
        std::memcpy(ds->bits.data() + size_t(dy) * size_t(ds->stride) + size_t(a + (ca - u0)) * 3,
                    ss->bits.data() + size_t(v) * size_t(ss->stride) + size_t(ca) * 3,
                    size_t(ce - ca) * 3);
        return;
      }
      for (int32_t dx = a; dx < e; ++dx) {
        COLORREF sc = 0, pc = 0, dc = 0;
        if (useSrc) {
          int32_t i = dx - o.x;
          int32_t u = int32_t((int64_t(i) * sw + sw / 2) / w);
          if (u >= sw) u = sw - 1;
          if (mirrorX) u = sw - 1 - u;
          u += sorg.x;
          if (u < 0 || u >= ss->width) continue;
          if (srcMono && !dstMono) {
            sc = ss->Index(u, v) ? bg : fg;
          } else {
            sc = ss->Get(u, v);
            if (!srcMono && dstMono) sc = (sc == srcBk) ? 0xFFFFFF : 0;
          }
        }
        if (usePat) {
          if (!brush || !BrushColor(*d, *brush, dx, dy, true, &pc)) pc = 0;
          if (dstMono) pc = ds->table[size_t(ds->Nearest(pc))].rgbRed ? 0xFFFFFF : 0;
        }
        if (useDst) dc = ds->Get(dx, dy);
        ds->Set(dx, dy, Rop3(idx, pc, sc, dc));
      }
    });
  }
  return true;
}

bool BitBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy,
            uint32_t rop) {
  return StretchBlt(dst, x, y, w, h, src, sx, sy, w, h, rop);
}

bool PatBlt(HDC hdc, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rop) {
  uint32_t idx = (rop >> 16) & 0xFF;
  if ((((idx >> 2) ^ idx) & 0x33) != 0) return false;  // needs a source
  return StretchBlt(hdc, x, y, w, h, 0, 0, 0, 0, 0, rop);
}

// ---- Regions on device contexts ---------------------------------------------

namespace {
Region LogicalRegion(const DCObj& dc, const Region& g) {
  Region r = g;
  POINT o = ToDevice(dc, 0, 0);
  r.Offset(o.x, o.y);
  return r;
}
}  // namespace

bool FillRgn(HDC hdc, HRGN rgn, HBRUSH brush) {
  auto dc = LookupDC(hdc);
  auto r = LookupAs<RegionObj>(rgn, OBJ_REGION);
  auto br = LookupAs<BrushObj>(brush, OBJ_BRUSH);
  if (!dc || !r || !br) return false;
  FillRegionBrush(*dc, *br, LogicalRegion(*dc, r->rgn), Fill::Region);
  return true;
}

bool PaintRgn(HDC hdc, HRGN rgn) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  return FillRgn(hdc, rgn, dc->st.brushH);
}

bool FrameRgn(HDC hdc, HRGN rgn, HBRUSH brush, int32_t w, int32_t h) {
  auto dc = LookupDC(hdc);
  auto r = LookupAs<RegionObj>(rgn, OBJ_REGION);
  auto br = LookupAs<BrushObj>(brush, OBJ_BRUSH);
  if (!dc || !r || !br || w < 0 || h < 0) return false;
  Region g = LogicalRegion(*dc, r->rgn);
  Region inner = g;
  for (auto [dx, dy] : {std::pair{w, 0}, std::pair{-w, 0}, std::pair{0, h}, std::pair{0, -h}}) {
    Region m = g;
    m.Offset(dx, dy);
    inner = Region::Combine(inner, m, RGN_AND);
  }
  FillRegionBrush(*dc, *br, Region::Combine(g, inner, RGN_DIFF), Fill::Region);
  return true;
}

bool InvertRgn(HDC hdc, HRGN rgn) {
  auto dc = LookupDC(hdc);
  auto r = LookupAs<RegionObj>(rgn, OBJ_REGION);
  if (!dc || !r) return false;
  Surface* s = dc->target();
  if (!s) return true;
  Region g = Region::Combine(LogicalRegion(*dc, r->rgn), EffectiveClip(*dc), RGN_AND);
  for (auto& b : g.bands)
    for (int32_t y = b.top; y < b.bottom; ++y)
      for (auto& sp : b.spans)
        ForClippedSpan(*dc, y, sp.first, sp.second, [&](int32_t a, int32_t e) {
          for (int32_t x = a; x < e; ++x) s->Set(x, y, ~s->Get(x, y) & 0xFFFFFF);
        });
  return true;
}

int SelectClipRgn(HDC hdc, HRGN rgn) { return ExtSelectClipRgn(hdc, rgn, RGN_COPY); }

bool DrawEdge(HDC hdc, RECT* rc, uint32_t edge, uint32_t flags) {
  auto dc = LookupDC(hdc);
  if (!dc || !rc) return false;
  RECT r = *rc;
  uint32_t outer = edge & BDR_OUTER, inner = edge & BDR_INNER;
  auto sys = [](int i) { return GetSysColor(i); };
  auto colours = [&](bool isOuter, uint32_t kind, COLORREF* tl, COLORREF* br) -> bool {
    if (!kind) return false;
    if (flags & BF_MONO) {
      *tl = *br = sys(isOuter ? COLOR_WINDOWFRAME : COLOR_WINDOW);
      return true;
    }
    if (flags & BF_FLAT) {
      *tl = *br = sys(isOuter ? COLOR_3DSHADOW : COLOR_3DFACE);
      return true;
    }
    bool soft = (flags & BF_SOFT) != 0;
    bool raised = isOuter ? (kind & BDR_RAISEDOUTER) : (kind & BDR_RAISEDINNER);
    if (raised) {
      bool useHilight = isOuter ? soft : !soft;
      *tl = sys(useHilight ? COLOR_3DHILIGHT : COLOR_3DLIGHT);
      *br = sys(isOuter ? COLOR_3DDKSHADOW : COLOR_3DSHADOW);
    } else {
      bool useDark = isOuter ? soft : !soft;
      *tl = sys(useDark ? COLOR_3DDKSHADOW : COLOR_3DSHADOW);
      *br = sys(isOuter ? COLOR_3DHILIGHT : COLOR_3DLIGHT);
    }
    return true;
  };
  auto drawOne = [&](RECT& q, COLORREF tl, COLORREF br) {
    if (q.right <= q.left || q.bottom <= q.top) return;
    auto fill = [&](int32_t l, int32_t t, int32_t rr, int32_t b, COLORREF c) {
      if (l >= rr || t >= b) return;
      BrushObj brush;
      brush.lb.lbColor = c;
      POINT p = ToDevice(*dc, l, t), e = ToDevice(*dc, rr, b);
      FillRegionBrush(*dc, brush, Region::FromRect(p.x, p.y, e.x, e.y), Fill::Pattern);
    };
    if (flags & BF_LEFT) fill(q.left, q.top, q.left + 1, q.bottom - 1, tl);
    if (flags & BF_TOP) fill(q.left, q.top, q.right - 1, q.top + 1, tl);
    if (flags & BF_RIGHT) fill(q.right - 1, q.top, q.right, q.bottom, br);
    if (flags & BF_BOTTOM) fill(q.left, q.bottom - 1, q.right, q.bottom, br);
    if (flags & BF_LEFT) q.left++;
    if (flags & BF_TOP) q.top++;
    if (flags & BF_RIGHT) q.right--;
    if (flags & BF_BOTTOM) q.bottom--;
  };
  COLORREF tl, br;
  if (colours(true, outer, &tl, &br)) drawOne(r, tl, br);
  if (colours(false, inner, &tl, &br)) drawOne(r, tl, br);
  if (flags & BF_MIDDLE) {
    COLORREF face = sys((flags & (BF_FLAT | BF_MONO)) ? COLOR_WINDOW : COLOR_3DFACE);
    if (r.left < r.right && r.top < r.bottom) {
      BrushObj brush;
      brush.lb.lbColor = face;
      POINT p = ToDevice(*dc, r.left, r.top), e = ToDevice(*dc, r.right, r.bottom);
      FillRegionBrush(*dc, brush, Region::FromRect(p.x, p.y, e.x, e.y), Fill::Pattern);
    }
  }
  if (flags & BF_ADJUST) *rc = r;
  return true;
}

}  // namespace plat
