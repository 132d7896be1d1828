// A TCP server on 127.0.0.1 that plays a script per accepted connection on a
// thread of its own, so that tests can make a notify server misbehave: split
// greetings, odd banners, records cut at chosen places.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexa::test {

// One notification record as the notify server writes it.
inline std::string WireRecord(int32_t value, uint8_t table, char code) {
  uint32_t v = static_cast<uint32_t>(value);
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  s.push_back(static_cast<char>(table));
  s.push_back(code);
  s.push_back('\0');
  s.push_back('\0');
  return s;
}

class ScriptedServer;

// What a script sees of its connection.
class ScriptedConnection {
public:
  ScriptedConnection(ScriptedServer& server, int fd, int index) : FServer(server), FFd(fd), FIndex(index) {}
  int Index() const { return FIndex; }
  void Send(const std::string& bytes);
  void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  // Reads until the bytes received on this connection contain needle; false on
  // time-out, server stop or peer close.
  bool WaitFor(const std::string& needle, int timeoutMs = 10000);
  // Reads until the peer closes or the server stops.
  void HoldOpen();
  void Close();

private:
  bool ReadSome(int timeoutMs);
  ScriptedServer& FServer;
  int FFd;
  int FIndex;
  bool FClosed = false;
};

class ScriptedServer {
public:
  using Script = std::function<void(ScriptedConnection&)>;

  // Connection i plays scripts[i], the last script for any further connection.
  explicit ScriptedServer(std::vector<Script> scripts) : FScripts(std::move(scripts)) {
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(FListen, 8);
    socklen_t len = sizeof a;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { Run(); });
  }
  ~ScriptedServer() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
    ::close(FListen);
  }

  int Port() const { return FPort; }
  int Connections() const { return FAccepted.load(); }
  bool Stopping() const { return FStop.load(); }
  // Everything received on connection i so far.
  std::string Received(int i) const {
    std::lock_guard<std::mutex> lock(FMutex);
    return i < static_cast<int>(FReceived.size()) ? FReceived[i] : std::string();
  }
  // A flag scripts can wait for (set by the test).
  std::atomic<bool> Go{false};
  bool WaitForGo(int timeoutMs = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Go && !FStop && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Go;
  }

private:
  friend class ScriptedConnection;
  void Append(int i, const char* data, size_t n) {
    std::lock_guard<std::mutex> lock(FMutex);
    FReceived[i].append(data, n);
  }
  void Run() {
    while (!FStop) {
      pollfd p{FListen, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int fd = ::accept(FListen, nullptr, nullptr);
      if (fd < 0) continue;
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      int index;
      {
        std::lock_guard<std::mutex> lock(FMutex);
        index = static_cast<int>(FReceived.size());
        FReceived.emplace_back();
      }
      FAccepted++;
      ScriptedConnection c(*this, fd, index);
      if (!FScripts.empty()) FScripts[std::min<size_t>(index, FScripts.size() - 1)](c);
      c.Close();
    }
  }

  std::vector<Script> FScripts;
  int FListen = -1;
  int FPort = 0;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<int> FAccepted{0};
  mutable std::mutex FMutex;
  std::vector<std::string> FReceived;
};

inline void ScriptedConnection::Send(const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::send(FFd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

inline bool ScriptedConnection::ReadSome(int timeoutMs) {
  if (FClosed) return false;
  pollfd p{FFd, POLLIN, 0};
  int r = ::poll(&p, 1, timeoutMs);
  if (r <= 0) return r == 0;
  char buf[4096];
  ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
  if (n <= 0) {
    FClosed = true;
    return false;
  }
  FServer.Append(FIndex, buf, static_cast<size_t>(n));
  return true;
}

inline bool ScriptedConnection::WaitFor(const std::string& needle, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (FServer.Received(FIndex).find(needle) == std::string::npos) {
    if (FServer.Stopping() || std::chrono::steady_clock::now() >= end) return false;
    if (!ReadSome(20) && FClosed) return false;
  }
  return true;
}

inline void ScriptedConnection::HoldOpen() {
  while (!FServer.Stopping()) {
    if (!ReadSome(20) && FClosed) return;
  }
}

inline void ScriptedConnection::Close() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
  FClosed = true;
}

}  // namespace vexa::test
