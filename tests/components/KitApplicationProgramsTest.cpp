// labels: integration
// timeout: 120
// Each program of the system makes the library's application object at its
// start: the mutex named after the program file is there while the program
// runs, before anything else asks for the object, and is gone once it ended.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/kernel/Kernel.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// True when some process of the session holds the named mutex open.
bool MutexOpen(const std::string& name) {
  plat::HANDLE h = plat::CreateMutex(name, false);
  bool existed = plat::GetLastError() == plat::ERROR_ALREADY_EXISTS;
  if (h) plat::CloseHandle(h);
  return h != 0 && existed;
}

class KitApplicationPrograms : public ::testing::TestWithParam<const char*> {};

TEST_P(KitApplicationPrograms, ProgramMutexLivesExactlyAsLongAsTheProgram) {
  test::TestSession session;
  const std::string name = GetParam();
  // Programs read their INI file beside themselves: each runs as a copy.
  fs::path dir = fs::path(session.Root()) / "app";
  const std::string path = test::CopyProgram(name, dir.string());
  const int port = test::FreeTcpPort();
  std::ofstream(dir / (name + ".ini"))
      << "[Server]\nAddress=127.0.0.1\nPort=" << port << "\n[Connection Polling]\nDuration=0\n";
  // Without a notify server to poll, relaygate would end at once.
  std::ofstream(session.RegistryDir() + "/HKEY_LOCAL_MACHINE.reg")
      << "[Software\\VEXA Software\\Lumidex\\ClientGateway\\Default]\n"
      << "\"Address\"=\"127.0.0.1\"\n\"Port\"=\"" << port << "\"\n";
  ASSERT_FALSE(MutexOpen(name));

  test::ChildProcess program(path, {}, {}, true);
  // The program is up once it catches SIGTERM as a request to close.
  auto catchesTerm = [&] {
    std::ifstream status("/proc/" + std::to_string(program.Pid()) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("SigCgt:", 0) == 0)
        return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
    return 0ull;
  };
  ASSERT_TRUE(test::WaitUntil([&] { return catchesTerm() != 0; }, 30s)) << name << " did not start";
  EXPECT_TRUE(MutexOpen(name)) << name << " runs without its mutex";
  EXPECT_TRUE(program.Running()) << name << " ended early";

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(30s), std::optional<int>(0)) << name;
  EXPECT_FALSE(MutexOpen(name)) << name << " left its mutex behind";
}

INSTANTIATE_TEST_SUITE_P(EachProgram, KitApplicationPrograms,
                         ::testing::Values("beaconhub", "relaygate", "churnmill"));

}  // namespace
}  // namespace vexa
