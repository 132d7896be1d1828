// Objects behind the drawing handles; shared by the files of this folder only.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gdi/ByteOrder.h"
#include "platform/gdi/Gdi.h"

namespace plat::gdi {

// A set of pixels as sorted bands of equal top and bottom, each holding
// disjoint, sorted, non-touching spans; adjacent bands with equal spans are merged.
struct Band {
  int32_t top = 0;
  int32_t bottom = 0;
  std::vector<std::pair<int32_t, int32_t>> spans;  // [left, right)
};

class Region {
public:
  std::vector<Band> bands;

  static Region FromRect(int32_t l, int32_t t, int32_t r, int32_t b);  // empty when inverted
  // Rows of spans, one row per y from top; merged into bands.
  static Region FromRows(int32_t top,
                         const std::vector<std::vector<std::pair<int32_t, int32_t>>>& rows);
  static Region Combine(const Region& a, const Region& b, int mode);
  bool Empty() const { return bands.empty(); }
  RECT Box() const;
  int Kind() const;
  void Offset(int32_t dx, int32_t dy);
  bool Contains(int32_t x, int32_t y) const;
  // Spans of the row y (nullptr when the row is empty).
  const Band* BandAt(int32_t y) const;
  size_t RectCount() const;
  bool operator==(const Region& o) const;
};

// Per-row spans of the filled shapes (shared by regions and drawing).
using Rows = std::vector<std::vector<std::pair<int32_t, int32_t>>>;
void EllipseRows(int32_t l, int32_t t, int32_t r, int32_t b, int32_t* top, Rows* rows);
void RoundRectRows(int32_t l, int32_t t, int32_t r, int32_t b, int32_t w, int32_t h, int32_t* top,
                   Rows* rows);
void PolygonRows(const POINT* pts, int count, int fillMode, int32_t* top, Rows* rows);

struct Surface {
  int32_t width = 0;
  int32_t height = 0;
  int bpp = 24;  // 1, 4, 8, 24, 32
  int32_t stride = 0;
  std::vector<uint8_t> bits;  // top-down
  std::vector<RGBQUAD> table; // for bpp <= 8
  bool dib = false;

