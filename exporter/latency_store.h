// The continuous latency of every target and family, as the sweep tells it: a histogram of the
// round trips (cumulative, as a monitoring system reads it), the requests whose fate is known
// and the replies among them, and the jitter. The sweep's thread writes; a scrape takes a copy
// under the same short lock.
#ifndef TELVARIO_EXPORTER_LATENCY_STORE_H
#define TELVARIO_EXPORTER_LATENCY_STORE_H

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "echo_sweep.h"

namespace telvario::exporter {

struct LatencyCounts {
  std::vector<double> bounds;          // upper bounds in seconds, rising
  std::vector<std::uint64_t> buckets;  // replies at or under each bound, then in all (+Inf)
  double sumSeconds = 0;
  // Requests counted once their fate is known: answered, or not within the answer limit. A
  // request given up as the exporter reloads or stops is neither.
  std::uint64_t requests = 0;
  std::uint64_t replies = 0;
  // As RTP receivers estimate jitter (RFC 3550): the change between successive round trips,
  // smoothed over about the last sixteen.
  double jitterSeconds = 0;
  double lastSeconds = -1;  // the latest round trip; negative before the first

  void Answered(double seconds);
  void Lost() { ++requests; }
};

struct LatencySeries {
  std::string target;   // as the configuration names it
  int family = 4;       // 4 or 6
  std::string address;  // what it resolved to
  LatencyCounts counts;
};

class LatencyStore final : public SweepSink {
 public:
  // The series of a new configuration, in the order of its sweep's targets. A series for the
  // same target, family and bounds as before keeps its counts: a reload is no reset.
  void Replace(std::vector<LatencySeries> series);
  std::vector<LatencySeries> Snapshot() const;

  void Answered(std::size_t target, double roundTripMs) override;
  void Lost(std::size_t target) override;

 private:
  mutable std::mutex mutex_;
  std::vector<LatencySeries> series_;
};

}  // namespace telvario::exporter

#endif
