// labels: integration
// timeout: 150
// churnmill as a real process on a private X server, shaking at 30 passes a
// second (set with its arrows, started with its button, both by real clicks),
// ended by SIGTERM or SIGINT in the middle of the run, round after round. Every
// round must end through the orderly path with status 0, and nothing may be
// half done: every notify transaction the database side began was ended or
// cancelled, and the changes the database kept are exactly the ones whose
// notifications were announced as committed.
#include <signal.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dbside/NotifyMessages.h"
#include "tests/demo/DemoTestKit.h"
// X11 after the test framework, whose names its macros would take.
#include "tests/gui/XvfbServer.h"
#include <X11/Xutil.h>

namespace vexa::test {
namespace {

using namespace std::chrono_literals;

// The top-level X window of the given title, 0 when there is none yet.
unsigned long FindTopLevel(Display* dpy, const std::string& title) {
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  unsigned long found = 0;
  if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    XWindowAttributes a;
    if (XFetchName(dpy, children[i], &name) && name != nullptr && title == name &&
        XGetWindowAttributes(dpy, children[i], &a) && a.map_state == IsViewable)
      found = children[i];
    if (name) XFree(name);
  }
  if (children) XFree(children);
  return found;
}

// What the stand-in notify server was told, read as transactions: each "B"
// gets the next id from 1000 up, and its notifications follow until the "E"
// or "R" that names that id.
class TNotifyLog {
public:
  explicit TNotifyLog(ChildProcess& Server) : FServer(Server) {}

  // Reads what has arrived until nothing more comes for a moment, or at most
  // for limit: a program that goes on sending never leaves a quiet moment.
  void Drain(std::chrono::milliseconds quiet = 50ms, std::chrono::milliseconds limit = 2s) {
    for (auto deadline = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < deadline;) {
      auto line = FServer.ReadLine(quiet);
      if (!line) break;
      Take(*line);
    }
  }
  // Reads until at least n more transactions have ended.
  bool WaitForEnds(int n, std::chrono::seconds timeout) {
    const int target = Ended + n;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Ended < target && std::chrono::steady_clock::now() < deadline) {
      if (auto line = FServer.ReadLine(200ms)) Take(*line);
    }
    return Ended >= target;
  }

  int Ended = 0;             // transactions ended with "E"
  int Cancelled = 0;         // transactions ended with "R"
  int Announced = 0;         // notifications inside transactions ended with "E"
  int32_t OpenID = 0;        // the transaction begun and not yet ended, 0 when none
  std::vector<std::string> Faults;

private:
  void Take(const std::string& line) {
    int32_t w = 0, l = 0;
    char name[32] = {};
    if (std::sscanf(line.c_str(), "%31s %d %d", name, &w, &l) != 3) return;
    const char code = static_cast<char>((l >> 8) & 0xFF);
    if (std::string(name) == "DBTrans") {
      if (code == 'B') {
        if (OpenID != 0) Faults.push_back("transaction " + std::to_string(OpenID) + " never ended");
        OpenID = FNextID++;
        FPending = 0;
      } else if (w != OpenID) {
        Faults.push_back(line + " while " + std::to_string(OpenID) + " was open");
      } else {
        if (code == 'E') {
          ++Ended;
          Announced += FPending;
        } else {
          ++Cancelled;
        }
        OpenID = 0;
      }
    } else if (std::string(name) == "DBNotification") {
      if (OpenID == 0) Faults.push_back(line + " outside a transaction");
      ++FPending;
    }
  }
  ChildProcess& FServer;
  int32_t FNextID = 1000;
  int FPending = 0;
};

class ChurnmillSignal : public DemoFixture {};

TEST_F(ChurnmillSignal, SigtermAndSigintWhileShakingEndInOrderEveryTime) {
  {
    // Every change the database keeps is written down by its transaction.
    DemoDb setup(DbPath);
    setup.Exec("CREATE TABLE CHANGES_KEPT (TRANSID BIGINT, STOCKID INTEGER)");
    setup.Exec("CREATE TRIGGER CHANGES_KEPT_LOG FOR DEMOTABLE ACTIVE AFTER INSERT OR UPDATE OR DELETE "
               "POSITION 30 AS BEGIN INSERT INTO CHANGES_KEPT (TRANSID, STOCKID) VALUES "
               "(CURRENT_TRANSACTION, CASE WHEN DELETING THEN OLD.STOCKID ELSE NEW.STOCKID END); END");
  }
  XvfbServer xvfb;
  ASSERT_TRUE(xvfb.Running());
  XInput input;
  ASSERT_NE(input.Dpy(), nullptr);

  ChildProcess server(BinPath("DbNotifyServerPeer"), {});
  ASSERT_TRUE(server.WaitForLine("ready", 10s));
  TNotifyLog log(server);

  std::mt19937 rng(std::random_device{}());
  // Ten rounds of SIGTERM with three of SIGINT among them.
  const std::vector<int> signals{SIGTERM, SIGTERM, SIGINT, SIGTERM, SIGTERM, SIGINT, SIGTERM,
                                 SIGTERM, SIGINT, SIGTERM, SIGTERM, SIGTERM, SIGTERM};
  for (size_t round = 0; round < signals.size(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round) + (signals[round] == SIGINT ? " (SIGINT)" : " (SIGTERM)"));
    ChildProcess churnmill(BinPath("churnmill"), {}, {}, true);
    unsigned long win = 0;
    for (auto deadline = std::chrono::steady_clock::now() + 20s;
         win == 0 && std::chrono::steady_clock::now() < deadline;) {
      win = FindTopLevel(input.Dpy(), "VEXA Churnmill");
      if (win == 0) std::this_thread::sleep_for(20ms);
    }
    ASSERT_NE(win, 0u) << "churnmill's window did not appear";
    // The target rate's up arrow 29 times (1 to 30), then "Start Shaking".
    for (int i = 0; i < 29; ++i) input.Click(win, 434, 14);
    input.Click(win, 56, 14);
    log.Drain();
    ASSERT_TRUE(log.WaitForEnds(8, 20s)) << "churnmill did not start shaking";
    // Somewhere in the middle of a pass, or between two.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 40)(rng)));
    churnmill.Signal(signals[round]);
    auto status = churnmill.Wait(15s);
    ASSERT_EQ(status, std::optional<int>(0)) << "churnmill did not end in order";
    log.Drain(300ms);
    EXPECT_EQ(log.OpenID, 0) << "a notify transaction was left open";
    ASSERT_TRUE(log.Faults.empty()) << log.Faults[0];
  }
  EXPECT_GT(log.Ended, 0);

  // What the database kept is exactly what was announced as committed.
  DemoDb check(DbPath);
  EXPECT_EQ(check.Value("SELECT COUNT(*) FROM CHANGES_KEPT"), std::to_string(log.Announced))
      << log.Ended << " passes ended, " << log.Cancelled << " cancelled";
}

}  // namespace
}  // namespace vexa::test
