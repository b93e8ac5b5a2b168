#include "probe_latency.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "address_lookup.h"
#include "config_values.h"
#include "echo_sweep.h"
#include "exporter_config.h"
#include "latency_statistics.h"
#include "metric_text.h"
#include "metrics_text.h"
#include "query_string.h"
#include "run_timing.h"

namespace telvario::exporter {
namespace {

// Time kept back from the scrape's time-out for the answer to reach it.
constexpr double kMarginSeconds = 0.3;
constexpr double kLeastTimeout = 0.5;
constexpr double kMostTimeout = 120;
constexpr DWORD kIntervalMs = 100;
constexpr LONG kMostRequests = 10;
constexpr DWORD kLookMs = 20;

class SampleSink final : public SweepSink {
 public:
  void Answered(std::size_t /*target*/, double roundTripMs) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    samples_.push_back(LatencySample{0, true, roundTripMs});
  }
  void Lost(std::size_t /*target*/) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    samples_.push_back(LatencySample{0, false, 0});
  }
  std::vector<LatencySample> Samples() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return samples_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LatencySample> samples_;
};

double SecondsSince(std::chrono::steady_clock::time_point began) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

std::string Page(const ProbeRequest& request, const ResolvedAddress& peer,
                 const LatencyStatistics& statistics, double seconds) {
  MetricsText out;
  out.Family("telvario_probe_success", "gauge", "1 when any echo request was answered.");
  out.Sample("telvario_probe_success", "", statistics.received > 0 ? 1 : 0);
  out.Family("telvario_probe_duration_seconds", "gauge", "Time the probe took.");
  out.Sample("telvario_probe_duration_seconds", "", seconds);
  const std::string labels = "target=\"" + cli::LabelValue(request.target) + "\",family=\"" +
                             (peer.family == AF_INET6 ? "6" : "4") + "\"";
  out.Family("telvario_echo_peer_info", "gauge", "The address the requests went to.");
  out.Sample("telvario_echo_peer_info", labels + ",address=\"" + cli::LabelValue(peer.text) + "\"",
             1);
  // The names /metrics and the client's --openmetrics give them; a probe's count its own.
  out.Family("telvario_echo_requests_total", "counter", "Echo requests sent.");
  out.Sample("telvario_echo_requests_total", labels, statistics.sent);
  out.Family("telvario_echo_replies_total", "counter", "Echo replies received.");
  out.Sample("telvario_echo_replies_total", labels, statistics.received);
  out.Family("telvario_loss_ratio", "gauge", "Share of echo requests that got no reply.");
  out.Sample("telvario_loss_ratio", labels, statistics.loss);
  if (statistics.received == 0) return out.Text();
  const struct {
    const char* name;
    const char* help;
    double ms;
  } figures[] = {
      {"telvario_latency_min_seconds", "Shortest round-trip time.", statistics.min},
      {"telvario_latency_median_seconds", "Median round-trip time.", statistics.median},
      {"telvario_latency_mean_seconds", "Mean round-trip time.", statistics.mean},
      {"telvario_latency_p90_seconds", "90th percentile of the round-trip times (nearest rank).",
       statistics.p90},
      {"telvario_latency_max_seconds", "Longest round-trip time.", statistics.max},
      {"telvario_latency_jitter_seconds", "Mean change between successive round-trip times.",
       statistics.jitter},
  };
  for (const auto& figure : figures) {
    out.Family(figure.name, "gauge", figure.help);
    out.Sample(figure.name, labels, figure.ms / 1000);
  }
  return out.Text();
}

bool ReadTimeout(std::string_view text, double* seconds) {
  if (text.empty()) return true;  // a scrape without the header: the monitoring system's default
  try {
    *seconds = ReadDuration(std::string(text), 0, 3600);
  } catch (const ValueError&) {
    return false;
  }
  *seconds = std::clamp(*seconds, kLeastTimeout, kMostTimeout);
  return true;
}

}  // namespace

