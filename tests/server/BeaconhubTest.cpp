// labels: integration
// timeout: 120
// beaconhub as a real process in a private session: the database-side stand-in
// feeds it over the local channel, plain TCP clients act as gateways and check
// every byte they receive.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <ctime>
#include <regex>
#include <string>
#include <thread>

#include "framework/Registry.h"
#include "tests/server/ServerHarness.h"
#include "tests/support/Files.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/StrayMessages.h"

namespace vexa::test {
namespace {

const std::string kGreeting = "VEXA Notify Server";

std::string Ack(uint8_t table, char code) { return Record(0, table, code); }

// Named as the suite, so that the test names stay; in this file the program is
// therefore test::Beaconhub.
class Beaconhub : public HubTest {};

// Reads what the program has still to say, once it has ended.
void Drain(ChildProcess& p) {
  while (p.ReadLine(1000ms)) {
  }
}

int LocalPort(const TcpClient& c) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(c.Fd(), reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

TEST_F(Beaconhub, DatabaseSideTransactionsReachSubscribedGatewaysOnTheNextTick) {
  StartHub();
  DbSide db;
  ASSERT_TRUE(db.Connect());

  auto gw = Gateway(port, {12});
  auto other = Gateway(port, {13});  // another table: must see nothing of table 12

  EXPECT_EQ(db.Begin(12), 1000);
  EXPECT_EQ(db.Note(12, 'I', 101), 1);
  EXPECT_EQ(db.Note(12, 'C', -7, 0x11, 0x22), 1);
  EXPECT_EQ(db.Note(12, 'D', 0x7FFFFFFF), 1);
  EXPECT_EQ(db.End(12, 1000), 0);
  const std::string committed =
      Record(101, 12, 'I') + Record(-7, 12, 'C', 0x11, 0x22) + Record(0x7FFFFFFF, 12, 'D');
  EXPECT_EQ(Hex(gw->Read(24).value_or("")), Hex(committed));

  // A rolled-back transaction sends nothing: the next bytes are those of the
  // transaction committed after it.
  EXPECT_EQ(db.Begin(12), 1001);
  EXPECT_EQ(db.Note(12, 'I', 201), 1);
  EXPECT_EQ(db.Note(12, 'I', 202), 1);
  EXPECT_EQ(db.Rollback(12, 1001), 0);
  EXPECT_EQ(db.Begin(12), 1002);
  EXPECT_EQ(db.Note(12, 'U', 301), 1);
  EXPECT_EQ(db.End(12, 1002), 0);
  EXPECT_EQ(Hex(gw->Read(8).value_or("")), Hex(Record(301, 12, 'U')));

  // Table 13's gateway gets only table 13's record.
  EXPECT_EQ(db.Begin(13), 1000);
  EXPECT_EQ(db.Note(13, 'I', 5), 1);
  EXPECT_EQ(db.End(13, 1000), 0);
  EXPECT_EQ(Hex(other->Read(8).value_or("")), Hex(Record(5, 13, 'I')));

  EXPECT_TRUE(hub->WaitFor("New Table: 12"));
  EXPECT_TRUE(hub->WaitFor("New Table: 13"));

  // Serving the channel recorded where the program lives.
  fw::TRegistry reg(plat::KEY_READ);
  reg.SetRootKey(fw::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\VEXA Software\\Lumidex\\NotifyServer"));
  EXPECT_EQ(reg.ReadString("Location"), hub->Dir() + "/beaconhub");

  // SIGINT ends it the same orderly way as SIGTERM.
  hub->Process().Signal(SIGINT);
  EXPECT_EQ(hub->Process().Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kWait)), 0);
  EXPECT_TRUE(gw->ReadToClose().has_value());
  EXPECT_NE(hub->IniText().find("[MainWindow]"), std::string::npos);
}

TEST_F(Beaconhub, InvalidTablesAndUnknownLettersAnswerAsTheyShould) {
  StartHub();
  DbSide db;
  ASSERT_TRUE(db.Connect());

  // Table 0: a notification still answers 1, a transaction 0; both are logged.
  EXPECT_EQ(db.Note(0, 'I', 1), 1);
  EXPECT_TRUE(hub->WaitFor("Invalid TableID: 0"));
  EXPECT_EQ(db.Begin(0), 0);
  EXPECT_TRUE(hub->WaitFor("Invalid TableID: 0"));
  // Another letter answers 0 and opens nothing: the next begin is still 1000.
  const int32_t lparamX = 7 | ('X' << 8);
  EXPECT_EQ(db.Result("send DBTrans 0 " + std::to_string(lparamX)), 0);
  EXPECT_EQ(db.Begin(7), 1000);
  EXPECT_EQ(db.Begin(7), 1001);
}

TEST_F(Beaconhub, OverlappingTransactionsDeliverSharedRecordsOncePerEnd) {
  StartHub();
  DbSide db;
  ASSERT_TRUE(db.Connect());
  auto gw = Gateway(port, {9});

  // T1, r1, T2, r2, T1 ends: r1 r2; r3, T2 ends: r2 r3.
  const int64_t t1 = db.Begin(9);
  db.Note(9, 'I', 1);
  const int64_t t2 = db.Begin(9);
  db.Note(9, 'I', 2);
  db.End(9, t1);
  db.Note(9, 'I', 3);
  db.End(9, t2);
  EXPECT_EQ(Hex(gw->Read(32).value_or("")),
            Hex(Record(1, 9, 'I') + Record(2, 9, 'I') + Record(2, 9, 'I') + Record(3, 9, 'I')));

  // T1, T2, r4, T2 ends first: r4; T1 ends: r4 again.
  const int64_t a = db.Begin(9);
  const int64_t b = db.Begin(9);
  db.Note(9, 'D', 4);
  db.End(9, b);
  db.End(9, a);
  EXPECT_EQ(Hex(gw->Read(16).value_or("")), Hex(Record(4, 9, 'D') + Record(4, 9, 'D')));

  // A notification outside any transaction is never sent; a rolled-back
  // record is sent when an open transaction covering it ends.
  db.Note(9, 'I', 50);
  const int64_t c = db.Begin(9);
  const int64_t d = db.Begin(9);
  db.Note(9, 'I', 51);
  db.Rollback(9, d);
  db.End(9, c);
  EXPECT_EQ(Hex(gw->Read(8).value_or("")), Hex(Record(51, 9, 'I')));
  const int64_t e = db.Begin(9);
  db.Note(9, 'C', 52);
  db.End(9, e);
  EXPECT_EQ(Hex(gw->Read(8).value_or("")), Hex(Record(52, 9, 'C')));
}

TEST_F(Beaconhub, CommandLinesOfAGateway) {
  // Connect times in the C locale's text, whatever the machine's own locale.
  const char* lcAll = getenv("LC_ALL");
  const std::string savedLcAll = lcAll ? lcAll : "";
  setenv("LC_ALL", "C", 1);
  hub.emplace(session, IniFor(port));
  if (lcAll) setenv("LC_ALL", savedLcAll.c_str(), 1); else unsetenv("LC_ALL");
  ASSERT_TRUE(hub->WaitListening());

  auto first = Gateway(port, {});
  auto second = Gateway(port, {});

  // "who": the count, then the sessions from the last accepted to the first.
  second->Send("who\r\n");
  EXPECT_EQ(second->ReadLine().value_or(""), "There are 2 connected users:");
  const std::regex when(R"( \d\d/\d\d/\d\d\d\d( \d\d:\d\d:\d\d)?)");
  for (int expectedPort : {LocalPort(*second), LocalPort(*first)}) {
    const std::string line = second->ReadLine().value_or("");
    const std::string prefix = "127.0.0.1:" + std::to_string(expectedPort);
    EXPECT_EQ(line.substr(0, prefix.size()), prefix) << line;
    EXPECT_TRUE(std::regex_match(line.substr(std::min(prefix.size(), line.size())), when)) << line;
  }

  first->Send("hello\r\n");
  EXPECT_EQ(first->ReadLine().value_or(""), "Unknown command: 'HELLO'");
  first->Send("\r\n");
  EXPECT_EQ(first->ReadLine().value_or(""), "Unknown command: ''");

  // SUBSCRIBE reads as table 0: both lines logged, the acknowledgement still goes out.
  first->Send("SUBSCRIBE\r\n");
  EXPECT_EQ(Hex(first->Read(8).value_or("")), Hex(Ack(0, 'S')));
  EXPECT_TRUE(hub->WaitFor("Invalid TableID: 0"));
  EXPECT_TRUE(hub->WaitFor("Invalid TableID in Subscribe request: 0"));

  // Unsubscribing a table that does not exist is acknowledged.
  first->Send("u 44\r\n");
  EXPECT_EQ(Hex(first->Read(8).value_or("")), Hex(Ack(44, 'U')));

  // A number that does not fit the acknowledgement: no answer, the session
  // stays; so too behind more lines than the server handles in one turn.
  std::string lines;
  for (int i = 0; i < 20; ++i) lines += "u 44\r\n";
  first->Send(lines + "S 300\r\n");
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Hex(first->Read(8).value_or("")), Hex(Ack(44, 'U')));
  EXPECT_TRUE(hub->WaitFor("Invalid TableID in Subscribe request: 300"));
  first->Send("bye\r\n");
  EXPECT_EQ(first->ReadLine().value_or(""), "Unknown command: 'BYE'");
  EXPECT_EQ(CountLines(hub->Process(), "exception occured"), 0);

