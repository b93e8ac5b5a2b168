#include "run_output.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "byte_output.h"
#include "command.h"
#include "interrupt.h"
#include "openmetrics.h"
#include "standard_output.h"
#include "svg_chart.h"

namespace telvario::cli {

void RunOutput::AddOptions(CLI::App& command) {
  command
      .add_option("--svg", svgPath_,
                  "draw the runs into FILE (SVG), a panel each under a title saying what was "
                  "measured and when: a transfer as its throughput over time per 100 ms, all "
                  "connections and each, in Mbit/s; round trips as their distribution (CDF) "
                  "with the median, p90 and p99 marked, loaded beside idle where there is a "
                  "load; a route as each hop's round trips and loss, what carries on to the hops "
                  "after it apart from the router's own; each panel keeps the run's Results "
                  "record. An existing FILE is replaced only once the new picture is written "
                  "whole")
      ->type_name("FILE")
      ->check([](const std::string& path) { return path.empty() ? "needs a file" : ""; });
  command.add_flag("--openmetrics", openMetrics_,
                   "print the runs in the OpenMetrics text format instead of text or --json, for "
                   "a monitoring system's text-file collector: telvario_... gauges with their "
                   "unit last, labelled with the measurement and its target, each run's "
                   "telvario_run_timestamp_seconds, telvario_run_succeeded and "
                   "telvario_run_cancelled, ending with # EOF");
}

void RunOutput::Check(bool json) const {
  if (openMetrics_ && json) throw UsageError("--openmetrics and --json exclude each other");
}

void RunOutput::Prepare(bool json) {
  Check(json);
  json_ = json;
  if (svgPath_.empty()) return;
  picture_ = std::make_unique<OutputFile>(svgPath_);
  std::string error;
  if (!picture_->Prepare(&error)) {
    picture_.reset();
    throw RunFailure(error);
  }
}

int RunOutput::Finish(const Report& report, const std::vector<RunResults>& runs,
                      const std::string& what, bool failed) {
  if (picture_ != nullptr) {
    std::string error;
    if (!picture_->Commit(RunsSvg(runs, what), &error)) {
      std::fprintf(stderr, "telvario: %s\n", error.c_str());
      failed = true;
    }
  }
  if (openMetrics_) {
    WriteBytesUnchanged(stdout);
    WriteOut(RunsOpenMetrics(runs));
  } else {
    PrintReport(report, json_);
  }
  if (Interrupted()) return kInterruptedStatus;
  return failed ? kFailed : kMeasured;
}

void PrintReport(const Report& report, bool json) {
  WriteOut(json ? report.Json() : report.Text());
}

}  // namespace telvario::cli
