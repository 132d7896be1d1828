// Four costs that must grow with the work, not faster: cutting a burst of
// short lines in line mode, naming the components of one owner (as a server
// names each session it accepts), freeing a socket server with many sessions,
// and ending the oldest of many open transactions of a table. Each runs at three
// sizes ten times apart and prints the time per item and its ratio to the
// smallest size measured in the same run (about 1 when the cost is linear).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "framework/Forms.h"
#include "platform/kernel/Kernel.h"
#include "platform/net/Net.h"
#include "server/VexaKWVServer.h"
#include "sockets/LineBuffer.h"
#include "sockets/NetSocketS.h"

namespace {

using namespace vexa;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void Report(const char* what, const std::vector<int>& sizes, const std::vector<double>& perItem) {
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::printf("%-34s %8d items  %9.3f us/item  ratio %5.2f\n", what, sizes[i], perItem[i] * 1e6,
                perItem[i] / perItem[0]);
  }
}

// Runs one cost at each size and reports the time per item.
void Measure(const char* what, const std::vector<int>& sizes, double (*perItem)(int)) {
  std::vector<double> times;
  for (int n : sizes) times.push_back(perItem(n));
  Report(what, sizes, times);
}

// Line mode: a host that reads every offered line, as the server's handler does.
class Reader : public TLineHost {
public:
  explicit Reader(TLineBuffer& b) : FBuf(b) {}
  bool LineModeOn() override { return true; }
  bool DeliverLine() override {
    char line[128];
    int n = FBuf.Take(line, sizeof line, true);
    Lines += n > 0;
    return true;
  }
  void EchoBytes(const char*, int) override {}
  void EchoText(const std::string&) override {}
  void LineLimitExceeded(int, bool&) override {}
  int Lines = 0;

private:
  TLineBuffer& FBuf;
};

double LineCut(int lines) {
  std::string burst;
  for (int i = 0; i < lines; ++i) burst += "S " + std::to_string(i % 255 + 1) + "\r\n";
  TLineBuffer buf;
  Reader host(buf);
  const auto t0 = Clock::now();
  char* at = buf.PrepareAppend(static_cast<int>(burst.size()));
  std::memcpy(at, burst.data(), burst.size());
  buf.Process(host, static_cast<int>(burst.size()), "\r\n", 80, false, false);
  const auto t1 = Clock::now();
  if (host.Lines != lines) std::printf("line cut: %d of %d lines\n", host.Lines, lines);
  return Seconds(t0, t1) / lines;
}

void Pump() {
  plat::MSG m;
  while (plat::PeekMessage(&m, 0, 0, 0, plat::PM_REMOVE)) {
    plat::TranslateMessage(&m);
    plat::DispatchMessage(&m);
  }
}

// An owner that does not pass the insertion of each new component on to all the
// others, so that making many stays quick; only the naming is timed.
class QuietOwner : public fw::TComponent {
public:
  QuietOwner() : fw::TComponent(nullptr) {}

protected:
  void Notification(fw::TComponent*, fw::TOperation) override {}
};

// Each name is checked against the owner's others, as a server's sessions are.
double NameComponents(int count) {
  QuietOwner owner;
  std::vector<fw::TComponent*> items;
  for (int i = 0; i < count; ++i) items.push_back(new fw::TComponent(&owner));
  const auto t0 = Clock::now();
  for (int i = 0; i < count; ++i) items[size_t(i)]->SetName("Client" + std::to_string(i + 1));
  const auto t1 = Clock::now();
  if (owner.FindComponent("client1") != items[0]) std::printf("naming: client1 not found\n");
  return Seconds(t0, t1) / count;
}

double ServerFree(int sessions) {
  auto* server = new TNetSocketServer(nullptr);
  server->SetName("BenchServer");
  server->SetAddr("127.0.0.1");
  server->SetPort("0");
  server->SetBanner("");
  server->Listen();
  const int port = std::stoi(server->GetBoundPort());
  std::vector<plat::SOCKET> peers;
  plat::sockaddr_in a;
  a.sin_family = plat::AF_INET;
  a.sin_port = plat::htons(static_cast<plat::u_short>(port));
  a.sin_addr.s_addr = plat::inet_addr("127.0.0.1");
  while (static_cast<int>(peers.size()) < sessions) {
    // In steps the listen queue can hold, each served before the next.
    const int step = std::min(1000, sessions - static_cast<int>(peers.size()));
    for (int i = 0; i < step; ++i) {
      plat::SOCKET s = plat::socket(plat::AF_INET, plat::SOCK_STREAM, plat::IPPROTO_TCP);
      if (plat::connect(s, reinterpret_cast<plat::sockaddr*>(&a), sizeof a) != 0) {
        std::printf("connect failed: %d\n", plat::WSAGetLastError());
        std::exit(1);
      }
      peers.push_back(s);
    }
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (server->GetClientCount() < static_cast<int>(peers.size()) && Clock::now() < end) {
      Pump();
      plat::WaitMessageTimeout(1);
    }
  }
  const auto t0 = Clock::now();
  delete server;
  const auto t1 = Clock::now();
  for (plat::SOCKET s : peers) plat::closesocket(s);
  Pump();
  return Seconds(t0, t1) / sessions;
}

double EndOldest(int open) {
  TTransTableItem t;
  std::vector<int32_t> ids;
  for (int i = 0; i < open; ++i) {
    ids.push_back(t.BeginTransaction());
    t.AddNotification(i, 1 | ('I' << 8));
  }
  const auto t0 = Clock::now();
  for (int32_t id : ids) t.EndTransaction(id);
  const auto t1 = Clock::now();
  if (t.RecordCount() != 0) std::printf("end oldest: %d records left\n", t.RecordCount());
  return Seconds(t0, t1) / open;
}

}  // namespace

int main() {
  plat::RaiseDescriptorLimit();
  fw::Application->Initialize();
  plat::WSADATA data;
  plat::WSAStartup(0x0101, &data);

  Measure("line mode, short lines in one burst", {6400, 64000, 640000}, LineCut);
  Measure("naming the components of one owner", {4000, 40000, 400000}, NameComponents);
  Measure("freeing a server with its sessions", {40, 400, 4000}, ServerFree);
  Measure("ending the oldest open transaction", {400, 4000, 40000}, EndOldest);
  return 0;
}
