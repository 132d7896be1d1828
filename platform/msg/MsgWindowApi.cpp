// Owns nothing of its own: the public window calls of Msg.h (making, destroying,
// placing, showing windows and their data) over the window table.
#include <algorithm>
#include <cstring>

#include "platform/msg/MsgProcess.h"
#include "platform/msg/MsgWindows.h"

namespace plat {

using namespace msgimpl;

namespace {

uint32_t MakeLParam(int32_t lo, int32_t hi) {
  return (static_cast<uint32_t>(hi & 0xFFFF) << 16) | static_cast<uint32_t>(lo & 0xFFFF);
}

// Moves a window under another parent (0: top level); the table's lock is held.
void Relink(Globals& g, Window& w, HWND to) {
  if (w.parent != 0) {
    auto p = g.windows.find(w.parent);
    if (p != g.windows.end()) std::erase(p->second->children, w.hwnd);
  }
  if (to != 0) g.windows[to]->children.push_back(w.hwnd);
  w.parent = to;
}

}  // namespace


HWND CreateWindowEx(DWORD exStyle, const std::string& className, const std::string& windowName,
                    DWORD style, int32_t x, int32_t y, int32_t width, int32_t height, HWND parent,
                    int32_t id) {
  std::shared_ptr<Queue> me = MyQueueShared();
  if (!me) return 0;
  Queue& q = *me;
  std::shared_ptr<WindowClass> cls;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    cls = FindClassOrFail(g, className);
    if (!cls) return 0;
    if (parent != 0 && !g.windows.count(parent)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  }
  if (!q.links.EnsureListening()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  Session& s = *q.links.session();
  HWND hwnd = AllocId(s);
  if (hwnd == 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  auto w = std::make_shared<Window>();
  w->hwnd = hwnd;
  w->cls = cls;
  if (cls->wc.lpfnWndProc) w->proc = std::make_shared<WNDPROC>(cls->wc.lpfnWndProc);
  w->queue = me;
  w->style = style;
  w->exStyle = exStyle;
  w->id = id;
  w->extra.assign(static_cast<size_t>(cls->wc.cbWndExtra), 0);
  w->parent = parent;
  w->text = windowName;
  w->rect = RECT{x, y, x + width, y + height};
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto p = g.windows.find(parent);
    if (parent != 0 && p == g.windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (parent != 0) p->second->children.push_back(hwnd);
    g.windows[hwnd] = w;
  }
  q.AddWindow(hwnd);
  if (int err = UpdateEntry(w)) {
    // Without its entry no other process could reach the window.
    ForgetWindow(hwnd);
    SetLastError(ErrorFromErrno(err));
    return 0;
  }
  if (CallProc(hwnd, WM_NCCREATE, 0, 0) == 0 || CallProc(hwnd, WM_CREATE, 0, 0) == -1) {
    DestroyWindowImpl(hwnd);
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  NotifyChange(hwnd, WM_CREATE);
  return hwnd;
}

bool DestroyWindow(HWND hwnd) { return DestroyWindowImpl(hwnd); }

bool IsWindow(HWND hwnd) {
  if (hwnd == 0 || hwnd == HWND_BROADCAST) return false;
  if (FindWindow(hwnd)) return true;
  Session& s = CurrentSession();
  Entry e;
  if (!ReadEntry(s, hwnd, &e)) return false;
  if (e.procId == s.procId) return false;  // one of ours that is gone
  if (!ProcessAlive(s, e.procId)) {
    ForgetDeadEntry(s, hwnd, e);
    return false;
  }
  return true;
}

uint32_t GetWindowProcess(HWND hwnd) {
  Session& s = CurrentSession();
  if (FindWindow(hwnd)) return ProcessId(s);
  Entry e;
  return IsWindow(hwnd) && ReadEntry(s, hwnd, &e) ? e.procId : 0;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  if (auto w = FindWindow(hwnd)) {
    if (processId) *processId = GetCurrentProcessId();
    return w->queue ? w->queue->tid : 0;
  }
  if (processId) *processId = 0;
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  Entry e;
  if (!ReadEntry(CurrentSession(), hwnd, &e)) return 0;
  if (processId) *processId = e.pid;
  return e.tid;
}

HWND GetParent(HWND hwnd) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(G().mu);
  return w->parent;
}

HWND SetParent(HWND hwnd, HWND newParent) {
  std::shared_ptr<Window> w;
  HWND old = 0;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> lock(g.mu);
    auto it = g.windows.find(hwnd);
    if (it == g.windows.end() || (newParent != 0 && !g.windows.count(newParent))) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    // A window cannot become a child of itself or of one of its descendants.
    for (HWND a = newParent; a != 0;) {
      if (a == hwnd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      auto ai = g.windows.find(a);
      a = ai == g.windows.end() ? 0 : ai->second->parent;
    }
    w = it->second;
    old = w->parent;
    Relink(g, *w, newParent);
  }
  if ((old == 0) != (newParent == 0)) {
    if (int err = UpdateEntry(w)) {
      // The entry still says what the window was: so does the table again.
      Globals& g = G();
      std::lock_guard<std::mutex> lock(g.mu);
      if (w->parent == newParent && g.windows.count(hwnd)) {
        Relink(g, *w, old != 0 && g.windows.count(old) ? old : 0);
      }
      SetLastError(ErrorFromErrno(err));
      return 0;
    }
  }
  NotifyChange(hwnd, WM_NULL);
  SetLastError(ERROR_SUCCESS);
  return old;
}

std::vector<HWND> GetChildWindows(HWND hwnd) {
  auto w = FindWindow(hwnd);
  if (!w) return {};
  std::lock_guard<std::mutex> lock(G().mu);
  return w->children;
}

std::vector<HWND> GetTopLevelWindows() {
  Globals& g = G();
  std::vector<HWND> out;
  {
    std::lock_guard<std::mutex> lock(g.mu);
    for (auto& [h, w] : g.windows) {
      if (w->parent == 0) out.push_back(h);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

LONG GetWindowLong(HWND hwnd, int index) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(G().mu);
  switch (index) {
    case GWL_STYLE: return static_cast<LONG>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG>(w->exStyle);
    case GWL_ID: return w->id;
    case GWL_USERDATA: return w->userData;
    default: break;
  }
  if (index < 0 || static_cast<size_t>(index) + 4 > w->extra.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  LONG v;
  memcpy(&v, w->extra.data() + index, 4);
  return v;
}

LONG SetWindowLong(HWND hwnd, int index, LONG value) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return 0;
  std::lock_guard<std::mutex> lock(G().mu);
  LONG old;
  switch (index) {
    case GWL_STYLE:
      old = static_cast<LONG>(w->style);
      w->style = static_cast<DWORD>(value);
      return old;
    case GWL_EXSTYLE:
      old = static_cast<LONG>(w->exStyle);
      w->exStyle = static_cast<DWORD>(value);
      return old;
    case GWL_ID:
      old = w->id;
      w->id = value;
      return old;
    case GWL_USERDATA:
      old = w->userData;
      w->userData = value;
      return old;
    default: break;
  }
  if (index < 0 || static_cast<size_t>(index) + 4 > w->extra.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  memcpy(&old, w->extra.data() + index, 4);
  memcpy(w->extra.data() + index, &value, 4);
  return old;
}

WNDPROC SetWindowProc(HWND hwnd, WNDPROC proc) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return nullptr;
  std::lock_guard<std::mutex> lock(G().mu);
  WNDPROC old = w->proc ? *w->proc : WNDPROC();
  w->proc = std::make_shared<WNDPROC>(std::move(proc));
  return old;
}

WNDPROC GetWindowProc(HWND hwnd) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return nullptr;
  std::lock_guard<std::mutex> lock(G().mu);
  return w->proc ? *w->proc : WNDPROC();
}

LRESULT CallWindowProc(const WNDPROC& proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!proc) return DefWindowProc(hwnd, msg, wParam, lParam);
  return proc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_NCCREATE: return 1;
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_QUERYENDSESSION: return 1;
    case WM_SYSCOMMAND:
      switch (static_cast<UINT>(wParam) & 0xFFF0) {
        case SC_CLOSE: SendMessage(hwnd, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(hwnd, SW_MINIMIZE); break;
        case SC_MAXIMIZE: ShowWindow(hwnd, SW_SHOWMAXIMIZED); break;
        case SC_RESTORE: ShowWindow(hwnd, SW_RESTORE); break;
        default: break;
      }
      return 0;
    default: return 0;
  }
}

bool SetWindowText(HWND hwnd, const std::string& text) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return false;
  {
    std::lock_guard<std::mutex> lock(G().mu);
    w->text = text;
  }
  NotifyChange(hwnd, WM_SETTEXT);
  return true;
}

std::string GetWindowText(HWND hwnd) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return {};
  std::lock_guard<std::mutex> lock(G().mu);
  return w->text;
}

bool GetWindowRect(HWND hwnd, RECT* rect) {
  auto w = FindWindow(hwnd);
  if (!w || !rect) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  std::lock_guard<std::mutex> lock(G().mu);
  *rect = w->rect;
  return true;
}

bool GetClientRect(HWND hwnd, RECT* rect) {
  // The client area is the whole window, placed at the origin.
  if (!GetWindowRect(hwnd, rect)) return false;
  *rect = RECT{0, 0, rect->right - rect->left, rect->bottom - rect->top};
  return true;
}

bool MoveWindow(HWND hwnd, int32_t x, int32_t y, int32_t width, int32_t height, bool) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return false;
  bool moved, sized;
  {
    std::lock_guard<std::mutex> lock(G().mu);
    RECT old = w->rect;
    w->rect = RECT{x, y, x + width, y + height};
    moved = old.left != x || old.top != y;
    sized = old.right - old.left != width || old.bottom - old.top != height;
  }
  if (moved) NotifyChange(hwnd, WM_MOVE);
  if (sized) NotifyChange(hwnd, WM_SIZE);
  if (moved) SendMessage(hwnd, WM_MOVE, 0, static_cast<LPARAM>(MakeLParam(x, y)));
  if (sized) SendMessage(hwnd, WM_SIZE, 0, static_cast<LPARAM>(MakeLParam(width, height)));
  return true;
}

