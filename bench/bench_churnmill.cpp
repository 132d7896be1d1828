// The demo load generator against a demo database of its own (built by the
// database side's script, opened with the embedded engine):
//   1. committed passes per second at target 100, driven by the form's own
//      trigger timer and the message loop (the timer caps the rate);
//   2. time per pass, passes run back to back;
//   3. the share of that time spent in the three notify procedure calls.
// Each is measured without a notify server and, when beaconhub lies beside
// this program, with it running (the procedures then reach it over the
// local channel).
//   bench_churnmill [seconds at target 100] [back-to-back passes]
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ServerBenchSupport.h"
#include "demo/ChurnmillMain.h"
#include "framework/Forms.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"
#include "platform/kernel/Kernel.h"

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Times the three procedure calls.
class TTimedForm : public vexa::TFrmChurnmillMain {
public:
  using TFrmChurnmillMain::TFrmChurnmillMain;
  double ProcSeconds = 0;
  int ProcCalls = 0;
  int32_t BeginNotifyTrans(int32_t TableID) override {
    auto t = Clock::now();
    int32_t r = TFrmChurnmillMain::BeginNotifyTrans(TableID);
    Note(t);
    return r;
  }
  void EndNotifyTrans(int32_t TableID, int32_t TransID) override {
    auto t = Clock::now();
    TFrmChurnmillMain::EndNotifyTrans(TableID, TransID);
    Note(t);
  }
  void CancelNotifyTrans(int32_t TableID, int32_t TransID) override {
    auto t = Clock::now();
    TFrmChurnmillMain::CancelNotifyTrans(TableID, TransID);
    Note(t);
  }

private:
  void Note(Clock::time_point t) {
    ProcSeconds += Seconds(t, Clock::now());
    ++ProcCalls;
  }
};

