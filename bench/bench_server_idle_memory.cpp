// Memory of the notify server with idle gateway sessions: resident size of
// beaconhub with 0, 1, 100 and 1000 greeted, subscribed sessions that send
// nothing more, and what each session costs.
//
//   bench_server_idle_memory
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ServerBenchSupport.h"
#include "clients/VexaIPCClient.h"

namespace {

using namespace serverbench;

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
  const rlim_t openFiles = PrepareProcess();
  const fs::path root = MakeSession();
  if (root.empty()) return 1;

  Server server = StartServer(root / "bin");
  // The database side connects once, so the channel is up as in production.
  vexa::TVexaIPCClient db("NotifyServerIPC");
  const bool dbOk = db.WaitForServer(30000) && db.Connect();
  std::vector<int> fds;
  std::printf("server idle memory (limit of open files %llu)%s\n",
              static_cast<unsigned long long>(openFiles),
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
    if (!fds.empty())
      std::printf(", %.1f KiB per session above none",
                  (rss - baseRss) / static_cast<double>(fds.size()));
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
