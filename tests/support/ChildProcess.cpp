#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "tests/support/MessagePump.h"

extern char** environ;

namespace vexa::test {

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv, bool mergeStderr) {
  int out[2];
  int in[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const auto& x : extraEnv) {
    auto eq = x.find('=');
    std::string name = x.substr(0, eq + 1);
    std::erase_if(env, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
    env.push_back(x);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  FPid = fork();
  if (FPid < 0) throw std::runtime_error("fork failed");
  if (FPid == 0) {
    dup2(out[1], 1);
    if (mergeStderr) dup2(out[1], 2);
    dup2(in[0], 0);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(in[0]);
  FOut = out[0];
  FIn = in[1];
}

ChildProcess::~ChildProcess() {
  if (Running()) {
    kill(FPid, SIGKILL);
    Wait(std::chrono::milliseconds(5000));
  }
  if (FOut >= 0) close(FOut);
  if (FIn >= 0) close(FIn);
}

bool ChildProcess::FillBuffer(std::chrono::milliseconds timeout) {
  if (FEof) return false;
  pollfd p{FOut, POLLIN, 0};
  int r = poll(&p, 1, static_cast<int>(timeout.count()));
  if (r <= 0) return false;
  char buf[65536];
  ssize_t n = read(FOut, buf, sizeof buf);
  if (n <= 0) {
    FEof = true;
    return false;
  }
  FBuffer.erase(0, FBufferPos);
  FBufferPos = 0;
  FBuffer.append(buf, static_cast<size_t>(n));
  return true;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto nl = FBuffer.find('\n', FBufferPos);
    if (nl != std::string::npos) {
      std::string line = FBuffer.substr(FBufferPos, nl - FBufferPos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      FBufferPos = nl + 1;
      if (FKeepLines) FLines.push_back(line);
      return line;
    }
    // Rounded up, so that a short time-out still reads once.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || FEof) return std::nullopt;
    FillBuffer(left);
  }
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& needle,
                                                     std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto line = ReadLine(left);
    if (!line) return std::nullopt;
    if (line->find(needle) != std::string::npos) return line;
  }
}

bool ChildProcess::Printed(const std::string& needle, std::chrono::milliseconds timeout) {
  for (const std::string& line : FLines) {
    if (line.find(needle) != std::string::npos) return true;
  }
  return WaitForLine(needle, timeout).has_value();
}

bool ChildProcess::WriteStdin(const std::string& text) {
  if (FIn < 0) return false;
  return write(FIn, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void ChildProcess::CloseOutput() {
  if (FOut >= 0) close(FOut);
  FOut = -1;
  FEof = true;
}

void ChildProcess::CloseStdin() {
  if (FIn >= 0) close(FIn);
  FIn = -1;
}

void ChildProcess::Signal(int sig) {
  if (Running()) kill(FPid, sig);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (FStatus) return FStatus;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(FPid, &status, WNOHANG);
    if (r == FPid) {
      FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return FStatus;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ChildProcess::Running() {
  if (FStatus || FPid <= 0) return false;
  return !Wait(std::chrono::milliseconds(0)).has_value();
}

std::string ReadUntilClosed(int fd) {
  std::string got;
  char buf[256];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, static_cast<int>(kWaitLimit.count())) > 0) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

std::string ForkedChildsReport(const std::function<std::string()>& report) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    std::string r;
    try {
      r = report();
    } catch (const std::exception& e) {
      r = std::string("threw ") + e.what();
    }
    bool written = write(out[1], r.data(), r.size()) == static_cast<ssize_t>(r.size());
    _exit(written ? 0 : 1);
  }
  close(out[1]);
  std::string got = child > 0 ? ReadUntilClosed(out[0]) : "no fork";
  close(out[0]);
  int status = -1;
  if (child > 0 && !WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; })) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  if (child > 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) got += " (child failed)";
  return got;
}

bool WaitStopped(pid_t pid) {
  for (int i = 0; i < 1000; ++i) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = stat.rfind(')');
    if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int64_t StatusKB(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1));
  }
  return -1;
}

std::string NotificationLine(int table, char code, uint32_t value) {
  return "Notification table=" + std::to_string(table) + " code=" + std::string(1, code) +
         " value=" + std::to_string(value);
}

std::optional<std::string> ReadInOrderUntil(ChildProcess& listener, int table, char code, uint32_t* next,
                                            const std::string& until, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const std::string prefix = "Notification table=" + std::to_string(table) + " ";
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto line = listener.ReadLine(left);
    if (!line) return std::nullopt;
    if (line->rfind(prefix, 0) == 0) {
      if (*line != NotificationLine(table, code, *next)) return std::nullopt;
      ++*next;
    }
    if (line->find(until) != std::string::npos) return line;
  }
}

}  // namespace vexa::test
