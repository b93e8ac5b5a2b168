#include "address_lookup.h"

#include <cstring>
#include <string>

namespace telvario {

std::string AddressText(const sockaddr* address) {
  char text[64] = {};
  const void* bytes = nullptr;
  if (address->sa_family == AF_INET) {
    bytes = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
  } else if (address->sa_family == AF_INET6) {
    bytes = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
  } else {
    return "";
  }
  if (inet_ntop(address->sa_family, const_cast<void*>(bytes), text, sizeof text) == nullptr) {
    return "";
  }
  std::string shown = text;
  // A link-local address is of no use without its zone: the interface's number, as Windows
  // writes it.
  if (address->sa_family == AF_INET6) {
    const ULONG zone = reinterpret_cast<const sockaddr_in6*>(address)->sin6_scope_id;
    if (zone != 0) {
      shown += '%';
      shown += std::to_string(zone);
    }
  }
  return shown;
}

namespace {

// Why a name gave no address of the family asked for. Resolvers differ in what they say of a
// name that exists without such an address (Wine's getaddrinfo says it does not exist): the
// name is asked for again of either family, and then as PingTime asks, so that the two
// members tell the same names apart.
LookupEnd WhyNone(const char* name, int family, int failure) {
  if (failure == WSANO_DATA) return LookupEnd::NoData;
  if (family != AF_UNSPEC) {
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) == 0) {
      freeaddrinfo(list);
      return LookupEnd::NoData;  // it has addresses, of the other family
    }
  }
  return gethostbyname(name) == nullptr && WSAGetLastError() == WSANO_DATA ? LookupEnd::NoData
                                                                           : LookupEnd::Failed;
}

}  // namespace

LookupEnd LookUpAddresses(const char* given, int family, std::vector<ResolvedAddress>* found) {
  found->clear();
  if (given == nullptr || given[0] == '\0') return LookupEnd::Failed;
  // An IPv6 literal in brackets, as a URL writes it, is the literal on every resolver.
  std::string literal;
  if (given[0] == '[') {
    literal = given;
    if (literal.size() < 3 || literal.back() != ']') return LookupEnd::Failed;
    literal = literal.substr(1, literal.size() - 2);
  }
  const char* name = literal.empty() ? given : literal.c_str();
  addrinfo hints = {};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_DGRAM;  // one entry per address, not one per socket type
  addrinfo* list = nullptr;
  const int failure = getaddrinfo(name, nullptr, &hints, &list);
  if (failure != 0) return WhyNone(name, family, failure);
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    ResolvedAddress address;
    address.family = entry->ai_family;
    std::memcpy(&address.address, entry->ai_addr, entry->ai_addrlen);
    address.text = AddressText(entry->ai_addr);
    bool repeated = false;
    for (const ResolvedAddress& earlier : *found)
      repeated = repeated || earlier.text == address.text;
    if (!repeated && !address.text.empty()) found->push_back(address);
  }
  freeaddrinfo(list);
  return found->empty() ? LookupEnd::NoData : LookupEnd::Found;
}

}  // namespace telvario
