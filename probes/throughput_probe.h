// The throughput engine: several connections at once for a bounded time, downwards (each
// fetching the URL again and again) or upwards (each sending POST bodies), sampled every 100 ms.
// The rate leaves out the start-up, the time before the aggregate rate settles:
//   the start-up ends at the first 100 ms mark t from 1 s on, and at least half a second before
//   the run's end, at which the rate over the last half second is within 10% of the rate over
//   the half second before it; where it never settles, the first half of the run (or its first
//   second, in a run of 2 s) is the start-up.
// The rate is the bytes counted after the start-up over the time after it, in Mbit/s (10^6
// bits a second). An upload counts a body once its response has come (the server has all of
// it), spread over the time the body took, so that bytes still in this machine's buffers
// never count.
#ifndef TELVARIO_PROBES_THROUGHPUT_PROBE_H
#define TELVARIO_PROBES_THROUGHPUT_PROBE_H

#include <string>
#include <vector>

#include "windows_api.h"

namespace telvario {

constexpr double THROUGHPUT_CANNOT_START = -1;  // not http or https, or no session
constexpr double THROUGHPUT_NOT_OPENED = -2;    // no connection opened, or an error status
constexpr double THROUGHPUT_ALL_BROKE = -4;     // every connection broke in the start-up

constexpr LONG kDefaultStreams = 4;
constexpr LONG kMostStreams = 32;
constexpr double kDefaultDurationSeconds = 10;
constexpr double kLeastDurationSeconds = 2;
constexpr double kMostDurationSeconds = 60;
constexpr DWORD kSampleMs = 100;
// After the run's time, how long the connections are given to end before they are left.
constexpr DWORD kStopGraceMs = 10000;

// Both: Streams connections each way at once, as a load (for latency under it); the rate is
// then of both together.
enum class Direction { Download, Upload, Both };

struct ThroughputPlan {
  std::string url;
  Direction direction = Direction::Download;
  LONG streams = kDefaultStreams;
  double durationSeconds = kDefaultDurationSeconds;
};

// Told of every sample; false ends the run at once with what it has.
class ThroughputObserver {
 public:
  virtual ~ThroughputObserver() = default;
  virtual bool KeepGoing(double fraction, double latestMbps) = 0;
};

// What runs beside the load on the caller's thread: told of each sample, and waiting between
// them in its own way (the echo probes' answers come in alertable waits).
class LoadCompanion {
 public:
  virtual ~LoadCompanion() = default;
  // A sample `seconds` into the run, with the rate of the last half second.
  virtual void Sample(double seconds, double latestMbps) = 0;
  // Until the performance counter reaches `due`.
  virtual void WaitUntil(LONGLONG due) = 0;
};

struct ConnectionOutcome {
  bool opened = false;  // the server answered it with a success
  bool broke = false;   // it ended before the run did
  double endedAt = 0;   // seconds into the run, where it broke
  std::string failure;
};

struct ThroughputRun {
  double result = 0;   // Mbit/s, or a negative code
  double bytes = 0;    // counted after the start-up
  double elapsed = 0;  // seconds after the start-up
  double startupSeconds = 0;
  double durationSeconds = 0;                   // the run's own length (shorter when stopped)
  std::vector<std::vector<ULONGLONG>> samples;  // bytes of each connection in each 100 ms
  std::vector<ConnectionOutcome> connections;
  std::string failure;
  bool stopped = false;
};

ThroughputRun MeasureThroughput(const ThroughputPlan& plan, ThroughputObserver* observer = nullptr,
                                LoadCompanion* companion = nullptr);

// The end of the start-up in seconds, for aggregate bytes per 100 ms of a run planned to last
// `plannedSeconds` (the rule above).
double StartupSeconds(const std::vector<ULONGLONG>& aggregate, double plannedSeconds);

// The JSON of a run: the plan, the result and every sample, aggregate and per connection.
std::string ThroughputResultsJson(const ThroughputPlan& plan, const ThroughputRun& run);

}  // namespace telvario

#endif
