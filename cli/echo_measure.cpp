#include "echo_measure.h"

#include <CLI/CLI.hpp>

#include "automation_text.h"
#include "commands.h"
#include "option_values.h"
#include "progress.h"
#include "result_codes.h"

namespace telvario::cli {
namespace {

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
  if (const char* failure = ResultCodeText(Measured::Echo, result)) {
    const bool blocked = result == -1 && !EchoServiceOpens();
    report.AddFailure("Failure", blocked ? "this process may not send ICMP echo requests (no "
                                           "ICMP socket could be opened)"
                                         : failure);
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

namespace {

// `telvario ping HOST` and `telvario trace HOST --hop N`.
class EchoCommand final : public Command {
 public:
  std::string host;
  std::optional<long> hop;  // trace's

  bool SendsEcho() const override { return true; }

  int Run(Session& session) override {
    Report report;
    std::optional<short> ttl;
    if (hop) ttl = To16(*hop);
    MeasureEcho(session.Sonde(), report, host, ttl);
    return Finish(report, session);
  }
};

}  // namespace

std::unique_ptr<Command> AddPingCommand(CLI::App& command) {
  auto ping = std::make_unique<EchoCommand>();
  AddArgument(command, "HOST", ping->host, "a name or an IPv4 address");
  return ping;
}

std::unique_ptr<Command> AddTraceCommand(CLI::App& command) {
  auto trace = std::make_unique<EchoCommand>();
  AddArgument(command, "HOST", trace->host, "a name or an IPv4 address");
  AddWholeNumber(command, "--hop", trace->hop, "the hop (time to live) whose router answers")
      ->required();
  return trace;
}

}  // namespace telvario::cli
