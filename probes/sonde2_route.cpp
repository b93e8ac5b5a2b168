// Sonde2's route members: MaxHops and ResolveHopNames, Route, and the figures of the last route
// hop by hop. While a route runs, its figures so far stand in for them, renewed as each Progress
// event is raised, so that a handler reads the route as it comes.
#include <string>

#include "progress_watch.h"
#include "results_json.h"
#include "sonde2_probe.h"
#include "string_conversion.h"

namespace telvario {
namespace {

// The destination's median so far, the figure a route's progress tells; 0 before it answered.
double DestinationMedian(const RouteRun& run) {
  return run.result > 0 && !run.hops.empty() ? run.hops.back().statistics.median : 0;
}

// Watches a route: its figures so far renewed as progress is due, then told.
class RouteWatch final : public RouteObserver {
 public:
  RouteWatch(ProgressListener* listener, const std::atomic<bool>& cancelled, RouteRun* figures)
      : watch_("route", listener, cancelled), figures_(figures) {}

  bool KeepGoing(LONG rounds, LONG planned, const std::function<RouteRun()>& soFar) override {
    if (watch_.Due()) *figures_ = soFar();
    return watch_.KeepGoing(rounds, planned, DestinationMedian(*figures_));
  }
  void Done(const RouteRun& run) { watch_.Done(run.result > 0 ? DestinationMedian(run) : 0); }

 private:
  PhaseWatch watch_;
  RouteRun* figures_;
};

}  // namespace

HRESULT Sonde2Probe::get_MaxHops(LONG* pVal) {
  *pVal = settings_.maxHops;
  return S_OK;
}
HRESULT Sonde2Probe::put_MaxHops(LONG newVal) {
  if (newVal < kLeastMaxHops || newVal > kMostMaxHops) return E_INVALIDARG;
  settings_.maxHops = newVal;
  return S_OK;
}
HRESULT Sonde2Probe::get_ResolveHopNames(VARIANT_BOOL* pVal) {
  *pVal = settings_.resolveHopNames ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT Sonde2Probe::put_ResolveHopNames(VARIANT_BOOL newVal) {
  settings_.resolveHopNames = newVal != VARIANT_FALSE;
  return S_OK;
}

HRESULT Sonde2Probe::Route(BSTR host, LONG packetSize, LONG* pVal) {
  if (!BeginRun()) return kRunInProgress;
  const NarrowArgument name(host);
  RoutePlan plan;
  plan.host = name.Get();
  plan.probes = settings_.probes;
  plan.intervalMs = settings_.probeIntervalMs;
  plan.family = AddressFamily(settings_.family);
  plan.packetSize = packetSize;
  plan.maxHops = settings_.maxHops;
  plan.resolveNames = settings_.resolveHopNames;
  RouteRun run;
  if (name.HasEmbeddedNul()) {
    run.result = LATENCY_RESOLVE_FAILED;
    run.failure = "the name holds a NUL character";
  } else {
    RouteWatch watch(listener_, cancelled_, &figures_.route);
    run = MeasureRoute(plan, &watch);
    watch.Done(run);
  }
  figures_.peer = run.peer;
  figures_.results = RouteResultsJson(plan, run);
  figures_.route = std::move(run);
  *pVal = figures_.route.result;
  EndRun();
  return S_OK;
}

const HopFigures* Sonde2Probe::Hop(LONG hop) const {
  const std::vector<HopFigures>& hops = figures_.route.hops;
  if (hop < 1 || static_cast<std::size_t>(hop) > hops.size()) return nullptr;
  return &hops[static_cast<std::size_t>(hop - 1)];
}

HRESULT Sonde2Probe::get_Hops(LONG* pVal) {
  *pVal = static_cast<LONG>(figures_.route.hops.size());
  return S_OK;
}
HRESULT Sonde2Probe::get_RouteEnd(BSTR* pVal) {
  *pVal = TextBstr(figures_.route.end);
  return S_OK;
}
HRESULT Sonde2Probe::get_HopAddress(LONG hop, BSTR* pVal) {
  const HopFigures* figures = Hop(hop);
  *pVal = TextBstr(figures != nullptr ? figures->address : "");
  return S_OK;
}
HRESULT Sonde2Probe::get_HopAddresses(LONG hop, BSTR* pVal) {
  std::string list;
  if (const HopFigures* figures = Hop(hop)) {
    for (const auto& entry : figures->addresses) {
      if (!list.empty()) list += ",";
      list += entry.first;
    }
  }
  *pVal = TextBstr(list);
  return S_OK;
}
HRESULT Sonde2Probe::get_HopName(LONG hop, BSTR* pVal) {
  const HopFigures* figures = Hop(hop);
  *pVal = TextBstr(figures != nullptr ? figures->name : "");
  return S_OK;
}
HRESULT Sonde2Probe::get_HopReading(LONG hop, BSTR* pVal) {
  const HopFigures* figures = Hop(hop);
  *pVal = TextBstr(figures != nullptr ? figures->reading : "");
  return S_OK;
}

namespace {

// A hop's figure, 0 for a hop there is not.
template <typename Value, typename Read>
HRESULT HopFigure(const HopFigures* figures, Value* pVal, Read read) {
  *pVal = figures != nullptr ? read(*figures) : Value{};
  return S_OK;
}

}  // namespace

HRESULT Sonde2Probe::get_HopSent(LONG hop, LONG* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.statistics.sent; });
}
HRESULT Sonde2Probe::get_HopReceived(LONG hop, LONG* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.statistics.received; });
}
HRESULT Sonde2Probe::get_HopLoss(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.statistics.loss; });
}
HRESULT Sonde2Probe::get_HopLatencyMin(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.statistics.min; });
}
HRESULT Sonde2Probe::get_HopLatencyMedian(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.statistics.median; });
}
HRESULT Sonde2Probe::get_HopLatencyMean(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.statistics.mean; });
}
HRESULT Sonde2Probe::get_HopLatencyP90(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.statistics.p90; });
}
HRESULT Sonde2Probe::get_HopLatencyMax(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.statistics.max; });
}
HRESULT Sonde2Probe::get_HopJitter(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.statistics.jitter; });
}
HRESULT Sonde2Probe::get_HopForwardLoss(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.forwardLoss; });
}
HRESULT Sonde2Probe::get_HopLatencyLast(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.lastMs; });
}
HRESULT Sonde2Probe::get_HopAddedLatency(LONG hop, double* pVal) {
  return HopFigure(Hop(hop), pVal, [](const HopFigures& f) { return f.addedLatency; });
}

}  // namespace telvario
