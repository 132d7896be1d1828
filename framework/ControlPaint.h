// Painting and input of forms and the standard controls on the display layer.
//
// Once the application has opened the display (TApplication::Initialize),
// every control window gets handlers for WM_PAINT, the mouse and the keyboard:
// forms and panels, buttons (default and cancel keys), check boxes, edits with
// a caret, memos that scroll and follow their last line, report-style list
// views, page controls with tabs, up-down arrows, labels, the form's main menu
// as a menu bar with drop-down menus, and Tab between the tab stops.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "framework/Controls.h"

namespace fw {

class TCustomForm;
class TMainMenu;
class TMenuItem;

// Opens the display for the application: real windows when DISPLAY names a
// reachable X server, headless otherwise. Reports the result to
// SetDisplayAvailable. Returns true with a display.
bool InitApplicationDisplay();
// True once InitApplicationDisplay ran (either backend).
bool ControlPaintActive();

// Hooks the controls call.
void ControlWindowCreated(TWinControl* Control);
void ControlInvalidated(TControl* Control);
void ControlFocused(TWinControl* Control);
// Makes the windows of the windowed controls on Parent (and below) that have none.
void EnsureChildWindows(TWinControl* Parent);

// The next (or previous) tab stop of the form after Current, in tab order:
// parents before their children, siblings by TabOrder then creation. Null
// when the form has none.
TWinControl* FindNextTabStop(TCustomForm* Form, TWinControl* Current, bool GoForward);

// How wide a window must be for a window manager's title bar to show its
// whole caption: the caption in a bold face beside the window's icon and up
// to three buttons. A narrower bar cuts the caption in its middle.
int32_t TitleBarWidth(const std::string& Caption);

// The main menu a form shows as its menu bar (its first TMainMenu component).
TMainMenu* FormMainMenu(TCustomForm* Form);
// Runs a menu bar command by the captions of its path, e.g. {"&File", "&Close"}
// (tests and keyboard access); false when no such enabled item exists.
bool ClickMenuPath(TMainMenu* Menu, const std::vector<std::string>& Path);

// The picture left of a dialog's text.
enum TDialogIcon { diNone, diWarning, diError, diInformation, diQuestion };

// A message box as a modal window of its own (used with a display); the
// MB_ICON flags choose its icon.
int DisplayMessageBox(const std::string& Text, const std::string& Caption, UINT Flags);
// A modal window with the icon, the text and a row of buttons (answer,
// caption); Enter presses the default one. Closing it otherwise answers
// CancelAnswer.
int DisplayDialog(const std::string& Text, const std::string& Caption,
                  const std::vector<std::pair<int, std::string>>& Buttons, size_t Default,
                  int CancelAnswer, TDialogIcon Icon = diNone);

}  // namespace fw
