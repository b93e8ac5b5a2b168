#include "run_results.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

#include "json_reader.h"

namespace telvario::cli {
namespace {

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

double NumberOf(const JsonValue& record, const char* name) {
  return record[name].Number(kUnknown);
}

std::vector<ThroughputSample> SamplesOf(const JsonValue& record) {
  std::vector<ThroughputSample> samples;
  for (const JsonValue& item : record["samples"].Items()) {
    ThroughputSample sample;
    sample.t = item["t"].Number(kUnknown);
    sample.bytes = item["bytes"].Number(kUnknown);
    for (const JsonValue& each : item["connections"].Items()) {
      sample.connections.push_back(each.Number(kUnknown));
    }
    if (std::isfinite(sample.t) && std::isfinite(sample.bytes)) samples.push_back(sample);
  }
  return samples;
}

std::optional<double> RoundTrip(const JsonValue& value) {
  const double ms = value.Number(kUnknown);
  if (!std::isfinite(ms) || ms < 0) return std::nullopt;
  return ms;
}

}  // namespace

RunResults ReadRunResults(const std::string& json, double startedUnix) {
  RunResults run;
  run.startedUnix = startedUnix;
  run.started = UtcText(startedUnix);
  run.record = json;
  std::string error;
  const std::optional<JsonValue> parsed = ParseJson(json, &error);
  if (!parsed || parsed->kind() != JsonValue::Kind::Object) {
    run.failure = parsed ? "the Results record is not a JSON object"
                         : "the Results record cannot be read: " + error;
    run.result = kUnknown;
    return run;
  }
  const JsonValue& record = *parsed;
  run.readable = true;
  run.measurement = record["measurement"].Text();
  run.target = record[run.measurement == "latency" ? "host" : "url"].Text();
  run.peer = record["peer"].Text();
  run.failure = record["failure"].Text();
  run.cancelled = record["cancelled"].Bool(false);
  run.result = NumberOf(record, "result");

  run.probes = NumberOf(record, "probes");
  run.intervalMs = NumberOf(record, "intervalMs");
  run.packetSize = NumberOf(record, "packetSize");
  run.sent = NumberOf(record, "sent");
  run.received = NumberOf(record, "received");
  run.loss = NumberOf(record, "loss");
  run.min = NumberOf(record, "min");
  run.median = NumberOf(record, "median");
  run.mean = NumberOf(record, "mean");
  run.p90 = NumberOf(record, "p90");
  run.p99 = NumberOf(record, "p99");
  run.max = NumberOf(record, "max");
  run.jitter = NumberOf(record, "jitter");

  run.streams = NumberOf(record, "streams");
  run.durationSeconds = NumberOf(record, "durationSeconds");
  run.startupSeconds = NumberOf(record, "startupSeconds");
  run.bytes = NumberOf(record, "bytes");
  run.elapsed = NumberOf(record, "elapsed");
  run.brokenConnections = 0;
  for (const JsonValue& connection : record["connections"].Items()) {
    if (connection["broke"].Bool(false)) ++run.brokenConnections;
  }
  run.samples = SamplesOf(record);

  run.idleLatency = NumberOf(record, "idleLatency");
  run.loadedLatency = NumberOf(record, "loadedLatency");
  run.loadedLatencyP90 = NumberOf(record, "loadedLatencyP90");
  run.rpm = NumberOf(record, "rpm");

  if (run.measurement == "latency") {
    for (const JsonValue& item : record["samples"].Items()) {
      LatencyProbe probe;
      probe.kind = "echo";
      probe.t = item["sentMs"].Number(kUnknown) / 1000;
      probe.rttMs = RoundTrip(item["rttMs"]);
      run.roundTrips.push_back(probe);
    }
  } else {
    for (const JsonValue& item : record["probes"].Items()) {
      LatencyProbe probe;
      probe.kind = item["kind"].Text();
      probe.phase = item["phase"].Text();
      probe.t = item["t"].Number(kUnknown);
      probe.rttMs = RoundTrip(item["rttMs"]);
      run.roundTrips.push_back(probe);
    }
  }
  return run;
}

std::vector<double> RoundTripsOf(const RunResults& run, const std::string& phase) {
  std::vector<double> rtts;
  for (const LatencyProbe& probe : run.roundTrips) {
    if (probe.rttMs && (phase.empty() || probe.phase == phase)) rtts.push_back(*probe.rttMs);
  }
  return rtts;
}

std::string UtcText(double unixSeconds) {
  if (!std::isfinite(unixSeconds) || unixSeconds < 0 || unixSeconds > 32503680000.0) return "";
  const auto when = static_cast<std::time_t>(unixSeconds);
  // The client draws on one thread: gmtime's shared result is not raced for.
  const std::tm* utc = std::gmtime(&when);
  if (utc == nullptr) return "";
  char text[40];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc) == 0) return "";
  return text;
}

}  // namespace telvario::cli
