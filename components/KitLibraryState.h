// The component library's process-wide state, in one owner (St()); internal
// to this folder.
#pragma once

#include <array>
#include <memory>

#include "components/KitApplication.h"
#include "components/kitshared.h"

namespace vexa::kitlibrary {

// No lock: the library's objects live on the main thread.
// A forked child starts with none of it: the parent's application object and
// shared container stay as they are, never freed (their windows, mutex and
// pictures name the parent's objects), and the child makes its own on first
// use, with every timer slot free. Leaving a session frees the application
// object (its mutex and pool window were the session's) and frees its slots;
// the next use makes it again in the new session. The shared container holds
// only pictures and stays.
struct State {
  int initCount = 0;  // nested unit start-ups
  TKitApplication* application = nullptr;
  // Slot n (1..250) in use stands for the pool timer 0xFD00 + n.
  std::array<bool, KitTimerSlots + 1> timerSlots{};
  std::unique_ptr<TKitContainer> sharedContainer;  // made on first use

  void FreeApplication();
  void EndSession();
};

State& St();

}  // namespace vexa::kitlibrary
