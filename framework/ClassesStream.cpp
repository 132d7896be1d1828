// Streams: memory and file streams.
#include "framework/Classes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fw {

// ---------------------------------------------------------------------------
// Streams

int64_t TStream::Position() { return Seek(0, soCurrent); }

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count))
    throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count)) {
    throw EWriteError("Stream write error");
  }
}

int64_t TStream::CopyFrom(TStream* Source, int64_t Count) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->Size();
  }
  int64_t result = Count;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(Count, 65536)) + 1);
  while (Count > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(Count, 65536));
    Source->ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    Count -= n;
  }
  return result;
}

int32_t TMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0) return 0;
  int64_t size = static_cast<int64_t>(FData.size());
  if (FPosition >= size) return 0;
  int64_t n = std::min<int64_t>(Count, size - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0) return 0;
  int64_t end = FPosition + Count;
  if (end > static_cast<int64_t>(FData.size())) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case soBeginning: FPosition = Offset; break;
    case soCurrent: FPosition += Offset; break;
    case soEnd: FPosition = static_cast<int64_t>(FData.size()) + Offset; break;
  }
  return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  FData.resize(static_cast<size_t>(NewSize));
  if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
  Stream->SetPosition(0);
  int64_t size = Stream->Size();
  SetSize(size);
  if (size > 0) Stream->ReadBuffer(FData.data(), static_cast<int32_t>(size));
  FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream* Stream) {
  if (!FData.empty()) Stream->WriteBuffer(FData.data(), static_cast<int32_t>(FData.size()));
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  LoadFileThroughStream(*this, FileName);
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
  SaveFileThroughStream(*this, FileName);
}

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName) {
  if (Mode == fmCreate) {
    FHandle = open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0) throw EFCreateError("Cannot create file \"" + FileName + "\"");
    return;
  }
  int flags = O_CLOEXEC;
  switch (Mode & 3) {
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY;
  }
  FHandle = open(FileName.c_str(), flags);
  if (FHandle >= 0) {
    struct stat st;
    if (fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(FHandle);
      FHandle = -1;
    }
  }
  if (FHandle < 0) throw EFOpenError("Cannot open file \"" + FileName + "\"");
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) close(FHandle);
}

int32_t TFileStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  int32_t done = 0;
  while (done < Count) {
    ssize_t n = read(FHandle, static_cast<char*>(Buffer) + done, static_cast<size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  int32_t done = 0;
  while (done < Count) {
    ssize_t n = write(FHandle, static_cast<const char*>(Buffer) + done,
                      static_cast<size_t>(Count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int whence = Origin == soBeginning ? SEEK_SET : (Origin == soCurrent ? SEEK_CUR : SEEK_END);
  return static_cast<int64_t>(lseek(FHandle, static_cast<off_t>(Offset), whence));
}

void TFileStream::SetSize(int64_t NewSize) {
  if (ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
    throw EStreamError("Stream write error");
  if (Position() > NewSize) SetPosition(NewSize);
}

}  // namespace fw
