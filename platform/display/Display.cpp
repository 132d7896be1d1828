// The display core: opening and closing the display, its own window, and
// what the other parts share (Display*.cpp beside DisplayInternal.h). The
// backend (X11 or headless) only shows what the core hands it.
#include "platform/display/Display.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <unistd.h>

#include "platform/display/DisplayInternal.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/Lifecycle.h"

namespace plat {

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

StateOwner<ProcessState> gState{Layer::Display};

}  // namespace

ProcessState& Proc() { return gState.Get(); }

ProcessState* ProcessState::ForChild() {
  if (State* s = open.load()) s->backend->LeaveToParent();
  auto* mine = new ProcessState;
  mine->toldNoDisplay = toldNoDisplay;
  return mine;
}

void ProcessState::EndSession() {
  if (State* s = Mine()) s->backend->NoteServerGone();  // a private server may end first
  ShutdownDisplay();
}

State* Mine() {
  State* s = Proc().open.load();
  if (!s || s->thread != GetCurrentThreadId()) return nullptr;
  return s;
}

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

namespace {

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

}  // namespace

}  // namespace display

using namespace display;

bool InitDisplay() {
  ProcessState& p = Proc();
  std::lock_guard<std::mutex> lock(p.mu);
  if (State* cur = p.open.load()) return cur->backend->IsX11();
  auto s = std::make_unique<State>();
  s->thread = GetCurrentThreadId();
  const char* headless = std::getenv("VEXA_HEADLESS");
  const char* name = std::getenv("DISPLAY");
  if (name && *name && !(headless && *headless && std::strcmp(headless, "0") != 0)) {
    s->backend = OpenX11Backend();
    // Asked for windows and getting none: say so once, or the program seems
    // to start and then show nothing.
    if (!s->backend && !p.toldNoDisplay) {
      p.toldNoDisplay = true;
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
  p.open = st;
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
    ProcessState& p = Proc();
    std::lock_guard<std::mutex> lock(p.mu);
    s = p.open.load();
    if (!s || s->thread != GetCurrentThreadId()) return;
    p.open = nullptr;
  }
  SetPaintRequestHook([](HWND hwnd) { PostMessage(hwnd, WM_PAINT, 0, 0); });
  SetWindowChangeHook(nullptr);
  SetTranslateMessageHook(nullptr);
  if (s->timerWnd) DestroyWindow(s->timerWnd);
  s->backend.reset();
  delete s;
}

bool DisplayIsX11() {
  State* s = Proc().open.load();
  return s && s->backend->IsX11();
}

unsigned long GetDisplayWindowId(HWND hwnd) {
  State* s = Mine();
  return s ? s->backend->WindowId(hwnd) : 0;
}

void* GetXDisplay() {
  State* s = Proc().open.load();
  return s ? s->backend->Connection() : nullptr;
}

bool DefaultWindowPosition(int32_t width, int32_t height, int32_t* x, int32_t* y) {
  State* s = Mine();
  return s && s->backend->DefaultPosition(width, height, x, y);
}

void NoteUserActionTime(unsigned long time) {
  if (State* s = Mine()) s->backend->NoteUserTime(time);
}

}  // namespace plat
