// Notifications per second from the database side into the notify server,
// counted at the receiving gateway sockets, with 1, 10 and 100 subscribed
// gateway sessions.
//
// A private session runs beaconhub (flush interval 10 ms); this program plays
// the database side on its channel and reads every session's socket.
//
//   bench_server_fanout [transactions] [notifications per transaction]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "clients/VexaIPCClient.h"
#include "framework/SysUtils.h"
#include "platform/kernel/Kernel.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int Table = 1;

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(fd);
  return port;
}

int ConnectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads exactly n bytes (blocking, with a limit); false on close or time-out.
bool ReadExact(int fd, size_t n, std::string* out = nullptr) {
  std::string buf;
  while (buf.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) return false;
    char tmp[4096];
    ssize_t r = recv(fd, tmp, std::min(sizeof tmp, n - buf.size()), 0);
    if (r <= 0) return false;
    buf.append(tmp, static_cast<size_t>(r));
  }
  if (out) *out = buf;
  return true;
}

struct Server {
  pid_t Pid = -1;
  int Port = 0;
};

Server StartServer(const fs::path& dir) {
  Server s;
  s.Port = FreePort();
  std::ofstream(dir / "beaconhub.ini") << "[Server]\nAddress=127.0.0.1\nPort=" << s.Port
                                       << "\nMaxClients=0\n[Client]\nFlushInterval=10\n";
  const std::string path = (dir / "beaconhub").string();
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  if (posix_spawn(&s.Pid, path.c_str(), &fa, nullptr, argv, environ) != 0) s.Pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return s;
}

void StopServer(Server& s) {
  if (s.Pid <= 0) return;
  kill(s.Pid, SIGTERM);
  int status = 0;
  waitpid(s.Pid, &status, 0);
  s.Pid = -1;
}

// Connects and subscribes n gateway sessions; the listener may still be
// starting, so the first connect is retried.
std::vector<int> Gateways(int port, int n) {
  std::vector<int> fds;
  for (int i = 0; i < n; ++i) {
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 500; ++attempt) {
      fd = ConnectTo(port);
      if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0) break;
    std::string greeting;
    const std::string sub = "S " + std::to_string(Table) + "\r\n";
    if (!ReadExact(fd, 20, &greeting) || send(fd, sub.data(), sub.size(), MSG_NOSIGNAL) < 0 ||
        !ReadExact(fd, 8)) {
      close(fd);
      break;
    }
    fds.push_back(fd);
  }
  return fds;
}

void RunOnce(const fs::path& dir, int sessions, int transactions, int perTrans) {
  Server server = StartServer(dir);
  std::vector<int> fds = Gateways(server.Port, sessions);
  vexa::TVexaIPCClient db("NotifyServerIPC");
  bool ok = static_cast<int>(fds.size()) == sessions && db.WaitForServer(30000) && db.Connect();
  if (!ok) {
    std::printf("  %3d sessions: could not set up (%zu connected)\n", sessions, fds.size());
    for (int fd : fds) close(fd);
    StopServer(server);
    return;
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
    if (ok) ok = db.SendCustom("DBTrans", static_cast<plat::WPARAM>(id), Table | ('E' << 8), nullptr, 10000);
  }
  const Clock::time_point sent = Clock::now();
  reader.join();

  const double sendSecs = std::chrono::duration<double>(sent - start).count();
  const double secs = std::chrono::duration<double>(lastByte - start).count();
  const int64_t records = receivedBytes.load() / 8;
  std::printf("  %3d sessions: database side sent %lld notifications in %.3f s (%.0f/s); "
              "%lld of %lld records arrived in %.3f s: %.0f notifications/s per session, %.0f records/s in all\n",
              sessions, static_cast<long long>(total), sendSecs, total / std::max(sendSecs, 1e-9),
              static_cast<long long>(records), static_cast<long long>(total * sessions), secs,
              records / static_cast<double>(sessions) / std::max(secs, 1e-9), records / std::max(secs, 1e-9));
  db.Disconnect(2000);
  for (int fd : fds) close(fd);
  StopServer(server);
}

}  // namespace

int main(int argc, char** argv) {
  const int transactions = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int perTrans = argc > 2 ? std::atoi(argv[2]) : 10;
  signal(SIGPIPE, SIG_IGN);
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) == 0) {
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
  }

  char tmpl[] = "/tmp/vexa-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const fs::path root = tmpl;
  fs::create_directories(root / "session");
  fs::create_directories(root / "registry");
  fs::create_directories(root / "bin");
  setenv("VEXA_SESSION_DIR", (root / "session").c_str(), 1);
  setenv("VEXA_REGISTRY_DIR", (root / "registry").c_str(), 1);
  plat::ResetSessionDirForTesting();
  const fs::path binDir = fs::path(fw::ParamStr0()).parent_path();
  fs::copy_file(binDir / "beaconhub", root / "bin" / "beaconhub");

  std::printf("server fan-out: %d transactions x %d notifications, flush interval 10 ms\n", transactions,
              perTrans);
  for (int sessions : {1, 10, 100}) RunOnce(root / "bin", sessions, transactions, perTrans);
  fs::remove_all(root);
  return 0;
}
