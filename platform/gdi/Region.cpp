// Regions: band-sorted span sets, the filled shapes' rows, combination and the
// stored region data layout.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace plat::gdi {

namespace {

using Spans = std::vector<std::pair<int32_t, int32_t>>;

void Normalise(Spans* s) {
  Spans out;
  std::sort(s->begin(), s->end());
  for (auto& sp : *s) {
    if (sp.first >= sp.second) continue;
    if (!out.empty() && sp.first <= out.back().second) {
      out.back().second = std::max(out.back().second, sp.second);
    } else {
      out.push_back(sp);
    }
  }
  *s = std::move(out);
}

bool Inside(const Spans& s, size_t& i, int32_t x) {
  while (i < s.size() && s[i].second <= x) ++i;
  return i < s.size() && s[i].first <= x;
}

Spans CombineSpans(const Spans& a, const Spans& b, int mode) {
  std::vector<int32_t> xs;
  xs.reserve((a.size() + b.size()) * 2);
  for (auto& s : a) { xs.push_back(s.first); xs.push_back(s.second); }
  for (auto& s : b) { xs.push_back(s.first); xs.push_back(s.second); }
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  Spans out;
  size_t ia = 0, ib = 0;
  for (size_t k = 0; k + 1 < xs.size(); ++k) {
    bool ina = Inside(a, ia, xs[k]);
    bool inb = Inside(b, ib, xs[k]);
    bool in = false;
    switch (mode) {
      case RGN_AND: in = ina && inb; break;
      case RGN_OR: in = ina || inb; break;
      case RGN_XOR: in = ina != inb; break;
      case RGN_DIFF: in = ina && !inb; break;
      default: in = ina; break;
    }
    if (!in) continue;
    if (!out.empty() && out.back().second == xs[k]) {
      out.back().second = xs[k + 1];
    } else {
      out.push_back({xs[k], xs[k + 1]});
    }
  }
  return out;
}

void PushBand(std::vector<Band>* bands, int32_t top, int32_t bottom, Spans spans) {
  if (spans.empty() || top >= bottom) return;
  if (!bands->empty() && bands->back().bottom == top && bands->back().spans == spans) {
    bands->back().bottom = bottom;
    return;
  }
  bands->push_back(Band{top, bottom, std::move(spans)});
}

// Row span of the ellipse inscribed in the box at row y: pixels whose centre lies inside.
bool EllipseSpan(double l, double t, double r, double b, int32_t y, int32_t* x0, int32_t* x1) {
  double a = (r - l) / 2.0, bb = (b - t) / 2.0;
  if (a <= 0 || bb <= 0) return false;
  double cx = (l + r) / 2.0, cy = (t + b) / 2.0;
  double dy = (y + 0.5 - cy) / bb;
  if (dy * dy > 1.0) return false;
  double hw = a * std::sqrt(1.0 - dy * dy);
  int32_t s = int32_t(std::ceil(cx - hw - 0.5 - 1e-9));
  int32_t e = int32_t(std::floor(cx + hw - 0.5 + 1e-9)) + 1;
  if (s >= e) return false;
  *x0 = s;
  *x1 = e;
  return true;
}

}  // namespace

Region Region::FromRect(int32_t l, int32_t t, int32_t r, int32_t b) {
  Region g;
  if (l < r && t < b) g.bands.push_back(Band{t, b, {{l, r}}});
  return g;
}

Region Region::FromRows(int32_t top, const Rows& rows) {
  Region g;
  for (size_t i = 0; i < rows.size(); ++i) {
    Spans s = rows[i];
    Normalise(&s);
    PushBand(&g.bands, top + int32_t(i), top + int32_t(i) + 1, std::move(s));
  }
  return g;
}

Region Region::Combine(const Region& a, const Region& b, int mode) {
  if (mode == RGN_COPY) return a;
  std::vector<int32_t> ys;
  for (auto& bd : a.bands) { ys.push_back(bd.top); ys.push_back(bd.bottom); }
  for (auto& bd : b.bands) { ys.push_back(bd.top); ys.push_back(bd.bottom); }
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  Region g;
  static const Spans kNone;
  size_t ia = 0, ib = 0;
  for (size_t k = 0; k + 1 < ys.size(); ++k) {
    int32_t y = ys[k];
    while (ia < a.bands.size() && a.bands[ia].bottom <= y) ++ia;
    while (ib < b.bands.size() && b.bands[ib].bottom <= y) ++ib;
    const Spans& sa = (ia < a.bands.size() && a.bands[ia].top <= y) ? a.bands[ia].spans : kNone;
    const Spans& sb = (ib < b.bands.size() && b.bands[ib].top <= y) ? b.bands[ib].spans : kNone;
    PushBand(&g.bands, y, ys[k + 1], CombineSpans(sa, sb, mode));
  }
  return g;
}

