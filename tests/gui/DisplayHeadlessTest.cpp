// labels: unit
// The display core without an X server: painting order, composition of child
// windows into their top-level window's store, hit-testing, capture,
// double-clicks, keyboard focus and characters, bringing a window to the front.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"
#include "platform/msg/Msg.h"
#include "tests/support/MessagePump.h"
#include "tests/support/Pixels.h"
#include "tests/support/TestSession.h"

namespace {

using namespace plat;
using vexa::test::DispatchQueued;
using vexa::test::StorePixel;

struct Seen {
  HWND hwnd;
  UINT msg;
  WPARAM w;
  LPARAM l;
};

std::vector<Seen> gSeen;
std::vector<HWND> gPainted;
// Colour each window paints itself in, and its answer to WM_NCHITTEST.
std::map<HWND, COLORREF> gColour;
std::map<HWND, LRESULT> gHit;

LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  switch (m) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT r;
      GetClientRect(h, &r);
      HBRUSH b = CreateSolidBrush(gColour[h]);
      FillRect(dc, &r, b);
      DeleteObject(b);
      EndPaint(h, &ps);
      gPainted.push_back(h);
      return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_NCHITTEST: return gHit.count(h) ? gHit[h] : HTCLIENT;
    default: break;
  }
  if ((m >= WM_KEYDOWN && m <= WM_MOUSEWHEEL) || m == WM_SETFOCUS || m == WM_KILLFOCUS ||
      m == WM_CAPTURECHANGED || m == WM_SYSCOMMAND)
    gSeen.push_back({h, m, w, l});
  if (m == WM_SYSCOMMAND) return 0;
  return DefWindowProc(h, m, w, l);
}

struct Headless : ::testing::Test {
  vexa::test::TestSession session;
  HWND top = 0, left = 0, right = 0, inner = 0;

  void SetUp() override {
    unsetenv("DISPLAY");
    gSeen.clear();
    gPainted.clear();
    gColour.clear();
    gHit.clear();
    ASSERT_FALSE(InitDisplay());  // headless
    WNDCLASS wc;
    wc.lpszClassName = "HeadlessTestWindow";
    wc.lpfnWndProc = Proc;
    RegisterClass(wc);
    top = CreateWindowEx(0, wc.lpszClassName, "top", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, 0, 0);
    left = CreateWindowEx(0, wc.lpszClassName, "", WS_CHILD | WS_VISIBLE, 10, 10, 80, 60, top, 1);
    right = CreateWindowEx(0, wc.lpszClassName, "", WS_CHILD | WS_VISIBLE, 110, 10, 80, 60, top, 2);
    inner = CreateWindowEx(0, wc.lpszClassName, "", WS_CHILD | WS_VISIBLE, 20, 20, 30, 30, left, 3);
    gColour[top] = RGB(200, 200, 200);
    gColour[left] = RGB(255, 0, 0);
    gColour[right] = RGB(0, 255, 0);
    gColour[inner] = RGB(0, 0, 255);
    ShowWindow(top, SW_SHOW);
  }
  void TearDown() override {
    DestroyWindow(top);
    ShutdownDisplay();
  }
  std::vector<Seen> Mouse() {
    std::vector<Seen> v;
    for (auto& s : gSeen)
      if (s.msg >= WM_MOUSEMOVE && s.msg <= WM_MOUSEWHEEL) v.push_back(s);
    return v;
  }
};

TEST_F(Headless, ParentsPaintBeforeChildrenAndChildrenAreComposedInZOrder) {
  FlushDisplay();
  ASSERT_EQ(gPainted.size(), 4u);
  EXPECT_EQ(gPainted[0], top);
  EXPECT_EQ(gPainted[3], inner);
  EXPECT_EQ(StorePixel(top, 5, 5), RGB(200, 200, 200));
  EXPECT_EQ(StorePixel(top, 15, 15), RGB(255, 0, 0));
  EXPECT_EQ(StorePixel(top, 35, 35), RGB(0, 0, 255));   // inner at 10+20
  EXPECT_EQ(StorePixel(top, 150, 40), RGB(0, 255, 0));
  // Only what was invalidated is painted again.
  gPainted.clear();
  InvalidateRect(right, nullptr, true);
  FlushDisplay();
  ASSERT_EQ(gPainted, std::vector<HWND>{right});
  // A hidden child leaves its parent's colour behind.
  ShowWindow(left, SW_HIDE);
  FlushDisplay();
  EXPECT_EQ(StorePixel(top, 15, 15), RGB(200, 200, 200));
  EXPECT_EQ(StorePixel(top, 35, 35), RGB(200, 200, 200));
  // A moved child shows at its new place only.
  MoveWindow(right, 20, 10, 80, 60, true);
  FlushDisplay();
  EXPECT_EQ(StorePixel(top, 25, 15), RGB(0, 255, 0));
  EXPECT_EQ(StorePixel(top, 150, 40), RGB(200, 200, 200));
}

