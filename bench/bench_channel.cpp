// Local message channel throughput, each beside the platform layer's raw rate
// measured in the same run against the same receiving thread:
//   1. synchronous custom messages ("DBTrans") per second from one client
//      process to one server process, beside plain SendMessage round trips;
//   2. posts per second from a server to 10 client processes through
//      PostToAllClients, beside plain PostMessage to the same windows.
// Both also beside a raw Unix-socket ping-pong between two processes of the
// same run.
//   bench_channel [sends] [posts per client]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ServerBenchSupport.h"
#include "clients/VexaIPCClient.h"
#include "framework/Classes.h"
#include "platform/msg/Msg.h"
#include "shared/VexaIPC.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kClients = 10;
constexpr plat::UINT kEcho = plat::WM_USER;       // raw: answers wParam + 1
constexpr plat::UINT kRawPost = plat::WM_USER + 10;  // raw: counted by a client
const char* const kSendInstance = "BenchSend";
const char* const kPostInstance = "BenchPost";

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void Loop() {
  plat::MSG msg;
  while (plat::GetMessage(&msg, 0, 0, 0)) {
    plat::TranslateMessage(&msg);
    plat::DispatchMessage(&msg);
  }
}

// Child: the channel server of the send measurement, with a raw echo window on the same thread.
[[noreturn]] void SendServer() {
  plat::HWND raw = fw::AllocateHWnd(plat::WNDPROC([](plat::HWND h, plat::UINT m, plat::WPARAM w,
                                                     plat::LPARAM l) -> plat::LRESULT {
    if (m == kEcho) return w + 1;
    return plat::DefWindowProc(h, m, w, l);
  }));
  vexa::TVexaIPCServer server(nullptr);
  server.SetInstanceName(kSendInstance);
  const plat::UINT trans = server.AddCustomMessage("DBTrans");
  const plat::UINT rawWindow = server.AddCustomMessage("RawWindow");
  const plat::UINT stop = server.AddCustomMessage("Stop");
  server.OnCustomMessage = [&](fw::TMessage& Msg, bool& Handled) {
    Handled = true;
    if (Msg.Msg == trans) {
      Msg.Result = Msg.WParam + 1;
    } else if (Msg.Msg == rawWindow) {
      Msg.Result = static_cast<int32_t>(raw);
    } else if (Msg.Msg == stop) {
      plat::PostQuitMessage(0);
    }
  };
  server.SetActive(true);
  Loop();
  server.SetActive(false);
  _exit(0);
}

// Child: one client of the post measurement. Counts what arrives and reports the count when
// the server posts "Flush".
[[noreturn]] void PostClient() {
  vexa::TVexaIPCClient client(kPostInstance);
  const plat::UINT notification = client.CustomMessageID("Notification");
  const plat::UINT flush = client.CustomMessageID("Flush");
  int32_t count = 0;
  client.OnMessage = [&](plat::UINT m, plat::WPARAM, plat::LPARAM) {
    if (m == notification || m == kRawPost) {
      ++count;
    } else if (m == flush) {
      client.PostCustom("Counted", count, 0);
      count = 0;
    }
  };
  client.OnServerDown = [](plat::HWND) { plat::PostQuitMessage(0); };
  if (!client.WaitForServer(120000) || !client.Connect()) _exit(1);
  Loop();
  _exit(0);
}

double ChannelSendRate(vexa::TVexaIPCClient& client, long n) {
  auto t0 = Clock::now();
  for (long i = 0; i < n; ++i) {
    plat::LRESULT r = 0;
    if (!client.SendCustom("DBTrans", static_cast<plat::WPARAM>(i), 7 | ('B' << 8), &r) ||
        r != i + 1) {
      fprintf(stderr, "bench_channel: wrong answer at %ld\n", i);
      return 0;
    }
  }
  return static_cast<double>(n) / Seconds(t0, Clock::now());
}

double RawSendRate(plat::HWND target, long n) {
  auto t0 = Clock::now();
  for (long i = 0; i < n; ++i) {
    if (plat::SendMessage(target, kEcho, static_cast<plat::WPARAM>(i), 0) != i + 1) {
      fprintf(stderr, "bench_channel: wrong raw answer at %ld\n", i);
      return 0;
    }
  }
  return static_cast<double>(n) / Seconds(t0, Clock::now());
}

struct PostSide {
  vexa::TVexaIPCServer* Server = nullptr;
  std::vector<plat::HWND> Clients;
  plat::UINT Notification = 0;
  plat::UINT Flush = 0;
  int Reports = 0;
  long Counted = 0;
};

