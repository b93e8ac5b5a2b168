// /probe?target=HOST&module=latency: one measurement a scrape, for the pattern in which a
// monitoring system names the target of each scrape. A short burst of echo requests, sized to
// end within the scrape's time-out, on a sweep of its own, so that a target that does not
// answer delays no other.
#ifndef TELVARIO_EXPORTER_PROBE_LATENCY_H
#define TELVARIO_EXPORTER_PROBE_LATENCY_H

#include <atomic>
#include <string>
#include <string_view>

namespace telvario::exporter {

// The modules /probe knows, and which of them this exporter measures there.
inline constexpr const char* kProbeModules[] = {"latency", "route", "download", "upload",
                                                "responsiveness"};

struct ProbeRequest {
  std::string target;  // a host for latency and route; an http or https URL for the others
  std::string module;
  int family = 0;              // 4 or 6; 0: the resolver's first address
  double timeoutSeconds = 10;  // the scrape's, as its header gives it
};

// Reads /probe's query; false with why where it asks for nothing this exporter can measure.
// `scrapeTimeout` is the header's text ("" where absent).
bool ReadProbeRequest(std::string_view query, std::string_view scrapeTimeout, ProbeRequest* request,
                      std::string* failure);

struct ProbeResult {
  bool success = false;
  std::string page;     // in the metrics text format
  std::string failure;  // why it gave no result, in words
  double seconds = 0;
};

// Measures, ending within the time-out less a margin for the answer's way back, or at once
// when `stopping` is set.
ProbeResult ProbeLatency(const ProbeRequest& request, const std::atomic<bool>& stopping);

// The page of a probe that could not run (or not in time): success 0 and why, in a comment.
std::string FailedProbePage(const std::string& failure, double seconds);

}  // namespace telvario::exporter

#endif
