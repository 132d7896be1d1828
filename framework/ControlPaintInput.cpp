// Keyboard and mouse input of the controls drawn through the display.
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

namespace {

bool LetterOrDigit(int vk) { return (vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9'); }

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
// Keyboard

// The first visible, enabled control of class T on root (or below) that matches.
template <class T>
T* FindControl(TWinControl* root, const std::function<bool(T*)>& match) {
  for (int i = 0; i < root->ControlCount(); ++i) {
    TControl* c = root->Controls(i);
    if (auto* t = dynamic_cast<T*>(c); t && t->Visible() && t->Enabled() && match(t)) return t;
    if (auto* w = dynamic_cast<TWinControl*>(c); w && w->Visible()) {
      if (T* f = FindControl<T>(w, match)) return f;
    }
  }
  return nullptr;
}

TButton* FindButton(TWinControl* root, bool wantDefault) {
  return FindControl<TButton>(
      root, [wantDefault](TButton* b) { return wantDefault ? b->Default() : b->Cancel(); });
}

// The arrows an edit is bound to (its up-down's Associate), null for none.
TUpDown* UpDownOf(TCustomEdit* e) {
  TCustomForm* form = FormOf(e);
  return form ? FindControl<TUpDown>(form, [e](TUpDown* u) { return u->Associate() == e; })
              : nullptr;
}

// Up and Down (Right and Left on the arrows themselves) step an up-down's
// value as its arrows do, Page Up and Page Down ten steps; true when the key
// was one of them.
bool UpDownKey(TUpDown* u, int vk, bool sideways) {
  const bool next = vk == VK_UP || vk == VK_PRIOR || (sideways && vk == VK_RIGHT);
  const bool prev = vk == VK_DOWN || vk == VK_NEXT || (sideways && vk == VK_LEFT);
  if (!u->ArrowKeys() || (!next && !prev)) return false;
  const int steps = vk == VK_PRIOR || vk == VK_NEXT ? 10 : 1;
  for (int i = 0; i < steps; ++i) u->ClickButton(next ? btNext : btPrev);
  return true;
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
  if (vk == VK_ESCAPE && DropDownShown()) {
    CloseDropDown();
    return true;
  }
  if (vk == VK_TAB) {
    TWinControl* cur = dynamic_cast<TCustomForm*>(c) ? nullptr : c;
    if (TWinControl* next = FindNextTabStop(form, cur, !St().shift)) next->SetFocus();
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

}  // namespace

bool MouseMessage(TWinControl* c, UiState& st, TMessage& m) {
  int32_t x = LoX(m.LParam), y = HiY(m.LParam);
  TShiftState shift = ShiftOf(m.WParam);
  UINT msg = m.Msg;
  bool down = msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK;
  if ((down || msg == WM_RBUTTONDOWN) && DropDownShown() && !dynamic_cast<TMenuBar*>(c))
    CloseDropDown();

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
      if (ud)
        ud->ClickButton(part == 1 ? btNext : btPrev);
      else if (auto* cb = dynamic_cast<TCheckBox*>(c))
        cb->Toggle();
      else
        c->Click();
      return true;
    }
    return msg == WM_MOUSEMOVE || msg == WM_LBUTTONUP;
  }
  if (down) {
    TakeFocus(c);
    // The memo's scroll bar: its arrow buttons a line, the track above the
    // middle a page up, below it a page down.
    if (auto* memo = dynamic_cast<TCustomMemo*>(c);
        memo && (memo->ScrollBars() == ssVertical || memo->ScrollBars() == ssBoth) &&
        x >= c->Width() - 18) {
      const int edge = memo->BorderStyle() != bsNone ? 2 : 0;
      const int side = std::min(16, (c->Height() - 2 * edge) / 2);
      int page = MemoVisibleLines(memo, ScreenLineHeight());
      if (y < edge + side)
        ScrollLines(c, st, -1);
      else if (y >= c->Height() - edge - side)
        ScrollLines(c, st, 1);
      else
        ScrollLines(c, st, y < c->Height() / 2 ? -page : page);
      return true;
    }
    if (auto* e = dynamic_cast<TCustomEdit*>(c); e && !dynamic_cast<TCustomMemo*>(c)) {
      HDC dc = GetDC(0);
      HGDIOBJ old = SelectObject(dc, GuiFont());
      std::string t = e->Text();
      size_t pos = 0;
      while (pos < t.size() && TextWidth(dc, t.substr(0, NextChar(t, pos))) + 4 <= x)
        pos = NextChar(t, pos);
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
    int notches =
        static_cast<int16_t>((static_cast<uint32_t>(m.WParam) >> 16) & 0xFFFF) / WHEEL_DELTA;
    if (dynamic_cast<TCustomMemo*>(c) || dynamic_cast<TListView*>(c))
      ScrollLines(c, st, -3 * notches);
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

void KeyDown(TWinControl* c, UiState& st, TMessage& m) {
  int vk = m.WParam;
  if (vk == VK_SHIFT) St().shift = true;
  St().chosenByKey = 0;
  if (MenuKey(c, vk, false) || ButtonKey(c, vk, false)) {
    if (LetterOrDigit(vk)) St().chosenByKey = vk;
    return;
  }
  if (FormKey(c, vk)) return;
  if (auto* memo = dynamic_cast<TCustomMemo*>(c)) {
    int page = MemoVisibleLines(memo, ScreenLineHeight());
    if (vk == VK_UP) ScrollLines(c, st, -1);
    if (vk == VK_DOWN) ScrollLines(c, st, 1);
    if (vk == VK_PRIOR) ScrollLines(c, st, -page);
    if (vk == VK_NEXT) ScrollLines(c, st, page);
    return;
  }
  if (auto* e = dynamic_cast<TCustomEdit*>(c)) {
    // The edit of an up-down steps its value; Left and Right stay the caret's.
    TUpDown* u = UpDownOf(e);
    if (!u || !UpDownKey(u, vk, false)) EditKey(e, st, vk);
    return;
  }
  if (auto* u = dynamic_cast<TUpDown*>(c); u && UpDownKey(u, vk, true)) return;
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
}

void KeyUp(TWinControl* c, TMessage& m) {
  if (m.WParam == VK_SHIFT) St().shift = false;
  c->DefaultHandler(m);
}

void CharMessage(TWinControl* c, UiState& st, TMessage& m) {
  auto ch = static_cast<uint32_t>(m.WParam);
  int& chosen = St().chosenByKey;
  if (chosen != 0 && ch < 0x80 && std::toupper(static_cast<int>(ch)) == chosen) {
    chosen = 0;
    return;
  }
  if (auto* e = dynamic_cast<TCustomEdit*>(c); e && !dynamic_cast<TCustomMemo*>(c)) {
    EditChar(e, st, ch);
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
}

bool ButtonKey(TWinControl* c, int vk, bool alt) {
  // Without Alt an edit takes the letter as text.
  if (!LetterOrDigit(vk) || (!alt && dynamic_cast<TCustomEdit*>(c))) return false;
  TCustomForm* form = FormOf(c);
  TButton* b =
      form ? FindControl<TButton>(form, [vk](TButton* b) { return AccelOf(b->Caption()) == vk; })
           : nullptr;
  if (!b) return false;
  b->Click();  // last: may free the form
  return true;
}

}  // namespace paint

TWinControl* FindNextTabStop(TCustomForm* Form, TWinControl* Current, bool GoForward) {
  if (!Form) return nullptr;
  std::vector<TWinControl*> stops;
  paint::CollectTabStops(Form, stops);
  if (stops.empty()) return nullptr;
  auto it = std::find(stops.begin(), stops.end(), Current);
  if (it == stops.end()) return GoForward ? stops.front() : stops.back();
  size_t i = static_cast<size_t>(it - stops.begin());
  size_t n = stops.size();
  return stops[GoForward ? (i + 1) % n : (i + n - 1) % n];
}

}  // namespace fw