// Posts n messages to every client (through the channel or raw), then a flush,
// and waits until every client has reported its count. Posts per second.
double PostRound(PostSide& p, long n, bool channel) {
  p.Reports = 0;
  p.Counted = 0;
  fw::TMessage msg;
  msg.WParam = 1;
  msg.LParam = 7 | ('I' << 8);
  auto t0 = Clock::now();
  for (long i = 0; i < n; ++i) {
    if (channel) {
      p.Server->PostToAllClients(p.Notification, msg);
    } else {
      for (plat::HWND c : p.Clients) {
        while (!plat::PostMessage(c, kRawPost, msg.WParam, msg.LParam))
          sched_yield();  // a full queue
      }
    }
  }
  for (plat::HWND c : p.Clients) plat::PostMessage(c, p.Flush, 0, 0);
  plat::MSG m;
  while (p.Reports < kClients && plat::GetMessage(&m, 0, 0, 0)) plat::DispatchMessage(&m);
  const double rate = static_cast<double>(n) * kClients / Seconds(t0, Clock::now());
  if (p.Counted != n * kClients) {
    fprintf(stderr, "bench_channel: %ld of %ld posts arrived\n", p.Counted, n * kClients);
  }
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  const long sends = argc > 1 ? atol(argv[1]) : 30000;
  const long posts = argc > 2 ? atol(argv[2]) : 20000;
  char dir[] = "/tmp/vexa-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  setenv("VEXA_SESSION_DIR", dir, 1);

  const double pingPong = serverbench::RawPingPong();
  // Every child starts before this process makes any window.
  std::vector<pid_t> children;
  pid_t server = fork();
  if (server == 0) SendServer();
  children.push_back(server);
  for (int i = 0; i < kClients; ++i) {
    pid_t c = fork();
    if (c == 0) PostClient();
    children.push_back(c);
  }

  // Sends: this process is the client.
  double channelSend = 0;
  double rawSend = 0;
  {
    vexa::TVexaIPCClient client(kSendInstance);
    if (!client.WaitForServer(20000) || !client.Connect()) {
      fprintf(stderr, "bench_channel: no server\n");
      return 1;
    }
    plat::LRESULT raw = 0;
    client.SendCustom("RawWindow", 0, 0, &raw);
    const plat::HWND rawWnd = static_cast<plat::HWND>(raw);
    ChannelSendRate(client, sends / 10);  // warm up both paths
    RawSendRate(rawWnd, sends / 10);
    // Alternating slices, so both see the same scheduling.
    constexpr long kSlice = 1000;
    double channelTime = 0;
    double rawTime = 0;
    for (long done = 0; done < sends; done += kSlice) {
      const long n = std::min(kSlice, sends - done);
      channelTime += static_cast<double>(n) / ChannelSendRate(client, n);
      rawTime += static_cast<double>(n) / RawSendRate(rawWnd, n);
    }
    channelSend = static_cast<double>(sends) / channelTime;
    rawSend = static_cast<double>(sends) / rawTime;
    client.SendCustom("Stop", 0, 0);
    client.Disconnect();
  }

  // Posts: this process is the server of ten clients.
  double channelPost = 0;
  double rawPost = 0;
  {
    vexa::TVexaIPCServer server(nullptr);
    PostSide p;
    p.Server = &server;
    server.SetInstanceName(kPostInstance);
    p.Notification = server.AddCustomMessage("Notification");
    p.Flush = server.AddCustomMessage("Flush");
    const plat::UINT counted = server.AddCustomMessage("Counted");
    server.OnClientConnecting = [&](plat::HWND h, bool&) { p.Clients.push_back(h); };
    server.OnCustomMessage = [&](fw::TMessage& Msg, bool& Handled) {
      if (Msg.Msg != counted) return;
      Handled = true;
      ++p.Reports;
      p.Counted += Msg.WParam;
    };
    server.SetActive(true);
    plat::MSG m;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (server.GetClientCount() < kClients && Clock::now() < deadline) {
      plat::WaitMessageTimeout(50);
      while (plat::PeekMessage(&m, 0, 0, 0, plat::PM_REMOVE)) plat::DispatchMessage(&m);
    }
    if (server.GetClientCount() < kClients) {
      fprintf(stderr, "bench_channel: only %d clients\n", server.GetClientCount());
      return 1;
    }
    PostRound(p, posts / 10, true);
    PostRound(p, posts / 10, false);
    constexpr int kRounds = 5;
    double channelTime = 0;
    double rawTime = 0;
    const long slice = std::max(1L, posts / kRounds);
    for (int r = 0; r < kRounds; ++r) {
      channelTime += static_cast<double>(slice) * kClients / PostRound(p, slice, true);
      rawTime += static_cast<double>(slice) * kClients / PostRound(p, slice, false);
    }
    channelPost = static_cast<double>(slice) * kRounds * kClients / channelTime;
    rawPost = static_cast<double>(slice) * kRounds * kClients / rawTime;
    server.SetActive(false);  // the clients leave on server-down
  }

  printf("raw unix socket ping-pong:           %10.0f round trips/s\n", pingPong);
  printf("local channel, one client process to one server process:\n");
  printf("  raw SendMessage round trips:       %10.0f /s\n", rawSend);
  printf("  synchronous custom messages:       %10.0f /s\n", channelSend);
  printf("  channel / raw ratio:               %10.2f (target 0.70)\n", channelSend / rawSend);
  printf("  channel / socket ping-pong:        %10.2f (target 5, aim 20)\n",
         channelSend / pingPong);
  printf("local channel, one server process to %d client processes:\n", kClients);
  printf("  raw PostMessage posts:             %10.0f /s\n", rawPost);
  printf("  PostToAllClients posts:            %10.0f /s\n", channelPost);
  printf("  channel / raw ratio:               %10.2f (target 0.70)\n", channelPost / rawPost);
  printf("  channel posts / socket ping-pong:  %10.2f (target 12)\n", channelPost / pingPong);
  fflush(stdout);

  for (pid_t c : children) waitpid(c, nullptr, 0);
  std::string cmd = std::string("rm -rf ") + dir;
  if (system(cmd.c_str()) != 0) return 1;
  return 0;
}
