// Input routing: mouse and key events from the display, one at a time, to the
// window under the pointer, the capture or the focus; capture and size drags.
#include <algorithm>
#include <cstdlib>

#include "platform/display/Display.h"
#include "platform/display/DisplayInternal.h"

namespace plat {

namespace display {

bool OnTranslate(const MSG* msg) {
  // Key messages of the display carry bit 28: their characters are queued already.
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) &&
         (static_cast<uint32_t>(msg->lParam) & (1u << 28)) != 0;
}

namespace {

constexpr DWORD kDoubleClickMs = 500;
constexpr int32_t kDoubleClickDistance = 4;

LPARAM PackPoint(int32_t x, int32_t y) {
  return static_cast<LPARAM>((static_cast<uint32_t>(x) & 0xFFFF) |
                             ((static_cast<uint32_t>(y) & 0xFFFF) << 16));
}

// The deepest visible child under (x, y) in hwnd's client coordinates.
HWND ChildAt(HWND hwnd, int32_t x, int32_t y, int32_t* cx, int32_t* cy) {
  std::vector<HWND> kids = GetChildWindows(hwnd);
  for (HWND c : kids) {  // top first
    if (!HasStyle(c, WS_VISIBLE)) continue;
    RECT r;
    if (!GetWindowRect(c, &r)) continue;
    if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) continue;
    int32_t lx = x - r.left, ly = y - r.top;
    HWND deeper = ChildAt(c, lx, ly, cx, cy);
    if (deeper) return deeper;
    if (SendMessage(c, WM_NCHITTEST, 0, 0) == HTTRANSPARENT) continue;
    *cx = lx;
    *cy = ly;
    return c;
  }
  return 0;
}

// Origin of a window in its top-level window's client coordinates.
POINT OriginInTop(HWND hwnd) {
  POINT p;
  for (HWND h = hwnd; h != 0 && GetParent(h) != 0; h = GetParent(h)) {
    RECT r;
    GetWindowRect(h, &r);
    p.x += r.left;
    p.y += r.top;
  }
  return p;
}

}  // namespace

}  // namespace display

using namespace display;

bool BeginWindowSizeDrag(HWND top) {
  State* s = Mine();
  if (!s || !IsWindow(top) || !HasStyle(top, WS_VISIBLE) || IsIconic(top)) return false;
  if (s->backend->ManagerSizeDrag(top)) return true;
  if (s->pressTop != top) return false;
  RECT r;
  GetWindowRect(top, &r);
  s->sizing = top;
  s->sizingW = r.right - r.left;
  s->sizingH = r.bottom - r.top;
  return true;
}

HWND SetCapture(HWND hwnd) {
  State* s = Mine();
  if (!s) return 0;
  HWND old = s->capture;
  s->capture = IsWindow(hwnd) ? hwnd : 0;
  if (old && old != s->capture) SendMessage(old, WM_CAPTURECHANGED, 0, static_cast<LPARAM>(hwnd));
  return old;
}

bool ReleaseCapture() {
  State* s = Mine();
  if (!s) return false;
  HWND old = s->capture;
  s->capture = 0;
  if (old) SendMessage(old, WM_CAPTURECHANGED, 0, 0);
  return true;
}

HWND GetCapture() {
  State* s = Mine();
  return s ? s->capture : 0;
}

HWND WindowFromPoint(HWND top, int32_t x, int32_t y) {
  RECT r;
  if (!GetWindowRect(top, &r)) return 0;
  if (x < 0 || y < 0 || x >= r.right - r.left || y >= r.bottom - r.top) return 0;
  int32_t cx = 0, cy = 0;
  HWND c = ChildAt(top, x, y, &cx, &cy);
  return c ? c : top;
}

