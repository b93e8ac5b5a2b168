#include "run_metrics.h"

#include <optional>
#include <string>

#include "metric_text.h"

namespace telvario::exporter {
namespace {

using cli::LabelValue;

// The component gives rates in Mbit/s and times in ms; the page, as the client's
// --openmetrics, in bits a second and seconds.
constexpr double kBitsPerMbit = 1e6;
constexpr double kSecondsPerMs = 0.001;

std::string TargetLabel(const LastRun& run) {
  return "target=\"" + LabelValue(run.target) + "\"";
}

// When each run of `kind` began, and whether it gave figures.
void AddLastRuns(MetricsText& out, const std::vector<LastRun>& last, const std::string& kind) {
  const std::string stamp = "telvario_" + kind + "_last_run_timestamp_seconds";
  out.Family(stamp, "gauge", "When the latest run began.");
  for (const LastRun& run : last) {
    if (run.kind == kind) out.Sample(stamp, TargetLabel(run), run.startedUnix);
  }
  const std::string success = "telvario_" + kind + "_last_run_success";
  out.Family(success, "gauge", "1 when the latest run gave figures, 0 when it failed.");
  for (const LastRun& run : last) {
    if (run.kind == kind) out.Sample(success, TargetLabel(run), run.measured.Succeeded() ? 1 : 0);
  }
}

const cli::RouteRecord* RouteOf(const LastRun& run) {
  return run.kind == "route" && run.measured.run ? run.measured.run->Route() : nullptr;
}

// A hop's figure that each hop has one of, where it has it.
template <typename Figure>
void AddHopFigure(MetricsText& out, const std::vector<LastRun>& last, const std::string& name,
                  const char* help, Figure figure) {
  out.Family(name, "gauge", help);
  for (const LastRun& run : last) {
    const cli::RouteRecord* route = RouteOf(run);
    if (route == nullptr) continue;
    for (const cli::HopRecord& hop : route->hops) {
      const std::optional<double> value = figure(hop);
      if (value) {
        out.Sample(name, TargetLabel(run) + ",hop=\"" + cli::MetricNumber(hop.hop) + "\"", *value);
      }
    }
  }
}

std::optional<double> Seconds(std::optional<double> ms) {
  if (ms) *ms *= kSecondsPerMs;
  return ms;
}

// Each hop's figures under the names the client's --openmetrics gives them; the address that
// answered most in an info series of its own, so that a route that changes does not change the
// figures' series.
void AddHops(MetricsText& out, const std::vector<LastRun>& last) {
  using Hop = cli::HopRecord;
  const struct {
    const char* name;
    const char* help;
    std::optional<double> (*value)(const Hop&);
  } figures[] = {
      {"telvario_hop_latency_min_seconds", "Shortest round-trip time to the hop.",
       [](const Hop& hop) { return Seconds(hop.min); }},
      {"telvario_hop_latency_median_seconds", "Median round-trip time to the hop.",
       [](const Hop& hop) { return Seconds(hop.median); }},
      {"telvario_hop_latency_mean_seconds", "Mean round-trip time to the hop.",
       [](const Hop& hop) { return Seconds(hop.mean); }},
      {"telvario_hop_latency_p90_seconds",
       "90th percentile of the round-trip times to the hop (nearest rank).",
       [](const Hop& hop) { return Seconds(hop.p90); }},
      {"telvario_hop_latency_max_seconds", "Longest round-trip time to the hop.",
       [](const Hop& hop) { return Seconds(hop.max); }},
      {"telvario_hop_jitter_seconds", "Mean change between the hop's successive round trips.",
       [](const Hop& hop) { return Seconds(hop.jitter); }},
      {"telvario_hop_added_latency_seconds",
       "Rise in the median that carries on, over the hop before.",
       [](const Hop& hop) { return Seconds(hop.addedLatency); }},
      {"telvario_hop_loss_ratio", "Share of the hop's requests it did not answer.",
       [](const Hop& hop) { return hop.loss; }},
      {"telvario_hop_forward_loss_ratio",
       "Loss that carries on: the least at this hop or any later one.",
       [](const Hop& hop) { return hop.forwardLoss; }},
  };
  for (const auto& figure : figures)
    AddHopFigure(out, last, figure.name, figure.help, figure.value);
}

void AddRoutes(MetricsText& out, const std::vector<LastRun>& last) {
  AddHops(out, last);
  out.Family("telvario_hop_info", "gauge",
             "The address that answered most for each hop of the latest route (\"\" for none).");
  out.Family("telvario_route_hops", "gauge", "Hops of the latest route.");
  out.Family("telvario_route_reached", "gauge",
             "1 when the latest route reached its destination, 0 when it ended short.");
  for (const LastRun& run : last) {
    const cli::RouteRecord* route = RouteOf(run);
    if (route == nullptr) continue;
    for (const cli::HopRecord& hop : route->hops) {
      out.Sample("telvario_hop_info",
                 TargetLabel(run) + ",hop=\"" + cli::MetricNumber(hop.hop) + "\",address=\"" +
                     LabelValue(hop.address) + "\"",
                 1);
    }
    out.Sample("telvario_route_hops", TargetLabel(run), static_cast<double>(route->hops.size()));
    out.Sample("telvario_route_reached", TargetLabel(run), route->end == "destination" ? 1 : 0);
  }
  AddLastRuns(out, last, "route");
}

// A figure of the latest run of `kind`, where it gave one.
template <typename Figure>
void AddRunFigure(MetricsText& out, const std::vector<LastRun>& last, const std::string& kind,
                  const std::string& name, const char* help, Figure figure) {
  out.Family(name, "gauge", help);
  for (const LastRun& run : last) {
    if (run.kind != kind || !run.measured.run || !run.measured.Succeeded()) continue;
    const std::optional<double> value = figure(*run.measured.run, run.measured.result);
    if (value) out.Sample(name, TargetLabel(run), *value);
  }
}

void AddTransfer(MetricsText& out, const std::vector<LastRun>& last, const std::string& kind) {
  using Run = cli::RunResults;
  const struct {
    const char* name;
    const char* help;
    std::optional<double> (*value)(const Run&, double mbits);
  } figures[] = {
      {"_bits_per_second", "Rate over all connections, the start-up left out.",
       [](const Run&, double mbits) -> std::optional<double> { return mbits * kBitsPerMbit; }},
      {"_bytes", "Bytes counted in the rate.",
       [](const Run& run, double) {
         return run.Transfer() ? run.Transfer()->bytes : std::nullopt;
       }},
      {"_elapsed_seconds", "Time counted in the rate.",
       [](const Run& run, double) {
         return run.Transfer() ? run.Transfer()->elapsed : std::nullopt;
       }},
      {"_startup_seconds", "Start-up left out of the rate.",
       [](const Run& run, double) {
         return run.Transfer() ? run.Transfer()->startupSeconds : std::nullopt;
       }},
  };
  for (const auto& figure : figures) {
    AddRunFigure(out, last, kind, "telvario_" + kind + figure.name, figure.help, figure.value);
  }
  AddLastRuns(out, last, kind);
}

void AddResponsiveness(MetricsText& out, const std::vector<LastRun>& last) {
  using Member = std::optional<double> cli::ResponsivenessRecord::*;
  const struct {
    const char* name;
    const char* help;
    Member member;
    double scale;
  } figures[] = {
      {"telvario_responsiveness_rpm", "Round trips a minute under load (RPM).",
       &cli::ResponsivenessRecord::rpm, 1},
      {"telvario_responsiveness_idle_latency_seconds", "Round trip before the load.",
       &cli::ResponsivenessRecord::idleLatency, kSecondsPerMs},
      {"telvario_responsiveness_loaded_latency_seconds", "Round trip under the load.",
       &cli::ResponsivenessRecord::loadedLatency, kSecondsPerMs},
      {"telvario_responsiveness_loaded_latency_p90_seconds",
       "90th percentile of the round trips under the load.",
       &cli::ResponsivenessRecord::loadedLatencyP90, kSecondsPerMs},
  };
  for (const auto& figure : figures) {
    AddRunFigure(out, last, "responsiveness", figure.name, figure.help,
                 [&figure](const cli::RunResults& run, double) -> std::optional<double> {
                   const cli::ResponsivenessRecord* record = run.Responsiveness();
                   if (record == nullptr || !(record->*figure.member)) return std::nullopt;
                   return *(record->*figure.member) * figure.scale;
                 });
  }
  AddLastRuns(out, last, "responsiveness");
}

void AddCounts(MetricsText& out, const std::vector<RunCounts>& counts) {
  const struct {
    const char* name;
    const char* help;
    double (*value)(const RunCounts&);
  } families[] = {
      {"telvario_exporter_runs_total", "Scheduled runs, by kind.",
       [](const RunCounts& c) { return static_cast<double>(c.runs); }},
      {"telvario_exporter_run_failures_total", "Scheduled runs that gave no figures, by kind.",
       [](const RunCounts& c) { return static_cast<double>(c.failures); }},
      {"telvario_exporter_run_seconds_total", "Time the scheduled runs took, by kind.",
       [](const RunCounts& c) { return c.seconds; }},
  };
  for (const auto& family : families) {
    out.Family(family.name, "counter", family.help);
    for (const RunCounts& counted : counts) {
      out.Sample(family.name, "kind=\"" + counted.kind + "\"", family.value(counted));
    }
  }
}

}  // namespace

void AddKindMetrics(MetricsText& out, const std::vector<LastRun>& last, const std::string& kind) {
  if (kind == "route") {
    AddRoutes(out, last);
  } else if (kind == "responsiveness") {
    AddResponsiveness(out, last);
  } else {
    AddTransfer(out, last, kind);
  }
}

void AddRunMetrics(MetricsText& out, const std::vector<LastRun>& last,
                   const std::vector<RunCounts>& counts) {
  for (const char* kind : kRunKinds) AddKindMetrics(out, last, kind);
  AddCounts(out, counts);
}

}  // namespace telvario::exporter
