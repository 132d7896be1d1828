// The display core: paint scheduling, composition of child windows into their
// top-level window's store, input routing, focus and capture. The backend
// (X11 or headless) only shows what the core hands it.
#include "platform/display/Display.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include <unistd.h>

#include "platform/display/DisplayInternal.h"
#include "platform/gdi/Gdi.h"

namespace plat {

namespace display {
namespace {
struct State;
}  // namespace
}  // namespace display
namespace {
void RouteNextInput(display::State* s);
}  // namespace

namespace display {
namespace {

// Keeps nothing on screen: the window tree lives in platform/msg as always.
class HeadlessBackend : public Backend {
public:
  void Sync(HWND, const TopState&) override {}
  void Destroy(HWND) override {}
  void Present(HWND, int32_t, int32_t, const std::vector<uint8_t>&) override {}
  void Shape(HWND, const std::vector<RECT>&, bool) override {}
  void Flush(bool) override {}
};

constexpr uintptr_t kPresentTimer = 1;
constexpr UINT kRestoreMessage = WM_USER + 1;  // wParam: a top-level window the display could not minimise
constexpr UINT kInputMessage = WM_USER + 2;    // the next mouse or key event is due for routing
// wParam: the active top-level window, hidden or destroyed; lParam: its owner
constexpr UINT kSuccessorMessage = WM_USER + 3;

// A mouse or key event as it came from the display, before it is routed.
struct RawInput {
  bool key = false;
  HWND top = 0;
  MouseAction action = MouseAction::Move;
  int button = 0;
  int32_t x = 0, y = 0;
  uint32_t keyState = 0;
  int wheelDelta = 0;
  DWORD time = 0;
  bool down = false;
  int vk = 0;
  uint32_t ch = 0;
  bool alt = false;
};
constexpr UINT kPresentDelayMs = 10;
constexpr DWORD kDoubleClickMs = 500;
constexpr int32_t kDoubleClickDistance = 4;

struct State {
  DWORD thread = 0;
  std::unique_ptr<Backend> backend;
  HWND timerWnd = 0;
  bool scheduled = false;
  bool presenting = false;
  std::set<HWND> invalid;   // windows with a paint request
  std::set<HWND> dirty;     // top-level windows to present
  std::map<HWND, std::vector<uint8_t>> shapes;  // region data last applied
  std::set<HWND> configuring;  // changes that came from the server
  std::map<HWND, WindowHints> hints;
  std::set<HWND> maximized;  // as a window manager shows them
  HWND capture = 0;
  HWND focus = 0;
  HWND active = 0;
  HWND closeDown = 0;       // window pressed on its close hit area
  // Double-click detection.
  HWND lastDownWnd = 0;
  int lastDownButton = -1;
  DWORD lastDownTime = 0;
  int32_t lastDownX = 0, lastDownY = 0;
  // The last press of the left button (top-level client coordinates), and a
  // size drag the display follows itself (no window manager to take it).
  HWND pressTop = 0;
  int32_t pressX = 0, pressY = 0;
  HWND sizing = 0;
  int32_t sizingW = 0, sizingH = 0;
  // Input waiting to be routed, one event at a time (see RouteNextInput).
  std::deque<RawInput> input;
  bool inputDue = false;  // a kInputMessage is on its way
};

std::mutex gMu;  // serialises opening and closing
// Read from every thread whose windows change; only the display thread uses it.
std::atomic<State*> gState{nullptr};

State* Mine() {
  State* s = gState.load();
  if (!s || s->thread != GetCurrentThreadId()) return nullptr;
  return s;
}

void SuccessorLater(State* s, HWND gone);
void ActivateSuccessor(State* s, HWND gone, HWND owner);

bool OwnedByDisplay(State* s, HWND hwnd) {
  DWORD pid = 0;
  return s && hwnd != 0 && GetWindowThreadProcessId(hwnd, &pid) == s->thread &&
         pid == static_cast<DWORD>(getpid());
}

HWND TopOf(HWND hwnd) {
  for (int guard = 0; hwnd != 0 && guard < 1000; ++guard) {
    HWND p = GetParent(hwnd);
    if (p == 0) return hwnd;
    hwnd = p;
  }
  return 0;
}

bool HasStyle(HWND hwnd, DWORD bit) {
  return (static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE)) & bit) != 0;
}

bool IsDescendantOrSelf(HWND hwnd, HWND ancestor) {
  for (int guard = 0; hwnd != 0 && guard < 1000; ++guard) {
    if (hwnd == ancestor) return true;
    hwnd = GetParent(hwnd);
  }
  return false;
}

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

TopState ReadTop(HWND top) {
  TopState t;
  t.visible = HasStyle(top, WS_VISIBLE);
  t.iconic = IsIconic(top);
  GetWindowRect(top, &t.rect);
  t.title = GetWindowText(top);
  t.popup = (static_cast<DWORD>(GetWindowLong(top, GWL_EXSTYLE)) & WS_EX_NOACTIVATE) != 0;
  return t;
}

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

// Paints every invalid window (parents first), then presents the changed
// top-level windows.
void RunPresent(State* s) {
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

LRESULT TimerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && static_cast<uintptr_t>(wParam) == kPresentTimer) {
    KillTimer(hwnd, kPresentTimer);
    if (State* s = Mine()) {
      s->scheduled = false;
      RunPresent(s);
    }
    return 0;
  }
  if (msg == kRestoreMessage) {
    BackendIconic(static_cast<HWND>(wParam), false);
    return 0;
  }
  if (msg == kInputMessage) {
    if (State* s = Mine()) RouteNextInput(s);
    return 0;
  }
  if (msg == kSuccessorMessage) {
    if (State* s = Mine()) ActivateSuccessor(s, static_cast<HWND>(wParam), static_cast<HWND>(lParam));
    return 0;
  }
  return DefWindowProc(hwnd, msg, wParam, lParam);
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

void ForgetInputState(State* s, HWND dying) {
  if (s->capture && IsDescendantOrSelf(s->capture, dying)) s->capture = 0;
  if (s->focus && IsDescendantOrSelf(s->focus, dying)) s->focus = 0;
  if (s->active == dying) s->active = 0;
  if (s->lastDownWnd && IsDescendantOrSelf(s->lastDownWnd, dying)) s->lastDownWnd = 0;
  if (s->closeDown == dying) s->closeDown = 0;
  if (s->sizing == dying) s->sizing = 0;
  if (s->pressTop == dying) s->pressTop = 0;
}

void OnWindowChange(HWND hwnd, UINT change) {
  State* s = Mine();
  if (!s || hwnd == s->timerWnd || !OwnedByDisplay(s, hwnd)) return;
  HWND parent = GetParent(hwnd);
  if (parent == 0) {
    switch (change) {
      case WM_DESTROY:
        if (s->active == hwnd) SuccessorLater(s, hwnd);
        ForgetInputState(s, hwnd);
        s->invalid.erase(hwnd);
        s->dirty.erase(hwnd);
        s->shapes.erase(hwnd);
        s->hints.erase(hwnd);
        s->maximized.erase(hwnd);
        s->backend->Destroy(hwnd);
        return;
      case WM_SETTEXT:
        SyncTop(s, hwnd);
        return;
      case WM_CREATE:
      case WM_SHOWWINDOW:
      case WM_NULL:
        if (HasStyle(hwnd, WS_VISIBLE) && !IsIconic(hwnd)) InvalidateTree(hwnd);
        if (change == WM_SHOWWINDOW && s->active == hwnd && !HasStyle(hwnd, WS_VISIBLE)) SuccessorLater(s, hwnd);
        SyncTop(s, hwnd);
        return;
      case WM_SIZE:
        InvalidateTree(hwnd);
        SyncTop(s, hwnd);
        return;
      case WM_MOVE:
        SyncTop(s, hwnd);
        return;
      default: return;
    }
  }
  HWND top = TopOf(hwnd);
  switch (change) {
    case WM_DESTROY:
      ForgetInputState(s, hwnd);
      s->invalid.erase(hwnd);
      break;
    case WM_CREATE:
    case WM_SHOWWINDOW:
    case WM_NULL:
      if (HasStyle(hwnd, WS_VISIBLE)) InvalidateTree(hwnd);
      break;
    case WM_SIZE: InvalidateTree(hwnd); break;
    default: break;
  }
  if (change == WM_SETTEXT) return;
  // What the child covered in its top-level window must be painted again.
  if (parent == top && top != 0 && change != WM_CREATE) InvalidateRect(top, nullptr, true);
  if (top) {
    s->dirty.insert(top);
    Schedule(s);
  }
}

bool OnTranslate(const MSG* msg) {
  // Key messages of the display carry bit 28: their characters are queued already.
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) &&
         (static_cast<uint32_t>(msg->lParam) & (1u << 28)) != 0;
}

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

