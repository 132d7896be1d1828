// What the notify server tests share: a beaconhub copy running in a folder of
// its own (so its settings file is private), the database-side stand-in, and
// plain TCP clients that read exact bytes.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSession.h"

namespace vexa::test {

using namespace std::chrono_literals;

// Generous limits: they only keep a broken run from hanging, nothing is timed.
inline constexpr auto kWait = 20s;

// Raises this process's limit of open files as far as allowed; answers it.
inline int64_t RaiseFileLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) != 0) return 1024;
  r.rlim_cur = r.rlim_max;
  setrlimit(RLIMIT_NOFILE, &r);
  getrlimit(RLIMIT_NOFILE, &r);
  return static_cast<int64_t>(std::min<rlim_t>(r.rlim_cur, 1 << 20));
}

// 8 bytes of a record as the wire carries it.
inline std::string Record(int32_t value, uint8_t table, char code, uint8_t r2 = 0, uint8_t r3 = 0) {
  std::string s(8, '\0');
  const uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  s[4] = static_cast<char>(table);
  s[5] = code;
  s[6] = static_cast<char>(r2);
  s[7] = static_cast<char>(r3);
  return s;
}

inline std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A blocking TCP client of the server on 127.0.0.1.
class TcpClient {
public:
  explicit TcpClient(int port) {
    FFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(FFd);
      FFd = -1;
    }
    int one = 1;
    if (FFd >= 0) setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~TcpClient() { Close(); }
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  bool Ok() const { return FFd >= 0; }
  int Fd() const { return FFd; }
  void Close() {
    if (FFd >= 0) close(FFd);
    FFd = -1;
  }
  void ShutdownWrite() { shutdown(FFd, SHUT_WR); }

  bool Send(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = send(FFd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Exactly n bytes, or nullopt when the peer closed or the limit passed first
  // (what did arrive stays readable through Pending()).
  std::optional<std::string> Read(size_t n, std::chrono::milliseconds limit = kWait) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (FBuf.size() < n) {
      if (!Fill(end)) return std::nullopt;
    }
    std::string out = FBuf.substr(0, n);
    FBuf.erase(0, n);
    return out;
  }

  // One line ended by CR LF, without it.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit = kWait) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      auto pos = FBuf.find("\r\n");
      if (pos != std::string::npos) {
        std::string line = FBuf.substr(0, pos);
        FBuf.erase(0, pos + 2);
        return line;
      }
      if (!Fill(end)) return std::nullopt;
    }
  }

  // Reads until the server closes the connection; returns everything that came
  // (nullopt when the limit passed with the connection still open).
  std::optional<std::string> ReadToClose(std::chrono::milliseconds limit = kWait) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!FClosed) {
      if (!Fill(end) && !FClosed) return std::nullopt;
    }
    std::string out = FBuf;
    FBuf.clear();
    return out;
  }

  // Takes in what has arrived so far, without waiting.
  void Gather() {
    while (Fill(std::chrono::steady_clock::now())) {
    }
  }

  bool PeerClosed() const { return FClosed; }
  const std::string& Pending() const { return FBuf; }

private:
  bool Fill(std::chrono::steady_clock::time_point end) {
    if (FFd < 0 || FClosed) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{FFd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) <= 0) return false;
    char buf[65536];
    ssize_t n = recv(FFd, buf, sizeof buf, 0);
    if (n <= 0) {
      FClosed = true;
      return false;
    }
    FBuf.append(buf, static_cast<size_t>(n));
    return true;
  }

  int FFd = -1;
  std::string FBuf;
  bool FClosed = false;
};

// A gateway that is greeted and subscribed to the given tables.
inline std::unique_ptr<TcpClient> Gateway(int port, std::initializer_list<int> tables) {
  auto c = std::make_unique<TcpClient>(port);
  EXPECT_TRUE(c->Ok());
  EXPECT_EQ(c->ReadLine().value_or("<none>"), "VEXA Notify Server");
  for (int t : tables) {
    c->Send("S " + std::to_string(t) + "\r\n");
    EXPECT_EQ(Hex(c->Read(8).value_or("")), Hex(Record(0, static_cast<uint8_t>(t), 'S')));
  }
  return c;
}

