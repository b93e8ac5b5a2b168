#include "route_probe.h"

#include <atomic>
#include <memory>

#include "echo_runner.h"
#include "echo_statuses.h"
#include "hop_names.h"
#include "latency_probe.h"
#include "route_figures.h"
#include "run_timing.h"

namespace telvario {
namespace {

// The requests of each round: every time to live up to the destination's hop once an answer
// has shown it (its echo reply, or an unreachable answer), up to the most hops before. Request
// (round, ttl) is the ledger's round * most hops + ttl - 1.
class RouteRounds final : public RoundPlan {
 public:
  explicit RouteRounds(LONG maxHops) : maxHops_(maxHops), lastTtl_(maxHops) {}

  void Sends(LONG round, std::vector<EchoSend>* sends) override {
    const LONG last = lastTtl_.load();
    for (LONG ttl = 1; ttl <= last; ++ttl) {
      sends->push_back(EchoSend{round * maxHops_ + ttl - 1, static_cast<UCHAR>(ttl)});
    }
  }

  // An answer heard, on the sending thread: one that is no router's time-exceeded ends the
  // route at its hop.
  void Heard(LONG index, const EchoAnswer& answer) {
    if (IsTimeExceeded(answer.status)) return;
    const LONG ttl = index % maxHops_ + 1;
    LONG last = lastTtl_.load();
    while (ttl < last && !lastTtl_.compare_exchange_weak(last, ttl)) {
    }
  }

 private:
  const LONG maxHops_;
  std::atomic<LONG> lastTtl_;
};

// The requests whose fate is known now, as the route's probes: every one where the run has
// ended, else those answered or past their answer limit.
std::vector<RouteProbe> SettledProbes(const EchoLedger& ledger, LONG maxHops, bool ended) {
  const double nowMs = ledger.ElapsedMs();
  std::vector<RouteProbe> probes;
  for (EchoRecord& record : ledger.Records()) {
    if (!ended && !IsSettled(record.sample, nowMs)) continue;
    RouteProbe probe;
    probe.round = record.index / maxHops;
    probe.ttl = record.index % maxHops + 1;
    probe.sample = record.sample;
    probe.answer = std::move(record.answer);
    probes.push_back(std::move(probe));
  }
  return probes;
}

// The route from what the ledger holds now.
RouteRun RouteSoFar(const RouteRun& started, const EchoLedger& ledger, LONG maxHops, bool ended) {
  RouteRun run = started;
  run.probes = SettledProbes(ledger, maxHops, ended);
  FigureRoute(&run);
  return run;
}

// A route to `peer`, its session open: the rounds sent and followed to their end.
void FollowRoute(const RoutePlan& plan, RouteRun* run, std::unique_ptr<EchoSession> session,
                 const std::shared_ptr<EchoLedger>& ledger, RouteObserver* observer) {
  auto rounds = std::make_shared<RouteRounds>(plan.maxHops);
  ledger->OnAnswer(
      [rounds](LONG index, const EchoAnswer& answer) { rounds->Heard(index, answer); });
  EchoRunner runner;
  const EchoSchedule schedule{plan.probes, static_cast<DWORD>(plan.intervalMs),
                              static_cast<WORD>(plan.packetSize), rounds};
  if (!runner.Start(std::move(session), ledger, schedule)) {
    run->result = ROUTE_NO_REPLY;
    run->failure = "no thread could be started to send the echo requests";
    return;
  }
  const std::function<RouteRun()> soFar = [&] {
    return RouteSoFar(*run, *ledger, plan.maxHops, false);
  };
  run->stopped = !runner.Follow([&] {
    if (observer == nullptr) return true;
    const LONG sent = ledger->Sent() == 0 ? 0 : (ledger->Sent() - 1) / plan.maxHops + 1;
    return observer->KeepGoing(sent, plan.probes, soFar);
  });
  *run = RouteSoFar(*run, *ledger, plan.maxHops, !run->stopped);
  if (run->result == ROUTE_NO_REPLY) {
    run->failure = run->stopped ? "cancelled before any request was answered"
                                : "no echo request was answered, by the destination or a router";
  } else if (run->result == ROUTE_NOT_REACHED) {
    run->failure = (run->stopped ? "cancelled before the destination answered, within "
                                 : "the destination did not answer within ") +
                   std::to_string(plan.maxHops) + " hops";
  }
}

}  // namespace

RouteRun MeasureRoute(const RoutePlan& plan, RouteObserver* observer) {
  RouteRun run;
  ResolvedAddress peer;
  if (const LONG failed = ChooseEchoPeer(plan.host, plan.family, &peer, &run.failure);
      failed != 0) {
    run.result = failed;
    return run;
  }
  run.peer = peer.text;
  run.family = peer.family;
  auto ledger = std::make_shared<EchoLedger>(plan.probes * plan.maxHops, PerformanceFrequency());
  std::unique_ptr<EchoSession> session =
      OpenEchoSession(peer, ledger, &run.failure, EchoHearing::Routers);
  if (session == nullptr) {
    run.result = LATENCY_NO_ECHO_SERVICE;
    return run;
  }
  FollowRoute(plan, &run, std::move(session), ledger, observer);
  if (plan.resolveNames && !run.stopped) NameHops(&run.hops);
  return run;
}

}  // namespace telvario
