#include "gateway/NotifyRecordReader.h"

#include <cstring>

namespace vexa {

namespace {

char UpperAZ(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringCase(const char* data, const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (UpperAZ(data[i]) != UpperAZ(text[i])) return false;
  }
  return true;
}

}  // namespace

TGreetingKind CheckGreeting(const char* data, int count) {
  if (data == nullptr || count < static_cast<int>(NotifyServerGreetingLength)) {
    return TGreetingKind::gkUnknown;
  }
  if (SameIgnoringCase(data, NotifyServerGreeting, NotifyServerGreetingLength)) {
    return TGreetingKind::gkGreeting;
  }
  if (SameIgnoringCase(data, NotifyServerBusyBanner, NotifyServerGreetingLength)) {
    return TGreetingKind::gkBusy;
  }
  return TGreetingKind::gkUnknown;
}

void TNotifyRecordReader::ExpectPrefix(const std::string& bytes) { FSkip = bytes; }

void TNotifyRecordReader::Reset() {
  FBytes.clear();
  FReadPos = 0;
  FSkip.clear();
}

void TNotifyRecordReader::Feed(const uint8_t* data, size_t count, const TRecordHandler& handler) {
  if (data != nullptr && count > 0) {
    // Line-end bytes of the greeting that arrived late belong to no record.
    size_t skip = 0;
    while (!FSkip.empty() && skip < count && data[skip] == static_cast<uint8_t>(FSkip[0])) {
      FSkip.erase(0, 1);
      ++skip;
    }
    if (skip < count) FSkip.clear();
    FBytes.insert(FBytes.end(), data + skip, data + count);
  }
  if (FHandling) return;  // the outer call hands these on after its own

  struct TGuard {
    TNotifyRecordReader& R;
    explicit TGuard(TNotifyRecordReader& r) : R(r) { R.FHandling = true; }
    ~TGuard() {
      R.FHandling = false;
      // Keep only what is not handled yet, at the front.
      R.FBytes.erase(R.FBytes.begin(), R.FBytes.begin() + static_cast<std::ptrdiff_t>(R.FReadPos));
      R.FReadPos = 0;
    }
  } guard(*this);

  while (FBytes.size() - FReadPos >= ProviderRecordSize) {
    const uint8_t* p = FBytes.data() + FReadPos;
    TProviderRecord rec;
    uint32_t raw = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                   (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    rec.Value = static_cast<int32_t>(raw);
    rec.TableID = p[4];
    rec.Code = static_cast<char>(p[5]);
    FReadPos += ProviderRecordSize;
    if (handler) handler(rec);
  }
}

}  // namespace vexa
