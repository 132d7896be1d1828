// notifylistener: a local client program of a gateway channel. It connects to
// the channel named on its command line, subscribes to the tables given after
// it and prints one line per notification and per server-state change. When
// the gateway is restarted it connects to the new one and subscribes again;
// when the gateway drops it for falling behind, it says so and subscribes again.
// SIGINT or SIGTERM unsubscribes the tables and disconnects.
//
//   notifylistener <channel> <table> [<table> ...]
//
// Lines on standard output:
//   Waiting for the gateway of channel <channel>   (once, while none serves it)
//   Connected to channel <channel>
//   Subscribed to table <n> (<result>)
//   Notification table=<n> code=<letter> value=<unsigned value>
//   NotifyServerState <1 up | 2 down>
//   Reconnected to channel <channel>, resubscribed to table <n> (<result>)[, table <n> (<result>) ...]
//   Notifications lost: the gateway dropped this client because <why>; resubscribed to table <n> (<result>)[, ...]
//   Unsubscribed from table <n>
//   Disconnected
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "clients/VexaIPCClient.h"
#include "platform/kernel/ProgramStart.h"
#include "platform/msg/Msg.h"

namespace {

const char* const kUsage =
    "usage: notifylistener <channel> <table> [<table> ...]\n"
    "Connects to the gateway (relaygate) serving <channel>, subscribes to each table id\n"
    "(1 to 255) and prints a line per notification and per notify-server state change.\n"
    "SIGINT or SIGTERM unsubscribes and disconnects.\n";

bool ParseTable(const std::string& text, int& table) {
  if (text.empty() || text.size() > 3) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > 255) return false;
  table = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (plat::AnswerHelp(argc, argv, kUsage)) return 0;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <channel> <table> [<table> ...]\n", argv[0]);
    return 2;
  }
  const std::string channel = argv[1];
  std::vector<int> tables;
  for (int i = 2; i < argc; ++i) {
    int t = 0;
    if (!ParseTable(argv[i], t)) {
      std::fprintf(stderr, "table ids are numbers 1 to 255: %s\n", argv[i]);
      return 2;
    }
    tables.push_back(t);
  }

  if (plat::SessionRefused("notifylistener")) return 1;

  bool stop = false;
  plat::SetCloseRequestHandler([&stop](int) {
    stop = true;
    plat::PostQuitMessage(0);
  });

  vexa::TVexaIPCClient client(channel);
  if (!client.Ready()) {
    std::fprintf(stderr, "cannot open the channel %s\n", channel.c_str());
    return 1;
  }
  const plat::UINT notificationID = client.CustomMessageID("Notification");
  const plat::UINT stateID = client.CustomMessageID("NotifyServerState");
  if (notificationID == 0 || stateID == 0) {
    std::fprintf(stderr, "cannot register the messages of channel %s\n", channel.c_str());
    return 1;
  }
  client.OnMessage = [&](plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
    if (msg == notificationID) {
      unsigned table = static_cast<uint32_t>(lParam) & 0xFF;
      char code = static_cast<char>((static_cast<uint32_t>(lParam) >> 8) & 0xFF);
      std::printf("Notification table=%u code=%c value=%u\n", table, code, static_cast<uint32_t>(wParam));
    } else if (msg == stateID) {
      std::printf("NotifyServerState %d\n", static_cast<int>(wParam));
    }
  };

  // A restarted gateway knows nothing of us: join it and subscribe again.
  client.SetAutoRejoin(true);
  client.OnRejoined = [&](plat::HWND) {
    std::printf("Reconnected to channel %s, resubscribed to %s\n", channel.c_str(), client.SubscribeAgain().c_str());
  };
  // The gateway let us go: what came meanwhile is lost, and the client library
  // has subscribed again.
  client.OnNotificationsLost = [](int32_t reason, const std::string& tables) {
    const std::string why = reason == vexa::cdrStalled       ? "it took no notification for a while"
                            : reason == vexa::cdrBacklogFull ? "more notifications waited for it than the gateway keeps"
                                                             : "of reason " + std::to_string(reason);
    std::printf("Notifications lost: the gateway dropped this client because %s; resubscribed to %s\n", why.c_str(),
                tables.c_str());
  };

  // The gateway may start after us: wait for it until told to stop.
  for (bool said = false; !stop && !client.WaitForServer(1000); said = true) {
    if (!said) std::printf("Waiting for the gateway of channel %s\n", channel.c_str());
  }
  if (stop) return plat::ProgramStatus(0);
  if (!client.Connect()) {
    std::fprintf(stderr, "the gateway of channel %s refused the connection\n", channel.c_str());
    return 1;
  }
  std::printf("Connected to channel %s\n", channel.c_str());
  for (int t : tables) {
    plat::LRESULT result = 0;
    client.Subscribe(t, &result);
    std::printf("Subscribed to table %d (%d)\n", t, static_cast<int>(result));
  }

  plat::MSG msg;
  while (!stop) {
    // Our own quit request has no window; a WM_QUIT another program posted
    // to the client's window must not end us.
    if (!plat::GetMessage(&msg, 0, 0, 0) && msg.hwnd == 0) break;
    plat::TranslateMessage(&msg);
    plat::DispatchMessage(&msg);
  }
  // Handle what already arrived before leaving.
  client.ProcessMessages();

  for (int t : tables) {
    client.Unsubscribe(t);
    std::printf("Unsubscribed from table %d\n", t);
  }
  client.Disconnect(2000);
  std::printf("Disconnected\n");
  plat::SetCloseRequestHandler(nullptr);
  return plat::ProgramStatus(0);
}
