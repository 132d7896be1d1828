// Fonts and text: face fallback, metrics, measuring against drawing, layout flags.
#include <gtest/gtest.h>

#include "tests/support/Pixels.h"

using namespace plat;
using namespace vexa::test;

namespace {

HFONT Font(const std::string& face, int height, int weight = FW_NORMAL, int escapement = 0,
           bool underline = false) {
  return CreateFont(height, 0, escapement, escapement, weight, false, underline, false,
                    DEFAULT_CHARSET, face);
}

struct TextCanvas : Canvas {
  HFONT font;
  HGDIOBJ oldFont;
  TextCanvas(int w, int h, HFONT f) : Canvas(w, h), font(f) {
    oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kBlack);
  }
  ~TextCanvas() {
    SelectObject(dc, oldFont);
    DeleteObject(font);
  }
  // Columns that hold ink within the rows [top, bottom).
  std::vector<bool> Columns(int top, int bottom) const {
    std::vector<bool> cols(size_t(w), false);
    for (int y = top; y < bottom; ++y)
      for (int x = 0; x < w; ++x)
        if (GetBitmapPixel(bm, x, y) != kWhite) cols[size_t(x)] = true;
    return cols;
  }
  // Rows that hold ink.
  std::vector<int> InkRows() const {
    std::vector<int> rows;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (GetBitmapPixel(bm, x, y) != kWhite) { rows.push_back(y); break; }
    return rows;
  }
};

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

}  // namespace

TEST(GdiText, MissingFacesFallBackToTheSansFaceWithTrueTypeMetrics) {
  TextCanvas c(10, 10, Font("No Such Face Anywhere", -12));
  EXPECT_EQ(GetTextFace(c.dc), "DejaVu Sans");
  TEXTMETRIC tm;
  ASSERT_TRUE(GetTextMetrics(c.dc, &tm));
  EXPECT_TRUE(tm.tmPitchAndFamily & TMPF_TRUETYPE);
  EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
  EXPECT_EQ(tm.tmInternalLeading, tm.tmHeight - 12);
  EXPECT_GT(tm.tmAveCharWidth, 0);
  // A positive height asks for the cell height.
  HFONT cell = Font("DejaVu Sans", 20);
  SelectObject(c.dc, cell);
  ASSERT_TRUE(GetTextMetrics(c.dc, &tm));
  EXPECT_NEAR(tm.tmHeight, 20, 1);
  SelectObject(c.dc, c.font);
  DeleteObject(cell);
  // The screen context measures without a display.
  HDC screen = GetDC(0);
  ASSERT_NE(screen, 0u);
  HGDIOBJ old = SelectObject(screen, c.font);
  SIZE a, b;
  EXPECT_TRUE(GetTextExtentPoint32(screen, "Hello", &a));
  EXPECT_TRUE(GetTextExtentPoint32(c.dc, "Hello", &b));
  EXPECT_EQ(a.cx, b.cx);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  SelectObject(screen, old);
  ReleaseDC(0, screen);
}

TEST(GdiText, ExtentsAddUpAndCountCharacterExtra) {
  TextCanvas c(10, 10, Font("DejaVu Sans", -13));
  SIZE ab, a, b, again;
  GetTextExtentPoint32(c.dc, "Wave", &ab);
  GetTextExtentPoint32(c.dc, "Wa", &a);
  GetTextExtentPoint32(c.dc, "ve", &b);
  GetTextExtentPoint32(c.dc, "Wave", &again);
  EXPECT_EQ(ab.cx, a.cx + b.cx);
  EXPECT_EQ(ab.cx, again.cx);
  SetTextCharacterExtra(c.dc, 3);
  SIZE spaced;
  GetTextExtentPoint32(c.dc, "Wave", &spaced);
  EXPECT_EQ(spaced.cx, ab.cx + 4 * 3);
  SIZE bold;
  HFONT bf = Font("DejaVu Sans", -13, FW_BOLD);
  SelectObject(c.dc, bf);
  SetTextCharacterExtra(c.dc, 0);
  GetTextExtentPoint32(c.dc, "Wave", &bold);
  EXPECT_GT(bold.cx, ab.cx);
  SelectObject(c.dc, c.font);
  DeleteObject(bf);
}