namespace display {
namespace {

// The display's own size drag: the bottom-right corner follows the pointer,
// the window keeps within its size limits, the release ends it.
void FollowSizeDrag(State* s, MouseAction action, int32_t x, int32_t y) {
  HWND top = s->sizing;
  if (action == MouseAction::Up) s->sizing = 0;
  if (action != MouseAction::Move && action != MouseAction::Up) return;
  WindowHints h;
  if (auto it = s->hints.find(top); it != s->hints.end()) h = it->second;
  int32_t w = std::max({1, h.minWidth, s->sizingW + x - s->pressX});
  int32_t ht = std::max({1, h.minHeight, s->sizingH + y - s->pressY});
  if (h.maxWidth > 0) w = std::min(w, h.maxWidth);
  if (h.maxHeight > 0) ht = std::min(ht, h.maxHeight);
  RECT r;
  GetWindowRect(top, &r);
  if (r.right - r.left != w || r.bottom - r.top != ht) MoveWindow(top, r.left, r.top, w, ht, true);
}

void RouteMouse(State* s, HWND top, MouseAction action, int button, int32_t x, int32_t y,
                uint32_t keyState, int wheelDelta, DWORD time) {
  if (s->sizing && s->sizing == top && IsWindow(top)) {
    FollowSizeDrag(s, action, x, y);
    return;
  }
  if (!IsWindow(top) || !IsWindowEnabled(top)) return;  // a disabled window takes no input
  if (action == MouseAction::Down && button == 0) {
    s->pressTop = top;
    s->pressX = x;
    s->pressY = y;
  }
  bool noActivate = (static_cast<DWORD>(GetWindowLong(top, GWL_EXSTYLE)) & WS_EX_NOACTIVATE) != 0;
  if (action == MouseAction::Down && s->active != top && !noActivate) Activate(s, top);
  HWND target = 0;
  int32_t cx = x, cy = y;
  LRESULT hit = HTCLIENT;
  if (s->capture && IsWindow(s->capture) && TopOf(s->capture) == top) {
    target = s->capture;
    POINT o = OriginInTop(target);
    cx = x - o.x;
    cy = y - o.y;
  } else {
    RECT r;
    GetWindowRect(top, &r);
    bool inside = x >= 0 && y >= 0 && x < r.right - r.left && y < r.bottom - r.top;
    if (!inside) return;
    target = ChildAt(top, x, y, &cx, &cy);
    if (!target) {
      target = top;
      cx = x;
      cy = y;
    }
    hit = SendMessage(target, WM_NCHITTEST, 0, PackPoint(x + r.left, y + r.top));
    if (hit == HTTRANSPARENT && target != top) {
      target = top;
      cx = x;
      cy = y;
      hit = SendMessage(top, WM_NCHITTEST, 0, PackPoint(x + r.left, y + r.top));
    }
  }
  if (!IsWindowEnabled(target)) return;
  if (hit == HTCLOSE) {
    if (action == MouseAction::Down && button == 0) s->closeDown = target;
    if (action == MouseAction::Up && button == 0 && s->closeDown == target) {
      s->closeDown = 0;
      DeliverClose(top);
    }
    return;
  }
  if (action == MouseAction::Up) s->closeDown = 0;
  uint32_t mk = keyState & (MK_SHIFT | MK_CONTROL | MK_LBUTTON | MK_RBUTTON | MK_MBUTTON);
  static const uint32_t kButtonMk[3] = {MK_LBUTTON, MK_RBUTTON, MK_MBUTTON};
  static const UINT kDown[3] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
  static const UINT kUp[3] = {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP};
  static const UINT kDbl[3] = {WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK};
  int b = std::clamp(button, 0, 2);
  switch (action) {
    case MouseAction::Move:
      PostMessage(target, WM_MOUSEMOVE, static_cast<WPARAM>(mk), PackPoint(cx, cy));
      break;
    case MouseAction::Down: {
      mk |= kButtonMk[b];
      bool dbl = s->lastDownWnd == target && s->lastDownButton == b &&
                 time - s->lastDownTime <= kDoubleClickMs &&
                 std::abs(x - s->lastDownX) <= kDoubleClickDistance &&
                 std::abs(y - s->lastDownY) <= kDoubleClickDistance;
      if (dbl) {
        s->lastDownWnd = 0;
        s->lastDownButton = -1;
      } else {
        s->lastDownWnd = target;
        s->lastDownButton = b;
        s->lastDownTime = time;
        s->lastDownX = x;
        s->lastDownY = y;
      }
      PostMessage(target, dbl ? kDbl[b] : kDown[b], static_cast<WPARAM>(mk), PackPoint(cx, cy));
      break;
    }
    case MouseAction::Up:
      mk &= ~kButtonMk[b];
      PostMessage(target, kUp[b], static_cast<WPARAM>(mk), PackPoint(cx, cy));
      break;
    case MouseAction::Wheel: {
      HWND w = s->focus && TopOf(s->focus) == top ? s->focus : target;
      RECT r;
      GetWindowRect(top, &r);
      uint32_t wp = (static_cast<uint32_t>(static_cast<int16_t>(wheelDelta)) << 16) | (mk & 0xFFFF);
      PostMessage(w, WM_MOUSEWHEEL, static_cast<WPARAM>(wp), PackPoint(x + r.left, y + r.top));
      break;
    }
  }
}

void RouteKey(State* s, HWND top, bool down, int vk, uint32_t ch, bool alt) {
  if (!IsWindow(top)) return;
  // Keys typed while a modal window keeps this one disabled belong to the modal one.
  if (!IsWindowEnabled(top) && (top = EnabledTopInstead(s, top)) == 0) return;
  HWND target = s->focus && IsWindow(s->focus) && TopOf(s->focus) == top ? s->focus : top;
  if (!IsWindowEnabled(target)) return;
  uint32_t lp = 1u | (1u << 28);
  if (alt) lp |= 1u << 29;
  if (!down) lp |= (1u << 30) | (1u << 31);
  if (vk != 0) {
    UINT m = down ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
    PostMessage(target, m, vk, static_cast<LPARAM>(lp));
  }
  if (down && ch != 0) {
    PostMessage(target, alt ? WM_SYSCHAR : WM_CHAR, static_cast<WPARAM>(ch), static_cast<LPARAM>(lp));
  }
}

}  // namespace

// Where an event goes depends on the capture, focus and enabled windows that
// the messages routed before it leave behind. So each one is routed only after
// everything posted before it was handled: the display's own window gets one
// message per event, and routing an event posts its message, then the next
// event's turn behind it. A press read together with the release before it
// then reaches the window under the pointer, not the capture that release ends.
void RouteNextInput(State* s) {
  if (s->input.empty()) {
    s->inputDue = false;
    return;
  }
  RawInput e = s->input.front();
  s->input.pop_front();
  if (e.key) {
    RouteKey(s, e.top, e.down, e.vk, e.ch, e.alt);
  } else {
    RouteMouse(s, e.top, e.action, e.button, e.x, e.y, e.keyState, e.wheelDelta, e.time);
  }
  s->inputDue = !s->input.empty() && s->timerWnd != 0 && PostMessage(s->timerWnd, kInputMessage, 0, 0);
  if (!s->inputDue) s->input.clear();
}

namespace {

void QueueInput(State* s, const RawInput& e) {
  s->input.push_back(e);
  if (!s->inputDue) s->inputDue = s->timerWnd != 0 && PostMessage(s->timerWnd, kInputMessage, 0, 0);
  if (!s->inputDue) RouteNextInput(s);  // no window to take turns through: at once
}

}  // namespace
}  // namespace display

void DeliverMouse(HWND top, MouseAction action, int button, int32_t x, int32_t y,
                  uint32_t keyState, int wheelDelta, DWORD time) {
  if (State* s = Mine())
    QueueInput(s, RawInput{.top = top, .action = action, .button = button, .x = x, .y = y,
                           .keyState = keyState, .wheelDelta = wheelDelta, .time = time});
}

void DeliverKey(HWND top, bool down, int vk, uint32_t ch, bool alt) {
  if (State* s = Mine())
    QueueInput(s, RawInput{.key = true, .top = top, .down = down, .vk = vk, .ch = ch, .alt = alt});
}

void DeliverClose(HWND top) {
  if (IsWindow(top)) PostMessage(top, WM_SYSCOMMAND, static_cast<WPARAM>(SC_CLOSE), 0);
}

}  // namespace plat
