#include "loopback_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <system_error>
#include <thread>
#include <string>
#include <vector>

namespace telvario::cli {
namespace {

constexpr int kFtpPort = 21;
constexpr size_t kMaxLine = 512;
constexpr size_t kMaxRequest = 8192;
constexpr int kAcceptPollMs = 200;
constexpr int kIdleSeconds = 60;  // a client silent this long is let go
constexpr size_t kChunk = size_t{64} * 1024;

bool WriteWholeFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return written;
}

bool BringLoopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::memcpy(request.ifr_name, "lo", 3);
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A listening socket on 127.0.0.1:port (0 for any free port), or -1 with the reason.
int Listen(int port, std::string* problem) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *problem = SystemError("socket");
    return -1;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in address = Loopback(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 64) != 0) {
    *problem = SystemError(("127.0.0.1:" + std::to_string(port)).c_str());
    close(fd);
    return -1;
  }
  return fd;
}

int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

void SetIdleLimit(int fd) {
  timeval limit{kIdleSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool SendText(int fd, const std::string& text) {
  return SendAll(fd, text.data(), text.size());
}

// Accepts connections until `stopping`, handing each to `serve` in turn.
template <typename Serve>
void AcceptLoop(int listener, const std::atomic<bool>& stopping, Serve serve) {
  while (!stopping) {
    pollfd ready{listener, POLLIN, 0};
    if (poll(&ready, 1, kAcceptPollMs) <= 0) continue;
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (fd < 0) continue;
    SetIdleLimit(fd);
    serve(fd, peer);
    close(fd);
  }
}

// Waits up to a poll's time for the connection to be readable; false when the servers stop.
bool Readable(int fd, const std::atomic<bool>& stopping) {
  for (int waited = 0; !stopping; waited += kAcceptPollMs) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, kAcceptPollMs) > 0) return true;
    if (waited >= kIdleSeconds * 1000) return false;
  }
  return false;
}

// One request's head: its line and headers, up to the blank line; what came after it stays in
// `pending` (the start of a body).
bool ReadHead(int fd, const std::atomic<bool>& stopping, std::string* pending, std::string* head) {
  char buffer[4096];
  for (;;) {
    const size_t end = pending->find("\r\n\r\n");
    if (end != std::string::npos) {
      *head = pending->substr(0, end + 4);
      pending->erase(0, end + 4);
      return true;
    }
    if (pending->size() > kMaxRequest || !Readable(fd, stopping)) return false;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    pending->append(buffer, static_cast<size_t>(got));
  }
}

unsigned long long DeclaredLength(const std::string& head) {
  std::string lower = head;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return std::strtoull(head.c_str() + at + 17, nullptr, 10);
}

// Reads and discards a body of `length` bytes, some of which may be pending already.
bool DiscardBody(int fd, const std::atomic<bool>& stopping, std::string* pending,
                 unsigned long long length) {
  const size_t held = static_cast<size_t>(std::min<unsigned long long>(length, pending->size()));
  pending->erase(0, held);
  length -= held;
  std::vector<char> buffer(kChunk);
  while (length > 0) {
    if (!Readable(fd, stopping)) return false;
    const ssize_t got = recv(fd, buffer.data(),
                             static_cast<size_t>(std::min<unsigned long long>(length, kChunk)), 0);
    if (got <= 0) return false;
    length -= static_cast<unsigned long long>(got);
  }
  return true;
}

