#include "metrics_page.h"

#include "metric_text.h"
#include "run_metrics.h"

namespace telvario::exporter {
namespace {

using cli::LabelValue;
using cli::MetricNumber;

std::string SeriesLabels(const LatencySeries& series) {
  return "target=\"" + LabelValue(series.target) + "\",family=\"" + std::to_string(series.family) +
         "\"";
}

void AddHistograms(MetricsText& out, const std::vector<LatencySeries>& latency) {
  out.Family("telvario_latency_seconds", "histogram",
             "Round-trip times of the echo requests answered.");
  for (const LatencySeries& series : latency) {
    const std::string labels = SeriesLabels(series);
    const LatencyCounts& counts = series.counts;
    for (std::size_t bound = 0; bound < counts.bounds.size(); ++bound) {
      out.Sample("telvario_latency_seconds_bucket",
                 labels + ",le=\"" + MetricNumber(counts.bounds[bound]) + "\"",
                 static_cast<double>(counts.buckets[bound]));
    }
    out.Sample("telvario_latency_seconds_bucket", labels + ",le=\"+Inf\"",
               static_cast<double>(counts.replies));
    out.Sample("telvario_latency_seconds_sum", labels, counts.sumSeconds);
    out.Sample("telvario_latency_seconds_count", labels, static_cast<double>(counts.replies));
  }
}

void AddLatency(MetricsText& out, const std::vector<LatencySeries>& latency) {
  AddHistograms(out, latency);
  const struct {
    const char* name;
    const char* type;
    const char* help;
    double (*value)(const LatencySeries&);
  } families[] = {
      {"telvario_echo_requests_total", "counter",
       "Echo requests whose fate is known: answered, or not within the answer limit (1 s).",
       [](const LatencySeries& s) { return static_cast<double>(s.counts.requests); }},
      {"telvario_echo_replies_total", "counter", "Echo replies received within the answer limit.",
       [](const LatencySeries& s) { return static_cast<double>(s.counts.replies); }},
      {"telvario_latency_jitter_seconds", "gauge",
       "Change between successive round trips, smoothed as RFC 3550 does.",
       [](const LatencySeries& s) { return s.counts.jitterSeconds; }},
  };
  for (const auto& family : families) {
    out.Family(family.name, family.type, family.help);
    for (const LatencySeries& series : latency) {
      out.Sample(family.name, SeriesLabels(series), family.value(series));
    }
  }
  out.Family("telvario_echo_peer_info", "gauge", "The address each target's requests go to.");
  for (const LatencySeries& series : latency) {
    out.Sample("telvario_echo_peer_info",
               SeriesLabels(series) + ",address=\"" + LabelValue(series.address) + "\"", 1);
  }
}

void AddHealth(MetricsText& out, const ExporterHealth& health) {
  out.Family("telvario_exporter_build_info", "gauge", "The exporter's version.");
  out.Sample("telvario_exporter_build_info", "version=\"" + LabelValue(health.version) + "\"", 1);
  out.Family("telvario_exporter_start_time_seconds", "gauge", "When the exporter started.");
  out.Sample("telvario_exporter_start_time_seconds", "", health.startedUnix);
  out.Family("telvario_exporter_config_last_reload_successful", "gauge",
             "1 when the latest reading of the configuration was taken, 0 when it was refused.");
  out.Sample("telvario_exporter_config_last_reload_successful", "", health.lastReloadOk ? 1 : 0);
  out.Family("telvario_exporter_config_last_reload_success_timestamp_seconds", "gauge",
             "When the configuration in use was taken.");
  out.Sample("telvario_exporter_config_last_reload_success_timestamp_seconds", "",
             health.lastReloadUnix);
  out.Family("telvario_exporter_config_reload_failures_total", "counter",
             "Readings of the configuration refused, the old one kept.");
  out.Sample("telvario_exporter_config_reload_failures_total", "",
             static_cast<double>(health.reloadFailures));
  out.Family("telvario_exporter_echo_sent_total", "counter",
             "Echo requests sent for continuous latency, answered or not yet.");
  out.Sample("telvario_exporter_echo_sent_total", "", static_cast<double>(health.echoSent));
  out.Family("telvario_exporter_probes_total", "counter", "Measurements asked for on /probe.");
  for (const auto& module : health.modules) {
    out.Sample("telvario_exporter_probes_total", "module=\"" + module.name + "\"",
               static_cast<double>(module.runs));
  }
  out.Family("telvario_exporter_probe_failures_total", "counter",
             "Measurements on /probe that gave no result.");
  for (const auto& module : health.modules) {
    out.Sample("telvario_exporter_probe_failures_total", "module=\"" + module.name + "\"",
               static_cast<double>(module.failures));
  }
  out.Family("telvario_exporter_probe_seconds_total", "counter",
             "Time the measurements on /probe took.");
  for (const auto& module : health.modules) {
    out.Sample("telvario_exporter_probe_seconds_total", "module=\"" + module.name + "\"",
               module.seconds);
  }
}

}  // namespace

std::string MetricsPage(const std::vector<LatencySeries>& latency, const RunStore& runs,
                        const ExporterHealth& health) {
  MetricsText out;
  AddLatency(out, latency);
  AddRunMetrics(out, runs.Last(), runs.Counts());
  AddHealth(out, health);
  return out.Text();
}

}  // namespace telvario::exporter
