#include "throughput_measure.h"

#include <CLI/CLI.hpp>

#include "automation_text.h"
#include "commands.h"
#include "interrupt.h"
#include "option_values.h"
#include "result_codes.h"
#include "run_output.h"
#include "setting_bounds.h"
#include "sonde2_run.h"
#include "upload_measure.h"
#include "url_text.h"

namespace telvario::cli {
namespace {

// What one direction's call gave.
struct Direction {
  const char* name;  // Download, Upload
  double result = 0;
  bool refused = false;  // the upload's question was answered no
  std::optional<RunResults> run;
};

std::string Why(const Direction& way) {
  const TransferRecord* transfer = way.run ? way.run->Transfer() : nullptr;
  if (way.refused) return "the upload was not confirmed, so nothing was sent";
  if (way.run && !way.run->Readable()) return way.run->problem;
  if (transfer != nullptr && transfer->outcome.cancelled && way.result < 0) {
    return "cancelled before a rate could be measured";
  }
  if (way.result < 0) return FailureText(ResultCodeText(Measured::Throughput, way.result), way.run);
  // A run that gave no rate says why in its record (an upload the consent refused); so does
  // one whose every connection broke or stalled before its end, beside the rate it had.
  if (transfer != nullptr) return transfer->outcome.failure;
  return "";
}

// One direction: its rate, the bytes and seconds counted, and what went wrong, each under a name
// of its own.
void AddDirection(Report& report, const Direction& way) {
  const std::string name = way.name;
  const TransferRecord* transfer = way.run ? way.run->Transfer() : nullptr;
  report.Add(name, way.result);
  if (transfer != nullptr) {
    report.Add(name + "Bytes", transfer->bytes);
    report.Add(name + "Elapsed", transfer->elapsed);
    if (transfer->outcome.cancelled) report.Add(name + "Cancelled", true);
  }
  const std::string why = Why(way);
  if (!why.empty()) report.AddFailure(name + "Failure", why);
}

Direction Download(ISonde2& sonde, const std::string& url) {
  Direction way{"Download", 0, false, std::nullopt};
  BSTR text = ToBstr(url);
  Sonde2Run measuring(sonde, "downloading from " + WithoutUserinfo(url));
  sonde.Download(text, &way.result);
  way.run = measuring.Finish("download");
  SysFreeString(text);
  return way;
}

Direction Upload(HMODULE library, ISonde2& sonde, const std::string& url, bool assumeYes) {
  Direction way{"Upload", 0, false, std::nullopt};
  BSTR text = ToBstr(url);
  {
    // The consent is asked inside the call, before the run begins; the run shows its progress.
    const ConsentScope consent(library, assumeYes, "");
    Sonde2Run measuring(sonde, "uploading to " + WithoutUserinfo(url));
    sonde.Upload(text, &way.result);
    way.run = measuring.Finish("upload");
    // Under Windows the system's box asks, unseen by the client: an upload it refused gives 0,
    // and its record says so (an earlier component's left none of its own).
    way.refused = consent.Refused() || (way.result >= 0 && !way.run);
  }
  SysFreeString(text);
  return way;
}

class ThroughputCommand final : public Command {
 public:
  std::string url;
  ThroughputOptions options;
  RunOutput output;

  bool NeedsSonde2() const override { return true; }
  void Prepare(const CommonOptions& common) override { output.Prepare(common.json); }

  int Run(Session& session) override {
    if (options.uploadUrl.empty()) options.uploadUrl = url;
    Report report;
    std::vector<RunResults> runs;
    MeasureThroughput(session.Library(), session.Sonde2(), report, url, options, &runs);
    const bool both = options.uploadUrl != url;
    return output.Finish(report, runs,
                         "throughput of " + WithoutUserinfo(url) +
                             (both ? " and " + WithoutUserinfo(options.uploadUrl) : ""),
                         report.Failed());
  }
};

}  // namespace

void LoadOptions::AddOptions(CLI::App& command) {
  AddWholeNumber(command, "--streams", streams, "connections each way", "N", &kStreamsBounds);
  AddSeconds(command, "--duration", durationSeconds, "seconds each way may take", kDurationBounds);
}

void LoadOptions::Set(ISonde2& sonde) const {
  if (streams && sonde.put_Streams(static_cast<LONG>(*streams)) != S_OK) {
    throw UsageError("--streams " + kStreamsBounds.Range());
  }
  if (durationSeconds && sonde.put_Duration(*durationSeconds) != S_OK) {
    throw UsageError("--duration " + kDurationBounds.Range());
  }
}

std::string FailureText(const char* known, const std::optional<RunResults>& run) {
  const RunOutcome* outcome = run ? run->Outcome() : nullptr;
  const std::string why = outcome != nullptr ? outcome->failure : "";
  if (known == nullptr) return why.empty() ? "the run failed" : why;
  return std::string(known) + (why.empty() ? "" : " (" + why + ")");
}

void MeasureThroughput(HMODULE library, ISonde2& sonde, Report& report,
                       const std::string& downloadUrl, const ThroughputOptions& options,
                       std::vector<RunResults>* runs) {
  options.load.Set(sonde);
  if (!downloadUrl.empty()) {
    const Direction way = Download(sonde, downloadUrl);
    if (way.run) runs->push_back(*way.run);
    AddDirection(report, way);
  }
  if (!options.uploadUrl.empty() && !Interrupted()) {
    const Direction way = Upload(library, sonde, options.uploadUrl, options.assumeYes);
    if (way.run) runs->push_back(*way.run);
    AddDirection(report, way);
  }
}

std::unique_ptr<Command> AddThroughputCommand(CLI::App& command) {
  auto throughput = std::make_unique<ThroughputCommand>();
  AddArgument(command, "URL", throughput->url, "an http or https URL to download");
  command.add_option("--upload", throughput->options.uploadUrl, "where the upload goes")
      ->type_name("URL");
  throughput->options.load.AddOptions(command);
  AddConsentOption(command, throughput->options.assumeYes);
  throughput->output.AddOptions(command);
  return throughput;
}

}  // namespace telvario::cli