pid_t StartBeaconhub(const std::string& binDir, const std::string& dir) {
  std::string source = binDir + "/beaconhub";
  if (access(source.c_str(), X_OK) != 0) return -1;
  std::string target = dir + "/beaconhub";
  fs::copy_file(source, target, fs::copy_options::overwrite_existing);
  std::ofstream(dir + "/beaconhub.ini") << "[Server]\nAddress=127.0.0.1\nPort=" << serverbench::FreePort()
                                        << "\nMaxClients=0\n[Client]\nFlushInterval=20\n";
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(target.c_str(), target.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

struct Result {
  double TimerRate = 0;
  double PassMs = 0;
  double P50 = 0, P99 = 0;
  double ProcShare = 0;
  double ProcMs = 0;
};

Result Measure(double seconds, int passes, bool waitForServer) {
  Result r;
  TTimedForm* f = fw::CreateFormOf<TTimedForm>(nullptr);
  f->tmrDisplay->SetEnabled(false);
  f->btnShakeClick(f->btnShake);
  if (f->btnShake->Tag() != 1) {
    std::fprintf(stderr, "the run did not start\n");
    fw::Free(f);
    return r;
  }
  if (waitForServer) {
    // The notify server is up once it hands out transaction ids.
    for (int i = 0; i < 200; ++i) {
      int32_t id = f->BeginNotifyTrans(vexa::DemoTableID);
      if (id != 0) {
        f->CancelNotifyTrans(vexa::DemoTableID, id);
        break;
      }
      plat::Sleep(50);
    }
  }

  // 1. The timer at target 100.
  while (f->updTPSTarget->Position() < 100) f->updTPSTarget->ClickButton(fw::btNext);
  f->CommitCount = 0;
  auto start = Clock::now();
  while (Seconds(start, Clock::now()) < seconds) fw::Application->HandleMessage();
  r.TimerRate = f->CommitCount / Seconds(start, Clock::now());
  f->tmrTrigger->SetEnabled(false);
  fw::Application->ProcessMessages();

  // 2 and 3. Back to back.
  std::vector<double> each;
  f->ProcSeconds = 0;
  f->ProcCalls = 0;
  int commits = f->CommitCount;
  start = Clock::now();
  for (int i = 0; i < passes; ++i) {
    auto t = Clock::now();
    f->tmrTriggerTimer(f->tmrTrigger);
    each.push_back(Seconds(t, Clock::now()) * 1000);
  }
  double total = Seconds(start, Clock::now());
  commits = f->CommitCount - commits;
  std::sort(each.begin(), each.end());
  r.PassMs = total * 1000 / passes;
  r.P50 = each[each.size() / 2];
  r.P99 = each[each.size() * 99 / 100];
  r.ProcShare = total > 0 ? f->ProcSeconds / total : 0;
  r.ProcMs = f->ProcCalls ? f->ProcSeconds * 1000 / f->ProcCalls : 0;
  if (commits != passes) std::printf("  (%d of %d passes committed)\n", commits, passes);
  f->btnShakeClick(f->btnShake);
  fw::Free(f);
  return r;
}

void Print(const char* title, const Result& r) {
  std::printf("%s\n", title);
  std::printf("  committed passes per second at target 100 (timer):  %8.1f\n", r.TimerRate);
  std::printf(
      "  time per pass, back to back:                        %8.3f ms (median %.3f, 99th %.3f)\n",
      r.PassMs, r.P50, r.P99);
  std::printf("  back-to-back passes per second:                     %8.1f\n",
              r.PassMs > 0 ? 1000 / r.PassMs : 0);
  std::printf("  share of pass time in the three procedure calls:    %8.1f %% (%.3f ms per call)\n",
              r.ProcShare * 100, r.ProcMs);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  int passes = argc > 2 ? std::atoi(argv[2]) : 2000;
  if (seconds <= 0) seconds = 5.0;
  if (passes <= 0) passes = 2000;

  std::string binDir = fw::ExtractFilePath(fw::ParamStr0());
  binDir.pop_back();
  std::string buildDir = binDir.substr(0, binDir.rfind('/'));
  char pattern[] = "/tmp/vexa-bench-churnmill-XXXXXX";
  std::string root = mkdtemp(pattern);
  for (const char* d : {"/session", "/registry", "/lock"}) mkdir((root + d).c_str(), 0700);
  setenv("VEXA_SESSION_DIR", (root + "/session").c_str(), 1);
  setenv("VEXA_REGISTRY_DIR", (root + "/registry").c_str(), 1);
  setenv("FIREBIRD_LOCK", (root + "/lock").c_str(), 1);

  std::string db = root + "/KWV_DEMO.GDB";
  std::string build = "bash '" + buildDir + "/dbside/build-demo-db.sh' --build '" + buildDir +
                      "' --output '" + db + "' --rows 300 > /dev/null";
  if (std::system(build.c_str()) != 0) {
    std::fprintf(stderr,
                 "building the demo database failed (build the target vexa_notify_udr first)\n");
    return 1;
  }
  {
    fw::TRegistry reg;
    reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
    reg.OpenKey(vexa::ChurnmillRegistryKey, true);
    reg.WriteString(vexa::ChurnmillDatabaseValue, db);
  }
  // The statements go to standard output without a display; keep the figures readable.
  std::fflush(stdout);
  int saved = dup(1);
  int null = open("/dev/null", O_WRONLY);

  dup2(null, 1);
  Result alone = Measure(seconds, passes, false);
  std::fflush(stdout);
  dup2(saved, 1);
  std::printf("churnmill: %.0f s at target 100, %d passes back to back, 300 seeded rows\n", seconds,
              passes);
  Print("without a notify server (procedures answer TransID 0):", alone);

  pid_t hub = StartBeaconhub(binDir, root);
  if (hub > 0) {
    std::fflush(stdout);
    dup2(null, 1);
    Result served = Measure(seconds, passes, true);
    std::fflush(stdout);
    dup2(saved, 1);
    Print("with beaconhub (procedures and triggers reach it over the local channel):", served);
    kill(hub, SIGTERM);
    waitpid(hub, nullptr, 0);
  } else {
    std::printf("beaconhub not found beside this program: measured without a notify server only\n");
  }
  fw::DoneApplication();
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
