// One chunk of a socket's send queue.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/Classes.h"

namespace vexa {

class TBuffer : public fw::TObject {
public:
  // A size of 0 or less means 1514.
  explicit TBuffer(int32_t Size);
  ~TBuffer() override = default;

  void SetBufSize(int32_t Size);
  // Copies as much of Data as fits behind the written bytes; returns the count.
  int32_t Write(const void* Data, int32_t Len);
  // Unsent bytes: their count in Len and where they start (nullptr, 0 when none).
  const char* Peek(int32_t& Len) const;
  // Takes up to Len unsent bytes out; an emptied chunk starts again at its front.
  int32_t Remove(int32_t Len);

  int32_t BufSize() const { return FBufSize; }
  int32_t WrCount() const { return FWrCount; }
  int32_t RdCount() const { return FRdCount; }

private:
  std::unique_ptr<char[]> FBuf;
  int32_t FBufSize = 0;
  int32_t FWrCount = 0;
  int32_t FRdCount = 0;
};

}  // namespace vexa
