#include "echo_measure.h"

#include "automation_text.h"
#include "progress.h"

namespace telvario::cli {
namespace {

// What a negative result means, for the reader of the report.
const char* EchoFailure(SHORT result) {
  switch (result) {
    case -1:
      return "no reply";
    case -3:
      return "the name exists but has no address";
    case -4:
      return "the name could not be resolved";
    default:
      return nullptr;
  }
}

// The object does not say why no reply came; the client can tell one reason apart: that this
// process may not send ICMP at all.
bool EchoServiceOpens() {
  const HANDLE service = IcmpCreateFile();
  if (service == INVALID_HANDLE_VALUE) return false;
  IcmpCloseHandle(service);
  return true;
}

}  // namespace

void MeasureEcho(ISonde& sonde, Report& report, const std::string& host, std::optional<short> hop) {
  BSTR site = ToBstr(host);
  SHORT result = 0;
  {
    Progress progress((hop ? "tracing hop " + std::to_string(*hop) + " to " : "pinging ") + host);
    if (hop) {
      sonde.get_TraceRouteTime(site, *hop, &result);
    } else {
      sonde.get_PingTime(site, &result);
    }
  }
  SysFreeString(site);
  report.Add(hop ? "TraceRouteTime" : "PingTime", static_cast<long long>(result));
  if (const char* failure = EchoFailure(result)) {
    const bool blocked = result == -1 && !EchoServiceOpens();
    report.Add("Failure", std::string(blocked ? "this process may not send ICMP echo requests "
                                                "(no ICMP socket could be opened)"
                                              : failure));
  }
  SHORT reps = 0, goodPings = 0, rtt = 0;
  sonde.get_PingReps(&reps);
  for (SHORT i = 0; i < reps; ++i) {
    sonde.get_RTT(i, &rtt);
    report.Add("RTT(" + std::to_string(i) + ")", static_cast<long long>(rtt));
  }
  sonde.get_NGoodPings(&goodPings);
  report.Add("NGoodPings", static_cast<long long>(goodPings));
  BSTR replyIp = nullptr;
  sonde.get_ReplyIP(&replyIp);
  report.Add("ReplyIP", Narrow(replyIp));
  SysFreeString(replyIp);
}

}  // namespace telvario::cli
