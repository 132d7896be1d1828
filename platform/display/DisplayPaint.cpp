// Paint and compose: painting invalid windows of the display thread, composing
// child windows into their top-level window's store and presenting it.
#include <algorithm>
#include <cstring>

#include "platform/display/Display.h"
#include "platform/display/DisplayInternal.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/Invariant.h"

namespace plat {

namespace display {
namespace {

constexpr UINT kPresentDelayMs = 10;

}  // namespace

void Schedule(State* s) {
  if (s->scheduled || s->presenting || s->timerWnd == 0) return;
  s->scheduled = true;
  // Changes that come quickly one after another are presented together.
  SetTimer(s->timerWnd, kPresentTimer, kPresentDelayMs);
}

void InvalidateTree(HWND hwnd) {
  InvalidateRect(hwnd, nullptr, true);
  for (HWND c : GetChildWindows(hwnd)) InvalidateTree(c);
}

namespace {

TopState ReadTop(HWND top) {
  TopState t;
  t.visible = HasStyle(top, WS_VISIBLE);
  t.iconic = IsIconic(top);
  GetWindowRect(top, &t.rect);
  t.title = GetWindowText(top);
  t.popup = (static_cast<DWORD>(GetWindowLong(top, GWL_EXSTYLE)) & WS_EX_NOACTIVATE) != 0;
  return t;
}

}  // namespace

void SyncTop(State* s, HWND top) {
  if (s->configuring.count(top)) return;
  TopState t = ReadTop(top);
  if (auto h = s->hints.find(top); h != s->hints.end()) t.hints = h->second;
  HWND owner = t.hints.owner;
  if (t.visible && owner && owner != top && IsWindow(owner) && OwnedByDisplay(s, owner) &&
      s->backend->WindowId(owner) == 0) {
    // The owner has not been shown yet: its window is made (hidden) to be named.
    TopState o = ReadTop(owner);
    if (auto h = s->hints.find(owner); h != s->hints.end()) o.hints = h->second;
    o.create = true;
    s->backend->Sync(owner, o);
  }
  s->backend->Sync(top, t);
  if (t.visible && !t.iconic) {
    s->dirty.insert(top);
    Schedule(s);
  }
}

namespace {

// Composes a child and its descendants into the top-level context. (ox, oy)
// is the parent's origin in the top-level window, clip what of it is visible.
void ComposeChildren(HDC dst, HWND parent, int32_t ox, int32_t oy, const RECT& clip) {
  std::vector<HWND> kids = GetChildWindows(parent);
  for (auto it = kids.rbegin(); it != kids.rend(); ++it) {  // bottom first
    HWND c = *it;
    if (!HasStyle(c, WS_VISIBLE)) continue;
    RECT r;
    if (!GetWindowRect(c, &r)) continue;
    RECT at{ox + r.left, oy + r.top, ox + r.right, oy + r.bottom};
    RECT vis{std::max(at.left, clip.left), std::max(at.top, clip.top),
             std::min(at.right, clip.right), std::min(at.bottom, clip.bottom)};
    if (vis.right <= vis.left || vis.bottom <= vis.top) continue;
    HDC src = GetWindowDC(c);
    if (src) {
      int saved = SaveDC(dst);
      IntersectClipRect(dst, vis.left, vis.top, vis.right, vis.bottom);
      BitBlt(dst, at.left, at.top, at.right - at.left, at.bottom - at.top, src, 0, 0, SRCCOPY);
      RestoreDC(dst, saved);
      ReleaseDC(c, src);
    }
    ComposeChildren(dst, c, at.left, at.top, vis);
  }
}

void ApplyShape(State* s, HWND top) {
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  bool has = GetWindowRgn(top, rgn) != ERROR;
  std::vector<uint8_t> data;
  if (has) {
    uint32_t need = GetRegionData(rgn, 0, nullptr);
    data.resize(need);
    if (need == 0 || GetRegionData(rgn, need, data.data()) != need) data.clear();
  }
  DeleteObject(rgn);
  auto it = s->shapes.find(top);
  if (it == s->shapes.end() && !has) return;
  if (it != s->shapes.end() && it->second == data && has) return;
  if (!has) {
    s->shapes.erase(top);
    s->backend->Shape(top, {}, true);
    return;
  }
  s->shapes[top] = data;
  std::vector<RECT> rects;
  if (data.size() >= sizeof(RGNDATAHEADER)) {
    RGNDATAHEADER h;
    std::memcpy(&h, data.data(), sizeof h);
    size_t count = std::min<size_t>(h.nCount, (data.size() - sizeof h) / sizeof(RECT));
    rects.resize(count);
    if (count) std::memcpy(rects.data(), data.data() + sizeof h, count * sizeof(RECT));
  }
  s->backend->Shape(top, rects, false);
}

void PresentTop(State* s, HWND top) {
  if (!IsWindow(top) || !HasStyle(top, WS_VISIBLE) || IsIconic(top)) return;
  RECT r;
  GetWindowRect(top, &r);
  HDC dc = GetWindowDC(top);
  if (dc) {
    RECT clip{0, 0, r.right - r.left, r.bottom - r.top};
    ComposeChildren(dc, top, 0, 0, clip);
    ReleaseDC(top, dc);
  }
  int32_t w = 0, h = 0;
  std::vector<uint8_t> pixels;
  if (!GetWindowSurface(top, &w, &h, &pixels)) return;
  ApplyShape(s, top);
  s->backend->Present(top, w, h, pixels);
}

int Depth(HWND hwnd) {
  int d = 0;
  for (HWND p = GetParent(hwnd); p != 0 && d < 1000; p = GetParent(p)) ++d;
  return d;
}

}  // namespace

// Paints every invalid window (parents first), then presents the changed
// top-level windows.
void RunPresent(State* s) {
  VEXA_INVARIANT(!s->presenting && !s->scheduled, "a present runs alone, its timer spent");
  s->presenting = true;
  for (int round = 0; round < 8 && !s->invalid.empty(); ++round) {
    std::vector<HWND> todo(s->invalid.begin(), s->invalid.end());
    s->invalid.clear();
    std::vector<std::pair<int, HWND>> order;
    for (HWND h : todo) {
      if (IsWindow(h)) order.emplace_back(Depth(h), h);
    }
    std::sort(order.begin(), order.end());
    for (auto& [depth, h] : order) {
      if (!IsWindow(h)) continue;
      HWND top = TopOf(h);
      if (!IsWindowVisible(h)) {
        // Painted in full when shown: a pending update must not hold off
        // the paint request that showing makes.
        ValidateRect(h, nullptr);
        continue;
      }
      UpdateWindow(h);
      RECT left;
      if (GetUpdateRect(h, &left, false)) ValidateRect(h, nullptr);  // ignored the paint
      if (top) s->dirty.insert(top);
    }
  }
  std::vector<HWND> tops(s->dirty.begin(), s->dirty.end());
  s->dirty.clear();
  for (HWND t : tops) PresentTop(s, t);
  s->backend->Flush(false);
  s->presenting = false;
  if (!s->invalid.empty() || !s->dirty.empty()) Schedule(s);
}

void OnPaintRequest(HWND hwnd) {
  State* s = Mine();
  if (!s || !OwnedByDisplay(s, hwnd)) {
    PostMessage(hwnd, WM_PAINT, 0, 0);
    return;
  }
  s->invalid.insert(hwnd);
  Schedule(s);
}

}  // namespace display

using namespace display;

void FlushDisplay() {
  State* s = Mine();
  if (!s) return;
  if (s->scheduled) {
    KillTimer(s->timerWnd, kPresentTimer);
    s->scheduled = false;
  }
  RunPresent(s);
  s->backend->Flush(true);
}

}  // namespace plat
