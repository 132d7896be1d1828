// State of the desktop the user sits at: lock keys, the mouse pointer and the
// screen saver. With a display these come from the X server; headless the
// lock keys are off, the screen saver has no time-out, and the pointer is
// where SetCursorPos last put it.
#pragma once

#include <cstdint>

#include "platform/msg/Msg.h"

namespace plat {

constexpr int VK_CAPITAL = 0x14;
constexpr int VK_NUMLOCK = 0x90;
constexpr int VK_SCROLL = 0x91;

// For the lock keys: bit 0 set while the key is toggled on. Other keys: 0.
int16_t GetKeyState(int virtKey);

// The pointer position in screen coordinates.
bool GetCursorPos(POINT* point);
bool SetCursorPos(int32_t x, int32_t y);

constexpr UINT SPI_GETSCREENSAVETIMEOUT = 14;
// SPI_GETSCREENSAVETIMEOUT writes the time-out in seconds (0: none) to *param.
bool SystemParametersInfo(UINT action, UINT uiParam, void* param, UINT winIni);

}  // namespace plat
