// A private desktop session and registry for one test.
#pragma once

#include <string>

namespace vexa::test {

// Creates a fresh temporary directory with "session" and "registry" below it,
// points VEXA_SESSION_DIR and VEXA_REGISTRY_DIR at them (child processes
// started afterwards inherit them) and removes it all on destruction.
class TestSession {
public:
  TestSession();
  ~TestSession();
  TestSession(const TestSession&) = delete;
  TestSession& operator=(const TestSession&) = delete;

  const std::string& Root() const { return FRoot; }
  std::string SessionDir() const { return FRoot + "/session"; }
  std::string RegistryDir() const { return FRoot + "/registry"; }

private:
  std::string FRoot;
  std::string FOldSession;
  std::string FOldRegistry;
  bool FHadSession = false;
  bool FHadRegistry = false;
};

// Path of a program built into the build's bin/ folder: the folder of the
// running test binary, or VEXA_TEST_BIN_DIR when that is set.
std::string BinPath(const std::string& program);

// Copies a program of bin/ into dir (made when missing) and returns the copy's
// path: programs read their INI file beside themselves, so a test runs copies
// of its own.
std::string CopyProgram(const std::string& program, const std::string& dir);

// Returns a TCP port on 127.0.0.1 that was free a moment ago.
int FreeTcpPort();

// Points FIREBIRD_LOCK at this process's own lock directory and returns it.
// The embedded engine reads the variable once, when it starts, so the
// directory is the same for every test of the process (and the programs it
// starts, which must share the engine's locks on the same database files);
// it is removed when the process ends.
std::string UseEngineLockDir();

}  // namespace vexa::test