void Activate(State* s, HWND top) {
  if (s->active == top) return;
  HWND old = s->active;
  s->active = top;
  if (old && IsWindow(old)) SendMessage(old, WM_ACTIVATE, 0, static_cast<LPARAM>(top));
  if (top) {
    SendMessage(top, WM_ACTIVATE, 1, static_cast<LPARAM>(old));
    if (!s->focus || TopOf(s->focus) != top) SetFocus(top);
  }
}

// The window that takes the keyboard for a top-level window disabled by a
// modal one: the active window when it is enabled, else the newest enabled
// visible top-level window of the display.
HWND EnabledTopInstead(State* s, HWND disabled) {
  if (s->active && s->active != disabled && IsWindow(s->active) && IsWindowEnabled(s->active) &&
      HasStyle(s->active, WS_VISIBLE))
    return s->active;
  std::vector<HWND> tops = GetTopLevelWindows();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    if (*it != disabled && *it != s->timerWnd && OwnedByDisplay(s, *it) && HasStyle(*it, WS_VISIBLE) &&
        IsWindowEnabled(*it) && !IsIconic(*it) &&
        !(static_cast<DWORD>(GetWindowLong(*it, GWL_EXSTYLE)) & WS_EX_NOACTIVATE))
      return *it;
  }
  return 0;
}

