// The echo service's statuses as a route reads them: a router's time-exceeded answer, and the
// kinds of unreachable answers that end a route, named for people. IPv4 and IPv6 share numbers
// with different meanings (11004: a protocol unreachable, or a destination prohibited).
#ifndef TELVARIO_PROBES_ECHO_STATUSES_H
#define TELVARIO_PROBES_ECHO_STATUSES_H

#include "windows_api.h"

namespace telvario {

// A router's answer about a request: its time to live ran out there, or the destination cannot
// be reached from there.
bool IsRouterAnswer(ULONG status);

bool IsTimeExceeded(ULONG status);

// The kind of an unreachable answer of `family` (AF_INET, AF_INET6) in words ("host
// unreachable"); null for a status that is none.
const char* UnreachableKind(int family, ULONG status);

}  // namespace telvario

#endif
