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
//   flood <hwnd> <n> [thread]   -> FLOODED <posts that succeeded>, posting n WM_USER + 5 (w = 0 ..
//                                  n-1), from a thread of its own when "thread" is given
//   sends <hwnd> <n> <ms>       -> SENT <sends answered>, after n sends of WM_USER + 6 (w = 0 ..
//                                  n-1), each with a time-out of ms
//   count                       -> COUNT <WM_USER + 5 received>, after handling everything queued
//   order                       -> ORDER <index of the first WM_USER + 5 whose w was not its
//                                  arrival index among those of the same l, or -1>
//   fork                        -> FORKED <pid> of a child that only sleeps (a minute)
//   limit <hwnd> <msg> <w> <l>  -> LIMITED <ok> <error>, after posting under a file-size limit
//                                  too small for a new connection's memory (lifted after)
//   hostile <hwnd> cut|nonsense -> HOSTILE <1 when the receiver closed the connection>, after
//                                  connecting to hwnd's queue as a broken peer: with a segment
//                                  it cuts short once handed over, or whose request ring's
//                                  indexes make no sense
//   pingpong <hwnd> <n>         -> PINGPONG <answers that were right>, after sending WM_USER
//                                  with w = 0 .. n-1 and l = 1 to hwnd
//   hold                        -> HOLDING, then runs the next line without looking at its queue
//   destroy <hwnd>              -> DESTROYED <ok>
//   broadcast <msg> <w> <l>     -> BROADCAST <ok>
//   broadcasts <msg> <n>        -> BROADCASTS <windows reached> <windows missed>, summed over n
//                                  broadcasts (w = 0 .. n-1, l = 0)
//   thread                      -> THREAD <hwnd> of a top-level window on a thread of its own
//                                  that serves it until the process ends
//   stress                      -> STRESSED, after posting and sending to the windows of
//                                  the stress table (MsgStress.h) until it says stop
//   quit                        -> exits
// Its window answers WM_USER with w * 100 + l, WM_USER + 3 the same after a
// pause (to overlap with a send the other way), WM_USER + 4 with the answer
// of a send of WM_USER + 8 to window w, plus l, never answers WM_USER + 2
// (prints HANGING), and prints "GOT <msg> <w> <l>" for every other message
// at or above WM_USER that it receives.
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/msg/Msg.h"
#include "platform/msg/MsgProcess.h"
#include "platform/msg/MsgRing.h"
#include "tests/platform/MsgStress.h"

using namespace plat;

namespace {

std::string gInput;
int gFloodCount = 0;
int gFirstOutOfOrder = -1;
std::map<LPARAM, int> gNextFrom;  // next w expected, by l

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
  if (m == WM_USER + 4) return SendMessage(static_cast<HWND>(w), WM_USER + 8, 0, 0) + l;
  if (m == WM_USER + 5) {
    if (w != gNextFrom[l]++ && gFirstOutOfOrder < 0) gFirstOutOfOrder = gFloodCount;
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

// True when the receiver closes the connection within ten seconds.
bool HungUp(int fd) {
  for (int i = 0; i < 100; ++i) {
    pollfd pf{fd, POLLIN, 0};
    if (poll(&pf, 1, 100) > 0) {
      char b;
      if ((pf.revents & (POLLHUP | POLLERR)) || recv(fd, &b, 1, MSG_DONTWAIT) == 0) return true;
    }
  }
  return false;
}

bool Hostile(HWND h, const std::string& how) {
  using namespace plat::msgimpl;
  Session& s = CurrentSession();
  Entry e;
  if (!ReadEntry(s, h, &e)) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", QueuePath(s, e.queueId).c_str());
  int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
  int seg = -1;
  std::shared_ptr<Segment> sealed;
  if (how == "cut") {
    seg = memfd_create("cut", 0);
    if (ftruncate(seg, sizeof(SegmentLayout)) != 0) return false;
  } else {
    sealed = MakeSegment(&seg);
  }
  void* m = mmap(nullptr, sizeof(SegmentLayout), PROT_READ | PROT_WRITE, MAP_SHARED, seg, 0);
  if (m == MAP_FAILED) return false;
  auto* l = static_cast<SegmentLayout*>(m);
  l->magic = kRingMagic;
  if (how != "cut") l->req.tail = kRequestSlots * 4;
  if (!SendHello(fd, seg)) return false;
  if (how == "cut") {
    usleep(200000);  // mapped by the receiver meanwhile, if it takes such a segment
    if (ftruncate(seg, 0) != 0) return false;
  }
  SendWake(fd);
  return HungUp(fd);
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
    std::string thread;
    in >> std::hex >> h >> std::dec >> n >> thread;
    int ok = 0;
    auto flood = [&] {
      for (int i = 0; i < n; ++i) ok += PostMessage(h, WM_USER + 5, i, 0) ? 1 : 0;
    };
    if (thread.empty()) {
      flood();
    } else {
      std::thread(flood).join();
    }
    Say("FLOODED " + std::to_string(ok));
  } else if (cmd == "sends") {
    HWND h = 0;
    int n = 0;
    DWORD ms = 0;
    in >> std::hex >> h >> std::dec >> n >> ms;
    int ok = 0;
    LRESULT r;
    for (int i = 0; i < n; ++i) ok += SendMessageTimeout(h, WM_USER + 6, i, 0, ms, &r) ? 1 : 0;
    Say("SENT " + std::to_string(ok));
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
  } else if (cmd == "limit") {
    HWND h = 0;
    UINT m = 0;
    WPARAM w = 0;
    LPARAM l = 0;
    in >> std::hex >> h >> std::dec >> m >> w >> l;
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    signal(SIGXFSZ, SIG_IGN);  // the call fails instead
    setrlimit(RLIMIT_FSIZE, &small);
    bool ok = PostMessage(h, m, w, l);
    DWORD err = GetLastError();
    setrlimit(RLIMIT_FSIZE, &old);
    Say("LIMITED " + std::to_string(ok ? 1 : 0) + " " + std::to_string(err));
  } else if (cmd == "fork") {
    pid_t child = fork();
    if (child == 0) {
      int null = open("/dev/null", O_RDWR);  // the test's pipes end with us
      for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
      sleep(60);
      _exit(0);
    }
    Say("FORKED " + std::to_string(child));
  } else if (cmd == "hostile") {
    HWND h = 0;
    std::string how;
    in >> std::hex >> h >> how;
    Say(std::string("HOSTILE ") + (Hostile(h, how) ? "1" : "0"));
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
  } else if (cmd == "broadcasts") {
    UINT m = 0;
    int n = 0;
    in >> m >> n;
    int reached = 0;
    int missed = 0;
    for (int i = 0; i < n; ++i) {
      int miss = 0;
      reached += PostBroadcast(m, i, 0, &miss);
      missed += miss;
    }
    Say("BROADCASTS " + std::to_string(reached) + " " + std::to_string(missed));
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
