// The scheduled runs on /metrics: the last route to each target hop by hop, the last download,
// upload and responsiveness of each URL, each with when it ran and whether it gave figures,
// and the runs of each kind counted since start.
#ifndef TELVARIO_EXPORTER_RUN_METRICS_H
#define TELVARIO_EXPORTER_RUN_METRICS_H

#include <string>
#include <vector>

#include "metrics_text.h"
#include "run_store.h"

namespace telvario::exporter {

void AddRunMetrics(MetricsText& out, const std::vector<LastRun>& last,
                   const std::vector<RunCounts>& counts);
// The families of one kind alone (a /probe page's).
void AddKindMetrics(MetricsText& out, const std::vector<LastRun>& last, const std::string& kind);

}  // namespace telvario::exporter

#endif
