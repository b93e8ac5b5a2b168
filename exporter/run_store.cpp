#include "run_store.h"

#include <algorithm>

namespace telvario::exporter {

RunStore::RunStore() {
  for (const char* kind : kRunKinds) counts_.push_back({kind, 0, 0, 0});
}

void RunStore::Add(LastRun run) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (RunCounts& counted : counts_) {
    if (counted.kind != run.kind) continue;
    ++counted.runs;
    if (!run.measured.Succeeded()) ++counted.failures;
    counted.seconds += run.seconds;
  }
  const auto same = std::find_if(last_.begin(), last_.end(), [&](const LastRun& before) {
    return before.kind == run.kind && before.target == run.target;
  });
  if (same != last_.end()) {
    *same = std::move(run);
  } else {
    last_.push_back(std::move(run));
  }
}

void RunStore::Keep(const std::set<std::pair<std::string, std::string>>& measured) {
  const std::lock_guard<std::mutex> lock(mutex_);
  last_.erase(std::remove_if(last_.begin(), last_.end(),
                             [&](const LastRun& run) {
                               return measured.count({run.kind, run.target}) == 0;
                             }),
              last_.end());
}

std::vector<LastRun> RunStore::Last() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

std::vector<RunCounts> RunStore::Counts() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

}  // namespace telvario::exporter
