// Bytes per second through TNetSocket::Send on one connection and on 100
// connections at once, beside plain non-blocking writes on the same
// connections in the same run (blocked writers wait for writability through
// the same message queue). A sink thread reads everything on loopback.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/Forms.h"
#include "platform/net/Net.h"
#include "sockets/NetSocket.h"

namespace {

using namespace vexa;

double Now() {
  int64_t c = 0, f = 1;
  plat::QueryPerformanceCounter(&c);
  plat::QueryPerformanceFrequency(&f);
  return static_cast<double>(c) / static_cast<double>(f);
}

// Reads from every accepted connection until told to stop; counts bytes.
class Sink {
public:
  explicit Sink(int connections) : FWant(connections) {
    FListener = plat::socket(plat::AF_INET, plat::SOCK_STREAM, plat::IPPROTO_TCP);
    plat::sockaddr_in a;
    a.sin_family = plat::AF_INET;
    a.sin_addr.s_addr = plat::inet_addr("127.0.0.1");
    plat::bind(FListener, reinterpret_cast<plat::sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    plat::getsockname(FListener, reinterpret_cast<plat::sockaddr*>(&a), &len);
    Port = plat::ntohs(a.sin_port);
    plat::listen(FListener, 200);
    FThread = std::thread([this] { Run(); });
  }
  ~Sink() {
    FStop = true;
    FThread.join();
    for (auto s : FConns) plat::closesocket(s);
    plat::closesocket(FListener);
  }
  int Port = 0;
  std::atomic<long long> Received{0};
  std::atomic<int> Accepted{0};

private:
  void Run() {
    while (Accepted < FWant && !FStop) {
      plat::SOCKET s = plat::accept(FListener, nullptr, nullptr);
      if (s == plat::INVALID_SOCKET) continue;
      plat::u_long on = 1;
      plat::ioctlsocket(s, plat::FIONBIO, &on);
      FConns.push_back(s);
      Accepted++;
    }
    std::vector<char> buf(1 << 16);
    while (!FStop) {
      bool any = false;
      for (auto s : FConns) {
        int n = plat::recv(s, buf.data(), static_cast<int>(buf.size()), 0);
        if (n > 0) {
          Received += n;
          any = true;
        }
      }
      if (!any) std::this_thread::yield();
    }
  }
  int FWant;
  std::vector<plat::SOCKET> FConns;
  plat::SOCKET FListener;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

void Pump() {
  plat::WaitMessageTimeout(1);
  fw::Application->ProcessMessages();
}

void Run(int connections, long long bytesPerConnection) {
  Sink sink(connections);
  std::vector<std::unique_ptr<TNetSocket>> socks;
  for (int i = 0; i < connections; i++) {
    auto s = std::make_unique<TNetSocket>(nullptr);
    s->SetAddr("127.0.0.1");
    s->SetPort(std::to_string(sink.Port));
    s->Connect();
    socks.push_back(std::move(s));
  }
  for (;;) {
    bool all = sink.Accepted == connections;
    for (auto& s : socks) all = all && s->State() == wsConnected;
    if (all) break;
    Pump();
  }
  const std::string block(256 * 1024, 'x');  // one write of the caller, both ways
  const long long total = bytesPerConnection * connections;

  // Through the socket layer: a block per Send, the next one as the queue
  // runs dry.
  std::vector<long long> left(connections, bytesPerConnection);
  long long base = sink.Received;
  double t0 = Now();
  for (int i = 0; i < connections; i++) {
    TNetSocket* s = socks[i].get();
    long long* rest = &left[i];
    s->OnDataSent = [s, rest, &block](fw::TObject*, uint16_t) {
      for (int k = 0; k < 1 && *rest > 0; k++) {
        int n = static_cast<int>(std::min<long long>(*rest, static_cast<long long>(block.size())));
        s->Send(block.data(), n);
        *rest -= n;
      }
    };
    s->OnDataSent(s, 0);
  }
  while (sink.Received - base < total) Pump();
  double layer = static_cast<double>(total) / (Now() - t0);
  for (auto& s : socks) s->OnDataSent = nullptr;
  for (int i = 0; i < 20; i++) Pump();

  // Plain non-blocking writes on the same connections.
  std::fill(left.begin(), left.end(), bytesPerConnection);
  base = sink.Received;
  t0 = Now();
  long long outstanding = total;
  while (outstanding > 0) {
    bool progress = false;
    for (int i = 0; i < connections; i++) {
      while (left[i] > 0) {
        int n =
            static_cast<int>(std::min<long long>(left[i], static_cast<long long>(block.size())));
        int r = plat::send(socks[i]->HSocket(), block.data(), n, 0);
        if (r <= 0) break;
        left[i] -= r;
        outstanding -= r;
        progress = true;
      }
    }
    // Blocked everywhere: wait for writability through the same queue.
    if (!progress) Pump();
  }
  while (sink.Received - base < total) std::this_thread::yield();
  double plain = static_cast<double>(total) / (Now() - t0);

  std::printf("%3d connection(s): Send %8.1f MB/s, plain writes %8.1f MB/s, ratio %.2f\n",
              connections, layer / 1e6, plain / 1e6, layer / plain);
  socks.clear();
}

}  // namespace

int main(int argc, char** argv) {
  long long perOne = 256LL << 20;
  if (argc > 1) perOne = std::atoll(argv[1]) << 20;
  plat::WSADATA data;
  plat::WSAStartup(0x0101, &data);
  Run(1, perOne);
  Run(100, perOne / 32);
  plat::WSACleanup();
  return 0;
}