  // 80 characters without a line end are kept; the 81st closes the session.
  const std::string eighty(80, 'x');
  first->Send(eighty);
  first->Send("\r\n");
  EXPECT_EQ(first->ReadLine().value_or(""), "Unknown command: '" + std::string(80, 'X') + "'");
  first->Send(std::string(81, 'y'));
  EXPECT_EQ(first->ReadToClose().value_or("<still open>"), "");

  // "exit" closes after the handler returns, sending nothing.
  second->Send("EXIT\r\n");
  EXPECT_EQ(second->ReadToClose().value_or("<still open>"), "");
}

// A German locale made for this test alone (LOCPATH), so the test does not
// depend on which locales the machine has installed.
TEST_F(Beaconhub, WhoShowsConnectTimesInTheLocaleTheServerRunsIn) {
  const std::string locales = session.Root() + "/locales";
  ChildProcess localedef(
      "/bin/sh",
      {"-c", "command -v localedef >/dev/null && mkdir -p '" + locales +
                 "' && localedef -i de_DE -f UTF-8 '" + locales + "/de_DE.UTF-8' 2>&1"},
      {}, true);
  if (localedef.Wait(std::chrono::seconds(60)) != std::optional<int>(0))
    GTEST_SKIP() << "no locale can be made here";
  ASSERT_EQ(setenv("LOCPATH", locales.c_str(), 1), 0);
  ASSERT_EQ(setenv("LC_ALL", "de_DE.UTF-8", 1), 0);
  hub.emplace(session, IniFor(port));
  unsetenv("LC_ALL");
  unsetenv("LOCPATH");
  ASSERT_TRUE(hub->WaitListening());

  auto gw = Gateway(port, {});
  gw->Send("WHO\r\n");
  EXPECT_EQ(gw->ReadLine().value_or(""), "There are 1 connected users:");
  const std::string line = gw->ReadLine().value_or("");
  const std::string prefix = "127.0.0.1:" + std::to_string(LocalPort(*gw)) + " ";
  ASSERT_EQ(line.substr(0, prefix.size()), prefix) << line;
  // Day, month and year with dots, the time with colons; never the C locale's slashes.
  EXPECT_TRUE(std::regex_match(line.substr(prefix.size()),
                               std::regex(R"(\d\d\.\d\d\.\d\d\d\d( \d\d:\d\d:\d\d)?)")))
      << line;
  // The date is today's (or, just after midnight, yesterday's).
  std::time_t now = std::time(nullptr);
  char today[16], yesterday[16];
  std::tm t{};
  localtime_r(&now, &t);
  std::strftime(today, sizeof today, "%d.%m.%Y", &t);
  now -= 24 * 3600;
  localtime_r(&now, &t);
  std::strftime(yesterday, sizeof yesterday, "%d.%m.%Y", &t);
  const std::string date = line.substr(prefix.size(), 10);
  EXPECT_TRUE(date == today || date == yesterday) << line;
}

TEST_F(Beaconhub, SubscribingTwiceListsTheSessionOnce) {
  StartHub();
  DbSide db;
  ASSERT_TRUE(db.Connect());
  auto gw = Gateway(port, {12, 12});

  int64_t t = db.Begin(12);
  db.Note(12, 'I', 1);
  db.End(12, t);
  EXPECT_EQ(Hex(gw->Read(8).value_or("")), Hex(Record(1, 12, 'I')));  // once, not twice

  // One unsubscribe ends the subscription; the next record proves nothing came.
  gw->Send("U 12\r\n");
  EXPECT_EQ(Hex(gw->Read(8).value_or("")), Hex(Ack(12, 'U')));
  t = db.Begin(12);
  db.Note(12, 'I', 2);
  db.End(12, t);
  gw->Send("S 12\r\n");
  EXPECT_EQ(Hex(gw->Read(8).value_or("")), Hex(Ack(12, 'S')));
  t = db.Begin(12);
  db.Note(12, 'I', 3);
  db.End(12, t);
  EXPECT_EQ(Hex(gw->Read(8).value_or("")), Hex(Record(3, 12, 'I')));
}

TEST_F(Beaconhub, BusyBannerBeyondTheClientLimit) {
  hub.emplace(session, "[Server]\nPort=" + std::to_string(port) + "\nMaxClients=2\n");
  ASSERT_TRUE(hub->WaitListening());
  auto a = Gateway(port, {});
  auto b = Gateway(port, {});
  TcpClient c(port);
  EXPECT_EQ(c.ReadToClose().value_or("<still open>"), "Busy              \r\n");
  // A place freed is a place for the next gateway.
  a->Send("exit\r\n");
  EXPECT_TRUE(a->ReadToClose().has_value());
  for (int attempt = 0; attempt < 200; ++attempt) {
    TcpClient d(port);
    const std::string line = d.ReadLine().value_or("");
    if (line == kGreeting) return;
    ASSERT_EQ(line, "Busy              ");
  }
  FAIL() << "no place after a gateway left";
}

TEST_F(Beaconhub, StrayQuitAndCloseFromAnotherProgramLeaveTheChannelServing) {
  StartHub();
  const plat::HWND channel = SendStrayCloseAndQuit("NotifyServerIPC");  // this test is the other program
  ASSERT_NE(channel, 0u);
  for (const char* kind : {"WM_CLOSE", "WM_SYSCOMMAND SC_CLOSE", "WM_QUIT"}) {  // in any order
    const std::string text = std::string("Ignored ") + kind + " sent to the channel window of \"NotifyServerIPC\"";
    EXPECT_TRUE(hub->Process().Printed(text, 10000ms)) << text;
  }
  // The window lives and serves; each kind was logged once.
  EXPECT_TRUE(plat::IsWindow(channel));
  DbSide db;
  ASSERT_TRUE(db.Connect());
  EXPECT_EQ(db.Begin(6), 1000);
  auto gw = Gateway(port, {6});
  const auto& lines = hub->Process().Lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Ignored ", 0) == 0; }), 3);
}

TEST_F(Beaconhub, SecondStartEndsAtOnceAndSilently) {
  StartHub();
  ChildProcess second(hub->Dir() + "/beaconhub", {}, {}, true);
  EXPECT_EQ(second.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kWait)), 0);
  EXPECT_FALSE(second.ReadLine(100ms).has_value());
  EXPECT_TRUE(second.Lines().empty());
  // The first one still serves.
  auto gw = Gateway(port, {1});
}

