// Feeds the gateway's greeting check and record reader arbitrary bytes split
// into arbitrary reads, and checks that the records come out exactly as a
// plain 8-byte cut of the stream gives them, in order.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gateway/NotifyRecordReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Byte 0: how much the greeting read takes (0..20); byte 1 seeds the splits.
  size_t greetingLen = data[0] % 21;
  uint32_t seed = data[1] | 1u;
  data += 2;
  size -= 2;
  if (greetingLen > size) greetingLen = size;

  vexa::TGreetingKind kind =
      vexa::CheckGreeting(reinterpret_cast<const char*>(data), static_cast<int>(greetingLen));
  if (kind != vexa::TGreetingKind::gkUnknown && greetingLen < 18) std::abort();

  const uint8_t* stream = data + greetingLen;
  size_t streamLen = size - greetingLen;

  vexa::TNotifyRecordReader reader;
  std::vector<vexa::TProviderRecord> got;
  auto handler = [&](const vexa::TProviderRecord& r) { got.push_back(r); };
  size_t pos = 0;
  while (pos < streamLen) {
    seed = seed * 1103515245u + 12345u;
    size_t n = 1 + (seed >> 16) % 40;
    if (n > streamLen - pos) n = streamLen - pos;
    reader.Feed(stream + pos, n, handler);
    if (reader.Held() >= vexa::ProviderRecordSize) std::abort();
    pos += n;
  }

  size_t whole = streamLen / vexa::ProviderRecordSize;
  if (got.size() != whole) std::abort();
  for (size_t i = 0; i < whole; ++i) {
    const uint8_t* p = stream + i * vexa::ProviderRecordSize;
    int32_t value;
    uint32_t raw = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    std::memcpy(&value, &raw, 4);
    if (got[i].Value != value || got[i].TableID != p[4] || got[i].Code != static_cast<char>(p[5])) {
      std::abort();
    }
  }
  if (reader.Held() != streamLen % vexa::ProviderRecordSize) std::abort();
  return 0;
}