// Requests on one connection while the client keeps it: GET /bytes/N gives N bytes, a POST's
// body is taken and discarded (the uploads), anything else is 404.
void ServeHttp(int fd, const std::atomic<bool>& stopping) {
  std::string pending;
  std::string head;
  const std::vector<char> chunk(kChunk, 'x');
  while (ReadHead(fd, stopping, &pending, &head)) {
    unsigned long long size = 0;
    char path[64] = {};
    if (head.rfind("POST ", 0) == 0) {
      if (!DiscardBody(fd, stopping, &pending, DeclaredLength(head))) return;
      if (!SendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")) return;
      continue;
    }
    const bool found = std::sscanf(head.c_str(), "GET %63s HTTP/1.", path) == 1 &&
                       std::sscanf(path, "/bytes/%llu", &size) == 1;
    if (!found) {
      SendText(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      return;
    }
    if (!SendText(fd,
                  "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                  "Content-Length: " +
                      std::to_string(size) + "\r\n\r\n")) {
      return;
    }
    while (size > 0) {
      if (stopping) return;
      const size_t part = static_cast<size_t>(std::min<unsigned long long>(size, kChunk));
      if (!SendAll(fd, chunk.data(), part)) return;
      size -= part;
    }
  }
}

// The HTTP server's connections, each on a thread of its own, so that several can be measured
// at once; joined when the servers stop.
void AcceptHttp(int listener, const std::atomic<bool>& stopping) {
  std::vector<std::thread> connections;
  while (!stopping) {
    pollfd ready{listener, POLLIN, 0};
    if (poll(&ready, 1, kAcceptPollMs) <= 0) continue;
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    SetIdleLimit(fd);
    try {
      connections.emplace_back([fd, &stopping] {
        ServeHttp(fd, stopping);
        close(fd);
      });
    } catch (const std::system_error&) {
      close(fd);  // no thread to serve it: the client sees the connection end
    }
  }
  for (std::thread& connection : connections) connection.join();
}

// Lines of a control connection, CR LF or LF ended; false at the end, on an error, or when a
// line is longer than any command.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  bool Next(std::string* line) {
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        *line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line->empty() && line->back() == '\r') line->pop_back();
        return true;
      }
      if (pending_.size() > kMaxLine) return false;
      char buffer[512];
      const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      pending_.append(buffer, static_cast<size_t>(got));
    }
  }

 private:
  int fd_;
  std::string pending_;
};

// The data address of PORT h1,h2,h3,h4,p1,p2 or EPRT |1|a.b.c.d|port|.
bool ParseDataAddress(const std::string& verb, const std::string& argument, sockaddr_in* out) {
  unsigned parts[6] = {};
  char address[64] = {};
  unsigned port = 0;
  std::string text;
  if (verb == "PORT") {
    char tail = 0;
    if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u%c", &parts[0], &parts[1], &parts[2],
                    &parts[3], &parts[4], &parts[5], &tail) != 6) {
      return false;
    }
    for (const unsigned part : parts) {
      if (part > 255) return false;
    }
    text = std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
           std::to_string(parts[2]) + "." + std::to_string(parts[3]);
    port = parts[4] * 256 + parts[5];
  } else {
    if (std::sscanf(argument.c_str(), "|1|%63[0-9.]|%u|", address, &port) != 2) return false;
    text = address;
  }
  if (port == 0 || port > 65535) return false;
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = htons(static_cast<uint16_t>(port));
  return inet_pton(AF_INET, text.c_str(), &out->sin_addr) == 1;
}

// Only names directly in /temp are taken.
bool InTemp(const std::string& name) {
  std::string rest;
  if (name.rfind("/temp/", 0) == 0) {
    rest = name.substr(6);
  } else if (name.rfind("temp/", 0) == 0) {
    rest = name.substr(5);
  } else {
    return false;
  }
  return !rest.empty() && rest.find('/') == std::string::npos;
}

std::string Canonical(const std::string& name) {
  return name.front() == '/' ? name : "/" + name;
}

// Receives one upload on an active data connection; false when it could not be made.
bool ReceiveUpload(const sockaddr_in& target) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  SetIdleLimit(fd);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    close(fd);
    return false;
  }
  std::vector<char> buffer(kChunk);
  while (recv(fd, buffer.data(), buffer.size(), 0) > 0) {
  }
  close(fd);
  return true;
}