TEST_F(Beaconhub, MissingSettingsAreWrittenBackAndBoundsSavedOnShutdown) {
  hub.emplace(session,
              "[Main Server Window]\nWidth=5000\nHeight=5000\nTop=-10\nLeft=-10\n"
              "[Server]\nPort=" + std::to_string(port) + "\nMaxClients=-5\n");
  ASSERT_TRUE(hub->WaitListening());
  const std::string ini = hub->IniText();
  EXPECT_NE(ini.find("Address=0.0.0.0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("MaxClients=0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("FlushInterval=1500"), std::string::npos) << ini;

  // SIGTERM closes the form the orderly way: sessions end, bounds are saved.
  auto gw = Gateway(port, {3});
  EXPECT_EQ(hub->Stop(), 0);
  EXPECT_TRUE(gw->ReadToClose().has_value());
  const std::string after = hub->IniText();
  const auto section = after.find("[MainWindow]");
  ASSERT_NE(section, std::string::npos) << after;
  const std::string saved = after.substr(section);
  EXPECT_NE(saved.find("Width=1024"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Height=768"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Top=0"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Left=0"), std::string::npos) << saved;
}

TEST_F(Beaconhub, ListenerFailureLeavesTheChannelServing) {
  StartHub();
  {
    // Another session, so the single-instance guard lets it start; the port is taken.
    TestSession second;
    test::Beaconhub failing(second, IniFor(port), true, true);
    DbSide db;
    ASSERT_TRUE(db.Connect());
    EXPECT_EQ(db.Begin(4), 1000);  // the start-up step has run by now
    // The address and port that could not be taken, then the failure as the
    // framework shows it.
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kWait);
    EXPECT_EQ(failing.Process().ReadLine(wait).value_or(""),
              "Cannot listen for clients on adapter 0.0.0.0 port " + std::to_string(port) +
                  ": Error 10048 in function Bind; Address already in use");
    EXPECT_EQ(failing.Process().ReadLine(wait).value_or(""),
              "ESocketException: Error 10048 in function Bind");
    for (const std::string& line : failing.Process().Lines()) {
      EXPECT_EQ(line.find("Listening"), std::string::npos) << line;
    }
    EXPECT_TRUE(failing.Process().Running());
  }
  // The first server is untouched.
  auto gw = Gateway(port, {4});
}

TEST_F(Beaconhub, ChannelOwnedElsewhereStillListens) {
  ChildProcess holder(BinPath("ChannelHolderPeer"), {});
  ASSERT_EQ(
      holder.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(kWait)).value_or(""),
      "serving");
  hub.emplace(session, IniFor(port));
  EXPECT_TRUE(hub->WaitFor("Server Already Exists"));
  EXPECT_TRUE(hub->WaitListening());
  auto gw = Gateway(port, {1});
  holder.CloseStdin();
}

TEST_F(Beaconhub, WithoutServerSectionListensOnDefaultPort) {
  // Every copy of this test on the machine wants 5500: a start that finds it
  // taken ends, and the next one tries again a little later.
  const auto until = std::chrono::steady_clock::now() + 60s;
  std::optional<std::string> line;
  for (;;) {
    hub.emplace(session, "");
    line = hub->WaitFor("for clients on adapter ");
    ASSERT_TRUE(line);
    if (line->rfind("Listening", 0) == 0) break;
    hub.reset();
    if (std::chrono::steady_clock::now() > until)
      GTEST_SKIP() << "port 5500 stayed taken: " << *line;
    std::this_thread::sleep_for(250ms);
  }
  EXPECT_EQ(*line, "Listening for clients on adapter 0.0.0.0 port 5500");
  {
    TcpClient gw(5500);
    EXPECT_EQ(gw.ReadLine().value_or("<none>"), kGreeting);
  }
  // Open to every interface no longer than the proof takes.
  EXPECT_EQ(hub->Stop(), 0);
  const std::string ini = hub->IniText();
  EXPECT_NE(ini.find("[Server]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Address=0.0.0.0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Port=5500"), std::string::npos) << ini;
  EXPECT_NE(ini.find("MaxClients=0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("FlushInterval=1500"), std::string::npos) << ini;
}

// A settings file it cannot read holds an address and port the server must not
// guess: it says so, ends with status 1 and leaves the file as it was.
TEST_F(Beaconhub, SettingsFileThatCannotBeReadStopsTheServerAndStaysAsItIs) {
  const std::string text =
      "; the operator's\n[Server]\nAddress=127.0.0.1\nPort=" + std::to_string(port) + "\n";
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kWait);
  for (const UnreadableFile& file : UnreadableFiles()) {
    SCOPED_TRACE(file.Problem);
    hub.emplace(session, "", false);
    std::filesystem::remove_all(hub->IniPath());
    file.Make(hub->IniPath(), text);
    const std::string before = FileState(hub->IniPath());
    hub->Start();
    EXPECT_EQ(hub->Process().Wait(wait), 1);
    Drain(hub->Process());
    EXPECT_EQ(hub->Process().Lines(),
              std::vector<std::string>{
                  "Settings file " + hub->IniPath() + " " + file.Problem +
                  ": the notify server does not start without the address and port it holds"});
    EXPECT_EQ(FileState(hub->IniPath()), before);
    EXPECT_FALSE(TcpClient(port).Ok());
  }
}

// One it cannot write is read and used; the one line about it is all that changes.
TEST_F(Beaconhub, SettingsFileThatCannotBeWrittenIsLeftAsItIsAndTheServerRunsOnWhatItRead) {
  hub.emplace(
      session,
      "; no FlushInterval\n[Server]\nAddress=127.0.0.1\nPort=" + std::to_string(port) + "\n",
      false);
  ASSERT_EQ(chmod(hub->IniPath().c_str(), 0444), 0);
  const std::string before = FileState(hub->IniPath());
  hub->Start();
  EXPECT_TRUE(
      hub->WaitFor("Settings file " + hub->IniPath() + " cannot be written: it is left as it is"));
  EXPECT_EQ(hub->WaitFor("Listening").value_or(""),
            "Listening for clients on adapter 127.0.0.1 port " + std::to_string(port));
  auto gw = Gateway(port, {3});
  EXPECT_EQ(hub->Stop(), 0);  // the window's bounds cannot be saved either
  Drain(hub->Process());
  EXPECT_EQ(CountLines(hub->Process(), "Settings file "), 1);
  EXPECT_EQ(FileState(hub->IniPath()), before);
}

// It takes no arguments: one meant for another server ends it with its usage.
// A display that cannot be opened is named once, and it serves without one.
TEST_F(Beaconhub, StartedFromTheCommandLine) {
  hub.emplace(session, IniFor(port), false);
  const std::string program = hub->Dir() + "/beaconhub";
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kWait);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--port", "47251"}, {"-x"}}) {
    ChildProcess p(program, args, {}, true);
    EXPECT_EQ(p.Wait(wait), 2) << args[0];
    Drain(p);
    ASSERT_GE(p.Lines().size(), 2u);
    EXPECT_EQ(p.Lines()[0], "beaconhub: unexpected argument \"" + args[0] + "\"");
    EXPECT_EQ(p.Lines()[1], "usage: beaconhub");
  }
  ChildProcess p(program, {}, {"DISPLAY=:64999"}, true);
  EXPECT_TRUE(p.WaitForLine("Listening for clients on adapter ", wait));
  auto gw = Gateway(port, {1});
  EXPECT_EQ(Terminate(p), 0);
  Drain(p);
  EXPECT_EQ(CountLines(p, "display"), 1);
  EXPECT_EQ(CountLines(p, "beaconhub: cannot open display \":64999\"; running without windows"), 1);
}

}  // namespace
}  // namespace vexa::test
