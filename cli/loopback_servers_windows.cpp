// The client on Windows measures only the targets it is given: there are no network namespaces
// to serve from, and the report's own servers are part of the posix client.
#include "loopback_servers.h"

namespace telvario::cli {

std::string EnterPrivateNetwork() {
  return "this machine's own network";
}

LoopbackServers::LoopbackServers() {
  httpProblem_ = "the report's own servers come with the posix client only";
  ftpProblem_ = httpProblem_;
}

LoopbackServers::~LoopbackServers() = default;

}  // namespace telvario::cli
