#include "tests/support/ProgramCopy.h"

#include <signal.h>

#include <fstream>
#include <iterator>

#include "tests/support/TestSession.h"

namespace vexa::test {

ProgramCopy::ProgramCopy(const std::string& program, const std::string& dir, const std::string& iniText)
    : FPath(CopyProgram(program, dir)) {
  if (!iniText.empty()) WriteIni(iniText);
}

void ProgramCopy::WriteIni(const std::string& text) const { std::ofstream(IniPath()) << text; }

std::string ProgramCopy::ReadIni() const {
  std::ifstream in(IniPath());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
