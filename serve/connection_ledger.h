// Which connections `telvario serve` serves: at most so many at once in all and from one
// client address. A connection beyond either limit is still taken, so that its requests get an
// answer that says so (503 or 429, with Retry-After) rather than a hang; a few such are held at
// once, and past them a connection is closed as soon as it is taken.
#ifndef TELVARIO_SERVE_CONNECTION_LEDGER_H
#define TELVARIO_SERVE_CONNECTION_LEDGER_H

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <unordered_map>

namespace telvario::serve {

enum class Admission { Served, TooManyInAll, TooManyFromClient, Closed };

class ConnectionLedger {
 public:
  ConnectionLedger(std::uint64_t inAll, std::uint64_t perClient);

  // Refused connections held at once, each until it is told so, where `inAll` are served.
  static std::uint64_t MostRefusedHeld(std::uint64_t inAll);
  // The client a connection comes from: its address (an IPv4-mapped IPv6 address as IPv4).
  static std::string ClientOf(const sockaddr* peer);
  // What a new connection from the client gets; counted until Release with the same values,
  // unless Closed.
  Admission Admit(const std::string& client);
  void Release(const std::string& client, Admission admission);

  std::uint64_t Served() const { return served_; }
  std::uint64_t Refused() const { return refused_; }

 private:
  std::uint64_t inAll_;
  std::uint64_t perClient_;
  std::uint64_t mostRefused_;
  std::uint64_t served_ = 0;
  std::uint64_t refused_ = 0;
  std::unordered_map<std::string, std::uint64_t> servedByClient_;
};

}  // namespace telvario::serve

#endif
