#include "probe_runs.h"

#include <algorithm>
#include <chrono>

#include "metrics_text.h"
#include "run_metrics.h"
#include "run_store.h"
#include "run_watchdog.h"
#include "url_text.h"

namespace telvario::exporter {
namespace {

using Clock = std::chrono::steady_clock;

// Kept back from the scrape's time-out for the cancel to take and the answer to reach it.
constexpr double kMarginSeconds = 1;
// A route's round is an echo request to every hop at once, this far apart (the component's
// default), and its last answers are waited for this long.
constexpr double kRoundSeconds = 0.1;
constexpr double kRouteAnswerSeconds = 1;
constexpr int kMostRounds = 20;
// A transfer's connections take about this long to open before its time counts; a
// responsiveness run times the idle latency first, for about as long again.
constexpr double kStartupSeconds = 1;
constexpr double kShortestTransfer = 1;
constexpr double kLongestTransfer = 10;

MeasuredRun Measure(RunMeasurer& measurer, const ProbeRequest& request, double budget) {
  if (request.module == "route") {
    const int rounds = static_cast<int>(
        std::clamp((budget - kRouteAnswerSeconds) / kRoundSeconds, 1.0, double{kMostRounds}));
    return measurer.Route(request.target, request.family, rounds);
  }
  const double startups = request.module == "responsiveness" ? 2 : 1;
  const double duration =
      std::clamp(budget - startups * kStartupSeconds, kShortestTransfer, kLongestTransfer);
  return measurer.Transfer(request.module, request.target, duration);
}

std::string Page(const LastRun& run) {
  MetricsText out;
  out.Family("telvario_probe_success", "gauge", "1 when the probe gave figures.");
  out.Sample("telvario_probe_success", "", run.measured.Succeeded() ? 1 : 0);
  out.Family("telvario_probe_duration_seconds", "gauge", "Time the probe took.");
  out.Sample("telvario_probe_duration_seconds", "", run.seconds);
  AddKindMetrics(out, {run}, run.kind);
  return out.Text();
}

ProbeResult Measured(const ProbeRequest& request, RunMeasurer& measurer, double budget,
                     const std::atomic<bool>& stopping) {
  const auto began = Clock::now();
  LastRun run{
      request.module,
      cli::WithoutUserinfo(request.target),
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(),
      0,
      {}};
  {
    const RunWatchdog watchdog(measurer, budget, stopping);
    run.measured = Measure(measurer, request, budget);
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - began).count();
  ProbeResult result;
  result.success = run.measured.Succeeded();
  result.failure = run.measured.failure;
  result.seconds = run.seconds;
  std::string why = result.failure;
  std::replace_if(
      why.begin(), why.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  result.page = (result.success ? "" : "# " + why + "\n") + Page(run);
  return result;
}

}  // namespace

ProbeResult ProbeRun(const ProbeRequest& request, const MeasurerMaker& maker,
                     std::mutex& throughputTurn, const std::atomic<bool>& stopping) {
  const double budget = std::max(request.timeoutSeconds - kMarginSeconds, 0.5);
  std::unique_lock<std::mutex> turn(throughputTurn, std::defer_lock);
  std::string failure;
  std::unique_ptr<RunMeasurer> measurer;
  if (request.module != "route" && !turn.try_lock()) {
    failure =
        "a throughput run is going on: one at a time, so that the exporter is not the "
        "load it measures";
  } else {
    measurer = maker ? maker(&failure) : nullptr;
    if (measurer == nullptr && failure.empty()) failure = "this exporter measures no runs";
  }
  if (measurer == nullptr) {
    ProbeResult result;
    result.failure = failure;
    result.page = FailedProbePage(failure, 0);
    return result;
  }
  return Measured(request, *measurer, budget, stopping);
}

}  // namespace telvario::exporter