RECT Region::Box() const {
  RECT r;
  if (bands.empty()) return r;
  r.top = bands.front().top;
  r.bottom = bands.back().bottom;
  r.left = INT32_MAX;
  r.right = INT32_MIN;
  for (auto& b : bands) {
    r.left = std::min(r.left, b.spans.front().first);
    r.right = std::max(r.right, b.spans.back().second);
  }
  return r;
}

int Region::Kind() const {
  if (bands.empty()) return NULLREGION;
  return (bands.size() == 1 && bands[0].spans.size() == 1) ? SIMPLEREGION : COMPLEXREGION;
}

void Region::Offset(int32_t dx, int32_t dy) {
  for (auto& b : bands) {
    b.top += dy;
    b.bottom += dy;
    for (auto& s : b.spans) { s.first += dx; s.second += dx; }
  }
}

const Band* Region::BandAt(int32_t y) const {
  auto it = std::upper_bound(bands.begin(), bands.end(), y,
                             [](int32_t v, const Band& b) { return v < b.bottom; });
  if (it == bands.end() || it->top > y) return nullptr;
  return &*it;
}

bool Region::Contains(int32_t x, int32_t y) const {
  const Band* b = BandAt(y);
  if (!b) return false;
  for (auto& s : b->spans) {
    if (x < s.first) return false;
    if (x < s.second) return true;
  }
  return false;
}

size_t Region::RectCount() const {
  size_t n = 0;
  for (auto& b : bands) n += b.spans.size();
  return n;
}

bool Region::operator==(const Region& o) const {
  if (bands.size() != o.bands.size()) return false;
  for (size_t i = 0; i < bands.size(); ++i) {
    if (bands[i].top != o.bands[i].top || bands[i].bottom != o.bands[i].bottom ||
        bands[i].spans != o.bands[i].spans)
      return false;
  }
  return true;
}

void EllipseRows(int32_t l, int32_t t, int32_t r, int32_t b, int32_t* top, Rows* rows) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  *top = t;
  rows->assign(size_t(std::max(0, b - t)), {});
  for (int32_t y = t; y < b; ++y) {
    int32_t x0, x1;
    if (EllipseSpan(l, t, r, b, y, &x0, &x1)) (*rows)[size_t(y - t)].push_back({x0, x1});
  }
}

void RoundRectRows(int32_t l, int32_t t, int32_t r, int32_t b, int32_t w, int32_t h, int32_t* top,
                   Rows* rows) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  w = std::min(std::abs(w), r - l);
  h = std::min(std::abs(h), b - t);
  *top = t;
  rows->assign(size_t(std::max(0, b - t)), {});
  if (w < 2 || h < 2) {
    for (auto& row : *rows) row.push_back({l, r});
    return;
  }
  int32_t half = h / 2;
  for (int32_t y = t; y < b; ++y) {
    int32_t x0 = l, x1 = r;
    int32_t a0, a1, b0, b1;
    if (y < t + half) {
      if (EllipseSpan(l, t, l + w, t + h, y, &a0, &a1)) x0 = a0; else x0 = l + w / 2;
      if (EllipseSpan(r - w, t, r, t + h, y, &b0, &b1)) x1 = b1; else x1 = r - w / 2;
    } else if (y >= b - half) {
      if (EllipseSpan(l, b - h, l + w, b, y, &a0, &a1)) x0 = a0; else x0 = l + w / 2;
      if (EllipseSpan(r - w, b - h, r, b, y, &b0, &b1)) x1 = b1; else x1 = r - w / 2;
    }
    if (x0 < x1) (*rows)[size_t(y - t)].push_back({x0, x1});
  }
}

