#include "tests/support/TestSession.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/kernel/Kernel.h"

namespace vexa::test {

namespace {
void SetOrUnset(const char* name, bool had, const std::string& value) {
  if (had) {
    setenv(name, value.c_str(), 1);
  } else {
    unsetenv(name);
  }
}
}  // namespace

TestSession::TestSession() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vexa-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) {
    throw std::runtime_error("cannot make a temporary directory");
  }
  FRoot = tmpl;
  std::filesystem::create_directory(SessionDir());
  // Whatever the umask: the programs refuse a session others may write.
  std::filesystem::permissions(SessionDir(), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  std::filesystem::create_directory(RegistryDir());
  if (const char* s = getenv("VEXA_SESSION_DIR")) {
    FHadSession = true;
    FOldSession = s;
  }
  if (const char* r = getenv("VEXA_REGISTRY_DIR")) {
    FHadRegistry = true;
    FOldRegistry = r;
  }
  setenv("VEXA_SESSION_DIR", SessionDir().c_str(), 1);
  setenv("VEXA_REGISTRY_DIR", RegistryDir().c_str(), 1);
  plat::ResetSessionDirForTesting();
}

TestSession::~TestSession() {
  SetOrUnset("VEXA_SESSION_DIR", FHadSession, FOldSession);
  SetOrUnset("VEXA_REGISTRY_DIR", FHadRegistry, FOldRegistry);
  plat::ResetSessionDirForTesting();
  std::error_code ec;
  std::filesystem::remove_all(FRoot, ec);
}

std::string BinPath(const std::string& program) {
  // The test programs are built into the same folder as the programs they
  // start, so a test binary finds them beside itself from any directory.
  // VEXA_TEST_BIN_DIR, when set, points elsewhere (a copied test binary).
  static const std::string ownDir = [] {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
  }();
  const char* dir = getenv("VEXA_TEST_BIN_DIR");
  return (dir && *dir ? std::string(dir) : ownDir) + "/" + program;
}

std::string CopyProgram(const std::string& program, const std::string& dir) {
  namespace fs = std::filesystem;
  fs::create_directories(dir);
  fs::path target = fs::path(dir) / program;
  fs::copy_file(BinPath(program), target, fs::copy_options::overwrite_existing);
  fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
  return target.string();
}

std::string UseEngineLockDir() {
  static const std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vexa-fblock-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a lock directory");
    // Registered before the engine starts, so it runs after the engine's own shutdown.
    static std::string removeAtExit = tmpl;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(removeAtExit, ec);
    });
    return tmpl;
  }();
  setenv("FIREBIRD_LOCK", dir.c_str(), 1);
  return dir;
}

int FreeTcpPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(fd);
  return port;
}

}  // namespace vexa::test
