// A program started by a test, with its standard output captured line by line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vexa::test {

class ChildProcess {
public:
  // Starts path with args; standard output (and standard error when
  // mergeStderr) is read through a pipe. The environment is inherited, plus extraEnv
  // entries of the form "NAME=value".
  ChildProcess(const std::string& path, const std::vector<std::string>& args,
               const std::vector<std::string>& extraEnv = {}, bool mergeStderr = false);
  ~ChildProcess();  // kills the process if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return FPid; }
  // Next whole line of output without its line end; nullopt on time-out or end of output.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
  // Reads lines until one contains needle; returns it, or nullopt on time-out.
  std::optional<std::string> WaitForLine(const std::string& needle, std::chrono::milliseconds timeout);
  // Whether a line read so far, or one read within the time-out, contains needle.
  bool Printed(const std::string& needle, std::chrono::milliseconds timeout);
  // Everything read so far, one line per entry, unless told not to keep
  // them (a program that prints millions of lines).
  const std::vector<std::string>& Lines() const { return FLines; }
  void KeepLines(bool keep) { FKeepLines = keep; }
  // Writes to the child's standard input.
  bool WriteStdin(const std::string& text);
  void CloseStdin();
  // Closes the reading end of the output pipe, as a reader that went away does.
  void CloseOutput();

  void Signal(int sig);
  // Waits for the exit; the exit code, 128 + signal when killed, nullopt on time-out.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  bool Running();

private:
  bool FillBuffer(std::chrono::milliseconds timeout);
  pid_t FPid = -1;
  int FOut = -1;
  int FIn = -1;
  std::string FBuffer;
  size_t FBufferPos = 0;  // where the next line begins
  bool FKeepLines = true;
  bool FEof = false;
  std::vector<std::string> FLines;
  std::optional<int> FStatus;
};

// Reads what fd gives until it is closed, or nothing came for the wait limit.
std::string ReadUntilClosed(int fd);

// Forks a child that runs report() and ends; answers what report() answered
// there, with " (child failed)" added when the child did not end well within
// the wait limit (it is killed then).
std::string ForkedChildsReport(const std::function<std::string()>& report);

// Waits (up to ten seconds) until the kernel shows the process as stopped.
bool WaitStopped(pid_t pid);

// A field of the process's /proc status in KB ("VmRSS", "RssAnon"); -1 when absent.
int64_t StatusKB(pid_t pid, const std::string& field);

// notifylistener's line for a notification.
std::string NotificationLine(int table, char code, uint32_t value);
// Reads a notifylistener's lines until one contains until, and returns it.
// Every notification of table read meanwhile must be the next one: *next
// holds the value expected and counts up. nullopt at the time-out or at a
// notification out of order (*next still names the one expected).
std::optional<std::string> ReadInOrderUntil(ChildProcess& listener, int table, char code, uint32_t* next,
                                            const std::string& until, std::chrono::milliseconds timeout);

}  // namespace vexa::test
