// Stands in for the database side: a client of the notify server's channel
// "NotifyServerIPC" that runs transactions read from standard input, one per
// line, and answers each with a line on standard output.
//
//   <table> <code> <first value> <count> commit|rollback
//     "DBTrans" 'B' (sent; its result is the transaction id), <count>
//     "DBNotification" with values first, first+1, ..., then "DBTrans" 'E'
//     (commit) or 'R' (rollback) with the transaction id.
//     Answer: "done <transaction id>", or "failed" when the server is gone.
//     (Through the notifier a committed one is reported as at an engine's
//     commit, and a rolled-back one never reaches the server: "failed".)
//   broadcast <first id> <last id>
//     posts each id from first to last to HWND_BROADCAST with made-up
//     parameters. Answer: "refused <how many posts failed as invalid>".
//   quit
//
// With the argument "notifier" the transactions go through the database
// side's own notifier (its worker thread keeps the channel client), else
// straight through a channel client of this thread.
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "clients/VexaIPCClient.h"
#include "dbside/DbNotifier.h"

// A committed transaction through the notifier; the server's id for it, or 0
// when it did not reach the server. A rolled-back one is never reported.
int32_t RunWithNotifier(int table, char code, long long first, int count, bool commit) {
  if (!commit) return 0;
  std::vector<vexa::TDbChange> changes;
  for (int i = 0; i < count; ++i) changes.push_back({table, static_cast<int32_t>(first + i), code});
  return vexa::TDbNotifier::Instance().ReportCommit(changes);
}

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const bool viaNotifier = argc > 1 && std::string(argv[1]) == "notifier";
  auto client = std::make_unique<vexa::TVexaIPCClient>("NotifyServerIPC");
  if (!client->Ready() || !client->WaitForServer(20000) || (!viaNotifier && !client->Connect())) {
    std::printf("no server\n");
    return 1;
  }
  if (viaNotifier) {
    // The notifier's worker keeps a client of its own; this one's window
    // would only collect messages nobody reads.
    client.reset();
    vexa::TDbNotifier::Instance();  // its worker finds the server now
  }
  std::printf("ready\n");
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line == "quit") break;
    std::istringstream in(line);
    if (line.rfind("broadcast ", 0) == 0) {
      std::string word;
      unsigned first = 0;
      unsigned last = 0;
      in >> word >> first >> last;
      int refused = 0;
      for (unsigned id = first; id <= last; ++id) {
        const uint32_t junk = id * 2654435761u;
        refused += !plat::PostMessage(plat::HWND_BROADCAST, id, static_cast<plat::WPARAM>(junk),
                                      static_cast<plat::LPARAM>(~junk)) &&
                   plat::GetLastError() == plat::ERROR_INVALID_PARAMETER;
      }
      std::printf("refused %d\n", refused);
      continue;
    }
    int table = 0;
    char code = 0;
    long long first = 0;
    int count = 0;
    std::string end;
    if (!(in >> table >> code >> first >> count >> end)) {
      std::printf("bad line\n");
      continue;
    }
    if (viaNotifier) {
      const int32_t trans = RunWithNotifier(table, code, first, count, end == "commit");
      if (trans != 0) {
        std::printf("done %d\n", static_cast<int>(trans));
      } else {
        std::printf("failed\n");
      }
      continue;
    }
    plat::LRESULT trans = 0;
    bool ok = client->SendCustom("DBTrans", 0, table | ('B' << 8), &trans, 5000);
    for (int i = 0; ok && i < count; ++i) {
      plat::LRESULT r = 0;
      ok = client->SendCustom("DBNotification",
                              static_cast<plat::WPARAM>(static_cast<uint32_t>(first + i)),
                              table | (code << 8), &r, 5000);
    }
    if (ok) {
      ok = client->SendCustom("DBTrans", static_cast<plat::WPARAM>(trans),
                              table | ((end == "commit" ? 'E' : 'R') << 8), nullptr, 5000);
    }
    if (ok) {
      std::printf("done %d\n", static_cast<int>(trans));
    } else {
      std::printf("failed\n");
    }
  }
  if (client) client->Disconnect(2000);
  return 0;
}
