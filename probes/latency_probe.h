// The latency engine: echo requests on a fixed schedule, one every interval whatever the answers
// do, each timed by the performance counter from its send to the arrival of its answer, on a
// thread of the run's own (echo_runner.h). The system's echo service carries them where it has
// one for the family; ICMPv6 falls back to a raw socket where the service is missing, as on
// Wine. Every request has its own time-out; the run ends when the last has answered or timed
// out. A run cancelled early reports the requests whose fate was known by then.
#ifndef TELVARIO_PROBES_LATENCY_PROBE_H
#define TELVARIO_PROBES_LATENCY_PROBE_H

#include <string>
#include <vector>

#include "address_lookup.h"
#include "latency_statistics.h"
#include "run_timing.h"
#include "sonde2_codes.h"
#include "windows_api.h"

namespace telvario {

struct LatencyPlan {
  const char* host = nullptr;
  LONG probes = 20;
  LONG intervalMs = 100;
  int family = AF_UNSPEC;  // AF_INET or AF_INET6 to use only that family
  LONG packetSize = 32;    // data bytes of each request
};

// Between sends and waits the engine asks whether to go on: false ends the run with what it
// has. `sent` requests have gone, the latest answer took `latestMs`.
class LatencyObserver {
 public:
  virtual ~LatencyObserver() = default;
  virtual bool KeepGoing(LONG sent, LONG planned, double latestMs) = 0;
};

struct LatencyRun {
  double result = 0;                   // the median round trip in milliseconds, or a negative code
  std::string peer;                    // the address measured
  std::vector<LatencySample> samples;  // every request sent, in send order
  LatencyStatistics statistics;
  std::string failure;   // why the run could not measure, in words
  bool stopped = false;  // ended early at the observer's word
};

LatencyRun MeasureLatency(const LatencyPlan& plan, LatencyObserver* observer = nullptr);

// The address an echo run measures: the first the resolver gives of `family` (AF_UNSPEC for
// either). A literal of another family has no address to use. 0, or Latency's code for the
// failure with why in `failure`.
LONG ChooseEchoPeer(const char* host, int family, ResolvedAddress* peer, std::string* failure);

}  // namespace telvario

#endif
