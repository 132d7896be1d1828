// Device contexts: creation, selection, saved states, origins and clipping.
#include <algorithm>
#include <mutex>
#include <type_traits>
#include <utility>

#include "platform/gdi/GdiInternal.h"

namespace plat {

using namespace gdi;

namespace {

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

}  // namespace

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
  // Holds obj in the context's slot for its kind; answers the one held before.
  auto hold = [&](HGDIOBJ& handle, auto& held) {
    held = std::static_pointer_cast<typename std::decay_t<decltype(held)>::element_type>(o);
    return std::exchange(handle, obj);
  };
  switch (o->kind) {
    case OBJ_PEN: return hold(dc->st.penH, dc->st.pen);
    case OBJ_BRUSH: return hold(dc->st.brushH, dc->st.brush);
    case OBJ_FONT: return hold(dc->st.fontH, dc->st.font);
    case OBJ_BITMAP: {
      if (!dc->memory) return 0;
      const HGDIOBJ old = hold(dc->st.bitmapH, dc->st.bitmap);
      Dirty(*dc);
      return old;
    }
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

int GetDeviceCaps(HDC hdc, int index) {
  auto dc = LookupDC(hdc);
  if (!dc) return 0;
  Surface* s = dc->target();
  int32_t screenW, screenH;
  ScreenSize(&screenW, &screenH);
  switch (index) {
    case HORZRES: return dc->screen || !s ? screenW : s->width;
    case VERTRES: return dc->screen || !s ? screenH : s->height;
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
    Region cur =
        dc->st.hasClip ? dc->st.clip : Region::FromRect(-(1 << 28), -(1 << 28), 1 << 28, 1 << 28);
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

}  // namespace plat
