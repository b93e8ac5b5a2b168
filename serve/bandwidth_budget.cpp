#include "bandwidth_budget.h"

#include <algorithm>
#include <cmath>

namespace telvario::serve {
namespace {

// A burst of a tenth of a second, and never less than a large chunk, so that a slow cap still
// lets a whole chunk through at a time.
constexpr double kBurstMs = 100;
constexpr double kLeastBurst = 256 * 1024;

}  // namespace

BandwidthBudget::BandwidthBudget(double megabitsPerSecond)
    : bytesPerMs_(std::max(0.0, megabitsPerSecond) * 1e6 / 8 / 1000),
      burst_(std::max(kLeastBurst, bytesPerMs_ * kBurstMs)),
      tokens_(burst_) {}

void BandwidthBudget::Refill(std::uint64_t nowMs) {
  if (nowMs > lastMs_) {
    tokens_ = std::min(burst_, tokens_ + static_cast<double>(nowMs - lastMs_) * bytesPerMs_);
  }
  lastMs_ = std::max(lastMs_, nowMs);
}

std::size_t BandwidthBudget::Take(std::size_t wanted, std::uint64_t nowMs) {
  if (!Capped()) return wanted;
  Refill(nowMs);
  if (tokens_ < 1) return 0;
  const std::size_t granted = std::min(wanted, static_cast<std::size_t>(tokens_));
  tokens_ -= static_cast<double>(granted);
  return granted;
}

void BandwidthBudget::Charge(std::uint64_t bytes, std::uint64_t nowMs) {
  if (!Capped()) return;
  Refill(nowMs);
  tokens_ -= static_cast<double>(bytes);
}

std::uint64_t BandwidthBudget::SecondsInDebt(std::uint64_t nowMs) {
  if (!Capped()) return 0;
  Refill(nowMs);
  if (tokens_ >= 0) return 0;
  return static_cast<std::uint64_t>(std::ceil(-tokens_ / bytesPerMs_ / 1000));
}

}  // namespace telvario::serve
