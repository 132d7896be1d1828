// What the notify-server benchmarks share: a private session with its own copy
// of beaconhub, starting and stopping that server, and gateway sessions that
// connect, read the greeting and subscribe to one table.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
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
#include <initializer_list>
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

// A loopback port the kernel hands out is free a moment later.
inline int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  if (fd >= 0) close(fd);
  return port ? port : 47000 + getpid() % 1000;
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
// process (and the programs it starts) and a bin folder holding copies of
// Programs from beside this program. Answers the root, or an empty path.
inline fs::path MakeSession(std::initializer_list<const char*> Programs = {"beaconhub"}) {
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
  for (const char* p : Programs) fs::copy_file(binDir / p, root / "bin" / p);
  return root;
}

// Round trips per second of a raw Unix-socket ping-pong between this process
// and a forked child, with packets the size of one message: the baseline the
// cross-process figures of the same run are compared with.
inline double RawPingPong(long trips = 20000) {
  constexpr size_t kPacket = 36;
  int sp[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sp) != 0) return 0;
  pid_t child = fork();
  if (child == 0) {
    close(sp[0]);
    char buf[kPacket];
    for (;;) {
      ssize_t n = recv(sp[1], buf, sizeof buf, 0);
      if (n <= 0 || send(sp[1], buf, static_cast<size_t>(n), 0) != n) _exit(0);
    }
  }
  close(sp[1]);
  char buf[kPacket] = {};
  auto trip = [&] {
    return send(sp[0], buf, sizeof buf, 0) == static_cast<ssize_t>(sizeof buf) &&
           recv(sp[0], buf, sizeof buf, 0) > 0;
  };
  bool ok = true;
  for (long i = 0; ok && i < trips / 10; ++i) ok = trip();  // warm up
  const auto t0 = std::chrono::steady_clock::now();
  for (long i = 0; ok && i < trips; ++i) ok = trip();
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  close(sp[0]);
  waitpid(child, nullptr, 0);
  return ok ? static_cast<double>(trips) / secs : 0;
}

// User and system CPU seconds a process has used so far (-1 when unknown).
inline double CpuSecondsOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  // After the command: state is field 3; utime and stime are fields 14 and 15.
  std::vector<std::string> f;
  size_t pos = close + 2;
  while (pos < stat.size() && f.size() < 13) {
    size_t end = stat.find(' ', pos);
    if (end == std::string::npos) end = stat.size();
    f.push_back(stat.substr(pos, end - pos));
    pos = end + 1;
  }
  if (f.size() < 13) return -1;
  return (std::atof(f[11].c_str()) + std::atof(f[12].c_str())) /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU time several idle processes use over the same stretch, in percent of one CPU.
inline std::vector<double> IdleCpuPercent(const std::vector<pid_t>& pids, int seconds = 10) {
  std::vector<double> before;
  for (pid_t p : pids) before.push_back(CpuSecondsOf(p));
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  std::vector<double> out;
  for (size_t i = 0; i < pids.size(); ++i)
    out.push_back((CpuSecondsOf(pids[i]) - before[i]) * 100.0 / seconds);
  return out;
}

// Pins the calling thread (and what it starts later) to one CPU it may run
// on; answers the mask to restore.
inline cpu_set_t PinToOneCpu() {
  cpu_set_t old;
  CPU_ZERO(&old);
  sched_getaffinity(0, sizeof old, &old);
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (!CPU_ISSET(c, &old)) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(c, &one);
    sched_setaffinity(0, sizeof one, &one);
    break;
  }
  return old;
}

inline void RestoreCpus(const cpu_set_t& mask) { sched_setaffinity(0, sizeof mask, &mask); }

}  // namespace serverbench
