// The configuration's routes and throughput runs, on their schedules, away from the HTTP loop:
// each route entry on a thread of its own (a target that does not answer delays no other), and
// every throughput entry on one thread, one run at a time, so that the exporter never becomes
// the load it measures. Each run leaves its figures in the store.
#ifndef TELVARIO_EXPORTER_SCHEDULED_RUNS_H
#define TELVARIO_EXPORTER_SCHEDULED_RUNS_H

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "exporter_config.h"
#include "run_lane.h"
#include "run_store.h"

namespace telvario::exporter {

class ScheduledRuns {
 public:
  // `throughputTurn` is held by each throughput run, which a probe's waits for no other.
  ScheduledRuns(MeasurerMaker maker, std::shared_ptr<RunStore> store, std::mutex& throughputTurn);
  // Every run going on is cancelled; returns once each has ended.
  ~ScheduledRuns();
  ScheduledRuns(const ScheduledRuns&) = delete;
  ScheduledRuns& operator=(const ScheduledRuns&) = delete;

  // The entries of a configuration: an entry given as before keeps its schedule (and its run
  // going on); one no longer given is ended, its figures dropped from the page.
  void Take(const ExporterConfig& config);

 private:
  LaneJob RouteJob(const RouteTarget& route) const;
  LaneJob ThroughputJob(const ThroughputTarget& throughput) const;

  MeasurerMaker maker_;
  std::shared_ptr<RunStore> store_;
  std::mutex& throughputTurn_;
  std::map<std::string, std::unique_ptr<RunLane>> routes_;  // by job key
  std::unique_ptr<RunLane> throughput_;
};

}  // namespace telvario::exporter

#endif