bool ShowWindow(HWND hwnd, int cmd) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return false;
  bool was, now, wasIconic, nowIconic;
  {
    std::lock_guard<std::mutex> lock(G().mu);
    was = (w->style & WS_VISIBLE) != 0;
    wasIconic = w->iconic;
    switch (cmd) {
      case SW_HIDE: w->style &= ~WS_VISIBLE; break;
      case SW_SHOWMINIMIZED:
      case SW_MINIMIZE:
        w->style |= WS_VISIBLE;
        w->iconic = true;
        break;
      case SW_SHOWNORMAL:
      case SW_RESTORE:
      case SW_SHOWMAXIMIZED:
        w->style |= WS_VISIBLE;
        w->iconic = false;
        break;
      default: w->style |= WS_VISIBLE; break;
    }
    now = (w->style & WS_VISIBLE) != 0;
    nowIconic = w->iconic;
  }
  if (was != now || wasIconic != nowIconic) NotifyChange(hwnd, WM_SHOWWINDOW);
  if (was != now) SendMessage(hwnd, WM_SHOWWINDOW, now ? 1 : 0, 0);
  return was;
}

bool IsWindowVisible(HWND hwnd) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  for (HWND h = hwnd; h != 0;) {
    auto it = g.windows.find(h);
    if (it == g.windows.end() || !(it->second->style & WS_VISIBLE)) return false;
    h = it->second->parent;
  }
  return hwnd != 0;
}

bool IsIconic(HWND hwnd) {
  auto w = FindWindow(hwnd);
  if (!w) return false;
  std::lock_guard<std::mutex> lock(G().mu);
  return w->iconic;
}

bool EnableWindow(HWND hwnd, bool enable) {
  auto w = FindWindowOrFail(hwnd);
  if (!w) return false;
  bool wasDisabled;
  {
    std::lock_guard<std::mutex> lock(G().mu);
    wasDisabled = (w->style & WS_DISABLED) != 0;
    if (enable) {
      w->style &= ~WS_DISABLED;
    } else {
      w->style |= WS_DISABLED;
    }
  }
  if (wasDisabled == enable) SendMessage(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
  return wasDisabled;
}

bool IsWindowEnabled(HWND hwnd) {
  auto w = FindWindow(hwnd);
  if (!w) return false;
  std::lock_guard<std::mutex> lock(G().mu);
  return (w->style & WS_DISABLED) == 0;
}

bool SetForegroundWindow(HWND hwnd) {
  if (!FindWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  std::lock_guard<std::mutex> lock(G().mu);
  G().foreground = hwnd;
  return true;
}

}  // namespace plat
