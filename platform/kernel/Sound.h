// Wave sounds played from memory. There is no sound output device here: an
// asynchronous sound counts as playing until it is stopped or replaced, so that
// code about to free or replace wave data stops it first, as it must wherever a
// device reads that memory while it plays.
#pragma once

#include <cstdint>

namespace plat {

constexpr uint32_t SND_SYNC = 0x0000;
constexpr uint32_t SND_ASYNC = 0x0001;
constexpr uint32_t SND_NODEFAULT = 0x0002;
constexpr uint32_t SND_MEMORY = 0x0004;

// Sound null: stops the sound playing (true). With SND_MEMORY: plays the wave
// file image at Sound (asynchronously with SND_ASYNC; a synchronous one has
// ended on return). Sounds by file name are not available (false).
bool sndPlaySound(const void* Sound, uint32_t Flags);
// The memory image of the sound playing now, null when none plays.
const void* PlayingMemorySound();

}  // namespace plat
