#include "run_watchdog.h"

namespace telvario::exporter {
namespace {

constexpr std::chrono::milliseconds kLook{20};

}  // namespace

RunWatchdog::RunWatchdog(RunMeasurer& measurer, double seconds, const std::atomic<bool>& stopping) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(seconds));
  thread_ = std::thread([this, &measurer, deadline, &stopping] {
    std::unique_lock<std::mutex> hold(lock_);
    while (!done_) {
      if (std::chrono::steady_clock::now() >= deadline || stopping.load()) measurer.Cancel();
      ended_.wait_for(hold, kLook);
    }
  });
}

RunWatchdog::~RunWatchdog() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    done_ = true;
  }
  ended_.notify_all();
  thread_.join();
}

}  // namespace telvario::exporter
