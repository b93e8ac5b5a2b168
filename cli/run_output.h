// How a measuring command hands over what it measured: its report as text or JSON, or its runs
// in the OpenMetrics text format, and with --svg its runs drawn to a file; and the exit status.
#ifndef TELVARIO_CLI_RUN_OUTPUT_H
#define TELVARIO_CLI_RUN_OUTPUT_H

#include <cstdio>
#include <string>
#include <vector>

#include "report.h"
#include "run_results.h"

namespace telvario::cli {

constexpr int kMeasured = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

struct RunOutputOptions {
  bool json = false;
  bool openMetrics = false;
  std::string svgPath;  // none: no picture
};

class RunOutput {
 public:
  explicit RunOutput(RunOutputOptions options) : options_(std::move(options)) {}
  ~RunOutput();
  RunOutput(const RunOutput&) = delete;
  RunOutput& operator=(const RunOutput&) = delete;

  // Opens the picture's file now, so that a path that cannot be written is told before anything
  // is measured.
  bool Open(std::string* error);

  // Prints the report (or the runs' metrics), draws the runs under the title `what`, and gives
  // the exit status: 130 after Ctrl-C, 1 when `failed` or the picture could not be written,
  // else 0.
  int Finish(const Report& report, const std::vector<RunResults>& runs, const std::string& what,
             bool failed);

 private:
  RunOutputOptions options_;
  std::FILE* svg_ = nullptr;
};

}  // namespace telvario::cli

#endif
