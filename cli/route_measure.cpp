// `telvario route HOST`: Sonde2's Route, its hops as a table redrawn while it runs and printed at
// its end, or in JSON as the members give them.
#include <CLI/CLI.hpp>

#include "automation_text.h"
#include "commands.h"
#include "option_values.h"
#include "result_codes.h"
#include "route_table.h"
#include "run_output.h"
#include "setting_bounds.h"
#include "sonde2_run.h"
#include "standard_output.h"

namespace telvario::cli {
namespace {

struct RouteOptions {
  std::optional<long> probes;
  std::optional<long> intervalMs;
  std::optional<long> maxHops;
  long family = 0;  // 0, 4 or 6
  bool names = false;
};

void Set(HRESULT put, const char* option, const SettingBounds& bounds) {
  if (put != S_OK) throw UsageError(std::string(option) + " " + bounds.Range());
}

template <typename Get>
std::string TextMember(Get get) {
  BSTR text = nullptr;
  get(&text);
  std::string narrow = Narrow(text);
  SysFreeString(text);
  return narrow;
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    items.push_back(list.substr(at, comma - at));
    at = comma + 1;
  }
  return items;
}

// A figure of hop `i` by its member.
template <typename Get>
double HopMember(ISonde2& sonde, LONG i, Get get) {
  double figure = 0;
  (sonde.*get)(i, &figure);
  return figure;
}

template <typename Get>
LONG HopCount(ISonde2& sonde, LONG i, Get get) {
  LONG count = 0;
  (sonde.*get)(i, &count);
  return count;
}

// A hop as its members give it; a hop that never answered has no round trip to give.
HopRecord ReadHopMembers(ISonde2& sonde, LONG i) {
  HopRecord hop;
  hop.hop = i;
  hop.address = TextMember([&](BSTR* text) { return sonde.get_HopAddress(i, text); });
  hop.addresses =
      SplitList(TextMember([&](BSTR* text) { return sonde.get_HopAddresses(i, text); }));
  hop.name = TextMember([&](BSTR* text) { return sonde.get_HopName(i, text); });
  hop.reading = TextMember([&](BSTR* text) { return sonde.get_HopReading(i, text); });
  hop.sent = HopCount(sonde, i, &ISonde2::get_HopSent);
  hop.received = HopCount(sonde, i, &ISonde2::get_HopReceived);
  hop.loss = HopMember(sonde, i, &ISonde2::get_HopLoss);
  hop.forwardLoss = HopMember(sonde, i, &ISonde2::get_HopForwardLoss);
  if (*hop.received > 0) {
    hop.last = HopMember(sonde, i, &ISonde2::get_HopLatencyLast);
    hop.min = HopMember(sonde, i, &ISonde2::get_HopLatencyMin);
    hop.median = HopMember(sonde, i, &ISonde2::get_HopLatencyMedian);
    hop.mean = HopMember(sonde, i, &ISonde2::get_HopLatencyMean);
    hop.p90 = HopMember(sonde, i, &ISonde2::get_HopLatencyP90);
    hop.max = HopMember(sonde, i, &ISonde2::get_HopLatencyMax);
    hop.jitter = HopMember(sonde, i, &ISonde2::get_HopJitter);
    hop.addedLatency = HopMember(sonde, i, &ISonde2::get_HopAddedLatency);
  }
  return hop;
}

std::vector<HopRecord> ReadRouteMembers(ISonde2& sonde) {
  LONG hops = 0;
  sonde.get_Hops(&hops);
  std::vector<HopRecord> route;
  for (LONG i = 1; i <= hops; ++i) route.push_back(ReadHopMembers(sonde, i));
  return route;
}

// A hop under its members' names, the Hop prefix left out.
Report HopReport(const HopRecord& hop, bool names) {
  Report report;
  report.Add("Hop", hop.hop);
  report.Add("Address", hop.address);
  report.Add("Addresses", hop.addresses);
  if (names) report.Add("Name", hop.name);
  report.Add("Sent", hop.sent);
  report.Add("Received", hop.received);
  report.Add("Loss", hop.loss);
  report.Add("LatencyLast", hop.last);
  report.Add("LatencyMin", hop.min);
  report.Add("LatencyMedian", hop.median);
  report.Add("LatencyMean", hop.mean);
  report.Add("LatencyP90", hop.p90);
  report.Add("LatencyMax", hop.max);
  report.Add("Jitter", hop.jitter);
  report.Add("ForwardLoss", hop.forwardLoss);
  report.Add("AddedLatency", hop.addedLatency);
  if (!hop.reading.empty()) report.Add("Reading", hop.reading);
  return report;
}

void Apply(ISonde2& sonde, const RouteOptions& options) {
  if (options.probes)
    Set(sonde.put_Probes(static_cast<LONG>(*options.probes)), "--probes", kProbesBounds);
  if (options.intervalMs) {
    Set(sonde.put_ProbeInterval(static_cast<LONG>(*options.intervalMs)), "--interval",
        kProbeIntervalBounds);
  }
  if (options.maxHops)
    Set(sonde.put_MaxHops(static_cast<LONG>(*options.maxHops)), "--max-hops", kMaxHopsBounds);
  sonde.put_Family(static_cast<LONG>(options.family));
  sonde.put_ResolveHopNames(options.names ? VARIANT_TRUE : VARIANT_FALSE);
}

class RouteCommand final : public Command {
 public:
  std::string host;
  RouteOptions options;
  RunOutput output;

