// The last scheduled run of each kind and target, as /metrics shows it, and the runs of each
// kind counted since start. Written by the runs' threads; a scrape takes a copy under the same
// short lock.
#ifndef TELVARIO_EXPORTER_RUN_STORE_H
#define TELVARIO_EXPORTER_RUN_STORE_H

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "run_measurer.h"

namespace telvario::exporter {

// The kinds of scheduled run, in the order the page counts them.
inline constexpr const char* kRunKinds[] = {"route", "download", "upload", "responsiveness"};

struct LastRun {
  std::string kind;    // one of kRunKinds
  std::string target;  // a route's host; a URL without its userinfo
  double startedUnix = 0;
  double seconds = 0;
  MeasuredRun measured;
};

struct RunCounts {
  std::string kind;
  std::uint64_t runs = 0;
  std::uint64_t failures = 0;
  double seconds = 0;
};

class RunStore {
 public:
  RunStore();
  void Add(LastRun run);
  // Forgets the last runs of what a new configuration no longer measures, by kind and target.
  void Keep(const std::set<std::pair<std::string, std::string>>& measured);
  std::vector<LastRun> Last() const;
  std::vector<RunCounts> Counts() const;

 private:
  mutable std::mutex mutex_;
  std::vector<LastRun> last_;
  std::vector<RunCounts> counts_;
};

}  // namespace telvario::exporter

#endif
