// `--openmetrics`: the runs of a command in the OpenMetrics text format, for a monitoring
// system's text-file collector: one gauge family per figure, named telvario_... with its unit
// last, labelled with the target, and closed by "# EOF".
#ifndef TELVARIO_CLI_OPENMETRICS_H
#define TELVARIO_CLI_OPENMETRICS_H

#include <string>
#include <vector>

#include "run_results.h"

namespace telvario::cli {

std::string RunsOpenMetrics(const std::vector<RunResults>& runs);

}  // namespace telvario::cli

#endif
