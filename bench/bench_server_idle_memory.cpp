// Memory of the notify server with idle gateway sessions: resident size of
// beaconhub with 0, 1, 100 and 1000 greeted, subscribed sessions that send
// nothing more, and what each session costs.
//
//   bench_server_idle_memory
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// Resident and peak resident size of a process in KiB.
std::pair<long, long> Memory(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  long rss = -1;
  long hwm = -1;
  while (std::getline(f, line)) {
    if (line.rfind("VmRSS:", 0) == 0) rss = std::atol(line.c_str() + 6);
    if (line.rfind("VmHWM:", 0) == 0) hwm = std::atol(line.c_str() + 6);
  }
  return {rss, hwm};
}

}  // namespace

int main() {
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

  Server server = StartServer(root / "bin");
  // The database side connects once, so the channel is up as in production.
  vexa::TVexaIPCClient db("NotifyServerIPC");
  const bool dbOk = db.WaitForServer(30000) && db.Connect();
  std::vector<int> fds;
  std::printf("server idle memory (limit of open files %llu)%s\n", static_cast<unsigned long long>(r.rlim_cur),
              dbOk ? "" : ", database side not connected");
  long baseRss = 0;
  int status = 0;
  for (int target : {0, 1, 100, 1000}) {
    std::vector<int> more = Gateways(server.Port, target - static_cast<int>(fds.size()));
    fds.insert(fds.end(), more.begin(), more.end());
    // Let the server finish the sessions' set-up messages before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto [rss, hwm] = Memory(server.Pid);
    if (target == 0) baseRss = rss;
    std::printf("  %4zu idle sessions: resident %ld KiB (peak %ld KiB)", fds.size(), rss, hwm);
    if (!fds.empty()) std::printf(", %.1f KiB per session above none", (rss - baseRss) / static_cast<double>(fds.size()));
    std::printf("\n");
    if (static_cast<int>(fds.size()) != target) {
      std::printf("  could only open %zu sessions\n", fds.size());
      status = 1;
      break;
    }
  }
  db.Disconnect(2000);
  for (int fd : fds) close(fd);
  StopServer(server);
  fs::remove_all(root);
  return status;
}
