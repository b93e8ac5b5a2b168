// The client's responsiveness measurement with Sonde2: idle and loaded latency, and RPM; and
// `telvario responsiveness`.
#ifndef TELVARIO_CLI_RESPONSIVENESS_MEASURE_H
#define TELVARIO_CLI_RESPONSIVENESS_MEASURE_H

#include <string>
#include <vector>

#include "report.h"
#include "run_results.h"
#include "telvario2_idl.h"
#include "throughput_measure.h"

namespace telvario::cli {

struct ResponsivenessOptions {
  bool upload = false;  // uploads too, with the consent asked
  LoadOptions load;
  bool assumeYes = false;
};

// Measures and reports the RPM, IdleLatency, LoadedLatency and LoadedLatencyP90 the run
// measured under the members' names (ResponsivenessCancelled when Ctrl-C cut it short; Failure
// when it failed, DownloadFailure or UploadFailure when one direction of its load did); with
// `summary`, a line first says what the RPM stands for. The run's Results go to `runs`.
void MeasureResponsiveness(HMODULE library, ISonde2& sonde, Report& report, const std::string& url,
                           const ResponsivenessOptions& options, bool summary,
                           std::vector<RunResults>* runs);

}  // namespace telvario::cli

#endif
