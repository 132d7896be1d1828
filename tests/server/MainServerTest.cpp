// labels: integration
// The notify server form inside the test process: its flush tick, table rows,
// event log, window bounds and client count, with real loopback gateways.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "components/KitStatusBar.h"
#include "components/KitTrayIcon.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "platform/shell/TrayIcon.h"
#include "server/MainServer.h"
#include "tests/server/ServerHarness.h"
#include "tests/support/AppPump.h"
#include "tests/support/Pixels.h"

namespace vexa {
namespace {

using namespace std::chrono_literals;
using test::AppPumpUntil;
using test::Hex;
using test::Record;
using test::SpotOf;
using test::TcpClient;

// The form with its settings file in the test's own folder.
class TestForm : public TFrmMainServer {
public:
  TestForm(fw::TComponent* AOwner, const std::string& Ini) : TFrmMainServer(AOwner) {
    FIniFileName = Ini;
  }
};

// The count cells of a row, joined with '|'.
std::string Cells(fw::TListItem* row) {
  std::string s;
  for (int i = 0; i < row->SubItems()->Count(); ++i) s += (i ? "|" : "") + row->SubItems()->Get(i);
  return s;
}

// The tip of the tray icon as the notification area holds it.
std::string TrayTip(TKitTrayIcon* icon) {
  plat::NOTIFYICONDATA d;
  if (!plat::GetNotifyIconRecord(icon->IconWindow(), 0, &d)) return "<no icon>";
  return std::string(d.szTip);
}

class MainServerTest : public ::testing::Test {
protected:
  void Start(const std::string& iniExtra = "") {
    FPort = test::FreeTcpPort();
    const std::string ini = FSession.Root() + "/beaconhub.ini";
    // A long flush interval: these tests tick the timer handler themselves.
    std::ofstream(ini) << "[Server]\nPort=" << FPort << "\n[Client]\nFlushInterval=600000\n"
                       << iniExtra;
    FForm = fw::CreateFormOf<TestForm>(nullptr, ini);
    ASSERT_TRUE(AppPumpUntil([&] { return FForm->NetSocketServer1->Tag() == 1; }));
  }
  void TearDown() override { delete FForm; }

  // A gateway that is greeted and subscribed to table t.
  std::unique_ptr<TcpClient> Gateway(int t) {
    auto c = std::make_unique<TcpClient>(FPort);
    std::optional<std::string> greeting;
    AppPumpUntil([&] { return (greeting = c->ReadLine(1ms)).has_value(); });
    EXPECT_EQ(greeting.value_or(""), "VEXA Notify Server");
    c->Send("S " + std::to_string(t) + "\r\n");
    std::optional<std::string> ack;
    AppPumpUntil([&] { return (ack = c->Read(8, 1ms)).has_value(); });
    EXPECT_EQ(Hex(ack.value_or("")), Hex(Record(0, static_cast<uint8_t>(t), 'S')));
    return c;
  }

  // A database-side process's answer to a command; this thread answers what
  // it sends meanwhile.
  static std::string Ask(test::ChildProcess& db, const std::string& command) {
    db.WriteStdin(command + "\n");
    std::optional<std::string> line;
    AppPumpUntil([&] { return (line = db.ReadLine(5ms)).has_value(); });
    return line.value_or("<no answer>");
  }

  fw::TMessage Custom(plat::UINT id, int32_t w, int32_t l) {
    fw::TMessage m;
    m.Msg = id;
    m.WParam = w;
    m.LParam = l;
    bool handled = false;
    FForm->VexaIPCServer1CustomMessage(m, handled);
    EXPECT_FALSE(handled);
    return m;
  }