void PolygonRows(const POINT* pts, int count, int fillMode, int32_t* top, Rows* rows) {
  rows->clear();
  *top = 0;
  if (!pts || count < 3) return;
  int32_t miny = INT32_MAX, maxy = INT32_MIN;
  for (int i = 0; i < count; ++i) {
    miny = std::min(miny, pts[i].y);
    maxy = std::max(maxy, pts[i].y);
  }
  if (int64_t(maxy) - miny > (1 << 20)) return;  // refuse absurd sizes
  *top = miny;
  rows->assign(size_t(maxy - miny), {});
  std::vector<std::pair<double, int>> xs;
  for (int32_t y = miny; y < maxy; ++y) {
    double yc = y + 0.5;
    xs.clear();
    for (int i = 0; i < count; ++i) {
      const POINT& p = pts[i];
      const POINT& q = pts[(i + 1) % count];
      if (p.y == q.y) continue;
      double y0 = p.y, y1 = q.y;
      int dir = 1;
      if (y0 > y1) { std::swap(y0, y1); dir = -1; }
      if (yc < y0 || yc >= y1) continue;
      double x = p.x + (yc - p.y) * double(q.x - p.x) / double(q.y - p.y);
      xs.push_back({x, dir});
    }
    std::sort(xs.begin(), xs.end());
    auto& row = (*rows)[size_t(y - miny)];
    auto span = [&](double xa, double xb) {
      int32_t s = int32_t(std::ceil(xa - 0.5));
      int32_t e = int32_t(std::ceil(xb - 0.5));
      if (s < e) row.push_back({s, e});
    };
    if (fillMode == WINDING) {
      int wind = 0;
      for (size_t k = 0; k + 1 < xs.size(); ++k) {
        wind += xs[k].second;
        if (wind != 0) span(xs[k].first, xs[k + 1].first);
      }
    } else {
      for (size_t k = 0; k + 1 < xs.size(); k += 2) span(xs[k].first, xs[k + 1].first);
    }
    Normalise(&row);
  }
}

}  // namespace plat::gdi

