// labels: gui
// timeout: 120
// The provider settings dialog on a private X server: the channel name and
// "Warning:" are drawn bold, read back from the window's pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "framework/Forms.h"
#include "gateway/ProviderSettings.h"
#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"
#include "tests/gui/XvfbServer.h"
#include "tests/support/TestSession.h"

namespace vexa {
namespace {

using Ink = std::set<std::pair<int, int>>;

// The pixels of a text drawn in the dialog font, bold or not, at (0, 0).
Ink TextInk(const std::string& text, bool bold, int w, int h) {
  plat::LOGFONT lf;
  plat::GetObject(plat::GetStockObject(plat::DEFAULT_GUI_FONT), sizeof(lf), &lf);
  lf.lfWeight = bold ? plat::FW_BOLD : plat::FW_NORMAL;
  plat::HFONT font = plat::CreateFontIndirect(lf);
  plat::HDC screen = plat::GetDC(0);
  plat::HDC dc = plat::CreateCompatibleDC(screen);
  plat::ReleaseDC(0, screen);
  plat::HBITMAP bmp = plat::CreateBitmap(w, h, 1, 24, nullptr);
  plat::HGDIOBJ oldBmp = plat::SelectObject(dc, bmp);
  plat::RECT all{0, 0, w, h};
  plat::FillRect(dc, &all, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::WHITE_BRUSH)));
  plat::HGDIOBJ oldFont = plat::SelectObject(dc, font);
  plat::SetBkMode(dc, plat::TRANSPARENT);
  plat::SetTextColor(dc, 0);
  plat::RECT r = all;
  plat::DrawText(dc, text, &r, plat::DT_SINGLELINE | plat::DT_NOCLIP);
  Ink ink;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (plat::GetPixel(dc, x, y) == 0) ink.insert({x, y});
  plat::SelectObject(dc, oldFont);
  plat::SelectObject(dc, oldBmp);
  plat::DeleteObject(font);
  plat::DeleteObject(bmp);
  plat::DeleteDC(dc);
  return ink;
}

// The window-text pixels of the window's surface inside a rectangle, relative
// to its top-left corner.
Ink SurfaceInk(const std::vector<uint8_t>& px, int surfaceW, const fw::TRect& r) {
  const int stride = plat::DibStride(surfaceW, 24);
  const plat::COLORREF text = plat::GetSysColor(plat::COLOR_WINDOWTEXT);
  Ink ink;
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x) {
      const uint8_t* p = px.data() + y * stride + x * 3;
      if (plat::RGB(p[2], p[1], p[0]) == text) ink.insert({x - r.Left, y - r.Top});
    }
  return ink;
}

TEST(ProviderSettingsGui, ChannelNameAndWarningAreBold) {
  test::TestSession session;
  test::XvfbServer xvfb;
  ASSERT_TRUE(xvfb.Running());
  fw::Application->Initialize();
  ASSERT_TRUE(plat::DisplayIsX11());
  test::XInput input;
  auto* dialog = fw::CreateFormOf<TFrmProviderSettings>(nullptr);
  dialog->lblProviderName->SetCaption("Default");
  dialog->Show();
  const auto xwin = [&] { return plat::GetDisplayWindowId(dialog->Handle()); };
  ASSERT_TRUE(test::ScreenPumpUntil([&] { return xwin() != 0 && input.Viewable(xwin()); }));
  plat::FlushDisplay();
  int32_t w = 0, h = 0;
  std::vector<uint8_t> px;
  ASSERT_TRUE(plat::GetWindowSurface(dialog->Handle(), &w, &h, &px));

  struct Case {
    fw::TLabel* label;
    std::string text;
  };
  for (const Case& c : {Case{dialog->lblProviderName, "Default"}, Case{dialog->Label4, "Warning:"},
                        Case{dialog->Label1, "Provider Name:"}}) {
    const fw::TRect r = c.label->BoundsRect();
    const Ink shown = SurfaceInk(px, w, r);
    const Ink bold = TextInk(c.text, true, r.Width(), r.Height());
    const Ink plain = TextInk(c.text, false, r.Width(), r.Height());
    ASSERT_NE(bold, plain);
    if (c.label == dialog->Label1) {
      EXPECT_EQ(shown, plain) << c.text;
    } else {
      EXPECT_EQ(shown, bold) << c.text;
      // Bold strokes are wider: more ink than the plain text.
      EXPECT_GT(shown.size(), plain.size() + plain.size() / 5) << c.text;
    }
  }
  // "Warning:" in bold keeps clear of the text beside it.
  const fw::TRect warning = dialog->Label4->BoundsRect();
  const Ink beside = SurfaceInk(px, w, fw::TRect{warning.Right, warning.Top, dialog->Label5->Left(), warning.Bottom});
  EXPECT_TRUE(beside.empty());
  if (const char* dump = std::getenv("VEXA_GUI_DUMP")) {
    FILE* f = std::fopen(dump, "wb");
    std::fprintf(f, "P6 %d %d 255\n", w, h);
    const int stride = plat::DibStride(w, 24);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int k = 2; k >= 0; --k) std::fputc(px[y * stride + x * 3 + k], f);
    std::fclose(f);
  }
  fw::Free(dialog);
  plat::ShutdownDisplay();
}

}  // namespace
}  // namespace vexa
