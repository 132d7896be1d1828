// System colours and metrics, and the screen size they report.
#include <mutex>

#include "platform/gdi/GdiInternal.h"

namespace plat {

using namespace gdi;

namespace gdi {
void ScreenSize(int32_t* width, int32_t* height) {
  State& s = St();
  std::lock_guard<std::mutex> lock(s.metricsMu);
  *width = s.screenW;
  *height = s.screenH;
}
}  // namespace gdi

void SetScreenSize(int32_t width, int32_t height) {
  State& s = St();
  std::lock_guard<std::mutex> lock(s.metricsMu);
  if (width > 0) s.screenW = width;
  if (height > 0) s.screenH = height;
}

COLORREF GetSysColor(int index) {
  if (index < 0 || index >= COLOR_MAX) return 0;
  Stock& s = Stocks();
  std::lock_guard<std::mutex> lock(St().metricsMu);
  return s.sysColors[index];
}

HBRUSH GetSysColorBrush(int index) {
  if (index < 0 || index >= COLOR_MAX) return 0;
  return Stocks().sysBrushes[index];
}

bool SetSysColors(int count, const int* indexes, const COLORREF* colors) {
  if (count < 0 || (count > 0 && (!indexes || !colors))) return false;
  Stock& s = Stocks();
  std::lock_guard<std::mutex> lock(St().metricsMu);
  for (int i = 0; i < count; ++i) {
    int k = indexes[i];
    if (k < 0 || k >= COLOR_MAX) continue;
    s.sysColors[k] = StripFlags(colors[i]);
    if (auto b = LookupAs<BrushObj>(s.sysBrushes[k], OBJ_BRUSH)) b->lb.lbColor = s.sysColors[k];
  }
  return true;
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
    case SM_CYSCREEN: {
      int32_t w = 0, h = 0;
      ScreenSize(&w, &h);
      return index == SM_CXSCREEN ? w : h;
    }
    case SM_CXVSCROLL: case SM_CYHSCROLL: case SM_CYVSCROLL: case SM_CXHSCROLL:
    case SM_CYVTHUMB: case SM_CXHTHUMB: return 16;
    case SM_CYCAPTION: return 19;
    case SM_CXBORDER: case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME: case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME: case SM_CYFRAME: return 4;
    case SM_CXEDGE: case SM_CYEDGE: return 2;
    case SM_CXICON: case SM_CYICON: case SM_CXCURSOR: case SM_CYCURSOR: return 32;
    case SM_CXSMICON: case SM_CYSMICON: return 16;
    case SM_CYSMCAPTION: return 15;
    case SM_CYMENU: return 19;
    default: return 0;
  }
}

}  // namespace plat
