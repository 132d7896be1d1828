// Reading the notify server's side of the TCP link: the greeting line and the
// stream of 8-byte notification records that follows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexa {

// The texts a notify server greets with. Both are 18 characters; the socket's
// line end follows them.
inline constexpr const char* NotifyServerGreeting = "VEXA Notify Server";
inline constexpr const char* NotifyServerBusyBanner = "Busy              ";
inline constexpr size_t NotifyServerGreetingLength = 18;

enum class TGreetingKind { gkUnknown, gkGreeting, gkBusy };

// Judges what one read at the start of a session returned. Only the first 18
// bytes count, compared without regard to the case of the letters a-z; a read
// shorter than 18 bytes is never recognised.
TGreetingKind CheckGreeting(const char* data, int count);

// One record as the server writes it: Value (signed 32-bit, little-endian),
// table id, code letter and two reserved bytes the gateway ignores.
struct TProviderRecord {
  int32_t Value = 0;
  uint8_t TableID = 0;
  char Code = 0;
};

inline constexpr size_t ProviderRecordSize = 8;

// Cuts the byte stream into records however it is split into reads. Bytes of a
// record that a read leaves incomplete are kept until the next read completes it.
//
// Handling a record may pump messages (a relay that fails unsubscribes, which
// flushes the socket), so a read can arrive while an earlier one is still being
// handled. Such a nested read only appends its bytes; the outer call hands them
// on after its own, so records always leave in stream order.
class TNotifyRecordReader {
public:
  using TRecordHandler = std::function<void(const TProviderRecord&)>;

  // Appends the bytes of one read and hands every whole record to Handler. An
  // exception of the handler leaves the bytes not yet handled in the reader;
  // they go out ahead of the next read's records.
  void Feed(const uint8_t* data, size_t count, const TRecordHandler& handler);

  // Skips line-end bytes still owed by a greeting that came without all of
  // its line end: as long as the stream starts with the next of these bytes,
  // it is dropped.
  void ExpectPrefix(const std::string& bytes);

  // Forgets everything held (a new session starts).
  void Reset();

  // Bytes held back: at most 7 outside a handler.
  size_t Held() const { return FBytes.size() - FReadPos; }

private:
  std::vector<uint8_t> FBytes;
  size_t FReadPos = 0;
  std::string FSkip;
  bool FHandling = false;
};

}  // namespace vexa