TEST(GdiText, CalculatedRectangleCoversWhatIsDrawn) {
  for (uint32_t fmt : {DT_SINGLELINE, DT_WORDBREAK, DT_WORDBREAK | DT_CENTER, DT_EXPANDTABS}) {
    TextCanvas c(200, 120, Font("DejaVu Sans", -13));
    const std::string text = "Status: gateway\tconnected to the notify server";
    RECT calc{10, 10, 110, 10};
    int h = DrawText(c.dc, text, &calc, fmt | DT_CALCRECT);
    EXPECT_EQ(h, calc.bottom - calc.top);
    RECT r{10, 10, 110, 110};
    DrawText(c.dc, text, &r, fmt | DT_NOCLIP);
    RECT ink = c.Ink();
    // Centred lines sit inside the drawing rectangle's width; others start at its left.
    RECT drawn{calc.left, calc.top,
               (fmt & DT_CENTER) ? std::max<int32_t>(calc.right, 110) : calc.right, calc.bottom};
    EXPECT_TRUE(Inside(ink, drawn)) << fmt << ": ink " << ink.left << "," << ink.top << ","
                                    << ink.right << "," << ink.bottom << " calc " << calc.right
                                    << "," << calc.bottom;
    EXPECT_GT(ink.right - ink.left, 0);
  }
  // Empty text measures as nothing wide and no line; a blank gives one line.
  TextCanvas c(10, 10, Font("DejaVu Sans", -13));
  TEXTMETRIC tm;
  GetTextMetrics(c.dc, &tm);
  RECT e{0, 0, 50, 0};
  EXPECT_EQ(DrawText(c.dc, "", &e, DT_CALCRECT), 0);
  EXPECT_EQ(e.right, 0);
  EXPECT_EQ(e.bottom, 0);
  EXPECT_EQ(DrawText(c.dc, " ", &e, DT_CALCRECT), tm.tmHeight);
}

TEST(GdiText, WordBreakPutsWordsOnLinesOfTheFontHeight) {
  TextCanvas c(120, 80, Font("DejaVu Sans", -13));
  TEXTMETRIC tm;
  GetTextMetrics(c.dc, &tm);
  SIZE word;
  GetTextExtentPoint32(c.dc, "gateway", &word);
  RECT r{0, 0, word.cx + 2, 80};
  RECT calc = r;
  EXPECT_EQ(DrawText(c.dc, "gateway relay beacon", &calc, DT_WORDBREAK | DT_CALCRECT),
            3 * tm.tmHeight);
  DrawText(c.dc, "gateway relay beacon", &r, DT_WORDBREAK);
  std::vector<int> rows = c.InkRows();
  ASSERT_FALSE(rows.empty());
  EXPECT_GE(rows.back(), 2 * tm.tmHeight);  // the third line has ink
  EXPECT_LT(rows.back(), 3 * tm.tmHeight);
  // Single line: no break, and vertical centring works.
  c.Fill(kWhite);
  RECT one{0, 0, word.cx + 2, 60};
  DrawText(c.dc, "gateway relay", &one, DT_SINGLELINE | DT_VCENTER | DT_NOCLIP);
  rows = c.InkRows();
  EXPECT_GE(rows.front(), (60 - tm.tmHeight) / 2);
  EXPECT_LT(rows.back(), (60 + tm.tmHeight) / 2 + 1);
  // A word wider than the line breaks only as an edit control does.
  c.Fill(kWhite);
  RECT narrow{0, 0, word.cx / 2, 80};
  RECT m1 = narrow, m2 = narrow;
  DrawText(c.dc, "gateway", &m1, DT_WORDBREAK | DT_CALCRECT);
  DrawText(c.dc, "gateway", &m2, DT_WORDBREAK | DT_EDITCONTROL | DT_CALCRECT);
  EXPECT_EQ(m1.bottom, tm.tmHeight);
  EXPECT_GT(m2.bottom, tm.tmHeight);
  EXPECT_LE(m2.right - m2.left, word.cx / 2);
}

