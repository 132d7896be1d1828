// Windows, window classes, per-thread message queues, timers and registered
// messages of one desktop session, within and across processes.
//
// Every thread that creates a window gets a queue. Its one wait (epoll) serves
// messages sent and posted from this and other processes, timers and watched
// descriptors (sockets). Retrieval order in GetMessage/PeekMessage:
//   1. messages sent to the thread's windows (handled inside the call, never returned),
//   2. posted messages, first in first out,
//   3. WM_QUIT once PostQuitMessage was called and no posted message waits,
//   4. WM_TIMER of an elapsed timer (at most one pending per timer: intervals
//      that pass while the queue is busy coalesce into one message).
// Watched descriptors are polled whenever the queue looks for work; their
// callbacks run on the owning thread and usually post messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/kernel/Kernel.h"

namespace plat {

using HWND = uint32_t;  // 0 = none; unique within the session
using UINT = uint32_t;
using WPARAM = int32_t;
using LPARAM = int32_t;
using LRESULT = int32_t;
using LONG = int32_t;

constexpr HWND HWND_BROADCAST = 0xFFFF;

struct POINT { int32_t x = 0; int32_t y = 0; };
struct RECT { int32_t left = 0; int32_t top = 0; int32_t right = 0; int32_t bottom = 0; };

struct MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;
  POINT pt;
  // The process that posted it, as GetSendingProcess names it (0: this one);
  // DispatchMessage hands it on to the window procedure.
  uint32_t sender = 0;
};

// Window procedures are callables so that objects can own them. A procedure
// replaced with SetWindowProc is chained by calling the one it returned.
using WNDPROC = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
using TIMERPROC = std::function<void(HWND, UINT, uintptr_t, DWORD)>;

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SYSCOLORCHANGE = 0x0015;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_ENDSESSION = 0x0016;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_NCHITTEST = 0x0084;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCHAR = 0x0106;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr UINT SC_MINIMIZE = 0xF020;
constexpr UINT SC_MAXIMIZE = 0xF030;
constexpr UINT SC_CLOSE = 0xF060;
constexpr UINT SC_RESTORE = 0xF120;

// Window styles (only what the layers above consult).
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                                      WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020;

// Window long indexes. The window procedure is not a long: see SetWindowProc.
constexpr int GWL_EXSTYLE = -20;
constexpr int GWL_STYLE = -16;
constexpr int GWL_ID = -12;
constexpr int GWL_USERDATA = -21;
// Indexes 0, 4, 8, ... address the class's extra window bytes (cbWndExtra).

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;

// PeekMessage flags.
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

struct WNDCLASS {
  UINT style = 0;
  WNDPROC lpfnWndProc;
  int cbWndExtra = 0;
  std::string lpszClassName;
};

// Window classes are per process. RegisterClass fails (returns false, last
// error ERROR_ALREADY_EXISTS) for a name already registered; names compare
// without regard to case.
bool RegisterClass(const WNDCLASS& wc);
bool UnregisterClass(const std::string& className);
bool GetClassInfo(const std::string& className, WNDCLASS* wc);

// Creates a window owned by the calling thread. WM_NCCREATE, then WM_CREATE are
// sent to the class procedure (a result of -1 from WM_CREATE, or 0 from
// WM_NCCREATE, destroys it again and returns 0). Parent 0 makes a top-level window.
HWND CreateWindowEx(DWORD exStyle, const std::string& className, const std::string& windowName,
                    DWORD style, int32_t x, int32_t y, int32_t width, int32_t height, HWND parent,
                    int32_t id);
// Sends WM_DESTROY and WM_NCDESTROY (children first destroyed), kills its timers,
// drops its queued messages and frees the handle. Only the owning thread may.
bool DestroyWindow(HWND hwnd);
// True for a live window of this session, in this or another process.
bool IsWindow(HWND hwnd);
// Owning thread id (of its process) and process id; 0 when not a window.
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);
HWND GetParent(HWND hwnd);
HWND SetParent(HWND hwnd, HWND newParent);
// Child windows of a window of this process, in z-order (top first).
std::vector<HWND> GetChildWindows(HWND hwnd);
// Top-level windows of this process.
std::vector<HWND> GetTopLevelWindows();

