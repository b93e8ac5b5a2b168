// The throughput benches' HTTP server, for rates and connection counts the Python test server
// does not keep up with: GET /bytes/N serves N bytes (HEAD its head alone), a POST to any path
// reads its body (Content-Length) and discards it, answering with the count of bytes taken.
// Connections are kept (HTTP/1.1), one thread each; every answer's head goes out with its body in
// one write and without Nagle's wait, so a client waiting for an answer never waits on a delayed
// ACK.
// Usage: bytes_server ADDRESS PORT PIDFILE: it detaches once it listens, the pid in PIDFILE.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::vector<char> kFill(1 << 18, 'x');

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// The value of a header in a request head, lower-cased name given; "" when absent.
std::string Header(const std::string& head, const char* name) {
  std::string lower(head);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t at = lower.find(std::string("\r\n") + name + ":");
  if (at == std::string::npos) return "";
  const size_t from = head.find_first_not_of(' ', at + 3 + std::strlen(name));
  return head.substr(from, head.find("\r\n", from) - from);
}

// Answers the requests of a connection until it closes or breaks.
void Converse(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::vector<char> buffer(1 << 20);
  std::string pending;
  for (;;) {
    size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
      if (got <= 0 || pending.size() > 65536) return;
      pending.append(buffer.data(), static_cast<size_t>(got));
    }
    const std::string head = pending.substr(0, end + 2);
    pending.erase(0, end + 4);
    const bool closing = Header(head, "connection") == "close";
    std::string answer;
    if (head.rfind("POST ", 0) == 0) {
      unsigned long long left = std::strtoull(Header(head, "content-length").c_str(), nullptr, 10);
      const unsigned long long taken = left;
      const size_t buffered = std::min<unsigned long long>(left, pending.size());
      pending.erase(0, buffered);
      left -= buffered;
      while (left > 0) {
        const ssize_t got =
            recv(fd, buffer.data(), std::min<unsigned long long>(left, buffer.size()), 0);
        if (got <= 0) return;
        left -= static_cast<unsigned long long>(got);
      }
      const std::string body = std::to_string(taken);
      answer =
          "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
      if (!SendAll(fd, answer.data(), answer.size())) return;
    } else if (head.rfind("GET /bytes/", 0) == 0) {
      unsigned long long left = std::strtoull(head.c_str() + 11, nullptr, 10);
      answer = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
               std::to_string(left) + "\r\n\r\n";
      // The head and the first bytes together.
      const size_t first = std::min<unsigned long long>(left, kFill.size() - answer.size());
      answer.append(kFill.data(), first);
      left -= first;
      if (!SendAll(fd, answer.data(), answer.size())) return;
      while (left > 0) {
        const size_t piece = std::min<unsigned long long>(left, kFill.size());
        if (!SendAll(fd, kFill.data(), piece)) return;
        left -= piece;
      }
    } else if (head.rfind("HEAD /bytes/", 0) == 0) {  // a prober's small request
      answer = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
               std::to_string(std::strtoull(head.c_str() + 12, nullptr, 10)) + "\r\n\r\n";
      if (!SendAll(fd, answer.data(), answer.size())) return;
    } else {
      answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
      if (!SendAll(fd, answer.data(), answer.size())) return;
    }
    if (closing) return;
  }
}

void Serve(int fd) {
  Converse(fd);
  close(fd);
}

}  // namespace

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
  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) std::thread(Serve, fd).detach();
  }
}
