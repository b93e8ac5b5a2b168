// The client's responsiveness measurement with Sonde2: idle and loaded latency, and RPM.
#ifndef TELVARIO_CLI_RESPONSIVENESS_MEASURE_H
#define TELVARIO_CLI_RESPONSIVENESS_MEASURE_H

#include <optional>
#include <string>
#include <vector>

#include "report.h"
#include "run_results.h"
#include "telvario2_idl.h"

namespace telvario::cli {

struct ResponsivenessOptions {
  bool upload = false;  // uploads too, with the consent asked
  std::optional<long> streams;
  std::optional<double> durationSeconds;
  bool assumeYes = false;
};

// Measures and reports RPM, IdleLatency, LoadedLatency and LoadedLatencyP90 under the members'
// names (and ResponsivenessCancelled when Ctrl-C cut it short); with `summary`, a line first
// says what the RPM stands for. The run's Results go to `runs`. False when a setting was
// refused.
bool MeasureResponsiveness(HMODULE library, ISonde2& sonde, Report& report, const std::string& url,
                           const ResponsivenessOptions& options, bool summary,
                           std::vector<RunResults>* runs, std::string* error);

}  // namespace telvario::cli

#endif
