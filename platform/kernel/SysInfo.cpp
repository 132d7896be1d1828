#include "platform/kernel/SysInfo.h"

#include <pwd.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace plat {

bool GetUserName(std::string* name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::vector<char> buf(16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name &&
      *found->pw_name) {
    *name = found->pw_name;
    return true;
  }
  for (const char* var : {"USER", "LOGNAME"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      *name = v;
      return true;
    }
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return false;
}

bool GetComputerName(std::string* name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  *name = buf;
  return true;
}

std::string GetCurrentDirectory() {
  std::vector<char> buf(4096);
  while (getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() > (1u << 20)) return std::string();
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

std::string GetTempPath() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t) ? t : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

namespace {

// A "Name:   123 kB" line of a /proc file, in bytes; false when absent.
bool ProcValue(const char* file, const char* key, uint64_t* bytes) {
  std::ifstream in(file);
  std::string line;
  size_t klen = std::strlen(key);
  while (std::getline(in, line)) {
    if (line.compare(0, klen, key) == 0 && line.size() > klen && line[klen] == ':') {
      unsigned long long v = 0;
      if (std::sscanf(line.c_str() + klen + 1, "%llu", &v) != 1) return false;
      *bytes = uint64_t(v) * (line.find("kB") != std::string::npos ? 1024 : 1);
      return true;
    }
  }
  return false;
}

}  // namespace

bool GlobalMemoryStatusEx(MEMORYSTATUSEX* status) {
  if (!status) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *status = MEMORYSTATUSEX{};
  struct sysinfo si;
  if (sysinfo(&si) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  uint64_t unit = si.mem_unit ? si.mem_unit : 1;
  status->ullTotalPhys = uint64_t(si.totalram) * unit;
  uint64_t avail = 0;
  // Available memory counts reclaimable caches; older kernels lack the line.
  status->ullAvailPhys = ProcValue("/proc/meminfo", "MemAvailable", &avail)
                             ? avail
                             : (uint64_t(si.freeram) + uint64_t(si.bufferram)) * unit;
  if (status->ullAvailPhys > status->ullTotalPhys) status->ullAvailPhys = status->ullTotalPhys;
  if (status->ullTotalPhys)
    status->dwMemoryLoad = static_cast<DWORD>(
        (status->ullTotalPhys - status->ullAvailPhys) * 100 / status->ullTotalPhys);
  status->ullTotalPageFile = status->ullTotalPhys + uint64_t(si.totalswap) * unit;
  status->ullAvailPageFile = status->ullAvailPhys + uint64_t(si.freeswap) * unit;

  // The address space: the limit set for the process, else the user half of
  // the address width.
  struct rlimit rl;
  uint64_t space = sizeof(void*) == 8 ? (uint64_t(1) << 47) : (uint64_t(1) << 31);
  if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur < space)
    space = rl.rlim_cur;
  status->ullTotalVirtual = space;
  uint64_t used = 0;
  ProcValue("/proc/self/status", "VmSize", &used);
  status->ullAvailVirtual = used < space ? space - used : 0;
  return true;
}

bool GetDiskFreeSpaceEx(const std::string& path, uint64_t* freeBytesAvailable,
                        uint64_t* totalBytes, uint64_t* totalFreeBytes) {
  struct statvfs st;
  if (path.empty() || statvfs(path.c_str(), &st) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  uint64_t frag = st.f_frsize ? st.f_frsize : st.f_bsize;
  if (freeBytesAvailable) *freeBytesAvailable = uint64_t(st.f_bavail) * frag;
  if (totalBytes) *totalBytes = uint64_t(st.f_blocks) * frag;
  if (totalFreeBytes) *totalFreeBytes = uint64_t(st.f_bfree) * frag;
  return true;
}

void GetSystemInfo(SYSTEM_INFO* info) {
  if (!info) return;
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  info->dwNumberOfProcessors = n > 0 ? static_cast<DWORD>(n) : 1;
#if defined(__x86_64__)
  info->dwProcessorType = PROCESSOR_AMD_X8664;
#elif defined(__i386__)
  info->dwProcessorType = PROCESSOR_INTEL_PENTIUM;
#else
  info->dwProcessorType = 0;
#endif
}

}  // namespace plat
