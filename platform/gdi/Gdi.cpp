// Handle table, surfaces, device contexts, pens, brushes, shapes and blits.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/gdi/GdiInternal.h"

namespace plat::gdi {

namespace {

std::mutex gTableLock;
std::unordered_map<uint32_t, std::shared_ptr<Object>>& Table() {
  static auto* t = new std::unordered_map<uint32_t, std::shared_ptr<Object>>();
  return *t;
}
uint32_t gNextHandle = 0x1000;

}  // namespace

HGDIOBJ Register(std::shared_ptr<Object> obj) {
  std::lock_guard<std::mutex> lock(gTableLock);
  uint32_t h;
  do {
    h = gNextHandle++;
    if (gNextHandle == 0) gNextHandle = 0x1000;
  } while (h == 0 || Table().count(h));
  Table()[h] = std::move(obj);
  return h;
}

std::shared_ptr<Object> Lookup(HGDIOBJ h) {
  if (h == 0) return nullptr;
  std::lock_guard<std::mutex> lock(gTableLock);
  auto it = Table().find(h);
  return it == Table().end() ? nullptr : it->second;
}

std::shared_ptr<DCObj> LookupDC(HDC h) {
  auto o = Lookup(h);
  if (!o || (o->kind != OBJ_DC && o->kind != OBJ_MEMDC)) return nullptr;
  return std::static_pointer_cast<DCObj>(o);
}

bool Unregister(HGDIOBJ h) {
  std::lock_guard<std::mutex> lock(gTableLock);
  return Table().erase(h) > 0;
}

// ---- Surfaces ---------------------------------------------------------------

void Surface::Allocate(int32_t w, int32_t h, int bitCount) {
  width = std::max(0, w);
  height = std::max(0, h);
  bpp = bitCount;
  stride = DibStride(width, bpp);
  bits.assign(size_t(stride) * size_t(height), 0);
  table.clear();
  if (bpp == 1) {
    table = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
  } else if (bpp <= 8) {
    table.assign(size_t(1) << bpp, RGBQUAD{});
  }
}

int Surface::Index(int32_t x, int32_t y) const {
  const uint8_t* row = bits.data() + size_t(y) * size_t(stride);
  switch (bpp) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    case 8: return row[x];
    default: return 0;
  }
}

COLORREF Surface::Get(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
  const uint8_t* row = bits.data() + size_t(y) * size_t(stride);
  if (bpp == 24) {
    const uint8_t* p = row + size_t(x) * 3;
    return RGB(p[2], p[1], p[0]);
  }
  if (bpp == 32) {
    const uint8_t* p = row + size_t(x) * 4;
    return RGB(p[2], p[1], p[0]);
  }
  int i = Index(x, y);
  if (size_t(i) >= table.size()) return 0;
  const RGBQUAD& q = table[size_t(i)];
  return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

void Surface::SetIndex(int32_t x, int32_t y, int index) {
  uint8_t* row = bits.data() + size_t(y) * size_t(stride);
  switch (bpp) {
    case 1: {
      uint8_t m = uint8_t(0x80 >> (x & 7));
      if (index & 1) row[x >> 3] |= m; else row[x >> 3] &= uint8_t(~m);
      break;
    }
    case 4:
      if (x & 1) row[x >> 1] = uint8_t((row[x >> 1] & 0xF0) | (index & 0x0F));
      else row[x >> 1] = uint8_t((row[x >> 1] & 0x0F) | ((index & 0x0F) << 4));
      break;
    case 8: row[x] = uint8_t(index); break;
    default: break;
  }
}

int Surface::Nearest(COLORREF c) const {
  int best = 0;
  int64_t bestd = INT64_MAX;
  for (size_t i = 0; i < table.size(); ++i) {
    int64_t dr = int(GetRValue(c)) - table[i].rgbRed;
    int64_t dg = int(GetGValue(c)) - table[i].rgbGreen;
    int64_t db = int(GetBValue(c)) - table[i].rgbBlue;
    int64_t d = dr * dr + dg * dg + db * db;
    if (d < bestd) { bestd = d; best = int(i); if (d == 0) break; }
  }
  return best;
}

void Surface::Set(int32_t x, int32_t y, COLORREF c) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint8_t* row = bits.data() + size_t(y) * size_t(stride);
  if (bpp == 24) {
    uint8_t* p = row + size_t(x) * 3;
    p[0] = GetBValue(c); p[1] = GetGValue(c); p[2] = GetRValue(c);
    return;
  }
  if (bpp == 32) {
    uint8_t* p = row + size_t(x) * 4;
    p[0] = GetBValue(c); p[1] = GetGValue(c); p[2] = GetRValue(c); p[3] = 0;
    return;
  }
  SetIndex(x, y, Nearest(c));
}

COLORREF StripFlags(COLORREF c) { return c & 0x00FFFFFF; }

std::shared_ptr<BitmapObj> CopyBitmap(const BitmapObj& b) {
  auto c = std::make_shared<BitmapObj>();
  c->kind = OBJ_BITMAP;
  c->s = b.s;
  return c;
}

Surface* DCObj::target() {
  if (windowStore) return &windowStore->s;
  if (memory && st.bitmap) return &st.bitmap->s;
  return nullptr;
}

void Dirty(DCObj& dc) { dc.clipDirty = true; }

const Region& EffectiveClip(DCObj& dc) {
  Surface* s = dc.target();
  // The surface may have been resized since the last rebuild (a window store).
  if (!dc.clipDirty && s && s->width == dc.clipW && s->height == dc.clipH) return dc.effective;
  dc.clipDirty = false;
  dc.clipW = s ? s->width : -1;
  dc.clipH = s ? s->height : -1;
  if (!s) {
    dc.effective = Region();
    return dc.effective;
  }
  Region g = Region::FromRect(0, 0, s->width, s->height);
  if (dc.hwnd && !dc.wholeWindow) {
    RECT cr;
    if (GetClientRect(dc.hwnd, &cr)) {
      g = Region::Combine(g, Region::FromRect(dc.surfaceOffset.x, dc.surfaceOffset.y,
                                              dc.surfaceOffset.x + cr.right,
                                              dc.surfaceOffset.y + cr.bottom), RGN_AND);
    }
  }
  if (dc.hasPaintClip) g = Region::Combine(g, dc.paintClip, RGN_AND);
  if (dc.st.hasClip) {
    Region c = dc.st.clip;
    c.Offset(dc.surfaceOffset.x, dc.surfaceOffset.y);
    g = Region::Combine(g, c, RGN_AND);
  }
  dc.effective = std::move(g);
  return dc.effective;
}

