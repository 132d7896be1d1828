// Icons in the desktop's notification area.
//
// Every icon is kept in a table of the process, keyed by its window and
// identifier, with the last record it was given: tests and the code above can
// read it back. With a display whose notification area is run by a tray host
// (the system-tray docking protocol over XEmbed), each icon is also a small X
// window docked there; mouse actions on it are posted to the icon's window as
// its callback message, WParam = the identifier, LParam = the mouse message
// (WM_MOUSEMOVE, WM_LBUTTONDOWN ... WM_MBUTTONDBLCLK).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/msg/Msg.h"

namespace plat {

constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;

constexpr UINT NIF_MESSAGE = 0x1;
constexpr UINT NIF_ICON = 0x2;
constexpr UINT NIF_TIP = 0x4;

// The record of one icon: 88 bytes, little-endian, no padding.
struct NOTIFYICONDATA {
  uint32_t cbSize = 0;            // 88
  HWND hWnd = 0;
  uint32_t uID = 0;
  uint32_t uFlags = 0;
  uint32_t uCallbackMessage = 0;
  HICON hIcon = 0;
  char szTip[64] = {};
};
static_assert(sizeof(NOTIFYICONDATA) == 88, "the icon record is 88 bytes");

// Posted to the window of each docked icon as its callback message (this in
// LParam) when the tray host went away: the icon is no longer seen, and a
// program that hid its windows behind it shows them again.
constexpr LPARAM NIN_HOSTLOST = 0x0500;

// Adds, changes or removes an icon. False for a record of another size, an
// add of an icon that is there, a change or removal of one that is not. The
// fields a change sets are those its flags name. The icon is copied, so the
// caller may destroy its own handle afterwards.
bool Shell_NotifyIcon(DWORD message, const NOTIFYICONDATA* data);

// True when icons are seen: without a display (icons are only recorded, and
// programs behave as if the area showed them) and with a display where a tray
// host runs. False with a display without a tray host: a program must then
// keep a window of its own on the screen.
bool NotifyAreaAvailable();

// The table: the last record given to an icon (false when there is none), the
// icons in the order they were added, and the number of calls made so far.
bool GetNotifyIconRecord(HWND hwnd, uint32_t id, NOTIFYICONDATA* data);
std::vector<NOTIFYICONDATA> GetNotifyIcons();
uint32_t NotifyIconCallCount();
// The X window of a docked icon (0 when the icon is not docked).
unsigned long GetNotifyIconXWindow(HWND hwnd, uint32_t id);

// The tip of a docked icon: when the pointer rests on the icon for
// kNotifyTipDelayMs, its szTip shows in a small undecorated window (class
// "vexa-tip") below and right of the pointer, kept on the screen. It follows
// a change of the tip while it shows and goes when the pointer leaves the
// icon, on a press, or when the icon goes.
constexpr int kNotifyTipDelayMs = 400;
// The picture of a tip: width, height and top-down rows of 3 bytes per pixel
// (blue, green, red; no row padding). False for an empty text.
bool RenderNotifyTip(const std::string& text, int32_t* width, int32_t* height,
                     std::vector<uint8_t>* pixels);
// The X window of the tip showing now (0 when none).
unsigned long GetNotifyTipXWindow();

}  // namespace plat
