#include "results_json.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "route_figures.h"

namespace telvario {
namespace {

using Json = nlohmann::ordered_json;

// Milliseconds and seconds to the microsecond; what is not a number is null.
Json Number(double value) {
  if (!std::isfinite(value)) return nullptr;
  const double rounded = std::round(value * 1000.0) / 1000.0;
  return rounded == 0 ? 0.0 : rounded;  // never "-0"
}

// Text as JSON holds it: bytes that are not UTF-8 are replaced rather than refused.
std::string Dump(const Json& record) {
  return record.dump(-1, ' ', false, Json::error_handler_t::replace);
}

const char* DirectionName(Direction direction) {
  switch (direction) {
    case Direction::Download:
      return "download";
    case Direction::Upload:
      return "upload";
    case Direction::Both:
      return "load";
  }
  return "";
}

const char* KindName(ProbeKind kind) {
  switch (kind) {
    case ProbeKind::Echo:
      return "echo";
    case ProbeKind::Tcp:
      return "tcp";
    case ProbeKind::Http:
      return "http";
  }
  return "";
}

void AddOutcome(Json& record, double result, const std::string& failure, bool cancelled) {
  record["result"] = Number(result);
  if (!failure.empty()) record["failure"] = failure;
  record["cancelled"] = cancelled;
}

Json ConnectionRecord(const ConnectionOutcome& connection) {
  Json record;
  record["direction"] = connection.download ? "download" : "upload";
  record["opened"] = connection.opened;
  record["broke"] = connection.broke;
  record["stalled"] = connection.stalled;
  if (connection.broke) record["endedAt"] = Number(connection.endedAt);
  if (!connection.failure.empty()) record["failure"] = connection.failure;
  return record;
}

// The load's part of a record: its start-up, figures, connections and samples.
void AddLoad(Json& record, const ThroughputRun& run) {
  const bool measured = run.result >= 0 && run.elapsed > 0;
  if (measured) {
    record["startupSeconds"] = Number(run.startupSeconds);
    record["startupSettled"] = run.startupSettled;
    record["bytes"] = static_cast<ULONGLONG>(run.bytes);
    record["elapsed"] = Number(run.elapsed);
  }
  if (!run.downloadFailure.empty()) record["downloadFailure"] = run.downloadFailure;
  if (!run.uploadFailure.empty()) record["uploadFailure"] = run.uploadFailure;
  Json connections = Json::array();
  for (const ConnectionOutcome& connection : run.connections) {
    connections.push_back(ConnectionRecord(connection));
  }
  record["connections"] = std::move(connections);
  Json samples = Json::array();
  for (std::size_t bin = 0; bin < run.samples.size(); ++bin) {
    ULONGLONG total = 0;
    for (const ULONGLONG bytes : run.samples[bin]) total += bytes;
    Json sample;
    sample["t"] = Number(static_cast<double>(bin + 1) * kSampleMs / 1000.0);
    sample["bytes"] = total;
    sample["connections"] = run.samples[bin];
    samples.push_back(std::move(sample));
  }
  record["samples"] = std::move(samples);
}

// The statistics of round trips a record gives where any was answered.
void AddStatistics(Json& record, const LatencyStatistics& s) {
  record["min"] = Number(s.min);
  record["median"] = Number(s.median);
  record["mean"] = Number(s.mean);
  record["p90"] = Number(s.p90);
  record["p99"] = Number(s.p99);
  record["max"] = Number(s.max);
  record["jitter"] = Number(s.jitter);
}

// A hop of a route: its own figures, what carries on from it, and their reading; the round
// trips where it answered at all.
Json HopRecord(const HopFigures& hop) {
  Json record;
  record["hop"] = hop.hop;
  if (!hop.address.empty()) record["address"] = hop.address;
  Json addresses = Json::array();
  for (const auto& [address, answers] : hop.addresses) {
    addresses.push_back({{"address", address}, {"answers", answers}});
  }
  record["addresses"] = std::move(addresses);
  if (!hop.name.empty()) record["name"] = hop.name;
  record["sent"] = hop.statistics.sent;
  record["received"] = hop.statistics.received;
  record["loss"] = Number(hop.statistics.loss);
  record["forwardLoss"] = Number(hop.forwardLoss);
  if (hop.statistics.received > 0) {
    AddStatistics(record, hop.statistics);
    record["last"] = Number(hop.lastMs);
    record["addedLatency"] = Number(hop.addedLatency);
  }
  if (!hop.reading.empty()) record["reading"] = hop.reading;
  return record;
}

Json ProbeRecord(const LatencyProbe& probe, const char* phase) {
  Json record;
  record["kind"] = KindName(probe.kind);
  record["phase"] = phase;
  record["t"] = Number(probe.atSeconds);
  record["rttMs"] = probe.answered ? Number(probe.roundTripMs) : Json(nullptr);
  return record;
}

}  // namespace

std::string LatencyResultsJson(const LatencyPlan& plan, const LatencyRun& run) {
  const LatencyStatistics& s = run.statistics;
  Json record;
  record["measurement"] = "latency";
  record["host"] = plan.host != nullptr ? plan.host : "";
  if (!run.peer.empty()) record["peer"] = run.peer;
  record["probes"] = plan.probes;
  record["intervalMs"] = plan.intervalMs;
  record["packetSize"] = plan.packetSize;
  AddOutcome(record, run.result, run.failure, run.stopped);
  record["sent"] = s.sent;
  record["received"] = s.received;
  if (s.sent > 0) record["loss"] = Number(s.loss);
  if (s.received > 0) AddStatistics(record, s);
  Json samples = Json::array();
  for (const LatencySample& sample : run.samples) {
    samples.push_back({{"sentMs", Number(sample.sendOffsetMs)},
                       {"rttMs", sample.answered ? Number(sample.roundTripMs) : Json(nullptr)}});
  }
  record["samples"] = std::move(samples);
  return Dump(record);
}

std::string ThroughputResultsJson(const ThroughputPlan& plan, const ThroughputRun& run) {
  Json record;
  record["measurement"] = DirectionName(plan.direction);
  record["url"] = plan.address.Shown();
  record["streams"] = plan.streams;
  record["durationSeconds"] = Number(plan.durationSeconds);
  AddOutcome(record, run.result, run.failure, run.stopped);
  AddLoad(record, run);
  return Dump(record);
}

std::string ResponsivenessResultsJson(const ResponsivenessPlan& plan,
                                      const ResponsivenessRun& run) {
  Json record;
  record["measurement"] = "responsiveness";
  record["url"] = plan.address.Shown();
  record["streams"] = plan.streams;
  record["durationSeconds"] = Number(plan.durationSeconds);
  record["upload"] = plan.withUpload;
  AddOutcome(record, run.result, run.failure, run.stopped);
  if (run.idleLatencyMs > 0) record["idleLatency"] = Number(run.idleLatencyMs);
  if (run.loadedLatencyMs > 0) record["loadedLatency"] = Number(run.loadedLatencyMs);
  if (run.loadedLatencyP90Ms > 0) record["loadedLatencyP90"] = Number(run.loadedLatencyP90Ms);
  if (run.rpm > 0) record["rpm"] = Number(run.rpm);
  if (run.load.result >= 0 && run.load.elapsed > 0) record["throughput"] = Number(run.load.result);
  Json probes = Json::array();
  for (const LatencyProbe& probe : run.idleProbes) probes.push_back(ProbeRecord(probe, "idle"));
  // Loaded probes sent in the load's start-up are marked so, as the statistics leave them out.
  const bool startupLeftOut = ProbesAfterStartup(run.loadedProbes, run.load.startupSeconds).size() <
                              run.loadedProbes.size();
  for (const LatencyProbe& probe : run.loadedProbes) {
    const bool inStartup = startupLeftOut && probe.atSeconds < run.load.startupSeconds;
    probes.push_back(ProbeRecord(probe, inStartup ? "startup" : "loaded"));
  }
  record["probes"] = std::move(probes);
  AddLoad(record, run.load);
  return Dump(record);
}

std::string RouteResultsJson(const RoutePlan& plan, const RouteRun& run) {
  Json record;
  record["measurement"] = "route";
  record["host"] = plan.host != nullptr ? plan.host : "";
  if (!run.peer.empty()) record["peer"] = run.peer;
  record["probes"] = plan.probes;
  record["intervalMs"] = plan.intervalMs;
  record["packetSize"] = plan.packetSize;
  record["maxHops"] = plan.maxHops;
  record["resolveNames"] = plan.resolveNames;
  AddOutcome(record, run.result, run.failure, run.stopped);
  if (!run.end.empty()) record["end"] = run.end;
  Json hops = Json::array();
  for (const HopFigures& hop : run.hops) hops.push_back(HopRecord(hop));
  record["hops"] = std::move(hops);
  Json samples = Json::array();
  for (const RouteProbe& probe : run.probes) {
    Json sample = {
        {"round", probe.round}, {"ttl", probe.ttl}, {"sentMs", Number(probe.sample.sendOffsetMs)}};
    if (probe.sample.answered) {
      sample["address"] = probe.answer.address;
      sample["answer"] = AnswerKind(run.family, probe.answer.status);
    }
    sample["rttMs"] = probe.sample.answered ? Number(probe.sample.roundTripMs) : Json(nullptr);
    samples.push_back(std::move(sample));
  }
  record["samples"] = std::move(samples);
  return Dump(record);
}

std::string RefusedResultsJson(const char* measurement, const std::string& address, double result,
                               const std::string& failure) {
  Json record;
  record["measurement"] = measurement;
  record["url"] = ShownAddress(address);
  AddOutcome(record, result, failure, false);
  return Dump(record);
}

}  // namespace telvario
