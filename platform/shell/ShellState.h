// The shell library's process-wide state, in one owner (St()); internal to
// this folder.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/shell/TrayIcon.h"

namespace plat::shellimpl {

constexpr int kDefaultSize = 24;

struct Icon {
  NOTIFYICONDATA data;  // the last record given
  UINT callback = 0;    // merged state
  HICON icon = 0;       // our own copy, for painting
  Window xwin = 0;      // docked window (0 when not docked)
  bool docked = false;  // asked a host to take it
  int width = kDefaultSize, height = kDefaultSize;
  int lastButton = -1;  // for double-clicks
  Time lastPress = 0;
};

// The tip: one at a time, for the icon the pointer rests on.
struct Tip {
  HWND hwnd = 0;  // the icon it belongs to (hwnd, id); 0 when none
  uint32_t id = 0;
  bool armed = false;  // waiting for the pointer to rest
  int x = 0, y = 0;    // pointer on the screen
  Window win = 0;      // shown window
  Pixmap picture = 0;
  std::string text;  // what it shows
  int timer = -1;    // timerfd
};

// The X side: a connection of our own, watched by the queue of the thread
// that added the first icon.
struct XTray {
  Display* dpy = nullptr;
  int screen = 0;
  Atom selection = None, opcode = None, manager = None, xembedInfo = None;
  Window host = None;  // the tray host our icons were docked with
  XErrorHandler previousHandler = nullptr;
  bool watched = false;
  bool tried = false;
  bool dead = false;  // the connection to the server was lost
};

// Lock order: trayMu, then the drawing library and the message layer (an
// icon's picture, the watch on the connection); callbacks are posted, so no
// window procedure runs under it.
// A forked child starts without icons, tip or connection, and closes its
// copies of the parent's connection and tip timer: the server would keep the
// parent's icons while a copy lives. It keeps the headless pointer where it
// was (the same desktop). Leaving a session removes the icons, closes the
// connection (the next session opens its own) and puts the headless pointer
// back at the origin.
struct State {
  std::atomic<uint64_t> headlessCursor{0};  // x in the high half, y in the low one

  std::mutex trayMu;
  std::vector<Icon> icons;
  uint32_t calls = 0;
  XTray x;
  Tip tip;
  std::vector<Display*> dead;  // connections whose server went: Xlib cannot free them

  void PrepareFork() { trayMu.lock(); }
  void ParentAfterFork() { trayMu.unlock(); }
  State* ForChild();
  void EndSession();
};

State& St();

}  // namespace plat::shellimpl
