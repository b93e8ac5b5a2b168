#include "latency_probe.h"

#include <memory>

#include "address_lookup.h"
#include "echo_runner.h"
#include "message_pump.h"
#include "run_timing.h"

namespace telvario {
namespace {

// The address to measure: the first the resolver gives of the families the plan allows. A
// literal of a family the plan does not allow has no address to use.
LONG ChoosePeer(const LatencyPlan& plan, ResolvedAddress* peer, std::string* failure) {
  std::vector<ResolvedAddress> addresses;
  switch (LookUpAddresses(plan.host, plan.family, &addresses)) {
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

// Follows the schedule until it ends, telling the observer as it goes; false where the observer
// ended it.
bool FollowSchedule(EchoRunner& runner, const EchoLedger& ledger, LatencyObserver* observer) {
  while (!runner.Wait(0)) {
    if (observer != nullptr &&
        !observer->KeepGoing(ledger.Sent(), ledger.Planned(), ledger.LatestMs())) {
      runner.Stop();
      return false;
    }
    SleepDispatching(kLookEveryMs);
  }
  return true;
}

// The requests of a run stopped early whose fate is known: those answered, and those whose
// answer limit had passed. A request still within its limit was not measured.
std::vector<LatencySample> SettledSamples(const EchoLedger& ledger) {
  const double nowMs = static_cast<double>(PerformanceTicks() - ledger.Start()) * 1000.0 /
                       static_cast<double>(ledger.Frequency());
  std::vector<LatencySample> settled;
  for (const LatencySample& sample : ledger.Samples()) {
    if (sample.answered || nowMs - sample.sendOffsetMs > kLatencyAnswerLimitMs) {
      settled.push_back(sample);
    }
  }
  return settled;
}

}  // namespace

LatencyRun MeasureLatency(const LatencyPlan& plan, LatencyObserver* observer) {
  LatencyRun run;
  ResolvedAddress peer;
  if (const LONG failed = ChoosePeer(plan, &peer, &run.failure); failed != 0) {
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
                              static_cast<WORD>(plan.packetSize)};
  if (!runner.Start(std::move(session), ledger, schedule)) {
    run.result = LATENCY_NO_REPLY;
    run.failure = "no thread could be started to send the echo requests";
    return run;
  }
  run.stopped = !FollowSchedule(runner, *ledger, observer);
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
