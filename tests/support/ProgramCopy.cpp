#include "tests/support/ProgramCopy.h"

#include <signal.h>

#include "tests/support/Files.h"
#include "tests/support/TestSession.h"

namespace vexa::test {

ProgramCopy::ProgramCopy(const std::string& program, const std::string& dir, const std::string& iniText)
    : FPath(CopyProgram(program, dir)) {
  if (!iniText.empty()) WriteIni(iniText);
}

void ProgramCopy::WriteIni(const std::string& text) const { WriteFile(IniPath(), text); }

std::string ProgramCopy::ReadIni() const { return ReadFile(IniPath()); }

std::optional<int> Terminate(ChildProcess& p, std::chrono::milliseconds limit) {
  p.Signal(SIGTERM);
  return p.Wait(limit);
}

int CountLines(const ChildProcess& p, const std::string& needle) {
  int n = 0;
  for (const std::string& line : p.Lines()) n += line.find(needle) != std::string::npos;
  return n;
}

}  // namespace vexa::test
