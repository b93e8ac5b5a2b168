// The nearest-rank percentile, shared by the component's statistics and the client's pictures:
// plain C++, no Windows header, so that both sides link the one definition.
#ifndef TELVARIO_PROBES_PERCENTILE_H
#define TELVARIO_PROBES_PERCENTILE_H

#include <vector>

namespace telvario {

// The value at percentile `percent` (0 to 100, clamped) of sorted values, by nearest rank: the
// smallest value with at least that share of values at or below it. 0 for no values.
double NearestRank(const std::vector<double>& sorted, double percent);

}  // namespace telvario

#endif
