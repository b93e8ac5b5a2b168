#include "route_figures.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "echo_statuses.h"

namespace telvario {
namespace {

// Where the route ended: the least time to live that an answer other than a time-exceeded came
// for, and that answer; 0 where none did.
LONG EndOfRoute(const std::vector<RouteProbe>& probes, const RouteProbe** end) {
  LONG endTtl = 0;
  for (const RouteProbe& probe : probes) {
    if (!probe.sample.answered || IsTimeExceeded(probe.answer.status)) continue;
    if (endTtl == 0 || probe.ttl < endTtl) {
      endTtl = probe.ttl;
      *end = &probe;
    }
  }
  return endTtl;
}

LONG LastAnswered(const std::vector<RouteProbe>& probes) {
  LONG last = 0;
  for (const RouteProbe& probe : probes) {
    if (probe.sample.answered) last = std::max(last, probe.ttl);
  }
  return last;
}

// A hop's own figures from its requests, in send order: their statistics, and who answered.
HopFigures OwnFigures(const std::vector<const RouteProbe*>& probes, LONG hop) {
  HopFigures figures;
  figures.hop = hop;
  std::vector<LatencySample> samples;
  for (const RouteProbe* probe : probes) {
    samples.push_back(probe->sample);
    if (!probe->sample.answered) continue;
    auto& addresses = figures.addresses;
    const auto known = std::find_if(addresses.begin(), addresses.end(), [&](const auto& entry) {
      return entry.first == probe->answer.address;
    });
    if (known != addresses.end()) {
      ++known->second;
    } else {
      addresses.emplace_back(probe->answer.address, 1);
    }
  }
  figures.statistics = Summarize(samples);
  for (const LatencySample& sample : samples) {
    if (sample.answered) figures.lastMs = sample.roundTripMs;
  }
  // Most answers first; among equals, the first to answer.
  std::stable_sort(figures.addresses.begin(), figures.addresses.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  if (!figures.addresses.empty()) figures.address = figures.addresses.front().first;
  return figures;
}

double Microseconds(double milliseconds) {
  return std::round(milliseconds * 1000.0) / 1000.0;
}

// What a hop's own figures do not mean, where they are well above what carries on.
std::string Reading(const HopFigures& hop, double carriedMedian, bool laterAnswered) {
  const LatencyStatistics& own = hop.statistics;
  if (own.sent == 0) return "";
  if (own.received == 0) {
    return laterAnswered ? "does not answer about itself, not loss on the path" : "";
  }
  const double lossMargin = std::max(kLossWellAbove, 2.0 / own.sent);
  const bool limits = own.loss - hop.forwardLoss >= lossMargin - 1e-9;
  const double latencyMargin =
      std::max(kLatencyWellAboveMs, kLatencyWellAboveShare * carriedMedian);
  const bool slow = own.median - carriedMedian >= latencyMargin;
  if (limits && slow) return "answers slowly and limits its answers, not delay or loss on the path";
  if (limits) return "limits its answers, not loss on the path";
  if (slow) return "answers slowly, not delay on the path";
  return "";
}

// The loss and latency that carry on from each hop, what each adds, and the readings.
void CarryOn(std::vector<HopFigures>* hops) {
  double forwardLoss = 1;
  double carried = std::numeric_limits<double>::infinity();
  std::vector<double> carriedMedian(hops->size(), 0);
  std::vector<bool> laterAnswered(hops->size(), false);
  bool answeredAfter = false;
  for (std::size_t i = hops->size(); i-- > 0;) {
    HopFigures& hop = (*hops)[i];
    laterAnswered[i] = answeredAfter;
    if (hop.statistics.sent > 0) forwardLoss = std::min(forwardLoss, hop.statistics.loss);
    hop.forwardLoss = hop.statistics.sent > 0 ? forwardLoss : 0;
    if (hop.statistics.received > 0) {
      carried = std::min(carried, hop.statistics.median);
      answeredAfter = true;
    }
    carriedMedian[i] = std::isfinite(carried) ? carried : 0;
  }
  double before = 0;  // what carries on from the last hop that answered, from the source at first
  for (std::size_t i = 0; i < hops->size(); ++i) {
    HopFigures& hop = (*hops)[i];
    hop.reading = Reading(hop, carriedMedian[i], laterAnswered[i]);
    if (hop.statistics.received == 0) continue;
    hop.addedLatency = Microseconds(carriedMedian[i] - before);
    before = carriedMedian[i];
  }
}

}  // namespace

const char* AnswerKind(int family, ULONG status) {
  if (status == IP_SUCCESS) return "echo reply";
  if (IsTimeExceeded(status)) return "time exceeded";
  const char* kind = UnreachableKind(family, status);
  return kind != nullptr ? kind : "";
}

void FigureRoute(RouteRun* run) {
  const RouteProbe* end = nullptr;
  const LONG endTtl = EndOfRoute(run->probes, &end);
  const LONG hops = endTtl > 0 ? endTtl : LastAnswered(run->probes);
  run->end.clear();
  if (end != nullptr) {
    run->end = end->answer.status == IP_SUCCESS ? "destination"
                                                : AnswerKind(run->family, end->answer.status);
  }
  std::vector<std::vector<const RouteProbe*>> byHop(static_cast<std::size_t>(hops));
  for (const RouteProbe& probe : run->probes) {
    if (probe.ttl <= hops) byHop[static_cast<std::size_t>(probe.ttl - 1)].push_back(&probe);
  }
  run->hops.clear();
  for (LONG hop = 1; hop <= hops; ++hop) {
    run->hops.push_back(OwnFigures(byHop[static_cast<std::size_t>(hop - 1)], hop));
  }
  CarryOn(&run->hops);
  run->result = endTtl > 0 ? endTtl : hops > 0 ? ROUTE_NOT_REACHED : ROUTE_NO_REPLY;
}

}  // namespace telvario
