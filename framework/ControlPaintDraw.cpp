// Control painting: how each kind of control looks on the screen.
#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>

#include "framework/ComCtrls.h"
#include "framework/ControlPaint.h"
#include "framework/ControlPaintInternal.h"
#include "framework/Dialogs.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"

namespace fw {

using namespace plat;

namespace paint {

// ---------------------------------------------------------------------------
// Drawing helpers shared by the other parts

bool HasFocus(TWinControl* c) { return c->HandleAllocated() && GetFocus() == c->Handle(); }

HFONT GuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

}  // namespace paint

int32_t TitleBarWidth(const std::string& Caption) {
  constexpr int32_t kIconAndButtons = 112;  // in the usual themes
  TFont font;
  font.SetStyle(TFontStyles{fsBold});
  HDC dc = GetDC(0);
  HGDIOBJ old = SelectObject(dc, font.Handle());
  SIZE sz{};
  GetTextExtentPoint32(dc, Caption, &sz);
  SelectObject(dc, old);
  ReleaseDC(0, dc);
  return sz.cx + kIconAndButtons;
}

namespace paint {

int LineHeight(HDC dc) {
  TEXTMETRIC tm;
  GetTextMetrics(dc, &tm);
  return std::max(1, tm.tmHeight + 2);
}

int ScreenLineHeight() {
  HDC dc = GetDC(0);
  HGDIOBJ old = SelectObject(dc, GuiFont());
  int h = LineHeight(dc);
  SelectObject(dc, old);
  ReleaseDC(0, dc);
  return h;
}

int TextWidth(HDC dc, const std::string& s) {
  SIZE sz;
  GetTextExtentPoint32(dc, s, &sz);
  return sz.cx;
}

void Fill(HDC dc, const RECT& r, int sysColor) { FillRect(dc, &r, GetSysColorBrush(sysColor)); }

void Text(HDC dc, const std::string& s, RECT r, uint32_t fmt, COLORREF color) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, color);
  DrawText(dc, s, &r, fmt);
}

void Line(HDC dc, int x1, int y1, int x2, int y2, COLORREF color) {
  HPEN pen = CreatePen(PS_SOLID, 1, color);
  HGDIOBJ old = SelectObject(dc, pen);
  MoveToEx(dc, x1, y1, nullptr);
  LineTo(dc, x2, y2);
  SelectObject(dc, old);
  DeleteObject(pen);
}

void DottedRect(HDC dc, RECT r) {
  for (int x = r.left; x < r.right; x += 2) {
    SetPixel(dc, x, r.top, GetSysColor(COLOR_WINDOWTEXT));
    SetPixel(dc, x, r.bottom - 1, GetSysColor(COLOR_WINDOWTEXT));
  }
  for (int y = r.top; y < r.bottom; y += 2) {
    SetPixel(dc, r.left, y, GetSysColor(COLOR_WINDOWTEXT));
    SetPixel(dc, r.right - 1, y, GetSysColor(COLOR_WINDOWTEXT));
  }
}

// A small arrow glyph centred on (cx, cy): four rows of 1, 3, 5 and 7 pixels
// from its tip, drawn pixel row by row so that both sides come out alike.
// "up" points up, or right when horizontal (the next-value arrow).
void Triangle(HDC dc, int cx, int cy, bool up, bool horizontal, COLORREF color) {
  HBRUSH b = CreateSolidBrush(color);
  for (int i = 0; i < 4; ++i) {
    const int along = up ? (horizontal ? 1 - i : i - 2) : (horizontal ? i - 2 : 1 - i);
    RECT r = horizontal ? RECT{cx + along, cy - i, cx + along + 1, cy + i + 1}
                        : RECT{cx - i, cy + along, cx + i + 1, cy + along + 1};
    FillRect(dc, &r, b);
  }
  DeleteObject(b);
}

// ---------------------------------------------------------------------------
// Painting of each kind of control

