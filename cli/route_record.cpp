// The record of Route: the plan, the outcome, how the route ended and each hop's figures.
#include "record_fields.h"
#include "results_records.h"

namespace telvario::cli {
namespace {

void ReadRoundTrips(const RecordFields& fields, HopRecord& hop) {
  hop.last = fields.Number("last");
  hop.min = fields.Number("min");
  hop.median = fields.Number("median");
  hop.mean = fields.Number("mean");
  hop.p90 = fields.Number("p90");
  hop.max = fields.Number("max");
  hop.jitter = fields.Number("jitter");
  hop.addedLatency = fields.Number("addedLatency");
}

HopRecord ReadHop(const nlohmann::json& item, const std::string& where) {
  const RecordFields fields(item, where);
  HopRecord hop;
  hop.hop = fields.RequiredNumber("hop");
  hop.address = fields.Text("address");
  fields.EachItem("addresses", "address",
                  [&hop](const nlohmann::json& entry, const std::string& place) {
                    hop.addresses.push_back(RecordFields(entry, place).Text("address"));
                  });
  hop.name = fields.Text("name");
  hop.sent = fields.Number("sent");
  hop.received = fields.Number("received");
  hop.loss = fields.Number("loss");
  hop.forwardLoss = fields.Number("forwardLoss");
  // A hop that never answered has no round trip, whatever the record says.
  if (hop.received.value_or(0) > 0) ReadRoundTrips(fields, hop);
  hop.reading = fields.Text("reading");
  return hop;
}

}  // namespace

RouteRecord ReadRouteRecord(const nlohmann::json& record) {
  const RecordFields fields(record, "the route record");
  RouteRecord route;
  route.host = fields.Text("host");
  route.peer = fields.Text("peer");
  route.probes = fields.Number("probes");
  route.intervalMs = fields.Number("intervalMs");
  route.packetSize = fields.Number("packetSize");
  route.maxHops = fields.Number("maxHops");
  route.outcome = fields.Outcome();
  route.end = fields.Text("end");
  fields.EachItem("hops", "hop", [&route](const nlohmann::json& item, const std::string& where) {
    route.hops.push_back(ReadHop(item, where));
  });
  return route;
}

}  // namespace telvario::cli