namespace plat {

using namespace gdi;

namespace {

HRGN NewRegion(Region g) {
  auto o = std::make_shared<RegionObj>();
  o->rgn = std::move(g);
  return Register(o);
}

std::shared_ptr<RegionObj> R(HRGN h) { return LookupAs<RegionObj>(h, OBJ_REGION); }

void Put32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace

HRGN CreateRectRgn(int32_t l, int32_t t, int32_t r, int32_t b) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  return NewRegion(Region::FromRect(l, t, r, b));
}

HRGN CreateRectRgnIndirect(const RECT* rc) {
  return rc ? CreateRectRgn(rc->left, rc->top, rc->right, rc->bottom) : 0;
}

HRGN CreateRoundRectRgn(int32_t l, int32_t t, int32_t r, int32_t b, int32_t w, int32_t h) {
  int32_t top;
  Rows rows;
  RoundRectRows(l, t, r, b, w, h, &top, &rows);
  return NewRegion(Region::FromRows(top, rows));
}

HRGN CreateEllipticRgn(int32_t l, int32_t t, int32_t r, int32_t b) {
  int32_t top;
  Rows rows;
  EllipseRows(l, t, r, b, &top, &rows);
  return NewRegion(Region::FromRows(top, rows));
}

HRGN CreateEllipticRgnIndirect(const RECT* rc) {
  return rc ? CreateEllipticRgn(rc->left, rc->top, rc->right, rc->bottom) : 0;
}

HRGN CreatePolygonRgn(const POINT* pts, int count, int fillMode) {
  if (!pts || count < 0) return 0;
  int32_t top;
  Rows rows;
  PolygonRows(pts, count, fillMode, &top, &rows);
  return NewRegion(Region::FromRows(top, rows));
}

int CombineRgn(HRGN dst, HRGN src1, HRGN src2, int mode) {
  auto d = R(dst);
  auto a = R(src1);
  if (!d || !a || mode < RGN_AND || mode > RGN_COPY) return ERROR;
  if (mode == RGN_COPY) {
    d->rgn = a->rgn;
  } else {
    auto b = R(src2);
    if (!b) return ERROR;
    d->rgn = Region::Combine(a->rgn, b->rgn, mode);
  }
  return d->rgn.Kind();
}

int OffsetRgn(HRGN rgn, int32_t dx, int32_t dy) {
  auto r = R(rgn);
  if (!r) return ERROR;
  r->rgn.Offset(dx, dy);
  return r->rgn.Kind();
}

bool PtInRegion(HRGN rgn, int32_t x, int32_t y) {
  auto r = R(rgn);
  return r && r->rgn.Contains(x, y);
}

bool RectInRegion(HRGN rgn, const RECT* rc) {
  auto r = R(rgn);
  if (!r || !rc) return false;
  Region a = Region::FromRect(rc->left, rc->top, rc->right, rc->bottom);
  return !Region::Combine(r->rgn, a, RGN_AND).Empty();
}

bool EqualRgn(HRGN a, HRGN b) {
  auto x = R(a), y = R(b);
  return x && y && x->rgn == y->rgn;
}

int GetRgnBox(HRGN rgn, RECT* rc) {
  auto r = R(rgn);
  if (!r || !rc) return ERROR;
  *rc = r->rgn.Box();
  return r->rgn.Kind();
}

bool SetRectRgn(HRGN rgn, int32_t l, int32_t t, int32_t r, int32_t b) {
  auto o = R(rgn);
  if (!o) return false;
  o->rgn = Region::FromRect(l, t, r, b);
  return true;
}

uint32_t GetRegionData(HRGN rgn, uint32_t size, void* data) {
  auto r = R(rgn);
  if (!r) return 0;
  size_t count = r->rgn.RectCount();
  uint64_t need = 32 + uint64_t(count) * 16;
  if (need > UINT32_MAX) return 0;
  if (!data || size < need) return uint32_t(need);
  uint8_t* p = static_cast<uint8_t*>(data);
  RECT box = r->rgn.Box();
  Put32(p, 32);
  Put32(p + 4, RDH_RECTANGLES);
  Put32(p + 8, uint32_t(count));
  Put32(p + 12, uint32_t(count * 16));
  Put32(p + 16, uint32_t(box.left));
  Put32(p + 20, uint32_t(box.top));
  Put32(p + 24, uint32_t(box.right));
  Put32(p + 28, uint32_t(box.bottom));
  uint8_t* q = p + 32;
  for (auto& b : r->rgn.bands) {
    for (auto& s : b.spans) {
      Put32(q, uint32_t(s.first));
      Put32(q + 4, uint32_t(b.top));
      Put32(q + 8, uint32_t(s.second));
      Put32(q + 12, uint32_t(b.bottom));
      q += 16;
    }
  }
  return uint32_t(need);
}

HRGN ExtCreateRegion(const void* xform, uint32_t size, const void* data) {
  if (xform || !data || size < 32) return 0;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t dwSize = Get32(p), iType = Get32(p + 4), nCount = Get32(p + 8), nRgnSize = Get32(p + 12);
  if (dwSize != 32 || iType != RDH_RECTANGLES) return 0;
  if (nCount > (size - 32) / 16) return 0;
  if (nRgnSize != 0 && (nRgnSize < uint64_t(nCount) * 16 || nRgnSize > size - 32)) return 0;
  constexpr int32_t kLimit = 1 << 27;  // keeps every sum of coordinates inside 32 bits
  struct R4 { int32_t l, t, r, b; };
  std::vector<R4> rects;
  rects.reserve(nCount);
  for (uint32_t i = 0; i < nCount; ++i) {
    const uint8_t* q = p + 32 + size_t(i) * 16;
    R4 r{int32_t(Get32(q)), int32_t(Get32(q + 4)), int32_t(Get32(q + 8)), int32_t(Get32(q + 12))};
    if (std::abs(int64_t(r.l)) > kLimit || std::abs(int64_t(r.t)) > kLimit ||
        std::abs(int64_t(r.r)) > kLimit || std::abs(int64_t(r.b)) > kLimit)
      return 0;
    if (r.l > r.r || r.t > r.b) return 0;
    if (r.l == r.r || r.t == r.b) continue;
    rects.push_back(r);
  }
  // Union of the rectangles by a sweep over their band edges.
  std::vector<int32_t> ys;
  ys.reserve(rects.size() * 2);
  for (auto& r : rects) { ys.push_back(r.t); ys.push_back(r.b); }
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  std::sort(rects.begin(), rects.end(), [](const R4& a, const R4& b) { return a.t < b.t; });
  Region g;
  std::vector<R4> active;
  size_t next = 0;
  for (size_t k = 0; k + 1 < ys.size(); ++k) {
    int32_t y = ys[k];
    active.erase(
        std::remove_if(active.begin(), active.end(), [&](const R4& r) { return r.b <= y; }),
        active.end());
    while (next < rects.size() && rects[next].t <= y) active.push_back(rects[next++]);
    Spans s;
    s.reserve(active.size());
    for (auto& r : active) s.push_back({r.l, r.r});
    Normalise(&s);
    PushBand(&g.bands, y, ys[k + 1], std::move(s));
  }
  return NewRegion(std::move(g));
}

}  // namespace plat
