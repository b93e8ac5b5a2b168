#include "target_addresses.h"

#include <cmath>
#include <string>

#include "config_values.h"

namespace telvario::exporter {
namespace {

std::vector<ResolvedAddress> AddressesOf(const ExporterConfig& config,
                                         const LatencyTarget& target) {
  const int family = target.family == 4 ? AF_INET : target.family == 6 ? AF_INET6 : AF_UNSPEC;
  std::vector<ResolvedAddress> found;
  const std::string where =
      config.file + ":" + std::to_string(target.line) + ": target " + Quoted(target.target);
  switch (LookUpAddresses(target.target.c_str(), family, &found)) {
    case LookupEnd::Found:
      break;
    case LookupEnd::NoData:
      throw ConfigError(where + " has no " +
                        (target.family == 0 ? "" : "IPv" + std::to_string(target.family) + " ") +
                        "address");
    case LookupEnd::Failed:
      throw ConfigError(where + " does not resolve");
  }
  // The first address of each family, as ping takes the first.
  std::vector<ResolvedAddress> chosen;
  for (const int each : {AF_INET, AF_INET6}) {
    for (const ResolvedAddress& address : found) {
      if (address.family != each) continue;
      chosen.push_back(address);
      break;
    }
  }
  return chosen;
}

}  // namespace

LatencyPlan ResolveLatency(const ExporterConfig& config) {
  LatencyPlan plan;
  for (const LatencyTarget& target : config.latency) {
    for (const ResolvedAddress& address : AddressesOf(config, target)) {
      SweepTarget sweep;
      sweep.peer = address;
      sweep.intervalMs = static_cast<DWORD>(std::lround(target.intervalSeconds * 1000));
      sweep.dataSize = static_cast<WORD>(target.packetSize);
      plan.sweep.push_back(sweep);
      LatencySeries series;
      series.target = target.target;
      series.family = address.family == AF_INET6 ? 6 : 4;
      series.address = address.text;
      series.counts.bounds = target.buckets;
      plan.series.push_back(std::move(series));
    }
  }
  return plan;
}

}  // namespace telvario::exporter
