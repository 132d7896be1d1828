// Window contexts: a backing store, update region and window region per window.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/gdi/GdiInternal.h"

namespace plat {

using namespace gdi;

namespace {

// Drops entries of windows that no longer exist. Caller holds windowMu.
void SweepLocked(State& s) {
  if (--s.sweepCountdown > 0) return;
  s.sweepCountdown = 64;
  for (auto it = s.windows.begin(); it != s.windows.end();) {
    if (!IsWindow(it->first))
      it = s.windows.erase(it);
    else
      ++it;
  }
}

struct Geometry {
  int32_t width = 0, height = 0;  // backing store
  int32_t cw = 0, ch = 0;          // client area
  POINT clientOffset;
};

bool Measure(HWND hwnd, Geometry* g) {
  RECT wr, cr;
  if (!GetWindowRect(hwnd, &wr) || !GetClientRect(hwnd, &cr)) return false;
  int32_t ww = std::max(0, wr.right - wr.left), wh = std::max(0, wr.bottom - wr.top);
  g->cw = std::clamp(cr.right - cr.left, 0, 32768);
  g->ch = std::clamp(cr.bottom - cr.top, 0, 32768);
  g->width = std::clamp(std::max(ww, g->cw), 0, 32768);
  g->height = std::clamp(std::max(wh, g->ch), 0, 32768);
  g->clientOffset.x = (g->width - g->cw) / 2;
  g->clientOffset.y = (g->height - g->ch) / 2;
  return true;
}

// The entry with a store of the window's current size. Caller holds windowMu.
WindowEntry* EnsureLocked(State& st, HWND hwnd, Geometry* g) {
  if (!IsWindow(hwnd) || !Measure(hwnd, g)) return nullptr;
  SweepLocked(st);
  WindowEntry& e = st.windows[hwnd];
  if (!e.store) {
    e.store = std::make_shared<BitmapObj>();
  }
  Surface& s = e.store->s;
  if (s.width != g->width || s.height != g->height || s.bpp != 24) {
    Surface n;
    n.Allocate(g->width, g->height, 24);
    // Keep what the old store showed; an empty store has no rows to copy.
    const int32_t keepWidth = std::min(n.width, s.width);
    for (int32_t y = 0; keepWidth > 0 && y < std::min(n.height, s.height); ++y)
      std::memcpy(n.bits.data() + size_t(y) * size_t(n.stride),
                  s.bits.data() + size_t(y) * size_t(s.stride),
                  size_t(keepWidth) * 3);
    s = std::move(n);
  }
  return &e;
}

}  // namespace

namespace gdi {
void PostPaintRequest(HWND hwnd) { PostMessage(hwnd, WM_PAINT, 0, 0); }
}  // namespace gdi

HDC GetDC(HWND hwnd) {
  if (hwnd == 0) return NewWindowDC(0, nullptr, POINT{}, true, false);
  State& st = St();
  std::lock_guard<std::mutex> lock(st.windowMu);
  Geometry g;
  WindowEntry* e = EnsureLocked(st, hwnd, &g);
  if (!e) return 0;
  return NewWindowDC(hwnd, e->store, g.clientOffset, false, false);
}

HDC GetWindowDC(HWND hwnd) {
  if (hwnd == 0) return GetDC(0);
  State& st = St();
  std::lock_guard<std::mutex> lock(st.windowMu);
  Geometry g;
  WindowEntry* e = EnsureLocked(st, hwnd, &g);
  if (!e) return 0;
  return NewWindowDC(hwnd, e->store, POINT{}, false, true);
}

int ReleaseDC(HWND, HDC hdc) {
  auto dc = LookupDC(hdc);
  if (!dc || dc->memory) return 0;
  return Unregister(hdc) ? 1 : 0;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  if (!ps) return 0;
  Region update;
  bool erase = false;
  HDC hdc = 0;
  POINT offset;
  {
    State& st = St();
    std::lock_guard<std::mutex> lock(st.windowMu);
    Geometry g;
    WindowEntry* e = EnsureLocked(st, hwnd, &g);
    if (!e) return 0;
    update = Region::Combine(e->update, Region::FromRect(0, 0, g.cw, g.ch), RGN_AND);
    erase = e->erase;
    e->update = Region();
    e->erase = false;
    offset = g.clientOffset;
    hdc = NewWindowDC(hwnd, e->store, offset, false, false);
  }
  Region clip = update;
  clip.Offset(offset.x, offset.y);
  SetPaintClip(hdc, &clip);
  ps->hdc = hdc;
  ps->rcPaint = update.Box();
  ps->fErase = erase;
  if (erase && !update.Empty()) ps->fErase = SendMessage(hwnd, WM_ERASEBKGND, WPARAM(hdc), 0) == 0;
  return hdc;
}

bool EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  if (!ps) return false;
  return ReleaseDC(hwnd, ps->hdc) != 0;
}

