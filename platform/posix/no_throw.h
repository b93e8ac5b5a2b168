// Windows' own calls never throw, and the posix calls that stand in for them may not either:
// they run on threads and inside callbacks that no handler stands behind. A call whose body
// throws (an allocation that failed) gives its failure result instead, with
// ERROR_NOT_ENOUGH_MEMORY as the thread's last error.
#ifndef TELVARIO_PLATFORM_POSIX_NO_THROW_H
#define TELVARIO_PLATFORM_POSIX_NO_THROW_H

#include <utility>

#include "kernel.h"

template <typename Result, typename Body>
Result WithoutThrowing(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return failure;
  }
}

// Runs a clean-up when its scope ends, by return or by exception: for what a call holds while
// the allocations that may throw are made.
template <typename Cleanup>
class ScopeExit {
 public:
  explicit ScopeExit(Cleanup cleanup) : cleanup_(std::move(cleanup)) {}
  ~ScopeExit() { cleanup_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Cleanup cleanup_;
};

#endif
