#include "responsiveness_probe.h"

#include <algorithm>

#include "latency_probe.h"
#include "web_address.h"

namespace telvario {
namespace {

constexpr double kTrimmedShare = 0.95;

// The load's watch: its samples as the "loaded" phase, the latest round trip as their figure.
class LoadWatch final : public ThroughputObserver {
 public:
  LoadWatch(ResponsivenessObserver* observer, const LoadedLatency& probes)
      : observer_(observer), probes_(probes) {}
  bool KeepGoing(double fraction, double /*latestMbps*/) override {
    return observer_ == nullptr || observer_->KeepGoing("loaded", fraction, probes_.LatestMs());
  }

 private:
  ResponsivenessObserver* observer_;
  const LoadedLatency& probes_;
};

class IdleWatch final : public LatencyObserver {
 public:
  explicit IdleWatch(ResponsivenessObserver* observer) : observer_(observer) {}
  bool KeepGoing(LONG sent, LONG planned, double latestMs) override {
    return observer_ == nullptr ||
           observer_->KeepGoing("idle", static_cast<double>(sent) / planned, latestMs);
  }

 private:
  ResponsivenessObserver* observer_;
};

}  // namespace

std::vector<LatencyProbe> ProbesAfterStartup(const std::vector<LatencyProbe>& probes,
                                             double startupSeconds) {
  std::vector<LatencyProbe> working;
  for (const LatencyProbe& probe : probes) {
    if (probe.atSeconds >= startupSeconds) working.push_back(probe);
  }
  return working.empty() ? probes : working;
}

void EchoStatistics(const std::vector<LatencyProbe>& probes, double* median, double* p90) {
  std::vector<double> times;
  for (const LatencyProbe& probe : probes) {
    if (probe.kind == ProbeKind::Echo && probe.answered) times.push_back(probe.roundTripMs);
  }
  std::sort(times.begin(), times.end());
  *median = NearestRank(times, 50);
  *p90 = NearestRank(times, 90);
}

double RoundTripsPerMinute(const std::vector<LatencyProbe>& probes) {
  std::vector<double> handshakes;
  std::vector<double> requests;
  for (const LatencyProbe& probe : probes) {
    if (!probe.answered) continue;
    if (probe.kind == ProbeKind::Tcp) handshakes.push_back(probe.roundTripMs);
    if (probe.kind == ProbeKind::Http) requests.push_back(probe.roundTripMs);
  }
  if (handshakes.empty()) return 0;
  double roundTrip = TrimmedMean(handshakes, kTrimmedShare);
  if (!requests.empty()) roundTrip = (roundTrip + TrimmedMean(requests, kTrimmedShare)) / 2;
  return roundTrip > 0 ? 60000.0 / roundTrip : 0;
}

namespace {

// Idle: echo requests to the server's address before anything loads the link.
bool MeasureIdle(const ResponsivenessPlan& plan, const ProbeTarget& target,
                 ResponsivenessObserver* observer, ResponsivenessRun* run) {
  LatencyPlan idle;
  idle.host = target.peer.text.c_str();
  idle.probes = kIdleProbes;
  idle.intervalMs = kSampleMs;
  idle.family = target.peer.family;
  idle.packetSize = plan.packetSize;
  IdleWatch idleWatch(observer);
  const LatencyRun idleRun = MeasureLatency(idle, &idleWatch);
  for (const LatencySample& sample : idleRun.samples) {
    run->idleProbes.push_back(
        {ProbeKind::Echo, sample.sendOffsetMs / 1000, sample.answered, sample.roundTripMs});
  }
  run->idleLatencyMs = idleRun.statistics.received > 0 ? idleRun.statistics.median : 0;
  run->stopped = idleRun.stopped;
  return !idleRun.stopped;
}

// Loaded: the link filled, probed all along. Figures only from a load that ran.
void MeasureLoaded(const ResponsivenessPlan& plan, const ProbeTarget& target,
                   ResponsivenessObserver* observer, ResponsivenessRun* run) {
  ThroughputPlan load;
  load.address = plan.address;
  load.direction = plan.withUpload ? Direction::Both : Direction::Download;
  load.streams = plan.streams;
  load.durationSeconds = plan.durationSeconds;
  LoadedLatency probes(target, true, plan.packetSize, plan.durationSeconds);
  probes.Start();
  LoadWatch loadWatch(observer, probes);
  run->load = MeasureThroughput(load, &loadWatch, &probes);
  probes.Finish();
  run->loadedProbes = probes.Probes();
  run->stopped = run->load.stopped;
  if (run->load.result < 0) {
    run->result = run->load.result;
    run->failure = run->load.failure;
    return;
  }
  const std::vector<LatencyProbe> working =
      ProbesAfterStartup(run->loadedProbes, run->load.startupSeconds);
  EchoStatistics(working, &run->loadedLatencyMs, &run->loadedLatencyP90Ms);
  run->rpm = RoundTripsPerMinute(working);
  run->result = run->rpm;
  if (run->rpm == 0) run->failure = "no foreign probe was answered under the load";
  if (!run->load.uploadFailure.empty()) {
    run->failure = "the upload half of the load failed: " + run->load.uploadFailure;
  }
}

}  // namespace

ResponsivenessRun MeasureResponsiveness(const ResponsivenessPlan& plan,
                                        ResponsivenessObserver* observer) {
  ResponsivenessRun run;
  ProbeTarget target;
  if (!plan.address.IsHttp()) {
    run.result = THROUGHPUT_CANNOT_START;
    run.failure = "only http and https URLs can be measured";
    return run;
  }
  if (!ResolveTarget(plan.address, &target, &run.failure)) {
    run.result = THROUGHPUT_NOT_OPENED;
    return run;
  }
  if (MeasureIdle(plan, target, observer, &run)) MeasureLoaded(plan, target, observer, &run);
  return run;
}

}  // namespace telvario