POINT ToDevice(const DCObj& dc, int32_t x, int32_t y) {
  POINT p;
  p.x = x - dc.st.windowOrg.x + dc.st.viewportOrg.x + dc.surfaceOffset.x;
  p.y = y - dc.st.windowOrg.y + dc.st.viewportOrg.y + dc.surfaceOffset.y;
  return p;
}

COLORREF Rop2(int rop, COLORREF p, COLORREF d) {
  uint32_t op = uint32_t(rop - 1) & 15;
  uint32_t r = 0;
  if (op & 1) r |= ~p & ~d;
  if (op & 2) r |= ~p & d;
  if (op & 4) r |= p & ~d;
  if (op & 8) r |= p & d;
  return r & 0x00FFFFFF;
}

namespace {

COLORREF Rop3(uint32_t idx, COLORREF p, COLORREF s, COLORREF d) {
  uint32_t r = 0;
  for (int m = 0; m < 8; ++m) {
    if (!((idx >> m) & 1)) continue;
    uint32_t t = ((m & 4) ? p : ~p) & ((m & 2) ? s : ~s) & ((m & 1) ? d : ~d);
    r |= t;
  }
  return r & 0x00FFFFFF;
}

bool HatchBit(int style, int x, int y) {
  x &= 7;
  y &= 7;
  switch (style) {
    case HS_HORIZONTAL: return y == 0;
    case HS_VERTICAL: return x == 0;
    case HS_FDIAGONAL: return x == y;
    case HS_BDIAGONAL: return x + y == 7;
    case HS_CROSS: return x == 0 || y == 0;
    case HS_DIAGCROSS: return x == y || x + y == 7;
    default: return false;
  }
}

int Mod(int a, int m) { int r = a % m; return r < 0 ? r + m : r; }

// Brush colour at a device pixel; false where the brush leaves the pixel alone.
bool BrushColor(const DCObj& dc, const BrushObj& br, int32_t x, int32_t y, bool opaqueGaps,
                COLORREF* c) {
  switch (br.lb.lbStyle) {
    case BS_SOLID: *c = StripFlags(br.lb.lbColor); return true;
    case BS_HATCHED: {
      int bx = x - dc.surfaceOffset.x - dc.st.brushOrg.x;
      int by = y - dc.surfaceOffset.y - dc.st.brushOrg.y;
      if (HatchBit(int(br.lb.lbHatch), bx, by)) { *c = StripFlags(br.lb.lbColor); return true; }
      if (opaqueGaps || dc.st.bkMode == OPAQUE) { *c = StripFlags(dc.st.bkColor); return true; }
      return false;
    }
    case BS_PATTERN: {
      if (!br.pattern || br.pattern->s.width <= 0 || br.pattern->s.height <= 0) return false;
      const Surface& ps = br.pattern->s;
      int px = Mod(x - dc.surfaceOffset.x - dc.st.brushOrg.x, ps.width);
      int py = Mod(y - dc.surfaceOffset.y - dc.st.brushOrg.y, ps.height);
      if (ps.bpp == 1) {
        *c = ps.Index(px, py) ? StripFlags(dc.st.bkColor) : StripFlags(dc.st.textColor);
      } else {
        *c = ps.Get(px, py);
      }
      return true;
    }
    default: return false;
  }
}

template <class F>
void ForClippedSpan(DCObj& dc, int32_t y, int32_t x0, int32_t x1, F f) {
  const Region& clip = EffectiveClip(dc);
  const Band* b = clip.BandAt(y);
  if (!b) return;
  for (auto& s : b->spans) {
    int32_t a = std::max(x0, s.first), e = std::min(x1, s.second);
    if (s.first >= x1) break;
    if (a < e) f(a, e);
  }
}

}  // namespace

void PlotRaw(DCObj& dc, int32_t x, int32_t y, COLORREF c) {
  Surface* s = dc.target();
  if (!s) return;
  if (!EffectiveClip(dc).Contains(x, y)) return;
  s->Set(x, y, c);
}

void PlotPen(DCObj& dc, int32_t x, int32_t y, COLORREF c) {
  Surface* s = dc.target();
  if (!s) return;
  if (!EffectiveClip(dc).Contains(x, y)) return;
  if (dc.st.rop2 == R2_COPYPEN) s->Set(x, y, c);
  else s->Set(x, y, Rop2(dc.st.rop2, c, s->Get(x, y)));
}

void FillSpanBrush(DCObj& dc, const BrushObj& brush, int32_t y, int32_t x0, int32_t x1, Fill kind) {
  Surface* s = dc.target();
  if (!s || brush.lb.lbStyle == BS_NULL || x0 >= x1) return;
  int rop = kind == Fill::Pattern ? R2_COPYPEN : dc.st.rop2;
  bool opaqueGaps = kind != Fill::Shape;
  bool fast = brush.lb.lbStyle == BS_SOLID && rop == R2_COPYPEN && s->bpp == 24;
  COLORREF solid = StripFlags(brush.lb.lbColor);
  ForClippedSpan(dc, y, x0, x1, [&](int32_t a, int32_t e) {
    if (fast) {
      uint8_t* p = s->bits.data() + size_t(y) * size_t(s->stride) + size_t(a) * 3;
      uint8_t b0 = GetBValue(solid), g0 = GetGValue(solid), r0 = GetRValue(solid);
      for (int32_t x = a; x < e; ++x) { p[0] = b0; p[1] = g0; p[2] = r0; p += 3; }
      return;
    }
    for (int32_t x = a; x < e; ++x) {
      COLORREF c;
      if (!BrushColor(dc, brush, x, y, opaqueGaps, &c)) continue;
      if (rop == R2_COPYPEN) s->Set(x, y, c);
      else s->Set(x, y, Rop2(rop, c, s->Get(x, y)));
    }
  });
}

