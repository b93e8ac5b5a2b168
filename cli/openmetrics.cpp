#include "openmetrics.h"

#include <cmath>
#include <optional>

#include "chart_axes.h"
#include "metric_text.h"

namespace telvario::cli {
namespace {

struct Family {
  std::string name;
  std::string unit;  // "" for none
  std::string help;
  std::vector<std::string> samples;  // "{labels} value"
  bool counter = false;              // its samples named with _total
};

// The families in the order they were first met: a family's samples must stand together.
class Exposition {
 public:
  void Add(const std::string& name, const std::string& unit, const std::string& help,
           const std::string& labels, std::optional<double> figure, bool counter = false) {
    if (!figure || !std::isfinite(*figure)) return;  // unmeasured: no sample rather than a NaN
    const double value = *figure;
    Family* family = nullptr;
    for (Family& known : families_) {
      if (known.name == name) family = &known;
    }
    if (family == nullptr) family = &families_.emplace_back(Family{name, unit, help, {}, counter});
    const std::string sample = "{" + labels + "} " + MetricNumber(value);
    for (const std::string& existing : family->samples) {
      // Two runs of the same target and kind: the first stands, as a collector takes one.
      if (existing.compare(0, labels.size() + 2, "{" + labels + "}") == 0) return;
    }
    family->samples.push_back(sample);
  }

  std::string Text() const {
    std::string text;
    for (const Family& family : families_) {
      text += "# TYPE " + family.name + (family.counter ? " counter\n" : " gauge\n");
      if (!family.unit.empty()) text += "# UNIT " + family.name + " " + family.unit + "\n";
      text += "# HELP " + family.name + " " + family.help + "\n";
      const std::string sampled = family.name + (family.counter ? "_total" : "");
      for (const std::string& sample : family.samples) text += sampled + sample + "\n";
    }
    return text + "# EOF\n";
  }

