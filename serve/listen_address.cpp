#include "listen_address.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "serve_options.h"

namespace telvario::serve {
namespace {

constexpr int kBacklog = 4096;

// The host and port of ADDR:PORT, brackets taken off an IPv6 address; "" for every address.
void SplitHostPort(const std::string& text, std::string* host, std::string* port) {
  const std::string form = "'" + text + "' is not ADDR:PORT (e.g. [::]:8080 or 0.0.0.0:8080)";
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw ServeUsageError(form);
  *host = text.substr(0, colon);
  *port = text.substr(colon + 1);
  if (host->size() >= 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  } else if (host->find(':') != std::string::npos) {
    throw ServeUsageError(form + ": an IPv6 address goes in brackets");
  }
  unsigned number = 0;
  const auto [end, error] = std::from_chars(port->data(), port->data() + port->size(), number);
  if (port->empty() || error != std::errc() || end != port->data() + port->size() ||
      number > 65535) {
    throw ServeUsageError(form + ": the port is a number from 0 to 65535");
  }
}

}  // namespace

std::vector<std::string> DefaultListen() {
  std::vector<std::string> listen = {std::string("0.0.0.0:") + kDefaultPort};
  const int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe >= 0) {
    close(probe);
    listen.push_back(std::string("[::]:") + kDefaultPort);
  }
  return listen;
}

std::vector<ListenAddress> ParseListenAddress(const std::string& text) {
  std::string host;
  std::string port;
  SplitHostPort(text, &host, &port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int status =
      getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
  if (status != 0) {
    throw ServeUsageError("'" + text + "': " + gai_strerror(status));
  }
  std::vector<ListenAddress> addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    ListenAddress address;
    std::memcpy(&address.address, entry->ai_addr, entry->ai_addrlen);
    address.size = entry->ai_addrlen;
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  return addresses;
}

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    return std::string("[") + text + "]:" + std::to_string(ntohs(v6->sin6_port));
  }
  const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
  inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
}

int OpenListener(const ListenAddress& address) {
  const auto* where = reinterpret_cast<const sockaddr*>(&address.address);
  const int fd = socket(where->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ServeFailure(AddressText(where) + ": " + std::strerror(errno));
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // "[::]" is IPv6 alone, as written: IPv4 is listened on where an IPv4 address is given.
  if (where->sa_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (bind(fd, where, address.size) != 0 || listen(fd, kBacklog) != 0) {
    const int error = errno;
    close(fd);
    throw ServeFailure(AddressText(where) + ": " + std::strerror(error));
  }
  return fd;
}

ListenAddress BoundAddress(int fd) {
  ListenAddress bound;
  bound.size = sizeof bound.address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound.address), &bound.size);
  return bound;
}

}  // namespace telvario::serve
