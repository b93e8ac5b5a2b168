// A thread that runs scheduled measurements one at a time, each job on its own period, with one
// measuring object (made on the thread, at its first run). Each job's first start falls at a
// random time within its `first` bound (or its period), and each later one a period on from the
// one before plus up to a tenth more at random: exporters started together, or reloaded
// together, drift apart instead of measuring a shared link at the same moments, and no job runs
// more often than its period.
#ifndef TELVARIO_EXPORTER_RUN_LANE_H
#define TELVARIO_EXPORTER_RUN_LANE_H

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "run_measurer.h"

namespace telvario::exporter {

struct LaneJob {
  std::string key;  // the same key in a new list is the same job, its schedule kept
  double everySeconds = 600;
  double firstSeconds = -1;  // negative: within the period
  // Measures with the lane's object; looks at `ending` (the lane stops, or the job is gone)
  // before each run it makes: a run the object was told to cancel before it began would go on
  // to its own end.
  std::function<void(RunMeasurer& measurer, const std::atomic<bool>& ending)> run;
};

class RunLane {
 public:
  RunLane(MeasurerMaker maker, std::vector<LaneJob> jobs);
  // Stops and waits: the run going on is cancelled, and ends within the component's grace.
  ~RunLane();
  RunLane(const RunLane&) = delete;
  RunLane& operator=(const RunLane&) = delete;

  // A new list: jobs kept by key keep their next start, new ones are spread as at the start,
  // and the run going on is cancelled where its job is gone.
  void Replace(std::vector<LaneJob> jobs);
  // Tells the thread to stop, without waiting: lanes told together end together.
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;
  struct Scheduled {
    LaneJob job;
    Clock::time_point due;
  };

  Clock::time_point FirstStart(const LaneJob& job);
  Clock::time_point NextStart(const LaneJob& job, Clock::time_point started);
  // Cancels the run going on, and tells its job to make no more: under the lock.
  void EndRunning();
  void Loop();
  void RunOne(const LaneJob& job);

  MeasurerMaker maker_;
  std::mutex lock_;  // what follows
  std::condition_variable changed_;
  std::mt19937_64 random_;
  std::vector<Scheduled> jobs_;
  std::string running_;  // the key of the job running; "" for none
  bool stopping_ = false;
  std::atomic<bool> ending_{false};
  std::unique_ptr<RunMeasurer> measurer_;
  std::thread thread_;
};

}  // namespace telvario::exporter

#endif
