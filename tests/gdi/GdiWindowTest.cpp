// Window contexts: backing store, update region and paint clip, window regions.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi/Gdi.h"
#include "tests/support/MessagePump.h"
#include "tests/support/Pixels.h"
#include "tests/support/TestSession.h"

using namespace plat;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255), kWhite = 0xFFFFFF;

struct PaintLog {
  int paints = 0;
  int erases = 0;
  RECT last;
};

HWND MakeWindow(PaintLog* log, int w, int h) {
  WNDCLASS wc;
  wc.lpszClassName = "GdiTestWindow";
  wc.lpfnWndProc = [log](HWND hwnd, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_ERASEBKGND) {
      ++log->erases;
      RECT r;
      GetClientRect(hwnd, &r);
      FillRect(HDC(wp), &r, (HBRUSH)GetStockObject(WHITE_BRUSH));
      return 1;
    }
    if (m == WM_PAINT) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      ++log->paints;
      log->last = ps.rcPaint;
      RECT all;
      GetClientRect(hwnd, &all);
      HBRUSH b = CreateSolidBrush(kRed);
      FillRect(dc, &all, b);  // the paint clip keeps this inside the update region
      DeleteObject(b);
      EndPaint(hwnd, &ps);
      return 0;
    }
    return DefWindowProc(hwnd, m, wp, lp);
  };
  UnregisterClass("GdiTestWindow");  // a class of an earlier test holds another log
  RegisterClass(wc);
  return CreateWindowEx(0, "GdiTestWindow", "w", WS_OVERLAPPED, 0, 0, w, h, 0, 0);
}

using vexa::test::DispatchQueued;
using vexa::test::StorePixel;

}  // namespace

TEST(GdiWindow, ContextsDrawIntoTheBackingStore) {
  vexa::test::TestSession session;
  PaintLog log;
  HWND hwnd = MakeWindow(&log, 20, 10);
  ASSERT_NE(hwnd, 0u);
  HDC dc = GetDC(hwnd);
  ASSERT_NE(dc, 0u);
  RECT r{2, 3, 4, 5};
  HBRUSH b = CreateSolidBrush(kBlue);
  FillRect(dc, &r, b);
  DeleteObject(b);
  EXPECT_EQ(GetPixel(dc, 3, 4), kBlue);
  EXPECT_EQ(ReleaseDC(hwnd, dc), 1);
  EXPECT_EQ(StorePixel(hwnd, 3, 4), kBlue);
  EXPECT_EQ(StorePixel(hwnd, 4, 4), 0u);
  EXPECT_EQ(GetDC(0xDEAD), 0u);  // no such window
  // A context taken before the window grows reaches the new area once drawn again.
  HDC held = GetDC(hwnd);
  MoveWindow(hwnd, 0, 0, 40, 10, false);
  HDC probe = GetDC(hwnd);  // using the window resizes its store
  ReleaseDC(hwnd, probe);
  EXPECT_EQ(SetPixel(held, 30, 5, kBlue), kBlue);
  ReleaseDC(hwnd, held);
  EXPECT_EQ(StorePixel(hwnd, 30, 5), kBlue);
  EXPECT_EQ(StorePixel(hwnd, 3, 4), kBlue);  // the old pixels stay
  DestroyWindow(hwnd);
  ReleaseWindowSurface(hwnd);
}

TEST(GdiWindow, InvalidationRequestsAPaintClippedToTheUpdateRegion) {
  vexa::test::TestSession session;
  PaintLog log;
  HWND hwnd = MakeWindow(&log, 20, 10);
  RECT a{0, 0, 2, 2}, b{5, 5, 7, 7};
  EXPECT_TRUE(InvalidateRect(hwnd, &a, true));
  EXPECT_TRUE(InvalidateRect(hwnd, &b, false));
  RECT box;
  EXPECT_TRUE(GetUpdateRect(hwnd, &box, false));
  EXPECT_EQ(box.right, 7);
  DispatchQueued();  // one WM_PAINT for both
  EXPECT_EQ(log.paints, 1);
  EXPECT_EQ(log.erases, 1);
  EXPECT_EQ(log.last.left, 0);
  EXPECT_EQ(log.last.bottom, 7);
  EXPECT_EQ(StorePixel(hwnd, 1, 1), kRed);
  EXPECT_EQ(StorePixel(hwnd, 6, 6), kRed);
  EXPECT_EQ(StorePixel(hwnd, 3, 3), 0u);  // outside the update region: untouched
  EXPECT_FALSE(GetUpdateRect(hwnd, &box, false));
  // UpdateWindow paints at once; nothing when nothing is invalid.
  InvalidateRect(hwnd, nullptr, false);
  EXPECT_TRUE(UpdateWindow(hwnd));
  EXPECT_EQ(log.paints, 2);
  EXPECT_EQ(StorePixel(hwnd, 3, 3), kRed);
  UpdateWindow(hwnd);
  EXPECT_EQ(log.paints, 2);
  ValidateRect(hwnd, nullptr);
  DispatchQueued();
  DestroyWindow(hwnd);
}

TEST(GdiWindow, OwnClipStaysApartFromThePaintClip) {
  vexa::test::TestSession session;
  PaintLog log;
  HWND hwnd = MakeWindow(&log, 10, 4);
  RECT upd{0, 0, 5, 4};
  InvalidateRect(hwnd, &upd, false);
  SetPaintRequestHook(nullptr);  // nothing posted: painted by hand below
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  IntersectClipRect(dc, 3, 0, 10, 4);
  SelectClipRgn(dc, 0);  // removes only the context's own clip
  RECT all{0, 0, 10, 4};
  FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
  EndPaint(hwnd, &ps);
  EXPECT_EQ(StorePixel(hwnd, 0, 0), kWhite);
  EXPECT_EQ(StorePixel(hwnd, 4, 0), kWhite);
  EXPECT_EQ(StorePixel(hwnd, 5, 0), 0u);
  SetPaintRequestHook([](HWND h) { PostMessage(h, WM_PAINT, 0, 0); });
  DispatchQueued();
  DestroyWindow(hwnd);
}

TEST(GdiWindow, WindowRegionsAreOwnedAndCopiedOut) {
  vexa::test::TestSession session;
  PaintLog log;
  HWND hwnd = MakeWindow(&log, 20, 10);
  HRGN out = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(hwnd, out), ERROR);
  HRGN e = CreateEllipticRgn(0, 0, 20, 10);
  EXPECT_EQ(SetWindowRgn(hwnd, e, false), 1);
  EXPECT_EQ(GetObjectType(e), 0);  // the window took it over
  EXPECT_EQ(GetWindowRgn(hwnd, out), COMPLEXREGION);
  EXPECT_TRUE(PtInRegion(out, 10, 5));
  EXPECT_FALSE(PtInRegion(out, 0, 0));
  EXPECT_EQ(SetWindowRgn(hwnd, 0, false), 1);
  EXPECT_EQ(GetWindowRgn(hwnd, out), ERROR);
  DeleteObject(out);
  DispatchQueued();
  DestroyWindow(hwnd);
}
