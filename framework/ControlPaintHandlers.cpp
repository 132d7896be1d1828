// The message handlers of controls drawn through the display, and the dialogs built from them.
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
using namespace paint;

namespace {

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
      if (!target || !target->CanFocus() || !target->Showing())
        target = FindNextTabStop(form, nullptr, true);
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
      EnsureChildWindows(c);
      if (auto* form = self) {
        if (TMainMenu* menu = FormMainMenu(form); menu && !MenuBarOf(form)) {
          new TMenuBar(form, menu);  // a child of the form, freed with it
        }
      }
    } else if (DropDownShownIn(c)) {
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
  c->SetMessageHandler(WM_KEYDOWN, [c, st](TMessage& m) { KeyDown(c, *st, m); });
  c->SetMessageHandler(WM_SYSKEYDOWN, [c](TMessage& m) {
    const int vk = static_cast<int>(m.WParam);
    if (!MenuKey(c, vk, true) && !ButtonKey(c, vk, true)) c->DefaultHandler(m);
  });
  c->SetMessageHandler(WM_KEYUP, [c](TMessage& m) { KeyUp(c, m); });
  c->SetMessageHandler(WM_CHAR, [c, st](TMessage& m) { CharMessage(c, *st, m); });
}

}  // namespace

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

bool InitApplicationDisplay() {
  bool x11 = InitDisplay();
  St().painting = true;
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

bool ControlPaintActive() { return St().painting; }

void ControlWindowCreated(TWinControl* Control) {
  if (!St().painting || !Control) return;
  Install(Control);
}

void ControlInvalidated(TControl* Control) {
  if (!St().painting || !Control) return;
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
  if (!St().painting || !Control) return;
  HWND h = Control->Handle();
  if (GetFocus() != h) SetFocus(h);
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
    case MB_ABORTRETRYIGNORE:
      buttons = {{IDABORT, "&Abort"}, {IDRETRY, "&Retry"}, {IDIGNORE, "&Ignore"}};
      break;
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
  // Wide enough for the caption too; the icon and text stay left, the buttons centred.
  int w = std::max<int>({textLeft + tr.right + 24, rowW + 48, TitleBarWidth(Caption)});
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
