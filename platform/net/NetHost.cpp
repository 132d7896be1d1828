// Host entries and name resolution.
#include "platform/net/NetInternal.h"

namespace plat::net {

// Host entries laid out in one block: the entry, then the pointer arrays, then
// the strings and addresses.

int LayoutSize(const HostData& d) {
  size_t n = sizeof(hostent);
  n += (d.aliases.size() + 1) * sizeof(char*);
  n += (d.addrs.size() + 1) * sizeof(char*);
  n += d.addrs.size() * 4;
  n += d.name.size() + 1;
  for (auto& a : d.aliases) n += a.size() + 1;
  n += 16;  // alignment slack
  return static_cast<int>(n);
}

hostent* Layout(const HostData& d, char* buf, int bufLen) {
  if (LayoutSize(d) > bufLen) return nullptr;
  uintptr_t base = reinterpret_cast<uintptr_t>(buf);
  uintptr_t p = (base + alignof(hostent) - 1) & ~(uintptr_t)(alignof(hostent) - 1);
  auto* he = reinterpret_cast<hostent*>(p);
  p += sizeof(hostent);
  char** aliases = reinterpret_cast<char**>(p);
  p += (d.aliases.size() + 1) * sizeof(char*);
  char** addrList = reinterpret_cast<char**>(p);
  p += (d.addrs.size() + 1) * sizeof(char*);
  for (size_t i = 0; i < d.addrs.size(); i++) {
    std::memcpy(reinterpret_cast<void*>(p), &d.addrs[i], 4);
    addrList[i] = reinterpret_cast<char*>(p);
    p += 4;
  }
  addrList[d.addrs.size()] = nullptr;
  auto putStr = [&p](const std::string& s) {
    char* at = reinterpret_cast<char*>(p);
    std::memcpy(at, s.c_str(), s.size() + 1);
    p += s.size() + 1;
    return at;
  };
  he->h_name = putStr(d.name);
  for (size_t i = 0; i < d.aliases.size(); i++) aliases[i] = putStr(d.aliases[i]);
  aliases[d.aliases.size()] = nullptr;
  he->h_aliases = aliases;
  he->h_addrtype = AF_INET;
  he->h_length = 4;
  he->h_addr_list = addrList;
  return he;
}

namespace {

int LookupErrorFromGai(int rc) {
  switch (rc) {
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
#endif
    default:
      return WSANO_RECOVERY;
  }
}

thread_local std::string tResolverText;

}  // namespace

int ResolveName(const std::string& name, HostData* out) {
  addrinfo hints{};
  hints.ai_family = sys::kAfInet;
  hints.ai_socktype = sys::kSockStream;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* res = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
  tResolverText.clear();
  if (rc != 0) {
    tResolverText = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
    return LookupErrorFromGai(rc);
  }
  out->name = (res && res->ai_canonname) ? res->ai_canonname : name;
  for (addrinfo* a = res; a; a = a->ai_next) {
    if (a->ai_family != sys::kAfInet) continue;
    uint32_t v = reinterpret_cast<sys::SysSockaddrIn*>(a->ai_addr)->sin_addr.s_addr;
    if (std::find(out->addrs.begin(), out->addrs.end(), v) == out->addrs.end())
      out->addrs.push_back(v);
  }
  ::freeaddrinfo(res);
  if (out->addrs.empty()) {
    tResolverText = "no IPv4 address";
    return WSANO_DATA;
  }
  if (out->name != name) out->aliases.push_back(name);
  return 0;
}

int ResolveAddr(uint32_t addr, HostData* out) {
  sys::SysSockaddrIn sa{};
  sa.sin_family = sys::kAfInet;
  sa.sin_addr.s_addr = addr;
  char host[1025];
  int rc = ::getnameinfo(reinterpret_cast<sys::SysSockaddr*>(&sa), sizeof sa, host, sizeof host,
                         nullptr, 0, NI_NAMEREQD);
  if (rc != 0) return LookupErrorFromGai(rc);
  out->name = host;
  out->addrs.push_back(addr);
  return 0;
}

// ---------------------------------------------------------------------------
}  // namespace plat::net

