#include "latency_statistics.h"

#include <algorithm>
#include <cmath>

namespace telvario {

namespace {

// Milliseconds are reported to the microsecond.
double ToMicroseconds(double milliseconds) {
  return std::round(milliseconds * 1000.0) / 1000.0;
}

}  // namespace

LatencyStatistics Summarize(const std::vector<LatencySample>& samples) {
  LatencyStatistics statistics;
  statistics.sent = static_cast<LONG>(samples.size());
  std::vector<double> times;
  double jitterSum = 0;
  const LatencySample* previous = nullptr;
  for (const LatencySample& sample : samples) {
    if (!sample.answered) continue;
    times.push_back(sample.roundTripMs);
    if (previous != nullptr) jitterSum += std::fabs(sample.roundTripMs - previous->roundTripMs);
    previous = &sample;
  }
  statistics.received = static_cast<LONG>(times.size());
  if (statistics.sent > 0) {
    statistics.loss = static_cast<double>(statistics.sent - statistics.received) / statistics.sent;
  }
  if (times.empty()) return statistics;
  if (times.size() > 1) jitterSum /= static_cast<double>(times.size() - 1);
  statistics.jitter = ToMicroseconds(jitterSum);
  double sum = 0;
  for (const double time : times) sum += time;
  statistics.mean = ToMicroseconds(sum / static_cast<double>(times.size()));
  std::sort(times.begin(), times.end());
  statistics.min = times.front();
  statistics.max = times.back();
  statistics.median = NearestRank(times, 50);
  statistics.p90 = NearestRank(times, 90);
  statistics.p99 = NearestRank(times, 99);
  return statistics;
}

}  // namespace telvario
