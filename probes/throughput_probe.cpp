#include "throughput_probe.h"

#include <algorithm>
#include <cmath>

#include "message_pump.h"
#include "throughput_connections.h"

namespace telvario {
namespace {

constexpr std::size_t kSettleBins = 5;         // half a second of samples
constexpr std::size_t kLeastStartupBins = 10;  // never less than the first second
constexpr double kSettled = 0.10;
constexpr double kBinSeconds = kSampleMs / 1000.0;

double Mbps(ULONGLONG bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) * 8 / 1e6 / seconds : 0;
}

// The rate of the last half second, for whoever watches.
double LatestMbps(const std::vector<std::vector<ULONGLONG>>& samples) {
  const std::size_t back = std::min(kSettleBins, samples.size());
  ULONGLONG latest = 0;
  for (std::size_t i = samples.size() - back; i < samples.size(); ++i) {
    for (const ULONGLONG bytes : samples[i]) latest += bytes;
  }
  return Mbps(latest, static_cast<double>(back) * kBinSeconds);
}

// Samples every connection each kSampleMs until the run's time is up, every connection has
// ended, or the observer ends the run.
void SampleRun(const ThroughputPlan& plan, const RunClock& clock,
               ThroughputConnections& connections, ThroughputObserver* observer,
               LoadCompanion* companion, ThroughputRun* run) {
  const auto planned = static_cast<std::size_t>(plan.durationSeconds * 1000 / kSampleMs);
  while (run->samples.size() < planned) {
    const std::size_t bins = run->samples.size() + 1;
    const LONGLONG due =
        clock.start + static_cast<LONGLONG>(bins * kSampleMs) * clock.frequency / 1000;
    while (PerformanceTicks() < due) {
      const LONGLONG left = (due - PerformanceTicks()) * 1000 / clock.frequency;
      SleepDispatching(static_cast<DWORD>(std::clamp<LONGLONG>(left, 1, kSampleMs)));
    }
    const double now = clock.Now();
    run->samples.push_back(connections.Sample(now));
    const double latest = LatestMbps(run->samples);
    if (companion != nullptr) companion->Sample(now, latest);
    if (!connections.AnyRunning()) break;
    if (observer != nullptr &&
        !observer->KeepGoing(static_cast<double>(bins) / static_cast<double>(planned), latest)) {
      run->stopped = true;
      break;
    }
  }
  run->durationSeconds = static_cast<double>(run->samples.size()) * kBinSeconds;
}

// Upload bodies count where they were sent, once answered: their bytes replace the counts.
void BinUploads(const ThroughputConnections& connections, ThroughputRun* run) {
  for (std::size_t i = 0; i < connections.Count(); ++i) {
    if (connections.IsDownload(i)) continue;
    const std::vector<ULONGLONG> bins = connections.UploadBins(i, run->samples.size());
    for (std::size_t bin = 0; bin < run->samples.size(); ++bin) run->samples[bin][i] = bins[bin];
  }
}

// Why one direction of the run failed: "" where any of its connections opened.
std::string DirectionFailure(const std::vector<ConnectionOutcome>& outcomes, bool download) {
  std::string failure;
  for (const ConnectionOutcome& outcome : outcomes) {
    if (outcome.download != download) continue;
    if (outcome.opened) return "";
    if (failure.empty()) failure = outcome.failure;
  }
  return failure.empty() ? "no connection opened" : failure;
}

// Whether every connection that opened ended on bodies too small to measure; their size.
bool AllTooSmall(const std::vector<ConnectionOutcome>& outcomes, std::string* failure) {
  bool any = false;
  for (const ConnectionOutcome& outcome : outcomes) {
    if (!outcome.opened) continue;
    if (!outcome.tooSmall) return false;
    any = true;
    *failure = outcome.failure;
  }
  return any;
}

// Every connection broke or stalled by `seconds` into the run.
bool AllOverBy(const std::vector<ConnectionOutcome>& outcomes, double seconds) {
  return std::all_of(outcomes.begin(), outcomes.end(), [&](const ConnectionOutcome& outcome) {
    return outcome.broke && outcome.endedAt <= seconds;
  });
}

std::string FirstFailure(const std::vector<ConnectionOutcome>& outcomes) {
  for (const ConnectionOutcome& outcome : outcomes) {
    if (!outcome.failure.empty()) return outcome.failure;
  }
  return "";
}

// The rate after the start-up, or why there is none.
void DecideOutcome(const ThroughputPlan& plan, ThroughputRun* run) {
  const std::vector<ConnectionOutcome>& outcomes = run->connections;
  if (plan.direction == Direction::Both) {
    run->downloadFailure = DirectionFailure(outcomes, true);
    run->uploadFailure = DirectionFailure(outcomes, false);
  }
  if (std::none_of(outcomes.begin(), outcomes.end(),
                   [](const ConnectionOutcome& outcome) { return outcome.opened; })) {
    run->result = THROUGHPUT_NOT_OPENED;
    run->failure = FirstFailure(outcomes);
    return;
  }
  if (AllTooSmall(outcomes, &run->failure)) {
    run->result = THROUGHPUT_TOO_SMALL;
    return;
  }
  std::vector<ULONGLONG> aggregate(run->samples.size(), 0);
  for (std::size_t bin = 0; bin < run->samples.size(); ++bin) {
    for (const ULONGLONG bytes : run->samples[bin]) aggregate[bin] += bytes;
  }
  // A run cancelled before it settled: the first half of it as it went.
  run->startupSeconds = StartupSeconds(
      aggregate, run->stopped ? run->durationSeconds : plan.durationSeconds, &run->startupSettled);
  if (run->stopped && !run->startupSettled) {
    run->startupSeconds = std::floor(run->durationSeconds / 2 / kBinSeconds) * kBinSeconds;
  }
  if (!run->stopped && AllOverBy(outcomes, run->startupSeconds)) {
    run->result = THROUGHPUT_ALL_BROKE;
    run->failure =
        "every connection broke or stalled in the start-up (" + FirstFailure(outcomes) + ")";
    return;
  }
  const auto first = static_cast<std::size_t>(std::llround(run->startupSeconds / kBinSeconds));
  ULONGLONG bytes = 0;
  for (std::size_t bin = first; bin < aggregate.size(); ++bin) bytes += aggregate[bin];
  run->bytes = static_cast<double>(bytes);
  run->elapsed = std::max(0.0, run->durationSeconds - run->startupSeconds);
  run->result = Mbps(bytes, run->elapsed);
  if (AllOverBy(outcomes, run->durationSeconds)) {
    run->failure =
        "every connection broke or stalled before the run ended (" + FirstFailure(outcomes) + ")";
  }
}

}  // namespace

