// labels: unit
// The tray icon without a display: the exact notification-area record, the
// tip, activation and deactivation, the mouse message table, the popup menu,
// hiding the form on minimise and close, free notification and animation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "components/KitApplication.h"
#include "components/KitTrayIcon.h"
#include "framework/Forms.h"
#include "platform/shell/DesktopState.h"
#include "tests/support/TestSession.h"

using namespace vexa;

namespace {

void PutLE(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> Bytes(const plat::NOTIFYICONDATA& d) {
  std::vector<uint8_t> b(sizeof d);
  std::memcpy(b.data(), &d, sizeof d);
  return b;
}

plat::HICON MakeIcon(fw::TColor color) {
  fw::TBitmap bmp;
  bmp.SetSize(16, 16);
  bmp.Canvas()->Brush()->SetColor(color);
  bmp.Canvas()->FillRect(fw::Rect(0, 0, 16, 16));
  plat::HICON icon = 0;
  BitmapToIcon(&bmp, icon, 16, 16);
  return icon;
}

// An image list of Count images in entry 0: image i is a solid colour.
class TFakeImages : public TKitCustomImageList {
public:
  explicit TFakeImages(fw::TComponent* AOwner)
      : TKitCustomImageList(AOwner, klkImageList, nullptr) {}
  int32_t Count = 3;
  std::vector<int32_t> Copied;

  fw::TCanvas* GetImageCanvas(int32_t) override { return nullptr; }
  void GetImageRect(int32_t, int32_t, fw::TRect& R) override { R = fw::Rect(0, 0, 16, 16); }
  int32_t GetListDimension(int32_t, int32_t) override { return 16; }
  int32_t GetImageCount(int32_t ListIndex) override {
    EXPECT_EQ(ListIndex, 0);
    return Count;
  }
  bool IsValidImage(int32_t ListIndex, int32_t ImageIndex) override {
    return ListIndex == 0 && ImageIndex >= 0 && ImageIndex < Count;
  }
  void CopyImageToBitmap(int32_t, int32_t ImageIndex, fw::TBitmap* Bitmap) override {
    Copied.push_back(ImageIndex);
    Bitmap->Canvas()->Brush()->SetColor(ImageIndex ? fw::clBlue : fw::clLime);
    Bitmap->Canvas()->FillRect(fw::Rect(0, 0, 16, 16));
  }
  bool GetListMasked(int32_t) override { return false; }
  plat::HPALETTE GetImagePalette(int32_t) override { return 0; }
  fw::TColor GetImageTransparentColor(int32_t, int32_t) override { return KitColorNone; }
  fw::TColor GetImagePixel(const fw::TPoint&, int32_t, int32_t) override { return 0; }
  void DrawImage(fw::TCanvas*, int32_t, int32_t, int32_t, int32_t) override {}
  void DrawImageInRect(fw::TCanvas*, const fw::TRect&, fw::TRect&, int32_t, int32_t,
                       uint32_t) override {}
  void DrawImageEffect(fw::TCanvas*, const fw::TRect&, int32_t, int32_t, fw::TColor, uint32_t,
                       uint32_t) override {}
};

struct TrayFixture : ::testing::Test {
  vexa::test::TestSession session;
  fw::TForm* form = nullptr;
  TKitTrayIcon* tray = nullptr;
  std::vector<std::string> log;

  void SetUp() override {
    unsetenv("DISPLAY");
    // Built the way form data builds it: placed while the form is loading.
    form = new fw::TForm(nullptr);
    tray = new TKitTrayIcon(form);
    tray->SetHint("Notify server");
    form->AfterConstruction();
  }
  void TearDown() override {
    if (form) fw::Free(form);
  }
  plat::NOTIFYICONDATA Record() {
    plat::NOTIFYICONDATA d;
    EXPECT_TRUE(plat::GetNotifyIconRecord(tray->IconWindow(), 0, &d));
    return d;
  }
  void Notify(uint32_t mouseMsg) {
    plat::SendMessage(tray->IconWindow(), WM_KITTRAYNOTIFY, 0, static_cast<int32_t>(mouseMsg));
  }
  void Record(fw::TShiftState s, std::string& out) {
    if (s.Contains(fw::ssDouble)) out += "+dbl";
    if (s.Contains(fw::ssShift)) out += "+shift";
  }
  void LogEvents() {
    auto name = [](fw::TMouseButton b) {
      return b == fw::mbLeft ? "left" : b == fw::mbRight ? "right" : "middle";
    };
    tray->OnClick = [this](fw::TObject* s) { log.push_back(s == tray ? "click" : "click?"); };
    tray->OnDblClick = [this](fw::TObject*) { log.push_back("dblclick"); };
    tray->OnPopUp = [this](fw::TObject*) { log.push_back("popup"); };
    tray->OnMouseDown = [this, name](fw::TObject*, fw::TMouseButton b, fw::TShiftState s, int x,
                                     int y) {
      std::string e = std::string("down ") + name(b);
      Record(s, e);
      log.push_back(e + " " + std::to_string(x) + "," + std::to_string(y));
    };
    tray->OnMouseUp = [this, name](fw::TObject*, fw::TMouseButton b, fw::TShiftState s, int,
                                   int) {
      std::string e = std::string("up ") + name(b);
      Record(s, e);
      log.push_back(e);
    };
    tray->OnMouseMove = [this](fw::TObject*, fw::TShiftState, int x, int y) {
      log.push_back("move " + std::to_string(x) + "," + std::to_string(y));
    };
  }
};

}  // namespace

TEST_F(TrayFixture, LoadedIconIsAddedWithTheExactRecord) {
  EXPECT_TRUE(plat::NotifyAreaAvailable()) << "headless icons count as shown";
  EXPECT_TRUE(tray->Active());
  EXPECT_TRUE(tray->Hooked()) << "the owner form is subclassed";
  EXPECT_FALSE(fw::Application->ShowMainForm()) << "the program starts with the icon only";

  plat::HICON h = MakeIcon(fw::clRed);
  fw::TIcon icon;
  icon.SetHandle(h);
  tray->SetIcon(&icon);
  ASSERT_NE(tray->Icon()->Handle(), 0u);
  EXPECT_NE(tray->Icon()->Handle(), h) << "the tray icon keeps a copy";

  std::vector<uint8_t> want;
  PutLE(want, 88);
  PutLE(want, tray->IconWindow());
  PutLE(want, 0);
  PutLE(want, 7);
  PutLE(want, 1125);
  PutLE(want, tray->Icon()->Handle());
  std::string tip = "Notify server";
  want.insert(want.end(), tip.begin(), tip.end());
  want.resize(88, 0);
  EXPECT_EQ(Bytes(Record()), want);
  EXPECT_EQ(plat::GetNotifyIcons().size(), 1u);
}

TEST_F(TrayFixture, TipKeepsSixtyThreeCharactersAndUnchangedHintCallsNothing) {
  std::string hint;
  for (int i = 0; i < 100; ++i) hint += char('a' + i % 26);
  tray->SetHint(hint);
  plat::NOTIFYICONDATA d = Record();
  EXPECT_EQ(std::string(d.szTip), hint.substr(0, 63));
  EXPECT_EQ(d.szTip[63], 0);
  EXPECT_EQ(tray->Hint(), hint) << "the property keeps the whole text";

  uint32_t calls = plat::NotifyIconCallCount();
  tray->SetHint(hint);
  EXPECT_EQ(plat::NotifyIconCallCount(), calls) << "same text, no call";
  tray->SetHint("Gateway");
  EXPECT_EQ(plat::NotifyIconCallCount(), calls + 1);
  d = Record();
  EXPECT_EQ(std::string(d.szTip), "Gateway");
  for (size_t i = 7; i < 64; ++i) EXPECT_EQ(d.szTip[i], 0) << "no rest of the old tip at " << i;
}

TEST_F(TrayFixture, DeactivationRemovesIconAndHookAndActivationRestoresThem) {
  tray->SetActive(false);
  EXPECT_FALSE(plat::GetNotifyIconRecord(tray->IconWindow(), 0, nullptr));
  EXPECT_FALSE(tray->Hooked());
  EXPECT_FALSE(tray->Enabled());
  EXPECT_TRUE(fw::Application->ShowMainForm());
  EXPECT_FALSE(plat::IsWindowVisible(fw::Application->Handle()));

  tray->SetActive(true);
  EXPECT_TRUE(plat::GetNotifyIconRecord(tray->IconWindow(), 0, nullptr));
  EXPECT_TRUE(tray->Hooked());
  EXPECT_FALSE(fw::Application->ShowMainForm());

  // Freeing the form frees the tray icon: the icon leaves the area.
  fw::Free(form);
  form = nullptr;
  EXPECT_TRUE(plat::GetNotifyIcons().empty());
}

TEST_F(TrayFixture, MouseMessagesBecomeEventsInTableOrder) {
  LogEvents();
  plat::SetCursorPos(30, 40);
  for (uint32_t m = 0x200; m <= 0x20A; ++m) Notify(m);
  EXPECT_EQ(log, (std::vector<std::string>{
                     "move 30,40",
                     "down left 30,40",
                     "click", "up left",
                     "dblclick", "down left+dbl 30,40",
                     "down right 30,40",
                     "click", "up right",
                     "dblclick", "down right+dbl 30,40",
                     "down middle 30,40",
                     "click", "up middle",
                     "dblclick", "down middle+dbl 30,40"}))
      << "0x20A and anything else do nothing";
  EXPECT_EQ(tray->CursorPos(), fw::Point(30, 40));

  log.clear();
  plat::SendMessage(tray->IconWindow(), plat::WM_USER + 7, 0, 0x201);
  EXPECT_TRUE(log.empty()) << "only the tray message counts";
}

TEST_F(TrayFixture, RightButtonShowsThePopupMenuOnlyWhenThereIsOne) {
  LogEvents();
  Notify(plat::WM_RBUTTONDOWN);
  Notify(plat::WM_RBUTTONUP);
  EXPECT_EQ(log, (std::vector<std::string>{"down right 0,0", "click", "up right"}));

  auto* menu = new fw::TPopupMenu(form);
  int menuShown = 0;
  menu->OnPopup = [&](fw::TObject*) { ++menuShown; };
  tray->SetPopupMenu(menu);
  log.clear();
  Notify(plat::WM_RBUTTONDOWN);
  EXPECT_EQ(log, (std::vector<std::string>{"down right 0,0", "popup"}));
  EXPECT_EQ(menuShown, 1);
  EXPECT_EQ(menu->PopupComponent(), tray);

  fw::Free(menu);
  EXPECT_EQ(tray->PopupMenu(), nullptr) << "a freed menu is forgotten";
  log.clear();
  Notify(plat::WM_RBUTTONDOWN);
  EXPECT_EQ(log, (std::vector<std::string>{"down right 0,0"}));
}

TEST_F(TrayFixture, MinimiseAndCloseHideTheFormWhileActive) {
  int closes = 0;
  form->OnClose = [&](fw::TObject*, fw::TCloseAction& a) {
    ++closes;
    a = fw::caHide;
  };
  form->Show();
  plat::SendMessage(form->Handle(), plat::WM_SYSCOMMAND, plat::SC_MINIMIZE, 0);
  EXPECT_FALSE(form->Visible()) << "minimising hides the form";

  form->Show();
  tray->SetShowMinimizedIcon(true);
  plat::SendMessage(form->Handle(), plat::WM_SYSCOMMAND, plat::SC_MINIMIZE, 0);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(plat::IsIconic(form->Handle())) << "minimised the ordinary way";
  plat::ShowWindow(form->Handle(), plat::SW_RESTORE);

  tray->SetNoClose(true);
  plat::SendMessage(form->Handle(), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
  EXPECT_EQ(closes, 0) << "NoClose: not closed";
  EXPECT_FALSE(form->Visible()) << "but hidden";

  form->Show();
  tray->SetNoClose(false);
  plat::SendMessage(form->Handle(), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
  EXPECT_EQ(closes, 1) << "without NoClose the form closes";

  form->Show();
  tray->SetNoClose(true);
  tray->SetActive(false);
  plat::SendMessage(form->Handle(), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
  EXPECT_EQ(closes, 2) << "an inactive tray icon lets the form close";
}

TEST_F(TrayFixture, GlobalTimerAnimationRaisesTheIntervalAndWrapsFrames) {
  auto* images = new TFakeImages(form);
  tray->SetImageList(images);
  tray->SetInterval(120);
  tray->SetAnimated(true);
  EXPECT_EQ(tray->Interval(), 150);
  ASSERT_NE(tray->PoolTimer(), 0);
  TKitTimerItem* item = KitApplication->GetTimer(tray->PoolTimer());
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Interval(), 150);
  EXPECT_TRUE(item->Enabled());

  plat::HICON own = tray->Icon()->Handle();
  for (int i = 0; i < 4; ++i) tray->AnimationStep(nullptr);
  EXPECT_EQ(images->Copied, (std::vector<int32_t>{0, 1, 0, 1}));
  plat::NOTIFYICONDATA d = Record();
  EXPECT_NE(d.hIcon, own) << "frames go out as icons of their own";
  EXPECT_EQ(std::string(d.szTip), "Notify server");
  EXPECT_EQ(tray->Icon()->Handle(), own) << "Icon itself is not changed";

  // One image only: the frame never runs past it.
  images->Count = 1;
  images->Copied.clear();
  for (int i = 0; i < 3; ++i) tray->AnimationStep(nullptr);
  EXPECT_EQ(images->Copied, (std::vector<int32_t>{0, 0, 0}));
  images->Count = 0;
  uint32_t before = plat::NotifyIconCallCount();
  tray->AnimationStep(nullptr);
  EXPECT_EQ(plat::NotifyIconCallCount(), before) << "no image, no frame sent";

  // A change of the list reaches the tray icon through its change link.
  int changes = 0;
  tray->OnChange = [&](fw::TObject*) { ++changes; };
  images->NotifyChange();
  EXPECT_EQ(changes, 1);

  tray->SetTimerMode(tmHiTimer);
  EXPECT_EQ(KitApplication->GetTimer(0xFD01), nullptr) << "the pool timer was given back";
  ASSERT_NE(tray->HiTimer(), nullptr);
  EXPECT_FALSE(tray->HiTimer()->UseThread());
  EXPECT_FALSE(tray->HiTimer()->Enabled()) << "idle until enabled again";
  tray->SetTimerMode(tmThreaded);
  ASSERT_NE(tray->HiTimer(), nullptr);
  EXPECT_TRUE(tray->HiTimer()->UseThread());
  tray->SetAnimated(false);
  EXPECT_EQ(tray->HiTimer(), nullptr);

  // A freed image list is forgotten and the step does nothing.
  tray->SetAnimated(true);
  TFakeImages* gone = new TFakeImages(form);
  tray->SetImageList(gone);
  fw::Free(gone);
  EXPECT_EQ(tray->ImageList(), nullptr);
  uint32_t calls = plat::NotifyIconCallCount();
  tray->AnimationStep(nullptr);
  EXPECT_EQ(plat::NotifyIconCallCount(), calls);
  tray->SetImageList(nullptr);
}

TEST(KitTrayIconRoutines, BitmapToIconSizesAndMasks) {
  vexa::test::TestSession session;
  fw::TBitmap bmp;
  bmp.SetSize(20, 20);
  bmp.Canvas()->Brush()->SetColor(fw::clWhite);
  bmp.Canvas()->FillRect(fw::Rect(0, 0, 20, 20));
  bmp.Canvas()->SetPixels(3, 4, fw::clBlack);
  plat::HICON icon = 0;
  BitmapToIcon(&bmp, icon, 16, 16);
  ASSERT_NE(icon, 0u);
  EXPECT_EQ(bmp.Width(), 16);
  plat::ICONINFO info;
  ASSERT_TRUE(plat::GetIconInfo(icon, &info));
  EXPECT_TRUE(info.fIcon);
  plat::BITMAP bm;
  ASSERT_TRUE(plat::GetObject(info.hbmMask, sizeof bm, &bm));
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(bm.bmWidth, 16);
  EXPECT_NE(plat::GetBitmapPixel(info.hbmMask, 0, 0), 0u) << "white: mask set";
  EXPECT_EQ(plat::GetBitmapPixel(info.hbmMask, 3, 4), 0u) << "black: mask clear";
  plat::DeleteObject(info.hbmColor);
  plat::DeleteObject(info.hbmMask);
  plat::DestroyIcon(icon);
}

TEST(KitTrayIconRoutines, NotifyAreaRefusesBadRecords) {
  vexa::test::TestSession session;
  unsetenv("DISPLAY");
  plat::NOTIFYICONDATA d;
  d.cbSize = 80;
  d.hWnd = 5;
  EXPECT_FALSE(plat::Shell_NotifyIcon(plat::NIM_ADD, &d)) << "wrong size";
  EXPECT_FALSE(plat::Shell_NotifyIcon(plat::NIM_ADD, nullptr));
  d.cbSize = 88;
  EXPECT_FALSE(plat::Shell_NotifyIcon(plat::NIM_MODIFY, &d)) << "not there";
  EXPECT_FALSE(plat::Shell_NotifyIcon(plat::NIM_DELETE, &d));
  std::memset(d.szTip, 'x', sizeof d.szTip);  // no terminating zero
  EXPECT_TRUE(plat::Shell_NotifyIcon(plat::NIM_ADD, &d));
  EXPECT_FALSE(plat::Shell_NotifyIcon(plat::NIM_ADD, &d)) << "already there";
  plat::NOTIFYICONDATA back;
  ASSERT_TRUE(plat::GetNotifyIconRecord(5, 0, &back));
  EXPECT_EQ(std::string(back.szTip), std::string(63, 'x'));
  EXPECT_TRUE(plat::Shell_NotifyIcon(plat::NIM_DELETE, &d));
  EXPECT_TRUE(plat::GetNotifyIcons().empty());
}
