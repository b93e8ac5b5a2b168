// The addresses `telvario serve` listens on: ADDR:PORT as the user writes it ("[::]:8080",
// "0.0.0.0:8080", "192.0.2.1:443", "localhost:8080", ":8080" for every address), and the
// listening sockets made from them.
#ifndef TELVARIO_SERVE_LISTEN_ADDRESS_H
#define TELVARIO_SERVE_LISTEN_ADDRESS_H

#include <sys/socket.h>

#include <string>
#include <vector>

namespace telvario::serve {

struct ListenAddress {
  sockaddr_storage address{};
  socklen_t size = 0;
};

// Where no address is given: 0.0.0.0:8080, and [::]:8080 where the system has IPv6.
std::vector<std::string> DefaultListen();

// The addresses one ADDR:PORT names (a host name may name several); ServeUsageError where it is
// not of that form or names nothing.
std::vector<ListenAddress> ParseListenAddress(const std::string& text);

// A non-blocking socket listening on the address (an IPv6 one on IPv6 alone); ServeFailure, naming
// the address, where it cannot (a port in use, one the user may not take, an address not this
// machine's).
int OpenListener(const ListenAddress& address);

// How an address is written back to the user: "[::1]:8080", "127.0.0.1:8080".
std::string AddressText(const sockaddr* address);

// The address a listening socket took (its port, where the system chose it).
ListenAddress BoundAddress(int fd);

}  // namespace telvario::serve

#endif
