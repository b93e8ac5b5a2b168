// Responsiveness under working conditions: the latency of an idle link, then of the same link
// loaded by downloads (and uploads, where asked) for the run's duration, probed all along.
//   idle:   ten echo requests to the server, 100 ms apart; IdleLatency is their median.
//   loaded: an echo request at every 100 ms sample of the load (LoadedLatency and its p90, which
//           compare with a ping run alongside), and foreign probes: a new TCP connection to the
//           server and a small HTTP request on it, every 100 ms or less often where that would
//           take over 5% of the measured rate.
//   RPM = 60,000 / the mean of the trimmed means (best 95%) of the loaded handshakes and of the
//   loaded requests, in ms: round trips per minute, as the IETF's responsiveness method counts
//   them from its foreign probes. Over https only the handshakes are timed.
#ifndef TELVARIO_PROBES_RESPONSIVENESS_PROBE_H
#define TELVARIO_PROBES_RESPONSIVENESS_PROBE_H

#include <string>
#include <vector>

#include "latency_statistics.h"
#include "loaded_latency.h"
#include "throughput_probe.h"

namespace telvario {

constexpr LONG kIdleProbes = 10;

struct ResponsivenessPlan {
  WebAddress address;  // read and checked
  LONG streams = kDefaultStreams;
  double durationSeconds = kDefaultDurationSeconds;
  bool withUpload = false;
  LONG packetSize = 32;
};

// A run whose load failed reports no loaded figure: only its idle latency, which it measured.
struct ResponsivenessRun {
  double result = 0;  // RPM, or a ThroughputResult
  double idleLatencyMs = 0;
  double loadedLatencyMs = 0;
  double loadedLatencyP90Ms = 0;
  double rpm = 0;
  std::vector<LatencyProbe> idleProbes;
  std::vector<LatencyProbe> loadedProbes;
  ThroughputRun load;
  std::string failure;
  bool stopped = false;
};

// Watches a run's two phases: told the phase ("idle", "loaded"), the fraction of it done and the
// latest round trip; false ends the run with what it has.
class ResponsivenessObserver {
 public:
  virtual ~ResponsivenessObserver() = default;
  virtual bool KeepGoing(const char* phase, double fraction, double latestMs) = 0;
};

ResponsivenessRun MeasureResponsiveness(const ResponsivenessPlan& plan,
                                        ResponsivenessObserver* observer = nullptr);

// The probes sent once the load's start-up was over, while the queues it fills stay full (all of
// them where none was sent after it, as in a run cancelled early).
std::vector<LatencyProbe> ProbesAfterStartup(const std::vector<LatencyProbe>& probes,
                                             double startupSeconds);

// The median and nearest-rank p90 of the answered echo probes.
void EchoStatistics(const std::vector<LatencyProbe>& probes, double* median, double* p90);

// RPM from the loaded probes (0 when no foreign probe was answered).
double RoundTripsPerMinute(const std::vector<LatencyProbe>& probes);

}  // namespace telvario

#endif
