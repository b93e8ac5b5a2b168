// `--svg FILE`: the runs of a command drawn for a person, one panel under another. A transfer
// (download, upload, the load of a responsiveness test) is its throughput over time from the
// 100 ms samples, all connections together and each on its own, in Mbit/s; round trips
// (latency, and responsiveness idle beside loaded) are their distribution as a CDF with the
// median, p90 and p99 marked; a route is each hop's round trips and loss, what carries on to
// the hops after it drawn apart from the router's own. Each panel keeps the Results record it was
// drawn from in its metadata.
#ifndef TELVARIO_CLI_SVG_CHART_H
#define TELVARIO_CLI_SVG_CHART_H

#include <string>
#include <vector>

#include "run_results.h"

namespace telvario::cli {

// The whole SVG document, titled with `what` was measured and when the first run began.
std::string RunsSvg(const std::vector<RunResults>& runs, const std::string& what);

}  // namespace telvario::cli

#endif
