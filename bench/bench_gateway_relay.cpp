// Notifications per second from the database side to 10 local clients through
// one gateway, and the latency from the database side's commit to each client;
// once more beside 50 client programs stopped with SIGSTOP.
//
// A private session runs a notify server (flush interval 10 ms) and a gateway;
// this program plays the database side on the server's channel and runs the 10
// local clients, one thread each, on the gateway's channel (and, for the last
// phase, 50 notifylistener programs that it stops). Beside it: a raw
// Unix-socket ping-pong of the same run, and the CPU time the idle server and
// gateway use over 10 s with everything connected.
//
//   bench_gateway_relay [transactions] [notifications per transaction]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ServerBenchSupport.h"
#include "clients/VexaIPCClient.h"
#include "framework/SysUtils.h"
#include "gateway/KWVReg.h"
#include "platform/kernel/Kernel.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int ClientCount = 10;
constexpr int Table = 1;

// Standard output goes to outFd, or to /dev/null when it is -1.
pid_t Start(const std::string& path, const std::vector<std::string>& args, int outFd = -1) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (outFd >= 0) {
    posix_spawn_file_actions_adddup2(&fa, outFd, 1);
  } else {
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

void Stop(pid_t pid, int sig = SIGTERM) {
  if (pid <= 0) return;
  kill(pid, sig);
  int status = 0;
  waitpid(pid, &status, 0);
}

// A local client program, stopped with SIGSTOP once it has subscribed to the table.
pid_t StartStopped(const std::string& path) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return -1;
  const pid_t pid = Start(path, {"Bench", std::to_string(Table)}, out[1]);
  close(out[1]);
  FILE* f = fdopen(out[0], "r");
  char line[256];
  bool subscribed = false;
  while (pid > 0 && !subscribed && fgets(line, sizeof line, f))
    subscribed = std::strstr(line, "Subscribed to table");
  // Stopped before its output closes: it may still print the server's state.
  int status = 0;
  const bool stopped = subscribed && kill(pid, SIGSTOP) == 0 &&
                       waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
  fclose(f);
  if (stopped) return pid;
  Stop(pid, SIGKILL);
  return -1;
}

int FreePort() {
  // The kernel's ephemeral range is busy enough; a port well above it is
  // picked from the process id.
  return 20000 + static_cast<int>(getpid() % 20000);
}

struct ClientResult {
  std::vector<int64_t> ReceivedUs;  // by value; -1 until it arrives
  std::atomic<int> Received{0};
  int OutOfOrder = 0;
};

struct Phase {
  const char* Name;
  int Transactions;
  int PerTransaction;
  int PauseUs;  // between transactions
  int Stalled;  // client programs that join before the phase and stop
};

}  // namespace

