// Software drawing speed on a typical 600 x 240 window: background fills,
// bevel edges and framed panels, small image blits and a dozen lines of text,
// each measured alone and together as one repaint.
//   bench_gdi [seconds per figure]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/gdi/Gdi.h"

using namespace plat;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kW = 600, kH = 240;

double Rate(double seconds, const std::function<void()>& work) {
  work();  // warm caches (glyphs, faces)
  int n = 0;
  auto start = Clock::now();
  double elapsed = 0;
  do {
    work();
    ++n;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  return n / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  HDC dc = CreateCompatibleDC(0);
  HBITMAP bm = CreateBitmap(kW, kH, 1, 24, nullptr);
  HGDIOBJ oldBm = SelectObject(dc, bm);
  HDC img = CreateCompatibleDC(0);
  HBITMAP icon = CreateBitmap(16, 16, 1, 24, nullptr);
  HGDIOBJ oldIcon = SelectObject(img, icon);
  RECT all{0, 0, 16, 16};
  FillRect(img, &all, (HBRUSH)GetStockObject(GRAY_BRUSH));
  HFONT font =
      CreateFont(-11, 0, 0, 0, FW_NORMAL, false, false, false, DEFAULT_CHARSET, "MS Sans Serif");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);

  auto fills = [&] {
    RECT r{0, 0, kW, kH};
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    RECT memo{8, 8, kW - 8, kH - 40};
    FillRect(dc, &memo, GetSysColorBrush(COLOR_WINDOW));
  };
  auto edges = [&] {
    RECT memo{8, 8, kW - 8, kH - 40};
    DrawEdge(dc, &memo, EDGE_SUNKEN, BF_RECT);
    for (int i = 0; i < 3; ++i) {
      RECT panel{3 + i * 200, kH - 19, 3 + i * 200 + 195, kH};
      DrawEdge(dc, &panel, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    }
  };
  auto blits = [&] {
    for (int i = 0; i < 8; ++i) BitBlt(dc, 12 + i * 20, kH - 36, 16, 16, img, 0, 0, SRCCOPY);
  };
  auto text = [&] {
    for (int i = 0; i < 12; ++i) {
      RECT line{12, 12 + i * 14, kW - 12, 26 + i * 14};
      DrawText(dc, "12:00:0" + std::to_string(i % 10) + " Client 127.0.0.1 subscribed to table " +
                       std::to_string(i + 1),
               &line, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
  };
  auto repaint = [&] { fills(); edges(); blits(); text(); };

  std::printf("gdi 600x240 fills (2 rects):      %10.0f /s\n", Rate(seconds, fills));
  std::printf("gdi 600x240 edges (4 edges):      %10.0f /s\n", Rate(seconds, edges));
  std::printf("gdi 600x240 blits (8 x 16x16):    %10.0f /s\n", Rate(seconds, blits));
  std::printf("gdi 600x240 text (12 lines):      %10.0f /s\n", Rate(seconds, text));
  std::printf("gdi 600x240 whole repaint:        %10.0f /s\n", Rate(seconds, repaint));

  SelectObject(dc, oldFont);
  DeleteObject(font);
  SelectObject(img, oldIcon);
  DeleteObject(icon);
  DeleteDC(img);
  SelectObject(dc, oldBm);
  DeleteObject(bm);
  DeleteDC(dc);
  return 0;
}
