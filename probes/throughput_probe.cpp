#include "throughput_probe.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "echo_sessions.h"
#include "latency_statistics.h"
#include "stall_guard.h"
#include "throughput_streams.h"
#include "web_address.h"

namespace telvario {
namespace {

constexpr char kAgent[] = "Telvario Sonde2";
constexpr std::size_t kSettleBins = 5;         // half a second of samples
constexpr std::size_t kLeastStartupBins = 10;  // never less than the first second
constexpr double kSettled = 0.10;

struct Connection {
  WorkPtr<ThroughputStream> stream;
  GuardedWorker worker;
  bool started = false;
  bool ended = false;
  bool givenUp = false;
  double endedAt = 0;
};

double SecondsBetween(LONGLONG from, LONGLONG to, LONGLONG frequency) {
  return static_cast<double>(to - from) / static_cast<double>(frequency);
}

// Upload bodies into 100 ms bins: each body's bytes spread evenly over the time it took, in
// whole bytes that add up to the body.
std::vector<ULONGLONG> BinBodies(const std::vector<CompletedBody>& bodies, LONGLONG start,
                                 LONGLONG frequency, std::size_t bins) {
  std::vector<ULONGLONG> binned(bins, 0);
  const double binSeconds = kSampleMs / 1000.0;
  for (const CompletedBody& body : bodies) {
    const double from = SecondsBetween(start, body.start, frequency);
    const double to = std::max(SecondsBetween(start, body.end, frequency), from + 1e-6);
    ULONGLONG assigned = 0;
    for (auto bin = static_cast<std::size_t>(std::max(0.0, from / binSeconds));
         bin < bins && assigned < body.bytes; ++bin) {
      const double binEnd = static_cast<double>(bin + 1) * binSeconds;
      const double share = std::min(1.0, (binEnd - from) / (to - from));
      const auto upTo =
          static_cast<ULONGLONG>(std::llround(static_cast<double>(body.bytes) * share));
      binned[bin] += upTo - assigned;
      assigned = upTo;
    }
  }
  return binned;
}

bool IsOver(StreamState state) {
  return state == StreamState::Refused || state == StreamState::NotOpened ||
         state == StreamState::Broke;
}

}  // namespace

double StartupSeconds(const std::vector<ULONGLONG>& aggregate, double plannedSeconds) {
  const double binSeconds = kSampleMs / 1000.0;
  // A mark in the last half second would leave too little to measure (none at all at the end).
  for (std::size_t end = kLeastStartupBins; end + kSettleBins <= aggregate.size(); ++end) {
    ULONGLONG earlier = 0;
    ULONGLONG later = 0;
    for (std::size_t i = end - 2 * kSettleBins; i < end - kSettleBins; ++i) earlier += aggregate[i];
    for (std::size_t i = end - kSettleBins; i < end; ++i) later += aggregate[i];
    const double larger = static_cast<double>(std::max(earlier, later));
    if (earlier > 0 && later > 0 &&
        std::fabs(static_cast<double>(later) - static_cast<double>(earlier)) <= kSettled * larger) {
      return static_cast<double>(end) * binSeconds;
    }
  }
  const double half = std::floor(plannedSeconds * 1000 / kSampleMs / 2) * binSeconds;
  return std::max(static_cast<double>(kLeastStartupBins) * binSeconds, half);
}

ThroughputRun MeasureThroughput(const ThroughputPlan& plan, ThroughputObserver* observer,
                                LoadCompanion* companion) {
  ThroughputRun run;
  if (!IsHttpAddress(plan.url)) {
    run.result = THROUGHPUT_CANNOT_START;
    run.failure = "only http and https URLs can be measured";
    return run;
  }
  LARGE_INTEGER frequencyValue = {};
  QueryPerformanceFrequency(&frequencyValue);
  const LONGLONG frequency = frequencyValue.QuadPart > 0 ? frequencyValue.QuadPart : 1;
  const auto planned = static_cast<std::size_t>(plan.durationSeconds * 1000 / kSampleMs);
  const LONGLONG start = PerformanceTicks();
  const LONGLONG endsAt =
      start + static_cast<LONGLONG>(plan.durationSeconds * static_cast<double>(frequency));

  // Each connection with a session of its own, so that each is a connection of its own: the
  // downloads first, then the uploads.
  const bool both = plan.direction == Direction::Both;
  std::vector<Connection> connections(static_cast<std::size_t>(plan.streams * (both ? 2 : 1)));
  for (std::size_t i = 0; i < connections.size(); ++i) {
    Connection& connection = connections[i];
    HINTERNET session = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (session == nullptr) continue;
    LimitNetworkWaits(session);
    const bool download = plan.direction == Direction::Download ||
                          (both && i < static_cast<std::size_t>(plan.streams));
    if (download) {
      connection.stream = NewWork<DownloadStream>(plan.url, session);
    } else {
      connection.stream = NewWork<UploadStream>(plan.url, session, frequency, endsAt);
    }
    if (connection.stream == nullptr) {
      InternetCloseHandle(session);
      continue;
    }
    connection.started = connection.worker.Start(*connection.stream);
  }
  const bool anyStarted = std::any_of(connections.begin(), connections.end(),
                                      [](const Connection& c) { return c.started; });
  if (!anyStarted) {
    run.result = THROUGHPUT_CANNOT_START;
    run.failure = "no connection could be started (no session, or too many left running)";
    return run;
  }

  // Every 100 ms: what each connection has counted, and whether it has ended.
  std::vector<ULONGLONG> counted(connections.size(), 0);
  std::size_t bins = 0;
  for (; bins < planned; ++bins) {
    const LONGLONG due = start + static_cast<LONGLONG>((bins + 1) * kSampleMs) * frequency / 1000;
    if (companion != nullptr) companion->WaitUntil(due);
    while (PerformanceTicks() < due) {
      const LONGLONG left = due - PerformanceTicks();
      ::Sleep(static_cast<DWORD>(std::max<LONGLONG>(1, left * 1000 / frequency)));
    }
    const double now = SecondsBetween(start, PerformanceTicks(), frequency);
    std::vector<ULONGLONG> sample(connections.size(), 0);
    bool running = false;
    for (std::size_t i = 0; i < connections.size(); ++i) {
      Connection& connection = connections[i];
      if (!connection.started) continue;
      const ULONGLONG total = connection.stream->Counted();
      sample[i] = total - counted[i];
      counted[i] = total;
      if (!connection.ended) {
        const std::optional<GuardedEnd> end = connection.worker.Wait(0);
        if (end) {
          connection.ended = true;
          connection.givenUp = *end == GuardedEnd::GaveUp;
          connection.endedAt = now;
        }
      }
      running = running || !connection.ended;
    }
    run.samples.push_back(std::move(sample));
    ULONGLONG latest = 0;  // the last half second, for whoever watches
    for (std::size_t back = 0; back < std::min<std::size_t>(kSettleBins, run.samples.size());
         ++back) {
      for (const ULONGLONG bytes : run.samples[run.samples.size() - 1 - back]) latest += bytes;
    }
    const double latestMbps =
        static_cast<double>(latest) * 8 / 1e6 /
        (static_cast<double>(std::min<std::size_t>(kSettleBins, run.samples.size())) * 0.1);
    if (companion != nullptr) companion->Sample(now, latestMbps);
    if (!running) {
      ++bins;
      break;
    }
    if (observer != nullptr &&
        !observer->KeepGoing(static_cast<double>(bins + 1) / static_cast<double>(planned),
                             latestMbps)) {
      run.stopped = true;
      ++bins;
      break;
    }
  }
  run.durationSeconds = static_cast<double>(bins) * kSampleMs / 1000.0;

  // The run's time is up: each connection ends at its next chance, or is left.
  for (Connection& connection : connections) {
    if (connection.started) connection.stream->Stop();
  }
  const LONGLONG graceEnds =
      PerformanceTicks() + static_cast<LONGLONG>(kStopGraceMs) * frequency / 1000;
  for (Connection& connection : connections) {
    while (connection.started && !connection.ended) {
      if (connection.worker.Wait(kSampleMs)) {
        connection.ended = true;
      } else if (PerformanceTicks() >= graceEnds) {
        connection.worker.GiveUp();
        connection.ended = true;
      }
    }
  }

  if (plan.direction != Direction::Download) {
    for (std::size_t i = both ? static_cast<std::size_t>(plan.streams) : 0; i < connections.size();
         ++i) {
      if (!connections[i].started) continue;
      const auto* upload = static_cast<const UploadStream*>(connections[i].stream.get());
      const std::vector<ULONGLONG> binned = BinBodies(upload->Bodies(), start, frequency, bins);
      for (std::size_t bin = 0; bin < bins; ++bin) run.samples[bin][i] = binned[bin];
    }
  }

  std::vector<ULONGLONG> aggregate(bins, 0);
  for (std::size_t bin = 0; bin < bins; ++bin) {
    for (const ULONGLONG bytes : run.samples[bin]) aggregate[bin] += bytes;
  }
  bool anyOpened = false;
  for (Connection& connection : connections) {
    ConnectionOutcome outcome;
    if (connection.started) {
      const StreamState state = connection.stream->State();
      outcome.opened = connection.stream->Opened();
      outcome.broke = IsOver(state) || connection.givenUp;
      outcome.endedAt = outcome.broke ? connection.endedAt : 0;
      outcome.failure =
          connection.givenUp ? "the connection stalled" : connection.stream->Failure();
    } else {
      outcome.broke = true;
      outcome.failure = "the connection could not be started";
    }
    anyOpened = anyOpened || outcome.opened;
    if (run.failure.empty() && !outcome.failure.empty()) run.failure = outcome.failure;
    run.connections.push_back(outcome);
  }
  if (!anyOpened) {
    run.result = THROUGHPUT_NOT_OPENED;
    return run;
  }
  run.startupSeconds = StartupSeconds(aggregate, plan.durationSeconds);
  const bool allBrokeEarly = std::all_of(
      run.connections.begin(), run.connections.end(), [&](const ConnectionOutcome& outcome) {
        return outcome.broke && outcome.endedAt <= run.startupSeconds;
      });
  if (allBrokeEarly && !run.stopped) {
    run.result = THROUGHPUT_ALL_BROKE;
    return run;
  }
  const auto first = static_cast<std::size_t>(std::llround(run.startupSeconds * 1000 / kSampleMs));
  ULONGLONG bytes = 0;
  for (std::size_t bin = first; bin < bins; ++bin) bytes += aggregate[bin];
  run.bytes = static_cast<double>(bytes);
  run.elapsed = std::max(0.0, run.durationSeconds - run.startupSeconds);
  run.result = run.elapsed > 0 ? run.bytes * 8 / 1e6 / run.elapsed : 0;
  run.failure.clear();  // what broke is in the connections
  return run;
}

std::string ThroughputResultsJson(const ThroughputPlan& plan, const ThroughputRun& run) {
  std::string json = "{\"measurement\": ";
  json += plan.direction == Direction::Download ? "\"download\""
          : plan.direction == Direction::Upload ? "\"upload\""
                                                : "\"load\"";
  json += ", \"url\": " + JsonString(plan.url);
  json += ", \"streams\": " + std::to_string(plan.streams);
  json += ", \"durationSeconds\": " + JsonNumber(plan.durationSeconds);
  json += ", \"result\": " + JsonNumber(run.result);
  if (!run.failure.empty()) json += ", \"failure\": " + JsonString(run.failure);
  json += ", \"cancelled\": ";
  json += run.stopped ? "true" : "false";
  json += ", \"startupSeconds\": " + JsonNumber(run.startupSeconds);
  json += ", \"bytes\": " + JsonNumber(run.bytes) + ", \"elapsed\": " + JsonNumber(run.elapsed);
  json += ", \"connections\": [";
  for (std::size_t i = 0; i < run.connections.size(); ++i) {
    const ConnectionOutcome& connection = run.connections[i];
    if (i > 0) json += ", ";
    json += "{\"opened\": ";
    json += connection.opened ? "true" : "false";
    json += ", \"broke\": ";
    json += connection.broke ? "true" : "false";
    if (connection.broke) json += ", \"endedAt\": " + JsonNumber(connection.endedAt);
    if (!connection.failure.empty()) json += ", \"failure\": " + JsonString(connection.failure);
    json += "}";
  }
  json += "], \"samples\": [";
  for (std::size_t bin = 0; bin < run.samples.size(); ++bin) {
    ULONGLONG total = 0;
    std::string each;
    for (std::size_t i = 0; i < run.samples[bin].size(); ++i) {
      total += run.samples[bin][i];
      if (i > 0) each += ", ";
      each += std::to_string(run.samples[bin][i]);
    }
    if (bin > 0) json += ", ";
    json += "{\"t\": " + JsonNumber(static_cast<double>(bin + 1) * kSampleMs / 1000.0);
    json += ", \"bytes\": " + std::to_string(total) + ", \"connections\": [" + each + "]}";
  }
  return json + "]}";
}

}  // namespace telvario
