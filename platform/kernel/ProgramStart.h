// What every program settles before it does anything else.
#pragma once

namespace plat {

// True when the only argument is "--help" or "-h": the usage is then on standard
// output and the program ends with status 0, having touched nothing.
bool AnswerHelp(int argc, char** argv, const char* Usage);

// True when the session directory is refused (SessionDirRefusal): the reason is
// then on standard error after "<Program>: ", and the program ends with status 1,
// since everything it does speaks through the session.
bool SessionRefused(const char* Program);

// The status a program that ran ends with: Status, or 70 when it would be 0 but
// this run found an invariant of ours broken (checked builds check them), so
// that a run going on past a bug of ours does not pass for a clean one.
int ProgramStatus(int Status);

}  // namespace plat
