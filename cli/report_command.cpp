// `telvario report [HOST] [--url URL] [--ftp HOST] [--hop N]`: every measurement in one go.
#include <CLI/CLI.hpp>

#include "commands.h"
#include "connection_report.h"
#include "loopback_servers.h"
#include "option_values.h"
#include "run_output.h"
#include "upload_measure.h"
#include "url_text.h"

namespace telvario::cli {
namespace {

// A report measures echo to its host four times unless told otherwise.
constexpr short kReportPingReps = 4;

class ReportCommand final : public Command {
 public:
  ReportTargets targets;
  std::optional<long> hop;
  RunOutput output;

  // With no targets it measures in a namespace of its own, where it may open what it needs.
  bool SendsEcho() const override { return !targets.host.empty(); }

  void Prepare(const CommonOptions& common) override {
    output.Check(common.json);
    if (hop) targets.hop = To16(*hop);
    // Before anything starts a thread: a process with several may not change namespaces. The
    // picture's file is made from there, as every file of the run.
    if (targets.None()) where_ = EnterPrivateNetwork();
    output.Prepare(common.json);
  }

  int Run(Session& session) override {
    if (!session.Options().pingReps) session.Sonde().put_PingReps(kReportPingReps);
    Report report;
    std::vector<RunResults> runs;
    ReportConnection(session.Library(), session.Sonde(), targets, where_, report, &runs);
    const std::string about = !targets.host.empty()  ? targets.host
                              : !targets.url.empty() ? WithoutUserinfo(targets.url)
                                                     : targets.ftpHost;
    return output.Finish(report, runs, "connection report, " + (targets.None() ? where_ : about),
                         report.Failed());
  }

 private:
  std::string where_ = "this machine's own network";
};

}  // namespace

std::unique_ptr<Command> AddReportCommand(CLI::App& command) {
  auto report = std::make_unique<ReportCommand>();
  command.add_option("HOST", report->targets.host,
                     "the host of echo, the hop, latency and the names");
  command.add_option("--url", report->targets.url, "the download")->type_name("URL");
  command.add_option("--ftp", report->targets.ftpHost, "the FTP server of the upload")
      ->type_name("HOST");
  AddWholeNumber(command, "--hop", report->hop, "the hop (time to live) measured (1 unless given)");
  AddConsentOption(command, report->targets.assumeYes);
  report->output.AddOptions(command);
  return report;
}

}  // namespace telvario::cli
