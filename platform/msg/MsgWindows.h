// Owns the window table of this process (windows, classes, queues by thread,
// the foreground window) and each thread's queue: making, ending, calling procedures.
//
// Handles are only unique within a session, so the windows of an ended
// session leave the table before any lookup in the new one (G() sees to it).
// Lock order: the table's mutex is never held while a queue's mutex is taken,
// nor while a window procedure or hook runs.
// Internal to the message layer.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/msg/Msg.h"
#include "platform/msg/MsgQueue.h"

namespace plat::msgimpl {

struct WindowClass {
  WNDCLASS wc;
};

struct Window {
  HWND hwnd = 0;
  std::shared_ptr<WindowClass> cls;
  std::shared_ptr<WNDPROC> proc;
  std::shared_ptr<Queue> queue;
  DWORD style = 0;
  DWORD exStyle = 0;
  LONG id = 0;
  LONG userData = 0;
  std::vector<uint8_t> extra;
  HWND parent = 0;
  std::vector<HWND> children;
  std::string text;
  RECT rect;
  bool iconic = false;
  bool destroying = false;
};

struct Globals {
  std::mutex mu;  // windows, classes, queues by thread, foreground, and Window fields
  std::unordered_map<HWND, std::shared_ptr<Window>> windows;
  std::unordered_map<std::string, std::shared_ptr<WindowClass>> classes;
  std::unordered_map<DWORD, std::weak_ptr<Queue>> queues;
  HWND foreground = 0;
  std::atomic<uint32_t> generation{0};  // the session the windows above belong to
};

// The table; lives until the process ends, past thread exits.
Globals& G();

// The calling thread's queue, made on first use; null (last error set) when it
// cannot be made.
Queue* MyQueue();
std::shared_ptr<Queue> MyQueueShared();
// The calling thread's queue if it has one.
Queue* MyQueueIfAny();

std::shared_ptr<Window> FindWindow(HWND hwnd);
// FindWindow for the calls that report an unknown window through the last error.
std::shared_ptr<Window> FindWindowOrFail(HWND hwnd);
// The class registered under that name (case aside), else null with
// ERROR_FILE_NOT_FOUND as the last error. The caller holds g.mu.
std::shared_ptr<WindowClass> FindClassOrFail(Globals& g, const std::string& className);

// Calls a window's procedure (DefWindowProc when it has none); 0 when the window is gone.
LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void NotifyChange(HWND hwnd, UINT change);
// Writes the window's session entry: 0, or the errno of the failed write.
int UpdateEntry(const std::shared_ptr<Window>& w);
// Removes a window from every table without sending it anything; with an
// owner given, only while the table's window of that handle is the owner's
// (a handle of an ended session may name a window of the new one).
void ForgetWindow(HWND hwnd, const Queue* owner = nullptr);
bool DestroyWindowImpl(HWND hwnd);

}  // namespace plat::msgimpl