double StartupSeconds(const std::vector<ULONGLONG>& aggregate, double plannedSeconds,
                      bool* settled) {
  if (settled != nullptr) *settled = false;
  // A mark in the last half second would leave too little to measure (none at all at the end).
  for (std::size_t end = kLeastStartupBins; end + kSettleBins <= aggregate.size(); ++end) {
    ULONGLONG earlier = 0;
    ULONGLONG later = 0;
    for (std::size_t i = end - 2 * kSettleBins; i < end - kSettleBins; ++i) earlier += aggregate[i];
    for (std::size_t i = end - kSettleBins; i < end; ++i) later += aggregate[i];
    const double larger = static_cast<double>(std::max(earlier, later));
    if (earlier > 0 && later > 0 &&
        std::fabs(static_cast<double>(later) - static_cast<double>(earlier)) <= kSettled * larger) {
      if (settled != nullptr) *settled = true;
      return static_cast<double>(end) * kBinSeconds;
    }
  }
  const double half = std::floor(plannedSeconds * 1000 / kSampleMs / 2) * kBinSeconds;
  return std::max(static_cast<double>(kLeastStartupBins) * kBinSeconds, half);
}

std::vector<ULONGLONG> BinBodies(const std::vector<CompletedBody>& bodies, LONGLONG start,
                                 LONGLONG frequency, std::size_t bins) {
  std::vector<ULONGLONG> binned(bins, 0);
  const auto seconds = [&](LONGLONG ticks) {
    return static_cast<double>(ticks - start) / static_cast<double>(frequency);
  };
  for (const CompletedBody& body : bodies) {
    const double from = seconds(body.start);
    const double to = std::max(seconds(body.end), from + 1e-6);
    ULONGLONG assigned = 0;
    for (auto bin = static_cast<std::size_t>(std::max(0.0, from / kBinSeconds));
         bin < bins && assigned < body.bytes; ++bin) {
      const double binEnd = static_cast<double>(bin + 1) * kBinSeconds;
      const double share = std::min(1.0, (binEnd - from) / (to - from));
      const auto upTo =
          static_cast<ULONGLONG>(std::llround(static_cast<double>(body.bytes) * share));
      binned[bin] += upTo - assigned;
      assigned = upTo;
    }
  }
  return binned;
}

ThroughputRun MeasureThroughput(const ThroughputPlan& plan, ThroughputObserver* observer,
                                LoadCompanion* companion) {
  ThroughputRun run;
  if (!plan.address.IsHttp()) {
    run.result = THROUGHPUT_CANNOT_START;
    run.failure = "only http and https URLs can be measured";
    return run;
  }
  const RunClock clock = RunClock::Starting(plan.durationSeconds);
  ThroughputConnections connections(plan, clock);
  if (!connections.Start(&run.failure)) {
    run.result = THROUGHPUT_CANNOT_START;
    return run;
  }
  SampleRun(plan, clock, connections, observer, companion, &run);
  connections.End(run.stopped);
  BinUploads(connections, &run);
  for (std::size_t i = 0; i < connections.Count(); ++i) {
    run.connections.push_back(connections.Outcome(i));
  }
  DecideOutcome(plan, &run);
  return run;
}

}  // namespace telvario
