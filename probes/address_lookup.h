// Names to addresses of either family through the system resolver (getaddrinfo), in the order
// the resolver gives them, and addresses as text.
#ifndef TELVARIO_PROBES_ADDRESS_LOOKUP_H
#define TELVARIO_PROBES_ADDRESS_LOOKUP_H

#include <string>
#include <vector>

#include "windows_api.h"

namespace telvario {

struct ResolvedAddress {
  int family = 0;  // AF_INET or AF_INET6
  sockaddr_storage address = {};
  std::string text;  // dotted IPv4 or IPv6 text
};

enum class LookupEnd {
  Found,
  NoData,  // the name is known, but has no address of the family asked for
  Failed,  // the name could not be resolved
};

// Every address of a name (or literal: an IPv6 one in brackets too, with its zone) of `family`
// (AF_UNSPEC for both), without repeats, in the resolver's order.
LookupEnd LookUpAddresses(const char* name, int family, std::vector<ResolvedAddress>* found);

// An address as text, an IPv6 zone as its number ("fe80::1%2"); "" where it cannot be shown.
std::string AddressText(const sockaddr* address);

}  // namespace telvario

#endif
