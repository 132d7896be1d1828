// The handle table, stock objects, and the objects' own calls: pens, brushes, palettes, icons.
#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/gdi/GdiInternal.h"
#include "platform/kernel/Lifecycle.h"

namespace plat::gdi {

namespace {

StateOwner<State> gState{Layer::Gdi};

}  // namespace

State& St() { return gState.Get(); }

HGDIOBJ Register(std::shared_ptr<Object> obj) {
  State& s = St();
  std::lock_guard<std::mutex> lock(s.tableMu);
  uint32_t next = s.nextHandle.load(std::memory_order_relaxed);
  uint32_t h;
  do {
    h = next++;
    if (next == 0) next = 0x1000;
  } while (h == 0 || s.table.count(h));
  s.nextHandle.store(next, std::memory_order_relaxed);
  s.table[h] = std::move(obj);
  return h;
}

std::shared_ptr<Object> Lookup(HGDIOBJ h) {
  if (h == 0) return nullptr;
  State& s = St();
  std::lock_guard<std::mutex> lock(s.tableMu);
  auto it = s.table.find(h);
  return it == s.table.end() ? nullptr : it->second;
}

std::shared_ptr<DCObj> LookupDC(HDC h) {
  auto o = Lookup(h);
  if (!o || (o->kind != OBJ_DC && o->kind != OBJ_MEMDC)) return nullptr;
  return std::static_pointer_cast<DCObj>(o);
}

bool Unregister(HGDIOBJ h) {
  State& s = St();
  std::lock_guard<std::mutex> lock(s.tableMu);
  return s.table.erase(h) > 0;
}

namespace {

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
  b->lb = lb;
  b->stock = stock;
  return Register(b);
}

HPEN MakePen(int style, int width, COLORREF c, bool stock) {
  auto p = std::make_shared<PenObj>();
  p->lp.lopnStyle = uint32_t(style);
  p->lp.lopnWidth.x = std::max(0, width);
  p->lp.lopnColor = c;
  p->stock = stock;
  return Register(p);
}

}  // namespace

Stock& Stocks() {
  State& state = St();
  std::call_once(state.stockMade, [&state] {
    Stock* st = &state.stock;
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
      f->stock = true;
      f->lf.lfHeight = idx == SYSTEM_FONT ? 16 : -11;
      f->lf.lfWeight = idx == SYSTEM_FONT ? FW_BOLD : FW_NORMAL;
      f->lf.lfFaceName = idx == SYSTEM_FONT ? "System" : "MS Sans Serif";
      st->objs[idx] = Register(f);
    }
    auto pal = std::make_shared<PaletteObj>();
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
    bm->stock = true;
    bm->s.Allocate(1, 1, 1);
    st->defaultBitmap = Register(bm);
    for (int i = 0; i < COLOR_MAX; ++i) {
      st->sysColors[i] = kSysDefaults[i];
      st->sysBrushes[i] = brush(kSysDefaults[i]);
    }
  });
  return state.stock;
}

State* State::ForChild() {
  auto* mine = new State;
  mine->nextHandle.store(nextHandle.load());
  return mine;
}

void State::EndSession() {
  {
    std::lock_guard<std::mutex> lock(windowMu);
    windows.clear();
  }
  {
    std::lock_guard<std::mutex> lock(metricsMu);
    screenW = 1024;
    screenH = 768;
  }
  int all[COLOR_MAX];
  for (int i = 0; i < COLOR_MAX; ++i) all[i] = i;
  SetSysColors(COLOR_MAX, all, kSysDefaults);
}

}  // namespace plat::gdi

namespace plat {

using namespace gdi;

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

// ---- Palettes -----------------------------------------------------------------

HPALETTE CreatePalette(const LOGPALETTE& lp) {
  if (lp.palPalEntry.empty() || lp.palPalEntry.size() > 1024) return 0;
  auto p = std::make_shared<PaletteObj>();
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
    int64_t dr = int(GetRValue(c)) - p->entries[i].peRed,
            dg = int(GetGValue(c)) - p->entries[i].peGreen,
            db = int(GetBValue(c)) - p->entries[i].peBlue;
    int64_t d = dr * dr + dg * dg + db * db;
    if (d < bestd) { bestd = d; best = uint32_t(i); }
  }
  return best;
}

// ---- Icons ----------------------------------------------------------------------

HICON CreateIconIndirect(const ICONINFO* info) {
  if (!info) return 0;
  auto mask = LookupAs<BitmapObj>(info->hbmMask, OBJ_BITMAP);
  auto color = LookupAs<BitmapObj>(info->hbmColor, OBJ_BITMAP);
  if (!mask || !color) return 0;
  if (mask->s.width != color->s.width || mask->s.height != color->s.height) return 0;
  auto ic = std::make_shared<IconObj>();
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
