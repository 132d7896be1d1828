#include "sockets/WSockBuf.h"

#include <algorithm>
#include <cstring>

namespace vexa {

TBuffer::TBuffer(int32_t Size) { SetBufSize(Size); }

void TBuffer::SetBufSize(int32_t Size) {
  if (Size <= 0) Size = 1514;
  if (Size == FBufSize) return;
  if (FWrCount == FRdCount) {
    FBuf.reset(new char[static_cast<size_t>(Size)]);
    FWrCount = 0;
    FRdCount = 0;
  } else {
    std::unique_ptr<char[]> nb(new char[static_cast<size_t>(Size)]);
    // Shrinking below the written bytes keeps what fits.
    FWrCount = std::min(FWrCount, Size);
    FRdCount = std::min(FRdCount, FWrCount);
    std::memcpy(nb.get(), FBuf.get(), static_cast<size_t>(FWrCount));
    FBuf = std::move(nb);
  }
  FBufSize = Size;
}

int32_t TBuffer::Write(const void* Data, int32_t Len) {
  int32_t room = FBufSize - FWrCount;
  if (room <= 0 || Len <= 0) return 0;
  int32_t n = std::min(room, Len);
  std::memcpy(FBuf.get() + FWrCount, Data, static_cast<size_t>(n));
  FWrCount += n;
  return n;
}

const char* TBuffer::Peek(int32_t& Len) const {
  if (FWrCount > FRdCount) {
    Len = FWrCount - FRdCount;
    return FBuf.get() + FRdCount;
  }
  Len = 0;
  return nullptr;
}

int32_t TBuffer::Remove(int32_t Len) {
  int32_t unsent = FWrCount - FRdCount;
  if (unsent <= 0 || Len <= 0) return 0;
  int32_t n = std::min(Len, unsent);
  FRdCount += n;
  if (FRdCount >= FWrCount) {
    FRdCount = 0;
    FWrCount = 0;
  }
  return n;
}

}  // namespace vexa
