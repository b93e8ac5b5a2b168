// /probe?module=route|download|upload|responsiveness&target=...: one run of the component a
// scrape, as the scheduled runs make them, sized to end within the scrape's time-out and
// cancelled at it whatever happens. A transfer waits for no other: where a throughput run
// (scheduled or probed) is going on, the probe fails at once, so that the exporter never
// becomes the load it measures.
#ifndef TELVARIO_EXPORTER_PROBE_RUNS_H
#define TELVARIO_EXPORTER_PROBE_RUNS_H

#include <atomic>
#include <mutex>

#include "probe_latency.h"
#include "run_measurer.h"

namespace telvario::exporter {

// `throughputTurn` is held by whichever throughput run is going on.
ProbeResult ProbeRun(const ProbeRequest& request, const MeasurerMaker& maker,
                     std::mutex& throughputTurn, const std::atomic<bool>& stopping);

}  // namespace telvario::exporter

#endif
