// A desktop with a window manager, for the screen tests of how windows behave
// among other windows: a private Xvfb with openbox managing it. Ready() once
// the manager has taken the screen (its check window named on the root), or
// false when it did not within the deadline (20 s). Screen (ProgramScreen.h) finds
// windows inside the manager's frames; StackIndex and ActiveWindow read the
// stacking order and the focus as the manager left them.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <thread>

#include "tests/gui/XvfbServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MessagePump.h"

namespace vexa::test {

class WmDesktop {
public:
  // Without the manager: the same private display, bare (to run one check both ways).
  explicit WmDesktop(bool withManager = true) {
    if (!FXvfb.Running()) return;
    if (!withManager) {
      FReady = true;
      return;
    }
    std::string openbox = Which("openbox");
    if (openbox.empty()) return;
    // Its own settings folder: the packaged defaults (click to focus and
    // raise, no key of the programs taken), nothing of the user's, and no
    // animation: a window restored from its icon is where it stays at once.
    char tmpl[] = "/tmp/vexa-wm-XXXXXX";
    if (!mkdtemp(tmpl)) return;
    FHome = tmpl;
    {
      std::ifstream in("/etc/xdg/openbox/rc.xml");
      std::stringstream rc;
      rc << in.rdbuf();
      std::string text = rc.str();
      const std::string animate = "<animateIconify>yes</animateIconify>";
      if (size_t at = text.find(animate); at != std::string::npos)
        text.replace(at, animate.size(), "<animateIconify>no</animateIconify>");
      std::filesystem::create_directories(FHome + "/openbox");
      std::ofstream(FHome + "/openbox/rc.xml") << text;
    }
    FWm = std::make_unique<ChildProcess>(
        openbox, std::vector<std::string>{"--sm-disable"},
        std::vector<std::string>{"XDG_CONFIG_HOME=" + FHome, "XDG_CACHE_HOME=" + FHome, "XDG_DATA_HOME=" + FHome},
        true);
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!FReady && std::chrono::steady_clock::now() < deadline && FWm->Running()) {
      FReady = Managing(d);
      if (!FReady) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    // Naming its check window is not yet taking windows: a window shown while
    // the manager still starts may never be managed. Ready once a window of
    // the test's own has been (shown again until it is).
    if (FReady) FReady = ManagesAWindow(d, deadline);
    XCloseDisplay(d);
  }
  ~WmDesktop() {
    if (FWm && FWm->Running()) {
      FWm->Signal(SIGTERM);
      if (!FWm->Wait(std::chrono::milliseconds(10000))) FWm->Signal(SIGKILL);
    }
    FWm.reset();
    if (!FHome.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(FHome, ec);
    }
  }
  bool Ready() const { return FReady; }

private:
  static std::string Which(const std::string& name) {
    const char* path = getenv("PATH");
    std::string all = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= all.size();) {
      size_t end = all.find(':', at);
      if (end == std::string::npos) end = all.size();
      std::string p = all.substr(at, end - at) + "/" + name;
      if (access(p.c_str(), X_OK) == 0) return p;
      at = end + 1;
    }
    return "";
  }
  static bool ManagesAWindow(Display* d, std::chrono::steady_clock::time_point deadline) {
    Window probe = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
    Atom state = XInternAtom(d, "WM_STATE", False);
    bool managed = false;
    for (int round = 0; !managed && std::chrono::steady_clock::now() < deadline; ++round) {
      if (round % 8 == 0) {
        XUnmapWindow(d, probe);
        XMapWindow(d, probe);
      }
      XSync(d, False);
      int count = 0;
      Atom* props = XListProperties(d, probe, &count);
      for (int i = 0; i < count; ++i) managed = managed || props[i] == state;
      if (props) XFree(props);
      if (!managed) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    XDestroyWindow(d, probe);
    XSync(d, False);
    return managed;
  }
  // The manager names a check window on the root, and the window names itself.
  static bool Managing(Display* d) {
    Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
    Window w = WindowProperty(d, DefaultRootWindow(d), check);
    return w != 0 && WindowProperty(d, w, check) == w;
  }

public:
  static Window WindowProperty(Display* d, Window w, Atom prop) {
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    Window v = 0;
    if (XGetWindowProperty(d, w, prop, 0, 1, False, XA_WINDOW, &type, &format, &n, &after, &data) == Success &&
        data && n == 1 && format == 32)
      v = *reinterpret_cast<Window*>(data);
    if (data) XFree(data);
    return v;
  }

private:
  XvfbServer FXvfb;
  std::string FHome;
  std::unique_ptr<ChildProcess> FWm;
  bool FReady = false;
};

// Where a top-level window stands among the root's children, bottom 0 (its
// frame's place under a window manager); -1 when it is not on the screen.
inline int StackIndex(Display* d, Window w) {
  Window root = DefaultRootWindow(d), parent = 0, *kids = nullptr;
  unsigned n = 0;
  // Up to the child of the root that holds it.
  for (Window at = w; at;) {
    Window r;
    if (!XQueryTree(d, at, &r, &parent, &kids, &n)) return -1;
    if (kids) XFree(kids);
    if (parent == root) {
      w = at;
      break;
    }
    at = parent;
  }
  int index = -1;
  if (XQueryTree(d, root, &root, &parent, &kids, &n)) {
    for (unsigned i = 0; i < n; ++i)
      if (kids[i] == w) index = static_cast<int>(i);
    if (kids) XFree(kids);
  }
  return index;
}

// The window the manager has activated (_NET_ACTIVE_WINDOW on the root).
inline Window ActiveWindow(Display* d) {
  return WmDesktop::WindowProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_ACTIVE_WINDOW", False));
}

// Follows the keyboard focus of a window from a connection of the test's own.
// Back() waits until the window has the keyboard again (and, under a manager,
// is the one it names active, so that the manager has settled) and says
// whether it kept it: it must not lose the keyboard again on the way, or a
// menu opened at once would close under the user's hands.
class KeyboardWatch {
public:
  KeyboardWatch(Display* d, Window w, bool managed) : FDpy(d), FWin(w), FManaged(managed) {
    XSelectInput(d, w, FocusChangeMask);
    XSync(d, False);
  }
  // Once another window (a dialog) has the keyboard, forgets what happened so
  // far: call it before closing that window.
  void HandedTo(Window other) {
    WaitUntil([&] {
      Window focus = 0;
      int revert = 0;
      XGetInputFocus(FDpy, &focus, &revert);
      return focus == other;
    });
    XSync(FDpy, False);
    XEvent ev;
    while (XCheckWindowEvent(FDpy, FWin, FocusChangeMask, &ev)) {
    }
  }
  bool Back() {
    const bool back = WaitUntil([&] {
      Window focus = 0;
      int revert = 0;
      XGetInputFocus(FDpy, &focus, &revert);
      return focus == FWin && (!FManaged || ActiveWindow(FDpy) == FWin);
    });
    XSync(FDpy, False);
    int lost = 0;
    XEvent ev;
    while (XCheckWindowEvent(FDpy, FWin, FocusChangeMask, &ev))
      // (The window under the pointer hears of the keyboard passing it by: no loss.)
      lost += ev.type == FocusOut && ev.xfocus.mode == NotifyNormal &&
              ev.xfocus.detail != NotifyPointer;
    return back && lost == 0;
  }

private:
  Display* FDpy;
  Window FWin;
  bool FManaged;
};

}  // namespace vexa::test