TEST_F(Headless, MouseGoesToTheDeepestChildUnlessItIsTransparentOrCaptured) {
  FlushDisplay();
  DeliverMouse(top, MouseAction::Down, 0, 35, 36, 0, 0, 1000);
  DeliverMouse(top, MouseAction::Up, 0, 35, 36, 0, 0, 1010);
  DispatchQueued();
  auto m = Mouse();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].hwnd, inner);
  EXPECT_EQ(m[0].msg, WM_LBUTTONDOWN);
  EXPECT_EQ(m[0].w, static_cast<WPARAM>(MK_LBUTTON));
  EXPECT_EQ(m[0].l, (6 << 16) | 5);  // inner's client coordinates
  EXPECT_EQ(m[1].msg, WM_LBUTTONUP);
  EXPECT_EQ(m[1].w, 0);

  // A transparent child hands the point to the window below it.
  gSeen.clear();
  gHit[inner] = HTTRANSPARENT;
  DeliverMouse(top, MouseAction::Move, 0, 35, 36, 0, 0, 2000);
  DispatchQueued();
  ASSERT_EQ(Mouse().size(), 1u);
  EXPECT_EQ(Mouse()[0].hwnd, left);
  EXPECT_EQ(Mouse()[0].l, (26 << 16) | 25);

  // The capture gets everything, in its own coordinates, even outside it.
  gSeen.clear();
  EXPECT_EQ(SetCapture(right), 0u);
  DeliverMouse(top, MouseAction::Move, 0, 5, 5, 0, 0, 3000);
  DispatchQueued();
  ASSERT_EQ(Mouse().size(), 1u);
  EXPECT_EQ(Mouse()[0].hwnd, right);
  EXPECT_EQ(Mouse()[0].l, static_cast<LPARAM>((static_cast<uint32_t>(-5) & 0xFFFF) << 16 |
                                              (static_cast<uint32_t>(-105) & 0xFFFF)));
  gSeen.clear();
  EXPECT_TRUE(ReleaseCapture());
  ASSERT_EQ(gSeen.size(), 1u);
  EXPECT_EQ(gSeen[0].msg, WM_CAPTURECHANGED);
  EXPECT_EQ(GetCapture(), 0u);

  // A disabled window gets no mouse message.
  gSeen.clear();
  EnableWindow(right, false);
  DeliverMouse(top, MouseAction::Down, 0, 150, 40, 0, 0, 4000);
  DispatchQueued();
  EXPECT_TRUE(Mouse().empty());
}

TEST_F(Headless, TwoQuickPressesInOnePlaceMakeADoubleClick) {
  FlushDisplay();
  DeliverMouse(top, MouseAction::Down, 0, 150, 40, 0, 0, 1000);
  DeliverMouse(top, MouseAction::Up, 0, 150, 40, 0, 0, 1050);
  DeliverMouse(top, MouseAction::Down, 0, 151, 41, 0, 0, 1300);  // within time and distance
  DeliverMouse(top, MouseAction::Up, 0, 151, 41, 0, 0, 1350);
  DeliverMouse(top, MouseAction::Down, 0, 151, 41, 0, 0, 1400);  // a third press starts anew
  DeliverMouse(top, MouseAction::Down, 1, 151, 41, 0, 0, 5000);
  DeliverMouse(top, MouseAction::Down, 1, 151, 41, 0, 0, 5600);  // too late
  DeliverMouse(top, MouseAction::Down, 1, 151, 41, 0, 0, 5700);
  DeliverMouse(top, MouseAction::Down, 1, 170, 41, 0, 0, 5800);  // too far
  DispatchQueued();
  std::vector<UINT> got;
  for (auto& s : Mouse()) got.push_back(s.msg);
  EXPECT_EQ(got, (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP,
                                    WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_RBUTTONDOWN,
                                    WM_RBUTTONDBLCLK, WM_RBUTTONDOWN}));
}