void FillRowsBrush(DCObj& dc, const BrushObj& brush, int32_t top, const Rows& rows, Fill kind) {
  for (size_t i = 0; i < rows.size(); ++i)
    for (auto& sp : rows[i]) FillSpanBrush(dc, brush, top + int32_t(i), sp.first, sp.second, kind);
}

void FillRegionBrush(DCObj& dc, const BrushObj& brush, const Region& rgn, Fill kind) {
  // Only what the clip lets through is visited, however large the region.
  Region visible = Region::Combine(rgn, EffectiveClip(dc), RGN_AND);
  for (auto& b : visible.bands)
    for (int32_t y = b.top; y < b.bottom; ++y)
      for (auto& sp : b.spans) FillSpanBrush(dc, brush, y, sp.first, sp.second, kind);
}

}  // namespace plat::gdi

namespace plat {

using namespace gdi;

namespace {

struct Stock {
  HGDIOBJ objs[20] = {};
  HBRUSH sysBrushes[COLOR_MAX] = {};
  HBITMAP defaultBitmap = 0;  // the 1 x 1 monochrome bitmap of new memory contexts
  COLORREF sysColors[COLOR_MAX] = {};
};

const COLORREF kSysDefaults[COLOR_MAX] = {
    RGB(200, 200, 200),  // scroll bar
    RGB(58, 110, 165),   // background
    RGB(10, 36, 106),    // active caption
    RGB(128, 128, 128),  // inactive caption
    RGB(212, 208, 200),  // menu
    RGB(255, 255, 255),  // window
    RGB(0, 0, 0),        // window frame
    RGB(0, 0, 0),        // menu text
    RGB(0, 0, 0),        // window text
    RGB(255, 255, 255),  // caption text
    RGB(212, 208, 200),  // active border
    RGB(212, 208, 200),  // inactive border
    RGB(128, 128, 128),  // app workspace
    RGB(10, 36, 106),    // highlight
    RGB(255, 255, 255),  // highlight text
    RGB(212, 208, 200),  // button face
    RGB(128, 128, 128),  // button shadow
    RGB(128, 128, 128),  // grey text
    RGB(0, 0, 0),        // button text
    RGB(212, 208, 200),  // inactive caption text
    RGB(255, 255, 255),  // button highlight
    RGB(64, 64, 64),     // 3D dark shadow
    RGB(228, 226, 222),  // 3D light
    RGB(0, 0, 0),        // info text
    RGB(255, 255, 225),  // info background
    RGB(181, 181, 181),  // (unused slot)
    RGB(0, 0, 128),      // hot light
    RGB(166, 202, 240),  // gradient active caption
    RGB(192, 192, 192),  // gradient inactive caption
    RGB(49, 106, 197),   // menu highlight
    RGB(212, 208, 200),  // menu bar
};

HBRUSH MakeBrush(const LOGBRUSH& lb, bool stock) {
  auto b = std::make_shared<BrushObj>();
  b->kind = OBJ_BRUSH;
  b->lb = lb;
  b->stock = stock;
  return Register(b);
}

HPEN MakePen(int style, int width, COLORREF c, bool stock) {
  auto p = std::make_shared<PenObj>();
  p->kind = OBJ_PEN;
  p->lp.lopnStyle = uint32_t(style);
  p->lp.lopnWidth.x = std::max(0, width);
  p->lp.lopnColor = c;
  p->stock = stock;
  return Register(p);
}

Stock& Stocks() {
  static Stock* s = [] {
    auto* st = new Stock();
    auto brush = [](COLORREF c) { LOGBRUSH lb; lb.lbColor = c; return MakeBrush(lb, true); };
    st->objs[WHITE_BRUSH] = brush(RGB(255, 255, 255));
    st->objs[LTGRAY_BRUSH] = brush(RGB(192, 192, 192));
    st->objs[GRAY_BRUSH] = brush(RGB(128, 128, 128));
    st->objs[DKGRAY_BRUSH] = brush(RGB(64, 64, 64));
    st->objs[BLACK_BRUSH] = brush(0);
    LOGBRUSH nb;
    nb.lbStyle = BS_NULL;
    st->objs[NULL_BRUSH] = MakeBrush(nb, true);
    st->objs[WHITE_PEN] = MakePen(PS_SOLID, 1, RGB(255, 255, 255), true);
    st->objs[BLACK_PEN] = MakePen(PS_SOLID, 1, 0, true);
    st->objs[NULL_PEN] = MakePen(PS_NULL, 1, 0, true);
    for (int idx : {SYSTEM_FONT, DEFAULT_GUI_FONT}) {
      auto f = std::make_shared<FontObj>();
      f->kind = OBJ_FONT;
      f->stock = true;
      f->lf.lfHeight = idx == SYSTEM_FONT ? 16 : -11;
      f->lf.lfWeight = idx == SYSTEM_FONT ? FW_BOLD : FW_NORMAL;
      f->lf.lfFaceName = idx == SYSTEM_FONT ? "System" : "MS Sans Serif";
      st->objs[idx] = Register(f);
    }
    auto pal = std::make_shared<PaletteObj>();
    pal->kind = OBJ_PAL;
    pal->stock = true;
    for (int i = 0; i < 20; ++i) {
      PALETTEENTRY e;
      e.peRed = uint8_t((i & 1) ? 128 : 0);
      e.peGreen = uint8_t((i & 2) ? 128 : 0);
      e.peBlue = uint8_t((i & 4) ? 128 : 0);
      pal->entries.push_back(e);
    }
    st->objs[DEFAULT_PALETTE] = Register(pal);
    auto bm = std::make_shared<BitmapObj>();
    bm->kind = OBJ_BITMAP;
    bm->stock = true;
    bm->s.Allocate(1, 1, 1);
    st->defaultBitmap = Register(bm);
    for (int i = 0; i < COLOR_MAX; ++i) {
      st->sysColors[i] = kSysDefaults[i];
      st->sysBrushes[i] = brush(kSysDefaults[i]);
    }
    return st;
  }();
  return *s;
}

std::mutex gMetricsLock;
int32_t gScreenW = 1024, gScreenH = 768;

std::shared_ptr<DCObj> NewDC(bool memory) {
  auto dc = std::make_shared<DCObj>();
  dc->kind = memory ? OBJ_MEMDC : OBJ_DC;
  dc->memory = memory;
  Stock& s = Stocks();
  dc->st.penH = s.objs[BLACK_PEN];
  dc->st.pen = LookupAs<PenObj>(dc->st.penH, OBJ_PEN);
  dc->st.brushH = s.objs[WHITE_BRUSH];
  dc->st.brush = LookupAs<BrushObj>(dc->st.brushH, OBJ_BRUSH);
  dc->st.fontH = s.objs[SYSTEM_FONT];
  dc->st.font = LookupAs<FontObj>(dc->st.fontH, OBJ_FONT);
  dc->st.paletteH = s.objs[DEFAULT_PALETTE];
  dc->st.palette = LookupAs<PaletteObj>(dc->st.paletteH, OBJ_PAL);
  return dc;
}

// Pen helpers --------------------------------------------------------------

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

}  // namespace

// ---- Objects ------------------------------------------------------------------

HGDIOBJ GetStockObject(int index) {
  if (index < 0 || index >= 20) return 0;
  return Stocks().objs[index];
}

int GetObjectType(HGDIOBJ obj) {
  auto o = Lookup(obj);
  return o ? o->kind : 0;
}

bool DeleteObject(HGDIOBJ obj) {
  auto o = Lookup(obj);
  if (!o) return false;
  if (o->stock) return true;
  if (o->kind == OBJ_DC || o->kind == OBJ_MEMDC || o->kind == OBJ_ICON) return false;
  return Unregister(obj);
}

HPEN CreatePen(int style, int width, COLORREF color) {
  if (style < PS_SOLID || style > PS_INSIDEFRAME) style = PS_SOLID;
  return MakePen(style, width, color, false);
}

HPEN CreatePenIndirect(const LOGPEN& lp) {
  return CreatePen(int(lp.lopnStyle), lp.lopnWidth.x, lp.lopnColor);
}

HBRUSH CreateSolidBrush(COLORREF color) {
  LOGBRUSH lb;
  lb.lbColor = color;
  return MakeBrush(lb, false);
}

HBRUSH CreateHatchBrush(int hatch, COLORREF color) {
  if (hatch < HS_HORIZONTAL || hatch > HS_DIAGCROSS) return 0;
  LOGBRUSH lb;
  lb.lbStyle = BS_HATCHED;
  lb.lbColor = color;
  lb.lbHatch = uintptr_t(hatch);
  return MakeBrush(lb, false);
}

HBRUSH CreatePatternBrush(HBITMAP bitmap) {
  auto bm = LookupAs<BitmapObj>(bitmap, OBJ_BITMAP);
  if (!bm) return 0;
  auto b = std::make_shared<BrushObj>();
  b->kind = OBJ_BRUSH;
  b->lb.lbStyle = BS_PATTERN;
  b->lb.lbHatch = bitmap;
  b->pattern = CopyBitmap(*bm);
  return Register(b);
}

HBRUSH CreateBrushIndirect(const LOGBRUSH& lb) {
  switch (lb.lbStyle) {
    case BS_SOLID: return CreateSolidBrush(lb.lbColor);
    case BS_NULL: {
      LOGBRUSH n;
      n.lbStyle = BS_NULL;
      return MakeBrush(n, false);
    }
    case BS_HATCHED: return CreateHatchBrush(int(lb.lbHatch), lb.lbColor);
    case BS_PATTERN: return CreatePatternBrush(HBITMAP(lb.lbHatch));
    default: return 0;
  }
}

int GetObject(HGDIOBJ obj, int size, void* buffer) {
  auto o = Lookup(obj);
  if (!o || !buffer) return 0;
  switch (o->kind) {
    case OBJ_PEN:
      if (size < int(sizeof(LOGPEN))) return 0;
      *static_cast<LOGPEN*>(buffer) = static_cast<PenObj&>(*o).lp;
      return sizeof(LOGPEN);
    case OBJ_BRUSH:
      if (size < int(sizeof(LOGBRUSH))) return 0;
      *static_cast<LOGBRUSH*>(buffer) = static_cast<BrushObj&>(*o).lb;
      return sizeof(LOGBRUSH);
    case OBJ_FONT:
      if (size < int(sizeof(LOGFONT))) return 0;
      *static_cast<LOGFONT*>(buffer) = static_cast<FontObj&>(*o).lf;
      return sizeof(LOGFONT);
    case OBJ_BITMAP: {
      if (size < int(sizeof(BITMAP))) return 0;
      auto& s = static_cast<BitmapObj&>(*o).s;
      BITMAP bm;
      bm.bmWidth = s.width;
      bm.bmHeight = s.height;
      bm.bmWidthBytes = s.stride;
      bm.bmBitsPixel = uint16_t(s.bpp);
      bm.bmBits = s.bits.empty() ? nullptr : s.bits.data();
      *static_cast<BITMAP*>(buffer) = bm;
      return sizeof(BITMAP);
    }
    default: return 0;
  }
}

// ---- Device contexts ------------------------------------------------------------

HDC CreateCompatibleDC(HDC) {
  auto dc = NewDC(true);
  dc->st.bitmapH = Stocks().defaultBitmap;
  dc->st.bitmap = LookupAs<BitmapObj>(dc->st.bitmapH, OBJ_BITMAP);
  return Register(dc);
}

bool DeleteDC(HDC hdc) {
  auto dc = LookupDC(hdc);
  if (!dc || dc->hwnd || dc->screen) return false;
  return Unregister(hdc);
}

// Used by the window contexts.
namespace gdi {
HDC NewWindowDC(HWND hwnd, std::shared_ptr<BitmapObj> store, POINT offset, bool screen,
                bool wholeWindow) {
  auto dc = NewDC(false);
  dc->hwnd = hwnd;
  dc->wholeWindow = wholeWindow;
  dc->screen = screen;
  dc->windowStore = std::move(store);
  dc->surfaceOffset = offset;
  return Register(dc);
}
void SetPaintClip(HDC hdc, const Region* clip) {
  auto dc = LookupDC(hdc);
  if (!dc) return;
  dc->hasPaintClip = clip != nullptr;
  if (clip) dc->paintClip = *clip;
  Dirty(*dc);
}
}  // namespace gdi

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj) {
  auto dc = LookupDC(hdc);
  auto o = Lookup(obj);
  if (!dc || !o) return 0;
  HGDIOBJ old = 0;
  switch (o->kind) {
    case OBJ_PEN:
      old = dc->st.penH;
      dc->st.penH = obj;
      dc->st.pen = std::static_pointer_cast<PenObj>(o);
      return old;
    case OBJ_BRUSH:
      old = dc->st.brushH;
      dc->st.brushH = obj;
      dc->st.brush = std::static_pointer_cast<BrushObj>(o);
      return old;
    case OBJ_FONT:
      old = dc->st.fontH;
      dc->st.fontH = obj;
      dc->st.font = std::static_pointer_cast<FontObj>(o);
      return old;
    case OBJ_BITMAP:
      if (!dc->memory) return 0;
      old = dc->st.bitmapH;
      dc->st.bitmapH = obj;
      dc->st.bitmap = std::static_pointer_cast<BitmapObj>(o);
      Dirty(*dc);
      return old;
    case OBJ_REGION:
      return HGDIOBJ(SelectClipRgn(hdc, obj));
    default:
      return 0;
  }
}

