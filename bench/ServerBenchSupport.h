// What the notify-server benchmarks share: a private session with its own copy
// of beaconhub, starting and stopping that server, and gateway sessions that
// connect, read the greeting and subscribe to one table.
#pragma once

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
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/SysUtils.h"
#include "platform/kernel/Kernel.h"

extern char** environ;

namespace serverbench {

namespace fs = std::filesystem;
// The table every gateway session subscribes to.
constexpr int Table = 1;

inline int FreePort() {
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

inline int ConnectTo(int port) {
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
inline bool ReadExact(int fd, size_t n, std::string* out = nullptr) {
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

// Writes beaconhub.ini (loopback, a free port, no client limit, flush
// interval 10 ms) next to dir/beaconhub and starts it with stdout discarded.
inline Server StartServer(const fs::path& dir) {
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

inline void StopServer(Server& s) {
  if (s.Pid <= 0) return;
  kill(s.Pid, SIGTERM);
  int status = 0;
  waitpid(s.Pid, &status, 0);
  s.Pid = -1;
}

// Connects and subscribes n gateway sessions; the listener may still be
// starting, so the first connect is retried.
inline std::vector<int> Gateways(int port, int n) {
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

// Ignores SIGPIPE and raises the limit of open files as far as allowed;
// answers the limit now in force.
inline rlim_t PrepareProcess() {
  signal(SIGPIPE, SIG_IGN);
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) == 0) {
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
  }
  return r.rlim_cur;
}

// Makes a temporary root with a private session and registry for this
// process (and the server it starts) and a bin folder holding a copy of
// beaconhub from beside this program. Answers the root, or an empty path.
inline fs::path MakeSession() {
  char tmpl[] = "/tmp/vexa-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return {};
  const fs::path root = tmpl;
  fs::create_directories(root / "session");
  fs::create_directories(root / "registry");
  fs::create_directories(root / "bin");
  setenv("VEXA_SESSION_DIR", (root / "session").c_str(), 1);
  setenv("VEXA_REGISTRY_DIR", (root / "registry").c_str(), 1);
  plat::ResetSessionDirForTesting();
  const fs::path binDir = fs::path(fw::ParamStr0()).parent_path();
  fs::copy_file(binDir / "beaconhub", root / "bin" / "beaconhub");
  return root;
}

}  // namespace serverbench
