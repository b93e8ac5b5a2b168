#include "latency_store.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace telvario::exporter {
namespace {

// RFC 3550's gain: each new difference moves the estimate a sixteenth of the way.
constexpr double kJitterGain = 1.0 / 16;

}  // namespace

void LatencyCounts::Answered(double seconds) {
  if (buckets.size() != bounds.size() + 1) buckets.assign(bounds.size() + 1, 0);
  const auto first = std::lower_bound(bounds.begin(), bounds.end(), seconds);
  // Cumulative: every bound at or above the round trip counts it, and +Inf.
  for (auto bucket = buckets.begin() + (first - bounds.begin()); bucket != buckets.end();
       ++bucket) {
    ++*bucket;
  }
  sumSeconds += seconds;
  ++requests;
  ++replies;
  if (lastSeconds >= 0)
    jitterSeconds += (std::fabs(seconds - lastSeconds) - jitterSeconds) * kJitterGain;
  lastSeconds = seconds;
}

void LatencyStore::Replace(std::vector<LatencySeries> series) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::map<std::pair<std::string, int>, const LatencySeries*> before;
  for (const LatencySeries& old : series_) before[{old.target, old.family}] = &old;
  for (LatencySeries& fresh : series) {
    const auto kept = before.find({fresh.target, fresh.family});
    if (kept != before.end() && kept->second->counts.bounds == fresh.counts.bounds) {
      fresh.counts = kept->second->counts;
    }
    fresh.counts.buckets.resize(fresh.counts.bounds.size() + 1, 0);
  }
  series_ = std::move(series);
}

std::vector<LatencySeries> LatencyStore::Snapshot() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return series_;
}

void LatencyStore::Answered(std::size_t target, double roundTripMs) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (target < series_.size()) series_[target].counts.Answered(roundTripMs / 1000.0);
}

void LatencyStore::Lost(std::size_t target) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (target < series_.size()) series_[target].counts.Lost();
}

}  // namespace telvario::exporter
