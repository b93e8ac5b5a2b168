// The route engine: rounds of echo requests, one round every interval whatever the answers do,
// each round one request for every time to live from 1 to N sent together (N the destination's
// hop once an answer has shown it, else the plan's most hops), timed as the latency engine times
// its own (echo_runner.h). A request is answered by a router's time-exceeded answer (the hop's
// address), by the destination's echo reply (the route ends at that hop) or by an unreachable
// answer (the route ends there, with its kind); quoted requests are matched to what was sent by
// the echo service. The hops' figures and their reading are route_figures.h's; their names,
// asked for, are looked up after the run (hop_names.h).
#ifndef TELVARIO_PROBES_ROUTE_PROBE_H
#define TELVARIO_PROBES_ROUTE_PROBE_H

#include <functional>
#include <string>
#include <vector>

#include "echo_sessions.h"
#include "latency_statistics.h"
#include "sonde2_codes.h"
#include "windows_api.h"

namespace telvario {

struct RoutePlan {
  const char* host = nullptr;
  LONG probes = kDefaultProbes;  // rounds
  LONG intervalMs = kDefaultProbeIntervalMs;
  int family = AF_UNSPEC;  // AF_INET or AF_INET6 to use only that family
  LONG packetSize = 32;    // data bytes of each request
  LONG maxHops = kDefaultMaxHops;
  bool resolveNames = false;
};

// One request of a route and what became of it.
struct RouteProbe {
  LONG round = 0;  // from 0
  LONG ttl = 0;
  LatencySample sample;
  EchoAnswer answer;  // where answered
};

// What a route says of one hop.
struct HopFigures {
  LONG hop = 0;
  std::string address;  // the address that answered most; "" where none did
  std::vector<std::pair<std::string, LONG>> addresses;  // every one, with its answers, most first
  LatencyStatistics statistics;                         // its requests and their round trips
  double lastMs = 0;        // the round trip of its latest request answered
  double forwardLoss = 0;   // the loss that carries on: the least here or at any later hop
  double addedLatency = 0;  // the rise in the median that carries on, over the hop before
  std::string reading;      // what its own figures do not mean; "" where nothing is to be said
  std::string name;         // looked up where asked for; "" where none was found
};

struct RouteRun {
  LONG result = 0;         // the hops to the destination, or a negative code
  std::string peer;        // the destination's address
  int family = AF_UNSPEC;  // its family, once resolved
  std::string end;  // how the route ended: "destination", an unreachable's kind; "" not at all
  std::vector<HopFigures> hops;
  std::vector<RouteProbe> probes;  // every request whose fate is known, in send order
  std::string failure;             // why the run could not measure, in words
  bool stopped = false;            // ended early at the observer's word
};

// Between sends and waits the engine asks whether to go on: false ends the run with what it
// has. `rounds` of `planned` have been sent; `soFar` gives the route as measured so far, which
// takes some work to figure.
class RouteObserver {
 public:
  virtual ~RouteObserver() = default;
  virtual bool KeepGoing(LONG rounds, LONG planned, const std::function<RouteRun()>& soFar) = 0;
};

RouteRun MeasureRoute(const RoutePlan& plan, RouteObserver* observer = nullptr);

}  // namespace telvario

#endif
