#include "responsiveness_measure.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "automation_text.h"
#include "commands.h"
#include "option_values.h"
#include "result_codes.h"
#include "run_output.h"
#include "sonde2_run.h"
#include "standard_output.h"
#include "upload_measure.h"
#include "url_text.h"

namespace telvario::cli {
namespace {

void PrintSummary(const ResponsivenessRecord& run) {
  if (!run.rpm) return;
  char text[256];
  std::snprintf(text, sizeof text, "%.0f RPM: a round trip of %.1f ms under load", *run.rpm,
                60000.0 / *run.rpm);
  std::string summary = text;
  if (run.idleLatency && run.loadedLatency) {
    std::snprintf(text, sizeof text, " (idle latency %.1f ms, loaded %.1f ms, p90 %.1f ms)",
                  *run.idleLatency, *run.loadedLatency, run.loadedLatencyP90.value_or(0));
    summary += text;
  }
  if (run.throughput) {
    std::snprintf(text, sizeof text, "; the load %.1f Mbit/s%s", *run.throughput,
                  run.upload ? " both ways together" : "");
    summary += text;
  }
  WriteOut(summary + "\n\n");
}

std::string Why(double result, const std::optional<RunResults>& run) {
  const ResponsivenessRecord* record = run ? run->Responsiveness() : nullptr;
  if (run && !run->Readable()) return run->problem;
  if (record != nullptr && record->outcome.cancelled && !record->rpm) {
    return "cancelled before a round trip under load was measured";
  }
  if (result < 0) return FailureText(ResultCodeText(Measured::Responsiveness, result), run);
  if (record == nullptr || !record->rpm) return "no probe was answered under the load";
  return "";
}

class ResponsivenessCommand final : public Command {
 public:
  std::string url;
  ResponsivenessOptions options;
  RunOutput output;

  bool NeedsSonde2() const override { return true; }
  void Prepare(const CommonOptions& common) override { output.Prepare(common.json); }

  int Run(Session& session) override {
    Report report;
    std::vector<RunResults> runs;
    MeasureResponsiveness(session.Library(), session.Sonde2(), report, url, options,
                          output.ForPerson(), &runs);
    return output.Finish(report, runs, "responsiveness of " + WithoutUserinfo(url),
                         report.Failed());
  }
};

}  // namespace

void MeasureResponsiveness(HMODULE library, ISonde2& sonde, Report& report, const std::string& url,
                           const ResponsivenessOptions& options, bool summary,
                           std::vector<RunResults>* runs) {
  options.load.Set(sonde);
  sonde.put_ResponsivenessUpload(options.upload ? VARIANT_TRUE : VARIANT_FALSE);
  BSTR text = ToBstr(url);
  double result = 0;
  std::optional<RunResults> run;
  {
    const ConsentScope consent(library, options.assumeYes, "measuring responsiveness");
    Sonde2Run measuring(sonde, "measuring responsiveness with " + WithoutUserinfo(url));
    sonde.Responsiveness(text, &result);
    run = measuring.Finish("responsiveness");
  }
  SysFreeString(text);
  if (run) runs->push_back(*run);
  const ResponsivenessRecord* record = run ? run->Responsiveness() : nullptr;
  if (summary && record != nullptr) PrintSummary(*record);
  if (record != nullptr) {
    report.Add("RPM", record->rpm);
    report.Add("IdleLatency", record->idleLatency);
    report.Add("LoadedLatency", record->loadedLatency);
    report.Add("LoadedLatencyP90", record->loadedLatencyP90);
    report.Add("LoadThroughput", record->throughput);
    if (record->outcome.cancelled) report.Add("ResponsivenessCancelled", true);
  }
  const std::string why = Why(result, run);
  if (!why.empty()) report.AddFailure("Failure", why);
  if (record == nullptr) return;
  if (!record->downloadFailure.empty())
    report.AddFailure("DownloadFailure", record->downloadFailure);
  if (!record->uploadFailure.empty()) report.AddFailure("UploadFailure", record->uploadFailure);
}

std::unique_ptr<Command> AddResponsivenessCommand(CLI::App& command) {
  auto responsiveness = std::make_unique<ResponsivenessCommand>();
  AddArgument(command, "URL", responsiveness->url,
              "an http or https URL whose server the load and the probes go to");
  command.add_flag("--upload", responsiveness->options.upload,
                   "load the link with uploads too (asks first)");
  responsiveness->options.load.AddOptions(command);
  AddConsentOption(command, responsiveness->options.assumeYes);
  responsiveness->output.AddOptions(command);
  return responsiveness;
}

}  // namespace telvario::cli
