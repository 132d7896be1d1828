// What the files of the ControlPaint unit share among themselves; nothing else includes it.
// Drawing owns the look of each control, the menu part the drop-down and the menu bars,
// input the keys, the handlers whether painting through the display is on; what of it
// lasts between messages is kept in the framework's state (FrameworkState.h).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "framework/ComCtrls.h"
#include "framework/Controls.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "platform/gdi/Gdi.h"

namespace fw::paint {

// What the display remembers of one control between messages.
struct UiState {
  bool pressed = false;              // button or arrow held down with the mouse
  int pressedPart = 0;               // up-down: 1 upper (next), 2 lower (previous)
  size_t caret = std::string::npos;  // edit: byte offset, npos = end of text
  int topLine = 0;                   // memo and list view: first line shown
  int lineCount = -1;                // memo: line count at the last paint
  int hotItem = -1;                  // menu bar: the item whose drop-down is open
  std::vector<plat::HWND> disabled;  // modal form: the forms it disabled
};

inline plat::RECT ToRect(const TRect& r) { return plat::RECT{r.Left, r.Top, r.Right, r.Bottom}; }

inline int32_t LoX(plat::LPARAM l) {
  return static_cast<int16_t>(static_cast<uint32_t>(l) & 0xFFFF);
}
inline int32_t HiY(plat::LPARAM l) {
  return static_cast<int16_t>((static_cast<uint32_t>(l) >> 16) & 0xFFFF);
}

inline TCustomForm* FormOf(TControl* c) {
  TControl* top = c;
  while (top->Parent()) top = top->Parent();
  return dynamic_cast<TCustomForm*>(top);
}

// Drawing (ControlPaintDraw.cpp)
bool HasFocus(TWinControl* c);
plat::HFONT GuiFont();
int LineHeight(plat::HDC dc);
int ScreenLineHeight();
int TextWidth(plat::HDC dc, const std::string& s);
void Fill(plat::HDC dc, const plat::RECT& r, int sysColor);
void Text(plat::HDC dc, const std::string& s, plat::RECT r, uint32_t fmt, plat::COLORREF color);
void Line(plat::HDC dc, int x1, int y1, int x2, int y2, plat::COLORREF color);
void PaintControl(TWinControl* c, UiState& st, plat::HDC dc);
int MemoVisibleLines(TCustomMemo* m, int lh);
int ListHeaderHeight(int lh);
std::vector<std::pair<TTabSheet*, plat::RECT>> TabRects(TPageControl* p, plat::HDC dc);

// The icon of a message box: a 32 x 32 picture in its bounds.
class TDialogIconControl : public TGraphicControl {
public:
  TDialogIconControl(TComponent* AOwner, TDialogIcon Icon) : TGraphicControl(AOwner), FIcon(Icon) {}
  TDialogIcon Icon() const { return FIcon; }

private:
  TDialogIcon FIcon;
};

// The menu bar: a control along the top of a form with a main menu (ControlPaintMenu.cpp).
class TMenuBar : public TCustomControl {
public:
  TMenuBar(TCustomForm* Form, TMainMenu* Menu);
  ~TMenuBar() override;
  TMainMenu* Menu() const { return FMenu; }
  // Item rectangles in the bar's client coordinates.
  std::vector<plat::RECT> ItemRects();

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  TMainMenu* FMenu;
};

TMenuBar* MenuBarOf(TCustomForm* form);
void PaintMenuBar(TMenuBar* bar, plat::HDC dc, const plat::RECT& cr);
void MenuBarClick(TMenuBar* bar, int32_t x, int32_t y);
void MenuBarHover(TMenuBar* bar, int32_t x, int32_t y);
bool MenuKey(TWinControl* c, int vk, bool alt);
// The letter a caption underlines (after a single "&"), upper case; 0 for none.
int AccelOf(const std::string& caption);
// A letter or digit key (or Alt with one) that chooses a button of the form by
// its underlined letter; true when one was pressed.
bool ButtonKey(TWinControl* c, int vk, bool alt);
void OpenDropDown(TControl* owner, TMenuItem* root, int32_t screenX, int32_t screenY);
void CloseDropDown();
// A drop-down is open (anywhere; within the form when one is given).
bool DropDownShown();
bool DropDownShownIn(TControl* form);

// Input (ControlPaintInput.cpp); each returns after handling the message or passing it on.
bool MouseMessage(TWinControl* c, UiState& st, TMessage& m);  // true when used
void KeyDown(TWinControl* c, UiState& st, TMessage& m);
void KeyUp(TWinControl* c, TMessage& m);
void CharMessage(TWinControl* c, UiState& st, TMessage& m);

}  // namespace fw::paint