TEST(GdiText, TabsExpandToStopsOfEightAverageCharacters) {
  TextCanvas c(200, 20, Font("DejaVu Sans", -13));
  TEXTMETRIC tm;
  GetTextMetrics(c.dc, &tm);
  RECT r{0, 0, 200, 20};
  DrawText(c.dc, "i\tl", &r, DT_SINGLELINE | DT_EXPANDTABS);
  std::vector<bool> cols = c.Columns(0, 20);
  int second = -1;
  for (int x = tm.tmAveCharWidth * 2; x < 200; ++x)
    if (cols[size_t(x)]) { second = x; break; }
  EXPECT_GE(second, 8 * tm.tmAveCharWidth);
  EXPECT_LT(second, 8 * tm.tmAveCharWidth + 4);
  RECT calc{0, 0, 200, 0};
  DrawText(c.dc, "i\tl", &calc, DT_SINGLELINE | DT_EXPANDTABS | DT_CALCRECT);
  SIZE l;
  GetTextExtentPoint32(c.dc, "l", &l);
  EXPECT_EQ(calc.right, 8 * tm.tmAveCharWidth + l.cx);
}

TEST(GdiText, EndAndPathEllipsisKeepTheLineInsideTheRectangle) {
  TextCanvas c(300, 20, Font("DejaVu Sans", -13));
  const std::string text = "C:\\Program Files\\Vexa\\Lumidex\\beaconhub.exe";
  SIZE full, file;
  GetTextExtentPoint32(c.dc, text, &full);
  GetTextExtentPoint32(c.dc, "...\\beaconhub.exe", &file);
  int limit = full.cx / 2 + file.cx / 2;
  RECT r{0, 0, limit, 20};
  DrawText(c.dc, text, &r, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOCLIP);
  RECT ink = c.Ink();
  EXPECT_LE(ink.right, limit);
  EXPECT_GT(ink.right, limit - 20);
  // Path ellipsis keeps the file name at the right end: the same tail as drawn alone.
  TextCanvas tail(300, 20, Font("DejaVu Sans", -13));
  c.Fill(kWhite);
  DrawText(c.dc, text, &r, DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_NOCLIP);
  ink = c.Ink();
  EXPECT_LE(ink.right, limit);
  SIZE drawnWidth;
  // Compare the last 40 columns with the file name drawn right-aligned at the same edge.
  RECT tr{0, 0, 0, 20};
  DrawText(c.dc, text, &tr, DT_SINGLELINE | DT_CALCRECT);
  GetTextExtentPoint32(c.dc, "beaconhub.exe", &drawnWidth);
  RECT endAt{0, 0, limit, 20};
  DrawText(tail.dc, "beaconhub.exe", &endAt, DT_SINGLELINE | DT_RIGHT | DT_NOCLIP);
  // Both end at the same x with the same ink (the ellipsised line is flush left, so
  // its end lies at its own width; align by the rightmost ink column).
  RECT ti = tail.Ink();
  int shift = ink.right - ti.right;
  for (int y = 0; y < 20; ++y)
    for (int x = ti.left; x < ti.right; ++x)
      EXPECT_EQ(GetBitmapPixel(c.bm, x + shift, y), GetBitmapPixel(tail.bm, x, y)) << x << "," << y;
}

TEST(GdiText, AcceleratorsUnderlineTheirLetterUnlessNoPrefix) {
  TextCanvas a(100, 30, Font("DejaVu Sans", -13));
  TextCanvas b(100, 30, Font("DejaVu Sans", -13));
  TextCanvas n(100, 30, Font("DejaVu Sans", -13));
  TEXTMETRIC tm;
  GetTextMetrics(a.dc, &tm);
  RECT r{0, 0, 100, 30};
  DrawText(a.dc, "&File", &r, DT_SINGLELINE);
  DrawText(b.dc, "File", &r, DT_SINGLELINE);
  DrawText(n.dc, "&File", &r, DT_SINGLELINE | DT_NOPREFIX);
  SIZE f;
  GetTextExtentPoint32(a.dc, "F", &f);
  // Above the baseline the two are the same; below it only "&File" has the underline under F.
  int differing = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 100; ++x) {
      COLORREF pa = GetBitmapPixel(a.bm, x, y), pb = GetBitmapPixel(b.bm, x, y);
      if (pa == pb) continue;
      ++differing;
      EXPECT_GT(y, tm.tmAscent - 1) << x << "," << y;
      EXPECT_LT(x, f.cx) << x << "," << y;
      EXPECT_EQ(pa, kBlack);
    }
  EXPECT_GE(differing, f.cx - 1);
  EXPECT_GT(n.Ink().right, b.Ink().right);  // the '&' is drawn
  // "&&" is one ampersand and no underline.
  TextCanvas d(100, 30, Font("DejaVu Sans", -13));
  DrawText(d.dc, "&&", &r, DT_SINGLELINE);
  RECT calc1{0, 0, 100, 0}, calc2{0, 0, 100, 0};
  DrawText(d.dc, "&&", &calc1, DT_SINGLELINE | DT_CALCRECT);
  DrawText(d.dc, "&", &calc2, DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
  EXPECT_EQ(calc1.right, calc2.right);
}

