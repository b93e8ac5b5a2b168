// The names of a route's hops, where asked for: each hop's address looked up by the system's
// resolver (a reverse lookup), all of them at once after the run, each given up after
// kHopNameLimitMs. A lookup given up on runs on by itself (stall_guard.h); its hop has no name.
#ifndef TELVARIO_PROBES_HOP_NAMES_H
#define TELVARIO_PROBES_HOP_NAMES_H

#include <vector>

#include "route_probe.h"

namespace telvario {

constexpr DWORD kHopNameLimitMs = 2000;

// Fills the name of every hop whose address has one.
void NameHops(std::vector<HopFigures>* hops);

}  // namespace telvario

#endif
