#include "exporter.h"

#include <chrono>
#include <cstdio>

#include "probe_runs.h"
#include "run_timing.h"
#include "target_addresses.h"

namespace telvario::exporter {
namespace {

double UnixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void Log(const std::string& line) {
  std::fprintf(stderr, "telvario exporter: %s\n", line.c_str());
}

}  // namespace

Exporter::Sockets::Sockets() {
  // Its result is not examined: without sockets every target fails to resolve, and says so.
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

Exporter::Sockets::~Sockets() {
  WSACleanup();
}

Exporter::Exporter(std::string path, std::string version, MeasurerMaker maker)
    : path_(std::move(path)), maker_(std::move(maker)), scheduled_(maker_, runs_, throughputTurn_) {
  health_.version = std::move(version);
  health_.startedUnix = UnixNow();
  for (const char* module : kProbeModules) health_.modules.push_back({module, 0, 0, 0});
  Take(path_.empty() ? ExporterConfig{} : ReadConfig(path_));
}

Exporter::~Exporter() {
  const std::lock_guard<std::mutex> hold(lock_);
  sweep_.reset();
}

void Exporter::Take(const ExporterConfig& config) {
  LatencyPlan plan = ResolveLatency(config);
  const std::size_t count = plan.series.size();
  scheduled_.Take(config);
  // The sweep before ends first, its targets' places being the old list's; outside the lock,
  // so that a scrape meanwhile is answered from the counts as they stand.
  std::unique_ptr<EchoSweep> before;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    before = std::move(sweep_);
  }
  std::uint64_t sent = 0;
  if (before != nullptr) {
    before->Stop();
    before->Wait(INFINITE);
    sent = static_cast<std::uint64_t>(before->Sent());
    before.reset();
  }
  {
    const std::lock_guard<std::mutex> hold(lock_);
    sentBefore_ += sent;
    store_->Replace(std::move(plan.series));
    seriesCount_ = count;
    routeCount_ = config.route.size();
    throughputCount_ = config.throughput.size();
    transfers_.throughput = config.throughput;
    transfers_.probeUrls = config.probeUrls;
  }
  auto sweep = std::make_unique<EchoSweep>();
  std::string failure;
  if (!plan.sweep.empty() &&
      !sweep->Start(std::move(plan.sweep), kLatencyAnswerLimitMs, store_, &failure)) {
    throw ExporterFailure(failure);
  }
  const std::lock_guard<std::mutex> hold(lock_);
  sweep_ = std::move(sweep);
  health_.lastReloadOk = true;
  health_.lastReloadUnix = UnixNow();
}

std::string Exporter::Summary() const {
  const std::lock_guard<std::mutex> hold(lock_);
  const std::string series = std::to_string(seriesCount_) + " latency series, " +
                             std::to_string(routeCount_) + " routes and " +
                             std::to_string(throughputCount_) + " throughput runs scheduled";
  return path_.empty() ? series + " (no --config)" : series + " from " + path_;
}

std::string Exporter::Metrics() {
  ExporterHealth health;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    health = health_;
    health.echoSent = sentBefore_ + (sweep_ != nullptr ? sweep_->Sent() : 0);
  }
  return MetricsPage(store_->Snapshot(), *runs_, health);
}

void Exporter::CountProbe(const std::string& module, bool success, double seconds) {
  const std::lock_guard<std::mutex> hold(lock_);
  for (ExporterHealth::Module& counted : health_.modules) {
    if (counted.name != module) continue;
    ++counted.runs;
    if (!success) ++counted.failures;
    counted.seconds += seconds;
  }
}

Reply Exporter::Probe(const ProbeRequest& request, const std::atomic<bool>& stopping) {
  if (request.module != "latency" && request.module != "route") {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!MayProbeTransfer(transfers_, request.target)) {
      return Reply{403, "text/plain; charset=utf-8",
                   "target: transfers run only with a URL the configuration lists (a "
                   "throughput entry's url or upload, or probe_urls)\n"};
    }
  }
  const ProbeResult result = request.module == "latency"
                                 ? ProbeLatency(request, stopping)
                                 : ProbeRun(request, maker_, throughputTurn_, stopping);
  CountProbe(request.module, result.success, result.seconds);
  return Reply{200, kMetricsType, result.page};
}

Reply Exporter::Refused(const std::string& line) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    health_.lastReloadOk = false;
    ++health_.reloadFailures;
  }
  Log(line);
  return Reply{400, "text/plain; charset=utf-8", line + "\n"};
}

Reply Exporter::Reload() {
  const std::lock_guard<std::mutex> one(reloading_);
  if (path_.empty()) return Reply{400, "text/plain; charset=utf-8", "no --config file to read\n"};
  try {
    Take(ReadConfig(path_));
  } catch (const ConfigError& error) {
    return Refused(std::string(error.what()) + "; the configuration before stays");
  } catch (const ExporterFailure& error) {
    return Refused(std::string(error.what()) + "; no latency is measured until a reload succeeds");
  }
  const std::string line = "reloaded: " + Summary();
  Log(line);
  return Reply{200, "text/plain; charset=utf-8", line + "\n"};
}

}  // namespace telvario::exporter
