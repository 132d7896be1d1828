// X key input as the system's own (the X11 backend's key translation).
#pragma once

#include <X11/X.h>

#include <cstdint>

namespace plat::display {

// The virtual key of an X key symbol (0 for one the system has none for).
int VirtualKey(KeySym ks);
// First code point of UTF-8 text (0 for none or a broken sequence).
uint32_t FirstCodePoint(const char* s, int n);
// The MK_ flags of an X key and button state.
uint32_t KeyState(unsigned int state);

}  // namespace plat::display
