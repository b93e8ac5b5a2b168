// The record of Responsiveness: the figures, every probe idle and loaded, and the load's body.
#include <algorithm>

#include "record_fields.h"
#include "results_records.h"
#include "transfer_record.h"

namespace telvario::cli {
namespace {

RoundTrip ReadProbe(const nlohmann::json& item, const std::string& where) {
  const RecordFields fields(item, where);
  RoundTrip probe;
  probe.kind = fields.Text("kind");
  probe.phase = fields.Text("phase");
  probe.t = fields.Number("t").value_or(0);
  probe.rttMs = fields.Number("rttMs");
  if (probe.rttMs && *probe.rttMs < 0) throw BadRecord(where + ": \"rttMs\" is below 0");
  return probe;
}

bool AnyEchoAnswered(const ResponsivenessRecord& run, const char* phase) {
  return std::any_of(run.probes.begin(), run.probes.end(), [phase](const RoundTrip& probe) {
    return probe.kind == "echo" && probe.phase == phase && probe.rttMs.has_value();
  });
}

// Why no connection of one direction of a load opened, or "" when one did.
std::string DirectionFailure(const std::vector<ConnectionRecord>& connections, const char* way) {
  if (connections.empty()) return "";
  if (std::any_of(connections.begin(), connections.end(),
                  [](const ConnectionRecord& c) { return c.opened; })) {
    return "";
  }
  const std::string why = connections.front().failure;
  return std::string("no ") + way + " connection was opened" +
         (why.empty() ? "" : " (" + why + ")");
}

// A component that does not name a failed direction of a load both ways still shows it: each
// connection names its direction (or, in older records, the downloads come first, then as many
// uploads).
void FindFailedDirections(ResponsivenessRecord& run) {
  const std::vector<ConnectionRecord>& all = run.load.connections;
  if (!run.upload || !run.outcome.Succeeded() || all.empty()) return;
  std::vector<ConnectionRecord> downloads, uploads;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const bool named = !all[i].direction.empty();
    const bool download = named ? all[i].direction == "download" : i < all.size() / 2;
    (download ? downloads : uploads).push_back(all[i]);
  }
  if (run.downloadFailure.empty()) run.downloadFailure = DirectionFailure(downloads, "download");
  if (run.uploadFailure.empty()) run.uploadFailure = DirectionFailure(uploads, "upload");
}

// Round trips no probe measured, and a failed run's figures of a load that never was.
void ForgetUnmeasured(ResponsivenessRecord& run) {
  if (!AnyEchoAnswered(run, "idle")) run.idleLatency.reset();
  if (!AnyEchoAnswered(run, "loaded")) {
    run.loadedLatency.reset();
    run.loadedLatencyP90.reset();
  }
  if (run.rpm && !(*run.rpm > 0)) run.rpm.reset();
  if (run.outcome.Succeeded()) return;
  for (std::optional<double>* figure :
       {&run.rpm, &run.loadedLatency, &run.loadedLatencyP90, &run.throughput}) {
    figure->reset();
  }
}

}  // namespace

ResponsivenessRecord ReadResponsivenessRecord(const nlohmann::json& record) {
  const RecordFields fields(record, "the responsiveness record");
  ResponsivenessRecord run;
  run.url = fields.Text("url");
  run.streams = fields.Number("streams");
  run.durationSeconds = fields.Number("durationSeconds");
  run.upload = fields.Flag("upload");
  run.outcome = fields.Outcome();
  run.downloadFailure = fields.Text("downloadFailure");
  run.uploadFailure = fields.Text("uploadFailure");
  run.idleLatency = fields.Number("idleLatency");
  run.loadedLatency = fields.Number("loadedLatency");
  run.loadedLatencyP90 = fields.Number("loadedLatencyP90");
  run.rpm = fields.Number("rpm");
  run.throughput = fields.Number("throughput");
  fields.EachItem("probes", "probe", [&run](const nlohmann::json& item, const std::string& where) {
    run.probes.push_back(ReadProbe(item, where));
  });
  run.load.measurement = "load";
  run.load.url = run.url;
  run.load.streams = run.streams;
  run.load.durationSeconds = run.durationSeconds;
  run.load.outcome = {run.throughput, "", run.outcome.cancelled};
  ReadTransferBody(fields, run.load);
  FindFailedDirections(run);
  ForgetUnmeasured(run);
  return run;
}

}  // namespace telvario::cli
