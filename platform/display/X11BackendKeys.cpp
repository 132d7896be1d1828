// X key input as the system's own: virtual keys, the character typed and the
// key and button state.
#include "platform/display/X11BackendKeys.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "platform/display/DisplayInternal.h"

namespace plat::display {

int VirtualKey(KeySym ks) {
  if (ks >= XK_a && ks <= XK_z) return static_cast<int>('A' + (ks - XK_a));
  if (ks >= XK_A && ks <= XK_Z) return static_cast<int>('A' + (ks - XK_A));
  if (ks >= XK_0 && ks <= XK_9) return static_cast<int>('0' + (ks - XK_0));
  if (ks >= XK_F1 && ks <= XK_F12) return static_cast<int>(VK_F1 + (ks - XK_F1));
  switch (ks) {
    case XK_BackSpace: return VK_BACK;
    case XK_Tab:
    case XK_ISO_Left_Tab: return VK_TAB;
    case XK_Return:
    case XK_KP_Enter: return VK_RETURN;
    case XK_Escape: return VK_ESCAPE;
    case XK_space: return VK_SPACE;
    case XK_Prior: return VK_PRIOR;
    case XK_Next: return VK_NEXT;
    case XK_End: return VK_END;
    case XK_Home: return VK_HOME;
    case XK_Left: return VK_LEFT;
    case XK_Up: return VK_UP;
    case XK_Right: return VK_RIGHT;
    case XK_Down: return VK_DOWN;
    case XK_Insert: return VK_INSERT;
    case XK_Delete: return VK_DELETE;
    case XK_Shift_L:
    case XK_Shift_R: return VK_SHIFT;
    case XK_Control_L:
    case XK_Control_R: return VK_CONTROL;
    case XK_Alt_L:
    case XK_Alt_R: return VK_MENU;
    default: return 0;
  }
}

// First code point of UTF-8 text (0 for none or a broken sequence).
uint32_t FirstCodePoint(const char* s, int n) {
  if (n <= 0) return 0;
  auto b = static_cast<unsigned char>(s[0]);
  if (b < 0x80) return b;
  int len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
  if (len == 0 || len > n) return 0;
  uint32_t cp = b & (0x3F >> (len - 1));
  for (int i = 1; i < len; ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  return cp;
}

uint32_t KeyState(unsigned int state) {
  uint32_t mk = 0;
  if (state & ShiftMask) mk |= MK_SHIFT;
  if (state & ControlMask) mk |= MK_CONTROL;
  if (state & Button1Mask) mk |= MK_LBUTTON;
  if (state & Button2Mask) mk |= MK_MBUTTON;
  if (state & Button3Mask) mk |= MK_RBUTTON;
  return mk;
}

}  // namespace plat::display
