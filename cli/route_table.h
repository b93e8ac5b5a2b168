// A route as a person reads it: a table of one line a hop, its address (and name), its loss,
// requests sent, round trips (the last, median, mean, best, worst and p90) and jitter, and what
// its own figures do not mean. The client draws it while the route runs and prints it at its end.
#ifndef TELVARIO_CLI_ROUTE_TABLE_H
#define TELVARIO_CLI_ROUTE_TABLE_H

#include <string>
#include <vector>

#include "results_records.h"

namespace telvario::cli {

// The heading, then a line a hop, none ending in a newline; a line keeps `width` characters at
// most where `width` is not 0 (a terminal's), so that a redrawn table never wraps.
std::vector<std::string> RouteTableLines(const std::vector<HopRecord>& hops, std::size_t width = 0);

}  // namespace telvario::cli

#endif
