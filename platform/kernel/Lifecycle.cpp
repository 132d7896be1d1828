// The handlers every library registers for fork and for the end of a session,
// run in layer order (Lifecycle.h).
#include "platform/kernel/Lifecycle.h"

#include <pthread.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/kernel/Kernel.h"

namespace plat {

namespace {

struct ForkEntry {
  Layer layer;
  ForkHandlers handlers;
};

struct SessionEntry {
  Layer layer;
  std::function<void()> handler;
};

// Lock order: mu is taken alone, and no handler runs under it, so a library
// may register while it holds locks of its own, even while another thread
// forks.
struct Handlers {
  std::mutex mu;
  std::vector<ForkEntry> fork;           // by layer, then registration
  std::vector<SessionEntry> sessionEnd;  // by layer, then registration
  // Both lists as they were when the fork under way was prepared: the C
  // library runs the handlers of one fork at a time, so parent and child run
  // what prepare ran, and a child starts its lists from these whole copies.
  std::vector<ForkEntry> forkRunning;
  std::vector<SessionEntry> sessionEndAtFork;
  uint32_t forkGeneration = 0;  // written only in a child, before its other threads exist
};

void Prepare();
void Parent();
void Child();

// The current lists; a child of fork gets lists of its own.
Handlers*& Current() {
  static Handlers* h = [] {
    auto* made = new Handlers;  // never freed: a fork may come at any time
    pthread_atfork(Prepare, Parent, Child);
    return made;
  }();
  return h;
}

// Made at start-up, while one thread runs; lists are made on first use, so a
// library may register from its own start-up code before this runs.
const bool gRegisteredAtStart = (Current(), true);

template <class Entry>
void InsertByLayer(std::vector<Entry>& list, Entry e) {
  auto at = std::upper_bound(list.begin(), list.end(), e.layer,
                             [](Layer l, const Entry& x) { return l < x.layer; });
  list.insert(at, std::move(e));
}

void Prepare() {
  Handlers& h = *Current();
  {
    std::lock_guard<std::mutex> lock(h.mu);
    h.forkRunning = h.fork;
    h.sessionEndAtFork = h.sessionEnd;
  }
  for (auto it = h.forkRunning.rbegin(); it != h.forkRunning.rend(); ++it)
    if (it->handlers.prepare) it->handlers.prepare(it->handlers.context);
}

void Parent() {
  Handlers& h = *Current();
  for (ForkEntry& e : h.forkRunning)
    if (e.handlers.parent) e.handlers.parent(e.handlers.context);
  h.forkRunning.clear();
  h.sessionEndAtFork.clear();
}

// The parent's lists are left as they are: a thread that did not come along
// may have held their lock, halfway through a registration.
void Child() {
  Handlers& parents = *Current();
  auto* mine = new Handlers;
  mine->fork = std::move(parents.forkRunning);
  mine->sessionEnd = std::move(parents.sessionEndAtFork);
  mine->forkGeneration = parents.forkGeneration + 1;
  Current() = mine;
  for (ForkEntry& e : mine->fork)
    if (e.handlers.child) e.handlers.child(e.handlers.context);
}

}  // namespace

void AtFork(Layer layer, ForkHandlers handlers) {
  Handlers& h = *Current();
  std::lock_guard<std::mutex> lock(h.mu);
  InsertByLayer(h.fork, ForkEntry{layer, handlers});
}

void AtSessionEnd(Layer layer, std::function<void()> handler) {
  Handlers& h = *Current();
  std::lock_guard<std::mutex> lock(h.mu);
  InsertByLayer(h.sessionEnd, SessionEntry{layer, std::move(handler)});
}

void RunSessionEndHandlers() {
  std::vector<SessionEntry> handlers;
  {
    Handlers& h = *Current();
    std::lock_guard<std::mutex> lock(h.mu);
    handlers = h.sessionEnd;
  }
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) it->handler();
}

void AtSessionEnd(std::function<void()> handler) {
  AtSessionEnd(Layer::Program, std::move(handler));
}

uint32_t ForkGeneration() { return Current()->forkGeneration; }

}  // namespace plat
