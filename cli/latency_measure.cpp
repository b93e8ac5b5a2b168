#include "latency_measure.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "automation_text.h"
#include "commands.h"
#include "option_values.h"
#include "result_codes.h"
#include "run_output.h"
#include "setting_bounds.h"
#include "sonde2_run.h"
#include "standard_output.h"

namespace telvario::cli {
namespace {

void Set(HRESULT put, const char* option, const SettingBounds& bounds) {
  if (put != S_OK) throw UsageError(std::string(option) + " " + bounds.Range());
}

// As ping sums up a run, with the percentiles beside.
void PrintSummary(const std::string& host, const LatencyRecord& run) {
  if (!(run.sent.value_or(0) > 0)) return;
  char text[512];
  std::snprintf(text, sizeof text,
                "--- %s (%s) latency statistics ---\n%.0f packets transmitted, %.0f received, "
                "%.3g%% packet loss\n",
                host.c_str(), run.peer.c_str(), *run.sent, run.received.value_or(0),
                run.loss.value_or(0) * 100);
  std::string summary = text;
  if (run.median) {
    std::snprintf(text, sizeof text,
                  "rtt min/median/mean/max = %.3f/%.3f/%.3f/%.3f ms, p90 %.3f ms, p99 %.3f ms, "
                  "jitter %.3f ms\n\n",
                  run.min.value_or(0), *run.median, run.mean.value_or(0), run.max.value_or(0),
                  run.p90.value_or(0), run.p99.value_or(0), run.jitter.value_or(0));
    summary += text;
  }
  WriteOut(summary);
}

void AddStatistics(Report& report, const LatencyRecord& run) {
  report.Add("LatencyMin", run.min);
  report.Add("LatencyMedian", run.median);
  report.Add("LatencyMean", run.mean);
  report.Add("LatencyP90", run.p90);
  report.Add("LatencyP99", run.p99);
  report.Add("LatencyMax", run.max);
  report.Add("Jitter", run.jitter);
  report.Add("Loss", run.loss);
  report.Add("Sent", run.sent);
  report.Add("Received", run.received);
}

class LatencyCommand final : public Command {
 public:
  std::string host;
  LatencyOptions options;
  RunOutput output;

  bool NeedsSonde2() const override { return true; }
  bool SendsEcho() const override { return true; }
  void Prepare(const CommonOptions& common) override { output.Prepare(common.json); }

  int Run(Session& session) override {
    Report report;
    std::vector<RunResults> runs;
    MeasureLatency(session.Sonde2(), report, host, options, output.ForPerson(), &runs);
    return output.Finish(report, runs, "latency to " + host, report.Failed());
  }
};

}  // namespace

void MeasureLatency(ISonde2& sonde, Report& report, const std::string& host,
                    const LatencyOptions& options, bool summary, std::vector<RunResults>* runs) {
  if (options.probes)
    Set(sonde.put_Probes(static_cast<LONG>(*options.probes)), "--probes", kProbesBounds);
  if (options.intervalMs) {
    Set(sonde.put_ProbeInterval(static_cast<LONG>(*options.intervalMs)), "--interval",
        kProbeIntervalBounds);
  }
  sonde.put_Family(static_cast<LONG>(options.family));
  BSTR name = ToBstr(host);
  double result = 0;
  Sonde2Run measuring(sonde, "measuring latency to " + host);
  sonde.Latency(name, &result);
  const std::optional<RunResults> run = measuring.Finish("latency");
  SysFreeString(name);
  if (run) runs->push_back(*run);

  const LatencyRecord* latency = run ? run->Latency() : nullptr;
  if (summary && latency != nullptr) PrintSummary(host, *latency);
  report.Add("Latency", result);
  if (latency != nullptr) AddStatistics(report, *latency);
  report.Add("PeerAddress", latency != nullptr ? latency->peer : std::string());
  if (latency != nullptr && latency->outcome.cancelled) report.Add("LatencyCancelled", true);
  AddRunFailure(report, Measured::Latency, result, run);
}

std::unique_ptr<Command> AddLatencyCommand(CLI::App& command) {
  auto latency = std::make_unique<LatencyCommand>();
  AddArgument(command, "HOST", latency->host, "a name or an address of either family");
  AddWholeNumber(command, "--probes", latency->options.probes, "echo requests", "N",
                 &kProbesBounds);
  AddWholeNumber(command, "--interval", latency->options.intervalMs, "milliseconds between them",
                 "MS", &kProbeIntervalBounds);
  CLI::Option* four = command.add_flag_callback(
      "-4", [options = &latency->options] { options->family = 4; }, "IPv4 only");
  CLI::Option* six = command.add_flag_callback(
      "-6", [options = &latency->options] { options->family = 6; }, "IPv6 only");
  four->excludes(six);
  latency->output.AddOptions(command);
  return latency;
}

}  // namespace telvario::cli
