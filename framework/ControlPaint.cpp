#include "framework/ControlPaint.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>

#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"

namespace fw {

using namespace plat;

namespace {

bool gActive = false;
bool gShift = false;

// What the display remembers of one control between messages.
struct UiState {
  bool pressed = false;       // button or arrow held down with the mouse
  int pressedPart = 0;        // up-down: 1 upper (next), 2 lower (previous)
  size_t caret = std::string::npos;  // edit: byte offset, npos = end of text
  int topLine = 0;            // memo and list view: first line shown
  int lineCount = -1;         // memo: line count at the last paint
  int hotItem = -1;           // menu bar: the item whose drop-down is open
  std::vector<HWND> disabled; // modal form: the forms it disabled
};

// ---------------------------------------------------------------------------
// Drawing helpers

HFONT GuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

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

RECT ToRect(const TRect& r) { return RECT{r.Left, r.Top, r.Right, r.Bottom}; }

bool HasFocus(TWinControl* c) { return c->HandleAllocated() && GetFocus() == c->Handle(); }

int32_t LoX(LPARAM l) { return static_cast<int16_t>(static_cast<uint32_t>(l) & 0xFFFF); }
int32_t HiY(LPARAM l) { return static_cast<int16_t>((static_cast<uint32_t>(l) >> 16) & 0xFFFF); }

TCustomForm* FormOf(TControl* c) {
  TControl* top = c;
  while (top->Parent()) top = top->Parent();
  return dynamic_cast<TCustomForm*>(top);
}

std::string Utf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x110000) {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

// Byte offset of the character before / after pos in UTF-8 text.
size_t PrevChar(const std::string& s, size_t pos) {
  if (pos == 0) return 0;
  --pos;
  while (pos > 0 && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) --pos;
  return pos;
}
size_t NextChar(const std::string& s, size_t pos) {
  if (pos >= s.size()) return s.size();
  ++pos;
  while (pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) ++pos;
  return pos;
}

// ---------------------------------------------------------------------------
// Drop-down menus: one open at a time, a borderless top-level window.

struct DropDown {
  HWND hwnd = 0;
  TMenuItem* root = nullptr;
  TControl* owner = nullptr;  // the control whose menu it is
  int hot = -1;
};
DropDown gDrop;

int DropItemHeight(TMenuItem* item, int lh) { return item->IsLine() ? 8 : lh + 6; }

std::vector<TMenuItem*> VisibleItems(TMenuItem* root) {
  std::vector<TMenuItem*> v;
  if (!root) return v;
  for (int i = 0; i < root->Count(); ++i) {
    if (root->Items(i)->Visible()) v.push_back(root->Items(i));
  }
  return v;
}

void CloseDropDown() {
  HWND h = gDrop.hwnd;
  TControl* owner = gDrop.owner;
  gDrop = DropDown{};
  if (h) DestroyWindow(h);
  if (owner) owner->Invalidate();
}

int DropItemAt(int y) {
  int lh = ScreenLineHeight();
  int top = 2;
  auto items = VisibleItems(gDrop.root);
  for (size_t i = 0; i < items.size(); ++i) {
    int h = DropItemHeight(items[i], lh);
    if (y >= top && y < top + h) return static_cast<int>(i);
    top += h;
  }
  return -1;
}

void PaintDropDown(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT cr;
  GetClientRect(hwnd, &cr);
  Fill(dc, cr, COLOR_MENU);
  RECT edge = cr;
  DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
  SelectObject(dc, GuiFont());
  int lh = LineHeight(dc);
  int top = 2;
  auto items = VisibleItems(gDrop.root);
  for (size_t i = 0; i < items.size(); ++i) {
    TMenuItem* it = items[i];
    int h = DropItemHeight(it, lh);
    RECT r{2, top, cr.right - 2, top + h};
    if (it->IsLine()) {
      Line(dc, r.left + 1, top + 3, r.right - 1, top + 3, GetSysColor(COLOR_BTNSHADOW));
      Line(dc, r.left + 1, top + 4, r.right - 1, top + 4, GetSysColor(COLOR_BTNHIGHLIGHT));
    } else {
      bool hot = static_cast<int>(i) == gDrop.hot && it->Enabled();
      if (hot) Fill(dc, r, COLOR_HIGHLIGHT);
      COLORREF col = !it->Enabled() ? GetSysColor(COLOR_GRAYTEXT)
                     : hot          ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                    : GetSysColor(COLOR_MENUTEXT);
      RECT tr{r.left + 18, r.top, r.right - 8, r.bottom};
      Text(dc, it->Caption(), tr, DT_SINGLELINE | DT_VCENTER | DT_LEFT, col);
      if (it->Checked()) Text(dc, "\xE2\x9C\x93", RECT{r.left + 4, r.top, r.left + 18, r.bottom},
                              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, col);
    }
    top += h;
  }
  EndPaint(hwnd, &ps);
}

LRESULT DropDownProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: PaintDropDown(hwnd); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_CANCELMODE:
      // A press on another program, or the program lost the keyboard.
      if (hwnd == gDrop.hwnd) CloseDropDown();
      return 0;
    case WM_MOUSEMOVE: {
      int i = DropItemAt(HiY(lParam));
      if (i != gDrop.hot) {
        gDrop.hot = i;
        InvalidateRect(hwnd, nullptr, false);
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      int i = DropItemAt(HiY(lParam));
      auto items = VisibleItems(gDrop.root);
      if (i < 0 || static_cast<size_t>(i) >= items.size()) return 0;
      TMenuItem* it = items[static_cast<size_t>(i)];
      if (it->IsLine() || !it->Enabled()) return 0;
      CloseDropDown();
      it->Click();  // may free the form: nothing touches it afterwards
      return 0;
    }
    default: return DefWindowProc(hwnd, msg, wParam, lParam);
  }
}

void OpenDropDown(TControl* owner, TMenuItem* root, int32_t screenX, int32_t screenY) {
  CloseDropDown();
  auto items = VisibleItems(root);
  if (items.empty()) return;
  static bool registered = false;
  if (!registered) {
    WNDCLASS wc;
    wc.lpszClassName = "VexaMenuDropDown";
    wc.lpfnWndProc = DropDownProc;
    WNDCLASS existing;
    if (!GetClassInfo(wc.lpszClassName, &existing)) RegisterClass(wc);
    registered = true;
  }
  HDC dc = GetDC(0);
  HGDIOBJ old = SelectObject(dc, GuiFont());
  int lh = LineHeight(dc);
  int w = 80, h = 4;
  for (TMenuItem* it : items) {
    w = std::max(w, TextWidth(dc, it->Caption()) + 40);
    h += DropItemHeight(it, lh);
  }
  SelectObject(dc, old);
  ReleaseDC(0, dc);
  gDrop.root = root;
  gDrop.owner = owner;
  gDrop.hwnd = CreateWindowEx(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, "VexaMenuDropDown", "", WS_POPUP, screenX, screenY,
                              w, h, 0, 0);
  if (gDrop.hwnd) ShowWindow(gDrop.hwnd, SW_SHOWNA);
}

// ---------------------------------------------------------------------------
// The menu bar: a control along the top of a form with a main menu.

class TMenuBar;
std::vector<TMenuBar*> gMenuBars;

class TMenuBar : public TCustomControl {
public:
  TMenuBar(TCustomForm* Form, TMainMenu* Menu) : TCustomControl(nullptr), FMenu(Menu) {
    gMenuBars.push_back(this);
    Menu->FreeNotification(this);
    SetHeight(ScreenLineHeight() + 6);
    SetParent(Form);
    SetAlign(alTop);
  }
  ~TMenuBar() override {
    std::erase(gMenuBars, this);
    if (gDrop.owner == this) CloseDropDown();
  }
  TMainMenu* Menu() const { return FMenu; }
  // Item rectangles in the bar's client coordinates.
  std::vector<RECT> ItemRects() {
    std::vector<RECT> out;
    if (!FMenu) return out;
    HDC dc = GetDC(0);
    HGDIOBJ old = SelectObject(dc, GuiFont());
    int x = 2;
    for (TMenuItem* it : VisibleItems(FMenu->Items())) {
      RECT cr{0, 0, 0, 0};
      DrawText(dc, it->Caption(), &cr, DT_CALCRECT | DT_SINGLELINE);
      int w = cr.right + 14;
      out.push_back(RECT{x, 1, x + w, Height() - 1});
      x += w;
    }
    SelectObject(dc, old);
    ReleaseDC(0, dc);
    return out;
  }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TCustomControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == static_cast<TComponent*>(FMenu)) {
      FMenu = nullptr;
      if (gDrop.owner == this) CloseDropDown();
    }
  }

