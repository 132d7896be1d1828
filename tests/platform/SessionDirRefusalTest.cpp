// labels: integration
// timeout: 60
// The real programs refuse a session directory that another user owns, that
// others may write, that is a symbolic link or that cannot be used: they name
// it, end with status 1 and leave nothing in it. A directory of their own that
// only they may write is used as before, and so is one shared with its group
// (setgid, group rwx), whose files the group may then use too.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestSession.h"

namespace vexa::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct TProgram {
  std::string Name;
  std::vector<std::string> Args;
};

const std::vector<TProgram>& Programs() {
  static const std::vector<TProgram> programs{{"beaconhub", {}},
                                              {"relaygate", {"REFUSE"}},
                                              {"churnmill", {}},
                                              {"notifylistener", {"REFUSE", "1"}}};
  return programs;
}

// Runs every program with the session directory dir; each must end with
// status 1 and print "<program>: session directory <dir> <reason>; refusing to use it".
void ExpectRefused(const std::string& dir, const std::string& reason) {
  for (const TProgram& p : Programs()) {
    SCOPED_TRACE(p.Name);
    ChildProcess child(BinPath(p.Name), p.Args, {"VEXA_SESSION_DIR=" + dir}, true);
    EXPECT_EQ(child.Wait(20s), std::optional<int>(1));
    std::string out;
    while (auto line = child.ReadLine(100ms)) out += *line + "\n";
    EXPECT_EQ(out, p.Name + ": session directory " + dir + " " + reason + "; refusing to use it\n");
  }
}

bool Empty(const std::string& dir) { return fs::is_empty(dir); }

class SessionDirRefusal : public ::testing::Test {
protected:
  void SetUp() override {
    // The programs never get as far as a display.
    unsetenv("DISPLAY");
  }
  TestSession Session;
};

TEST_F(SessionDirRefusal, ADirectoryOthersMayWriteIsRefused) {
  for (mode_t mode : {0777, 0770, 0702}) {
    const std::string dir = Session.Root() + "/open" + std::to_string(mode);
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(chmod(dir.c_str(), mode), 0);
    char text[8];
    snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
    ExpectRefused(dir, std::string("may be written by others (mode ") + text + ")");
    EXPECT_TRUE(Empty(dir));
  }
}

TEST_F(SessionDirRefusal, ADirectoryAnotherUserOwnsIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "handing a directory to another user needs root";
  const std::string dir = Session.Root() + "/foreign";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
  ExpectRefused(dir, "is owned by another user (uid 65534)");
  EXPECT_TRUE(Empty(dir));
}

TEST_F(SessionDirRefusal, ADirectoryThatCannotBeMadeIsRefused) {
  const std::string file = Session.Root() + "/plainfile";
  std::ofstream(file) << "x";
  ExpectRefused(file, "is not a directory");
  ExpectRefused(file + "/session", "cannot be created: Not a directory");
}

// A link planted where the session is expected (the default /tmp/vexa-<uid>)
// would hand the programs a folder of the planter's choosing.
TEST_F(SessionDirRefusal, ASymbolicLinkIsRefused) {
  const std::string target = Session.Root() + "/target";
  ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
  const std::string link = Session.Root() + "/planted";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ExpectRefused(link, "is a symbolic link");
  EXPECT_TRUE(Empty(target));
}

TEST_F(SessionDirRefusal, AFolderSharedWithItsGroupIsUsedAndItsFilesAreTheGroups) {
  const std::string dir = Session.Root() + "/shared";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(chmod(dir.c_str(), 02770), 0);
  // Another member's folder serves as well.
  if (geteuid() == 0) {
    ASSERT_EQ(chown(dir.c_str(), 65534, getegid()), 0);
  }
  ChildProcess client(BinPath("notifylistener"), {"SHARED", "1"}, {"VEXA_SESSION_DIR=" + dir},
                      true);
  EXPECT_TRUE(
      WaitUntil([&] { return fs::exists(dir + "/msg/counter") && fs::exists(dir + "/atoms"); }));
  EXPECT_TRUE(client.Running());
  // What it made is the group's once made (a file is made, then given its mode).
  auto unshared = [&] {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
      struct stat st {};
      if (lstat(e.path().c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
      if ((st.st_mode & 07777) != (S_ISDIR(st.st_mode) ? 02770u : 0660u)) return e.path().string();
    }
    return std::string();
  };
  EXPECT_TRUE(WaitUntil([&] { return unshared().empty(); })) << unshared();
  client.Signal(SIGTERM);
  EXPECT_EQ(client.Wait(10s), std::optional<int>(0));
}

TEST_F(SessionDirRefusal, AnOwnDirectoryOthersMayOnlyReadIsUsed) {
  const std::string dir = Session.Root() + "/readable";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  // The client waits for its gateway in that session until told to stop.
  ChildProcess client(BinPath("notifylistener"), {"REFUSE", "1"}, {"VEXA_SESSION_DIR=" + dir},
                      true);
  EXPECT_TRUE(WaitUntil([&] { return !Empty(dir); }));
  EXPECT_TRUE(client.Running());
  client.Signal(SIGTERM);
  EXPECT_EQ(client.Wait(10s), std::optional<int>(0));
}

// --help (or -h) is a question, never a channel or a run: every program prints
// its usage on standard output, ends with status 0 and leaves the session untouched.
TEST_F(SessionDirRefusal, HelpPrintsTheUsageAndRunsNothing) {
  const std::string dir = Session.Root() + "/help";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::vector<std::pair<std::string, std::string>> programs{
      {"beaconhub", "usage: beaconhub"},
      {"relaygate", "usage: relaygate [<channel>]"},
      {"churnmill", "usage: churnmill"},
      {"notifylistener", "usage: notifylistener <channel> <table> [<table> ...]"},
      {"vexareg", "usage: vexareg list [KEY]"}};
  for (const auto& [name, usage] : programs) {
    SCOPED_TRACE(name);
    const std::string ask = name.size() % 2 ? "-h" : "--help";
    ChildProcess child(BinPath(name), {ask}, {"VEXA_SESSION_DIR=" + dir});
    EXPECT_EQ(child.Wait(20s), std::optional<int>(0));
    std::string out;
    while (auto line = child.ReadLine(100ms)) out += *line + "\n";
    EXPECT_EQ(out.substr(0, out.find('\n')), usage);
    if (name == "relaygate") {
      EXPECT_NE(out.find("\\Lumidex\\ClientGateway\\<channel>\nvalues Address and Port"), std::string::npos) << out;
    }
    EXPECT_TRUE(Empty(dir));
  }
}

}  // namespace
}  // namespace vexa::test