HGDIOBJ GetCurrentObject(HDC hdc, int kind) {
  auto dc = LookupDC(hdc);
  if (!dc) return 0;
  switch (kind) {
    case OBJ_PEN: return dc->st.penH;
    case OBJ_BRUSH: return dc->st.brushH;
    case OBJ_FONT: return dc->st.fontH;
    case OBJ_BITMAP: return dc->st.bitmapH;
    case OBJ_PAL: return dc->st.paletteH;
    default: return 0;
  }
}

int SaveDC(HDC hdc) {
  auto dc = LookupDC(hdc);
  if (!dc) return 0;
  dc->saved.push_back(dc->st);
  return int(dc->saved.size());
}

bool RestoreDC(HDC hdc, int level) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  int n = int(dc->saved.size());
  if (level < 0) level = n + 1 + level;
  if (level < 1 || level > n) return false;
  dc->st = dc->saved[size_t(level - 1)];
  dc->saved.resize(size_t(level - 1));
  Dirty(*dc);
  return true;
}

void SetScreenSize(int32_t width, int32_t height) {
  std::lock_guard<std::mutex> lock(gMetricsLock);
  if (width > 0) gScreenW = width;
  if (height > 0) gScreenH = height;
}

int GetDeviceCaps(HDC hdc, int index) {
  auto dc = LookupDC(hdc);
  if (!dc) return 0;
  Surface* s = dc->target();
  std::lock_guard<std::mutex> lock(gMetricsLock);
  switch (index) {
    case HORZRES: return dc->screen || !s ? gScreenW : s->width;
    case VERTRES: return dc->screen || !s ? gScreenH : s->height;
    case BITSPIXEL: return (dc->memory && s) ? s->bpp : 24;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    case SIZEPALETTE: return 0;
    case RASTERCAPS: return 0;
    default: return 0;
  }
}