  bool NeedsSonde2() const override { return true; }
  bool SendsEcho() const override { return true; }
  void Prepare(const CommonOptions& common) override {
    output.Prepare(common.json);
    json_ = common.json;
  }

  int Run(Session& session) override {
    ISonde2& sonde = session.Sonde2();
    Apply(sonde, options);
    BSTR name = ToBstr(host);
    LONG result = 0;
    Sonde2Run measuring(sonde, "tracing the route to " + host, [&sonde](std::size_t columns) {
      return RouteTableLines(ReadRouteMembers(sonde), columns);
    });
    sonde.Route(name, &result);
    std::vector<RunResults> runs;
    if (std::optional<RunResults> run = measuring.Finish("route")) runs.push_back(*run);
    SysFreeString(name);

    const std::vector<HopRecord> hops = ReadRouteMembers(sonde);
    Report report;
    report.Add("Route", static_cast<long long>(result));
    report.Add("RouteEnd", TextMember([&](BSTR* text) { return sonde.get_RouteEnd(text); }));
    report.Add("PeerAddress", TextMember([&](BSTR* text) { return sonde.get_PeerAddress(text); }));
    if (json_) {
      std::vector<Report> sections;
      for (const HopRecord& hop : hops) sections.push_back(HopReport(hop, options.names));
      report.Add("Hops", sections);
    } else if (output.ForPerson() && !hops.empty()) {
      std::string table;
      for (const std::string& line : RouteTableLines(hops)) table += line + "\n";
      WriteOut(table + "\n");
    }
    const RouteRecord* route = runs.empty() ? nullptr : runs.front().Route();
    if (route != nullptr && route->outcome.cancelled) report.Add("RouteCancelled", true);
    AddRunFailure(report, Measured::Route, result,
                  runs.empty() ? std::nullopt : std::optional(runs.front()));
    return output.Finish(report, runs, "route to " + host, report.Failed());
  }

 private:
  bool json_ = false;
};

}  // namespace

std::unique_ptr<Command> AddRouteCommand(CLI::App& command) {
  auto route = std::make_unique<RouteCommand>();
  AddArgument(command, "HOST", route->host, "a name or an address of either family");
  AddWholeNumber(command, "--probes", route->options.probes,
                 "rounds, each an echo request for every hop at once", "N", &kProbesBounds);
  AddWholeNumber(command, "--interval", route->options.intervalMs, "milliseconds between rounds",
                 "MS", &kProbeIntervalBounds);
  AddWholeNumber(command, "--max-hops", route->options.maxHops,
                 "the most hops (times to live) tried before the destination answers", "N",
                 &kMaxHopsBounds);
  CLI::Option* four = command.add_flag_callback(
      "-4", [options = &route->options] { options->family = 4; }, "IPv4 only");
  CLI::Option* six = command.add_flag_callback(
      "-6", [options = &route->options] { options->family = 6; }, "IPv6 only");
  four->excludes(six);
  command.add_flag("--names", route->options.names,
                   "look up the hops' names after the run, each within 2 s (none is asked for "
                   "unless given)");
  route->output.AddOptions(command);
  return route;
}

}  // namespace telvario::cli
