#include "scheduled_runs.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

#include "metric_text.h"
#include "run_watchdog.h"
#include "setting_bounds.h"
#include "url_text.h"

namespace telvario::exporter {
namespace {

double UnixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string Number(double value) {
  return cli::MetricNumber(value);
}

// Every setting of an entry: the same key is the same schedule.
std::string RouteKey(const RouteTarget& route) {
  return "route " + route.target + " " + std::to_string(route.family) + " " +
         Number(route.everySeconds) + " " + Number(route.firstSeconds);
}

std::string ThroughputKey(const ThroughputTarget& throughput) {
  return "throughput " + throughput.url + " " + throughput.upload + " " +
         (throughput.responsiveness ? "1 " : "0 ") + Number(throughput.everySeconds) + " " +
         Number(throughput.firstSeconds) + " " + Number(throughput.durationSeconds);
}

// Past its own bounds (a route's rounds, a transfer's duration) a run is cancelled this long
// after it began, or this long after its duration: whatever happens inside it, none hangs.
constexpr double kRouteLimitSeconds = 60;
constexpr double kTransferSlackSeconds = 30;

// One run, timed and bounded, into the store; a failure said on standard error.
template <typename Measure>
void Record(RunStore& store, const char* kind, const std::string& target, RunMeasurer& measurer,
            double limitSeconds, const std::atomic<bool>& ending, Measure measure) {
  LastRun last{kind, target, UnixNow(), 0, {}};
  const auto began = std::chrono::steady_clock::now();
  {
    const RunWatchdog watchdog(measurer, limitSeconds, ending);
    last.measured = measure();
  }
  last.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  if (!last.measured.Succeeded()) {
    std::fprintf(stderr, "telvario exporter: %s %s: %s\n", kind, target.c_str(),
                 last.measured.failure.c_str());
  }
  store.Add(std::move(last));
}

}  // namespace

ScheduledRuns::ScheduledRuns(MeasurerMaker maker, std::shared_ptr<RunStore> store,
                             std::mutex& throughputTurn)
    : maker_(std::move(maker)), store_(std::move(store)), throughputTurn_(throughputTurn) {}

ScheduledRuns::~ScheduledRuns() {
  // Told together, they end together.
  for (auto& [key, lane] : routes_) lane->Stop();
  if (throughput_ != nullptr) throughput_->Stop();
  routes_.clear();
  throughput_.reset();
}

LaneJob ScheduledRuns::RouteJob(const RouteTarget& route) const {
  RunStore* store = store_.get();
  return LaneJob{RouteKey(route), route.everySeconds, route.firstSeconds,
                 [store, route](RunMeasurer& measurer, const std::atomic<bool>& ending) {
                   if (ending) return;
                   Record(*store, "route", route.target, measurer, kRouteLimitSeconds, ending,
                          [&] { return measurer.Route(route.target, route.family, 0); });
                 }};
}

LaneJob ScheduledRuns::ThroughputJob(const ThroughputTarget& throughput) const {
  RunStore* store = store_.get();
  std::mutex* turn = &throughputTurn_;
  return LaneJob{
      ThroughputKey(throughput), throughput.everySeconds, throughput.firstSeconds,
      [store, turn, throughput](RunMeasurer& measurer, const std::atomic<bool>& ending) {
        const std::pair<const char*, const std::string*> runs[] = {
            {"download", &throughput.url},
            {"upload", &throughput.upload},
            {"responsiveness", throughput.responsiveness ? &throughput.url : nullptr},
        };
        for (const auto& [kind, url] : runs) {
          if (url == nullptr || url->empty()) continue;
          const std::lock_guard<std::mutex> hold(*turn);  // a probe's ends within its scrape
          if (ending) return;
          const double duration = throughput.durationSeconds > 0 ? throughput.durationSeconds
                                                                 : cli::kDurationBounds.fallback;
          Record(*store, kind, cli::WithoutUserinfo(*url), measurer,
                 duration + kTransferSlackSeconds, ending, [&, kind = kind, url = url] {
                   return measurer.Transfer(kind, *url, throughput.durationSeconds);
                 });
        }
      }};
}

void ScheduledRuns::Take(const ExporterConfig& config) {
  std::set<std::pair<std::string, std::string>> measured;
  std::map<std::string, std::unique_ptr<RunLane>> routes;
  for (const RouteTarget& route : config.route) {
    LaneJob job = RouteJob(route);
    measured.insert({"route", route.target});
    const auto kept = routes_.find(job.key);
    if (kept != routes_.end()) {
      routes[job.key] = std::move(kept->second);
      routes_.erase(kept);
    } else if (routes.count(job.key) == 0) {
      const std::string key = job.key;
      routes[key] = std::make_unique<RunLane>(maker_, std::vector<LaneJob>{std::move(job)});
    }
  }
  for (auto& [key, lane] : routes_) lane->Stop();
  routes_ = std::move(routes);  // the lanes no longer given end here

  std::vector<LaneJob> throughput;
  for (const ThroughputTarget& entry : config.throughput) {
    throughput.push_back(ThroughputJob(entry));
    for (const std::string* url : {&entry.url, &entry.upload}) {
      if (url->empty()) continue;
      measured.insert({url == &entry.url ? "download" : "upload", cli::WithoutUserinfo(*url)});
    }
    if (entry.responsiveness) measured.insert({"responsiveness", cli::WithoutUserinfo(entry.url)});
  }
  if (throughput_ != nullptr) {
    throughput_->Replace(std::move(throughput));
  } else if (!throughput.empty()) {
    throughput_ = std::make_unique<RunLane>(maker_, std::move(throughput));
  }
  store_->Keep(measured);
}

}  // namespace telvario::exporter