bool ReadProbeRequest(std::string_view query, std::string_view scrapeTimeout, ProbeRequest* request,
                      std::string* failure) {
  QueryParameters parameters;
  if (!ParseQuery(query, &parameters, failure)) return false;
  bool repeated = false;
  request->module = QueryValue(parameters, "module", &repeated);
  if (request->module.empty()) request->module = "latency";
  const bool known = std::any_of(std::begin(kProbeModules), std::end(kProbeModules),
                                 [&](const char* name) { return request->module == name; });
  if (!known || repeated) {
    *failure = "module is one of latency, route, download, upload, responsiveness";
    return false;
  }
  const std::string family = QueryValue(parameters, "family");
  // A route's target is a host; a transfer's a URL, http or https, said without its userinfo.
  const bool host = request->module == "latency" || request->module == "route";
  try {
    const std::string target = QueryValue(parameters, "target", &repeated);
    request->target = host ? ReadHost(target) : ReadUrl(target);
    if (!family.empty()) request->family = ReadFamily(family);
  } catch (const ValueError& error) {
    *failure = std::string(family.empty() ? "target: " : "target or family: ") + error.what();
    return false;
  }
  if (repeated) {
    *failure = "target is given once";
    return false;
  }
  if (!ReadTimeout(scrapeTimeout, &request->timeoutSeconds)) {
    *failure = "X-Prometheus-Scrape-Timeout-Seconds is not a number of seconds";
    return false;
  }
  return true;
}

std::string FailedProbePage(const std::string& failure, double seconds) {
  MetricsText out;
  out.Family("telvario_probe_success", "gauge", "1 when the probe gave a result.");
  out.Sample("telvario_probe_success", "", 0);
  out.Family("telvario_probe_duration_seconds", "gauge", "Time the probe took.");
  out.Sample("telvario_probe_duration_seconds", "", seconds);
  std::string reason = failure;
  std::replace_if(
      reason.begin(), reason.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return "# " + reason + "\n" + out.Text();
}

ProbeResult ProbeLatency(const ProbeRequest& request, const std::atomic<bool>& stopping) {
  const auto began = std::chrono::steady_clock::now();
  ProbeResult result;
  const double budgetMs = std::max(request.timeoutSeconds - kMarginSeconds, 0.2) * 1000;
  std::vector<ResolvedAddress> found;
  const int family = request.family == 4 ? AF_INET : request.family == 6 ? AF_INET6 : AF_UNSPEC;
  if (LookUpAddresses(request.target.c_str(), family, &found) != LookupEnd::Found) {
    result.failure = "target " + request.target + " does not resolve" +
                     (family == AF_UNSPEC ? "" : " to an address of that family");
  } else {
    const auto answerLimitMs =
        static_cast<DWORD>(std::min<double>(kLatencyAnswerLimitMs, budgetMs / 2));
    const double spare = std::max(budgetMs - answerLimitMs, 0.0);
    const auto requests = static_cast<LONG>(
        std::clamp<double>(std::floor(spare / kIntervalMs) + 1, 1, kMostRequests));
    auto sink = std::make_shared<SampleSink>();
    EchoSweep sweep;
    if (sweep.Start({SweepTarget{found.front(), kIntervalMs, static_cast<WORD>(kDefaultPacketSize),
                                 requests}},
                    answerLimitMs, sink, &result.failure)) {
      while (!sweep.Wait(kLookMs)) {
        if (stopping.load()) sweep.Stop();
      }
      const LatencyStatistics statistics = Summarize(sink->Samples());
      result.success = statistics.received > 0;
      if (!result.success) result.failure = "no echo request was answered";
      result.seconds = SecondsSince(began);
      result.page = Page(request, found.front(), statistics, result.seconds);
      return result;
    }
  }
  result.seconds = SecondsSince(began);
  result.page = FailedProbePage(result.failure, result.seconds);
  return result;
}

}  // namespace telvario::exporter
