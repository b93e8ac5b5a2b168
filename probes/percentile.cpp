#include "percentile.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace telvario {

double NearestRank(const std::vector<double>& sorted, double percent) {
  if (sorted.empty()) return 0;
  // NaN would make the rank no index at all.
  const double share = std::isnan(percent) ? 0 : std::clamp(percent, 0.0, 100.0) / 100.0;
  const double rank = std::ceil(share * static_cast<double>(sorted.size()));
  const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
  return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace telvario
