#include "echo_statuses.h"

namespace telvario {

bool IsTimeExceeded(ULONG status) {
  return status == IP_TTL_EXPIRED_TRANSIT;  // IPv6's IP_HOP_LIMIT_EXCEEDED, the same number
}

bool IsRouterAnswer(ULONG status) {
  return IsTimeExceeded(status) || UnreachableKind(AF_INET, status) != nullptr ||
         UnreachableKind(AF_INET6, status) != nullptr;
}

const char* UnreachableKind(int family, ULONG status) {
  const bool ipv6 = family == AF_INET6;
  switch (status) {
    case IP_DEST_NET_UNREACHABLE:
      return ipv6 ? "no route to the destination" : "network unreachable";
    case IP_DEST_HOST_UNREACHABLE:
      return ipv6 ? "address unreachable" : "host unreachable";
    case IP_DEST_PROT_UNREACHABLE:
      return ipv6 ? "communication prohibited" : "protocol unreachable";
    case IP_DEST_PORT_UNREACHABLE:
      return "port unreachable";
    case IP_PACKET_TOO_BIG:
      return "packet too big";
    case IP_BAD_ROUTE:
      return ipv6 ? nullptr : "source route failed";
    case IP_DEST_UNREACHABLE:
      return ipv6 ? "destination unreachable" : nullptr;
    case IP_DEST_SCOPE_MISMATCH:
      return ipv6 ? "beyond the source's scope" : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace telvario