#define DC_FIELD(getter, setter, type, field)               \
  type setter(HDC hdc, type v) {                            \
    auto dc = LookupDC(hdc);                                \
    if (!dc) return type{};                                 \
    type old = dc->st.field;                                \
    dc->st.field = v;                                       \
    return old;                                             \
  }                                                         \
  type getter(HDC hdc) {                                    \
    auto dc = LookupDC(hdc);                                \
    return dc ? dc->st.field : type{};                      \
  }

DC_FIELD(GetTextColor, SetTextColor, COLORREF, textColor)
DC_FIELD(GetBkColor, SetBkColor, COLORREF, bkColor)
DC_FIELD(GetROP2, SetROP2, int, rop2)
DC_FIELD(GetStretchBltMode, SetStretchBltMode, int, stretchMode)
DC_FIELD(GetPolyFillMode, SetPolyFillMode, int, polyFill)
DC_FIELD(GetTextAlign, SetTextAlign, uint32_t, textAlign)
DC_FIELD(GetTextCharacterExtra, SetTextCharacterExtra, int, charExtra)
DC_FIELD(GetTextStrokeWidth, SetTextStrokeWidth, int, textStroke)
#undef DC_FIELD

int SetBkMode(HDC hdc, int mode) {
  auto dc = LookupDC(hdc);
  if (!dc || (mode != OPAQUE && mode != TRANSPARENT)) return 0;
  int old = dc->st.bkMode;
  dc->st.bkMode = mode;
  return old;
}

int GetBkMode(HDC hdc) {
  auto dc = LookupDC(hdc);
  return dc ? dc->st.bkMode : 0;
}

namespace {
bool SetOrg(HDC hdc, POINT DCState::*field, int32_t x, int32_t y, POINT* old, bool relative) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  POINT& p = dc->st.*field;
  if (old) *old = p;
  if (relative) { p.x += x; p.y += y; } else { p.x = x; p.y = y; }
  return true;
}
}  // namespace

