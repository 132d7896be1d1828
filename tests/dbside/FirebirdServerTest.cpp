// labels: e2e
// timeout: 300
// The database side under Debian's Firebird server, as operators run it: the
// server runs as its own account (firebird) with nothing of our environment,
// on a loopback port, configuration, lock folder and security database of its
// own, and loads this build's module, whose session is named in the
// configuration folder (vexa_notify.conf). The session folder is shared with
// the server's group; beaconhub, relaygate and a listener run in it as this
// test's account. Needs root and the package firebird3.0-server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gateway/KWVReg.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSession.h"

namespace vexa::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kServerProgram = "/usr/sbin/firebird";
constexpr const char* kServerFiles = "/usr/lib/x86_64-linux-gnu/firebird/3.0";
constexpr const char* kSecurityDb = "/var/lib/firebird/3.0/system/security3.fdb";

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

void ChownTree(const std::string& dir, uid_t uid, gid_t gid) {
  for (const auto& e : fs::recursive_directory_iterator(dir)) lchown(e.path().c_str(), uid, gid);
  lchown(dir.c_str(), uid, gid);
}

bool LoopbackConnects(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

std::string Notification(char code, int32_t id) {
  return "Notification table=1 code=" + std::string(1, code) + " value=" + std::to_string(id);
}

class FirebirdServer : public ::testing::Test {
protected:
  void SetUp() override {
    const passwd* account = getpwnam("firebird");
    if (geteuid() != 0 || account == nullptr || access(kServerProgram, X_OK) != 0 ||
        access(kSecurityDb, R_OK) != 0) {
      GTEST_SKIP() << "the Firebird server test needs root and Debian's firebird3.0-server ("
                   << kServerProgram << ", its account firebird): not run here";
    }
    if (kAddressSanitizer)
      GTEST_SKIP() << "the server cannot load a module built with the sanitizer";
    Uid = account->pw_uid;
    Gid = account->pw_gid;
    char pattern[] = "/tmp/vexa-fbserver-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Dir = pattern;
    chmod(Dir.c_str(), 0755);
    Port = FreeTcpPort();
    // As Debian lays it out: firebird.conf linked from the configuration
    // folder, where the module's file lies beside it.
    fs::create_directory(Dir + "/etc");
    fs::create_symlink("etc/firebird.conf", Dir + "/firebird.conf");
    WriteFile(Dir + "/etc/firebird.conf",
              "RemoteServicePort = " + std::to_string(Port) +
                  "\nRemoteBindAddress = 127.0.0.1\nServerMode = Super\n"
                  "SecurityDatabase = " +
                  Dir + "/security.fdb\n");
    WriteFile(Dir + "/plugins.conf",
              "Plugin = UDR {\n\tModule = $(dir_plugins)/udr_engine\n\tConfig = UDR_config\n}\n"
              "Config = UDR_config {\n\tpath = " +
                  BuildDir() + "/firebird/udr\n}\n");
    fs::create_symlink(std::string(kServerFiles) + "/firebird.msg", Dir + "/firebird.msg");
    fs::create_symlink(std::string(kServerFiles) + "/intl", Dir + "/intl");
    fs::create_directory(Dir + "/lock");
    // Its own SYSDBA password, set without a server (the setup's own lock folder).
    fs::copy_file(kSecurityDb, Dir + "/security.fdb");
    ChildProcess isql("/usr/bin/isql-fb", {"-q", "-user", "SYSDBA", Dir + "/security.fdb"},
                      {"FIREBIRD=" + Dir, "FIREBIRD_LOCK=" + Dir + "/setup-lock"}, true);
    isql.WriteStdin(
        "CREATE OR ALTER USER SYSDBA PASSWORD 'quillfern' USING PLUGIN Srp;\nCOMMIT;\n");
    isql.CloseStdin();
    ASSERT_EQ(isql.Wait(60s), std::optional<int>(0));
    DbPath = Dir + "/KWV_DEMO.GDB";
    UseEngineLockDir();
    ASSERT_EQ(BuildDemoDatabase(DbPath, 20), "");
    ChildProcess gfix("/usr/bin/gfix", {"-write", "async", DbPath}, {},
                      true);  // no disk waits per commit
    ASSERT_EQ(gfix.Wait(60s), std::optional<int>(0));
    ChownTree(Dir, Uid, Gid);
    // The session: this test's account owns it, the server's group shares it.
    Shared = Dir + "/session";
    ASSERT_EQ(mkdir(Shared.c_str(), 0700), 0);
    ASSERT_EQ(chown(Shared.c_str(), 0, Gid), 0);
    ASSERT_EQ(chmod(Shared.c_str(), 02770), 0);
    UseSession(Shared);
  }

  void TearDown() override {
    if (Server) StopServer();
    Client.reset();
    Gateway.reset();
    Hub.reset();
    std::error_code ec;
    if (!Dir.empty()) fs::remove_all(Dir, ec);
  }

  void UseSession(const std::string& dir) {
    WriteFile(Dir + "/etc/vexa_notify.conf", "SessionDir = " + dir + "\n");
  }

  // As the service starts it: as firebird, with an empty environment (or
  // with a session named there, as operators once had to).
  void StartServer(const std::string& session = "") {
    std::vector<std::string> args{"--reuid=firebird",
                                  "--regid=firebird",
                                  "--init-groups",
                                  "/usr/bin/env",
                                  "-i",
                                  "FIREBIRD=" + Dir,
                                  "FIREBIRD_LOCK=" + Dir + "/lock"};
    if (!session.empty()) args.push_back("VEXA_SESSION_DIR=" + session);
    args.push_back(kServerProgram);
    Server =
        std::make_unique<ChildProcess>("/usr/bin/setpriv", args, std::vector<std::string>{}, true);
    for (auto end = std::chrono::steady_clock::now() + 30s;
         std::chrono::steady_clock::now() < end;) {
      if (LoopbackConnects(Port)) return;
      std::this_thread::sleep_for(50ms);
    }
    FAIL() << "the Firebird server did not listen on port " << Port;
  }

  // As the service stops it (start-stop-daemon --retry 15): SIGTERM to its
  // PID, and SIGKILL when it has not ended 15 s later (now and then the
  // server misses a SIGTERM that comes soon after its last detach).
  void StopServer() {
    Server->Signal(SIGTERM);
    if (!Server->Wait(15s)) Server->Signal(SIGKILL);
    EXPECT_TRUE(Server->Wait(15s).has_value()) << "the Firebird server did not end";
    Server.reset();
  }

  std::string Remote() const { return "inet://127.0.0.1:" + std::to_string(Port) + "/" + DbPath; }

  // beaconhub, relaygate and a listener of table 1 in the shared session.
  void StartChain() {
    const std::vector<std::string> env{"VEXA_SESSION_DIR=" + Shared};
    const std::string programs = Dir + "/programs";
    const int hubPort = FreeTcpPort();
    const ProgramCopy hub("beaconhub", programs,
                          "[Server]\nAddress=127.0.0.1\nPort=" + std::to_string(hubPort) +
                              "\nMaxClients=0\n[Client]\nFlushInterval=20\n");
    const ProgramCopy relaygate("relaygate", programs,
                                "[Connection Polling]\nDuration=0\nInterval=1\n");
    WriteProviderSettings("DB", "127.0.0.1", std::to_string(hubPort));
    Hub = std::make_unique<ChildProcess>(hub.Path(), std::vector<std::string>{}, env);
    Gateway = std::make_unique<ChildProcess>(relaygate.Path(), std::vector<std::string>{"DB"}, env);
    ASSERT_TRUE(Gateway->WaitForLine("Connected to Notify Server", 20s));
    Client = std::make_unique<ChildProcess>(BinPath("notifylistener"),
                                            std::vector<std::string>{"DB", "1"}, env);
    ASSERT_TRUE(Client->WaitForLine("Subscribed to table 1 (1)", 10s));
    ASSERT_TRUE(Gateway->WaitForLine("Subscription to table 1 confirmed", 10s));
  }

  std::string NextNotification() {
    for (;;) {
      auto line = Client->ReadLine(15s);
      if (!line) return "";
      if (line->rfind("Notification ", 0) == 0) return *line;
    }
  }

  TestSession Session;
  uid_t Uid = 0;
  gid_t Gid = 0;
  std::string Dir, DbPath, Shared;
  int Port = 0;
  std::unique_ptr<ChildProcess> Server, Hub, Gateway, Client;
};

// A session the server's account may not use (here one only root may enter),
// named in its configuration and in its environment alike: the module says so
// in the server's log, the server goes on and every statement succeeds.
TEST_F(FirebirdServer, ARefusedSessionLeavesTheServerRunningAndItsStatementsSucceeding) {
  const std::string closed = Dir + "/closed";
  ASSERT_EQ(mkdir(closed.c_str(), 0700), 0);
  UseSession(closed);
  struct stat st {};
  const bool serversLog = stat(FirebirdLog, &st) == 0 && st.st_uid == Uid;
  const long logStart = FirebirdLogSize();
  StartServer(closed);
  for (int i = 0; i < 3; ++i) {
    DbConnection db(Remote());
    db.Exec("UPDATE DEMOTABLE SET VOLUME = " + std::to_string(1000 * i) + " WHERE STOCKID = 4");
    db.Exec("DELETE FROM DEMOTABLE WHERE STOCKID = " + std::to_string(5 + i));
    EXPECT_EQ(db.Value("SELECT VOLUME FROM DEMOTABLE WHERE STOCKID = 4"), std::to_string(1000 * i));
    EXPECT_TRUE(Server->Running());
  }
  EXPECT_EQ(DbConnection(Remote()).Value("SELECT COUNT(*) FROM DEMOTABLE"), "17");
  // Once, where the server's operator looks (when the log is the server's).
  if (!serversLog) {
    std::cout << "note: " << FirebirdLog
              << " is not the server's to write; the module's line is not checked\n";
    return;
  }
  EXPECT_EQ(FirebirdLogLines(logStart, "vexa_notify: session directory " + closed +
                                           " is owned by another user (uid 0); refusing to use it"),
            1);
}

// Two connections, one bracketing its statements with the procedures and one
// not, 1,000 commits each, some of each rolled back; then another
// connection's change rolled back while a bracketed one commits; then the
// server restarted as the service does. The listener gets every committed
// change once, in commit order, and no rolled-back one.
TEST_F(FirebirdServer, EveryCommitArrivesOnceInOrderRollbacksNeverAndARestartKeepsTheChain) {
  StartServer();
  StartChain();
  DbConnection bracketed(Remote()), plain(Remote());
  std::vector<std::string> expected;
  auto insert = [&](DbConnection& c, bool commit) {
    c.Tr.StartTransaction();
    c.Sql.SetSQL("INSERT INTO DEMOTABLE ( STOCKSYMBOL ) VALUES ( 'SRV' ) RETURNING STOCKID");
    c.Sql.ExecQuery();
    const int32_t id = c.Sql.Fields(0).AsInteger();
    if (commit) {
      c.Tr.Commit();
      expected.push_back(Notification('I', id));
    } else {
      c.Tr.Rollback();
    }
  };
  for (int i = 0; i < 1000; ++i) {
    bracketed.Exec("EXECUTE PROCEDURE BEGINNOTIFYTRANS(1)");
    insert(bracketed, i % 10 != 3);
    bracketed.Exec(i % 10 != 3 ? "EXECUTE PROCEDURE ENDNOTIFYTRANS(1, 0)"
                               : "EXECUTE PROCEDURE CANCELNOTIFYTRANS(1, 0)");
    insert(plain, i % 10 != 7);
  }

  // The other connection changes row 7 and waits; the bracketed one commits
  // row 9; the other rolls back.
  plain.Tr.StartTransaction();
  plain.Sql.SetSQL("UPDATE DEMOTABLE SET VOLUME = 7000 WHERE STOCKID = 7");
  plain.Sql.ExecQuery();
  bracketed.Exec("EXECUTE PROCEDURE BEGINNOTIFYTRANS(1)");
  bracketed.Exec("UPDATE DEMOTABLE SET VOLUME = 9000 WHERE STOCKID = 9");
  bracketed.Exec("EXECUTE PROCEDURE ENDNOTIFYTRANS(1, 0)");
  plain.Tr.Rollback();
  expected.push_back(Notification('C', 9));

  // A restart as the service does it: nothing of the session in its environment.
  bracketed.Db.Close();
  plain.Db.Close();
  StopServer();
  StartServer();
  DbConnection after(Remote());
  insert(after, true);

  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(NextNotification(), expected[i]) << "notification " << i << " of " << expected.size();
  }
}

}  // namespace
}  // namespace vexa::test
