#include "loopback_servers.h"

#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace telvario::cli {
namespace {

constexpr int kFtpPort = 21;
constexpr size_t kMaxLine = 512;
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

// One control connection: its login, its data address and its commands' replies.
class FtpSession {
 public:
  FtpSession(int fd, const sockaddr_in& peer, std::set<std::string>& stored)
      : fd_(fd), peer_(peer), stored_(stored) {}

  void Serve() {
    if (!SendText(fd_, "220 Telvario loopback FTP server ready.\r\n")) return;
    LineReader lines(fd_);
    std::string line;
    while (lines.Next(&line)) {
      const std::size_t space = line.find(' ');
      std::string verb = line.substr(0, space);
      const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
      std::transform(verb.begin(), verb.end(), verb.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      if (verb == "QUIT") {
        SendText(fd_, "221 Goodbye.\r\n");
        return;
      }
      const std::string reply = Reply(verb, argument);
      if (reply.empty() || !SendText(fd_, reply + "\r\n")) return;
    }
  }

 private:
  // The reply to a command; "" when the connection is lost meanwhile.
  std::string Reply(const std::string& verb, const std::string& argument) {
    if (verb == "USER") return "331 Any password will do.";
    if (verb == "PASS") {
      loggedIn_ = true;
      return "230 Logged in.";
    }
    if (!loggedIn_) return "530 Please log in first.";
    if (verb == "SYST") return "215 UNIX Type: L8";
    if (verb == "PWD" || verb == "XPWD") return "257 \"/\" is the current directory.";
    if (verb == "CWD" || verb == "TYPE" || verb == "NOOP" || verb == "MODE" || verb == "STRU" ||
        verb == "OPTS") {
      return "200 Ok.";
    }
    if (verb == "PORT" || verb == "EPRT") {
      // Data goes back only to the client's own address.
      haveData_ = ParseDataAddress(verb, argument, &data_) &&
                  data_.sin_addr.s_addr == peer_.sin_addr.s_addr;
      return haveData_ ? "200 Ok." : "501 Only the client's own address will do.";
    }
    if (verb == "STOR") return Store(argument);
    if (verb == "DELE") {
      const bool known = !argument.empty() && stored_.erase(Canonical(argument)) == 1;
      return known ? "250 Deleted." : "550 No such file.";
    }
    return "502 Not implemented here.";
  }

  std::string Store(const std::string& name) {
    if (!InTemp(name)) return "553 Files go directly into /temp.";
    if (!haveData_) return "425 Use PORT or EPRT first.";
    haveData_ = false;
    if (!SendText(fd_, "150 Receiving.\r\n")) return "";
    if (!ReceiveUpload(data_)) return "425 Could not connect back.";
    stored_.insert(Canonical(name));
    return "226 Transfer complete.";
  }

  int fd_;
  sockaddr_in peer_;
  std::set<std::string>& stored_;
  bool loggedIn_ = false;
  bool haveData_ = false;
  sockaddr_in data_{};
};

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
  try {
    serve::ServeOptions options;
    options.listen = {"127.0.0.1:0"};
    http_ = std::make_shared<serve::Server>(options);
    httpPort_ = http_->Port();
    httpThread_ = std::thread([this] {
      // A client that closes while it is written to makes that write fail on this thread,
      // rather than end the process.
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
      http_->Run(stopping_);
    });
  } catch (const std::exception& error) {
    httpProblem_ = error.what();
  }
  ftpSocket_ = Listen(kFtpPort, &ftpProblem_);
  if (ftpSocket_ >= 0) {
    ftpThread_ = std::thread([this] {
      std::set<std::string> stored;
      AcceptLoop(ftpSocket_, stopping_, [&stored](int fd, const sockaddr_in& peer) {
        FtpSession(fd, peer, stored).Serve();
      });
    });
  }
}

LoopbackServers::~LoopbackServers() {
  stopping_ = true;
  if (httpThread_.joinable()) httpThread_.join();
  if (ftpThread_.joinable()) ftpThread_.join();
  http_.reset();
  if (ftpSocket_ >= 0) close(ftpSocket_);
}

}  // namespace telvario::cli
