#include "latency_probe.h"

#include <memory>

#include "address_lookup.h"
#include "echo_sessions.h"

namespace telvario {
namespace {

// How long after its answer limit the run still waits for requests of a service that is slow
// to report their time-out.
constexpr DWORD kLastAnswerGraceMs = 200;

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

LONGLONG TicksAfter(LONGLONG start, double milliseconds, LONGLONG frequency) {
  return start + static_cast<LONGLONG>(milliseconds * static_cast<double>(frequency) / 1000.0);
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

  auto ledger = std::make_shared<EchoLedger>();
  LARGE_INTEGER frequency = {};
  QueryPerformanceFrequency(&frequency);
  ledger->frequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
  ledger->sentAt.assign(static_cast<std::size_t>(plan.probes), 0);
  ledger->samples.resize(static_cast<std::size_t>(plan.probes));

  LONG sent = 0;
  {
    std::unique_ptr<EchoSession> session = OpenEchoSession(peer, ledger, &run.failure);
    if (session == nullptr) {
      run.result = LATENCY_NO_ECHO_SERVICE;
      return run;
    }
    // A fixed schedule: request i leaves at start + i intervals, whatever the answers do.
    ledger->start = PerformanceTicks();
    const auto dataSize = static_cast<WORD>(plan.packetSize);
    for (; sent < plan.probes; ++sent) {
      if (observer != nullptr && !observer->KeepGoing(sent, plan.probes, ledger->latestMs)) {
        run.stopped = true;
        break;
      }
      session->WaitUntil(TicksAfter(ledger->start, static_cast<double>(sent) * plan.intervalMs,
                                    ledger->frequency));
      session->Send(sent, dataSize);
    }
    // The last request's answer may come until its limit; the session's end waits for the
    // service to report every request.
    const LONGLONG lastSent = sent > 0 ? ledger->sentAt[static_cast<std::size_t>(sent - 1)] : 0;
    if (!run.stopped && sent > 0) {
      session->WaitUntil(
          TicksAfter(lastSent, kLatencyAnswerLimitMs + kLastAnswerGraceMs, ledger->frequency));
    }
  }
  for (LONG index = 0; index < sent; ++index) {
    LatencySample sample = ledger->samples[static_cast<std::size_t>(index)];
    const LONGLONG at = ledger->sentAt[static_cast<std::size_t>(index)];
    sample.sendOffsetMs = at == 0 ? 0
                                  : static_cast<double>(at - ledger->start) * 1000.0 /
                                        static_cast<double>(ledger->frequency);
    run.samples.push_back(sample);
  }
  run.statistics = Summarize(run.samples);
  run.result = run.statistics.received > 0 ? run.statistics.median : LATENCY_NO_REPLY;
  return run;
}

}  // namespace telvario
