#include "latency_probe.h"

#include <memory>

#include "address_lookup.h"
#include "echo_runner.h"
#include "run_timing.h"

namespace telvario {

LONG ChooseEchoPeer(const char* host, int family, ResolvedAddress* peer, std::string* failure) {
  std::vector<ResolvedAddress> addresses;
  switch (LookUpAddresses(host, family, &addresses)) {
    case LookupEnd::Found:
      *peer = addresses.front();
      return 0;
    case LookupEnd::NoData:
      *failure = "the name has no address of the family asked for";
      return LATENCY_RESOLVE_NODATA;
    case LookupEnd::Failed:
      break;
  }
  *failure = "the name could not be resolved";
  return LATENCY_RESOLVE_FAILED;
}

namespace {

// The requests of a run stopped early whose fate is known: those answered, and those whose
// answer limit had passed. A request still within its limit was not measured.
std::vector<LatencySample> SettledSamples(const EchoLedger& ledger) {
  const double nowMs = ledger.ElapsedMs();
  std::vector<LatencySample> settled;
  for (const LatencySample& sample : ledger.Samples()) {
    if (IsSettled(sample, nowMs)) settled.push_back(sample);
  }
  return settled;
}

}  // namespace

LatencyRun MeasureLatency(const LatencyPlan& plan, LatencyObserver* observer) {
  LatencyRun run;
  ResolvedAddress peer;
  if (const LONG failed = ChooseEchoPeer(plan.host, plan.family, &peer, &run.failure);
      failed != 0) {
    run.result = failed;
    return run;
  }
  run.peer = peer.text;

  auto ledger = std::make_shared<EchoLedger>(plan.probes, PerformanceFrequency());
  std::unique_ptr<EchoSession> session = OpenEchoSession(peer, ledger, &run.failure);
  if (session == nullptr) {
    run.result = LATENCY_NO_ECHO_SERVICE;
    return run;
  }
  // A fixed schedule: request i leaves at start + i intervals, whatever the answers do.
  EchoRunner runner;
  const EchoSchedule schedule{plan.probes, static_cast<DWORD>(plan.intervalMs),
                              static_cast<WORD>(plan.packetSize), nullptr};
  if (!runner.Start(std::move(session), ledger, schedule)) {
    run.result = LATENCY_NO_REPLY;
    run.failure = "no thread could be started to send the echo requests";
    return run;
  }
  run.stopped = !runner.Follow([&] {
    return observer == nullptr ||
           observer->KeepGoing(ledger->Sent(), ledger->Planned(), ledger->LatestMs());
  });
  run.samples = run.stopped ? SettledSamples(*ledger) : ledger->Samples();
  run.statistics = Summarize(run.samples);
  run.result = run.statistics.received > 0 ? run.statistics.median : LATENCY_NO_REPLY;
  if (run.statistics.received == 0) {
    run.failure =
        run.stopped ? "cancelled before any request was answered" : "no echo request was answered";
  }
  return run;
}

}  // namespace telvario
