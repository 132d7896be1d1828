#include "platform/kernel/Sound.h"

#include <mutex>

namespace plat {

namespace {
std::mutex gLock;
const void* gPlaying = nullptr;
}  // namespace

bool sndPlaySound(const void* Sound, uint32_t Flags) {
  std::lock_guard<std::mutex> hold(gLock);
  if (!Sound) {
    gPlaying = nullptr;
    return true;
  }
  if (!(Flags & SND_MEMORY)) return false;
  gPlaying = (Flags & SND_ASYNC) ? Sound : nullptr;
  return true;
}

const void* PlayingMemorySound() {
  std::lock_guard<std::mutex> hold(gLock);
  return gPlaying;
}

}  // namespace plat