LONG GetWindowLong(HWND hwnd, int index);
LONG SetWindowLong(HWND hwnd, int index, LONG value);  // returns the previous value
// Subclassing: installs a new procedure and returns the one it replaces.
WNDPROC SetWindowProc(HWND hwnd, WNDPROC proc);
WNDPROC GetWindowProc(HWND hwnd);
LRESULT CallWindowProc(const WNDPROC& proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Geometry, text and visibility are kept for every window; the display layer
// presents visible top-level windows.
bool SetWindowText(HWND hwnd, const std::string& text);
std::string GetWindowText(HWND hwnd);
bool GetWindowRect(HWND hwnd, RECT* rect);    // in parent coordinates
bool GetClientRect(HWND hwnd, RECT* rect);
bool MoveWindow(HWND hwnd, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint);
bool ShowWindow(HWND hwnd, int cmd);          // returns whether it was visible before
bool IsWindowVisible(HWND hwnd);
bool IsIconic(HWND hwnd);
bool EnableWindow(HWND hwnd, bool enable);    // returns whether it was disabled before
bool IsWindowEnabled(HWND hwnd);
bool SetForegroundWindow(HWND hwnd);

// Messages. PostMessage may be called from any thread and reaches windows of
// other processes of the session; it fails (false, ERROR_INVALID_WINDOW_HANDLE)
// for a window that does not exist or whose process has died. It never waits:
// a queue of another process holds up to 10,000 posts of this process (all its
// threads together) that it has not read yet, and the next one fails at once
// (ERROR_NOT_ENOUGH_QUOTA), as does a post to a queue too busy to take a new
// connection. A post that was taken is never lost while both ends live.
// HWND_BROADCAST posts to every top-level window of the session, as
// PostBroadcast, and answers true (false only for an id a broadcast does not
// carry); hwnd 0 posts to the calling thread's own queue (as PostThreadMessage).
bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// A broadcast carries registered messages only (0xC000-0xFFFF): lower ids
// belong to the system or to a window class and mean something only to the
// window they were made for, so a broadcast of one reaches nobody and fails
// (-1 here, false from PostMessage and SendMessageTimeout; last error
// ERROR_INVALID_PARAMETER).
// Otherwise every top-level window of the session whose queue can take the
// post gets it once; the answer is how many windows took it, and *missed
// (when given) how many live ones did not because they hold all they may.
// A queue that reads nothing (a stopped or hung program) holds at most 64
// broadcasts from processes that have no connection to it, a few KB of kernel
// memory each and no shared memory; a broadcast from a process connected to
// it anyway counts against that process's 10,000 posts. A broadcast leaves no
// connection open and never waits.
int PostBroadcast(UINT msg, WPARAM wParam, LPARAM lParam, int* missed = nullptr);
bool PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// SendMessage calls the window procedure directly on the owning thread; from
// another thread or process it waits for the result, handling messages sent to
// its own thread meanwhile. Returns 0 (last error set) when the window does not
// exist or its owner dies before answering. HWND_BROADCAST sends a registered
// message (see PostBroadcast) to every top-level window of the session in
// turn and returns 0.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// As SendMessage, with a success flag (false: no such window, owner died, or time-out).
// A send to another process that timed out before the receiver took it up is
// never handled; one the receiver is handling already is waited for one more
// time-out (its result then counts), after which it fails with ERROR_TIMEOUT
// and the receiver learns that its answer reached nobody (ReplyMessage).
bool SendMessageTimeout(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
                        LRESULT* result);

// About the message the calling thread's window procedure is handling now.
// GetSendingProcess: the process that posted or sent it, when it came from
// another process of the session; 0 when it came from this process (any of
// its threads) or no message is being handled. The number names that
// process for as long as the session lasts (an operating-system pid may be
// reused; this is not) and is what IsSessionProcessAlive takes, which answers
// whether that process still runs (a look at its liveness lock: cheap, but a
// system call or two). A sender that could not name itself gets a number no
// process has.
uint32_t GetSendingProcess();
bool IsSessionProcessAlive(uint32_t process);
// Whether the message being handled was sent (not posted) from another
// thread or process, whose sender waits for its answer.
bool InSendMessage();
// The process that owns a window, numbered as GetSendingProcess numbers the
// processes of the session (this process has its number too); 0 when hwnd is
// no window. Comparing the two tells whether a message that names a window
// came from the program the window belongs to.
uint32_t GetWindowProcess(HWND hwnd);
// Answers the sent message being handled before its procedure returns; the
// procedure's own result is then not used. True when the answer reached a
// sender that still waited for it (it reads it unless it dies first); false
// when that sender had given up already (its time-out passed, or it was seen
// to die), when the message was answered already, or when no message sent
// from another thread or process is being handled.
bool ReplyMessage(LRESULT result);

// Blocks until a message is retrieved; false on WM_QUIT, and (hwnd 0, last
// error set) when the thread's queue cannot wait.
bool GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
bool PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
bool TranslateMessage(const MSG* msg);
LRESULT DispatchMessage(const MSG* msg);
// Blocks until the queue has something to retrieve; false (last error set)
// when the thread's queue cannot wait.
bool WaitMessage();
// As WaitMessage with a time-out; returns false when it ran out.
bool WaitMessageTimeout(DWORD timeoutMs);
// True when the calling thread's queue has a posted, sent, quit or timer message ready.
bool HasPendingMessages();

// Timers: an id per window; setting an existing id restarts it. WM_TIMER carries
// the id as wParam (and the TIMERPROC, when given, is called instead of the
// window procedure on dispatch). The interval is at least 1 ms.
uintptr_t SetTimer(HWND hwnd, uintptr_t id, UINT elapseMs, TIMERPROC proc = nullptr);
bool KillTimer(HWND hwnd, uintptr_t id);

// Registered messages: one table for the session; names compare without regard
// to case; ids 0xC000-0xFFFF; 0 on failure (empty name, table full).
UINT RegisterWindowMessage(const std::string& name);

// Descriptors watched by the calling thread's queue. events are EPOLL* bits;
// the callback gets the ready bits. ModifyFd changes the bits; UnwatchFd stops.
using FdCallback = std::function<void(uint32_t readyEvents)>;
bool WatchFd(int fd, uint32_t events, FdCallback callback);
bool ModifyFd(int fd, uint32_t events);
bool UnwatchFd(int fd);

// For the display layer: called on the calling thread after a window was
// created (WM_CREATE), shown, hidden, minimised or restored (WM_SHOWWINDOW),
// moved (WM_MOVE), sized (WM_SIZE), retitled (WM_SETTEXT) or given another
// parent (WM_NULL), and before it is destroyed (WM_DESTROY).
void SetWindowChangeHook(std::function<void(HWND hwnd, UINT change)> hook);
// For the display layer, which makes characters from its own key events:
// TranslateMessage asks the hook first; when it returns true the message needs
// no translation and TranslateMessage returns false (nullptr removes it).
void SetTranslateMessageHook(std::function<bool(const MSG* msg)> hook);

// SIGTERM and SIGINT become a close request delivered on the thread that calls
// this, from inside its message retrieval. Passing nullptr restores the
// default signal handling.
void SetCloseRequestHandler(std::function<void(int signal)> handler);

}  // namespace plat
