// The menu bar of a form, its drop-down menus and the keys that work them.
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
#include "framework/FrameworkState.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"

namespace fw {

using namespace plat;

namespace paint {

// ---------------------------------------------------------------------------
// Drop-down menus: one open at a time, a borderless top-level window.

namespace {
DropDown& Drop() { return St().drop; }
}  // namespace

bool DropDownShown() { return Drop().hwnd != 0; }

bool DropDownShownIn(TControl* form) {
  return Drop().hwnd && Drop().owner && FormOf(Drop().owner) == form;
}

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
  HWND h = Drop().hwnd;
  TControl* owner = Drop().owner;
  Drop() = DropDown{};
  if (h) DestroyWindow(h);
  if (owner) owner->Invalidate();
}

int DropItemAt(int y) {
  int lh = ScreenLineHeight();
  int top = 2;
  auto items = VisibleItems(Drop().root);
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
  auto items = VisibleItems(Drop().root);
  for (size_t i = 0; i < items.size(); ++i) {
    TMenuItem* it = items[i];
    int h = DropItemHeight(it, lh);
    RECT r{2, top, cr.right - 2, top + h};
    if (it->IsLine()) {
      Line(dc, r.left + 1, top + 3, r.right - 1, top + 3, GetSysColor(COLOR_BTNSHADOW));
      Line(dc, r.left + 1, top + 4, r.right - 1, top + 4, GetSysColor(COLOR_BTNHIGHLIGHT));
    } else {
      bool hot = static_cast<int>(i) == Drop().hot && it->Enabled();
      if (hot) Fill(dc, r, COLOR_HIGHLIGHT);
      COLORREF col = !it->Enabled() ? GetSysColor(COLOR_GRAYTEXT)
                     : hot          ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                    : GetSysColor(COLOR_MENUTEXT);
      RECT tr{r.left + 18, r.top, r.right - 8, r.bottom};
      Text(dc, it->Caption(), tr, DT_SINGLELINE | DT_VCENTER | DT_LEFT, col);
      if (it->Checked())
        Text(dc, "\xE2\x9C\x93", RECT{r.left + 4, r.top, r.left + 18, r.bottom},
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
      if (hwnd == Drop().hwnd) CloseDropDown();
      return 0;
    case WM_MOUSEMOVE: {
      int i = DropItemAt(HiY(lParam));
      if (i != Drop().hot) {
        Drop().hot = i;
        InvalidateRect(hwnd, nullptr, false);
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      int i = DropItemAt(HiY(lParam));
      auto items = VisibleItems(Drop().root);
      if (i < 0 || static_cast<size_t>(i) >= items.size()) return 0;
      TMenuItem* it = items[static_cast<size_t>(i)];
      if (it->IsLine() || !it->Enabled()) return 0;
      CloseDropDown();
      it->Click();  // may free the form: nothing touches it afterwards
      return 0;
    }
    default: return HiddenWindowProc(hwnd, msg, wParam, lParam);
  }
}

void OpenDropDown(TControl* owner, TMenuItem* root, int32_t screenX, int32_t screenY) {
  CloseDropDown();
  auto items = VisibleItems(root);
  if (items.empty()) return;
  EnsureWindowClass("VexaMenuDropDown", DropDownProc);
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
  Drop().root = root;
  Drop().owner = owner;
  Drop().hwnd = CreateWindowEx(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, "VexaMenuDropDown", "",
                               WS_POPUP, screenX, screenY, w, h, 0, 0);
  if (Drop().hwnd) ShowWindow(Drop().hwnd, SW_SHOWNA);
}

// ---------------------------------------------------------------------------
// The menu bar: a control along the top of a form with a main menu.

TMenuBar::TMenuBar(TCustomForm* Form, TMainMenu* Menu) : TCustomControl(nullptr), FMenu(Menu) {
  St().menuBars.push_back(this);
  Menu->FreeNotification(this);
  SetHeight(ScreenLineHeight() + 6);
  SetParent(Form);
  SetAlign(alTop);
}

TMenuBar::~TMenuBar() {
  std::erase(St().menuBars, this);
  if (Drop().owner == this) CloseDropDown();
}

std::vector<RECT> TMenuBar::ItemRects() {
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

void TMenuBar::Notification(TComponent* AComponent, TOperation Operation) {
  TCustomControl::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == static_cast<TComponent*>(FMenu)) {
    FMenu = nullptr;
    if (Drop().owner == this) CloseDropDown();
  }
}

TMenuBar* MenuBarOf(TCustomForm* form) {
  for (TMenuBar* b : St().menuBars) {
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
    bool open = Drop().owner == bar && Drop().root == items[i];
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
  if (keyboard && Drop().root == it) {
    auto sub = VisibleItems(it);
    for (size_t k = 0; k < sub.size(); ++k)
      if (Choosable(sub[k])) {
        Drop().hot = static_cast<int>(k);
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
  if (Drop().owner == bar && Drop().root == it) {
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
  if (!bar->Menu() || Drop().owner != bar || !Drop().hwnd) return;
  auto items = VisibleItems(bar->Menu()->Items());
  int i = BarItemAt(bar, x, y);
  if (i < 0 || static_cast<size_t>(i) >= items.size()) return;
  TMenuItem* it = items[static_cast<size_t>(i)];
  if (it == Drop().root || !it->Enabled() || it->Count() == 0) return;
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
  if (Drop().hwnd && Drop().owner && FormOf(Drop().owner) == form) {
    auto items = VisibleItems(Drop().root);
    const int n = static_cast<int>(items.size());
    switch (vk) {
      case VK_ESCAPE: CloseDropDown(); return true;
      case VK_UP:
      case VK_DOWN: {
        const int step = vk == VK_DOWN ? 1 : -1;
        int k = Drop().hot;
        for (int tries = 0; tries < n; ++tries) {
          k = k < 0 ? (step > 0 ? 0 : n - 1) : (k + step + n) % n;
          if (Choosable(items[static_cast<size_t>(k)])) {
            Drop().hot = k;
            InvalidateRect(Drop().hwnd, nullptr, false);
            break;
          }
        }
        return true;
      }
      case VK_LEFT:
      case VK_RIGHT: {
        if (Drop().owner != bar || !bar->Menu()) return true;
        auto titles = VisibleItems(bar->Menu()->Items());
        const int m = static_cast<int>(titles.size());
        int cur =
            static_cast<int>(std::find(titles.begin(), titles.end(), Drop().root) - titles.begin());
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
        if (Drop().hot < 0 || Drop().hot >= n) return true;
        TMenuItem* it = items[static_cast<size_t>(Drop().hot)];
        if (!Choosable(it)) return true;
        CloseDropDown();
        it->Click();  // may free the form: nothing touches it afterwards
        return true;
      }
      default:
        // A letter chooses the item that underlines it; other plain letters
        // stay with the open menu rather than reach the control below it,
        // while Alt with one may still open another menu of the bar.
        if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) {
          for (TMenuItem* it : items) {
            if (!Choosable(it) || AccelOf(it->Caption()) != vk) continue;
            CloseDropDown();
            it->Click();  // may free the form
            return true;
          }
          if (!alt) return true;
        }
        break;
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
    } else if (!(Drop().owner == bar && Drop().root == t)) {
      OpenBarMenu(bar, k, true);
    }
    return true;
  }
  return false;
}

}  // namespace paint

}  // namespace fw
