// Notifications per second from the database side into the notify server,
// counted at the receiving gateway sockets, with 1, 10 and 100 subscribed
// gateway sessions, beside a raw Unix-socket ping-pong of the same run; then
// the intake with this process and the server pinned to one CPU, and the CPU
// time an idle server uses over 10 s.
//
// A private session runs beaconhub (flush interval 10 ms); this program plays
// the database side on its channel and reads every session's socket.
//
//   bench_server_fanout [transactions] [notifications per transaction]
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "ServerBenchSupport.h"
#include "clients/VexaIPCClient.h"

namespace {

using namespace serverbench;
using Clock = std::chrono::steady_clock;

struct Figures {
  double Intake = 0;    // notifications/s the database side got rid of
  double Delivered = 0; // records/s arriving at all sessions together
};

Figures RunOnce(const fs::path& dir, int sessions, int transactions, int perTrans,
                bool measureIdle = false) {
  Figures fig;
  Server server = StartServer(dir);
  std::vector<int> fds = Gateways(server.Port, sessions);
  vexa::TVexaIPCClient db("NotifyServerIPC");
  bool ok = static_cast<int>(fds.size()) == sessions && db.WaitForServer(30000) && db.Connect();
  if (!ok) {
    std::printf("  %3d sessions: could not set up (%zu connected)\n", sessions, fds.size());
    for (int fd : fds) close(fd);
    StopServer(server);
    return fig;
  }
  if (measureIdle) {
    const double idle = IdleCpuPercent({server.Pid})[0];
    std::printf(
        "  idle beaconhub (database side and %d session connected): %.2f%% of a CPU over 10 s\n",
        sessions, idle);
  }
  const int64_t total = static_cast<int64_t>(transactions) * perTrans;
  const int64_t expectBytes = total * 8;

  std::atomic<int64_t> receivedBytes{0};
  Clock::time_point lastByte;
  std::thread reader([&] {
    std::vector<int64_t> got(fds.size(), 0);
    std::vector<pollfd> pfds;
    for (int fd : fds) pfds.push_back({fd, POLLIN, 0});
    size_t done = 0;
    char buf[65536];
    while (done < fds.size()) {
      if (poll(pfds.data(), pfds.size(), 30000) <= 0) break;
      for (size_t i = 0; i < pfds.size(); ++i) {
        if (!(pfds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t r = recv(pfds[i].fd, buf, sizeof buf, 0);
        if (r <= 0) {
          pfds[i].fd = -1;
          ++done;
          continue;
        }
        got[i] += r;
        receivedBytes += r;
        if (got[i] >= expectBytes) {
          pfds[i].fd = -1;
          ++done;
        }
      }
    }
    lastByte = Clock::now();
  });

  const Clock::time_point start = Clock::now();
  int32_t value = 0;
  for (int t = 0; ok && t < transactions; ++t) {
    plat::LRESULT id = 0;
    ok = db.SendCustom("DBTrans", 0, Table | ('B' << 8), &id, 10000);
    for (int i = 0; ok && i < perTrans; ++i) {
      ok = db.SendCustom("DBNotification", ++value, Table | ('I' << 8), nullptr, 10000);
    }
    if (ok)
      ok = db.SendCustom("DBTrans", static_cast<plat::WPARAM>(id), Table | ('E' << 8), nullptr,
                         10000);
  }
  const Clock::time_point sent = Clock::now();
  reader.join();

  const double sendSecs = std::chrono::duration<double>(sent - start).count();
  const double secs = std::chrono::duration<double>(lastByte - start).count();
  const int64_t records = receivedBytes.load() / 8;
  std::printf(
      "  %3d sessions: database side sent %lld notifications in %.3f s (%.0f/s); "
      "%lld of %lld records arrived in %.3f s: %.0f notifications/s per session, %.0f records/s in "
      "all\n",
      sessions, static_cast<long long>(total), sendSecs, total / std::max(sendSecs, 1e-9),
      static_cast<long long>(records), static_cast<long long>(total * sessions), secs,
      records / static_cast<double>(sessions) / std::max(secs, 1e-9),
      records / std::max(secs, 1e-9));
  fig.Intake = total / std::max(sendSecs, 1e-9);
  fig.Delivered = records / std::max(secs, 1e-9);
  db.Disconnect(2000);
  for (int fd : fds) close(fd);
  StopServer(server);
  return fig;
}

}  // namespace

int main(int argc, char** argv) {
  const int transactions = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int perTrans = argc > 2 ? std::atoi(argv[2]) : 10;
  PrepareProcess();
  const fs::path root = MakeSession();
  if (root.empty()) return 1;

  const double raw = RawPingPong();
  std::printf("server fan-out: %d transactions x %d notifications, flush interval 10 ms\n",
              transactions, perTrans);
  std::printf("  raw unix socket ping-pong: %.0f round trips/s\n", raw);
  Figures one;
  for (int sessions : {1, 10, 100}) {
    Figures f = RunOnce(root / "bin", sessions, transactions, perTrans);
    if (sessions == 1) one = f;
  }
  std::printf("  intake, 1 session / raw ping-pong: %.2f (target 5, aim 20)\n",
              one.Intake / std::max(raw, 1.0));

  // Both processes on one CPU: spinning must not cost anything there.
  const cpu_set_t all = PinToOneCpu();
  const double rawPinned = RawPingPong();
  std::printf("pinned to one CPU (server and database side):\n");
  std::printf("  raw unix socket ping-pong: %.0f round trips/s\n", rawPinned);
  Figures pinned = RunOnce(root / "bin", 1, transactions, perTrans);
  std::printf("  intake / raw ping-pong: %.2f\n", pinned.Intake / std::max(rawPinned, 1.0));
  RestoreCpus(all);

  std::printf("idle:\n");
  RunOnce(root / "bin", 1, 1, 1, true);
  fs::remove_all(root);
  return 0;
}
