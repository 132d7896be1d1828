// Stands in for the database side of the notify server: a client of the
// "NotifyServerIPC" channel that sends "DBTrans" and "DBNotification" as the
// database's change triggers do. Commands arrive on standard input, one a line;
// every answer is one line on standard output.
//
//   connect                      find the server and join the channel -> "connected" | "failed"
//   send NAME WPARAM LPARAM      send a custom message, wait for its result -> "result N" | "fail"
//   post NAME WPARAM LPARAM      post a custom message -> "posted" | "fail"
//   begin T [MS]                 "DBTrans" "B" for table T, waiting MS ms (default 10000)
//                                for its result -> "result ID"
//   run T N                      begin T, N "DBNotification"s with code "I" and values 0 .. N-1,
//                                end -> "result ID" | "fail"
//   note T CODE VALUE [R2 R3]    "DBNotification" for table T, code letter, value and the
//                                two reserved bytes -> "result N"
//   end T ID / rollback T ID     "DBTrans" "E" / "R" -> "result N"
//   probe T N                    N transactions on table T, one each 10 ms: begin, one
//                                "I" notification of value 0..N-1, end; every call timed
//                                -> "slowest MS failed K"
//   disconnect                   leave the channel -> "disconnected"
//   quit
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "clients/VexaIPCClient.h"

namespace {

int32_t Lp(int table, int letter, int r2 = 0, int r3 = 0) {
  return static_cast<int32_t>((static_cast<uint32_t>(table) & 0xFF) |
                              ((static_cast<uint32_t>(letter) & 0xFF) << 8) |
                              ((static_cast<uint32_t>(r2) & 0xFF) << 16) |
                              ((static_cast<uint32_t>(r3) & 0xFF) << 24));
}

void Say(const std::string& s) {
  std::fputs((s + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void SayResult(bool ok, plat::LRESULT r) {
  Say(ok ? "result " + std::to_string(r) : std::string("fail"));
}

// Sends a custom message and reports its result.
void SendAndSay(vexa::TVexaIPCClient& client, const std::string& name, int32_t w, int32_t l,
                plat::DWORD timeoutMs = 10000) {
  plat::LRESULT r = 0;
  const bool ok = client.SendCustom(name, w, l, &r, timeoutMs);
  SayResult(ok, r);
}

}  // namespace

int main() {
  vexa::TVexaIPCClient client("NotifyServerIPC");
  Say(client.Ready() ? "ready" : "not ready");
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    if (cmd == "connect") {
      const bool ok = client.WaitForServer(10000) && client.Connect();
      Say(ok ? "connected" : "failed");
    } else if (cmd == "send" || cmd == "post") {
      std::string name;
      int64_t w = 0;
      int64_t l = 0;
      in >> name >> w >> l;
      if (cmd == "send") {
        SendAndSay(client, name, static_cast<int32_t>(w), static_cast<int32_t>(l));
      } else {
        Say(client.PostCustom(name, static_cast<int32_t>(w), static_cast<int32_t>(l)) ? "posted"
                                                                                      : "fail");
      }
    } else if (cmd == "begin") {
      int t = 0;
      plat::DWORD ms = 0;
      if (!(in >> t >> ms)) ms = 10000;
      SendAndSay(client, "DBTrans", 0, Lp(t, 'B'), ms);
    } else if (cmd == "run") {
      int t = 0;
      int n = 0;
      in >> t >> n;
      plat::LRESULT id = 0;
      bool ok = client.SendCustom("DBTrans", 0, Lp(t, 'B'), &id, 10000);
      for (int i = 0; ok && i < n; ++i) {
        ok = client.SendCustom("DBNotification", i, Lp(t, 'I'), nullptr, 10000);
      }
      ok = ok && client.SendCustom("DBTrans", id, Lp(t, 'E'), nullptr, 10000);
      SayResult(ok, id);
    } else if (cmd == "end" || cmd == "rollback") {
      int t = 0;
      int64_t id = 0;
      in >> t >> id;
      SendAndSay(client, "DBTrans", static_cast<int32_t>(id), Lp(t, cmd == "end" ? 'E' : 'R'));
    } else if (cmd == "note") {
      int t = 0;
      std::string code;
      int64_t value = 0;
      int r2 = 0;
      int r3 = 0;
      in >> t >> code >> value >> r2 >> r3;
      const int letter = code.empty() ? 0 : static_cast<unsigned char>(code[0]);
      SendAndSay(client, "DBNotification", static_cast<int32_t>(value), Lp(t, letter, r2, r3));
    } else if (cmd == "probe") {
      int t = 0;
      int n = 0;
      in >> t >> n;
      int64_t slowest = 0;
      int failed = 0;
      auto timed = [&](const char* name, int32_t w, int32_t l, plat::LRESULT* r) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = client.SendCustom(name, w, l, r, 10000);
        slowest = std::max<int64_t>(slowest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - start)
                                                 .count());
        failed += ok ? 0 : 1;
        return ok;
      };
      for (int i = 0; i < n; ++i) {
        plat::LRESULT id = 0;
        if (timed("DBTrans", 0, Lp(t, 'B'), &id)) {
          timed("DBNotification", i, Lp(t, 'I'), nullptr);
          timed("DBTrans", static_cast<int32_t>(id), Lp(t, 'E'), nullptr);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      Say("slowest " + std::to_string(slowest) + " failed " + std::to_string(failed));
    } else if (cmd == "disconnect") {
      client.Disconnect();
      Say("disconnected");
    } else if (cmd == "quit") {
      break;
    } else if (!cmd.empty()) {
      Say("unknown " + cmd);
    }
  }
  return 0;
}
