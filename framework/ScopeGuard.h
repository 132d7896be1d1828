// Clean-up that must run however a block is left: the framework's try/finally.
#pragma once

#include <exception>
#include <utility>

namespace fw {

// Runs Fn when the scope ends; with OnlyOnFailure, only when an exception leaves it.
// A clean-up that raises while another exception is already leaving the scope is
// dropped: the first failure is the one the caller hears about.
template <class F, bool OnlyOnFailure>
class TScopeGuard {
public:
  explicit TScopeGuard(F Fn) : FFn(std::move(Fn)), FExceptions(std::uncaught_exceptions()) {}
  TScopeGuard(const TScopeGuard&) = delete;
  TScopeGuard& operator=(const TScopeGuard&) = delete;
  ~TScopeGuard() noexcept(false) {
    const bool failing = std::uncaught_exceptions() > FExceptions;
    if (!failing) {
      if (!OnlyOnFailure) FFn();
      return;
    }
    try {
      FFn();
    } catch (...) {
    }
  }

private:
  F FFn;
  int FExceptions;
};

// auto done = fw::Finally([&] { EndUpdate(); });
template <class F>
[[nodiscard]] TScopeGuard<F, false> Finally(F Fn) {
  return TScopeGuard<F, false>(std::move(Fn));
}

// auto undo = fw::OnFailure([&] { FreeLibrary(h); });
template <class F>
[[nodiscard]] TScopeGuard<F, true> OnFailure(F Fn) {
  return TScopeGuard<F, true>(std::move(Fn));
}

}  // namespace fw