int main(int argc, char** argv) {
  // Burst: as fast as the database side can commit (throughput). Paced: one
  // notification every 2 ms, well below capacity (latency of the chain itself).
  // A longer burst beside clients whose queues are full (each takes 10,000
  // posts): what each relay costs per stopped client.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int burst = argc > 1 ? std::atoi(argv[1]) : 2000;
  std::vector<Phase> phases = {{"burst", burst, 10, 0, 0},
                               {"paced", argc > 2 ? std::atoi(argv[2]) : 1000, 1, 2000, 0},
                               {"burst beside 50 stopped clients", burst * 5, 10, 0, 50}};
  int total = 0;
  for (const Phase& ph : phases) total += ph.Transactions * ph.PerTransaction;

  const double pingPong = serverbench::RawPingPong();
  const fs::path root = serverbench::MakeSession({"beaconhub", "relaygate"});
  if (root.empty()) return 1;
  const int port = FreePort();
  std::ofstream(root / "bin" / "beaconhub.ini") << "[Server]\nAddress=127.0.0.1\nPort=" << port
                                                << "\nMaxClients=0\n[Client]\nFlushInterval=10\n";
  std::ofstream(root / "bin" / "relaygate.ini") << "[Connection Polling]\nInterval=1\n";
  vexa::WriteProviderSettings("Bench", "127.0.0.1", std::to_string(port));

  pid_t server = Start((root / "bin" / "beaconhub").string(), {});
  pid_t gateway = Start((root / "bin" / "relaygate").string(), {"Bench"});

  const Clock::time_point t0 = Clock::now();
  auto nowUs = [t0] {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
  };
  std::vector<int64_t> committedUs(static_cast<size_t>(total), 0);

  std::atomic<int> ready{0};
  std::atomic<bool> stop{false};
  std::vector<ClientResult> results(ClientCount);
  std::vector<std::atomic<plat::HWND>> windows(ClientCount);
  std::vector<std::thread> threads;
  for (int c = 0; c < ClientCount; ++c) {
    results[c].ReceivedUs.assign(static_cast<size_t>(total), -1);
    threads.emplace_back([&, c] {
      vexa::TVexaIPCClient client("Bench");
      windows[c] = client.Handle();
      ClientResult& r = results[c];
      const plat::UINT notif = client.CustomMessageID("Notification");
      const plat::UINT state = client.CustomMessageID("NotifyServerState");
      bool up = false;
      int expected = 0;
      client.OnMessage = [&](plat::UINT m, plat::WPARAM w, plat::LPARAM) {
        if (m == state) {
          up = w == 1;
        } else if (m == notif) {
          const int v = w;
          if (v != expected) ++r.OutOfOrder;
          expected = v + 1;
          if (v >= 0 && v < total) r.ReceivedUs[v] = nowUs();
          r.Received++;
        }
      };
      if (!client.WaitForServer(30000) || !client.Connect()) return;
      plat::LRESULT res = 0;
      client.SendCustom("Subscription", static_cast<plat::WPARAM>(client.Handle()),
                        Table | ('S' << 8), &res, 5000);
      client.WaitFor([&] { return up; }, 30000);
      ready++;
      client.WaitFor([&] { return stop.load(); }, 300000);
      client.Disconnect(2000);
    });
  }

  vexa::TVexaIPCClient db("NotifyServerIPC");
  bool ok = db.WaitForServer(30000) && db.Connect();
  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (ok && ready.load() < ClientCount && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ok = ok && ready.load() == ClientCount;
  // Let the subscriptions reach the server.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  std::printf(
      "gateway relay: %d local clients on one gateway, notify server flush interval 10 ms\n",
      ClientCount);
  std::printf("raw unix socket ping-pong: %.0f round trips/s\n", pingPong);
  if (ok) {
    const std::vector<double> idle = serverbench::IdleCpuPercent({server, gateway});
    std::printf(
        "idle, everything connected: beaconhub %.2f%%, relaygate %.2f%% of a CPU over 10 s\n",
        idle[0], idle[1]);
  }
  int value = 0;
  std::vector<pid_t> stalled;
  for (const Phase& ph : phases) {
    for (int c = 0; ok && c < ph.Stalled; ++c) {
      const pid_t pid = StartStopped((fs::path(fw::ParamStr0()).parent_path() / "notifylistener").string());
      ok = pid > 0;
      if (ok) stalled.push_back(pid);
    }
    const int first = value;
    const int count = ph.Transactions * ph.PerTransaction;
    const Clock::time_point start = Clock::now();
    const double gatewayCpu = serverbench::CpuSecondsOf(gateway);
    for (int t = 0; ok && t < ph.Transactions; ++t) {
      plat::LRESULT trans = 0;
      ok = db.SendCustom("DBTrans", 0, Table | ('B' << 8), &trans, 5000);
      const int from = value;
      for (int i = 0; ok && i < ph.PerTransaction; ++i, ++value) {
        ok = db.SendCustom("DBNotification", value, Table | ('I' << 8), nullptr, 5000);
      }
      const int64_t at = nowUs();
      for (int v = from; v < value; ++v) committedUs[v] = at;
      if (ok)
        ok = db.SendCustom("DBTrans", static_cast<plat::WPARAM>(trans), Table | ('E' << 8), nullptr,
                           5000);
      if (ph.PauseUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(ph.PauseUs));
    }
    const double sendSecs = std::chrono::duration<double>(Clock::now() - start).count();
    // Wait for every client to have everything of this phase.
    auto until = Clock::now() + std::chrono::seconds(60);
    auto all = [&] {
      for (const ClientResult& r : results) {
        if (r.Received.load() < value) return false;
      }
      return true;
    };
    while (ok && !all() && Clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double relayCpu = serverbench::CpuSecondsOf(gateway) - gatewayCpu;
    std::vector<int64_t> lat;
    int64_t lastUs = 0;
    int received = 0;
    for (const ClientResult& r : results) {
      for (int v = first; v < value; ++v) {
        if (r.ReceivedUs[v] < 0) continue;
        ++received;
        lat.push_back(r.ReceivedUs[v] - committedUs[v]);
        lastUs = std::max(lastUs, r.ReceivedUs[v]);
      }
    }
    std::sort(lat.begin(), lat.end());
    const double secs =
        (lastUs - std::chrono::duration_cast<std::chrono::microseconds>(start - t0).count()) / 1e6;
    std::printf("%s: %d transactions x %d notifications\n", ph.Name, ph.Transactions,
                ph.PerTransaction);
    std::printf(
        "  database side committed %d notifications in %.3f s (%.0f/s, %.2f x the raw ping-pong)\n",
        count, sendSecs, count / std::max(sendSecs, 1e-9),
        count / std::max(sendSecs, 1e-9) / std::max(pingPong, 1.0));
    std::printf(
        "  delivered %d of %d in %.3f s: %.0f notifications/s per client, %.0f/s to all clients\n",
        received, count * ClientCount, secs, received / ClientCount / std::max(secs, 1e-9),
        received / std::max(secs, 1e-9));
    std::printf("  relaygate used %.3f s of CPU, %.2f us a notification\n", relayCpu,
                relayCpu * 1e6 / std::max(count, 1));
    if (!lat.empty()) {
      auto pct = [&lat](double p) {
        return lat[std::min(lat.size() - 1, static_cast<size_t>(p * lat.size()))];
      };
      std::printf(
          "  latency commit -> client: median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
          pct(0.5) / 1000.0, pct(0.99) / 1000.0, lat.back() / 1000.0);
    }
    ok = ok && received == count * ClientCount;
  }
  int outOfOrder = 0;
  for (const ClientResult& r : results) outOfOrder += r.OutOfOrder;
  std::printf("out of order: %d\n", outOfOrder);

  stop = true;
  // Wake each client's wait so that it sees the stop.
  for (auto& w : windows) plat::PostMessage(w.load(), plat::WM_NULL, 0, 0);
  for (auto& th : threads) th.join();
  for (pid_t pid : stalled) Stop(pid, SIGKILL);
  db.Disconnect(2000);
  Stop(gateway);
  Stop(server);
  fs::remove_all(root);
  return ok ? 0 : 1;
}
