#include "platform/kernel/ProgramStart.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/kernel/Invariant.h"
#include "platform/kernel/Kernel.h"

namespace plat {

bool AnswerHelp(int argc, char** argv, const char* Usage) {
  if (argc != 2 || (std::strcmp(argv[1], "--help") != 0 && std::strcmp(argv[1], "-h") != 0))
    return false;
  std::fputs(Usage, stdout);
  std::fflush(stdout);
  return true;
}

bool SessionRefused(const char* Program) {
  const std::string refusal = SessionDirRefusal();
  if (refusal.empty()) return false;
  std::fprintf(stderr, "%s: %s\n", Program, refusal.c_str());
  return true;
}

int ProgramStatus(int Status) {
  return Status == 0 && BrokenInvariants() != 0 ? kBrokenInvariantStatus : Status;
}

}  // namespace plat
