#include "connection_ledger.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

namespace telvario::serve {
namespace {

// Refused connections held at once, each until its client reads its answer or the header
// time-out: enough that a burst beyond the limits is told so, few enough that a client opening
// connections without end costs the server little.
constexpr std::uint64_t kLeastRefusedHeld = 64;

}  // namespace

ConnectionLedger::ConnectionLedger(std::uint64_t inAll, std::uint64_t perClient)
    : inAll_(inAll), perClient_(perClient), mostRefused_(MostRefusedHeld(inAll)) {}

std::uint64_t ConnectionLedger::MostRefusedHeld(std::uint64_t inAll) {
  return std::max(kLeastRefusedHeld, inAll / 16);
}

std::string ConnectionLedger::ClientOf(const sockaddr* peer) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (peer->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(peer);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
      inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    }
  } else if (peer->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(peer)->sin_addr, text, sizeof text);
  }
  return text;
}

Admission ConnectionLedger::Admit(const std::string& client) {
  Admission admission = Admission::Served;
  std::uint64_t& fromClient = servedByClient_[client];
  if (served_ >= inAll_) {
    admission = Admission::TooManyInAll;
  } else if (fromClient >= perClient_) {
    admission = Admission::TooManyFromClient;
  }
  if (admission == Admission::Served) {
    ++served_;
    ++fromClient;
    return admission;
  }
  if (fromClient == 0) servedByClient_.erase(client);
  if (refused_ >= mostRefused_) return Admission::Closed;
  ++refused_;
  return admission;
}

void ConnectionLedger::Release(const std::string& client, Admission admission) {
  if (admission == Admission::Closed) return;
  if (admission != Admission::Served) {
    --refused_;
    return;
  }
  --served_;
  const auto entry = servedByClient_.find(client);
  if (entry != servedByClient_.end() && --entry->second == 0) servedByClient_.erase(entry);
}

}  // namespace telvario::serve
