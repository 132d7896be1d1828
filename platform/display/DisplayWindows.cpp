// Window changes and activation: following top-level windows onto the
// display, focus and the active window, and what the backend reports back.
#include "platform/display/Display.h"
#include "platform/display/DisplayInternal.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/Invariant.h"

namespace plat {

namespace display {
namespace {

void ForgetInputState(State* s, HWND dying) {
  if (s->capture && IsDescendantOrSelf(s->capture, dying)) s->capture = 0;
  if (s->focus && IsDescendantOrSelf(s->focus, dying)) s->focus = 0;
  if (s->active == dying) s->active = 0;
  if (s->lastDownWnd && IsDescendantOrSelf(s->lastDownWnd, dying)) s->lastDownWnd = 0;
  if (s->closeDown == dying) s->closeDown = 0;
  if (s->sizing == dying) s->sizing = 0;
  if (s->pressTop == dying) s->pressTop = 0;
}

}  // namespace

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

void BackendConfigured(HWND top, const RECT& rect) {
  State* s = Mine();
  if (!s || !IsWindow(top)) return;
  RECT cur;
  GetWindowRect(top, &cur);
  if (cur.left == rect.left && cur.top == rect.top && cur.right == rect.right &&
      cur.bottom == rect.bottom) {
    return;
  }
  VEXA_INVARIANT(!s->configuring.count(top),
                 "the server's changes to a window apply one at a time");
  s->configuring.insert(top);
  MoveWindow(top, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, true);
  s->configuring.erase(top);
  s->dirty.insert(top);
  Schedule(s);
}

void BackendIconic(HWND top, bool iconic) {
  State* s = Mine();
  if (!s || !IsWindow(top) || IsIconic(top) == iconic || !HasStyle(top, WS_VISIBLE)) return;
  VEXA_INVARIANT(!s->configuring.count(top),
                 "the server's changes to a window apply one at a time");
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

void SetWindowHints(HWND top, const WindowHints& hints) {
  State* s = Mine();
  if (!s || !IsWindow(top)) return;
  auto it = s->hints.find(top);
  if (it != s->hints.end() && it->second == hints) return;
  s->hints[top] = hints;
  if (HasStyle(top, WS_VISIBLE)) SyncTop(s, top);
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

bool IsWindowMaximized(HWND top) {
  State* s = Mine();
  return s && s->maximized.count(top) != 0;
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

}  // namespace plat
