// What a route's probes say, hop by hop, and what they do not. A hop's own loss and latency are
// those of the answers its router gives about itself, which a router may limit or give slowly
// (ICMP rate limits, a slow path through its processor) while forwarding everything at once:
// only what carries on to the later hops is on the path. So the loss that carries on is the
// least loss at this hop or any later one, and the latency that carries on the least median at
// this hop or any later one; a hop adds the rise in what carries on over the hop before that
// answered. A hop whose own figures are well above what carries on is read so.
#ifndef TELVARIO_PROBES_ROUTE_FIGURES_H
#define TELVARIO_PROBES_ROUTE_FIGURES_H

#include "route_probe.h"

namespace telvario {

// A hop's own loss is well above the loss that carries on by this share, and by two requests at
// least.
constexpr double kLossWellAbove = 0.1;
// Its own median is well above the latency that carries on by this, or this share of it where
// that is more.
constexpr double kLatencyWellAboveMs = 3.0;
constexpr double kLatencyWellAboveShare = 0.1;

// Figures the route from its probes: where it ended (the
// least time to live at which the destination or an unreachable answered), its hops up to there
// (up to the last that answered, where it did not end), each hop's figures and reading, and the
// result: the hops to the end, ROUTE_NOT_REACHED, or ROUTE_NO_REPLY where nothing answered.
void FigureRoute(RouteRun* run);

// How a request was answered, in words: "echo reply", "time exceeded" or an unreachable's kind.
const char* AnswerKind(int family, ULONG status);

}  // namespace telvario

#endif
