// The framework's process-wide state: made at start-up, so that the thread
// that starts the program is its main thread; reset for a forked child and a
// new session (FrameworkState.h).
#include "framework/FrameworkState.h"

#include "framework/Forms.h"
#include "platform/kernel/Lifecycle.h"

namespace fw {

namespace {

plat::StateOwner<FrameworkState> gState{plat::Layer::Framework};

const bool gMadeAtStart = (St(), true);

}  // namespace

FrameworkState& St() { return gState.Get(); }

FrameworkState::FrameworkState() : mainThread(plat::GetCurrentThreadId()) {}

void FrameworkState::PrepareFork() {
  syncMu.lock();
  controlsMu.lock();
  responderMu.lock();
  toldMu.lock();
  classMu.lock();
}

void FrameworkState::ParentAfterFork() {
  classMu.unlock();
  toldMu.unlock();
  responderMu.unlock();
  controlsMu.unlock();
  syncMu.unlock();
}

// Made in the forking thread, the child's only one.
FrameworkState* FrameworkState::ForChild() {
  auto* mine = new FrameworkState;
  mine->responder = responder;
  return mine;
}

void FrameworkState::EndSession() {
  {
    std::lock_guard<std::mutex> g(controlsMu);
    controls.clear();
  }
  focused = nullptr;
  SetDisplayAvailable(false, 0, 0);
  painting = false;
  shift = false;
  chosenByKey = 0;
  drop = DropDown{};
}

void EnsureWindowClass(const std::string& Name, plat::WNDPROC Proc) {
  std::lock_guard<std::mutex> g(St().classMu);
  plat::WNDCLASS wc;
  if (plat::GetClassInfo(Name, &wc)) return;
  wc.lpfnWndProc = std::move(Proc);
  wc.lpszClassName = Name;
  plat::RegisterClass(wc);
}

}  // namespace fw
