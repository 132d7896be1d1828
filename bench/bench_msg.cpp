// Cross-process message throughput: SendMessage round trips and PostMessage
// posts per second between two processes of one session, beside a raw Unix
// socket ping-pong with packets of the same size measured in the same run,
// served by the same receiving thread in alternating slices.
//   bench_msg [round trips] [posts]
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/msg/Msg.h"

using namespace plat;
using Clock = std::chrono::steady_clock;

namespace {

constexpr UINT kEcho = WM_USER;
constexpr UINT kCount = WM_USER + 1;
constexpr UINT kDone = WM_USER + 2;
constexpr UINT kStop = WM_USER + 3;
constexpr UINT kRaw = WM_USER + 4;  // echo wParam packets on the raw socket, then return

int gRawFd = -1;
constexpr size_t kPacket = 36;  // the size of one message on the wire

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// The receiving process: one window that answers and counts.
[[noreturn]] void Receiver(int hwndPipe) {
  static int count = 0;
  WNDCLASS wc;
  wc.lpszClassName = "BenchReceiver";
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    switch (m) {
      case kEcho: return w + 1;
      case kCount: ++count; return 0;
      case kDone:
        PostMessage(static_cast<HWND>(l), kDone, count, 0);
        count = 0;
        return 0;
      case kStop: PostQuitMessage(0); return 0;
      case kRaw: {
        // The raw ping-pong runs in the same process and thread as the
        // window, so both measurements see the same scheduling.
        char buf[kPacket];
        for (WPARAM i = 0; i < w; ++i) {
          ssize_t n = recv(gRawFd, buf, sizeof buf, 0);
          if (n <= 0 || send(gRawFd, buf, static_cast<size_t>(n), 0) != n) _exit(1);
        }
        return 0;
      }
      default: return DefWindowProc(h, m, w, l);
    }
  };
  RegisterClass(wc);
  HWND h = CreateWindowEx(0, "BenchReceiver", "", 0, 0, 0, 0, 0, 0, 0);
  if (write(hwndPipe, &h, sizeof h) != sizeof h) _exit(1);
  close(hwndPipe);
  MSG msg;
  while (GetMessage(&msg, 0, 0, 0)) DispatchMessage(&msg);
  _exit(0);
}

double RawRate(HWND target, int fd, long n) {
  char buf[kPacket] = {};
  PostMessage(target, kRaw, static_cast<WPARAM>(n), 0);
  // The first round trip waits for the receiver to switch over; keep it out.
  if (send(fd, buf, sizeof buf, 0) != static_cast<ssize_t>(sizeof buf)) return 0;
  if (recv(fd, buf, sizeof buf, 0) <= 0) return 0;
  --n;
  auto t0 = Clock::now();
  for (long i = 0; i < n; ++i) {
    if (send(fd, buf, sizeof buf, 0) != static_cast<ssize_t>(sizeof buf)) return 0;
    if (recv(fd, buf, sizeof buf, 0) <= 0) return 0;
  }
  return static_cast<double>(n) / Seconds(t0, Clock::now());
}

double SendRate(HWND target, long n) {
  auto t0 = Clock::now();
  for (long i = 0; i < n; ++i) {
    if (SendMessage(target, kEcho, static_cast<WPARAM>(i), 0) != static_cast<LRESULT>(i + 1)) {
      fprintf(stderr, "bench_msg: wrong answer at %ld\n", i);
      return 0;
    }
  }
  return static_cast<double>(n) / Seconds(t0, Clock::now());
}

