// Small bitmaps as text pictures, so that tests state exact pixels readably.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace gditest {

// A 24-bit memory context of w x h, filled with `fill`.
struct Canvas {
  plat::HDC dc = 0;
  plat::HBITMAP bm = 0;
  plat::HGDIOBJ old = 0;
  int w = 0, h = 0;

  Canvas(int width, int height, plat::COLORREF fill = 0xFFFFFF) : w(width), h(height) {
    dc = plat::CreateCompatibleDC(0);
    plat::BITMAPINFO bi{};
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biBitCount = 24;
    bm = plat::CreateDIBSection(dc, &bi, plat::DIB_RGB_COLORS, nullptr);
    old = plat::SelectObject(dc, bm);
    Fill(fill);
  }
  ~Canvas() {
    plat::SelectObject(dc, old);
    plat::DeleteDC(dc);
    plat::DeleteObject(bm);
  }
  void Fill(plat::COLORREF c) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) plat::SetPixel(dc, x, y, c);
  }
  // One character per pixel; colours missing from the key show as '?'.
  std::vector<std::string> Picture(const std::map<plat::COLORREF, char>& key) const {
    std::vector<std::string> rows;
    for (int y = 0; y < h; ++y) {
      std::string row;
      for (int x = 0; x < w; ++x) {
        auto it = key.find(plat::GetBitmapPixel(bm, x, y));
        row += it == key.end() ? '?' : it->second;
      }
      rows.push_back(row);
    }
    return rows;
  }
  // Bounding box of the pixels that differ from `background` (empty when none).
  plat::RECT Ink(plat::COLORREF background = 0xFFFFFF) const {
    plat::RECT r{w, h, 0, 0};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (plat::GetBitmapPixel(bm, x, y) != background) {
          r.left = std::min(r.left, x);
          r.top = std::min(r.top, y);
          r.right = std::max(r.right, x + 1);
          r.bottom = std::max(r.bottom, y + 1);
        }
    if (r.right == 0) r = plat::RECT{};
    return r;
  }
};

constexpr plat::COLORREF kWhite = 0xFFFFFF;
constexpr plat::COLORREF kBlack = 0x000000;
constexpr plat::COLORREF kRed = plat::RGB(255, 0, 0);
constexpr plat::COLORREF kGreen = plat::RGB(0, 255, 0);
constexpr plat::COLORREF kBlue = plat::RGB(0, 0, 255);

inline const std::map<plat::COLORREF, char>& Key() {
  static const std::map<plat::COLORREF, char> k{
      {kWhite, '.'}, {kBlack, '#'}, {kRed, 'r'}, {kGreen, 'g'}, {kBlue, 'b'}};
  return k;
}

using Pic = std::vector<std::string>;

}  // namespace gditest
