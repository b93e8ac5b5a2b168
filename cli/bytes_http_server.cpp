#include "bytes_http_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace telvario::cli {
namespace {

constexpr int kPollMs = 200;      // how soon a waiting thread sees `stopping`
constexpr int kIdleSeconds = 60;  // a client silent this long is let go
constexpr std::size_t kMaxHead = 65536;
constexpr std::size_t kChunk = std::size_t{1} << 18;

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Waits for the connection to be readable; false when the servers stop or it stays silent.
bool Readable(int fd, const std::atomic<bool>& stopping) {
  for (int waited = 0; !stopping && waited < kIdleSeconds * 1000; waited += kPollMs) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, kPollMs) > 0) return true;
  }
  return false;
}

// The value of a header in a request head, its name given in lower case; "" when absent.
std::string Header(const std::string& head, const char* name) {
  std::string lower(head);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find(std::string("\r\n") + name + ":");
  if (at == std::string::npos) return "";
  const std::size_t from = head.find_first_not_of(' ', at + 3 + std::strlen(name));
  if (from == std::string::npos) return "";
  return head.substr(from, head.find("\r\n", from) - from);
}

class Connection {
 public:
  Connection(int fd, const std::atomic<bool>& stopping)
      : fd_(fd), stopping_(stopping), buffer_(kChunk) {}

  // Answers its requests until it closes, breaks or is let go.
  void Converse() {
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::string head;
    while (ReadHead(&head) && Answer(head) && Header(head, "connection") != "close") {
    }
  }

 private:
  bool Receive() {
    if (!Readable(fd_, stopping_)) return false;
    const ssize_t got = recv(fd_, buffer_.data(), buffer_.size(), 0);
    if (got <= 0) return false;
    pending_.append(buffer_.data(), static_cast<std::size_t>(got));
    return true;
  }

  // One request's head, up to its blank line; what came after it stays pending (a body's start).
  bool ReadHead(std::string* head) {
    std::size_t end;
    while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
      if (pending_.size() > kMaxHead || !Receive()) return false;
    }
    *head = pending_.substr(0, end + 2);
    pending_.erase(0, end + 4);
    return true;
  }

  // Reads and discards a body of `length` bytes, some of which may be pending already.
  bool Discard(unsigned long long length) {
    for (;;) {
      const std::size_t held = std::min<unsigned long long>(length, pending_.size());
      pending_.erase(0, held);
      length -= held;
      if (length == 0) return true;
      if (!Receive()) return false;
    }
  }

  bool SendBytes(unsigned long long size, const std::string& answerHead, bool withBody) {
    // The head and the first bytes together.
    std::string first = answerHead;
    const std::size_t start =
        withBody ? std::min<unsigned long long>(size, kChunk - std::min(kChunk, first.size())) : 0;
    first.append(start, 'x');
    if (!SendAll(fd_, first.data(), first.size())) return false;
    unsigned long long left = withBody ? size - start : 0;
    static const std::vector<char> fill(kChunk, 'x');
    while (left > 0) {
      if (stopping_) return false;
      const std::size_t piece = std::min<unsigned long long>(left, kChunk);
      if (!SendAll(fd_, fill.data(), piece)) return false;
      left -= piece;
    }
    return true;
  }

  bool Answer(const std::string& head) {
    if (head.rfind("POST ", 0) == 0) {
      const unsigned long long length =
          std::strtoull(Header(head, "content-length").c_str(), nullptr, 10);
      if (!Discard(length)) return false;
      const std::string taken = std::to_string(length);
      const std::string answer =
          "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(taken.size()) + "\r\n\r\n" + taken;
      return SendAll(fd_, answer.data(), answer.size());
    }
    const bool get = head.rfind("GET /bytes/", 0) == 0;
    if (get || head.rfind("HEAD /bytes/", 0) == 0) {
      const unsigned long long size = std::strtoull(head.c_str() + (get ? 11 : 12), nullptr, 10);
      return SendBytes(size,
                       "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                       "Content-Length: " +
                           std::to_string(size) + "\r\n\r\n",
                       get);
    }
    const std::string missing = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    return SendAll(fd_, missing.data(), missing.size());
  }

  int fd_;
  const std::atomic<bool>& stopping_;
  std::vector<char> buffer_;
  std::string pending_;
};

// A connection's thread, and whether it has ended (so that it can be joined at once).
struct Served {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
};

void JoinEnded(std::list<Served>& served) {
  for (auto it = served.begin(); it != served.end();) {
    if (*it->ended) {
      it->thread.join();
      it = served.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

void ServeBytes(int listener, const std::atomic<bool>& stopping) {
  std::list<Served> served;
  while (!stopping) {
    JoinEnded(served);
    pollfd ready{listener, POLLIN, 0};
    if (poll(&ready, 1, kPollMs) <= 0) continue;
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Served& one = served.emplace_back();
    try {
      one.thread = std::thread([fd, &stopping, ended = one.ended] {
        Connection(fd, stopping).Converse();
        close(fd);
        *ended = true;
      });
    } catch (const std::system_error&) {
      close(fd);  // no thread to serve it: the client sees the connection end
      served.pop_back();
    }
  }
  for (Served& one : served) one.thread.join();
}

}  // namespace telvario::cli
