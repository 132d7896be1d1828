// A second process for the cross-process message tests. It makes a top-level
// window (with a child) of class "Peer", prints "HWND <top> <child>" and then
// takes commands on standard input, one per line, answering on standard output:
//   send <hwnd> <msg> <w> <l>   -> RESULT <result> <ok>
//   post <hwnd> <msg> <w> <l>   -> POSTED <ok>
//   register <name>             -> ID <id>
//   mutex <name>                -> MUTEX <error of the create> <wait result>
//   iswindow <hwnd>             -> ISWINDOW <0|1>
//   setevent <name>             -> EVENT <handle opened 0|1> <set 0|1>
//   drain                       -> DRAINED, after handling everything queued
//   flood <hwnd> <n>            -> FLOODED <posts that succeeded>, posting n WM_USER + 5
//   count                       -> COUNT <WM_USER + 5 received>, after handling everything queued
//   order                       -> ORDER <index of the first WM_USER + 5 whose w was not its
//                                  arrival index, or -1>
//   pingpong <hwnd> <n>         -> PINGPONG <answers that were right>, after sending WM_USER
//                                  with w = 0 .. n-1 and l = 1 to hwnd
//   hold                        -> HOLDING, then runs the next line without looking at its queue
//   destroy <hwnd>              -> DESTROYED <ok>
//   broadcast <msg> <w> <l>     -> BROADCAST <ok>
//   thread                      -> THREAD <hwnd> of a top-level window on a thread of its own
//                                  that serves it until the process ends
//   stress                      -> STRESSED, after posting and sending to the windows of
//                                  the stress table (MsgStress.h) until it says stop
//   quit                        -> exits
// Its window answers WM_USER with w * 100 + l, WM_USER + 3 the same after a
// pause (to overlap with a send the other way), never answers WM_USER + 2
// (prints HANGING), and prints "GOT <msg> <w> <l>" for every other message
// at or above WM_USER that it receives.
#include <sys/epoll.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include "platform/msg/Msg.h"
#include "tests/platform/MsgStress.h"

using namespace plat;

namespace {

std::string gInput;
int gFloodCount = 0;
int gFirstOutOfOrder = -1;

void Say(const std::string& line) {
  printf("%s\n", line.c_str());
  fflush(stdout);
}

LRESULT PeerProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_USER) return w * 100 + l;
  if (m == WM_USER + 3) {
    usleep(100000);
    return w * 100 + l;
  }
  if (m == WM_USER + 5) {
    if (w != gFloodCount && gFirstOutOfOrder < 0) gFirstOutOfOrder = gFloodCount;
    ++gFloodCount;
    return 0;
  }
  if (vexa::test::StressMessage(m, w, l)) return w + l;
  if (m == WM_USER + 2) {
    Say("HANGING");
    for (;;) pause();
  }
  if (m >= WM_USER) {
    Say("GOT " + std::to_string(m) + " " + std::to_string(w) + " " + std::to_string(l));
    return 0;
  }
  return DefWindowProc(h, m, w, l);
}

void Command(const std::string& line);

// The next whole line of input, read without looking at the queue.
std::string NextLine() {
  size_t nl;
  while ((nl = gInput.find('\n')) == std::string::npos) {
    char chunk[256];
    ssize_t n = read(0, chunk, sizeof chunk);
    if (n <= 0) return "";
    gInput.append(chunk, static_cast<size_t>(n));
  }
  std::string line = gInput.substr(0, nl);
  gInput.erase(0, nl + 1);
  return line;
}