void PaintLabel(TCustomLabel* l, HDC dc) {
  RECT r = ToRect(l->BoundsRect());
  if (!l->Transparent()) Fill(dc, r, COLOR_BTNFACE);
  uint32_t fmt = l->WordWrap() ? DT_WORDBREAK : DT_SINGLELINE;
  if (!l->ShowAccelChar()) fmt |= DT_NOPREFIX;
  if (l->AutoSize() && !l->WordWrap()) fmt |= DT_NOCLIP;
  switch (l->Alignment()) {
    case taRightJustify: fmt |= DT_RIGHT; break;
    case taCenter: fmt |= DT_CENTER; break;
    default: break;
  }
  // Labels share the dialog font; a label's own font style (bold, italic,
  // underline, strike-out) is drawn on top of it.
  const TFontStyles style = l->Font()->Style();
  HFONT styled = 0;
  HGDIOBJ old = 0;
  if (!style.Empty()) {
    LOGFONT lf;
    if (GetObject(GuiFont(), sizeof(LOGFONT), &lf)) {
      lf.lfWeight = style.Contains(fsBold) ? FW_BOLD : FW_NORMAL;
      lf.lfItalic = style.Contains(fsItalic);
      lf.lfUnderline = style.Contains(fsUnderline);
      lf.lfStrikeOut = style.Contains(fsStrikeOut);
      styled = CreateFontIndirect(lf);
      if (styled) old = SelectObject(dc, styled);
    }
  }
  Text(dc, l->Caption(), r, fmt, GetSysColor(l->Enabled() ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  if (styled) {
    SelectObject(dc, old);
    DeleteObject(styled);
  }
}

void PaintDialogIcon(TDialogIconControl* c, HDC dc) {
  const RECT r = ToRect(c->BoundsRect());
  const int x = r.left, y = r.top;
  const COLORREF white = RGB(255, 255, 255), black = RGB(0, 0, 0);
  auto shape = [&](COLORREF fill, COLORREF edge, const std::function<void()>& draw) {
    HBRUSH brush = CreateSolidBrush(fill);
    HPEN pen = CreatePen(PS_SOLID, 1, edge);
    HGDIOBJ ob = SelectObject(dc, brush), op = SelectObject(dc, pen);
    draw();
    SelectObject(dc, ob);
    SelectObject(dc, op);
    DeleteObject(brush);
    DeleteObject(pen);
  };
  auto box = [&](int l, int t, int rr, int b, COLORREF colour) {
    RECT q{x + l, y + t, x + rr, y + b};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &q, brush);
    DeleteObject(brush);
  };
  switch (c->Icon()) {
    case diError: {
      const COLORREF red = RGB(224, 0, 0);
      shape(red, RGB(128, 0, 0), [&] { Ellipse(dc, x, y, x + 32, y + 32); });
      // A white cross, three pixels thick.
      for (int i = 9; i <= 22; ++i)
        for (int k = -1; k <= 1; ++k) {
          SetPixel(dc, x + i + k, y + i, white);
          SetPixel(dc, x + 31 - i + k, y + i, white);
        }
      break;
    }
    case diWarning: {
      const POINT tri[3] = {{x + 16, y + 1}, {x + 31, y + 30}, {x + 1, y + 30}};
      shape(RGB(255, 224, 0), black, [&] { Polygon(dc, tri, 3); });
      box(14, 9, 18, 22, black);  // the exclamation mark
      box(14, 24, 18, 28, black);
      break;
    }
    case diInformation:
      shape(RGB(0, 64, 224), RGB(0, 32, 128), [&] { Ellipse(dc, x, y, x + 32, y + 32); });
      box(14, 6, 18, 10, white);  // the letter i
      box(14, 12, 18, 26, white);
      break;
    case diQuestion:
      shape(RGB(0, 64, 224), RGB(0, 32, 128), [&] { Ellipse(dc, x, y, x + 32, y + 32); });
      // A question mark: hook, stem and dot.
      box(10, 6, 22, 9, white);
      box(19, 6, 22, 15, white);
      box(14, 13, 22, 16, white);
      box(14, 13, 17, 21, white);
      box(14, 23, 17, 26, white);
      break;
    case diNone: break;
  }
}

void PaintGraphicChildren(TWinControl* c, HDC dc) {
  for (int i = 0; i < c->ControlCount(); ++i) {
    TControl* g = c->Controls(i);
    if (dynamic_cast<TWinControl*>(g) || !g->Visible()) continue;
    int saved = SaveDC(dc);
    if (auto* l = dynamic_cast<TCustomLabel*>(g)) {
      PaintLabel(l, dc);
    } else if (auto* icon = dynamic_cast<TDialogIconControl*>(g)) {
      PaintDialogIcon(icon, dc);
    } else if (auto* gc = dynamic_cast<TGraphicControl*>(g)) {
      gc->Paint();
    }
    RestoreDC(dc, saved);
  }
}

void PaintButton(TButton* b, UiState& st, HDC dc, RECT r) {
  Fill(dc, r, COLOR_BTNFACE);
  bool focused = HasFocus(b);
  if (b->Default() || focused) {
    FrameRect(dc, &r, GetSysColorBrush(COLOR_WINDOWFRAME));
    r.left += 1;
    r.top += 1;
    r.right -= 1;
    r.bottom -= 1;
  }
  RECT e = r;
  if (st.pressed) {
    FrameRect(dc, &e, GetSysColorBrush(COLOR_BTNSHADOW));
  } else {
    DrawEdge(dc, &e, EDGE_RAISED, BF_RECT);
  }
  RECT tr = r;
  if (st.pressed) {
    tr.left += 1;
    tr.top += 1;
    tr.right += 1;
    tr.bottom += 1;
  }
  Text(dc, b->Caption(), tr, DT_SINGLELINE | DT_VCENTER | DT_CENTER,
       GetSysColor(b->Enabled() ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  if (focused) DottedRect(dc, RECT{r.left + 3, r.top + 3, r.right - 3, r.bottom - 3});
}

void PaintCheckBox(TCheckBox* c, HDC dc, RECT r) {
  Fill(dc, r, COLOR_BTNFACE);
  int box = 13;
  int by = (r.bottom - r.top - box) / 2;
  bool boxLeft = c->Alignment() == taRightJustify;
  int bx = boxLeft ? 0 : r.right - box;
  RECT br{bx, by, bx + box, by + box};
  Fill(dc, br, c->State() == cbGrayed || !c->Enabled() ? COLOR_BTNFACE : COLOR_WINDOW);
  RECT e = br;
  DrawEdge(dc, &e, EDGE_SUNKEN, BF_RECT);
  if (c->State() != cbUnchecked) {
    COLORREF col = GetSysColor(c->State() == cbGrayed ? COLOR_BTNSHADOW : COLOR_WINDOWTEXT);
    for (int k = 0; k < 3; ++k) {
      Line(dc, bx + 3, by + 5 + k, bx + 5, by + 7 + k, col);
      Line(dc, bx + 5, by + 7 + k, bx + 10, by + 2 + k, col);
    }
  }
  RECT tr =
      boxLeft ? RECT{box + 4, r.top, r.right, r.bottom} : RECT{r.left, r.top, bx - 4, r.bottom};
  Text(dc, c->Caption(), tr, DT_SINGLELINE | DT_VCENTER | (boxLeft ? DT_LEFT : DT_RIGHT),
       GetSysColor(c->Enabled() ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  if (HasFocus(c)) {
    RECT cr{0, 0, 0, 0};
    DrawText(dc, c->Caption(), &cr, DT_CALCRECT | DT_SINGLELINE);
    int th = cr.bottom;
    int ty = (r.bottom - th) / 2;
    DottedRect(dc,
               RECT{tr.left - 1, ty - 1, std::min(tr.right, tr.left + cr.right + 1), ty + th + 1});
  }
}

void PaintEdit(TCustomEdit* e, UiState& st, HDC dc, RECT r) {
  RECT edge = r;
  DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  Fill(dc, edge, e->Enabled() ? COLOR_WINDOW : COLOR_BTNFACE);
  std::string text = e->Text();
  size_t caret = std::min(st.caret, text.size());
  int caretX = TextWidth(dc, text.substr(0, caret));
  int avail = edge.right - edge.left - 4;
  int shift = caretX > avail ? caretX - avail : 0;
  IntersectClipRect(dc, edge.left, edge.top, edge.right, edge.bottom);
  RECT tr{edge.left + 2 - shift, edge.top, edge.right + 1000, edge.bottom};
  Text(dc, text, tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX,
       GetSysColor(e->Enabled() ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  if (HasFocus(e)) {
    int lh = LineHeight(dc);
    int x = edge.left + 2 + caretX - shift;
    int cy = (edge.top + edge.bottom - lh) / 2;
    Line(dc, x, cy + 1, x, cy + lh - 1, GetSysColor(COLOR_WINDOWTEXT));
  }
}

int MemoVisibleLines(TCustomMemo* m, int lh) { return std::max(1, (m->Height() - 4) / lh); }

// A vertical scroll bar: an arrow button at each end (as tall as the bar is
// wide) and the track between them with its thumb. The arrows grey out while
// there is nothing to scroll.
void PaintScrollBar(HDC dc, RECT r, int first, int visible, int total) {
  Fill(dc, r, COLOR_SCROLLBAR);
  const int side = std::min<int>(r.right - r.left, (r.bottom - r.top) / 2);
  const bool scrolls = total > visible && total > 0;
  const COLORREF arrow = GetSysColor(scrolls ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
  for (int k = 0; k < 2; ++k) {
    RECT b = k == 0 ? RECT{r.left, r.top, r.right, r.top + side}
                    : RECT{r.left, r.bottom - side, r.right, r.bottom};
    Fill(dc, b, COLOR_BTNFACE);
    RECT e = b;
    DrawEdge(dc, &e, EDGE_RAISED, BF_RECT);
    Triangle(dc, (b.left + b.right) / 2, (b.top + b.bottom) / 2, k == 0, false, arrow);
  }
  if (!scrolls) return;
  RECT track{r.left, r.top + side, r.right, r.bottom - side};
  int span = track.bottom - track.top;
  if (span <= 0) return;
  int th = std::min(span, std::max(8, span * visible / total));
  int ty = track.top + (span - th) * first / std::max(1, total - visible);
  RECT t{r.left, ty, r.right, ty + th};
  Fill(dc, t, COLOR_BTNFACE);
  DrawEdge(dc, &t, EDGE_RAISED, BF_RECT);
}

void FillColor(HDC dc, const RECT& r, TColor color) {
  HBRUSH b = CreateSolidBrush(ColorToRGB(color));
  FillRect(dc, &r, b);
  DeleteObject(b);
}

void PaintMemo(TCustomMemo* m, UiState& st, HDC dc, RECT r) {
  RECT edge = r;
  if (m->BorderStyle() != bsNone) DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillColor(dc, edge, m->Color());
  int lh = LineHeight(dc);
  int count = m->Lines()->Count();
  int visible = MemoVisibleLines(m, lh);
  // New lines bring the last line into view (a log follows what it writes).
  if (count != st.lineCount) {
    st.topLine = std::max(0, count - visible);
    st.lineCount = count;
  }
  st.topLine = std::clamp(st.topLine, 0, std::max(0, count - visible));
  bool bar = m->ScrollBars() == ssVertical || m->ScrollBars() == ssBoth;
  RECT text = edge;
  if (bar) {
    RECT sb{edge.right - 16, edge.top, edge.right, edge.bottom};
    PaintScrollBar(dc, sb, st.topLine, visible, count);
    text.right -= 16;
  }
  IntersectClipRect(dc, text.left, text.top, text.right, text.bottom);
  int y = text.top;
  for (int i = st.topLine; i < count && y < text.bottom; ++i, y += lh) {
    RECT lr{text.left + 2, y, text.right + (m->WordWrap() ? 0 : 4000), y + lh};
    Text(dc, m->Lines()->Get(i), lr, DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS,
         GetSysColor(COLOR_WINDOWTEXT));
  }
}

int ListHeaderHeight(int lh) { return lh + 4; }

// The first column of a list keeps its captions left, whatever it says;
// the others place header and cells as their alignment asks.
uint32_t ColumnFormat(TListView* v, int c) {
  if (c <= 0 || c >= v->Columns()->Count()) return DT_LEFT;
  switch (v->Columns()->Items(c)->Alignment()) {
    case taCenter: return DT_CENTER;
    case taRightJustify: return DT_RIGHT;
    default: return DT_LEFT;
  }
}

void PaintListView(TListView* v, UiState& st, HDC dc, RECT r) {
  RECT edge = r;
  DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  Fill(dc, edge, COLOR_WINDOW);
  IntersectClipRect(dc, edge.left, edge.top, edge.right, edge.bottom);
  int lh = LineHeight(dc);
  int hh = ListHeaderHeight(lh);
  int ncol = v->Columns()->Count();
  std::vector<int> xs;  // column left edges, then the right end
  int x = edge.left;
  for (int c = 0; c < ncol; ++c) {
    xs.push_back(x);
    x += std::max(0, v->Columns()->Items(c)->Width());
  }
  xs.push_back(x);
  if (v->ViewStyle() == vsReport) {
    for (int c = 0; c < ncol; ++c) {
      RECT hr{xs[c], edge.top, xs[c + 1], edge.top + hh};
      Fill(dc, hr, COLOR_BTNFACE);
      RECT he = hr;
      DrawEdge(dc, &he, EDGE_RAISED, BF_RECT);
      RECT tr{hr.left + 6, hr.top, hr.right - 4, hr.bottom};
      Text(dc, v->Columns()->Items(c)->Caption(), tr,
           DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX | ColumnFormat(v, c),
           GetSysColor(COLOR_BTNTEXT));
    }
    if (x < edge.right) Fill(dc, RECT{x, edge.top, edge.right, edge.top + hh}, COLOR_BTNFACE);
  }
  int top = v->ViewStyle() == vsReport ? edge.top + hh : edge.top;
  int rows = std::max(1, (edge.bottom - top) / lh);
  int count = v->Items()->Count();
  st.topLine = std::clamp(st.topLine, 0, std::max(0, count - rows));
  int y = top;
  for (int i = st.topLine; i < count && y < edge.bottom; ++i, y += lh) {
    TListItem* item = v->Items()->Item(i);
    bool sel = item->Selected() && (!v->HideSelection() || HasFocus(v));
    int right =
        v->ViewStyle() == vsReport && ncol > 0 ? (v->RowSelect() ? xs.back() : xs[1]) : edge.right;
    if (sel) Fill(dc, RECT{edge.left, y, right, y + lh}, COLOR_HIGHLIGHT);
    int cols = v->ViewStyle() == vsReport ? std::max(1, ncol) : 1;
    for (int c = 0; c < cols; ++c) {
      std::string s;
      if (c == 0) {
        s = item->Caption();
      } else if (c - 1 < item->SubItems()->Count()) {
        s = item->SubItems()->Get(c - 1);
      }
      int l = ncol > 0 ? xs[c] : edge.left, rr = ncol > 0 ? xs[c + 1] : edge.right;
      bool hl = sel && (c == 0 || v->RowSelect());
      RECT tr{l + 6, y, rr - 4, y + lh};
      Text(dc, s, tr,
           DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX | ColumnFormat(v, c),
           GetSysColor(hl ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    }
    if (v->GridLines())
      Line(dc, edge.left, y + lh - 1, xs.back(), y + lh - 1, GetSysColor(COLOR_BTNFACE));
  }
  if (v->GridLines() && v->ViewStyle() == vsReport) {
    int bottom = std::min<int>(edge.bottom, top + (count - st.topLine) * lh);
    for (size_t c = 1; c < xs.size(); ++c)
      Line(dc, xs[c] - 1, top, xs[c] - 1, bottom, GetSysColor(COLOR_BTNFACE));
  }
}

int TabHeight(int lh) { return lh + 6; }

std::vector<std::pair<TTabSheet*, RECT>> TabRects(TPageControl* p, HDC dc) {
  std::vector<std::pair<TTabSheet*, RECT>> out;
  int lh = LineHeight(dc);
  int x = 2;
  for (int i = 0; i < p->PageCount(); ++i) {
    TTabSheet* s = p->Pages(i);
    if (!s->TabVisible()) continue;
    int w = TextWidth(dc, s->Caption()) + 16;
    out.push_back({s, RECT{x, 2, x + w, 2 + TabHeight(lh)}});
    x += w;
  }
  return out;
}

void PaintPageControl(TPageControl* p, HDC dc, RECT r) {
  Fill(dc, r, COLOR_BTNFACE);
  int th = TabHeight(LineHeight(dc)) + 2;
  RECT body{r.left, th, r.right, r.bottom};
  DrawEdge(dc, &body, EDGE_RAISED, BF_RECT);
  for (auto& [sheet, tr] : TabRects(p, dc)) {
    bool active = sheet == p->ActivePage();
    RECT t = tr;
    if (active) {
      t.top -= 2;
      t.left -= 2;
      t.right += 2;
      t.bottom += 1;
    }
    Fill(dc, t, COLOR_BTNFACE);
    RECT e = t;
    DrawEdge(dc, &e, EDGE_RAISED, BF_LEFT | BF_TOP | BF_RIGHT);
    Text(dc, sheet->Caption(), t, DT_SINGLELINE | DT_VCENTER | DT_CENTER,
         GetSysColor(COLOR_BTNTEXT));
    if (active && HasFocus(p))
      DottedRect(dc, RECT{t.left + 3, t.top + 3, t.right - 3, t.bottom - 2});
  }
}

void PaintUpDown(TUpDown* u, UiState& st, HDC dc, RECT r) {
  bool horiz = u->Orientation() == udHorizontal;
  RECT a = r, b = r;  // a: next (upper / right), b: previous (lower / left)
  if (horiz) {
    int mid = (r.left + r.right) / 2;
    b.right = mid;
    a.left = mid;
  } else {
    int mid = (r.top + r.bottom) / 2;
    a.bottom = mid;
    b.top = mid;
  }
  for (int part = 1; part <= 2; ++part) {
    RECT pr = part == 1 ? a : b;
    Fill(dc, pr, COLOR_BTNFACE);
    RECT e = pr;
    DrawEdge(dc, &e, st.pressed && st.pressedPart == part ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    Triangle(dc, (pr.left + pr.right) / 2, (pr.top + pr.bottom) / 2, part == 1, horiz,
             GetSysColor(u->Enabled() ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  }
}

void PaintPanel(TCustomPanel* p, HDC dc, RECT r) {
  Fill(dc, r, COLOR_BTNFACE);
  auto bevel = [&](TBevelCut cut) {
    if (cut == bvNone) return;
    for (int i = 0; i < p->BevelWidth(); ++i) {
      if (cut == bvRaised)
        DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
      else if (cut == bvLowered)
        DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
      else {
        r.left += 1;
        r.top += 1;
        r.right -= 1;
        r.bottom -= 1;
      }
    }
  };
  bevel(p->BevelOuter());
  r.left += p->BorderWidth();
  r.top += p->BorderWidth();
  r.right -= p->BorderWidth();
  r.bottom -= p->BorderWidth();
  bevel(p->BevelInner());
  uint32_t fmt = DT_SINGLELINE | DT_VCENTER;
  fmt |= p->Alignment() == taCenter         ? DT_CENTER
         : p->Alignment() == taRightJustify ? DT_RIGHT
                                            : DT_LEFT;
  Text(dc, p->Caption(), r, fmt, GetSysColor(COLOR_BTNTEXT));
}

void PaintControl(TWinControl* c, UiState& st, HDC dc) {
  RECT r{0, 0, c->Width(), c->Height()};
  SelectObject(dc, GuiFont());
  if (auto* bar = dynamic_cast<TMenuBar*>(c))
    PaintMenuBar(bar, dc, r);
  else if (auto* b = dynamic_cast<TButton*>(c))
    PaintButton(b, st, dc, r);
  else if (auto* cb = dynamic_cast<TCheckBox*>(c))
    PaintCheckBox(cb, dc, r);
  else if (auto* m = dynamic_cast<TCustomMemo*>(c))
    PaintMemo(m, st, dc, r);
  else if (auto* e = dynamic_cast<TCustomEdit*>(c))
    PaintEdit(e, st, dc, r);
  else if (auto* v = dynamic_cast<TListView*>(c))
    PaintListView(v, st, dc, r);
  else if (auto* p = dynamic_cast<TPageControl*>(c))
    PaintPageControl(p, dc, r);
  else if (auto* u = dynamic_cast<TUpDown*>(c))
    PaintUpDown(u, st, dc, r);
  else if (auto* pn = dynamic_cast<TCustomPanel*>(c))
    PaintPanel(pn, dc, r);
  else if (auto* f = dynamic_cast<TCustomForm*>(c))
    FillColor(dc, r, f->Color());
  else
    Fill(dc, r, COLOR_BTNFACE);
  if (auto* cc = dynamic_cast<TCustomControl*>(c); cc && !dynamic_cast<TCustomPanel*>(c) &&
                                                   !dynamic_cast<TMenuBar*>(c) &&
                                                   !dynamic_cast<TListView*>(c)) {
    cc->Paint();
  }
  PaintGraphicChildren(c, dc);
  if (auto* form = dynamic_cast<TCustomForm*>(c); form && form->OnPaint) form->OnPaint(form);
}

}  // namespace paint

using namespace paint;

// The pages fill the page control inside its frame, below the row of tabs.
TRect TPageControl::ClientRect() const {
  int th = TabHeight(ScreenLineHeight()) + 2;
  TRect r = Rect(4, th + 2, Width() - 4, Height() - 4);
  if (r.Right < r.Left) r.Right = r.Left;
  if (r.Bottom < r.Top) r.Bottom = r.Top;
  return r;
}

}  // namespace fw
