// Checks what only a bug of ours can break: an internal invariant, never
// outside input (messages of other programs, socket bytes, shared memory a
// peer writes, files, arguments), which stays handled and answered.
//
//   VEXA_INVARIANT(cond, "what must hold");
//
// Checked in Debug builds and the sanitizer build (the build defines
// VEXA_CHECK_INVARIANTS there); elsewhere the condition is not evaluated, so
// it must have no effect. A broken invariant names file, line and what must
// hold on standard error and aborts: the one place library code ends the
// process, as a bug trap of checked builds, where going on would only spread
// the damage and bury its cause.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace plat {

#if defined(VEXA_CHECK_INVARIANTS) && VEXA_CHECK_INVARIANTS
inline constexpr bool kInvariantsChecked = true;
#else
inline constexpr bool kInvariantsChecked = false;
#endif

[[noreturn]] inline void InvariantBroken(const char* file, int line, const char* what,
                                         const char* cond) noexcept {
  std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", file, line, what, cond);
  std::fflush(stderr);
  std::abort();
}

}  // namespace plat

#if defined(VEXA_CHECK_INVARIANTS) && VEXA_CHECK_INVARIANTS
#define VEXA_INVARIANT(cond, what) \
  ((cond) ? static_cast<void>(0) : ::plat::InvariantBroken(__FILE__, __LINE__, what, #cond))
#else
// Unevaluated, but still compiled: names the condition uses stay used.
#define VEXA_INVARIANT(cond, what) static_cast<void>(sizeof(!(cond)))
#endif