  void Allocate(int32_t w, int32_t h, int bitCount);
  COLORREF Get(int32_t x, int32_t y) const;   // as RGB
  int Index(int32_t x, int32_t y) const;       // raw index for bpp <= 8
  void Set(int32_t x, int32_t y, COLORREF c);  // maps to the nearest table colour
  void SetIndex(int32_t x, int32_t y, int index);
  int Nearest(COLORREF c) const;
};

struct Object {
  virtual ~Object() = default;
  int kind = 0;
  bool stock = false;
};

// An object of one OBJ_ kind, named when it is made (a device context names
// its own, OBJ_DC or OBJ_MEMDC).
template <int Kind>
struct ObjectOfKind : Object {
  ObjectOfKind() { kind = Kind; }
};

struct PenObj : ObjectOfKind<OBJ_PEN> {
  LOGPEN lp;
};

struct BitmapObj : ObjectOfKind<OBJ_BITMAP> {
  Surface s;
};

struct BrushObj : ObjectOfKind<OBJ_BRUSH> {
  LOGBRUSH lb;
  std::shared_ptr<BitmapObj> pattern;  // own copy for BS_PATTERN
};

struct FontObj : ObjectOfKind<OBJ_FONT> {
  LOGFONT lf;
};

struct RegionObj : ObjectOfKind<OBJ_REGION> {
  Region rgn;
};

struct PaletteObj : ObjectOfKind<OBJ_PAL> {
  std::vector<PALETTEENTRY> entries;
};

struct IconObj : ObjectOfKind<OBJ_ICON> {
  std::shared_ptr<BitmapObj> mask;
  std::shared_ptr<BitmapObj> color;
  ICONINFO info;
};

struct DCState {
  std::shared_ptr<PenObj> pen;
  std::shared_ptr<BrushObj> brush;
  std::shared_ptr<FontObj> font;
  std::shared_ptr<BitmapObj> bitmap;
  std::shared_ptr<PaletteObj> palette;
  HGDIOBJ penH = 0, brushH = 0, fontH = 0, bitmapH = 0, paletteH = 0;
  COLORREF textColor = 0;
  COLORREF bkColor = 0xFFFFFF;
  int bkMode = OPAQUE;
  int rop2 = R2_COPYPEN;
  int stretchMode = BLACKONWHITE;
  int polyFill = ALTERNATE;
  uint32_t textAlign = 0;
  int charExtra = 0;
  int textStroke = 0;  // > 0: glyph outlines stroked this wide instead of filled
  POINT cur;
  POINT viewportOrg;
  POINT windowOrg;
  POINT brushOrg;
  bool hasClip = false;
  Region clip;  // device coordinates
};

struct DCObj : Object {
  DCState st;
  std::vector<DCState> saved;
  bool memory = false;
  bool screen = false;
  HWND hwnd = 0;
  bool wholeWindow = false;  // a window context (not limited to the client area)
  bool hasPaintClip = false;
  Region paintClip;     // device coordinates, window contexts only
  POINT surfaceOffset;  // client contexts draw at the client origin of the store
  std::shared_ptr<BitmapObj> windowStore;
  // The effective clip, rebuilt when a clip input changes.
  bool clipDirty = true;
  Region effective;
  int32_t clipW = -1, clipH = -1;  // surface size the effective clip was made for
  Surface* target();
};

// Handle table.
HGDIOBJ Register(std::shared_ptr<Object> obj);
std::shared_ptr<Object> Lookup(HGDIOBJ h);
template <class T>
std::shared_ptr<T> LookupAs(HGDIOBJ h, int kind) {
  auto o = Lookup(h);
  if (!o || o->kind != kind) return nullptr;
  return std::static_pointer_cast<T>(o);
}
std::shared_ptr<DCObj> LookupDC(HDC h);
bool Unregister(HGDIOBJ h);

// Drawing helpers used across files.
const Region& EffectiveClip(DCObj& dc);
void Dirty(DCObj& dc);
POINT ToDevice(const DCObj& dc, int32_t x, int32_t y);
COLORREF Rop2(int rop, COLORREF pen, COLORREF dst);
// How a brush fill treats hatch gaps and the mix mode:
// shape interiors leave the gaps alone in transparent background mode and mix;
// region fills paint the gaps in the background colour and mix;
// pattern fills (FillRect, FrameRect, edges) paint the gaps and copy.
enum class Fill { Shape, Region, Pattern };
// Fills spans [x0, x1) of device row y with the brush, through the clip.
void FillSpanBrush(DCObj& dc, const BrushObj& brush, int32_t y, int32_t x0, int32_t x1, Fill kind);
void FillRowsBrush(DCObj& dc, const BrushObj& brush, int32_t top, const Rows& rows, Fill kind);
void FillRegionBrush(DCObj& dc, const BrushObj& brush, const Region& rgn, Fill kind);
void PlotPen(DCObj& dc, int32_t x, int32_t y, COLORREF c);  // device coordinates, mix mode
void PlotRaw(DCObj& dc, int32_t x, int32_t y, COLORREF c);  // clip only
COLORREF StripFlags(COLORREF c);
std::shared_ptr<BitmapObj> CopyBitmap(const BitmapObj& b);
// The three-operand raster operation idx on pattern, source and destination.
COLORREF Rop3(uint32_t idx, COLORREF p, COLORREF s, COLORREF d);
// Brush colour at a device pixel; false where the brush leaves the pixel alone.
bool BrushColor(const DCObj& dc, const BrushObj& br, int32_t x, int32_t y, bool opaqueGaps,
                COLORREF* c);
// Calls f(a, e) for each part [a, e) of device row y between x0 and x1 the clip lets through.
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

// Stock objects, made on first use; the system colours and their brushes live here
// too, guarded by the metrics lock.
struct Stock {
  HGDIOBJ objs[20] = {};
  HBRUSH sysBrushes[COLOR_MAX] = {};
  HBITMAP defaultBitmap = 0;  // the 1 x 1 monochrome bitmap of new memory contexts
  COLORREF sysColors[COLOR_MAX] = {};
};
Stock& Stocks();
// The screen size the screen contexts and metrics report.
void ScreenSize(int32_t* width, int32_t* height);

// What the library keeps of a window: its backing store, update and window regions.
struct WindowEntry {
  std::shared_ptr<BitmapObj> store;
  Region update;  // client coordinates
  bool erase = false;
  bool hasRgn = false;
  Region windowRgn;
};

struct Face;                       // Text.cpp
void PostPaintRequest(HWND hwnd);  // the paint request when no hook is set

// The library's process-wide state (St()). Lock order, outer first:
//   windowMu, metricsMu and textMu (never two of them) -> tableMu.
// windowMu is also held over calls into the message layer (IsWindow, the
// window's rectangles), never while a window procedure or the paint hook
// runs; tableMu is held over nothing else.
// A forked child starts with an empty table whose handles go on from the
// parent's numbers, so no handle of the parent names an object of the child;
// stock objects are made again on first use. Leaving a session drops the
// windows' stores (handles are only unique within a session) and gives the
// screen size and system colours their defaults back.
struct State {
  State();  // both in Text.cpp, where a face is known
  ~State();

  std::mutex tableMu;
  std::unordered_map<uint32_t, std::shared_ptr<Object>> table;
  std::atomic<uint32_t> nextHandle{0x1000};  // read unlocked by a forked child

  std::once_flag stockMade;
  Stock stock;

  std::mutex metricsMu;  // screen size, stock.sysColors and the colours of their brushes
  int32_t screenW = 1024, screenH = 768;

  std::mutex windowMu;
  std::map<HWND, WindowEntry> windows;
  std::function<void(HWND)> paintHook = PostPaintRequest;
  size_t sweepCountdown = 64;

  std::mutex textMu;  // FreeType is not safe across threads
  bool fontsStarted = false;
  struct FT_LibraryRec_* fontLibrary = nullptr;  // null: the built-in box font only
  std::map<std::string, std::unique_ptr<Face>> faces;

  State* ForChild();
  void EndSession();
};
State& St();

// Window contexts (GdiDC.cpp, used by Window.cpp).
HDC NewWindowDC(HWND hwnd, std::shared_ptr<BitmapObj> store, POINT offset, bool screen,
                bool wholeWindow);
void SetPaintClip(HDC hdc, const Region* clip);

}  // namespace plat::gdi