// The active window leaves the screen: once the messages of its leaving are
// handled (a modal one enables its owner on the way), the keyboard goes to
// its owner, as a person closing a dialog expects, not to the desktop.
void SuccessorLater(State* s, HWND gone) {
  auto h = s->hints.find(gone);
  HWND owner = h != s->hints.end() ? h->second.owner : 0;
  if (s->timerWnd) PostMessage(s->timerWnd, kSuccessorMessage, static_cast<WPARAM>(gone), static_cast<LPARAM>(owner));
}

void ActivateSuccessor(State* s, HWND gone, HWND owner) {
  if (s->active && s->active != gone) return;  // another window has it already
  if (s->backend->ManagerPassesKeyboard()) return;  // its focus events tell us where it went
  if (IsWindow(gone) && HasStyle(gone, WS_VISIBLE)) return;  // shown again
  HWND next = owner && owner != gone && IsWindow(owner) && OwnedByDisplay(s, owner) &&
                      HasStyle(owner, WS_VISIBLE) && IsWindowEnabled(owner) && !IsIconic(owner)
                  ? owner
                  : EnabledTopInstead(s, gone);
  if (!next) return;
  Activate(s, next);
  s->backend->Activate(next);
}

}  // namespace

void BackendConfigured(HWND top, const RECT& rect) {
  State* s = Mine();
  if (!s || !IsWindow(top)) return;
  RECT cur;
  GetWindowRect(top, &cur);
  if (cur.left == rect.left && cur.top == rect.top && cur.right == rect.right &&
      cur.bottom == rect.bottom) {
    return;
  }
  s->configuring.insert(top);
  MoveWindow(top, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, true);
  s->configuring.erase(top);
  s->dirty.insert(top);
  Schedule(s);
}

