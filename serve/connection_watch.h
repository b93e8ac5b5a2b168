// The time-outs the library does not keep as asked, kept from each connection's byte counts,
// looked at every second:
// - header: a connection that has been sent nothing for the header time-out, and in that time
//   has sent some bytes but fewer than a slow link would (a head a byte a second, a body
//   dribbled), is dropped; the library's own request time-out bounds a request's head and body
//   together, which an upload on a slow link outlasts.
// - idle: a connection on which nothing has moved either way for the idle time-out is dropped
//   (the library's HTTP/1.1 wait for the next request is its request time-out).
#ifndef TELVARIO_SERVE_CONNECTION_WATCH_H
#define TELVARIO_SERVE_CONNECTION_WATCH_H

#include <cstdint>

namespace telvario::serve {

class ConnectionWatch {
 public:
  ConnectionWatch(std::uint64_t nowMs, std::uint64_t headerMs, std::uint64_t idleMs);

  // Given the connection's bytes read and written so far: whether it is to be dropped.
  bool Expired(std::uint64_t read, std::uint64_t written, std::uint64_t nowMs);

 private:
  std::uint64_t headerMs_;
  std::uint64_t idleMs_;
  std::uint64_t windowStartMs_;
  std::uint64_t windowRead_ = 0;
  std::uint64_t windowWritten_ = 0;
  std::uint64_t lastMovedMs_;
  std::uint64_t lastRead_ = 0;
  std::uint64_t lastWritten_ = 0;
};

}  // namespace telvario::serve

#endif
