// How a Sonde2 measuring command hands over what it measured: its report as text or JSON, or its
// runs in the OpenMetrics text format, and with --svg its runs drawn to a file; and the exit
// status.
#ifndef TELVARIO_CLI_RUN_OUTPUT_H
#define TELVARIO_CLI_RUN_OUTPUT_H

#include <memory>
#include <string>
#include <vector>

#include "output_file.h"
#include "report.h"
#include "run_results.h"

namespace CLI {
class App;
}

namespace telvario::cli {

class RunOutput {
 public:
  // --svg FILE and --openmetrics, on the command's line.
  void AddOptions(CLI::App& command);
  // Checks them against --json (UsageError).
  void Check(bool json) const;
  // Checks them, then makes the picture's file, so that a path that cannot be written is told
  // before anything is measured (RunFailure).
  void Prepare(bool json);
  // Whether the output is for a person to read (neither JSON nor metrics).
  bool ForPerson() const { return !json_ && !openMetrics_; }

  // Draws the runs under the title `what`, then prints the report (or the runs' metrics); gives
  // the exit status: 130 after Ctrl-C, 1 when `failed` or the picture could not be written, else
  // 0. RunFailure when standard output cannot be written.
  int Finish(const Report& report, const std::vector<RunResults>& runs, const std::string& what,
             bool failed);

 private:
  bool json_ = false;
  bool openMetrics_ = false;
  std::string svgPath_;  // none: no picture
  std::unique_ptr<OutputFile> picture_;
};

// Prints a report as text or as one JSON object (RunFailure when it cannot be written whole).
void PrintReport(const Report& report, bool json);

}  // namespace telvario::cli

#endif
