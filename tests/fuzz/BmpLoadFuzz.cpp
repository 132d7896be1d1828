// Feeds the BMP loader arbitrary bytes. Whatever loads must save again and load
// back to the same file, and stay inside the bytes it was given.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string why;
  size_t used = 0;
  plat::HBITMAP bm = plat::LoadBitmapFile(data, size, &why, &used);
  if (!bm) {
    if (why.empty()) std::abort();
    return 0;
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
  return 0;
}
