// Checks what only a bug of ours can break: an internal invariant, never
// outside input (messages of other programs, socket bytes, shared memory a
// peer writes, files, arguments), which stays handled and answered.
//
//   VEXA_INVARIANT(cond, "what must hold");
//
// Checked in Debug builds and the sanitizer build (the build defines
// VEXA_CHECK_INVARIANTS there); elsewhere the condition is not evaluated, so
// it must have no effect. A broken invariant names file, line and what must
// hold on standard error, once per place, and is counted; the code then goes
// on as an unchecked build would, telling its caller what it can. It never
// ends the process: this code also runs inside other programs (the database
// server loads the database side). A checked run learns of it from the count:
// every test binary fails at its end when it is not 0, and a program that
// ran to its end then ends with status 70 (ProgramStatus).
#pragma once

#include <atomic>
#include <cstdio>

namespace plat {

#if defined(VEXA_CHECK_INVARIANTS) && VEXA_CHECK_INVARIANTS
inline constexpr bool kInvariantsChecked = true;
#else
inline constexpr bool kInvariantsChecked = false;
#endif

// Status a program ends with when its run broke an invariant.
inline constexpr int kBrokenInvariantStatus = 70;

inline std::atomic<unsigned>& BrokenInvariantCount() {
  static std::atomic<unsigned> count{0};
  return count;
}

// How many times this process found an invariant broken.
inline unsigned BrokenInvariants() { return BrokenInvariantCount().load(); }

inline void InvariantBroken(const char* file, int line, const char* what, const char* cond,
                            std::atomic<bool>& told) noexcept {
  BrokenInvariantCount().fetch_add(1);
  if (told.exchange(true)) return;
  std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", file, line, what, cond);
  std::fflush(stderr);
}

}  // namespace plat

#if defined(VEXA_CHECK_INVARIANTS) && VEXA_CHECK_INVARIANTS
#define VEXA_INVARIANT(cond, what)                                                 \
  do {                                                                             \
    if (!(cond)) {                                                                 \
      static std::atomic<bool> vexaInvariantTold{false};                           \
      ::plat::InvariantBroken(__FILE__, __LINE__, what, #cond, vexaInvariantTold); \
    }                                                                              \
  } while (0)
#else
// Unevaluated, but still compiled: names the condition uses stay used.
#define VEXA_INVARIANT(cond, what) static_cast<void>(sizeof(!(cond)))
#endif