// A beaconhub copied into <session root>/app and started there.
class Beaconhub {
public:
  // iniText is written to beaconhub.ini before the start (empty: no file).
  // mergeStderr: standard error joins the captured output.
  Beaconhub(const TestSession& session, const std::string& iniText, bool start = true,
            bool mergeStderr = false)
      : FDir(session.Root() + "/app"), FMergeStderr(mergeStderr) {
    std::filesystem::create_directories(FDir);
    const std::string exe = FDir + "/beaconhub";
    if (!std::filesystem::exists(exe)) {
      std::filesystem::copy_file(BinPath("beaconhub"), exe);
    }
    if (!iniText.empty()) {
      std::ofstream(IniPath()) << iniText;
    }
    if (start) Start();
  }

  void Start() {
    FProcess = std::make_unique<ChildProcess>(FDir + "/beaconhub", std::vector<std::string>{},
                                              std::vector<std::string>{}, FMergeStderr);
  }
  // Waits for the listening line of the start-up step.
  bool WaitListening() { return static_cast<bool>(WaitFor("Listening for clients on adapter ")); }
  std::optional<std::string> WaitFor(const std::string& text) {
    return FProcess->WaitForLine(text,
                                 std::chrono::duration_cast<std::chrono::milliseconds>(kWait));
  }
  ChildProcess& Process() { return *FProcess; }
  std::string IniPath() const { return FDir + "/beaconhub.ini"; }
  std::string IniText() const {
    std::ifstream f(IniPath());
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  const std::string& Dir() const { return FDir; }

  // Ends the server the way SIGTERM does and returns its exit code.
  std::optional<int> Stop() {
    FProcess->Signal(SIGTERM);
    return FProcess->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kWait));
  }

private:
  std::string FDir;
  bool FMergeStderr = false;
  std::unique_ptr<ChildProcess> FProcess;
};

inline std::string IniFor(int port, int flushMs = 20, const std::string& extra = "") {
  return "[Server]\nPort=" + std::to_string(port) +
         "\n[Client]\nFlushInterval=" + std::to_string(flushMs) + "\n" + extra;
}

// A test with a session of its own and a free port for its beaconhub.
class HubTest : public ::testing::Test {
protected:
  // Starts the beaconhub with IniFor(port, flushMs, extra) and waits until it listens.
  void StartHub(int flushMs = 20, const std::string& extra = "") {
    hub.emplace(session, IniFor(port, flushMs, extra));
    ASSERT_TRUE(hub->WaitListening());
  }
  TestSession session;
  const int port = FreeTcpPort();
  std::optional<Beaconhub> hub;
};

// The database-side stand-in (DbSidePeer).
class DbSide {
public:
  DbSide() : FProcess(BinPath("DbSidePeer"), {}) {
    auto ready = FProcess.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(kWait));
    EXPECT_EQ(ready.value_or("<none>"), "ready");
  }
  std::string Ask(const std::string& command) {
    FProcess.WriteStdin(command + "\n");
    return FProcess.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(kWait))
        .value_or("<no answer>");
  }
  bool Connect() { return Ask("connect") == "connected"; }
  // The answer's number, or INT64_MIN when there was none.
  int64_t Result(const std::string& command) {
    const std::string a = Ask(command);
    if (a.rfind("result ", 0) != 0) {
      ADD_FAILURE() << command << " -> " << a;
      return INT64_MIN;
    }
    return std::stoll(a.substr(7));
  }
  int64_t Begin(int table) { return Result("begin " + std::to_string(table)); }
  int64_t End(int table, int64_t id) {
    return Result("end " + std::to_string(table) + " " + std::to_string(id));
  }
  int64_t Rollback(int table, int64_t id) {
    return Result("rollback " + std::to_string(table) + " " + std::to_string(id));
  }
  int64_t Note(int table, char code, int32_t value, int r2 = 0, int r3 = 0) {
    return Result("note " + std::to_string(table) + " " + std::string(1, code) + " " +
                  std::to_string(value) + " " + std::to_string(r2) + " " + std::to_string(r3));
  }
  ChildProcess& Process() { return FProcess; }

private:
  ChildProcess FProcess;
};

}  // namespace vexa::test
