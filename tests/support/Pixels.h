// Pixels as text pictures, so that tests state exact pixels readably: of a
// memory context, of a framework bitmap and of a window's backing store.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/Graphics.h"
#include "platform/gdi/Gdi.h"

namespace vexa::test {

using Pic = std::vector<std::string>;

// One character per pixel of w x h, read through at(x, y), from a colour key
// (pairs of colour and character); '?' for a colour the key does not name.
template <class At, class KeyPairs>
Pic PictureOf(int w, int h, At at, const KeyPairs& key) {
  Pic rows;
  for (int y = 0; y < h; ++y) {
    std::string row;
    for (int x = 0; x < w; ++x) {
      const plat::COLORREF px = at(x, y);
      char c = '?';
      for (auto& [colour, ch] : key)
        if (plat::COLORREF(colour) == px) c = ch;
      row += c;
    }
    rows.push_back(row);
  }
  return rows;
}

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
  Pic Picture(const std::map<plat::COLORREF, char>& key) const {
    return PictureOf(w, h, [&](int x, int y) { return plat::GetBitmapPixel(bm, x, y); }, key);
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

// A bitmap of the given size and format filled with one colour (white by default).
inline std::unique_ptr<fw::TBitmap> Surface(int w, int h, fw::TColor fill = 0xFFFFFF,
                                            fw::TPixelFormat pf = fw::pf24bit) {
  auto b = std::make_unique<fw::TBitmap>();
  b->SetPixelFormat(pf);
  b->SetSize(w, h);
  b->Canvas()->Brush()->SetColor(fill);
  b->Canvas()->FillRect(fw::TRect{0, 0, w, h});
  return b;
}

inline fw::TColor Px(fw::TBitmap* b, int x, int y) {
  return fw::TColor(plat::GetBitmapPixel(b->Handle(), x, y));
}

// How many pixels of r (the whole bitmap by default) have colour c.
inline int Count(fw::TBitmap* b, fw::TColor c, fw::TRect r = fw::TRect{0, 0, -1, -1}) {
  if (r.Right < 0) r = fw::TRect{0, 0, b->Width(), b->Height()};
  int n = 0;
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x) n += Px(b, x, y) == c;
  return n;
}

// The box of the pixels of colour c (empty when there are none).
inline fw::TRect Box(fw::TBitmap* b, fw::TColor c) {
  fw::TRect r{b->Width(), b->Height(), 0, 0};
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x)
      if (Px(b, x, y) == c) {
        r.Left = std::min(r.Left, x);
        r.Top = std::min(r.Top, y);
        r.Right = std::max(r.Right, x + 1);
        r.Bottom = std::max(r.Bottom, y + 1);
      }
  return r.Right == 0 ? fw::TRect{} : r;
}

inline Pic Picture(fw::TBitmap* b, const std::vector<std::pair<fw::TColor, char>>& key) {
  return PictureOf(b->Width(), b->Height(), [&](int x, int y) { return plat::GetBitmapPixel(b->Handle(), x, y); },
                   key);
}

// The colour at the centre of a 16 x 16 icon, where the programs' state spot is.
inline fw::TColor SpotOf(fw::TIcon* icon) {
  fw::TBitmap b;
  b.SetSize(16, 16);
  b.Canvas()->Draw(0, 0, icon);
  return static_cast<fw::TColor>(fw::ColorToRGB(b.Canvas()->Pixels(8, 8)));
}

// A copy of a window's backing store (its pixels as the display shows them).
struct WindowPixels {
  explicit WindowPixels(plat::HWND wnd) { Ok = plat::GetWindowSurface(wnd, &Width, &Height, &Bytes); }
  // CLR_INVALID outside the store.
  plat::COLORREF At(int x, int y) const {
    if (!Ok || x < 0 || y < 0 || x >= Width || y >= Height) return plat::CLR_INVALID;
    const uint8_t* p = Bytes.data() + size_t(y) * size_t(plat::DibStride(Width, 24)) + size_t(x) * 3;
    return plat::RGB(p[2], p[1], p[0]);
  }
  bool Ok = false;
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Bytes;
};

inline plat::COLORREF StorePixel(plat::HWND wnd, int x, int y) { return WindowPixels(wnd).At(x, y); }

}  // namespace vexa::test
