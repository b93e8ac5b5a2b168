// What `telvario serve` is told: where it listens, whether with TLS, and the limits that keep one
// client from taking the server from the others. Each limit has a default that serves a
// measurement between two machines; the options change them.
#ifndef TELVARIO_SERVE_SERVE_OPTIONS_H
#define TELVARIO_SERVE_SERVE_OPTIONS_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace telvario::serve {

// Where no --listen is given: every IPv4 address, and every IPv6 one where the system has IPv6.
inline constexpr char kDefaultPort[] = "8080";

struct ServeLimits {
  // Connections held at once, in all and from one client address; beyond either, a
  // connection's requests are answered 503 (in all) or 429 (one client's), with Retry-After.
  std::uint64_t connections = 16384;
  std::uint64_t connectionsPerClient = 256;
  // One upload's body: beyond it the upload is refused with 413. The library reads a body whole
  // before it is answered, so this bounds what one upload holds (in memory, and past 32 MiB in
  // a temporary file).
  std::uint64_t uploadBytes = std::uint64_t{256} << 20;
  // One download's body: it ends there.
  std::uint64_t downloadBytes = std::uint64_t{64} << 30;
  // One request's time: a download ends at it; an HTTP/1.1 upload not done by then (or by the
  // idle time-out, where that is longer) is dropped.
  double requestSeconds = 60;
  // A connection that sends some bytes but fewer than 500 a second, and is sent nothing, for
  // this long is dropped (a head sent a byte at a time; also the TLS handshake's time).
  double headerSeconds = 10;
  // A connection on which nothing moves either way for this long is dropped.
  double idleSeconds = 60;
  // What the server sends and receives, in all, in megabits a second; 0: no cap.
  double bandwidthMbps = 0;
};

struct ServeOptions {
  std::vector<std::string> listen;  // ADDR:PORT each; every address where empty
  std::string tlsCertificate;       // PEM files, or
  std::string tlsKey;
  bool selfSigned = false;  // a certificate made at start, for this run only
  std::string accessLog;    // a file, "-" for standard output, "" for none
  ServeLimits limits;
};

// Options that cannot be served as given: one line, exit status 2.
class ServeUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What stops the server from starting: a port in use, a certificate that cannot be read. One
// line, exit status 1.
class ServeFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace telvario::serve

#endif
