// What a latency run reports, from its probes in send order: the distribution of the round trips
// of the probes that were answered (nearest-rank percentiles), the jitter between consecutive
// answers, and the share of probes never answered.
#ifndef TELVARIO_PROBES_LATENCY_STATISTICS_H
#define TELVARIO_PROBES_LATENCY_STATISTICS_H

#include <string>
#include <vector>

#include "percentile.h"
#include "windows_api.h"

namespace telvario {

struct LatencySample {
  double sendOffsetMs = 0;  // from the first send
  bool answered = false;
  double roundTripMs = 0;  // when answered, to the microsecond
};

struct LatencyStatistics {
  LONG sent = 0;
  LONG received = 0;
  double min = 0;
  double median = 0;
  double mean = 0;
  double p90 = 0;
  double p99 = 0;
  double max = 0;
  double jitter = 0;  // mean absolute difference between consecutive answers, in send order
  double loss = 0;    // unanswered share of those sent, 0 to 1
};

LatencyStatistics Summarize(const std::vector<LatencySample>& samples);

}  // namespace telvario

#endif
