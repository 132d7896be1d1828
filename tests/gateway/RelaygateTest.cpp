// labels: integration
// timeout: 120
// The relaygate program without a display: its trace on standard output, the
// settings dialog's headless answer, its INI file and its end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/Registry.h"
#include "gateway/KWVReg.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Files.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/StrayMessages.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
namespace fs = std::filesystem;

class RelaygateTest : public ::testing::Test {
protected:
  test::TestSession Session;
  // The INI file lies beside the program: each test has its own copy.
  test::ProgramCopy Copy{"relaygate", Session.Root() + "/bin"};
  const std::string Program = Copy.Path();
};

// Without a display nobody can give the missing settings: it says how to set
// them and ends with status 1.
TEST_F(RelaygateTest, WithoutSettingsItSaysHowToSetThemAndEnds) {
  ChildProcess p(Program, {" Lab "});
  ASSERT_TRUE(p.WaitForLine("the notify server address and port of provider channel \"Lab\" are missing", 10000ms));
  ASSERT_TRUE(p.WaitForLine("vexareg write \"HKEY_LOCAL_MACHINE\\Software\\VEXA Software\\Lumidex\\ClientGateway\\Lab\" Address", 5000ms));
  EXPECT_EQ(p.Wait(10000ms), 1);
  for (const std::string& line : p.Lines()) EXPECT_EQ(line.find("Checking for Notify Server"), std::string::npos);
  // The end went through the form's destruction: the INI values are saved.
  std::string ini = Copy.ReadIni();
  EXPECT_NE(ini.find("[MainWindow]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[Connection Polling]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Interval=10"), std::string::npos) << ini;
}

// A settings file it cannot read or write keeps what the operator put in it;
// one line names it, and the gateway runs on.
TEST_F(RelaygateTest, SettingsFileThatCannotBeReadOrWrittenIsLeftAsItIs) {
  WriteProviderSettings("Files", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  const std::string text =
      "; the operator's\n[Client]\nMaxBacklogKB=512\n[Connection Polling]\nInterval=0\n";
  auto runLeavesItAsItIs = [&](const std::string& line) {
    const std::string before = test::FileState(Copy.IniPath());
    ChildProcess p(Program, {"Files"});
    ASSERT_TRUE(p.WaitForLine(" Checking for Notify Server", 10000ms));
    EXPECT_EQ(test::Terminate(p), 0);
    while (p.ReadLine(1000ms)) {
    }
    EXPECT_EQ(test::CountLines(p, "Settings file "), 1);
    EXPECT_EQ(test::CountLines(p, line), 1) << line;
    EXPECT_EQ(test::FileState(Copy.IniPath()), before);
  };
  for (const test::UnreadableFile& file : test::UnreadableFiles()) {
    SCOPED_TRACE(file.Problem);
    fs::remove_all(Copy.IniPath());
    file.Make(Copy.IniPath(), text);
    runLeavesItAsItIs("Settings file " + Copy.IniPath() + " " + file.Problem +
                      ": the gateway runs on its defaults and leaves the file as it is");
  }
  // Read-only: read at the start, and left as it is when the values are saved.
  fs::remove_all(Copy.IniPath());
  Copy.WriteIni(text);
  ASSERT_EQ(chmod(Copy.IniPath().c_str(), 0444), 0);
  runLeavesItAsItIs("Settings file " + Copy.IniPath() + " cannot be written: it is left as it is");
}

TEST_F(RelaygateTest, StoredBoundsAreFittedToTheScreenAndOnlyTheStartSectionIsRead) {
  Copy.WriteIni("[Main Gateway Window]\nWidth=5000\nHeight=100\nTop=10\nLeft=-20\n"
                "[MainWindow]\nWidth=300\nHeight=300\nTop=300\nLeft=300\n"
                "[Connection Polling]\nDuration=3\nInterval=7\n");
  ChildProcess p(Program, {"Bounds"});
  ASSERT_TRUE(p.WaitForLine("are missing", 10000ms));
  EXPECT_EQ(p.Wait(10000ms), 1);
  std::string ini = Copy.ReadIni();
  // Headless the screen is 1024 x 768.
  EXPECT_NE(ini.find("[MainWindow]\nWidth=1024\nHeight=100\nTop=10\nLeft=0\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Duration=3"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Interval=7"), std::string::npos) << ini;
}

TEST_F(RelaygateTest, ChannelInQuotesPollsAndRecordsItsLocation) {
  WriteProviderSettings("Quoted Chan", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Copy.WriteIni("[Connection Polling]\nInterval=-2\n");
  ChildProcess p(Program, {"\"Quoted Chan\""});
  ASSERT_TRUE(p.WaitForLine("Poll interval -2 is negative: no retry", 10000ms));
  ASSERT_TRUE(p.WaitForLine(" Checking for Notify Server", 10000ms));
  fw::TRegistry reg;
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey(GatewayChannelKey("Quoted Chan"), false));
  EXPECT_EQ(reg.ReadString("Params"), "\"Quoted Chan\"");
  EXPECT_EQ(fs::path(reg.ReadString("Location")).filename(), "relaygate");
  reg.CloseKey();
  EXPECT_EQ(test::Terminate(p), 0);
}

TEST_F(RelaygateTest, SecondGatewayOnAChannelOnlyTracesAnError) {
  WriteProviderSettings("Twin", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Copy.WriteIni("[Connection Polling]\nInterval=0\n");
  ChildProcess first(Program, {"Twin"});
  ASSERT_TRUE(first.WaitForLine(" Checking for Notify Server", 10000ms));
  ChildProcess second(Program, {"Twin"});
  ASSERT_TRUE(second.WaitForLine("ERROR: Provider already exists to service provider channel: \"Twin\"", 10000ms));
  // Its TCP side polls regardless.
  ASSERT_TRUE(second.WaitForLine(" Checking for Notify Server", 10000ms));
  EXPECT_EQ(test::Terminate(second), 0);
  EXPECT_EQ(test::Terminate(first), 0);
}

TEST_F(RelaygateTest, StrayQuitAndCloseFromAnotherProgramLeaveTheChannelServing) {
  WriteProviderSettings("Stray", "127.0.0.1", std::to_string(test::FreeTcpPort()));
  Copy.WriteIni("[Connection Polling]\nInterval=0\n");
  ChildProcess p(Program, {"Stray"});
  ASSERT_TRUE(p.WaitForLine(" Checking for Notify Server", 10000ms));
  const plat::HWND channel = test::SendStrayCloseAndQuit("Stray");
  ASSERT_NE(channel, 0u);
  for (const char* kind : {"WM_CLOSE", "WM_SYSCOMMAND SC_CLOSE", "WM_QUIT"}) {  // in any order
    EXPECT_TRUE(p.Printed(std::string("SIPC:: Ignored ") + kind + " sent to the channel window of \"Stray\"", 10000ms))
        << kind;
  }
  // It serves on: a local client joins, and it ends only on SIGTERM.
  TVexaIPCClient client("Stray");
  EXPECT_TRUE(client.FindServer(10000) && client.Connect(10000));
  EXPECT_EQ(client.ServerHandle(), channel);
  EXPECT_EQ(test::Terminate(p), 0);
}

}  // namespace
}  // namespace vexa