double PostRate(HWND target, HWND self, long n) {
  auto t0 = Clock::now();
  for (long i = 0; i < n; ++i) {
    // A receiver holding its quota of unread posts refuses more: try again.
    while (!PostMessage(target, kCount, 0, 0)) std::this_thread::yield();
  }
  PostMessage(target, kDone, 0, static_cast<LPARAM>(self));
  MSG msg;
  long got = -1;
  while (got < 0 && GetMessage(&msg, 0, 0, 0)) {
    if (msg.message == kDone) got = msg.wParam;
  }
  double rate = static_cast<double>(n) / Seconds(t0, Clock::now());
  if (got != n) fprintf(stderr, "bench_msg: %ld of %ld posts arrived\n", got, n);
  return rate;
}

struct Rates {
  double raw = 0;
  double send = 0;
};

// Raw and SendMessage run in alternating slices so both see the same
// scheduling and CPU conditions; the rates come from their total times.
Rates Measure(HWND target, int rawFd, long trips) {
  constexpr long kSlice = 1000;
  SendRate(target, trips / 10);  // warm up both paths
  RawRate(target, rawFd, trips / 10);
  double rawTime = 0, sendTime = 0;
  long rawDone = 0, done = 0;
  while (done < trips) {
    long n = std::min(kSlice, trips - done);
    rawTime += static_cast<double>(n - 1) / RawRate(target, rawFd, n);
    rawDone += n - 1;
    sendTime += static_cast<double>(n) / SendRate(target, n);
    done += n;
  }
  return Rates{static_cast<double>(rawDone) / rawTime, static_cast<double>(done) / sendTime};
}

}  // namespace

int main(int argc, char** argv) {
  long trips = argc > 1 ? atol(argv[1]) : 30000;
  long posts = argc > 2 ? atol(argv[2]) : 200000;
  char dir[] = "/tmp/vexa-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  setenv("VEXA_SESSION_DIR", dir, 1);

  int hp[2];
  int sp[2];
  if (pipe(hp) != 0 || socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sp) != 0) return 1;
  pid_t receiver = fork();
  if (receiver == 0) {
    close(hp[0]);
    close(sp[0]);
    gRawFd = sp[1];
    Receiver(hp[1]);
  }
  close(hp[1]);
  close(sp[1]);
  HWND target = 0;
  if (read(hp[0], &target, sizeof target) != sizeof target) return 1;

  WNDCLASS wc;
  wc.lpszClassName = "BenchSender";
  RegisterClass(wc);
  HWND self = CreateWindowEx(0, "BenchSender", "", 0, 0, 0, 0, 0, 0, 0);

  // A thread with windows must keep serving messages sent to it while it
  // waits; a thread without windows has nothing to serve. Both are measured.
  Rates withWindows = Measure(target, sp[0], trips);
  Rates withoutWindows;
  std::thread([&] { withoutWindows = Measure(target, sp[0], trips); }).join();
  double pst = 0;
  for (int round = 0; round < 3; ++round) pst = std::max(pst, PostRate(target, self, posts));
  printf("sender thread with a window:\n");
  printf("  raw unix socket ping-pong:        %10.0f round trips/s\n", withWindows.raw);
  printf("  SendMessage across processes:     %10.0f round trips/s\n", withWindows.send);
  printf("  send / raw ratio:                 %10.2f (target 5, aim 20)\n",
         withWindows.send / withWindows.raw);
  printf("sender thread without windows:\n");
  printf("  raw unix socket ping-pong:        %10.0f round trips/s\n", withoutWindows.raw);
  printf("  SendMessage across processes:     %10.0f round trips/s\n", withoutWindows.send);
  printf("  send / raw ratio:                 %10.2f (target 5, aim 20)\n",
         withoutWindows.send / withoutWindows.raw);
  printf("PostMessage across processes:       %10.0f posts/s\n", pst);
  printf("  posts / raw round trips ratio:    %10.2f\n", pst / withWindows.raw);
  fflush(stdout);

  PostMessage(target, kStop, 0, 0);
  close(sp[0]);
  waitpid(receiver, nullptr, 0);
  std::string cmd = std::string("rm -rf ") + dir;
  if (system(cmd.c_str()) != 0) return 1;
  return 0;
}
