// The client's latency measurement with Sonde2 (Latency and its statistics) and its address
// listing (Addresses).
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

// Sets what the options give, measures, and reports the result and the statistics under the
// members' names (and LatencyCancelled when Ctrl-C cut the run short); with `summary`, ping's
// summary lines are printed first. The run's Results go to `runs`. False when a setting was
// refused.
bool MeasureLatency(ISonde2& sonde, Report& report, const std::string& host,
                    const LatencyOptions& options, bool summary, std::vector<RunResults>* runs,
                    std::string* error);

// Every address of the name, both families, in the resolver's order.
void ListAddresses(ISonde2& sonde, Report& report, const std::string& name);

// The reason a JSON record of Results gives under "failure"; "" for none.
std::string FailureOf(const std::string& results);

}  // namespace telvario::cli

#endif
