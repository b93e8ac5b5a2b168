// The throughput engine: several connections at once for a bounded time, downwards (each
// fetching the URL again and again) or upwards (each sending POST bodies), sampled every
// kSampleMs. The rate leaves out the start-up, the time before the aggregate rate settles:
//   the start-up ends at the first 100 ms mark t from 1 s on, and at least half a second before
//   the run's end, at which the rate over the last half second is within 10% of the rate over
//   the half second before it; where it never settles, the first half of the run (or its first
//   second, in a run of 2 s) is the start-up; in a run cancelled before it settled, the first
//   half of the run as it went.
// The rate is the bytes counted after the start-up over the time after it, in Mbit/s (10^6
// bits a second). An upload counts a body once its response has come (the server has all of
// it), spread over the time the body took, so that bytes still in this machine's buffers
// never count.
// Bounds: downloads end when the run's time is up (their connections closed under them); an
// upload's body still on its way is given kStopGraceMs to be answered; a cancel ends everything
// within kCancelGraceMs. What is still running then is closed under its worker and left to end.
#ifndef TELVARIO_PROBES_THROUGHPUT_PROBE_H
#define TELVARIO_PROBES_THROUGHPUT_PROBE_H

#include <string>
#include <vector>

#include "run_timing.h"
#include "sonde2_codes.h"
#include "web_address.h"
#include "windows_api.h"

namespace telvario {

// Both: Streams connections each way at once, as a load (for latency under it); the rate is
// then of both together.
enum class Direction { Download, Upload, Both };

struct ThroughputPlan {
  WebAddress address;  // read and checked; an http or https address
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

// What runs beside the load: told of each sample, `seconds` into the run, with the rate of the
// last half second.
class LoadCompanion {
 public:
  virtual ~LoadCompanion() = default;
  virtual void Sample(double seconds, double latestMbps) = 0;
};

struct ConnectionOutcome {
  bool download = true;
  bool opened = false;    // the server answered it with a success
  bool broke = false;     // it ended before the run did, or stalled
  bool stalled = false;   // it stopped moving: less than kStallLeastBytes in the stall window
  bool tooSmall = false;  // it ended on bodies too small to measure a rate
  double endedAt = 0;     // seconds into the run, where it broke or stalled
  std::string failure;
};

struct ThroughputRun {
  double result = 0;   // Mbit/s, or a ThroughputResult
  double bytes = 0;    // counted after the start-up
  double elapsed = 0;  // seconds after the start-up
  double startupSeconds = 0;
  bool startupSettled = false;
  double durationSeconds = 0;                   // the run's own length (shorter when stopped)
  std::vector<std::vector<ULONGLONG>> samples;  // bytes of each connection in each 100 ms
  std::vector<ConnectionOutcome> connections;
  std::string failure;          // why the run failed, where it did
  std::string downloadFailure;  // in a load of both directions, why each failed
  std::string uploadFailure;
  bool stopped = false;
};

ThroughputRun MeasureThroughput(const ThroughputPlan& plan, ThroughputObserver* observer = nullptr,
                                LoadCompanion* companion = nullptr);

// The end of the start-up in seconds, for aggregate bytes per 100 ms of a run planned to last
// `plannedSeconds` (the rule above); `settled` says whether the rate settled.
double StartupSeconds(const std::vector<ULONGLONG>& aggregate, double plannedSeconds,
                      bool* settled = nullptr);

// Upload bodies into 100 ms bins from `start` (performance counter ticks at `frequency`): each
// body's bytes spread evenly over the time it took, in whole bytes that add up to the body.
struct CompletedBody;
std::vector<ULONGLONG> BinBodies(const std::vector<CompletedBody>& bodies, LONGLONG start,
                                 LONGLONG frequency, std::size_t bins);

}  // namespace telvario

#endif