  test::TestSession FSession;
  TestForm* FForm = nullptr;
  int FPort = 0;
};

TEST_F(MainServerTest, FlushTickSkipsASessionThatClosedButIsStillListed) {
  Start();
  auto a = Gateway(5);
  auto b = Gateway(5);
  ASSERT_EQ(FForm->NetSocketServer1->GetClientCount(), 2);

  const int32_t lp = 5 | ('I' << 8);
  const int32_t id = Custom(FForm->DBTransID(), 0, 5 | ('B' << 8)).Result;
  EXPECT_EQ(Custom(FForm->DBNotificationID(), 77, lp).Result, 1);
  Custom(FForm->DBTransID(), id, 5 | ('E' << 8));

  // The first session closes; the server has not yet handled its removal.
  FForm->NetSocketServer1->GetClient(0)->Close();
  ASSERT_EQ(FForm->NetSocketServer1->GetClientCount(), 2);
  FForm->tmrClientFlushTimerTimer(nullptr);
  // The second still gets its records in this very tick.
  EXPECT_EQ(Hex(b->Read(8).value_or("")), Hex(Record(77, 5, 'I')));
  EXPECT_EQ(a->ReadToClose().value_or("<open>"), "");
}

// Nobody would ever end these transactions, and each would hold every later
// record of its table: a begin answered only after its writer gave up
// waiting, and one whose writer was killed.
TEST_F(MainServerTest, TransactionsOfWritersThatGaveUpOrDiedAreRolledBack) {
  Start();
  test::ChildProcess db(test::BinPath("DbSidePeer"), {});
  ASSERT_EQ(db.ReadLine(10s).value_or(""), "ready");
  ASSERT_EQ(Ask(db, "connect"), "connected");
  auto handler = FForm->VexaIPCServer1->OnCustomMessage;
  bool gaveUp = false;
  FForm->VexaIPCServer1->OnCustomMessage = [&](fw::TMessage& m, bool& h) {
    gaveUp = db.WaitForLine("fail", 10s).has_value();  // the begin's time-out passes meanwhile
    handler(m, h);
  };
  db.WriteStdin("begin 9 200\n");
  ASSERT_TRUE(AppPumpUntil([&] { return gaveUp; }));
  FForm->VexaIPCServer1->OnCustomMessage = handler;
  ASSERT_NE(FForm->Table(9), nullptr);
  EXPECT_EQ(FForm->Table(9)->OpenTransactionCount(), 0);

  EXPECT_EQ(Ask(db, "begin 9"), "result 1001");
  EXPECT_EQ(Ask(db, "note 9 I 5"), "result 1");
  FForm->tmrClientFlushTimerTimer(nullptr);
  EXPECT_EQ(FForm->Table(9)->OpenTransactionCount(), 1);  // its writer lives
  db.Signal(SIGKILL);
  db.Wait(10s);
  FForm->tmrClientFlushTimerTimer(nullptr);
  EXPECT_EQ(FForm->Table(9)->OpenTransactionCount(), 0);
  EXPECT_EQ(Cells(FForm->lvTables->Items()->Item(0)), "1|2|0|0");
}

TEST_F(MainServerTest, RepeatedSubscribeIsListedPerRequestButSubscribesOnce) {
  Start();
  auto gw = Gateway(12);
  auto* session = dynamic_cast<TTcpSrvClient*>(FForm->NetSocketServer1->GetClient(0));
  ASSERT_NE(session, nullptr);
  auto command = [&](const std::string& line, char code) {
    gw->Send(line + "\r\n");
    std::optional<std::string> ack;
    AppPumpUntil([&] { return (ack = gw->Read(8, 1ms)).has_value(); });
    EXPECT_EQ(Hex(ack.value_or("")), Hex(Record(0, 12, code)));
  };
  command("s 12", 'S');
  EXPECT_EQ(session->TableIDs, (std::map<int32_t, uint32_t>{{12, 2}}));
  EXPECT_EQ(FForm->Table(12)->Subscribers().size(), 1u);
  EXPECT_EQ(session->Line, "S 12");
  command("U 12", 'U');
  EXPECT_EQ(session->TableIDs, (std::map<int32_t, uint32_t>{{12, 1}}));
  EXPECT_TRUE(FForm->Table(12)->Subscribers().empty());
}

TEST_F(MainServerTest, NewTableGetsARowWhoseCountsFillOnTheNextTick) {
  Start();
  EXPECT_EQ(Custom(FForm->DBNotificationID(), 1, 7 | ('I' << 8)).Result, 1);
  fw::TListItems* rows = FForm->lvTables->Items();
  ASSERT_EQ(rows->Count(), 1);
  EXPECT_EQ(rows->Item(0)->Caption(), "7");
  EXPECT_EQ(Cells(rows->Item(0)), "|||");
  EXPECT_EQ(FForm->DisplayMemo->Lines()->Get(FForm->DisplayMemo->Lines()->Count() - 1),
            "New Table: 7");

  EXPECT_EQ(Custom(FForm->DBTransID(), 0, 7 | ('B' << 8)).Result, 1000);
  FForm->tmrClientFlushTimerTimer(nullptr);
  EXPECT_EQ(Cells(rows->Item(0)), "1|1|1|0");
}

TEST_F(MainServerTest, LogDropsFiftyLinesOnceAboveTwoHundred) {
  Start();
  fw::TStrings* lines = FForm->DisplayMemo->Lines();
  while (lines->Count() < 201) FForm->AddToLog("line " + std::to_string(lines->Count()));
  FForm->AddToLog("last");
  EXPECT_EQ(lines->Count(), 152);
  EXPECT_EQ(lines->Get(151), "last");
}

TEST_F(MainServerTest, OversizedBoundsAreFittedToTheScreen) {
  Start("[Main Server Window]\nWidth=5000\nHeight=5000\nTop=-10\nLeft=-10\n");
  EXPECT_EQ(FForm->Width(), fw::Screen->Width());
  EXPECT_EQ(FForm->Height(), fw::Screen->Height());
  EXPECT_EQ(FForm->Top(), 0);
  EXPECT_EQ(FForm->Left(), 0);
}

TEST_F(MainServerTest, ClientCountFollowsSessionsAfterTheyLeave) {
  Start();
  EXPECT_EQ(FForm->ClientStatusText(), " Client Connections:  0");
  auto a = Gateway(1);
  auto b = Gateway(1);
  EXPECT_TRUE(AppPumpUntil([&] { return FForm->ClientStatusText() == " Client Connections:  2"; }));
  a->Close();
  EXPECT_TRUE(AppPumpUntil([&] { return FForm->ClientStatusText() == " Client Connections:  1"; }));
  // The session that left is gone from the table's subscribers too.
  EXPECT_TRUE(AppPumpUntil([&] { return FForm->Table(1)->Subscribers().size() == 1; }));
}

TEST_F(MainServerTest, TrayAndPanelsFollowTheListenerAndTheDatabaseSide) {
  Start();
  const std::string listening =
      fw::Application->Title() + " Listening at 0.0.0.0:" + std::to_string(FPort);
  EXPECT_EQ(FForm->TrayHint(), listening);
  EXPECT_EQ(TrayTip(FForm->KitTrayIcon1), listening);
  EXPECT_EQ(FForm->DatabaseStatusText(), " Database DLL:  Waiting...");
  EXPECT_EQ(FForm->ClientStatusText(), " Client Connections:  0");
  EXPECT_EQ(FForm->TrayIconIndex(), 0);
  EXPECT_EQ(SpotOf(FForm->KitTrayIcon1->Icon()), fw::clGray);

  // The database side joins and leaves the channel; this thread answers it
  // while waiting for its reply.
  test::ChildProcess db(test::BinPath("DbSidePeer"), {});
  ASSERT_EQ(db.ReadLine(10s).value_or(""), "ready");
  ASSERT_EQ(Ask(db, "connect"), "connected");
  EXPECT_TRUE(
      AppPumpUntil([&] { return FForm->DatabaseStatusText() == " Database DLL:  Connected"; }));
  EXPECT_EQ(FForm->TrayIconIndex(), 2);
  EXPECT_EQ(SpotOf(FForm->KitTrayIcon1->Icon()), fw::clLime);

  ASSERT_EQ(Ask(db, "disconnect"), "disconnected");
  EXPECT_TRUE(
      AppPumpUntil([&] { return FForm->DatabaseStatusText() == " Database DLL:  Waiting..."; }));
  EXPECT_EQ(FForm->TrayIconIndex(), 1);
  EXPECT_EQ(SpotOf(FForm->KitTrayIcon1->Icon()), fw::clRed);
  // The hint keeps telling where the server listens.
  EXPECT_EQ(TrayTip(FForm->KitTrayIcon1), listening);
}

TEST_F(MainServerTest, AnotherChannelOwnerShowsServerExistsWhileTheListenerRuns) {
  test::ChildProcess holder(test::BinPath("ChannelHolderPeer"), {});
  ASSERT_EQ(holder.ReadLine(10s).value_or(""), "serving");
  Start();
  EXPECT_EQ(FForm->DatabaseStatusText(), " Database DLL:  Server Exists");
  EXPECT_EQ(FForm->TrayIconIndex(), 0);
  EXPECT_EQ(SpotOf(FForm->KitTrayIcon1->Icon()), fw::clGray);
  EXPECT_EQ(FForm->NetSocketServer1->State(), wsListening);
  holder.CloseStdin();
}

TEST_F(MainServerTest, CloseHidesTheFormAndATrayClickShowsItAgain) {
  Start();
  FForm->Show();
  plat::SendMessage(FForm->Handle(), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
  EXPECT_FALSE(FForm->Visible());
  plat::PostMessage(FForm->KitTrayIcon1->IconWindow(), WM_KITTRAYNOTIFY, 0, plat::WM_LBUTTONUP);
  EXPECT_TRUE(AppPumpUntil([&] { return FForm->Visible(); }));

  FForm->Close1Click(FForm->Close1);
  EXPECT_FALSE(FForm->Visible());
  // Hidden, the server goes on serving.
  EXPECT_TRUE(FForm->VexaIPCServer1->Active());
  EXPECT_EQ(FForm->NetSocketServer1->State(), wsListening);
  EXPECT_EQ(TrayTip(FForm->KitTrayIcon1).rfind(fw::Application->Title() + " Listening at ", 0), 0u);
}

TEST_F(MainServerTest, ShutdownEndsTheServerOnlyWhenConfirmed) {
  Start();
  std::vector<fw::TDialogRequest> asked;
  std::vector<int> answers = {fw::mrNo, fw::mrCancel, fw::mrYes};
  fw::SetDialogResponder([&](const fw::TDialogRequest& r) {
    asked.push_back(r);
    return answers[asked.size() - 1];
  });
  FForm->Shutdown1Click(FForm->Shutdown1);
  FForm->Shutdown1Click(FForm->Shutdown1);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].Text,
            "Closing VEXA Notify Server will stop real time update \r\n"
            "notifications from being sent to client workstations.\r\n"
            "Are you sure you want to exit?");
  EXPECT_EQ(asked[0].DlgType, fw::mtWarning);
  EXPECT_TRUE(asked[0].Buttons == fw::mbYesNoCancel);
  EXPECT_TRUE(FForm->KitTrayIcon1->NoClose());
  EXPECT_TRUE(FForm->VexaIPCServer1->Active());
  EXPECT_EQ(FForm->NetSocketServer1->State(), wsListening);