bool SetViewportOrgEx(HDC hdc, int32_t x, int32_t y, POINT* old) {
  return SetOrg(hdc, &DCState::viewportOrg, x, y, old, false);
}
bool OffsetViewportOrgEx(HDC hdc, int32_t dx, int32_t dy, POINT* old) {
  return SetOrg(hdc, &DCState::viewportOrg, dx, dy, old, true);
}
bool SetWindowOrgEx(HDC hdc, int32_t x, int32_t y, POINT* old) {
  return SetOrg(hdc, &DCState::windowOrg, x, y, old, false);
}
bool SetBrushOrgEx(HDC hdc, int32_t x, int32_t y, POINT* old) {
  return SetOrg(hdc, &DCState::brushOrg, x, y, old, false);
}
bool GetViewportOrgEx(HDC hdc, POINT* org) {
  auto dc = LookupDC(hdc);
  if (!dc || !org) return false;
  *org = dc->st.viewportOrg;
  return true;
}
bool GetWindowOrgEx(HDC hdc, POINT* org) {
  auto dc = LookupDC(hdc);
  if (!dc || !org) return false;
  *org = dc->st.windowOrg;
  return true;
}

bool LPtoDP(HDC hdc, POINT* pts, int count) {
  auto dc = LookupDC(hdc);
  if (!dc || (!pts && count > 0)) return false;
  for (int i = 0; i < count; ++i) {
    POINT d = ToDevice(*dc, pts[i].x, pts[i].y);
    pts[i].x = d.x - dc->surfaceOffset.x;
    pts[i].y = d.y - dc->surfaceOffset.y;
  }
  return true;
}

bool DPtoLP(HDC hdc, POINT* pts, int count) {
  auto dc = LookupDC(hdc);
  if (!dc || (!pts && count > 0)) return false;
  for (int i = 0; i < count; ++i) {
    pts[i].x = pts[i].x - dc->st.viewportOrg.x + dc->st.windowOrg.x;
    pts[i].y = pts[i].y - dc->st.viewportOrg.y + dc->st.windowOrg.y;
  }
  return true;
}

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

bool Rectangle(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  Normalise(l, t, r, b);
  if (TooLarge(l, t, r, b)) return false;
  POINT p = ToDevice(*dc, l, t), q = ToDevice(*dc, r, b);
  int w = PenWidth(*dc);
  if (w == 0) {
    if (dc->st.brush)
      FillRegionBrush(*dc, *dc->st.brush, Region::FromRect(p.x, p.y, q.x - 1, q.y - 1), Fill::Shape);
    return true;
  }
  if (dc->st.brush)
    FillRegionBrush(*dc, *dc->st.brush, Region::FromRect(p.x + w, p.y + w, q.x - w, q.y - w),
                    Fill::Shape);
  PenStroke pen(*dc);
  if (pen.dash) {
    pen.Line(p.x, p.y, q.x - 1, p.y, false);
    pen.Line(q.x - 1, p.y, q.x - 1, q.y - 1, false);
    pen.Line(q.x - 1, q.y - 1, p.x, q.y - 1, false);
    pen.Line(p.x, q.y - 1, p.x, p.y, false);
  } else {
    Region outer = Region::FromRect(p.x, p.y, q.x, q.y);
    PenRegion(*dc, Region::Combine(outer, Region::FromRect(p.x + w, p.y + w, q.x - w, q.y - w), RGN_DIFF));
  }
  return true;
}

namespace {
bool ClosedShape(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b,
                 const std::function<Region(int32_t, int32_t, int32_t, int32_t, int)>& make) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  Normalise(l, t, r, b);
  if (TooLarge(l, t, r, b)) return false;
  POINT p = ToDevice(*dc, l, t), q = ToDevice(*dc, r, b);
  int w = PenWidth(*dc);
  if (w == 0) {
    if (dc->st.brush) FillRegionBrush(*dc, *dc->st.brush, make(p.x, p.y, q.x - 1, q.y - 1, 0), Fill::Shape);
    return true;
  }
  Region outer = make(p.x, p.y, q.x, q.y, 0);
  Region inner = make(p.x + w, p.y + w, q.x - w, q.y - w, w);
  if (dc->st.brush) FillRegionBrush(*dc, *dc->st.brush, inner, Fill::Shape);
  PenRegion(*dc, Region::Combine(outer, inner, RGN_DIFF));
  return true;
}
}  // namespace

bool Ellipse(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b) {
  return ClosedShape(hdc, l, t, r, b, [](int32_t a, int32_t c, int32_t d, int32_t e, int) {
    return EllipseRegion(a, c, d, e);
  });
}

bool RoundRect(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t w, int32_t h) {
  return ClosedShape(hdc, l, t, r, b, [w, h](int32_t a, int32_t c, int32_t d, int32_t e, int inset) {
    return RoundRectRegion(a, c, d, e, std::max(0, w - 2 * inset), std::max(0, h - 2 * inset));
  });
}

bool Arc(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t x1, int32_t y1, int32_t x2,
         int32_t y2) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  Normalise(l, t, r, b);
  if (TooLarge(l, t, r, b)) return false;
  int w = PenWidth(*dc);
  if (w == 0) return true;
  POINT p = ToDevice(*dc, l, t), q = ToDevice(*dc, r, b);
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

int FillRect(HDC hdc, const RECT* rc, HBRUSH brush) {
  auto dc = LookupDC(hdc);
  auto br = LookupAs<BrushObj>(brush, OBJ_BRUSH);
  if (!dc || !rc || !br) return 0;
  POINT p = ToDevice(*dc, rc->left, rc->top), q = ToDevice(*dc, rc->right, rc->bottom);
  if (p.x >= q.x || p.y >= q.y) return 1;
  FillRegionBrush(*dc, *br, Region::FromRect(p.x, p.y, q.x, q.y), Fill::Pattern);
  return 1;
}