namespace plat {

using namespace net;

u_long inet_addr(const char* cp) {
  if (!cp) return INADDR_NONE;
  // Parts in decimal, octal (leading 0) or hex (0x); a.b.c.d, a.b.c, a.b or a;
  // trailing blanks allowed.
  uint32_t parts[4] = {0, 0, 0, 0};
  int count = 0;
  const char* s = cp;
  for (;;) {
    if (!(*s >= '0' && *s <= '9')) return INADDR_NONE;
    uint64_t v = 0;
    int base = 10;
    if (*s == '0') {
      base = 8;
      s++;
      if (*s == 'x' || *s == 'X') {
        base = 16;
        s++;
      }
    }
    bool any = base == 8;  // the lone 0 counts
    for (;;) {
      int d;
      if (*s >= '0' && *s <= '9') d = *s - '0';
      else if (base == 16 && *s >= 'a' && *s <= 'f') d = *s - 'a' + 10;
      else if (base == 16 && *s >= 'A' && *s <= 'F') d = *s - 'A' + 10;
      else break;
      if (d >= base) return INADDR_NONE;
      v = v * base + d;
      if (v > 0xFFFFFFFFULL) return INADDR_NONE;
      any = true;
      s++;
    }
    if (!any) return INADDR_NONE;
    if (count >= 4) return INADDR_NONE;
    parts[count++] = static_cast<uint32_t>(v);
    if (*s == '.') {
      s++;
      continue;
    }
    break;
  }
  while (*s == ' ') s++;
  if (*s != '\0') return INADDR_NONE;
  uint32_t host;
  switch (count) {
    case 1:
      host = parts[0];
      break;
    case 2:
      if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return INADDR_NONE;
      host = (parts[0] << 24) | parts[1];
      break;
    case 3:
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return INADDR_NONE;
      host = (parts[0] << 24) | (parts[1] << 16) | parts[2];
      break;
    default:
      for (int i = 0; i < 4; i++)
        if (parts[i] > 0xFF) return INADDR_NONE;
      host = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
      break;
  }
  return sys::Htonl(host);
}

char* inet_ntoa(in_addr in) {
  thread_local char text[16];
  uint32_t h = sys::Ntohl(in.s_addr);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (h >> 24) & 0xFF, (h >> 16) & 0xFF,
                (h >> 8) & 0xFF, h & 0xFF);
  return text;
}

namespace {

// The answer of a blocking host lookup: null with the error kept for
// WSAGetLastError, or d laid out in the caller's per-thread block.
hostent* HostResult(int err, const HostData& d, std::vector<char>& block) {
  if (err) {
    tLastError = err;
    return nullptr;
  }
  block.assign(LayoutSize(d), 0);
  return Layout(d, block.data(), static_cast<int>(block.size()));
}

}  // namespace

hostent* gethostbyname(const char* name) {
  if (!StartedWith(name != nullptr)) return nullptr;
  HostData d;
  thread_local std::vector<char> block;
  return HostResult(ResolveName(name, &d), d, block);
}

std::string LastResolverErrorText() { return tResolverText; }

hostent* gethostbyaddr(const char* addr, int len, int type) {
  if (!StartedWith(addr && len == 4 && type == AF_INET)) return nullptr;
  uint32_t a;
  std::memcpy(&a, addr, 4);
  HostData d;
  thread_local std::vector<char> block;
  return HostResult(ResolveAddr(a, &d), d, block);
}

servent* getservbyname(const char* name, const char* proto) {
  if (!StartedWith(name != nullptr)) return nullptr;
  thread_local ::servent result;
  thread_local char buf[4096];
  thread_local servent out;
  ::servent* found = nullptr;
  if (::getservbyname_r(name, proto && *proto ? proto : nullptr, &result, buf, sizeof buf,
                        &found) != 0 ||
      !found) {
    tLastError = WSANO_DATA;
    return nullptr;
  }
  out.s_name = found->s_name;
  out.s_aliases = found->s_aliases;
  out.s_port = static_cast<int16_t>(found->s_port);
  out.s_proto = found->s_proto;
  return &out;
}

protoent* getprotobyname(const char* name) {
  if (!StartedWith(name != nullptr)) return nullptr;
  thread_local ::protoent result;
  thread_local char buf[4096];
  thread_local protoent out;
  ::protoent* found = nullptr;
  if (::getprotobyname_r(name, &result, buf, sizeof buf, &found) != 0 || !found) {
    tLastError = WSANO_DATA;
    return nullptr;
  }
  out.p_name = found->p_name;
  out.p_aliases = found->p_aliases;
  out.p_proto = static_cast<int16_t>(found->p_proto);
  return &out;
}

}  // namespace plat
