// Bitmaps to paint on and ways to read them back, for the drawing tests.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/Graphics.h"
#include "platform/gdi/Gdi.h"

namespace vexa::test {

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

// The whole picture as rows of characters, one per pixel, from a colour key
// ('?' for a colour the key does not name).
inline std::vector<std::string> Picture(fw::TBitmap* b,
                                        const std::vector<std::pair<fw::TColor, char>>& key) {
  std::vector<std::string> rows;
  for (int y = 0; y < b->Height(); ++y) {
    std::string row;
    for (int x = 0; x < b->Width(); ++x) {
      char c = '?';
      for (auto& [colour, ch] : key)
        if (Px(b, x, y) == colour) c = ch;
      row += c;
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace vexa::test
