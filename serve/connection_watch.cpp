#include "connection_watch.h"

namespace telvario::serve {
namespace {

// The least a client sending a request is expected to manage, in bytes a second: a head or a
// body arriving slower is taken for a client holding the connection (as web servers' request
// time-outs judge it).
constexpr std::uint64_t kLeastBytesPerSecond = 500;

}  // namespace

ConnectionWatch::ConnectionWatch(std::uint64_t nowMs, std::uint64_t headerMs, std::uint64_t idleMs)
    : headerMs_(headerMs), idleMs_(idleMs), windowStartMs_(nowMs), lastMovedMs_(nowMs) {}

bool ConnectionWatch::Expired(std::uint64_t read, std::uint64_t written, std::uint64_t nowMs) {
  if (read != lastRead_ || written != lastWritten_) lastMovedMs_ = nowMs;
  lastRead_ = read;
  lastWritten_ = written;
  if (nowMs - lastMovedMs_ >= idleMs_) return true;
  if (nowMs - windowStartMs_ < headerMs_) return false;
  const std::uint64_t came = read - windowRead_;
  const bool answered = written != windowWritten_;
  const std::uint64_t enough = kLeastBytesPerSecond * (nowMs - windowStartMs_) / 1000;
  windowStartMs_ = nowMs;
  windowRead_ = read;
  windowWritten_ = written;
  return !answered && came > 0 && came < enough;
}

}  // namespace telvario::serve