void Command(const std::string& line) {
  std::istringstream in(line);
  std::string cmd;
  in >> cmd;
  if (cmd == "send" || cmd == "post") {
    HWND h = 0;
    UINT m = 0;
    WPARAM w = 0;
    LPARAM l = 0;
    in >> std::hex >> h >> std::dec >> m >> w >> l;
    if (cmd == "send") {
      LRESULT r = 0;
      bool ok = SendMessageTimeout(h, m, w, l, INFINITE, &r);
      Say("RESULT " + std::to_string(r) + " " + (ok ? "1" : "0"));
    } else {
      Say(std::string("POSTED ") + (PostMessage(h, m, w, l) ? "1" : "0"));
    }
  } else if (cmd == "register") {
    std::string name;
    in >> name;
    Say("ID " + std::to_string(RegisterWindowMessage(name)));
  } else if (cmd == "mutex") {
    std::string name;
    in >> name;
    HANDLE mx = CreateMutex(name, false);
    DWORD err = GetLastError();
    DWORD r = WaitForSingleObject(mx, 0);
    Say("MUTEX " + std::to_string(err) + " " + std::to_string(r));
  } else if (cmd == "setevent") {
    std::string name;
    in >> name;
    HANDLE e = OpenEvent(name);
    bool set = e != 0 && SetEvent(e);
    Say(std::string("EVENT ") + (e ? "1 " : "0 ") + (set ? "1" : "0"));
    if (e) CloseHandle(e);
  } else if (cmd == "iswindow") {
    HWND h = 0;
    in >> std::hex >> h;
    Say(std::string("ISWINDOW ") + (IsWindow(h) ? "1" : "0"));
  } else if (cmd == "drain") {
    MSG m;
    while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) DispatchMessage(&m);
    Say("DRAINED");
  } else if (cmd == "flood") {
    HWND h = 0;
    int n = 0;
    in >> std::hex >> h >> std::dec >> n;
    int ok = 0;
    for (int i = 0; i < n; ++i) ok += PostMessage(h, WM_USER + 5, i, 0) ? 1 : 0;
    Say("FLOODED " + std::to_string(ok));
  } else if (cmd == "count") {
    MSG m;
    while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) DispatchMessage(&m);
    Say("COUNT " + std::to_string(gFloodCount));
  } else if (cmd == "order") {
    MSG m;
    while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) DispatchMessage(&m);
    Say("ORDER " + std::to_string(gFirstOutOfOrder));
  } else if (cmd == "pingpong") {
    HWND h = 0;
    int n = 0;
    in >> std::hex >> h >> std::dec >> n;
    int right = 0;
    for (int i = 0; i < n; ++i) right += SendMessage(h, WM_USER, i, 1) == i * 100 + 1 ? 1 : 0;
    Say("PINGPONG " + std::to_string(right));
  } else if (cmd == "hold") {
    Say("HOLDING");
    Command(NextLine());
  } else if (cmd == "destroy") {
    HWND h = 0;
    in >> std::hex >> h;
    Say(std::string("DESTROYED ") + (DestroyWindow(h) ? "1" : "0"));
  } else if (cmd == "broadcast") {
    UINT m = 0;
    WPARAM w = 0;
    LPARAM l = 0;
    in >> m >> w >> l;
    Say(std::string("BROADCAST ") + (PostMessage(HWND_BROADCAST, m, w, l) ? "1" : "0"));
  } else if (cmd == "thread") {
    std::thread([] {
      HWND h = CreateWindowEx(0, "Peer", "thread", WS_OVERLAPPED, 0, 0, 10, 10, 0, 0);
      char buf[32];
      snprintf(buf, sizeof buf, "THREAD %X", h);
      Say(buf);
      MSG m;
      while (GetMessage(&m, 0, 0, 0)) DispatchMessage(&m);
    }).detach();
  } else if (cmd == "stress") {
    vexa::test::StressRun();
    Say("STRESSED");
  } else if (cmd == "quit") {
    PostQuitMessage(0);
  }
}

}  // namespace

int main() {
  vexa::test::StressSelf();  // mapped before any post can arrive
  WNDCLASS wc;
  wc.lpszClassName = "Peer";
  wc.lpfnWndProc = PeerProc;
  RegisterClass(wc);
  HWND top = CreateWindowEx(0, "Peer", "peer", WS_OVERLAPPED, 0, 0, 10, 10, 0, 0);
  HWND child = CreateWindowEx(0, "Peer", "child", WS_CHILD, 0, 0, 5, 5, top, 1);
  if (!top || !child) return 1;
  char buf[64];
  snprintf(buf, sizeof buf, "HWND %X %X", top, child);
  Say(buf);
  WatchFd(0, EPOLLIN, [](uint32_t) {
    char chunk[4096];
    ssize_t n = read(0, chunk, sizeof chunk);
    if (n <= 0) {
      UnwatchFd(0);
      PostQuitMessage(0);
      return;
    }
    gInput.append(chunk, static_cast<size_t>(n));
    size_t nl;
    while ((nl = gInput.find('\n')) != std::string::npos) {
      std::string line = gInput.substr(0, nl);
      gInput.erase(0, nl + 1);
      Command(line);
    }
  });
  MSG m;
  while (GetMessage(&m, 0, 0, 0)) {
    TranslateMessage(&m);
    DispatchMessage(&m);
  }
  return 0;
}
