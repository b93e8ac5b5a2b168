// The client's latency measurement with Sonde2 (Latency and its statistics), and `telvario
// latency`.
#ifndef TELVARIO_CLI_LATENCY_MEASURE_H
#define TELVARIO_CLI_LATENCY_MEASURE_H

#include <optional>
#include <string>
#include <vector>

#include "report.h"
#include "run_results.h"
#include "telvario2_idl.h"

namespace telvario::cli {

struct LatencyOptions {
  std::optional<long> probes;
  std::optional<long> intervalMs;
  long family = 0;  // 0, 4 or 6
};

// Sets what the options give, measures, and reports the result and the statistics the run
// measured under the members' names (LatencyCancelled when Ctrl-C cut the run short, Failure
// when it failed); with `summary`, ping's summary lines are printed first. The run's Results go
// to `runs`.
void MeasureLatency(ISonde2& sonde, Report& report, const std::string& host,
                    const LatencyOptions& options, bool summary, std::vector<RunResults>* runs);

}  // namespace telvario::cli

#endif
