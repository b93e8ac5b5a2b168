// A route run as a script runs one, through Sonde2's members, and everything its members then
// say, for the lab's route tests.
#ifndef TELVARIO_TESTS_ROUTE_TEST_SUPPORT_H
#define TELVARIO_TESTS_ROUTE_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "sonde2_probe.h"
#include "sonde_probe.h"
#include "test_strings.h"

namespace telvario::testing {

struct HopSeen {
  std::string address, addresses, name, reading;
  LONG sent = 0, received = 0;
  double loss = 0, min = 0, median = 0, mean = 0, p90 = 0, max = 0, jitter = 0;
  double forwardLoss = 0, addedLatency = 0, last = 0;
};

struct EventSeen {
  std::string phase;
  double fraction = 0, value = 0;
  LONG hops = 0;         // Hops, read in the event's handler
  std::string firstHop;  // HopAddress(1), read there too
};

struct RouteSeen {
  LONG result = 0;
  std::string peer, end, results;
  std::vector<HopSeen> hops;
  HopSeen beyond;  // the hop after the last
  std::vector<EventSeen> events;
};

struct RouteSettings {
  LONG maxHops = 8;
  bool resolveNames = false;
  std::size_t cancelAfterEvents = 0;  // 0: never
};

inline HopSeen ReadHop(Sonde2Probe& sonde, LONG hop) {
  HopSeen seen;
  BSTR text = nullptr;
  sonde.get_HopAddress(hop, &text);
  seen.address = TakeNarrow(text);
  sonde.get_HopAddresses(hop, &text);
  seen.addresses = TakeNarrow(text);
  sonde.get_HopName(hop, &text);
  seen.name = TakeNarrow(text);
  sonde.get_HopReading(hop, &text);
  seen.reading = TakeNarrow(text);
  sonde.get_HopSent(hop, &seen.sent);
  sonde.get_HopReceived(hop, &seen.received);
  sonde.get_HopLoss(hop, &seen.loss);
  sonde.get_HopLatencyMin(hop, &seen.min);
  sonde.get_HopLatencyMedian(hop, &seen.median);
  sonde.get_HopLatencyMean(hop, &seen.mean);
  sonde.get_HopLatencyP90(hop, &seen.p90);
  sonde.get_HopLatencyMax(hop, &seen.max);
  sonde.get_HopJitter(hop, &seen.jitter);
  sonde.get_HopForwardLoss(hop, &seen.forwardLoss);
  sonde.get_HopAddedLatency(hop, &seen.addedLatency);
  sonde.get_HopLatencyLast(hop, &seen.last);
  return seen;
}

// Hears the route's progress, reads the route so far in each event, and cancels when told.
class RouteListener final : public ProgressListener {
 public:
  RouteListener(RouteSeen* seen, std::size_t cancelAfter)
      : seen_(seen), cancelAfter_(cancelAfter) {}
  void Attach(Sonde2Probe* sonde) { sonde_ = sonde; }
  void Progress(const char* phase, double fraction, double value) override {
    EventSeen event{phase, fraction, value, 0, ""};
    sonde_->get_Hops(&event.hops);
    BSTR first = nullptr;
    sonde_->get_HopAddress(1, &first);
    event.firstHop = TakeNarrow(first);
    seen_->events.push_back(event);
    if (cancelAfter_ != 0 && seen_->events.size() == cancelAfter_) sonde_->Cancel();
  }

 private:
  RouteSeen* seen_;
  std::size_t cancelAfter_;
  Sonde2Probe* sonde_ = nullptr;
};

// One route by a fresh object; family 0, 4 or 6 as Sonde2's Family.
inline RouteSeen RunRoute(const char* host, LONG probes, LONG intervalMs, LONG family,
                          const RouteSettings& settings = RouteSettings{}) {
  const SondeProbe sockets;  // a Sonde2 object starts Windows Sockets through its Sonde side
  RouteSeen seen;
  RouteListener listener(&seen, settings.cancelAfterEvents);
  Sonde2Probe sonde(&listener);
  listener.Attach(&sonde);
  EXPECT_EQ(sonde.put_Probes(probes), S_OK);
  EXPECT_EQ(sonde.put_ProbeInterval(intervalMs), S_OK);
  EXPECT_EQ(sonde.put_Family(family), S_OK);
  EXPECT_EQ(sonde.put_MaxHops(settings.maxHops), S_OK);
  EXPECT_EQ(sonde.put_ResolveHopNames(settings.resolveNames ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  const TestBstr text(host);
  EXPECT_EQ(sonde.Route(text.Get(), 32, &seen.result), S_OK);
  BSTR value = nullptr;
  sonde.get_PeerAddress(&value);
  seen.peer = TakeNarrow(value);
  sonde.get_RouteEnd(&value);
  seen.end = TakeNarrow(value);
  sonde.get_Results(&value);
  seen.results = TakeNarrow(value);
  LONG hops = 0;
  sonde.get_Hops(&hops);
  for (LONG hop = 1; hop <= hops; ++hop) seen.hops.push_back(ReadHop(sonde, hop));
  seen.beyond = ReadHop(sonde, hops + 1);
  return seen;
}

}  // namespace telvario::testing

#endif
