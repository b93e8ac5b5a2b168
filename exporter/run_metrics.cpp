#include "run_metrics.h"

#include <optional>
#include <string>

#include "metric_text.h"

namespace telvario::exporter {
namespace {

using cli::LabelValue;

// The component gives rates in Mbit/s and times in ms; the page in bytes and seconds.
constexpr double kBytesPerSecondPerMbit = 1e6 / 8;
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

void AddHopRoundTrips(MetricsText& out, const std::vector<LastRun>& last) {
  out.Family("telvario_route_hop_rtt_seconds", "gauge",
             "Round trips to each hop of the latest route, by statistic.");
  for (const LastRun& run : last) {
    const cli::RouteRecord* route = RouteOf(run);
    if (route == nullptr) continue;
    for (const cli::HopRecord& hop : route->hops) {
      const std::pair<const char*, const std::optional<double>*> stats[] = {
          {"min", &hop.min}, {"median", &hop.median}, {"mean", &hop.mean},
          {"p90", &hop.p90}, {"max", &hop.max},       {"last", &hop.last}};
      const std::string labels = TargetLabel(run) + ",hop=\"" + cli::MetricNumber(hop.hop) + "\"";
      for (const auto& [stat, figure] : stats) {
        if (figure->has_value()) {
          out.Sample("telvario_route_hop_rtt_seconds", labels + ",stat=\"" + stat + "\"",
                     **figure * kSecondsPerMs);
        }
      }
    }
  }
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

void AddRoutes(MetricsText& out, const std::vector<LastRun>& last) {
  AddHopRoundTrips(out, last);
  AddHopFigure(out, last, "telvario_route_hop_jitter_seconds",
               "Mean change between successive round trips to each hop of the latest route.",
               [](const cli::HopRecord& hop) -> std::optional<double> {
                 return hop.jitter ? std::optional(*hop.jitter * kSecondsPerMs) : std::nullopt;
               });
  AddHopFigure(out, last, "telvario_route_hop_loss_ratio",
               "Share of the echo requests to each hop of the latest route that got no answer.",
               [](const cli::HopRecord& hop) { return hop.loss; });
  out.Family("telvario_route_hop_info", "gauge",
             "The address that answered most for each hop of the latest route (\"\" for none).");
  out.Family("telvario_route_hops", "gauge", "Hops of the latest route.");
  out.Family("telvario_route_reached", "gauge",
             "1 when the latest route reached its destination, 0 when it ended short.");
  for (const LastRun& run : last) {
    const cli::RouteRecord* route = RouteOf(run);
    if (route == nullptr) continue;
    for (const cli::HopRecord& hop : route->hops) {
      out.Sample("telvario_route_hop_info",
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
  AddRunFigure(out, last, kind, "telvario_" + kind + "_bytes_per_second",
               "Rate of the latest run, all its connections together.",
               [](const cli::RunResults&, double mbits) -> std::optional<double> {
                 return mbits * kBytesPerSecondPerMbit;
               });
  AddRunFigure(out, last, kind, "telvario_" + kind + "_bytes", "Bytes the latest run carried.",
               [](const cli::RunResults& run, double) -> std::optional<double> {
                 return run.Transfer() != nullptr ? run.Transfer()->bytes : std::nullopt;
               });
  AddRunFigure(out, last, kind, "telvario_" + kind + "_duration_seconds",
               "Time the latest run's rate was measured over.",
               [](const cli::RunResults& run, double) -> std::optional<double> {
                 return run.Transfer() != nullptr ? run.Transfer()->elapsed : std::nullopt;
               });
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
