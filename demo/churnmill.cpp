// churnmill: the demo load generator. It changes the demo database at a chosen
// rate so that the notify server and the gateways have something to carry.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "components/KitApplication.h"
#include "demo/ChurnmillMain.h"
#include "demo/OSUtils.h"
#include "framework/Forms.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/ProgramStart.h"

namespace {

// Once the loop has ended, every pass is committed or rolled back before the
// connection goes. Now and then the embedded engine does not return from
// letting the database go: the program then leaves without it after a few
// seconds instead of hanging, since the database needs nothing more from it.
class TLeaveGuard {
public:
  explicit TLeaveGuard(std::chrono::seconds Limit)
      : FThread([this, Limit] {
          std::unique_lock<std::mutex> lock(FMu);
          if (FCv.wait_for(lock, Limit, [this] { return FDone; })) return;
          std::fflush(stdout);
          std::fputs(
              "churnmill: the database engine did not finish closing the database; leaving\n",
              stderr);
          _exit(0);
        }) {}
  ~TLeaveGuard() {
    {
      std::lock_guard<std::mutex> lock(FMu);
      FDone = true;
    }
    FCv.notify_all();
    FThread.join();
  }

private:
  std::mutex FMu;
  std::condition_variable FCv;
  bool FDone = false;
  std::thread FThread;
};

const char* const kUsage =
    "usage: churnmill\n"
    "The demo load generator: inserts, deletes and updates rows of the demo table at\n"
    "1 to 100 transactions per second, set in its window (\"Start Shaking\" starts).\n"
    "The demo database is named by the machine setting\n"
    "  HKEY_LOCAL_MACHINE\\Software\\VEXA Software\\Lumidex\\NotifyServer DezazErurDB\n"
    "and is otherwise Data/KWV_DEMO.GDB beside the program.\n";

}  // namespace

int main(int argc, char** argv) {
  if (plat::AnswerHelp(argc, argv, kUsage)) return 0;
  if (plat::SessionRefused("churnmill")) return 1;
  plat::RaiseDescriptorLimit();
  vexa::TKitClassUnit kitclass;
  vexa::OSUtils::Initialize();
  fw::Application->Initialize();
  fw::Application->SetTitle("Churnmill");
  fw::Application->CreateForm(vexa::FrmChurnmillMain);
  fw::Application->Run();
  {
    TLeaveGuard guard(std::chrono::seconds(5));
    fw::DoneApplication();
  }
  vexa::OSUtils::Finalize();
  return plat::ProgramStatus(0);
}
