// The Results records of Sonde2's runs, as JSON: one record per run, its plan, its outcome and
// every sample. A failed run leaves out every figure it did not measure. Addresses are written
// without their user information.
#ifndef TELVARIO_PROBES_RESULTS_JSON_H
#define TELVARIO_PROBES_RESULTS_JSON_H

#include <string>

#include "latency_probe.h"
#include "responsiveness_probe.h"
#include "route_probe.h"
#include "throughput_probe.h"

namespace telvario {

std::string LatencyResultsJson(const LatencyPlan& plan, const LatencyRun& run);
std::string ThroughputResultsJson(const ThroughputPlan& plan, const ThroughputRun& run);
std::string ResponsivenessResultsJson(const ResponsivenessPlan& plan, const ResponsivenessRun& run);
std::string RouteResultsJson(const RoutePlan& plan, const RouteRun& run);

// A record of a run that could not start for its address: the measurement, the address as
// shown, the result and why.
std::string RefusedResultsJson(const char* measurement, const std::string& address, double result,
                               const std::string& failure);

}  // namespace telvario

#endif