namespace {
bool AddUpdate(HWND hwnd, const Region* add, bool erase) {
  bool request = false;
  std::function<void(HWND)> hook;
  {
    State& st = St();
    std::lock_guard<std::mutex> lock(st.windowMu);
    Geometry g;
    WindowEntry* e = EnsureLocked(st, hwnd, &g);
    if (!e) return false;
    Region client = Region::FromRect(0, 0, g.cw, g.ch);
    Region r = add ? Region::Combine(*add, client, RGN_AND) : client;
    if (r.Empty()) return true;
    bool wasEmpty = e->update.Empty();
    e->update = Region::Combine(e->update, r, RGN_OR);
    e->erase = e->erase || erase;
    request = wasEmpty;
    hook = st.paintHook;
  }
  if (request && hook) hook(hwnd);
  return true;
}
}  // namespace

bool InvalidateRect(HWND hwnd, const RECT* rc, bool erase) {
  if (!rc) return AddUpdate(hwnd, nullptr, erase);
  Region r = Region::FromRect(rc->left, rc->top, rc->right, rc->bottom);
  return AddUpdate(hwnd, &r, erase);
}

bool InvalidateRgn(HWND hwnd, HRGN rgn, bool erase) {
  if (rgn == 0) return AddUpdate(hwnd, nullptr, erase);
  auto r = LookupAs<RegionObj>(rgn, OBJ_REGION);
  if (!r) return false;
  return AddUpdate(hwnd, &r->rgn, erase);
}

bool ValidateRect(HWND hwnd, const RECT* rc) {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.windowMu);
  auto it = st.windows.find(hwnd);
  if (!IsWindow(hwnd)) return false;
  if (it == st.windows.end()) return true;
  if (!rc) {
    it->second.update = Region();
  } else {
    it->second.update = Region::Combine(
        it->second.update, Region::FromRect(rc->left, rc->top, rc->right, rc->bottom), RGN_DIFF);
  }
  return true;
}

bool GetUpdateRect(HWND hwnd, RECT* rc, bool) {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.windowMu);
  auto it = st.windows.find(hwnd);
  RECT box;
  if (it != st.windows.end()) box = it->second.update.Box();
  if (rc) *rc = box;
  return box.right > box.left && box.bottom > box.top;
}

int GetUpdateRgn(HWND hwnd, HRGN rgn, bool) {
  auto r = LookupAs<RegionObj>(rgn, OBJ_REGION);
  if (!r) return ERROR;
  State& st = St();
  std::lock_guard<std::mutex> lock(st.windowMu);
  auto it = st.windows.find(hwnd);
  r->rgn = it != st.windows.end() ? it->second.update : Region();
  return r->rgn.Kind();
}

bool UpdateWindow(HWND hwnd) {
  if (!IsWindow(hwnd)) return false;
  bool pending;
  {
    State& st = St();
    std::lock_guard<std::mutex> lock(st.windowMu);
    auto it = st.windows.find(hwnd);
    pending = it != st.windows.end() && !it->second.update.Empty();
  }
  if (pending) SendMessage(hwnd, WM_PAINT, 0, 0);
  return true;
}

void SetPaintRequestHook(std::function<void(HWND)> hook) {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.windowMu);
  st.paintHook = std::move(hook);
}

int SetWindowRgn(HWND hwnd, HRGN rgn, bool redraw) {
  auto r = rgn ? LookupAs<RegionObj>(rgn, OBJ_REGION) : nullptr;
  if (rgn && !r) return 0;
  {
    State& st = St();
    std::lock_guard<std::mutex> lock(st.windowMu);
    if (!IsWindow(hwnd)) return 0;
    WindowEntry& e = st.windows[hwnd];
    e.hasRgn = r != nullptr;
    e.windowRgn = r ? r->rgn : Region();
  }
  if (rgn) DeleteObject(rgn);  // the window owns it from now on
  if (redraw) InvalidateRect(hwnd, nullptr, true);
  return 1;
}

int GetWindowRgn(HWND hwnd, HRGN rgn) {
  auto r = LookupAs<RegionObj>(rgn, OBJ_REGION);
  if (!r) return ERROR;
  State& st = St();
  std::lock_guard<std::mutex> lock(st.windowMu);
  auto it = st.windows.find(hwnd);
  if (it == st.windows.end() || !it->second.hasRgn) return ERROR;
  r->rgn = it->second.windowRgn;
  return r->rgn.Kind();
}

bool GetWindowSurface(HWND hwnd, int32_t* width, int32_t* height, std::vector<uint8_t>* pixels) {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.windowMu);
  Geometry g;
  WindowEntry* e = EnsureLocked(st, hwnd, &g);
  if (!e) return false;
  if (width) *width = e->store->s.width;
  if (height) *height = e->store->s.height;
  if (pixels) *pixels = e->store->s.bits;
  return true;
}

void ReleaseWindowSurface(HWND hwnd) {
  State& st = St();
  std::lock_guard<std::mutex> lock(st.windowMu);
  st.windows.erase(hwnd);
}

}  // namespace plat
