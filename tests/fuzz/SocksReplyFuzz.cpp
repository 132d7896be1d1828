// SOCKS replies in every state and level, arriving in arbitrary pieces, and
// the request builders fed arbitrary values: no read or write outside the
// 128-byte areas, and the parser's verdicts stay consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sockets/SocksProto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t state = 1 + data[0] % 3;
  const bool level5 = data[1] & 1;
  const bool auth = data[1] & 2;
  size_t i = 3;

  // The reply buffer is exactly the area, so any overrun is caught.
  uint8_t* reply = static_cast<uint8_t*>(std::malloc(vexa::SocksAreaSize));
  int count = 0;
  uint8_t st = state;
  while (i < size) {
    int want = vexa::SocksReplyWant(st, level5, count);
    if (want < 0 || count + want > vexa::SocksAreaSize) std::abort();
    int piece = 1 + data[i++] % 16;
    int n = 0;
    while (n < piece && n < want && i < size) reply[count + n++] = data[i++];
    if (n == 0 && want > 0) break;
    count += n;
    vexa::TSocksReply r = vexa::SocksParseReply(st, level5, auth, reply, count);
    if (count < 0 || count > vexa::SocksAreaSize) std::abort();
    if (r.Step == vexa::TSocksStep::Failed) {
      if (r.Error < 20001 || r.Error > 20016 || r.Msg.empty()) std::abort();
      break;
    }
    if (r.Step == vexa::TSocksStep::Connected) {
      if (r.LeftoverCount < 0 || r.LeftoverPos + r.LeftoverCount > count) std::abort();
      break;
    }
    if (r.Step == vexa::TSocksStep::SendConnect) st = vexa::SocksStateConnect;
    if (r.Step == vexa::TSocksStep::SendAuth) st = vexa::SocksStateAuth;
    if (want == 0) break;
  }
  std::free(reply);

  // Builders: values of any length never overrun the area.
  size_t ulen = data[2] % 200;
  std::string user(reinterpret_cast<const char*>(data), std::min(ulen, size));
  std::string host(reinterpret_cast<const char*>(data) + std::min(size, ulen),
                   std::min<size_t>(size - std::min(size, ulen), 300));
  uint8_t* area = static_cast<uint8_t*>(std::malloc(vexa::SocksAreaSize));
  int n4 = vexa::SocksBuildConnect4(area, 0x5000, 0x0100007F, user, (data[1] & 4) != 0, host);
  int n5 = vexa::SocksBuildConnect5(area, host, 0x5000);
  int na = vexa::SocksBuildAuth(area, user, host);
  if (n4 > vexa::SocksAreaSize || n5 > vexa::SocksAreaSize || na > vexa::SocksAreaSize)
    std::abort();
  if (n5 >= 0 && n5 != static_cast<int>(7 + host.size())) std::abort();
  std::free(area);
  return 0;
}
