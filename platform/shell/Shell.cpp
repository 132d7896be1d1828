#include "platform/shell/Shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/kernel/AsciiCase.h"

namespace plat {

namespace {

// Leading decimal number of text from pos on; pos moves past it and a dot.
DWORD NextNumber(const char* text, size_t* pos) {
  DWORD v = 0;
  size_t i = *pos;
  while (text[i] >= '0' && text[i] <= '9') {
    if (v < 100000000) v = v * 10 + static_cast<DWORD>(text[i] - '0');
    ++i;
  }
  if (text[i] == '.') ++i;
  *pos = i;
  return v;
}

}  // namespace

bool GetVersionEx(OSVERSIONINFO* info) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *info = OSVERSIONINFO{};
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  struct utsname u;
  if (uname(&u) != 0) return true;
  size_t pos = 0;
  info->dwMajorVersion = NextNumber(u.release, &pos);
  info->dwMinorVersion = NextNumber(u.release, &pos);
  info->dwBuildNumber = NextNumber(u.release, &pos);
  info->szCSDVersion = std::string(u.sysname) + " " + u.release;
  return true;
}

std::string GetWindowsDirectory() { return "/usr"; }
std::string GetSystemDirectory() { return "/usr/lib"; }

std::vector<std::string> SplitCommandParameters(const std::string& Parameters) {
  std::vector<std::string> args;
  std::string current;
  bool inArg = false, quoted = false;
  for (char c : Parameters) {
    if (c == '"') {
      quoted = !quoted;
      inArg = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArg) args.push_back(current);
      current.clear();
      inArg = false;
    } else {
      current.push_back(c);
      inArg = true;
    }
  }
  if (inArg) args.push_back(current);
  return args;
}

intptr_t ShellExecute(HWND, const std::string& Operation, const std::string& File,
                      const std::string& Parameters, const std::string& Directory, int) {
  if (!Operation.empty() && !SameAscii(Operation, "open")) return SE_ERR_NOASSOC;
  struct stat st;
  if (File.empty() || stat(File.c_str(), &st) != 0) return SE_ERR_FNF;
  if (S_ISDIR(st.st_mode) || access(File.c_str(), X_OK) != 0) return SE_ERR_ACCESSDENIED;
  struct stat dst;
  if (!Directory.empty() && (stat(Directory.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode))) {
    return SE_ERR_PNF;
  }

  // Everything the new process needs is made before forking: between fork
  // and exec only async-signal-safe calls are allowed in a threaded program.
  std::vector<std::string> args = SplitCommandParameters(Parameters);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(File.c_str()));
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const char* dir = Directory.empty() ? nullptr : Directory.c_str();

  // The program is started by a short-lived intermediate process, so it is
  // never our child; a pipe closed on exec tells whether exec succeeded.
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return SE_ERR_OOM;
  pid_t middle = fork();
  if (middle < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return SE_ERR_OOM;
  }
  if (middle == 0) {
    setsid();
    pid_t program = fork();
    if (program == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      struct sigaction dfl;
      std::memset(&dfl, 0, sizeof dfl);
      dfl.sa_handler = SIG_DFL;
      sigaction(SIGPIPE, &dfl, nullptr);
      int err = 0;
      if (dir && chdir(dir) != 0) err = ENOTDIR;  // reported as a missing folder
      if (err == 0) {
        execv(argv[0], argv.data());
        err = errno;
      }
      ssize_t w = write(pipeFds[1], &err, sizeof err);
      (void)w;
      _exit(127);
    }
    int err = program < 0 ? ENOMEM : 0;
    if (err) {
      ssize_t w = write(pipeFds[1], &err, sizeof err);
      (void)w;
    }
    _exit(0);
  }
  close(pipeFds[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  do {
    n = read(pipeFds[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(pipeFds[0]);
  if (n <= 0) return 42;  // exec closed the pipe: the program runs
  switch (err) {
    case ENOENT:
      return SE_ERR_FNF;
    case ENOTDIR:
      return SE_ERR_PNF;
    case ENOMEM:
      return SE_ERR_OOM;
    default:
      return SE_ERR_ACCESSDENIED;
  }
}

}  // namespace plat
