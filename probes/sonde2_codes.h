// Sonde2's result codes and the bounds of its settings under the measurements' names: the
// interface definition's enumerations LatencyResult, ThroughputResult, RouteResult and
// Sonde2Bound, from the build's header of the interface (widl's, or the posix one), which take
// them from resources/sonde2_constants.def.
#ifndef TELVARIO_PROBES_SONDE2_CODES_H
#define TELVARIO_PROBES_SONDE2_CODES_H

#include "telvario2_idl.h"
#include "windows_api.h"

namespace telvario {

// Latency's failures; otherwise it gives the median round trip in ms.
constexpr LONG LATENCY_NO_REPLY = LatencyNoReply;
constexpr LONG LATENCY_RESOLVE_NODATA = LatencyNoAddress;        // as PingTime
constexpr LONG LATENCY_RESOLVE_FAILED = LatencyNameNotResolved;  // as PingTime
constexpr LONG LATENCY_NO_ECHO_SERVICE = LatencyNoEchoService;

// Download's, Upload's and a failed load's; otherwise they give Mbit/s.
constexpr double THROUGHPUT_CANNOT_START = ThroughputCannotStart;
constexpr double THROUGHPUT_NOT_OPENED = ThroughputNotOpened;
constexpr double THROUGHPUT_TOO_SMALL = ThroughputBodiesTooSmall;
constexpr double THROUGHPUT_ALL_BROKE = ThroughputAllBroke;

// Route's; otherwise it gives the number of hops to the destination. Its failures to start are
// Latency's, as are their numbers.
constexpr LONG ROUTE_NO_REPLY = RouteNoReply;
constexpr LONG ROUTE_NOT_REACHED = RouteNotReached;
static_assert(LONG{RouteNoAddress} == LONG{LatencyNoAddress} &&
              LONG{RouteNameNotResolved} == LONG{LatencyNameNotResolved} &&
              LONG{RouteNoEchoService} == LONG{LatencyNoEchoService});

constexpr LONG kLeastProbes = Sonde2LeastProbes;
constexpr LONG kDefaultProbes = Sonde2DefaultProbes;
constexpr LONG kMostProbes = Sonde2MostProbes;
constexpr LONG kLeastProbeIntervalMs = Sonde2LeastProbeInterval;
constexpr LONG kDefaultProbeIntervalMs = Sonde2DefaultProbeInterval;
constexpr LONG kMostProbeIntervalMs = Sonde2MostProbeInterval;
constexpr LONG kLeastStreams = Sonde2LeastStreams;
constexpr LONG kDefaultStreams = Sonde2DefaultStreams;
constexpr LONG kMostStreams = Sonde2MostStreams;
constexpr double kLeastDurationSeconds = Sonde2LeastDuration;
constexpr double kDefaultDurationSeconds = Sonde2DefaultDuration;
constexpr double kMostDurationSeconds = Sonde2MostDuration;
constexpr LONG kLeastMaxHops = Sonde2LeastMaxHops;
constexpr LONG kDefaultMaxHops = Sonde2DefaultMaxHops;
constexpr LONG kMostMaxHops = Sonde2MostMaxHops;

}  // namespace telvario

#endif
