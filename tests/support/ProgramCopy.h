// A program of bin/ run by a test from a copy of its own: programs read their
// INI file beside themselves, so each test's settings stay its own.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "tests/support/ChildProcess.h"

namespace vexa::test {

class ProgramCopy {
public:
  // Copies program into dir (made when missing); iniText, when not empty,
  // becomes its INI file.
  ProgramCopy(const std::string& program, const std::string& dir, const std::string& iniText = "");

  const std::string& Path() const { return FPath; }
  std::string IniPath() const { return FPath + ".ini"; }
  void WriteIni(const std::string& text) const;
  std::string ReadIni() const;  // "" when there is none

private:
  std::string FPath;
};

// Ends a program the way SIGTERM does and returns its exit code (nullopt
// when it did not end within limit).
std::optional<int> Terminate(ChildProcess& p, std::chrono::milliseconds limit = std::chrono::seconds(10));

// How many lines the program has printed so far contain needle.
int CountLines(const ChildProcess& p, const std::string& needle);

}  // namespace vexa::test
