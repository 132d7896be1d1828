// Feeds stored region data arbitrary bytes. A region that loads gives back data
// that loads to the same bytes, and fills and clips without leaving its box.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/gdi/Gdi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  plat::HRGN rgn = plat::ExtCreateRegion(nullptr, uint32_t(size), data);
  if (!rgn) return 0;
  uint32_t n = plat::GetRegionData(rgn, 0, nullptr);
  std::vector<uint8_t> out(n);
  if (plat::GetRegionData(rgn, n, out.data()) != n) std::abort();
  plat::HRGN back = plat::ExtCreateRegion(nullptr, n, out.data());
  if (!back || !plat::EqualRgn(rgn, back)) std::abort();
  std::vector<uint8_t> again(n);
  plat::GetRegionData(back, n, again.data());
  if (again != out) std::abort();
  // Rectangles come in bands: sorted by top, then by left, never overlapping.
  for (size_t off = 32; off + 32 <= out.size(); off += 16) {
    int32_t a[4], b[4];
    std::memcpy(a, out.data() + off, 16);
    std::memcpy(b, out.data() + off + 16, 16);
    if (a[1] > b[1] || (a[1] == b[1] && (a[3] != b[3] || a[2] >= b[0]))) std::abort();
  }
  plat::HRGN box = plat::CreateRectRgn(-4, -4, 12, 12);
  plat::CombineRgn(box, box, rgn, plat::RGN_XOR);
  plat::HDC dc = plat::CreateCompatibleDC(0);
  plat::HBITMAP bm = plat::CreateBitmap(8, 8, 1, 24, nullptr);
  plat::HGDIOBJ old = plat::SelectObject(dc, bm);
  plat::SelectClipRgn(dc, box);
  plat::FillRgn(dc, rgn, (plat::HBRUSH)plat::GetStockObject(plat::BLACK_BRUSH));
  plat::FrameRgn(dc, box, (plat::HBRUSH)plat::GetStockObject(plat::GRAY_BRUSH), 1, 1);
  plat::SelectObject(dc, old);
  plat::DeleteDC(dc);
  for (plat::HGDIOBJ o : {plat::HGDIOBJ(bm), box, back, rgn}) plat::DeleteObject(o);
  return 0;
}