private:
  TMainMenu* FMenu;
};

TMenuBar* MenuBarOf(TCustomForm* form) {
  for (TMenuBar* b : gMenuBars) {
    if (b->Parent() == form) return b;
  }
  return nullptr;
}

void PaintMenuBar(TMenuBar* bar, HDC dc, const RECT& cr) {
  Fill(dc, cr, COLOR_MENU);
  if (!bar->Menu()) return;
  auto rects = bar->ItemRects();
  auto items = VisibleItems(bar->Menu()->Items());
  for (size_t i = 0; i < items.size() && i < rects.size(); ++i) {
    RECT r = rects[i];
    bool open = gDrop.owner == bar && gDrop.root == items[i];
    if (open) {
      RECT e = r;
      DrawEdge(dc, &e, BDR_SUNKENOUTER, BF_RECT);
    }
    Text(dc, items[i]->Caption(), r, DT_SINGLELINE | DT_VCENTER | DT_CENTER,
         GetSysColor(items[i]->Enabled() ? COLOR_MENUTEXT : COLOR_GRAYTEXT));
  }
}

// An item the keyboard or the pointer can choose: enabled and no separator.
bool Choosable(TMenuItem* it) { return it && !it->IsLine() && it->Enabled(); }

// The letter a caption underlines (after a single "&"), upper case; 0 for none.
int AccelOf(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return std::toupper(static_cast<unsigned char>(caption[i + 1]));
  }
  return 0;
}

// Opens the drop-down of the bar's item i (visible items) below its title. From
// the keyboard its first choosable item is marked at once, so that Enter has
// something to choose.
void OpenBarMenu(TMenuBar* bar, size_t i, bool keyboard) {
  auto rects = bar->ItemRects();
  auto items = VisibleItems(bar->Menu() ? bar->Menu()->Items() : nullptr);
  if (i >= items.size() || i >= rects.size()) return;
  TMenuItem* it = items[i];
  TPoint p = bar->ClientToScreen(Point(rects[i].left, rects[i].bottom));
  RECT fr;
  TCustomForm* form = FormOf(bar);
  if (form && form->HandleAllocated() && GetWindowRect(form->Handle(), &fr)) {
    // The form's own left/top are its screen position.
    TPoint inForm = Point(p.X - form->Left(), p.Y - form->Top());
    p = Point(fr.left + inForm.X, fr.top + inForm.Y);
  }
  OpenDropDown(bar, it, p.X, p.Y);
  if (keyboard && gDrop.root == it) {
    auto sub = VisibleItems(it);
    for (size_t k = 0; k < sub.size(); ++k)
      if (Choosable(sub[k])) {
        gDrop.hot = static_cast<int>(k);
        break;
      }
  }
  bar->Invalidate();
}

// The bar's title under a point (index into the visible items), -1 for none.
int BarItemAt(TMenuBar* bar, int32_t x, int32_t y) {
  auto rects = bar->ItemRects();
  for (size_t i = 0; i < rects.size(); ++i) {
    const RECT& r = rects[i];
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return static_cast<int>(i);
  }
  return -1;
}

void MenuBarClick(TMenuBar* bar, int32_t x, int32_t y) {
  if (!bar->Menu()) return;
  auto items = VisibleItems(bar->Menu()->Items());
  int i = BarItemAt(bar, x, y);
  if (i < 0 || static_cast<size_t>(i) >= items.size()) {
    CloseDropDown();
    return;
  }
  TMenuItem* it = items[static_cast<size_t>(i)];
  if (!it->Enabled()) return;
  if (gDrop.owner == bar && gDrop.root == it) {
    CloseDropDown();
    return;
  }
  if (it->Count() == 0) {
    CloseDropDown();
    it->Click();
    return;
  }
  OpenBarMenu(bar, static_cast<size_t>(i), false);
}

