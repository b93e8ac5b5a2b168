// Runs a clean-up when its scope ends, by return or by exception: for what a call holds while
// the allocations that may throw are made.
#ifndef TELVARIO_PLATFORM_POSIX_SCOPE_EXIT_H
#define TELVARIO_PLATFORM_POSIX_SCOPE_EXIT_H

#include <utility>

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
