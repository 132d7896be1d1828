// Feeds the BMP loader arbitrary bytes. Whatever loads must save again and load
// back to the same file, and stay inside the bytes it was given. The same bytes
// also serve as the pixel data behind a well-formed header, so that the
// run-length and 16-bit decoders are reached at once.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace {

void Check(const uint8_t* data, size_t size) {
  std::string why;
  size_t used = 0;
  plat::HBITMAP bm = plat::LoadBitmapFile(data, size, &why, &used);
  if (!bm) {
    if (why.empty()) std::abort();
    return;
  }
  if (used > size || used != plat::BitmapFileSize(data, size)) std::abort();
  std::vector<uint8_t> saved = plat::SaveBitmapFile(bm);
  plat::HBITMAP again = plat::LoadBitmapFile(saved.data(), saved.size());
  if (!again) std::abort();
  if (plat::SaveBitmapFile(again) != saved) std::abort();
  // Drawing it somewhere small touches every conversion path once.
  plat::HDC dc = plat::CreateCompatibleDC(0);
  plat::HBITMAP target = plat::CreateBitmap(8, 8, 1, 24, nullptr);
  plat::HGDIOBJ old = plat::SelectObject(dc, target);
  plat::HDC src = plat::CreateCompatibleDC(0);
  plat::HGDIOBJ oldSrc = plat::SelectObject(src, again);
  plat::StretchBlt(dc, 0, 0, 8, 8, src, 0, 0, 3, 3, plat::SRCCOPY);
  plat::SelectObject(src, oldSrc);
  plat::SelectObject(dc, old);
  plat::DeleteDC(src);
  plat::DeleteDC(dc);
  plat::DeleteObject(target);
  plat::DeleteObject(again);
  plat::DeleteObject(bm);
}

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
}

// First byte: the format; next two: width and height (1..64); the rest: pixel data.
void CheckBehindHeader(const uint8_t* data, size_t size) {
  if (size < 3) return;
  static const struct {
    uint16_t bpp;
    uint32_t compression;
  } kinds[] = {{8, plat::BI_RLE8}, {4, plat::BI_RLE4}, {16, plat::BI_RGB}};
  const auto& k = kinds[data[0] % 3];
  uint32_t table = k.bpp <= 8 ? (4u << k.bpp) : 0;
  std::vector<uint8_t> f(54 + table, 0x55);
  f[0] = 'B';
  f[1] = 'M';
  Put32(f, 2, uint32_t(54 + table + size - 3));
  Put32(f, 6, 0);
  Put32(f, 10, 54 + table);
  Put32(f, 14, 40);
  Put32(f, 18, 1 + data[1] % 64);
  Put32(f, 22, 1 + data[2] % 64);
  f[26] = 1;
  f[27] = 0;
  f[28] = uint8_t(k.bpp);
  f[29] = 0;
  Put32(f, 30, k.compression);
  Put32(f, 34, 0);
  for (size_t at = 38; at < 54; ++at) f[at] = 0;
  f.insert(f.end(), data + 3, data + size);
  Check(f.data(), f.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(data, size);
  CheckBehindHeader(data, size);
  return 0;
}
