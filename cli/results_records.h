// What the client reads from each kind of Results record Sonde2 writes: latency; download and
// upload (and "load", the load inside a responsiveness record); responsiveness; route. One struct
// per kind, each read by a reader that refuses a record not of that form. Every figure is optional:
// a run leaves out what it did not measure, and the readers drop what the component still writes
// for a failed run although nothing was measured (a zero loss of no request sent, the RPM of a
// load the server refused).
#ifndef TELVARIO_CLI_RESULTS_RECORDS_H
#define TELVARIO_CLI_RESULTS_RECORDS_H

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace telvario::cli {

// What became of a run: every kind has it.
struct RunOutcome {
  std::optional<double> result;  // ms, Mbit/s or RPM; negative: the run failed with that code
  std::string failure;
  bool cancelled = false;

  bool Succeeded() const { return result.has_value() && *result >= 0; }
};

// A round trip: none (lost) when it got no answer.
struct RoundTrip {
  std::string kind;   // echo (a latency run's only kind), tcp, http
  std::string phase;  // responsiveness: idle, startup, loaded
  double t = 0;       // seconds into the run (latency: when the request was sent)
  std::optional<double> rttMs;
};

struct LatencyRecord {
  std::string host;
  std::string peer;  // the address answering
  std::optional<double> probes, intervalMs, packetSize;
  RunOutcome outcome;
  std::optional<double> sent, received, loss;
  std::optional<double> min, median, mean, p90, p99, max, jitter;  // ms
  std::vector<RoundTrip> samples;
};

// One hop of a route: its own figures, and what carries on from it. The round trips are there
// where the hop answered at all.
struct HopRecord {
  double hop = 0;
  std::string address;                 // the address that answered most; "" where none did
  std::vector<std::string> addresses;  // every one, most answers first
  std::string name;                    // where names were asked for and found
  std::optional<double> sent, received, loss, forwardLoss;
  std::optional<double> last, min, median, mean, p90, max, jitter, addedLatency;  // ms
  std::string reading;  // what its own figures do not mean; "" where nothing is to be said
};

struct RouteRecord {
  std::string host;
  std::string peer;  // the destination's address
  std::optional<double> probes, intervalMs, packetSize, maxHops;
  RunOutcome outcome;
  std::string end;  // "destination", an unreachable's kind, or "" where it did not end
  std::vector<HopRecord> hops;
};

struct ConnectionRecord {
  std::string direction;  // download, upload; "" where the record does not say
  bool opened = false;
  bool broke = false;
  bool stalled = false;
  std::optional<double> endedAt;
  std::string failure;
};

// One 100 ms bin: its end in seconds, and the bytes of all connections and of each in it.
struct ThroughputSample {
  double t = 0;
  double bytes = 0;
  std::vector<double> connections;
};

struct TransferRecord {
  std::string measurement;  // download, upload or load
  std::string url;
  std::optional<double> streams, durationSeconds;
  RunOutcome outcome;
  std::optional<double> startupSeconds, bytes, elapsed;
  std::vector<ConnectionRecord> connections;
  std::vector<ThroughputSample> samples;

  double BrokenConnections() const;
  // Whether it gave a rate: a result, and figures behind it unless nothing went wrong (a run
  // refused before it began gives 0 and says why).
  bool Measured() const;
};

struct ResponsivenessRecord {
  std::string url;
  std::optional<double> streams, durationSeconds;
  bool upload = false;  // the load went both ways
  RunOutcome outcome;
  // Where one direction of a load both ways failed while the other carried it.
  std::string downloadFailure, uploadFailure;
  std::optional<double> idleLatency, loadedLatency, loadedLatencyP90, rpm, throughput;
  std::vector<RoundTrip> probes;
  TransferRecord load;  // its start-up, connections and samples, as a download's
};

// Each reads a parsed record of its kind; a record not of that form throws BadRecord.
LatencyRecord ReadLatencyRecord(const nlohmann::json& record);
TransferRecord ReadTransferRecord(const nlohmann::json& record);
ResponsivenessRecord ReadResponsivenessRecord(const nlohmann::json& record);
RouteRecord ReadRouteRecord(const nlohmann::json& record);

}  // namespace telvario::cli

#endif
