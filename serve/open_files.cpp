#include "open_files.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>

#include "connection_ledger.h"

namespace telvario::serve {
namespace {

// Open files beside the connections served and the refused ones held: the listeners, the log
// and the event loop's own.
constexpr std::uint64_t kOtherFiles = 32;

std::uint64_t FilesFor(std::uint64_t connections) {
  return connections + ConnectionLedger::MostRefusedHeld(connections) + kOtherFiles;
}

}  // namespace

std::string FitOpenFiles(ServeLimits& limits) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return "";
  if (files.rlim_cur != files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &files) != 0) getrlimit(RLIMIT_NOFILE, &files);
  }
  const std::uint64_t most = files.rlim_cur;
  if (files.rlim_cur == RLIM_INFINITY || FilesFor(limits.connections) <= most) return "";
  // The most that fit, found bit by bit from the top: FilesFor grows with its argument.
  std::uint64_t fit = 0;
  for (std::uint64_t step = std::uint64_t{1} << 62; step > 0; step >>= 1) {
    if (FilesFor(fit + step) <= most) fit += step;
  }
  if (fit == 0) throw ServeFailure("this process may open only " + std::to_string(most) + " files");
  limits.connections = fit;
  limits.connectionsPerClient = std::min(limits.connectionsPerClient, fit);
  return "at most " + std::to_string(fit) + " connections at once, as this process may open " +
         std::to_string(most) + " files";
}

}  // namespace telvario::serve
