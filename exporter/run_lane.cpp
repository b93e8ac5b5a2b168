#include "run_lane.h"

#include <algorithm>
#include <cstdio>

namespace telvario::exporter {
namespace {

// Each later start comes up to this share of the period late, at random.
constexpr double kLaterSpread = 0.1;

std::chrono::steady_clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds));
}

}  // namespace

RunLane::RunLane(MeasurerMaker maker, std::vector<LaneJob> jobs)
    : maker_(std::move(maker)), random_(std::random_device{}()) {
  for (LaneJob& job : jobs) {
    const Clock::time_point due = FirstStart(job);
    jobs_.push_back({std::move(job), due});
  }
  thread_ = std::thread([this] { Loop(); });
}

RunLane::~RunLane() {
  Stop();
  thread_.join();
}

void RunLane::Stop() {
  const std::lock_guard<std::mutex> hold(lock_);
  stopping_ = true;
  EndRunning();
  changed_.notify_all();
}

RunLane::Clock::time_point RunLane::FirstStart(const LaneJob& job) {
  const double bound =
      job.firstSeconds < 0 ? job.everySeconds : std::min(job.firstSeconds, job.everySeconds);
  return Clock::now() + Seconds(std::uniform_real_distribution<double>(0, bound)(random_));
}

RunLane::Clock::time_point RunLane::NextStart(const LaneJob& job, Clock::time_point started) {
  const double late =
      std::uniform_real_distribution<double>(0, job.everySeconds * kLaterSpread)(random_);
  return started + Seconds(job.everySeconds + late);
}

void RunLane::Replace(std::vector<LaneJob> jobs) {
  const std::lock_guard<std::mutex> hold(lock_);
  std::vector<Scheduled> fresh;
  bool runningKept = running_.empty();
  for (LaneJob& job : jobs) {
    const auto before = std::find_if(jobs_.begin(), jobs_.end(),
                                     [&](const Scheduled& old) { return old.job.key == job.key; });
    runningKept = runningKept || job.key == running_;
    const Clock::time_point due = before != jobs_.end() ? before->due : FirstStart(job);
    fresh.push_back({std::move(job), due});
  }
  jobs_ = std::move(fresh);
  if (!runningKept) EndRunning();
  changed_.notify_all();
}

void RunLane::EndRunning() {
  if (running_.empty()) return;
  ending_ = true;
  if (measurer_ != nullptr) measurer_->Cancel();
}

void RunLane::Loop() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_) {
    const auto next =
        std::min_element(jobs_.begin(), jobs_.end(),
                         [](const Scheduled& a, const Scheduled& b) { return a.due < b.due; });
    if (next == jobs_.end()) {
      changed_.wait(hold);
      continue;
    }
    const Clock::time_point due = next->due;
    if (Clock::now() < due) {
      // Woken early by a new list or a stop: the earliest job is looked for again.
      changed_.wait_until(hold, due);
      continue;
    }
    const LaneJob job = next->job;
    // From when it starts: a run held up by another starts its period anew.
    next->due = NextStart(job, Clock::now());
    running_ = job.key;
    ending_ = false;
    hold.unlock();
    RunOne(job);
    hold.lock();
    running_.clear();
  }
  hold.unlock();
  measurer_.reset();  // on the thread that made it
}

void RunLane::RunOne(const LaneJob& job) {
  if (measurer_ == nullptr) {
    std::string failure;
    std::unique_ptr<RunMeasurer> made = maker_(&failure);
    if (made == nullptr) {
      std::fprintf(stderr, "telvario exporter: no scheduled run can measure: %s\n",
                   failure.c_str());
      return;
    }
    const std::lock_guard<std::mutex> hold(lock_);
    measurer_ = std::move(made);
    if (ending_) return;
  }
  job.run(*measurer_, ending_);
}

}  // namespace telvario::exporter