void BackendIconic(HWND top, bool iconic) {
  State* s = Mine();
  if (!s || !IsWindow(top) || IsIconic(top) == iconic || !HasStyle(top, WS_VISIBLE)) return;
  s->configuring.insert(top);
  ShowWindow(top, iconic ? SW_MINIMIZE : SW_RESTORE);
  s->configuring.erase(top);
  if (!iconic) {
    InvalidateTree(top);
    s->dirty.insert(top);
    Schedule(s);
  }
}

void BackendMaximized(HWND top, bool maximized) {
  State* s = Mine();
  if (!s || !IsWindow(top) || s->maximized.count(top) == static_cast<size_t>(maximized)) return;
  if (maximized)
    s->maximized.insert(top);
  else
    s->maximized.erase(top);
  // What a window draws may depend on it (a status bar's size grip).
  InvalidateTree(top);
}

void BackendRestoreLater(HWND top) {
  State* s = Mine();
  if (s && s->timerWnd) PostMessage(s->timerWnd, kRestoreMessage, static_cast<WPARAM>(top), 0);
}

void BackendActivated(HWND top, bool active) {
  State* s = Mine();
  if (!s) return;
  if (active && !IsWindowEnabled(top)) {
    // A window disabled by a modal one hands the keyboard to an enabled window.
    if (HWND other = EnabledTopInstead(s, top)) s->backend->Activate(other);
    return;
  }
  if (active) {
    Activate(s, top);
  } else if (s->active == top) {
    Activate(s, 0);
  }
}

void BackendExposed(HWND top) {
  State* s = Mine();
  if (!s) return;
  s->dirty.insert(top);
  Schedule(s);
}

}  // namespace display

using namespace display;

bool InitDisplay() {
  std::lock_guard<std::mutex> lock(gMu);
  if (State* cur = gState.load()) return cur->backend->IsX11();
  auto s = std::make_unique<State>();
  s->thread = GetCurrentThreadId();
  const char* headless = std::getenv("VEXA_HEADLESS");
  const char* name = std::getenv("DISPLAY");
  if (name && *name && !(headless && *headless && std::strcmp(headless, "0") != 0)) {
    s->backend = OpenX11Backend();
    // Asked for windows and getting none: say so once, or the program seems
    // to start and then show nothing.
    static bool told = false;
    if (!s->backend && !told) {
      told = true;
      std::fflush(nullptr);
      std::fprintf(stderr, "%s: cannot open display \"%s\"; running without windows\n",
                   program_invocation_short_name, name);
    }
  }
  if (!s->backend) s->backend = std::make_unique<HeadlessBackend>();
  WNDCLASS wc;
  wc.lpszClassName = "VexaDisplayTimer";
  wc.lpfnWndProc = TimerWndProc;
  WNDCLASS existing;
  if (!GetClassInfo(wc.lpszClassName, &existing)) RegisterClass(wc);
  State* st = s.release();
  st->timerWnd = CreateWindowEx(0, "VexaDisplayTimer", "", WS_POPUP, 0, 0, 0, 0, 0, 0);
  gState = st;
  SetPaintRequestHook(OnPaintRequest);
  SetWindowChangeHook(OnWindowChange);
  SetTranslateMessageHook(OnTranslate);
  // Windows made before the display opened are shown now.
  for (HWND top : GetTopLevelWindows()) {
    if (top != st->timerWnd && OwnedByDisplay(st, top) && HasStyle(top, WS_VISIBLE)) {
      InvalidateTree(top);
      SyncTop(st, top);
    }
  }
  return st->backend->IsX11();
}

