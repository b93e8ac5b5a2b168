// Sonde2's runs as the client keeps them for its pictures and metrics: the Results record each
// run left, read into what the client draws and exports. Whatever a record lacks, or holds of a
// wrong kind, reads as unknown (NaN, empty), never as a failure of the reader.
#ifndef TELVARIO_CLI_RUN_RESULTS_H
#define TELVARIO_CLI_RUN_RESULTS_H

#include <optional>
#include <string>
#include <vector>

namespace telvario::cli {

// One 100 ms bin of a transfer: its end in seconds, and the bytes of all connections and of
// each in it.
struct ThroughputSample {
  double t = 0;
  double bytes = 0;
  std::vector<double> connections;
};

// A round trip: unknown (lost) when there is none.
struct LatencyProbe {
  std::string kind;   // responsiveness: echo, tcp, http
  std::string phase;  // responsiveness: idle, loaded
  double t = 0;       // seconds (latency: the offset at which it was sent)
  std::optional<double> rttMs;
};

struct RunResults {
  // "latency", "download", "upload", "responsiveness", or what else the record said.
  std::string measurement;
  std::string target;  // latency: the host; the others: the URL
  std::string peer;    // latency: the address answering
  std::string failure;
  std::string started;     // when the client began the run, as UTC text
  double startedUnix = 0;  // the same in seconds since 1970
  bool cancelled = false;
  double result = 0;  // ms, Mbit/s or RPM; negative when the run failed

  // latency
  double probes = 0, intervalMs = 0, packetSize = 0, sent = 0, received = 0, loss = 0;
  double min = 0, median = 0, mean = 0, p90 = 0, p99 = 0, max = 0, jitter = 0;
  // download and upload (and the load of responsiveness)
  double streams = 0, durationSeconds = 0, startupSeconds = 0, bytes = 0, elapsed = 0;
  double brokenConnections = 0;
  std::vector<ThroughputSample> samples;
  // responsiveness
  double idleLatency = 0, loadedLatency = 0, loadedLatencyP90 = 0, rpm = 0;
  std::vector<LatencyProbe> roundTrips;  // latency: every probe; responsiveness: its probes

  std::string record;  // the Results text itself

  // Whether the record could be read at all (a JSON object); `failure` says why not.
  bool readable = false;
};

// Reads the Results record of one run, begun at `startedUnix`.
RunResults ReadRunResults(const std::string& json, double startedUnix);

// The answered round trips of the probes of `phase` ("" for all), in ms.
std::vector<double> RoundTripsOf(const RunResults& run, const std::string& phase);

// Seconds since 1970 as "2026-12-08 14:03:07 UTC".
std::string UtcText(double unixSeconds);

}  // namespace telvario::cli

#endif