TEST_F(Headless, KeysGoToTheFocusWithOneCharacterEach) {
  FlushDisplay();
  EXPECT_EQ(SetFocus(inner), 0u);
  EXPECT_EQ(SetFocus(right), inner);
  ASSERT_GE(gSeen.size(), 3u);
  EXPECT_EQ(gSeen[0].msg, WM_SETFOCUS);
  EXPECT_EQ(gSeen[1].msg, WM_KILLFOCUS);
  EXPECT_EQ(gSeen[1].hwnd, inner);
  EXPECT_EQ(gSeen[2].msg, WM_SETFOCUS);
  EXPECT_EQ(gSeen[2].hwnd, right);
  gSeen.clear();
  DeliverKey(top, true, 'A', 'A', false);  // shifted: an upper-case character
  DeliverKey(top, false, 'A', 0, false);
  DeliverKey(top, true, VK_LEFT, 0, false);
  DeliverKey(top, true, 0, 0x00E9, false);  // a key without a virtual code
  DispatchQueued();  // TranslateMessage runs on every message: no second character
  std::vector<std::pair<UINT, WPARAM>> got;
  for (auto& s : gSeen) {
    EXPECT_EQ(s.hwnd, right);
    got.push_back({s.msg, s.w});
  }
  EXPECT_EQ(got, (std::vector<std::pair<UINT, WPARAM>>{{WM_KEYDOWN, 'A'}, {WM_CHAR, 'A'}, {WM_KEYUP, 'A'},
                                                       {WM_KEYDOWN, VK_LEFT}, {WM_CHAR, 0xE9}}));
  // A key message posted by a program is translated as before.
  gSeen.clear();
  PostMessage(right, WM_KEYDOWN, 'B', 1);
  DispatchQueued();
  ASSERT_EQ(gSeen.size(), 2u);
  EXPECT_EQ(gSeen[1].msg, WM_CHAR);
  // The focus window's destruction leaves no focus behind.
  DestroyWindow(right);
  EXPECT_EQ(GetFocus(), 0u);
}

TEST_F(Headless, TheCloseHitAreaAndTheCloseBoxSendTheCloseCommand) {
  FlushDisplay();
  gHit[right] = HTCLOSE;
  DeliverMouse(top, MouseAction::Down, 0, 150, 40, 0, 0, 1000);
  DeliverMouse(top, MouseAction::Up, 0, 150, 40, 0, 0, 1100);
  DeliverClose(top);
  DispatchQueued();
  int closes = 0;
  for (auto& s : gSeen) {
    EXPECT_NE(s.msg, WM_LBUTTONDOWN);
    if (s.msg == WM_SYSCOMMAND && s.hwnd == top && (s.w & 0xFFF0) == static_cast<WPARAM>(SC_CLOSE)) ++closes;
  }
  EXPECT_EQ(closes, 2);
}

TEST_F(Headless, BroughtToTheForegroundAMinimisedWindowIsRestoredAndTakesTheKeyboard) {
  FlushDisplay();
  HWND other = CreateWindowEx(0, "HeadlessTestWindow", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 50, 50, 0, 0);
  DeliverMouse(other, MouseAction::Down, 0, 5, 5, 0, 0, 1000);
  DispatchQueued();
  ASSERT_EQ(GetActiveWindow(), other);
  ShowWindow(top, SW_MINIMIZE);
  EXPECT_TRUE(BringWindowToForeground(top));
  EXPECT_FALSE(IsIconic(top));
  EXPECT_EQ(GetActiveWindow(), top);
  EXPECT_EQ(GetFocus(), top);
  DestroyWindow(other);
}

TEST_F(Headless, ADisabledWindowPassesKeysToTheEnabledOneAndTakesNoClicks) {
  FlushDisplay();
  HWND box = CreateWindowEx(0, "HeadlessTestWindow", "box", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 100, 60,
                            0, 0);
  HWND boxButton = CreateWindowEx(0, "HeadlessTestWindow", "", WS_CHILD | WS_VISIBLE, 5, 5, 40, 20, box, 1);
  EnableWindow(top, false);
  SetFocus(boxButton);
  gSeen.clear();
  DeliverKey(top, true, VK_RETURN, 13, false);
  DeliverMouse(top, MouseAction::Down, 0, 150, 40, 0, 0, 1000);
  DispatchQueued();
  std::vector<std::pair<HWND, UINT>> got;
  for (auto& s : gSeen) got.push_back({s.hwnd, s.msg});
  EXPECT_EQ(got, (std::vector<std::pair<HWND, UINT>>{{boxButton, WM_KEYDOWN}, {boxButton, WM_CHAR}}));
  DestroyWindow(box);
}

}  // namespace
