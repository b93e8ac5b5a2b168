// The throughput benches' HTTP server: the client's loopback server (cli/bytes_http_server.h),
// on an address and port of the bench's choosing, for rates and connection counts the Python
// test server does not keep up with.
// Usage: bytes_server ADDRESS PORT PIDFILE: it detaches once it listens, the pid in PIDFILE.
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "bytes_http_server.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bytes_server ADDRESS PORT PIDFILE\n");
    return 2;
  }
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* address = nullptr;
  if (getaddrinfo(argv[1], argv[2], &hints, &address) != 0) {
    std::fprintf(stderr, "bytes_server: not a numeric address and port\n");
    return 2;
  }
  const int listener = socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (listener < 0 || bind(listener, address->ai_addr, address->ai_addrlen) != 0 ||
      listen(listener, 128) != 0) {
    std::perror("bytes_server");
    return 1;
  }
  freeaddrinfo(address);
  // Listening: the caller goes on once the pidfile is written.
  const pid_t child = fork();
  if (child != 0) {
    FILE* pidfile = std::fopen(argv[3], "w");
    if (pidfile == nullptr) return 1;
    std::fprintf(pidfile, "%d\n", static_cast<int>(child));
    return std::fclose(pidfile) == 0 ? 0 : 1;
  }
  setsid();
  const int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
  // It serves until it is stopped (SIGTERM).
  const std::atomic<bool> never{false};
  telvario::cli::ServeBytes(listener, never);
}