int FrameRect(HDC hdc, const RECT* rc, HBRUSH brush) {
  auto dc = LookupDC(hdc);
  auto br = LookupAs<BrushObj>(brush, OBJ_BRUSH);
  if (!dc || !rc || !br) return 0;
  POINT p = ToDevice(*dc, rc->left, rc->top), q = ToDevice(*dc, rc->right, rc->bottom);
  if (p.x >= q.x || p.y >= q.y) return 1;
  Region outer = Region::FromRect(p.x, p.y, q.x, q.y);
  FillRegionBrush(*dc, *br,
                  Region::Combine(outer, Region::FromRect(p.x + 1, p.y + 1, q.x - 1, q.y - 1), RGN_DIFF),
                  Fill::Pattern);
  return 1;
}

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

int ExtSelectClipRgn(HDC hdc, HRGN rgn, int mode) {
  auto dc = LookupDC(hdc);
  if (!dc) return ERROR;
  auto r = LookupAs<RegionObj>(rgn, OBJ_REGION);
  if (!r) {
    if (rgn != 0 || mode != RGN_COPY) return ERROR;
    dc->st.hasClip = false;
    dc->st.clip = Region();
  } else if (mode == RGN_COPY) {
    dc->st.hasClip = true;
    dc->st.clip = r->rgn;
  } else {
    if (mode < RGN_AND || mode > RGN_DIFF) return ERROR;
    Region cur = dc->st.hasClip ? dc->st.clip : Region::FromRect(-(1 << 28), -(1 << 28), 1 << 28, 1 << 28);
    dc->st.clip = Region::Combine(cur, r->rgn, mode);
    dc->st.hasClip = true;
  }
  Dirty(*dc);
  return dc->st.hasClip ? dc->st.clip.Kind() : SIMPLEREGION;
}

namespace {
int ClipRectOp(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b, int mode) {
  auto dc = LookupDC(hdc);
  if (!dc) return ERROR;
  POINT p = ToDevice(*dc, l, t), q = ToDevice(*dc, r, b);
  Region rect = Region::FromRect(p.x - dc->surfaceOffset.x, p.y - dc->surfaceOffset.y,
                                 q.x - dc->surfaceOffset.x, q.y - dc->surfaceOffset.y);
  if (!dc->st.hasClip) {
    // Without a clip region the whole surface is visible.
    Surface* s = dc->target();
    int32_t w = s ? s->width : 0, h = s ? s->height : 0;
    dc->st.clip = Region::FromRect(-dc->surfaceOffset.x, -dc->surfaceOffset.y,
                                   w - dc->surfaceOffset.x, h - dc->surfaceOffset.y);
    dc->st.hasClip = true;
  }
  dc->st.clip = Region::Combine(dc->st.clip, rect, mode);
  Dirty(*dc);
  return dc->st.clip.Kind();
}
}  // namespace

int IntersectClipRect(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b) {
  return ClipRectOp(hdc, l, t, r, b, RGN_AND);
}

int ExcludeClipRect(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b) {
  return ClipRectOp(hdc, l, t, r, b, RGN_DIFF);
}

int OffsetClipRgn(HDC hdc, int32_t dx, int32_t dy) {
  auto dc = LookupDC(hdc);
  if (!dc) return ERROR;
  if (!dc->st.hasClip) return SIMPLEREGION;
  dc->st.clip.Offset(dx, dy);
  Dirty(*dc);
  return dc->st.clip.Kind();
}

int GetClipRgn(HDC hdc, HRGN rgn) {
  auto dc = LookupDC(hdc);
  auto r = LookupAs<RegionObj>(rgn, OBJ_REGION);
  if (!dc || !r) return -1;
  if (!dc->st.hasClip) return 0;
  r->rgn = dc->st.clip;
  return 1;
}

int GetClipBox(HDC hdc, RECT* rc) {
  auto dc = LookupDC(hdc);
  if (!dc || !rc) return ERROR;
  const Region& g = EffectiveClip(*dc);
  RECT b = g.Box();
  POINT o = ToDevice(*dc, 0, 0);
  if (!g.Empty()) {
    b.left -= o.x; b.right -= o.x; b.top -= o.y; b.bottom -= o.y;
  }
  *rc = b;
  return g.Kind();
}

bool PtVisible(HDC hdc, int32_t x, int32_t y) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  POINT p = ToDevice(*dc, x, y);
  return EffectiveClip(*dc).Contains(p.x, p.y);
}

// ---- Palettes -----------------------------------------------------------------

HPALETTE CreatePalette(const LOGPALETTE& lp) {
  if (lp.palPalEntry.empty() || lp.palPalEntry.size() > 1024) return 0;
  auto p = std::make_shared<PaletteObj>();
  p->kind = OBJ_PAL;
  p->entries = lp.palPalEntry;
  return Register(p);
}

HPALETTE SelectPalette(HDC hdc, HPALETTE pal, bool) {
  auto dc = LookupDC(hdc);
  auto p = LookupAs<PaletteObj>(pal, OBJ_PAL);
  if (!dc || !p) return 0;
  HPALETTE old = dc->st.paletteH;
  dc->st.paletteH = pal;
  dc->st.palette = p;
  return old;
}

uint32_t RealizePalette(HDC hdc) { return LookupDC(hdc) ? 0 : 0xFFFFFFFF; }

uint32_t GetPaletteEntries(HPALETTE pal, uint32_t start, uint32_t count, PALETTEENTRY* entries) {
  auto p = LookupAs<PaletteObj>(pal, OBJ_PAL);
  if (!p) return 0;
  if (!entries) return uint32_t(p->entries.size());
  uint32_t n = 0;
  for (uint32_t i = start; i < p->entries.size() && n < count; ++i) entries[n++] = p->entries[i];
  return n;
}

uint32_t GetNearestPaletteIndex(HPALETTE pal, COLORREF c) {
  auto p = LookupAs<PaletteObj>(pal, OBJ_PAL);
  if (!p || p->entries.empty()) return CLR_INVALID;
  uint32_t best = 0;
  int64_t bestd = INT64_MAX;
  for (size_t i = 0; i < p->entries.size(); ++i) {
    int64_t dr = int(GetRValue(c)) - p->entries[i].peRed, dg = int(GetGValue(c)) - p->entries[i].peGreen,
            db = int(GetBValue(c)) - p->entries[i].peBlue;
    int64_t d = dr * dr + dg * dg + db * db;
    if (d < bestd) { bestd = d; best = uint32_t(i); }
  }
  return best;
}

