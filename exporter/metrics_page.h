// The exporter's /metrics page, in Prometheus' text format (version 0.0.4): the latency of
// every target and family, the latest scheduled runs, and the exporter's own health.
#ifndef TELVARIO_EXPORTER_METRICS_PAGE_H
#define TELVARIO_EXPORTER_METRICS_PAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "latency_store.h"
#include "metrics_text.h"
#include "run_store.h"

namespace telvario::exporter {

// What the exporter says of itself.
struct ExporterHealth {
  std::string version;
  double startedUnix = 0;
  bool lastReloadOk = true;
  double lastReloadUnix = 0;  // the latest configuration taken
  std::uint64_t reloadFailures = 0;
  std::uint64_t echoSent = 0;  // by the continuous sweep, since start
  // /probe runs by module: how many, how many failed, and the seconds they took.
  struct Module {
    std::string name;
    std::uint64_t runs = 0;
    std::uint64_t failures = 0;
    double seconds = 0;
  };
  std::vector<Module> modules;
};

// The scheduled runs' figures come after the latency's, the exporter's health last.
std::string MetricsPage(const std::vector<LatencySeries>& latency, const RunStore& runs,
                        const ExporterHealth& health);

}  // namespace telvario::exporter

#endif