void ShutdownDisplay() {
  State* s;
  {
    std::lock_guard<std::mutex> lock(gMu);
    s = gState.load();
    if (!s || s->thread != GetCurrentThreadId()) return;
    gState = nullptr;
  }
  SetPaintRequestHook([](HWND hwnd) { PostMessage(hwnd, WM_PAINT, 0, 0); });
  SetWindowChangeHook(nullptr);
  SetTranslateMessageHook(nullptr);
  if (s->timerWnd) DestroyWindow(s->timerWnd);
  s->backend.reset();
  delete s;
}

namespace {
// The display connection and its timer window belong to the desktop session:
// leaving it shuts the display down, and the next session opens its own.
const bool gDisplayEndsWithSession = [] {
  AtSessionEnd([] {
    if (State* s = Mine()) s->backend->NoteServerGone();  // a private server may end first
    ShutdownDisplay();
  });
  return true;
}();
}  // namespace

bool DisplayIsX11() {
  State* s = gState.load();
  return s && s->backend->IsX11();
}

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

unsigned long GetDisplayWindowId(HWND hwnd) {
  State* s = Mine();
  return s ? s->backend->WindowId(hwnd) : 0;
}

void* GetXDisplay() {
  State* s = gState.load();
  return s ? s->backend->Connection() : nullptr;
}

void SetWindowHints(HWND top, const WindowHints& hints) {
  State* s = Mine();
  if (!s || !IsWindow(top)) return;
  auto it = s->hints.find(top);
  if (it != s->hints.end() && it->second == hints) return;
  s->hints[top] = hints;
  if (HasStyle(top, WS_VISIBLE)) SyncTop(s, top);
}

bool DefaultWindowPosition(int32_t width, int32_t height, int32_t* x, int32_t* y) {
  State* s = Mine();
  return s && s->backend->DefaultPosition(width, height, x, y);
}

bool BringWindowToForeground(HWND top) {
  if (!SetForegroundWindow(top)) return false;
  State* s = Mine();
  if (!s || !OwnedByDisplay(s, top) || !HasStyle(top, WS_VISIBLE)) return true;
  if (IsIconic(top)) ShowWindow(top, SW_RESTORE);
  s->backend->BringToFront(top);
  // Without a display server nothing reports the new keyboard owner back.
  if (!s->backend->IsX11()) Activate(s, top);
  return true;
}

void NoteUserActionTime(unsigned long time) {
  if (State* s = Mine()) s->backend->NoteUserTime(time);
}

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

bool IsWindowMaximized(HWND top) {
  State* s = Mine();
  return s && s->maximized.count(top) != 0;
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

HWND SetFocus(HWND hwnd) {
  State* s = Mine();
  if (!s) return 0;
  if (hwnd != 0 && !IsWindow(hwnd)) return 0;
  HWND old = s->focus;
  if (old == hwnd) return old;
  s->focus = hwnd;
  if (old && IsWindow(old)) SendMessage(old, WM_KILLFOCUS, static_cast<WPARAM>(hwnd), 0);
  if (hwnd && s->focus == hwnd) SendMessage(hwnd, WM_SETFOCUS, static_cast<WPARAM>(old), 0);
  return old;
}

HWND GetFocus() {
  State* s = Mine();
  return s ? s->focus : 0;
}

HWND GetActiveWindow() {
  State* s = Mine();
  return s ? s->active : 0;
}

HWND WindowFromPoint(HWND top, int32_t x, int32_t y) {
  RECT r;
  if (!GetWindowRect(top, &r)) return 0;
  if (x < 0 || y < 0 || x >= r.right - r.left || y >= r.bottom - r.top) return 0;
  int32_t cx = 0, cy = 0;
  HWND c = ChildAt(top, x, y, &cx, &cy);
  return c ? c : top;
}

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

void QueueInput(State* s, const RawInput& e) {
  s->input.push_back(e);
  if (!s->inputDue) s->inputDue = s->timerWnd != 0 && PostMessage(s->timerWnd, kInputMessage, 0, 0);
  if (!s->inputDue) RouteNextInput(s);  // no window to take turns through: at once
}

}  // namespace

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