  FForm->Shutdown1Click(FForm->Shutdown1);
  fw::SetDialogResponder(nullptr);
  EXPECT_EQ(asked.size(), 3u);
  EXPECT_FALSE(FForm->KitTrayIcon1->NoClose());
  EXPECT_FALSE(FForm->VexaIPCServer1->Active());
  EXPECT_NE(FForm->NetSocketServer1->State(), wsListening);
}

TEST_F(MainServerTest, MenusCarryTheirCommandsWindowKeepsItsMinimumAndClearLogEmptiesTheLog) {
  Start();
  EXPECT_EQ(FForm->File1->Caption(), "&File");
  EXPECT_EQ(FForm->Close1->Caption(), "&Close");
  EXPECT_EQ(FForm->N1->Caption(), "-");
  EXPECT_EQ(FForm->Shutdown1->Caption(), "&Shutdown Notify Server");
  EXPECT_EQ(FForm->View1->Caption(), "&View");
  EXPECT_EQ(FForm->ClearLog1->Caption(), "&Clear Log");
  FForm->SetBounds(10, 20, 100, 100);
  EXPECT_EQ(FForm->Width(), 382);
  EXPECT_EQ(FForm->Height(), 189);
  ASSERT_GT(FForm->DisplayMemo->Lines()->Count(), 0);
  FForm->ClearLog1->Click();
  EXPECT_EQ(FForm->DisplayMemo->Lines()->Count(), 0);
}

}  // namespace
}  // namespace vexa
