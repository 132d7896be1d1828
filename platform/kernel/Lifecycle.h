// The one place where each library's process-wide state learns that the
// process forked or left its desktop session.
//
// Every library keeps its process-wide state in one owner and registers here,
// with its layer, what that owner does around fork and at the end of a session.
// The order handlers run in:
//   before fork (prepare)   upper layers first: a library takes its locks before
//                           those of the layers it calls into, as it does when it runs;
//   after fork, parent      lower layers first, releasing them again;
//   after fork, child       lower layers first: a library that starts afresh may
//                           use the layers below, which are fresh already;
//   session end             upper layers first: a library may still use those
//                           below while it lets go of what it held in the session.
// Within one layer, child and parent handlers run in the order they were
// registered, prepare and session-end handlers in the reverse. The platform
// makes one pthread_atfork registration for all. Handlers registered without
// a layer (AtSessionEnd of Kernel.h) belong to Layer::Program.
//
// A child handler runs where only the forking thread came along: locks that
// other threads held stay held, so a handler takes none of its library's and
// leaves what they guard alone (or reads it under a lock its prepare handler
// took). It may allocate. No handler registers another one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace plat {

// The layers, lowest first, as the libraries link.
enum class Layer : uint8_t {
  Kernel,
  Msg,
  Registry,
  Net,
  Gdi,
  Display,
  Shell,
  Framework,
  Shared,
  Sockets,
  Components,
  Program,  // handlers registered without a layer
};

// Any of the three may be null; each is given context.
struct ForkHandlers {
  void (*prepare)(void* context) = nullptr;
  void (*parent)(void* context) = nullptr;
  void (*child)(void* context) = nullptr;
  void* context = nullptr;
};

void AtFork(Layer layer, ForkHandlers handlers);
void AtSessionEnd(Layer layer, std::function<void()> handler);
// Runs the session-end handlers; the kernel calls it when the session changes.
void RunSessionEndHandlers();

// Counts the forks this process descends from (0 in a program as started);
// raised in a child before any child handler runs, so that state made in an
// older one is known to be the parent's.
uint32_t ForkGeneration();

// Owns the process-wide state T of one library, made on first use (its
// handlers are registered then).
// - A forked child starts from the state T::ForChild() answers, called on the
//   parent's copy when T has it (else, and when it answers null, from a new T
//   made on first use). ForChild closes what the child must not keep and
//   carries over what must go on (handle counters, so that no handle of the
//   parent names an object of the child). It reads only atomics of the copy,
//   or what locks T::PrepareFork() took (T::ParentAfterFork() releases them in
//   the parent). The parent's copy is then left as it is, never freed: a thread
//   that did not come along may hold one of its locks.
// - T::EndSession(), when T has it, runs when the process leaves its session.
template <class T>
class StateOwner {
public:
  constexpr explicit StateOwner(Layer layer) : FLayer(layer) {}
  StateOwner(const StateOwner&) = delete;
  StateOwner& operator=(const StateOwner&) = delete;

  T& Get() {
    T* s = FState.load(std::memory_order_acquire);
    return s ? *s : Make();
  }
  // The state if it was made (for code that must not make it).
  T* IfMade() { return FState.load(std::memory_order_acquire); }

private:
  static constexpr bool kLocks = requires(T & t) { t.PrepareFork(); };

  T& Make() {
    Register();
    T* made = new T;
    T* expected = nullptr;
    if (FState.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return *made;
    delete made;  // another thread was first
    return *expected;
  }

  void Register() {
    if (FRegistered.exchange(true)) return;
    ForkHandlers h;
    h.context = this;
    if constexpr (kLocks) {
      h.prepare = [](void* c) {
        auto* o = static_cast<StateOwner*>(c);
        o->FLocked = o->FState.load(std::memory_order_acquire);
        if (o->FLocked) o->FLocked->PrepareFork();
      };
      h.parent = [](void* c) {
        auto* o = static_cast<StateOwner*>(c);
        if (o->FLocked) o->FLocked->ParentAfterFork();
        o->FLocked = nullptr;
      };
    }
    h.child = [](void* c) {
      auto* o = static_cast<StateOwner*>(c);
      T* parents = o->FState.load(std::memory_order_acquire);
      T* mine = nullptr;
      if constexpr (requires(T & t) { t.ForChild(); }) {
        // A state made while the fork was prepared was not locked for it.
        if (parents && (!kLocks || parents == o->FLocked)) mine = parents->ForChild();
      }
      o->FLocked = nullptr;
      o->FState.store(mine, std::memory_order_release);
    };
    AtFork(FLayer, h);
    if constexpr (requires(T & t) { t.EndSession(); }) {
      AtSessionEnd(FLayer, [this] {
        if (T* s = IfMade()) s->EndSession();
      });
    }
  }

  const Layer FLayer;
  std::atomic<T*> FState{nullptr};
  std::atomic<bool> FRegistered{false};
  T* FLocked = nullptr;  // the state prepare locked, until parent or child
};

}  // namespace plat
