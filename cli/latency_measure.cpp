#include "latency_measure.h"

#include <cstdio>

#include "automation_text.h"
#include "sonde2_run.h"

namespace telvario::cli {
namespace {

const char* LatencyFailure(double result) {
  if (result == -1) return "no reply";
  if (result == -3) return "the name has no address of the family asked for";
  if (result == -4) return "the name could not be resolved";
  return nullptr;
}

std::string TakeText(BSTR text) {
  std::string narrow = Narrow(text);
  SysFreeString(text);
  return narrow;
}

}  // namespace

std::string FailureOf(const std::string& results) {
  const std::string key = "\"failure\": \"";
  const std::size_t start = results.find(key);
  if (start == std::string::npos) return "";
  std::string text;
  for (std::size_t i = start + key.size(); i < results.size() && results[i] != '"'; ++i) {
    if (results[i] == '\\' && i + 1 < results.size()) ++i;
    text += results[i];
  }
  return text;
}

bool MeasureLatency(ISonde2& sonde, Report& report, const std::string& host,
                    const LatencyOptions& options, bool summary, std::vector<RunResults>* runs,
                    std::string* error) {
  if (options.probes && sonde.put_Probes(static_cast<LONG>(*options.probes)) != S_OK) {
    *error = "--probes takes 1 to 10000";
    return false;
  }
  if (options.intervalMs &&
      sonde.put_ProbeInterval(static_cast<LONG>(*options.intervalMs)) != S_OK) {
    *error = "--interval takes 10 to 60000 ms";
    return false;
  }
  sonde.put_Family(static_cast<LONG>(options.family));
  BSTR name = ToBstr(host);
  double result = 0;
  Sonde2Run run(sonde, "measuring latency to " + host);
  sonde.Latency(name, &result);
  const RunResults record = run.Finish();
  runs->push_back(record);
  SysFreeString(name);

  double min = 0, median = 0, mean = 0, p90 = 0, p99 = 0, max = 0, jitter = 0, loss = 0;
  LONG sent = 0, received = 0;
  sonde.get_LatencyMin(&min);
  sonde.get_LatencyMedian(&median);
  sonde.get_LatencyMean(&mean);
  sonde.get_LatencyP90(&p90);
  sonde.get_LatencyP99(&p99);
  sonde.get_LatencyMax(&max);
  sonde.get_Jitter(&jitter);
  sonde.get_Loss(&loss);
  sonde.get_Sent(&sent);
  sonde.get_Received(&received);
  BSTR peerText = nullptr, resultsText = nullptr;
  sonde.get_PeerAddress(&peerText);
  sonde.get_Results(&resultsText);
  const std::string peer = TakeText(peerText);
  const std::string results = TakeText(resultsText);

  if (summary && sent > 0) {
    // As ping sums up a run, with the percentiles beside.
    std::printf("--- %s (%s) latency statistics ---\n", host.c_str(), peer.c_str());
    std::printf("%ld packets transmitted, %ld received, %.3g%% packet loss\n",
                static_cast<long>(sent), static_cast<long>(received), loss * 100);
    if (received > 0) {
      std::printf(
          "rtt min/median/mean/max = %.3f/%.3f/%.3f/%.3f ms, p90 %.3f ms, p99 %.3f ms, "
          "jitter %.3f ms\n\n",
          min, median, mean, max, p90, p99, jitter);
    }
  }
  report.Add("Latency", result);
  report.Add("LatencyMin", min);
  report.Add("LatencyMedian", median);
  report.Add("LatencyMean", mean);
  report.Add("LatencyP90", p90);
  report.Add("LatencyP99", p99);
  report.Add("LatencyMax", max);
  report.Add("Jitter", jitter);
  report.Add("Loss", loss);
  report.Add("Sent", static_cast<long long>(sent));
  report.Add("Received", static_cast<long long>(received));
  report.Add("PeerAddress", peer);
  if (record.cancelled) report.Add("LatencyCancelled", true);
  if (result < 0) {
    const char* known = LatencyFailure(result);
    report.Add("Failure", known != nullptr ? std::string(known) : FailureOf(results));
  }
  return true;
}

void ListAddresses(ISonde2& sonde, Report& report, const std::string& name) {
  BSTR text = ToBstr(name);
  BSTR answer = nullptr;
  sonde.Addresses(text, &answer);
  SysFreeString(text);
  const std::string addresses = TakeText(answer);
  report.Add("Addresses", addresses);
  if (addresses.empty()) report.Add("Failure", std::string("the name has no address"));
}

}  // namespace telvario::cli