void ServeFtp(int fd, const sockaddr_in& peer, std::set<std::string>& stored) {
  if (!SendText(fd, "220 Telvario loopback FTP server ready.\r\n")) return;
  LineReader lines(fd);
  bool loggedIn = false;
  bool haveData = false;
  sockaddr_in data{};
  std::string line;
  while (lines.Next(&line)) {
    const size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    std::transform(verb.begin(), verb.end(), verb.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (verb == "QUIT") {
      SendText(fd, "221 Goodbye.\r\n");
      return;
    }
    std::string reply;
    if (verb == "USER") {
      reply = "331 Any password will do.";
    } else if (verb == "PASS") {
      loggedIn = true;
      reply = "230 Logged in.";
    } else if (!loggedIn) {
      reply = "530 Please log in first.";
    } else if (verb == "SYST") {
      reply = "215 UNIX Type: L8";
    } else if (verb == "PWD" || verb == "XPWD") {
      reply = "257 \"/\" is the current directory.";
    } else if (verb == "CWD" || verb == "TYPE" || verb == "NOOP" || verb == "MODE" ||
               verb == "STRU" || verb == "OPTS") {
      reply = "200 Ok.";
    } else if (verb == "PORT" || verb == "EPRT") {
      // Data goes back only to the client's own address.
      haveData =
          ParseDataAddress(verb, argument, &data) && data.sin_addr.s_addr == peer.sin_addr.s_addr;
      reply = haveData ? "200 Ok." : "501 Only the client's own address will do.";
    } else if (verb == "STOR") {
      if (!InTemp(argument)) {
        reply = "553 Files go directly into /temp.";
      } else if (!haveData) {
        reply = "425 Use PORT or EPRT first.";
      } else {
        haveData = false;
        if (!SendText(fd, "150 Receiving.\r\n")) return;
        const bool received = ReceiveUpload(data);
        if (received) stored.insert(Canonical(argument));
        reply = received ? "226 Transfer complete." : "425 Could not connect back.";
      }
    } else if (verb == "DELE") {
      const bool known = !argument.empty() && stored.erase(Canonical(argument)) == 1;
      reply = known ? "250 Deleted." : "550 No such file.";
    } else {
      reply = "502 Not implemented here.";
    }
    if (!SendText(fd, reply + "\r\n")) return;
  }
}

}  // namespace

std::string EnterPrivateNetwork() {
  const uid_t user = getuid();
  const gid_t group = getgid();
  if (unshare(CLONE_NEWNET) != 0) {
    // Without the right to, a user namespace of our own gives it where the system allows.
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
      return "this machine's own network (" + SystemError("no network namespace of its own") + ")";
    }
    WriteWholeFile("/proc/self/setgroups", "deny");
    WriteWholeFile("/proc/self/uid_map", "0 " + std::to_string(user) + " 1");
    WriteWholeFile("/proc/self/gid_map", "0 " + std::to_string(group) + " 1");
  }
  if (!BringLoopbackUp()) return "a network namespace of its own, whose loopback stayed down";
  return "loopback, in a network namespace of its own";
}

LoopbackServers::LoopbackServers() {
  httpSocket_ = Listen(0, &httpProblem_);
  if (httpSocket_ >= 0) {
    httpPort_ = BoundPort(httpSocket_);
    httpThread_ = std::thread([this] { AcceptHttp(httpSocket_, stopping_); });
  }
  ftpSocket_ = Listen(kFtpPort, &ftpProblem_);
  if (ftpSocket_ >= 0) {
    ftpThread_ = std::thread([this] {
      std::set<std::string> stored;
      AcceptLoop(ftpSocket_, stopping_,
                 [&stored](int fd, const sockaddr_in& peer) { ServeFtp(fd, peer, stored); });
    });
  }
}

LoopbackServers::~LoopbackServers() {
  stopping_ = true;
  if (httpThread_.joinable()) httpThread_.join();
  if (ftpThread_.joinable()) ftpThread_.join();
  if (httpSocket_ >= 0) close(httpSocket_);
  if (ftpSocket_ >= 0) close(ftpSocket_);
}

}  // namespace telvario::cli