// With one of the bar's menus open, the pointer resting on another title
// opens that one instead.
void MenuBarHover(TMenuBar* bar, int32_t x, int32_t y) {
  if (!bar->Menu() || gDrop.owner != bar || !gDrop.hwnd) return;
  auto items = VisibleItems(bar->Menu()->Items());
  int i = BarItemAt(bar, x, y);
  if (i < 0 || static_cast<size_t>(i) >= items.size()) return;
  TMenuItem* it = items[static_cast<size_t>(i)];
  if (it == gDrop.root || !it->Enabled() || it->Count() == 0) return;
  OpenBarMenu(bar, static_cast<size_t>(i), false);
}

// The menu keys of a form: Alt + an underlined letter opens that menu, F10
// the first; while a menu is open, Up and Down move in it, Left and Right to
// the neighbouring menus of the bar, Enter chooses and Escape closes. True
// when the key was used.
bool MenuKey(TWinControl* c, int vk, bool alt) {
  TCustomForm* form = FormOf(c);
  if (!form) return false;
  TMenuBar* bar = MenuBarOf(form);
  if (gDrop.hwnd && gDrop.owner && FormOf(gDrop.owner) == form) {
    auto items = VisibleItems(gDrop.root);
    const int n = static_cast<int>(items.size());
    switch (vk) {
      case VK_ESCAPE: CloseDropDown(); return true;
      case VK_UP:
      case VK_DOWN: {
        const int step = vk == VK_DOWN ? 1 : -1;
        int k = gDrop.hot;
        for (int tries = 0; tries < n; ++tries) {
          k = k < 0 ? (step > 0 ? 0 : n - 1) : (k + step + n) % n;
          if (Choosable(items[static_cast<size_t>(k)])) {
            gDrop.hot = k;
            InvalidateRect(gDrop.hwnd, nullptr, false);
            break;
          }
        }
        return true;
      }
      case VK_LEFT:
      case VK_RIGHT: {
        if (gDrop.owner != bar || !bar->Menu()) return true;
        auto titles = VisibleItems(bar->Menu()->Items());
        const int m = static_cast<int>(titles.size());
        int cur = static_cast<int>(std::find(titles.begin(), titles.end(), gDrop.root) - titles.begin());
        const int step = vk == VK_RIGHT ? 1 : -1;
        for (int k = (cur + step + m) % m, tries = 0; tries < m; k = (k + step + m) % m, ++tries) {
          TMenuItem* t = titles[static_cast<size_t>(k)];
          if (t->Enabled() && t->Count() > 0) {
            if (k != cur) OpenBarMenu(bar, static_cast<size_t>(k), true);
            break;
          }
        }
        return true;
      }
      case VK_RETURN: {
        if (gDrop.hot < 0 || gDrop.hot >= n) return true;
        TMenuItem* it = items[static_cast<size_t>(gDrop.hot)];
        if (!Choosable(it)) return true;
        CloseDropDown();
        it->Click();  // may free the form: nothing touches it afterwards
        return true;
      }
      default: break;
    }
  }
  if (!bar || !bar->Menu()) return false;
  auto titles = VisibleItems(bar->Menu()->Items());
  if (vk == VK_F1 + 9 && !alt) {
    for (size_t k = 0; k < titles.size(); ++k)
      if (titles[k]->Enabled() && titles[k]->Count() > 0) {
        OpenBarMenu(bar, k, true);
        return true;
      }
    return false;
  }
  if (!alt || vk == 0 || vk == VK_MENU) return false;
  for (size_t k = 0; k < titles.size(); ++k) {
    TMenuItem* t = titles[k];
    if (AccelOf(t->Caption()) != vk || !t->Enabled()) continue;
    if (t->Count() == 0) {
      CloseDropDown();
      t->Click();
    } else if (!(gDrop.owner == bar && gDrop.root == t)) {
      OpenBarMenu(bar, k, true);
    }
    return true;
  }
  return false;
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

// The icon of a message box: a 32 x 32 picture in its bounds.
class TDialogIconControl : public TGraphicControl {
public:
  TDialogIconControl(TComponent* AOwner, TDialogIcon Icon) : TGraphicControl(AOwner), FIcon(Icon) {}
  TDialogIcon Icon() const { return FIcon; }

private:
  TDialogIcon FIcon;
};

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
    r.left += 1; r.top += 1; r.right -= 1; r.bottom -= 1;
  }
  RECT e = r;
  if (st.pressed) {
    FrameRect(dc, &e, GetSysColorBrush(COLOR_BTNSHADOW));
  } else {
    DrawEdge(dc, &e, EDGE_RAISED, BF_RECT);
  }
  RECT tr = r;
  if (st.pressed) {
    tr.left += 1; tr.top += 1; tr.right += 1; tr.bottom += 1;
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
  RECT tr = boxLeft ? RECT{box + 4, r.top, r.right, r.bottom} : RECT{r.left, r.top, bx - 4, r.bottom};
  Text(dc, c->Caption(), tr, DT_SINGLELINE | DT_VCENTER | (boxLeft ? DT_LEFT : DT_RIGHT),
       GetSysColor(c->Enabled() ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  if (HasFocus(c)) {
    RECT cr{0, 0, 0, 0};
    DrawText(dc, c->Caption(), &cr, DT_CALCRECT | DT_SINGLELINE);
    int th = cr.bottom;
    int ty = (r.bottom - th) / 2;
    DottedRect(dc, RECT{tr.left - 1, ty - 1, std::min(tr.right, tr.left + cr.right + 1), ty + th + 1});
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

int MemoVisibleLines(TCustomMemo* m, int lh) {
  return std::max(1, (m->Height() - 4) / lh);
}

// A vertical scroll bar: an arrow button at each end (as tall as the bar is
// wide) and the track between them with its thumb. The arrows grey out while
// there is nothing to scroll.
void PaintScrollBar(HDC dc, RECT r, int first, int visible, int total) {
  Fill(dc, r, COLOR_SCROLLBAR);
  const int side = std::min<int>(r.right - r.left, (r.bottom - r.top) / 2);
  const bool scrolls = total > visible && total > 0;
  const COLORREF arrow = GetSysColor(scrolls ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
  for (int k = 0; k < 2; ++k) {
    RECT b = k == 0 ? RECT{r.left, r.top, r.right, r.top + side} : RECT{r.left, r.bottom - side, r.right, r.bottom};
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
    int right = v->ViewStyle() == vsReport && ncol > 0 ? (v->RowSelect() ? xs.back() : xs[1])
                                                       : edge.right;
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
      Text(dc, s, tr, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX | ColumnFormat(v, c),
           GetSysColor(hl ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    }
    if (v->GridLines()) Line(dc, edge.left, y + lh - 1, xs.back(), y + lh - 1, GetSysColor(COLOR_BTNFACE));
  }
  if (v->GridLines() && v->ViewStyle() == vsReport) {
    int bottom = std::min<int>(edge.bottom, top + (count - st.topLine) * lh);
    for (size_t c = 1; c < xs.size(); ++c) Line(dc, xs[c] - 1, top, xs[c] - 1, bottom, GetSysColor(COLOR_BTNFACE));
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
    if (active) { t.top -= 2; t.left -= 2; t.right += 2; t.bottom += 1; }
    Fill(dc, t, COLOR_BTNFACE);
    RECT e = t;
    DrawEdge(dc, &e, EDGE_RAISED, BF_LEFT | BF_TOP | BF_RIGHT);
    Text(dc, sheet->Caption(), t, DT_SINGLELINE | DT_VCENTER | DT_CENTER, GetSysColor(COLOR_BTNTEXT));
    if (active && HasFocus(p)) DottedRect(dc, RECT{t.left + 3, t.top + 3, t.right - 3, t.bottom - 2});
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
      if (cut == bvRaised) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
      else if (cut == bvLowered) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
      else { r.left += 1; r.top += 1; r.right -= 1; r.bottom -= 1; }
    }
  };
  bevel(p->BevelOuter());
  r.left += p->BorderWidth(); r.top += p->BorderWidth();
  r.right -= p->BorderWidth(); r.bottom -= p->BorderWidth();
  bevel(p->BevelInner());
  uint32_t fmt = DT_SINGLELINE | DT_VCENTER;
  fmt |= p->Alignment() == taCenter ? DT_CENTER : p->Alignment() == taRightJustify ? DT_RIGHT : DT_LEFT;
  Text(dc, p->Caption(), r, fmt, GetSysColor(COLOR_BTNTEXT));
}

void PaintControl(TWinControl* c, UiState& st, HDC dc) {
  RECT r{0, 0, c->Width(), c->Height()};
  SelectObject(dc, GuiFont());
  if (auto* bar = dynamic_cast<TMenuBar*>(c)) PaintMenuBar(bar, dc, r);
  else if (auto* b = dynamic_cast<TButton*>(c)) PaintButton(b, st, dc, r);
  else if (auto* cb = dynamic_cast<TCheckBox*>(c)) PaintCheckBox(cb, dc, r);
  else if (auto* m = dynamic_cast<TCustomMemo*>(c)) PaintMemo(m, st, dc, r);
  else if (auto* e = dynamic_cast<TCustomEdit*>(c)) PaintEdit(e, st, dc, r);
  else if (auto* v = dynamic_cast<TListView*>(c)) PaintListView(v, st, dc, r);
  else if (auto* p = dynamic_cast<TPageControl*>(c)) PaintPageControl(p, dc, r);
  else if (auto* u = dynamic_cast<TUpDown*>(c)) PaintUpDown(u, st, dc, r);
  else if (auto* pn = dynamic_cast<TCustomPanel*>(c)) PaintPanel(pn, dc, r);
  else if (auto* f = dynamic_cast<TCustomForm*>(c)) FillColor(dc, r, f->Color());
  else Fill(dc, r, COLOR_BTNFACE);
  if (auto* cc = dynamic_cast<TCustomControl*>(c); cc && !dynamic_cast<TCustomPanel*>(c) &&
                                                   !dynamic_cast<TMenuBar*>(c) &&
                                                   !dynamic_cast<TListView*>(c)) {
    cc->Paint();
  }
  PaintGraphicChildren(c, dc);
  if (auto* form = dynamic_cast<TCustomForm*>(c); form && form->OnPaint) form->OnPaint(form);
}

// ---------------------------------------------------------------------------
// Keyboard

TButton* FindButton(TWinControl* root, bool wantDefault) {
  for (int i = 0; i < root->ControlCount(); ++i) {
    TControl* c = root->Controls(i);
    if (auto* b = dynamic_cast<TButton*>(c)) {
      if ((wantDefault ? b->Default() : b->Cancel()) && b->Visible() && b->Enabled()) return b;
    }
    if (auto* w = dynamic_cast<TWinControl*>(c); w && w->Visible()) {
      if (TButton* f = FindButton(w, wantDefault)) return f;
    }
  }
  return nullptr;
}

void CollectTabStops(TWinControl* parent, std::vector<TWinControl*>& out) {
  std::vector<std::pair<int, TWinControl*>> kids;
  int n = 0;
  for (int i = 0; i < parent->ControlCount(); ++i) {
    auto* w = dynamic_cast<TWinControl*>(parent->Controls(i));
    if (!w || !w->Visible() || !w->Enabled()) continue;
    int order = w->TabOrder() >= 0 ? w->TabOrder() : 1000000;
    kids.push_back({order * 1000 + n++, w});
  }
  std::stable_sort(kids.begin(), kids.end(), [](auto& a, auto& b) { return a.first < b.first; });
  for (auto& [o, w] : kids) {
    if (w->TabStop() && w->CanFocus() && !dynamic_cast<TMenuBar*>(w)) out.push_back(w);
    CollectTabStops(w, out);
  }
}

// Keys every control shares: Tab, Enter (default button), Escape (cancel
// button). True when the key was used.
bool FormKey(TWinControl* c, int vk) {
  TCustomForm* form = FormOf(c);
  if (!form) return false;
  if (vk == VK_ESCAPE && gDrop.hwnd) {
    CloseDropDown();
    return true;
  }
  if (vk == VK_TAB) {
    TWinControl* cur = dynamic_cast<TCustomForm*>(c) ? nullptr : c;
    if (TWinControl* next = FindNextTabStop(form, cur, !gShift)) next->SetFocus();
    return true;
  }
  if (vk == VK_RETURN) {
    if (auto* b = dynamic_cast<TButton*>(c)) {
      b->Click();
      return true;
    }
    if (auto* m = dynamic_cast<TCustomMemo*>(c); m && !m->ReadOnly()) return false;
    if (TButton* b = FindButton(form, true)) {
      b->Click();
      return true;
    }
    return false;
  }
  if (vk == VK_ESCAPE) {
    if (TButton* b = FindButton(form, false)) {
      b->Click();
      return true;
    }
  }
  return false;
}

void EditKey(TCustomEdit* e, UiState& st, int vk) {
  std::string t = e->Text();
  size_t caret = std::min(st.caret, t.size());
  switch (vk) {
    case VK_LEFT: caret = PrevChar(t, caret); break;
    case VK_RIGHT: caret = NextChar(t, caret); break;
    case VK_HOME: caret = 0; break;
    case VK_END: caret = t.size(); break;
    case VK_DELETE:
      if (!e->ReadOnly() && caret < t.size()) {
        t.erase(caret, NextChar(t, caret) - caret);
        st.caret = caret;
        e->SetText(t);
        e->Invalidate();
      }
      return;
    default: return;
  }
  st.caret = caret;
  e->Invalidate();
}

void EditChar(TCustomEdit* e, UiState& st, uint32_t ch) {
  if (e->ReadOnly()) return;
  std::string t = e->Text();
  size_t caret = std::min(st.caret, t.size());
  if (ch == 8) {
    if (caret == 0) return;
    size_t p = PrevChar(t, caret);
    t.erase(p, caret - p);
    caret = p;
  } else if (ch >= 32) {
    std::string s = Utf8(ch);
    if (e->MaxLength() > 0 && t.size() + s.size() > static_cast<size_t>(e->MaxLength())) return;
    t.insert(caret, s);
    caret += s.size();
  } else {
    return;
  }
  st.caret = caret;
  e->SetText(t);
  e->Invalidate();
}

void ScrollLines(TWinControl* c, UiState& st, int delta) {
  st.topLine = std::max(0, st.topLine + delta);
  c->Invalidate();
}

// ---------------------------------------------------------------------------
// Mouse

TShiftState ShiftOf(WPARAM w) {
  TShiftState s;
  auto k = static_cast<uint32_t>(w);
  if (k & MK_SHIFT) s.Include(ssShift);
  if (k & MK_CONTROL) s.Include(ssCtrl);
  if (k & MK_LBUTTON) s.Include(ssLeft);
  if (k & MK_RBUTTON) s.Include(ssRight);
  if (k & MK_MBUTTON) s.Include(ssMiddle);
  return s;
}

TControl* GraphicChildAt(TWinControl* c, int32_t x, int32_t y) {
  for (int i = c->ControlCount() - 1; i >= 0; --i) {
    TControl* g = c->Controls(i);
    if (dynamic_cast<TWinControl*>(g) || !g->Visible()) continue;
    if (x >= g->Left() && x < g->Left() + g->Width() && y >= g->Top() && y < g->Top() + g->Height())
      return g;
  }
  return nullptr;
}

int UpDownPart(TUpDown* u, int32_t x, int32_t y) {
  if (u->Orientation() == udHorizontal) return x >= u->Width() / 2 ? 1 : 2;
  return y < u->Height() / 2 ? 1 : 2;
}

void TakeFocus(TWinControl* c) {
  if (c->TabStop() && c->CanFocus() && !HasFocus(c)) c->SetFocus();
}

// Returns true when the message was used.
bool MouseMessage(TWinControl* c, UiState& st, TMessage& m) {
  int32_t x = LoX(m.LParam), y = HiY(m.LParam);
  TShiftState shift = ShiftOf(m.WParam);
  UINT msg = m.Msg;
  bool down = msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK;
  if ((down || msg == WM_RBUTTONDOWN) && gDrop.hwnd && !dynamic_cast<TMenuBar*>(c)) CloseDropDown();

  if (auto* bar = dynamic_cast<TMenuBar*>(c)) {
    if (down) MenuBarClick(bar, x, y);
    if (msg == WM_MOUSEMOVE) MenuBarHover(bar, x, y);
    return true;
  }
  bool isButton = dynamic_cast<TButton*>(c) || dynamic_cast<TCheckBox*>(c);
  auto* ud = dynamic_cast<TUpDown*>(c);
  if (isButton || ud) {
    bool inside = x >= 0 && y >= 0 && x < c->Width() && y < c->Height();
    if (down) {
      TakeFocus(c);
      SetCapture(c->Handle());
      st.pressed = true;
      if (ud) st.pressedPart = UpDownPart(ud, x, y);
      c->Invalidate();
      return true;
    }
    if (msg == WM_MOUSEMOVE && GetCapture() == c->Handle()) {
      bool now = inside && (!ud || UpDownPart(ud, x, y) == st.pressedPart);
      if (now != st.pressed) {
        st.pressed = now;
        c->Invalidate();
      }
      return true;
    }
    if (msg == WM_LBUTTONUP && GetCapture() == c->Handle()) {
      bool fire = st.pressed;
      int part = st.pressedPart;
      st.pressed = false;
      ReleaseCapture();
      c->Invalidate();
      if (!fire) return true;
      // The handler runs last: it may free the form.
      if (ud) ud->ClickButton(part == 1 ? btNext : btPrev);
      else if (auto* cb = dynamic_cast<TCheckBox*>(c)) cb->Toggle();
      else c->Click();
      return true;
    }
    return msg == WM_MOUSEMOVE || msg == WM_LBUTTONUP;
  }
  if (down) {
    TakeFocus(c);
    // The memo's scroll bar: its arrow buttons a line, the track above the
    // middle a page up, below it a page down.
    if (auto* memo = dynamic_cast<TCustomMemo*>(c);
        memo && (memo->ScrollBars() == ssVertical || memo->ScrollBars() == ssBoth) && x >= c->Width() - 18) {
      const int edge = memo->BorderStyle() != bsNone ? 2 : 0;
      const int side = std::min(16, (c->Height() - 2 * edge) / 2);
      int page = MemoVisibleLines(memo, ScreenLineHeight());
      if (y < edge + side) ScrollLines(c, st, -1);
      else if (y >= c->Height() - edge - side) ScrollLines(c, st, 1);
      else ScrollLines(c, st, y < c->Height() / 2 ? -page : page);
      return true;
    }
    if (auto* e = dynamic_cast<TCustomEdit*>(c); e && !dynamic_cast<TCustomMemo*>(c)) {
      HDC dc = GetDC(0);
      HGDIOBJ old = SelectObject(dc, GuiFont());
      std::string t = e->Text();
      size_t pos = 0;
      while (pos < t.size() && TextWidth(dc, t.substr(0, NextChar(t, pos))) + 4 <= x) pos = NextChar(t, pos);
      SelectObject(dc, old);
      ReleaseDC(0, dc);
      st.caret = pos;
      e->Invalidate();
    }
    if (auto* v = dynamic_cast<TListView*>(c)) {
      int lh = ScreenLineHeight();
      int top = 2 + (v->ViewStyle() == vsReport ? ListHeaderHeight(lh) : 0);
      if (y >= top) {
        int row = (y - top) / lh + st.topLine;
        if (row >= 0 && row < v->Items()->Count()) v->SetSelected(v->Items()->Item(row));
      }
    }
    if (auto* p = dynamic_cast<TPageControl*>(c)) {
      HDC dc = GetDC(0);
      HGDIOBJ old = SelectObject(dc, GuiFont());
      auto tabs = TabRects(p, dc);
      SelectObject(dc, old);
      ReleaseDC(0, dc);
      for (auto& [sheet, r] : tabs) {
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) {
          p->ChangeActivePage(sheet);
          break;
        }
      }
    }
  }
  if (msg == WM_MOUSEWHEEL) {
    int notches = static_cast<int16_t>((static_cast<uint32_t>(m.WParam) >> 16) & 0xFFFF) / WHEEL_DELTA;
    if (dynamic_cast<TCustomMemo*>(c) || dynamic_cast<TListView*>(c)) ScrollLines(c, st, -3 * notches);
    return true;
  }
  // Plain mouse events of the control, or of the label under the point.
  TControl* target = c;
  int32_t tx = x, ty = y;
  if (TControl* g = GraphicChildAt(c, x, y)) {
    target = g;
    tx -= g->Left();
    ty -= g->Top();
  }
  switch (msg) {
    case WM_LBUTTONDOWN: target->MouseDown(mbLeft, shift, tx, ty); break;
    case WM_LBUTTONDBLCLK:
      target->MouseDown(mbLeft, shift + TShiftState{ssDouble}, tx, ty);
      target->DblClick();
      break;
    case WM_RBUTTONDOWN: target->MouseDown(mbRight, shift, tx, ty); break;
    case WM_MOUSEMOVE: target->MouseMove(shift, tx, ty); break;
    case WM_RBUTTONUP: {
      target->MouseUp(mbRight, shift, tx, ty);
      if (TPopupMenu* pm = target->PopupMenu(); pm && pm->AutoPopup()) {
        TPoint sp = target->ClientToScreen(Point(tx, ty));
        RECT fr;
        TCustomForm* form = FormOf(target);
        if (form && form->HandleAllocated() && GetWindowRect(form->Handle(), &fr)) {
          sp = Point(sp.X - form->Left() + fr.left, sp.Y - form->Top() + fr.top);
        }
        pm->SetPopupComponent(target);
        pm->Popup(sp.X, sp.Y);
        OpenDropDown(target, pm->Items(), sp.X, sp.Y);
      }
      break;
    }
    case WM_LBUTTONUP:
      target->MouseUp(mbLeft, shift, tx, ty);
      if (target->ControlStyle().Contains(csClickEvents) && !dynamic_cast<TCustomEdit*>(target) &&
          !dynamic_cast<TListView*>(target) && !dynamic_cast<TPageControl*>(target)) {
        target->Click();  // last: may free the form
      }
      break;
    default: return false;
  }
  return true;
}

void EnsureChildWindowsOf(TWinControl* c);

// ---------------------------------------------------------------------------
// Handlers

void Install(TWinControl* c) {
  auto st = std::make_shared<UiState>();
  c->SetMessageHandler(WM_ERASEBKGND, [](TMessage& m) { m.Result = 1; });
  c->SetMessageHandler(WM_PAINT, [c, st](TMessage& m) {
    PAINTSTRUCT ps;
    HWND h = c->Handle();
    HDC dc = BeginPaint(h, &ps);
    if (dc) {
      PaintControl(c, *st, dc);
      EndPaint(h, &ps);
    }
    c->ValidatePaint();
    m.Result = 0;
  });
  auto focusChange = [c](TMessage& m) {
    c->Invalidate();
    c->DefaultHandler(m);
  };
  c->SetMessageHandler(WM_SETFOCUS, [c, focusChange](TMessage& m) {
    // A form passes the keyboard on to its active control (or first tab stop).
    if (auto* form = dynamic_cast<TCustomForm*>(c)) {
      TWinControl* target = form->ActiveControl();
      if (!target || !target->CanFocus() || !target->Showing()) target = FindNextTabStop(form, nullptr, true);
      if (target && target != c && target->CanFocus()) {
        target->SetFocus();
        return;
      }
    }
    focusChange(m);
  });
  c->SetMessageHandler(WM_KILLFOCUS, focusChange);
  c->SetMessageHandler(WM_SHOWWINDOW, [c, st](TMessage& m) {
    auto* self = dynamic_cast<TCustomForm*>(c);
    if (m.WParam != 0 && self && self->Modal()) {
      // A modal form keeps the other forms from input while it shows.
      for (int i = 0; Screen && i < Screen->FormCount(); ++i) {
        TCustomForm* f = Screen->Forms(i);
        if (f == self || !f->HandleAllocated() || !IsWindowEnabled(f->Handle())) continue;
        EnableWindow(f->Handle(), false);
        st->disabled.push_back(f->Handle());
      }
    } else if (m.WParam == 0 && !st->disabled.empty()) {
      for (HWND h : st->disabled) EnableWindow(h, true);
      st->disabled.clear();
    }
    if (m.WParam != 0) {
      EnsureChildWindowsOf(c);
      if (auto* form = self) {
        if (TMainMenu* menu = FormMainMenu(form); menu && !MenuBarOf(form)) {
          new TMenuBar(form, menu);  // a child of the form, freed with it
        }
      }
    } else if (gDrop.hwnd && gDrop.owner && FormOf(gDrop.owner) == c) {
      CloseDropDown();
    }
    c->DefaultHandler(m);
  });
  auto mouse = [c, st](TMessage& m) {
    if (!c->Enabled()) return;
    if (!MouseMessage(c, *st, m)) c->DefaultHandler(m);
  };
  for (UINT msg : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_RBUTTONUP,
                   WM_MOUSEMOVE, WM_MOUSEWHEEL}) {
    c->SetMessageHandler(msg, mouse);
  }
  c->SetMessageHandler(WM_KEYDOWN, [c, st](TMessage& m) {
    int vk = m.WParam;
    if (vk == VK_SHIFT) gShift = true;
    if (MenuKey(c, vk, false)) return;
    if (FormKey(c, vk)) return;
    if (auto* memo = dynamic_cast<TCustomMemo*>(c)) {
      int page = MemoVisibleLines(memo, ScreenLineHeight());
      if (vk == VK_UP) ScrollLines(c, *st, -1);
      if (vk == VK_DOWN) ScrollLines(c, *st, 1);
      if (vk == VK_PRIOR) ScrollLines(c, *st, -page);
      if (vk == VK_NEXT) ScrollLines(c, *st, page);
      return;
    }
    if (auto* e = dynamic_cast<TCustomEdit*>(c)) {
      EditKey(e, *st, vk);
      return;
    }
    if (auto* u = dynamic_cast<TUpDown*>(c); u && u->ArrowKeys()) {
      if (vk == VK_UP || vk == VK_RIGHT) u->ClickButton(btNext);
      if (vk == VK_DOWN || vk == VK_LEFT) u->ClickButton(btPrev);
      return;
    }
    if (auto* p = dynamic_cast<TPageControl*>(c)) {
      if (vk == VK_RIGHT) p->SelectNextPage(true);
      if (vk == VK_LEFT) p->SelectNextPage(false);
      return;
    }
    if (auto* v = dynamic_cast<TListView*>(c); v && v->Items()->Count() > 0) {
      int cur = v->Selected() ? v->Selected()->Index() : -1;
      int next = cur;
      if (vk == VK_DOWN) next = std::min(cur + 1, v->Items()->Count() - 1);
      if (vk == VK_UP) next = std::max(cur - 1, 0);
      if (next != cur && next >= 0) v->SetSelected(v->Items()->Item(next));
      return;
    }
    c->DefaultHandler(m);
  });
  c->SetMessageHandler(WM_SYSKEYDOWN, [c](TMessage& m) {
    if (!MenuKey(c, static_cast<int>(m.WParam), true)) c->DefaultHandler(m);
  });
  c->SetMessageHandler(WM_KEYUP, [c](TMessage& m) {
    if (m.WParam == VK_SHIFT) gShift = false;
    c->DefaultHandler(m);
  });
  c->SetMessageHandler(WM_CHAR, [c, st](TMessage& m) {
    auto ch = static_cast<uint32_t>(m.WParam);
    if (auto* e = dynamic_cast<TCustomEdit*>(c); e && !dynamic_cast<TCustomMemo*>(c)) {
      EditChar(e, *st, ch);
      return;
    }
    if (ch == ' ') {
      if (auto* cb = dynamic_cast<TCheckBox*>(c)) {
        cb->Toggle();
        return;
      }
      if (auto* b = dynamic_cast<TButton*>(c)) {
        b->Click();
        return;
      }
    }
    c->DefaultHandler(m);
  });
}

}  // namespace

// The pages fill the page control inside its frame, below the row of tabs.
TRect TPageControl::ClientRect() const {
  int th = TabHeight(ScreenLineHeight()) + 2;
  TRect r = Rect(4, th + 2, Width() - 4, Height() - 4);
  if (r.Right < r.Left) r.Right = r.Left;
  if (r.Bottom < r.Top) r.Bottom = r.Top;
  return r;
}

// Windowed controls placed on a control with a window get theirs at once, so
// that they show and take input (parents first).
void EnsureChildWindows(TWinControl* Parent) {
  if (!Parent->HandleAllocated() || Parent->ComponentState().Contains(csDestroying)) return;
  for (int i = 0; i < Parent->ControlCount(); ++i) {
    auto* w = dynamic_cast<TWinControl*>(Parent->Controls(i));
    if (!w || w->ComponentState().Contains(csDestroying)) continue;
    if (!w->HandleAllocated()) {
      w->HandleNeeded();
      EnsureChildWindows(w);
    }
  }
}

namespace {
void EnsureChildWindowsOf(TWinControl* c) { EnsureChildWindows(c); }
}  // namespace

bool InitApplicationDisplay() {
  bool x11 = InitDisplay();
  gActive = true;
  SetDisplayAvailable(x11, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  // Controls made before the display opened get their handlers now.
  for (int i = 0; Screen && i < Screen->FormCount(); ++i) {
    std::vector<TWinControl*> todo{Screen->Forms(i)};
    while (!todo.empty()) {
      TWinControl* w = todo.back();
      todo.pop_back();
      if (w->HandleAllocated()) {
        Install(w);
        EnsureChildWindows(w);
        w->Invalidate();
      }
      for (int k = 0; k < w->ControlCount(); ++k) {
        if (auto* cw = dynamic_cast<TWinControl*>(w->Controls(k))) todo.push_back(cw);
      }
    }
  }
  return x11;
}

namespace {
// Painting through the display lasts as long as the session the display was
// opened in; the next session starts without one until it opens its own.
const bool gControlPaintEndsWithSession = [] {
  plat::AtSessionEnd([] {
    gActive = false;
    SetDisplayAvailable(false, 0, 0);
  });
  return true;
}();
}  // namespace

bool ControlPaintActive() { return gActive; }

void ControlWindowCreated(TWinControl* Control) {
  if (!gActive || !Control) return;
  Install(Control);
}

void ControlInvalidated(TControl* Control) {
  if (!gActive || !Control) return;
  if (auto* w = dynamic_cast<TWinControl*>(Control)) {
    if (w->HandleAllocated()) {
      EnsureChildWindows(w);
      InvalidateRect(w->Handle(), nullptr, true);
    }
    return;
  }
  TWinControl* p = Control->Parent();
  if (p && p->HandleAllocated()) {
    RECT r = ToRect(Control->BoundsRect());
    InvalidateRect(p->Handle(), &r, true);
  }
}

void ControlFocused(TWinControl* Control) {
  if (!gActive || !Control) return;
  HWND h = Control->Handle();
  if (GetFocus() != h) SetFocus(h);
}

TWinControl* FindNextTabStop(TCustomForm* Form, TWinControl* Current, bool GoForward) {
  if (!Form) return nullptr;
  std::vector<TWinControl*> stops;
  CollectTabStops(Form, stops);
  if (stops.empty()) return nullptr;
  auto it = std::find(stops.begin(), stops.end(), Current);
  if (it == stops.end()) return GoForward ? stops.front() : stops.back();
  size_t i = static_cast<size_t>(it - stops.begin());
  size_t n = stops.size();
  return stops[GoForward ? (i + 1) % n : (i + n - 1) % n];
}

TMainMenu* FormMainMenu(TCustomForm* Form) {
  if (!Form) return nullptr;
  for (int i = 0; i < Form->ComponentCount(); ++i) {
    if (auto* m = dynamic_cast<TMainMenu*>(Form->Components(i))) return m;
  }
  return nullptr;
}

bool ClickMenuPath(TMainMenu* Menu, const std::vector<std::string>& Path) {
  if (!Menu || Path.empty()) return false;
  TMenuItem* item = Menu->Items();
  for (const std::string& caption : Path) {
    item = item->Find(caption);
    if (!item || !item->Enabled() || !item->Visible()) return false;
  }
  item->Click();
  return true;
}

int DisplayMessageBox(const std::string& Text, const std::string& Caption, UINT Flags) {
  std::vector<std::pair<int, std::string>> buttons;
  switch (Flags & 0xF) {
    case MB_OKCANCEL: buttons = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}}; break;
    case MB_ABORTRETRYIGNORE: buttons = {{IDABORT, "&Abort"}, {IDRETRY, "&Retry"}, {IDIGNORE, "&Ignore"}}; break;
    case MB_YESNOCANCEL: buttons = {{IDYES, "&Yes"}, {IDNO, "&No"}, {IDCANCEL, "Cancel"}}; break;
    case MB_YESNO: buttons = {{IDYES, "&Yes"}, {IDNO, "&No"}}; break;
    case MB_RETRYCANCEL: buttons = {{IDRETRY, "&Retry"}, {IDCANCEL, "Cancel"}}; break;
    default: buttons = {{IDOK, "OK"}}; break;
  }
  size_t def = (Flags >> 8) & 0xF;
  if (def >= buttons.size()) def = 0;
  // Closing the box with its close box answers Cancel where there is one.
  int cancel = buttons.size() == 1 ? IDOK : (Flags & 0xF) == MB_YESNO ? IDNO : IDCANCEL;
  TDialogIcon icon = diNone;
  switch (Flags & 0xF0) {
    case MB_ICONHAND: icon = diError; break;
    case MB_ICONQUESTION: icon = diQuestion; break;
    case MB_ICONEXCLAMATION: icon = diWarning; break;
    case MB_ICONASTERISK: icon = diInformation; break;
    default: break;
  }
  return DisplayDialog(Text, Caption, buttons, def, cancel, icon);
}

int DisplayDialog(const std::string& Text, const std::string& Caption,
                  const std::vector<std::pair<int, std::string>>& Buttons, size_t Default,
                  int CancelAnswer, TDialogIcon Icon) {
  if (Buttons.empty()) return CancelAnswer;
  if (Default >= Buttons.size()) Default = 0;
  TForm* form = CreateFormOf<TForm>(nullptr);
  form->SetCaption(Caption);
  form->SetBorderStyle(bsDialog);
  form->SetPosition(poScreenCenter);
  // The icon stands at the top left; the text begins right of it.
  const int iconSize = 32, textLeft = Icon == diNone ? 24 : 16 + iconSize + 12;
  // Each line of the text keeps to one line of the box as far as the screen
  // allows (its own line breaks say where the lines end); only a line wider
  // than that wraps.
  HDC dc = GetDC(0);
  HGDIOBJ old = SelectObject(dc, GuiFont());
  RECT tr{0, 0, 0, 0};
  DrawText(dc, Text, &tr, DT_CALCRECT | DT_NOPREFIX);
  const int widest = std::max(400, GetSystemMetrics(SM_CXSCREEN) - textLeft - 24 - 40);
  if (tr.right > widest) {
    tr = RECT{0, 0, widest, 0};
    DrawText(dc, Text, &tr, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  }
  SelectObject(dc, old);
  ReleaseDC(0, dc);
  int bw = 75, bh = 25, gap = 8;
  int rowW = static_cast<int>(Buttons.size()) * (bw + gap) - gap;
  int w = std::max<int>(textLeft + tr.right, rowW + 24) + 24;
  int h = std::max<int>(tr.bottom, Icon == diNone ? 0 : iconSize) + bh + 56;
  form->SetBounds(0, 0, w, h);
  if (Icon != diNone) {
    auto* icon = new TDialogIconControl(form, Icon);
    icon->SetParent(form);
    icon->SetBounds(16, 16, iconSize, iconSize);
  }
  auto* label = new TLabel(form);
  label->SetParent(form);
  label->SetWordWrap(true);
  label->SetShowAccelChar(false);
  label->SetBounds(textLeft, 16, tr.right, tr.bottom);
  label->SetCaption(Text);
  int x = (w - rowW) / 2;
  for (size_t i = 0; i < Buttons.size(); ++i) {
    auto* b = new TButton(form);
    b->SetParent(form);
    b->SetBounds(x, h - bh - 16, bw, bh);
    b->SetCaption(Buttons[i].second);
    b->SetModalResult(Buttons[i].first);
    b->SetDefault(i == Default);
    b->SetCancel(Buttons[i].first == CancelAnswer);
    if (i == Default) form->SetActiveControl(b);
    x += bw + gap;
  }
  int result = form->ShowModal();
  Free(form);
  bool known = false;
  for (auto& b : Buttons) known = known || b.first == result;
  return known ? result : CancelAnswer;
}

}  // namespace fw
