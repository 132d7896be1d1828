// The framework's process-wide state, in one owner (St()); internal to this
// folder. The design's own globals (Application, Screen, the format settings)
// keep their names and places.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Dialogs.h"

namespace fw {

class TControl;
class TMenuItem;
class TWinControl;
namespace paint {
class TMenuBar;
}  // namespace paint

// A method a thread asked the main thread to run (TThread::Synchronize).
struct SyncCall {
  const std::function<void()>* Method = nullptr;
  bool Done = false;
  std::exception_ptr Error;
};

// The open drop-down menu: one at a time, a borderless top-level window.
struct DropDown {
  HWND hwnd = 0;
  TMenuItem* root = nullptr;
  TControl* owner = nullptr;  // the control whose menu it is
  int hot = -1;
};

// Lock order: syncMu, controlsMu, responderMu, toldMu and classMu are each
// taken alone, never two together (but before fork, which takes them all in
// this order); classMu is held over calls into the message layer, the others
// over nothing else. The fields after them belong to the main thread, which
// uses them without a lock.
// A forked child's only thread is its main thread. It starts without queued
// calls (the parent's threads wait for the parent), controls, focus, keys
// held, drop-down or menu bars (their windows are the parent's), and without
// a display until it opens its own; it keeps the dialog responder.
// Leaving a session forgets the controls' windows (their numbers name other
// windows in the next session), the focus, the keys held and the drop-down,
// and turns painting through the display off until the next session opens
// its own. Queued calls, the responder and the menu bars go on.
struct FrameworkState {
  FrameworkState();

  plat::DWORD mainThread;  // set when made, read by every thread

  std::mutex syncMu;
  std::condition_variable syncCv;
  std::deque<SyncCall*> syncQueue;

  std::mutex controlsMu;
  std::map<HWND, TWinControl*> controls;  // windows of controls, for FindControl

  std::mutex responderMu;
  TDialogResponder responder;

  std::mutex toldMu;
  std::set<std::string> told;  // what TellIgnoredOnce told

  std::mutex classMu;  // registering the framework's window classes

  TWinControl* focused = nullptr;
  bool display = false;  // DisplayAvailable
  int32_t screenWidth = 1024, screenHeight = 768;
  bool painting = false;  // controls are drawn through the display (ControlPaintActive)
  bool shift = false;     // Shift is held
  int chosenByKey = 0;    // a key that chose a menu item or a button: its character is not typed
  DropDown drop;
  std::vector<paint::TMenuBar*> menuBars;

  void PrepareFork();
  void ParentAfterFork();
  FrameworkState* ForChild();
  void EndSession();
};

FrameworkState& St();

// Registers a window class of the framework unless the process has it:
// classes go with the process's window table, which a forked child starts
// without.
void EnsureWindowClass(const std::string& Name, plat::WNDPROC Proc);

}  // namespace fw