 private:
  std::vector<Family> families_;
};

std::optional<double> Seconds(std::optional<double> ms) {
  if (ms) *ms /= 1000;
  return ms;
}

using Figure = std::optional<double>;

void AddLatency(Exposition& out, const LatencyRecord& run, const std::string& labels) {
  const std::string peer = labels + ",peer=\"" + LabelValue(run.peer) + "\"";
  // Counters, under the exporter's names for the same figures: a run's are its requests alone.
  out.Add("telvario_echo_requests", "", "Echo requests sent.", peer, run.sent, true);
  out.Add("telvario_echo_replies", "", "Echo replies received.", peer, run.received, true);
  out.Add("telvario_loss_ratio", "ratio", "Share of echo requests that got no reply.", peer,
          run.loss);
  const struct {
    const char* name;
    const char* help;
    Figure ms;
  } figures[] = {
      {"telvario_latency_min_seconds", "Shortest round-trip time.", run.min},
      {"telvario_latency_median_seconds", "Median round-trip time.", run.median},
      {"telvario_latency_mean_seconds", "Mean round-trip time.", run.mean},
      {"telvario_latency_p90_seconds", "90th percentile of the round-trip times (nearest rank).",
       run.p90},
      {"telvario_latency_p99_seconds", "99th percentile of the round-trip times (nearest rank).",
       run.p99},
      {"telvario_latency_max_seconds", "Longest round-trip time.", run.max},
      {"telvario_latency_jitter_seconds", "Mean change between successive round-trip times.",
       run.jitter},
  };
  for (const auto& figure : figures) {
    out.Add(figure.name, "seconds", figure.help, peer, Seconds(figure.ms));
  }
}

void AddTransfer(Exposition& out, const TransferRecord& run, const std::string& labels) {
  const std::string& way = run.measurement;  // download or upload
  const std::string noun = way == "upload" ? "Upload" : "Download";
  out.Add("telvario_" + way + "_streams", "", noun + " connections asked for.", labels,
          run.streams);
  out.Add("telvario_" + way + "_broken_connections", "", noun + " connections that broke.", labels,
          run.BrokenConnections());
  if (run.Measured()) {
    out.Add("telvario_" + way + "_bits_per_second", "bits_per_second",
            noun + " rate over all connections, the start-up left out.", labels,
            *run.outcome.result * 1e6);
  }
  out.Add("telvario_" + way + "_bytes", "bytes", noun + " bytes counted in the rate.", labels,
          run.bytes);
  out.Add("telvario_" + way + "_elapsed_seconds", "seconds", noun + " time counted in the rate.",
          labels, run.elapsed);
  out.Add("telvario_" + way + "_startup_seconds", "seconds",
          noun + " start-up left out of the rate.", labels, run.startupSeconds);
}

void AddResponsiveness(Exposition& out, const ResponsivenessRecord& run,
                       const std::string& labels) {
  out.Add("telvario_responsiveness_rpm", "rpm", "Round trips per minute under load.", labels,
          run.rpm);
  out.Add("telvario_responsiveness_idle_latency_seconds", "seconds",
          "Round-trip time with the connection idle.", labels, Seconds(run.idleLatency));
  out.Add("telvario_responsiveness_loaded_latency_seconds", "seconds",
          "Round-trip time with the connection loaded.", labels, Seconds(run.loadedLatency));
  out.Add("telvario_responsiveness_loaded_latency_p90_seconds", "seconds",
          "90th percentile of the round-trip times with the connection loaded.", labels,
          Seconds(run.loadedLatencyP90));
  if (run.throughput) {
    out.Add("telvario_responsiveness_load_bits_per_second", "bits_per_second",
            "Rate of the load over all its connections, both ways where it went both.", labels,
            *run.throughput * 1e6);
  }
}

// Each hop's figures, labelled with the hop and the address that answered it most.
void AddRoute(Exposition& out, const RouteRecord& run, const std::string& labels) {
  const std::string peer = labels + ",peer=\"" + LabelValue(run.peer) + "\"";
  if (run.outcome.Succeeded()) {
    out.Add("telvario_route_hops", "", "Hops to the destination.", peer, run.outcome.result);
  }
  for (const HopRecord& hop : run.hops) {
    const std::string at =
        labels + ",hop=\"" + FigureText(hop.hop) + "\",address=\"" + LabelValue(hop.address) + "\"";
    out.Add("telvario_hop_probes_sent", "", "Echo requests sent with the hop's time to live.", at,
            hop.sent);
    out.Add("telvario_hop_probes_received", "", "Answers from the hop.", at, hop.received);
    out.Add("telvario_hop_loss_ratio", "ratio", "Share of the hop's requests it did not answer.",
            at, hop.loss);
    out.Add("telvario_hop_forward_loss_ratio", "ratio",
            "Loss that carries on: the least at this hop or any later one.", at, hop.forwardLoss);
    const struct {
      const char* name;
      const char* help;
      Figure ms;
    } figures[] = {
        {"telvario_hop_latency_min_seconds", "Shortest round-trip time to the hop.", hop.min},
        {"telvario_hop_latency_median_seconds", "Median round-trip time to the hop.", hop.median},
        {"telvario_hop_latency_mean_seconds", "Mean round-trip time to the hop.", hop.mean},
        {"telvario_hop_latency_p90_seconds",
         "90th percentile of the round-trip times to the hop (nearest rank).", hop.p90},
        {"telvario_hop_latency_max_seconds", "Longest round-trip time to the hop.", hop.max},
        {"telvario_hop_jitter_seconds", "Mean change between the hop's successive round trips.",
         hop.jitter},
        {"telvario_hop_added_latency_seconds",
         "Rise in the median that carries on, over the hop before.", hop.addedLatency},
    };
    for (const auto& figure : figures) {
      out.Add(figure.name, "seconds", figure.help, at, Seconds(figure.ms));
    }
  }
}

}  // namespace

std::string RunsOpenMetrics(const std::vector<RunResults>& runs) {
  Exposition out;
  for (const RunResults& run : runs) {
    const RunOutcome* outcome = run.Outcome();
    if (outcome == nullptr) continue;  // unread, or of a kind this client does not know
    const std::string labels = "measurement=\"" + LabelValue(run.measurement) + "\",target=\"" +
                               LabelValue(run.Target()) + "\"";
    out.Add("telvario_run_timestamp_seconds", "seconds", "When the run began.", labels,
            run.startedUnix);
    out.Add("telvario_run_succeeded", "",
            "1 when the run gave a result (its load, where it had one, went every way asked), 0 "
            "when it failed.",
            labels, run.Succeeded() ? 1 : 0);
    out.Add("telvario_run_cancelled", "", "1 when the run was cancelled before its end.", labels,
            outcome->cancelled ? 1 : 0);
    if (const LatencyRecord* latency = run.Latency()) {
      AddLatency(out, *latency, labels);
    } else if (const TransferRecord* transfer = run.Transfer()) {
      if (transfer->measurement != "load") AddTransfer(out, *transfer, labels);
    } else if (const ResponsivenessRecord* responsiveness = run.Responsiveness()) {
      AddResponsiveness(out, *responsiveness, labels);
    } else if (const RouteRecord* route = run.Route()) {
      AddRoute(out, *route, labels);
    }
  }
  return out.Text();
}

}  // namespace telvario::cli
