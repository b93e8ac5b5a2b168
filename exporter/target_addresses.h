// The addresses the continuous latency goes to, resolved as a configuration is taken: one
// series for each target and family (a name with addresses of both families, and no family
// given, has one of each), in the order of the sweep's targets.
#ifndef TELVARIO_EXPORTER_TARGET_ADDRESSES_H
#define TELVARIO_EXPORTER_TARGET_ADDRESSES_H

#include <vector>

#include "echo_sweep.h"
#include "exporter_config.h"
#include "latency_store.h"

namespace telvario::exporter {

struct LatencyPlan {
  std::vector<SweepTarget> sweep;
  std::vector<LatencySeries> series;  // one for each of the sweep's targets, in its order
};

// ConfigError at the target's line where a name does not resolve, or has no address of the
// family asked for.
LatencyPlan ResolveLatency(const ExporterConfig& config);

}  // namespace telvario::exporter

#endif
