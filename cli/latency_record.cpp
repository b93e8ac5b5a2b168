// The record of Latency: the plan, the outcome, the statistics and every request sent.
#include "record_fields.h"
#include "results_records.h"

namespace telvario::cli {
namespace {

RoundTrip ReadSample(const nlohmann::json& item, const std::string& where) {
  const RecordFields sample(item, where);
  RoundTrip trip;
  trip.kind = "echo";
  trip.t = sample.Number("sentMs").value_or(0) / 1000;
  trip.rttMs = sample.Number("rttMs");
  if (trip.rttMs && *trip.rttMs < 0) throw BadRecord(where + ": \"rttMs\" is below 0");
  return trip;
}

// A failed run measured no round trip; its loss means something once a request went out.
void ForgetUnmeasured(LatencyRecord& latency) {
  if (latency.outcome.Succeeded()) return;
  if (!(latency.sent.value_or(0) > 0)) latency.loss.reset();
  if (latency.received.value_or(0) > 0) return;
  for (std::optional<double>* figure : {&latency.min, &latency.median, &latency.mean, &latency.p90,
                                        &latency.p99, &latency.max, &latency.jitter}) {
    figure->reset();
  }
}

}  // namespace

LatencyRecord ReadLatencyRecord(const nlohmann::json& record) {
  const RecordFields fields(record, "the latency record");
  LatencyRecord latency;
  latency.host = fields.Text("host");
  latency.peer = fields.Text("peer");
  latency.probes = fields.Number("probes");
  latency.intervalMs = fields.Number("intervalMs");
  latency.packetSize = fields.Number("packetSize");
  latency.outcome = fields.Outcome();
  latency.sent = fields.Number("sent");
  latency.received = fields.Number("received");
  latency.loss = fields.Number("loss");
  latency.min = fields.Number("min");
  latency.median = fields.Number("median");
  latency.mean = fields.Number("mean");
  latency.p90 = fields.Number("p90");
  latency.p99 = fields.Number("p99");
  latency.max = fields.Number("max");
  latency.jitter = fields.Number("jitter");
  fields.EachItem("samples", "sample",
                  [&latency](const nlohmann::json& item, const std::string& where) {
                    latency.samples.push_back(ReadSample(item, where));
                  });
  ForgetUnmeasured(latency);
  return latency;
}

}  // namespace telvario::cli
