// Bounds a run of the component in time whatever happens inside it: from its deadline on, or
// once `stopping` is set, its measuring object is told to cancel, again at each look until the
// run ends, since the object forgets a cancel that comes between its runs.
#ifndef TELVARIO_EXPORTER_RUN_WATCHDOG_H
#define TELVARIO_EXPORTER_RUN_WATCHDOG_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "run_measurer.h"

namespace telvario::exporter {

class RunWatchdog {
 public:
  // Watches while it lives: made before the run, ended after it.
  RunWatchdog(RunMeasurer& measurer, double seconds, const std::atomic<bool>& stopping);
  ~RunWatchdog();
  RunWatchdog(const RunWatchdog&) = delete;
  RunWatchdog& operator=(const RunWatchdog&) = delete;

 private:
  std::mutex lock_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread thread_;  // last: it uses the others
};

}  // namespace telvario::exporter

#endif
