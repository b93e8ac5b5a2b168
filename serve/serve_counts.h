// What `telvario serve` did, as it says when it stops.
#ifndef TELVARIO_SERVE_SERVE_COUNTS_H
#define TELVARIO_SERVE_SERVE_COUNTS_H

#include <cstdint>

namespace telvario::serve {

struct ServeCounts {
  std::uint64_t connections = 0;  // taken and served
  std::uint64_t refused = 0;      // requests answered 429 or 503
  std::uint64_t downloads = 0;
  std::uint64_t uploads = 0;
  std::uint64_t bytesSent = 0;      // download bodies
  std::uint64_t bytesReceived = 0;  // upload bodies
};

}  // namespace telvario::serve

#endif
