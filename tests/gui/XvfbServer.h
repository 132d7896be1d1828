// A private Xvfb for one GUI test, and real X input through XTest.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/AppPump.h"

namespace vexa::test {

// Starts Xvfb on the first free display number from 60 + a number from the
// process id, points DISPLAY at it and stops it again on destruction.
class XvfbServer {
public:
  XvfbServer() {
    for (int n = 60 + getpid() % 300, tries = 0; tries < 200; ++n, ++tries) {
      std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
      struct stat st;
      if (stat(lock.c_str(), &st) == 0 || stat(sock.c_str(), &st) == 0) continue;
      std::string name = ":" + std::to_string(n);
      pid_t pid = fork();
      if (pid == 0) {
        int devnull = open("/dev/null", 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               "-ac", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
      }
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) break;  // taken meanwhile: next number
        // Ours only when the lock names our process (another test may have
        // taken the number a moment earlier).
        if (LockOwner(lock) != pid) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          continue;
        }
        if (Display* d = XOpenDisplay(name.c_str())) {
          XCloseDisplay(d);
          FPid = pid;
          FName = name;
          setenv("DISPLAY", name.c_str(), 1);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  ~XvfbServer() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      waitpid(FPid, nullptr, 0);
    }
    unsetenv("DISPLAY");
  }
  bool Running() const { return FPid > 0; }
  const std::string& Name() const { return FName; }

private:
  static pid_t LockOwner(const std::string& lock) {
    FILE* f = std::fopen(lock.c_str(), "r");
    if (!f) return -1;
    long v = -1;
    if (std::fscanf(f, "%ld", &v) != 1) v = -1;
    std::fclose(f);
    return static_cast<pid_t>(v);
  }
  pid_t FPid = -1;
  std::string FName;
};

// Real input through a connection of the test's own.
class XInput {
public:
  XInput() : FDpy(XOpenDisplay(nullptr)) {}
  ~XInput() {
    if (FDpy) XCloseDisplay(FDpy);
  }
  Display* Dpy() const { return FDpy; }
  // Screen position of a point of an X window.
  void ToScreen(unsigned long win, int x, int y, int* sx, int* sy) {
    Window child;
    XTranslateCoordinates(FDpy, win, DefaultRootWindow(FDpy), x, y, sx, sy, &child);
  }
  void Click(unsigned long win, int x, int y, unsigned button = 1) {
    int sx, sy;
    ToScreen(win, x, y, &sx, &sy);
    XTestFakeMotionEvent(FDpy, -1, sx, sy, CurrentTime);
    XTestFakeButtonEvent(FDpy, button, True, CurrentTime);
    XTestFakeButtonEvent(FDpy, button, False, CurrentTime);
    XSync(FDpy, False);
  }
  void Key(KeySym ks, bool shift = false) {
    KeyCode kc = XKeysymToKeycode(FDpy, ks);
    KeyCode sh = XKeysymToKeycode(FDpy, XK_Shift_L);
    if (shift) XTestFakeKeyEvent(FDpy, sh, True, CurrentTime);
    XTestFakeKeyEvent(FDpy, kc, True, CurrentTime);
    XTestFakeKeyEvent(FDpy, kc, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(FDpy, sh, False, CurrentTime);
    XSync(FDpy, False);
  }
  // A key pressed while a modifier (e.g. XK_Alt_L) is held.
  void Chord(KeySym modifier, KeySym ks) {
    KeyCode mc = XKeysymToKeycode(FDpy, modifier), kc = XKeysymToKeycode(FDpy, ks);
    XTestFakeKeyEvent(FDpy, mc, True, CurrentTime);
    XTestFakeKeyEvent(FDpy, kc, True, CurrentTime);
    XTestFakeKeyEvent(FDpy, kc, False, CurrentTime);
    XTestFakeKeyEvent(FDpy, mc, False, CurrentTime);
    XSync(FDpy, False);
  }
  void Type(const std::string& text) {
    for (char c : text) {
      if (c >= 'A' && c <= 'Z') Key(XK_a + (c - 'A'), true);
      else if (c >= 'a' && c <= 'z') Key(XK_a + (c - 'a'));
      else if (c >= '0' && c <= '9') Key(XK_0 + (c - '0'));
      else if (c == ' ') Key(XK_space);
      else if (c == '!') Key(XK_1, true);
    }
  }
  // What a window manager sends when the close box is pressed.
  void SendDelete(unsigned long win) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = win;
    ev.xclient.message_type = XInternAtom(FDpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(FDpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(FDpy, win, False, NoEventMask, &ev);
    XSync(FDpy, False);
  }
  bool Viewable(unsigned long win) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(FDpy, win, &a)) return false;
    return a.map_state == IsViewable;
  }

private:
  Display* FDpy;
};

// Runs the application's loop until done() or about ten seconds passed.
// The viewable top-level window with this title, or 0.
inline unsigned long FindByTitle(Display* d, const char* title) {
  Window root, parent, *kids = nullptr;
  unsigned n = 0;
  unsigned long found = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n)) return 0;
  for (unsigned i = 0; i < n && !found; ++i) {
    char* name = nullptr;
    XWindowAttributes a;
    if (XFetchName(d, kids[i], &name) && name) {
      if (std::strcmp(name, title) == 0 && XGetWindowAttributes(d, kids[i], &a) &&
          a.map_state == IsViewable)
        found = kids[i];
      XFree(name);
    }
  }
  if (kids) XFree(kids);
  return found;
}

}  // namespace vexa::test
