// Pixels: surfaces, raster operations, brush colours and clipped spans.
#include <algorithm>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace plat::gdi {

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

COLORREF Rop3(uint32_t idx, COLORREF p, COLORREF s, COLORREF d) {
  uint32_t r = 0;
  for (int m = 0; m < 8; ++m) {
    if (!((idx >> m) & 1)) continue;
    uint32_t t = ((m & 4) ? p : ~p) & ((m & 2) ? s : ~s) & ((m & 1) ? d : ~d);
    r |= t;
  }
  return r & 0x00FFFFFF;
}

namespace {

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

}  // namespace

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