TEST(GdiText, EscapementTurnsTheTextAboutItsOrigin) {
  TextCanvas flat(120, 120, Font("DejaVu Sans", -13));
  TextCanvas up(120, 120, Font("DejaVu Sans", -13, FW_NORMAL, 900));
  TextOut(flat.dc, 10, 50, "Rotated");
  TextOut(up.dc, 50, 110, "Rotated");
  RECT fi = flat.Ink(), ui = up.Ink();
  EXPECT_EQ(fi.right - fi.left, ui.bottom - ui.top);
  EXPECT_NEAR(fi.bottom - fi.top, ui.right - ui.left, 1);
  EXPECT_LE(ui.bottom, 110);  // it runs upwards from the origin
  EXPECT_GE(ui.left, 50);     // the cell's top is on the left of the baseline
  // Alignment: right-aligned text ends at the reference point.
  TextCanvas r(120, 30, Font("DejaVu Sans", -13));
  SetTextAlign(r.dc, TA_RIGHT | TA_BASELINE);
  TextOut(r.dc, 100, 20, "end");
  EXPECT_LE(r.Ink().right, 100);
  EXPECT_GE(r.Ink().right, 97);
  EXPECT_LE(r.Ink().bottom, 21);
}

TEST(GdiText, OpaqueBackgroundFillsTheTextCells) {
  TextCanvas c(60, 20, Font("DejaVu Sans", -13));
  SetBkMode(c.dc, OPAQUE);
  SetBkColor(c.dc, kRed);
  TextOut(c.dc, 0, 0, "ab");
  SIZE s;
  GetTextExtentPoint32(c.dc, "ab", &s);
  EXPECT_EQ(GetPixel(c.dc, s.cx - 1, s.cy - 1), kRed);
  EXPECT_EQ(GetPixel(c.dc, s.cx, 0), kWhite);
  EXPECT_EQ(GetPixel(c.dc, 0, s.cy), kWhite);
}

namespace {

int InkCount(const TextCanvas& c) {
  int n = 0;
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) n += GetBitmapPixel(c.bm, x, y) != kWhite;
  return n;
}

}  // namespace

// A stroke width outlines the glyphs instead of filling them; it stays with
// the device context's saved state and 0 fills again.
TEST(GdiText, StrokeWidthOutlinesTheGlyphs) {
  TextCanvas filled(80, 80, Font("DejaVu Sans", -64, FW_BOLD));
  TextOut(filled.dc, 4, 0, "O");
  TextCanvas thin(80, 80, Font("DejaVu Sans", -64, FW_BOLD));
  EXPECT_EQ(SetTextStrokeWidth(thin.dc, 1), 0);
  TextOut(thin.dc, 4, 0, "O");
  TextCanvas thick(80, 80, Font("DejaVu Sans", -64, FW_BOLD));
  int saved = SaveDC(thick.dc);
  SetTextStrokeWidth(thick.dc, 4);
  EXPECT_EQ(GetTextStrokeWidth(thick.dc), 4);
  TextOut(thick.dc, 4, 0, "O");
  RestoreDC(thick.dc, saved);
  EXPECT_EQ(GetTextStrokeWidth(thick.dc), 0);
  // The outline of an "O" is two rings: far less ink than the filled letter,
  // and a wider line more than a thin one.
  EXPECT_GT(InkCount(thin), 100);
  EXPECT_LT(InkCount(thin), InkCount(filled) / 2);
  EXPECT_GT(InkCount(thick), InkCount(thin) * 2);
  // Back at 0 the text is filled as before.
  TextCanvas again(80, 80, Font("DejaVu Sans", -64, FW_BOLD));
  SetTextStrokeWidth(again.dc, 3);
  SetTextStrokeWidth(again.dc, 0);
  TextOut(again.dc, 4, 0, "O");
  EXPECT_EQ(InkCount(again), InkCount(filled));
}