// ---- Edges, system colours and metrics ----------------------------------------

COLORREF GetSysColor(int index) {
  if (index < 0 || index >= COLOR_MAX) return 0;
  std::lock_guard<std::mutex> lock(gMetricsLock);
  return Stocks().sysColors[index];
}

HBRUSH GetSysColorBrush(int index) {
  if (index < 0 || index >= COLOR_MAX) return 0;
  return Stocks().sysBrushes[index];
}

bool SetSysColors(int count, const int* indexes, const COLORREF* colors) {
  if (count < 0 || (count > 0 && (!indexes || !colors))) return false;
  Stock& s = Stocks();
  std::lock_guard<std::mutex> lock(gMetricsLock);
  for (int i = 0; i < count; ++i) {
    int k = indexes[i];
    if (k < 0 || k >= COLOR_MAX) continue;
    s.sysColors[k] = StripFlags(colors[i]);
    if (auto b = LookupAs<BrushObj>(s.sysBrushes[k], OBJ_BRUSH)) b->lb.lbColor = s.sysColors[k];
  }
  return true;
}

int GetSystemMetrics(int index) {
  std::lock_guard<std::mutex> lock(gMetricsLock);
  switch (index) {
    case SM_CXSCREEN: return gScreenW;
    case SM_CYSCREEN: return gScreenH;
    case SM_CXVSCROLL: case SM_CYHSCROLL: case SM_CYVSCROLL: case SM_CXHSCROLL:
    case SM_CYVTHUMB: case SM_CXHTHUMB: return 16;
    case SM_CYCAPTION: return 19;
    case SM_CXBORDER: case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME: case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME: case SM_CYFRAME: return 4;
    case SM_CXEDGE: case SM_CYEDGE: return 2;
    case SM_CXICON: case SM_CYICON: case SM_CXCURSOR: case SM_CYCURSOR: return 32;
    case SM_CXSMICON: case SM_CYSMICON: return 16;
    case SM_CYSMCAPTION: return 15;
    case SM_CYMENU: return 19;
    default: return 0;
  }
}

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
      brush.kind = OBJ_BRUSH;
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
      brush.kind = OBJ_BRUSH;
      brush.lb.lbColor = face;
      POINT p = ToDevice(*dc, r.left, r.top), e = ToDevice(*dc, r.right, r.bottom);
      FillRegionBrush(*dc, brush, Region::FromRect(p.x, p.y, e.x, e.y), Fill::Pattern);
    }
  }
  if (flags & BF_ADJUST) *rc = r;
  return true;
}

// ---- Icons ----------------------------------------------------------------------

HICON CreateIconIndirect(const ICONINFO* info) {
  if (!info) return 0;
  auto mask = LookupAs<BitmapObj>(info->hbmMask, OBJ_BITMAP);
  auto color = LookupAs<BitmapObj>(info->hbmColor, OBJ_BITMAP);
  if (!mask || !color) return 0;
  if (mask->s.width != color->s.width || mask->s.height != color->s.height) return 0;
  auto ic = std::make_shared<IconObj>();
  ic->kind = OBJ_ICON;
  ic->mask = CopyBitmap(*mask);
  ic->color = CopyBitmap(*color);
  ic->info = *info;
  return Register(ic);
}

HICON CopyIcon(HICON icon) {
  auto ic = LookupAs<IconObj>(icon, OBJ_ICON);
  if (!ic) return 0;
  auto c = std::make_shared<IconObj>(*ic);
  c->mask = CopyBitmap(*ic->mask);
  c->color = CopyBitmap(*ic->color);
  return Register(c);
}

bool DestroyIcon(HICON icon) {
  if (!LookupAs<IconObj>(icon, OBJ_ICON)) return false;
  return Unregister(icon);
}

bool GetIconInfo(HICON icon, ICONINFO* info) {
  auto ic = LookupAs<IconObj>(icon, OBJ_ICON);
  if (!ic || !info) return false;
  *info = ic->info;
  info->hbmMask = Register(CopyBitmap(*ic->mask));
  info->hbmColor = Register(CopyBitmap(*ic->color));
  return true;
}

bool DrawIconEx(HDC hdc, int32_t x, int32_t y, HICON icon, int32_t w, int32_t h, uint32_t,
                HBRUSH, uint32_t flags) {
  auto ic = LookupAs<IconObj>(icon, OBJ_ICON);
  if (!ic || !LookupDC(hdc)) return false;
  if (w == 0) w = ic->color->s.width;
  if (h == 0) h = ic->color->s.height;
  HDC mem = CreateCompatibleDC(hdc);
  auto m = LookupDC(mem);
  int32_t iw = ic->color->s.width, ih = ic->color->s.height;
  COLORREF oldText = SetTextColor(hdc, 0), oldBk = SetBkColor(hdc, 0xFFFFFF);
  if (flags & DI_MASK) {
    m->st.bitmap = ic->mask;
    Dirty(*m);
    StretchBlt(hdc, x, y, w, h, mem, 0, 0, iw, ih, (flags & DI_IMAGE) ? SRCAND : SRCCOPY);
  }
  if (flags & DI_IMAGE) {
    m->st.bitmap = ic->color;
    Dirty(*m);
    StretchBlt(hdc, x, y, w, h, mem, 0, 0, iw, ih, (flags & DI_MASK) ? SRCINVERT : SRCCOPY);
  }
  SetTextColor(hdc, oldText);
  SetBkColor(hdc, oldBk);
  DeleteDC(mem);
  return true;
}

bool DrawIcon(HDC hdc, int32_t x, int32_t y, HICON icon) {
  return DrawIconEx(hdc, x, y, icon, 0, 0, 0, 0, DI_NORMAL);
}

}  // namespace plat
