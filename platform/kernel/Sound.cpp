#include "platform/kernel/Sound.h"

#include <mutex>

#include "platform/kernel/KernelState.h"

namespace plat {

using kernelimpl::St;

bool sndPlaySound(const void* Sound, uint32_t Flags) {
  auto& st = St();
  std::lock_guard<std::mutex> hold(st.soundMu);
  if (!Sound) {
    st.playing = nullptr;
    return true;
  }
  if (!(Flags & SND_MEMORY)) return false;
  st.playing = (Flags & SND_ASYNC) ? Sound : nullptr;
  return true;
}

const void* PlayingMemorySound() {
  auto& st = St();
  std::lock_guard<std::mutex> hold(st.soundMu);
  return st.playing;
}

}  // namespace plat
