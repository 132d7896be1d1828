#include "components/kitprocs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "components/KitObject.h"
#include "components/kitclass.h"
#include "platform/shell/Shell.h"

namespace vexa {

// ---- Directories --------------------------------------------------------------

std::string ProgramDirectory() {
  return AddTrailingBackslash(fw::ExtractFilePath(fw::ParamStr0()));
}

std::string SystemDirectoryPath() { return plat::GetSystemDirectory(); }

std::string WindowsDirectoryPath() { return plat::GetWindowsDirectory(); }

std::string PrefixDirectory(TKitPathPrefix Prefix, bool WithBackslash) {
  std::string dir;
  switch (Prefix) {
    case ppWindows: dir = WindowsDirectoryPath(); break;
    case ppSystem: dir = SystemDirectoryPath(); break;
    case ppProgram: dir = ProgramDirectory(); break;
    case ppFixed: return std::string();
  }
  return WithBackslash ? AddTrailingBackslash(dir) : RemoveTrailingBackslash(dir);
}

// ---- Rectangles and arrays -----------------------------------------------------

void FitRectProportional(const fw::TRect& Source, const fw::TRect& Target, fw::TRect& Result) {
  int32_t sw = Source.Width(), sh = Source.Height();
  if (sw <= 0 || sh <= 0) {
    Result = fw::TRect{Target.Left, Target.Top, Target.Left, Target.Top};
    return;
  }
  long double scale = std::min((long double)Target.Width() / sw, (long double)Target.Height() / sh);
  int32_t w = int32_t(std::trunc(sw * scale)), h = int32_t(std::trunc(sh * scale));
  Result = fw::TRect{Target.Left, Target.Top, Target.Left + w, Target.Top + h};
}

void RectExtent(const fw::TRect& Rect, int32_t& Width, int32_t& Height) {
  Width = Rect.Right - Rect.Left;
  Height = Rect.Bottom - Rect.Top;
}

void RotatedRectBounds(fw::TRect& Rect, int32_t Degrees) {
  if (Degrees == 0) return;
  int32_t hw = (Rect.Right - Rect.Left) / 2, hh = (Rect.Bottom - Rect.Top) / 2;
  int32_t cx = Rect.Left + hw, cy = Rect.Top + hh;
  long double a = Degrees * 3.14159265358979323846264338327950288L / 180.0L;
  long double s = std::sin(a), c = std::cos(a);
  auto round = [](long double v) { return int32_t(std::nearbyint(v)); };  // halves to even
  int32_t l = round(hw * c - hh * s), m = round(hw * c + hh * s);
  int32_t t = round(hw * s - hh * c), u = round(hw * s + hh * c);
  int32_t xs[4] = {cx - l, cx - m, cx + m, cx + l};
  int32_t ys[4] = {cy + t, cy + u, cy - u, cy - t};
  int32_t left = *std::min_element(xs, xs + 4), right = *std::max_element(xs, xs + 4);
  int32_t top = *std::min_element(ys, ys + 4), bottom = *std::max_element(ys, ys + 4);
  Rect = fw::TRect{0, 0, right - left, bottom - top};
}

int32_t MaxOfInts(std::span<const int32_t> Values) {
  return Values.empty() ? 0 : *std::max_element(Values.begin(), Values.end());
}

int32_t MinOfInts(std::span<const int32_t> Values) {
  return Values.empty() ? 0 : *std::min_element(Values.begin(), Values.end());
}

long double MinOfExtended(std::span<const long double> Values) {
  return Values.empty() ? 0.0L : *std::min_element(Values.begin(), Values.end());
}

// ---- Block compression ------------------------------------------------------------

bool FindBlockMatch(const uint8_t* Source, uint32_t Position, uint32_t Count,
                    uint32_t& MatchPosition, uint32_t& MatchLength, uint16_t* HashTable) {
  MatchPosition = 0;
  MatchLength = 0;
  if (Position + 3 > Count) return false;
  uint32_t h = ((((uint32_t(Source[Position]) << 4) ^ Source[Position + 1]) << 4) ^
                Source[Position + 2]);
  h = ((h * 40543u) >> 4) & 0xFFF;
  uint16_t entry = HashTable[h];
  HashTable[h] = uint16_t(Position);
  if (entry == 0xFFFF) return false;
  int32_t candidate = int16_t(entry);  // positions of 32768 and above turn negative: never used
  if (int32_t(Position) - candidate > 4095 || candidate < 0 || uint32_t(candidate) >= Position)
    return false;
  uint32_t len = 0;
  while (len < 18 && Position + len < Count && Source[Position + len] == Source[candidate + len])
    ++len;
  MatchPosition = uint32_t(candidate);
  MatchLength = len;
  return len >= 3;
}

uint16_t CompressBlock(const uint8_t* Source, uint8_t* Dest, uint16_t Count) {
  // Larger blocks could not report their stored length in 16 bits.
  if (Count > KitBlockSourceSize) throw fw::EInvalidOperation("Block too large");
  std::vector<uint16_t> table;
  try {
    table.assign(KitHashTableEntries, 0xFFFF);
  } catch (const std::bad_alloc&) {
    throw EInvalidPointer("LZRW Error!");
  }
  const uint32_t n = Count;
  uint32_t p = 0, out = 3, ctrl = 1, items = 0, bits = 0;
  Dest[0] = 64;
  auto putControl = [&]() {
    Dest[ctrl] = uint8_t(bits >> 8);
    Dest[ctrl + 1] = uint8_t(bits);
  };
  while (p < n && out <= n) {
    if (items == 16) {
      putControl();
      ctrl = out;
      out += 2;
      items = 0;
      bits = 0;
    }
    uint32_t r = 1;
    while (p + r < n && Source[p + r] == Source[p] && r < 4095) ++r;
    uint32_t mpos = 0, mlen = 0;
    if (r >= 16) {
      Dest[out++] = 0;
      Dest[out++] = uint8_t((r - 16) >> 8);
      Dest[out++] = uint8_t(r - 16);
      Dest[out++] = Source[p];
      p += r;
      bits = (bits << 1) | 1;
    } else if (FindBlockMatch(Source, p, n, mpos, mlen, table.data())) {
      uint32_t v = ((p - mpos) << 4) + (mlen - 3);
      Dest[out++] = uint8_t(v >> 8);
      Dest[out++] = uint8_t(v);
      p += mlen;
      bits = (bits << 1) | 1;
    } else {
      Dest[out++] = Source[p++];
      bits <<= 1;
    }
    ++items;
  }
  bits <<= (16 - items);
  putControl();
  if (out > n) {
    Dest[0] = 128;
    if (n) std::memmove(Dest + 1, Source, n);
    return uint16_t(n + 1);
  }
  return uint16_t(out);
}

namespace {

[[noreturn]] void Damaged() { throw fw::EReadError("Compressed data is damaged"); }

}  // namespace

uint16_t DecompressBlock(const uint8_t* Source, uint8_t* Dest, uint16_t Length, uint32_t DestSize) {
  const uint32_t len = Length;
  if (len == 0) return 0;
  if (Source[0] == 128) {
    if (len - 1 > DestSize) Damaged();
    if (len > 1) std::memcpy(Dest, Source + 1, len - 1);
    return uint16_t(len - 1);
  }
  if (Source[0] != 64 || len < 3) Damaged();
  uint32_t ctrl = (uint32_t(Source[1]) << 8) | Source[2];
  uint32_t left = 16, in = 3, out = 0;
  while (in < len) {
    if (left == 0) {
      if (in + 2 > len) Damaged();
      ctrl = (uint32_t(Source[in]) << 8) | Source[in + 1];
      in += 2;
      left = 16;
      if (in >= len) Damaged();  // a control word with no item after it
    }
    if ((ctrl & 0x8000) == 0) {
      if (out >= DestSize) Damaged();
      Dest[out++] = Source[in++];
    } else {
      if (in + 2 > len) Damaged();
      uint32_t dist = (uint32_t(Source[in]) << 4) | (Source[in + 1] >> 4);
      if (dist == 0) {
        if (in + 4 > len) Damaged();
        uint32_t run = ((uint32_t(Source[in + 1]) << 8) | Source[in + 2]) + 16;
        if (run > DestSize - out) Damaged();
        std::memset(Dest + out, Source[in + 3], run);
        out += run;
        in += 4;
      } else {
        uint32_t count = (Source[in + 1] & 0x0F) + 3u;
        if (dist > out || count > DestSize - out) Damaged();
        for (uint32_t k = 0; k < count; ++k, ++out) Dest[out] = Dest[out - dist];
        in += 2;
      }
    }
    ctrl = (ctrl << 1) & 0xFFFF;
    --left;
  }
  return uint16_t(out);
}

void WriteCompressedSection(fw::TMemoryStream* Source, fw::TStream* Dest, int32_t Count) {
  int64_t start = Dest->Position();
  WriteStreamInt(Dest, 0);
  std::vector<uint8_t> src(KitBlockSourceSize), block(KitBlockSourceSize + 6);
  int64_t total = 0;
  int32_t remaining = Count > 0 ? Count : 0;
  while (remaining > 0) {
    int32_t n = std::min<int32_t>(remaining, int32_t(KitBlockSourceSize));
    Source->ReadBuffer(src.data(), n);
    uint16_t len = CompressBlock(src.data(), block.data(), uint16_t(n));
    WriteStreamInt(Dest, len);
    Dest->WriteBuffer(block.data(), len);
    total += 4 + len;
    remaining -= n;
  }
  int64_t end = Dest->Position();
  Dest->SetPosition(start);
  WriteStreamInt(Dest, int32_t(total));
  Dest->SetPosition(end);
}

void ReadCompressedSection(fw::TStream* Source, fw::TMemoryStream* Dest) {
  int32_t total = ReadStreamInt(Source);
  if (total < 0) Damaged();
  std::vector<uint8_t> block(KitBlockMaxLength), out(KitBlockSourceSize);
  Dest->Seek(0, fw::soEnd);
  while (total > 0) {
    int32_t len = ReadStreamInt(Source);
    if (len < 1 || uint32_t(len) > KitBlockMaxLength || int64_t(len) + 4 > total) Damaged();
    Source->ReadBuffer(block.data(), len);
    uint16_t n = DecompressBlock(block.data(), out.data(), uint16_t(len), KitBlockSourceSize);
    if (n) Dest->WriteBuffer(out.data(), n);
    total -= len + 4;
  }
}

}  // namespace vexa
